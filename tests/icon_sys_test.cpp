// The icon.sys title: which entry counts, where its bytes come from, and the Shift-JIS
// to ASCII conversion.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <memory>

#include "io/text.h"
#include "model/icon_sys.h"
#include "model/save_game.h"
#include "support/test_util.h"

using testutil::Bytes;

namespace {

std::string Convert(const std::string& raw) {
  std::array<char, 68> in{};
  std::memcpy(in.data(), raw.data(), raw.size());
  std::array<char, 68> out{};
  TitleToAscii(in, out);
  return std::string(out.data());
}

// A save whose single file is an in-memory entry with the given name and bytes.
std::unique_ptr<CGeneric> MemorySave(const std::string& name, const Bytes& data) {
  auto save = std::make_unique<CGeneric>();
  save->entries.emplace(2);
  (*save->entries)[0].size = 3;
  SaveEntry& e = (*save->entries)[1];
  SetField(e.name, name, 32);
  e.size = static_cast<std::uint32_t>(data.size());
  e.source = InMemory{data};
  return save;
}

std::string ReadTitle(const CSaveGame& save, int* result = nullptr) {
  std::array<char, 68> dest{};
  std::memcpy(dest.data(), "unchanged", 10);
  int r = ReadIconSysTitle(save, dest);
  if (result) *result = r;
  return std::string(dest.data());
}

}  // namespace

