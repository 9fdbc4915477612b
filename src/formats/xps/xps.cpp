#include "formats/xps/xps.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "io/output_file.h"
#include "formats/xps/background_sum.h"
#include "io/file.h"
#include "model/bytes.h"
#include "model/entry_data.h"

namespace {

constexpr std::uint32_t kMaxOffset = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint8_t kRootModeBytes[xps::kModeWordSize] = {0x84, 0x27, 0x00, 0x00};
constexpr std::uint8_t kFileModeBytes[xps::kModeWordSize] = {0x84, 0x97, 0x00, 0x00};

std::uint16_t HeaderLengthOf(const XpsEntryHeader& h) {
  return bytes::GetU16LE(h.data() + xps::kHeaderLengthOffset);
}
std::uint32_t SizeOf(const XpsEntryHeader& h) {
  return bytes::GetU32LE(h.data() + xps::kSizeOffset);
}
std::uint16_t ModeOf(const XpsEntryHeader& h) {
  return bytes::GetU16BE(h.data() + xps::kModeOffset);
}

void PutSize(XpsEntryHeader& h, std::uint32_t size) {
  bytes::PutU32LE(h.data() + xps::kSizeOffset, size);
}

void PutMode(XpsEntryHeader& h, std::uint32_t mode) {
  std::uint8_t* p = h.data() + xps::kModeOffset;
  bytes::PutU16BE(p, static_cast<std::uint16_t>(mode));
  p[2] = 0;
  p[3] = 0;
}

// A text into a NUL-padded header field, cut to maxChars and at the text's first NUL.
void PutText(XpsEntryHeader& h, std::size_t offset, std::size_t fieldSize, std::string_view text,
             std::size_t maxChars) {
  std::uint8_t* field = h.data() + offset;
  std::memset(field, 0, fieldSize);
  std::size_t n = std::min({text.size(), maxChars, text.find('\0')});
  std::memcpy(field, text.data(), n);
}

void PutName(XpsEntryHeader& h, std::string_view name) {
  PutText(h, xps::kNameOffset, xps::kNameSize, name, kNameChars);
}

void FillFromHeader(SaveEntry& e, const XpsEntryHeader& h, std::size_t nameChars) {
  e.mode = ModeOf(h);
  e.size = SizeOf(h);
  e.created = EntryTime::FromBytes(h.data() + xps::kCreatedOffset);
  e.modified = EntryTime::FromBytes(h.data() + xps::kModifiedOffset);
  SetFieldFromBytes(e.name, h.data() + xps::kNameOffset, xps::kNameSize, nameChars);
  SetFieldFromBytes(e.title, h.data() + xps::kTitleOffset, xps::kTitleSize, xps::kTitleSize);
  SetFieldFromBytes(e.rawTitle, h.data() + xps::kRawTitleOffset, xps::kTitleSize, xps::kTitleSize);
  e.aux1 = bytes::GetU32LE(h.data() + xps::kAux1Offset);
  e.aux2 = bytes::GetU32LE(h.data() + xps::kAux2Offset);
}

// Reads the file front to back without ever passing its end. The first failure sticks:
// -6 when a length from the file reaches past what the file holds, -1 when bytes that
// are there can't be read.
class FileCursor {
 public:
  FileCursor(const io::ByteSource& file, std::uint64_t position)
      : file_(file, position), length_(file.size()), position_(position) {}

  LoadResult status() const { return status_; }
  bool ok() const { return status_ == LoadResult::kOk; }
  std::uint64_t position() const { return position_; }
  std::uint64_t left() const { return length_ - position_; }

  bool Read(void* out, std::size_t n) {
    if (!Claim(n)) return false;
    if (!file_.ReadExact(out, n)) return Fail(LoadResult::kReadFailed);
    position_ += n;
    return true;
  }
  std::uint32_t U32() {
    std::uint8_t b[4] = {};
    return Read(b, sizeof b) ? bytes::GetU32LE(b) : 0;
  }
  // A length-prefixed text.
  void Text(std::uint32_t& length, std::vector<std::uint8_t>& text) {
    length = U32();
    if (!ok()) return;
    if (length > xps::kMaxTextLength || !Claim(length)) {
      Fail(LoadResult::kInvalid);
      return;
    }
    text.resize(length);
    Read(text.data(), length);
  }
  // The file is damaged in a way no length check sees.
  bool Refuse() { return Fail(LoadResult::kInvalid); }
  bool Skip(std::uint64_t n) {
    if (!Claim(n)) return false;
    position_ += n;
    if (!file_.Seek(position_)) return Fail(LoadResult::kReadFailed);
    return true;
  }

