#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "support/psu_builder.h"
#include "support/test_util.h"
#include "io/folder.h"
#include "ui/commands.h"
#include "ui/main_window.h"
#include "ui/start.h"
#include "ui_fake_platform.h"

namespace {

using testutil::FakePlatform;
using ui::MessageIcon;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.ResetWindow();
    window.OnInit();
  }

  std::string OpenSample() {
    testutil::PsuImage image;
    image.files = {{"icon.sys", testutil::MakeIconSys("TITLE ONE")},
                   {"a.dat", testutil::MakeBytes(10, 1)},
                   {"b.dat", testutil::MakeBytes(20, 2)}};
    std::string path = dir.File("s.psu");
    testutil::WriteFile(path, image.Build());
    fake.dialogAnswers.push_back(path);
    window.OnCommand(1001, 0);
    return path;
  }
  std::string PcFile(const std::string& name, std::size_t size = 16) {
    std::string path = dir.File(name);
    testutil::WriteFile(path, testutil::MakeBytes(size, static_cast<std::uint32_t>(name.size())));
    return path;
  }
  void Select(int row) {
    fake.selectedRow = row;
    window.OnListItemChanged();
  }
  CSaveGame* Current() { return window.commands().Current(); }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& row : fake.rows) names.push_back(row[0]);
    return names;
  }

  testutil::TempDir dir;
  FakePlatform fake;
  ui::MainWindow window{fake};
};

TEST_F(MainWindowTest, StartsWithOnlyOpenAddAboutAndExitUsable) {
  EXPECT_TRUE(fake.controlEnabled[1001]);
  EXPECT_FALSE(fake.controlEnabled[1002]);
  EXPECT_FALSE(fake.controlEnabled[1040]);
  for (int id : {40001, 40004, 40009, 40005}) EXPECT_TRUE(fake.menuEnabled[id]) << id;
  for (int id : {40003, 40013, 40010, 40011}) EXPECT_FALSE(fake.menuEnabled[id]) << id;
  EXPECT_EQ(fake.columns, (std::vector<std::pair<std::string, int>>{
                              {"File name", 214}, {"Size", 80}, {"Attrib", 80}}));
}

TEST_F(MainWindowTest, CommandsRunOnClicksOnly) {
  window.OnCommand(1001, 1);  // not a click
  window.OnCommand(40005, 1);
  EXPECT_TRUE(fake.dialogs.empty());
  EXPECT_EQ(fake.aboutBoxes, 0);
  window.OnCommand(40005, 0);
  EXPECT_EQ(fake.aboutBoxes, 1);
  window.OnCommand(40004, 0);
  EXPECT_EQ(fake.closeRequests, 1);
  // Enter and Escape arrive as commands 1 and 2 and do nothing.
  window.OnCommand(1, 0);
  window.OnCommand(2, 0);
  EXPECT_EQ(fake.closeRequests, 1);
  EXPECT_TRUE(fake.dialogs.empty());
}

TEST_F(MainWindowTest, ButtonAndMenuRunTheSameCommands) {
  fake.dialogAnswers = {std::nullopt, std::nullopt, std::nullopt};
  window.OnCommand(1001, 0);
  window.OnCommand(40001, 0);
  window.OnCommand(40009, 0);
  ASSERT_EQ(fake.dialogs.size(), 3u);
  EXPECT_EQ(fake.dialogs[0].request.filters.size(), 17u);
  EXPECT_EQ(fake.dialogs[1].request.filters.size(), 17u);
  EXPECT_EQ(fake.dialogs[2].request.filters.size(), 1u);
  // Save does nothing without a save, from either source.
  window.OnCommand(1002, 0);
  window.OnCommand(40003, 0);
  EXPECT_EQ(fake.dialogs.size(), 3u);
  OpenSample();
  fake.dialogAnswers = {std::nullopt, std::nullopt};
  window.OnCommand(1002, 0);
  window.OnCommand(40003, 0);
  ASSERT_EQ(fake.dialogs.size(), 6u);
  EXPECT_TRUE(fake.dialogs[4].save);
  EXPECT_TRUE(fake.dialogs[5].save);
}

