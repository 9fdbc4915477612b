// The dialog program's commands over hostile files and failing disks.
//
// The main window is driven through the recording platform the way a user would drive it:
// Open over every prefix and over randomly damaged copies of valid files of each family,
// then Save (both kinds) and Extract on whatever loaded; Save and Extract when the target
// can't be written, when the container or an added PC file vanished or shrank after it
// was read, and after Properties edits on a save whose container is gone. Each case must
// leave the window either showing a save consistently or in the no-save state with one
// of its messages, keep the current save as it was when a write fails, and never leave a
// half-written file under the chosen name.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "formats/messages.h"
#include "formats/registry.h"
#include "model/entry_data.h"
#include "resource.h"
#include "support/exercise.h"
#include "support/max_builder.h"
#include "support/psu_builder.h"
#include "support/test_util.h"
#include "support/xps_builder.h"
#include "ui/main_window.h"
#include "ui/properties.h"
#include "ui_fake_platform.h"

namespace {

namespace fs = std::filesystem;
using testutil::Bytes;

constexpr std::array<std::string_view, 5> kOpenMessages = {
    "Error opening file", "Cannot load file. First entry is not a directory",
    "Format of the file you are trying to open is not valid",
    "Not enough memory to create buffers", "Unexpected error"};
constexpr std::array<std::string_view, 3> kSaveFailures = {
    "Error opening file", "Not enough memory to create buffers", "Unexpected error"};
constexpr std::string_view kErrorOpening = "Error opening file";
constexpr std::string_view kCannotRead = "Cannot read file";
constexpr std::string_view kCannotWrite = "Cannot write file";

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

struct Sample {
  std::string name;
  std::string extension;
  Bytes bytes;
};

// Valid files of each family whose class this build has: each with an icon.sys, files of
// odd sizes, and one X-Port file with long headers whose root is not a directory (its
// loader asks).
std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  {
    testutil::PsuImage image;
    image.files = {{"icon.sys", testutil::MakeIconSys("PSU TITLE")},
                   {"F1025", testutil::MakeBytes(1025, 1)},
                   {"F0", {}},
                   {"F700", testutil::MakeBytes(700, 2)}};
    samples.push_back({"psu", "psu", image.Build()});
  }
  if (CreateForExtension("xps")) {
    testutil::XpsImage image;
    image.files = {testutil::XpsFile("icon.sys", testutil::MakeIconSys("XPS TITLE")),
                   testutil::XpsFile("F1025", testutil::MakeBytes(1025, 3)),
                   testutil::XpsFile("F1", {7})};
    samples.push_back({"xps", "xps", image.Build()});
    // Longer headers than the writer makes: a save over it moves every file's data.
    testutil::XpsImage odd;
    odd.root.mode = 0x8497;
    odd.root.headerLength = 300;
    odd.files = {testutil::XpsFile("DATA", testutil::MakeBytes(300, 4)),
                 testutil::XpsFile("MORE", testutil::MakeBytes(40, 5))};
    odd.files[0].headerLength = 270;
    samples.push_back({"xps with long headers, root not a directory", "xps", odd.Build()});
  }
  if (CreateForExtension("max")) {
    testutil::MaxImage image;
    image.files = {{"icon.sys", testutil::MakeIconSys("MAX TITLE")},
                   {"F1025", testutil::MakeBytes(1025, 5)},
                   {"F0", {}}};
    samples.push_back({"max", "max", image.Build()});
  }
  return samples;
}

// What a save's table holds, to see that a failed command left it as it was.
struct EntrySnapshot {
  std::string name;
  std::uint32_t mode, size;
  bool fromDisk;
  std::string diskPath;
  std::uint64_t dataOffset;
  bool inMemory;
  bool operator==(const EntrySnapshot&) const = default;
};

struct SaveSnapshot {
  const CSaveGame* object = nullptr;
  std::string sourcePath;
  std::vector<EntrySnapshot> entries;
  bool operator==(const SaveSnapshot&) const = default;
};

SaveSnapshot Snapshot(const CSaveGame* save) {
  SaveSnapshot s;
  s.object = save;
  if (!save) return s;
  s.sourcePath = save->sourcePath;
  if (save->entries) {
    for (const SaveEntry& e : *save->entries)
      s.entries.push_back({std::string(e.Name()), e.mode, e.size, e.DiskPath() != nullptr,
                           e.DiskPath() ? *e.DiskPath() : std::string(),
                           e.DataOffset().value_or(0), e.Data().has_value()});
  }
  return s;
}