 private:
  bool Claim(std::uint64_t n) {
    if (!ok()) return false;
    if (n > left()) return Fail(LoadResult::kInvalid);
    return true;
  }
  bool Fail(LoadResult r) {
    if (ok()) status_ = r;
    return false;
  }

  io::SourceReader file_;
  std::uint64_t length_;
  std::uint64_t position_;
  LoadResult status_ = LoadResult::kOk;
};

}  // namespace

bool LooksLikeXps(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  if (head.size() < 4 + xps::kMagic.size() || fileSize < head.size()) return false;
  std::uint32_t length = bytes::GetU32LE(head.data());
  return length >= xps::kMagic.size() && length <= 64 &&
         std::memcmp(head.data() + 4, xps::kMagic.data(), xps::kMagic.size()) == 0;
}

namespace {

// The magic, taken as text up to its first NUL, must be exactly "SharkPortSave".
bool MagicMatches(const std::vector<std::uint8_t>& magic) {
  std::size_t n = 0;
  while (n < magic.size() && magic[n] != 0) ++n;
  return std::string_view(reinterpret_cast<const char*>(magic.data()), n) == xps::kMagic;
}

// What a successful read of the file produces, before it replaces the object's state.
struct Parsed {
  XpsFileHeader fileHeader;
  std::vector<XpsEntryHeader> headers;
  EntryTable table;
};

// Reads a header's 250 bytes and skips the padding of a longer one, lowering dataLength
// by the padding: the data area written back has none.
bool ReadHeader(FileCursor& in, XpsEntryHeader& h, std::uint32_t& dataLength) {
  if (!in.Read(h.data(), h.size())) return false;
  std::uint16_t length = HeaderLengthOf(h);
  if (length > xps::kHeaderSize) {
    std::uint32_t excess = length - static_cast<std::uint32_t>(xps::kHeaderSize);
    if (!in.Skip(excess)) return false;
    // Padding counted in no data area at all: a dataLength that can't be right.
    if (excess > dataLength) return in.Refuse();
    dataLength -= excess;
  }
  return true;
}

LoadResult Parse(FileCursor& in, Parsed& out) {
  XpsFileHeader& fh = out.fileHeader;
  in.Text(fh.magicLength, fh.magic);
  if (!in.ok()) return in.status();
  if (!MagicMatches(fh.magic)) return LoadResult::kInvalid;
  fh.zeroWord = in.U32();
  if (in.ok() && fh.zeroWord != 0) return LoadResult::kInvalid;
  in.Text(fh.titleLength, fh.titleText);
  in.Text(fh.subtitleLength, fh.subtitleText);
  in.Text(fh.commentLength, fh.commentText);
  fh.dataLength = in.U32();

  XpsEntryHeader root{};
  ReadHeader(in, root, fh.dataLength);
  if (!in.ok()) return in.status();
  std::uint32_t rootSize = SizeOf(root);
  if (rootSize < 2) return LoadResult::kInvalid;
  // Each file header takes at least 250 bytes: a count the file can't hold is refused
  // before anything is allocated for it.
  std::uint64_t fileCount = rootSize - 2u;
  if (fileCount > in.left() / xps::kHeaderSize) return LoadResult::kInvalid;

  out.headers.resize(fileCount + 1);
  out.table.resize(fileCount + 1);
  out.headers[0] = root;
  for (std::size_t p = 1; p <= fileCount; ++p) {
    XpsEntryHeader& h = out.headers[p];
    if (!ReadHeader(in, h, fh.dataLength)) return in.status();
    std::uint8_t* modeWord = h.data() + xps::kModeOffset;
    if (std::all_of(modeWord, modeWord + xps::kModeWordSize, [](std::uint8_t b) { return b == 0; }))
      std::memcpy(modeWord, kFileModeBytes, xps::kModeWordSize);
    SaveEntry& e = out.table[p];
    FillFromHeader(e, h, xps::kFileNameChars);
    if (in.position() > kMaxOffset) return LoadResult::kInvalid;
    e.source = InContainer{in.position()};
    if (!in.Skip(e.size)) return in.status();
  }
  return LoadResult::kOk;
}

// Writes the data area, summing its first `limit` bytes (the kept dataLength) as they go
// out; a limit beyond what is written sums only the bytes that exist.
class DataAreaWriter {
  // Below this the sum takes under a millisecond, less than starting a thread is worth.
  static constexpr std::uint32_t kSumBehindFrom = 1024 * 1024;

