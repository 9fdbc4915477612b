// CPsu::Load over arbitrary bytes, then every writer over what it loaded.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::LoadAndConvertBytes({data, size}, "psu");
  return 0;
}
