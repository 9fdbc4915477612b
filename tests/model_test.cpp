// The save model: the container without a format, the table operations every class
// shares, and the rules of where an entry's bytes come from.
#include <gtest/gtest.h>

#include <map>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "model/bytes.h"
#include "model/entry_data.h"
#include "model/float_text.h"
#include "model/save_game.h"
#include "support/test_util.h"

using testutil::Bytes;

namespace {

// A CGeneric save of PC files named f0, f1, ... with distinct contents.
struct GenericFixture {
  testutil::TempDir dir;
  CGeneric save;
  std::vector<Bytes> contents;

  explicit GenericFixture(int files) {
    for (int i = 0; i < files; ++i) {
      std::string name = "f" + std::to_string(i);
      contents.push_back(testutil::MakeBytes(100 + static_cast<std::size_t>(i) * 37, i + 1));
      testutil::WriteFile(dir.File(name), contents.back());
      save.AddEntryFromDisk(dir.File(name), name);
    }
  }
};

}  // namespace

TEST(GenericSave, FirstAddCreatesTheUnnamedRoot) {
  GenericFixture f(1);
  ASSERT_TRUE(f.save.entries);
  const EntryTable& t = *f.save.entries;
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].size, 3u);
  EXPECT_EQ(t[0].Name(), "UNNAMED SAVE");
  EXPECT_EQ(t[0].mode, 0x8427u);
  EXPECT_EQ(t[0].Title(), "");
  EXPECT_EQ(t[1].mode, 0x8497u);
  EXPECT_EQ(t[1].size, 100u);
  EXPECT_EQ(t[1].created, t[1].modified);
  EXPECT_TRUE(t[1].DiskPath());
  EXPECT_EQ(*t[1].DiskPath(), f.dir.File("f0"));
  EXPECT_EQ(t[1].Title(), "");
  EXPECT_EQ(t[1].RawTitle(), "");
  EXPECT_EQ(f.save.kind, kKindGeneric);
}

TEST(GenericSave, UnsupportedOperationsReturnMinusSixAndChangeNothing) {
  GenericFixture f(2);
  testutil::TempDir out;
  EntryTable before = *f.save.entries;
  EXPECT_EQ(f.save.Load(f.dir.File("f0")), LoadResult::kInvalid);
  EXPECT_EQ(f.save.Save(out.File("x.psu")), LoadResult::kInvalid);
  EXPECT_EQ(f.save.WriteConvertedFrom(f.save, out.File("x.psu")), LoadResult::kInvalid);
  EXPECT_EQ(f.save.entries->size(), before.size());
  EXPECT_TRUE(f.save.sourcePath.empty());
  EXPECT_FALSE(std::filesystem::exists(out.path() / "x.psu"));
}

TEST(GenericSave, LongNamesKeepTheirFirst32Characters) {
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("a"), Bytes(3));
  CGeneric save;
  std::string forty(40, 'x');
  for (int i = 0; i < 40; ++i) forty[static_cast<std::size_t>(i)] = static_cast<char>('A' + i % 26);
  save.AddEntryFromDisk(dir.File("a"), forty);
  EXPECT_EQ((*save.entries)[1].Name(), forty.substr(0, 32));
}

TEST(GenericSave, PathsAreNeverCut) {
  testutil::TempDir dir;
  std::string deep = dir.path().string();
  for (int i = 0; i < 6; ++i) {
    deep += "/" + std::string(60, static_cast<char>('a' + i));
    std::filesystem::create_directory(deep);
  }
  std::string file = deep + "/data.bin";
  ASSERT_GT(file.size(), 300u);
  testutil::WriteFile(file, testutil::MakeBytes(10, 3));
  CGeneric save;
  save.AddEntryFromDisk(file, "data.bin");
  ASSERT_TRUE(save.entries);
  EXPECT_EQ(*(*save.entries)[1].DiskPath(), file);
  Bytes got;
  ASSERT_EQ(ReadEntryData((*save.entries)[1], nullptr, got), DataResult::kOk);
  EXPECT_EQ(got, testutil::MakeBytes(10, 3));
}

