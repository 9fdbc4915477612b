#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <cstring>
#include <string>
#include <vector>

#include "formats/lzari.h"
#include "formats/max/max.h"
#include "formats/psu/psu.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "model/bytes.h"
#include "model/entry_data.h"
#include "support/lzari_encoder.h"
#include "support/max_builder.h"
#include "support/test_util.h"

#ifdef MORAVELT_HAVE_ZLIB
#include <zlib.h>
#endif

using testutil::Bytes;
using testutil::MaxFile;
using testutil::LzariCompress;
using testutil::MaxImage;

namespace {

// Records the questions a load asks and answers them all the same way, as a front end
// that asks the user loads again with the answer.
struct Questions {
  bool answer = false;
  std::vector<std::pair<std::string, std::string>> asked;
  bool Answer(const LoadQuestion& q) {
    asked.emplace_back(q.text, q.caption);
    return answer;
  }
  LoadResult Load(CSaveGame& save, const std::string& path) {
    return LoadWithAnswers(save, io::OpenSource(path), [this](const LoadQuestion& q) { return Answer(q); });
  }
};

MaxImage ThreeFiles() {
  MaxImage img;
  img.files = {{"icon.sys", testutil::MakeIconSys("\x82\x60\x82\x61")},
               {"view.ico", testutil::MakeBytes(1000, 2)},
               {"BESLES-12345SAVE", testutil::MakeBytes(10, 3)}};
  return img;
}

LoadResult LoadImage(CMax& save, const testutil::TempDir& dir, const Bytes& image,
                     const std::string& name = "save.max", Questions* q = nullptr) {
  testutil::WriteFile(dir.File(name), image);
  return q ? q->Load(save, dir.File(name)) : save.Load(dir.File(name));
}

// The file names, sizes and bytes of a loaded save, for comparing saves.
struct FileView {
  std::string name;
  Bytes data;
  friend bool operator==(const FileView&, const FileView&) = default;
};

std::vector<FileView> FilesOf(const CSaveGame& save) {
  std::vector<FileView> out;
  if (!save.entries) return out;
  for (std::size_t pos = 1; pos < save.entries->size(); ++pos) {
    const SaveEntry& e = (*save.entries)[pos];
    FileView f{std::string(e.Name()), {}};
    EXPECT_EQ(ReadEntryData(e, save.container.get(), f.data), DataResult::kOk) << f.name;
    EXPECT_EQ(f.data.size(), e.size) << f.name;
    out.push_back(std::move(f));
  }
  return out;
}

// What must survive a failed load untouched.
struct Snapshot {
  std::string sourcePath;
  std::vector<std::string> names;
  std::vector<std::uint32_t> sizes;
  bool hasTable;
  explicit Snapshot(const CSaveGame& s) : sourcePath(s.sourcePath), hasTable(s.entries.has_value()) {
    if (s.entries)
      for (const SaveEntry& e : *s.entries) {
        names.emplace_back(e.Name());
        sizes.push_back(e.size);
      }
  }
  friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

}  // namespace

TEST(MaxLoad, BuildsRootAndFilesWithOneLoadTime) {
  testutil::TempDir dir;
  MaxImage img = ThreeFiles();
  CMax save;
  Questions q;
  EntryTime before = EntryTime::Now();
  ASSERT_EQ(LoadImage(save, dir, img.Build(), "save.max", &q), LoadResult::kOk);
  EXPECT_TRUE(q.asked.empty()) << "a matching CRC asks nothing";
  EXPECT_EQ(save.kind, 4);
  EXPECT_EQ(save.sourcePath, dir.File("save.max"));
  ASSERT_TRUE(save.entries);
  ASSERT_EQ(save.entries->size(), 4u);

  const SaveEntry& root = (*save.entries)[0];
  EXPECT_EQ(root.mode, 0x8427u);
  EXPECT_EQ(root.size, 5u);
  EXPECT_EQ(root.Name(), "BESLES-12345SAVE");
  EXPECT_EQ(root.RawTitle(), "\x82\x60\x82\x61");
  EXPECT_EQ(root.Title(), "AB");
  EXPECT_FALSE(root.Data());
  EXPECT_GE(root.created.year, before.year);
  for (std::size_t pos = 0; pos < 4; ++pos) {
    const SaveEntry& e = (*save.entries)[pos];
    EXPECT_EQ(e.created, root.created) << pos;
    EXPECT_EQ(e.modified, root.created) << pos;
    EXPECT_EQ(e.DataOffset().value_or(0), 0u);
    EXPECT_FALSE(e.DiskPath());
    EXPECT_EQ(e.aux1, 0u);
    EXPECT_EQ(e.aux2, 0u);
    if (pos == 0) continue;
    const MaxFile& f = img.files[pos - 1];
    EXPECT_EQ(e.mode, 0x8497u);
    EXPECT_EQ(e.Name(), f.name);
    EXPECT_EQ(e.Title(), f.name);
    EXPECT_EQ(e.RawTitle(), f.name);
    EXPECT_EQ(e.size, f.data.size());
    ASSERT_TRUE(e.Data());
    EXPECT_TRUE(std::ranges::equal(*e.Data(), f.data)) << f.name;
  }
}

TEST(MaxLoad, SignatureIsNotChecked) {
  testutil::TempDir dir;
  MaxImage img = ThreeFiles();
  img.signature = "\x01\x02 anything";
  CMax save;
  EXPECT_EQ(LoadImage(save, dir, img.Build()), LoadResult::kOk);
}

#ifdef MORAVELT_HAVE_ZLIB
// The stored CRC covers every byte of the file except its own four, which count as
// zero; checked with an independent CRC, through the loader's question.
TEST(MaxLoad, CrcCoversEveryByteButItsOwnField) {
  testutil::TempDir dir;
  MaxImage img;
  img.files = {{"a", Bytes{1, 2, 3}}};
  Bytes image = img.Build();
  Bytes zeroed = image;
  std::fill(zeroed.begin() + 12, zeroed.begin() + 16, 0);
  ASSERT_EQ(bytes::GetU32LE(&image[12]),
            static_cast<std::uint32_t>(crc32(0L, zeroed.data(), static_cast<uInt>(zeroed.size()))));

  for (std::size_t i = 0; i < image.size(); ++i) {
    Bytes changed = image;
    changed[i] ^= 0x40;
    CMax save;
    Questions q;  // answers No
    LoadResult r = LoadImage(save, dir, changed, "save.max", &q);
    EXPECT_EQ(q.asked.size(), 1u) << "byte " << i << " changed without the CRC noticing";
    EXPECT_EQ(r, LoadResult::kInvalid) << i;
  }
  // The stored field itself is never summed: the right value in it loads whatever was
  // there when the sum was taken.
  Bytes changed = image;
  changed[0] ^= 0x40;
  Bytes z = changed;
  std::fill(z.begin() + 12, z.begin() + 16, 0);
  bytes::PutU32LE(&changed[12], static_cast<std::uint32_t>(crc32(0L, z.data(), static_cast<uInt>(z.size()))));
  CMax save;
  EXPECT_EQ(LoadImage(save, dir, changed), LoadResult::kOk);
}
#endif

TEST(MaxLoad, CrcMismatchAsksAndFollowsTheAnswer) {
  testutil::TempDir dir;
  MaxImage img = ThreeFiles();
  img.validCrc = false;
  Bytes image = img.Build();

  CMax yes;
  Questions qy;
  qy.answer = true;
  ASSERT_EQ(LoadImage(yes, dir, image, "save.max", &qy), LoadResult::kOk);
  ASSERT_EQ(qy.asked.size(), 1u);
  EXPECT_EQ(qy.asked[0].first,
            "CRC32 value computed doesn't match stored.\nDo you want to load it anyway?");
  EXPECT_EQ(qy.asked[0].second, "Invalid format");
  EXPECT_EQ(yes.FileCount(), 3);
  EXPECT_TRUE(std::ranges::equal(*(*yes.entries)[2].Data(), img.files[1].data));

  // No keeps what was loaded before.
  CMax no;
  ASSERT_EQ(LoadImage(no, dir, ThreeFiles().Build(), "good.max"), LoadResult::kOk);
  Snapshot before(no);
  Questions qn;
  EXPECT_EQ(LoadImage(no, dir, image, "save.max", &qn), LoadResult::kInvalid);
  EXPECT_EQ(qn.asked.size(), 1u);
  EXPECT_TRUE(Snapshot(no) == before);

  // A load given no answer stops at the question, with nothing changed, and names it.
  CMax silent;
  EXPECT_EQ(LoadImage(silent, dir, image), LoadResult::kNeedsAnswer);
  EXPECT_FALSE(silent.entries);
  EXPECT_TRUE(silent.sourcePath.empty());
  ASSERT_TRUE(silent.question);
  EXPECT_EQ(silent.question->text, qy.asked[0].first);
}

TEST(MaxLoad, ShortFilesAndMissingFiles) {
  testutil::TempDir dir;
  CMax save;
  EXPECT_EQ(save.Load(dir.File("absent.max")), LoadResult::kOpenFailed);
  Bytes image = ThreeFiles().Build();
  EXPECT_EQ(LoadImage(save, dir, Bytes(image.begin(), image.begin() + 91)), LoadResult::kReadFailed);
  EXPECT_EQ(LoadImage(save, dir, Bytes{}), LoadResult::kReadFailed);
  EXPECT_FALSE(save.entries);
}

TEST(MaxLoad, RecordsStartWherePlusEightIsAMultipleOfSixteen) {
  struct Case {
    std::uint32_t firstSize;
    std::size_t secondAt;
  };
  for (Case c : {Case{10, 56}, Case{100, 136}, Case{0, 40}, Case{4, 40}, Case{5, 56}}) {
    EXPECT_EQ(armax::NextRecord(0, c.firstSize), c.secondAt) << c.firstSize;
    // A payload laid out by hand, the gap filled with bytes that must not be read.
    Bytes payload(c.secondAt + 36 + 3, 0x77);
    bytes::PutU32LE(&payload[0], c.firstSize);
    std::memset(&payload[4], 0, 32);
    std::memcpy(&payload[4], "first", 5);
    for (std::uint32_t i = 0; i < c.firstSize; ++i) payload[36 + i] = static_cast<std::uint8_t>(i);
    bytes::PutU32LE(&payload[c.secondAt], 3);
    std::memset(&payload[c.secondAt + 4], 0, 32);
    std::memcpy(&payload[c.secondAt + 4], "second", 6);
    payload[c.secondAt + 36] = 'x';
    payload[c.secondAt + 37] = 'y';
    payload[c.secondAt + 38] = 'z';

    MaxImage img;
    img.fileCount = 2;
    img.payloadLength = static_cast<std::uint32_t>(payload.size());
    img.stream = testutil::LzariCompress(payload);
    testutil::TempDir dir;
    CMax save;
    ASSERT_EQ(LoadImage(save, dir, img.Build()), LoadResult::kOk) << c.firstSize;
    EXPECT_EQ((*save.entries)[1].size, c.firstSize);
    EXPECT_EQ((*save.entries)[2].Name(), "second");
    EXPECT_TRUE(std::ranges::equal(*(*save.entries)[2].Data(), testutil::FromString("xyz")));
  }
}

TEST(MaxLoad, NamesFillingAllThirtyTwoBytes) {
  const std::string folder32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  const std::string file32 = "abcdefghijklmnopqrstuvwxyz-_6789";
  MaxImage img;
  img.folder = folder32;
  img.files = {{file32, Bytes{9}}};
  testutil::TempDir dir;
  CMax save;
  ASSERT_EQ(LoadImage(save, dir, img.Build()), LoadResult::kOk);
  const SaveEntry& root = (*save.entries)[0];
  EXPECT_EQ(root.Name(), folder32);  // a folder keeps all 32: a game looks for them all
  EXPECT_EQ(root.RawTitle(), folder32);
  EXPECT_EQ(root.Title(), folder32);
  const SaveEntry& f = (*save.entries)[1];
  EXPECT_EQ(f.Name(), file32.substr(0, 31));
  EXPECT_EQ(f.Title(), file32);
  EXPECT_EQ(f.RawTitle(), file32);
}

TEST(MaxLoad, NoFilesGivesRootAlone) {
  MaxImage img;  // file count 0, payload length 0, an empty stream
  Bytes image = img.Build();
  EXPECT_EQ(image.size(), 92u + LzariCompress(Bytes{}).size());
  testutil::TempDir dir;
  CMax save;
  ASSERT_EQ(LoadImage(save, dir, image), LoadResult::kOk);
  ASSERT_EQ(save.entries->size(), 1u);
  EXPECT_EQ((*save.entries)[0].size, 2u);

  // The header alone, with nothing after it, is the same empty save.
  Bytes bare(image.begin(), image.begin() + 92);
  testutil::FixMaxCrc(bare);
  CMax bareSave;
  ASSERT_EQ(LoadImage(bareSave, dir, bare), LoadResult::kOk);
  EXPECT_EQ(bareSave.FileCount(), 0);
}

// Files whose header and payload disagree: each is refused with -6 and the object keeps
// the save it held.
TEST(MaxLoad, DamagedFilesAreRefusedAndChangeNothing) {
  struct Case {
    const char* why;
    void (*damage)(MaxImage&);
  };
  const Case cases[] = {
      {"more records than the payload holds",
       [](MaxImage& m) { m.fileCount = 4; }},
      {"a count no payload could hold", [](MaxImage& m) { m.fileCount = 0xFFFFFFFFu; }},
      {"files but no payload",
       [](MaxImage& m) { m.payloadLength = 0; m.stream = Bytes{}; }},
      {"a record's data reaching past the payload",
       [](MaxImage& m) { m.payloadLength = static_cast<std::uint32_t>(m.Payload().size() - 1); }},
      {"the last record's head cut short",
       [](MaxImage& m) {
         m.files.push_back({"tail", Bytes{}});
         m.fileCount = 4;
         m.payloadLength = static_cast<std::uint32_t>(m.Payload().size() - 20);
       }},
      {"a payload length over the cap",
       [](MaxImage& m) { m.payloadLength = armax::kMaxPayload + 1; m.fileCount = 0; }},
      {"a payload length the stream can't produce",
       [](MaxImage& m) { m.payloadLength = 40u << 20; }},
      {"a stream that runs dry",
       [](MaxImage& m) {
         Bytes s = testutil::LzariCompress(m.Payload());
         s.resize(s.size() / 2);
         m.stream = s;
       }},
      {"a stream of junk too short for its payload",
       [](MaxImage& m) { m.stream = testutil::MakeBytes(40, 99); }},
  };
  testutil::TempDir dir;
  for (const Case& c : cases) {
    CMax save;
    ASSERT_EQ(LoadImage(save, dir, ThreeFiles().Build(), "good.max"), LoadResult::kOk);
    Snapshot before(save);
    MaxImage img = ThreeFiles();
    img.files[1].data = testutil::MakeBytes(3000, 4);  // a stream long enough to cut in half
    c.damage(img);
    EXPECT_EQ(LoadImage(save, dir, img.Build()), LoadResult::kInvalid) << c.why;
    EXPECT_TRUE(Snapshot(save) == before) << c.why;

    CMax fresh;
    EXPECT_EQ(LoadImage(fresh, dir, img.Build()), LoadResult::kInvalid) << c.why;
    EXPECT_FALSE(fresh.entries) << c.why;
    EXPECT_TRUE(fresh.sourcePath.empty()) << c.why;
  }
}

// Every prefix of a valid file: the header needs all 92 bytes; after that the CRC no
// longer matches (answered Yes here) and the stream runs dry, so nothing loads unless
// only its last few bytes are gone.
TEST(MaxLoad, TruncationSweep) {
  Bytes image = ThreeFiles().Build();
  testutil::TempDir dir;
  constexpr std::size_t kUndetectable = 256;  // see LzariDecode.TruncatedStreamsFailOnceTheyRunDry
  // Every length around the header and the end, every fifth one in between.
  for (std::size_t len = 0; len < image.size(); len += (len < 100 || len + 300 > image.size()) ? 1 : 5) {
    CMax save;
    Questions q;
    q.answer = true;
    LoadResult r = LoadImage(save, dir, Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(len)), "save.max", &q);
    if (len < 92) {
      EXPECT_EQ(r, LoadResult::kReadFailed) << len;
      EXPECT_TRUE(q.asked.empty());
    } else if (len + kUndetectable <= image.size()) {
      EXPECT_EQ(r, LoadResult::kInvalid) << len;
      EXPECT_EQ(q.asked.size(), 1u);
    } else {
      EXPECT_TRUE(r == LoadResult::kInvalid || r == LoadResult::kOk) << len;
    }
    if (r != LoadResult::kOk) {
      EXPECT_FALSE(save.entries) << len;
    }
  }
}

