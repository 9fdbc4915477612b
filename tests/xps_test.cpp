#include "formats/xps/xps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/psu/psu.h"
#include "formats/registry.h"
#include "io/file.h"
#include "io/fs_path.h"
#include "model/bytes.h"
#include "model/entry_data.h"
#include "support/test_util.h"
#include "support/xps_builder.h"

using testutil::Bytes;
using testutil::MakeBytes;
using testutil::MakeTime;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;
using testutil::XpsEntryRecord;
using testutil::XpsFile;
using testutil::XpsImage;

namespace {

// Everything a CXps holds, comparable as a whole.
struct EntryView {
  std::uint32_t mode, size;
  EntryTime created, modified;
  std::string name, title, rawTitle;
  std::uint64_t dataOffset;
  std::uint32_t aux1, aux2;
  bool fromDisk;
  std::string diskPath;
  bool hasData;
  friend bool operator==(const EntryView&, const EntryView&) = default;
};

struct XpsState {
  std::string sourcePath;
  std::optional<XpsFileHeader> fileHeader;
  std::vector<XpsEntryHeader> headers;
  bool hasTable;
  std::vector<EntryView> entries;
  friend bool operator==(const XpsState&, const XpsState&) = default;
};

XpsState StateOf(const CXps& x) {
  XpsState s{x.sourcePath, x.fileHeader, x.headers, x.entries.has_value(), {}};
  if (x.entries)
    for (const SaveEntry& e : *x.entries)
      s.entries.push_back({e.mode, e.size, e.created, e.modified, std::string(e.Name()),
                           std::string(e.Title()), std::string(e.RawTitle()), e.DataOffset().value_or(0),
                           e.aux1, e.aux2, e.DiskPath() != nullptr,
                           e.DiskPath() ? *e.DiskPath() : std::string(), e.Data().has_value()});
  return s;
}

std::string Put(const TempDir& dir, const std::string& name, const Bytes& bytes) {
  std::string path = dir.File(name);
  WriteFile(path, bytes);
  return path;
}

std::uint32_t U32At(const Bytes& b, std::size_t offset) { return bytes::GetU32LE(&b[offset]); }
std::uint16_t ModeAt(const XpsEntryHeader& h) { return bytes::GetU16BE(&h[xps::kModeOffset]); }
std::uint32_t SizeAt(const XpsEntryHeader& h) { return bytes::GetU32LE(&h[xps::kSizeOffset]); }
Bytes ModeWord(const XpsEntryHeader& h) {
  return Bytes(h.begin() + xps::kModeOffset, h.begin() + xps::kModeOffset + 4);
}
std::string FieldAt(const XpsEntryHeader& h, std::size_t offset, std::size_t size) {
  std::string s(reinterpret_cast<const char*>(&h[offset]), size);
  return s.substr(0, s.find('\0'));
}

// The data of every file of a save, by name, in table order.
std::vector<std::pair<std::string, Bytes>> FilesOf(const CSaveGame& save) {
  std::vector<std::pair<std::string, Bytes>> out;
  for (std::size_t p = 1; p < save.entries->size(); ++p) {
    const SaveEntry& e = (*save.entries)[p];
    Bytes data;
    EXPECT_EQ(ReadEntryData(e, save.container.get(), data), DataResult::kOk) << e.Name();
    out.emplace_back(std::string(e.Name()), data);
  }
  return out;
}

// A save of three files: 100 bytes, 2000 bytes, 0 bytes.
XpsImage ThreeFiles() {
  XpsImage image;
  image.files = {XpsFile("icon.sys", MakeBytes(100, 1)), XpsFile("view.ico", MakeBytes(2000, 2)),
                 XpsFile("empty", {})};
  image.files[0].aux1 = 0x11223344;
  image.files[0].aux2 = 0x55667788;
  return image;
}

struct Question {
  int asked = 0;
  std::string text, caption;
};

LoadResult LoadAnswering(CXps& x, Question& q, bool answer, const std::string& path) {
  return testutil::LoadAsking(x, path, [&q, answer](const LoadQuestion& asked) {
    ++q.asked;
    q.text = asked.text;
    q.caption = asked.caption;
    return answer;
  });
}

}  // namespace

// ---------------------------------------------------------------- checksum

TEST(XpsChecksumTest, KnownSums) {
  struct Case {
    Bytes data;
    std::uint32_t sum;
  } cases[] = {
      {{}, 0},
      {testutil::FromString("abc"), 0xD85},
      {{0xFF}, 255},
      {{0xFF, 0xFF}, 8356095},
  };
  for (const Case& c : cases) EXPECT_EQ(XpsChecksum::Of(c.data), c.sum);
}

TEST(XpsChecksumTest, IncrementalEqualsWholeAndReference) {
  Bytes data = MakeBytes(5000, 9);
  XpsChecksum pieces;
  for (std::size_t at = 0; at < data.size(); at += 333)
    pieces.Add(std::span<const std::uint8_t>(data).subspan(
        at, std::min<std::size_t>(333, data.size() - at)));
  EXPECT_EQ(pieces.value(), XpsChecksum::Of(data));
  EXPECT_EQ(pieces.value(), testutil::ReferenceXpsChecksum(data.data(), data.size()));
}

// The sum wraps past 2^32 every few thousand bytes; each wrap changes the next shift.
// Data that wraps often, rarely, and pieces that end right after a wrap.
TEST(XpsChecksumTest, WrapsAgreeWithReference) {
  struct Case {
    const char* why;
    Bytes data;
  } cases[] = {
      {"all 0xFF: wraps every few hundred bytes", Bytes(200000, 0xFF)},
      {"random", MakeBytes(300000, 21)},
      {"small bytes: wraps seldom", Bytes(100000, 0x01)},
      {"alternating", [] {
         Bytes b(100000);
         for (std::size_t i = 0; i < b.size(); ++i) b[i] = (i & 1) ? 0xFF : 0x00;
         return b;
       }()},
  };
  for (const Case& c : cases) {
    const std::uint32_t expected = testutil::ReferenceXpsChecksum(c.data.data(), c.data.size());
    EXPECT_EQ(XpsChecksum::Of(c.data), expected) << c.why;
    XpsChecksum bytewise;
    for (std::size_t i = 0; i < 5000; ++i) bytewise.Add(std::span(c.data).subspan(i, 1));
    bytewise.Add(std::span(c.data).subspan(5000));
    EXPECT_EQ(bytewise.value(), expected) << c.why << ", byte by byte then the rest";
  }
}