TEST(GenericSave, UnmeasurableFileChangesNothing) {
  GenericFixture f(1);
  EXPECT_FALSE(f.save.AddEntryFromDisk(f.dir.File("missing"), "missing"));
  EXPECT_EQ(f.save.entries->size(), 2u);
  EXPECT_EQ((*f.save.entries)[0].size, 3u);
  EXPECT_FALSE(f.save.ReplaceEntryFromDisk(f.dir.File("missing"), 1));
  EXPECT_EQ(*(*f.save.entries)[1].DiskPath(), f.dir.File("f0"));
  EXPECT_EQ((*f.save.entries)[1].size, 100u);

  CGeneric empty;
  EXPECT_FALSE(empty.AddEntryFromDisk(f.dir.File("missing"), "missing"));
  EXPECT_FALSE(empty.entries) << "no root for a file that can't be measured";
}

TEST(SaveTable, RemovingTheFirstOfThreeMovesTheOthersDown) {
  GenericFixture f(3);
  EXPECT_EQ((*f.save.entries)[0].size, 5u);
  f.save.RemoveEntry(0);
  const EntryTable& t = *f.save.entries;
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].size, 4u);
  EXPECT_EQ(t[1].Name(), "f1");
  EXPECT_EQ(t[2].Name(), "f2");
  Bytes got;
  ASSERT_EQ(ReadEntryData(t[2], nullptr, got), DataResult::kOk);
  EXPECT_EQ(got, f.contents[2]);
}

TEST(SaveTable, ReplacingAnEntryThatHeldDataFreesItAndKeepsNameModeTimes) {
  GenericFixture f(2);
  SaveEntry& e = (*f.save.entries)[2];
  e.source = InMemory{Bytes{1, 2, 3}};
  e.size = 3;
  e.mode = 0x1234;
  EntryTime created = testutil::MakeTime(2001, 2, 3, 4, 5, 6);
  e.created = created;
  f.save.ReplaceEntryFromDisk(f.dir.File("f0"), 2);
  const SaveEntry& r = (*f.save.entries)[2];
  EXPECT_FALSE(r.Data());
  EXPECT_TRUE(r.DiskPath());
  EXPECT_EQ(r.size, 100u);
  EXPECT_EQ(r.Name(), "f1");
  EXPECT_EQ(r.mode, 0x1234u);
  EXPECT_EQ(r.created, created);
  Bytes got;
  ASSERT_EQ(ReadEntryData(r, nullptr, got), DataResult::kOk);
  EXPECT_EQ(got, f.contents[0]);
}

TEST(SaveTable, SetNameOnTheRootLeavesTheTitles) {
  GenericFixture f(1);
  SaveEntry& root = (*f.save.entries)[0];
  SetField(root.title, "TITLE", 67);
  SetField(root.rawTitle, "RAW", 67);
  f.save.SetName(-1, "NEWFOLDER");
  EXPECT_EQ(root.Name(), "NEWFOLDER");
  EXPECT_EQ(root.Title(), "TITLE");
  EXPECT_EQ(root.RawTitle(), "RAW");
  f.save.SetName(0, "renamed.dat");
  const SaveEntry& file = (*f.save.entries)[1];
  EXPECT_EQ(file.Name(), "renamed.dat");
  EXPECT_EQ(file.Title(), "renamed.dat");
  EXPECT_EQ(file.RawTitle(), "renamed.dat");
}

TEST(SaveTable, ModeAndTimesChangeOneEntry) {
  GenericFixture f(2);
  EntryTime t = testutil::MakeTime(2099, 12, 31, 23, 59, 58);
  t.reserved = 7;  // passes through unchanged
  f.save.SetMode(1, 0xFFFF0000u);
  f.save.SetCreated(-1, t);
  f.save.SetModified(0, t);
  const EntryTable& e = *f.save.entries;
  EXPECT_EQ(e[2].mode, 0xFFFF0000u);
  EXPECT_EQ(e[1].mode, 0x8497u);
  EXPECT_EQ(e[0].created, t);
  EXPECT_EQ(e[1].modified, t);
  EXPECT_NE(e[2].modified, t);
}