 public:
  DataAreaWriter(io::ByteSink& out, std::uint32_t limit) : out_(out), left_(limit) {
    if (limit >= kSumBehindFrom) behind_ = BackgroundSum::Start();
  }

  void Write(std::span<const std::uint8_t> piece) {
    std::size_t counted = std::min<std::size_t>(piece.size(), left_);
    if (behind_)
      behind_->Add(piece.first(counted));
    else
      sum_.Add(piece.first(counted));
    left_ -= static_cast<std::uint32_t>(counted);
    out_.Write(piece);
  }
  // Every header goes out 250 bytes long, whatever length it was loaded with.
  void WriteHeader(XpsEntryHeader h) {
    bytes::PutU16LE(h.data() + xps::kHeaderLengthOffset,
                    static_cast<std::uint16_t>(xps::kHeaderSize));
    Write(h);
  }
  // False (and the output marked failed) when the entry's bytes can't all be read.
  bool WriteData(const SaveEntry& e, const io::ByteSource* container) {
    DataResult r = reader_.Copy(e, container, [this](std::span<const std::uint8_t> piece) {
      Write(piece);
      return out_.ok();
    });
    if (r != DataResult::kOk) {
      out_.Fail();
      return false;
    }
    return true;
  }
  // The last step: every entry's data is out, so the sources are let go before the
  // target (which may be one of them) is replaced.
  void WriteChecksum() {
    reader_.Close();
    std::uint8_t b[4];
    if (behind_) out_.StartWriteBack();  // the disk works while the sum catches up
    bytes::PutU32LE(b, behind_ ? behind_->Finish() : sum_.value());
    out_.Write(b, sizeof b);
  }

 private:
  io::ByteSink& out_;
  std::uint32_t left_;
  EntryDataReader reader_;
  XpsChecksum sum_;
  std::unique_ptr<BackgroundSum> behind_;  // sums instead of sum_ when running
};

void WriteU32(io::ByteSink& out, std::uint32_t v) {
  std::uint8_t b[4];
  bytes::PutU32LE(b, v);
  out.Write(b, sizeof b);
}

void WriteText(io::ByteSink& out, const std::vector<std::uint8_t>& text) {
  WriteU32(out, static_cast<std::uint32_t>(text.size()));
  out.Write(text.data(), text.size());
}

// Everything in front of the data area. The length words are those of the texts held,
// so the file always agrees with itself.
void WriteFileHeader(io::ByteSink& out, const XpsFileHeader& fh) {
  WriteText(out, fh.magic);
  WriteU32(out, fh.zeroWord);
  WriteText(out, fh.titleText);
  WriteText(out, fh.subtitleText);
  WriteText(out, fh.commentText);
  WriteU32(out, fh.dataLength);
}

std::vector<std::uint8_t> TextBytes(std::string_view s) { return {s.begin(), s.end()}; }

// The header of an entry converted from any save: nothing but the model's fields.
XpsEntryHeader BuildHeader(const SaveEntry& e, std::string_view name, std::uint32_t itemCount) {
  XpsEntryHeader h{};
  bytes::PutU16LE(h.data() + xps::kHeaderLengthOffset,
                  static_cast<std::uint16_t>(xps::kHeaderSize));
  PutName(h, name);
  PutSize(h, e.size);
  bytes::PutU32LE(h.data() + xps::kAux2Offset, e.aux2);
  bytes::PutU32LE(h.data() + xps::kAux1Offset, e.aux1);
  PutMode(h, e.mode);
  e.created.ToBytes(h.data() + xps::kCreatedOffset);
  e.modified.ToBytes(h.data() + xps::kModifiedOffset);
  bytes::PutU32LE(h.data() + xps::kItemCountOffset, itemCount);
  PutText(h, xps::kTitleOffset, xps::kTitleSize, e.Title(), xps::kTitleSize);
  PutText(h, xps::kRawTitleOffset, xps::kTitleSize, e.RawTitle(), xps::kTitleSize);
  return h;
}

}  // namespace