TEST_F(MainWindowTest, SelectionDecidesTheFileItems) {
  OpenSample();
  Select(1);
  for (int id : {40013, 40010, 40011}) EXPECT_TRUE(fake.menuEnabled[id]) << id;
  Select(-1);
  for (int id : {40013, 40010, 40011}) EXPECT_FALSE(fake.menuEnabled[id]) << id;
}

TEST_F(MainWindowTest, FileCommandsNeedASelectedRow) {
  OpenSample();
  window.OnCommand(40010, 0);
  window.OnCommand(40011, 0);
  window.OnCommand(40013, 0);
  window.OnListDeleteKey();
  window.OnListDoubleClick();
  EXPECT_TRUE(fake.dialogs.size() == 1u);  // the open dialog only
  EXPECT_TRUE(fake.propertiesCalls.empty());
  EXPECT_EQ(Current()->FileCount(), 3);
}

TEST_F(MainWindowTest, DeleteRemovesTheSelectedFileAtOnce) {
  OpenSample();
  Select(0);  // icon.sys
  window.OnListDeleteKey();
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.dat", "b.dat"}));
  EXPECT_EQ(fake.Text(1007), "No valid icon.sys");
  Select(1);
  window.OnCommand(40013, 0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.dat"}));
  EXPECT_EQ(Current()->EntryAt(-1)->size, 3u);
}

TEST_F(MainWindowTest, ExtractRunsForTheSelectedRow) {
  OpenSample();
  Select(2);
  fake.dialogAnswers.push_back(std::nullopt);
  window.OnCommand(40010, 0);
  EXPECT_EQ(fake.dialogs.back().request.fileName, "b.dat");
}

TEST_F(MainWindowTest, RenameAcceptsThirtyTwoCharactersAndRefusesMore) {
  OpenSample();
  std::string name32(32, 'x');
  window.OnListLabelEditEnd(1, name32);
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_EQ(fake.rows[1][0], name32);
  EXPECT_EQ(Current()->EntryAt(1)->Name(), name32);
  EXPECT_EQ(Current()->EntryAt(1)->Title(), name32);

  window.OnListLabelEditEnd(1, std::string(33, 'y'));
  EXPECT_EQ(fake.LastMessage().text, "Filename must not exceed 32 characters");
  EXPECT_EQ(fake.LastMessage().caption, "Error");
  EXPECT_EQ(fake.LastMessage().icon, MessageIcon::kWarning);
  EXPECT_EQ(fake.rows[1][0], name32);
  EXPECT_EQ(Current()->EntryAt(1)->Name(), name32);
}

TEST_F(MainWindowTest, RenameWithNoTextChangesNothing) {
  OpenSample();
  window.OnListLabelEditEnd(1, std::nullopt);
  window.OnListLabelEditEnd(1, std::string());
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_EQ(Current()->EntryAt(1)->Name(), "a.dat");
  EXPECT_EQ(fake.rows[1][0], "a.dat");
}

TEST_F(MainWindowTest, RenamingIconSysRefreshesTheTitleButNotTheList) {
  OpenSample();
  int rebuilds = fake.deleteAllRowsCalls;
  window.OnListLabelEditEnd(0, "icon.old");
  EXPECT_EQ(fake.Text(1007), "No valid icon.sys");
  EXPECT_EQ(fake.deleteAllRowsCalls, rebuilds);
  // Any text is taken, even a name another file already has.
  window.OnListLabelEditEnd(2, "a.dat");
  EXPECT_EQ(Current()->EntryAt(2)->Name(), "a.dat");
}

TEST_F(MainWindowTest, RightClickShowsTheEditMenu) {
  using Items = std::vector<std::pair<int, bool>>;
  auto items = [](const std::vector<ui::MenuItemState>& menu) {
    Items out;
    for (const auto& m : menu) out.emplace_back(m.id, m.enabled);
    return out;
  };
  // Nothing selected: the menu as the resource has it, only "&Add File".
  EXPECT_TRUE(window.OnListRightButtonUp());
  window.OnListRightClick();
  ASSERT_EQ(fake.popups.size(), 2u);
  Items addOnly = {{40009, true}, {40013, false}, {40010, false}, {40011, false}};
  EXPECT_EQ(items(fake.popups[0]), addOnly);
  EXPECT_EQ(items(fake.popups[1]), addOnly);
  // A file selected: its items enabled; the button release goes on to the list.
  OpenSample();
  fake.selectedRow = 0;
  EXPECT_FALSE(window.OnListRightButtonUp());
  window.OnListRightClick();
  ASSERT_EQ(fake.popups.size(), 3u);
  EXPECT_EQ(items(fake.popups[2]),
            (Items{{40009, true}, {40013, true}, {40010, true}, {40011, true}}));
}

TEST_F(MainWindowTest, FilePropertiesRefreshAfterAConfirmedDialog) {
  OpenSample();
  Select(0);
  // Cancelled: nothing refreshed.
  int rebuilds = fake.deleteAllRowsCalls;
  window.OnCommand(40011, 0);
  EXPECT_EQ(fake.propertiesCalls, std::vector<int>{0});
  EXPECT_EQ(fake.deleteAllRowsCalls, rebuilds);

  // Confirmed renaming icon.sys away: the menu item refreshes title and list...
  fake.onProperties = [this](int index) {
    Current()->SetName(index, "renamed");
    return true;
  };
  window.OnCommand(40011, 0);
  EXPECT_EQ(fake.Text(1007), "No valid icon.sys");
  EXPECT_EQ(fake.rows[0][0], "renamed");

  // ...a double click only the list.
  fake.onProperties = [this](int index) {
    Current()->SetName(index, "icon.sys");
    return true;
  };
  fake.selectedRow = 0;
  window.OnListDoubleClick();
  EXPECT_EQ(fake.propertiesCalls, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(fake.rows[0][0], "icon.sys");
  EXPECT_EQ(fake.Text(1007), "No valid icon.sys");
}

TEST_F(MainWindowTest, FolderPropertiesNeedASaveAndShowTheNewRoot) {
  window.OnCommand(1040, 0);
  EXPECT_TRUE(fake.propertiesCalls.empty());
  OpenSample();
  fake.onProperties = [this](int index) {
    Current()->SetName(index, "NEWFOLDER");
    Current()->SetMode(index, 0x842F);
    return true;
  };
  window.OnCommand(1040, 0);
  EXPECT_EQ(fake.propertiesCalls, std::vector<int>{-1});
  EXPECT_EQ(fake.Text(1003), "NEWFOLDER");
  EXPECT_EQ(fake.Text(1015), "0x0000842F");
}

TEST_F(MainWindowTest, DroppingThreeFilesOnAnEmptyWindowMakesOneSave) {
  std::vector<std::string> paths = {PcFile("one.bin"), PcFile("two.bin"), PcFile("three.bin")};
  window.OnDropFiles(paths);
  ASSERT_NE(Current(), nullptr);
  EXPECT_EQ(Current()->kind, kKindGeneric);
  EXPECT_EQ(Names(), (std::vector<std::string>{"one.bin", "two.bin", "three.bin"}));
  EXPECT_EQ(fake.Text(1003), "UNNAMED SAVE");
  EXPECT_EQ(fake.Text(1015), "0x00008427");
  EXPECT_EQ(fake.Text(1007), "No valid icon.sys");
  for (int id : {1002, 1040}) EXPECT_TRUE(fake.controlEnabled[id]) << id;
  EXPECT_TRUE(fake.menuEnabled[40003]);
  for (int id : {40013, 40010, 40011}) EXPECT_FALSE(fake.menuEnabled[id]) << id;
}

TEST_F(MainWindowTest, DropAsksOncePerEqualNameAndSkipsFolders) {
  OpenSample();
  std::filesystem::create_directory(dir.File("in"));
  std::string same = PcFile("in/a.dat", 99);
  std::string folder = dir.File("in/sub");
  std::filesystem::create_directory(folder);
  std::string fresh = PcFile("in/new.dat");
  fake.questionAnswers.push_back(false);
  fake.rows.clear();
  window.OnDropFiles({folder, same, dir.File("in/vanished.dat"), fresh});
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].text, "File \"a.dat\" already exists. Do you want to replace it?");
  EXPECT_EQ(fake.messages[0].caption, "File exists");
  EXPECT_EQ(fake.messages[0].icon, MessageIcon::kInformation);
  EXPECT_EQ(Names(), (std::vector<std::string>{"icon.sys", "a.dat", "b.dat", "new.dat"}));
  EXPECT_FALSE(Current()->EntryAt(1)->DiskPath());

  fake.questionAnswers.push_back(true);
  window.OnDropFiles({same});
  EXPECT_TRUE(Current()->EntryAt(1)->DiskPath());
  EXPECT_EQ(fake.rows[1][1], "99 B");
}

