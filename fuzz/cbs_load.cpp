// CCbs::Load over arbitrary bytes, then every writer over what it loaded. The body is
// decrypted and inflated in memory, so the sizes in the header are the interesting part.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::LoadAndConvertBytes({data, size}, "cbs");
  return 0;
}