// Random damage anywhere: a defined result every time, never a crash or a stray access.
TEST(MaxLoad, CorruptionSweep) {
  MaxImage img = ThreeFiles();
  Bytes image = img.Build();
  testutil::TempDir dir;
  Bytes noise = testutil::MakeBytes(4000, 77);
  for (int round = 0; round < 1000; ++round) {
    Bytes changed = image;
    int flips = 1 + noise[static_cast<std::size_t>(round) * 3] % 4;
    for (int f = 0; f < flips; ++f) {
      std::size_t at = (noise[(round * 3 + f + 1) % noise.size()] * 131u + round * 17u) % changed.size();
      changed[at] ^= static_cast<std::uint8_t>(1u << (round % 8));
    }
    CMax save;
    Questions q;
    q.answer = true;
    LoadResult r = LoadImage(save, dir, changed, "save.max", &q);
    ASSERT_TRUE(r == LoadResult::kOk || r == LoadResult::kInvalid) << round << " gave " << r;
    if (r == LoadResult::kOk) {
      ASSERT_TRUE(save.entries);
      EXPECT_EQ((*save.entries)[0].size, save.entries->size() + 1);
    }
  }
}

TEST(MaxLoad, LengthBoundHoldsForTheMostCompressibleStreams) {
  // A run of one literal is the cheapest thing LZARI codes; a run of longest matches at
  // distance 1 the cheapest match. Neither comes near the bound the loader assumes.
  const std::size_t n = 2u << 20;
  testutil::LzariEncoder literals;
  for (std::size_t i = 0; i < n; ++i) literals.Literal(0);
  Bytes a = literals.Finish();
  testutil::LzariEncoder matches;
  matches.Literal(0);
  for (std::size_t i = 1; i + 60 <= n; i += 60) matches.Match(0, 60);
  Bytes b = matches.Finish();
  EXPECT_LT(n, a.size() * armax::kMaxExpansion / 1.5);
  EXPECT_LT(n, b.size() * armax::kMaxExpansion / 1.5);
}

