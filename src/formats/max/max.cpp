#include "formats/max/max.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "formats/crc32.h"
#include "formats/lzari.h"
#include "io/file.h"
#include "model/bytes.h"
#include "model/icon_sys.h"

namespace {

using Header = std::array<std::uint8_t, armax::kHeaderSize>;

constexpr std::size_t kCrcChunk = std::size_t{1} << 20;

// The CRC of the whole file with the stored CRC field taken as zero, read in pieces.
// False when the file can't be read to its end.
bool FileCrc(io::File& file, std::uint64_t length, std::uint32_t& crc) {
  if (!file.Seek(0)) return false;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(length, kCrcChunk)));
  std::uint32_t c = 0;
  std::uint64_t done = 0;
  while (done < length) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
    if (!file.ReadExact(buffer.data(), n)) return false;
    for (std::size_t i = armax::kCrcOffset; i < armax::kCrcOffset + armax::kCrcSize; ++i)
      if (i >= done && i < done + n) buffer[i - done] = 0;
    c = Crc32Update(c, std::span<const std::uint8_t>(buffer.data(), n));
    done += n;
  }
  crc = c;
  return true;
}

// Name and titles from a 32-byte name field: the name keeps at most 31 characters,
// title and rawTitle all 32.
void SetNames(SaveEntry& e, const std::uint8_t* field) {
  SetFieldFromBytes(e.name, field, armax::kFolderSize, armax::kFolderSize - 1);
  SetFieldFromBytes(e.title, field, armax::kFolderSize, armax::kFolderSize);
  SetFieldFromBytes(e.rawTitle, field, armax::kFolderSize, armax::kFolderSize);
}

}  // namespace

bool LooksLikeMax(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  return fileSize >= armax::kHeaderSize && head.size() >= armax::kSignature.size() &&
         std::memcmp(head.data(), armax::kSignature.data(), armax::kSignature.size()) == 0;
}

LoadResult CMax::Load(const std::string& path) {
  io::File file = io::File::OpenRead(path);
  if (!file) return LoadResult::kOpenFailed;
  Header header;
  if (!file.ReadExact(header.data(), header.size())) return LoadResult::kReadFailed;
  auto length = file.Length();
  if (!length || *length < armax::kHeaderSize) return LoadResult::kReadFailed;

  try {
    std::uint32_t computed = 0;
    if (!FileCrc(file, *length, computed)) return LoadResult::kReadFailed;
    if (computed != bytes::GetU32LE(header.data() + armax::kCrcOffset) &&
        !Ask(armax::kCrcQuestion, armax::kCrcCaption))
      return LoadResult::kInvalid;

    // Every length is checked against what the file can hold before anything is sized
    // from it: each record needs at least its 36-byte head.
    const std::uint32_t count = bytes::GetU32LE(header.data() + armax::kFileCountOffset);
    const std::uint32_t payloadLength = bytes::GetU32LE(header.data() + armax::kLengthOffset);
    const std::uint64_t streamLength = *length - armax::kHeaderSize;
    if (payloadLength > armax::kMaxPayload) return LoadResult::kInvalid;
    if (payloadLength > (streamLength + lzari::kInputSlackBytes) * armax::kMaxExpansion)
      return LoadResult::kInvalid;
    if (count > payloadLength / armax::kRecordHeadSize) return LoadResult::kInvalid;

    std::vector<std::uint8_t> payload(payloadLength);
    if (payloadLength > 0) {
      std::vector<std::uint8_t> stream(static_cast<std::size_t>(
          std::min(streamLength, armax::InputNeededFor(payloadLength))));
      if (!file.Seek(armax::kHeaderSize) || !file.ReadExact(stream.data(), stream.size()))
        return LoadResult::kReadFailed;
      auto state = std::make_unique<LzariState>();
      if (LzariDecode(stream, payload.data(), payloadLength, *state) != 1) return LoadResult::kInvalid;
    }
    file.Close();

    const EntryTime now = EntryTime::Now();
    EntryTable table(std::size_t{count} + 1);
    SaveEntry& root = table[0];
    root.mode = EntryMode::kNewDirectory;
    root.size = count + 2;
    root.created = now;
    root.modified = now;
    SetNames(root, header.data() + armax::kFolderOffset);

    std::uint64_t start = 0;
    for (std::uint32_t k = 1; k <= count; ++k) {
      if (start + armax::kRecordHeadSize > payloadLength) return LoadResult::kInvalid;
      const std::uint8_t* head = payload.data() + start;
      const std::uint32_t size = bytes::GetU32LE(head + armax::kRecordSizeOffset);
      const std::uint64_t dataStart = start + armax::kRecordHeadSize;
      if (size > payloadLength - dataStart) return LoadResult::kInvalid;
      SaveEntry& e = table[k];
      e.mode = EntryMode::kNewFile;
      e.size = size;
      e.created = now;
      e.modified = now;
      SetNames(e, head + armax::kRecordNameOffset);
      const std::uint8_t* data = payload.data() + dataStart;
      e.source = InMemory{std::vector<std::uint8_t>(data, data + size)};
      start = armax::NextRecord(start, size);
    }

    entries = std::move(table);
    sourcePath = path;
  } catch (const std::bad_alloc&) {
    return LoadResult::kNoMemory;
  }

  SaveEntry& root = (*entries)[0];
  ReadIconSysTitle(*this, root.rawTitle);
  TitleToAscii(root.rawTitle, root.title);
  return LoadResult::kOk;
}
