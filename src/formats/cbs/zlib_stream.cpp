#include "formats/cbs/zlib_stream.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <utility>

std::optional<std::vector<std::uint8_t>> ZlibDeflate(std::span<const std::uint8_t> data) {
  if (data.size() > zstream::kMaxInflated) return std::nullopt;
  try {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::vector<std::uint8_t> out(length);
    if (compress2(out.data(), &length, data.data(), static_cast<uLong>(data.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
      return std::nullopt;
    out.resize(length);
    return out;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

struct ZlibDeflater::State {
  z_stream z{};
  bool open = false;
  std::vector<std::uint8_t> out;
};

ZlibDeflater::ZlibDeflater(Sink sink) : state_(std::make_unique<State>()), sink_(std::move(sink)) {
  // compress2's settings: level 9, a 32 KiB window, the default memory level and strategy.
  state_->out.resize(std::size_t{1} << 16);
  ok_ = state_->open = deflateInit(&state_->z, Z_BEST_COMPRESSION) == Z_OK;
}

ZlibDeflater::~ZlibDeflater() {
  if (state_->open) deflateEnd(&state_->z);
}

bool ZlibDeflater::Add(std::span<const std::uint8_t> bytes) { return Run(bytes, Z_NO_FLUSH); }

bool ZlibDeflater::Finish() { return Run({}, Z_FINISH); }

bool ZlibDeflater::Run(std::span<const std::uint8_t> bytes, int flush) {
  z_stream& z = state_->z;
  std::vector<std::uint8_t>& out = state_->out;
  while (ok_) {
    // zlib counts input in uInt: a long piece goes in parts.
    if (z.avail_in == 0 && !bytes.empty()) {
      const std::size_t n = std::min<std::size_t>(UINT_MAX, bytes.size());
      z.next_in = const_cast<Bytef*>(bytes.data());
      z.avail_in = static_cast<uInt>(n);
      bytes = bytes.subspan(n);
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int ret = deflate(&z, bytes.empty() ? flush : Z_NO_FLUSH);
    const std::size_t made = out.size() - z.avail_out;
    if ((ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) ||
        (made > 0 && !sink_(std::span<std::uint8_t>(out.data(), made))))
      ok_ = false;
    if (ret == Z_STREAM_END) break;
    // Without Z_FINISH, done once the input is taken and the output had room to spare.
    if (flush == Z_NO_FLUSH && bytes.empty() && z.avail_in == 0 && z.avail_out != 0) break;
  }
  return ok_;
}

namespace {

// An inflate stream that ends itself.
struct Inflater {
  z_stream z{};
  bool open = false;
  ~Inflater() {
    if (open) inflateEnd(&z);
  }
};

constexpr std::size_t kPiece = std::size_t{1} << 20;

// Runs the stream into `out`, which grows a piece at a time up to `declared` bytes, with one
// spare byte beyond it to notice a stream that holds more.
InflateResult Run(std::span<const std::uint8_t> stream, std::size_t declared, std::vector<std::uint8_t>& out,
                  const InflateWatch& watch) {
  Inflater inf;
  const int init = inflateInit(&inf.z);
  if (init != Z_OK) return init == Z_MEM_ERROR ? InflateResult::kNoMemory : InflateResult::kDamaged;
  inf.open = true;
  z_stream& z = inf.z;
  z.next_out = out.data();
  z.avail_out = 0;
  std::uint8_t spare = 0;
  bool spareGiven = false;
  std::size_t fed = 0;  // bytes of `stream` handed to zlib so far
  for (;;) {
    if (z.avail_in == 0 && fed < stream.size()) {
      // zlib counts input in uInt: a long stream goes in pieces.
      const std::size_t n = std::min<std::size_t>(UINT_MAX, stream.size() - fed);
      z.next_in = const_cast<Bytef*>(stream.data() + fed);
      z.avail_in = static_cast<uInt>(n);
      fed += n;
    }
    if (z.avail_out == 0 && out.size() < declared) {
      if (watch && !out.empty() && !watch(std::span<const std::uint8_t>(out.data(), out.size())))
        return InflateResult::kRefused;
      const std::size_t had = out.size();
      out.resize(had + std::min(kPiece, declared - had));
      z.next_out = out.data() + had;
      z.avail_out = static_cast<uInt>(out.size() - had);
    }
    if (z.avail_out == 0) {
      if (spareGiven) return InflateResult::kTooLong;
      z.next_out = &spare;
      z.avail_out = 1;
      spareGiven = true;
    }
    const int ret = inflate(&z, Z_NO_FLUSH);
    if (ret == Z_STREAM_END) break;
    if (ret == Z_OK) continue;
    if (ret == Z_BUF_ERROR && z.avail_in == 0 && fed == stream.size())
      return InflateResult::kTruncated;
    if (ret == Z_MEM_ERROR) return InflateResult::kNoMemory;
    // zlib has no code of its own for a wrong Adler-32, only this message.
    if (ret == Z_DATA_ERROR && z.msg && std::strcmp(z.msg, "incorrect data check") == 0)
      return InflateResult::kBadCheck;
    return InflateResult::kDamaged;
  }
  if (spareGiven && z.avail_out == 0) return InflateResult::kTooLong;
  if (z.total_out < declared) return InflateResult::kTooShort;
  if (z.avail_in != 0 || fed != stream.size()) return InflateResult::kTrailingData;
  if (watch && !watch(std::span<const std::uint8_t>(out.data(), out.size()))) return InflateResult::kRefused;
  return InflateResult::kOk;
}

}  // namespace

InflateResult ZlibInflate(std::span<const std::uint8_t> stream, std::uint32_t declaredSize,
                          std::vector<std::uint8_t>& out, const InflateWatch& watch) {
  out.clear();
  if (declaredSize > zstream::kMaxInflated) return InflateResult::kOverCap;
  if (declaredSize > zstream::kMaxExpansion * stream.size()) return InflateResult::kImplausible;
  InflateResult result = InflateResult::kNoMemory;
  try {
    result = Run(stream, declaredSize, out, watch);
  } catch (const std::bad_alloc&) {
    result = InflateResult::kNoMemory;
  }
  if (result != InflateResult::kOk) {
    out.clear();
    out.shrink_to_fit();
  }
  return result;
}