// ---------------------------------------------------------------- registry

TEST(XpsRegistry, ExtensionsOpenAsXpsAndXpsIsATarget) {
  for (const char* ext : {"xps", "sps", "XPS", "Sps"}) {
    auto save = CreateForExtension(ext);
    ASSERT_NE(save, nullptr) << ext;
    EXPECT_EQ(save->kind, kKindXps) << ext;
    EXPECT_NE(dynamic_cast<CXps*>(save.get()), nullptr) << ext;
  }
  EXPECT_EQ(TargetKindForExtension("xps"), kKindXps);
  EXPECT_EQ(TargetKindForExtension("XPS"), kKindXps);
  EXPECT_EQ(TargetKindForExtension("sps"), 0);
  auto target = CreateForKind(kKindXps);
  ASSERT_NE(target, nullptr);
  EXPECT_NE(dynamic_cast<CXps*>(target.get()), nullptr);
}

// ---------------------------------------------------------------- Load

TEST(XpsLoad, MagicAndZeroWord) {
  struct Case {
    const char* why;
    std::string magic;
    std::optional<std::uint32_t> magicLength;
    std::uint32_t zeroWord;
    LoadResult result;
  } cases[] = {
      {"plain magic", "SharkPortSave", {}, 0, LoadResult::kOk},
      {"magic with a NUL inside its length", std::string("SharkPortSave\0", 14), {}, 0, LoadResult::kOk},
      {"NUL then other bytes", std::string("SharkPortSave\0xy", 16), {}, 0, LoadResult::kOk},
      {"one letter short", "SharkPortSav", {}, 0, LoadResult::kInvalid},
      {"one letter more", "SharkPortSaveX", {}, 0, LoadResult::kInvalid},
      {"other case", "sharkportsave", {}, 0, LoadResult::kInvalid},
      {"empty magic", "", {}, 0, LoadResult::kInvalid},
      {"zeroWord 1", "SharkPortSave", {}, 1, LoadResult::kInvalid},
      {"magic length past the file", "SharkPortSave", 0xFFFFFFF0u, 0, LoadResult::kInvalid},
  };
  TempDir dir;
  for (const Case& c : cases) {
    XpsImage image = ThreeFiles();
    image.magic = c.magic;
    image.magicLength = c.magicLength;
    image.zeroWord = c.zeroWord;
    CXps x;
    EXPECT_EQ(x.Load(Put(dir, "m.xps", image.Build())), c.result) << c.why;
    if (c.result == LoadResult::kOk) {
      ASSERT_TRUE(x.fileHeader) << c.why;
      EXPECT_EQ(x.fileHeader->magicLength, c.magic.size()) << c.why;
      EXPECT_EQ(x.fileHeader->magic, Bytes(c.magic.begin(), c.magic.end())) << c.why;
    } else {
      EXPECT_EQ(StateOf(x), StateOf(CXps())) << c.why;
    }
  }
}

TEST(XpsLoad, ShortAndMissingFiles) {
  TempDir dir;
  CXps x;
  EXPECT_EQ(x.Load(dir.File("absent.xps")), LoadResult::kOpenFailed);
  EXPECT_EQ(x.Load(Put(dir, "empty.xps", {})), LoadResult::kTruncated);
  EXPECT_EQ(x.Load(Put(dir, "three.xps", {13, 0, 0})), LoadResult::kTruncated);
  EXPECT_EQ(StateOf(x), StateOf(CXps()));
}

TEST(XpsLoad, KeepsTextsAndFillsTable) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  image.title = "Demo";
  image.subtitle = std::string("a\0b\xff", 4);
  image.comment = "";
  image.root.aux1 = 7;
  image.root.aux2 = 8;
  std::string path = Put(dir, "t.xps", image.Build());
  CXps x;
  ASSERT_EQ(x.Load(path), LoadResult::kOk);
  EXPECT_EQ(x.sourcePath, path);
  const XpsFileHeader& fh = *x.fileHeader;
  EXPECT_EQ(fh.titleLength, 4u);
  EXPECT_EQ(fh.titleText, testutil::FromString("Demo"));
  EXPECT_EQ(fh.subtitleLength, 4u);
  EXPECT_EQ(fh.subtitleText, (Bytes{'a', 0, 'b', 0xFF}));
  EXPECT_EQ(fh.commentLength, 0u);
  EXPECT_TRUE(fh.commentText.empty());
  EXPECT_EQ(fh.dataLength, 250u * 4 + 2100);

  ASSERT_EQ(x.entries->size(), 4u);
  ASSERT_EQ(x.headers.size(), 4u);
  const SaveEntry& root = (*x.entries)[0];
  EXPECT_EQ(root.mode, 0x8427u);
  EXPECT_EQ(root.size, 5u);
  EXPECT_EQ(root.Name(), "BESLES-12345SAVE");
  EXPECT_EQ(root.Title(), "Save title");
  EXPECT_EQ(root.RawTitle(), "Save title");
  EXPECT_EQ(root.aux1, 7u);
  EXPECT_EQ(root.aux2, 8u);
  EXPECT_EQ(root.DataOffset(), 0u);
  EXPECT_EQ(root.created, image.root.created);
  EXPECT_EQ(root.modified, image.root.modified);

  const SaveEntry& icon = (*x.entries)[1];
  EXPECT_EQ(icon.Name(), "icon.sys");
  EXPECT_EQ(icon.mode, 0x8497u);
  EXPECT_EQ(icon.size, 100u);
  EXPECT_EQ(icon.aux1, 0x11223344u);
  EXPECT_EQ(icon.aux2, 0x55667788u);
  EXPECT_FALSE(icon.DiskPath());
  EXPECT_FALSE(icon.Data());
  EXPECT_EQ(
      FilesOf(x),
      (std::vector<std::pair<std::string, Bytes>>{
          {"icon.sys", image.files[0].data}, {"view.ico", image.files[1].data}, {"empty", {}}}));
  for (std::size_t p = 0; p < 4; ++p) {
    EXPECT_EQ(SizeAt(x.headers[p]), (*x.entries)[p].size);
    EXPECT_EQ(ModeAt(x.headers[p]), (*x.entries)[p].mode);
  }
}

