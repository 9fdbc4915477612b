// Data of one kind each, as saves hold it, for the LZARI rows of the bench and the tests
// that hold LzariEncode to the published encoder on the same kinds. Each is drawn from a
// seeded generator with the variety of the real thing, so that the compressor meets as
// many short matches, literals and long matches as it would there; the same seed gives
// the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

// The bench's deterministic generator (splitmix64).
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : x_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (x_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }

 private:
  std::uint64_t x_;
};


// Configuration files (sections of key = value lines) and game logs (time stamps,
// levels, messages with numbers), in files of 2 to 32 KiB.
std::vector<std::uint8_t> TextLinesData(std::size_t n, std::uint64_t seed);
// Tables of records of 6 to 19 fields of 1, 2 or 4 bytes: counters, flags, small and
// larger numbers, values that stay a while; tables of 1 to 32 KiB, each its own layout.
std::vector<std::uint8_t> RecordsData(std::size_t n, std::uint64_t seed);
// Zeros of 4 to 64 KiB and a byte repeated 1 to 16 KiB, short records between them.
std::vector<std::uint8_t> RunsData(std::size_t n, std::uint64_t seed);
// Text and records deflated in pieces of 16 to 256 KiB, as files compressed before
// they were saved.
std::vector<std::uint8_t> CompressedData(std::size_t n, std::uint64_t seed);

}  // namespace bench
