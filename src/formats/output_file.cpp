#include "formats/output_file.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "io/folder.h"

bool IsSameContainer(const std::string& target, const std::string& sourcePath) {
  return !sourcePath.empty() && (target == sourcePath || io::SameFile(target, sourcePath));
}

namespace {

std::atomic<OutputProbe> probe{nullptr};
std::atomic<bool> deferredFlush{false};

void Step(OutputStage stage, std::uint64_t written) {
  if (OutputProbe p = probe.load(std::memory_order_relaxed)) p(stage, written);
}

// A name beside the target that no other writer of this process or another one uses.
std::string UniqueTemporaryName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  static const unsigned salt = std::random_device{}();
  unsigned n = counter.fetch_add(1);
  char suffix[40];
  std::snprintf(suffix, sizeof suffix, ".%08x%04x.part", salt, n & 0xFFFFu);
  return target + suffix;
}

}  // namespace

void SetOutputProbe(OutputProbe p) { probe = p; }

void SetDeferredFlush(bool deferred) { deferredFlush = deferred; }

// A target that is a symbolic link is written through: the temporary file goes beside the
// file the link names, and the rename replaces that file, not the link.
OutputFile::OutputFile(const std::string& target, bool inPlace)
    : target_(io::ResolveLinks(target)),
      tempPath_(inPlace ? target_ + "~0" : UniqueTemporaryName(target_)),
      inPlace_(inPlace) {
  // A device, a pipe or a socket under the target's name is never replaced by a file
  // (renaming over /dev/full would swap the device for a regular file). A folder there
  // needs no check: the final move fails on it. A status that can't be taken (a long
  // path on Windows) decides nothing.
  if (io::KindOf(target_) == io::PathKind::kOther) return;
  file_ = io::File::OpenWrite(tempPath_);
  ok_ = file_.ok();
  // A target that can't be opened is reported as that alone; from here on, the system's
  // reason for a failure (a full disk, a short write) is kept for the caller.
  io::ClearFailureReason();
  created_ = ok_;
}

OutputFile::~OutputFile() {
  if (file_.ok()) file_.Close();
  // Only a file this writer made goes: an older "~0" file it could not open stays.
  if (created_ && !keepTemp_) io::RemoveFile(tempPath_);
}

bool OutputFile::Write(std::span<const std::uint8_t> bytes) {
  if (!ok_) return false;
  if (!file_.Write(bytes.data(), bytes.size())) {
    ok_ = false;
    return false;
  }
  written_ += bytes.size();
  // Large outputs go to the disk while the rest is still being made, so that the flush
  // in Commit waits only for the tail.
  if (written_ - writeBackMark_ >= kWriteBackStep && !rewrites_) StartWriteBack();
  Step(OutputStage::kWritten, written_);
  return true;
}

bool OutputFile::Rewrite(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (!ok_ || offset + bytes.size() > written_) return ok_ = false;
  if (!file_.Seek(offset) || !file_.Write(bytes.data(), bytes.size()) || !file_.SeekEnd()) ok_ = false;
  return ok_;
}

bool OutputFile::FlushForReading() {
  if (ok_ && !file_.Flush(false)) ok_ = false;
  return ok_;
}

void OutputFile::Fail() {
  if (ok_) io::SetFailureReason("the save's data could not be read whole");
  ok_ = false;
}

void OutputFile::StartWriteBack() {
  if (!ok_ || written_ == writeBackMark_) return;
  file_.StartWriteBack();
  writeBackMark_ = written_;
}

bool OutputFile::WriteFill(std::uint8_t value, std::size_t n) {
  static constexpr std::size_t kBlock = 4096;
  std::uint8_t block[kBlock];
  std::memset(block, value, sizeof block);
  while (n > 0 && ok_) {
    std::size_t piece = n < kBlock ? n : kBlock;
    Write(block, piece);
    n -= piece;
  }
  return ok_;
}

LoadResult OutputFile::Commit() {
  if (!ok_) return LoadResult::kOpenFailed;
  // The old file is replaced only by one that is on the disk; a new name may wait for the
  // caller's one flush of the whole file system.
  bool durable = inPlace_ || !deferredFlush.load(std::memory_order_relaxed);
  bool flushed = file_.Flush(durable);
  // Not waited for, but started: the disk writes this file while the caller makes the
  // next ones, so that the one flush at the end waits only for the last few.
  if (flushed && !durable) file_.StartWriteBack();
  if (flushed) Step(OutputStage::kFlushed, written_);
  bool closed = file_.Close();
  if (!flushed || !closed) {
    ok_ = false;
    return LoadResult::kOpenFailed;
  }
  Step(OutputStage::kClosed, written_);
  // The new file takes the place of the old one with its permissions (a card kept
  // read-only for others stays so).
  if (io::Exists(target_)) io::CopyPermissions(target_, tempPath_);
  if (io::RenameReplace(tempPath_, target_)) {
    Step(OutputStage::kReplaced, written_);
    if (durable) io::SyncDirectoryOf(target_);
    keepTemp_ = true;  // it has become the target
    return inPlace_ ? LoadResult::kSavedInPlace : LoadResult::kOk;
  }
  if (!inPlace_) return LoadResult::kOpenFailed;
  // The complete save is in the "~0" file from here on, whatever happens.
  keepTemp_ = true;
  if (io::Exists(target_) && !io::RemoveFile(target_)) return LoadResult::kReplaceFailed;
  Step(OutputStage::kOldRemoved, written_);
  if (!io::RenameReplace(tempPath_, target_)) return LoadResult::kReplaceFailed;
  Step(OutputStage::kReplaced, written_);
  io::SyncDirectoryOf(target_);
  return LoadResult::kSavedInPlace;
}
