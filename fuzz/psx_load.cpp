// CPsx::Load over arbitrary bytes (the 54-byte header and a PS1 save's blocks), then every
// PS1 writer over what it loaded.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::LoadAndConvertBytes({data, size}, "psx");
  return 0;
}
