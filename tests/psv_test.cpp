// PS3 exports: the signature question, a PS1 header over a PS2 layout, data read from each record's
// offset, the layout and signature of a written file, and the real exports written again.
#include <gtest/gtest.h>

#include <algorithm>
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
using testutil::PsvImage;

namespace {

PsvImage ThreeFiles() {
  PsvImage img;
  img.files.push_back(MakePsvFile("icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61")));
  img.files.push_back(MakePsvFile("view.ico", testutil::MakeBytes(1001, 2)));
  img.files.push_back(MakePsvFile("BESLES-12345SAVE", testutil::MakeBytes(10, 3), 0x8417));
  return img;
}

// A PS2 export whose kind word says PS1 is read as a PS1 export: its size word is no save's.
constexpr const char* kPs1SizeRefusal = "The save's 0 bytes are not 1 to 15 whole blocks of 8,192 bytes.";

}  // namespace

TEST(PsvLoad, SignatureQuestionAndPlayStation1Refusal) {
  PsvImage bad = ThreeFiles();
  bad.validSignature = false;
  PsvImage ps1 = ThreeFiles();
  ps1.kind = 1;
  const struct {
    const char* why;
    Bytes file;
    bool answer;
    LoadResult want;
    int questions;
    std::optional<bool> valid;
    std::string refusal;
  } cases[] = {
      {"signed", ThreeFiles().Build(), false, LoadResult::kOk, 0, true, ""},
      {"a bad signature, declined", bad.Build(), false, LoadResult::kInvalid, 1, std::nullopt, ""},
      {"a bad signature, accepted", bad.Build(), true, LoadResult::kOk, 1, false, ""},
      {"a PS2 layout marked PS1", ps1.Build(), true, LoadResult::kInvalid, 0, std::nullopt, kPs1SizeRefusal},
  };
  testutil::TempDir dir;
  for (const auto& c : cases) {
    testutil::WriteFile(dir.File("save.psv"), c.file);
    CPsv save;
    std::vector<std::string> asked;
    EXPECT_EQ(testutil::LoadAsking(save, dir.File("save.psv"),
                                   [&](const LoadQuestion& q) {
                                     asked.push_back(q.caption + ": " + q.text);
                                     return c.answer;
                                   }),
              c.want)
        << c.why;
    ASSERT_EQ(asked.size(), static_cast<std::size_t>(c.questions)) << c.why;
    if (c.questions > 0) {
      EXPECT_EQ(asked[0], "Invalid format: PS3 signature computed doesn't match stored.\n"
                          "Do you want to load it anyway?");
    }
    EXPECT_EQ(save.signatureValid, c.valid) << c.why;
    EXPECT_EQ(save.refusal, c.refusal) << c.why;
  }
}

// A file cut short anywhere after its magic is refused, saying so, and leaves the object
// as it was: in the header, the records, a file's data.
TEST(PsvLoad, CutShortFilesSaySo) {
  const Bytes ps2 = ThreeFiles().Build();
  testutil::TempDir dir;
  const struct {
    const char* why;
    std::size_t length;
  } cases[] = {
      {"within the header", 0x20},
      {"within the records", 0xA0 + 30},
      {"within a file's data", ps2.size() - 4},
  };
  for (const auto& c : cases) {
    testutil::WriteFile(dir.File("cut.psv"), Bytes(ps2.begin(), ps2.begin() + static_cast<std::ptrdiff_t>(c.length)));
    CPsv save;
    EXPECT_EQ(save.Load(dir.File("cut.psv")), LoadResult::kReadFailed) << c.why;
    EXPECT_EQ(save.refusal, psv::kCutShortRefusal) << c.why;
    EXPECT_FALSE(save.entries) << c.why;
  }
}

// Each file's data comes from the offset its record gives, names end at their NUL, and a
// mode word of the homebrew form (the mode in the upper 16 bits) is taken down.
TEST(PsvLoad, DataFromEachRecordsOffset) {
  PsvImage img = ThreeFiles();
  img.files[0].nameJunk = 0xCC;
  img.files[1].mode = 0x84970000;
  img.files[2].offset = 0xA0 + 3 * 60;  // first in the file, and icon.sys after it
  img.files[0].offset = 0xA0 + 3 * 60 + 12;
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("save.psv"), img.Build());
  CPsv save;
  ASSERT_EQ(save.Load(dir.File("save.psv")), LoadResult::kOk);
  ASSERT_EQ(save.FileCount(), 3);
  EXPECT_EQ(save.EntryAt(-1)->Title(), "AB");
  EXPECT_EQ(save.EntryAt(0)->Name(), "icon.sys");
  EXPECT_EQ(save.EntryAt(1)->mode, 0x8497u);
  for (int i : {0, 2}) {
    Bytes data;
    ASSERT_EQ(ReadEntryData(*save.EntryAt(i), save.container.get(), data), DataResult::kOk);
    EXPECT_EQ(data, img.files[static_cast<std::size_t>(i)].data) << i;
  }
}

