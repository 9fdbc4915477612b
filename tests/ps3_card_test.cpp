// The PS3's cards. Each .VME here is made from a plain card with the published facts (hash
// block and encryption written in this file, through the crypto interface only).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include "card/card_messages.h"
#include "card/card_size.h"
#include "card/identify.h"
#include "card/kinds.h"
#include "card/ps3_card.h"
#include "formats/registry.h"
#include "model/entry_data.h"
#include "support/card_builder.h"
#include "support/psu_builder.h"

namespace {

using testutil::Bytes;
using card::CardType;
constexpr std::size_t kSeg = 16384, kEcc8MB = 8650752;  // an 8 MB card with ECC: 528 segments

const io::Aes128Key kRetail = {0x64, 0xE3, 0x0D, 0x19, 0xA1, 0x69, 0x41, 0xD6, 0x77, 0xE3, 0x2E, 0xEB, 0xE0, 0x7F, 0x45, 0xD2};
const io::Aes128Key kDebug = {0x30, 0x47, 0x9D, 0x4B, 0x80, 0xE8, 0x9E, 0x2B, 0x59, 0xE5, 0xC9, 0x14, 0x5E, 0x10, 0x64, 0xA9};
const io::Aes128Key& KeyOf(card::VmeKey key) { return key == card::VmeKey::kDebug ? kDebug : kRetail; }

// The image, then the SHA-1 of each of its segments in a zeroed block.
Bytes PlainForm(Bytes image) {
  const std::size_t n = image.size();
  image.resize(n + kSeg, 0);
  for (std::size_t at = 0; at < n; at += kSeg) {
    const io::Sha1Digest sha = *io::Sha1Of(std::span(image.data() + at, kSeg));
    std::copy(sha.begin(), sha.end(), image.begin() + static_cast<std::ptrdiff_t>(n + at / kSeg * 20));
  }
  return image;
}
// Each segment on its own, from a zero IV.
Bytes Crypt(Bytes b, const io::Aes128Key& key, bool encrypt) {
  for (std::size_t at = 0; at + kSeg <= b.size(); at += kSeg) {
    std::span<std::uint8_t> s(b.data() + at, kSeg);
    EXPECT_TRUE(encrypt ? io::Aes128CbcEncrypt(key, {}, s, s) : io::Aes128CbcDecrypt(key, {}, s, s));
  }
  return b;
}

std::unique_ptr<CSaveGame> MakeSave(const std::string& folder, std::size_t bytes) {
  testutil::PsuImage image;
  image.folder = folder;
  image.files = {{"icon.sys", testutil::MakeIconSys("T " + folder)}, {"DATA", testutil::MakeBytes(bytes, 7)}};
  std::unique_ptr<CSaveGame> save = CreateForExtension("psu");
  EXPECT_EQ(save->Load(io::MemorySource(image.Build(), folder + ".psu")), LoadResult::kOk);
  return save;
}
const card::ImportOptions kAt2024 = [] {
  card::ImportOptions o;
  o.now = testutil::MakeTime(2024, 5, 6, 7, 8, 9);
  return o;
}();

// A card formatted here with `saves` saves; given ECC it is `ecc`.
Bytes Formatted(const testutil::TempDir& dir, bool ecc, int saves, unsigned megabytes = 8) {
  const std::string path = dir.File(ecc ? "made.ps2" : "made.mcd");
  testutil::CardFile::Format(path, ecc, megabytes);
  std::unique_ptr<card::Card> c = card::OpenCard(path).card;
  for (int i = 0; i < saves; ++i) c->Import(*MakeSave("BESLES-1000" + std::to_string(i) + "S", 20000 + 9000 * i), kAt2024);
  return testutil::ReadFile(path);
}
Bytes Corpus(const char* relative) {
  const std::string path = testutil::CorpusPath(relative);
  return path.empty() ? Bytes{} : testutil::ReadFile(path);
}

std::unique_ptr<card::Card> Open(const std::string& path) {
  card::OpenedCard opened = card::OpenCard(path);
  EXPECT_TRUE(opened.card) << path << ": " << card::messages::OpenFailure(opened);
  return std::move(opened.card);
}
card::ConvertResult Convert(const std::string& from, CardType kind, const std::string& to, CardType toKind,
                            std::string* detail = nullptr, card::VmeKey key = card::VmeKey::kRetail) {
  io::OutputFile out(to, false);
  return card::ConvertCardFile(io::OpenSource(from), kind, out, {toKind, key, false}, detail);
}

// The same saves, titles, sizes, free space and file bytes.
void ExpectSameCard(const card::Card& expected, const card::Card& actual, const std::string& why) {
  auto text = [](const card::Card& c) {
    std::string all = std::to_string(c.List().freeKB);
    for (const card::SaveInfo& s : c.List().saves) {
      all += " " + s.folder + "/" + s.title + "/" + std::to_string(s.sizeKB);
      const auto save = c.OpenSave(s.folder).save;
      for (int f = 0; save && f < save->FileCount(); ++f) {
        Bytes data;
        ReadEntryData(*save->EntryAt(f), save->container.get(), data);
        all += "/" + std::to_string(std::hash<std::string_view>{}({reinterpret_cast<const char*>(data.data()), data.size()}));
      }
    }
    return all;
  };
  EXPECT_EQ(text(expected), text(actual)) << why;
}

TEST(VmeCard, ReadsAndConvertsBackAsThePlainCardUnderEitherKey) {
  testutil::TempDir dir;
  const std::vector<std::pair<const char*, Bytes>> cards = {
      {"corpus card/a.ps2", Corpus("card/a.ps2")}, {"corpus card/b-empty.ps2", Corpus("card/b-empty.ps2")},
      {"made here, three saves", Formatted(dir, true, 3)}};
  for (const auto& [name, image] : cards) {
    if (image.empty()) continue;  // no corpus
    testutil::WriteFile(dir.File("plain.ps2"), image);
    for (card::VmeKey key : {card::VmeKey::kRetail, card::VmeKey::kDebug}) {
      const std::string why = name + std::string(", ") + std::string(card::VmeKeyName(key));
      testutil::WriteFile(dir.File("SCEVMC0.VME"), Crypt(PlainForm(image), KeyOf(key), true));
      ASSERT_EQ(card::Identify(dir.File("SCEVMC0.VME")).card, &card::KindOf(CardType::kPs3Vme)) << why;
      const std::unique_ptr<card::Card> vme = Open(dir.File("SCEVMC0.VME"));
      ASSERT_TRUE(vme) << why;
      EXPECT_EQ(dynamic_cast<const card::VmeCard&>(*vme).key(), key) << why;
      EXPECT_EQ(card::SizeText(card::SizeOf(*vme)), "8 MB PS2 Classics card (.VME), " + std::string(card::VmeKeyName(key)) + " key");
      ExpectSameCard(*Open(dir.File("plain.ps2")), *vme, why);
      ASSERT_EQ(Convert(dir.File("SCEVMC0.VME"), CardType::kPs3Vme, dir.File("out.ps2"), CardType::kImageWithEcc),
                card::ConvertResult::kConverted) << why;
      EXPECT_TRUE(testutil::ReadFile(dir.File("out.ps2")) == image) << why;
    }
  }
}

TEST(VmeCard, AChangeIsWrittenWithTheKeyItWasReadWithAndFreshHashes) {
  const std::vector<std::pair<const char*, std::function<void(card::Card&)>>> changes = {
      {"import", [](card::Card& c) { EXPECT_EQ(c.Import(*MakeSave("BESLES-2N", 50000), kAt2024).result, card::ImportResult::kImported); }},
      {"delete", [](card::Card& c) { EXPECT_EQ(c.Remove("BESLES-10001S"), card::RemoveResult::kRemoved); }},
      {"replace", [](card::Card& c) {
         card::ImportOptions o = kAt2024;
         o.replace = true;
         EXPECT_EQ(c.Import(*MakeSave("BESLES-10000S", 300000), o).result, card::ImportResult::kReplaced);
       }}};
  testutil::TempDir dir;
  const Bytes image = Formatted(dir, true, 2);
  const std::string plain = dir.File("plain.ps2"), path = dir.File("SCEVMC1.VME");
  for (const auto& [why, change] : changes)
    for (card::VmeKey key : {card::VmeKey::kRetail, card::VmeKey::kDebug}) {
      testutil::WriteFile(plain, image);
      testutil::WriteFile(path, Crypt(PlainForm(image), KeyOf(key), true));
      change(*Open(plain));
      change(*Open(path));
      ASSERT_NE(testutil::ReadFile(plain), image) << why;
      EXPECT_TRUE(Crypt(testutil::ReadFile(path), KeyOf(key), false) == PlainForm(testutil::ReadFile(plain))) << why;
      ExpectSameCard(*Open(plain), *Open(path), why);
    }
  // Bytes in memory are written back to memory, as a .VME.
  card::OpenedCard inMemory = card::OpenCard(io::MemorySource(Crypt(PlainForm(image), kDebug, true), "SCEVMC0.VME"));
  ASSERT_TRUE(inMemory.card);
  changes[0].second(*inMemory.card);
  const io::SourcePtr& file = dynamic_cast<const card::VmeCard&>(*inMemory.card).file();
  const Bytes plainForm = Crypt(Bytes(file->data(), file->data() + file->size()), kDebug, false);
  EXPECT_TRUE(plainForm == PlainForm(Bytes(plainForm.begin(), plainForm.end() - kSeg)));
  // A .VME another program wrote meanwhile (under the other key) is decrypted again first.
  testutil::WriteFile(path, Crypt(PlainForm(image), kRetail, true));
  const std::unique_ptr<card::Card> held = Open(path);
  testutil::WriteFile(path, Crypt(PlainForm(Formatted(dir, true, 1)), kDebug, true));
  std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
  changes[0].second(*held);
  EXPECT_EQ(Open(path)->List().saves.size(), 2u);
  EXPECT_EQ(card::DecryptVme(*io::OpenSource(path)).key, card::VmeKey::kDebug);
}

TEST(VmeCard, DamageIsNamedAndTheCardOnlyRead) {
  const struct {
    const char* why;
    std::function<void(Bytes&)> spoil;
    card::IssueKind kind;
    std::string where, text;  // the issue's place and a part of its message
  } rows[] = {
      {"a byte of segment 5", [](Bytes& f) { f[5 * kSeg + 100] ^= 1; }, card::IssueKind::kVmeHash, "segment 5",
       "card bytes 0x14000-0x17FFF (pages 155-186)"},
      {"the last byte of the card", [](Bytes& f) { f[kEcc8MB - 1] ^= 1; }, card::IssueKind::kVmeHash, "segment 527",
       "card bytes 0x83C000-0x83FFFF (pages 16352-16383)"},
      {"a byte of segment 0's hash", [](Bytes& f) { f[kEcc8MB + 3] ^= 1; }, card::IssueKind::kVmeHash, "segment 0",
       "card bytes 0x0-0x3FFF (pages 0-31)"},
      {"the first block", [](Bytes& f) { f[2] ^= 1; }, card::IssueKind::kNoVmeKey, "", "neither the retail nor the debug key"},
      {"another key", [](Bytes& f) { f = Crypt(Crypt(f, kRetail, false), kDebug, false); }, card::IssueKind::kNoVmeKey, "",
       "neither the retail nor the debug key"},
      {"cut by a byte", [](Bytes& f) { f.pop_back(); }, card::IssueKind::kNotACard, "", "not a PS2 Classics card (.VME)"},
      {"cut by two segments", [](Bytes& f) { f.resize(f.size() - 2 * kSeg); }, card::IssueKind::kNotACard, "", "not a PS2 Classics"},
  };
  testutil::TempDir dir;
  const Bytes good = Crypt(PlainForm(Formatted(dir, true, 1)), kRetail, true);
  const std::string path = dir.File("SCEVMC0.VME");
  for (const auto& r : rows) {
    Bytes file = good;
    r.spoil(file);
    testutil::WriteFile(path, file);
    card::OpenedCard opened = card::OpenCard(path);
    const std::vector<card::Issue> issues = opened.card ? opened.card->Check() : opened.issues;
    const auto i = std::find_if(issues.begin(), issues.end(), [&](const card::Issue& i) { return i.kind == r.kind; });
    ASSERT_NE(i, issues.end()) << r.why << ": " << card::messages::OpenFailure(opened);
    EXPECT_EQ(i->where, r.where) << r.why;
    EXPECT_NE(i->message.find(r.text), std::string::npos) << r.why << ": " << i->message;
    EXPECT_EQ(opened.card != nullptr, r.kind == card::IssueKind::kVmeHash) << r.why;
    if (!opened.card) continue;
    EXPECT_EQ(opened.card->List().saves.size(), 1u) << r.why;
    EXPECT_EQ(opened.card->Import(*MakeSave("BESLES-2N", 5000), kAt2024).result, card::ImportResult::kCardDamaged) << r.why;
    EXPECT_NE(opened.card->Repair().result, card::RepairResult::kRepaired) << r.why;
    EXPECT_TRUE(testutil::ReadFile(path) == file) << r.why;
    std::string detail;
    EXPECT_EQ(Convert(path, CardType::kPs3Vme, dir.File("out.ps2"), CardType::kImageWithEcc, &detail),
              card::ConvertResult::kSegmentsDamaged) << r.why;
    EXPECT_EQ(detail, r.where) << r.why;
  }
}

TEST(Ps3Cards, ConvertedOnlyAtTheSizesAPs3TakesAndBackByteForByte) {
  const struct {
    unsigned megabytes;
    bool ecc;
    CardType to;
    std::string refusal;  // a part of it; empty: made, and converted back byte for byte
  } rows[] = {
      {16, true, CardType::kPs3Vme, "a .VME is made only of an 8 MB card: PS2 Classics use 8 MB cards, and a .VME's hash "
                                    "block holds the hashes of at most 819 segments, where a 16 MB card has 1056"},
      {4, false, CardType::kPs3Vme, "only of an 8 MB card"},
      {8, false, CardType::kPs3Vme, ""},
      {64, false, CardType::kPs3Vm2, "a PS3 takes .VM2 cards up to 32 MB: a 64 MB one overflows its index of cards, and the "
                                     "console loops at boot until the file is removed"},
      {16, false, CardType::kPs3Vm2, ""},
      {8, true, CardType::kPs3Vm2, ""},
  };
  testutil::TempDir dir;
  for (const auto& r : rows) {
    const std::string why = std::to_string(r.megabytes) + " MB to " + std::string(card::KindOf(r.to).name);
    const std::string source = dir.File(r.ecc ? "card.ps2" : "card.mcd"), target = dir.File("out.ps3");
    testutil::WriteFile(source, Formatted(dir, r.ecc, 2, r.megabytes));
    std::string detail;
    EXPECT_EQ(Convert(source, CardType::kRawImage, target, r.to, &detail),
              r.refusal.empty() ? card::ConvertResult::kConverted : card::ConvertResult::kNotForPs3) << why;
    EXPECT_NE(detail.find(r.refusal), std::string::npos) << why << ": " << detail;
    EXPECT_EQ(std::filesystem::exists(target), r.refusal.empty()) << why;
    if (!r.refusal.empty()) continue;
    ASSERT_EQ(Convert(target, r.to, dir.File("back"), r.ecc ? CardType::kImageWithEcc : CardType::kRawImage),
              card::ConvertResult::kConverted) << why;
    EXPECT_TRUE(testutil::ReadFile(dir.File("back")) == testutil::ReadFile(source)) << why;
    std::filesystem::remove(target);
  }
  // A 64 MB .VM2 made elsewhere is only read.
  const std::string big = dir.File("big.VM2");
  testutil::CardFile::Format(big, true, 64);
  const Bytes before = testutil::ReadFile(big);
  const std::unique_ptr<card::Card> c = Open(big);
  ASSERT_TRUE(c && !c->issues().empty());
  EXPECT_EQ(c->type(), CardType::kPs3Vm2);
  EXPECT_EQ(c->issues().back().kind, card::IssueKind::kTooLargeForPs3);
  EXPECT_EQ(c->Import(*MakeSave("BESLES-2N", 5000), kAt2024).result, card::ImportResult::kCardDamaged);
  EXPECT_NE(c->Repair().result, card::RepairResult::kRepaired);
  EXPECT_TRUE(testutil::ReadFile(big) == before);
}

}  // namespace