TEST(XpsLoad, FirstDataOffsetFollowsTextLengths) {
  struct Case {
    std::size_t magic, title, subtitle, comment;
  } cases[] = {{13, 0, 0, 0}, {13, 4, 17, 0}, {14, 3, 3, 38}, {20, 100, 1, 5}};
  TempDir dir;
  for (const Case& c : cases) {
    XpsImage image = ThreeFiles();
    image.magic = "SharkPortSave" + std::string(c.magic - 13, '\0');
    image.title = std::string(c.title, 't');
    image.subtitle = std::string(c.subtitle, 's');
    image.comment = std::string(c.comment, 'c');
    CXps x;
    ASSERT_EQ(x.Load(Put(dir, "o.xps", image.Build())), LoadResult::kOk);
    std::size_t expected = 24 + c.magic + c.title + c.subtitle + c.comment + 250 + 250;
    EXPECT_EQ((*x.entries)[1].DataOffset(), expected);
    if (c.magic == 13) {
      EXPECT_EQ((*x.entries)[1].DataOffset(), 537 + c.title + c.subtitle + c.comment);
    }
    EXPECT_EQ((*x.entries)[2].DataOffset(), expected + 100 + 250);
  }
}

TEST(XpsLoad, RootQuestion) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  image.root.mode = 0x8497;
  std::string path = Put(dir, "q.xps", image.Build());

  CXps x;
  Question q;
  EXPECT_EQ(LoadAnswering(x, q, false, path), LoadResult::kNotDirectory);
  EXPECT_EQ(q.asked, 1);
  EXPECT_EQ(q.text, "First entry is not a directory.\nDo you want to load it anyway?");
  EXPECT_EQ(q.caption, "Invalid format");
  EXPECT_EQ(StateOf(x), StateOf(CXps()));

  // Loaded without an answer, the load stops at the question and keeps it for the caller.
  CXps unasked;
  EXPECT_EQ(unasked.Load(path), LoadResult::kNeedsAnswer);
  ASSERT_TRUE(unasked.question);
  EXPECT_EQ(unasked.question->text, q.text);
  EXPECT_EQ(StateOf(unasked), StateOf(CXps()));

  EXPECT_EQ(LoadAnswering(x, q, true, path), LoadResult::kOk);
  EXPECT_EQ(q.asked, 2);
  EXPECT_EQ((*x.entries)[0].mode, 0x8427u);
  EXPECT_EQ(ModeWord(x.headers[0]), (Bytes{0x84, 0x27, 0, 0}));

  // A directory root asks nothing.
  CXps y;
  Question none;
  EXPECT_EQ(LoadAnswering(y, none, false, Put(dir, "d.xps", ThreeFiles().Build())), LoadResult::kOk);
  EXPECT_EQ(none.asked, 0);
}

TEST(XpsLoad, FileModeCorrection) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  image.files[0].mode = 0;
  image.files[0].modeTail = 0;
  image.files[1].mode = 0;
  image.files[1].modeTail = 0x0001;  // 00 00 00 01: only the 16 big-endian bits count
  CXps x;
  ASSERT_EQ(x.Load(Put(dir, "m.xps", image.Build())), LoadResult::kOk);
  EXPECT_EQ((*x.entries)[1].mode, 0x8497u);
  EXPECT_EQ(ModeWord(x.headers[1]), (Bytes{0x84, 0x97, 0, 0}));
  EXPECT_EQ((*x.entries)[2].mode, 0u);
  EXPECT_EQ(ModeWord(x.headers[2]), (Bytes{0, 0, 0, 1}));
}

TEST(XpsLoad, LongHeadersAreSkipped) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  image.root.headerLength = 260;
  image.files[0].headerLength = 300;
  image.files[0].filler = 0xEE;
  image.files[1].headerLength = 100;  // shorter values are ignored
  Bytes file = image.Build();
  std::uint32_t stored = U32At(file, image.DataAreaStart() - 4);
  CXps x;
  ASSERT_EQ(x.Load(Put(dir, "h.xps", file)), LoadResult::kOk);
  std::size_t start = image.DataAreaStart();
  EXPECT_EQ((*x.entries)[1].DataOffset(), start + 260 + 300);
  EXPECT_EQ((*x.entries)[2].DataOffset(), start + 260 + 300 + 100 + 250);
  EXPECT_EQ(x.fileHeader->dataLength, stored - 10 - 50);
  EXPECT_EQ(bytes::GetU16LE(&x.headers[1][0]), 300);  // the record keeps its length
  EXPECT_EQ(FilesOf(x)[1].second, image.files[1].data);
}

TEST(XpsLoad, NameBounds) {
  TempDir dir;
  std::string name32(32, 'N'), name40 = std::string(32, 'F') + "12345678", title64(64, 'T');
  XpsImage image;
  image.root.name = name32;
  image.root.title = title64;
  image.files = {XpsFile(name32, {1}), XpsFile(name40, {2})};
  image.files[1].rawTitle = title64 + "overflow";
  CXps x;
  ASSERT_EQ(x.Load(Put(dir, "n.xps", image.Build())), LoadResult::kOk);
  EXPECT_EQ((*x.entries)[0].Name(), name32);  // a folder keeps all 32
  EXPECT_EQ((*x.entries)[0].Title(), title64);
  EXPECT_EQ((*x.entries)[1].Name(), name32);
  EXPECT_EQ((*x.entries)[2].Name(), name40.substr(0, 33));
  EXPECT_EQ((*x.entries)[2].RawTitle(), title64);
}

TEST(XpsLoad, DamagedLengthsAreRefusedWithoutChange) {
  constexpr std::size_t kTitleLengthAt = 4 + 13 + 4;
  struct Case {
    const char* why;
    void (*damage)(XpsImage&);
    void (*patch)(Bytes&, const XpsImage&) = nullptr;  // damage to the built bytes
  } cases[] = {
      {"title length past the file", [](XpsImage&) {},
       [](Bytes& b, const XpsImage&) { bytes::PutU32LE(&b[kTitleLengthAt], 60000); }},
      {"title length above the cap", [](XpsImage&) {},
       [](Bytes& b, const XpsImage&) { bytes::PutU32LE(&b[kTitleLengthAt], 0x7FFFFFF0u); }},
      {"root counts one entry", [](XpsImage& i) { i.root.size = 1; }},
      {"root counts no entry", [](XpsImage& i) { i.root.size = 0; }},
      {"root counts 2^32-1", [](XpsImage& i) { i.root.size = 0xFFFFFFFFu; }},
      {"root counts one file too many", [](XpsImage& i) { i.root.size = 6; }},
      {"file size past the file", [](XpsImage& i) { i.files[2].size = 0x7FFFFFFFu; }},
      {"file size one past the file", [](XpsImage& i) { i.files[2].size = 5; }},
      {"header padding past the file", [](XpsImage&) {},
       [](Bytes& b, const XpsImage& i) {
         std::size_t lastHeader = i.DataAreaStart() + 250 + 250 + 100 + 250 + 2000;
         bytes::PutU16LE(&b[lastHeader], 0xFFFF);
       }},
      {"magic length past the file", [](XpsImage& i) { i.magicLength = 100000; }},
      // Padding of longer headers is taken off dataLength: more padding than dataLength
      // would wrap it to some 4 GiB.
      {"header padding beyond dataLength",
       [](XpsImage& i) {
         i.root.headerLength = 300;
         i.dataLength = 20;
       }},
  };
  TempDir dir;
  std::string good = Put(dir, "good.xps", ThreeFiles().Build());
  for (const Case& c : cases) {
    XpsImage image = ThreeFiles();
    c.damage(image);
    Bytes file = image.Build();
    if (c.patch) c.patch(file, image);
    CXps x;
    ASSERT_EQ(x.Load(good), LoadResult::kOk);
    XpsState before = StateOf(x);
    Question q;
    EXPECT_EQ(LoadAnswering(x, q, true, Put(dir, "bad.xps", file)), LoadResult::kInvalid) << c.why;
    EXPECT_EQ(StateOf(x), before) << c.why;
  }
}