// An icon.sys whose title has its second line starting at byte `split`.
Bytes IconSysWithLines(const std::string& rawTitle, std::uint16_t split) {
  Bytes b = testutil::MakeIconSys(rawTitle);
  bytes::PutU16LE(&b[6], split);
  return b;
}

// The header a written file must have: the length word at 80 that includes the length
// at 88, a matching CRC, the file count, the folder, and the title from icon.sys.
TEST(MaxSave, HeaderFieldsAndTitle) {
  struct Case {
    const char* why;
    std::vector<MaxFile> files;
    std::string title;
  };
  const std::string fw = "\x82\x60\x82\x61";  // full-width "AB"
  const Case cases[] = {
      {"one line", {{"icon.sys", IconSysWithLines(fw + " C", 0)}}, "AB C"},
      {"two lines joined by a space", {{"icon.sys", IconSysWithLines(fw + "CD", 4)}}, "AB CD"},
      {"a first line ending in a space", {{"icon.sys", IconSysWithLines("AB CD", 3)}}, "AB CD"},
      {"a break past the title's end", {{"icon.sys", IconSysWithLines("Rez", 32)}}, "Rez"},
      {"cut to 31 characters", {{"icon.sys", IconSysWithLines(std::string(40, 'T'), 20)}},
       std::string(20, 'T') + " " + std::string(10, 'T')},
      {"no icon.sys: the folder name", {{"DATA", Bytes{1, 2, 3}}}, "BESLES-12345SAVE"},
      {"no files at all", {}, "BESLES-12345SAVE"},
  };
  testutil::TempDir dir;
  for (const Case& c : cases) {
    MaxImage img;
    img.files = c.files;
    CMax source;
    ASSERT_EQ(LoadImage(source, dir, img.Build()), LoadResult::kOk) << c.why;
    CMax writer;
    ASSERT_EQ(writer.WriteConvertedFrom(source, dir.File("out.max")), LoadResult::kOk) << c.why;
    const Bytes out = testutil::ReadFile(dir.File("out.max"));
    ASSERT_GE(out.size(), 92u) << c.why;
    EXPECT_EQ(std::string(out.begin(), out.begin() + 12), "Ps2PowerSave") << c.why;
    EXPECT_EQ(bytes::GetU32LE(&out[12]), testutil::MaxCrc(out)) << c.why;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[16])), "BESLES-12345SAVE") << c.why;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[48])), c.title) << c.why;
    EXPECT_EQ(out[79], 0) << c.why << ": the title field keeps a NUL";
    EXPECT_EQ(bytes::GetU32LE(&out[80]), out.size() - 88) << c.why;
    EXPECT_EQ(bytes::GetU32LE(&out[84]), c.files.size()) << c.why;
    // The payload: records at their aligned places, zeros in the gaps and after the last.
    MaxImage laidOut = img;
    laidOut.gapByte = 0;
    laidOut.padLast = true;
    const Bytes payload = laidOut.Payload();
    EXPECT_EQ(bytes::GetU32LE(&out[88]), payload.size()) << c.why;
    EXPECT_EQ(Bytes(out.begin() + 92, out.end()), LzariCompress(payload)) << c.why;
  }
}

