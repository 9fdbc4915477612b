// Memory Linker files: loading, editing with the headers kept in step, writing back,
// converting, saving in place, and the real files in the corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "formats/psu/psu.h"
#include "model/bytes.h"
#include "model/entry_data.h"
#include "support/psu_builder.h"
#include "support/test_util.h"

using testutil::Bytes;
using testutil::PsuFile;
using testutil::PsuImage;

namespace {

PsuImage ThreeFiles() {
  PsuImage img;
  img.files = {{"icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61 save")},
               {"data0", testutil::MakeBytes(1000, 1)},
               {"data1", testutil::MakeBytes(1025, 2)}};
  return img;
}

// Writes the image and loads it.
struct Loaded {
  testutil::TempDir dir;
  std::string path;
  CPsu save;
  LoadResult result;

  explicit Loaded(const Bytes& image, const std::string& name = "save.psu")
      : path(dir.File(name)) {
    testutil::WriteFile(path, image);
    result = save.Load(path);
  }
};

Bytes EntryBytes(const CSaveGame& save, int position) {
  Bytes out;
  EXPECT_EQ(ReadEntryData((*save.entries)[static_cast<std::size_t>(position)], save.container.get(), out),
            DataResult::kOk);
  return out;
}

// The files of a .psu as (name, bytes) pairs, read by a fresh object.
std::vector<std::pair<std::string, Bytes>> FilesOf(const std::string& path) {
  CPsu save;
  EXPECT_EQ(save.Load(path), LoadResult::kOk) << path;
  std::vector<std::pair<std::string, Bytes>> out;
  for (int i = 1; i <= save.FileCount(); ++i)
    out.emplace_back(std::string((*save.entries)[static_cast<std::size_t>(i)].Name()),
                     EntryBytes(save, i));
  return out;
}

// A .psu image with every padding byte replaced by 0xFF, so that files padded with
// zeros compare with what this program writes.
Bytes WithFFPadding(const Bytes& image) {
  Bytes out = image;
  std::uint32_t count = bytes::GetU32LE(&out[4]);
  std::size_t pos = 512;
  for (std::uint32_t k = 0; k < count; ++k) {
    std::uint32_t mode = bytes::GetU32LE(&out[pos]);
    std::uint32_t size = bytes::GetU32LE(&out[pos + 4]);
    pos += 512;
    if (mode & 0x20) continue;
    pos += size;
    std::size_t pad = psu::PaddingFor(size);
    for (std::size_t i = 0; i < pad && pos + i < out.size(); ++i) out[pos + i] = 0xFF;
    pos += pad;
  }
  return out;
}

}  // namespace

TEST(PsuLoad, BuildsTheTableFromTheHeaders) {
  Loaded l(ThreeFiles().Build());
  ASSERT_EQ(l.result, LoadResult::kOk);
  const EntryTable& t = *l.save.entries;
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].size, 5u);
  EXPECT_EQ(t[0].mode, 0x8427u);
  EXPECT_EQ(t[0].Name(), "BESLES-12345SAVE");
  EXPECT_EQ(t[0].created, testutil::MakeTime(2006, 1, 2, 3, 4, 5));
  EXPECT_EQ(t[0].RawTitle(), "\x82\x60\x82\x61 save");
  EXPECT_EQ(t[0].Title(), "AB save");
  EXPECT_EQ(t[1].DataOffset(), 4u * 512);
  EXPECT_EQ(t[2].DataOffset(), 5u * 512 + 1024);
  EXPECT_EQ(t[3].DataOffset(), 6u * 512 + 1024 + 1024);
  EXPECT_EQ(t[3].size, 1025u);
  EXPECT_EQ(t[3].modified, testutil::MakeTime(2008, 9, 10, 11, 12, 13));
  EXPECT_EQ(l.save.headers.size(), 6u);
  EXPECT_EQ(l.save.sourcePath, l.path);
  EXPECT_EQ(EntryBytes(l.save, 3), testutil::MakeBytes(1025, 2));
}

TEST(PsuLoad, WithoutIconSysTheTitleIsTheFolderName) {
  PsuImage img;
  img.files = {{"data", Bytes(10)}};
  Loaded l(img.Build());
  ASSERT_EQ(l.result, LoadResult::kOk);
  EXPECT_EQ((*l.save.entries)[0].Title(), "BESLES-12345SAVE");
}

