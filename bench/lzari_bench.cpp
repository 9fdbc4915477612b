// LZARI: LzariDecode beside the published algorithm's plain decoder, on the same
// streams, and LzariEncode beside the published encoder, on the same data. Each decoding
// benchmark first checks that its decoder gives back the data the stream was made from,
// byte for byte; each encoding benchmark that its encoder makes the sample's stream
// byte for byte, so that the two encoders are timed making identical output.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>

#include "fixtures.h"
#include "formats/lzari.h"
#include "formats/lzari_encode.h"
#include "lzari_baseline.h"

namespace {

using bench::LzariSample;

bool Ours(const LzariSample& s, bench::Bytes& out, LzariState& state) {
  return LzariDecode(s.coded, out.data(), static_cast<std::uint32_t>(out.size()), state) == LzariResult::kDecoded;
}
bool Baseline(const LzariSample& s, bench::Bytes& out) {
  return bench::BaselineLzariDecode(s.coded, out.data(), static_cast<std::uint32_t>(out.size())) == 1;
}

template <bool kOurs>
void DecodeRow(benchmark::State& state, const LzariSample& s) {
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

// The sample's stream as the classic encoder writes it: the length, then the stream.
bool IsSampleStream(const LzariSample& s, const bench::Bytes& out, std::size_t size) {
  return size == lzari::kLengthFieldSize + s.coded.size() &&
         std::equal(s.coded.begin(), s.coded.end(), out.begin() + lzari::kLengthFieldSize);
}

template <bool kOurs>
void EncodeRow(benchmark::State& state, const LzariSample& s) {
  auto lz = std::make_unique<LzariEncodeState>();
  bench::Bytes out(lzari::EncodeBound(s.plain.size()));
  auto encode = [&]() -> std::size_t {
    if (!kOurs) {
      out = bench::BaselineLzariEncode(s.plain);
      return out.size();
    }
    const std::int64_t n = LzariEncode(s.plain, out, *lz);
    return n < 0 ? 0 : static_cast<std::size_t>(n);
  };
  if (!IsSampleStream(s, out, encode())) {
    state.SkipWithError("encoded output differs from the sample's stream");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(encode());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.plain.size()));
}

template <const LzariSample& (*Sample)(), bool kOurs>
void BM_Lzari(benchmark::State& state) {
  DecodeRow<kOurs>(state, Sample());
}
template <const LzariSample& (*Sample)(), bool kOurs>
void BM_LzariEncode(benchmark::State& state) {
  EncodeRow<kOurs>(state, Sample());
}

// One row of each direction per kind of data, ours and the baseline's.
const bool kKindRows = [] {
  for (const bench::LzariKind& kind : bench::kLzariKinds) {
    const std::string name = kind.name;
    auto sample = [&kind]() -> const LzariSample& { return bench::KindSample(kind); };
    benchmark::RegisterBenchmark(("lzari_encode/" + name).c_str(),
                                 [sample](benchmark::State& st) { EncodeRow<true>(st, sample()); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("lzari_encode_baseline/" + name).c_str(),
                                 [sample](benchmark::State& st) { EncodeRow<false>(st, sample()); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("lzari_decode/" + name).c_str(),
                                 [sample](benchmark::State& st) { DecodeRow<true>(st, sample()); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("lzari_decode_baseline/" + name).c_str(),
                                 [sample](benchmark::State& st) { DecodeRow<false>(st, sample()); })
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace

BENCHMARK(BM_LzariEncode<bench::MixedSample, true>)->Name("lzari_encode/mixed")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzariEncode<bench::MixedSample, false>)->Name("lzari_encode_baseline/mixed")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzariEncode<bench::RandomSample, true>)->Name("lzari_encode/random")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzariEncode<bench::RandomSample, false>)->Name("lzari_encode_baseline/random")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lzari<bench::MixedSample, true>)->Name("lzari_decode/mixed")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lzari<bench::MixedSample, false>)->Name("lzari_decode_baseline/mixed")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lzari<bench::RandomSample, true>)->Name("lzari_decode/random")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lzari<bench::RandomSample, false>)->Name("lzari_decode_baseline/random")->Unit(benchmark::kMillisecond);