// No text of a real file comes near the cap, even when the file does hold that many bytes.
TEST(XpsLoad, TextAboveTheCapIsRefused) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  image.comment = std::string(xps::kMaxTextLength + 1, 'c');
  CXps x;
  EXPECT_EQ(x.Load(Put(dir, "big.xps", image.Build())), LoadResult::kInvalid);
  image.comment.resize(xps::kMaxTextLength);
  EXPECT_EQ(x.Load(Put(dir, "cap.xps", image.Build())), LoadResult::kOk);
  EXPECT_EQ(x.fileHeader->commentLength, xps::kMaxTextLength);
}

TEST(XpsLoad, RootWithoutDirectoryFlagAndDamageIsRefusedUnasked) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  image.root.mode = 0x8497;
  Bytes file = image.Build();
  file.resize(file.size() - 30);
  CXps x;
  Question q;
  EXPECT_EQ(LoadAnswering(x, q, true, Put(dir, "c.xps", file)), LoadResult::kInvalid);
  EXPECT_EQ(q.asked, 0);
}

// Every prefix of a valid file gives a defined result and leaves a loaded object as it was.
TEST(XpsLoad, TruncationSweep) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  image.files[1].headerLength = 270;
  Bytes full = image.Build();
  std::string good = Put(dir, "good.xps", ThreeFiles().Build());
  CXps x;
  ASSERT_EQ(x.Load(good), LoadResult::kOk);
  const XpsState before = StateOf(x);
  std::string path = dir.File("cut.xps");
  for (std::size_t n = 0; n <= full.size(); ++n) {
    WriteFile(path, Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
    LoadResult expected = n < 4 ? LoadResult::kTruncated : n < full.size() - 4 ? LoadResult::kInvalid : LoadResult::kOk;
    LoadResult got = x.Load(path);
    ASSERT_EQ(got, expected) << "prefix of " << n << " bytes";
    if (got != LoadResult::kOk) {
      ASSERT_EQ(StateOf(x), before) << "prefix of " << n << " bytes";
    } else {
      // Only the checksum is missing; the reader never needs it.
      EXPECT_EQ(FilesOf(x)[1].second, image.files[1].data);
      ASSERT_EQ(x.Load(good), LoadResult::kOk);
    }
    // A fresh file each time: truncating one that holds data is slow on some file systems.
    std::filesystem::remove(io::ToFsPath(path));
  }
}

// Random damage gives a result code, never a crash or a read outside a buffer; whatever
// loads can be written again.
TEST(XpsLoad, CorruptionSweep) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  image.files[0].data.resize(20);
  image.files[1].data.resize(30);
  const Bytes good = image.Build();
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  int loaded = 0;
  for (int round = 0; round < 400; ++round) {
    Bytes file = good;
    int flips = 1 + static_cast<int>(next() % 4);
    for (int i = 0; i < flips; ++i) file[next() % file.size()] = static_cast<std::uint8_t>(next());
    std::string path = Put(dir, "r" + std::to_string(round) + ".xps", file);
    CXps x;
    Question q;
    LoadResult r = LoadAnswering(x, q, true, path);
    ASSERT_TRUE(r == LoadResult::kOk || r == LoadResult::kInvalid) << "round " << round << " gave " << r;
    if (r == LoadResult::kOk) {
      ASSERT_EQ(x.headers.size(), x.entries->size());
      // Writing flushes to the disk: a sample of the loadable ones keeps the run short.
      if (++loaded % 10 == 1) {
        LoadResult w = x.Save(dir.File("out.xps"));
        EXPECT_TRUE(w == LoadResult::kOk || w == LoadResult::kOpenFailed) << "round " << round;
      }
    }
    std::filesystem::remove(io::ToFsPath(path));
  }
  EXPECT_GT(loaded, 0);  // flips in texts and data leave the file loadable
}

// ---------------------------------------------------------------- edits

class XpsEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = ThreeFiles();
    image_.files[1].mode = 0x8427;  // a file entry marked as a directory
    image_.dataLength = 5000;       // not what the file holds: stays off by the same amount
    ASSERT_EQ(x_.Load(Put(dir_, "e.xps", image_.Build())), LoadResult::kOk);
  }
  std::uint32_t DataLength() const { return x_.fileHeader->dataLength; }
  void ExpectInStep() const {
    ASSERT_EQ(x_.headers.size(), x_.entries->size());
    for (std::size_t p = 0; p < x_.headers.size(); ++p) {
      const SaveEntry& e = (*x_.entries)[p];
      EXPECT_EQ(SizeAt(x_.headers[p]), e.size) << p;
      EXPECT_EQ(ModeAt(x_.headers[p]), e.mode & 0xFFFF) << p;
      EXPECT_EQ(EntryTime::FromBytes(&x_.headers[p][xps::kCreatedOffset]), e.created) << p;
      EXPECT_EQ(EntryTime::FromBytes(&x_.headers[p][xps::kModifiedOffset]), e.modified) << p;
    }
    EXPECT_EQ((*x_.entries)[0].size, x_.entries->size() + 1);
  }

  TempDir dir_;
  XpsImage image_;
  CXps x_;
};

