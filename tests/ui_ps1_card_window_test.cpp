// The card window on PS1 cards, driven through the recording fake: the list with blocks,
// block numbers, deleted saves and icons; Restore; imports of PS1 saves and refusals of PS2
// ones (and the reverse); the export targets; New Card of each PS1 kind; a card only read.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "icon/ps1_icon.h"
#include "card/card.h"
#include "card/ps1/ps1_card.h"
#include "card_ids.h"
#include "formats/ps1/ps1_header.h"
#include "io/file.h"
#include "resource.h"
#include "support/ps1_builder.h"
#include "support/ps1_card_builder.h"
#include "support/psu_builder.h"
#include "support/test_util.h"
#include "ui/card_window.h"
#include "ui/main_window.h"
#include "ui_fake_platform.h"

namespace {

using testutil::Bytes;

class Ps1CardWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.ResetWindow();
    window.OnInit();
    view.logic = &window.cards();
  }
  // A card with a save on blocks 1 and 3, a deleted one on 2, and a damaged one on 5.
  std::string MakeCard(const std::string& name = "card.mcd") {
    testutil::Ps1Card c;
    c.PutSave("BASLUS-00001LIVE", {1, 3}, testutil::MakePs1Blocks(2, 1));
    c.PutSave("BESLES-00002GONE", {2}, testutil::MakePs1Blocks(1, 2));
    c.SetEntry(2, 0xA1, 8192, 0xFFFF, "BESLES-00002GONE");
    c.SetEntry(5, 0x51, 3 * 8192, 0x339, "BISLPS-00003BROKEN");
    const std::string path = dir.File(name);
    testutil::WriteFile(path, c.bytes);
    return path;
  }
  void OpenCard(const std::string& path) {
    fake.dialogAnswers.push_back(path);
    window.OnCommand(IDC_OPEN, 0);
  }
  int RowOf(const std::string& folder, bool deletedRow = false) {
    for (std::size_t i = 0; i < view.rows.size(); ++i)
      if (view.rows[i].folder == folder && view.rows[i].modified.starts_with("deleted") == deletedRow)
        return static_cast<int>(i);
    ADD_FAILURE() << "no row " << folder;
    return -1;
  }
  void Select(std::vector<int> rows) {
    view.selected = std::move(rows);
    window.cards().OnSelectionChanged();
  }
  void Click(int id) { window.cards().OnCommand(id, 0); }

  testutil::TempDir dir{testutil::FastTempBase()};
  testutil::FakePlatform fake;
  testutil::FakeCardView& view = fake.cards;
  ui::MainWindow window{fake};
};

