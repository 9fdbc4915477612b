// Writing when the disk fails: a full disk, a folder that can't be written, a target that
// is no regular file, and a source that disappears or shrinks between Load and the write.
// Each write must give 0, leave the source container as it was, and leave nothing under
// the target's name (an existing target keeps its old bytes) and no temporary file.
//
// A full disk and a read-only folder are small tmpfs mounts that the test makes when it
// runs as root on Linux; elsewhere those cases are skipped (or, for the read-only folder,
// made with permissions when they have an effect).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "formats/psu/psu.h"
#include "formats/registry.h"
#include "io/file.h"
#include "support/cli_runner.h"
#include "support/exercise.h"
#include "support/psu_builder.h"
#include "support/test_util.h"

#ifdef __linux__
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using testutil::Bytes;

namespace {

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(dir)) names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A save of three files, about 200 KiB: more than the small disk holds.
Bytes BigPsu() {
  testutil::PsuImage image;
  image.files.push_back({"icon.sys", testutil::MakeIconSys("DISK TEST")});
  image.files.push_back({"BIG.DAT", testutil::MakeBytes(200 * 1024, 7)});
  image.files.push_back({"SMALL.DAT", testutil::MakeBytes(100, 8)});
  return image.Build();
}

Bytes SmallPsu() {
  testutil::PsuImage image;
  image.files.push_back({"A.DAT", testutil::MakeBytes(3000, 9)});
  return image.Build();
}

// Every way the program writes a save to `target`: the save's own Save, and conversion to
// each writable kind.
std::vector<std::pair<std::string, LoadResult>> WriteEveryWay(CSaveGame& save, const std::string& target) {
  std::vector<std::pair<std::string, LoadResult>> results;
  results.push_back({"Save", save.Save(target)});
  for (int kind : testutil::WritableKinds()) {
    std::unique_ptr<CSaveGame> writer = CreateForKind(kind);
    results.push_back({"converted to " + std::string(KindName(kind)),
                       writer->WriteConvertedFrom(save, target)});
  }
  return results;
}

