#include "formats/max/max.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include <zlib.h>

#include "formats/ascii_title.h"
#include "formats/crc32.h"
#include "formats/entry_bytes.h"
#include "formats/lzari.h"
#include "formats/lzari_encode.h"
#include "io/output_file.h"
#include "io/file.h"
#include "model/bytes.h"
#include "model/icon_sys.h"

namespace {

using Header = std::array<std::uint8_t, armax::kHeaderSize>;

constexpr std::size_t kCrcChunk = std::size_t{1} << 20;

// The CRC of the whole file with the stored CRC field taken as zero, read in pieces.
// False when the file can't be read to its end.
bool FileCrc(const io::ByteSource& file, std::uint64_t length, std::uint32_t& crc) {
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(length, kCrcChunk)));
  std::uint32_t c = 0;
  std::uint64_t done = 0;
  while (done < length) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
    if (!file.ReadAt(done, std::span(buffer.data(), n))) return false;
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
class StreamSource final : public LzariSource {
 public:
  explicit StreamSource(io::SourceReader& file) : file_(file) {}
  std::size_t Read(std::uint8_t* buffer, std::size_t n) override { return file_.ReadExact(buffer, n) ? n : 0; }

 private:
  io::SourceReader& file_;
};

// The root of an ARMAX save: the header's folder name, the load's time, the fixed mode.
SaveEntry RootEntry(const Header& header, std::uint32_t count, const EntryTime& now) {
  SaveEntry root;
  root.mode = EntryMode::kNewDirectory;
  root.size = count + 2;
  root.created = now;
  root.modified = now;
  SetNames(root, header.data() + armax::kFolderOffset, kFolderNameKept);
  return root;
}

// A file's entry from its record head; its bytes are the caller's to place.
SaveEntry FileEntry(const std::uint8_t* head, const EntryTime& now) {
  SaveEntry e;
  e.mode = EntryMode::kNewFile;
  e.size = bytes::GetU32LE(head + armax::kRecordSizeOffset);
  e.created = now;
  e.modified = now;
  SetNames(e, head + armax::kRecordNameOffset, kFileNameKept);
  return e;
}

// Splits a payload handed over in order, piece by piece, into its records, checked as
// Load checks them: each file's entry goes to the writer once its head is in, then its
// bytes; the gaps between records, and whatever follows the last, are passed over.
class RecordSplitter final : public LzariSink {
 public:
  RecordSplitter(std::uint32_t count, std::uint32_t payloadLength, const EntryTime& now,
                 SaveStreamWriter& writer)
      : count_(count), payloadLength_(payloadLength), now_(now), writer_(writer) {}

  bool Take(std::span<const std::uint8_t> bytes) override {
    while (!bytes.empty() && done_ < count_) {
      std::size_t n = 0;
      if (at_ < next_) {  // a gap
        n = static_cast<std::size_t>(std::min<std::uint64_t>(next_ - at_, bytes.size()));
      } else if (headHeld_ < armax::kRecordHeadSize) {
        n = std::min(armax::kRecordHeadSize - headHeld_, bytes.size());
        std::memcpy(head_.data() + headHeld_, bytes.data(), n);
        headHeld_ += n;
      } else {
        n = static_cast<std::size_t>(std::min<std::uint64_t>(left_, bytes.size()));
        if (!writer_.Data(bytes.first(n))) return false;
        left_ -= n;
      }
      at_ += n;
      bytes = bytes.subspan(n);
      if (!Advance()) return false;
    }
    return true;
  }
  // Every record the header counts came whole.
  bool Complete() const { return done_ == count_; }

 private:
  // Moves on from a head just completed or a file's last byte; false on a record that
  // doesn't fit the payload or a failed write.
  bool Advance() {
    if (at_ < next_ || headHeld_ < armax::kRecordHeadSize) return true;
    if (!headTaken_) {
      headTaken_ = true;
      const SaveEntry e = FileEntry(head_.data(), now_);
      if (e.size > payloadLength_ - std::min<std::uint64_t>(at_, payloadLength_)) return false;
      left_ = e.size;
      if (!writer_.File(e)) return false;
    }
    if (left_ > 0) return true;
    ++done_;
    next_ = armax::NextRecord(next_, at_ - next_ - armax::kRecordHeadSize);
    headHeld_ = 0;
    headTaken_ = false;
    return true;
  }