TEST(PsuLoad, ThirtyTwoCharacterNames) {
  PsuImage img;
  img.folder = std::string(32, 'F');
  img.files = {{std::string(31, 'n') + "X", Bytes(5)}};
  Loaded l(img.Build());
  ASSERT_EQ(l.result, LoadResult::kOk);
  const SaveEntry& file = (*l.save.entries)[1];
  EXPECT_EQ(file.Name(), std::string(31, 'n'));
  EXPECT_EQ(file.Title(), std::string(31, 'n') + "X");
  EXPECT_EQ(file.RawTitle(), std::string(31, 'n') + "X");
  EXPECT_EQ((*l.save.entries)[0].Name(), std::string(32, 'F'));  // a folder keeps all 32

  // Save writes the 32 characters back, and so does a conversion: a game won't find a file
  // whose name lost a character.
  std::string saved = l.dir.File("saved.psu");
  std::string converted = l.dir.File("converted.psu");
  ASSERT_EQ(l.save.Save(saved), LoadResult::kOk);
  ASSERT_EQ(CPsu().WriteConvertedFrom(l.save, converted), LoadResult::kOk);
  Bytes s = testutil::ReadFile(saved), c = testutil::ReadFile(converted);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&s[3 * 512 + 0x40]), 32), std::string(31, 'n') + "X");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&c[3 * 512 + 0x40]), 32), std::string(31, 'n') + "X");
}

TEST(PsuLoad, RefusesDamagedFilesAndKeepsThePreviousSave) {
  Bytes good = ThreeFiles().Build();
  struct Case {
    const char* why;
    Bytes image;
    LoadResult expected;
  };
  Bytes notDir = good;
  bytes::PutU32LE(&notDir[0], 0x8497);
  Bytes hugeCount = good;
  bytes::PutU32LE(&hugeCount[4], 0xFFFFFFFFu);
  Bytes tooFewHeaders = good;
  bytes::PutU32LE(&tooFewHeaders[4], 40);
  Bytes countOne = good;
  bytes::PutU32LE(&countOne[4], 1);
  Bytes dotIsFile = good;
  bytes::PutU32LE(&dotIsFile[512], 0x8497);
  Bytes dataCut(good.begin(), good.end() - 1024 - 2);  // last file loses its last byte
  Bytes shortHeader(good.begin(), good.begin() + 300);
  Bytes oversized = good;
  bytes::PutU32LE(&oversized[3 * 512 + 4], 0x7FFFFFFF);
  const Case cases[] = {
      {"first header not a directory", notDir, LoadResult::kNotDirectory},
      {"count of 4 billion headers", hugeCount, LoadResult::kReadFailed},
      {"more headers announced than present", tooFewHeaders, LoadResult::kReadFailed},
      {"directory counting fewer than two", countOne, LoadResult::kInvalid},
      {"'.' not a directory", dotIsFile, LoadResult::kInvalid},
      {"last file's data cut", dataCut, LoadResult::kReadFailed},
      {"short first header", shortHeader, LoadResult::kReadFailed},
      {"file size beyond the end", oversized, LoadResult::kReadFailed},
      {"empty file", Bytes{}, LoadResult::kReadFailed},
  };
  PsuImage previous;
  previous.folder = "PREVIOUS";
  previous.files = {{"keep", Bytes(3, 7)}};
  for (const Case& c : cases) {
    Loaded l(previous.Build(), "previous.psu");
    ASSERT_EQ(l.result, LoadResult::kOk);
    std::string damaged = l.dir.File("damaged.psu");
    testutil::WriteFile(damaged, c.image);
    EXPECT_EQ(l.save.Load(damaged), c.expected) << c.why;
    EXPECT_EQ((*l.save.entries)[0].Name(), "PREVIOUS") << c.why;
    EXPECT_EQ(l.save.headers.size(), 4u) << c.why;
    EXPECT_EQ(l.save.sourcePath, l.path) << c.why;
  }
  CPsu fresh;
  EXPECT_EQ(fresh.Load("/nonexistent/dir/x.psu"), LoadResult::kOpenFailed);
  EXPECT_FALSE(fresh.entries);
}

TEST(PsuLoad, LastFileWithoutPaddingLoads) {
  Bytes image = ThreeFiles().Build();
  image.resize(image.size() - 1023);  // the 1025-byte file keeps its data, loses its padding
  Loaded l(image);
  ASSERT_EQ(l.result, LoadResult::kOk);
  EXPECT_EQ(EntryBytes(l.save, 3), testutil::MakeBytes(1025, 2));
}

TEST(PsuSave, WritesTheLoadedFileBackExactly) {
  PsuImage img = ThreeFiles();
  img.fillIgnored = true;
  Bytes original = img.Build();
  Loaded l(original);
  ASSERT_EQ(l.result, LoadResult::kOk);
  std::string out = l.dir.File("copy.psu");
  ASSERT_EQ(l.save.Save(out), LoadResult::kOk);
  EXPECT_EQ(testutil::ReadFile(out), original);
}