TEST(TitleToAscii, ConvertsTheTableEntries) {
  struct Case {
    const char* why;
    std::string raw;
    std::string ascii;
  };
  const Case cases[] = {
      {"full-width letters, space and digit", "\x82\x60\x82\x61\x81\x40\x82\x50", "AB 1"},
      {"katakana becomes one underscore", "\x83\x41", "_"},
      {"closing brace is unmapped", "\x81\x70", "_"},
      {"opening brace maps", "\x81\x6F", "{"},
      {"lower-case range ends at z", "\x82\x81\x82\x9A", "az"},
      {"digit range ends at 9", "\x82\x4F\x82\x58", "09"},
      {"just past the ranges", "\x82\x5F\x82\x7A\x82\x9B", "___"},
      {"code page 1252 bytes", "\x81\x4C\x81\x8B\x81\x8E", "\xB4\xB0\xB0"},
      {"punctuation", "\x81\x69\x81\x6A\x81\x97\x81\xC9\x81\xCA", "()@|!"},
      {"ASCII passes", "Plain 123", "Plain 123"},
      {"trailing lone lead byte stays", "AB\x82", "AB\x82"},
      {"half-width katakana swallows the next byte", "\xB1" "A" "B", "_B"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Convert(c.raw), c.ascii) << c.why;
}

TEST(TitleToAscii, StopsAtTheEndOfAnUnterminatedInput) {
  const char raw[4] = {'A', 'B', 'C', 'D'};
  std::array<char, 8> out{};
  TitleToAscii(std::span<const char>(raw, 4), out);
  EXPECT_STREQ(out.data(), "ABCD");
}

TEST(ReadIconSys, TakesTheTitleFromMemory) {
  auto save = MemorySave("icon.sys", testutil::MakeIconSys("\x82\x60 title"));
  int r = 0;
  EXPECT_EQ(ReadTitle(*save, &r), "\x82\x60 title");
  EXPECT_EQ(r, 1);
}

// Both lines of the title in UTF-8, split where icon.sys says. `utf8` empty: what the
// system's Shift-JIS converter gives, for bytes whose reading differs between tables.
TEST(ReadFullTitle, DecodesEachLine) {
  struct Case {
    const char* why;
    std::string raw;
    std::uint16_t split;
    std::string line1, line2;  // empty: as the converter reads the raw line
  };
  const Case cases[] = {
      {"plain ASCII", "Full card 7", 0, "Full card 7", ""},
      {"two ASCII lines", "HelloWorld", 5, "Hello", "World"},
      {"full-width letters", "\x82\x60\x82\x61", 0, "\xEF\xBC\xA1\xEF\xBC\xA2", ""},
      {"ASCII, then full-width on the second line", "Save\x82\x60", 4, "Save", "\xEF\xBC\xA1"},
      {"a control byte", "A\x01", 0, "A\x01", ""},
      {"a lone lead byte at the end", "AB\x82", 0, "", ""},
      {"a backslash", "C:\\", 0, "", ""},
      {"a tilde", "~A", 0, "", ""},
      {"a split past the title: one line", "Short", 40, "Short", ""},
  };
  for (const Case& c : cases) {
    Bytes sys = testutil::MakeIconSys(c.raw);
    sys[6] = static_cast<std::uint8_t>(c.split);
    sys[7] = static_cast<std::uint8_t>(c.split >> 8);
    const FullTitle title = ReadFullTitle(*MemorySave("icon.sys", sys));
    EXPECT_TRUE(title.found) << c.why;
    const std::string first = c.split > 0 && c.split < c.raw.size() ? c.raw.substr(0, c.split) : c.raw;
    EXPECT_EQ(title.line1, c.line1.empty() ? io::ShiftJisToUtf8(first) : c.line1) << c.why;
    EXPECT_EQ(title.line2, c.line2) << c.why;
  }
}

TEST(ReadIconSys, RefusesWrongSizeMarkAndName) {
  struct Case {
    const char* why;
    std::string name;
    Bytes data;
  };
  Bytes good = testutil::MakeIconSys("T");
  Bytes small(good.begin(), good.end() - 1);
  Bytes large = good;
  large.push_back(0);
  Bytes unmarked = good;
  unmarked[3] = 'X';
  const Case cases[] = {
      {"963 bytes", "icon.sys", small},
      {"965 bytes", "icon.sys", large},
      {"no PS2D", "icon.sys", unmarked},
      {"capital letters", "ICON.SYS", good},
      {"longer name", "icon.sys2", good},
  };
  for (const Case& c : cases) {
    auto save = MemorySave(c.name, c.data);
    int r = 1;
    EXPECT_EQ(ReadTitle(*save, &r), "unchanged") << c.why;
    EXPECT_EQ(r, 0) << c.why;
  }
}

TEST(ReadIconSys, A64ByteFieldLosesItsLastByte) {
  std::string full(64, 'x');
  full[62] = 'y';
  full[63] = 'z';
  auto save = MemorySave("icon.sys", testutil::MakeIconSys(full));
  std::string title = ReadTitle(*save);
  EXPECT_EQ(title.size(), 63u);
  EXPECT_EQ(title.back(), 'y');
}

TEST(ReadIconSys, ReadsAPcFileAndSkipsOneThatCannotBeOpened) {
  testutil::TempDir dir;
  testutil::WriteFile(dir.File("icon.sys"), testutil::MakeIconSys("FROM PC"));
  CGeneric save;
  save.AddEntryFromDisk(dir.File("icon.sys"), "icon.sys");
  EXPECT_EQ(ReadTitle(save), "FROM PC");

  // A first icon.sys whose file is gone is passed over for the next one.
  testutil::WriteFile(dir.File("gone"), testutil::MakeIconSys("GONE"));
  CGeneric two;
  two.AddEntryFromDisk(dir.File("gone"), "icon.sys");
  two.AddEntryFromDisk(dir.File("icon.sys"), "icon.sys");
  std::filesystem::remove(dir.path() / "gone");
  EXPECT_EQ(ReadTitle(two), "FROM PC");

  // So is one cut short since, though its title is still there: only the whole file
  // tells it is whole.
  testutil::WriteFile(dir.File("short"), testutil::MakeIconSys("SHORT"));
  CGeneric cut;
  cut.AddEntryFromDisk(dir.File("short"), "icon.sys");
  cut.AddEntryFromDisk(dir.File("icon.sys"), "icon.sys");
  std::filesystem::resize_file(dir.path() / "short", 300);
  EXPECT_EQ(ReadTitle(cut), "FROM PC");
}

TEST(ReadIconSys, ReadsFromTheContainerAtTheDataOffset) {
  testutil::TempDir dir;
  Bytes container(100, 0xEE);
  Bytes icon = testutil::MakeIconSys("IN CONTAINER");
  container.insert(container.end(), icon.begin(), icon.end());
  testutil::WriteFile(dir.File("c"), container);
  CGeneric save;
  save.container = io::OpenSource(dir.File("c"));
  save.entries.emplace(2);
  SaveEntry& e = (*save.entries)[1];
  SetField(e.name, "icon.sys", 32);
  e.size = 964;
  e.source = InContainer{100};
  EXPECT_EQ(ReadTitle(save), "IN CONTAINER");
}

TEST(ReadIconSys, CorpusFilesGiveTitlesOrNone) {
  struct Case {
    const char* file;
    bool hasTitle;
  };
  const Case cases[] = {{"iconsys/1.sys", true}, {"iconsys/3.sys", true},
                        {"iconsys/5-1776-bytes.sys", false}, {"iconsys/2-text-format.sys", false}};
  for (const Case& c : cases) {
    std::string path = testutil::CorpusPath(c.file);
    if (path.empty()) GTEST_SKIP() << "corpus absent";
    CGeneric save;
    save.AddEntryFromDisk(path, "icon.sys");
    int r = -1;
    std::string title = ReadTitle(save, &r);
    EXPECT_EQ(r, c.hasTitle ? 1 : 0) << c.file;
    if (c.hasTitle) {
      EXPECT_FALSE(title.empty()) << c.file;
      std::array<char, 68> ascii{};
      std::array<char, 68> raw{};
      std::memcpy(raw.data(), title.data(), title.size());
      TitleToAscii(raw, ascii);
      EXPECT_GT(std::strlen(ascii.data()), 0u) << c.file;
    }
  }
}
