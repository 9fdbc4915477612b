#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "formats/psu/psu.h"
#include "model/save_game.h"
#include "properties_ids.h"
#include "support/psu_builder.h"
#include "support/test_util.h"
#include "formats/messages.h"
#include "ui/properties.h"

namespace {

using testutil::MakeTime;

// Records what the dialog does to its controls, and plays the user's typing back.
class FakeView : public PropertiesView {
 public:
  void SetText(int id, const std::string& text) override {
    texts[id] = text;
    calls.push_back("text " + std::to_string(id) + " " + text);
  }
  std::string GetText(int id) override { return texts[id]; }
  void SetChecked(int id, bool checked) override { this->checked[id] = checked; }
  void Show(int id, bool visible) override {
    shown[id] = visible;
    calls.push_back((visible ? "show " : "hide ") + std::to_string(id));
  }
  void Enable(int id, bool enabled) override {
    this->enabled[id] = enabled;
    calls.push_back((enabled ? "enable " : "disable ") + std::to_string(id));
  }
  void Focus(int id) override { focus = id; }
  void SetCaret(int id, std::size_t position) override { caret[id] = position; }
  void LimitText(int id, std::size_t chars) override { limits[id] = chars; }
  void Warn(const std::string& text, const std::string& caption) override {
    warnings.push_back({text, caption});
  }
  void EndDialog(int result) override { ended.push_back(result); }

  std::map<int, std::string> texts;
  std::map<int, bool> checked, shown, enabled;
  std::map<int, std::size_t> caret, limits;
  int focus = 0;
  std::vector<std::pair<std::string, std::string>> warnings;
  std::vector<int> ended;
  std::vector<std::string> calls;
};

// A save of the container without a format, recording each edit before making it.
class RecordingSave : public CGeneric {
 public:
  void SetName(int i, std::string_view text) override {
    log.push_back("SetName " + std::to_string(i) + " " + std::string(text));
    CGeneric::SetName(i, text);
  }
  void SetMode(int i, std::uint32_t mode) override {
    log.push_back("SetMode " + std::to_string(i) + " " + std::to_string(mode));
    CGeneric::SetMode(i, mode);
  }
  void SetCreated(int i, const EntryTime& t) override {
    log.push_back("SetCreated " + std::to_string(i) + " " + EntryForm(t));
    CGeneric::SetCreated(i, t);
  }
  void SetModified(int i, const EntryTime& t) override {
    log.push_back("SetModified " + std::to_string(i) + " " + EntryForm(t));
    CGeneric::SetModified(i, t);
  }
  std::vector<std::string> log;
};

// Three PC files of 1536, 964 and 10 bytes, with fixed times.
class PropertiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReleaseEntryProperties();
    const std::pair<const char*, std::size_t> files[] = {
        {"DATA.BIN", 1536}, {"icon.sys", 964}, {"small", 10}};
    for (auto [name, size] : files) {
      testutil::WriteFile(dir.File(name), testutil::MakeBytes(size, 3));
      save.AddEntryFromDisk(dir.File(name), name);
    }
    for (int i = -1; i < 3; ++i) {
      save.EntryAt(i)->created = MakeTime(2007, 3, 5, 14, 3, 9);
      save.EntryAt(i)->modified = MakeTime(2008, 12, 24, 1, 2, 3);
    }
    save.log.clear();
  }
  void TearDown() override { ReleaseEntryProperties(); }

  // Fills the record for an entry and initialises a dialog over the fake view.
  PropertiesDialog& Open(int index) {
    EXPECT_TRUE(FillEntryProperties(save, index, GetEntryProperties()));
    dialog = std::make_unique<PropertiesDialog>(GetEntryProperties(), view);
    dialog->Init();
    return *dialog;
  }
  EntryProperties& record() { return GetEntryProperties(); }

  testutil::TempDir dir;
  RecordingSave save;
  FakeView view;
  std::unique_ptr<PropertiesDialog> dialog;
};

