#include "formats/psu/psu.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "io/output_file.h"
#include "io/file.h"
#include "model/bytes.h"
#include "model/entry_data.h"
#include "model/icon_sys.h"

namespace {

using psu::Header;

std::uint32_t ModeOf(const Header& h) { return bytes::GetU32LE(h.data() + psu::kModeOffset); }
std::uint32_t SizeOf(const Header& h) { return bytes::GetU32LE(h.data() + psu::kSizeOffset); }

// An entry record from a header: the name keeps what kFolderNameKept or kFileNameKept
// says, title and rawTitle the whole 32-byte field.
void FillFromHeader(SaveEntry& e, const Header& h, std::size_t nameChars) {
  const DirEntry d = DirEntry::Read(h.data());
  e.mode = d.mode;
  e.size = d.length;
  e.created = d.created;
  e.modified = d.modified;
  const auto* name = reinterpret_cast<const std::uint8_t*>(d.name.data());
  SetFieldFromBytes(e.name, name, psu::kNameSize, nameChars);
  SetFieldFromBytes(e.title, name, psu::kNameSize, psu::kNameSize);
  SetFieldFromBytes(e.rawTitle, name, psu::kNameSize, psu::kNameSize);
}

void PutName(Header& h, std::string_view name) {
  DirEntry d = DirEntry::Read(h.data());
  d.SetName(name);
  d.Write(h.data());
}

// A header holding nothing but the model's fields; X-Port's auxiliary words keep their
// low bytes in the first two bytes of the cluster field.
Header BuildHeader(std::uint32_t mode, std::uint32_t size, const EntryTime& created,
                   const EntryTime& modified, std::uint8_t aux1, std::uint8_t aux2,
                   std::string_view name) {
  DirEntry d;
  d.mode = mode;
  d.length = size;
  d.created = created;
  d.modified = modified;
  d.cluster = static_cast<std::uint32_t>(aux1) | (static_cast<std::uint32_t>(aux2) << 8);
  d.SetName(name);
  Header h{};
  d.Write(h.data());
  return h;
}

Header BuildHeader(const SaveEntry& e, std::string_view name) {
  return BuildHeader(e.mode, e.size, e.created, e.modified, static_cast<std::uint8_t>(e.aux1),
                     static_cast<std::uint8_t>(e.aux2), name);
}

// Writes an entry's data and its 0xFF padding; false when the source fails.
bool WriteData(io::ByteSink& out, EntryDataReader& reader, const SaveEntry& e,
               const io::ByteSource* container) {
  DataResult r = reader.Copy(e, container, [&out](std::span<const std::uint8_t> piece) {
    return out.Write(piece);
  });
  if (r != DataResult::kOk) {
    out.Fail();
    return false;
  }
  return out.WriteFill(0xFF, psu::PaddingFor(e.size));
}

// A .psu written as the entries come: the directory's three headers, then each file's
// header, its bytes and their padding. To a sink, or to a file made once the root comes.
class PsuStreamWriter final : public SaveStreamWriter {
 public:
  explicit PsuStreamWriter(std::string path) : path_(std::move(path)) {}
  explicit PsuStreamWriter(io::ByteSink& out) : out_(&out) {}

  bool Root(const SaveEntry& root) override {
    if (!out_) {
      own_ = std::make_unique<io::OutputFile>(path_, /*inPlace=*/false);
      out_ = own_.get();
    }
    const Header dir = BuildHeader(root, root.Name());
    out_->Write(dir.data(), dir.size());
    for (std::string_view dots : {".", ".."}) {
      const Header h = BuildHeader(root.mode, 0, root.created, root.modified, 0, 0, dots);
      out_->Write(h.data(), h.size());
    }
    return out_->ok();
  }
  bool File(const SaveEntry& e) override {
    if (!out_ || left_ != 0) return Fail();
    const Header h = BuildHeader(e, e.FullName());
    size_ = left_ = e.size;
    return out_->Write(h.data(), h.size()) && (left_ != 0 || Pad());
  }
  bool Data(std::span<const std::uint8_t> piece) override {
    if (!out_ || piece.size() > left_) return Fail();
    left_ -= static_cast<std::uint32_t>(piece.size());
    return out_->Write(piece) && (left_ != 0 || Pad());
  }
  bool Failed() const override { return failed_ || (out_ && !out_->ok()); }
  LoadResult Finish() override {
    if (!out_ || left_ != 0) return Fail(), LoadResult::kOpenFailed;
    return Finished(out_->Commit());
  }
  // A file's source could not give all its bytes.
  bool Fail() {
    failed_ = true;
    if (out_) out_->Fail();
    return false;
  }

