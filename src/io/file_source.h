// The byte source of a file (io only: the rest of the program opens one with OpenSource).
#pragma once

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "io/byte_source.h"

namespace io {

class FileSource final : public ByteSource {
 public:
  FileSource(std::string path, File file, FileStamp stamp, Access access);

  std::string path() const override;
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;
  void ReadManyAt(std::span<File::ReadAt> reads) const override;
  void Release() const override;
  bool Hold() const override;
  void LetGoAfterEachRead() const override;
  bool Current() const override;
  void Advise(Access access) const override;
  std::optional<FileStamp> stamp() const override { return stamp_; }

  // The file now has this name (a temporary file renamed into place): it is opened again
  // under it.
  void Renamed(std::string path);

 private:
  // Opens the file again, with `lock` given up meanwhile and taken again shared; false
  // when the file at the path is no longer the version first opened.
  bool Reopen(std::shared_lock<std::shared_mutex>& lock) const;

  std::string path_;
  FileStamp stamp_;
  mutable std::shared_mutex mutex_;  // shared while reading, alone to open, close or rename
  mutable File file_;
  mutable Access access_;
  mutable std::atomic<bool> transient_{false};  // let go after each read
};

}  // namespace io
