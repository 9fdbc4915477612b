#include <gtest/gtest.h>

#include <filesystem>

#include "formats/psu/psu.h"
#include "formats/registry.h"
#include "model/entry_data.h"
#include "support/psu_builder.h"
#include "support/test_util.h"
#include "formats/messages.h"
#include "ui/file_commands.h"
#include "formats/messages.h"
#include "ui_fake_platform.h"

namespace {

using testutil::Bytes;
using testutil::FakePlatform;
using ui::MessageIcon;

constexpr const char* kWarnCaption = "Error";

// A save with a titled icon.sys and two more files.
testutil::PsuImage SampleImage() {
  testutil::PsuImage image;
  image.folder = "BESLES-12345SAVE";
  image.files = {{"icon.sys", testutil::MakeIconSys("HELLO WORLD")},
                 {"icon.ico", testutil::MakeBytes(1536, 2)},
                 {"save.dat", testutil::MakeBytes(3000, 3)}};
  return image;
}

class FileCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.ResetWindow();
  }

  std::string WriteSample(const std::string& name, const testutil::PsuImage& image = SampleImage()) {
    std::string path = dir.File(name);
    testutil::WriteFile(path, image.Build());
    return path;
  }
  void Open(const std::string& path) {
    fake.dialogAnswers.push_back(path);
    commands.OpenCommand();
  }
  CSaveGame* Current() { return commands.Current(); }

  // Buttons 1002 and 1040 and menu item 40003 together.
  void ExpectSaveControls(bool enabled) {
    EXPECT_EQ(fake.controlEnabled[1002], enabled);
    EXPECT_EQ(fake.controlEnabled[1040], enabled);
    EXPECT_EQ(fake.menuEnabled[40003], enabled);
  }
  void ExpectFileItemsGrayed() {
    EXPECT_FALSE(fake.menuEnabled[40013]);
    EXPECT_FALSE(fake.menuEnabled[40010]);
    EXPECT_FALSE(fake.menuEnabled[40011]);
  }

  testutil::TempDir dir;
  FakePlatform fake;
  ui::FileCommands commands{fake};
};

TEST(ChosenFile, SplitsNameAndExtensionLikeTheDialogs) {
  ui::ChosenFile f = ui::ChosenFileFromPath("C:\\saves.old\\game.max");
  EXPECT_EQ(f.Name(), "game.max");
  EXPECT_EQ(f.Extension(), "max");
  EXPECT_EQ(f.path.substr(0, f.extensionOffset - 1), "C:\\saves.old\\game");
  // A dot in a folder name is not an extension.
  ui::ChosenFile g = ui::ChosenFileFromPath("/tmp/saves.old/README");
  EXPECT_EQ(g.Name(), "README");
  EXPECT_EQ(g.Extension(), "");
}

TEST_F(FileCommandsTest, OpenAsksWithTheContainerFilters) {
  fake.dialogAnswers.push_back(std::nullopt);
  commands.OpenCommand();
  ASSERT_EQ(fake.dialogs.size(), 1u);
  const auto& call = fake.dialogs[0];
  EXPECT_FALSE(call.save);
  const auto& r = call.request;
  std::vector<std::pair<std::string, std::string>> filters;
  for (const auto& f : r.filters) filters.emplace_back(f.description, f.pattern);
  EXPECT_EQ(filters, (std::vector<std::pair<std::string, std::string>>{
                         {"All supported",
                          "*.xps;*.psu;*.max;*.pws;*.sps;*.cbs;*.psv;*.mcs;*.ps1;*.psx;*.mcb;*.pda;*.mcx;*."},
                         {"Xport-2 (*.xps)", "*.xps"},
                         {"Memory Linker (*.psu)", "*.psu"},
                         {"ARMAX V3 (*.max)", "*.max"},
                         {"ARMAX PowerSave (*.pws)", "*.pws"},
                         {"Shark Port 2 (*.sps)", "*.sps"},
                         {"CodeBreaker (*.cbs)", "*.cbs"},
                         {"PS3 export (*.psv)", "*.psv"},
                         {"PS1 PSXGameEdit (*.mcs)", "*.mcs"},
                         {"PS1 Memory Juggler (*.ps1)", "*.ps1"},
                         {"PS1 Action Replay (*.psx)", "*.psx"},
                         {"PS1 GameShark (*.mcb)", "*.mcb"},
                         {"PS1 Xploder (*.pda)", "*.pda"},
                         {"PS1 Datel (*.mcx)", "*.mcx"},
                         {"PS1 raw save (*.)", "*."},
                         {"Memory card images (*.ps2;*.vm2;*.mc2;*.mcd;*.bin;*.vmc;*.vme)",
                          "*.ps2;*.vm2;*.mc2;*.mcd;*.bin;*.vmc;*.vme"},
                         {"PS1 memory cards (*.mcd;*.mcr;*.srm;*.bin;*.mc;*.vm1;*.vmc;*.gme;*.vgs;*.mem;*.vmp)",
                          "*.mcd;*.mcr;*.srm;*.bin;*.mc;*.vm1;*.vmc;*.gme;*.vgs;*.mem;*.vmp"}}));
  EXPECT_EQ(r.selectedFilter, 1);
  EXPECT_EQ(r.fileName, "");
  EXPECT_EQ(r.initialDirectory, ".\\");
  EXPECT_EQ(r.defaultExtension, "");
  EXPECT_EQ(r.flags, ui::kDialogExplorer | ui::kDialogFileMustExist | ui::kDialogPathMustExist);
  // Cancelling changes nothing.
  EXPECT_EQ(Current(), nullptr);
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_TRUE(fake.texts.empty());
}

