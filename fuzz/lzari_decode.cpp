// LzariDecode over arbitrary streams, held to the plain reference decoder.
//
// Input layout: two bytes of the expected output length (little-endian: at most 64 KiB,
// which keeps the plain reference decoder quick), then the coded stream. The output buffer is
// exactly the expected length, so the sanitizers see any write past it.
#include <cstring>
#include <memory>
#include <vector>

#include "formats/lzari.h"
#include "fuzz_support.h"
#include "support/lzari_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t expected = data[0] | (data[1] << 8);
  // A copy of exactly the stream's length, so that a read past it is seen too.
  std::vector<std::uint8_t> stream(data + 2, data + size);

  auto state = std::make_unique<LzariState>();
  std::vector<std::uint8_t> output(expected, 0xA5);
  const LzariResult result = LzariDecode(stream, output.data(), expected, *state);
  // A stream in memory either decodes or runs out; a length of 0 has nowhere to go.
  const bool expectedResult = expected == 0 ? result == LzariResult::kNoOutput
                                            : result == LzariResult::kDecoded || result == LzariResult::kInputEnded;
  if (!expectedResult) fuzz::Require("result " + std::to_string(static_cast<int>(result)), "LzariDecode");

  // The same stream through the reused state gives the same bytes: nothing carries over.
  std::vector<std::uint8_t> again(expected, 0xA5);
  if (LzariDecode(stream, again.data(), expected, *state) != result || again != output)
    fuzz::Require("a second decode differs", "LzariDecode");

  // The plain decoder agrees on the result and on every byte.
  std::vector<std::uint8_t> reference(expected, 0xA5);
  testutil::ReferenceResult r = testutil::ReferenceLzariDecode(stream, reference.data(), expected);
  if (r.result != result || reference != output)
    fuzz::Require("differs from the reference decoder", "LzariDecode");
  return 0;
}
