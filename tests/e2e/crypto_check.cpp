// Runs the crypto known-answer vectors through src/io's interface in the Windows build,
// where CNG answers them, and makes and reads back one zlib stream with the static zlib
// linked in. scripts/e2e runs it under wine. Prints each mismatch; the exit status is the
// 1 when there is any, else 0.
#include <cstdio>
#include <string>
#include <vector>

#include "formats/cbs/zlib_stream.h"
#include "support/crypto_vectors.h"

int main() {
  int checks = 0;
  std::vector<std::string> failures = crypto_vectors::RunAll(checks);

  // compress2 at level 9 of "abc", as zlib makes it everywhere.
  const std::vector<std::uint8_t> abc = {'a', 'b', 'c'};
  const std::vector<std::uint8_t> want = {0x78, 0xDA, 0x4B, 0x4C, 0x4A, 0x06,
                                          0x00, 0x02, 0x4D, 0x01, 0x27};
  ++checks;
  const auto stream = ZlibDeflate(abc);
  std::vector<std::uint8_t> back;
  if (!stream || *stream != want || ZlibInflate(*stream, 3, back) != InflateResult::kOk ||
      back != abc)
    failures.push_back("zlib: level 9 stream of \"abc\" or its inflation differs");

  for (const std::string& f : failures) std::printf("FAIL %s\n", f.c_str());
  std::printf("crypto check: %d checks, %zu failed\n", checks, failures.size());
  return failures.empty() ? 0 : 1;
}