TEST_F(MainWindowTest, DropOfNothingReadableLeavesAnEmptyWindowEmpty) {
  std::filesystem::create_directory(dir.File("folder"));
  window.OnDropFiles({dir.File("folder"), dir.File("missing")});
  EXPECT_EQ(Current(), nullptr);
  EXPECT_TRUE(fake.texts.empty());
  EXPECT_TRUE(fake.rows.empty());
  EXPECT_FALSE(fake.controlEnabled[1002]);
}

TEST_F(MainWindowTest, DropAfterAFailedOpenStartsANewSave) {
  testutil::PsuImage bad;
  bad.rootMode = 0x8497;
  std::string path = dir.File("bad.psu");
  testutil::WriteFile(path, bad.Build());
  fake.dialogAnswers.push_back(path);
  window.OnCommand(40001, 0);
  ASSERT_EQ(fake.messages.size(), 1u);
  window.OnDropFiles({PcFile("x.bin")});
  EXPECT_EQ(Current()->kind, kKindGeneric);
  EXPECT_EQ(Names(), std::vector<std::string>{"x.bin"});
  EXPECT_TRUE(fake.controlEnabled[1002]);
}

// Both programs read their command line so: the files to open, made absolute, or what
// else was asked for.
TEST(CommandLine, FilesToOpenOrWhatElseWasAsked) {
  using Action = ui::CommandLine::Action;
  const std::string here = io::AbsolutePath(".");
  struct Row {
    std::vector<std::string> args;
    Action action;
    std::vector<std::string> paths;
    std::string option;
  };
  const Row rows[] = {
      {{}, Action::kOpen, {}, ""},
      {{"game.psu", here + "/Mcd001.ps2"}, Action::kOpen, {here + "/game.psu", here + "/Mcd001.ps2"}, ""},
      {{"a.psu", "--version"}, Action::kVersion, {}, ""},
      {{"-x", "--help"}, Action::kHelp, {}, ""},
      {{"-h"}, Action::kHelp, {}, ""},
      {{"a.psu", "--geometry"}, Action::kUnknownOption, {}, "--geometry"},
      {{"--", "--version", "-x"}, Action::kOpen, {here + "/--version", here + "/-x"}, ""},
      {{"-"}, Action::kOpen, {here + "/-"}, ""},
  };
  for (const Row& r : rows) {
    const ui::CommandLine line = ui::ReadCommandLine(r.args);
    EXPECT_EQ(line.action, r.action) << testing::PrintToString(r.args);
    EXPECT_EQ(line.paths, r.paths) << testing::PrintToString(r.args);
    EXPECT_EQ(line.option, r.option) << testing::PrintToString(r.args);
  }
}