TEST(SaveTable, OutOfRangeIndicesChangeNothing) {
  GenericFixture f(1);
  EntryTable before = *f.save.entries;
  f.save.SetName(1, "x");
  f.save.SetName(-2, "x");
  f.save.RemoveEntry(1);
  f.save.RemoveEntry(-1);
  EXPECT_FALSE(f.save.ReplaceEntryFromDisk(f.dir.File("f0"), 0));
  EXPECT_FALSE(f.save.ReplaceEntryFromDisk(f.dir.File("f0"), 2));
  ASSERT_EQ(f.save.entries->size(), before.size());
  EXPECT_EQ((*f.save.entries)[0].Name(), before[0].Name());
  EXPECT_EQ((*f.save.entries)[1].Name(), before[1].Name());
  EXPECT_EQ((*f.save.entries)[0].size, before[0].size);
}

TEST(EntryTimeBytes, RoundTripsTheCardLayout) {
  const std::uint8_t raw[8] = {0x05, 59, 30, 23, 31, 12, 0xD7, 0x07};
  EntryTime t = EntryTime::FromBytes(raw);
  EXPECT_EQ(t.reserved, 5);
  EXPECT_EQ(t.second, 59);
  EXPECT_EQ(t.minute, 30);
  EXPECT_EQ(t.hour, 23);
  EXPECT_EQ(t.day, 31);
  EXPECT_EQ(t.month, 12);
  EXPECT_EQ(t.year, 2007);
  std::uint8_t back[8];
  t.ToBytes(back);
  EXPECT_EQ(0, std::memcmp(raw, back, 8));
}

TEST(EntryDataSource, MemoryThenPcFileThenContainer) {
  testutil::TempDir dir;
  Bytes container = testutil::MakeBytes(64, 9);
  testutil::WriteFile(dir.File("container"), container);
  testutil::WriteFile(dir.File("pc"), testutil::FromString("pc-file-bytes"));

  SaveEntry e;
  e.size = 8;
  e.source = InContainer{16};
  Bytes got;
  ASSERT_EQ(ReadEntryData(e, io::OpenSource(dir.File("container")).get(), got), DataResult::kOk);
  EXPECT_EQ(got, Bytes(container.begin() + 16, container.begin() + 24));

  e.source = FromDisk{dir.File("pc")};
  ASSERT_EQ(ReadEntryData(e, io::OpenSource(dir.File("container")).get(), got), DataResult::kOk);
  EXPECT_EQ(got, testutil::FromString("pc-file-"));

  e.source = InMemory{Bytes{9, 8, 7, 6, 5, 4, 3, 2, 1}};
  ASSERT_EQ(ReadEntryData(e, io::OpenSource(dir.File("container")).get(), got), DataResult::kOk);
  EXPECT_EQ(got, (Bytes{9, 8, 7, 6, 5, 4, 3, 2}));
}

TEST(EntryDataSource, ShortAndMissingSourcesAreReported) {
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("container"), Bytes(20, 1));
  SaveEntry e;
  e.size = 8;
  e.source = InContainer{16};
  Bytes got;
  EXPECT_EQ(ReadEntryData(e, io::OpenSource(dir.File("container")).get(), got), DataResult::kShort);
  EXPECT_EQ(ReadEntryData(e, io::OpenSource(dir.File("absent")).get(), got), DataResult::kOpenFailed);
  e.source = InMemory{Bytes(4)};
  EXPECT_EQ(ReadEntryData(e, io::OpenSource(dir.File("container")).get(), got), DataResult::kShort);
}

