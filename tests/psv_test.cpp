// PS3 exports: what a load takes from the records, the signature question, the PS1
// refusal, the damaged files, the layout and signature of a written file, and the real
// exports written again.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/psv/psv.h"
#include "formats/psv/psv_sign.h"
#include "model/bytes.h"
#include "model/entry_data.h"
#include "support/psv_builder.h"
#include "support/test_util.h"

using testutil::Bytes;
using testutil::MakePsvFile;
using testutil::PsvFile;
using testutil::PsvImage;

namespace {

struct Questions {
  bool answer = false;
  std::vector<std::pair<std::string, std::string>> asked;
  QuestionHandler Handler() {
    return [this](const std::string& text, const std::string& caption) {
      asked.emplace_back(text, caption);
      return answer;
    };
  }
};

PsvImage ThreeFiles() {
  PsvImage img;
  img.files.push_back(MakePsvFile("icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61")));
  img.files.push_back(MakePsvFile("view.ico", testutil::MakeBytes(1001, 2)));
  img.files.push_back(MakePsvFile("BESLES-12345SAVE", testutil::MakeBytes(10, 3), 0x8417));
  return img;
}

LoadResult LoadImage(CPsv& save, const testutil::TempDir& dir, const Bytes& image,
                     const std::string& name = "save.psv") {
  testutil::WriteFile(dir.File(name), image);
  return save.Load(dir.File(name));
}

Bytes DataOf(const CSaveGame& save, int fileIndex) {
  Bytes data;
  EXPECT_EQ(ReadEntryData(*save.EntryAt(fileIndex), save.sourcePath, data), DataResult::kOk);
  return data;
}

// An icon.sys that names its three icons.
Bytes IconSysNaming(const std::string& normal, const std::string& copy, const std::string& del) {
  Bytes b = testutil::MakeIconSys("TITLE");
  std::copy(normal.begin(), normal.end(), b.begin() + 0x104);
  std::copy(copy.begin(), copy.end(), b.begin() + 0x144);
  std::copy(del.begin(), del.end(), b.begin() + 0x184);
  return b;
}

}  // namespace

TEST(PsvLoad, RecordsNamesAndModes) {
  PsvImage img = ThreeFiles();
  img.files[0].nameJunk = 0xCC;   // a PS3 leaves bytes after the NUL
  img.files[1].mode = 0x84970000;  // a homebrew tool's form
  // The data in another order than the records: each file's comes from its own offset.
  img.files[2].offset = 0xA0 + 3 * 60;
  img.files[0].offset = 0xA0 + 3 * 60 + 12;
  const Bytes image = img.Build();

  testutil::TempDir dir;
  CPsv save;
  ASSERT_EQ(LoadImage(save, dir, image), LoadResult::kOk);
  EXPECT_EQ(save.kind, kKindPsv);
  EXPECT_EQ(save.signatureValid, true);
  const SaveEntry& root = *save.EntryAt(-1);
  EXPECT_EQ(root.Name(), img.folder);
  EXPECT_EQ(root.mode, 0x8427u);
  EXPECT_EQ(root.size, 5u);
  EXPECT_EQ(root.created, img.created);
  EXPECT_EQ(root.modified, img.modified);
  EXPECT_EQ(root.Title(), "AB");
  ASSERT_EQ(save.FileCount(), 3);
  EXPECT_EQ(save.EntryAt(0)->Name(), "icon.sys");
  EXPECT_EQ(save.EntryAt(1)->mode, 0x8497u);
  EXPECT_EQ(save.EntryAt(2)->mode, 0x8417u);
  EXPECT_EQ(save.EntryAt(2)->created, img.files[2].created);
  EXPECT_EQ(save.EntryAt(2)->modified, img.files[2].modified);
  EXPECT_EQ(DataOf(save, 0), img.files[0].data);
  EXPECT_EQ(DataOf(save, 2), img.files[2].data);
}