TEST_F(FileCommandsTest, OpenShowsTheSaveInAnyLetterCase) {
  std::string path = WriteSample("SAVE.PSU");
  Open(path);
  ASSERT_NE(Current(), nullptr);
  EXPECT_EQ(Current()->kind, kKindPsu);
  EXPECT_EQ(Current()->sourcePath, path);
  EXPECT_EQ(Current()->extensionOffset, static_cast<int>(path.size() - 3));
  EXPECT_TRUE(fake.messages.empty());
  ExpectSaveControls(true);
  ExpectFileItemsGrayed();
  EXPECT_EQ(fake.Text(1003), "BESLES-12345SAVE");
  EXPECT_EQ(fake.Text(1015), "0x00008427");
  EXPECT_EQ(fake.Text(1007), "HELLO WORLD");
  EXPECT_EQ(fake.rows, (std::vector<std::vector<std::string>>{
                           {"icon.sys", "964 B", "0x00008497"},
                           {"icon.ico", "1.5 kB", "0x00008497"},
                           {"save.dat", "2.93 kB", "0x00008497"}}));
}

TEST_F(FileCommandsTest, OpenOfUnknownExtensionKeepsTheSaveOnScreen) {
  Open(WriteSample("a.psu"));
  CSaveGame* before = Current();
  auto rows = fake.rows;
  std::string other = dir.File("notes.txt");
  testutil::WriteFile(other, SampleImage().Build());
  Open(other);
  EXPECT_EQ(fake.LastMessage().text, "Unknown file type");
  EXPECT_EQ(fake.LastMessage().caption, kWarnCaption);
  EXPECT_EQ(fake.LastMessage().icon, MessageIcon::kWarning);
  EXPECT_EQ(Current(), before);
  EXPECT_TRUE(commands.SaveLoaded());
  EXPECT_EQ(fake.rows, rows);
  ExpectSaveControls(true);
  EXPECT_EQ(fake.Text(1003), "BESLES-12345SAVE");
}

TEST_F(FileCommandsTest, FailedOpenEmptiesTheWindowAndDropsTheEarlierSave) {
  Open(WriteSample("good.psu"));
  ASSERT_TRUE(commands.SaveLoaded());
  // The first header says "file": not a directory.
  testutil::PsuImage bad = SampleImage();
  bad.rootMode = 0x8497;
  Open(WriteSample("bad.psu", bad));
  EXPECT_EQ(fake.LastMessage().text, "Cannot load file. First entry is not a directory");
  EXPECT_EQ(fake.LastMessage().caption, kWarnCaption);
  EXPECT_EQ(fake.LastMessage().icon, MessageIcon::kWarning);
  EXPECT_FALSE(commands.SaveLoaded());
  ExpectSaveControls(false);
  ExpectFileItemsGrayed();
  EXPECT_EQ(fake.Text(1003), "");
  EXPECT_EQ(fake.Text(1007), "");
  EXPECT_EQ(fake.Text(1015), "");
  EXPECT_TRUE(fake.rows.empty());
  // The failed object stays current but is never shown again.
  ASSERT_NE(Current(), nullptr);
  EXPECT_NE(Current()->sourcePath, dir.File("good.psu"));
  fake.texts.clear();
  commands.RefreshTitle();
  commands.RefreshFileList();
  EXPECT_TRUE(fake.texts.empty());
  EXPECT_TRUE(fake.rows.empty());
}