// Devices made b.max and c.max with the same encoder: loaded and written again, the
// payload length and the stream come out byte for byte, and so do the folder and count.
TEST(MaxSave, DeviceFilesWrittenAgainByteForByte) {
  for (const char* name : {"max/b.max", "max/c.max"}) {
    REQUIRE_CORPUS(path, name);
    const Bytes original = testutil::ReadFile(path);
    CMax save;
    ASSERT_EQ(save.Load(path), LoadResult::kOk) << name;
    testutil::TempDir dir;
    ASSERT_EQ(save.Save(dir.File("again.max")), LoadResult::kOk) << name;
    const Bytes again = testutil::ReadFile(dir.File("again.max"));
    EXPECT_TRUE(std::equal(again.begin() + 88, again.end(), original.begin() + 88, original.end()))
        << name;
    EXPECT_TRUE(std::equal(again.begin() + 16, again.begin() + 48, original.begin() + 16)) << name;
    EXPECT_EQ(bytes::GetU32LE(&again[84]), bytes::GetU32LE(&original[84])) << name;
  }
}

TEST(MaxEdit, RemoveAddReplace) {
  testutil::TempDir dir;
  MaxImage img = ThreeFiles();
  CMax save;
  ASSERT_EQ(LoadImage(save, dir, img.Build()), LoadResult::kOk);

  save.RemoveEntry(0);
  ASSERT_EQ(save.entries->size(), 3u);
  EXPECT_EQ((*save.entries)[0].size, 4u);
  EXPECT_EQ((*save.entries)[1].Name(), "view.ico");
  EXPECT_TRUE(std::ranges::equal(*(*save.entries)[1].Data(), img.files[1].data));
  EXPECT_TRUE(std::ranges::equal(*(*save.entries)[2].Data(), img.files[2].data));

  Bytes pc = testutil::MakeBytes(777, 8);
  testutil::WriteFile(dir.File("pc.bin"), pc);
  EntryTime created = (*save.entries)[1].created;
  save.ReplaceEntryFromDisk(dir.File("pc.bin"), 1);
  const SaveEntry& replaced = (*save.entries)[1];
  EXPECT_FALSE(replaced.Data());
  EXPECT_TRUE(replaced.DiskPath());
  EXPECT_EQ(replaced.size, 777u);
  EXPECT_EQ(replaced.Name(), "view.ico");
  EXPECT_EQ(replaced.mode, 0x8497u);
  EXPECT_EQ(replaced.created, created);
  Bytes extracted;
  ASSERT_EQ(ReadEntryData(replaced, save.container.get(), extracted), DataResult::kOk);
  EXPECT_TRUE(extracted == pc);

  save.AddEntryFromDisk(dir.File("pc.bin"), "added.bin");
  ASSERT_EQ(save.FileCount(), 3);
  EXPECT_EQ((*save.entries)[0].size, 5u);
  EXPECT_EQ((*save.entries)[3].Name(), "added.bin");
  EXPECT_EQ(*(*save.entries)[3].DiskPath(), dir.File("pc.bin"));

  // Without a loaded save there is nothing to add to: no root appears.
  CMax empty;
  empty.AddEntryFromDisk(dir.File("pc.bin"), "added.bin");
  empty.ReplaceEntryFromDisk(dir.File("pc.bin"), 1);
  empty.RemoveEntry(0);
  EXPECT_FALSE(empty.entries);
}