TEST_F(XpsEdit, RemoveFileLowersCountAndDataLength) {
  x_.RemoveEntry(0);  // the 100-byte file
  EXPECT_EQ((*x_.entries)[0].size, 4u);
  EXPECT_EQ(SizeAt(x_.headers[0]), 4u);
  EXPECT_EQ(DataLength(), 5000u - 350);
  EXPECT_EQ((*x_.entries)[1].Name(), "view.ico");
  EXPECT_EQ(FieldAt(x_.headers[1], xps::kNameOffset, 64), "view.ico");
  EXPECT_EQ((*x_.entries)[2].Name(), "empty");
  ExpectInStep();
  EXPECT_EQ(FilesOf(x_)[0].second, image_.files[1].data);  // offsets still point into the source
}

TEST_F(XpsEdit, RemoveDirectoryMarkedEntryLowersBy250) {
  x_.RemoveEntry(1);
  EXPECT_EQ(DataLength(), 5000u - 250);
  EXPECT_EQ(x_.entries->size(), 3u);
  ExpectInStep();
}

TEST_F(XpsEdit, AddFromDisk) {
  std::string pc = Put(dir_, "new.bin", MakeBytes(1000, 5));
  std::string longName(40, 'L');
  x_.AddEntryFromDisk(pc, longName);
  ASSERT_EQ(x_.entries->size(), 5u);
  EXPECT_EQ((*x_.entries)[0].size, 6u);
  EXPECT_EQ(SizeAt(x_.headers[0]), 6u);
  EXPECT_EQ(DataLength(), 5000u + 1250);
  const SaveEntry& e = (*x_.entries)[4];
  EXPECT_EQ(e.mode, 0x8497u);
  EXPECT_EQ(e.size, 1000u);
  EXPECT_EQ(e.Name(), longName.substr(0, 32));
  EXPECT_EQ(e.Title(), "");
  EXPECT_EQ(e.RawTitle(), "");
  ASSERT_TRUE(e.DiskPath());
  EXPECT_EQ(*e.DiskPath(), pc);
  EXPECT_EQ(e.created, e.modified);
  const XpsEntryHeader& h = x_.headers[4];
  EXPECT_EQ(bytes::GetU16LE(&h[0]), 250);
  EXPECT_EQ(FieldAt(h, xps::kNameOffset, 64), longName.substr(0, 32));
  EXPECT_EQ(ModeWord(h), (Bytes{0x84, 0x97, 0, 0}));
  EXPECT_EQ(EntryTime::FromBytes(&h[xps::kExtraTimeOffset]), e.created);
  EXPECT_EQ(U32At(Bytes(h.begin(), h.end()), xps::kItemCountOffset), 0u);
  EXPECT_EQ(FieldAt(h, xps::kTitleOffset, 64), "");
  ExpectInStep();

  x_.AddEntryFromDisk(dir_.File("absent.bin"), "absent");  // can't be measured: nothing happens
  EXPECT_EQ(x_.entries->size(), 5u);
  EXPECT_EQ(DataLength(), 5000u + 1250);
}

TEST_F(XpsEdit, ReplaceFromDisk) {
  std::string pc = Put(dir_, "small.bin", MakeBytes(40, 6));
  const SaveEntry before = (*x_.entries)[1];
  x_.ReplaceEntryFromDisk(pc, 1);
  const SaveEntry& e = (*x_.entries)[1];
  EXPECT_EQ(DataLength(), 5000u - 60);
  EXPECT_EQ(e.size, 40u);
  EXPECT_EQ(SizeAt(x_.headers[1]), 40u);
  EXPECT_EQ(e.Name(), before.Name());
  EXPECT_EQ(e.mode, before.mode);
  EXPECT_EQ(e.created, before.created);
  EXPECT_EQ(e.modified, before.modified);
  EXPECT_TRUE(e.DiskPath());
  EXPECT_EQ(FilesOf(x_)[0].second, MakeBytes(40, 6));
  // A directory-marked entry's size counts here too, whatever its mode.
  x_.ReplaceEntryFromDisk(pc, 2);
  EXPECT_EQ(DataLength(), 5000u - 60 - 2000 + 40);
  ExpectInStep();
}

TEST_F(XpsEdit, NamesModesAndTimes) {
  x_.SetMode(-1, 0x8427);
  EXPECT_EQ(ModeWord(x_.headers[0]), (Bytes{0x84, 0x27, 0, 0}));
  x_.SetMode(0, 0x12345);
  EXPECT_EQ((*x_.entries)[1].mode, 0x12345u);
  EXPECT_EQ(ModeWord(x_.headers[1]), (Bytes{0x23, 0x45, 0, 0}));

  x_.SetName(0, "renamed.dat");
  EXPECT_EQ((*x_.entries)[1].Name(), "renamed.dat");
  EXPECT_EQ((*x_.entries)[1].Title(), "renamed.dat");
  EXPECT_EQ((*x_.entries)[1].RawTitle(), "renamed.dat");
  EXPECT_EQ(FieldAt(x_.headers[1], xps::kNameOffset, 64), "renamed.dat");
  EXPECT_EQ(FieldAt(x_.headers[1], xps::kTitleOffset, 64), "icon.sys");
  EXPECT_EQ(FieldAt(x_.headers[1], xps::kRawTitleOffset, 64), "icon.sys");

  x_.SetName(1, std::string(40, 'x'));  // the header takes what the entry takes
  EXPECT_EQ(FieldAt(x_.headers[2], xps::kNameOffset, 64), std::string(32, 'x'));
  EXPECT_EQ((*x_.entries)[2].Name(), std::string(32, 'x'));

  x_.SetName(-1, "NEWFOLDER");
  EXPECT_EQ((*x_.entries)[0].Name(), "NEWFOLDER");
  EXPECT_EQ((*x_.entries)[0].Title(), "Save title");
  EXPECT_EQ(FieldAt(x_.headers[0], xps::kNameOffset, 64), "NEWFOLDER");

  EntryTime c = MakeTime(2020, 1, 2, 3, 4, 5), m = MakeTime(2021, 6, 7, 8, 9, 10);
  c.reserved = 9;
  x_.SetCreated(2, c);
  x_.SetModified(-1, m);
  EXPECT_EQ((*x_.entries)[3].created, c);
  EXPECT_EQ(EntryTime::FromBytes(&x_.headers[3][xps::kCreatedOffset]), c);
  EXPECT_EQ(EntryTime::FromBytes(&x_.headers[0][xps::kModifiedOffset]), m);
  EXPECT_EQ(DataLength(), 5000u);
  ExpectInStep();
}