 private:
  bool Pad() { return out_->WriteFill(0xFF, psu::PaddingFor(size_)); }

  std::string path_;
  std::unique_ptr<io::OutputFile> own_;
  io::ByteSink* out_ = nullptr;
  std::uint32_t size_ = 0;  // the current file's
  std::uint32_t left_ = 0;  // of its bytes still to come
  bool failed_ = false;
};

}  // namespace

bool LooksLikePsu(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  using namespace psu;
  if (fileSize < 3 * kHeaderSize || head.size() < 3 * kHeaderSize) return false;
  auto named = [&head](std::size_t k, std::string_view name) {
    const std::uint8_t* h = head.data() + k * kHeaderSize;
    return EntryMode::IsDirectory(bytes::GetU32LE(h + kModeOffset)) &&
           std::memcmp(h + kNameOffset, name.data(), name.size() + 1) == 0;
  };
  return bytes::GetU32LE(head.data() + kSizeOffset) >= 2 &&
         EntryMode::IsDirectory(bytes::GetU32LE(head.data() + kModeOffset)) && named(1, ".") &&
         named(2, "..");
}

LoadResult CPsu::Read(const io::ByteSource& source) {
  io::SourceReader file(source);
  const std::uint64_t length = source.size();
  Header first;
  if (!file.ReadExact(first.data(), first.size())) return LoadResult::kReadFailed;
  if (!EntryMode::IsDirectory(ModeOf(first))) return LoadResult::kNotDirectory;

  // Every header that the directory announces must fit in the file before any is read.
  std::uint64_t count = SizeOf(first);
  if (count < 2) return LoadResult::kInvalid;
  if ((count + 1) * psu::kHeaderSize > length) return LoadResult::kReadFailed;

  std::vector<Header> newHeaders(count + 1);
  EntryTable table(count - 1);
  newHeaders[0] = first;
  FillFromHeader(table[0], first, kFolderNameKept);

  std::uint64_t position = psu::kHeaderSize;
  for (std::uint64_t k = 1; k <= count; ++k) {
    Header& h = newHeaders[k];
    if (!file.Seek(position) || !file.ReadExact(h.data(), h.size())) return LoadResult::kReadFailed;
    position += psu::kHeaderSize;
    // "." and ".." come first and are directories. Every header after them is a file
    // whose data follows, whatever its mode says: a Directory flag set on a file (the
    // Properties dialog allows it) must not cost the file its data.
    if (k <= 2) {
      if (!EntryMode::IsDirectory(ModeOf(h))) return LoadResult::kInvalid;
      continue;
    }
    SaveEntry& e = table[k - 2];
    FillFromHeader(e, h, kFileNameKept);
    if (position > 0xFFFFFFFFu || position + e.size > length) return LoadResult::kReadFailed;
    e.source = InContainer{position};
    position += e.size + psu::PaddingFor(e.size);
  }

  headers = std::move(newHeaders);
  entries = std::move(table);
  return LoadResult::kOk;
}

LoadResult CPsu::Write(io::ByteSink& out) {
  if (!entries || headers.size() != entries->size() + 2) return LoadResult::kInvalid;
  if (!out.ok()) return LoadResult::kOpenFailed;
  EntryDataReader reader;
  for (std::size_t k = 0; k < headers.size(); ++k) {
    const Header& h = headers[k];
    out.Write(h.data(), h.size());
    if (k < 3) continue;
    const SaveEntry& e = (*entries)[k - 2];
    if (SizeOf(h) != e.size) return LoadResult::kOpenFailed;
    if (!WriteData(out, reader, e, container.get())) return LoadResult::kOpenFailed;
  }
  reader.Close();
  return Finished(out.Commit());
}

