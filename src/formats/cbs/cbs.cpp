#include "formats/cbs/cbs.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "formats/ascii_title.h"
#include "formats/cbs/cbs_body.h"
#include "model/entry_data.h"
#include "formats/messages.h"
#include "io/output_file.h"
#include "io/file.h"
#include "model/bytes.h"
#include "model/icon_sys.h"

namespace {

// Name and titles from a 32-byte name field (or the `length` bytes of it before its
// NUL): the name keeps `nameChars` (kFolderNameKept or kFileNameKept), title and rawTitle
// all 32, as in the other families.
void SetNames(SaveEntry& e, const std::uint8_t* field, std::size_t length, std::size_t nameChars) {
  constexpr std::size_t kField = cbs::kFolderSize;
  SetFieldFromBytes(e.name, field, length, nameChars);
  SetFieldFromBytes(e.title, field, length, kField);
  SetFieldFromBytes(e.rawTitle, field, length, kField);
}

void PutText(std::uint8_t* field, std::size_t fieldSize, std::string_view text) {
  std::memset(field, 0, fieldSize);
  std::memcpy(field, text.data(), std::min(text.size(), fieldSize));
}

LoadResult FromInflate(InflateResult r) {
  return r == InflateResult::kNoMemory ? LoadResult::kNoMemory : LoadResult::kInvalid;
}

// The body as it is made: the records' zlib stream, under RC4, straight into the file.
class BodyWriter {
 public:
  explicit BodyWriter(io::ByteSink& out)
      : deflater_([this, &out](std::span<std::uint8_t> piece) {
          rc4_.Apply(piece);
          return out.Write(piece);
        }) {}
  bool Add(std::span<const std::uint8_t> bytes) { return deflater_.Add(bytes); }
  bool Finish() { return deflater_.Finish(); }

 private:
  cbs::Rc4Stream rc4_;
  ZlibDeflater deflater_;
};

// The records of a save's files, back to back, each file's bytes deflated as they are
// read: the save is never held whole. kOpenFailed when an entry's bytes can't all be
// read, or a write fails.
LoadResult WriteRecords(const EntryTable& table, const io::ByteSource* container, BodyWriter& body) {
  EntryDataReader reader;
  for (std::size_t pos = 1; pos < table.size(); ++pos) {
    const SaveEntry& e = table[pos];
    std::array<std::uint8_t, cbs::kRecordHeadSize> head{};
    e.created.ToBytes(head.data() + cbs::kRecordCreatedOffset);
    e.modified.ToBytes(head.data() + cbs::kRecordModifiedOffset);
    bytes::PutU32LE(head.data() + cbs::kRecordSizeOffset, e.size);
    bytes::PutU32LE(head.data() + cbs::kRecordModeOffset, e.mode);
    PutText(head.data() + cbs::kRecordNameOffset, cbs::kRecordNameSize, e.FullName());
    if (!body.Add(head)) return LoadResult::kOpenFailed;
    const DataResult r = reader.Copy(e, container, [&body](std::span<const std::uint8_t> piece) {
      return body.Add(piece);
    });
    if (r != DataResult::kOk) return LoadResult::kOpenFailed;
  }
  return body.Finish() ? LoadResult::kOk : LoadResult::kOpenFailed;
}

// Writes `source` as a CodeBreaker file. The header starts from `kept` (a loaded file's,
// which keeps its title and every byte this program doesn't know) or from what devices
// write, and gets the folder's fields and the sizes; the body's length is filled in once
// it is written.
LoadResult WriteCbs(const CSaveGame& source, const cbs::Header* kept, io::ByteSink& out, std::string& refusal) {
  if (!source.entries || source.entries->empty()) return LoadResult::kInvalid;
  const EntryTable& table = *source.entries;
  const SaveEntry& root = table[0];
  std::uint64_t total = 0;
  for (std::size_t pos = 1; pos < table.size(); ++pos) total += cbs::kRecordHeadSize + table[pos].size;
  if (total > zstream::kMaxInflated) {
    refusal = "This save is too large for a CodeBreaker file: its files come to more than 64 MiB.";
    return LoadResult::kInvalid;
  }
  try {
    cbs::Header h{};
    if (kept) {
      h = *kept;
    } else {
      std::memcpy(h.data(), cbs::kMagic.data(), cbs::kMagic.size());
      bytes::PutU32LE(h.data() + cbs::kVersionOffset, cbs::kVersion);
      // Always NUL-terminated, for readers that take it as a C string.
      PutText(h.data() + cbs::kTitleOffset, cbs::kTitleSize,
              HeaderTitle(source, cbs::kTitleSize - 1));
    }
    bytes::PutU32LE(h.data() + cbs::kBodyOffsetOffset, static_cast<std::uint32_t>(cbs::kHeaderSize));
    bytes::PutU32LE(h.data() + cbs::kInflatedSizeOffset, static_cast<std::uint32_t>(total));
    PutText(h.data() + cbs::kFolderOffset, cbs::kFolderSize, root.Name());
    root.created.ToBytes(h.data() + cbs::kCreatedOffset);
    root.modified.ToBytes(h.data() + cbs::kModifiedOffset);
    bytes::PutU32LE(h.data() + cbs::kModeOffset, root.mode);

    if (!out.ok()) return LoadResult::kOpenFailed;
    out.WillRewrite();
    out.Write(h.data(), h.size());
    BodyWriter body(out);
    const LoadResult written = WriteRecords(table, source.container.get(), body);
    if (written != LoadResult::kOk) {
      out.Fail();
      return written;
    }
    bytes::PutU32LE(h.data() + cbs::kFileLengthOffset, static_cast<std::uint32_t>(out.written()));
    out.Rewrite(0, h);
    return Finished(out.Commit());
  } catch (const std::bad_alloc&) {
    return LoadResult::kNoMemory;
  }
}

}  // namespace