TEST(PsuSave, PaddingFollowsTheDataLength) {
  struct Case {
    std::size_t size, padding;
  };
  const Case cases[] = {{0, 0}, {1, 1023}, {1000, 24}, {1023, 1}, {1024, 0}, {1025, 1023}, {2048, 0}};
  for (const Case& c : cases) {
    PsuImage img;
    img.padByte = 0x00;  // the writer must pad with 0xFF whatever it read
    img.files = {{"f", testutil::MakeBytes(c.size, 5)}, {"g", Bytes(1, 0x42)}};
    Loaded l(img.Build());
    ASSERT_EQ(l.result, LoadResult::kOk);
    std::string out = l.dir.File("out.psu");
    ASSERT_EQ(l.save.Save(out), LoadResult::kOk);
    Bytes written = testutil::ReadFile(out);
    std::size_t dataStart = 4 * 512;
    std::size_t next = dataStart + c.size + c.padding;
    ASSERT_EQ(written.size(), next + 512 + 1024) << c.size;
    for (std::size_t i = dataStart + c.size; i < next; ++i) ASSERT_EQ(written[i], 0xFF) << c.size;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&written[next + 0x40])), "g") << c.size;
  }
}

TEST(PsuSave, InPlaceGoesThroughTheTemporaryFile) {
  Loaded l(ThreeFiles().Build());
  ASSERT_EQ(l.result, LoadResult::kOk);
  l.save.SetName(1, "renamed");
  EXPECT_EQ(l.save.Save(l.path), LoadResult::kSavedInPlace);
  EXPECT_FALSE(std::filesystem::exists(l.path + "~0"));
  ASSERT_EQ(l.save.Load(l.path), LoadResult::kOk);
  EXPECT_EQ((*l.save.entries)[2].Name(), "renamed");
  EXPECT_EQ(EntryBytes(l.save, 2), testutil::MakeBytes(1000, 1));
  EXPECT_EQ(EntryBytes(l.save, 3), testutil::MakeBytes(1025, 2));
}

TEST(PsuSave, AnotherSpellingOfTheSourceIsInPlace) {
  Loaded l(ThreeFiles().Build());
  ASSERT_EQ(l.result, LoadResult::kOk);
  std::string other = (l.dir.path() / "." / "save.psu").string();
  ASSERT_NE(other, l.path);
  l.save.RemoveEntry(0);
  EXPECT_EQ(l.save.Save(other), LoadResult::kSavedInPlace);
  CPsu reread;
  ASSERT_EQ(reread.Load(l.path), LoadResult::kOk);
  ASSERT_EQ(reread.FileCount(), 2);
  EXPECT_EQ(EntryBytes(reread, 2), testutil::MakeBytes(1025, 2));
}

TEST(PsuSave, TargetThatIsAnEntrysPcFileIsReadBeforeItIsReplaced) {
  Loaded l(ThreeFiles().Build());
  std::string pc = l.dir.File("extra.bin");
  Bytes extra = testutil::MakeBytes(5000, 9);
  testutil::WriteFile(pc, extra);
  l.save.AddEntryFromDisk(pc, "extra.bin");
  ASSERT_EQ(l.save.Save(pc), LoadResult::kOk);
  CPsu reread;
  ASSERT_EQ(reread.Load(pc), LoadResult::kOk);
  ASSERT_EQ(reread.FileCount(), 4);
  EXPECT_EQ(EntryBytes(reread, 4), extra);
}

TEST(PsuSave, MissingOrShrunkSourceFailsWithoutATarget) {
  Loaded l(ThreeFiles().Build());
  std::string pc = l.dir.File("extra.bin");
  testutil::WriteFile(pc, Bytes(3000, 1));
  l.save.AddEntryFromDisk(pc, "extra.bin");
  testutil::WriteFile(pc, Bytes(2000, 1));  // shrank since it was measured
  std::string out = l.dir.File("out.psu");
  EXPECT_EQ(l.save.Save(out), LoadResult::kOpenFailed);
  EXPECT_EQ(CPsu().WriteConvertedFrom(l.save, out), LoadResult::kOpenFailed);
  std::filesystem::remove(pc);
  EXPECT_EQ(l.save.Save(out), LoadResult::kOpenFailed);
  EXPECT_EQ(l.save.Save(l.path), LoadResult::kOpenFailed);
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(l.dir.path()))
    left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"save.psu"});
  EXPECT_EQ(testutil::ReadFile(l.path), ThreeFiles().Build());
}