TEST_F(FileCommandsTest, OpenOfMissingOrDamagedFileNamesTheFault) {
  Open(dir.File("missing.psu"));
  EXPECT_EQ(fake.LastMessage().text, "Error opening file");
  Bytes truncated = SampleImage().Build();
  truncated.resize(300);
  std::string path = dir.File("short.psu");
  testutil::WriteFile(path, truncated);
  Open(path);
  EXPECT_EQ(fake.messages.size(), 2u);
  EXPECT_EQ(fake.LastMessage().caption, kWarnCaption);
  EXPECT_FALSE(commands.SaveLoaded());
}

TEST_F(FileCommandsTest, TitleWithoutIconSysSaysSo) {
  testutil::PsuImage image;
  image.files = {{"data.bin", testutil::MakeBytes(10, 1)}};
  Open(WriteSample("plain.psu", image));
  EXPECT_EQ(fake.Text(1007), "No valid icon.sys");
}

TEST_F(FileCommandsTest, NameColumnLeavesRoomForTheScrollBar) {
  Open(WriteSample("a.psu"));  // three files
  fake.visibleRows = 3;
  commands.RefreshFileList();
  EXPECT_EQ(fake.columnWidths[0], 214);
  fake.visibleRows = 2;
  commands.RefreshFileList();
  EXPECT_EQ(fake.columnWidths[0], 194);
  EXPECT_EQ(fake.rows.size(), 3u);
  EXPECT_EQ(fake.columnWidths.count(1), 0u);  // the other columns keep their widths
}

TEST_F(FileCommandsTest, SaveOffersTheSourceWithoutItsExtension) {
  std::string path = WriteSample("game.save.psu");
  Open(path);
  fake.dialogAnswers.push_back(std::nullopt);
  commands.SaveCommand();
  ASSERT_EQ(fake.dialogs.size(), 2u);
  const auto& call = fake.dialogs[1];
  EXPECT_TRUE(call.save);
  const auto& r = call.request;
  std::vector<std::pair<std::string, std::string>> filters;
  for (const auto& f : r.filters) filters.emplace_back(f.description, f.pattern);
  // Every family that writes conversions; SharkPort files are read, never written.
  EXPECT_EQ(filters, (std::vector<std::pair<std::string, std::string>>{
                         {"Xport-2 (*.xps)", "*.xps"},
                         {"Memory Linker (*.psu)", "*.psu"},
                         {"ARMAX V3 (*.max)", "*.max"},
                         {"ARMAX PowerSave (*.pws)", "*.pws"},
                         {"CodeBreaker (*.cbs)", "*.cbs"},
                         {"PS3 export (*.psv)", "*.psv"}}));
  EXPECT_EQ(r.selectedFilter, 2);
  EXPECT_EQ(r.fileName, dir.File("game.save"));
  EXPECT_EQ(r.initialDirectory, ".\\");
  EXPECT_EQ(r.defaultExtension, "psu");
  EXPECT_EQ(r.flags, ui::kDialogOverwritePrompt | ui::kDialogPathMustExist);
  EXPECT_TRUE(fake.messages.empty());
}

TEST_F(FileCommandsTest, SaveToAnotherPathWritesTheSameBytesAndKeepsTheSave) {
  std::string path = WriteSample("a.psu");
  Open(path);
  CSaveGame* before = Current();
  std::string copy = dir.File("copy.PSU");
  fake.dialogAnswers.push_back(copy);
  commands.SaveCommand();
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_EQ(testutil::ReadFile(copy), testutil::ReadFile(path));
  EXPECT_EQ(Current(), before);
  EXPECT_EQ(Current()->sourcePath, path);
}