TEST(MaxRegistry, BothExtensionsOpenAsArmax) {
  for (const char* ext : {"max", "pws", "MAX", "Pws"}) {
    auto save = CreateForExtension(ext);
    ASSERT_TRUE(save) << ext;
    EXPECT_EQ(save->kind, kKindMax) << ext;
    EXPECT_NE(dynamic_cast<CMax*>(save.get()), nullptr) << ext;
  }
  EXPECT_EQ(TargetKindForExtension("max"), kKindMax);
  EXPECT_EQ(TargetKindForExtension("PWS"), kKindMax);
}

// Files made by real devices and tools.
TEST(MaxCorpus, RealFilesLoad) {
  struct Case {
    const char* file;
    int files;
  };
  for (Case c : {Case{"max/a.max", 3}, Case{"max/b.max", 4}, Case{"max/c.max", -1}}) {
    std::string path = testutil::CorpusPath(c.file);
    if (path.empty()) GTEST_SKIP() << c.file << " absent";
    CMax save;
    Questions q;
    ASSERT_EQ(q.Load(save, path), LoadResult::kOk) << c.file;
    EXPECT_TRUE(q.asked.empty()) << c.file << ": its CRC matches";
    if (c.files >= 0) {
      EXPECT_EQ(save.FileCount(), c.files) << c.file;
    }
    EXPECT_GT(save.FileCount(), 0) << c.file;
    for (std::size_t pos = 1; pos < save.entries->size(); ++pos) {
      const SaveEntry& e = (*save.entries)[pos];
      ASSERT_TRUE(e.Data());
      EXPECT_EQ(e.Data()->size(), e.size);
    }
    EXPECT_FALSE((*save.entries)[0].Title().empty());
  }
}

