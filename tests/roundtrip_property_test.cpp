// Round trips through every writable format with randomly made saves. Each save is built
// as a .psu file and loaded, then written and loaded again in each writable format in
// turn (psu -> xps -> psu -> xps -> psu -> xps; psu -> psu -> psu -> psu with one format).
// Every loaded copy holds the same entries as far as the formats on its way carry them,
// and the second time round every file comes out byte for byte as the first time.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "model/entry_data.h"
#include "support/exercise.h"
#include "support/psu_builder.h"
#include "support/test_util.h"

namespace {

using testutil::Bytes;

// What survives every format on the way: the name cut to 31 characters (the root in every
// format, files in .psu), the mode's low 16 bits once X-Port was on the way (a file mode
// whose low bits are 0 comes back as 0x8497 from X-Port), sizes, times and data.
struct Expected {
  std::string name;
  std::uint32_t mode;
  EntryTime created, modified;
  Bytes data;  // files only
  std::uint32_t size;
};

std::string RandomName(std::mt19937& rng) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_. \x81\x82\xA0\xFE";
  std::size_t length = rng() % 33;  // 0 to 32 characters
  std::string name;
  for (std::size_t i = 0; i < length; ++i) name += alphabet[rng() % alphabet.size()];
  return name;
}

EntryTime RandomTime(std::mt19937& rng) {
  Bytes b(8);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return EntryTime::FromBytes(b.data());
}

testutil::PsuImage RandomSave(std::mt19937& rng) {
  testutil::PsuImage image;
  image.folder = RandomName(rng);
  image.rootMode = static_cast<std::uint32_t>(rng()) | EntryMode::kDirectory;
  image.created = RandomTime(rng);
  image.modified = RandomTime(rng);
  std::size_t files = rng() % 6;
  static const std::size_t kSizes[] = {0, 1, 1023, 1024, 1025};
  for (std::size_t i = 0; i < files; ++i) {
    testutil::PsuFile f;
    f.name = RandomName(rng);
    std::size_t size = rng() % 3 == 0 ? rng() % 5000 : kSizes[rng() % 5];
    f.data = testutil::MakeBytes(size, static_cast<std::uint32_t>(rng()));
    // Every bit of the mode, the Directory flag included, in one file or another.
    f.mode = static_cast<std::uint32_t>(rng());
    f.created = RandomTime(rng);
    f.modified = RandomTime(rng);
    image.files.push_back(f);
  }
  if (rng() % 3 == 0) image.files.push_back({"icon.sys", testutil::MakeIconSys("\x82\x60 ROUND TRIP")});
  return image;
}

std::vector<Expected> ExpectedEntries(const testutil::PsuImage& image) {
  std::vector<Expected> out;
  out.push_back({image.folder.substr(0, 31), image.rootMode, image.created, image.modified, {},
                 static_cast<std::uint32_t>(image.files.size() + 2)});
  for (const testutil::PsuFile& f : image.files)
    // A file's name survives whole (32 characters at most), the folder's as 31.
    out.push_back({f.name.substr(0, 32), f.mode, f.created, f.modified, f.data,
                   static_cast<std::uint32_t>(f.data.size())});
  return out;
}

// The mode as a format that keeps only the low 16 bits gives it back.
std::uint32_t Through16Bits(std::uint32_t mode, bool root) {
  mode &= 0xFFFF;
  return (!root && mode == 0) ? EntryMode::kNewFile : mode;
}

void ExpectEntries(const CSaveGame& save, std::vector<Expected> expected, bool viaXps,
                   const std::string& where) {
  ASSERT_TRUE(save.entries) << where;
  const EntryTable& table = *save.entries;
  ASSERT_EQ(table.size(), expected.size()) << where;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const SaveEntry& e = table[i];
    const Expected& x = expected[i];
    std::string at = where + ", entry " + std::to_string(i);
    EXPECT_EQ(i == 0 ? e.Name() : e.FullName(), x.name) << at;
    EXPECT_EQ(e.mode, viaXps ? Through16Bits(x.mode, i == 0) : x.mode) << at;
    EXPECT_EQ(e.size, x.size) << at;
    EXPECT_EQ(e.created, x.created) << at;
    EXPECT_EQ(e.modified, x.modified) << at;
    if (i == 0) continue;
    Bytes data;
    ASSERT_EQ(ReadEntryData(e, save.sourcePath, data), DataResult::kOk) << at;
    EXPECT_EQ(data, x.data) << at;
  }
}

TEST(RoundTrip, RandomSavesThroughEveryWritableFormat) {
  const std::vector<int> kinds = testutil::WritableKinds();
  ASSERT_FALSE(kinds.empty());
  bool withXps = kinds.size() > 1;
  std::mt19937 rng(1234);
  testutil::TempDir dir(testutil::FastTempBase());

  for (int round = 0; round < 60; ++round) {
    testutil::PsuImage image = RandomSave(rng);
    std::vector<Expected> expected = ExpectedEntries(image);
    std::string where = "save " + std::to_string(round);
    std::string start = dir.File("start.psu");
    testutil::WriteFile(start, image.Build());

    std::unique_ptr<CSaveGame> current = CreateForKind(kKindPsu);
    ASSERT_EQ(current->Load(start), LoadResult::kOk) << where;
    ExpectEntries(*current, expected, false, where + ", built");
    std::string title(current->entries->front().Title());

    // Twice round every writable kind after the first write, starting after .psu when
    // there are two.
    std::vector<Bytes> written;
    bool viaXps = false;
    std::size_t steps = 2 * kinds.size() + 1;
    for (std::size_t step = 0; step < steps; ++step) {
      int kind = kinds[(step + (withXps ? 1 : 0)) % kinds.size()];
      std::string path = dir.File("step" + std::to_string(step) + "." + std::string(KindName(kind)));
      std::string at = where + ", step " + std::to_string(step) + " (" + std::string(KindName(kind)) + ")";
      std::unique_ptr<CSaveGame> writer = CreateForKind(kind);
      ASSERT_EQ(writer->WriteConvertedFrom(*current, path), LoadResult::kOk) << at;
      written.push_back(testutil::ReadFile(path));
      std::unique_ptr<CSaveGame> next = CreateForKind(kind);
      ASSERT_EQ(next->Load(path), LoadResult::kOk) << at;
      viaXps = viaXps || kind == kKindXps;
      ExpectEntries(*next, expected, viaXps, at);
      // The title comes from icon.sys where there is one, and every format carries it.
      if (!image.files.empty() && image.files.back().name == "icon.sys") {
        EXPECT_EQ(next->entries->front().Title(), title) << at;
      }
      current = std::move(next);
    }
    // The second time round writes what the first did.
    std::size_t period = kinds.size();
    // The first file still carries what only the built file had (a 32-character name
    // in a title field); from the second on, each pass writes what the one before did.
    for (std::size_t i = period + 1; i < written.size(); ++i)
      EXPECT_EQ(written[i], written[i - period]) << where << ", step " << i;
  }
}

}  // namespace
