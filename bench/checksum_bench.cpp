// CRC-32 beside zlib's on the same buffer, and the X-Port sum.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include "fixtures.h"
#include "formats/crc32.h"
#include "formats/xps/xps.h"
#include "support/xps_builder.h"

namespace {

const bench::Bytes& Buffer64M() {
  static const bench::Bytes b = bench::MixedData(64 * bench::kMiB, 3);
  return b;
}

std::uint32_t ZlibCrc(const bench::Bytes& b) {
  return static_cast<std::uint32_t>(
      crc32(crc32(0L, Z_NULL, 0), b.data(), static_cast<uInt>(b.size())));
}

void BM_Crc32(benchmark::State& state) {
  const bench::Bytes& b = Buffer64M();
  if (Crc32(b) != ZlibCrc(b)) {
    state.SkipWithError("CRC-32 differs from zlib's");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(Crc32(b));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * b.size()));
}

void BM_ZlibCrc32(benchmark::State& state) {
  const bench::Bytes& b = Buffer64M();
  for (auto _ : state) benchmark::DoNotOptimize(ZlibCrc(b));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * b.size()));
}

void BM_XpsChecksum(benchmark::State& state) {
  const bench::Bytes& b = Buffer64M();
  if (XpsChecksum::Of(b) != testutil::ReferenceXpsChecksum(b.data(), b.size())) {
    state.SkipWithError("X-Port sum differs from the plain one");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(XpsChecksum::Of(b));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * b.size()));
}

}  // namespace

BENCHMARK(BM_Crc32)->Name("crc32")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCrc32)->Name("crc32_zlib")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XpsChecksum)->Name("xps_checksum")->Unit(benchmark::kMillisecond);