// --help names every family and kind of card the tables hold, the PS1 ones among them.
TEST(CommandLine, TheUsageNamesEveryFamilyAndCardKind) {
  const std::string usage = ui::Usage();
  for (const char* extension : {".psu", ".psv", ".mcs", ".psx", ".ps2", ".vmc", ".mcr", ".gme", ".vmp"})
    EXPECT_NE(usage.find(extension), std::string::npos) << extension << " in\n" << usage;
}

// A file the Windows program hands to another copy of itself comes back as it was named.
TEST(CommandLine, QuotedArgumentsSurviveTheWindowsRules) {
  const std::pair<const char*, const char*> rows[] = {
      {"C:\\saves\\game.psu", "\"C:\\saves\\game.psu\""},
      {"C:\\My Cards\\", "\"C:\\My Cards\\\\\""},
      {"a\"b", "\"a\\\"b\""},
      {"a\\\"b", "\"a\\\\\\\"b\""},
      {"", "\"\""},
  };
  for (auto [arg, quoted] : rows) EXPECT_EQ(ui::QuotedArgument(arg), quoted) << arg;
}

std::string SourceText(const std::string& relative) {
  std::ifstream in(std::string(MORAVELT_SOURCE_DIR) + "/" + relative);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A resource script's line after its keyword: its fields, split at the commas outside quotes.
std::vector<std::string> RcFields(std::string_view rest) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : rest) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  for (std::string& f : fields) {
    f.erase(0, f.find_first_not_of(" \t\r"));
    f.erase(f.find_last_not_of(" \t\r") + 1);
  }
  return fields;
}