bool LooksLikeCbs(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  return fileSize >= cbs::kHeaderSize && head.size() >= cbs::kMagic.size() &&
         std::memcmp(head.data(), cbs::kMagic.data(), cbs::kMagic.size()) == 0;
}

LoadResult CCbs::Read(const io::ByteSource& source) {
  io::SourceReader file(source);
  cbs::Header h;
  if (!file.ReadExact(h.data(), h.size())) {
    refusal = "The file is shorter than a CodeBreaker save's header.";
    return LoadResult::kReadFailed;
  }
  const std::uint64_t length = source.size();
  if (std::memcmp(h.data(), cbs::kMagic.data(), cbs::kMagic.size()) != 0) return LoadResult::kInvalid;

  // Every size is checked against the cap and the file before the body is read.
  const std::uint32_t bodyStart = bytes::GetU32LE(h.data() + cbs::kBodyOffsetOffset);
  const std::uint32_t inflated = bytes::GetU32LE(h.data() + cbs::kInflatedSizeOffset);
  if (bodyStart < cbs::kHeaderSize || bodyStart > length) return LoadResult::kInvalid;
  const std::uint64_t bodyLength = length - bodyStart;
  if (inflated > zstream::kMaxInflated || bodyLength > cbs::MaxBodyFor(inflated))
    return LoadResult::kInvalid;

  std::vector<std::uint8_t> body(static_cast<std::size_t>(bodyLength));
  if (!file.Seek(bodyStart) || !file.ReadExact(body.data(), body.size())) return LoadResult::kReadFailed;
  std::vector<std::uint8_t> records;
  const InflateResult inflate = cbs::DecodeBody(body, inflated, records);
  if (inflate == InflateResult::kRefused) refusal = messages::TooManyFilesRefusal("CodeBreaker file");
  if (inflate != InflateResult::kOk) return FromInflate(inflate);
  body = {};
  const std::optional<std::vector<cbs::Record>> files = cbs::ParseRecords(records);
  if (!files) return LoadResult::kInvalid;

  EntryTable table(files->size() + 1);
  SaveEntry& root = table[0];
  root.mode = bytes::GetU32LE(h.data() + cbs::kModeOffset);
  if (root.mode == 0) root.mode = EntryMode::kNewDirectory;
  root.size = static_cast<std::uint32_t>(files->size() + 2);
  root.created = EntryTime::FromBytes(h.data() + cbs::kCreatedOffset);
  root.modified = EntryTime::FromBytes(h.data() + cbs::kModifiedOffset);
  SetNames(root, h.data() + cbs::kFolderOffset, cbs::kFolderSize, kFolderNameKept);
  for (std::size_t k = 0; k < files->size(); ++k) {
    const cbs::Record& r = (*files)[k];
    SaveEntry& e = table[k + 1];
    e.mode = r.mode;
    e.size = static_cast<std::uint32_t>(r.data.size());
    e.created = EntryTime::FromBytes(r.created.data());
    e.modified = EntryTime::FromBytes(r.modified.data());
    SetNames(e, reinterpret_cast<const std::uint8_t*>(r.name.data()), r.name.size(), kFileNameKept);
    e.source = InMemory{std::vector<std::uint8_t>(r.data.begin(), r.data.end())};
  }
  header = h;
  entries = std::move(table);
  return LoadResult::kOk;
}

LoadResult CCbs::Write(io::ByteSink& out) { return WriteCbs(*this, header ? &*header : nullptr, out, refusal); }

LoadResult CCbs::WriteConverted(const CSaveGame& source, io::ByteSink& out) {
  return WriteCbs(source, nullptr, out, refusal);
}
