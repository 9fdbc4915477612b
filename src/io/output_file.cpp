#include "io/output_file.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "io/file_source.h"
#include "io/folder.h"

namespace io {

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

bool ByteSink::Write(std::span<const std::uint8_t> bytes) {
  if (!ok_) return false;
  if (!Put(bytes)) return ok_ = false;
  written_ += bytes.size();
  return true;
}

bool ByteSink::WriteFill(std::uint8_t value, std::size_t n) {
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

bool ByteSink::Rewrite(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (!ok_ || offset + bytes.size() > written_) return ok_ = false;
  if (!PutAt(offset, bytes)) ok_ = false;
  return ok_;
}

void ByteSink::Fail() {
  if (ok_) SetFailureReason("the save's data could not be read whole");
  ok_ = false;
}

OutputFile::OutputFile(const std::string& target, bool inPlace)
    : target_(ResolveLinks(target)),
      tempPath_(inPlace ? target_ + "~0" : UniqueTemporaryName(target_)),
      inPlace_(inPlace) {
  // A device, a pipe or a socket under the target's name is never replaced by a file
  // (renaming over /dev/full would swap the device for a regular file). A folder there
  // needs no check: the final move fails on it.
  if (KindOf(target_) == PathKind::kOther) return;
  file_ = File::OpenWrite(tempPath_);
  ok_ = file_.ok();
  // A target that can't be opened is reported as that alone; from here on, the system's
  // reason for a failure (a full disk, a short write) is kept for the caller.
  ClearFailureReason();
  created_ = ok_;
}

OutputFile::~OutputFile() {
  if (file_.ok()) file_.Close();
  // Only a file this writer made goes: an older "~0" file it could not open stays.
  if (created_ && !keepTemp_) RemoveFile(tempPath_);
}

bool OutputFile::Put(std::span<const std::uint8_t> bytes) {
  if (!file_.Write(bytes.data(), bytes.size())) return false;
  // Large outputs go to the disk while the rest is still being made, so that the flush
  // in Commit waits only for the tail.
  if (written_ + bytes.size() - writeBackMark_ >= kWriteBackStep && !rewrites_) {
    file_.StartWriteBack();
    writeBackMark_ = written_ + bytes.size();
  }
  Step(OutputStage::kWritten, written_ + bytes.size());
  return true;
}

bool OutputFile::PutAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  return file_.Seek(offset) && file_.Write(bytes.data(), bytes.size()) && file_.SeekEnd();
}

void OutputFile::StartWriteBack() {
  if (!ok_ || written_ == writeBackMark_) return;
  file_.StartWriteBack();
  writeBackMark_ = written_;
}

SourcePtr OutputFile::WrittenBytes() {
  if (ok_ && !file_.Flush(false)) ok_ = false;
  if (!ok_) return nullptr;
  File file = File::OpenRead(tempPath_);
  const std::optional<FileStamp> stamp = file ? file.Stamp() : std::nullopt;
  if (!stamp) return nullptr;
  writtenBytes_ = std::make_shared<FileSource>(tempPath_, std::move(file), *stamp, Access::kInOrder);
  return writtenBytes_;
}

Committed OutputFile::Commit() {
  if (!ok_) return Committed::kFailed;
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
    return Committed::kFailed;
  }
  Step(OutputStage::kClosed, written_);
#ifdef _WIN32
  // A file open without leave to delete it can't be renamed over, nor renamed itself.
  for (const SourcePtr& source : release_) source->Release();
  if (writtenBytes_) writtenBytes_->Release();
#endif
  // The new file takes the place of the old one with its permissions (a card kept
  // read-only for others stays so).
  if (Exists(target_)) CopyPermissions(target_, tempPath_);
  if (RenameReplace(tempPath_, target_)) {
    Step(OutputStage::kReplaced, written_);
    if (durable) SyncDirectoryOf(target_);
    keepTemp_ = true;  // it has become the target
    if (writtenBytes_) writtenBytes_->Renamed(target_);
    return inPlace_ ? Committed::kWrittenInPlace : Committed::kWritten;
  }
  if (!inPlace_) return Committed::kFailed;
  // The complete save is in the "~0" file from here on, whatever happens.
  keepTemp_ = true;
  if (Exists(target_) && !RemoveFile(target_)) return Committed::kReplaceFailed;
  Step(OutputStage::kOldRemoved, written_);
  if (!RenameReplace(tempPath_, target_)) return Committed::kReplaceFailed;
  Step(OutputStage::kReplaced, written_);
  SyncDirectoryOf(target_);
  return Committed::kWrittenInPlace;
}

MemorySink::MemorySink(std::string name)
    : name_(std::move(name)), bytes_(std::make_shared<std::vector<std::uint8_t>>()) {
  ok_ = true;
}

bool MemorySink::Put(std::span<const std::uint8_t> bytes) {
  try {
    bytes_->insert(bytes_->end(), bytes.begin(), bytes.end());
  } catch (const std::bad_alloc&) {
    SetFailureReason("not enough memory for the bytes written");
    return false;
  }
  return true;
}

bool MemorySink::PutAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  std::memcpy(bytes_->data() + offset, bytes.data(), bytes.size());
  return true;
}

SourcePtr MemorySink::WrittenBytes() { return ok_ ? MemorySource(bytes_, name_) : nullptr; }

Committed MemorySink::Commit() {
  if (!ok_) return Committed::kFailed;
  committed_ = true;
  return Committed::kWritten;
}

}  // namespace io
