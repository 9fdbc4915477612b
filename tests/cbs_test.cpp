// CodeBreaker files: what a load takes from the header and the records, the refusals of
// damaged files, what a write puts in the header, saving in place, and the real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/cbs/cbs.h"
#include "formats/cbs/cbs_body.h"
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

LoadResult LoadImage(CCbs& save, const testutil::TempDir& dir, const Bytes& image,
                     const std::string& name = "save.cbs") {
  testutil::WriteFile(dir.File(name), image);
  return save.Load(dir.File(name));
}

Bytes DataOf(const CSaveGame& save, int fileIndex) {
  Bytes data;
  EXPECT_EQ(ReadEntryData(*save.EntryAt(fileIndex), save.sourcePath, data), DataResult::kOk);
  return data;
}

std::string Text(const Bytes& b, std::size_t offset) {
  return std::string(reinterpret_cast<const char*>(&b[offset]));
}

}  // namespace

TEST(CbsLoad, HeaderAndRecordsBecomeTheTable) {
  struct Case {
    const char* why;
    bool bodyLengthWord;
    std::uint32_t storedMode, loadedMode;
  };
  const Case cases[] = {
      {"a device's file", false, 0x8427, 0x8427},
      {"a PC tool's: the body's length at 0x10, mode 0", true, 0, 0x8427},
      {"another folder mode", false, 0x842F, 0x842F},
  };
  testutil::TempDir dir;
  for (const Case& c : cases) {
    CbsImage img = TwoFiles();
    img.bodyLengthWord = c.bodyLengthWord;
    img.rootMode = c.storedMode;
    CCbs save;
    ASSERT_EQ(LoadImage(save, dir, img.Build()), LoadResult::kOk) << c.why;
    EXPECT_EQ(save.kind, kKindCbs);
    const SaveEntry& root = *save.EntryAt(-1);
    EXPECT_EQ(root.Name(), img.folder) << c.why;
    EXPECT_EQ(root.mode, c.loadedMode) << c.why;
    EXPECT_EQ(root.size, 4u) << c.why;
    EXPECT_EQ(root.created, img.created) << c.why;
    EXPECT_EQ(root.modified, img.modified) << c.why;
    EXPECT_EQ(root.Title(), "AB TITLE") << c.why;
    ASSERT_EQ(save.FileCount(), 2) << c.why;
    for (int i = 0; i < 2; ++i) {
      const SaveEntry& e = *save.EntryAt(i);
      const CbsFile& f = img.files[static_cast<std::size_t>(i)];
      EXPECT_EQ(e.Name(), f.name) << c.why;
      EXPECT_EQ(e.mode, f.mode) << c.why;
      EXPECT_EQ(e.created, f.created) << c.why;
      EXPECT_EQ(e.modified, f.modified) << c.why;
      EXPECT_EQ(DataOf(save, i), f.data) << c.why;
    }
  }
}

// Each damaged file is refused with its result, and the object keeps the save it held.
TEST(CbsLoad, DamagedFilesAreRefusedAndChangeNothing) {
  const CbsImage good = TwoFiles();
  const Bytes goodBytes = good.Build();
  const auto records = static_cast<std::uint32_t>(good.Records().size());
  auto with = [&](auto change) {
    CbsImage img = good;
    change(img);
    return img.Build();
  };
  auto edited = [&](auto change) {
    Bytes b = goodBytes;
    change(b);
    return b;
  };
  struct Case {
    const char* why;
    Bytes file;
    LoadResult want;
  };
  const Case cases[] = {
      {"shorter than the header", Bytes(goodBytes.begin(), goodBytes.begin() + 0x127),
       LoadResult::kReadFailed},
      {"not CFU", edited([](Bytes& b) { b[2] = 'X'; }), LoadResult::kInvalid},
      {"a body starting inside the header", with([](CbsImage& m) { m.bodyStart = 0x100; }),
       LoadResult::kInvalid},
      {"a body starting past the end", with([](CbsImage& m) { m.bodyStart = 0x100000; }),
       LoadResult::kInvalid},
      {"an inflated size over 64 MiB", with([](CbsImage& m) { m.inflatedSize = (64u << 20) + 1; }),
       LoadResult::kInvalid},
      {"a stream that inflates past its size", with([&](CbsImage& m) { m.inflatedSize = records - 1; }),
       LoadResult::kInvalid},
      {"a stream that ends before its size", with([&](CbsImage& m) { m.inflatedSize = records + 1; }),
       LoadResult::kInvalid},
      {"a body cut short", Bytes(goodBytes.begin(), goodBytes.end() - 10), LoadResult::kInvalid},
      {"a byte after the stream", edited([](Bytes& b) { b.push_back(0); }), LoadResult::kInvalid},
      {"a changed body byte", edited([](Bytes& b) { b[0x128 + 40] ^= 0x10; }), LoadResult::kInvalid},
      {"a record reaching past the records",
       with([](CbsImage& m) {
         Bytes r = m.Records();
         bytes::PutU32LE(&r[16], 0x7FFFFFFF);
         m.records = r;
       }),
       LoadResult::kInvalid},
      {"a record head cut short",
       with([](CbsImage& m) {
         Bytes r = m.Records();
         r.resize(r.size() + 20, 0);
         m.records = r;
       }),
       LoadResult::kInvalid},
  };
  testutil::TempDir dir;
  for (const Case& c : cases) {
    CCbs save;
    ASSERT_EQ(LoadImage(save, dir, goodBytes, "good.cbs"), LoadResult::kOk);
    EXPECT_EQ(LoadImage(save, dir, c.file), c.want) << c.why;
    EXPECT_EQ(save.sourcePath, dir.File("good.cbs")) << c.why;
    EXPECT_EQ(save.FileCount(), 2) << c.why;
    CCbs fresh;
    EXPECT_EQ(LoadImage(fresh, dir, c.file), c.want) << c.why;
    EXPECT_FALSE(fresh.entries) << c.why;
  }
}