TEST(MaxCorpus, SameSaveAsThePsu) {
  REQUIRE_CORPUS(maxPath, "max/a.max");
  REQUIRE_CORPUS(psuPath, "psu/a.psu");
  CMax max;
  CPsu psu;
  ASSERT_EQ(max.Load(maxPath), LoadResult::kOk);
  ASSERT_EQ(psu.Load(psuPath), LoadResult::kOk);
  EXPECT_EQ((*max.entries)[0].Name(), (*psu.entries)[0].Name());
  EXPECT_EQ((*max.entries)[0].Title(), (*psu.entries)[0].Title());
  EXPECT_TRUE(FilesOf(max) == FilesOf(psu));
  EXPECT_EQ(max.FileCount(), 3);

  // Converted to .psu, it holds the same files again.
  testutil::TempDir dir;
  CPsu writer;
  ASSERT_EQ(writer.WriteConvertedFrom(max, dir.File("a.psu")), LoadResult::kOk);
  CPsu converted;
  ASSERT_EQ(converted.Load(dir.File("a.psu")), LoadResult::kOk);
  EXPECT_TRUE(FilesOf(converted) == FilesOf(psu));
  EXPECT_EQ((*converted.entries)[0].Name(), (*psu.entries)[0].Name());
}

TEST(MaxCorpus, SameFileNamesAsTheSharkPortSave) {
  REQUIRE_CORPUS(maxPath, "max/b.max");
  REQUIRE_CORPUS(spsPath, "sps/b.sps");
  CMax max;
  ASSERT_EQ(max.Load(maxPath), LoadResult::kOk);
  ASSERT_EQ(max.FileCount(), 4);
  // The SharkPort file is read here only as bytes: each name must be stored in it.
  Bytes sps = testutil::ReadFile(spsPath);
  bool hasLargeFile = false;
  for (std::size_t pos = 1; pos < max.entries->size(); ++pos) {
    std::string_view name = (*max.entries)[pos].Name();
    auto found = std::search(sps.begin(), sps.end(), name.begin(), name.end());
    EXPECT_NE(found, sps.end()) << name;
    hasLargeFile |= (*max.entries)[pos].size == 143640;
  }
  EXPECT_TRUE(hasLargeFile);
}