class UiReliability : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.ResetWindow();
    window.OnInit();
  }

  CSaveGame* Current() { return window.commands().Current(); }
  CSaveGame* Loaded() { return window.commands().LoadedSave(); }

  // The messages (not questions) shown since `from`.
  std::vector<std::string> MessagesSince(std::size_t from) const {
    std::vector<std::string> texts;
    for (std::size_t i = from; i < fake.messages.size(); ++i)
      if (!fake.messages[i].question) texts.push_back(fake.messages[i].text);
    return texts;
  }

  // The names in the scratch folder.
  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(dir.path()))
      names.insert(item.path().filename().string());
    return names;
  }

  // Opens `path` through the window, answering every loader question with `answer`.
  void Open(const std::string& path, bool answer) {
    fake.questionAnswers.assign(8, answer);
    fake.dialogAnswers.push_back(path);
    window.OnCommand(IDC_OPEN, 0);
    fake.questionAnswers.clear();
  }

  // Empty when the window shows the loaded save exactly, or the no-save state after
  // exactly one of Open's messages; else what is wrong.
  std::string CheckWindowAfterOpen(std::size_t messagesBefore) {
    std::vector<std::string> shown = MessagesSince(messagesBefore);
    const CSaveGame* save = Loaded();
    if (save) {
      if (!shown.empty()) return "loaded, yet showed \"" + shown.front() + "\"";
      const SaveEntry& root = *save->EntryAt(-1);
      if (fake.Text(IDC_FOLDER_NAME) != root.Name()) return "folder field differs from the root";
      if (fake.Text(IDC_ROOT_MODE) != FormatMode(root.mode)) return "mode label differs";
      if (fake.Text(IDC_TITLE).empty()) return "title field empty";
      std::vector<std::vector<std::string>> rows;
      for (int i = 0; i < save->FileCount(); ++i) {
        const SaveEntry& e = *save->EntryAt(i);
        rows.push_back({std::string(e.FullName()), FormatSize(e.size), FormatMode(e.mode)});
      }
      if (fake.rows != rows) return "list rows differ from the table";
      if (!fake.controlEnabled[IDC_SAVE] || !fake.controlEnabled[IDC_FOLDER_PROPERTIES] ||
          !fake.menuEnabled[IDM_SAVE_AS])
        return "Save or Properties disabled with a save loaded";
    } else {
      if (shown.size() != 1) return std::to_string(shown.size()) + " messages for a failed open";
      if (!OneOf(kOpenMessages, shown[0])) return "unexpected message \"" + shown[0] + "\"";
      if (!fake.Text(IDC_FOLDER_NAME).empty() || !fake.Text(IDC_TITLE).empty() ||
          !fake.Text(IDC_ROOT_MODE).empty())
        return "fields not emptied";
      if (!fake.rows.empty()) return "list not emptied";
      if (fake.controlEnabled[IDC_SAVE] || fake.controlEnabled[IDC_FOLDER_PROPERTIES] ||
          fake.menuEnabled[IDM_SAVE_AS])
        return "Save or Properties still enabled";
    }
    for (int id : {IDM_EXTRACT_FILE, IDM_DELETE_FILE, IDM_PROPERTIES})
      if (fake.menuEnabled[id]) return "file menu item " + std::to_string(id) + " enabled";
    return "";
  }

  // Saves the current save as `name` (its extension picks the kind). Empty when the
  // outcome is defined: no message and a complete file its own class reads back, or one
  // of the save failures with nothing under the name; the save stays as it was either way.
  std::string SaveAs(const std::string& name) {
    std::string target = dir.File(name);
    std::set<std::string> before = Listing();
    SaveSnapshot snapshot = Snapshot(Current());
    std::size_t from = fake.messages.size();
    fake.dialogAnswers.push_back(target);
    window.OnCommand(IDC_SAVE, 0);
    std::vector<std::string> shown = MessagesSince(from);
    if (!(Snapshot(Current()) == snapshot)) return name + ": the current save changed";
    std::set<std::string> after = Listing();
    if (!shown.empty()) {
      if (shown.size() != 1 || !OneOf(kSaveFailures, shown[0]))
        return name + ": unexpected message \"" + shown[0] + "\"";
      if (after != before) return name + ": a failed save left files behind";
      return "";
    }
    before.insert(name);
    if (after != before) return name + ": the folder holds other files than the target";
    std::unique_ptr<CSaveGame> check = CreateForExtension(fs::path(name).extension().string().substr(1));
    LoadResult loaded = testutil::LoadAsking(*check, target, [](const LoadQuestion&) { return true; });
    if (testutil::HasPlainLayout(*Loaded())) {
      if (loaded != LoadResult::kOk) return name + ": the written file loads with " + std::to_string(ResultCode(loaded));
      if (check->FileCount() != Loaded()->FileCount()) return name + ": file count differs";
    }
    return "";
  }

  // Extracts file row `row` as `name`: the entry's bytes, or a read or write failure with
  // nothing under the name.
  std::string Extract(int row, const std::string& name) {
    std::string target = dir.File(name);
    std::set<std::string> before = Listing();
    SaveSnapshot snapshot = Snapshot(Current());
    std::size_t from = fake.messages.size();
    fake.selectedRow = row;
    window.OnListItemChanged();
    fake.dialogAnswers.push_back(target);
    window.OnCommand(IDM_EXTRACT_FILE, 0);
    fake.selectedRow = -1;
    window.OnListItemChanged();
    std::vector<std::string> shown = MessagesSince(from);
    if (!(Snapshot(Current()) == snapshot)) return name + ": the current save changed";
    std::set<std::string> after = Listing();
    if (!shown.empty()) {
      if (shown.size() != 1 || (shown[0] != kCannotRead && shown[0] != kCannotWrite))
        return name + ": unexpected message \"" + shown[0] + "\"";
      if (after != before) return name + ": a failed extract left files behind";
      return "";
    }
    const CSaveGame& save = *Loaded();
    Bytes expected;
    if (ReadEntryData(*save.EntryAt(row), save.container.get(), expected) != DataResult::kOk)
      return name + ": extracted an entry whose bytes can't be read";
    if (testutil::ReadFile(target) != expected) return name + ": extracted other bytes";
    fs::remove(target);
    return "";
  }

  // Both kinds of Save and Extract of the first and last file, on the loaded save.
  std::string ExerciseLoaded() {
    for (const char* name : {"out.psu", "out.xps"}) {
      if (!CreateForExtension(fs::path(name).extension().string().substr(1))) continue;
      if (std::string fault = SaveAs(name); !fault.empty()) return fault;
      fs::remove(dir.File(name));
    }
    int files = Loaded()->FileCount();
    for (int row : {0, files - 1}) {
      if (row < 0) continue;
      if (std::string fault = Extract(row, "extracted.bin"); !fault.empty()) return fault;
    }
    return SaveInPlace();
  }

  // Saves over the save's own container when its extension is a writable one of its kind.
  // Written: the save is read again from the new file, and every entry then gives the
  // bytes a fresh load of that file gives. Failed: the container is as it was.
  std::string SaveInPlace() {
    CSaveGame& save = *Loaded();
    std::string path = save.sourcePath;
    std::string ext = fs::path(path).extension().string().substr(1);
    if (TargetKindForExtension(ext) != save.kind) return "";
    Bytes old = testutil::ReadFile(path);
    std::set<std::string> before = Listing();
    std::size_t from = fake.messages.size();
    fake.questionAnswers.assign(8, true);
    fake.dialogAnswers.push_back(path);
    window.OnCommand(IDC_SAVE, 0);
    fake.questionAnswers.clear();
    std::vector<std::string> shown = MessagesSince(from);
    if (!shown.empty()) {
      if (shown.size() != 1 || !OneOf(kSaveFailures, shown[0]))
        return "in place: unexpected message \"" + shown[0] + "\"";
      if (testutil::ReadFile(path) != old) return "in place: a failed save changed the container";
      if (Listing() != before) return "in place: a failed save left files behind";
      return "";
    }
    if (Listing() != before) return "in place: files left beside the container";
    if (Loaded() != &save) return "in place: the save is no longer shown";
    std::unique_ptr<CSaveGame> fresh = CreateForExtension(ext);
    if (testutil::LoadAsking(*fresh, path, [](const LoadQuestion&) { return true; }) != LoadResult::kOk) return "in place: the written container doesn't load";
    if (fresh->FileCount() != save.FileCount()) return "in place: file count differs";
    for (int i = -1; i < save.FileCount(); ++i) {
      Bytes shown, written;
      if (ReadEntryData(*save.EntryAt(i), save.container.get(), shown) != DataResult::kOk ||
          ReadEntryData(*fresh->EntryAt(i), fresh->container.get(), written) != DataResult::kOk ||
          shown != written || save.EntryAt(i)->Name() != fresh->EntryAt(i)->Name())
        return "in place: entry " + std::to_string(i) + " no longer matches its container";
    }
    return "";
  }

  // Opens the file at `path` as it stands and checks the window; when it loaded, also
  // saves and extracts. Counts the loads.
  void OpenAndExercise(const std::string& path, bool answer, const std::string& label) {
    std::size_t from = fake.messages.size();
    Open(path, answer);
    std::string fault = CheckWindowAfterOpen(from);
    if (fault.empty() && Loaded()) {
      ++loads;
      fault = ExerciseLoaded();
    }
    ASSERT_EQ(fault, "") << label;
  }

  testutil::TempDir dir{testutil::FastTempBase()};
  testutil::FakePlatform fake;
  ui::MainWindow window{fake};
  int loads = 0;
};

