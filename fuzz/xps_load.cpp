// CXps::Load over arbitrary bytes (X-Port and SharkPort share the format), then every
// writer over what it loaded.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::LoadAndConvertBytes({data, size}, "xps");
  return 0;
}
