// Where a container writer's bytes go.
//
// Nothing is written under the target's own name until every byte is down: the writer
// fills a temporary file beside the target, flushes it to the disk and then moves it
// over the target in one step. So a failed write never leaves a half-written file under
// the target's name, and a target that is also a data source of the save (the loaded
// container, or a PC file an entry points to) is read whole before it is replaced.
//
// A save over the container it was loaded from goes through the file named with "~0"
// appended; if the final move fails that file keeps the complete save (result -4).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "io/file.h"
#include "model/save_game.h"

// True when writing to target means writing over the save's own container: the same
// text, or another spelling of the same file.
bool IsSameContainer(const std::string& target, const std::string& sourcePath);

// The steps of a write, for tests that stop a process in the middle of one.
enum class OutputStage {
  kWritten,    // a Write has handed its bytes to the file (count: bytes written so far)
  kFlushed,    // the temporary file is complete on the disk
  kClosed,     // next: the temporary file moves over the target
  kReplaced,   // the target holds the new bytes
  kOldRemoved, // in place, after a failed move: the old file is gone, "~0" is complete
};
using OutputProbe = void (*)(OutputStage stage, std::uint64_t written);
// Test-only: a function every OutputFile calls at each step (nullptr, the default: none).
void SetOutputProbe(OutputProbe probe);

// Many new files written in a row (a batch conversion) need not each wait for the disk
// before taking their names: with deferred flushing, Commit still moves a complete file
// into place but leaves the flush to one io::SyncFileSystemOf by the caller, who reports
// success only after it. Process-wide; off by default. In-place saves always flush first.
void SetDeferredFlush(bool deferred);

class OutputFile {
 public:
  OutputFile(const std::string& target, bool inPlace);
  ~OutputFile();  // removes the temporary file unless Commit succeeded or kept it
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool ok() const { return ok_; }
  // Sticky: after a failed write, ok() stays false and later writes do nothing.
  bool Write(std::span<const std::uint8_t> bytes);
  bool Write(const void* p, std::size_t n) {
    return Write(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(p), n));
  }
  bool WriteFill(std::uint8_t value, std::size_t n);
  // Writes over bytes already written, from `offset` (a header whose sizes are known only
  // once the rest is down); the writes after it go on at the end. Sticky like Write. A
  // writer that will do so says so first (WillRewrite): no write-back is then started
  // before Commit, which would send those bytes to the disk twice.
  void WillRewrite() { rewrites_ = true; }
  bool Rewrite(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  std::uint64_t written() const { return written_; }
  // Sends what has been written so far on its way to the disk without waiting for it,
  // so that work done before Commit overlaps the disk's (done by itself every 1 MiB).
  void StartWriteBack();
  // Marks the write as failed when a data source could not be read whole.
  void Fail();
  // Hands what has been written to the system, so that the temporary file can be read
  // back (temporaryPath) before Commit; false after any failure.
  bool FlushForReading();

  // Finishes: 1 written; -5 written in place; -4 in place but the old file could not be
  // replaced (the "~0" file holds the save); 0 when any write failed (nothing replaced).
  // After a failure past opening the temporary file, io::LastFailureReason() gives the
  // system's reason where it gave one.
  LoadResult Commit();

  const std::string& temporaryPath() const { return tempPath_; }

 private:
  std::string target_;
  std::string tempPath_;
  bool inPlace_;
  io::File file_;
  bool ok_ = false;
  bool created_ = false;  // the temporary file was made by this writer
  bool keepTemp_ = false;
  std::uint64_t written_ = 0;
  std::uint64_t writeBackMark_ = 0;  // written_ when write-back was last started
  bool rewrites_ = false;
  static constexpr std::uint64_t kWriteBackStep = std::uint64_t{1} << 20;
};