TEST_F(FileCommandsTest, SaveInPlaceReloadsFromTheWrittenFile) {
  std::string path = WriteSample("a.psu");
  Open(path);
  std::string pc = dir.File("extra.bin");
  testutil::WriteFile(pc, testutil::MakeBytes(700, 9));
  fake.dialogAnswers.push_back(pc);
  commands.AddFileCommand();
  ASSERT_EQ(Current()->FileCount(), 4);
  ASSERT_TRUE(Current()->EntryAt(3)->DiskPath());

  // To another path: written, nothing reloaded.
  fake.dialogAnswers.push_back(dir.File("other.psu"));
  commands.SaveCommand();
  EXPECT_TRUE(Current()->EntryAt(3)->DiskPath());

  // Over its own file: written through "~0", then loaded again from it.
  fake.dialogAnswers.push_back(path);
  commands.SaveCommand();
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_FALSE(std::filesystem::exists(path + "~0"));
  EXPECT_EQ(testutil::ReadFile(path), testutil::ReadFile(dir.File("other.psu")));
  const SaveEntry* added = Current()->EntryAt(3);
  EXPECT_FALSE(added->DiskPath());
  EXPECT_GT(added->DataOffset().value_or(0), 0u);
  EXPECT_EQ(Current()->sourcePath, path);
  EXPECT_TRUE(commands.SaveLoaded());
}

// Every family that saves in place does it through "~0" and reloads from the new file; the
// save is first written in the family by converting the sample.
TEST_F(FileCommandsTest, SaveInPlaceWorksForEveryFamilyThatSavesInPlace) {
  std::unique_ptr<CSaveGame> sample = CreateForExtension("psu");
  ASSERT_EQ(sample->Load(WriteSample("sample.psu")), LoadResult::kOk);
  std::string pc = dir.File("extra.bin");
  testutil::WriteFile(pc, testutil::MakeBytes(700, 9));
  int families = 0;
  for (const FormatFamily& family : Families()) {
    if (!family.Can(kSavesInPlace) || !family.HoldsPs2()) continue;
    ++families;
    const std::string name(family.name);
    const std::string path = dir.File("game." + std::string(family.OwnExtension()));
    ASSERT_EQ(family.create()->WriteConvertedFrom(*sample, path), LoadResult::kOk) << name;
    Open(path);
    ASSERT_NE(Current(), nullptr) << name;
    fake.dialogAnswers.push_back(pc);
    commands.AddFileCommand();
    ASSERT_EQ(Current()->FileCount(), 4) << name;
    fake.dialogAnswers.push_back(path);
    commands.SaveCommand();
    EXPECT_TRUE(fake.messages.empty()) << name << ": " << fake.LastMessage().text;
    EXPECT_FALSE(std::filesystem::exists(path + "~0")) << name;
    EXPECT_EQ(Current()->kind, family.kind) << name;
    EXPECT_FALSE(Current()->EntryAt(3)->DiskPath()) << name << ": read again from the file";
    Bytes added;
    ASSERT_EQ(ReadEntryData(*Current()->EntryAt(3), Current()->container.get(), added), DataResult::kOk);
    EXPECT_EQ(added, testutil::ReadFile(pc)) << name;
  }
  EXPECT_EQ(families, 5);
}

TEST_F(FileCommandsTest, SaveReportsAFailedReplaceAndKeepsTheCopy) {
  testutil::PsuImage empty;  // no files: the save needs nothing from its old file
  std::string path = WriteSample("a.psu", empty);
  Open(path);
  // The source's name is now taken by a folder that can't be replaced.
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  testutil::WriteFile(path + "/keep", {1});
  fake.dialogAnswers.push_back(path);
  commands.SaveCommand();
  EXPECT_EQ(fake.LastMessage().text,
            "There was a problem when deleting/reneming file. You can still access copy of your "
            "file.");
  EXPECT_EQ(fake.LastMessage().caption, kWarnCaption);
  EXPECT_EQ(fake.LastMessage().icon, MessageIcon::kWarning);
  EXPECT_EQ(testutil::ReadFile(path + "~0"), empty.Build());
}

// Saved in place, but the new file doesn't load back (here a root the user stripped of its
// Directory flag): the entries would point into a file they don't describe, so the window
// shows the loader's message and lets the save go.
TEST_F(FileCommandsTest, SaveInPlaceWhoseReloadFailsEmptiesTheWindow) {
  std::string path = WriteSample("a.psu");
  Open(path);
  Current()->SetMode(-1, 0x8407);
  fake.dialogAnswers.push_back(path);
  commands.SaveCommand();
  EXPECT_EQ(fake.LastMessage().text, "Cannot load file. First entry is not a directory");
  EXPECT_FALSE(commands.SaveLoaded());
  ExpectSaveControls(false);
  EXPECT_TRUE(fake.rows.empty());
  EXPECT_EQ(fake.texts[1003], "");
}

