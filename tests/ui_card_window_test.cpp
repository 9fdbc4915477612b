// The card window and the main window's card commands, driven through the recording fake
// on real card images made by the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>

#include "card/card.h"
#include "card/card_messages.h"
#include "card/card_size.h"
#include "card/ps3_card.h"
#include "card_ids.h"
#include "formats/registry.h"
#include "model/bytes.h"
#include "model/entry_data.h"
#include "model/entry_time_text.h"
#include "resource.h"
#include "support/card_builder.h"
#include "support/icon_builder.h"
#include "support/ps1_builder.h"
#include "support/ps1_card_builder.h"
#include "support/psu_builder.h"
#include "support/sd_tree.h"
#include "support/test_util.h"
#include "ui/main_window.h"
#include "ui/placement.h"
#include "ui_fake_platform.h"

namespace {

using testutil::Bytes;

// "ＡＢ" in Shift-JIS.
const std::string kFullWidthAB = "\x82\x60\x82\x61";

// A save with a drawable icon of one colour, a Shift-JIS title and a data file of
// `dataSize` bytes.
testutil::PsuImage SaveImage(const std::string& folder, std::size_t dataSize = 3000,
                             std::uint16_t colour = 0x7C1F) {
  testutil::IconSysImage sys;
  sys.title = kFullWidthAB;
  testutil::IconImage icon;
  icon.vertices = testutil::Triangle({-4096, -4096, 4096, -4096, 0, 4096}, 0);
  icon.texture = testutil::RawTexture(colour);
  testutil::PsuImage image;
  image.folder = folder;
  image.files = {{"icon.sys", sys.Build()}, {"icon.ico", icon.Build()},
                 // A name of all 32 characters a card allows: an export keeps every one.
                 {"SAVEDATA-OF-A-FULL-32-CHAR-NAME0", testutil::MakeBytes(dataSize, 7)}};
  return image;
}

std::unique_ptr<CSaveGame> Load(const std::string& path) {
  std::unique_ptr<CSaveGame> save = CreateForExtension(ExtensionOf(path));
  if (!save || save->Load(path) != LoadResult::kOk) return nullptr;
  return save;
}

// The files of a card's save: names and bytes.
std::vector<std::pair<std::string, Bytes>> Files(const CSaveGame& save) {
  std::vector<std::pair<std::string, Bytes>> files;
  for (int i = 0; i < save.FileCount(); ++i) {
    Bytes bytes;
    EXPECT_EQ(ReadEntryData(*save.EntryAt(i), save.container.get(), bytes), DataResult::kOk);
    files.emplace_back(std::string(save.EntryAt(i)->FullName()), bytes);
  }
  return files;
}

class CardWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.ResetWindow();
    window.OnInit();
    view.logic = &window.cards();
    otherFake.ResetWindow();
    other.OnInit();
  }

  std::string Psu(const std::string& name, const testutil::PsuImage& image) {
    std::string path = dir.File(name);
    testutil::WriteFile(path, image.Build());
    return path;
  }
  // A raw 8 MiB card holding one save per folder name.
  std::string MakeCard(const std::vector<std::string>& folders, const std::string& name = "card.bin",
                       std::size_t dataSize = 3000) {
    std::string path = dir.File(name);
    testutil::CardFile::Format(path, false);
    std::unique_ptr<card::Card> c = card::OpenCard(path).card;
    for (const std::string& folder : folders) {
      auto save = Load(Psu(folder + ".psu", SaveImage(folder, dataSize)));
      EXPECT_EQ(c->Import(*save).result, card::ImportResult::kImported);
    }
    return path;
  }
  // A raw card holding three saves whose icons differ in colour, opened with the list
  // showing its first row only (or `shown` rows).
  std::string OpenThreeColourCard(const std::string& name, int shown = 1) {
    std::string path = MakeCard({}, name);
    std::unique_ptr<card::Card> c = card::OpenCard(path).card;
    const std::uint16_t colours[] = {0x7C1F, 0x03E0, 0x001F};
    for (int i = 0; i < 3; ++i) {
      const std::string folder = "BESLES-1000" + std::to_string(i) + "ICON";
      EXPECT_EQ(c->Import(*Load(Psu(folder + ".psu", SaveImage(folder, 3000, colours[i])))).result,
                card::ImportResult::kImported);
    }
    view.shownRows = static_cast<std::size_t>(shown);
    OpenCard(path);
    EXPECT_EQ(view.rows.size(), 3u);
    return path;
  }
  // The icon of a row's save drawn straight from the card, as the list once drew every row's.
  std::vector<std::uint8_t> IconFromCard(const std::string& path, std::size_t row) {
    std::unique_ptr<CSaveGame> save = card::OpenCard(path).card->OpenSave(view.rows.at(row).folder).save;
    return save ? ui::SavePicture(*save, ui::kListIconSize).rgba : std::vector<std::uint8_t>{};
  }
  // The first link of a chain of the card made to point at itself.
  static std::string DamageFirstChain(const std::string& path) {
    testutil::CardFile f = testutil::CardFile::Read(path);
    for (std::uint32_t c = 1; c < 8000; ++c) {
      const std::uint32_t link = f.Fat(c);
      if ((link & card::kFatInUse) && link != card::kFatEnd) {
        f.SetFat(c, card::kFatInUse | c);
        break;
      }
    }
    f.Store();
    return path;
  }
  void OpenCard(const std::string& path) {
    fake.dialogAnswers.push_back(path);
    window.OnCommand(IDC_OPEN, 0);
  }
  void Select(std::vector<int> rows) {
    view.selected = std::move(rows);
    window.cards().OnSelectionChanged();
  }
  void Click(int id) { window.cards().OnCommand(id, 0); }
  std::vector<std::string> CardFolders(const std::string& path) {
    std::vector<std::string> folders;
    for (const card::SaveInfo& s : card::OpenCard(path).card->List().saves) folders.push_back(s.folder);
    return folders;
  }

  testutil::TempDir dir{testutil::FastTempBase()};
  testutil::FakePlatform fake;
  testutil::FakeCardView& view = fake.cards;
  ui::MainWindow window{fake};
  // A second main window with its card window, whose saves may be dragged onto the first.
  testutil::FakePlatform otherFake;
  ui::MainWindow other{otherFake};
};

TEST_F(CardWindowTest, OpenDecidesBetweenCardAndSaveByExtensionThenContents) {
  std::string image = MakeCard({});
  const Bytes card = testutil::ReadFile(image);
  const Bytes text = testutil::FromString("not a card");
  struct Case { const char* name; const Bytes* bytes; bool card; };
  const Case cases[] = {{"a.ps2", &text, true},      {"A.VMC", &text, true},
                        {"card.img", &card, true},   {"card.psu", &card, false},
                        {"notes.txt", &text, false}, {"x.max", &card, false}};
  for (const Case& c : cases) {
    testutil::WriteFile(dir.File(c.name), *c.bytes);
    EXPECT_EQ(ui::OpensAsCard(ui::ChosenFileFromPath(dir.File(c.name))), c.card) << c.name;
  }
  // A card that can't be read is reported by the main window, with the card layer's words.
  OpenCard(dir.File("a.ps2"));
  EXPECT_FALSE(view.open);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, card::messages::OpenFailure(card::OpenCard(dir.File("a.ps2"))));
}