TEST_F(UiReliability, OpenOfEveryPrefixEndsLoadedOrEmpty) {
  bool answer = false;
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    std::string path = dir.File("input." + sample.extension);
    const std::size_t size = sample.bytes.size();
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= std::min<std::size_t>(size, 3072); ++n) lengths.push_back(n);
    std::mt19937 rng(static_cast<std::uint32_t>(size));
    for (int i = 0; i < 32 && size > 3072; ++i)
      lengths.push_back(std::uniform_int_distribution<std::size_t>(3072, size)(rng));
    for (std::size_t back : {1u, 2u, 4u, 512u})
      if (size > back) lengths.push_back(size - back);
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());

    int before = loads;
    for (auto it = lengths.rbegin(); it != lengths.rend(); ++it) {
      testutil::WriteFile(path, Bytes(sample.bytes.begin(), sample.bytes.begin() + *it));
      answer = !answer;
      OpenAndExercise(path, answer, sample.name + " cut to " + std::to_string(*it));
      if (HasFatalFailure()) return;
    }
    // The whole file loads (declining the question of a doubtful root gives -3 instead).
    EXPECT_GT(loads, before);
  }
}

TEST_F(UiReliability, OpenOfDamagedCopiesEndsLoadedOrEmpty) {
  constexpr int kCopies = 300;
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    std::string path = dir.File("input." + sample.extension);
    std::mt19937 rng(20240611u + static_cast<std::uint32_t>(sample.bytes.size()));
    int before = loads;
    for (int i = 0; i < kCopies; ++i) {
      Bytes bytes = sample.bytes;
      int changes = std::uniform_int_distribution<int>(1, 6)(rng);
      for (int c = 0; c < changes; ++c) {
        std::size_t span = (rng() % 4 == 0) ? bytes.size() : std::min<std::size_t>(bytes.size(), 2048);
        std::size_t at = std::uniform_int_distribution<std::size_t>(0, span - 1)(rng);
        bytes[at] = static_cast<std::uint8_t>(rng() % 2 ? bytes[at] ^ (1u << (rng() % 8)) : rng());
      }
      testutil::WriteFile(path, bytes);
      OpenAndExercise(path, i % 2 == 0, sample.name + ", copy " + std::to_string(i));
      if (HasFatalFailure()) return;
    }
    // The damage must also reach the writers, not only the loaders' refusals.
    EXPECT_GT(loads - before, kCopies / 20);
  }
}