TEST_F(FileCommandsTest, SaveReportsATargetThatCannotBeOpened) {
  Open(WriteSample("a.psu"));
  fake.dialogAnswers.push_back(dir.File("no such folder/x.psu"));
  commands.SaveCommand();
  EXPECT_EQ(fake.LastMessage().text, "Error opening file");
  EXPECT_EQ(fake.LastMessage().caption, kWarnCaption);
  EXPECT_FALSE(std::filesystem::exists(dir.File("no such folder")));
}

TEST_F(FileCommandsTest, SaveRefusesOtherExtensions) {
  Open(WriteSample("a.psu"));
  for (const char* name : {"x.sps", "x.txt", "x", "x.ps2"}) {
    fake.dialogAnswers.push_back(dir.File(name));
    commands.SaveCommand();
    EXPECT_EQ(fake.LastMessage().text, "Unknown file type") << name;
    EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
  }
}

TEST_F(FileCommandsTest, ConversionLeavesTheCurrentSaveAsItWas) {
  if (!CreateForKind(kKindXps)) GTEST_SKIP() << "no X-Port writer in this build";
  std::string path = WriteSample("game.psu");
  Open(path);
  CSaveGame* before = Current();
  std::string xps = dir.File("game.XPS");
  fake.dialogAnswers.push_back(xps);
  commands.SaveCommand();
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_TRUE(std::filesystem::exists(xps));
  EXPECT_EQ(Current(), before);
  EXPECT_EQ(Current()->sourcePath, path);
  fake.dialogAnswers.push_back(std::nullopt);
  commands.SaveCommand();
  EXPECT_EQ(fake.dialogs.back().request.fileName, dir.File("game"));
}

TEST_F(FileCommandsTest, AddFileOnAnEmptyWindowStartsANewSave) {
  std::string pc = dir.File("Data.Bin");
  testutil::WriteFile(pc, testutil::MakeBytes(2048, 4));
  fake.dialogAnswers.push_back(pc);
  commands.AddFileCommand();
  const auto& r = fake.dialogs[0].request;
  EXPECT_FALSE(fake.dialogs[0].save);
  ASSERT_EQ(r.filters.size(), 1u);
  EXPECT_EQ(r.filters[0].description, "All files (*.*)");
  EXPECT_EQ(r.filters[0].pattern, "*");
  EXPECT_EQ(r.selectedFilter, 0);
  EXPECT_EQ(r.fileName, "");
  EXPECT_EQ(r.initialDirectory, ".\\");
  EXPECT_EQ(r.flags, ui::kDialogFileMustExist | ui::kDialogPathMustExist);

  ASSERT_NE(Current(), nullptr);
  EXPECT_EQ(Current()->kind, kKindGeneric);
  EXPECT_EQ(fake.Text(1003), "UNNAMED SAVE");
  EXPECT_EQ(fake.Text(1015), "0x00008427");
  EXPECT_EQ(fake.Text(1007), "No valid icon.sys");
  ExpectSaveControls(true);
  ExpectFileItemsGrayed();
  EXPECT_EQ(fake.rows, (std::vector<std::vector<std::string>>{{"Data.Bin", "2 kB", "0x00008497"}}));

  // A save built from PC files is offered under a name of its own.
  fake.dialogAnswers.push_back(std::nullopt);
  commands.SaveCommand();
  EXPECT_EQ(fake.dialogs.back().request.fileName, "NewSave");
  // ... and reaches the disk by conversion.
  std::string out = dir.File("NewSave.psu");
  fake.dialogAnswers.push_back(out);
  commands.SaveCommand();
  CPsu check;
  ASSERT_EQ(check.Load(out), LoadResult::kOk);
  EXPECT_EQ(check.EntryAt(-1)->Name(), "UNNAMED SAVE");
  EXPECT_EQ(check.EntryAt(0)->Name(), "Data.Bin");
}