// A card image whose superblock lost its signature opens as a card whatever its name, and
// the message names the file and what is wrong; only a blank file is to be formatted.
TEST_F(CardWindowTest, ACardThatCantBeOpenedIsNamedWithWhatIsWrong) {
  const std::string path = MakeCard({"BESLES-11111AAA"}, "Mcd001.img");
  const testutil::CardFile whole = testutil::CardFile::Read(path);
  const std::string lost = "Mcd001.img is a damaged memory card: its superblock (page 0) has lost the card signature, ";
  struct Row {
    const char* why;
    std::function<void(testutil::CardFile&)> damage;
    std::string text;
  };
  const Row rows[] = {
      {"the signature overwritten", [](testutil::CardFile& f) { std::memset(f.Page(0), 'X', 4); },
       lost + "while its FAT and directories are whole; moravelt-cli card check --repair can rebuild the superblock"},
      {"and the FAT gone",
       [](testutil::CardFile& f) {
         std::memset(f.Page(0), 'X', 4);
         std::memset(f.Page(16), 0x55, card::kPageData);
       },
       lost + "and its FAT or directories are damaged too, so the superblock can't be rebuilt"},
      {"all 0xFF", [](testutil::CardFile& f) { std::fill(f.bytes().begin(), f.bytes().end(), 0xFF); },
       "an unformatted card image of 8 MiB: format it first"},
      {"all zero", [](testutil::CardFile& f) { std::fill(f.bytes().begin(), f.bytes().end(), 0x00); },
       "an unformatted card image of 8 MiB: format it first"},
  };
  for (const Row& r : rows) {
    testutil::CardFile f = whole;
    r.damage(f);
    f.Store();
    fake.messages.clear();
    OpenCard(path);
    EXPECT_FALSE(view.open) << r.why;
    ASSERT_EQ(fake.messages.size(), 1u) << r.why;
    EXPECT_EQ(fake.messages[0].text, r.text) << r.why;
    EXPECT_TRUE(testutil::ReadFile(path) == f.bytes()) << r.why;
  }
}

TEST_F(CardWindowTest, ListShowsEachSaveWithItsTitleSizeIconAndTheFreeSpace) {
  std::string path = MakeCard({"BESLES-11111AAA", "BESLES-22222BBB"});
  OpenCard(path);
  ASSERT_TRUE(view.open);
  EXPECT_EQ(view.caption, "Memory card - card.bin");
  EXPECT_EQ(view.Folders(), (std::vector<std::string>{"BESLES-11111AAA", "BESLES-22222BBB"}));
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(view.rows[i].title, "\xEF\xBC\xA1\xEF\xBC\xA2");  // ＡＢ
    EXPECT_EQ(view.rows[i].size, "40 KB");
    ASSERT_EQ(view.icons.size(), 2u);
    EXPECT_EQ(view.icons[i].width, 32);
    EXPECT_NE(view.icons[i].rgba, ui::PlaceholderPicture(32).rgba);
  }
  EXPECT_EQ(view.texts[IDC_CARD_FREE], "7,919 KB free of 8,000 KB (8 MB without ECC)");
  // The main window is left as it was.
  EXPECT_TRUE(fake.rows.empty());
  EXPECT_EQ(fake.windowTitle, "Converter");
}

TEST_F(CardWindowTest, SelectionDecidesTheButtonsAndThePicture) {
  OpenCard(MakeCard({"BESLES-11111AAA", "BESLES-22222BBB"}));
  struct Case { std::vector<int> rows; bool open, several; };
  for (const Case& c : {Case{{}, false, false}, Case{{1}, true, true}, Case{{0, 1}, false, true}}) {
    Select(c.rows);
    EXPECT_EQ(view.enabled[IDC_CARD_OPEN], c.open) << c.rows.size();
    EXPECT_EQ(view.enabled[IDC_CARD_EXPORT], c.several) << c.rows.size();
    EXPECT_EQ(view.enabled[IDC_CARD_DELETE], c.several) << c.rows.size();
    EXPECT_EQ(view.preview.has_value(), !c.rows.empty());
    if (view.preview) {
      EXPECT_EQ(view.preview->width, 128);
    }
  }
}

// A row's title is the one icon.sys gives, its two lines joined by a space; a save
// without a usable icon.sys shows the title its directory entry holds, if any.
TEST_F(CardWindowTest, ARowShowsTheTitleOfItsIconSys) {
  struct Row {
    const char* why;
    std::string title;     // Shift-JIS
    std::uint16_t split;   // where the second line starts, in bytes; 0: one line
    bool iconSys;
    std::string shown;
  };
  const Row rows[] = {
      {"one line", kFullWidthAB, 0, true, "\xEF\xBC\xA1\xEF\xBC\xA2"},
      {"two lines", kFullWidthAB + "CD", 4, true, "\xEF\xBC\xA1\xEF\xBC\xA2 CD"},
      {"a break past the end: one line", "EF", 9, true, "EF"},
      {"no icon.sys", "", 0, false, ""},
  };
  const std::string path = MakeCard({});
  {
    std::unique_ptr<card::Card> c = card::OpenCard(path).card;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
      testutil::PsuImage image = SaveImage("BESLES-1000" + std::to_string(i) + "TITLE");
      testutil::IconSysImage sys;
      sys.title = rows[i].title;
      Bytes bytes = sys.Build();
      bytes::PutU16LE(bytes.data() + 6, rows[i].split);
      if (rows[i].iconSys)
        image.files[0] = {"icon.sys", bytes};
      else
        image.files.erase(image.files.begin());
      ASSERT_EQ(c->Import(*Load(Psu("title.psu", image))).result, card::ImportResult::kImported);
    }
  }
  OpenCard(path);
  ASSERT_EQ(view.rows.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(view.rows[i].title, rows[i].shown) << rows[i].why;
}