  std::uint32_t count_;
  std::uint32_t payloadLength_;
  EntryTime now_;
  SaveStreamWriter& writer_;
  std::uint64_t at_ = 0;    // the payload's bytes taken so far
  std::uint64_t next_ = 0;  // where the current record starts
  std::array<std::uint8_t, armax::kRecordHeadSize> head_{};
  std::size_t headHeld_ = 0;
  bool headTaken_ = false;
  std::uint64_t left_ = 0;  // of the current file's bytes
  std::uint32_t done_ = 0;  // records complete
};

}  // namespace

bool LooksLikeMax(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  return fileSize >= armax::kHeaderSize && head.size() >= armax::kSignature.size() &&
         std::memcmp(head.data(), armax::kSignature.data(), armax::kSignature.size()) == 0;
}

// The file opened, its header read and its CRC and lengths checked (or the CRC's
// question answered Yes); the stream is next.
struct CMax::Opened {
  explicit Opened(const io::ByteSource& source) : file(source) {}
  io::SourceReader file;
  Header header;
  std::uint32_t count = 0;
  std::uint32_t payloadLength = 0;
  std::uint64_t streamLength = 0;

  // The decoder's input: the stream, no more of it than the payload can need.
  std::uint64_t InputLength() const {
    return std::min(streamLength, armax::InputNeededFor(payloadLength));
  }
};

LoadResult CMax::Open(const io::ByteSource& source, Opened& f) {
  if (!f.file.ReadExact(f.header.data(), f.header.size())) return LoadResult::kReadFailed;
  const std::uint64_t length = source.size();

  std::uint32_t computed = 0;
  if (!FileCrc(source, length, computed)) return LoadResult::kReadFailed;
  if (computed != bytes::GetU32LE(f.header.data() + armax::kCrcOffset)) {
    const std::optional<bool> yes = Answer(armax::kCrcQuestion, armax::kCrcCaption);
    if (!yes) return LoadResult::kNeedsAnswer;
    if (!*yes) return LoadResult::kInvalid;
  }

  // Every length is checked against what the file can hold before anything is sized
  // from it: each record needs at least its 36-byte head.
  f.count = bytes::GetU32LE(f.header.data() + armax::kFileCountOffset);
  f.payloadLength = bytes::GetU32LE(f.header.data() + armax::kLengthOffset);
  f.streamLength = length - armax::kHeaderSize;
  if (f.payloadLength > armax::kMaxPayload) return LoadResult::kInvalid;
  if (f.payloadLength > (f.streamLength + lzari::kInputSlackBytes) * armax::kMaxExpansion)
    return LoadResult::kInvalid;
  if (f.count > f.payloadLength / armax::kRecordHeadSize) return LoadResult::kInvalid;
  return LoadResult::kOk;
}

LoadResult CMax::Read(const io::ByteSource& source) {
  Opened f(source);
  const LoadResult opened = Open(source, f);
  if (opened != LoadResult::kOk) return opened;
  const std::uint32_t count = f.count;
  const std::uint32_t payloadLength = f.payloadLength;

  // One buffer for the whole payload, which the entries share; the stream is read
  // from the file as the decoder goes, never held whole beside it.
  auto shared = std::make_shared<std::vector<std::uint8_t>>(payloadLength);
  const std::vector<std::uint8_t>& payload = *shared;
  if (payloadLength > 0) {
    StreamSource stream(f.file);
    auto state = std::make_unique<LzariState>();
    const LzariResult decoded = LzariDecodeFrom(stream, f.InputLength(), shared->data(), payloadLength, *state);
    if (decoded == LzariResult::kSourceFailed) return LoadResult::kReadFailed;
    if (decoded != LzariResult::kDecoded) return LoadResult::kInvalid;
  }

  const EntryTime now = EntryTime::Now();
  EntryTable table(std::size_t{count} + 1);
  table[0] = RootEntry(f.header, count, now);

  std::uint64_t start = 0;
  for (std::uint32_t k = 1; k <= count; ++k) {
    if (start + armax::kRecordHeadSize > payloadLength) return LoadResult::kInvalid;
    const std::uint8_t* head = payload.data() + start;
    const std::uint32_t size = bytes::GetU32LE(head + armax::kRecordSizeOffset);
    const std::uint64_t dataStart = start + armax::kRecordHeadSize;
    if (size > payloadLength - dataStart) return LoadResult::kInvalid;
    table[k] = FileEntry(head, now);
    table[k].source = InMemory{shared, static_cast<std::size_t>(dataStart)};
    start = armax::NextRecord(start, size);
  }

  entries = std::move(table);
  return LoadResult::kOk;
}