// ---------------------------------------------------------------- Save

TEST(XpsSave, UnchangedSaveReproducesTheFile) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  image.comment = "kept";
  image.root.filler = 0x5A;  // bytes no reader looks at pass through
  image.files[0].itemCount = 77;
  image.files[0].extraTime = MakeTime(2001, 2, 3, 4, 5, 6);
  Bytes source = image.Build();
  CXps x;
  ASSERT_EQ(x.Load(Put(dir, "s.xps", source)), LoadResult::kOk);
  std::string out = dir.File("out.xps");
  EXPECT_EQ(x.Save(out), LoadResult::kOk);
  EXPECT_EQ(ReadFile(out), source);
  EXPECT_EQ(x.sourcePath, dir.File("s.xps"));
}

TEST(XpsSave, LongHeadersComeOut250) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  image.root.headerLength = 300;
  image.files[2].headerLength = 260;
  CXps x;
  ASSERT_EQ(x.Load(Put(dir, "h.xps", image.Build())), LoadResult::kOk);
  ASSERT_EQ(x.Save(dir.File("out.xps")), LoadResult::kOk);
  EXPECT_EQ(bytes::GetU16LE(&x.headers[0][0]), 300);  // the kept records keep their lengths

  XpsImage expected = ThreeFiles();
  expected.dataLength = 250u * 4 + 2100;
  Bytes written = ReadFile(dir.File("out.xps"));
  EXPECT_EQ(written, expected.Build());
  EXPECT_EQ(U32At(written, image.DataAreaStart() - 4),
            U32At(image.Build(), image.DataAreaStart() - 4) - 60);
}

TEST(XpsSave, ChecksumCoversOnlyTheKeptLengthOrWhatExists) {
  TempDir dir;
  for (std::int64_t delta : {-1000, -1, 0, 1, 100000}) {
    XpsImage image = ThreeFiles();
    std::uint32_t real = 250u * 4 + 2100;
    image.dataLength = static_cast<std::uint32_t>(real + delta);
    Bytes source = image.Build();
    CXps x;
    ASSERT_EQ(x.Load(Put(dir, "c.xps", source)), LoadResult::kOk);
    ASSERT_EQ(x.Save(dir.File("out.xps")), LoadResult::kOk);
    Bytes written = ReadFile(dir.File("out.xps"));
    EXPECT_EQ(written, source) << delta;
    std::size_t start = image.DataAreaStart();
    std::size_t counted = std::min<std::size_t>(real, *image.dataLength);
    EXPECT_EQ(U32At(written, written.size() - 4),
              testutil::ReferenceXpsChecksum(&written[start], counted))
        << delta;
  }
}

TEST(XpsSave, EditsReachTheFile) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  CXps x;
  ASSERT_EQ(x.Load(Put(dir, "s.xps", image.Build())), LoadResult::kOk);
  std::string pc = Put(dir, "add.bin", MakeBytes(300, 8));
  x.AddEntryFromDisk(pc, "add.bin");
  x.RemoveEntry(1);
  x.SetName(0, "renamed");
  EntryTime added = (*x.entries)[3].created;
  ASSERT_EQ(x.Save(dir.File("out.xps")), LoadResult::kOk);

  Bytes written = ReadFile(dir.File("out.xps"));
  std::size_t start = image.DataAreaStart();
  std::uint32_t dataLength = U32At(written, start - 4);
  EXPECT_EQ(dataLength, 250u * 4 + 100 + 300);
  EXPECT_EQ(written.size(), start + dataLength + 4);
  EXPECT_EQ(U32At(written, written.size() - 4),
            testutil::ReferenceXpsChecksum(&written[start], dataLength));
  // The added file's header: itemCount 0 and its adding time in extraTime.
  std::size_t addedHeader = start + 250 + 250 + 100 + 250 + 0;
  EXPECT_EQ(U32At(written, addedHeader + xps::kItemCountOffset), 0u);
  EXPECT_EQ(EntryTime::FromBytes(&written[addedHeader + xps::kExtraTimeOffset]), added);

  CXps y;
  ASSERT_EQ(y.Load(dir.File("out.xps")), LoadResult::kOk);
  EXPECT_EQ(FilesOf(y),
            (std::vector<std::pair<std::string, Bytes>>{
                {"renamed", image.files[0].data}, {"empty", {}}, {"add.bin", MakeBytes(300, 8)}}));
  EXPECT_EQ((*y.entries)[1].Title(), "icon.sys");  // the header's title fields keep their text
}