TEST_F(FileCommandsTest, AddFileAfterAFailedOpenReplacesTheLeftover) {
  testutil::PsuImage bad = SampleImage();
  bad.rootMode = 0x8497;
  Open(WriteSample("bad.psu", bad));
  std::string pc = dir.File("one.bin");
  testutil::WriteFile(pc, {1, 2, 3});
  fake.dialogAnswers.push_back(pc);
  commands.AddFileCommand();
  EXPECT_EQ(Current()->kind, kKindGeneric);
  EXPECT_EQ(Current()->FileCount(), 1);
  EXPECT_EQ(fake.Text(1003), "UNNAMED SAVE");
}

TEST_F(FileCommandsTest, AddFileAsksBeforeReplacingAnEqualName) {
  Open(WriteSample("a.psu"));
  std::string pc = dir.File("sub/save.dat");
  std::filesystem::create_directory(dir.File("sub"));
  testutil::WriteFile(pc, testutil::MakeBytes(100, 5));

  // No: nothing changes, but the views are refreshed.
  fake.dialogAnswers.push_back(pc);
  fake.questionAnswers.push_back(false);
  fake.rows.clear();
  fake.texts.erase(1007);
  commands.AddFileCommand();
  EXPECT_EQ(fake.LastMessage().text,
            "File \"save.dat\" already exists. Do you want to replace it?");
  EXPECT_EQ(fake.LastMessage().caption, "File exists");
  EXPECT_EQ(fake.LastMessage().icon, MessageIcon::kInformation);
  EXPECT_TRUE(fake.LastMessage().question);
  EXPECT_EQ(Current()->FileCount(), 3);
  EXPECT_FALSE(Current()->EntryAt(2)->DiskPath());
  EXPECT_EQ(fake.rows.size(), 3u);
  EXPECT_EQ(fake.Text(1007), "HELLO WORLD");

  // Yes: the entry keeps its place and name and takes the PC file's bytes.
  fake.dialogAnswers.push_back(pc);
  fake.questionAnswers.push_back(true);
  commands.AddFileCommand();
  EXPECT_EQ(Current()->FileCount(), 3);
  EXPECT_TRUE(Current()->EntryAt(2)->DiskPath());
  EXPECT_EQ(*Current()->EntryAt(2)->DiskPath(), pc);
  EXPECT_EQ(fake.rows[2], (std::vector<std::string>{"save.dat", "100 B", "0x00008497"}));
}

TEST_F(FileCommandsTest, AddFileComparesWholeNamesCaseSensitively) {
  Open(WriteSample("a.psu"));
  std::string upper = dir.File("SAVE.DAT");
  testutil::WriteFile(upper, {1});
  std::string longName = dir.File(std::string(40, 'n'));
  testutil::WriteFile(longName, {2});
  fake.dialogAnswers.push_back(upper);
  commands.AddFileCommand();
  fake.dialogAnswers.push_back(longName);
  commands.AddFileCommand();
  // Again: its 32-character entry name is not the 40-character file name.
  fake.dialogAnswers.push_back(longName);
  commands.AddFileCommand();
  EXPECT_TRUE(fake.messages.empty());
  ASSERT_EQ(Current()->FileCount(), 6);
  EXPECT_EQ(Current()->EntryAt(3)->Name(), "SAVE.DAT");
  EXPECT_EQ(Current()->EntryAt(4)->Name(), std::string(32, 'n'));
  EXPECT_EQ(Current()->EntryAt(5)->Name(), std::string(32, 'n'));
}

TEST_F(FileCommandsTest, ExtractOffersTheEntryNameAndCopiesItsBytes) {
  testutil::PsuImage image = SampleImage();
  std::string path = WriteSample("a.psu", image);
  Open(path);
  std::string out = dir.File("out.dat");
  fake.dialogAnswers.push_back(out);
  commands.ExtractFileCommand(2);
  const auto& r = fake.dialogs.back().request;
  EXPECT_TRUE(fake.dialogs.back().save);
  ASSERT_EQ(r.filters.size(), 1u);
  EXPECT_EQ(r.filters[0].description, "All files (*.*)");
  EXPECT_EQ(r.filters[0].pattern, "*");
  EXPECT_EQ(r.selectedFilter, 0);
  EXPECT_EQ(r.fileName, "save.dat");
  EXPECT_EQ(r.initialDirectory, ".\\");
  EXPECT_EQ(r.defaultExtension, "");
  EXPECT_EQ(r.flags, ui::kDialogOverwritePrompt | ui::kDialogPathMustExist);
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_EQ(testutil::ReadFile(out), image.files[2].data);

  // A file added from the PC is copied from the PC file's start.
  std::string pc = dir.File("pc.bin");
  testutil::WriteFile(pc, testutil::MakeBytes(5000, 8));
  fake.dialogAnswers.push_back(pc);
  commands.AddFileCommand();
  fake.dialogAnswers.push_back(dir.File("pc copy.bin"));
  commands.ExtractFileCommand(3);
  EXPECT_EQ(testutil::ReadFile(dir.File("pc copy.bin")), testutil::MakeBytes(5000, 8));
}

