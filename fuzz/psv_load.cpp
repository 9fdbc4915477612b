// CPsv::Load over arbitrary bytes, then every writer over what it loaded. Almost every
// changed file fails its signature, so each is loaded twice: declined, and accepted, so
// that the records behind the question are reached.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::LoadAndConvertBytes({data, size}, "psv");
  return 0;
}