TEST(XpsSave, InPlaceThroughTemporaryFile) {
  TempDir dir;
  XpsImage image = ThreeFiles();
  std::string path = Put(dir, "a.xps", image.Build());
  // The same file under other spellings is in place as well.
  std::filesystem::create_directory(dir.path() / "sub");
  for (std::string target : {path, dir.File("./a.xps"), dir.File("sub/../a.xps")}) {
    CXps x;
    ASSERT_EQ(x.Load(path), LoadResult::kOk);
    x.SetName(1, "changed");
    EXPECT_EQ(x.Save(target), LoadResult::kSavedInPlace) << target;
    EXPECT_FALSE(io::Exists(path + "~0"));
    EXPECT_FALSE(io::Exists(target + "~0"));
    ASSERT_EQ(x.Load(path), LoadResult::kOk) << target;
    EXPECT_EQ(FieldAt(x.headers[2], xps::kNameOffset, 64), "changed");
    EXPECT_EQ(FieldAt(x.headers[2], xps::kTitleOffset, 64), "view.ico");
    EXPECT_EQ(FieldAt(x.headers[2], xps::kRawTitleOffset, 64), "view.ico");
    EXPECT_EQ(FilesOf(x)[1].second, image.files[1].data) << target;
    EXPECT_EQ(FilesOf(x)[0].second, image.files[0].data) << target;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // a.xps, sub
}

// A target that is also the PC file an entry reads from is read whole before it is replaced.
TEST(XpsSave, TargetThatIsADataSource) {
  TempDir dir;
  CXps x;
  ASSERT_EQ(x.Load(Put(dir, "s.xps", ThreeFiles().Build())), LoadResult::kOk);
  std::string pc = Put(dir, "pc.xps", MakeBytes(3000, 4));
  x.ReplaceEntryFromDisk(pc, 2);
  ASSERT_EQ(x.Save(pc), LoadResult::kOk);
  CXps back;
  ASSERT_EQ(back.Load(pc), LoadResult::kOk);
  EXPECT_EQ(FilesOf(back)[1].second, MakeBytes(3000, 4));

  CGeneric generic;
  std::string other = Put(dir, "g.xps", MakeBytes(500, 5));
  generic.AddEntryFromDisk(other, "g.bin");
  CXps converter;
  ASSERT_EQ(converter.WriteConvertedFrom(generic, other), LoadResult::kOk);
  ASSERT_EQ(back.Load(other), LoadResult::kOk);
  EXPECT_EQ(FilesOf(back)[0].second, MakeBytes(500, 5));
}

TEST(XpsSave, MissingDataSourceWritesNothing) {
  TempDir dir;
  CXps x;
  std::string path = Put(dir, "s.xps", ThreeFiles().Build());
  ASSERT_EQ(x.Load(path), LoadResult::kOk);
  std::string pc = Put(dir, "gone.bin", MakeBytes(10, 1));
  x.ReplaceEntryFromDisk(pc, 2);
  std::filesystem::remove(io::ToFsPath(pc));
  Bytes before = ReadFile(path);
  EXPECT_EQ(x.Save(dir.File("out.xps")), LoadResult::kOpenFailed);
  EXPECT_FALSE(io::Exists(dir.File("out.xps")));
  EXPECT_EQ(x.Save(path), LoadResult::kOpenFailed);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_FALSE(io::Exists(path + "~0"));
  CXps empty;
  EXPECT_EQ(empty.Save(dir.File("none.xps")), LoadResult::kInvalid);
}

// ---------------------------------------------------------------- WriteConverted

TEST(XpsConvert, LayoutFollowsTitleLength) {
  for (std::size_t t : {0u, 1u, 10u, 64u}) {
    TempDir dir;
    XpsImage image = ThreeFiles();
    image.root.title = std::string(t, 'T');
    image.root.rawTitle = "raw";
    CXps source;
    ASSERT_EQ(source.Load(Put(dir, "src.xps", image.Build())), LoadResult::kOk);
    CXps target;
    ASSERT_EQ(target.WriteConvertedFrom(source, dir.File("out.xps")), LoadResult::kOk);
    Bytes w = ReadFile(dir.File("out.xps"));

    std::uint32_t dataLength = 250u * 4 + 2100;
    ASSERT_EQ(w.size(), 79 + 2 * t + dataLength) << t;
    EXPECT_EQ(U32At(w, 0), 13u);
    EXPECT_EQ(std::string(w.begin() + 4, w.begin() + 17), "SharkPortSave");
    EXPECT_EQ(U32At(w, 17), 0u);
    EXPECT_EQ(U32At(w, 21), t);
    EXPECT_EQ(std::string(w.begin() + 25, w.begin() + 25 + static_cast<std::ptrdiff_t>(t)),
              image.root.title);
    EXPECT_EQ(U32At(w, 25 + t), t);
    EXPECT_EQ(U32At(w, 29 + 2 * t), 38u);
    EXPECT_EQ(std::string(w.begin() + 33 + 2 * static_cast<std::ptrdiff_t>(t),
                          w.begin() + 71 + 2 * static_cast<std::ptrdiff_t>(t)),
              "Made using file converter by velloquin");
    EXPECT_EQ(U32At(w, 71 + 2 * t), dataLength);
    std::size_t root = 75 + 2 * t, first = 325 + 2 * t;
    EXPECT_EQ(bytes::GetU16LE(&w[root]), 250);
    EXPECT_EQ(U32At(w, root + xps::kSizeOffset), 5u);
    EXPECT_EQ(U32At(w, root + xps::kItemCountOffset), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&w[root + xps::kRawTitleOffset])), "raw");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&w[first + xps::kNameOffset])), "icon.sys");
    EXPECT_EQ(U32At(w, first + xps::kItemCountOffset), 1u);
    EXPECT_EQ(U32At(w, first + xps::kAux1Offset), 0x11223344u);
    EXPECT_EQ(U32At(w, first + xps::kAux2Offset), 0x55667788u);
    EXPECT_EQ(Bytes(w.begin() + static_cast<std::ptrdiff_t>(first + 0x6A),
                    w.begin() + static_cast<std::ptrdiff_t>(first + 0x72)),
              Bytes(8, 0));
    EXPECT_EQ(Bytes(w.begin() + 575 + 2 * static_cast<std::ptrdiff_t>(t),
                    w.begin() + 675 + 2 * static_cast<std::ptrdiff_t>(t)),
              image.files[0].data);
    EXPECT_EQ(U32At(w, w.size() - 4), testutil::ReferenceXpsChecksum(&w[root], dataLength));
    ASSERT_TRUE(target.fileHeader);
    EXPECT_EQ(target.fileHeader->dataLength, dataLength);
    EXPECT_FALSE(target.entries);
  }
}

TEST(XpsConvert, EmptySaveAndGenericSave) {
  TempDir dir;
  XpsImage image;  // no files
  CXps source;
  ASSERT_EQ(source.Load(Put(dir, "e.xps", image.Build())), LoadResult::kOk);
  CXps target;
  ASSERT_EQ(target.WriteConvertedFrom(source, dir.File("out.xps")), LoadResult::kOk);
  Bytes w = ReadFile(dir.File("out.xps"));
  std::size_t t = image.root.title.size();
  EXPECT_EQ(U32At(w, 71 + 2 * t), 250u);
  EXPECT_EQ(U32At(w, 75 + 2 * t + xps::kItemCountOffset), 0u);
  EXPECT_EQ(w.size(), 75 + 2 * t + 250 + 4);
  EXPECT_EQ(U32At(w, w.size() - 4), XpsChecksum::Of(std::span(w).subspan(75 + 2 * t, 250)));

  CGeneric generic;
  generic.AddEntryFromDisk(Put(dir, "a.bin", MakeBytes(10, 3)), "a.bin");
  ASSERT_EQ(target.WriteConvertedFrom(generic, dir.File("g.xps")), LoadResult::kOk);
  Bytes g = ReadFile(dir.File("g.xps"));
  EXPECT_EQ(U32At(g, 21), 0u);  // titleLength
  EXPECT_EQ(U32At(g, 25), 0u);  // subtitleLength, right after
  EXPECT_EQ(U32At(g, 29), 38u);
  CXps back;
  ASSERT_EQ(back.Load(dir.File("g.xps")), LoadResult::kOk);
  EXPECT_EQ((*back.entries)[0].Name(), "UNNAMED SAVE");
  EXPECT_EQ(FilesOf(back)[0].second, MakeBytes(10, 3));

  CGeneric nothing;
  EXPECT_EQ(target.WriteConvertedFrom(nothing, dir.File("n.xps")), LoadResult::kInvalid);
  EXPECT_FALSE(io::Exists(dir.File("n.xps")));
}