// What a conversion writes: the header as devices write it, and records that load back.
TEST(CbsSave, ConversionWritesTheDeviceHeader) {
  testutil::TempDir dir;
  CbsImage img = TwoFiles();
  img.rootMode = 0x842F;
  Bytes iconSys = testutil::MakeIconSys("\x82\x60\x82\x61\x82\x62\x82\x63");
  bytes::PutU16LE(&iconSys[6], 4);  // two lines: "AB" and "CD"
  img.files[0].data = iconSys;
  CCbs source;
  ASSERT_EQ(LoadImage(source, dir, img.Build()), LoadResult::kOk);
  CCbs writer;
  ASSERT_EQ(writer.WriteConvertedFrom(source, dir.File("out.cbs")), LoadResult::kOk);
  const Bytes out = testutil::ReadFile(dir.File("out.cbs"));
  ASSERT_GT(out.size(), 0x128u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), testutil::FromString(std::string("CFU\0", 4)));
  EXPECT_EQ(bytes::GetU32LE(&out[0x04]), 0x1F40u);
  EXPECT_EQ(bytes::GetU32LE(&out[0x08]), 0x128u);
  EXPECT_EQ(bytes::GetU32LE(&out[0x0C]), img.Records().size());
  EXPECT_EQ(bytes::GetU32LE(&out[0x10]), out.size());
  EXPECT_EQ(Text(out, 0x14), img.folder);
  EXPECT_EQ(EntryTime::FromBytes(&out[0x34]), img.created);
  EXPECT_EQ(EntryTime::FromBytes(&out[0x3C]), img.modified);
  EXPECT_EQ(bytes::GetU32LE(&out[0x48]), 0x842Fu);
  EXPECT_EQ(Text(out, 0x5C), "AB CD");
  EXPECT_TRUE(std::all_of(out.begin() + 0xA4, out.begin() + 0x128, [](std::uint8_t b) { return b == 0; }));
  // The body is the records, as the builder lays them out, at zlib level 9 under RC4.
  Bytes records;
  ASSERT_EQ(cbs::DecodeBody(std::span(out).subspan(0x128), bytes::GetU32LE(&out[0x0C]), records),
            InflateResult::kOk);
  EXPECT_EQ(records, img.Records());
  EXPECT_EQ(Bytes(out.begin() + 0x128, out.end()), *cbs::EncodeBody(records));

  // No icon.sys: the folder name stands in for the title.
  source.RemoveEntry(0);
  ASSERT_EQ(writer.WriteConvertedFrom(source, dir.File("out.cbs")), LoadResult::kOk);
  EXPECT_EQ(Text(testutil::ReadFile(dir.File("out.cbs")), 0x5C), img.folder);
}

