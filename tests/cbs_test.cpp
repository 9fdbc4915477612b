// CodeBreaker files: both forms of the header a load meets, Save in place, and the files
// of real devices written again.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "formats/cbs/cbs.h"
#include "formats/cbs/zlib_stream.h"
#include "formats/psu/psu.h"
#include "model/bytes.h"
#include "model/entry_data.h"
#include "support/cbs_builder.h"
#include "support/test_util.h"

using testutil::Bytes;
using testutil::CbsFile;
using testutil::CbsImage;

namespace {

CbsImage TwoFiles() {
  CbsImage img;
  img.files.push_back(CbsFile{"icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61 TITLE")});
  img.files.push_back(CbsFile{"DATA.BIN", testutil::MakeBytes(5000, 1), 0x8417,
                              testutil::MakeTime(2010, 1, 2, 3, 4, 5),
                              testutil::MakeTime(2011, 6, 7, 8, 9, 10)});
  return img;
}

std::string Text(const Bytes& b, std::size_t offset) {
  return std::string(reinterpret_cast<const char*>(&b[offset]));
}

}  // namespace

// A device stores the whole file's length at 0x10 and the folder's mode; a PC tool the
// body's length and 0, read as 0x8427.
TEST(CbsLoad, BothHeaderFormsGiveTheTable) {
  testutil::TempDir dir;
  for (bool pcTool : {false, true}) {
    CbsImage img = TwoFiles();
    img.bodyLengthWord = pcTool;
    img.rootMode = pcTool ? 0 : 0x842F;
    testutil::WriteFile(dir.File("save.cbs"), img.Build());
    CCbs save;
    ASSERT_EQ(save.Load(dir.File("save.cbs")), LoadResult::kOk) << pcTool;
    const SaveEntry& root = *save.EntryAt(-1);
    EXPECT_EQ(root.mode, pcTool ? 0x8427u : 0x842Fu);
    EXPECT_EQ(root.Name(), img.folder);
    EXPECT_EQ(root.modified, img.modified);
    EXPECT_EQ(root.Title(), "AB TITLE");
    ASSERT_EQ(save.FileCount(), 2);
    const SaveEntry& data = *save.EntryAt(1);
    EXPECT_EQ(data.mode, 0x8417u);
    EXPECT_EQ(data.created, img.files[1].created);
    Bytes bytes;
    ASSERT_EQ(ReadEntryData(data, save.container.get(), bytes), DataResult::kOk);
    EXPECT_EQ(bytes, img.files[1].data);
  }
}

// Save keeps the loaded header (its title, bytes of no known field) and puts in the
// folder's fields and the sizes as they are now, the length at 0x10 as devices count it.
TEST(CbsSave, InPlaceKeepsTheHeaderAndFollowsTheEdits) {
  testutil::TempDir dir;
  CbsImage img = TwoFiles();
  img.bodyLengthWord = true;
  img.rootMode = 0;
  img.title = "A TITLE OF ITS OWN";
  Bytes original = img.Build();
  original[0x44] = 0x77;
  testutil::WriteFile(dir.File("save.cbs"), original);
  CCbs save;
  ASSERT_EQ(save.Load(dir.File("save.cbs")), LoadResult::kOk);
  save.SetName(-1, "BESLES-99999NEW");
  save.SetModified(-1, testutil::MakeTime(2020, 2, 3, 4, 5, 6));
  save.RemoveEntry(1);
  EXPECT_EQ(save.Save(save.sourcePath), LoadResult::kSavedInPlace);
  EXPECT_FALSE(std::filesystem::exists(save.sourcePath + "~0"));
  const Bytes out = testutil::ReadFile(save.sourcePath);
  EXPECT_EQ(Text(out, 0x14), "BESLES-99999NEW");
  EXPECT_EQ(EntryTime::FromBytes(&out[0x3C]), testutil::MakeTime(2020, 2, 3, 4, 5, 6));
  EXPECT_EQ(bytes::GetU32LE(&out[0x10]), out.size());
  EXPECT_EQ(bytes::GetU32LE(&out[0x0C]), 64u + 964u);
  EXPECT_EQ(bytes::GetU32LE(&out[0x48]), 0x8427u);
  EXPECT_EQ(Text(out, 0x5C), "A TITLE OF ITS OWN");
  EXPECT_EQ(out[0x44], 0x77);
  CCbs again;
  ASSERT_EQ(again.Load(save.sourcePath), LoadResult::kOk);
  EXPECT_EQ(again.FileCount(), 1);
}