TEST(XpsConvert, ReadsBackWhatItWrites) {
  TempDir dir;
  CGeneric source;
  source.AddEntryFromDisk(Put(dir, "a.bin", MakeBytes(700, 1)), "a.bin");
  source.AddEntryFromDisk(Put(dir, "b.bin", MakeBytes(5, 2)), "b.bin");
  source.AddEntryFromDisk(Put(dir, "c.bin", MakeBytes(33, 3)), "c.bin");
  source.SetName(-1, std::string(32, 'R'));
  source.SetName(0, std::string(32, 'f'));
  source.SetMode(0, 0x00018497);
  source.SetMode(1, 0);
  source.SetMode(2, 0x8427);  // a file entry marked as a directory
  EntryTime created = MakeTime(2003, 4, 5, 6, 7, 8), modified = MakeTime(2004, 5, 6, 7, 8, 9);
  created.reserved = 3;
  source.SetCreated(0, created);
  source.SetModified(0, modified);
  (*source.entries)[2].aux1 = 0xA1A2A3A4;
  (*source.entries)[2].aux2 = 0xB1B2B3B4;

  CXps target;
  ASSERT_EQ(target.WriteConvertedFrom(source, dir.File("out.xps")), LoadResult::kOk);
  Bytes w = ReadFile(dir.File("out.xps"));
  std::size_t start = 75;  // no title
  // The directory-marked entry's data is written but not counted.
  EXPECT_EQ(U32At(w, start - 4), 250u * 4 + 700 + 5);
  EXPECT_EQ(w.size(), start + 250 * 4 + 700 + 5 + 33 + 4);
  EXPECT_EQ(U32At(w, start + xps::kAux1Offset), 0u);
  EXPECT_EQ(U32At(w, start + xps::kAux2Offset), 0u);
  EXPECT_EQ(U32At(w, w.size() - 4), testutil::ReferenceXpsChecksum(&w[start], 250 * 4 + 700 + 5));

  CXps back;
  ASSERT_EQ(back.Load(dir.File("out.xps")), LoadResult::kOk);
  const EntryTable& t = *back.entries;
  EXPECT_EQ(t[0].Name(), std::string(32, 'R'));
  EXPECT_EQ(t[0].mode, 0x8427u);
  EXPECT_EQ(t[1].Name(), std::string(32, 'f'));
  EXPECT_EQ(t[1].Title(), std::string(32, 'f'));
  EXPECT_EQ(t[1].mode, 0x8497u);  // the upper bits are lost
  EXPECT_EQ(t[2].mode, 0x8497u);  // a zero mode comes back as a new file's
  EXPECT_EQ(t[3].mode, 0x8427u);
  EXPECT_EQ(t[1].created, created);
  EXPECT_EQ(t[1].modified, modified);
  EXPECT_EQ(t[2].aux1, 0xA1A2A3A4u);
  EXPECT_EQ(t[2].aux2, 0xB1B2B3B4u);
  EXPECT_EQ(t[0].created, (*source.entries)[0].created);
  EXPECT_EQ(FilesOf(back), FilesOf(source));
}

// ---------------------------------------------------------------- real files

TEST(XpsCorpus, LoadsAndSavesByteForByte) {
  for (const char* name : {"xps/a.xps", "sps/a.sps", "sps/b.sps"}) {
    REQUIRE_CORPUS(path, name);
    CXps x;
    ASSERT_EQ(x.Load(path), LoadResult::kOk) << name;
    EXPECT_GE(x.entries->size(), 2u) << name;
    TempDir dir;
    ASSERT_EQ(x.Save(dir.File("out.xps")), LoadResult::kOk) << name;
    EXPECT_EQ(ReadFile(dir.File("out.xps")), ReadFile(path)) << name;
  }
}

TEST(XpsCorpus, SameFilesAsThePsu) {
  REQUIRE_CORPUS(xpsPath, "xps/a.xps");
  REQUIRE_CORPUS(psuPath, "psu/a.psu");
  CXps x;
  CPsu p;
  ASSERT_EQ(x.Load(xpsPath), LoadResult::kOk);
  ASSERT_EQ(p.Load(psuPath), LoadResult::kOk);
  EXPECT_EQ(FilesOf(x), FilesOf(p));
  ASSERT_EQ(x.entries->size(), p.entries->size());
  // The two were made at different times and mark the folder differently; the files agree.
  for (std::size_t i = 0; i < x.entries->size(); ++i) {
    const SaveEntry &a = (*x.entries)[i], &b = (*p.entries)[i];
    EXPECT_EQ(a.Name(), b.Name()) << i;
    EXPECT_EQ(a.size, b.size) << i;
    if (i > 0) {
      EXPECT_EQ(a.mode, b.mode) << i;
    }
  }
}

TEST(XpsCorpus, PsuToXpsAndBack) {
  REQUIRE_CORPUS(psuPath, "psu/a.psu");
  TempDir dir;
  CPsu original;
  ASSERT_EQ(original.Load(psuPath), LoadResult::kOk);
  CXps asXps;
  ASSERT_EQ(asXps.WriteConvertedFrom(original, dir.File("a.xps")), LoadResult::kOk);
  CXps loaded;
  ASSERT_EQ(loaded.Load(dir.File("a.xps")), LoadResult::kOk);
  CPsu asPsu;
  ASSERT_EQ(asPsu.WriteConvertedFrom(loaded, dir.File("back.psu")), LoadResult::kOk);
  CPsu back;
  ASSERT_EQ(back.Load(dir.File("back.psu")), LoadResult::kOk);

  EXPECT_EQ(FilesOf(back), FilesOf(original));
  ASSERT_EQ(back.entries->size(), original.entries->size());
  for (std::size_t i = 0; i < original.entries->size(); ++i) {
    const SaveEntry &a = (*original.entries)[i], &b = (*back.entries)[i];
    EXPECT_EQ(b.Name(), a.Name()) << i;
    EXPECT_EQ(b.mode, a.mode) << i;
    EXPECT_EQ(b.created, a.created) << i;
    EXPECT_EQ(b.modified, a.modified) << i;
    EXPECT_EQ(b.size, a.size) << i;
  }
  EXPECT_EQ((*loaded.entries)[0].Title(), (*original.entries)[0].Title());
}