LoadResult CXps::Read(const io::ByteSource& source) {
  // Only the very first read tells a short file (kTruncated) from an unreadable one.
  std::uint8_t first[4];
  if (source.size() < sizeof first) return LoadResult::kTruncated;
  if (!source.ReadAt(0, first)) return LoadResult::kReadFailed;

  Parsed parsed;
  FileCursor in(source, 0);
  LoadResult r = Parse(in, parsed);
  if (r != LoadResult::kOk) return r;

  XpsEntryHeader& root = parsed.headers[0];
  if (!EntryMode::IsDirectory(ModeOf(root))) {
    const std::optional<bool> yes = Answer(xps::kNotDirectoryQuestion, xps::kNotDirectoryCaption);
    if (!yes) return LoadResult::kNeedsAnswer;
    if (!*yes) return LoadResult::kNotDirectory;
    std::memcpy(root.data() + xps::kModeOffset, kRootModeBytes, xps::kModeWordSize);
  }
  FillFromHeader(parsed.table[0], root, xps::kRootNameChars);

  fileHeader = std::move(parsed.fileHeader);
  headers = std::move(parsed.headers);
  entries = std::move(parsed.table);
  return LoadResult::kOk;
}

LoadResult CXps::Write(io::ByteSink& out) {
  if (!entries || !fileHeader || headers.size() != entries->size()) return LoadResult::kInvalid;
  if (!out.ok()) return LoadResult::kOpenFailed;
  WriteFileHeader(out, *fileHeader);
  DataAreaWriter area(out, fileHeader->dataLength);
  area.WriteHeader(headers[0]);
  for (std::size_t p = 1; p < headers.size(); ++p) {
    const SaveEntry& e = (*entries)[p];
    if (SizeOf(headers[p]) != e.size) return LoadResult::kOpenFailed;
    area.WriteHeader(headers[p]);
    if (!area.WriteData(e, container.get())) return LoadResult::kOpenFailed;
  }
  area.WriteChecksum();
  return Finished(out.Commit());
}

LoadResult CXps::WriteConverted(const CSaveGame& source, io::ByteSink& out) {
  if (!source.entries || source.entries->empty()) return LoadResult::kInvalid;
  const EntryTable& table = *source.entries;
  const SaveEntry& root = table[0];

  XpsFileHeader fh;
  fh.magic = TextBytes(xps::kMagic);
  fh.magicLength = static_cast<std::uint32_t>(fh.magic.size());
  fh.titleText = TextBytes(root.Title());
  fh.titleLength = static_cast<std::uint32_t>(fh.titleText.size());
  fh.subtitleText = fh.titleText;
  fh.subtitleLength = fh.titleLength;
  fh.commentText = TextBytes(xps::kSignature);
  fh.commentLength = static_cast<std::uint32_t>(fh.commentText.size());
  // The data of an entry marked as a directory is written but not counted.
  std::uint64_t dataLength = 0;
  for (const SaveEntry& e : table)
    dataLength += xps::kHeaderSize + (EntryMode::IsDirectory(e.mode) ? 0 : e.size);
  if (dataLength > kMaxOffset) return LoadResult::kInvalid;
  fh.dataLength = static_cast<std::uint32_t>(dataLength);

  if (!out.ok()) return LoadResult::kOpenFailed;
  WriteFileHeader(out, fh);
  DataAreaWriter area(out, fh.dataLength);
  area.WriteHeader(BuildHeader(root, root.Name(), static_cast<std::uint32_t>(table.size() - 1)));
  for (std::size_t p = 1; p < table.size(); ++p) {
    const SaveEntry& e = table[p];
    area.WriteHeader(BuildHeader(e, e.FullName(), 1));
    if (!area.WriteData(e, source.container.get())) return LoadResult::kOpenFailed;
  }
  area.WriteChecksum();
  LoadResult r = Finished(out.Commit());
  // A converter object keeps the header it wrote; one holding a save of its own keeps
  // the header its Save writes back.
  if (!entries) fileHeader = std::move(fh);
  return r;
}

