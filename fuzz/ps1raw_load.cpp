// CPs1Raw::Load over arbitrary bytes (a PS1 save's blocks with no header: the family of
// files without an extension), then every PS1 writer over what it loaded.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::LoadAndConvertBytes({data, size}, "");
  return 0;
}
