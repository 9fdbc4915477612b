// Round trips through every writable format with randomly made saves. Each save is built
// as a .psu file and loaded, then, for each writable format, written in it three times
// over (each time from the copy just loaded) and brought back to .psu. Every loaded copy
// holds the same entries as far as the formats on its way carry them, and a file written
// again from its own format's copy comes out byte for byte as before. Then the real saves
// of the corpus, to each format and back.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/psv/psv.h"
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
  out.push_back({image.folder.substr(0, 32), image.rootMode, image.created, image.modified, {},
                 static_cast<std::uint32_t>(image.files.size() + 2)});
  for (const testutil::PsuFile& f : image.files)
    // Names survive whole (32 characters at most), the folder's and the files'.
    out.push_back({f.name.substr(0, 32), f.mode, f.created, f.modified, f.data,
                   static_cast<std::uint32_t>(f.data.size())});
  return out;
}

// What a format does to the entries it carries: names, sizes and data survive all of them.
//  - X-Port keeps the mode's low 16 bits; a file mode whose low bits are 0 comes back as
//    0x8497.
//  - ARMAX keeps no modes and no times: a load gives 0x8427, 0x8497 and the time of the
//    load. It can't hold a file marked as a folder.
//  - A PS3 export takes a mode word whose low 16 bits are 0 as the upper 16 (the form of
//    a PS3 homebrew tool).
//  - .psu and CodeBreaker keep everything the model holds.
struct Carried {
  std::vector<Expected> entries;
  bool timesKnown = true;  // false once ARMAX was on the way

  void Through(int kind) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      std::uint32_t& mode = entries[i].mode;
      if (kind == kKindXps) {
        mode &= 0xFFFF;
        if (i > 0 && mode == 0) mode = EntryMode::kNewFile;
      } else if (kind == kKindMax) {
        mode = i == 0 ? EntryMode::kNewDirectory : EntryMode::kNewFile;
      } else if (kind == kKindPsv && (mode & 0xFFFF) == 0) {
        mode >>= 16;
      }
    }
    if (kind == kKindMax) timesKnown = false;
  }
  // ARMAX refuses a save with a file marked as a folder.
  bool RefusedBy(int kind) const {
    if (kind != kKindMax) return false;
    for (std::size_t i = 1; i < entries.size(); ++i)
      if (EntryMode::IsDirectory(entries[i].mode)) return true;
    return false;
  }
};

void ExpectEntries(const CSaveGame& save, const Carried& carried, const std::string& where) {
  ASSERT_TRUE(save.entries) << where;
  const EntryTable& table = *save.entries;
  ASSERT_EQ(table.size(), carried.entries.size()) << where;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const SaveEntry& e = table[i];
    const Expected& x = carried.entries[i];
    std::string at = where + ", entry " + std::to_string(i);
    EXPECT_EQ(i == 0 ? e.Name() : e.FullName(), x.name) << at;
    EXPECT_EQ(e.mode, x.mode) << at;
    EXPECT_EQ(e.size, x.size) << at;
    if (carried.timesKnown) {
      EXPECT_EQ(e.created, x.created) << at;
      EXPECT_EQ(e.modified, x.modified) << at;
    }
    if (i == 0) continue;
    Bytes data;
    ASSERT_EQ(ReadEntryData(e, save.container.get(), data), DataResult::kOk) << at;
    EXPECT_EQ(data, x.data) << at;
  }
}

class RoundTrip : public ::testing::Test {
 protected:
  // Writes `current` as `kind`, checks the refusal or loads the file back and checks it
  // against what is carried; returns the loaded copy (null when refused) and the bytes.
  std::unique_ptr<CSaveGame> Step(const CSaveGame& current, int kind, Carried& carried,
                                  const std::string& at, Bytes* written = nullptr) {
    const std::string path = dir_.File("step." + std::string(KindName(kind)));
    std::unique_ptr<CSaveGame> writer = CreateForKind(kind);
    const LoadResult r = writer->WriteConvertedFrom(current, path);
    if (carried.RefusedBy(kind)) {
      EXPECT_EQ(r, LoadResult::kInvalid) << at;
      EXPECT_NE(writer->refusal, "") << at;
      return nullptr;
    }
    EXPECT_EQ(r, LoadResult::kOk) << at;
    if (r != LoadResult::kOk) return nullptr;
    if (written) *written = testutil::ReadFile(path);
    std::unique_ptr<CSaveGame> next = CreateForKind(kind);
    EXPECT_EQ(next->Load(path), LoadResult::kOk) << at;
    carried.Through(kind);
    ExpectEntries(*next, carried, at);
    // The title comes from icon.sys where there is one, and every format carries it.
    if (!title_.empty()) {
      EXPECT_EQ(next->entries->front().Title(), title_) << at;
    }
    return next;
  }