TEST(PropertiesText, AttributesCaptionAndNameCut) {
  EXPECT_EQ(AttributesCaption(0), "Attributes (0x00000000)");
  EXPECT_EQ(AttributesCaption(0x8497), "Attributes (0x00008497)");
  EXPECT_EQ(AttributesCaption(0xABCD842F), "Attributes (0xABCD842F)");

  const std::string n32(32, 'N');
  EXPECT_EQ(CutName(n32), n32);
  EXPECT_EQ(CutName(n32 + "XYZ"), n32);
  EXPECT_EQ(CutName(""), "");
  // A two-byte character straddling the cut is left out whole.
  EXPECT_EQ(CutName(std::string(31, 'a') + "\xC3\xA9"), std::string(31, 'a'));
  // A three-byte character ending exactly at 32 stays.
  EXPECT_EQ(CutName(std::string(29, 'a') + "\xE3\x81\x82" + "b"),
            std::string(29, 'a') + "\xE3\x81\x82");
  // Bytes that are not UTF-8 are cut at 32 plainly.
  EXPECT_EQ(CutName(std::string(40, '\x80')), std::string(32, '\x80'));
}

TEST_F(PropertiesTest, OnlyTheBoxesOfWhatAnEntryIsAreLockedForEveryEntry) {
  for (int index : {-1, 0}) {
    view.enabled.clear();
    Open(index);
    for (int bit = 0; bit < 16; ++bit)
      EXPECT_EQ(view.enabled.at(IDC_PROP_MODE_FIRST + bit), bit != 4 && bit != 5) << "bit " << bit;
  }
}

TEST(GivenTexts, AControlLeftAloneGivesBackTheBytesItWasGiven) {
  GivenTexts given;
  const std::string notUtf8 = "NAME\x82\xA0";
  given.Given(1, notUtf8, "NAME\xEF\xBF\xBD");
  given.Given(2, "plain", "plain");
  struct Case { int id; std::string shown; std::string read; };
  const Case cases[] = {{1, "NAME\xEF\xBF\xBD", notUtf8},  // as shown: the bytes given
                        {1, "NAME2", "NAME2"},                  // typed over: the new text
                        {2, "plain", "plain"},
                        {3, "never given", "never given"}};
  for (const Case& c : cases) EXPECT_EQ(given.Read(c.id, c.shown), c.read) << c.id << " " << c.shown;
}

TEST_F(PropertiesTest, FileShowsItsValues) {
  save.EntryAt(0)->mode = 0x8497;
  Open(0);
  EXPECT_EQ(view.texts[IDC_PROP_NAME], "DATA.BIN");
  EXPECT_EQ(view.texts[IDC_PROP_SUMMARY], "1.5 kB");
  EXPECT_EQ(view.texts[IDC_PROP_CREATED], "5 March 2007 14:03:09");
  EXPECT_EQ(view.texts[IDC_PROP_MODIFIED], "24 December 2008 01:02:03");
  EXPECT_EQ(view.texts[IDC_PROP_ATTRIBUTES], "Attributes (0x00008497)");
  // Read, Write, Execute, File, Preserved, 0x0400, PS2.
  const std::set<int> expected = {1023, 1024, 1025, 1027, 1030, 1033, 1038};
  for (int id = IDC_PROP_MODE_FIRST; id <= IDC_PROP_MODE_LAST; ++id) {
    SCOPED_TRACE(id);
    EXPECT_EQ(view.checked[id], expected.count(id) == 1);
  }
  EXPECT_EQ(view.limits[IDC_PROP_CREATED_ENTRY], 19u);
  EXPECT_EQ(view.limits.count(IDC_PROP_MODIFIED_ENTRY), 0u);
  EXPECT_TRUE(view.ended.empty());
}