TEST_F(Ps1CardWindowTest, ListShowsBlocksTheirNumbersDeletedAndDamagedSavesAndIcons) {
  OpenCard(MakeCard());
  ASSERT_TRUE(view.open);
  EXPECT_EQ(view.columns, (std::vector<std::string>{"Name", "Title", "Blocks", "Slots"}));
  ASSERT_EQ(view.rows.size(), 3u);
  ASSERT_EQ(view.icons.size(), 3u);
  const ui::CardRow& live = view.rows[static_cast<std::size_t>(RowOf("BASLUS-00001LIVE"))];
  const icon::Picture& liveIcon = view.icons[static_cast<std::size_t>(RowOf("BASLUS-00001LIVE"))];
  EXPECT_EQ(live.size, "2 blocks");
  EXPECT_EQ(live.modified, "1, 3");
  EXPECT_EQ(live.title, "\xEF\xBC\xA1\xEF\xBC\xA2 TEST");  // ＡＢ TEST
  // The icon: the first frame, each pixel a 2 x 2 square.
  const auto header = ps1::ReadHeader(testutil::MakePs1Blocks(2, 1));
  ASSERT_TRUE(header);
  const icon::Picture frame = icon::Ps1Frame(*header, 0);
  ASSERT_EQ(liveIcon.width, ui::kListIconSize);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_TRUE(std::equal(liveIcon.rgba.begin() + (y * 32 + x) * 4, liveIcon.rgba.begin() + (y * 32 + x) * 4 + 4,
                             frame.rgba.begin() + ((y / 2) * 16 + x / 2) * 4)) << x << "," << y;
  EXPECT_EQ(view.rows[static_cast<std::size_t>(RowOf("BESLES-00002GONE", true))].modified, "deleted: 2");
  const ui::CardRow& broken = view.rows[static_cast<std::size_t>(RowOf("BISLPS-00003BROKEN"))];
  EXPECT_TRUE(broken.title.starts_with("damaged: ")) << broken.title;
  EXPECT_EQ(view.icons[static_cast<std::size_t>(RowOf("BISLPS-00003BROKEN"))].rgba, ui::PlaceholderPicture(32).rgba);
  // Blocks 2 (deleted), 4 and 6-15 are free; 5 belongs to the damaged save.
  EXPECT_EQ(view.texts[IDC_CARD_FREE], "12 blocks free of 15 blocks");
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(Ps1CardWindowTest, SelectionDecidesTheButtonsAndRestoreBringsADeletedSaveBack) {
  const std::string path = MakeCard();
  OpenCard(path);
  const int live = RowOf("BASLUS-00001LIVE"), gone = RowOf("BESLES-00002GONE", true);
  const struct {
    std::vector<int> rows;
    bool open, exportDelete, restore;
  } rows[] = {
      {{}, false, false, false},
      {{live}, true, true, false},
      {{gone}, false, false, true},
      {{live, gone}, false, true, true},
  };
  for (const auto& r : rows) {
    Select(r.rows);
    EXPECT_EQ(view.enabled[IDC_CARD_OPEN], r.open) << r.rows.size();
    EXPECT_EQ(view.enabled[IDC_CARD_EXPORT], r.exportDelete) << r.rows.size();
    EXPECT_EQ(view.enabled[IDC_CARD_DELETE], r.exportDelete) << r.rows.size();
    EXPECT_EQ(view.enabled[IDC_CARD_RESTORE], r.restore) << r.rows.size();
    EXPECT_EQ(view.preview.has_value(), !r.rows.empty());
  }
  Select({gone});
  ASSERT_TRUE(view.preview);
  EXPECT_EQ(view.preview->width, ui::kPreviewSize);
  const Bytes before = testutil::ReadFile(path);
  Click(IDC_CARD_RESTORE);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(view.rows[static_cast<std::size_t>(RowOf("BESLES-00002GONE"))].modified, "2");
  // Deleted again through the window: the card is as it was.
  Select({RowOf("BESLES-00002GONE")});
  view.questionAnswers.push_back(true);
  Click(IDC_CARD_DELETE);
  EXPECT_EQ(testutil::ReadFile(path), before);
  // A restore whose block has been taken since says so and changes nothing.
  view.filesAnswers.push_back({[&] {
    testutil::WriteFile(dir.File("BASLUS-00009TAKER"), testutil::MakePs1Blocks(1, 9));
    return dir.File("BASLUS-00009TAKER");
  }()});
  Click(IDC_CARD_IMPORT);
  EXPECT_EQ(card::OpenCard(path).card->List().freeBlocks, 11);
  const Bytes taken = testutil::ReadFile(path);
  // The deleted save's only block went to the new save: it is no longer listed at all.
  for (const ui::CardRow& row : view.rows) EXPECT_NE(row.folder, "BESLES-00002GONE");
  EXPECT_EQ(testutil::ReadFile(path), taken);
}

TEST_F(Ps1CardWindowTest, ImportTakesPs1SavesAndRefusesTheOtherConsolesEitherWay) {
  const std::string ps1Card = MakeCard();
  testutil::WriteFile(dir.File("BASLUS-00004NEW"), testutil::MakePs1Blocks(3, 4));
  testutil::PsuImage psu;
  psu.folder = "BESLES-55555PS2";
  psu.files = {{"icon.sys", testutil::MakeIconSys("\x82\x60")}, {"DATA", testutil::MakeBytes(100, 1)}};
  testutil::WriteFile(dir.File("ps2.psu"), psu.Build());
  OpenCard(ps1Card);
  window.cards().OnDropFiles({dir.File("BASLUS-00004NEW"), dir.File("ps2.psu")});
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].text, "BESLES-55555PS2 is a PlayStation 2 save: a PlayStation 1 card can't hold it");
  const auto listing = card::OpenCard(ps1Card).card->List();
  // The deleted save's block was free, and taken first: that save is gone from the list.
  ASSERT_EQ(listing.saves.size(), 3u);
  EXPECT_EQ(listing.saves[1].folder, "BASLUS-00004NEW");
  EXPECT_EQ(listing.saves[1].chain, (std::vector<int>{2, 4, 6}));

  // And a PS1 save dropped on a PS2 card.
  const std::string ps2Card = dir.File("card.ps2");
  card::FormatOptions options;
  ASSERT_EQ(card::FormatImage(ps2Card, options), card::FormatResult::kFormatted);
  const Bytes before = testutil::ReadFile(ps2Card);
  OpenCard(ps2Card);
  window.cards().OnDropFiles({dir.File("BASLUS-00004NEW")});
  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[1].text, "BASLUS-00004NEW is a PlayStation 1 save: a PlayStation 2 card can't hold it");
  EXPECT_EQ(testutil::ReadFile(ps2Card), before);
}