XpsEntryHeader* CXps::HeaderOf(int entryIndex) {
  if (!EntryAt(entryIndex)) return nullptr;
  std::size_t p = static_cast<std::size_t>(entryIndex + 1);
  return p < headers.size() ? &headers[p] : nullptr;
}

void CXps::SetName(int entryIndex, std::string_view text) {
  CSaveGame::SetName(entryIndex, text);
  if (XpsEntryHeader* h = HeaderOf(entryIndex)) PutName(*h, text);
}

void CXps::SetMode(int entryIndex, std::uint32_t mode) {
  CSaveGame::SetMode(entryIndex, mode);
  if (XpsEntryHeader* h = HeaderOf(entryIndex)) PutMode(*h, mode);
}

void CXps::SetCreated(int entryIndex, const EntryTime& time) {
  CSaveGame::SetCreated(entryIndex, time);
  if (XpsEntryHeader* h = HeaderOf(entryIndex)) time.ToBytes(h->data() + xps::kCreatedOffset);
}

void CXps::SetModified(int entryIndex, const EntryTime& time) {
  CSaveGame::SetModified(entryIndex, time);
  if (XpsEntryHeader* h = HeaderOf(entryIndex)) time.ToBytes(h->data() + xps::kModifiedOffset);
}

void CXps::RemoveEntry(int fileIndex) {
  if (!ValidFileIndex(fileIndex)) return;
  std::size_t p = static_cast<std::size_t>(fileIndex) + 1;
  const SaveEntry& gone = (*entries)[p];
  std::uint32_t removed = static_cast<std::uint32_t>(xps::kHeaderSize) +
                          (EntryMode::IsDirectory(gone.mode) ? 0 : gone.size);
  EraseFile(fileIndex);
  if (p < headers.size()) {
    std::vector<XpsEntryHeader> kept;
    kept.reserve(headers.size() - 1);
    for (std::size_t i = 0; i < headers.size(); ++i)
      if (i != p) kept.push_back(headers[i]);
    headers = std::move(kept);
    PutSize(headers[0], SizeOf(headers[0]) - 1);
  }
  if (fileHeader) fileHeader->dataLength -= removed;
}

bool CXps::AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) {
  if (!entries || entries->empty() || headers.empty()) return false;
  auto size = MeasurePcFile(pcPath);
  if (!size) return false;
  EntryTime now = EntryTime::Now();
  const SaveEntry& added = AppendDiskEntry(pcPath, entryName, *size, now);

  XpsEntryHeader h{};
  bytes::PutU16LE(h.data() + xps::kHeaderLengthOffset,
                  static_cast<std::uint16_t>(xps::kHeaderSize));
  PutName(h, added.Name());
  PutSize(h, *size);
  std::memcpy(h.data() + xps::kModeOffset, kFileModeBytes, xps::kModeWordSize);
  now.ToBytes(h.data() + xps::kCreatedOffset);
  now.ToBytes(h.data() + xps::kModifiedOffset);
  now.ToBytes(h.data() + xps::kExtraTimeOffset);

  std::vector<XpsEntryHeader> grown;
  grown.reserve(headers.size() + 1);
  grown.insert(grown.end(), headers.begin(), headers.end());
  grown.push_back(h);
  headers = std::move(grown);
  PutSize(headers[0], SizeOf(headers[0]) + 1);
  if (fileHeader) fileHeader->dataLength += static_cast<std::uint32_t>(xps::kHeaderSize) + *size;
  return true;
}

bool CXps::ReplaceEntryFromDisk(const std::string& pcPath, int tablePosition) {
  if (!ValidFileIndex(tablePosition - 1)) return false;
  auto size = MeasurePcFile(pcPath);
  if (!size) return false;
  std::size_t p = static_cast<std::size_t>(tablePosition);
  std::uint32_t oldSize = (*entries)[p].size;
  PointAtDisk((*entries)[p], pcPath, *size);
  if (p < headers.size()) PutSize(headers[p], *size);
  if (fileHeader) fileHeader->dataLength = fileHeader->dataLength - oldSize + *size;
  return true;
}