// A loaded save of every family, for the failing-disk cases.
class UiFailingDisk : public UiReliability {
 protected:
  // Opens the sample under `name`; false (with a failure) when it doesn't load.
  bool OpenSample(const Sample& sample, const std::string& name) {
    source = dir.File(name);
    testutil::WriteFile(source, sample.bytes);
    std::size_t from = fake.messages.size();
    Open(source, true);
    EXPECT_EQ(CheckWindowAfterOpen(from), "");
    EXPECT_NE(Loaded(), nullptr);
    return Loaded() != nullptr;
  }

  // Runs `command` and checks that it showed exactly `message`, left the save and the
  // window as they were and changed nothing in the scratch folder.
  void ExpectRefused(const std::function<void()>& command, std::string_view message,
                     const std::string& label) {
    SaveSnapshot snapshot = Snapshot(Current());
    std::set<std::string> files = Listing();
    auto rows = fake.rows;
    std::string folder = fake.Text(IDC_FOLDER_NAME);
    std::size_t from = fake.messages.size();
    command();
    EXPECT_EQ(MessagesSince(from), std::vector<std::string>{std::string(message)}) << label;
    EXPECT_TRUE(Snapshot(Current()) == snapshot) << label;
    EXPECT_EQ(Listing(), files) << label;
    EXPECT_EQ(fake.rows, rows) << label;
    EXPECT_EQ(fake.Text(IDC_FOLDER_NAME), folder) << label;
    EXPECT_TRUE(window.commands().SaveLoaded()) << label;
  }