TEST_F(Ps1CardWindowTest, ExportOffersThePs1FamiliesAndWritesThem) {
  OpenCard(MakeCard());
  Select({RowOf("BASLUS-00001LIVE")});
  const std::vector<ui::ExportTarget> targets = ui::ExportTargets(PlayStation::kPs1);
  std::vector<std::string> families;
  for (const ui::ExportTarget& t : targets) families.emplace_back(t.family ? t.family->name : "folder");
  EXPECT_EQ(families, (std::vector<std::string>{"psv", "mcs", "psx", "raw"}));
  const Bytes blocks = testutil::MakePs1Blocks(2, 1);
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const std::string out = dir.File("out" + std::to_string(i));
    view.exportAnswers.push_back(ui::ExportChoice{out, static_cast<int>(i)});
    Click(IDC_CARD_EXPORT);
    ASSERT_EQ(view.exportRequests.back().targets.size(), targets.size());
    const std::string file = out + "/" + OutputName(*targets[i].family, *card::OpenCard(dir.File("card.mcd")).card
                                                                               ->OpenSave("BASLUS-00001LIVE").save,
                                                   "BASLUS-00001LIVE");
    const Bytes written = testutil::ReadFile(file);
    ASSERT_GE(written.size(), blocks.size()) << file;
    EXPECT_TRUE(std::equal(blocks.begin(), blocks.end(), written.end() - static_cast<std::ptrdiff_t>(blocks.size()))) << file;
  }
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(Ps1CardWindowTest, NewCardMakesEachPs1KindAndNeverWritesOverAFile) {
  const struct {
    const char* name;
    bool pocketStation;
    card::CardType type;
    std::uint64_t size;
  } rows[] = {
      {"new.mcd", false, card::CardType::kPs1Raw, 131072},
      {"new.gme", false, card::CardType::kPs1DexDrive, 0xF40 + 131072},
      {"new.vmp", false, card::CardType::kPs1Vmp, 0x80 + 131072},
      {"pocket.bin", true, card::CardType::kPs1PocketStation, 131232},
  };
  for (const auto& r : rows) {
    ui::NewCardChoice choice;
    choice.ps1 = true;
    choice.pocketStation = r.pocketStation;
    fake.newCardAnswers.push_back(choice);
    fake.dialogAnswers.push_back(dir.File(r.name));
    window.OnCommand(IDM_NEW_CARD, 0);
    EXPECT_EQ(std::filesystem::file_size(dir.File(r.name)), r.size) << r.name;
    EXPECT_EQ(card::OpenCard(dir.File(r.name)).card->type(), r.type) << r.name;
    EXPECT_TRUE(view.open);
    EXPECT_EQ(view.texts[IDC_CARD_FREE], "15 blocks free of 15 blocks");
  }
  ui::NewCardChoice again;
  again.ps1 = true;
  fake.newCardAnswers.push_back(again);
  fake.dialogAnswers.push_back(dir.File("new.gme"));
  const Bytes kept = testutil::ReadFile(dir.File("new.gme"));
  window.OnCommand(IDM_NEW_CARD, 0);
  EXPECT_EQ(fake.LastMessage().text, "Something is already there; nothing was formatted");
  EXPECT_EQ(testutil::ReadFile(dir.File("new.gme")), kept);
}

TEST_F(Ps1CardWindowTest, AnUnverifiedCardIsShownWithWhyAndNeverWritten) {
  testutil::Ps1Card c;
  c.PutSave("BASLUS-00001LIVE", {1}, testutil::MakePs1Blocks(1, 1));
  Bytes vmp = *card::Ps1FileBytes(card::NewPs1CardFile(card::Ps1FileKind::kVmp, c.bytes));
  vmp[0x80 + 8192 + 50] ^= 1;
  const std::string path = dir.File("changed.vmp");
  testutil::WriteFile(path, vmp);
  OpenCard(path);
  ASSERT_TRUE(view.open);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].text.find("signature: does not verify"), std::string::npos) << view.messages[0].text;
  testutil::WriteFile(dir.File("BASLUS-00004NEW"), testutil::MakePs1Blocks(1, 4));
  window.cards().OnDropFiles({dir.File("BASLUS-00004NEW")});
  Select({0});
  view.questionAnswers.push_back(true);
  Click(IDC_CARD_DELETE);
  EXPECT_EQ(view.messages.size(), 4u);  // why, the refused import, the question, the refused delete
  EXPECT_EQ(testutil::ReadFile(path), vmp);
}

}  // namespace

