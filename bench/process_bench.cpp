// The command line as people run it: many saves with one `batch` process beside one
// `convert` process per save (a shell loop, one after the other), and the peak memory
// (max RSS) of converting one large save, read from the child's own resource usage.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "card/card.h"
#include "fixtures.h"
#include "formats/psu/psu.h"
#include "io/file.h"

extern char** environ;

namespace {

constexpr std::size_t kSmallSaves = 1000;

struct ChildResult {
  int status = -1;
  long maxRssKiB = 0;
};

// Runs the command line with its output thrown away and waits for it. With
// measureMemory it runs under moravelt-peak-rss, which reports the peak.
ChildResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                       bool measureMemory = false) {
  std::vector<std::string> all{program};
  if (measureMemory) all.insert(all.begin(), MORAVELT_PEAK_RSS_PATH);
  all.insert(all.end(), args.begin(), args.end());
  int pipeFds[2] = {-1, -1};
  if (measureMemory && pipe(pipeFds) != 0) return {};
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (measureMemory) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ChildResult r;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    std::string report;
    if (measureMemory) {
      close(pipeFds[1]);
      char buffer[256];
      ssize_t n;
      while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<std::size_t>(n));
      close(pipeFds[0]);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) == pid) {
      r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      // The helper's line comes last, after whatever the command printed.
      const std::size_t last = report.rfind('\n', report.empty() ? 0 : report.size() - 2);
      const char* line = report.c_str() + (last == std::string::npos ? 0 : last + 1);
      if (measureMemory && r.status == 0 && std::sscanf(line, "%d %ld", &r.status, &r.maxRssKiB) != 2)
        r.status = -1;
    }
  } else if (measureMemory) {
    close(pipeFds[0]);
    close(pipeFds[1]);
  }
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

ChildResult RunCli(const std::vector<std::string>& args, bool measureMemory = false) {
  return RunProgram(MORAVELT_CLI_PATH, args, measureMemory);
}

// A new, empty folder for each repetition; the earlier ones stay until the scratch
// folder goes at the end. Deleting a thousand outputs just before timing the next
// thousand would time the file system instead: without a journal, ext4 passes over
// inodes freed in the last minute (several, while their table blocks are dirty) when it
// looks for a free one, and every create right after a mass deletion pays for that.
std::string FreshFolder(const std::string& name) {
  static int made = 0;
  std::string folder = bench::Scratch().File(name + "-" + std::to_string(++made));
  std::filesystem::create_directories(folder);
  return folder;
}