namespace {

// The names in a folder, to see that a failed conversion left nothing behind.
std::vector<std::string> NamesIn(const testutil::TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct BothWays {
  LoadResult loaded = LoadResult::kInvalid;  // Load, then the .psu converted from it
  LoadResult streamed = LoadResult::kInvalid;  // the .psu written as the stream decodes
  Bytes viaLoad, viaStream;
};

// An ARMAX file converted to .psu both ways, within one second of the clock so that both
// carry the same load time.
BothWays ConvertBothWays(const std::string& path, const testutil::TempDir& out) {
  BothWays r;
  for (int attempt = 0; attempt < 5; ++attempt) {
    const EntryTime before = EntryTime::Now();
    CMax loaded;
    r.loaded = loaded.Load(path);
    if (r.loaded == LoadResult::kOk) CPsu().WriteConvertedFrom(loaded, out.File("load.psu"));
    CMax reader;
    std::unique_ptr<SaveStreamWriter> writer = CPsu().StreamWriter(out.File("stream.psu"));
    r.streamed = reader.LoadInto(*io::OpenSource(path), *writer).value_or(LoadResult::kInvalid);
    if (r.streamed == LoadResult::kOk) r.streamed = writer->Finish();
    EXPECT_FALSE(reader.entries) << "the reader keeps nothing";
    if (EntryTime::Now() == before) break;
  }
  if (r.loaded == LoadResult::kOk) r.viaLoad = testutil::ReadFile(out.File("load.psu"));
  if (r.streamed == LoadResult::kOk) r.viaStream = testutil::ReadFile(out.File("stream.psu"));
  return r;
}

MaxImage WithFiles(std::vector<MaxFile> files, std::uint8_t gapByte = 0, bool padLast = false) {
  MaxImage img;
  img.files = std::move(files);
  img.gapByte = gapByte;
  img.padLast = padLast;
  return img;
}

}  // namespace

// Written as the stream is decoded, a .psu is byte for byte the one a loaded save
// converts to, whatever the save holds: records within one window of the decoder and
// across several, empty files anywhere, names of all 32 bytes, any gap bytes.
TEST(MaxOnePass, WritesThePsuALoadedSaveConvertsTo) {
  const std::size_t w = lzari::kWindowBytes;
  struct Case {
    const char* why;
    MaxImage image;
  };
  const Case cases[] = {
      {"one file", WithFiles({{"BESLES-12345SAVE", testutil::MakeBytes(5000, 1)}})},
      {"three files with icon.sys", ThreeFiles()},
      {"no files", WithFiles({})},
      {"only empty files", WithFiles({{"a", {}}, {"b", {}}, {"c", {}}})},
      {"empty files between and after others",
       WithFiles({{"a", {}}, {"b", testutil::MakeBytes(3, 2)}, {"c", {}}, {"d", testutil::MakeBytes(77, 3)}, {"e", {}}})},
      {"names of 32 bytes", WithFiles({{std::string(32, 'N'), testutil::MakeBytes(40, 4)},
                                       {std::string(31, 'M') + "7", testutil::MakeBytes(9, 5)}})},
      {"gap bytes and the last record padded", WithFiles({{"x", testutil::MakeBytes(21, 6)}, {"y", testutil::MakeBytes(1, 7)}}, 0xEE, true)},
      {"a file over several windows", WithFiles({{"big", testutil::MakeBytes(3 * w + 17, 8)}, {"after", testutil::MakeBytes(100, 9)}})},
      {"many files, heads across window edges",
       [w] {
         std::vector<MaxFile> files;
         for (int k = 0; k < 40; ++k)
           files.push_back({"file" + std::to_string(k), testutil::MakeBytes(w / 7 + static_cast<std::size_t>(k) * 13, 10u + static_cast<std::uint32_t>(k))});
         return WithFiles(std::move(files));
       }()},
  };
  testutil::TempDir dir;
  for (const Case& c : cases) {
    testutil::WriteFile(dir.File("in.max"), c.image.Build());
    const BothWays r = ConvertBothWays(dir.File("in.max"), dir);
    EXPECT_EQ(r.loaded, LoadResult::kOk) << c.why;
    EXPECT_EQ(r.streamed, LoadResult::kOk) << c.why;
    EXPECT_FALSE(r.viaStream.empty()) << c.why;
    EXPECT_TRUE(r.viaStream == r.viaLoad) << c.why;
  }
}

TEST(MaxOnePass, CorpusFilesWriteThePsuALoadedSaveConvertsTo) {
  testutil::TempDir dir;
  for (const char* file : {"max/a.max", "max/b.max", "max/c.max"}) {
    const std::string path = testutil::CorpusPath(file);
    if (path.empty()) GTEST_SKIP() << file << " absent";
    const BothWays r = ConvertBothWays(path, dir);
    EXPECT_EQ(r.streamed, LoadResult::kOk) << file;
    EXPECT_GT(r.viaStream.size(), 3 * psu::kHeaderSize) << file;
    EXPECT_TRUE(r.viaStream == r.viaLoad) << file;
  }
}

// A file found bad on the way, however far the .psu has got by then, fails as Load
// fails on it, and neither the target nor the temporary file stays; a CRC answered No
// writes nothing at all; a target that can't be written is a failed write.
TEST(MaxOnePass, ABadFileLeavesNoTargetAndFailsAsLoadDoes) {
  const std::size_t w = lzari::kWindowBytes;
  const MaxImage big = WithFiles({{"big", testutil::MakeBytes(2 * w, 1)}, {"icon.sys", testutil::MakeIconSys("T")}});
  struct Case {
    const char* why;
    MaxImage image;
    bool answer;         // to the CRC's question
    const char* target;  // within the test's folder
    LoadResult loaded;
    LoadResult written;
  };
  std::vector<Case> cases = {
      {"a CRC answered No", big, false, "out.psu", LoadResult::kInvalid, LoadResult::kInvalid},
      {"a CRC answered Yes", big, true, "out.psu", LoadResult::kOk, LoadResult::kOk},
      {"a target in no folder", big, false, "none/out.psu", LoadResult::kOk, LoadResult::kOpenFailed},
  };
  cases[0].image.validCrc = false;
  cases[1].image.validCrc = false;
  auto damaged = [&](const char* why, void (*damage)(MaxImage&)) {
    Case c{why, big, false, "out.psu", LoadResult::kInvalid, LoadResult::kInvalid};
    damage(c.image);
    cases.push_back(c);
  };
  damaged("a stream that runs dry after two windows", [](MaxImage& m) {
    Bytes s = testutil::LzariCompress(m.Payload());
    s.resize(s.size() * 9 / 10);
    m.stream = s;
  });
  damaged("the last record's data past the payload", [](MaxImage& m) {
    m.payloadLength = static_cast<std::uint32_t>(m.Payload().size() - 1);
  });
  damaged("a record more than the payload holds", [](MaxImage& m) { m.fileCount = 3; });
  damaged("a payload length over the cap", [](MaxImage& m) { m.payloadLength = armax::kMaxPayload + 1; });
  const FormatFamily& psuFamily = *FamilyNamed("psu");
  for (const Case& c : cases) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("in.max"), c.image.Build());
    Questions q{c.answer, {}};
    CMax loaded;
    EXPECT_EQ(q.Load(loaded, dir.File("in.max")), c.loaded) << c.why;