// Both shells fill New Card's list from NewCardLabels and read the choice back with
// NewCardChoiceAt: each entry must come back as the card its label names.
TEST(NewCardList, EachEntryIsTheCardItsLabelNames) {
  const std::array<unsigned, 3> sizes = {8, 16, 64};
  ui::NewCardChoice offered;
  offered.megabytes = 16;
  const std::vector<std::string> labels = ui::NewCardLabels(sizes);
  ASSERT_EQ(labels.size(), sizes.size() + 2);
  for (int i = 0; i < static_cast<int>(labels.size()); ++i) {
    const ui::NewCardChoice c = ui::NewCardChoiceAt(sizes, i, false, offered);
    const std::string& label = labels[static_cast<std::size_t>(i)];
    EXPECT_EQ(c.ps1, label == ui::kNewPs1Card || label == ui::kNewPocketStationCard) << label;
    EXPECT_EQ(c.pocketStation, label == ui::kNewPocketStationCard) << label;
    if (!c.ps1) {
      EXPECT_EQ(ui::CardSizeLabel(c.megabytes), label);
    }
    EXPECT_FALSE(c.ecc) << label;
  }
  // Nothing chosen: the size offered stays, and it is a PS2 card.
  const ui::NewCardChoice none = ui::NewCardChoiceAt(sizes, -1, true, offered);
  EXPECT_EQ(none.megabytes, 16u);
  EXPECT_FALSE(none.ps1);
  EXPECT_TRUE(none.ecc);

  // The dialog opens on the card offered, which OK then gives back as it was, whatever it
  // is: a listed size with or without ECC, a size the list lacks, either PS1 card.
  struct Offer {
    unsigned megabytes;
    bool ecc, ps1, pocketStation;
    int row;
  };
  for (const Offer& o : {Offer{16, true, false, false, 1}, Offer{64, false, false, false, 2}, Offer{2, true, false, false, -1},
                         Offer{8, true, true, false, 3}, Offer{8, true, true, true, 4}}) {
    ui::NewCardChoice c;
    c.megabytes = o.megabytes, c.ecc = o.ecc, c.ps1 = o.ps1, c.pocketStation = o.pocketStation;
    const ui::NewCardStart start = ui::NewCardStartOf(sizes, c);
    EXPECT_EQ(start.row, o.row) << o.megabytes << o.ps1 << o.pocketStation;
    const ui::NewCardChoice back = ui::NewCardChoiceAt(sizes, start.row, start.ecc, c);
    EXPECT_EQ(back.megabytes, c.megabytes) << start.row;
    EXPECT_EQ(back.ecc, c.ecc) << start.row;
    EXPECT_EQ(back.ps1, c.ps1) << start.row;
    EXPECT_EQ(back.pocketStation, c.pocketStation) << start.row;
  }
}

namespace {

// Split onto an SD card: sd2psx puts the saves on PS1 cards by game; Open PS2 Loader takes
// no PS1 card, and the window says so with nothing written.
TEST_F(Ps1CardWindowTest, SplitOntoAnSdCardByGameOrRefused) {
  const struct {
    int device;  // in the window's list: sd2psx, MemCard PRO 2, Open PS2 Loader
    const char* firstLine;
    const char* card;  // made by the split; empty when nothing is
  } rows[] = {
      {0, "BASLUS-00001LIVE -> MemoryCards/PS1/SLUS-00001/SLUS-00001-1.mcd (new card)",
       "MemoryCards/PS1/SLUS-00001/SLUS-00001-1.mcd"},
      {1, "BASLUS-00001LIVE -> SLUS-00001/SLUS-00001-1.mcd (new card)", "SLUS-00001/SLUS-00001-1.mcd"},
      {2, "Open PS2 Loader takes no PS1 cards", ""},
  };
  const std::string path = MakeCard();
  OpenCard(path);
  const Bytes before = testutil::ReadFile(path);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.device);
    const std::string sd = dir.File("sd" + std::to_string(row.device));
    std::filesystem::create_directories(sd);
    view.exportAnswers = {ui::ExportChoice{sd, row.device}};
    Click(IDC_CARD_SPLIT);
    ASSERT_FALSE(view.messages.empty());
    const std::string text = view.messages.back().text;
    EXPECT_EQ(text.substr(0, std::string(row.firstLine).size()), row.firstLine) << text;
    EXPECT_EQ(view.messages.back().icon, ui::MessageIcon::kWarning);  // the damaged save went nowhere
    if (*row.card) {
      EXPECT_EQ(testutil::ReadFile(io::JoinPath(sd, row.card)).size(), 131072u);
    } else {
      EXPECT_TRUE(std::filesystem::is_empty(sd));
    }
  }
  EXPECT_EQ(testutil::ReadFile(path), before);
}

}  // namespace