// The main menu as res/moravelt.rc writes it, one line per item ("&File: 40001 &Open", a
// separator "&File: -"), its macros read from the headers it includes.
std::vector<std::string> MenuOfTheResourceScript() {
  std::map<std::string, std::string> defines;
  for (const char* header : {"res/resource.h", "res/card_ids.h", "src/ui/labels.h"}) {
    std::istringstream lines(SourceText(header));
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string directive, name, value;
      words >> directive >> name;
      std::getline(words >> std::ws, value);
      if (directive == "#define" && !value.empty()) defines[name] = value;
    }
  }
  std::function<std::string(const std::string&)> resolve = [&](const std::string& token) -> std::string {
    if (token.size() >= 2 && token.front() == '"') return token.substr(1, token.size() - 2);
    auto it = defines.find(token);
    return it == defines.end() ? token : resolve(it->second);
  };
  const std::string rc = SourceText("res/moravelt.rc");
  std::istringstream lines(rc.substr(std::min(rc.find("IDR_MAIN_MENU MENU"), rc.size())));
  std::vector<std::string> items;
  std::string title;
  int depth = 0;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string keyword, rest;
    words >> keyword;
    std::getline(words >> std::ws, rest);
    const std::vector<std::string> fields = RcFields(rest);
    if (keyword == "BEGIN") ++depth;
    if (keyword == "END" && --depth == 0) break;
    if (keyword == "POPUP") {
      if (depth != 1) ADD_FAILURE() << "a submenu the menu tables can't hold: " << line;
      title = resolve(fields[0]);
    }
    if (keyword == "MENUITEM")
      items.push_back(title + ": " + (fields[0] == "SEPARATOR" ? "-" : resolve(fields.at(1)) + " " + resolve(fields[0])));
  }
  return items;
}

// The Win32 program's menu is the resource script's, the Qt program's is built from the
// menu tables: every item's id, caption and place must be the same in both.
TEST(MainMenu, TheResourceScriptHasTheMenuTablesItems) {
  std::vector<std::string> tables;
  for (const ui::Menu& menu : ui::kMainMenus)
    for (const ui::Command& c : menu.commands)
      tables.push_back(std::string(menu.title) + ": " + (c.id == 0 ? "-" : std::to_string(c.id) + " " + std::string(c.label)));
  EXPECT_EQ(MenuOfTheResourceScript(), tables);
  // Both shells take the right-click menu from this place.
  EXPECT_EQ(ui::kMainMenus[EDIT_SUBMENU_INDEX].title, LABEL_MENU_EDIT);
}

TEST(DroppedFileName, TakesTheTextAfterTheLastSeparator) {
  EXPECT_EQ(ui::DroppedFileName("C:\\a\\b/c.bin"), "c.bin");
  EXPECT_EQ(ui::DroppedFileName("/x/y\\z"), "z");
  EXPECT_EQ(ui::DroppedFileName("plain"), "plain");
}

}  // namespace