// The window works from the card as it read it, and reads it again after each change it
// makes: what another program changed meanwhile then shows (a save replaced with a new
// title and icon, a save added), beside the window's own change.
TEST_F(CardWindowTest, AChangeReadsTheCardAgainWithWhatChangedOutsideTheWindow) {
  struct Row {
    const char* change;
    std::function<void()> act;
    std::vector<std::string> folders;
  };
  const std::string inPsu = Psu("in.psu", SaveImage("BESLES-44444DDD"));
  const Row rows[] = {
      {"import", [&] { view.filesAnswers.push_back({inPsu}); Click(IDC_CARD_IMPORT); },
       {"BESLES-11111AAA", "BESLES-22222BBB", "BESLES-33333CCC", "BESLES-44444DDD"}},
      {"delete", [&] { Select({1}); view.questionAnswers = {true}; Click(IDC_CARD_DELETE); },
       {"BESLES-11111AAA", "BESLES-33333CCC"}},
      {"drop", [&] { other.OpenPath(MakeCard({"BESLES-44444DDD"}, "from.bin")); otherFake.cards.selected = {0};
                     window.cards().OnDropSaves(other.cards().DragSelected()); },
       {"BESLES-11111AAA", "BESLES-22222BBB", "BESLES-33333CCC", "BESLES-44444DDD"}},
  };
  for (const Row& r : rows) {
    const std::string path = MakeCard({"BESLES-11111AAA", "BESLES-22222BBB"}, std::string(r.change) + ".bin");
    OpenCard(path);
    ASSERT_EQ(view.rows.size(), 2u) << r.change;
    ASSERT_EQ(view.icons.size(), 2u) << r.change;
    const icon::Picture before = view.icons[0];
    {
      testutil::PsuImage changed = SaveImage("BESLES-11111AAA");
      testutil::IconSysImage sys;
      sys.title = "OUTSIDE";
      testutil::IconImage icon;
      icon.vertices = testutil::Triangle({-4096, -4096, 4096, -4096, 0, 4096}, 0);
      icon.texture = testutil::RawTexture(0x03E0);
      changed.files[0] = {"icon.sys", sys.Build()};
      changed.files[1] = {"icon.ico", icon.Build()};
      std::unique_ptr<card::Card> other = card::OpenCard(path).card;
      card::ImportOptions replace;
      replace.replace = true;
      ASSERT_EQ(other->Import(*Load(Psu("changed.psu", changed)), replace).result, card::ImportResult::kReplaced);
      ASSERT_EQ(other->Import(*Load(Psu("added.psu", SaveImage("BESLES-33333CCC")))).result,
                card::ImportResult::kImported);
    }
    r.act();
    EXPECT_EQ(view.Folders(), r.folders) << r.change;
    ASSERT_FALSE(view.rows.empty()) << r.change;
    EXPECT_EQ(view.rows[0].title, "OUTSIDE") << r.change;
    ASSERT_EQ(view.icons.size(), view.rows.size()) << r.change;
    EXPECT_NE(view.icons[0].rgba, before.rgba) << r.change;
    EXPECT_NE(view.icons[0].rgba, ui::PlaceholderPicture(32).rgba) << r.change;
    Click(IDC_CARD_CLOSE);
  }
}

// A list time has each field padded with zeros to its width, and a value past the width
// (a damaged entry's) in full.
TEST(CardListTime, FieldsArePaddedToTheirWidthAndNeverCut) {
  struct Row {
    std::uint16_t year;
    std::uint8_t month, day, hour, minute;
    const char* text;
  };
  const Row rows[] = {
      {2007, 3, 5, 14, 3, "2007-03-05 14:03"},  {1999, 12, 31, 23, 59, "1999-12-31 23:59"},
      {0, 0, 0, 0, 0, "0000-00-00 00:00"},      {999, 1, 10, 9, 7, "0999-01-10 09:07"},
      {10000, 1, 1, 0, 0, "10000-01-01 00:00"}, {65535, 255, 255, 255, 255, "65535-255-255 255:255"},
  };
  for (const Row& r : rows) {
    EntryTime t;
    t.year = r.year, t.month = r.month, t.day = r.day, t.hour = r.hour, t.minute = r.minute, t.second = 59;
    EXPECT_EQ(ListingForm(t, /*seconds=*/false), r.text);
  }
}