    CMax reader;
    const LoadAnswers answers{{std::string(armax::kCrcQuestion), c.answer}};
    const std::optional<OnePassConversion> done =
        ConvertInOnePass(reader, *io::OpenSource(dir.File("in.max")), psuFamily, dir.File(c.target), answers);
    ASSERT_TRUE(done) << c.why;
    EXPECT_EQ(done->loaded, c.loaded) << c.why;
    const bool written = c.loaded == LoadResult::kOk;
    if (written) {
      EXPECT_EQ(done->write.written, c.written) << c.why;
    }
    const std::vector<std::string> expected =
        c.written == LoadResult::kOk ? std::vector<std::string>{"in.max", "out.psu"} : std::vector<std::string>{"in.max"};
    EXPECT_EQ(NamesIn(dir), expected) << c.why;
  }
}

// The payload is coded and written as it is read: a file that can't be read whole, after
// much of the stream has gone to the temporary file, fails the write and leaves neither
// the target nor a temporary file (a target there before stays as it was).
TEST(MaxSave, AFileUnreadablePartwayLeavesNoTargetAndNoTemporaryFile) {
  struct Case {
    const char* why;
    void (*spoil)(const std::string& pcFile);
    bool targetBefore;
  };
  const Case cases[] = {
      {"the PC file is gone", [](const std::string& f) { std::filesystem::remove(f); }, false},
      {"the PC file is shorter than its entry", [](const std::string& f) { std::filesystem::resize_file(f, 100); },
       false},
      {"the PC file is gone, over an older target",
       [](const std::string& f) { std::filesystem::remove(f); }, true},
  };
  for (const Case& c : cases) {
    testutil::TempDir dir;
    MaxImage img;
    img.files = {{"BIG", testutil::MakeBytes(600000, 4)}};
    CMax save;
    ASSERT_EQ(LoadImage(save, dir, img.Build(), "in.max"), LoadResult::kOk) << c.why;
    testutil::WriteFile(dir.File("pc.bin"), testutil::MakeBytes(5000, 5));
    save.AddEntryFromDisk(dir.File("pc.bin"), "late.bin");
    const Bytes before = testutil::FromString("an older file");
    if (c.targetBefore) testutil::WriteFile(dir.File("out.max"), before);
    c.spoil(dir.File("pc.bin"));
    const std::vector<std::string> names = NamesIn(dir);

    CMax writer;
    EXPECT_EQ(writer.WriteConvertedFrom(save, dir.File("out.max")), LoadResult::kOpenFailed) << c.why;
    EXPECT_EQ(NamesIn(dir), names) << c.why;
    if (c.targetBefore) {
      EXPECT_TRUE(testutil::ReadFile(dir.File("out.max")) == before) << c.why;
    }
  }
}