// Device files come out byte for byte: saved again, and converted from a .psu copy, which
// carries every field but the title (kept by Save; made from icon.sys by a conversion,
// where h.cbs's slash is not among the characters the title conversion maps).
TEST(CbsCorpus, DeviceFilesWrittenAgainByteForByte) {
  struct Case {
    const char* file;
    bool sameTitle;
  };
  for (Case c : {Case{"cbs/h.cbs", false}, Case{"cbs/i.cbs", true}}) {
    REQUIRE_CORPUS(path, c.file);
    const Bytes original = testutil::ReadFile(path);
    testutil::TempDir dir;
    CCbs save;
    ASSERT_EQ(save.Load(path), LoadResult::kOk) << c.file;
    ASSERT_EQ(save.Save(dir.File("again.cbs")), LoadResult::kOk) << c.file;
    EXPECT_EQ(testutil::ReadFile(dir.File("again.cbs")), original) << c.file;

    CPsu psu;
    ASSERT_EQ(psu.WriteConvertedFrom(save, dir.File("copy.psu")), LoadResult::kOk);
    ASSERT_EQ(psu.Load(dir.File("copy.psu")), LoadResult::kOk);
    ASSERT_EQ(CCbs().WriteConvertedFrom(psu, dir.File("converted.cbs")), LoadResult::kOk);
    Bytes converted = testutil::ReadFile(dir.File("converted.cbs"));
    ASSERT_EQ(converted.size(), original.size()) << c.file;
    if (!c.sameTitle) std::copy_n(original.begin() + 0x5C, 72, converted.begin() + 0x5C);
    EXPECT_EQ(converted, original) << c.file;
  }
}

// A file cut short is refused and leaves the object as it was; within the header, saying so.
TEST(CbsLoad, CutShortFilesAreRefused) {
  const Bytes whole = TwoFiles().Build();
  const struct {
    const char* why;
    std::size_t length;
    LoadResult want;
    std::string refusal;
  } cases[] = {
      {"within the header", 100, LoadResult::kReadFailed, "The file is shorter than a CodeBreaker save's header."},
      {"within the body", whole.size() - 10, LoadResult::kInvalid, ""},
  };
  testutil::TempDir dir;
  for (const auto& c : cases) {
    testutil::WriteFile(dir.File("cut.cbs"), Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(c.length)));
    CCbs save;
    EXPECT_EQ(save.Load(dir.File("cut.cbs")), c.want) << c.why;
    EXPECT_EQ(save.refusal, c.refusal) << c.why;
    EXPECT_FALSE(save.entries) << c.why;
  }
}

// Deflated piece by piece, the stream is byte for byte zlib's one-call stream of the same
// bytes, however they are cut: one piece, many small ones, pieces larger than the
// deflater's output buffer, incompressible data that comes out longer than it went in.
TEST(CbsDeflater, PiecesGiveTheOneCallStream) {
  const Bytes text = [] {
    Bytes b;
    while (b.size() < 300000) {
      const std::string line = "BESLES-12345SAVE icon.sys " + std::to_string(b.size() % 977) + "\n";
      b.insert(b.end(), line.begin(), line.end());
    }
    return b;
  }();
  const Bytes random = testutil::MakeBytes(400000, 7);
  struct Case {
    const char* why;
    const Bytes* data;
    std::size_t piece;
  };
  const Bytes empty;
  const Case cases[] = {
      {"nothing", &empty, 1},       {"text in one piece", &text, text.size()},
      {"text a byte at a time", &text, 1}, {"text in odd pieces", &text, 4099},
      {"random in one piece", &random, random.size()}, {"random in 70000-byte pieces", &random, 70000},
  };
  for (const Case& c : cases) {
    Bytes stream;
    ZlibDeflater deflater([&stream](std::span<std::uint8_t> out) {
      stream.insert(stream.end(), out.begin(), out.end());
      return true;
    });
    for (std::size_t at = 0; at < c.data->size(); at += c.piece)
      ASSERT_TRUE(deflater.Add(std::span(*c.data).subspan(at, std::min(c.piece, c.data->size() - at)))) << c.why;
    ASSERT_TRUE(deflater.Finish()) << c.why;
    EXPECT_TRUE(stream == *ZlibDeflate(*c.data)) << c.why;
  }
  // A sink that refuses stops it for good.
  ZlibDeflater refused([](std::span<std::uint8_t>) { return false; });
  EXPECT_TRUE(refused.Add(random) == false || refused.Finish() == false);
  EXPECT_FALSE(refused.Add(text));
}

// Written with its body deflated file by file, a CodeBreaker file is the one its records
// deflated at once make, whatever the save holds.
TEST(CbsSave, BodyWrittenFileByFileIsTheWholeRecordsStream) {
  struct Case {
    const char* why;
    std::vector<testutil::CbsFile> files;
  };
  const Case cases[] = {
      {"no files", {}},
      {"one file", {{"DATA.BIN", testutil::MakeBytes(5000, 1)}}},
      {"empty files", {{"a", {}}, {"b", testutil::MakeBytes(3, 2)}, {"c", {}}}},
      {"a large random file", {{"big", testutil::MakeBytes(700000, 3)}, {"icon.sys", testutil::MakeIconSys("T")}}},
      {"many files", [] {
         std::vector<testutil::CbsFile> files;
         for (int k = 0; k < 30; ++k) files.push_back({"f" + std::to_string(k), testutil::MakeBytes(9000 + k, 10u + k)});
         return files;
       }()},
  };
  testutil::TempDir dir;
  for (const Case& c : cases) {
    CbsImage img;
    img.files = c.files;
    const Bytes image = img.Build();
    testutil::WriteFile(dir.File("in.cbs"), image);
    CCbs save;
    ASSERT_EQ(save.Load(dir.File("in.cbs")), LoadResult::kOk) << c.why;
    ASSERT_EQ(save.Save(dir.File("again.cbs")), LoadResult::kOk) << c.why;
    EXPECT_TRUE(testutil::ReadFile(dir.File("again.cbs")) == image) << c.why;
  }
}