LoadResult CPsu::WriteConverted(const CSaveGame& source, io::ByteSink& out) {
  if (!source.entries || source.entries->empty()) return LoadResult::kInvalid;
  const EntryTable& table = *source.entries;
  PsuStreamWriter writer(out);
  if (!writer.Root(table[0])) return LoadResult::kOpenFailed;
  EntryDataReader reader;
  for (std::size_t pos = 1; pos < table.size(); ++pos) {
    const SaveEntry& e = table[pos];
    if (!writer.File(e)) return LoadResult::kOpenFailed;
    const DataResult r = reader.Copy(e, source.container.get(), [&writer](std::span<const std::uint8_t> piece) {
      return writer.Data(piece);
    });
    if (r != DataResult::kOk) return writer.Fail(), LoadResult::kOpenFailed;
  }
  reader.Close();
  return writer.Finish();
}

std::unique_ptr<SaveStreamWriter> CPsu::StreamWriter(const std::string& path) {
  return std::make_unique<PsuStreamWriter>(path);
}

psu::Header* CPsu::HeaderOf(int entryIndex) {
  if (!EntryAt(entryIndex)) return nullptr;
  std::size_t k = entryIndex < 0 ? 0 : static_cast<std::size_t>(entryIndex) + 3;
  return k < headers.size() ? &headers[k] : nullptr;
}

void CPsu::SetName(int entryIndex, std::string_view text) {
  CSaveGame::SetName(entryIndex, text);
  if (Header* h = HeaderOf(entryIndex)) PutName(*h, text);
}

void CPsu::SetMode(int entryIndex, std::uint32_t mode) {
  CSaveGame::SetMode(entryIndex, mode);
  if (Header* h = HeaderOf(entryIndex)) bytes::PutU32LE(h->data() + psu::kModeOffset, mode);
}

void CPsu::SetCreated(int entryIndex, const EntryTime& time) {
  CSaveGame::SetCreated(entryIndex, time);
  if (Header* h = HeaderOf(entryIndex)) time.ToBytes(h->data() + psu::kCreatedOffset);
}

void CPsu::SetModified(int entryIndex, const EntryTime& time) {
  CSaveGame::SetModified(entryIndex, time);
  if (Header* h = HeaderOf(entryIndex)) time.ToBytes(h->data() + psu::kModifiedOffset);
}

void CPsu::RemoveEntry(int fileIndex) {
  if (!ValidFileIndex(fileIndex)) return;
  EraseFile(fileIndex);
  std::size_t k = static_cast<std::size_t>(fileIndex) + 3;
  if (k < headers.size()) {
    std::vector<Header> kept;
    kept.reserve(headers.size() - 1);
    for (std::size_t i = 0; i < headers.size(); ++i)
      if (i != k) kept.push_back(headers[i]);
    headers = std::move(kept);
    bytes::PutU32LE(headers[0].data() + psu::kSizeOffset, SizeOf(headers[0]) - 1);
  }
}

bool CPsu::AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) {
  if (!entries || entries->empty() || headers.empty()) return false;
  auto size = MeasurePcFile(pcPath);
  if (!size) return false;
  EntryTime now = EntryTime::Now();
  const SaveEntry& added = AppendDiskEntry(pcPath, entryName, *size, now);
  std::vector<Header> grown;
  grown.reserve(headers.size() + 1);
  grown.insert(grown.end(), headers.begin(), headers.end());
  grown.push_back(BuildHeader(EntryMode::kNewFile, *size, now, now, 0, 0, added.Name()));
  headers = std::move(grown);
  bytes::PutU32LE(headers[0].data() + psu::kSizeOffset, SizeOf(headers[0]) + 1);
  return true;
}

bool CPsu::ReplaceEntryFromDisk(const std::string& pcPath, int tablePosition) {
  if (!ValidFileIndex(tablePosition - 1)) return false;
  auto size = MeasurePcFile(pcPath);
  if (!size) return false;
  PointAtDisk((*entries)[static_cast<std::size_t>(tablePosition)], pcPath, *size);
  std::size_t k = static_cast<std::size_t>(tablePosition) + 2;
  if (k < headers.size()) bytes::PutU32LE(headers[k].data() + psu::kSizeOffset, *size);
  return true;
}
