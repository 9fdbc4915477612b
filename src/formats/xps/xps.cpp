#include "formats/xps/xps.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "formats/output_file.h"
#include "formats/xps/background_sum.h"
#include "io/file.h"
#include "model/bytes.h"
#include "model/entry_data.h"

namespace {

// Each byte's shift is the sum so far mod 24, and working that out from the sum (a
// multiply and two more steps) is most of the time a byte takes. So the residue is
// followed on its own: from residue r, byte b leads to (r + (b << r)) mod 24, one table
// load a byte, while the sum is added up beside it. When the 32-bit sum wraps it loses
// 2^32, which is 16 mod 24: the residue moves on by 8 more (rare, so a branch).
struct ShiftState {
  const ShiftState* next[256];
  const ShiftState* wrapped;
  std::uint32_t shift;
};

using ShiftStates = std::array<ShiftState, 24>;

const ShiftStates& Residues() {
  static const ShiftStates states = [] {
    ShiftStates t{};
    for (std::uint32_t r = 0; r < 24; ++r) {
      t[r].shift = r;
      t[r].wrapped = &t[(r + 8) % 24];
      for (std::uint32_t b = 0; b < 256; ++b) t[r].next[b] = &t[(r + (b << r)) % 24];
    }
    return t;
  }();
  return states;
}

// Once the sum's low three bits are 3 or more, every shift is 3 or more, so those bits
// never change again (a wrap takes away 2^32, which leaves them alone too). The shift is
// then r8 + 8q, where r8 is those bits and q in 0..2 is fixed by the sum mod 3. A byte b
// moves the sum mod 3 by b * 2^shift, that is by b or 2b as r8 is even or odd, and a
// wrap by -1 (2^32 is 1 mod 3); in terms of q that is b or 2b and +1. So q follows
// from a running count that is plain additions of per-byte steps, with no dependence on
// the sum except at a wrap: each byte costs a couple of table loads off the critical path
// and one add, where following the residue costs a dependent load a byte.
constexpr std::size_t kSettledBlock = 256;

struct SettledTables {
  std::uint8_t step[256];                         // how far b moves q
  std::uint8_t shift[3 + 3 * kSettledBlock + 1];  // r8 + 8 * (count mod 3)
};

const std::array<SettledTables, 8>& Settled() {
  static const std::array<SettledTables, 8> tables = [] {
    std::array<SettledTables, 8> t{};
    for (std::uint32_t r8 = 3; r8 < 8; ++r8) {
      const std::uint32_t perUnit = (r8 & 1) ? 1 : 2;
      for (std::uint32_t b = 0; b < 256; ++b)
        t[r8].step[b] = static_cast<std::uint8_t>(b * perUnit % 3);
      for (std::uint32_t x = 0; x < sizeof t[r8].shift; ++x)
        t[r8].shift[x] = static_cast<std::uint8_t>(r8 + 8 * (x % 3));
    }
    return t;
  }();
  return tables;
}

std::uint32_t AddSettled(std::uint32_t sum, const std::uint8_t* p, std::size_t n) {
  const SettledTables& t = Settled()[sum & 7];
  std::uint32_t count = (sum % 24) / 8;
  // Within a block the count grows by at most 3 a byte (2, and 1 for a wrap), which the
  // shift table covers; between blocks it is brought back to 0..2.
  // The empty asm keeps the compiler from folding the wrap into the count with an
  // add-with-carry: that would put the sum back on the count's path, a chain of several
  // steps a byte, where the branch costs a misprediction at each wrap only (one in 12 to
  // 200 bytes, depending on r8 and the data).
  auto step = [&t, &sum, &count](std::uint32_t b) {
    const std::uint32_t add = b << t.shift[count];
    count += t.step[b];
    if (__builtin_add_overflow(sum, add, &sum)) [[unlikely]] {
      asm volatile("" : "+r"(count));
      count += 1;
    }
  };
  while (n > 0) {
    std::size_t block = std::min(n, kSettledBlock);
    n -= block;
    for (; block >= 4; block -= 4, p += 4) {
      step(p[0]);
      step(p[1]);
      step(p[2]);
      step(p[3]);
    }
    for (; block > 0; --block, ++p) step(*p);
    count %= 3;
  }
  return sum;
}

}  // namespace

void XpsChecksum::Add(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = sum_;
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
  // Until the low bits settle (usually within the first few bytes), follow the residue.
  if ((sum & 7) < 3) {
    const ShiftState* state = &Residues()[sum % 24];
    for (; n > 0 && (sum & 7) < 3; --n, ++p) {
      const std::uint32_t b = *p;
      const std::uint32_t next = sum + (b << state->shift);
      state = state->next[b];
      if (next < sum) [[unlikely]]
        state = state->wrapped;
      sum = next;
    }
  }
  if (n > 0) sum = AddSettled(sum, p, n);
  sum_ = sum;
}

