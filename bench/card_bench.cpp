// Memory cards, each beside the plain file operation it should stay close to:
//   listing an 8 MiB card        vs reading the whole card file
//   importing one save into it   vs a durable copy of the card file (the rewrite is one)
//   exporting a save to .psu     vs a durable copy of the exported file's bytes
//   the card window opening a full card (50 saves with icons), through the portable
//   window logic and the recording fake platform, with the icons of the rows its list
//   shows at first, vs reading that card file
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "card/card.h"
#include "fixtures.h"
#include "formats/psu/psu.h"
#include "io/file.h"
#ifdef MORAVELT_BENCH_UI
#include "resource.h"
#include "ui/main_window.h"
#include "ui_fake_platform.h"
#endif

namespace {

constexpr std::size_t kImportBytes = 256 * bench::kKiB;
constexpr std::size_t kExportBytes = 4 * bench::kMiB;

// An 8 MiB card with ECC holding a large save and eight small ones; made on first use.
const std::string& CardPath() {
  static const std::string path = [] {
    const std::string p = bench::Scratch().File("card.ps2");
    auto c = bench::NewCard(p);
    auto big = bench::LoadPsu(bench::SavePath("psu", kExportBytes), "BENCH-EXPORT");
    if (!c || !big || c->Import(*big).result != card::ImportResult::kImported) return std::string();
    for (int i = 0; i < 8; ++i) {
      auto small = bench::LoadPsu(bench::SavePath("psu", 100 * bench::kKiB), "BENCH-" + std::to_string(i));
      if (!small || c->Import(*small).result != card::ImportResult::kImported) return std::string();
    }
    return p;
  }();
  return path;
}

std::int64_t CardBytes() { return static_cast<std::int64_t>(io::FileSize(CardPath()).value_or(0)); }

void BM_ReadCardFile(benchmark::State& state, const std::string& (*path)()) {
  std::vector<std::uint8_t> buffer(bench::kMiB);
  if (path().empty()) return state.SkipWithError("no card");
  for (auto _ : state) {
    io::File f = io::File::OpenRead(path());
    std::size_t total = 0, n = 0;
    while ((n = f.Read(buffer.data(), buffer.size())) > 0) total += n;
    if (total == 0) {
      state.SkipWithError("read failed");
      return;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * CardBytes());
}

void BM_ListCard(benchmark::State& state) {
  for (auto _ : state) {
    auto c = card::OpenCard(CardPath()).card;
    if (!c) {
      state.SkipWithError("open failed");
      return;
    }
    card::Listing listing = c->List();
    benchmark::DoNotOptimize(listing.saves.data());
  }
  state.SetBytesProcessed(state.iterations() * CardBytes());
}

void BM_CopyCard(benchmark::State& state) {
  const std::string target = bench::Scratch().File("copied.ps2");
  for (auto _ : state) {
    if (!bench::DurableCopy(CardPath(), target)) {
      state.SkipWithError("copy failed");
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * CardBytes());
}

// Each round opens the card and puts the same save on it again, replacing the last round's.
void BM_ImportSave(benchmark::State& state) {
  const std::string work = bench::Scratch().File("import.ps2");
  auto save = bench::LoadPsu(bench::SavePath("psu", kImportBytes), "BENCH-IMPORT");
  if (!save || !bench::DurableCopy(CardPath(), work)) {
    state.SkipWithError("setup failed");
    return;
  }
  card::ImportOptions options;
  options.replace = true;
  for (auto _ : state) {
    auto c = card::OpenCard(work).card;
    const card::ImportResult r = c ? c->Import(*save, options).result : card::ImportResult::kWriteFailed;
    if (r != card::ImportResult::kImported && r != card::ImportResult::kReplaced) {
      state.SkipWithError("import failed");
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * CardBytes());
}

const std::string& ExportTarget() {
  static const std::string path = bench::Scratch().File("exported.psu");
  return path;
}

void BM_ExportSave(benchmark::State& state) {
  std::int64_t bytes = 0;
  for (auto _ : state) {
    auto c = card::OpenCard(CardPath()).card;
    card::OpenedSave s = c ? c->OpenSave("BENCH-EXPORT") : card::OpenedSave{};
    CPsu writer;
    if (!s.save || writer.WriteConvertedFrom(*s.save, ExportTarget()) != LoadResult::kOk) {
      state.SkipWithError("export failed");
      return;
    }
    bytes = static_cast<std::int64_t>(io::FileSize(ExportTarget()).value_or(0));
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

// The same bytes the export writes, copied durably.
void BM_CopyExportBytes(benchmark::State& state) {
  const std::string source = bench::Scratch().File("export-source.psu");
  {
    auto c = card::OpenCard(CardPath()).card;
    card::OpenedSave s = c ? c->OpenSave("BENCH-EXPORT") : card::OpenedSave{};
    CPsu writer;
    if (!s.save || writer.WriteConvertedFrom(*s.save, source) != LoadResult::kOk) {
      state.SkipWithError("setup failed");
      return;
    }
  }
  const std::string target = bench::Scratch().File("export-copy.psu");
  for (auto _ : state) {
    if (!bench::DurableCopy(source, target)) {
      state.SkipWithError("copy failed");
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(io::FileSize(source).value_or(0)));
}

#ifdef MORAVELT_BENCH_UI
// The rows the dialog program's card list shows at its default size, each with its icon
// (32 px): measured under wine, its list is 221 px high inside, of which the header takes
// 16 and each row 33, so six rows show whole and a seventh in part, and the list asks for
// the icons of all seven.
constexpr std::size_t kRowsShownAtFirst = 7;

// File > Open of the full card in the main window: the card window lists every save and
// draws the icons of the rows its list shows at first, as the dialog program would. The
// window is made once, as the program makes it once; each round opens the card in it
// again, in place of the card the round before opened.
void BM_CardWindowFullCard(benchmark::State& state) {
  if (bench::FullCardPath().empty()) return state.SkipWithError("no card");
  testutil::FakePlatform fake;
  ui::MainWindow window{fake};
  fake.ResetWindow();
  window.OnInit();
  fake.cards.logic = &window.cards();
  fake.cards.shownRows = kRowsShownAtFirst;
  for (auto _ : state) {
    fake.dialogAnswers.push_back(bench::FullCardPath());
    window.OnCommand(IDC_OPEN, 0);
    if (fake.cards.rows.size() != bench::kFullCardSaves) return state.SkipWithError("the card window lists other saves");
    if (window.cards().DrawnIcons() != kRowsShownAtFirst) return state.SkipWithError("other icons were drawn");
    benchmark::DoNotOptimize(fake.cards.icons.data());
  }
}
BENCHMARK(BM_CardWindowFullCard)->Name("card_window_full/8MiB")->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace

BENCHMARK_CAPTURE(BM_ReadCardFile, full, &bench::FullCardPath)->Name("card_read_full_file/8MiB")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ReadCardFile, card, &CardPath)->Name("card_read_file/8MiB")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListCard)->Name("card_list/8MiB")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyCard)->Name("card_copy/8MiB")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImportSave)->Name("card_import/8MiB")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportSave)->Name("card_export")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyExportBytes)->Name("card_copy_export_bytes")->Unit(benchmark::kMillisecond)->UseRealTime();