// One reader for a save's entries in a row keeps the container open between them: each
// entry must still get exactly its own bytes, whatever order and source comes next.
TEST(EntryDataSource, OneReaderForManyEntriesInAnyOrder) {
  testutil::TempDir dir;
  Bytes container = testutil::MakeBytes(3 * 1024 * 1024, 11);
  Bytes pc = testutil::MakeBytes(5000, 12);
  testutil::WriteFile(dir.File("container"), container);
  testutil::WriteFile(dir.File("pc"), pc);
  testutil::WriteFile(dir.File("short"), Bytes(100, 7));

  struct Step {
    const char* what;
    std::string path;  // the container path handed in
    bool fromDisk;
    std::uint32_t offset, size;
    DataResult result;
    Bytes expected;
    std::vector<Extent> extents = {};  // when given, the bytes are these pieces of the container
  };
  auto slice = [](const Bytes& b, std::size_t at, std::size_t n) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at),
                 b.begin() + static_cast<std::ptrdiff_t>(at + n));
  };
  auto join = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::string c = dir.File("container");
  const Step steps[] = {
      {"small, near the end", c, false, 3000000, 100, DataResult::kOk, slice(container, 3000000, 100)},
      {"earlier: a seek back", c, false, 10, 50, DataResult::kOk, slice(container, 10, 50)},
      {"larger than one piece", c, false, 7, 1500000, DataResult::kOk, slice(container, 7, 1500000)},
      {"a PC file between", c, true, 0, 4000, DataResult::kOk, slice(pc, 0, 4000)},
      {"back to the container", c, false, 2000000, 300, DataResult::kOk, slice(container, 2000000, 300)},
      {"empty", c, false, 5, 0, DataResult::kOk, {}},
      {"another container, cut short", dir.File("short"), false, 50, 60, DataResult::kShort, {}},
      {"the same one, now within it", dir.File("short"), false, 10, 60, DataResult::kOk, Bytes(60, 7)},
      {"missing", dir.File("absent"), false, 0, 1, DataResult::kOpenFailed, {}},
      {"the first again", c, false, 0, 20, DataResult::kOk, slice(container, 0, 20)},
      // A file kept as a chain of clusters: pieces out of order, the last one used in part.
      {"extents, backwards and in part", c, false, 0, 1500, DataResult::kOk,
       join(join(slice(container, 5000, 512), slice(container, 100, 512)), slice(container, 9000, 476)),
       {{5000, 512}, {100, 512}, {9000, 512}}},
      {"extents larger than one piece", c, false, 0, 1200000, DataResult::kOk,
       join(slice(container, 2000000, 1100000), slice(container, 0, 100000)),
       {{2000000, 1100000}, {0, 1048576}}},
      // The pages of a card image with ECC: 512 bytes, then 16 of code; read together.
      {"extents close together, in part", c, false, 0, 1300, DataResult::kOk,
       join(join(slice(container, 600, 512), slice(container, 1128, 512)), slice(container, 1656, 276)),
       {{600, 512}, {1128, 512}, {1656, 512}}},
      {"extents holding too few bytes", c, false, 0, 1025, DataResult::kShort, {},
       {{0, 512}, {1024, 512}}},
      {"an extent past the end", dir.File("short"), false, 0, 150, DataResult::kShort, {},
       {{0, 50}, {90, 100}}},
  };
  EntryDataReader reader;
  std::map<std::string, io::SourcePtr> sources;  // each container opened once, as a save keeps it
  for (const Step& step : steps) {
    if (!sources.count(step.path)) sources[step.path] = io::OpenSource(step.path);
    SaveEntry e;
    e.size = step.size;
    if (step.fromDisk)
      e.source = FromDisk{dir.File("pc")};
    else if (!step.extents.empty())
      e.source = ContainerExtents{step.extents};
    else
      e.source = InContainer{step.offset};
    Bytes got;
    std::size_t largestPiece = 0;
    DataResult r = reader.Copy(e, sources[step.path].get(), [&](std::span<const std::uint8_t> piece) {
      got.insert(got.end(), piece.begin(), piece.end());
      largestPiece = std::max(largestPiece, piece.size());
      return true;
    });
    EXPECT_EQ(r, step.result) << step.what;
    if (step.result == DataResult::kOk) {
      EXPECT_EQ(got, step.expected) << step.what;
    }
    EXPECT_LE(largestPiece, std::size_t{1} << 20) << step.what;
  }
}

// The browser build writes floats with printf where it lacks to_chars: the same text
// either way, so a model or a JSON listing made in the page is the command line's.
TEST(FloatText, PrintfGivesWhatToCharsGives) {
  const float rows[] = {0.3f, 1.0f, -2.5f, 100000.0f, 1e7f, 123456.0f, 1234567.0f, 0.0001f, 0.001f,
                        1e-5f, 1e20f, 3.4028235e38f, 1.17549435e-38f, 1.4e-45f, -0.0f, 0.0f, 16777216.0f};
  for (float v : rows) EXPECT_EQ(model::ShortestTextByPrintf(v), model::ShortestText(v)) << v;
  std::uint32_t bits = 12345;
  for (int i = 0; i < 20000; ++i) {
    bits = bits * 1664525u + 1013904223u;
    const float v = bytes::BitCast<float>(bits);
    if (!std::isfinite(v)) continue;
    ASSERT_EQ(model::ShortestTextByPrintf(v), model::ShortestText(v)) << std::hex << bits;
  }
}
