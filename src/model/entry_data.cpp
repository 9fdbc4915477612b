#include "model/entry_data.h"

#include <algorithm>

#include "io/file.h"

namespace {
constexpr std::size_t kChunk = std::size_t{1} << 20;
}

DataResult CopyEntryData(const SaveEntry& entry, const std::string& containerPath,
                         const DataSink& sink) {
  if (entry.data) {
    if (entry.data->size() < entry.size) return DataResult::kShort;
    return sink(std::span<const std::uint8_t>(entry.data->data(), entry.size))
               ? DataResult::kOk
               : DataResult::kSinkFailed;
  }
  const std::string& path = entry.fromDisk ? entry.diskPath : containerPath;
  std::uint64_t offset = entry.fromDisk ? 0 : entry.dataOffset;
  io::File in = io::File::OpenRead(path);
  if (!in) return DataResult::kOpenFailed;
  if (!in.Seek(offset)) return DataResult::kShort;
  std::vector<std::uint8_t> buffer(std::min<std::size_t>(entry.size, kChunk));
  std::uint32_t left = entry.size;
  while (left > 0) {
    std::size_t n = std::min<std::size_t>(left, buffer.size());
    if (!in.ReadExact(buffer.data(), n)) return DataResult::kShort;
    if (!sink(std::span<const std::uint8_t>(buffer.data(), n))) return DataResult::kSinkFailed;
    left -= static_cast<std::uint32_t>(n);
  }
  return DataResult::kOk;
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