// Save keeps the loaded header (its title, bytes this program doesn't know), and puts in
// the folder's fields and the sizes as they are now.
TEST(CbsSave, InPlaceKeepsTheHeaderAndFollowsTheEdits) {
  testutil::TempDir dir;
  CbsImage img = TwoFiles();
  img.bodyLengthWord = true;
  img.rootMode = 0;
  img.title = "A TITLE OF ITS OWN";
  Bytes original = img.Build();
  original[0x44] = 0x77;  // a byte no field is known for
  CCbs save;
  ASSERT_EQ(LoadImage(save, dir, original), LoadResult::kOk);
  save.SetName(-1, "BESLES-99999NEW");
  save.SetModified(-1, testutil::MakeTime(2020, 2, 3, 4, 5, 6));
  save.RemoveEntry(1);
  EXPECT_EQ(save.Save(save.sourcePath), LoadResult::kSavedInPlace);
  EXPECT_FALSE(std::filesystem::exists(save.sourcePath + "~0"));
  const Bytes out = testutil::ReadFile(save.sourcePath);
  EXPECT_EQ(Text(out, 0x14), "BESLES-99999NEW");
  EXPECT_EQ(EntryTime::FromBytes(&out[0x3C]), testutil::MakeTime(2020, 2, 3, 4, 5, 6));
  EXPECT_EQ(bytes::GetU32LE(&out[0x10]), out.size()) << "the device's form of the length";
  EXPECT_EQ(bytes::GetU32LE(&out[0x0C]), 64u + 964u);
  EXPECT_EQ(bytes::GetU32LE(&out[0x48]), 0x8427u);
  EXPECT_EQ(Text(out, 0x5C), "A TITLE OF ITS OWN");
  EXPECT_EQ(out[0x44], 0x77);
  CCbs again;
  ASSERT_EQ(again.Load(save.sourcePath), LoadResult::kOk);
  ASSERT_EQ(again.FileCount(), 1);
  EXPECT_EQ(DataOf(again, 0), img.files[0].data);
}

TEST(CbsSave, TooLargeIsRefusedWithAReason) {
  testutil::TempDir dir;
  const std::string big = dir.File("big.bin");
  testutil::WriteFile(big, {});
  std::filesystem::resize_file(dir.path() / "big.bin", (64u << 20) - 63);  // sparse, never read
  CCbs save;
  ASSERT_EQ(LoadImage(save, dir, TwoFiles().Build()), LoadResult::kOk);
  ASSERT_TRUE(save.AddEntryFromDisk(big, "BIG"));
  EXPECT_EQ(save.Save(dir.File("out.cbs")), LoadResult::kInvalid);
  EXPECT_EQ(save.refusal,
            "This save is too large for a CodeBreaker file: its files come to more than 64 MiB.");
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.cbs")));
}

// Files from real devices come out byte for byte: saved again, and converted from a
// .psu copy, which carries every field but the title (kept by Save, made from icon.sys by
// a conversion; h.cbs's has a slash that the title conversion doesn't map).
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
    CCbs writer;
    ASSERT_EQ(writer.WriteConvertedFrom(psu, dir.File("converted.cbs")), LoadResult::kOk);
    Bytes converted = testutil::ReadFile(dir.File("converted.cbs"));
    ASSERT_EQ(converted.size(), original.size()) << c.file;
    EXPECT_TRUE(std::equal(converted.begin() + 0x128, converted.end(), original.begin() + 0x128))
        << c.file << ": the body";
    if (!c.sameTitle) std::copy_n(original.begin() + 0x5C, 72, converted.begin() + 0x5C);
    EXPECT_EQ(converted, original) << c.file << ": the header";
  }
}

TEST(CbsCorpus, PcToolFileHoldsThePsuFiles) {
  REQUIRE_CORPUS(cbsPath, "cbs/a.cbs");
  REQUIRE_CORPUS(psuPath, "psu/a.psu");
  CCbs cbs;
  CPsu psu;
  ASSERT_EQ(cbs.Load(cbsPath), LoadResult::kOk);
  ASSERT_EQ(psu.Load(psuPath), LoadResult::kOk);
  EXPECT_EQ(cbs.EntryAt(-1)->mode, 0x8427u) << "stored as 0";
  EXPECT_EQ(cbs.EntryAt(-1)->Title(), psu.EntryAt(-1)->Title());
  ASSERT_EQ(cbs.FileCount(), psu.FileCount());
  for (int i = 0; i < psu.FileCount(); ++i) {
    EXPECT_EQ(cbs.EntryAt(i)->Name(), psu.EntryAt(i)->Name());
    EXPECT_EQ(DataOf(cbs, i), DataOf(psu, i)) << i;
  }
}