TEST_F(PropertiesTest, SummaryLines) {
  Open(-1);
  EXPECT_EQ(view.texts[IDC_PROP_SUMMARY], "Num. of fiiles = 3");
  EXPECT_EQ(view.texts[IDC_PROP_NAME], "UNNAMED SAVE");
  EXPECT_EQ(view.texts[IDC_PROP_ATTRIBUTES], "Attributes (0x00008427)");
  EXPECT_EQ(SummaryLine(*save.EntryAt(1), false), "964 B");
  EXPECT_EQ(SummaryLine(*save.EntryAt(2), false), "10 B");
}

TEST_F(PropertiesTest, FillRefusesAnEntryThatIsNotThere) {
  EXPECT_FALSE(FillEntryProperties(save, 3, record()));
  EXPECT_FALSE(FillEntryProperties(save, -2, record()));
  CGeneric empty;
  EXPECT_FALSE(FillEntryProperties(empty, -1, record()));
}

TEST_F(PropertiesTest, ModeBoxesFlipTheirBitAndTheCaptionFollows) {
  save.EntryAt(0)->mode = 0xABCD8497;
  Open(0);
  dialog->Command(1023, 0);
  EXPECT_EQ(record().mode, 0xABCD8496u);
  EXPECT_EQ(view.texts[IDC_PROP_ATTRIBUTES], "Attributes (0xABCD8496)");
  dialog->Command(1038, 0);
  EXPECT_EQ(view.texts[IDC_PROP_ATTRIBUTES], "Attributes (0xABCD0496)");
  dialog->Command(1026, 0);
  EXPECT_EQ(view.texts[IDC_PROP_ATTRIBUTES], "Attributes (0xABCD049E)");
  dialog->Command(1038, 0);
  dialog->Command(1026, 0);
  dialog->Command(1023, 0);
  EXPECT_EQ(record().mode, 0xABCD8497u);
  EXPECT_EQ(view.texts[IDC_PROP_ATTRIBUTES], "Attributes (0xABCD8497)");
  // Only clicks count.
  dialog->Command(1023, 1);
  dialog->Command(1, 5);
  EXPECT_EQ(record().mode, 0xABCD8497u);
  EXPECT_TRUE(view.ended.empty());
}

TEST_F(PropertiesTest, EditOpensTheEntryField) {
  Open(0);
  dialog->Command(IDC_PROP_EDIT_CREATED, 0);
  EXPECT_TRUE(record().editingCreated);
  EXPECT_FALSE(record().editingModified);
  EXPECT_EQ(view.texts[IDC_PROP_CREATED_ENTRY], "05-03-2007 14:03:09");
  EXPECT_TRUE(view.shown[IDC_PROP_CREATED_ENTRY]);
  EXPECT_FALSE(view.shown[IDC_PROP_CREATED]);
  EXPECT_TRUE(view.enabled[IDC_PROP_CREATED_ENTRY]);
  EXPECT_EQ(view.texts[IDC_PROP_EDIT_CREATED], "Ok");
  EXPECT_EQ(view.focus, IDC_PROP_CREATED_ENTRY);
  EXPECT_EQ(view.caret[IDC_PROP_CREATED_ENTRY], 0u);
  // The other time stays displayed.
  EXPECT_EQ(view.shown.count(IDC_PROP_MODIFIED_ENTRY), 0u);
  EXPECT_EQ(view.texts.count(IDC_PROP_EDIT_MODIFIED), 0u);
}

TEST_F(PropertiesTest, ConfirmingAValidTimeStoresIt) {
  Open(0);
  dialog->Command(IDC_PROP_EDIT_MODIFIED, 0);
  view.texts[IDC_PROP_MODIFIED_ENTRY] = "31-02-2007 10:00:00";
  view.calls.clear();
  dialog->Command(IDC_PROP_EDIT_MODIFIED, 0);
  EXPECT_TRUE(view.warnings.empty());
  EXPECT_EQ(record().modified, MakeTime(2007, 2, 31, 10, 0, 0));
  EXPECT_FALSE(record().editingModified);
  const std::vector<std::string> expected = {
      "disable 1046", "show 1019", "text 1019 31 February 2007 10:00:00",
      "text 1046 ",   "hide 1046", "text 1021 Edit"};
  EXPECT_EQ(view.calls, expected);
}

