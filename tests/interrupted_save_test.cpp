// In-place saves killed at every step. A child process loads a save of several MiB, edits
// it and saves it over its own file; the parent kills it with SIGKILL while it writes the
// "~0" file or replaces the original, at chosen points (the child stops itself there
// through the OutputFile probe) and after random delays. After every kill one complete
// save must be on the disk: the original path holds the old save or the new one, or it
// is gone and the "~0" file holds the new save whole.
#include <gtest/gtest.h>

#ifdef __linux__

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "card/card.h"
#include "io/output_file.h"
#include "formats/psu/psu.h"
#include "support/card_builder.h"
#include "support/psu_builder.h"
#include "support/test_util.h"

namespace {

using io::OutputStage;
using io::SetOutputProbe;
using testutil::Bytes;

// Where the child stops itself: at a step, once at least `bytes` have been written.
OutputStage stopStage;
std::uint64_t stopBytes;

void StopHere(OutputStage stage, std::uint64_t written) {
  if (stage == stopStage && written >= stopBytes) ::raise(SIGKILL);
}

// The edit the child saves: a new folder name and a new time on one file.
void Edit(CPsu& save) {
  save.SetName(-1, "BESLES-99999EDITED");
  save.SetModified(1, testutil::MakeTime(2024, 2, 29, 23, 59, 58));
}

class InterruptedSave : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::PsuImage image;
    image.files.push_back({"icon.sys", testutil::MakeIconSys("INTERRUPTED")});
    image.files.push_back({"BIG0.DAT", testutil::MakeBytes(2 * 1024 * 1024 + 5, 1)});
    image.files.push_back({"BIG1.DAT", testutil::MakeBytes(1536 * 1024, 2)});
    image.files.push_back({"TAIL.DAT", testutil::MakeBytes(700 * 1024 + 3, 3)});
    oldSave_ = image.Build();
    testutil::WriteFile(path_, oldSave_);

    // The new save, as a save to another path writes it.
    CPsu save;
    ASSERT_EQ(save.Load(path_), LoadResult::kOk);
    Edit(save);
    ASSERT_EQ(save.Save(dir_.File("expected.psu")), LoadResult::kOk);
    newSave_ = testutil::ReadFile(dir_.File("expected.psu"));
    std::filesystem::remove(dir_.path() / "expected.psu");
    ASSERT_NE(newSave_, oldSave_);
  }

  // Runs load, edit and in-place save in a child; `kill` decides how it ends. Returns the
  // child's wait status.
  template <class Killer>
  int RunChild(Killer kill) {
    pid_t pid = ::fork();
    if (pid == 0) {
      CPsu save;
      if (save.Load(path_) != LoadResult::kOk) ::_exit(2);
      Edit(save);
      ::_exit(save.Save(path_) == LoadResult::kSavedInPlace ? 0 : 3);
    }
    kill(pid);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
  }

  // The one rule: a complete save survives. Returns what the disk holds, for the caller's
  // own expectations.
  enum class State { kOld, kNew, kOnlyTemporary };
  State CheckState(const std::string& where) {
    bool original = std::filesystem::exists(path_);
    bool temporary = std::filesystem::exists(path_ + "~0");
    for (const auto& item : std::filesystem::directory_iterator(dir_.path())) {
      std::string name = item.path().filename().string();
      EXPECT_TRUE(name == "save.psu" || name == "save.psu~0") << where << ": stray " << name;
    }
    if (original) {
      Bytes now = testutil::ReadFile(path_);
      if (now == oldSave_) return State::kOld;
      EXPECT_EQ(now, newSave_) << where << ": the original holds neither the old nor the new save";
      return State::kNew;
    }
    EXPECT_TRUE(temporary) << where << ": no save left at all";
    if (temporary) {
      EXPECT_EQ(testutil::ReadFile(path_ + "~0"), newSave_) << where << ": \"~0\" is incomplete";
    }
    return State::kOnlyTemporary;
  }

  // Puts the old save back and clears the "~0" file for the next run.
  void Reset() {
    testutil::WriteFile(path_, oldSave_);
    std::filesystem::remove(path_ + "~0");
  }

  testutil::TempDir dir_{testutil::FastTempBase()};
  std::string path_ = dir_.File("save.psu");
  Bytes oldSave_;
  Bytes newSave_;
};

