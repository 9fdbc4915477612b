// What listing the cards of an SD card reads: the 300 per-game cards `sd split` makes of a
// card holding 300 saves of different games (one save each, 8 MB without ECC, as sd2psx
// takes them), listed as sd ls, sd find and card ls list them.
//   sd_scan_bytes_asked: the bytes each listing asked of the files, per card (the io
//     layer's count);
//   sd_ls_kernel_read: the bytes the kernel read from the disk for sd ls, per card, with
//     the cards' pages first dropped from the page cache (each file's own, not the whole
//     system's), from /proc/self/io.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "card/card.h"
#include "fixtures.h"
#include "io/byte_source.h"
#include "io/file.h"
#include "io/output_file.h"
#include "model/save_game.h"
#include "sd/find_cards.h"
#include "sd/split.h"
#include "sd/survey.h"
#include "support/test_util.h"

namespace {

constexpr int kSplitCards = 300;

// The SD card's root, made on first use; empty when it can't be made.
const std::string& SplitRoot() {
  static const std::string root = []() -> std::string {
    // The source card, changed in memory (300 rewrites of a file would take minutes).
    std::vector<std::uint8_t> formatted;
    {
      const std::string blank = bench::Scratch().File("split-source.ps2");
      card::FormatOptions options;
      options.overwrite = true;
      if (card::FormatImage(blank, options) != card::FormatResult::kFormatted) return {};
      formatted = testutil::ReadFile(blank);
    }
    std::unique_ptr<card::Card> source = card::OpenCard(io::MemorySource(std::move(formatted), "source.ps2")).card;
    if (!source) return {};
    const std::string sys = bench::Scratch().File("split-icon.sys");
    const std::string data = bench::Scratch().File("split-DATA");
    testutil::WriteFile(sys, testutil::MakeIconSys("A GAME"));
    testutil::WriteFile(data, bench::MixedData(3000, 9));
    for (int i = 0; i < kSplitCards; ++i) {
      CGeneric save;
      save.AddEntryFromDisk(sys, "icon.sys");
      save.AddEntryFromDisk(data, "DATA");
      save.SetName(-1, "BESLES-" + std::to_string(50000 + i) + "GAME");
      if (source->Import(save).result != card::ImportResult::kImported) return {};
    }
    const std::string root = bench::Scratch().File("split-sd");
    io::SetDeferredFlush(true);
    const sd::SplitReport report = sd::Split(*source, root, {});
    io::SetDeferredFlush(false);
    io::SyncFileSystemOf(root);
    if (!report.Complete() || sd::FindCards(root).cards.size() != kSplitCards) return {};
    return root;
  }();
  return root;
}

std::uint64_t KernelReadBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value)
    if (key == "read_bytes:") return value;
  return 0;
}

// Drops the cards' pages from the page cache: written out first, then let go.
bool DropCards(const std::vector<sd::FoundCard>& cards) {
  for (const sd::FoundCard& c : cards) {
    const int fd = open(c.path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    const bool dropped = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    close(fd);
    if (!dropped) return false;
  }
  return true;
}

enum class Listing { kSdLs, kSdFind, kCardLs };

void List(Listing how, const std::string& root, const std::vector<sd::FoundCard>& cards) {
  switch (how) {
    case Listing::kSdLs:
      benchmark::DoNotOptimize(sd::SurveyCards(root).cards.size());
      break;
    case Listing::kSdFind:
      benchmark::DoNotOptimize(sd::FindSaves(root, "game").saves.size());
      break;
    case Listing::kCardLs:
      for (const sd::FoundCard& c : cards) {
        std::unique_ptr<card::Card> opened = card::OpenCard(c.path).card;
        if (opened) benchmark::DoNotOptimize(opened->List().saves.size());
      }
      break;
  }
}

void BM_ScanBytesAsked(benchmark::State& state, Listing how) {
  if (SplitRoot().empty()) return state.SkipWithError("the split cards can't be made");
  const std::vector<sd::FoundCard> cards = sd::FindCards(SplitRoot()).cards;
  std::uint64_t asked = 0;
  for (auto _ : state) {
    const std::uint64_t before = io::BytesAsked();
    List(how, SplitRoot(), cards);
    asked = io::BytesAsked() - before;
  }
  state.counters["bytes_per_card"] = static_cast<double>(asked) / kSplitCards;
}

void BM_SdLsKernelRead(benchmark::State& state) {
  if (SplitRoot().empty()) return state.SkipWithError("the split cards can't be made");
  const std::vector<sd::FoundCard> cards = sd::FindCards(SplitRoot()).cards;
  std::uint64_t read = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!DropCards(cards)) return state.SkipWithError("the cards can't be dropped from the page cache");
    state.ResumeTiming();
    const std::uint64_t before = KernelReadBytes();
    List(Listing::kSdLs, SplitRoot(), cards);
    read = KernelReadBytes() - before;
  }
  state.counters["bytes_per_card"] = static_cast<double>(read) / kSplitCards;
}

}  // namespace

BENCHMARK_CAPTURE(BM_ScanBytesAsked, sd_ls, Listing::kSdLs)->Name("sd_scan_bytes_asked/sd_ls")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanBytesAsked, sd_find, Listing::kSdFind)->Name("sd_scan_bytes_asked/sd_find")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanBytesAsked, card_ls, Listing::kCardLs)->Name("sd_scan_bytes_asked/card_ls")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SdLsKernelRead)->Name("sd_ls_kernel_read")->Iterations(1)->Unit(benchmark::kMillisecond);