TEST(PsuEdits, HeadersFollowTheTable) {
  PsuImage img = ThreeFiles();
  img.fillIgnored = true;
  Loaded l(img.Build());
  ASSERT_EQ(l.result, LoadResult::kOk);
  EntryTime t = testutil::MakeTime(2030, 1, 2, 3, 4, 5);
  l.save.SetName(-1, "NEWROOT");
  l.save.SetMode(0, 0x12345657u);
  l.save.SetCreated(1, t);
  l.save.SetModified(-1, t);
  const auto& h = l.save.headers;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h[0][0x40])), "NEWROOT");
  EXPECT_EQ(bytes::GetU32LE(&h[3][0]), 0x12345657u);
  EXPECT_EQ(EntryTime::FromBytes(&h[4][0x08]), t);
  EXPECT_EQ(EntryTime::FromBytes(&h[0][0x18]), t);
  EXPECT_EQ(h[1][0x60], 0xA3) << "the '.' header never changes";

  std::string out = l.dir.File("out.psu");
  ASSERT_EQ(l.save.Save(out), LoadResult::kOk);
  CPsu reread;
  ASSERT_EQ(reread.Load(out), LoadResult::kOk);
  EXPECT_EQ((*reread.entries)[0].Name(), "NEWROOT");
  EXPECT_EQ((*reread.entries)[1].mode, 0x12345657u);
  EXPECT_EQ((*reread.entries)[2].created, t);
}

TEST(PsuEdits, AFileMarkedAsDirectoryKeepsItsData) {
  Loaded l(ThreeFiles().Build());
  l.save.SetMode(1, 0x8427);
  std::string out = l.dir.File("out.psu");
  ASSERT_EQ(l.save.Save(out), LoadResult::kOk);
  CPsu reread;
  ASSERT_EQ(reread.Load(out), LoadResult::kOk);
  EXPECT_EQ((*reread.entries)[2].mode, 0x8427u);
  EXPECT_EQ(EntryBytes(reread, 2), testutil::MakeBytes(1000, 1));
  EXPECT_EQ(EntryBytes(reread, 3), testutil::MakeBytes(1025, 2));
}

TEST(PsuEdits, RemovingTheSecondOfThreeLeavesNoTrace) {
  Loaded l(ThreeFiles().Build());
  l.save.RemoveEntry(1);
  EXPECT_EQ(bytes::GetU32LE(&l.save.headers[0][4]), 4u);
  EXPECT_EQ((*l.save.entries)[0].size, 4u);
  std::string out = l.dir.File("out.psu");
  ASSERT_EQ(l.save.Save(out), LoadResult::kOk);
  Bytes written = testutil::ReadFile(out);
  EXPECT_EQ(bytes::GetU32LE(&written[4]), 4u);
  EXPECT_EQ(written.size(), 5u * 512 + 1024 + 2048);
  Bytes removed = testutil::MakeBytes(1000, 1);
  EXPECT_EQ(std::search(written.begin(), written.end(), removed.begin(), removed.begin() + 64),
            written.end());
  auto files = FilesOf(out);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1].first, "data1");
}

TEST(PsuEdits, AddAndReplaceFromThePc) {
  Loaded l(ThreeFiles().Build());
  std::string pc = l.dir.File("new.bin");
  Bytes added = testutil::MakeBytes(1500, 11);
  testutil::WriteFile(pc, added);
  l.save.AddEntryFromDisk(pc, "new.bin");
  ASSERT_EQ(l.save.headers.size(), 7u);
  EXPECT_EQ(bytes::GetU32LE(&l.save.headers[0][4]), 6u);
  const auto& h = l.save.headers[6];
  EXPECT_EQ(bytes::GetU32LE(&h[0]), 0x8497u);
  EXPECT_EQ(bytes::GetU32LE(&h[4]), 1500u);
  EXPECT_EQ(EntryTime::FromBytes(&h[0x08]), (*l.save.entries)[4].created);
  EXPECT_EQ(EntryTime::FromBytes(&h[0x18]), (*l.save.entries)[4].modified);

  std::string pc2 = l.dir.File("small.bin");
  testutil::WriteFile(pc2, Bytes(40, 0x33));
  l.save.ReplaceEntryFromDisk(pc2, 2);
  EXPECT_EQ(bytes::GetU32LE(&l.save.headers[4][4]), 40u);

  std::string out = l.dir.File("out.psu");
  ASSERT_EQ(l.save.Save(out), LoadResult::kOk);
  auto files = FilesOf(out);
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[1], std::make_pair(std::string("data0"), Bytes(40, 0x33)));
  EXPECT_EQ(files[3], std::make_pair(std::string("new.bin"), added));
}