TEST_F(FileCommandsTest, ExtractWritesBytesHeldInMemory) {
  Open(WriteSample("a.psu"));
  // As an ARMAX save holds them.
  SaveEntry* e = Current()->EntryAt(1);
  e->source = InMemory{testutil::MakeBytes(e->size, 77)};
  std::filesystem::remove(dir.File("a.psu"));  // the container is no longer needed
  fake.dialogAnswers.push_back(dir.File("mem.bin"));
  commands.ExtractFileCommand(1);
  EXPECT_TRUE(fake.messages.empty());
  EXPECT_EQ(testutil::ReadFile(dir.File("mem.bin")), testutil::MakeBytes(1536, 77));
}

TEST_F(FileCommandsTest, ExtractReportsUnreadableSourceAndUnwritableTarget) {
  std::string path = WriteSample("a.psu");
  Open(path);
  fake.dialogAnswers.push_back(dir.File("nowhere/x.bin"));
  commands.ExtractFileCommand(0);
  EXPECT_EQ(fake.LastMessage().text, "Cannot write file");
  EXPECT_EQ(fake.LastMessage().caption, kWarnCaption);
  EXPECT_EQ(fake.LastMessage().icon, MessageIcon::kWarning);

  // A container cut short before the entry's end writes nothing.
  Bytes whole = testutil::ReadFile(path);
  whole.resize(whole.size() - 2000);
  testutil::WriteFile(path, whole);
  fake.dialogAnswers.push_back(dir.File("short.bin"));
  commands.ExtractFileCommand(2);
  EXPECT_EQ(fake.LastMessage().text, "Cannot read file");
  EXPECT_FALSE(std::filesystem::exists(dir.File("short.bin")));

  std::filesystem::remove(path);
  fake.dialogAnswers.push_back(dir.File("gone.bin"));
  commands.ExtractFileCommand(0);
  EXPECT_EQ(fake.LastMessage().text, "Cannot read file");
  EXPECT_EQ(fake.messages.size(), 3u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("gone.bin")));
}

TEST_F(FileCommandsTest, ExtractNeverOverwritesTheSavesOwnContainer) {
  std::string path = WriteSample("a.psu");
  Bytes before = testutil::ReadFile(path);
  Open(path);
  fake.dialogAnswers.push_back(path);
  commands.ExtractFileCommand(0);
  EXPECT_EQ(fake.LastMessage().text, "Cannot write file");
  EXPECT_EQ(testutil::ReadFile(path), before);
}

TEST_F(FileCommandsTest, CorpusSaveOpensAndExtractsTheSameBytesAsItsContainer) {
  REQUIRE_CORPUS(path, "psu/a.psu");
  Open(path);
  ASSERT_TRUE(commands.SaveLoaded()) << fake.LastMessage().text;
  EXPECT_EQ(fake.rows.size(), 3u);
  EXPECT_NE(fake.Text(1007), "No valid icon.sys");
  // Every extracted file is the entry's bytes, as the container holds them.
  Bytes container = testutil::ReadFile(path);
  for (int row = 0; row < 3; ++row) {
    std::string out = dir.File("x" + std::to_string(row));
    fake.dialogAnswers.push_back(out);
    commands.ExtractFileCommand(row);
    const SaveEntry& e = *Current()->EntryAt(row);
    const std::uint64_t at = e.DataOffset().value_or(0);
    Bytes expected(container.begin() + at, container.begin() + at + e.size);
    EXPECT_EQ(testutil::ReadFile(out), expected) << row;
  }
  EXPECT_TRUE(fake.messages.empty());
}

}  // namespace