  void SaveTo(const std::string& path) {
    fake.dialogAnswers.push_back(path);
    window.OnCommand(IDC_SAVE, 0);
  }
  void ExtractTo(int row, const std::string& path) {
    fake.selectedRow = row;
    window.OnListItemChanged();
    fake.dialogAnswers.push_back(path);
    window.OnCommand(IDM_EXTRACT_FILE, 0);
  }

  // The writable extensions of this build.
  static std::vector<std::string> Targets() {
    std::vector<std::string> targets = {"psu"};
    if (CreateForExtension("xps")) targets.push_back("xps");
    return targets;
  }

  std::string source;
};

TEST_F(UiFailingDisk, TargetInAMissingFolderOrThatIsAFolderGetsNothing) {
  fs::create_directory(dir.path() / "taken.psu");
  fs::create_directory(dir.path() / "taken.xps");
  testutil::WriteFile(dir.File("taken.psu/keep"), {1, 2, 3});
  testutil::WriteFile(dir.File("taken.xps/keep"), {4, 5, 6});
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    if (!OpenSample(sample, "source." + sample.extension)) continue;
    for (const std::string& ext : Targets()) {
      std::string missing = dir.File("no such folder/out." + ext);
      ExpectRefused([&] { SaveTo(missing); }, kErrorOpening, missing);
      std::string folder = dir.File("taken." + ext);
      ExpectRefused([&] { SaveTo(folder); }, kErrorOpening, folder);
      EXPECT_TRUE(fs::is_directory(folder));
      EXPECT_EQ(testutil::ReadFile(folder + "/keep").size(), 3u);
    }
    ExpectRefused([&] { ExtractTo(0, dir.File("no such folder/x.bin")); }, kCannotWrite, "extract");
    ExpectRefused([&] { ExtractTo(0, dir.File("taken.psu")); }, kCannotWrite, "extract to folder");
    EXPECT_FALSE(fs::exists(dir.path() / "no such folder"));
    EXPECT_EQ(testutil::ReadFile(source), sample.bytes);
    fs::remove(source);
  }
}

// A container read from its file (.psu, .xps) can't be written once that file is gone or
// cut short; an ARMAX save holds its files in memory and is written whole.
TEST_F(UiFailingDisk, SourceGoneOrShrunkAfterOpen) {
  for (const Sample& sample : Samples()) {
    for (bool shrink : {false, true}) {
      SCOPED_TRACE(sample.name + (shrink ? ", shrunk" : ", deleted"));
      if (!OpenSample(sample, "source." + sample.extension)) continue;
      const bool inMemory = Loaded()->EntryAt(0)->Data().has_value();
      if (shrink) fs::resize_file(source, sample.bytes.size() / 2);
      else fs::remove(source);
      Bytes left = shrink ? testutil::ReadFile(source) : Bytes{};

      for (const std::string& ext : Targets()) {
        std::string target = dir.File("out." + ext);
        if (inMemory) {
          EXPECT_EQ(SaveAs("out." + ext), "");
          EXPECT_TRUE(fs::exists(target));
          fs::remove(target);
        } else {
          ExpectRefused([&] { SaveTo(target); }, kErrorOpening, target);
        }
      }
      // Over its own container: the shrunk file stays as it was, the deleted one stays gone,
      // and no "~0" copy of a failed write is kept.
      if (!inMemory) {
        ExpectRefused([&] { SaveTo(source); }, kErrorOpening, "in place");
        if (shrink) EXPECT_EQ(testutil::ReadFile(source), left);
        else EXPECT_FALSE(fs::exists(source));
        EXPECT_FALSE(fs::exists(source + "~0"));
      }

      // The last file lies past the cut: nothing extracted. Any row either extracts its
      // exact bytes or nothing.
      int last = Loaded()->FileCount() - 1;
      if (!inMemory) {
        ExpectRefused([&] { ExtractTo(last, dir.File("x.bin")); }, kCannotRead, "extract last");
      }
      for (int row = 0; row <= last; ++row) EXPECT_EQ(Extract(row, "x.bin"), "") << row;
      if (fs::exists(source)) fs::remove(source);
    }
  }
}