TEST_F(PropertiesTest, ConfirmingAFaultyTimeWarnsAndKeepsTheOldOne) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"_5-03-2007 14:03:09", "All blanks have to be filled with digits.\nOperation cancelled."},
      {"05-03-2007 14:03", "All blanks have to be filled with digits.\nOperation cancelled."},
      {"32-01-2007 10:00:00", "Invalid date/time format.\nOperation cancelled."},
      {"01-13-2007 10:00:00", "Invalid date/time format.\nOperation cancelled."},
      {"01-01-2007 24:00:00", "Invalid date/time format.\nOperation cancelled."},
  };
  Open(0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    view.warnings.clear();
    dialog->Command(IDC_PROP_EDIT_CREATED, 0);
    view.texts[IDC_PROP_CREATED_ENTRY] = c.text;
    dialog->Command(IDC_PROP_EDIT_CREATED, 0);
    ASSERT_EQ(view.warnings.size(), 1u);
    EXPECT_EQ(view.warnings[0].first, c.message);
    EXPECT_EQ(view.warnings[0].second, "Warrning");
    EXPECT_EQ(record().created, MakeTime(2007, 3, 5, 14, 3, 9));
    EXPECT_FALSE(record().editingCreated);
    EXPECT_EQ(view.texts[IDC_PROP_CREATED], "5 March 2007 14:03:09");
    EXPECT_FALSE(view.shown[IDC_PROP_CREATED_ENTRY]);
    EXPECT_FALSE(view.enabled[IDC_PROP_CREATED_ENTRY]);
    EXPECT_EQ(view.texts[IDC_PROP_CREATED_ENTRY], "");
    EXPECT_EQ(view.texts[IDC_PROP_EDIT_CREATED], "Edit");
  }
}

TEST_F(PropertiesTest, ZeroTimeIsAccepted) {
  Open(0);
  dialog->Command(IDC_PROP_EDIT_CREATED, 0);
  view.texts[IDC_PROP_CREATED_ENTRY] = "00-00-0000 00:00:00";
  dialog->Command(IDC_PROP_EDIT_CREATED, 0);
  EXPECT_TRUE(view.warnings.empty());
  EXPECT_EQ(record().created, EntryTime{});
  EXPECT_EQ(view.texts[IDC_PROP_CREATED], "0 (month 0) 0000 00:00:00");
}

TEST_F(PropertiesTest, BothTimesCanBeOpenAtOnce) {
  Open(0);
  dialog->Command(IDC_PROP_EDIT_CREATED, 0);
  dialog->Command(IDC_PROP_EDIT_MODIFIED, 0);
  EXPECT_TRUE(record().editingCreated);
  EXPECT_TRUE(record().editingModified);
  view.texts[IDC_PROP_CREATED_ENTRY] = "01-01-2001 01:01:01";
  view.texts[IDC_PROP_MODIFIED_ENTRY] = "02-02-2002 02:02:02";
  dialog->Command(IDC_PROP_EDIT_MODIFIED, 0);
  EXPECT_TRUE(record().editingCreated);
  EXPECT_EQ(record().modified, MakeTime(2002, 2, 2, 2, 2, 2));
  dialog->Command(IDC_PROP_EDIT_CREATED, 0);
  EXPECT_EQ(record().created, MakeTime(2001, 1, 1, 1, 1, 1));
}

TEST_F(PropertiesTest, OkLeavesAnOpenTimeUnstoredAndCutsTheName) {
  Open(0);
  dialog->Command(IDC_PROP_EDIT_CREATED, 0);
  view.texts[IDC_PROP_CREATED_ENTRY] = "01-01-2001 01:01:01";
  view.texts[IDC_PROP_NAME] = std::string(32, 'Q') + "TAIL";
  dialog->Command(kPropertiesOk, 0);
  EXPECT_EQ(view.ended, std::vector<int>{1});
  EXPECT_EQ(record().created, MakeTime(2007, 3, 5, 14, 3, 9));
  EXPECT_EQ(record().name, std::string(32, 'Q'));
  EXPECT_TRUE(view.warnings.empty());
}

