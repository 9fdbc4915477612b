// Where a writer's bytes go: a byte sink. Every container, card, icon and SD card file the
// program writes goes to one, so that the same writer fills a file on disk or a buffer in
// memory (which a browser offers as a download).
//
// A file is never written under its own name until every byte is down: the writer fills
// a temporary file beside the target, flushes it to the disk and then moves it over the
// target in one step. So a failed write never leaves a half-written file under the
// target's name, and a target that is also a data source of the save (the loaded
// container, or a PC file an entry points to) is read whole before it is replaced.
//
// A save over the container it was loaded from goes through the file named with "~0"
// appended; if the final move fails that file keeps the complete save (kReplaceFailed).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "io/byte_source.h"
#include "io/file.h"

namespace io {

// How a write ended.
enum class Committed {
  kWritten,         // the target holds the new bytes
  kWrittenInPlace,  // ... written over the file it was read from, through the "~0" file
  kReplaceFailed,   // in place, but the old file could not be replaced: "~0" holds the bytes
  kFailed,          // a write failed, or a source could not be read whole: nothing replaced
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;

  bool ok() const { return ok_; }
  // Sticky: after a failed write, ok() stays false and later writes do nothing.
  bool Write(std::span<const std::uint8_t> bytes);
  bool Write(const void* p, std::size_t n) {
    return Write(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(p), n));
  }
  bool WriteFill(std::uint8_t value, std::size_t n);
  // Writes over bytes already written, from `offset` (a header whose sizes are known only
  // once the rest is down); the writes after it go on at the end. Sticky like Write. A
  // writer that will do so says so first (WillRewrite): a file then starts no write-back
  // before Commit, which would send those bytes to the disk twice.
  void WillRewrite() { rewrites_ = true; }
  bool Rewrite(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  std::uint64_t written() const { return written_; }
  // Sends what has been written so far on its way to the disk without waiting for it
  // (a file; done by itself every 1 MiB), so that work before Commit overlaps the disk's.
  virtual void StartWriteBack() {}
  // Marks the write as failed when a data source could not be read whole.
  void Fail();
  // What has been written so far, to be read back before Commit (a card is checked so
  // before it replaces the old one); null after a failure.
  virtual SourcePtr WrittenBytes() = 0;
  // Finishes the write. After a failure past opening a file, io::LastFailureReason() gives
  // the system's reason where it gave one.
  virtual Committed Commit() = 0;

 protected:
  ByteSink() = default;
  virtual bool Put(std::span<const std::uint8_t> bytes) = 0;
  virtual bool PutAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;

  bool ok_ = false;
  bool rewrites_ = false;
  std::uint64_t written_ = 0;
};

// The steps of a file's write, for tests that stop a process in the middle of one.
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

// A file, written through a temporary file beside it. A target that is a symbolic link
// is written through: the temporary file goes beside the file the link names, and the
// rename replaces that file, not the link.
class OutputFile final : public ByteSink {
 public:
  OutputFile(const std::string& target, bool inPlace);
  ~OutputFile() override;  // removes the temporary file unless Commit succeeded or kept it

  void StartWriteBack() override;
  // The temporary file, opened for reading (after the bytes written are handed to the
  // system). Once the file takes the target's place, it reads as the target.
  SourcePtr WrittenBytes() override;
  Committed Commit() override;
  // A source reading the file being replaced, let go before the replacing rename where an
  // open file can't be replaced.
  void ReleaseBeforeReplacing(SourcePtr source) { release_.push_back(std::move(source)); }

  const std::string& temporaryPath() const { return tempPath_; }

 private:
  bool Put(std::span<const std::uint8_t> bytes) override;
  bool PutAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;

  std::string target_;
  std::string tempPath_;
  bool inPlace_;
  File file_;
  bool created_ = false;  // the temporary file was made by this writer
  bool keepTemp_ = false;
  std::uint64_t writeBackMark_ = 0;  // written_ when write-back was last started
  std::vector<SourcePtr> release_;
  std::shared_ptr<class FileSource> writtenBytes_;
  static constexpr std::uint64_t kWriteBackStep = std::uint64_t{1} << 20;
};

// Bytes in memory, named as the file they stand for.
class MemorySink final : public ByteSink {
 public:
  explicit MemorySink(std::string name = {});

  SourcePtr WrittenBytes() override;
  Committed Commit() override;
  // The bytes, once committed; null before, or after a failure.
  std::shared_ptr<const std::vector<std::uint8_t>> bytes() const { return committed_ ? bytes_ : nullptr; }
  const std::string& name() const { return name_; }

 private:
  bool Put(std::span<const std::uint8_t> bytes) override;
  bool PutAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;

  std::string name_;
  std::shared_ptr<std::vector<std::uint8_t>> bytes_;
  bool committed_ = false;
};

}  // namespace io
