// The X-Port checksum over a file's data area: the format's one piece of arithmetic, and
// the part of writing an .xps that takes the time.
#pragma once

#include <cstdint>
#include <span>

// The running sum of an X-Port data area. For each byte b in order:
// sum += b << (sum % 24), the shift taken from the sum before the addition, modulo 2^32.
class XpsChecksum {
 public:
  void Add(std::span<const std::uint8_t> bytes);
  std::uint32_t value() const { return sum_; }
  static std::uint32_t Of(std::span<const std::uint8_t> bytes);

 private:
  std::uint32_t sum_ = 0;
};
