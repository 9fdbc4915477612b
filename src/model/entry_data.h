// Reading an entry's bytes from the one place they are (see EntrySource): memory, a PC
// file, one range of the save's container or a list of its extents. Exactly `size` bytes
// are taken; every writer, the extract command and the icon readers read through here.
// The container is the save's byte source (CSaveGame::container): a file or memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "io/byte_source.h"
#include "io/file.h"
#include "model/entry.h"

enum class DataResult {
  kOk,
  kOpenFailed,  // the PC file or the container can't be opened
  kShort,       // the source holds fewer than `size` bytes at that place
  kSinkFailed,  // the receiver refused the bytes (a write failed)
};

// Receives the bytes in order, in pieces; returns false to stop.
using DataSink = std::function<bool(std::span<const std::uint8_t>)>;

// Streams the entry's `size` bytes to the sink in pieces of at most 1 MiB.
DataResult CopyEntryData(const SaveEntry& entry, const io::ByteSource* container, const DataSink& sink);

// The same for the entries of a save one after another: the PC file read last stays open
// and the buffer is kept (a writer of many small saves otherwise spends much of its time
// opening the same file again).
class EntryDataReader {
 public:
  DataResult Copy(const SaveEntry& entry, const io::ByteSource* container, const DataSink& sink);
  // Lets go of the open PC file: before a target that may be that file is replaced (an
  // open file can't be replaced on every system).
  void Close();

 private:
  bool OpenFile(const std::string& path);
  // Extents of a container held in memory: nothing is read.
  static DataResult CopyHeld(const ContainerExtents& source, std::uint64_t size, const DataSink& sink);
  // Streams `length` bytes of the open PC file from `offset` to the sink.
  DataResult CopyRange(std::uint64_t offset, std::uint64_t length, const DataSink& sink);
  // The same from the container.
  DataResult CopyContainerRange(const io::ByteSource& container, std::uint64_t offset, std::uint64_t length,
                                const DataSink& sink);
  DataResult CopyExtents(const io::ByteSource& container, const std::vector<Extent>& extents, std::uint64_t size,
                         const DataSink& sink);
  // The kept buffer, at least n bytes long: grown without being cleared, as every byte
  // handed on is read into it first.
  std::span<std::uint8_t> Buffer(std::size_t n);

  io::File file_;
  std::string openPath_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t bufferSize_ = 0;
};

// Reads the entry's `size` bytes into out (resized to fit).
DataResult ReadEntryData(const SaveEntry& entry, const io::ByteSource* container, std::vector<std::uint8_t>& out);