TEST(PsvLoad, ABadSignatureAsksFirst) {
  PsvImage img = ThreeFiles();
  img.validSignature = false;
  const Bytes image = img.Build();
  testutil::TempDir dir;
  for (bool answer : {false, true}) {
    CPsv save;
    Questions q;
    q.answer = answer;
    save.SetQuestionHandler(q.Handler());
    EXPECT_EQ(LoadImage(save, dir, image), answer ? LoadResult::kOk : LoadResult::kInvalid);
    ASSERT_EQ(q.asked.size(), 1u);
    EXPECT_EQ(q.asked[0].first,
              "PS3 signature computed doesn't match stored.\nDo you want to load it anyway?");
    EXPECT_EQ(q.asked[0].second, "Invalid format");
    EXPECT_EQ(save.entries.has_value(), answer);
    EXPECT_EQ(save.signatureValid, answer ? std::optional<bool>(false) : std::nullopt);
  }
  // Without a handler the answer is No.
  CPsv silent;
  EXPECT_EQ(LoadImage(silent, dir, image), LoadResult::kInvalid);
}

// Each damaged file is refused with its result before anything is sized from it, and the
// object keeps the save it held.
TEST(PsvLoad, DamagedFilesAreRefusedAndChangeNothing) {
  const Bytes good = ThreeFiles().Build();
  auto with = [](auto change) {
    PsvImage img = ThreeFiles();
    change(img);
    return img.Build();
  };
  struct Case {
    const char* why;
    Bytes file;
    LoadResult want;
  };
  const Case cases[] = {
      {"shorter than the header", Bytes(good.begin(), good.begin() + 0x3F), LoadResult::kReadFailed},
      {"shorter than the folder record", Bytes(good.begin(), good.begin() + 0x9F),
       LoadResult::kReadFailed},
      {"not \\0VSP", [&] { Bytes b = good; b[1] = 'W'; return b; }(), LoadResult::kInvalid},
      {"an unknown kind", with([](PsvImage& m) { m.kind = 3; }), LoadResult::kInvalid},
      {"more records than the file holds", with([](PsvImage& m) { m.fileCount = 40; }),
       LoadResult::kReadFailed},
      {"a count no file could hold", with([](PsvImage& m) { m.fileCount = 0xFFFFFFFF; }),
       LoadResult::kReadFailed},
      {"data reaching past the end", with([](PsvImage& m) { m.files[1].size = 100000; }),
       LoadResult::kReadFailed},
      {"data starting past the end", with([](PsvImage& m) { m.files[2].offset = 0xFFFFFFF0; }),
       LoadResult::kReadFailed},
      {"the last file cut short", Bytes(good.begin(), good.end() - 8), LoadResult::kReadFailed},
  };
  testutil::TempDir dir;
  for (const Case& c : cases) {
    CPsv save;
    save.SetQuestionHandler([](const std::string&, const std::string&) { return true; });
    ASSERT_EQ(LoadImage(save, dir, good, "good.psv"), LoadResult::kOk);
    EXPECT_EQ(LoadImage(save, dir, c.file), c.want) << c.why;
    EXPECT_EQ(save.sourcePath, dir.File("good.psv")) << c.why;
    EXPECT_EQ(save.FileCount(), 3) << c.why;
    EXPECT_EQ(save.refusal, "") << c.why;
  }
}

TEST(PsvLoad, PlayStation1SavesAreRefusedWithAReason) {
  PsvImage img = ThreeFiles();
  img.kind = 1;
  testutil::TempDir dir;
  CPsv save;
  Questions q;
  save.SetQuestionHandler(q.Handler());
  EXPECT_EQ(LoadImage(save, dir, img.Build()), LoadResult::kInvalid);
  EXPECT_EQ(save.refusal, "This is a PlayStation 1 save: only PlayStation 2 saves can be opened.");
  EXPECT_TRUE(q.asked.empty());
  EXPECT_FALSE(save.entries);
  // The next load starts without it.
  EXPECT_EQ(LoadImage(save, dir, ThreeFiles().Build()), LoadResult::kOk);
  EXPECT_EQ(save.refusal, "");
}

