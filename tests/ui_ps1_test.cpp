// A PS1 save in the dialog program: what the window shows for each family's file, Save As
// to another PS1 family (and only those), and the edits a PS1 save refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "io/file.h"
#include "resource.h"
#include "support/ps1_builder.h"
#include "support/psu_builder.h"
#include "support/test_util.h"
#include "ui/main_window.h"
#include "ui/texts.h"
#include "ui_fake_platform.h"

namespace {

using testutil::Bytes;

constexpr const char* kName = "BESLES-04095XSMOTO";

Bytes Blocks() {
  testutil::Ps1SaveImage image;
  image.blocks = 3;
  image.iconFlag = 0x12;
  image.rawTitle = "MOTO \x81\x7C 1";
  return image.Build();
}

Bytes McsFile(const Bytes& blocks) { return testutil::MakePs1File("mcs", kName, blocks); }

Bytes PsxFile(const Bytes& blocks) { return testutil::MakePs1File("psx", kName, blocks); }

class Ps1WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.ResetWindow();
    window.OnInit();
  }
  void Open(const std::string& path) {
    fake.dialogAnswers.push_back(path);
    window.OnCommand(IDC_OPEN, 0);
  }
  CSaveGame* Shown() { return window.commands().LoadedSave(); }

  testutil::TempDir dir;
  testutil::FakePlatform fake;
  ui::MainWindow window{fake};
};

}  // namespace

// Each family's file shows the card file name, the title in full, the blocks and region,
// and the icon at twice its size; only Save and Save As are enabled.
TEST_F(Ps1WindowTest, OpeningShowsNameTitleBlocksAndIcon) {
  const Bytes blocks = Blocks();
  const struct {
    const char* file;
    Bytes bytes;
  } cases[] = {
      {"save.mcs", McsFile(blocks)},
      {"save.psx", PsxFile(blocks)},
      {kName, blocks},
  };
  for (const auto& c : cases) {
    testutil::WriteFile(dir.File(c.file), c.bytes);
    Open(dir.File(c.file));
    ASSERT_NE(Shown(), nullptr) << c.file << ": " << fake.LastMessage().text;
    EXPECT_EQ(fake.Text(IDC_FOLDER_NAME), kName) << c.file;
    EXPECT_EQ(fake.Text(IDC_TITLE), "MOTO \xEF\xBC\x8D 1") << c.file;
    EXPECT_EQ(fake.Text(IDC_ROOT_MODE), "3 blocks") << c.file;
    EXPECT_EQ(fake.Text(IDC_ROOT_MODE_LABEL), "PS1 save, Europe:") << c.file;
    EXPECT_EQ(fake.Text(IDC_FOLDER_LABEL), ui::kPs1FolderLabel) << c.file;
    EXPECT_EQ(fake.Text(IDC_TITLE_LABEL), ui::kPs1TitleLabel) << c.file;
    ASSERT_TRUE(fake.saveIcon) << c.file;
    EXPECT_EQ(fake.saveIcon->width, 32);
    // Pixel (0,0) of the icon is the low nibble of its first byte (0x80 * 7 = 0x380: 0).
    EXPECT_EQ(fake.saveIcon->PixelAt(1, 1)[3], 0) << c.file;  // colour 0: transparent
    EXPECT_EQ(fake.saveIcon->PixelAt(2, 0)[3], 255) << c.file;
    ASSERT_EQ(fake.rows.size(), 1u) << c.file;
    EXPECT_EQ(fake.rows[0][0], kName) << c.file;
    EXPECT_TRUE(fake.controlEnabled[IDC_SAVE]) << c.file;
    EXPECT_FALSE(fake.controlEnabled[IDC_FOLDER_PROPERTIES]) << c.file;
    EXPECT_FALSE(fake.menuEnabled[IDM_ADD_FILE]) << c.file;
  }
  // A PS2 save afterwards has its own labels back, no icon, and every edit.
  testutil::PsuImage image;
  image.files.push_back({"DATA", testutil::MakeBytes(10, 1)});
  testutil::WriteFile(dir.File("ps2.psu"), image.Build());
  Open(dir.File("ps2.psu"));
  EXPECT_EQ(fake.Text(IDC_TITLE_LABEL), ui::kTitleLabel);
  EXPECT_EQ(fake.Text(IDC_ROOT_MODE_LABEL), ui::kRootModeLabel);
  EXPECT_FALSE(fake.saveIcon);
  EXPECT_TRUE(fake.controlEnabled[IDC_FOLDER_PROPERTIES]);
  EXPECT_TRUE(fake.menuEnabled[IDM_ADD_FILE]);
}