TEST_F(UiFailingDisk, AddedPcFileThatVanishedOrShrankIsNotWritten) {
  for (bool fromOpen : {true, false}) {
    for (bool shrink : {false, true}) {
      SCOPED_TRACE(std::string(fromOpen ? "opened save" : "new save") +
                   (shrink ? ", shrunk" : ", deleted"));
      window.commands().CloseSave();
      if (fromOpen && !OpenSample(Samples()[0], "source.psu")) return;
      std::string pc = dir.File("added.bin");
      testutil::WriteFile(pc, testutil::MakeBytes(3000, 9));
      fake.dialogAnswers.push_back(pc);
      window.OnCommand(IDM_ADD_FILE, 0);
      ASSERT_TRUE(window.commands().SaveLoaded());
      int row = Loaded()->FileCount() - 1;
      ASSERT_EQ(fake.rows.at(static_cast<std::size_t>(row))[0], "added.bin");
      if (shrink) fs::resize_file(pc, 1000);
      else fs::remove(pc);

      for (const std::string& ext : Targets()) {
        std::string target = dir.File("out." + ext);
        ExpectRefused([&] { SaveTo(target); }, kErrorOpening, target);
      }
      if (fromOpen) {
        Bytes container = testutil::ReadFile(source);
        ExpectRefused([&] { SaveTo(source); }, kErrorOpening, "in place");
        EXPECT_EQ(testutil::ReadFile(source), container);
        EXPECT_FALSE(fs::exists(source + "~0"));
        EXPECT_EQ(Extract(0, "x.bin"), "");
      }
      ExpectRefused([&] { ExtractTo(row, dir.File("x.bin")); }, kCannotRead, "extract added");
      for (const auto& item : fs::directory_iterator(dir.path())) fs::remove_all(item.path());
    }
  }
}

// Properties confirmed with changes, through the same path the dialog takes on OK.
TEST_F(UiFailingDisk, PropertiesEditsOnAVanishedSourceLoseNothingOnSave) {
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    if (!OpenSample(sample, "source." + sample.extension)) continue;
    const bool inMemory = Loaded()->EntryAt(0)->Data().has_value();
    fs::remove(source);

    fake.onProperties = [this](int index) {
      return RunProperties(Loaded(), index, [index] {
        EntryProperties& record = GetEntryProperties();
        record.name = index < 0 ? "RENAMED-FOLDER" : "renamed.dat";
        record.mode ^= 0x0010;
        record.modified = testutil::MakeTime(2020, 2, 29, 23, 59, 58);
        return kPropertiesOk;
      });
    };
    fake.selectedRow = 0;
    window.OnListItemChanged();
    window.OnCommand(IDM_PROPERTIES, 0);
    window.OnCommand(IDC_FOLDER_PROPERTIES, 0);
    ASSERT_EQ(fake.rows.at(0)[0], "renamed.dat");
    ASSERT_EQ(fake.Text(IDC_FOLDER_NAME), "RENAMED-FOLDER");
    ASSERT_EQ(Loaded()->EntryAt(-1)->Name(), "RENAMED-FOLDER");
    fake.selectedRow = -1;
    window.OnListItemChanged();

    for (const std::string& ext : Targets()) {
      std::string target = dir.File("out." + ext);
      if (inMemory) {
        EXPECT_EQ(SaveAs("out." + ext), "");
        std::unique_ptr<CSaveGame> check = CreateForExtension(ext);
        ASSERT_EQ(check->Load(target), LoadResult::kOk);
        EXPECT_EQ(check->EntryAt(-1)->Name(), "RENAMED-FOLDER");
        EXPECT_EQ(check->EntryAt(0)->Name(), "renamed.dat");
        fs::remove(target);
      } else {
        ExpectRefused([&] { SaveTo(target); }, kErrorOpening, target);
      }
    }
    if (!inMemory) {
      ExpectRefused([&] { SaveTo(source); }, kErrorOpening, "in place");
      EXPECT_FALSE(fs::exists(source + "~0"));
    }
    EXPECT_TRUE(Listing().empty());
    fake.onProperties = nullptr;
  }
}