TEST_F(PropertiesTest, CancelAndCloseEndWithTheirValues) {
  Open(0);
  dialog->Command(kPropertiesCancel, 0);
  dialog->Close();
  EXPECT_EQ(view.ended, (std::vector<int>{2, 0}));
}

TEST_F(PropertiesTest, OkWithoutChangesStillAppliesAllFourInOrder) {
  bool applied = RunProperties(&save, 1, [&] {
    PropertiesDialog d(GetEntryProperties(), view);
    d.Init();
    d.Command(kPropertiesOk, 0);
    return view.ended.back();
  });
  EXPECT_TRUE(applied);
  const std::vector<std::string> expected = {
      "SetMode 1 " + std::to_string(EntryMode::kNewFile), "SetName 1 icon.sys",
      "SetCreated 1 05-03-2007 14:03:09", "SetModified 1 24-12-2008 01:02:03"};
  EXPECT_EQ(save.log, expected);
  EXPECT_FALSE(HaveEntryProperties());
}

TEST_F(PropertiesTest, EditsReachTheSaveOnlyThroughOk) {
  for (int result : {kPropertiesCancel, kPropertiesClosed, kPropertiesOk}) {
    SCOPED_TRACE(result);
    save.log.clear();
    bool applied = RunProperties(&save, 2, [&] {
      PropertiesDialog d(GetEntryProperties(), view);
      d.Init();
      d.Command(1026, 0);  // Copy Protected
      d.Command(IDC_PROP_EDIT_CREATED, 0);
      view.texts[IDC_PROP_CREATED_ENTRY] = "29-02-2024 12:34:56";
      d.Command(IDC_PROP_EDIT_CREATED, 0);
      view.texts[IDC_PROP_NAME] = "RENAMED";
      d.Command(result, 0);
      return result;
    });
    if (result != kPropertiesOk) {
      EXPECT_FALSE(applied);
      EXPECT_TRUE(save.log.empty());
      EXPECT_EQ(save.EntryAt(2)->mode, EntryMode::kNewFile);
      EXPECT_EQ(save.EntryAt(2)->Name(), "small");
      EXPECT_EQ(save.EntryAt(2)->created, MakeTime(2007, 3, 5, 14, 3, 9));
    } else {
      EXPECT_TRUE(applied);
      EXPECT_EQ(save.EntryAt(2)->mode, EntryMode::kNewFile | EntryMode::kCopyProtected);
      EXPECT_EQ(save.EntryAt(2)->Name(), "RENAMED");
      EXPECT_EQ(save.EntryAt(2)->Title(), "RENAMED");
      EXPECT_EQ(save.EntryAt(2)->created, MakeTime(2024, 2, 29, 12, 34, 56));
      EXPECT_EQ(save.EntryAt(2)->modified, MakeTime(2008, 12, 24, 1, 2, 3));
    }
    EXPECT_FALSE(HaveEntryProperties());
  }
}

TEST_F(PropertiesTest, ThirtyTwoCharacterNameComesBackUnchanged) {
  const std::string name32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  save.SetName(-1, name32);
  save.log.clear();
  EXPECT_TRUE(RunProperties(&save, -1, [&] {
    PropertiesDialog d(GetEntryProperties(), view);
    d.Init();
    d.Command(kPropertiesOk, 0);
    return view.ended.back();
  }));
  EXPECT_EQ(save.EntryAt(-1)->Name(), name32);
  // The folder keeps its own title.
  EXPECT_EQ(save.EntryAt(-1)->Title(), "");
  EXPECT_EQ(save.log[1], "SetName -1 " + name32);
}

