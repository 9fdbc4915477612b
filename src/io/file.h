// Byte-stream file access for the model and the formats.
//
// Paths are UTF-8 text everywhere in the program. On Windows they are widened at
// this boundary (and given the \\?\ prefix when long), so that non-ASCII names and
// paths longer than 260 characters work; elsewhere they go to the C library as they
// are. Nothing above this layer includes a platform header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace io {

// How a file is about to be read: from its start on, where the system reading ahead of
// each read saves waiting, or at scattered places (a card's structure and the few files a
// listing needs), where reading ahead only reads what nothing asked for.
enum class Access { kInOrder, kScattered };

// What a write to a file changes: its size and its last write time, to the file system's
// resolution. A file whose stamp is the same has most likely not been written.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t written = 0;  // in the file system's own units
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// A move-only owner of one open file. Every operation reports failure through its
// result; a File that failed to open is simply !ok().
class File {
 public:
  File() = default;
  ~File() noexcept;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  static File OpenRead(const std::string& path, Access access = Access::kInOrder);
  // Creates the file, or truncates an existing one.
  static File OpenWrite(const std::string& path);

  bool ok() const { return f_ != nullptr; }
  explicit operator bool() const { return ok(); }

  // Reads up to n bytes; returns how many arrived (fewer at the end of the file or on an error).
  std::size_t Read(void* buffer, std::size_t n);
  // True when exactly n bytes arrived.
  bool ReadExact(void* buffer, std::size_t n) { return Read(buffer, n) == n; }
  // Exactly n bytes from offset, in one call to the system where it can, leaving the
  // position where it was on POSIX systems (not on Windows): not to be mixed with Read.
  bool ReadExactAt(std::uint64_t offset, void* buffer, std::size_t n);
  // One of several reads asked for at once: n bytes from offset into `out`; `done` once
  // they all arrived.
  struct ReadAt {
    std::uint64_t offset = 0;
    void* out = nullptr;
    std::size_t n = 0;
    bool done = false;
  };
  // Reads each of `reads` whole, as ReadExactAt does, and sets its `done`. Where the system
  // takes several reads in one call (io_uring on Linux) they go to it together: on a
  // virtual machine a call to the system can cost as much as copying 16 KiB. Elsewhere,
  // or when the system refuses, they are read one by one.
  void ReadManyAt(std::span<ReadAt> reads);
  // Tells the system how the file will be read from now on; false where it can only be
  // told when the file is opened (Windows: open it again).
  bool Advise(Access access);
  bool Write(const void* buffer, std::size_t n);
  bool Seek(std::uint64_t offset);
  bool SeekEnd();
  std::optional<std::uint64_t> Tell();
  // Length of the file, leaving the position where it was.
  std::optional<std::uint64_t> Length();
  // The stamp (size and last write time) of the file this one opened, whatever its path
  // names now; for a file opened for reading, whose size buffered writes can't change.
  std::optional<FileStamp> Stamp() const;
  bool AtEnd() const;
  bool HasError() const;
  // Pushes buffered bytes to the operating system and, when durable, to the disk.
  bool Flush(bool durable);
  // Asks the system to start writing what has been written so far to the disk, without
  // waiting for it (where the platform offers that; elsewhere nothing). A later durable
  // Flush then has less left to wait for.
  void StartWriteBack();
  // Closes the file; false when buffered bytes could not be written.
  bool Close();

 private:
  explicit File(std::FILE* f) : f_(f) {}
  std::FILE* f_ = nullptr;
};

// The bytes asked of files by every read so far (Read, ReadExactAt and ReadManyAt, in
// every thread): what a command reads, measured by a test or a benchmark as the difference
// across it. Bytes in memory are not counted.
std::uint64_t BytesAsked();

// Test-only: a function every open of a file for reading calls with its path (nullptr, the
// default: none), so that a test can count how often a command opens its file.
using OpenProbe = void (*)(const std::string& path);
void SetOpenProbe(OpenProbe probe);

// `name` inside the folder `dir`.
std::string JoinPath(const std::string& dir, std::string_view name);

// The current length of an existing file, opened for reading only; none when it can't be opened.
std::optional<std::uint64_t> FileSize(const std::string& path);
bool Exists(const std::string& path);
bool RemoveFile(const std::string& path);
// Moves `from` to `to`, replacing an existing `to` in one step where the platform offers it.
bool RenameReplace(const std::string& from, const std::string& to);
// True when both paths name one existing file, however they are spelled.
bool SameFile(const std::string& a, const std::string& b);
// The file a path names once symbolic links are followed: a link's target (taken from the
// link's own folder when relative), and so on while that is a link. The path as it is when
// it names no link or a link can't be read (where the platform has none to read). Writes
// in place go to this path, so that a link stays a link and its target changes.
std::string ResolveLinks(const std::string& path);
// Gives `to` the permission bits of `from`; false when either can't be had.
bool CopyPermissions(const std::string& from, const std::string& to);
// When a file or folder was last modified, in seconds since 1970-01-01 00:00 UTC; none
// when it can't be read.
std::optional<std::int64_t> ModifiedTime(const std::string& path);
bool SetModifiedTime(const std::string& path, std::int64_t secondsSince1970);
std::optional<FileStamp> StampOf(const std::string& path);
// The system's words for why the last failed write, flush, close, open for writing or
// rename of this thread failed ("No space left on device"); empty when none failed since
// ClearFailureReason or the system gave no reason.
std::string LastFailureReason();
void ClearFailureReason();
// For a failure the program finds itself (a source that changed under a writer).
void SetFailureReason(std::string reason);

// True when standard error is a terminal (progress bars go there).
bool StderrIsTerminal();
// Makes a completed rename durable (the directory entry reaches the disk where the platform allows).
void SyncDirectoryOf(const std::string& path);
// True where the whole file system holding a path can be flushed in one call.
bool CanSyncFileSystem();
// Flushes everything written to the file system that holds the path; false on failure
// or where the platform has no such call.
bool SyncFileSystemOf(const std::string& path);

}  // namespace io