TEST_F(InterruptedSave, KilledAtEveryStepLeavesACompleteSave) {
  SetOutputProbe(StopHere);
  struct Point {
    OutputStage stage;
    std::uint64_t bytes;
    bool replaced;  // the original already holds the new save at that point
  };
  std::vector<Point> points;
  // During the write of the "~0" file: at its first bytes, then every 384 KiB, and at its end.
  for (std::uint64_t at = 0; at < newSave_.size(); at += 384 * 1024) points.push_back({OutputStage::kWritten, at, false});
  points.push_back({OutputStage::kWritten, newSave_.size(), false});
  points.push_back({OutputStage::kFlushed, 0, false});
  points.push_back({OutputStage::kClosed, 0, false});
  points.push_back({OutputStage::kReplaced, 0, true});

  for (const Point& p : points) {
    stopStage = p.stage;
    stopBytes = p.bytes;
    std::string where = "stage " + std::to_string(static_cast<int>(p.stage)) + " at " +
                        std::to_string(p.bytes);
    int status = RunChild([](pid_t) {});
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << where << ": the child did not stop there";
    State state = CheckState(where);
    EXPECT_EQ(state, p.replaced ? State::kNew : State::kOld) << where;
    Reset();
  }
  SetOutputProbe(nullptr);

  // Left alone, the child finishes with the new save in place and no "~0" file.
  int status = RunChild([](pid_t) {});
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(CheckState("finished"), State::kNew);
  EXPECT_FALSE(std::filesystem::exists(path_ + "~0"));
}

TEST_F(InterruptedSave, KilledAfterRandomDelaysLeavesACompleteSave) {
  // How long one whole run takes here, to spread the kills over it.
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WIFEXITED(RunChild([](pid_t) {})));
  auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  Reset();

  std::mt19937 rng(7);
  int old = 0, replaced = 0;
  for (int i = 0; i < 20; ++i) {
    auto delay = std::chrono::microseconds(rng() % static_cast<std::uint32_t>(span.count() + 1));
    RunChild([delay](pid_t pid) {
      std::this_thread::sleep_for(delay);
      ::kill(pid, SIGKILL);
    });
    State state = CheckState("kill after " + std::to_string(delay.count()) + " us");
    (state == State::kOld ? old : replaced)++;
    Reset();
  }
  // Not a check of timing, only a record of what the kills met.
  std::printf("kills before the replace: %d, after: %d\n", old, replaced);
}

// A card import killed at every step of the card's rewrite: the card's path holds the old
// card or the new one, whole, after every kill. Only the rename makes the new one visible.
TEST(InterruptedCardImport, KilledAtEveryStepLeavesTheOldCardOrTheNewOne) {
  testutil::TempDir dir{testutil::FastTempBase()};
  const std::string cardPath = testutil::CardFile::Format(dir.File("card.ps2"), true).path();
  testutil::PsuImage image;
  image.files.push_back({"icon.sys", testutil::MakeIconSys("KILLED")});
  image.files.push_back({"DATA.BIN", testutil::MakeBytes(600 * 1024 + 7, 9)});
  const std::string savePath = dir.File("save.psu");
  testutil::WriteFile(savePath, image.Build());
  card::ImportOptions options;
  options.now = testutil::MakeTime(2024, 5, 6, 7, 8, 9);
  auto import = [&](const std::string& path) {
    CPsu save;
    auto c = card::OpenCard(path).card;
    return c && save.Load(savePath) == LoadResult::kOk && c->Import(save, options).result == card::ImportResult::kImported;
  };
  const Bytes oldCard = testutil::ReadFile(cardPath);
  testutil::WriteFile(dir.File("expected.ps2"), oldCard);
  ASSERT_TRUE(import(dir.File("expected.ps2")));
  const Bytes newCard = testutil::ReadFile(dir.File("expected.ps2"));
  ASSERT_NE(newCard, oldCard);

  auto run = [&] {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(import(cardPath) ? 0 : 3);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
  };
  struct Point {
    OutputStage stage;
    std::uint64_t bytes;
    bool replaced;
  };
  std::vector<Point> points;
  for (std::uint64_t at = 0; at < oldCard.size(); at += 2 * 1024 * 1024) points.push_back({OutputStage::kWritten, at, false});
  points.push_back({OutputStage::kWritten, oldCard.size(), false});
  points.push_back({OutputStage::kFlushed, 0, false});
  points.push_back({OutputStage::kClosed, 0, false});
  points.push_back({OutputStage::kReplaced, 0, true});
  SetOutputProbe(StopHere);
  for (const Point& p : points) {
    stopStage = p.stage;
    stopBytes = p.bytes;
    const std::string where = "stage " + std::to_string(static_cast<int>(p.stage)) + " at " + std::to_string(p.bytes);
    const int status = run();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << where << ": the child did not stop there";
    EXPECT_TRUE(testutil::ReadFile(cardPath) == (p.replaced ? newCard : oldCard)) << where;
    // What a kill leaves beside the card is its unfinished copy, under a name of its own.
    for (const auto& item : std::filesystem::directory_iterator(dir.path())) {
      const std::string name = item.path().filename().string();
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) std::filesystem::remove(item.path());
    }
    testutil::WriteFile(cardPath, oldCard);
  }
  SetOutputProbe(nullptr);
  const int status = run();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(testutil::ReadFile(cardPath) == newCard);
}

}  // namespace

#endif  // __linux__
