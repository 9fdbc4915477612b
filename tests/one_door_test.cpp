// Everything opens through one door: a command opens the file it names at most twice, and
// every real file gives the same results read from memory as read from its path.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>

#include "card/card.h"
#include "card/identify.h"
#include "card/kinds.h"
#include "card/ps1/ps1_card.h"
#include "cli/cli.h"
#include "formats/ps1/ps1_save.h"
#include "formats/registry.h"
#include "io/file.h"
#include "io/output_file.h"
#include "model/entry_data.h"
#include "support/ps1_builder.h"
#include "support/psu_builder.h"
#include "support/test_util.h"

namespace {

using testutil::Bytes;

std::mutex openedLock;
std::map<std::string, int> opened;

void CountOpen(const std::string& path) {
  std::lock_guard<std::mutex> guard(openedLock);
  ++opened[path];
}

// Runs the command in this process and gives how often it opened each file for reading.
std::map<std::string, int> OpensOf(const std::vector<std::string>& args) {
  opened.clear();
  io::SetOpenProbe(&CountOpen);
  std::ostringstream out, err;
  cli::Run(args, out, err);
  io::SetOpenProbe(nullptr);
  return opened;
}

TEST(OneDoor, EveryCommandOpensItsFileAtMostTwice) {
  testutil::TempDir dir;
  const std::string save = dir.File("game.psu"), card = dir.File("Mc.ps2"), ps1 = dir.File("epsxe.mcr");
  testutil::PsuImage image;
  image.folder = "BESLES-00000DEMO";
  image.files = {{"DATA", Bytes(3000, 7)}};
  testutil::WriteFile(save, image.Build());
  std::ostringstream out, err;
  ASSERT_EQ(cli::Run({"card", "format", card}, out, err), 0) << err.str();
  ASSERT_EQ(cli::Run({"card", "format", "--ps1", ps1}, out, err), 0) << err.str();
  testutil::WriteFile(dir.File("ps1.mcs"), testutil::MakePs1File("mcs", "BESLES-00001A", testutil::MakePs1Blocks(1)));
  const struct {
    std::vector<std::string> args;
    std::string file;  // the file counted
  } rows[] = {
      {{"info", save}, save},
      {{"convert", save, dir.File("g.xps")}, save},
      {{"set-mode", save, "0x8427"}, save},
      {{"card", "import", card, save}, card},
      {{"card", "import", card, save}, save},
      {{"card", "ls", card}, card},
      {{"card", "check", card}, card},
      {{"card", "export", card, "BESLES-00000DEMO", "-o", dir.File("out")}, card},
      {{"info", card + ":BESLES-00000DEMO"}, card},
      {{"card", "convert", card, dir.File("raw.bin")}, card},
      {{"card", "rm", card, "BESLES-00000DEMO"}, card},
      {{"card", "import", ps1, dir.File("ps1.mcs")}, ps1},
      {{"card", "ls", ps1}, ps1},
      {{"card", "rm", ps1, "BESLES-00001A"}, ps1},
      {{"card", "restore", ps1, "BESLES-00001A"}, ps1},
  };
  for (const auto& r : rows) {
    std::string line;
    for (const std::string& a : r.args) line += a + " ";
    const int opens = OpensOf(r.args)[r.file];
    EXPECT_GE(opens, 1) << line;
    EXPECT_LE(opens, 2) << line;
  }
}

// Everything a save's table and data hold, as text to compare.
std::string Describe(const CSaveGame& save) {
  std::string text;
  if (!save.entries) return "no table";
  for (const SaveEntry& e : *save.entries) {
    Bytes data;
    const bool read = e.mode & EntryMode::kDirectory ? true : ReadEntryData(e, save.container.get(), data) == DataResult::kOk;
    text += std::string(e.Name()) + "|" + std::string(e.Title()) + "|" + std::string(e.RawTitle()) + "|" +
            std::to_string(e.mode) + "|" + std::to_string(e.size) + "|" + std::to_string(e.modified.year) + "|" +
            (read ? std::to_string(std::hash<std::string>()(std::string(data.begin(), data.end()))) : "unread") + "\n";
  }
  return text;
}

// The save written as every family that holds it, to memory.
std::vector<Bytes> WrittenAsEveryFamily(const CSaveGame& save) {
  std::vector<Bytes> written;
  for (const FormatFamily& f : Families()) {
    if (!f.Can(kWritesConversions) || !Holds(f, PlayStationOf(save))) continue;
    io::MemorySink out(std::string("out.") + std::string(f.OwnExtension()));
    const LoadResult r = f.create()->WriteConvertedFrom(save, out);
    written.push_back(r == LoadResult::kOk ? *out.bytes() : Bytes{static_cast<std::uint8_t>(ResultCode(r) + 16)});
  }
  return written;
}

std::string Listed(const card::Card& c) {
  std::string text;
  for (const card::SaveInfo& s : c.List().saves)
    text += s.folder + "|" + s.title + "|" + std::to_string(s.sizeKB) + "|" + std::to_string(s.readable) + "|" +
            std::to_string(s.deleted) + "|" + s.damage + "\n";
  for (const card::Issue& i : c.Check()) text += i.where + ": " + i.message + "\n";
  return text;
}

// A card's results of the commands that read and change it, the same way each time: each
// readable save written as every family; a save imported, every save removed and, on a
// PS1 card, restored; the bytes of the card after each change.
std::vector<std::string> CardResults(card::Card& c) {
  std::vector<std::string> results{Listed(c)};
  auto bytes = [&c] {
    const Bytes b = io::ReadAll(*c.source(), std::uint64_t{1} << 30).value_or(Bytes{});
    return std::to_string(b.size()) + ":" + std::to_string(std::hash<std::string>()(std::string(b.begin(), b.end())));
  };
  std::vector<std::string> folders;
  for (const card::SaveInfo& s : c.List().saves) {
    if (s.deleted) continue;
    folders.push_back(s.folder);
    card::OpenedSave opened = c.OpenSave(s.folder);
    results.push_back(s.folder + " opens " + std::to_string(static_cast<int>(opened.result)));
    if (!opened.save) continue;
    results.push_back(Describe(*opened.save));
    for (const Bytes& w : WrittenAsEveryFamily(*opened.save)) results.push_back(std::to_string(std::hash<std::string>()(std::string(w.begin(), w.end()))));
  }
  card::ImportOptions at;
  at.now = testutil::MakeTime(2026, 12, 11, 12, 0, 0);
  const bool ps1 = card::IsPs1(c.type());
  std::unique_ptr<CSaveGame> save;
  if (ps1) {
    auto p = std::make_unique<CPs1Save>();
    p->Assign("BESLES-09999ONE", 8192, InMemory{testutil::MakePs1Blocks(1)}, nullptr, std::nullopt);
    save = std::move(p);
  } else {
    auto g = std::make_unique<CGeneric>();
    g->entries = EntryTable(2);
    (*g->entries)[0].mode = EntryMode::kNewDirectory;
    (*g->entries)[0].size = 3;
    SetField((*g->entries)[0].name, "BESLES-09999ONE", kNameChars);
    (*g->entries)[1].mode = EntryMode::kNewFile;
    (*g->entries)[1].size = 1000;
    SetField((*g->entries)[1].name, "DATA", kNameChars);
    (*g->entries)[1].source = InMemory{Bytes(1000, 3)};
    save = std::move(g);
  }
  results.push_back("import " + std::to_string(static_cast<int>(c.Import(*save, at).result)) + " " + bytes());
  for (const std::string& folder : folders) {
    results.push_back("rm " + folder + " " + std::to_string(static_cast<int>(c.Remove(folder))) + " " + bytes());
    if (ps1) results.push_back("restore " + std::to_string(static_cast<int>(c.Restore(folder))) + " " + bytes());
  }
  results.push_back(Listed(c));
  return results;
}

// Every corpus file, opened from its path and from its bytes in memory, through every
// command the library offers, gives the same results. A card read from its path is
// changed in a copy of the file.
TEST(OneDoor, EveryCorpusFileGivesTheSameResultsFromMemoryAsFromItsPath) {
  const std::string corpus = MORAVELT_CORPUS_DIR;
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "corpus absent";
  testutil::TempDir dir;
  int files = 0;
  for (const auto& item : std::filesystem::recursive_directory_iterator(corpus)) {
    const std::string name = item.path().filename().string();
    if (!item.is_regular_file() || name == "README.md" || name == "PROVENANCE.tsv") continue;
    ++files;
    SCOPED_TRACE(item.path().string());
    const std::string copy = dir.File(name);
    std::filesystem::copy_file(item.path(), copy, std::filesystem::copy_options::overwrite_existing);
    const Bytes bytes = testutil::ReadFile(copy);
    card::Identified fromPath = card::Identify(copy);
    card::Identified fromMemory = card::Identify(io::MemorySource(bytes, name));
    ASSERT_EQ(fromPath.family, fromMemory.family);
    ASSERT_EQ(fromPath.card, fromMemory.card);
    ASSERT_EQ(fromPath.unknown, fromMemory.unknown);
    if (!fromPath.Known()) continue;  // an icon.sys, a file of neither kind
    if (fromPath.family) {
      const auto yes = [](const LoadQuestion&) { return true; };
      std::unique_ptr<CSaveGame> a = fromPath.family->create(), b = fromMemory.family->create();
      const LoadResult ra = LoadWithAnswers(*a, fromPath.source, yes);
      const LoadResult rb = LoadWithAnswers(*b, fromMemory.source, yes);
      ASSERT_EQ(ra, rb);
      if (ra != LoadResult::kOk) continue;
      EXPECT_EQ(Describe(*a), Describe(*b));
      EXPECT_EQ(WrittenAsEveryFamily(*a), WrittenAsEveryFamily(*b));
      io::MemorySink ownA, ownB;
      EXPECT_EQ(a->Save(ownA), b->Save(ownB));
      EXPECT_EQ(ownA.bytes() ? *ownA.bytes() : Bytes{}, ownB.bytes() ? *ownB.bytes() : Bytes{});
      continue;
    }
    card::OpenedCard a = card::OpenCard(*fromPath.card, fromPath.source, copy);
    card::OpenedCard b = card::OpenCard(*fromMemory.card, fromMemory.source, "");
    ASSERT_EQ(a.card != nullptr, b.card != nullptr);
    ASSERT_EQ(a.issues.size(), b.issues.size());
    if (!a.card) continue;
    EXPECT_EQ(CardResults(*a.card), CardResults(*b.card));
    // What was written to the file is what the card in memory became.
    EXPECT_EQ(testutil::ReadFile(copy), io::ReadAll(*b.card->source(), std::uint64_t{1} << 30).value_or(Bytes{}));
    // Converted, to the other layout or kind, in memory both ways.
    io::MemorySink convertedA, convertedB;
    if (b.card->type() == card::CardType::kImageWithEcc || b.card->type() == card::CardType::kRawImage) {
      const bool ecc = b.card->type() == card::CardType::kRawImage;
      EXPECT_EQ(card::ConvertImage(io::OpenSource(copy), convertedA, ecc), card::ConvertImage(b.card->source(), convertedB, ecc));
    } else if (card::IsPs1(b.card->type())) {
      EXPECT_EQ(card::ConvertPs1Card(*io::OpenSource(copy), convertedA, card::Ps1FileKind::kVmp),
                card::ConvertPs1Card(*b.card->source(), convertedB, card::Ps1FileKind::kVmp));
    }
    EXPECT_EQ(convertedA.bytes() ? *convertedA.bytes() : Bytes{}, convertedB.bytes() ? *convertedB.bytes() : Bytes{});
  }
  EXPECT_GT(files, 0);
}

}  // namespace
