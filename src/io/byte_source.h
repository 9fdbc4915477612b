// Where a save or a card is read from: the bytes of a file, or bytes in memory (what a
// browser hands over, or a card decrypted in memory). Every loader and card reads through
// this one interface, at any offset, so neither needs a file on disk.
//
// A file is opened once and read where it lies, with no copy; it stays open until
// Release, and a read after that opens it again only while it is still the version first
// opened (its size and last write time), so that nothing is ever put together from two
// versions of a file. Threads may read one source at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io/file.h"

namespace io {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  // The file's path, or the name bytes in memory were given ("game.psu"): what messages
  // call it, and where a raw PS1 save takes its card file name from.
  const std::string& name() const { return name_; }
  std::uint64_t size() const { return size_; }
  // The path of the file read; empty for bytes in memory.
  virtual std::string path() const;

  // Exactly out.size() bytes from offset; false when they can't all be read (past the end,
  // a read error, or a file that changed since it was opened).
  virtual bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
  // Each of `reads`, as ReadAt reads it, marked done or not; several in one call to the
  // system where it can.
  virtual void ReadManyAt(std::span<File::ReadAt> reads) const;
  // All the bytes, when they are in memory; null otherwise.
  virtual const std::uint8_t* data() const { return nullptr; }

  // Lets the file go (it can't be replaced everywhere while it is open); the next read
  // opens it again. Nothing for bytes in memory.
  virtual void Release() const {}
  // From now on the file is opened for each read and let go after it: for a source a
  // window keeps a long while, which must not hold its file open. Nothing for memory.
  virtual void LetGoAfterEachRead() const {}
  // Opens the file now, when it was let go and is still the version read, so that reads to
  // come get that version whatever happens to the path meanwhile; false when it can't be.
  virtual bool Hold() const { return true; }
  // True while the file at the path is still the version read (a look at the path, not an
  // open); always for bytes in memory.
  virtual bool Current() const { return true; }
  // Tells the system how the file will be read from now on (a card image about to be
  // scanned: at scattered places, with nothing read ahead). Nothing for bytes in memory.
  virtual void Advise(Access) const {}
  // The size and write time of the version read; none for bytes in memory.
  virtual std::optional<FileStamp> stamp() const { return std::nullopt; }

 protected:
  ByteSource(std::string name, std::uint64_t size) : name_(std::move(name)), size_(size) {}

 private:
  std::string name_;
  std::uint64_t size_;
};

using SourcePtr = std::shared_ptr<const ByteSource>;

// The file at `path`, opened to be read as `access` says (and opened so again after a
// Release); null when it can't be opened or measured.
SourcePtr OpenSource(const std::string& path, Access access = Access::kInOrder);
// Bytes in memory, under a name (a file name, for messages and PS1 card file names).
SourcePtr MemorySource(std::vector<std::uint8_t> bytes, std::string name = {});
SourcePtr MemorySource(std::shared_ptr<const std::vector<std::uint8_t>> bytes, std::string name = {});

// A source read from its start on, with the calls of a file: for formats read header
// after header. Failed reads leave the position where it was.
class SourceReader {
 public:
  explicit SourceReader(const ByteSource& source, std::uint64_t position = 0)
      : source_(source), position_(position) {}
  // Exactly n bytes, or false (and nothing taken).
  bool ReadExact(void* out, std::size_t n);
  // Up to n bytes: fewer at the end, none on a read error.
  std::size_t Read(void* out, std::size_t n);
  bool Seek(std::uint64_t position) {
    if (position > source_.size()) return false;
    position_ = position;
    return true;
  }
  std::uint64_t position() const { return position_; }
  std::uint64_t size() const { return source_.size(); }
  std::uint64_t left() const { return source_.size() - position_; }

 private:
  const ByteSource& source_;
  std::uint64_t position_;
};

// Reads the whole source into memory (at most `cap` bytes: none for a larger one).
std::optional<std::vector<std::uint8_t>> ReadAll(const ByteSource& source, std::uint64_t cap);

}  // namespace io
