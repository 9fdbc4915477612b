#include "formats/max/max.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "formats/ascii_title.h"
#include "formats/crc32.h"
#include "formats/entry_bytes.h"
#include "formats/lzari.h"
#include "formats/lzari_encode.h"
#include "formats/output_file.h"
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
void SetNames(SaveEntry& e, const std::uint8_t* field, std::size_t nameChars) {
  SetFieldFromBytes(e.name, field, armax::kFolderSize, nameChars);
  SetFieldFromBytes(e.title, field, armax::kFolderSize, armax::kFolderSize);
  SetFieldFromBytes(e.rawTitle, field, armax::kFolderSize, armax::kFolderSize);
}

// The stream, straight from the file.
class FileSource final : public LzariSource {
 public:
  explicit FileSource(io::File& file) : file_(file) {}
  std::size_t Read(std::uint8_t* buffer, std::size_t n) override { return file_.ReadExact(buffer, n) ? n : 0; }

 private:
  io::File& file_;
};

}  // namespace

bool LooksLikeMax(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  return fileSize >= armax::kHeaderSize && head.size() >= armax::kSignature.size() &&
         std::memcmp(head.data(), armax::kSignature.data(), armax::kSignature.size()) == 0;
}

LoadResult CMax::Load(const std::string& path) {
  refusal.clear();
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

    // One buffer for the whole payload, which the entries share; the stream is read
    // from the file as the decoder goes, never held whole beside it.
    auto shared = std::make_shared<std::vector<std::uint8_t>>(payloadLength);
    const std::vector<std::uint8_t>& payload = *shared;
    if (payloadLength > 0) {
      if (!file.Seek(armax::kHeaderSize)) return LoadResult::kReadFailed;
      FileSource source(file);
      auto state = std::make_unique<LzariState>();
      const int decoded = LzariDecodeFrom(source, std::min(streamLength, armax::InputNeededFor(payloadLength)),
                                          shared->data(), payloadLength, *state);
      if (decoded == -2) return LoadResult::kReadFailed;
      if (decoded != 1) return LoadResult::kInvalid;
    }
    file.Close();

    const EntryTime now = EntryTime::Now();
    EntryTable table(std::size_t{count} + 1);
    SaveEntry& root = table[0];
    root.mode = EntryMode::kNewDirectory;
    root.size = count + 2;
    root.created = now;
    root.modified = now;
    SetNames(root, header.data() + armax::kFolderOffset, kFolderNameKept);

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
      SetNames(e, head + armax::kRecordNameOffset, kFileNameKept);
      e.source = InMemory{shared, static_cast<std::size_t>(dataStart)};
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

namespace {

// What the header holds in front of the encoder's output, which begins with the payload's
// length (offset 88).
constexpr std::size_t kFixedHeaderSize = armax::kLengthOffset;

bool IsAllZero(const EntryTime& t) { return t == EntryTime{}; }

void PutText(std::uint8_t* field, std::size_t fieldSize, std::string_view text) {
  std::memset(field, 0, fieldSize);
  std::memcpy(field, text.data(), std::min(text.size(), fieldSize));
}

// The payload of a save's files: each record at its aligned place, zeros in the gaps and
// after the last one. `refusal` says why a save can't be stored; kOpenFailed when an
// entry's bytes can't all be read.
LoadResult BuildPayload(const EntryTable& table, const std::string& containerPath,
                        std::vector<std::uint8_t>& payload, std::string& refusal) {
  std::uint64_t length = 0;
  for (std::size_t pos = 1; pos < table.size(); ++pos) {
    const SaveEntry& e = table[pos];
    if (EntryMode::IsDirectory(e.mode)) {
      refusal = "An ARMAX save holds files only: \"" + std::string(e.FullName()) +
                "\" is a folder, so this save can't be written as ARMAX.";
      return LoadResult::kInvalid;
    }
    length = armax::NextRecord(length, e.size);
    if (length > armax::kMaxPayload) {
      refusal = "This save is too large for an ARMAX file: its files come to more than 64 MiB.";
      return LoadResult::kInvalid;
    }
  }
  payload.assign(static_cast<std::size_t>(length), 0);
  EntryDataReader reader;
  std::uint64_t start = 0;
  for (std::size_t pos = 1; pos < table.size(); ++pos) {
    const SaveEntry& e = table[pos];
    std::uint8_t* head = payload.data() + start;
    bytes::PutU32LE(head + armax::kRecordSizeOffset, e.size);
    PutText(head + armax::kRecordNameOffset, armax::kRecordNameSize, e.FullName());
    std::span<std::uint8_t> data(head + armax::kRecordHeadSize, e.size);
    if (CopyEntryInto(reader, e, containerPath, data) != DataResult::kOk)
      return LoadResult::kOpenFailed;
    start = armax::NextRecord(start, e.size);
  }
  return LoadResult::kOk;
}

// Writes `source` as an ARMAX file: the payload compressed with the encoder the devices
// use, the header, and last the CRC over both.
LoadResult WriteArmax(const CSaveGame& source, const std::string& path, bool inPlace,
                      std::string& refusal) {
  if (!source.entries || source.entries->empty()) return LoadResult::kInvalid;
  const EntryTable& table = *source.entries;
  try {
    std::vector<std::uint8_t> payload;
    LoadResult built = BuildPayload(table, source.sourcePath, payload, refusal);
    if (built != LoadResult::kOk) return built;

    // Room for the longest stream, left uncleared: the stream takes about a third of it,
    // and the pages it never reaches are never touched.
    const auto bound = static_cast<std::size_t>(lzari::EncodeBound(payload.size()));
    auto room = std::make_unique_for_overwrite<std::uint8_t[]>(bound);
    auto state = std::make_unique<LzariEncodeState>();
    const std::int64_t n = LzariEncode(payload, {room.get(), bound}, *state);
    if (n < 0) return LoadResult::kInvalid;  // the bound above always suffices
    const std::span<const std::uint8_t> coded(room.get(), static_cast<std::size_t>(n));

    std::array<std::uint8_t, kFixedHeaderSize> header{};
    std::memcpy(header.data(), armax::kSignature.data(), armax::kSignature.size());
    PutText(header.data() + armax::kFolderOffset, armax::kFolderSize, table[0].Name());
    // Always NUL-terminated, for readers that take it as a C string.
    PutText(header.data() + armax::kTitleOffset, armax::kTitleSize,
            HeaderTitle(source, armax::kTitleSize - 1));
    bytes::PutU32LE(header.data() + armax::kStreamSizeOffset, static_cast<std::uint32_t>(n));
    bytes::PutU32LE(header.data() + armax::kFileCountOffset,
                    static_cast<std::uint32_t>(table.size() - 1));
    const std::uint32_t crc = Crc32Update(Crc32(header), coded);
    bytes::PutU32LE(header.data() + armax::kCrcOffset, crc);

    OutputFile out(path, inPlace);
    if (!out.ok()) return LoadResult::kOpenFailed;
    out.Write(header.data(), header.size());
    out.Write(coded.data(), coded.size());
    return out.Commit();
  } catch (const std::bad_alloc&) {
    return LoadResult::kNoMemory;
  }
}

}  // namespace

bool ArmaxDropsModesOrTimes(const CSaveGame& save) {
  if (!save.entries) return false;
  for (std::size_t pos = 0; pos < save.entries->size(); ++pos) {
    const SaveEntry& e = (*save.entries)[pos];
    if (e.mode != (pos == 0 ? EntryMode::kNewDirectory : EntryMode::kNewFile)) return true;
    if (!IsAllZero(e.created) || !IsAllZero(e.modified)) return true;
  }
  return false;
}

std::string ArmaxConversionLoss(const CSaveGame& save) {
  if (!ArmaxDropsModesOrTimes(save)) return {};
  return "an ARMAX save keeps no modes and no times: its folder gets 0x8427, its files 0x8497, "
         "and all of them the time they are restored";
}

LoadResult CMax::Save(const std::string& path) {
  refusal.clear();
  return WriteArmax(*this, path, IsSameContainer(path, sourcePath), refusal);
}

LoadResult CMax::WriteConvertedFrom(const CSaveGame& source, const std::string& path) {
  refusal.clear();
  return WriteArmax(source, path, /*inPlace=*/false, refusal);
}