std::uint32_t XpsChecksum::Of(std::span<const std::uint8_t> bytes) {
  XpsChecksum c;
  c.Add(bytes);
  return c.value();
}

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
  FileCursor(io::File& file, std::uint64_t length, std::uint64_t position)
      : file_(file), length_(length), position_(position) {}

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

  io::File& file_;
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
  DataAreaWriter(OutputFile& out, std::uint32_t limit) : out_(out), left_(limit) {
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
  bool WriteData(const SaveEntry& e, const std::string& containerPath) {
    DataResult r = reader_.Copy(e, containerPath, [this](std::span<const std::uint8_t> piece) {
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
  OutputFile& out_;
  std::uint32_t left_;
  EntryDataReader reader_;
  XpsChecksum sum_;
  std::unique_ptr<BackgroundSum> behind_;  // sums instead of sum_ when running
};

void WriteU32(OutputFile& out, std::uint32_t v) {
  std::uint8_t b[4];
  bytes::PutU32LE(b, v);
  out.Write(b, sizeof b);
}

void WriteText(OutputFile& out, const std::vector<std::uint8_t>& text) {
  WriteU32(out, static_cast<std::uint32_t>(text.size()));
  out.Write(text.data(), text.size());
}

// Everything in front of the data area. The length words are those of the texts held,
// so the file always agrees with itself.
void WriteFileHeader(OutputFile& out, const XpsFileHeader& fh) {
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

LoadResult CXps::Load(const std::string& path) {
  io::File file = io::File::OpenRead(path);
  if (!file) return LoadResult::kOpenFailed;
  // Only the very first read tells a short file (-2) from an unreadable one (-1).
  std::uint8_t first[4];
  if (!file.ReadExact(first, sizeof first))
    return file.AtEnd() && !file.HasError() ? LoadResult::kTruncated : LoadResult::kReadFailed;
  auto length = file.Length();
  if (!length || !file.Seek(0)) return LoadResult::kReadFailed;

  Parsed parsed;
  try {
    FileCursor in(file, *length, 0);
    LoadResult r = Parse(in, parsed);
    if (r != LoadResult::kOk) return r;
  } catch (const std::bad_alloc&) {
    return LoadResult::kNoMemory;
  }
  file.Close();

  XpsEntryHeader& root = parsed.headers[0];
  if (!EntryMode::IsDirectory(ModeOf(root))) {
    if (!Ask("First entry is not a directory.\nDo you want to load it anyway?", "Invalid format"))
      return LoadResult::kNotDirectory;
    std::memcpy(root.data() + xps::kModeOffset, kRootModeBytes, xps::kModeWordSize);
  }
  FillFromHeader(parsed.table[0], root, xps::kRootNameChars);

  fileHeader = std::move(parsed.fileHeader);
  headers = std::move(parsed.headers);
  entries = std::move(parsed.table);
  sourcePath = path;
  return LoadResult::kOk;
}

LoadResult CXps::Save(const std::string& path) {
  if (!entries || !fileHeader || headers.size() != entries->size()) return LoadResult::kInvalid;
  OutputFile out(path, IsSameContainer(path, sourcePath));
  if (!out.ok()) return LoadResult::kOpenFailed;
  WriteFileHeader(out, *fileHeader);
  DataAreaWriter area(out, fileHeader->dataLength);
  area.WriteHeader(headers[0]);
  for (std::size_t p = 1; p < headers.size(); ++p) {
    const SaveEntry& e = (*entries)[p];
    if (SizeOf(headers[p]) != e.size) return LoadResult::kOpenFailed;
    area.WriteHeader(headers[p]);
    if (!area.WriteData(e, sourcePath)) return LoadResult::kOpenFailed;
  }
  area.WriteChecksum();
  return out.Commit();
}

LoadResult CXps::WriteConvertedFrom(const CSaveGame& source, const std::string& path) {
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

  OutputFile out(path, /*inPlace=*/false);
  if (!out.ok()) return LoadResult::kOpenFailed;
  WriteFileHeader(out, fh);
  DataAreaWriter area(out, fh.dataLength);
  area.WriteHeader(BuildHeader(root, root.Name(), static_cast<std::uint32_t>(table.size() - 1)));
  for (std::size_t p = 1; p < table.size(); ++p) {
    const SaveEntry& e = table[p];
    area.WriteHeader(BuildHeader(e, e.FullName(), 1));
    if (!area.WriteData(e, source.sourcePath)) return LoadResult::kOpenFailed;
  }
  area.WriteChecksum();
  LoadResult r = out.Commit();
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
