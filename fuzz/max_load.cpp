// CMax::Load over arbitrary bytes (ARMAX V3 and PowerSave share the format), then every
// writer over what it loaded. A file whose CRC differs is loaded twice: declined, and
// accepted, so that the payload checks behind the question are reached.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::LoadAndConvertBytes({data, size}, "max");
  return 0;
}