  testutil::TempDir dir_{testutil::FastTempBase()};
  std::string title_;
};

TEST_F(RoundTrip, RandomSavesThroughEveryWritableFormat) {
  const std::vector<int> kinds = testutil::WritableKinds();
  ASSERT_EQ(kinds.size(), 5u);
  std::mt19937 rng(1234);
  int refusals = 0;

  for (int round = 0; round < 40; ++round) {
    testutil::PsuImage image = RandomSave(rng);
    const std::string where = "save " + std::to_string(round);
    const std::string start = dir_.File("start.psu");
    testutil::WriteFile(start, image.Build());
    std::unique_ptr<CSaveGame> built = CreateForKind(kKindPsu);
    ASSERT_EQ(built->Load(start), LoadResult::kOk) << where;
    const Carried original{ExpectedEntries(image)};
    ExpectEntries(*built, original, where + ", built");
    const bool titled = !image.files.empty() && image.files.back().name == "icon.sys";
    title_ = titled ? std::string(built->entries->front().Title()) : std::string();

    // Each format alone: written three times, each from the copy loaded last; the second
    // and third files are the same bytes. Then back to .psu.
    for (int kind : kinds) {
      Carried carried = original;
      const std::string at = where + ", " + std::string(KindName(kind));
      std::unique_ptr<CSaveGame> current = Step(*built, kind, carried, at);
      if (!current) {
        refusals += carried.RefusedBy(kind);
        continue;
      }
      Bytes second, third;
      current = Step(*current, kind, carried, at + " again", &second);
      ASSERT_TRUE(current) << at;
      current = Step(*current, kind, carried, at + " a third time", &third);
      ASSERT_TRUE(current) << at;
      EXPECT_EQ(second, third) << at;
      Step(*current, kKindPsu, carried, at + " back to psu");
    }
  }
  // The random modes reach ARMAX's refusal, and also leave saves it takes.
  EXPECT_GT(refusals, 0);
  EXPECT_LT(refusals, 40);
}

// Every real save of the corpus, converted to each writable format and back to its own,
// holds the same files.
TEST_F(RoundTrip, CorpusSavesThroughEveryWritableFormat) {
  const char* names[] = {"psu/a.psu", "psu/d.psu", "psu/e.PSU", "psu/f.psu", "psu/g.psu",
                         "xps/a.xps", "sps/b.sps", "max/a.max", "max/b.max", "max/c.max",
                         "cbs/a.cbs", "cbs/h.cbs", "cbs/i.cbs", "psv/a.psv", "psv/k.psv"};
  int done = 0;
  for (const char* name : names) {
    const std::string path = testutil::CorpusPath(name);
    if (path.empty()) continue;
    std::unique_ptr<CSaveGame> original = CreateForExtension(io::ExtensionOf(path));
    ASSERT_TRUE(original) << name;
    ASSERT_EQ(original->Load(path), LoadResult::kOk) << name;
    const std::vector<Expected> files = [&] {
      std::vector<Expected> out;
      for (const SaveEntry& e : *original->entries) {
        const bool root = &e == &original->entries->front();
        Expected x{std::string(root ? e.Name() : e.FullName()), e.mode, e.created, e.modified, {}, e.size};
        if (!root) {
          EXPECT_EQ(ReadEntryData(e, original->container.get(), x.data), DataResult::kOk) << name;
        }
        out.push_back(std::move(x));
      }
      return out;
    }();
    title_ = std::string(original->entries->front().Title());
    for (int kind : testutil::WritableKinds()) {
      Carried carried{files};
      const std::string at = std::string(name) + " as " + std::string(KindName(kind));
      std::unique_ptr<CSaveGame> converted = Step(*original, kind, carried, at);
      ASSERT_TRUE(converted) << at;
      ASSERT_TRUE(Step(*converted, original->kind, carried, at + " and back")) << at;
    }
    ++done;
  }
  if (done == 0) GTEST_SKIP() << "corpus absent";
}

}  // namespace
