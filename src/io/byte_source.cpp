#include "io/byte_source.h"

#include "io/file_source.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace io {

namespace {

class MemoryBytes final : public ByteSource {
 public:
  MemoryBytes(std::shared_ptr<const std::vector<std::uint8_t>> bytes, std::string name)
      : ByteSource(std::move(name), bytes->size()), bytes_(std::move(bytes)) {}

  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    if (offset > size() || out.size() > size() - offset) return false;
    if (!out.empty()) std::memcpy(out.data(), bytes_->data() + offset, out.size());
    return true;
  }
  const std::uint8_t* data() const override { return bytes_->data(); }

 private:
  std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
};

}  // namespace

std::string ByteSource::path() const { return {}; }

FileSource::FileSource(std::string path, File file, FileStamp stamp, Access access)
    : ByteSource(path, stamp.size), path_(std::move(path)), stamp_(stamp), file_(std::move(file)), access_(access) {}

std::string FileSource::path() const {
  std::shared_lock lock(mutex_);
  return path_;
}

bool FileSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > size() || out.size() > size() - offset) return false;
  if (out.empty()) return true;
  bool read;
  {
    std::shared_lock lock(mutex_);
    read = (file_ || Reopen(lock)) && file_.ReadExactAt(offset, out.data(), out.size());
  }
  if (transient_) Release();
  return read;
}

void FileSource::ReadManyAt(std::span<File::ReadAt> reads) const {
  for (File::ReadAt& r : reads) r.done = false;
  {
    std::shared_lock lock(mutex_);
    if (!file_ && !Reopen(lock)) return;
    file_.ReadManyAt(reads);
  }
  if (transient_) Release();
  // A read past the end of the version opened is no read of it.
  for (File::ReadAt& r : reads)
    if (r.offset > size() || r.n > size() - r.offset) r.done = false;
}

void FileSource::LetGoAfterEachRead() const {
  transient_ = true;
  Release();
}

void FileSource::Release() const {
  std::unique_lock lock(mutex_);
  if (file_) file_.Close();
  file_ = File();
}

bool FileSource::Hold() const {
  std::shared_lock lock(mutex_);
  return file_ || Reopen(lock);
}

void FileSource::Advise(Access access) const {
  std::unique_lock lock(mutex_);
  if (access == access_) return;
  access_ = access;
  if (!file_ || file_.Advise(access)) return;
  // Where only an open can say it, the file is opened again, when it is still the version
  // read; otherwise the one open goes on as it was.
  File reopened = File::OpenRead(path_, access);
  if (reopened && reopened.Stamp() == stamp_) file_ = std::move(reopened);
}

bool FileSource::Current() const { return StampOf(path()) == stamp_; }

void FileSource::Renamed(std::string path) {
  std::unique_lock lock(mutex_);
  path_ = std::move(path);
}

bool FileSource::Reopen(std::shared_lock<std::shared_mutex>& lock) const {
  lock.unlock();
  {
    std::unique_lock exclusive(mutex_);
    if (!file_) {
      // The file opened is the one judged: a file put in the path's place between a look
      // at the path and the opening is never read.
      File reopened = File::OpenRead(path_, access_);
      if (reopened && reopened.Stamp() == stamp_) file_ = std::move(reopened);
    }
  }
  lock.lock();
  return static_cast<bool>(file_);
}

void ByteSource::ReadManyAt(std::span<File::ReadAt> reads) const {
  for (File::ReadAt& r : reads) r.done = ReadAt(r.offset, std::span(static_cast<std::uint8_t*>(r.out), r.n));
}

SourcePtr OpenSource(const std::string& path, Access access) {
  File file = File::OpenRead(path, access);
  if (!file) return nullptr;
  const std::optional<FileStamp> stamp = file.Stamp();
  if (!stamp) return nullptr;
  return std::make_shared<FileSource>(path, std::move(file), *stamp, access);
}

SourcePtr MemorySource(std::vector<std::uint8_t> bytes, std::string name) {
  return MemorySource(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)), std::move(name));
}

SourcePtr MemorySource(std::shared_ptr<const std::vector<std::uint8_t>> bytes, std::string name) {
  return std::make_shared<MemoryBytes>(std::move(bytes), std::move(name));
}

bool SourceReader::ReadExact(void* out, std::size_t n) {
  if (n > left() || !source_.ReadAt(position_, std::span(static_cast<std::uint8_t*>(out), n))) return false;
  position_ += n;
  return true;
}

std::size_t SourceReader::Read(void* out, std::size_t n) {
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, left()));
  return ReadExact(out, n) ? n : 0;
}

std::optional<std::vector<std::uint8_t>> ReadAll(const ByteSource& source, std::uint64_t cap) {
  if (source.size() > cap) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(source.size()));
  if (!source.ReadAt(0, bytes)) return std::nullopt;
  return bytes;
}

}  // namespace io
