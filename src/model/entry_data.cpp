#include "model/entry_data.h"

#include <algorithm>


namespace {
constexpr std::size_t kChunk = std::size_t{1} << 20;
}

DataResult CopyEntryData(const SaveEntry& entry, const std::string& containerPath,
                         const DataSink& sink) {
  EntryDataReader reader;
  return reader.Copy(entry, containerPath, sink);
}

DataResult EntryDataReader::Copy(const SaveEntry& entry, const std::string& containerPath,
                                 const DataSink& sink) {
  if (entry.data) {
    if (entry.data->size() < entry.size) return DataResult::kShort;
    return sink(std::span<const std::uint8_t>(entry.data->data(), entry.size))
               ? DataResult::kOk
               : DataResult::kSinkFailed;
  }
  const std::string& path = entry.fromDisk ? entry.diskPath : containerPath;
  std::uint64_t offset = entry.fromDisk ? 0 : entry.dataOffset;
  if (!file_ || openPath_ != path) {
    Close();
    file_ = io::File::OpenRead(path);
    if (!file_) return DataResult::kOpenFailed;
    openPath_ = path;
  }
  if (!file_.Seek(offset)) return DataResult::kShort;
  if (buffer_.size() < std::min<std::size_t>(entry.size, kChunk))
    buffer_.resize(std::min<std::size_t>(entry.size, kChunk));
  std::uint32_t left = entry.size;
  while (left > 0) {
    std::size_t n = std::min<std::size_t>(left, buffer_.size());
    if (!file_.ReadExact(buffer_.data(), n)) {
      Close();  // a file cut short may be reopened by the next entry: don't keep state
      return DataResult::kShort;
    }
    if (!sink(std::span<const std::uint8_t>(buffer_.data(), n))) return DataResult::kSinkFailed;
    left -= static_cast<std::uint32_t>(n);
  }
  return DataResult::kOk;
}

void EntryDataReader::Close() {
  if (file_) file_.Close();
  file_ = io::File();
  openPath_.clear();
}

DataResult ReadEntryData(const SaveEntry& entry, const std::string& containerPath,
                         std::vector<std::uint8_t>& out) {
  out.clear();
  out.reserve(std::min<std::size_t>(entry.size, std::size_t{64} << 20));
  return CopyEntryData(entry, containerPath, [&out](std::span<const std::uint8_t> piece) {
    out.insert(out.end(), piece.begin(), piece.end());
    return true;
  });
}