// Save As offers the PS1 families, .mcs first, and writes the one chosen; a PS2 family's
// name is refused with the reason and writes nothing.
TEST_F(Ps1WindowTest, SaveAsWritesAnotherPs1Family) {
  const Bytes blocks = Blocks();
  testutil::WriteFile(dir.File("save.mcs"), McsFile(blocks));
  Open(dir.File("save.mcs"));
  ASSERT_NE(Shown(), nullptr);

  fake.dialogAnswers.push_back(dir.File("out.psx"));
  window.OnCommand(IDM_SAVE_AS, 0);
  const ui::FileDialogRequest& request = fake.dialogs.back().request;
  std::vector<std::string> patterns;
  for (const auto& f : request.filters) patterns.push_back(f.pattern);
  EXPECT_EQ(patterns, (std::vector<std::string>{"*.psv", "*.mcs", "*.ps1", "*.psx", "*.mcb", "*.pda", "*.mcx"}));
  EXPECT_EQ(request.selectedFilter, 2);
  EXPECT_EQ(request.defaultExtension, "mcs");
  EXPECT_EQ(testutil::ReadFile(dir.File("out.psx")), PsxFile(blocks));

  const std::size_t messages = fake.messages.size();
  fake.dialogAnswers.push_back(dir.File("out.psu"));
  window.OnCommand(IDM_SAVE_AS, 0);
  ASSERT_EQ(fake.messages.size(), messages + 1);
  EXPECT_EQ(fake.LastMessage().text,
            "This is a PlayStation 1 save: it can't be written as a Memory Linker save, which holds only "
            "PlayStation 2 saves. The two consoles' saves are different things.");
  EXPECT_FALSE(io::Exists(dir.File("out.psu")));
}

// Files can't be added, deleted or changed; the one row can be extracted, and renamed to a
// card file name, which renames the save.
TEST_F(Ps1WindowTest, EditsThatMakeNoSenseAreRefused) {
  testutil::WriteFile(dir.File(kName), Blocks());
  testutil::WriteFile(dir.File("pc.bin"), Bytes(10, 1));
  Open(dir.File(kName));
  ASSERT_NE(Shown(), nullptr);

  const struct {
    const char* why;
    std::function<void()> act;
  } refused[] = {
      {"a dropped file", [&] { window.OnDropFiles({dir.File("pc.bin")}); }},
      {"the Delete key", [&] { fake.selectedRow = 0; window.OnListDeleteKey(); }},
      {"a double click", [&] { fake.selectedRow = 0; window.OnListDoubleClick(); }},
      {"Add File", [&] { window.OnCommand(IDM_ADD_FILE, 0); }},
      {"folder Properties", [&] { window.OnCommand(IDC_FOLDER_PROPERTIES, 0); }},
  };
  for (const auto& c : refused) {
    fake.messages.clear();
    c.act();
    EXPECT_EQ(fake.LastMessage().text, ui::kPs1NoFiles) << c.why;
    EXPECT_EQ(Shown()->FileCount(), 1) << c.why;
    EXPECT_TRUE(fake.propertiesCalls.empty()) << c.why;
  }

  fake.selectedRow = 0;
  window.OnListItemChanged();
  EXPECT_TRUE(fake.menuEnabled[IDM_EXTRACT_FILE]);
  EXPECT_FALSE(fake.menuEnabled[IDM_DELETE_FILE]);
  EXPECT_FALSE(fake.menuEnabled[IDM_PROPERTIES]);
  window.OnListRightClick();
  ASSERT_FALSE(fake.popups.empty());
  for (const ui::MenuItemState& item : fake.popups.back())
    EXPECT_EQ(item.enabled, item.id == IDM_EXTRACT_FILE) << item.id;

  const struct {
    std::string name;
    std::string shown;
    bool refused;
  } renames[] = {
      {"BESLES-04095XSMOTO-LONGER", kName, true},
      {"BESLES-\xC3\xA9", kName, true},
      {"BESLES-04095XSM2", "BESLES-04095XSM2", false},
  };
  for (const auto& r : renames) {
    fake.messages.clear();
    window.OnListLabelEditEnd(0, r.name);
    EXPECT_EQ(Shown()->EntryAt(-1)->Name(), r.shown) << r.name;
    EXPECT_EQ(fake.Text(IDC_FOLDER_NAME), r.shown) << r.name;
    EXPECT_EQ(fake.messages.size(), r.refused ? 1u : 0u) << r.name;
  }
}