// A written file: the records, each file's data at a 4-byte boundary with zeros between,
// the card space, the icons icon.sys names, and a signature that verifies with a seed made
// from the content, so that the same save always gives the same file.
TEST(PsvSave, LayoutIconsAndSignature) {
  Bytes iconSys = testutil::MakeIconSys("TITLE");
  for (auto [at, name] : {std::pair{0x104, "a.ico"}, {0x144, "b.ico"}, {0x184, "not there"}})
    std::copy_n(name, std::string_view(name).size(), iconSys.begin() + at);
  PsvImage img;
  img.files = {MakePsvFile("a.ico", testutil::MakeBytes(5, 1)), MakePsvFile("empty", {}),
               MakePsvFile("icon.sys", iconSys), MakePsvFile("b.ico", testutil::MakeBytes(7, 2)),
               MakePsvFile("last", testutil::MakeBytes(6, 3))};
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("in.psv"), img.Build());
  CPsv source;
  ASSERT_EQ(source.Load(dir.File("in.psv")), LoadResult::kOk);
  ASSERT_EQ(CPsv().WriteConvertedFrom(source, dir.File("out.psv")), LoadResult::kOk);
  const Bytes out = testutil::ReadFile(dir.File("out.psv"));

  const std::uint32_t d = 0xA0 + 5 * 60;
  const std::uint32_t offsets[] = {d, d + 8, d + 8, d + 8 + 964, d + 8 + 964 + 8};
  ASSERT_EQ(out.size(), offsets[4] + 8u);
  for (std::size_t k = 0; k < 5; ++k) {
    EXPECT_EQ(bytes::GetU32LE(&out[0xA0 + 60 * k + 56]), offsets[k]) << k;
    EXPECT_TRUE(std::equal(img.files[k].data.begin(), img.files[k].data.end(), out.begin() + offsets[k])) << k;
  }
  for (std::size_t gap : {d + 5, d + 6, d + 7, offsets[4] + 6, offsets[4] + 7}) EXPECT_EQ(out[gap], 0) << gap;
  // Four files of a cluster each (the empty one takes none), seven entries of 512 bytes in
  // four more.
  const std::uint32_t words[] = {4 * 1024 + 4 * 1024, offsets[2], 964, offsets[0], 5, offsets[3], 7, 0, 0, 5};
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(bytes::GetU32LE(&out[0x40 + 4 * i]), words[i]) << i;
  EXPECT_EQ(psv::Verify(out), psv::SignatureCheck::kValid);
  const psv::Seed seed = *psv::ContentSeed(out);
  EXPECT_TRUE(std::equal(seed.begin(), seed.end(), out.begin() + 8));
  ASSERT_EQ(CPsv().WriteConvertedFrom(source, dir.File("again.psv")), LoadResult::kOk);
  EXPECT_EQ(testutil::ReadFile(dir.File("again.psv")), out);
}

// Real exports written again: every byte but the seed and the signature is the PS3's
// (the bytes it leaves after names included), and the signature verifies. The PS1 exports
// too, but for a PC tool's file, which gets the blocks' size at 0x5C as well.
TEST(PsvCorpus, ExportsWrittenAgainByteForByte) {
  for (const char* name : {"psv/a.psv", "psv/k.psv", "psv/j-ps1.psv", "ps1save/d.psv", "ps1save/e-tool.psv"}) {
    REQUIRE_CORPUS(path, name);
    const Bytes original = testutil::ReadFile(path);
    EXPECT_EQ(psv::Verify(original), psv::SignatureCheck::kValid) << name;
    CPsv save;
    ASSERT_EQ(save.Load(path), LoadResult::kOk) << name;
    EXPECT_EQ(save.signatureValid, true) << name;
    EXPECT_EQ(ps1::IsPs1(save), psv::KindOf(original) == psv::SaveKind::kPs1) << name;
    testutil::TempDir dir;
    ASSERT_EQ(save.Save(dir.File("again.psv")), LoadResult::kOk) << name;
    Bytes again = testutil::ReadFile(dir.File("again.psv"));
    EXPECT_EQ(psv::Verify(again), psv::SignatureCheck::kValid) << name;
    ASSERT_EQ(again.size(), original.size()) << name;
    Bytes expected = original;
    std::copy(again.begin() + 0x08, again.begin() + 0x30, expected.begin() + 0x08);
    if (ps1::IsPs1(save)) bytes::PutU32LE(expected.data() + 0x5C, bytes::GetU32LE(original.data() + 0x40));
    EXPECT_TRUE(again == expected) << name;
  }
}
