// Writing the compressed formats beside their compressor alone on the same bytes: a
// CodeBreaker file (records, zlib level 9, RC4, the header, a durable write) beside
// compress2 at level 9 of its records, and an ARMAX file (records, LZARI, the CRC, a
// durable write) beside LzariEncode of its payload. Each writer's file is first checked
// to hold exactly the compressor's output, so that both sides compress the same bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

#include "fixtures.h"
#include "formats/cbs/cbs.h"
#include "formats/cbs/cbs_body.h"
#include "formats/lzari.h"
#include "formats/lzari_encode.h"
#include "formats/max/max.h"
#include "formats/psu/psu.h"
#include "formats/registry.h"
#include "model/bytes.h"

namespace {

constexpr std::size_t kSaveBytes = 2 * bench::kMiB;

// The save every benchmark here writes (icon.sys, an icon and a data file, 2 MiB of file
// data in all), loaded once.
const CPsu& Source() {
  static const std::unique_ptr<CPsu> save = [] {
    auto s = std::make_unique<CPsu>();
    s->Load(bench::SavePath("psu", kSaveBytes));
    return s;
  }();
  return *save;
}

// The file a writer makes of the save; empty when it fails.
bench::Bytes WriteOnce(CSaveGame& writer, const std::string& target) {
  if (!Source().entries || writer.WriteConvertedFrom(Source(), target) != LoadResult::kOk) return {};
  return testutil::ReadFile(target);
}

void BM_Write(benchmark::State& state, std::string extension) {
  const std::string target = bench::Scratch().File("written." + extension);
  for (auto _ : state) {
    std::unique_ptr<CSaveGame> writer = CreateForKind(TargetKindForExtension(extension));
    if (!Source().entries || writer->WriteConvertedFrom(Source(), target) != LoadResult::kOk) {
      state.SkipWithError("write failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSaveBytes));
}

void BM_Zlib9Records(benchmark::State& state) {
  CCbs writer;
  const bench::Bytes file = WriteOnce(writer, bench::Scratch().File("check.cbs"));
  bench::Bytes records;
  if (file.size() < cbs::kHeaderSize ||
      cbs::DecodeBody(std::span(file).subspan(cbs::kHeaderSize),
                      bytes::GetU32LE(&file[cbs::kInflatedSizeOffset]), records) != InflateResult::kOk) {
    state.SkipWithError("the CodeBreaker file doesn't decode");
    return;
  }
  const auto body = cbs::EncodeBody(records);
  if (!body || !std::equal(body->begin(), body->end(), file.begin() + cbs::kHeaderSize, file.end())) {
    state.SkipWithError("the writer's body is not zlib level 9 of its records");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(ZlibDeflate(records));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSaveBytes));
}

void BM_LzariPayload(benchmark::State& state) {
  CMax writer;
  const bench::Bytes file = WriteOnce(writer, bench::Scratch().File("check.max"));
  if (file.size() < armax::kHeaderSize) {
    state.SkipWithError("the ARMAX file was not written");
    return;
  }
  bench::Bytes payload(bytes::GetU32LE(&file[armax::kLengthOffset]));
  auto decoder = std::make_unique<LzariState>();
  if (LzariDecode(std::span(file).subspan(armax::kHeaderSize), payload.data(),
                  static_cast<std::uint32_t>(payload.size()), *decoder) != LzariResult::kDecoded) {
    state.SkipWithError("the ARMAX file doesn't decode");
    return;
  }
  auto lz = std::make_unique<LzariEncodeState>();
  bench::Bytes out(lzari::EncodeBound(payload.size()));
  const std::int64_t n = LzariEncode(payload, out, *lz);
  if (n < 0 || !std::equal(out.begin(), out.begin() + n, file.begin() + armax::kLengthOffset, file.end())) {
    state.SkipWithError("the writer's stream is not LzariEncode of its payload");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(LzariEncode(payload, out, *lz));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSaveBytes));
}

}  // namespace

BENCHMARK_CAPTURE(BM_Write, cbs, std::string("cbs"))->Name("write_cbs")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Zlib9Records)->Name("zlib9_records")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Write, max, std::string("max"))->Name("write_max")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LzariPayload)->Name("lzari_encode_payload")->Unit(benchmark::kMillisecond)->UseRealTime();