void BM_Batch(benchmark::State& state) {
  const std::string& inputs = bench::SmallSavesFolder(kSmallSaves);
  for (auto _ : state) {
    std::string out = FreshFolder("batch-out");
    auto start = std::chrono::steady_clock::now();
    ChildResult r = RunCli({"batch", "--to", "xps", "-o", out, inputs});
    auto end = std::chrono::steady_clock::now();
    if (r.status != 0 || bench::FilesIn(out).size() != kSmallSaves) {
      state.SkipWithError("batch failed");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
  }
  state.counters["saves"] = kSmallSaves;
}

void BM_ProcessPerSave(benchmark::State& state) {
  const std::vector<std::string> inputs = bench::FilesIn(bench::SmallSavesFolder(kSmallSaves));
  for (auto _ : state) {
    std::string out = FreshFolder("loop-out");
    auto start = std::chrono::steady_clock::now();
    for (const std::string& in : inputs) {
      std::string target = out + "/" + std::filesystem::path(in).stem().string() + ".xps";
      if (RunCli({"convert", in, target}).status != 0) {
        state.SkipWithError("convert failed");
        return;
      }
    }
    auto end = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
  }
  state.counters["saves"] = kSmallSaves;
}

// Peak resident memory of `moravelt-cli convert` on the 8 MiB save, beside its size.
void BM_PeakMemory(benchmark::State& state, std::string from, std::string to) {
  const std::string& source = bench::SavePath(from, 8 * bench::kMiB);
  const std::string target = bench::Scratch().File("rss." + to);
  long peak = 0;
  for (auto _ : state) {
    ChildResult r = RunCli({"convert", source, target}, /*measureMemory=*/true);
    if (r.status != 0) {
      state.SkipWithError("convert failed");
      return;
    }
    peak = std::max(peak, r.maxRssKiB);
  }
  const double size = static_cast<double>(io::FileSize(source).value_or(1));
  state.counters["peak_rss_MiB"] = static_cast<double>(peak) / 1024.0;
  state.counters["save_MiB"] = size / static_cast<double>(bench::kMiB);
  state.counters["peak_vs_size"] = static_cast<double>(peak) * 1024.0 / size;
  // The file data the save holds, what an ARMAX save keeps in memory once decompressed.
  state.counters["peak_vs_data"] = static_cast<double>(peak) * 1024.0 / static_cast<double>(8 * bench::kMiB);
}

// An 8 MiB card with ECC holding one save of 6 MiB of file data; made on first use.
constexpr std::size_t kCardSaveBytes = 6 * bench::kMiB;
const std::string& BigSaveCard() {
  static const std::string path = [] {
    const std::string p = bench::Scratch().File("big-save.ps2");
    card::FormatOptions options;
    options.overwrite = true;
    if (card::FormatImage(p, options) != card::FormatResult::kFormatted) return std::string();
    auto c = card::OpenCard(p).card;
    CPsu save;
    if (!c || save.Load(bench::SavePath("psu", kCardSaveBytes)) != LoadResult::kOk) return std::string();
    save.SetName(-1, "BENCH-EXPORT");
    return c->Import(save).result == card::ImportResult::kImported ? p : std::string();
  }();
  return path;
}

// Peak resident memory of `moravelt-cli card export` of that save, beside its file data.
void BM_PeakMemoryCardExport(benchmark::State& state, std::string to) {
  if (BigSaveCard().empty()) return state.SkipWithError("no card");
  const std::string out = FreshFolder("card-export");
  long peak = 0;
  for (auto _ : state) {
    ChildResult r = RunCli({"card", "export", BigSaveCard(), "BENCH-EXPORT", "--to", to, "-o", out, "--force"},
                           /*measureMemory=*/true);
    if (r.status != 0) return state.SkipWithError("card export failed");
    peak = std::max(peak, r.maxRssKiB);
  }
  state.counters["peak_rss_MiB"] = static_cast<double>(peak) / 1024.0;
  state.counters["save_MiB"] = static_cast<double>(kCardSaveBytes) / static_cast<double>(bench::kMiB);
  state.counters["peak_vs_data"] = static_cast<double>(peak) * 1024.0 / static_cast<double>(kCardSaveBytes);
}

// What the published program's commands work on for an ARMAX save: its classic file
// (the payload's length, then the save's own stream) and the payload itself, which `d`
// makes of the first. Made once per save.
struct PublishedFiles {
  std::string classic, payload;
};
const PublishedFiles* PublishedFor(const std::string& maxPath) {
  static std::map<std::string, PublishedFiles> made;
  auto it = made.find(maxPath);
  if (it == made.end()) {
    PublishedFiles f;
    const bench::Bytes image = testutil::ReadFile(maxPath);
    if (image.size() >= 92) {
      const bench::Bytes classic(image.begin() + 88, image.end());  // the length at 88, the stream from 92
      const std::string stem = "published-" + std::to_string(made.size());
      f.classic = bench::Scratch().File(stem + ".lzari");
      f.payload = bench::Scratch().File(stem + ".payload");
      testutil::WriteFile(f.classic, classic);
      if (RunProgram(MORAVELT_LZARI_PUBLISHED_PATH, {"d", f.classic, f.payload}).status != 0) f = {};
    }
    it = made.emplace(maxPath, f).first;
  }
  return it->second.classic.empty() ? nullptr : &it->second;
}
const PublishedFiles* Published() { return PublishedFor(bench::SavePath("max", 8 * bench::kMiB)); }

// One process per iteration, timed as a whole; the output goes to a fresh folder.
// `bytes`: the data the process works on, for its rate.
void TimeProcesses(benchmark::State& state, const std::string& program, std::vector<std::string> args,
                   std::size_t bytes = 8 * bench::kMiB) {
  for (auto _ : state) {
    std::vector<std::string> run = args;
    // "OUT" or "OUT.ext": a file of that extension in a fresh folder, never the working one.
    if (!run.empty() && run.back().rfind("OUT", 0) == 0)
      run.back() = FreshFolder("process-out") + "/out" + run.back().substr(3);
    auto start = std::chrono::steady_clock::now();
    const int status = RunProgram(program, run).status;
    auto end = std::chrono::steady_clock::now();
    if (status != 0) {
      state.SkipWithError("the process failed");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

// `info` on the 8 MiB ARMAX save (reading, the CRC and decompressing it all), beside the
// published program's `d` on the same stream.
void BM_InfoMaxProcess(benchmark::State& state) {
  TimeProcesses(state, MORAVELT_CLI_PATH, {"info", bench::SavePath("max", 8 * bench::kMiB)});
}
void BM_PublishedDecodeProcess(benchmark::State& state) {
  const PublishedFiles* f = Published();
  if (!f) return state.SkipWithError("no published files");
  TimeProcesses(state, MORAVELT_LZARI_PUBLISHED_PATH, {"d", f->classic, "OUT"});
}

// The published program's `e` on the payload; its output must be the classic file the
// save's stream came from, byte for byte.
void PublishedEncode(benchmark::State& state, const PublishedFiles* f, std::size_t bytes) {
  if (!f) return state.SkipWithError("no published files");
  const std::string out = bench::Scratch().File("published.check");
  if (RunProgram(MORAVELT_LZARI_PUBLISHED_PATH, {"e", f->payload, out}).status != 0 ||
      testutil::ReadFile(out) != testutil::ReadFile(f->classic))
    return state.SkipWithError("the published encoder's stream differs from the save's");
  TimeProcesses(state, MORAVELT_LZARI_PUBLISHED_PATH, {"e", f->payload, "OUT"}, bytes);
}

// `convert X.psu X.max` on the 8 MiB save beside the published program's `e` on the
// payload that .max holds.
void BM_ConvertPsuMaxProcess(benchmark::State& state) {
  TimeProcesses(state, MORAVELT_CLI_PATH, {"convert", bench::SavePath("psu", 8 * bench::kMiB), "OUT.max"});
}
void BM_PublishedEncodeProcess(benchmark::State& state) { PublishedEncode(state, Published(), 8 * bench::kMiB); }

// The same four processes on a save of each kind of data: icon.sys and one file of it.
const bool kKindRows = [] {
  for (const bench::LzariKind& kind : bench::kLzariKinds) {
    const std::string name = kind.name;
    const bench::LzariKind* k = &kind;
    benchmark::RegisterBenchmark(("process_info_max/" + name).c_str(), [k](benchmark::State& st) {
      TimeProcesses(st, MORAVELT_CLI_PATH, {"info", bench::KindSavePath("max", *k)}, k->bytes);
    })->Unit(benchmark::kMillisecond)->UseManualTime();
    benchmark::RegisterBenchmark(("process_published_d/" + name).c_str(), [k](benchmark::State& st) {
      const PublishedFiles* f = PublishedFor(bench::KindSavePath("max", *k));
      if (!f) return st.SkipWithError("no published files");
      TimeProcesses(st, MORAVELT_LZARI_PUBLISHED_PATH, {"d", f->classic, "OUT"}, k->bytes);
    })->Unit(benchmark::kMillisecond)->UseManualTime();
    benchmark::RegisterBenchmark(("process_convert_psu_max/" + name).c_str(), [k](benchmark::State& st) {
      TimeProcesses(st, MORAVELT_CLI_PATH, {"convert", bench::KindSavePath("psu", *k), "OUT.max"}, k->bytes);
    })->Unit(benchmark::kMillisecond)->UseManualTime();
    benchmark::RegisterBenchmark(("process_published_e/" + name).c_str(), [k](benchmark::State& st) {
      PublishedEncode(st, PublishedFor(bench::KindSavePath("max", *k)), k->bytes);
    })->Unit(benchmark::kMillisecond)->UseManualTime();
  }
  return true;
}();

}  // namespace

BENCHMARK(BM_InfoMaxProcess)->Name("process_info_max")->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_PublishedDecodeProcess)->Name("process_published_d")->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_ConvertPsuMaxProcess)->Name("process_convert_psu_max")->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_PublishedEncodeProcess)->Name("process_published_e")->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_Batch)->Name("batch_1000/batch")->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(3);
BENCHMARK(BM_ProcessPerSave)->Name("batch_1000/process_per_save")->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(3);
BENCHMARK_CAPTURE(BM_PeakMemory, psu_xps, std::string("psu"), std::string("xps"))
    ->Name("peak_rss/convert_psu_to_xps")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_PeakMemory, xps_psu, std::string("xps"), std::string("psu"))
    ->Name("peak_rss/convert_xps_to_psu")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_PeakMemory, max_psu, std::string("max"), std::string("psu"))
    ->Name("peak_rss/convert_max_to_psu")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_PeakMemory, psu_max, std::string("psu"), std::string("max"))
    ->Name("peak_rss/convert_psu_to_max")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_PeakMemory, psu_cbs, std::string("psu"), std::string("cbs"))
    ->Name("peak_rss/convert_psu_to_cbs")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_PeakMemoryCardExport, cbs, std::string("cbs"))
    ->Name("peak_rss/card_export_cbs")->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_PeakMemoryCardExport, psu, std::string("psu"))
    ->Name("peak_rss/card_export_psu")->Unit(benchmark::kMillisecond)->Iterations(1);
