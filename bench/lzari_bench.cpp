// LZARI decoding: LzariDecode beside the published algorithm's plain decoder, on the
// same streams. Each benchmark first checks that its decoder gives back the data the
// stream was made from, byte for byte.
#include <benchmark/benchmark.h>

#include <memory>

#include "fixtures.h"
#include "formats/lzari.h"
#include "lzari_baseline.h"

namespace {

using bench::LzariSample;

bool Ours(const LzariSample& s, bench::Bytes& out, LzariState& state) {
  return LzariDecode(s.coded, out.data(), static_cast<std::uint32_t>(out.size()), state) == 1;
}
bool Baseline(const LzariSample& s, bench::Bytes& out) {
  return bench::BaselineLzariDecode(s.coded, out.data(), static_cast<std::uint32_t>(out.size())) == 1;
}

template <const LzariSample& (*Sample)(), bool kOurs>
void BM_Lzari(benchmark::State& state) {
  const LzariSample& s = Sample();
  bench::Bytes out(s.plain.size());
  auto lz = std::make_unique<LzariState>();
  bool ok = kOurs ? Ours(s, out, *lz) : Baseline(s, out);
  if (!ok || out != s.plain) {
    state.SkipWithError("decoded output differs from the original data");
    return;
  }
  for (auto _ : state) {
    ok = kOurs ? Ours(s, out, *lz) : Baseline(s, out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.plain.size()));
  state.counters["coded_bytes"] = static_cast<double>(s.coded.size());
}

}  // namespace

BENCHMARK(BM_Lzari<bench::MixedSample, true>)->Name("lzari_decode/mixed")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lzari<bench::MixedSample, false>)->Name("lzari_decode_baseline/mixed")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lzari<bench::RandomSample, true>)->Name("lzari_decode/random")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lzari<bench::RandomSample, false>)->Name("lzari_decode_baseline/random")->Unit(benchmark::kMillisecond);