TEST(PsuConvert, WritesOnlyTheModelsFields) {
  PsuImage img;
  img.fillIgnored = true;
  img.files = {{"a", Bytes(10, 1)}, {"b", Bytes(2000, 2)}};
  Loaded l(img.Build());
  ASSERT_EQ(l.result, LoadResult::kOk);
  (*l.save.entries)[1].aux1 = 0x1234;
  (*l.save.entries)[1].aux2 = 0x5678;
  std::string out = l.dir.File("conv.psu");
  ASSERT_EQ(CPsu().WriteConvertedFrom(l.save, out), LoadResult::kOk);
  Bytes w = testutil::ReadFile(out);
  ASSERT_EQ(w.size(), 5u * 512 + 1024 + 2048);
  EXPECT_EQ(bytes::GetU32LE(&w[4]), 4u);
  for (std::size_t k : {1u, 2u}) {
    EXPECT_EQ(bytes::GetU32LE(&w[k * 512]), 0x8427u);
    EXPECT_EQ(bytes::GetU32LE(&w[k * 512 + 4]), 0u);
    EXPECT_EQ(EntryTime::FromBytes(&w[k * 512 + 8]), img.created);
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&w[512 + 0x40])), ".");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&w[1024 + 0x40])), "..");
  EXPECT_EQ(w[3 * 512 + 0x10], 0x34);
  EXPECT_EQ(w[3 * 512 + 0x11], 0x78);
  EXPECT_EQ(w[3 * 512 + 0x12], 0x00);
  EXPECT_EQ(w[3 * 512 + 0x60], 0x00) << "ignored bytes are not carried over";
  EXPECT_EQ(w[0x20], 0x00);
}

TEST(PsuConvert, ConvertsASaveBuiltFromPcFiles) {
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("icon.sys"), testutil::MakeIconSys("T"));
  CGeneric generic;
  generic.AddEntryFromDisk(dir.File("icon.sys"), "icon.sys");
  CPsu writer;
  ASSERT_EQ(writer.WriteConvertedFrom(generic, dir.File("new.psu")), LoadResult::kOk);
  auto files = FilesOf(dir.File("new.psu"));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].second, testutil::MakeIconSys("T"));
  EXPECT_FALSE(writer.entries) << "the writer keeps no table of its own";
}

TEST(PsuCorpus, EveryFileLoadsAndSavesBackByteForByte) {
  for (const char* name : {"psu/a.psu", "psu/d.psu", "psu/e.PSU", "psu/f.psu", "psu/g.psu"}) {
    std::string path = testutil::CorpusPath(name);
    if (path.empty()) GTEST_SKIP() << "corpus absent";
    CPsu save;
    ASSERT_EQ(save.Load(path), LoadResult::kOk) << name;
    testutil::TempDir dir;
    ASSERT_EQ(save.Save(dir.File("copy.psu")), LoadResult::kOk) << name;
    EXPECT_EQ(testutil::ReadFile(dir.File("copy.psu")), WithFFPadding(testutil::ReadFile(path))) << name;
    // A conversion of the same save holds the same files.
    ASSERT_EQ(CPsu().WriteConvertedFrom(save, dir.File("conv.psu")), LoadResult::kOk) << name;
    EXPECT_EQ(FilesOf(dir.File("conv.psu")), FilesOf(path)) << name;
  }
}

TEST(PsuCorpus, KnownContents) {
  REQUIRE_CORPUS(a, "psu/a.psu");
  CPsu save;
  ASSERT_EQ(save.Load(a), LoadResult::kOk);
  EXPECT_EQ(save.FileCount(), 3);
  EXPECT_NE((*save.entries)[0].Title(), (*save.entries)[0].Name()) << "title comes from icon.sys";

  REQUIRE_CORPUS(e, "psu/e.PSU");
  CPsu homebrew;
  ASSERT_EQ(homebrew.Load(e), LoadResult::kOk);
  EXPECT_EQ((*homebrew.entries)[0].mode, 0x842Fu);

  REQUIRE_CORPUS(f, "psu/f.psu");
  CPsu eleven;
  ASSERT_EQ(eleven.Load(f), LoadResult::kOk);
  EXPECT_EQ(eleven.FileCount(), 11);

  REQUIRE_CORPUS(g, "psu/g.psu");
  CPsu future;
  ASSERT_EQ(future.Load(g), LoadResult::kOk);
  EXPECT_EQ((*future.entries)[0].created.year, 2099);
}
