#include "formats/output_file.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

bool IsSameContainer(const std::string& target, const std::string& sourcePath) {
  return !sourcePath.empty() && (target == sourcePath || io::SameFile(target, sourcePath));
}

namespace {

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

OutputFile::OutputFile(const std::string& target, bool inPlace)
    : target_(target),
      tempPath_(inPlace ? target + "~0" : UniqueTemporaryName(target)),
      inPlace_(inPlace) {
  file_ = io::File::OpenWrite(tempPath_);
  ok_ = file_.ok();
}

OutputFile::~OutputFile() {
  if (file_.ok()) file_.Close();
  if (!keepTemp_ && !tempPath_.empty()) io::RemoveFile(tempPath_);
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
  if (written_ - writeBackMark_ >= kWriteBackStep) {
    file_.StartWriteBack();
    writeBackMark_ = written_;
  }
  return true;
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
  if (!ok_) return kOpenFailed;
  bool flushed = file_.Flush(/*durable=*/true);
  bool closed = file_.Close();
  if (!flushed || !closed) {
    ok_ = false;
    return kOpenFailed;
  }
  if (io::RenameReplace(tempPath_, target_)) {
    io::SyncDirectoryOf(target_);
    keepTemp_ = true;  // it has become the target
    return inPlace_ ? kSavedInPlace : kLoadOk;
  }
  if (!inPlace_) return kOpenFailed;
  // The complete save is in the "~0" file from here on, whatever happens.
  keepTemp_ = true;
  if (io::Exists(target_) && !io::RemoveFile(target_)) return kReplaceFailed;
  if (!io::RenameReplace(tempPath_, target_)) return kReplaceFailed;
  io::SyncDirectoryOf(target_);
  return kSavedInPlace;
}
