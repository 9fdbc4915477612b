// Loading and converting saves on disk, beside a plain copy of the same file.
//
// Every conversion here is what `moravelt-cli convert` does: load the source, then write
// the target through a temporary file that is flushed to the disk (fsync) and renamed
// over the target, the folder synced after. The plain copy does the same durable steps
// (read in 1 MiB pieces, write, fsync, rename, sync the folder), so the ratio measures
// the program's own work, not the disk's.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>
#include <vector>

#include "fixtures.h"
#include "formats/max/max.h"
#include "formats/psu/psu.h"
#include "formats/xps/xps.h"
#include "io/file.h"

namespace {

constexpr std::size_t k8K = 8 * bench::kKiB;
constexpr std::size_t k8M = 8 * bench::kMiB;

std::unique_ptr<CSaveGame> Make(const std::string& format) {
  if (format == "psu") return std::make_unique<CPsu>();
  if (format == "xps") return std::make_unique<CXps>();
  return std::make_unique<CMax>();
}

void BM_Load(benchmark::State& state, std::string format, std::size_t size) {
  const std::string& path = bench::SavePath(format, size);
  for (auto _ : state) {
    auto save = Make(format);
    if (save->Load(path) != LoadResult::kOk) {
      state.SkipWithError("load failed");
      return;
    }
    benchmark::DoNotOptimize(save->entries);
  }
}

void BM_Convert(benchmark::State& state, std::string from, std::string to) {
  const std::string& source = bench::SavePath(from, k8M);
  const std::string target = bench::Scratch().File("converted." + to);
  for (auto _ : state) {
    auto save = Make(from);
    auto writer = Make(to);
    if (save->Load(source) != LoadResult::kOk || writer->WriteConvertedFrom(*save, target) != LoadResult::kOk) {
      state.SkipWithError("conversion failed");
      return;
    }
  }
  auto size = io::FileSize(source);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size.value_or(0)));
}

void BM_Copy(benchmark::State& state, std::string format) {
  const std::string& source = bench::SavePath(format, k8M);
  const std::string target = bench::Scratch().File("copied." + format);
  for (auto _ : state) {
    if (!bench::DurableCopy(source, target)) {
      state.SkipWithError("copy failed");
      return;
    }
  }
  auto size = io::FileSize(source);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size.value_or(0)));
}

}  // namespace

BENCHMARK_CAPTURE(BM_Load, psu_8k, std::string("psu"), k8K)->Name("load_psu/8KiB")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Load, psu_8m, std::string("psu"), k8M)->Name("load_psu/8MiB")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Load, xps_8k, std::string("xps"), k8K)->Name("load_xps/8KiB")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Load, xps_8m, std::string("xps"), k8M)->Name("load_xps/8MiB")->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_CAPTURE(BM_Convert, psu_xps, std::string("psu"), std::string("xps"))
    ->Name("convert_psu_to_xps")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Copy, psu, std::string("psu"))->Name("copy_psu")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Convert, xps_psu, std::string("xps"), std::string("psu"))
    ->Name("convert_xps_to_psu")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Copy, xps, std::string("xps"))->Name("copy_xps")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Convert, max_psu, std::string("max"), std::string("psu"))
    ->Name("convert_max_to_psu")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Copy, max, std::string("max"))->Name("copy_max")->Unit(benchmark::kMillisecond)->UseRealTime();