// A PC file that an added entry reads from is no target for Save: once replaced, the entry
// would read the new container instead of its own bytes. The save's own container, even
// added to itself as a PC file, is read again after the write and stays usable.
TEST_F(UiFailingDisk, SaveOverAnAddedPcFileIsRefused) {
  if (!OpenSample(Samples()[0], "source.psu")) return;
  std::vector<std::pair<std::string, Bytes>> added;
  for (const std::string& ext : Targets()) {
    std::string pc = dir.File("added." + ext);
    testutil::WriteFile(pc, testutil::MakeBytes(3000, static_cast<std::uint32_t>(ext[0])));
    fake.dialogAnswers.push_back(pc);
    window.OnCommand(IDM_ADD_FILE, 0);
    added.emplace_back(pc, testutil::ReadFile(pc));
  }
  const int firstAdded = Loaded()->FileCount() - static_cast<int>(added.size());
  for (const auto& [pc, bytes] : added) {
    ExpectRefused([&] { SaveTo(pc); }, kErrorOpening, pc);
    EXPECT_EQ(testutil::ReadFile(pc), bytes);
  }
  for (int row = firstAdded; row < Loaded()->FileCount(); ++row) {
    std::string name = "x" + std::to_string(row) + ".bin";
    EXPECT_EQ(Extract(row, name), "");
  }

  Bytes container = testutil::ReadFile(source);
  fake.dialogAnswers.push_back(source);
  window.OnCommand(IDM_ADD_FILE, 0);
  const int self = Loaded()->FileCount() - 1;
  std::size_t from = fake.messages.size();
  SaveTo(source);
  EXPECT_TRUE(MessagesSince(from).empty());
  const CSaveGame& save = *Loaded();
  EXPECT_FALSE(save.EntryAt(self)->DiskPath());
  for (int row = firstAdded; row <= self; ++row) {
    Bytes now;
    ASSERT_EQ(ReadEntryData(*save.EntryAt(row), save.container.get(), now), DataResult::kOk);
    EXPECT_EQ(now, row == self ? container : added[static_cast<std::size_t>(row - firstAdded)].second)
        << row;
  }
}

// A file chosen in Add File that is gone (or is a folder) by the time it is measured adds
// nothing, replaces nothing and starts no save.
TEST_F(UiFailingDisk, AddFileThatIsGoneChangesNothing) {
  fs::create_directory(dir.path() / "folder");
  const std::vector<std::string> gone = {dir.File("missing.bin"), dir.File("folder")};
  for (const std::string& path : gone) {
    fake.dialogAnswers.push_back(path);
    window.OnCommand(IDM_ADD_FILE, 0);
    EXPECT_FALSE(window.commands().SaveLoaded()) << path;
    EXPECT_FALSE(fake.controlEnabled[IDC_SAVE]) << path;
    EXPECT_TRUE(fake.rows.empty()) << path;
  }
  window.OnDropFiles(gone);
  EXPECT_FALSE(window.commands().SaveLoaded());

  if (!OpenSample(Samples()[0], "source.psu")) return;
  SaveSnapshot snapshot = Snapshot(Current());
  auto rows = fake.rows;
  for (const std::string& path : gone) {
    fake.dialogAnswers.push_back(path);
    window.OnCommand(IDM_ADD_FILE, 0);
  }
  // Named like an entry, and Yes to replacing it.
  fake.dialogAnswers.push_back(dir.File("F700"));
  fake.questionAnswers.push_back(true);
  window.OnCommand(IDM_ADD_FILE, 0);
  window.OnDropFiles(gone);
  EXPECT_TRUE(Snapshot(Current()) == snapshot);
  EXPECT_EQ(fake.rows, rows);
  EXPECT_EQ(SaveInPlace(), "");
}

}  // namespace
