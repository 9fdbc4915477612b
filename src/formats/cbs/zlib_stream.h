// zlib streams (RFC 1950: a two-byte header, deflate data, the Adler-32 of the data) for
// CodeBreaker bodies, made and read by the zlib library.
//
// A reader is told the decompressed size by the container's header, so inflating is
// strict about it: the size is checked against a fixed cap and against what the stream
// could possibly hold before any memory is taken, and the stream must produce exactly
// that many bytes, end there with a good Adler-32, and be followed by nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace zstream {
// The largest decompressed size accepted (as for ARMAX: a memory card holds 8 MiB).
inline constexpr std::uint32_t kMaxInflated = 64u << 20;
// Deflate cannot expand past 1032 bytes per input byte (a 258-byte match in two bits),
// so a stream of n bytes never inflates to more than this many.
inline constexpr std::uint64_t kMaxExpansion = 1032;
}  // namespace zstream

enum class InflateResult {
  kOk,
  kOverCap,       // the declared size is over kMaxInflated
  kImplausible,   // the declared size is more than a stream this short can hold
  kTruncated,     // the input ended inside the stream
  kTooShort,      // the stream ended before the declared size
  kTooLong,       // the stream holds more than the declared size
  kDamaged,       // not a zlib stream, or its deflate data is invalid
  kBadCheck,      // the data inflated in full but its Adler-32 differs
  kTrailingData,  // bytes follow the end of the stream
  kNoMemory,
  kRefused,       // the caller's watch refused the bytes inflated so far
};

// Sees the bytes inflated so far (all of them, from the first) after each piece of about
// 1 MiB; false stops inflating. It lets a reader refuse a stream by what it holds without
// inflating the rest of it.
using InflateWatch = std::function<bool(std::span<const std::uint8_t> soFar)>;

// The zlib stream of `data` at level 9, byte for byte what compress2 makes. None when
// `data` is longer than zstream::kMaxInflated (no reader would take it back) or zlib fails.
std::optional<std::vector<std::uint8_t>> ZlibDeflate(std::span<const std::uint8_t> data);

// A zlib stream at level 9 made piece by piece: the output of all the pieces together is
// byte for byte what ZlibDeflate makes of their bytes at once, and only zlib's own state
// and one output buffer are held, never the whole input or output.
class ZlibDeflater {
 public:
  // Receives the stream's bytes in order; false stops the deflater.
  using Sink = std::function<bool(std::span<std::uint8_t>)>;
  explicit ZlibDeflater(Sink sink);
  ~ZlibDeflater();
  ZlibDeflater(const ZlibDeflater&) = delete;
  ZlibDeflater& operator=(const ZlibDeflater&) = delete;

  // Each false once zlib or the sink failed (sticky); Finish ends the stream.
  bool Add(std::span<const std::uint8_t> bytes);
  bool Finish();

 private:
  bool Run(std::span<const std::uint8_t> bytes, int flush);

  struct State;
  std::unique_ptr<State> state_;
  Sink sink_;
  bool ok_ = false;
};

// Inflates the whole of `stream`, which must decompress to exactly `declaredSize` bytes.
// On kOk `out` holds them; otherwise `out` is empty. Memory is taken as the bytes arrive,
// so a stream refused early (by `watch`, or for ending short) costs little of what it
// declares.
InflateResult ZlibInflate(std::span<const std::uint8_t> stream, std::uint32_t declaredSize,
                          std::vector<std::uint8_t>& out, const InflateWatch& watch = {});
