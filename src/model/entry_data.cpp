#include "model/entry_data.h"

#include <algorithm>

namespace {
constexpr std::size_t kChunk = std::size_t{1} << 20;
// Extents this close after one another are read together, the bytes between passed over.
constexpr std::uint64_t kGap = 4096;
}  // namespace

DataResult CopyEntryData(const SaveEntry& entry, const io::ByteSource* container, const DataSink& sink) {
  EntryDataReader reader;
  return reader.Copy(entry, container, sink);
}

DataResult EntryDataReader::Copy(const SaveEntry& entry, const io::ByteSource* container, const DataSink& sink) {
  const std::uint64_t size = entry.size;
  if (const InMemory* memory = std::get_if<InMemory>(&entry.source)) {
    const std::span<const std::uint8_t> bytes = memory->Bytes();
    if (bytes.size() < size) return DataResult::kShort;
    return sink(bytes.first(entry.size)) ? DataResult::kOk : DataResult::kSinkFailed;
  }
  if (const FromDisk* pc = std::get_if<FromDisk>(&entry.source)) {
    if (!OpenFile(pc->diskPath)) return DataResult::kOpenFailed;
    return CopyRange(0, size, sink);
  }
  if (const ContainerExtents* inMemory = std::get_if<ContainerExtents>(&entry.source); inMemory && inMemory->held)
    return CopyHeld(*inMemory, size, sink);
  if (!container) return DataResult::kOpenFailed;
  if (const InContainer* range = std::get_if<InContainer>(&entry.source))
    return CopyContainerRange(*container, range->dataOffset, size, sink);
  return CopyExtents(*container, std::get<ContainerExtents>(entry.source).extents, size, sink);
}

DataResult EntryDataReader::CopyExtents(const io::ByteSource& container, const std::vector<Extent>& extents,
                                        std::uint64_t size, const DataSink& sink) {
  // In order until `size` bytes have gone; extents that hold fewer leave it short.
  std::uint64_t left = size;
  for (std::size_t i = 0; i < extents.size() && left > 0;) {
    // The run of extents from i that go forward, each at most kGap bytes after the last,
    // within one piece: one read for all of them (a card image's pages lie 16 bytes apart,
    // and a read of each would cost a call to the system each).
    const std::uint64_t start = extents[i].offset;
    std::uint64_t end = start, wanted = 0;
    std::size_t last = i;
    for (; last < extents.size() && wanted < left; ++last) {
      const Extent& x = extents[last];
      const std::uint64_t n = std::min(left - wanted, x.length);
      if (last > i && (x.offset < end || x.offset - end > kGap || x.offset + n - start > kChunk)) break;
      end = x.offset + n;
      wanted += n;
    }
    if (last == i + 1) {
      DataResult r = CopyContainerRange(container, start, wanted, sink);  // one extent, in pieces however long
      if (r != DataResult::kOk) return r;
    } else {
      const std::size_t span = static_cast<std::size_t>(end - start);
      const std::uint8_t* run = container.data() && end <= container.size() ? container.data() + start : nullptr;
      if (!run) {
        const std::span<std::uint8_t> buffer = Buffer(span).first(span);
        if (!container.ReadAt(start, buffer)) return DataResult::kShort;
        run = buffer.data();
      }
      std::uint64_t handed = 0;
      for (std::size_t k = i; k < last; ++k) {
        const std::uint64_t n = std::min(wanted - handed, extents[k].length);
        const std::uint8_t* p = run + (extents[k].offset - start);
        if (!sink(std::span<const std::uint8_t>(p, static_cast<std::size_t>(n)))) return DataResult::kSinkFailed;
        handed += n;
      }
    }
    left -= wanted;
    i = last;
  }
  return left == 0 ? DataResult::kOk : DataResult::kShort;
}

DataResult EntryDataReader::CopyHeld(const ContainerExtents& source, std::uint64_t size, const DataSink& sink) {
  const HeldBytes& bytes = *source.held;
  bytes.Prefetch(source.extents, size);
  std::uint64_t left = size;
  for (std::size_t i = 0; i < source.extents.size() && left > 0; ++i) {
    const Extent& x = source.extents[i];
    const std::uint64_t n = std::min(left, x.length);
    if (x.offset > bytes.size() || n > bytes.size() - x.offset) return DataResult::kShort;
    for (std::uint64_t done = 0; done < n;) {
      const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, kChunk));
      const std::uint8_t* p = bytes.Bytes(x.offset + done, piece);
      if (!p) return DataResult::kShort;
      if (!sink(std::span<const std::uint8_t>(p, piece))) return DataResult::kSinkFailed;
      done += piece;
    }
    left -= n;
  }
  return left == 0 ? DataResult::kOk : DataResult::kShort;
}

bool EntryDataReader::OpenFile(const std::string& path) {
  if (file_ && openPath_ == path) return true;
  if (file_) file_.Close();
  file_ = io::File::OpenRead(path);
  openPath_.clear();
  if (!file_) return false;
  openPath_ = path;
  return true;
}

DataResult EntryDataReader::CopyRange(std::uint64_t offset, std::uint64_t length, const DataSink& sink) {
  if (!file_.Seek(offset)) return DataResult::kShort;
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunk));
  const std::span<std::uint8_t> buffer = Buffer(want);
  while (length > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
    if (!file_.ReadExact(buffer.data(), n)) {
      // A file cut short may be reopened by the next entry: don't keep state.
      file_.Close();
      file_ = io::File();
      openPath_.clear();
      return DataResult::kShort;
    }
    if (!sink(std::span<const std::uint8_t>(buffer.data(), n))) return DataResult::kSinkFailed;
    length -= n;
  }
  return DataResult::kOk;
}

DataResult EntryDataReader::CopyContainerRange(const io::ByteSource& container, std::uint64_t offset,
                                               std::uint64_t length, const DataSink& sink) {
  if (offset > container.size() || length > container.size() - offset) return DataResult::kShort;
  if (const std::uint8_t* all = container.data()) {
    // In memory: handed over where it lies, in pieces as a file's would be.
    for (std::uint64_t done = 0; done < length;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, kChunk));
      if (!sink(std::span<const std::uint8_t>(all + offset + done, n))) return DataResult::kSinkFailed;
      done += n;
    }
    return DataResult::kOk;
  }
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunk));
  const std::span<std::uint8_t> buffer = Buffer(want);
  while (length > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
    if (!container.ReadAt(offset, buffer.first(n))) return DataResult::kShort;
    if (!sink(std::span<const std::uint8_t>(buffer.data(), n))) return DataResult::kSinkFailed;
    offset += n;
    length -= n;
  }
  return DataResult::kOk;
}

std::span<std::uint8_t> EntryDataReader::Buffer(std::size_t n) {
  if (bufferSize_ < n) {
    buffer_.reset(new std::uint8_t[n]);
    bufferSize_ = n;
  }
  return {buffer_.get(), bufferSize_};
}

void EntryDataReader::Close() {
  if (file_) file_.Close();
  file_ = io::File();
  openPath_.clear();
}

DataResult ReadEntryData(const SaveEntry& entry, const io::ByteSource* container, std::vector<std::uint8_t>& out) {
  out.clear();
  out.reserve(std::min<std::size_t>(entry.size, std::size_t{64} << 20));
  return CopyEntryData(entry, container, [&out](std::span<const std::uint8_t> piece) {
    out.insert(out.end(), piece.begin(), piece.end());
    return true;
  });
}