std::optional<LoadResult> CMax::LoadInto(const io::ByteSource& source, SaveStreamWriter& writer,
                                         const LoadAnswers& answers) {
  refusal.clear();
  question.reset();
  try {
    Opened f(source);
    answers_ = &answers;
    const LoadResult opened = Open(source, f);
    answers_ = nullptr;
    if (opened != LoadResult::kOk) return opened;
    const EntryTime now = EntryTime::Now();
    if (!writer.Root(RootEntry(f.header, f.count, now))) return LoadResult::kOpenFailed;
    RecordSplitter records(f.count, f.payloadLength, now, writer);
    if (f.payloadLength > 0) {
      StreamSource stream(f.file);
      auto state = std::make_unique<LzariState>();
      const LzariResult decoded = LzariDecodeTo(stream, f.InputLength(), records, f.payloadLength, *state);
      if (decoded == LzariResult::kSourceFailed) return LoadResult::kReadFailed;
      if (decoded == LzariResult::kSinkRefused && writer.Failed()) return LoadResult::kOpenFailed;
      if (decoded != LzariResult::kDecoded) return LoadResult::kInvalid;
    }
    if (!records.Complete()) return LoadResult::kInvalid;
  } catch (const std::bad_alloc&) {
    return LoadResult::kNoMemory;
  }
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

// The payload's length: each file's record at its aligned place, zeros in the gaps and
// after the last one. `refusal` says why a save can't be stored.
LoadResult PayloadLength(const EntryTable& table, std::uint32_t& length, std::string& refusal) {
  std::uint64_t end = 0;
  for (std::size_t pos = 1; pos < table.size(); ++pos) {
    const SaveEntry& e = table[pos];
    if (EntryMode::IsDirectory(e.mode)) {
      refusal = "An ARMAX save holds files only: \"" + std::string(e.FullName()) +
                "\" is a folder, so this save can't be written as ARMAX.";
      return LoadResult::kInvalid;
    }
    end = armax::NextRecord(end, e.size);
    if (end > armax::kMaxPayload) {
      refusal = "This save is too large for an ARMAX file: its files come to more than 64 MiB.";
      return LoadResult::kInvalid;
    }
  }
  length = static_cast<std::uint32_t>(end);
  return LoadResult::kOk;
}

// Hands the payload to the encoder record by record, each file's bytes as they are read;
// kOpenFailed when an entry's bytes can't all be read, kInvalid when the encoder stopped.
LoadResult FeedPayload(const EntryTable& table, const io::ByteSource* container, EntryDataReader& reader,
                       LzariStreamEncoder& encoder) {
  static constexpr std::uint8_t kZeros[16] = {};  // a gap after a record is below 16 bytes
  std::uint64_t start = 0;
  for (std::size_t pos = 1; pos < table.size(); ++pos) {
    const SaveEntry& e = table[pos];
    std::array<std::uint8_t, armax::kRecordHeadSize> head{};
    bytes::PutU32LE(head.data() + armax::kRecordSizeOffset, e.size);
    PutText(head.data() + armax::kRecordNameOffset, armax::kRecordNameSize, e.FullName());
    if (!encoder.Feed(head)) return LoadResult::kInvalid;
    std::uint64_t left = e.size;
    bool fed = true;
    const DataResult r = reader.Copy(e, container, [&](std::span<const std::uint8_t> piece) {
      if (piece.size() > left) return false;
      left -= piece.size();
      return fed = encoder.Feed(piece);
    });
    if (!fed) return LoadResult::kInvalid;
    if (r != DataResult::kOk || left != 0) return LoadResult::kOpenFailed;
    const std::uint64_t next = armax::NextRecord(start, e.size);
    if (!encoder.Feed({kZeros, static_cast<std::size_t>(next - start - armax::kRecordHeadSize - e.size)}))
      return LoadResult::kInvalid;
    start = next;
  }
  return LoadResult::kOk;
}

// The coded stream, written to the file as it comes, with its CRC counted on the way.
class StreamToFile final : public LzariSink {
 public:
  explicit StreamToFile(io::ByteSink& out) : out_(out) {}
  bool Take(std::span<const std::uint8_t> bytes) override {
    crc_ = Crc32Update(crc_, bytes);
    return out_.Write(bytes);
  }
  std::uint32_t crc() const { return crc_; }

 private:
  io::ByteSink& out_;
  std::uint32_t crc_ = 0;
};

// The header in front of the stream of `streamSize` bytes whose CRC is `streamCrc`, its
// own CRC field filled in: the CRC over the header and the stream.
std::array<std::uint8_t, kFixedHeaderSize> ArmaxHeader(const CSaveGame& source, std::uint32_t streamSize,
                                                       std::uint32_t streamCrc) {
  const EntryTable& table = *source.entries;
  std::array<std::uint8_t, kFixedHeaderSize> header{};
  std::memcpy(header.data(), armax::kSignature.data(), armax::kSignature.size());
  PutText(header.data() + armax::kFolderOffset, armax::kFolderSize, table[0].Name());
  // Always NUL-terminated, for readers that take it as a C string.
  PutText(header.data() + armax::kTitleOffset, armax::kTitleSize, HeaderTitle(source, armax::kTitleSize - 1));
  bytes::PutU32LE(header.data() + armax::kStreamSizeOffset, streamSize);
  bytes::PutU32LE(header.data() + armax::kFileCountOffset, static_cast<std::uint32_t>(table.size() - 1));
  const uLong crc = crc32_combine(Crc32(header), streamCrc, static_cast<z_off_t>(streamSize));
  bytes::PutU32LE(header.data() + armax::kCrcOffset, static_cast<std::uint32_t>(crc));
  return header;
}

// Writes `source` as an ARMAX file: room for the header, then the payload compressed with
// the encoder the devices use, written as it is made, and last the header with the CRC
// over both. The payload is never held whole; a failure partway leaves no file behind.
LoadResult WriteArmax(const CSaveGame& source, io::ByteSink& out, std::string& refusal) {
  if (!source.entries || source.entries->empty()) return LoadResult::kInvalid;
  const EntryTable& table = *source.entries;
  try {
    std::uint32_t length = 0;
    const LoadResult sized = PayloadLength(table, length, refusal);
    if (sized != LoadResult::kOk) return sized;

    if (!out.ok()) return LoadResult::kOpenFailed;
    out.WillRewrite();
    const std::array<std::uint8_t, kFixedHeaderSize> blank{};
    out.Write(blank);
    StreamToFile sink(out);
    auto state = std::make_unique<LzariEncodeState>();
    LzariStreamEncoder encoder(length, sink, *state);
    EntryDataReader reader;
    const LoadResult fed = FeedPayload(table, source.container.get(), reader, encoder);
    reader.Close();  // before the target, which may be the file read, is replaced
    const std::int64_t n = encoder.Finish();
    if (fed == LoadResult::kOpenFailed) return fed;
    if (n < 0) return out.ok() ? LoadResult::kInvalid : Finished(out.Commit());  // Commit reports the failed write
    out.Rewrite(0, ArmaxHeader(source, static_cast<std::uint32_t>(n), sink.crc()));
    return Finished(out.Commit());
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

LoadResult CMax::Write(io::ByteSink& out) { return WriteArmax(*this, out, refusal); }

LoadResult CMax::WriteConverted(const CSaveGame& source, io::ByteSink& out) {
  return WriteArmax(source, out, refusal);
}