// Where both shells open the card window: to the right of the main window, else to its
// left, else beside it with the main window moved so that the pair is centred, else against
// the screen's right edge; its top the main window's, kept on the screen.
TEST(CardWindowPlacement, BesideTheMainWindowWhichMovesOnlyWhenNeitherSideHasRoom) {
  struct Row {
    const char* what;
    ui::ScreenRect work, main;
    int width, height;
    ui::ScreenPoint card;
    std::optional<ui::ScreenPoint> mainMoved;
  };
  const ui::ScreenRect screen{0, 0, 1000, 700};
  const Row rows[] = {
      {"room on the right", screen, {50, 40, 400, 300}, 300, 200, {458, 40}, {}},
      {"exactly room on the right", screen, {0, 40, 492, 300}, 500, 200, {500, 40}, {}},
      {"room on the left only", screen, {600, 40, 300, 300}, 250, 200, {342, 40}, {}},
      {"room for both once the main window moves", screen, {300, 40, 400, 300}, 350, 200, {529, 40},
       ui::ScreenPoint{121, 40}},
      {"no room for both", screen, {100, 40, 600, 300}, 500, 200, {500, 40}, {}},
      {"wider than the screen", screen, {100, 40, 600, 300}, 1200, 200, {0, 40}, {}},
      {"low on the screen", screen, {50, 600, 400, 90}, 300, 200, {458, 500}, {}},
      {"above the screen's top", screen, {50, -30, 400, 300}, 300, 200, {458, 0}, {}},
      {"taller than the screen", screen, {50, 40, 400, 300}, 300, 800, {458, 0}, {}},
      {"a second screen below a task bar", {1000, 30, 800, 570}, {1100, 30, 300, 200}, 300, 200, {1408, 30}, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const ui::CardPlacement placed = ui::PlaceCardWindow(r.work, r.main, r.width, r.height);
    EXPECT_EQ(placed.card.x, r.card.x);
    EXPECT_EQ(placed.card.y, r.card.y);
    ASSERT_EQ(placed.main.has_value(), r.mainMoved.has_value());
    if (!r.mainMoved) continue;
    EXPECT_EQ(placed.main->x, r.mainMoved->x);
    EXPECT_EQ(placed.main->y, r.mainMoved->y);
  }
}

// The list's icons are drawn as the list asks for them, each once, and are what drawing
// every save's icon when the card opens gave. A row the list doesn't have gets none.
TEST_F(CardWindowTest, ListIconsAreDrawnWhenTheListAsksForThem) {
  const std::string path = OpenThreeColourCard("card.bin");
  ui::CardWindow& logic = window.cards();
  EXPECT_EQ(logic.DrawnIcons(), 1u);
  ASSERT_EQ(view.icons.size(), 1u);
  EXPECT_EQ(view.icons[0].rgba, IconFromCard(path, 0));
  ASSERT_NE(IconFromCard(path, 1), IconFromCard(path, 2));
  for (int row : {2, 0, 1}) {
    const icon::Picture* drawn = logic.RowIcon(row);
    ASSERT_NE(drawn, nullptr) << row;
    EXPECT_EQ(drawn->rgba, IconFromCard(path, static_cast<std::size_t>(row))) << row;
    EXPECT_EQ(logic.RowIcon(row), drawn) << row;  // kept
  }
  EXPECT_EQ(logic.DrawnIcons(), 3u);
  for (int row : {-1, 3, 1 << 30, -(1 << 30)}) EXPECT_EQ(logic.RowIcon(row), nullptr) << row;
  EXPECT_EQ(logic.DrawnIcons(), 3u);
}

// Rows about to come into view are drawn together, on two threads: each row gets its own
// save's icon, and rows past either end of the list are passed over. An odd row out (one
// row alone, or the third of three) is drawn in two bands, the same picture.
TEST_F(CardWindowTest, IconsWantedTogetherAreEachTheirOwnRows) {
  struct Row {
    int first, last;
    std::size_t drawn;  // row 0 is drawn as the card opens, unless `shown` is 0
    int shown = 1;
  };
  for (const Row& r : {Row{1, 2, 3}, Row{-5, 10, 3}, Row{0, 1, 2}, Row{2, 1, 1}, Row{3, 9, 1}, Row{0, 2, 3, 0},
                       Row{1, 1, 1, 0}}) {
    const std::string path = OpenThreeColourCard(
        "card-" + std::to_string(r.first) + "-" + std::to_string(r.last) + "-" + std::to_string(r.shown) + ".bin", r.shown);
    ui::CardWindow& logic = window.cards();
    logic.IconsWanted(r.first, r.last);
    EXPECT_EQ(logic.DrawnIcons(), r.drawn) << r.first << ".." << r.last;
    for (int row = 0; row < 3; ++row)
      EXPECT_EQ(logic.RowIcon(row)->rgba, IconFromCard(path, static_cast<std::size_t>(row))) << r.first << ".." << r.last << " row " << row;
  }
}

// Rows drawn together whose save has no icon to draw (its icon.sys names a file the save
// lacks) take the placeholder wherever they fall, the odd row out among them; the others
// their own icons.
TEST_F(CardWindowTest, RowsWithoutAnIconTakeThePlaceholderWhereverTheyFall) {
  std::set<int> lackingRows;
  for (int missing = 0; missing < 3; ++missing) {
    const std::string path = MakeCard({}, "lacking-" + std::to_string(missing) + ".bin");
    {
      std::unique_ptr<card::Card> c = card::OpenCard(path).card;
      for (int i = 0; i < 3; ++i) {
        const std::string folder = "BESLES-2000" + std::to_string(i) + "ICON";
        testutil::PsuImage image = SaveImage(folder, 3000, 0x03E0);
        if (i == missing) image.files.erase(image.files.begin() + 1);  // icon.ico
        ASSERT_EQ(c->Import(*Load(Psu(folder + ".psu", image))).result, card::ImportResult::kImported);
      }
    }
    view.shownRows = 0;
    OpenCard(path);
    ASSERT_EQ(view.rows.size(), 3u);
    ui::CardWindow& logic = window.cards();
    logic.IconsWanted(0, 2);
    EXPECT_EQ(logic.DrawnIcons(), 3u) << missing;
    for (int row = 0; row < 3; ++row) {
      const std::size_t at = static_cast<std::size_t>(row);
      const bool lacking = view.rows[at].folder == "BESLES-2000" + std::to_string(missing) + "ICON";
      if (lacking) lackingRows.insert(row);
      const std::vector<std::uint8_t> want = lacking ? ui::PlaceholderPicture(32).rgba : IconFromCard(path, at);
      EXPECT_EQ(logic.RowIcon(row)->rgba, want) << "missing " << missing << ", row " << row;
    }
  }
  EXPECT_EQ(lackingRows, (std::set<int>{0, 1, 2}));
}

// Once the card changes, the icons drawn for the old rows are forgotten: each row shows its
// own save's icon, and only the rows the list shows again are drawn.
TEST_F(CardWindowTest, AChangeToTheCardForgetsTheIconsDrawn) {
  struct Row {
    const char* change;
    std::function<void()> act;
    std::size_t rows;
  };
  const std::string inPsu = Psu("in.psu", SaveImage("BESLES-44444DDD", 3000, 0x7FE0));
  const Row rows[] = {
      {"import", [&] { view.filesAnswers.push_back({inPsu}); Click(IDC_CARD_IMPORT); }, 4},
      {"delete", [&] { Select({0}); view.questionAnswers = {true}; Click(IDC_CARD_DELETE); }, 2},
      {"close", [&] { Click(IDC_CARD_CLOSE); }, 0},
  };
  ui::CardWindow& logic = window.cards();
  for (const Row& r : rows) {
    const std::string path = OpenThreeColourCard(std::string(r.change) + ".bin");
    for (int row = 0; row < 3; ++row) ASSERT_NE(logic.RowIcon(row), nullptr) << r.change;
    r.act();
    EXPECT_EQ(logic.DrawnIcons(), std::min<std::size_t>(r.rows, 1)) << r.change;
    for (std::size_t row = 0; row < r.rows; ++row) {
      ASSERT_EQ(view.rows.size(), r.rows) << r.change;
      const icon::Picture* drawn = logic.RowIcon(static_cast<int>(row));
      ASSERT_NE(drawn, nullptr) << r.change << " " << row;
      EXPECT_EQ(drawn->rgba, IconFromCard(path, row)) << r.change << " " << row;
    }
    EXPECT_EQ(logic.RowIcon(static_cast<int>(r.rows)), nullptr) << r.change;
    if (view.open) Click(IDC_CARD_CLOSE);
  }
}

TEST_F(CardWindowTest, ImportTakesEveryFileAndReportsEachRefusalInTheCardLayersWords) {
  std::string path = MakeCard({"BESLES-11111AAA"});
  OpenCard(path);
  std::string fits = Psu("fits.psu", SaveImage("BESLES-33333CCC"));
  std::string again = Psu("again.psu", SaveImage("BESLES-11111AAA"));
  std::string huge = Psu("huge.psu", SaveImage("BESLES-44444DDD", 8u << 20));
  testutil::WriteFile(dir.File("notes.txt"), testutil::FromString("text"));
  view.filesAnswers.push_back({fits, again, dir.File("notes.txt"), huge});
  Click(IDC_CARD_IMPORT);
  EXPECT_NE(view.fileDialogs.at(0).flags & ui::kDialogMultiSelect, 0u);
  EXPECT_EQ(view.Folders(), (std::vector<std::string>{"BESLES-11111AAA", "BESLES-33333CCC"}));
  ASSERT_EQ(view.messages.size(), 1u);
  const std::string& text = view.messages[0].text;
  EXPECT_NE(text.find("BESLES-11111AAA is already on the card"), std::string::npos) << text;
  EXPECT_NE(text.find("notes.txt: Unknown file type"), std::string::npos) << text;
  EXPECT_NE(text.find("BESLES-44444DDD does not fit: needs "), std::string::npos) << text;

  // Refused imports leave the card as it was, byte for byte; so does a drop of nothing usable.
  const Bytes before = testutil::ReadFile(path);
  view.filesAnswers.push_back({again, huge});
  Click(IDC_CARD_IMPORT);
  std::filesystem::create_directory(dir.File("folder"));
  window.cards().OnDropFiles({dir.File("folder"), dir.File("gone.psu")});
  EXPECT_EQ(testutil::ReadFile(path), before);
  EXPECT_EQ(view.messages.size(), 2u);
  // A drop imports the save files among the paths.
  window.cards().OnDropFiles({dir.File("folder"), Psu("dropped.psu", SaveImage("BESLES-55555EEE"))});
  EXPECT_EQ(CardFolders(path).back(), "BESLES-55555EEE");
}

// Saves dragged from the second window's card onto the first window's: copied as Import...
// copies save files, with its refusals in its words, and the other card never changed. A
// drag whose card has gone, or that another program made, is refused.
TEST_F(CardWindowTest, SavesDraggedOntoAnotherCardGoThereAsImportPutsThem) {
  const auto ps2 = [this](const char* name, std::vector<std::string> folders, std::size_t size = 3000) {
    return [=, this] { return MakeCard(folders, name, size); };
  };
  const auto ps1 = [this](const char* name, bool saves) {  // a live save, and a damaged one
    return [=, this] {
      testutil::Ps1Card c;
      if (saves) c.PutSave("BASLUS-00001LIVE", {1, 3}, testutil::MakePs1Blocks(2, 1));
      if (saves) c.SetEntry(5, 0x51, 3 * 8192, 0x339, "BISLPS-00003BROKEN");
      testutil::WriteFile(dir.File(name), c.bytes);
      return dir.File(name);
    };
  };
  const auto damaged = [&] { return DamageFirstChain(MakeCard({"BESLES-33333CCC"}, "to.bin")); };
  const auto same = [](std::string d) { return d; };
  const std::string two = "BESLES-11111AAA", one = "BESLES-22222BBB", refused = "<refused>";
  struct Row {
    const char* what;
    std::function<std::string()> from, onto;  // no `onto`: the window it came from
    std::vector<int> dragged;
    std::vector<std::string> after;  // the saves on the card dropped on
    std::string message;             // what its window says; empty: nothing; refused: not taken
    std::function<std::string(std::string)> drag = nullptr;  // the drag as it reaches the window
  };
  const Row rows[] = {
      {"a PS2 save onto a PS2 card", ps2("from.bin", {two, one}), ps2("to.bin", {}), {0}, {two}, ""},
      {"one already there", ps2("from.bin", {two, one}), ps2("to.bin", {one}), {0, 1}, {one, two},
       one + " is already on the card"},
      {"onto a full card", ps2("from.bin", {"BESLES-88888MID"}, 2u << 20), ps2("to.bin", {"BESLES-99999BIG"}, 7u << 20),
       {0}, {"BESLES-99999BIG"}, "BESLES-88888MID does not fit: needs 2,085 KB, 794 KB free"},
      {"a PS1 save onto a PS2 card", ps1("from.mcd", true), ps2("to.bin", {}), {0}, {},
       "BASLUS-00001LIVE is a PlayStation 1 save: a PlayStation 2 card can't hold it"},
      {"a PS1 save and a damaged one", ps1("from.mcd", true), ps1("to.mcd", false), {0, 1}, {"BASLUS-00001LIVE"},
       "BISLPS-00003BROKEN is damaged on the card; check the card"},
      {"onto a damaged card", ps2("from.bin", {two}), damaged, {0}, {"BESLES-33333CCC"},
       "The card is damaged and is not written to; check it first"},
      {"onto its card in another window", ps2("from.bin", {two}), [this] { return dir.File("from.bin"); }, {0}, {two},
       two + " is already on the card"},
      {"onto the window it came from", ps2("from.bin", {two, one}), nullptr, {0}, {two, one}, refused},
      {"its card closed meanwhile", ps2("from.bin", {two}), ps2("to.bin", {}), {0}, {}, refused,
       [this](std::string d) { other.cards().OnClose(); return d; }},
      {"its card opened again", ps2("from.bin", {two}), ps2("to.bin", {}), {0}, {}, refused,
       [this](std::string d) { other.OpenPath(dir.File("from.bin")); return d; }},
      {"another program's", ps2("from.bin", {two}), ps2("to.bin", {}), {0}, {}, refused,
       [](std::string d) { d[d.find(' ') + 1] ^= 1; return d; }},
  };
  for (const Row& r : rows) {
    const std::string from = r.from(), onto = r.onto ? r.onto() : from;
    const Bytes fromBefore = testutil::ReadFile(from);
    view.messages.clear();
    OpenCard(onto);
    ui::CardWindow& source = r.onto ? other.cards() : window.cards();
    if (r.onto) other.OpenPath(from);
    (r.onto ? otherFake.cards : view).selected = r.dragged;
    const std::string dragged = (r.drag ? r.drag : same)(source.DragSelected());
    EXPECT_EQ(window.cards().TakesDrop(dragged), r.message != refused) << r.what;
    window.cards().OnDropSaves(dragged);
    std::vector<std::string> after;
    for (const card::SaveInfo& s : card::OpenCard(onto).card->List().saves) after.push_back(s.folder);
    EXPECT_EQ(after, r.after) << r.what;
    EXPECT_EQ(view.Folders(), r.after) << r.what;  // the list shows the card again
    EXPECT_EQ(view.messages.empty() ? "" : view.messages.back().text, r.message == refused ? "" : r.message) << r.what;
    EXPECT_EQ(testutil::ReadFile(from), fromBefore) << r.what;
    for (const std::string& folder : after) {  // each save copied whole
      std::unique_ptr<CSaveGame> copy = card::OpenCard(onto).card->OpenSave(folder).save;
      std::unique_ptr<CSaveGame> original = card::OpenCard(from).card->OpenSave(folder).save;
      if (copy && original) {
        EXPECT_EQ(Files(*copy), Files(*original)) << r.what << " " << folder;
      }
    }
    Click(IDC_CARD_CLOSE);
    other.cards().OnClose();
    for (const std::string& path : {from, onto}) std::filesystem::remove(path);
  }
}

TEST_F(CardWindowTest, DeleteAsksNamingTheSavesAndLetsTheMainWindowDropOneOfThem) {
  std::string path = MakeCard({"BESLES-11111AAA", "BESLES-22222BBB", "BESLES-33333CCC"});
  OpenCard(path);
  Select({0});
  Click(IDC_CARD_OPEN);
  ASSERT_EQ(fake.Text(IDC_FOLDER_NAME), "BESLES-11111AAA");
  const Bytes before = testutil::ReadFile(path);
  Select({0, 2});
  view.questionAnswers = {false, true};
  Click(IDC_CARD_DELETE);
  EXPECT_EQ(testutil::ReadFile(path), before);
  Click(IDC_CARD_DELETE);
  EXPECT_EQ(view.messages[0].text, "Delete these saves from the card?\n\nBESLES-11111AAA\nBESLES-33333CCC");
  EXPECT_EQ(CardFolders(path), std::vector<std::string>{"BESLES-22222BBB"});
  EXPECT_EQ(view.Folders(), std::vector<std::string>{"BESLES-22222BBB"});
  // The window held a save whose pages are free now: it holds nothing.
  EXPECT_TRUE(fake.rows.empty());
  EXPECT_FALSE(fake.controlEnabled[IDC_SAVE]);
  EXPECT_EQ(fake.windowTitle, "Converter");
}

// Both shells open the export dialog from the request: its own texts where the request
// leaves them empty, the first target, and OK only with a folder offered.
TEST(ExportDialog, OpensWithTheRequestsTextsOrItsOwn) {
  struct Row {
    ui::ExportRequest request;
    const char *caption, *targetLabel, *folderTitle;
    bool ok;
  };
  const Row rows[] = {
      {{{"a", "b"}, "", "", "", ""}, LABEL_EXPORT_CAPTION, LABEL_EXPORT_FORMAT, "Export to this folder", false},
      {{{"a"}, "/media/sd", std::string(ui::kSplitCaption), std::string(ui::kSplitDeviceLabel), std::string(ui::kSdFolderTitle)},
       "Split onto SD card", "Device:", "The SD card's folder", true},
  };
  for (const Row& r : rows) {
    const ui::ExportDialogStart start = ui::ExportDialogStartOf(r.request);
    EXPECT_EQ(start.caption, r.caption);
    EXPECT_EQ(start.targetLabel, r.targetLabel);
    EXPECT_EQ(start.folderTitle, r.folderTitle);
    EXPECT_EQ(start.folder, r.request.folder);
    EXPECT_EQ(start.target, 0);
    EXPECT_EQ(start.okEnabled, r.ok);
  }
}

TEST_F(CardWindowTest, ExportWritesEachSelectedSaveAsTheChosenTarget) {
  std::string path = MakeCard({"BESLES-11111AAA", "BESLES-22222BBB"});
  OpenCard(path);
  auto onCard = Files(*card::OpenCard(path).card->OpenSave("BESLES-22222BBB").save);
  std::vector<ui::ExportTarget> targets = ui::ExportTargets();
  for (int t = 0; t < static_cast<int>(targets.size()); ++t) {
    std::string out = dir.File("out" + std::to_string(t));
    Select({0, 1});
    view.exportAnswers.push_back(ui::ExportChoice{out, t});
    Click(IDC_CARD_EXPORT);
    EXPECT_EQ(view.exportRequests.back().targets.size(), targets.size());
    std::string written = out + "/BESLES-22222BBB";
    if (!targets[t].family) {
      for (const auto& [name, bytes] : onCard) EXPECT_EQ(testutil::ReadFile(written + "/" + name), bytes) << name;
      continue;
    }
    // A PS3 takes its export only under the name it makes from the folder.
    written = targets[t].family->name == "psv" ? out + "/BESLES-22222424242.PSV"
                                               : written + "." + std::string(targets[t].family->OwnExtension());
    auto save = Load(written);
    ASSERT_TRUE(save) << written;
    EXPECT_EQ(Files(*save), onCard) << targets[t].label;
  }
  EXPECT_TRUE(view.messages.empty());
  // An existing file is replaced only after a Yes.
  std::string kept = dir.File("out0/BESLES-11111AAA.psu");
  testutil::WriteFile(kept, testutil::FromString("mine"));
  Select({0});
  view.exportAnswers.push_back(ui::ExportChoice{dir.File("out0"), 0});
  view.questionAnswers.push_back(false);
  Click(IDC_CARD_EXPORT);
  EXPECT_EQ(view.exportRequests.back().folder, dir.File("out" + std::to_string(targets.size() - 1)));
  EXPECT_EQ(testutil::ReadFile(kept), testutil::FromString("mine"));
}

TEST_F(CardWindowTest, SaveWritesAnEditedCardSaveBackAndRefusalsChangeNothing) {
  std::string path = MakeCard({"BESLES-11111AAA", "BESLES-22222BBB"});
  OpenCard(path);
  Select({1});
  window.cards().OnDoubleClick();
  EXPECT_EQ(fake.windowTitle, "BESLES-22222BBB on card.bin - Converter");
  window.OnListLabelEditEnd(2, "renamed.bin");
  window.OnCommand(IDC_SAVE, 0);
  EXPECT_TRUE(fake.messages.empty());
  std::unique_ptr<card::Card> c = card::OpenCard(path).card;
  EXPECT_FALSE(c->Damaged());
  for (const card::Issue& issue : c->Check()) EXPECT_EQ(issue.severity(), card::Severity::kNotice) << issue.message;
  EXPECT_EQ(Files(*c->OpenSave("BESLES-22222BBB").save).back().first, "renamed.bin");

  // Renamed to a folder the card already has: refused, the card as it was.
  const Bytes before = testutil::ReadFile(path);
  fake.onProperties = [this](int index) {
    window.commands().Current()->SetName(index, "BESLES-11111AAA");
    return true;
  };
  window.OnCommand(IDC_FOLDER_PROPERTIES, 0);
  window.OnCommand(IDC_SAVE, 0);
  EXPECT_EQ(fake.LastMessage().text, "BESLES-11111AAA is already on the card");
  // Too large for the card: refused as well.
  std::string big = dir.File("big.bin");
  testutil::WriteFile(big, testutil::MakeBytes(8u << 20, 3));
  fake.onProperties = [this](int index) {
    window.commands().Current()->SetName(index, "BESLES-22222BBB");
    return true;
  };
  window.OnCommand(IDC_FOLDER_PROPERTIES, 0);
  window.OnDropFiles({big});
  window.OnCommand(IDC_SAVE, 0);
  EXPECT_NE(fake.LastMessage().text.find("does not fit"), std::string::npos);
  EXPECT_EQ(testutil::ReadFile(path), before);

  // Renamed to a new folder: on the card under that name, the old copy gone.
  window.commands().Current()->RemoveEntry(3);
  fake.onProperties = [this](int index) {
    window.commands().Current()->SetName(index, "BESLES-99999ZZZ");
    return true;
  };
  window.OnCommand(IDC_FOLDER_PROPERTIES, 0);
  EXPECT_EQ(fake.windowTitle, "BESLES-99999ZZZ on card.bin - Converter");
  window.OnCommand(IDC_SAVE, 0);
  EXPECT_EQ(CardFolders(path), (std::vector<std::string>{"BESLES-11111AAA", "BESLES-99999ZZZ"}));
  EXPECT_EQ(view.Folders(), CardFolders(path));
  // Save as still writes a file, offering the folder's name.
  fake.dialogAnswers.push_back(std::nullopt);
  window.OnCommand(IDM_SAVE_AS, 0);
  EXPECT_EQ(fake.dialogs.back().request.fileName, "BESLES-99999ZZZ");
}

// The PS3's cards: the window names the kind and a .VME's key, and an import goes back
// into the file as its kind holds it.
TEST_F(CardWindowTest, Ps3CardsAreNamedAndWrittenBackAsTheirKind) {
  const std::string plain = MakeCard({"BESLES-11111AAA"}), inPsu = Psu("in.psu", SaveImage("BESLES-44444DDD"));
  for (const auto& [name, kind, key, free] :
       {std::tuple{"card.VM2", card::CardType::kPs3Vm2, card::VmeKey::kRetail, "7,959 KB free of 8,000 KB (8 MB PS3 card (.VM2))"},
        {"SCEVMC1.VME", card::CardType::kPs3Vme, card::VmeKey::kDebug,
         "7,959 KB free of 8,000 KB (8 MB PS2 Classics card (.VME), debug key)"}}) {
    {
      io::OutputFile out(dir.File(name), false);
      ASSERT_EQ(card::ConvertCardFile(io::OpenSource(plain), card::CardType::kRawImage, out, {kind, key, false}),
                card::ConvertResult::kConverted);
    }
    OpenCard(dir.File(name));
    EXPECT_EQ(view.texts[IDC_CARD_FREE], free);
    view.filesAnswers.push_back({inPsu});
    Click(IDC_CARD_IMPORT);
    const card::OpenedCard back = card::OpenCard(dir.File(name));
    ASSERT_TRUE(back.card && back.card->issues().empty()) << name;
    EXPECT_EQ(back.card->type(), kind) << name;
    EXPECT_NE(view.texts[IDC_CARD_FREE].find(card::SizeText(card::SizeOf(*back.card))), std::string::npos) << name;
    EXPECT_EQ(CardFolders(dir.File(name)), (std::vector<std::string>{"BESLES-11111AAA", "BESLES-44444DDD"})) << name;
  }
}

TEST_F(CardWindowTest, NewCardFormatsOnlyWhereNothingIsAndOpensIt) {
  struct Case {
    const char* name;
    ui::NewCardChoice choice;
    std::uint64_t size;
    const char* free;
  };
  for (const Case& c : {Case{"new.ps2", {8, true}, 8650752, "8,000 KB free of 8,000 KB (8 MB with ECC)"},
                        Case{"raw.bin", {16, false}, 16u << 20, "16,000 KB free of 16,000 KB (16 MB without ECC)"},
                        Case{"small.mcd", {1, false}, 1u << 20, "994 KB free of 994 KB (1 MB without ECC)"}}) {
    fake.newCardAnswers.push_back(c.choice);
    fake.dialogAnswers.push_back(dir.File(c.name));
    // A card of another size than 8 MB is made only once the warning is answered Yes.
    if (c.choice.megabytes != 8) fake.questionAnswers.push_back(true);
    window.OnCommand(IDM_NEW_CARD, 0);
    EXPECT_EQ(std::filesystem::file_size(dir.File(c.name)), c.size) << c.name;
    EXPECT_TRUE(view.open);
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(view.texts[IDC_CARD_FREE], c.free);
  }
  ASSERT_EQ(fake.messages.size(), 2u);
  EXPECT_EQ(fake.messages[1].text, card::messages::SizeWarning(1) + "\n\nMake the card all the same?");
  fake.messages.clear();
  fake.newCardAnswers.push_back(ui::NewCardChoice{4, false});
  fake.questionAnswers.push_back(false);
  window.OnCommand(IDM_NEW_CARD, 0);
  EXPECT_EQ(fake.dialogs.size(), 3u);  // no name is asked for a card not made
  fake.messages.clear();
  testutil::WriteFile(dir.File("taken.ps2"), testutil::FromString("keep"));
  fake.newCardAnswers = {ui::NewCardChoice{}, std::nullopt};
  fake.dialogAnswers.push_back(dir.File("taken.ps2"));
  window.OnCommand(IDM_NEW_CARD, 0);
  window.OnCommand(IDM_NEW_CARD, 0);
  EXPECT_EQ(fake.LastMessage().text, "Something is already there; nothing was formatted");
  EXPECT_EQ(testutil::ReadFile(dir.File("taken.ps2")), testutil::FromString("keep"));
}

TEST_F(CardWindowTest, FolderCardsOpenThroughTheFolderPickerAndCloseReleasesTheCard) {
  std::string folder = dir.File("Mcd001.ps2");
  ASSERT_EQ(card::FormatFolderCard(folder, card::FormatOptions{}), card::FormatResult::kFormatted);
  fake.folderAnswers = {std::nullopt, folder};
  window.OnCommand(IDM_OPEN_CARD_FOLDER, 0);
  EXPECT_FALSE(view.open);
  window.OnCommand(IDM_OPEN_CARD_FOLDER, 0);
  ASSERT_TRUE(view.open);
  view.filesAnswers.push_back({Psu("a.psu", SaveImage("BESLES-11111AAA"))});
  Click(IDC_CARD_IMPORT);
  EXPECT_EQ(view.Folders(), std::vector<std::string>{"BESLES-11111AAA"});
  Click(IDC_CARD_CLOSE);
  EXPECT_FALSE(view.open);
  EXPECT_FALSE(window.cards().IsOpen());
}

TEST_F(CardWindowTest, PathsNamedOutsideTheDialogsOpenAsFileOpenWouldAndFoldersAsFolderCards) {
  std::string folderCard = dir.File("memory card folder");
  ASSERT_EQ(card::FormatFolderCard(folderCard, card::FormatOptions{}), card::FormatResult::kFormatted);
  struct Case { std::string path; bool card; std::string folder; };
  const Case cases[] = {{MakeCard({"BESLES-11111AAA"}, "any.img"), true, ""},
                        {folderCard, true, ""},
                        {Psu("save.psu", SaveImage("BESLES-22222BBB")), false, "BESLES-22222BBB"},
                        {dir.File("missing.psu"), false, ""}};
  for (const Case& c : cases) {
    window.cards().OnClose();
    fake.messages.clear();
    window.OpenPath(c.path);
    EXPECT_EQ(view.open, c.card) << c.path;
    EXPECT_EQ(fake.Text(IDC_FOLDER_NAME), c.folder) << c.path;
    // Only the file that is not there is reported.
    EXPECT_EQ(fake.messages.size(), c.card || !c.folder.empty() ? 0u : 1u) << c.path;
  }
}

TEST_F(CardWindowTest, DamagedCardIsShownWithWhatIsWrongAndNeverWritten) {
  std::string path = DamageFirstChain(MakeCard({"BESLES-11111AAA"}));
  const Bytes before = testutil::ReadFile(path);
  OpenCard(path);
  ASSERT_TRUE(view.open);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text.rfind("The card is damaged and is not written to; check it first\ndamage: ", 0), 0u)
      << view.messages[0].text;
  view.filesAnswers.push_back({Psu("b.psu", SaveImage("BESLES-22222BBB"))});
  Click(IDC_CARD_IMPORT);
  Select({0});
  view.questionAnswers.push_back(true);
  Click(IDC_CARD_DELETE);
  ASSERT_EQ(view.messages.size(), 4u);  // the damage, the refused import, the question, the refused delete
  EXPECT_EQ(view.messages[1].text, view.messages[3].text);
  EXPECT_EQ(testutil::ReadFile(path), before);
}