TEST(PsvSave, DisplaySizeIsTheCardSpace) {
  struct Case {
    std::vector<std::uint32_t> sizes;
    std::uint64_t want;
  };
  const Case cases[] = {
      {{}, 1024},                          // "." and "..": one cluster
      {{1}, 1024 + 2048},                  // three entries take two clusters
      {{1024, 1025}, 2048 + 1024 + 2048},
      {{964, 46360, 3072}, 54272},         // psv/a.psv
      {{964, 65512, 143640, 100}, 215040}, // psv/k.psv
  };
  for (const Case& c : cases) EXPECT_EQ(psv::DisplaySize(c.sizes), c.want) << c.sizes.size();
}

// The layout of a written file: records, data at 4-byte boundaries with zeros between,
// the icon positions, and a signature that verifies with a seed made from the content.
TEST(PsvSave, LayoutIconsAndSignature) {
  PsvImage img;
  img.files = {MakePsvFile("a.ico", testutil::MakeBytes(5, 1)), MakePsvFile("empty", {}),
               MakePsvFile("icon.sys", IconSysNaming("a.ico", "b.ico", "not there")),
               MakePsvFile("b.ico", testutil::MakeBytes(7, 2)),
               MakePsvFile("last", testutil::MakeBytes(6, 3))};
  testutil::TempDir dir;
  CPsv source;
  ASSERT_EQ(LoadImage(source, dir, img.Build()), LoadResult::kOk);
  CPsv writer;
  ASSERT_EQ(writer.WriteConvertedFrom(source, dir.File("out.psv")), LoadResult::kOk);
  const Bytes out = testutil::ReadFile(dir.File("out.psv"));

  const std::uint32_t records = 0xA0 + 5 * 60;
  const std::uint32_t offsets[] = {records, records + 8, records + 8, records + 8 + 964,
                                   records + 8 + 964 + 8};
  ASSERT_EQ(out.size(), offsets[4] + 8u);
  for (std::size_t k = 0; k < 5; ++k) {
    const std::uint8_t* record = &out[0xA0 + 60 * k];
    EXPECT_EQ(bytes::GetU32LE(record + 56), offsets[k]) << k;
    EXPECT_EQ(bytes::GetU32LE(record + 16), img.files[k].data.size()) << k;
    EXPECT_TRUE(std::equal(img.files[k].data.begin(), img.files[k].data.end(), out.begin() + offsets[k])) << k;
  }
  for (std::size_t gap : {offsets[0] + 5, offsets[0] + 6, offsets[0] + 7, offsets[4] + 6, offsets[4] + 7})
    EXPECT_EQ(out[gap], 0) << gap;
  EXPECT_EQ(bytes::GetU32LE(&out[0x40]), 1024u + 5 * 1024u + 2048u);  // 5 files, 7 entries
  const std::uint32_t icons[] = {offsets[2], 964, offsets[0], 5, offsets[3], 7, 0, 0};
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(bytes::GetU32LE(&out[0x44 + 4 * i]), icons[i]) << i;
  EXPECT_EQ(bytes::GetU32LE(&out[0x64]), 5u);
  EXPECT_EQ(bytes::GetU32LE(&out[0x78]), 7u);
  EXPECT_EQ(bytes::GetU32LE(&out[0x38]), 0x2Cu);
  EXPECT_EQ(bytes::GetU32LE(&out[0x3C]), 2u);

  EXPECT_EQ(psv::Verify(out), psv::SignatureCheck::kValid);
  const psv::Seed seed = *psv::ContentSeed(out);
  EXPECT_TRUE(std::equal(seed.begin(), seed.end(), out.begin() + 8));
  // The same save always gives the same file; another save another seed.
  ASSERT_EQ(writer.WriteConvertedFrom(source, dir.File("again.psv")), LoadResult::kOk);
  EXPECT_EQ(testutil::ReadFile(dir.File("again.psv")), out);
  source.SetModified(0, testutil::MakeTime(2000, 1, 1, 0, 0, 0));
  ASSERT_EQ(writer.WriteConvertedFrom(source, dir.File("other.psv")), LoadResult::kOk);
  EXPECT_FALSE(std::equal(seed.begin(), seed.end(), testutil::ReadFile(dir.File("other.psv")).begin() + 8));
}