#ifdef __linux__
// A tmpfs mounted on a fresh folder for the life of the object, when the process may mount.
class SmallDisk {
 public:
  explicit SmallDisk(const char* options) {
    dir_ = std::make_unique<testutil::TempDir>();
    mounted_ = ::mount("moravelt-test", dir_->path().c_str(), "tmpfs", 0, options) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_->path().c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  bool MakeReadOnly() {
    return ::mount(nullptr, dir_->path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=64k") == 0;
  }
  const fs::path& path() const { return dir_->path(); }
  std::string File(const std::string& name) const { return dir_->File(name); }

 private:
  std::unique_ptr<testutil::TempDir> dir_;
  bool mounted_ = false;
};
#endif

class FailingDisk : public ::testing::Test {
 protected:
  void LoadSource(const Bytes& bytes) {
    original_ = bytes;
    testutil::WriteFile(sourcePath_, bytes);
    ASSERT_EQ(save_.Load(sourcePath_), LoadResult::kOk);
  }
  void ExpectSourceUntouched() { EXPECT_EQ(testutil::ReadFile(sourcePath_), original_); }

  testutil::TempDir home_;
  std::string sourcePath_ = home_.File("source.psu");
  Bytes original_;
  CPsu save_;
};

#ifdef __linux__

TEST_F(FailingDisk, FullDiskLeavesNoFileAndKeepsAnExistingTarget) {
  SmallDisk disk("size=64k");
  if (!disk.mounted()) GTEST_SKIP() << "can't mount a small tmpfs here (needs root)";
  LoadSource(BigPsu());

  for (auto [how, result] : WriteEveryWay(save_, disk.File("out.psu"))) {
    EXPECT_EQ(result, LoadResult::kOpenFailed) << how;
    EXPECT_EQ(io::LastFailureReason(), "No space left on device") << how;
    EXPECT_TRUE(Listing(disk.path()).empty()) << how;
  }
  // The command line names the system's reason after the program's own words.
  testutil::CliRun run = testutil::RunCli({"convert", sourcePath_, disk.File("out.xps")});
  EXPECT_EQ(run.err, "Error opening file: No space left on device\n");
  EXPECT_EQ(run.code, 1);
  // An older file under the target's name keeps its bytes.
  Bytes older = testutil::MakeBytes(5000, 3);
  testutil::WriteFile(disk.File("out.psu"), older);
  for (auto [how, result] : WriteEveryWay(save_, disk.File("out.psu"))) {
    EXPECT_EQ(result, LoadResult::kOpenFailed) << how;
    EXPECT_EQ(Listing(disk.path()), std::vector<std::string>{"out.psu"}) << how;
    EXPECT_EQ(testutil::ReadFile(disk.File("out.psu")), older) << how;
  }
  ExpectSourceUntouched();
}

TEST_F(FailingDisk, FullDiskInPlaceKeepsTheSource) {
  SmallDisk disk("size=64k");
  if (!disk.mounted()) GTEST_SKIP() << "can't mount a small tmpfs here (needs root)";
  // A 40 KiB save on a 64 KiB disk: its "~0" copy can't be written whole.
  testutil::PsuImage image;
  image.files.push_back({"DATA", testutil::MakeBytes(40 * 1024, 4)});
  sourcePath_ = disk.File("save.psu");
  LoadSource(image.Build());

  EXPECT_EQ(save_.Save(sourcePath_), LoadResult::kOpenFailed);
  EXPECT_EQ(Listing(disk.path()), std::vector<std::string>{"save.psu"});
  ExpectSourceUntouched();
}

TEST_F(FailingDisk, ReadOnlyFolderTakesNothing) {
  SmallDisk disk("size=64k");
  if (!disk.mounted()) GTEST_SKIP() << "can't mount a small tmpfs here (needs root)";
  Bytes older = testutil::MakeBytes(100, 5);
  testutil::WriteFile(disk.File("out.psu"), older);
  ASSERT_TRUE(disk.MakeReadOnly());
  LoadSource(SmallPsu());

  for (std::string name : {"out.psu", "new.psu"}) {
    for (auto [how, result] : WriteEveryWay(save_, disk.File(name))) {
      EXPECT_EQ(result, LoadResult::kOpenFailed) << how << " " << name;
      EXPECT_EQ(Listing(disk.path()), std::vector<std::string>{"out.psu"}) << how;
    }
  }
  EXPECT_EQ(testutil::ReadFile(disk.File("out.psu")), older);
  ExpectSourceUntouched();
}

TEST_F(FailingDisk, ReadOnlySourceFolderKeepsTheSourceInPlace) {
  SmallDisk disk("size=64k");
  if (!disk.mounted()) GTEST_SKIP() << "can't mount a small tmpfs here (needs root)";
  sourcePath_ = disk.File("save.psu");
  testutil::WriteFile(sourcePath_, SmallPsu());
  original_ = SmallPsu();
  ASSERT_TRUE(disk.MakeReadOnly());
  ASSERT_EQ(save_.Load(sourcePath_), LoadResult::kOk);

  EXPECT_EQ(save_.Save(sourcePath_), LoadResult::kOpenFailed);
  EXPECT_EQ(Listing(disk.path()), std::vector<std::string>{"save.psu"});
  ExpectSourceUntouched();
}

// A device or a pipe under the target's name is not a file to replace: as root, renaming
// over /dev/full would have swapped the device node for a regular file.
TEST_F(FailingDisk, TargetThatIsNoRegularFileStaysWhatItIs) {
  LoadSource(SmallPsu());
  std::string fifo = home_.File("pipe.psu");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::string> targets = {fifo};
  std::string device = home_.File("full.psu");
  if (::mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0) targets.push_back(device);
  fs::create_directory(home_.path() / "folder.psu");
  targets.push_back(home_.File("folder.psu"));

  for (const std::string& target : targets) {
    fs::file_type before = fs::symlink_status(target).type();
    for (auto [how, result] : WriteEveryWay(save_, target)) {
      EXPECT_EQ(result, LoadResult::kOpenFailed) << how << " " << target;
      EXPECT_EQ(fs::symlink_status(target).type(), before) << how << " " << target;
    }
  }
  std::vector<std::string> expected = {"folder.psu", "pipe.psu", "source.psu"};
  if (targets.size() == 3) expected.insert(expected.begin() + 1, "full.psu");
  EXPECT_EQ(Listing(home_.path()), expected);
  ExpectSourceUntouched();
}

#endif  // __linux__

// A "~0" name that can't be opened for writing is left as it was: an older "~0" file may
// hold the only complete copy of an earlier save.
TEST_F(FailingDisk, InPlaceSaveLeavesAnUnopenableTemporaryNameAlone) {
  LoadSource(SmallPsu());
  fs::create_directory(sourcePath_ + "~0");
  EXPECT_EQ(save_.Save(sourcePath_), LoadResult::kOpenFailed);
  EXPECT_TRUE(fs::is_directory(sourcePath_ + "~0"));
  ExpectSourceUntouched();
}

// Without mounts: a folder whose permissions forbid writing, when they have an effect.
TEST_F(FailingDisk, FolderWithoutWritePermission) {
  LoadSource(SmallPsu());
  fs::path locked = home_.path() / "locked";
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  bool enforced = !std::ofstream(locked / "probe");
  if (!enforced) {
    fs::remove(locked / "probe");
    GTEST_SKIP() << "folder permissions have no effect for this user";
  }
  for (auto [how, result] : WriteEveryWay(save_, (locked / "out.psu").string())) {
    EXPECT_EQ(result, LoadResult::kOpenFailed) << how;
    EXPECT_TRUE(Listing(locked).empty()) << how;
  }
  ExpectSourceUntouched();
}

TEST_F(FailingDisk, SourceThatDisappearsGivesNoTarget) {
  LoadSource(SmallPsu());
  fs::remove(sourcePath_);
  testutil::TempDir out;
  for (auto [how, result] : WriteEveryWay(save_, out.File("out.psu"))) {
    EXPECT_EQ(result, LoadResult::kOpenFailed) << how;
    EXPECT_TRUE(Listing(out.path()).empty()) << how;
  }
  // In place over a path that is gone: nothing appears under it, nor a "~0" file.
  EXPECT_EQ(save_.Save(sourcePath_), LoadResult::kOpenFailed);
  EXPECT_EQ(Listing(home_.path()), std::vector<std::string>{});
}

TEST_F(FailingDisk, SourceThatShrinksGivesNoTarget) {
  LoadSource(BigPsu());
  // Cut inside the big file's data: its header is still there, its bytes are not.
  Bytes shrunk(original_.begin(), original_.begin() + 4 * 512 + 1000 + 100 * 1024);
  testutil::WriteFile(sourcePath_, shrunk);
  original_ = shrunk;
  testutil::TempDir out;
  for (auto [how, result] : WriteEveryWay(save_, out.File("out.psu"))) {
    EXPECT_EQ(result, LoadResult::kOpenFailed) << how;
    EXPECT_TRUE(Listing(out.path()).empty()) << how;
  }
  EXPECT_EQ(save_.Save(sourcePath_), LoadResult::kOpenFailed);
  EXPECT_EQ(Listing(home_.path()), std::vector<std::string>{"source.psu"});
  ExpectSourceUntouched();
}

TEST_F(FailingDisk, AddedPcFileThatDisappearsOrShrinksGivesNoTarget) {
  LoadSource(SmallPsu());
  testutil::TempDir pc;
  testutil::WriteFile(pc.File("added.bin"), testutil::MakeBytes(5000, 6));
  save_.AddEntryFromDisk(pc.File("added.bin"), "added.bin");
  ASSERT_EQ(save_.FileCount(), 2);
  testutil::TempDir out;

  testutil::WriteFile(pc.File("added.bin"), testutil::MakeBytes(4000, 6));
  for (auto [how, result] : WriteEveryWay(save_, out.File("out.psu"))) {
    EXPECT_EQ(result, LoadResult::kOpenFailed) << "shrunk, " << how;
    EXPECT_TRUE(Listing(out.path()).empty()) << how;
  }
  fs::remove(pc.path() / "added.bin");
  for (auto [how, result] : WriteEveryWay(save_, out.File("out.psu"))) {
    EXPECT_EQ(result, LoadResult::kOpenFailed) << "gone, " << how;
    EXPECT_TRUE(Listing(out.path()).empty()) << how;
  }
  EXPECT_EQ(save_.Save(sourcePath_), LoadResult::kOpenFailed);
  EXPECT_EQ(Listing(home_.path()), std::vector<std::string>{"source.psu"});
  ExpectSourceUntouched();
}

}  // namespace