TEST_F(CardWindowTest, CorpusCardShowsBothSavesWithTheirIcons) {
  REQUIRE_CORPUS(corpus, "card/a.ps2");
  std::string path = dir.File("a.ps2");
  std::filesystem::copy_file(corpus, path);
  OpenCard(path);
  ASSERT_EQ(view.rows.size(), 2u);
  const std::vector<std::string> names = view.Folders();
  std::set<std::string> folders(names.begin(), names.end());
  EXPECT_TRUE(folders.count("BESCES-50501REZ") && folders.count("BEDATA-SYSTEM"));
  ASSERT_EQ(view.icons.size(), 2u);
  for (std::size_t i = 0; i < view.rows.size(); ++i) {
    const ui::CardRow& row = view.rows[i];
    if (row.folder != "BESCES-50501REZ") continue;
    EXPECT_NE(view.icons[i].rgba, ui::PlaceholderPicture(32).rgba);
    EXPECT_FALSE(row.title.empty());
  }
  EXPECT_TRUE(view.messages.empty());
}

const testutil::ShownMessage& Last(const testutil::FakeCardView& view) {
  static const testutil::ShownMessage none{"<none>", "", ui::MessageIcon::kQuestion, false};
  return view.messages.empty() ? none : view.messages.back();
}

TEST_F(CardWindowTest, SplitOntoAnSdCardTakesAFolderAndADeviceAndReports) {
  std::string path = MakeCard({"BASLUS-20946AAA", "BASLUS-21005BBB", "MYSAVE"});
  OpenCard(path);
  const Bytes before = testutil::ReadFile(path);
  const std::string sd = dir.File("sd card"), usb = dir.File("usb");
  std::filesystem::create_directories(sd);
  std::filesystem::create_directories(usb);
  // Cancelled, and a folder that isn't there: nothing is written.
  view.exportAnswers = {std::nullopt, ui::ExportChoice{dir.File("missing"), 0}, ui::ExportChoice{sd, 0},
                        ui::ExportChoice{usb, 2}};
  Click(IDC_CARD_SPLIT);
  EXPECT_TRUE(view.messages.empty());
  Click(IDC_CARD_SPLIT);
  EXPECT_EQ(Last(view).icon, ui::MessageIcon::kWarning);
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
  // The first device is sd2psx; the next split offers the folder chosen last.
  Click(IDC_CARD_SPLIT);
  EXPECT_EQ(Last(view).icon, ui::MessageIcon::kInformation);
  EXPECT_EQ(Last(view).text.substr(0, Last(view).text.find('\n')),
            "BASLUS-20946AAA -> MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd (new card)");
  for (const char* card : {"MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd", "MemoryCards/PS2/SLUS-21005/SLUS-21005-1.mcd",
                           "MemoryCards/PS2/UNSORTED/UNSORTED-1.mcd"})
    EXPECT_EQ(testutil::FoldersOn(io::JoinPath(sd, card)).size(), 1u) << card;
  Click(IDC_CARD_SPLIT);
  EXPECT_EQ(view.exportRequests.back().folder, sd);
  ASSERT_EQ(view.exportRequests.back().targets.size(), ui::SplitTargets().size());
  EXPECT_EQ(testutil::FoldersOn(io::JoinPath(usb, "VMC/SLUS_209.46_0.bin")), std::vector<std::string>{"BASLUS-20946AAA"});
  EXPECT_TRUE(std::filesystem::exists(io::JoinPath(usb, "CFG/SLUS_209.46.cfg")));
  // Again onto the sd2psx card, where each save is already: nothing new, and the card
  // that was split is as it was.
  view.exportAnswers = {ui::ExportChoice{sd, 0}};
  Click(IDC_CARD_SPLIT);
  EXPECT_EQ(Last(view).text.find("(new card)"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(io::JoinPath(sd, "MemoryCards/PS2/SLUS-20946/SLUS-20946-2.mcd")));
  EXPECT_EQ(testutil::ReadFile(path), before);
}

TEST_F(CardWindowTest, MergeFromAnSdCardGathersOntoTheOpenCard) {
  const std::string sd = dir.File("sd");
  testutil::PutCard(dir, sd, "MemoryCards/PS2/SLUS-20946/SLUS-20946-1.mcd",
                    {{"BESLES-11111AAA", 500, 1, testutil::MakeTime(2030, 1, 1, 0, 0, 0)}, {"BASLUS-20946X", 500, 2}});
  testutil::PutCard(dir, sd, "MemoryCards/PS2/SLUS-21005/SLUS-21005-1.mcd", {{"BASLUS-21005Y", 500, 3}});
  std::string path = MakeCard({"BESLES-11111AAA"});
  OpenCard(path);
  Select({0});
  Click(IDC_CARD_OPEN);
  ASSERT_EQ(fake.Text(IDC_FOLDER_NAME), "BESLES-11111AAA");
  fake.folderAnswers = {std::nullopt, sd};
  Click(IDC_CARD_MERGE);
  EXPECT_TRUE(view.messages.empty());
  Click(IDC_CARD_MERGE);
  EXPECT_EQ(Last(view).icon, ui::MessageIcon::kInformation) << Last(view).text;
  // The list shows the card as it is now; the newer copy from the SD card replaced the
  // one the main window showed, which lets it go.
  EXPECT_EQ(view.Folders(), CardFolders(path));
  const std::vector<std::string> shown = view.Folders();
  EXPECT_EQ(std::set<std::string>(shown.begin(), shown.end()),
            (std::set<std::string>{"BESLES-11111AAA", "BASLUS-20946X", "BASLUS-21005Y"}));
  EXPECT_TRUE(fake.rows.empty());
  EXPECT_EQ(fake.windowTitle, "Converter");
  EXPECT_NE(view.texts[IDC_CARD_FREE].find("(8 MB without ECC)"), std::string::npos);
}

}  // namespace
