// Little- and big-endian field access for the container formats, and a bounded
// reader over a byte buffer whose failure is sticky: a run of reads is checked once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace bytes {

// std::bit_cast, which the browser build's C++ library lacks.
template <class To, class From>
constexpr To BitCast(const From& from) noexcept {
  static_assert(sizeof(To) == sizeof(From));
  return __builtin_bit_cast(To, from);
}

inline std::uint16_t GetU16LE(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32LE(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint16_t GetU16BE(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline void PutU16LE(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32LE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void PutU16BE(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

// Reads fields in order from a buffer. Any read that would pass the end clears ok()
// for good and yields zeros, so callers test ok() once after a run of reads.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

  bool ok() const { return ok_; }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return data_.size() - pos_; }

  // A pointer to the next n bytes, or nullptr (and !ok()) when fewer are left.
  const std::uint8_t* Need(std::size_t n) {
    if (!ok_ || n > remaining()) {
      ok_ = false;
      return nullptr;
    }
    const std::uint8_t* p = data_.data() + pos_;
    pos_ += n;
    return p;
  }
  std::uint32_t U32LE() {
    const std::uint8_t* p = Need(4);
    return p ? GetU32LE(p) : 0;
  }
  bool Copy(void* out, std::size_t n) {
    const std::uint8_t* p = Need(n);
    if (p) std::memcpy(out, p, n);
    return p != nullptr;
  }
  bool Skip(std::size_t n) { return Need(n) != nullptr || n == 0; }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace bytes