// Save writes back the bytes a PS3 left after the names' NULs, except in a name changed.
TEST(PsvSave, InPlaceKeepsNameFieldsOfUnchangedNames) {
  PsvImage img = ThreeFiles();
  img.files[0].nameJunk = 0xCC;
  img.files[1].nameJunk = 0xDD;
  testutil::TempDir dir;
  CPsv save;
  ASSERT_EQ(LoadImage(save, dir, img.Build()), LoadResult::kOk);
  save.SetName(1, "v.ico");
  save.RemoveEntry(2);
  ASSERT_TRUE(save.AddEntryFromDisk(save.sourcePath, "copy.psv"));
  EXPECT_EQ(save.Save(save.sourcePath), LoadResult::kSavedInPlace);
  EXPECT_FALSE(std::filesystem::exists(save.sourcePath + "~0"));
  const Bytes out = testutil::ReadFile(save.sourcePath);
  auto nameField = [&](std::size_t k) { return Bytes(out.begin() + 0xB8 + 60 * k, out.begin() + 0xD8 + 60 * k); };
  Bytes first = testutil::FromString("icon.sys");
  first.push_back(0);
  first.resize(32, 0xCC);
  EXPECT_EQ(nameField(0), first);
  Bytes second = testutil::FromString("v.ico");
  second.resize(32, 0);
  EXPECT_EQ(nameField(1), second);
  EXPECT_EQ(psv::Verify(out), psv::SignatureCheck::kValid);
  CPsv again;
  ASSERT_EQ(again.Load(save.sourcePath), LoadResult::kOk);
  ASSERT_EQ(again.FileCount(), 3);
  EXPECT_EQ(again.EntryAt(2)->Name(), "copy.psv");
  EXPECT_EQ(DataOf(again, 1), img.files[1].data);
}

// Real PS3 exports written again: every byte but the seed and the signature is what the
// PS3 wrote, and the signature verifies.
TEST(PsvCorpus, ExportsWrittenAgainByteForByte) {
  for (const char* name : {"psv/a.psv", "psv/k.psv"}) {
    REQUIRE_CORPUS(path, name);
    const Bytes original = testutil::ReadFile(path);
    CPsv save;
    ASSERT_EQ(save.Load(path), LoadResult::kOk) << name;
    EXPECT_EQ(save.signatureValid, true) << name;
    testutil::TempDir dir;
    ASSERT_EQ(save.Save(dir.File("again.psv")), LoadResult::kOk) << name;
    Bytes again = testutil::ReadFile(dir.File("again.psv"));
    EXPECT_EQ(psv::Verify(again), psv::SignatureCheck::kValid) << name;
    ASSERT_EQ(again.size(), original.size()) << name;
    std::copy(original.begin() + 0x08, original.begin() + 0x30, again.begin() + 0x08);
    EXPECT_EQ(again, original) << name;
  }
}

TEST(PsvCorpus, ThePlayStation1ExportVerifiesButIsRefused) {
  REQUIRE_CORPUS(path, "psv/j-ps1.psv");
  EXPECT_EQ(psv::Verify(testutil::ReadFile(path)), psv::SignatureCheck::kValid);
  CPsv save;
  EXPECT_EQ(save.Load(path), LoadResult::kInvalid);
  EXPECT_EQ(save.refusal, "This is a PlayStation 1 save: only PlayStation 2 saves can be opened.");
}