TEST_F(PropertiesTest, NothingRunsWithoutAnEntry) {
  int runs = 0;
  auto run = [&] { return ++runs, kPropertiesOk; };
  EXPECT_FALSE(RunProperties(nullptr, -1, run));
  EXPECT_FALSE(RunProperties(&save, 3, run));
  CGeneric empty;
  EXPECT_FALSE(RunProperties(&empty, -1, run));
  EXPECT_EQ(runs, 0);
  EXPECT_TRUE(save.log.empty());
  EXPECT_FALSE(HaveEntryProperties());
}

TEST_F(PropertiesTest, EachRunStartsFromAFreshRecord) {
  RunProperties(&save, 0, [&] {
    GetEntryProperties().editingCreated = true;
    GetEntryProperties().dialog = &view;
    return kPropertiesCancel;
  });
  RunProperties(&save, -1, [&] {
    EXPECT_FALSE(GetEntryProperties().editingCreated);
    EXPECT_EQ(GetEntryProperties().dialog, nullptr);
    EXPECT_EQ(GetEntryProperties().name, "UNNAMED SAVE");
    return kPropertiesCancel;
  });
}

// A Memory Linker save keeps its raw headers in step: the change is in the written file.
TEST(PropertiesOnPsu, OkChangesReachTheWrittenFile) {
  testutil::TempDir dir;
  testutil::PsuImage image;
  image.files.push_back({"icon.sys", testutil::MakeIconSys("TITLE"), 0x8497});
  image.files.push_back({"DATA", testutil::MakeBytes(2048, 9), 0x8497});
  testutil::WriteFile(dir.File("in.psu"), image.Build());
  CPsu psu;
  ASSERT_EQ(psu.Load(dir.File("in.psu")), LoadResult::kOk);
  ReleaseEntryProperties();
  FakeView view;
  ASSERT_TRUE(RunProperties(&psu, 1, [&] {
    PropertiesDialog d(GetEntryProperties(), view);
    d.Init();
    EXPECT_EQ(view.texts[IDC_PROP_SUMMARY], "2 kB");
    d.Command(1037, 0);  // Hidden
    d.Command(IDC_PROP_EDIT_MODIFIED, 0);
    view.texts[IDC_PROP_MODIFIED_ENTRY] = "01-02-2099 03:04:05";
    d.Command(IDC_PROP_EDIT_MODIFIED, 0);
    view.texts[IDC_PROP_NAME] = "SAVEDATA";
    d.Command(kPropertiesOk, 0);
    return view.ended.back();
  }));
  ASSERT_EQ(psu.Save(dir.File("out.psu")), LoadResult::kOk);
  CPsu back;
  ASSERT_EQ(back.Load(dir.File("out.psu")), LoadResult::kOk);
  const SaveEntry* e = back.EntryAt(1);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Name(), "SAVEDATA");
  EXPECT_EQ(e->mode, 0x8497u | EntryMode::kHidden);
  EXPECT_EQ(e->modified, MakeTime(2099, 2, 1, 3, 4, 5));
  EXPECT_EQ(e->created, MakeTime(2007, 3, 4, 5, 6, 7));
  EXPECT_EQ(back.EntryAt(0)->Name(), "icon.sys");
}

TEST(PropertiesOnPsu, CancelLeavesTheFileBytesAlone) {
  REQUIRE_CORPUS(path, "psu/a.psu");
  testutil::TempDir dir;
  CPsu psu;
  ASSERT_EQ(psu.Load(path), LoadResult::kOk);
  ASSERT_EQ(psu.Save(dir.File("before.psu")), LoadResult::kOk);
  ReleaseEntryProperties();
  FakeView view;
  EXPECT_FALSE(RunProperties(&psu, -1, [&] {
    PropertiesDialog d(GetEntryProperties(), view);
    d.Init();
    d.Command(1023, 0);
    view.texts[IDC_PROP_NAME] = "OTHER";
    d.Command(kPropertiesCancel, 0);
    return view.ended.back();
  }));
  ASSERT_EQ(psu.Save(dir.File("after.psu")), LoadResult::kOk);
  EXPECT_EQ(testutil::ReadFile(dir.File("after.psu")), testutil::ReadFile(dir.File("before.psu")));
}

}  // namespace
