#include "formats/psv/psv.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "formats/entry_bytes.h"
#include "formats/messages.h"
#include "io/output_file.h"
#include "formats/psv/psv_ps1.h"
#include "io/file.h"
#include "model/bytes.h"
#include "model/icon_sys.h"

namespace {

constexpr std::uint64_t kCardBlock = 1024;
constexpr std::uint64_t kCardEntrySize = 512;  // one directory entry on the card
// Where icon.sys names its three icon files, 64 bytes each.
constexpr std::size_t kIconNamesOffset = 0x104;
constexpr std::size_t kIconNameSize = 64;
constexpr std::size_t kHashChunk = std::size_t{1} << 20;

constexpr std::uint64_t RoundUp(std::uint64_t n, std::uint64_t unit) {
  return (n + unit - 1) / unit * unit;
}

// A mode word; the form with the mode in the upper 16 bits is taken down to it.
std::uint32_t ModeOf(const std::uint8_t* word) {
  const std::uint32_t w = bytes::GetU32LE(word);
  return (w & 0xFFFF) == 0 ? w >> 16 : w;
}

void FillFromRecord(SaveEntry& e, const std::uint8_t* record, psv::NameField& field, std::size_t nameChars) {
  e.created = EntryTime::FromBytes(record + psv::kRecordCreatedOffset);
  e.modified = EntryTime::FromBytes(record + psv::kRecordModifiedOffset);
  e.mode = ModeOf(record + psv::kRecordModeOffset);
  const std::uint8_t* name = record + psv::kRecordNameOffset;
  std::memcpy(field.data(), name, field.size());
  // The name keeps what kFolderNameKept or kFileNameKept says, title and rawTitle all 32,
  // as in the other families.
  SetFieldFromBytes(e.name, name, psv::kRecordNameSize, nameChars);
  SetFieldFromBytes(e.title, name, psv::kRecordNameSize, psv::kRecordNameSize);
  SetFieldFromBytes(e.rawTitle, name, psv::kRecordNameSize, psv::kRecordNameSize);
}

// The signature the file's own seed gives it, computed over the whole file as read; none
// when the crypto library fails.
std::optional<psv::Signature> FileSignature(const io::ByteSource& file, std::uint64_t length,
                                            const std::uint8_t* header, bool& readOk) {
  psv::Seed seed;
  std::copy_n(header + psv::kSeedOffset, seed.size(), seed.begin());
  psv::Signer signer(psv::SaveKind::kPs2, seed);
  if (const std::uint8_t* all = file.data()) {
    readOk = true;
    signer.Update(std::span<const std::uint8_t>(all, static_cast<std::size_t>(length)));
    return signer.Finish();
  }
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(length, kHashChunk)));
  readOk = true;
  for (std::uint64_t done = 0; readOk && done < length;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
    readOk = file.ReadAt(done, std::span(buffer.data(), n));
    if (readOk) signer.Update(std::span<const std::uint8_t>(buffer.data(), n));
    done += n;
  }
  return signer.Finish();
}

// A name field: the name kept as loaded (bytes after its NUL included) while the entry
// still has that name, else the name and zeros.
psv::NameField NameFieldFor(std::string_view name, const psv::NameField* kept) {
  psv::NameField field{};
  if (kept) {
    const auto* stored = reinterpret_cast<const char*>(kept->data());
    const std::string_view keptName(stored, std::find(stored, stored + kept->size(), '\0') - stored);
    if (keptName == name) return *kept;
  }
  std::memcpy(field.data(), name.data(), std::min(name.size(), field.size()));
  return field;
}

void PutRecordTimes(std::uint8_t* record, const SaveEntry& e) {
  e.created.ToBytes(record + psv::kRecordCreatedOffset);
  e.modified.ToBytes(record + psv::kRecordModifiedOffset);
}

// The file name an icon.sys slot names, up to its NUL.
std::string_view IconName(std::span<const std::uint8_t> iconSys, std::size_t slot) {
  const auto* p = reinterpret_cast<const char*>(iconSys.data() + kIconNamesOffset + slot * kIconNameSize);
  return std::string_view(p, std::find(p, p + kIconNameSize, '\0') - p);
}

// Fills in where icon.sys and the icons it names lie in the finished file.
void PutIconPositions(std::vector<std::uint8_t>& file, const EntryTable& table,
                      std::span<const std::uint64_t> offsets) {
  std::size_t sys = 0;
  for (std::size_t pos = 1; pos < table.size() && sys == 0; ++pos)
    if (table[pos].FullName() == kIconSysName) sys = pos;
  if (sys == 0) return;
  const SaveEntry& iconSys = table[sys];
  bytes::PutU32LE(file.data() + psv::kIconSysOffset, static_cast<std::uint32_t>(offsets[sys]));
  bytes::PutU32LE(file.data() + psv::kIconSysOffset + 4, iconSys.size);
  const std::span<const std::uint8_t> sysBytes(file.data() + offsets[sys], iconSys.size);
  if (iconSys.size != kIconSysSize || std::memcmp(sysBytes.data(), "PS2D", 4) != 0) return;
  for (std::size_t slot = 0; slot < 3; ++slot) {
    const std::string_view wanted = IconName(sysBytes, slot);
    for (std::size_t pos = 1; pos < table.size(); ++pos) {
      if (wanted.empty() || table[pos].FullName() != wanted) continue;
      std::uint8_t* p = file.data() + psv::kIconsOffset + slot * 8;
      bytes::PutU32LE(p, static_cast<std::uint32_t>(offsets[pos]));
      bytes::PutU32LE(p + 4, table[pos].size);
      break;
    }
  }
}

// Writes `source` as a PS3 export, put together in memory: records, data, icon positions,
// then the content seed and the signature.
LoadResult WritePsv(const CSaveGame& source, const std::vector<psv::NameField>* kept, io::ByteSink& out,
                    std::string& refusal) {
  if (!source.entries || source.entries->empty()) return LoadResult::kInvalid;
  const EntryTable& table = *source.entries;
  if (kept && kept->size() != table.size()) kept = nullptr;
  const std::size_t files = table.size() - 1;

  std::vector<std::uint64_t> offsets(table.size(), 0);
  std::vector<std::uint32_t> sizes;
  std::uint64_t end = psv::kFileRecordsOffset + std::uint64_t{files} * psv::kFileRecordSize;
  for (std::size_t pos = 1; pos < table.size(); ++pos) {
    offsets[pos] = RoundUp(end, psv::kDataAlignment);
    end = offsets[pos] + table[pos].size;
    sizes.push_back(table[pos].size);
  }
  end = RoundUp(end, psv::kDataAlignment);
  if (end > psv::kMaxFileSize) {
    refusal = "This save is too large for a PS3 export: it would take more than 64 MiB.";
    return LoadResult::kInvalid;
  }

  try {
    std::vector<std::uint8_t> file(static_cast<std::size_t>(end), 0);
    std::uint8_t* p = file.data();
    std::memcpy(p, psv::kMagic.data(), psv::kMagic.size());
    bytes::PutU32LE(p + psv::kInfoSizeOffset, psv::kPs2InfoSize);
    bytes::PutU32LE(p + psv::kKindOffset, static_cast<std::uint32_t>(psv::SaveKind::kPs2));
    bytes::PutU32LE(p + psv::kDisplaySizeOffset, static_cast<std::uint32_t>(psv::DisplaySize(sizes)));
    bytes::PutU32LE(p + psv::kFileCountOffset, static_cast<std::uint32_t>(files));

    const SaveEntry& root = table[0];
    std::uint8_t* folder = p + psv::kFolderRecordOffset;
    PutRecordTimes(folder, root);
    bytes::PutU32LE(folder + psv::kRecordSizeOffset, static_cast<std::uint32_t>(files + 2));
    bytes::PutU32LE(folder + psv::kRecordModeOffset, root.mode);
    psv::NameField name = NameFieldFor(root.Name(), kept ? &(*kept)[0] : nullptr);
    std::memcpy(folder + psv::kRecordNameOffset, name.data(), name.size());

    EntryDataReader reader;
    for (std::size_t pos = 1; pos < table.size(); ++pos) {
      const SaveEntry& e = table[pos];
      std::uint8_t* record = p + psv::kFileRecordsOffset + (pos - 1) * psv::kFileRecordSize;
      PutRecordTimes(record, e);
      bytes::PutU32LE(record + psv::kRecordSizeOffset, e.size);
      bytes::PutU32LE(record + psv::kRecordModeOffset, e.mode);
      name = NameFieldFor(e.FullName(), kept ? &(*kept)[pos] : nullptr);
      std::memcpy(record + psv::kRecordNameOffset, name.data(), name.size());
      bytes::PutU32LE(record + psv::kRecordDataOffset, static_cast<std::uint32_t>(offsets[pos]));
      const std::span<std::uint8_t> data(p + offsets[pos], e.size);
      if (CopyEntryInto(reader, e, source.container.get(), data) != DataResult::kOk)
        return LoadResult::kOpenFailed;
    }
    reader.Close();
    PutIconPositions(file, table, offsets);

    return psv::SealAndWrite(file, out);
  } catch (const std::bad_alloc&) {
    return LoadResult::kNoMemory;
  }
}

}  // namespace

LoadResult psv::SealAndWrite(std::vector<std::uint8_t>& file, io::ByteSink& out) {
  const std::optional<psv::Seed> seed = psv::ContentSeed(file);
  if (!seed) return LoadResult::kInvalid;
  std::copy(seed->begin(), seed->end(), file.begin() + psv::kSeedOffset);
  const std::optional<psv::Signature> signature = psv::Sign(file);
  if (!signature) return LoadResult::kInvalid;
  std::copy(signature->begin(), signature->end(), file.begin() + psv::kSignatureOffset);
  if (!out.ok()) return LoadResult::kOpenFailed;
  out.Write(file);
  return Finished(out.Commit());
}

std::uint64_t psv::DisplaySize(std::span<const std::uint32_t> fileSizes) {
  std::uint64_t total = RoundUp((fileSizes.size() + 2) * kCardEntrySize, kCardBlock);
  for (std::uint32_t size : fileSizes) total += RoundUp(size, kCardBlock);
  return total;
}

bool LooksLikePsv(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  return fileSize >= psv::kHeaderSize && head.size() >= psv::kMagic.size() &&
         std::memcmp(head.data(), psv::kMagic.data(), psv::kMagic.size()) == 0;
}

LoadResult CPsv::Read(const io::ByteSource& source) {
  const LoadResult result = ReadPs2(source);
  if (result == LoadResult::kReadFailed && refusal.empty()) refusal = psv::kCutShortRefusal;
  return result;
}

LoadResult CPsv::ReadPs2(const io::ByteSource& source) {
  io::SourceReader file(source);
  const std::uint64_t length = source.size();
  // As large as the writer makes one, and no larger: the whole file is read for its signature.
  if (length > psv::kMaxFileSize) {
    refusal = psv::kTooLargeRefusal;
    return LoadResult::kInvalid;
  }
  std::array<std::uint8_t, psv::kFileRecordsOffset> fixed;
  if (!file.ReadExact(fixed.data(), psv::kHeaderSize)) return LoadResult::kReadFailed;
  if (std::memcmp(fixed.data(), psv::kMagic.data(), psv::kMagic.size()) != 0)
    return LoadResult::kInvalid;
  const std::optional<psv::SaveKind> kind = psv::KindOf(std::span(fixed).first(psv::kHeaderSize));
  if (kind == psv::SaveKind::kPs1) return ReadPs1(source);
  if (kind != psv::SaveKind::kPs2) return LoadResult::kInvalid;
  if (!file.ReadExact(fixed.data() + psv::kHeaderSize, fixed.size() - psv::kHeaderSize))
    return LoadResult::kReadFailed;

  // The records the header counts must fit in the file before any is read.
  const std::uint32_t count = bytes::GetU32LE(fixed.data() + psv::kFileCountOffset);
  if (count > (length - psv::kFileRecordsOffset) / psv::kFileRecordSize)
    return LoadResult::kReadFailed;
  if (count > kMaxSaveFiles) {
    refusal = messages::TooManyFilesRefusal("PS3 export");
    return LoadResult::kInvalid;
  }

  std::vector<std::uint8_t> records(std::size_t{count} * psv::kFileRecordSize);
  if (!file.ReadExact(records.data(), records.size())) return LoadResult::kReadFailed;

  EntryTable table(std::size_t{count} + 1);
  std::vector<psv::NameField> fields(table.size());
  SaveEntry& root = table[0];
  FillFromRecord(root, fixed.data() + psv::kFolderRecordOffset, fields[0], kFolderNameKept);
  root.size = count + 2;
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint8_t* record = records.data() + std::size_t{k} * psv::kFileRecordSize;
    SaveEntry& e = table[k + 1];
    FillFromRecord(e, record, fields[k + 1], kFileNameKept);
    e.size = bytes::GetU32LE(record + psv::kRecordSizeOffset);
    const std::uint64_t offset = bytes::GetU32LE(record + psv::kRecordDataOffset);
    if (offset + e.size > length) return LoadResult::kReadFailed;
    e.source = InContainer{offset};
  }

  bool readOk = false;
  const std::optional<psv::Signature> signature = FileSignature(source, length, fixed.data(), readOk);
  if (!readOk) return LoadResult::kReadFailed;
  std::optional<bool> valid;
  if (signature) valid = std::equal(signature->begin(), signature->end(), fixed.begin() + psv::kSignatureOffset);
  if (valid == false) {
    const std::optional<bool> yes = Answer(psv::kSignatureQuestion, psv::kSignatureCaption);
    if (!yes) return LoadResult::kNeedsAnswer;
    if (!*yes) return LoadResult::kInvalid;
  }

  entries = std::move(table);
  nameFields = std::move(fields);
  signatureValid = valid;
  ps1Part_.reset();
  return LoadResult::kOk;
}

LoadResult CPsv::ReadPs1(const io::ByteSource& source) {
  std::vector<std::uint8_t> file;
  const LoadResult read = psv::ReadPs1File(source, file, refusal);
  if (read != LoadResult::kOk) return read;
  const psv::SignatureCheck check = psv::Verify(file);
  const std::optional<bool> valid =
      check == psv::SignatureCheck::kUnreadable ? std::nullopt
                                                : std::optional<bool>(check == psv::SignatureCheck::kValid);
  if (valid == false) {
    const std::optional<bool> yes = Answer(psv::kSignatureQuestion, psv::kSignatureCaption);
    if (!yes) return LoadResult::kNeedsAnswer;
    if (!*yes) return LoadResult::kInvalid;
  }
  entries = ps1::MakeTable(psv::Ps1Name(file), static_cast<std::uint32_t>(file.size() - psv::kPs1HeaderSize),
                           InContainer{psv::kPs1HeaderSize});
  nameFields.clear();
  signatureValid = valid;
  ps1Part_.emplace();
  return LoadResult::kOk;
}

bool CPsv::ReadRawTitle() { return ps1Part_ ? ps1::ReadRawTitle(*this) : CSaveGame::ReadRawTitle(); }

LoadResult CPsv::Write(io::ByteSink& out) {
  if (ps1Part_) return psv::WritePs1Export(*this, out, refusal);
  return WritePsv(*this, &nameFields, out, refusal);
}

LoadResult CPsv::WriteConverted(const CSaveGame& source, io::ByteSink& out) {
  if (ps1::IsPs1(source)) return psv::WritePs1Export(source, out, refusal);
  return WritePsv(source, nullptr, out, refusal);
}

void CPsv::SetName(int entryIndex, std::string_view text) {
  if (ps1Part_) {
    if (entryIndex == -1 || entryIndex == 0) ps1::Rename(*this, text);
    return;
  }
  CSaveGame::SetName(entryIndex, text);
  // A changed name leaves no bytes of the old one behind.
  const SaveEntry* e = EntryAt(entryIndex);
  if (e && static_cast<std::size_t>(entryIndex + 1) < nameFields.size())
    nameFields[static_cast<std::size_t>(entryIndex + 1)] =
        NameFieldFor(entryIndex < 0 ? e->Name() : e->FullName(), nullptr);
}

void CPsv::RemoveEntry(int fileIndex) {
  if (ps1Part_ || !ValidFileIndex(fileIndex)) return;
  EraseFile(fileIndex);
  const std::size_t pos = static_cast<std::size_t>(fileIndex) + 1;
  if (pos < nameFields.size()) nameFields.erase(nameFields.begin() + static_cast<std::ptrdiff_t>(pos));
}

bool CPsv::AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) {
  if (ps1Part_ || !CSaveGame::AddEntryFromDisk(pcPath, entryName)) return false;
  if (nameFields.size() + 1 == entries->size()) nameFields.push_back(psv::NameField{});
  return true;
}

void CPsv::SetMode(int entryIndex, std::uint32_t mode) {
  if (!ps1Part_) CSaveGame::SetMode(entryIndex, mode);
}

bool CPsv::ReplaceEntryFromDisk(const std::string& pcPath, int tablePosition) {
  return !ps1Part_ && CSaveGame::ReplaceEntryFromDisk(pcPath, tablePosition);
}

void CPsv::SetCreated(int entryIndex, const EntryTime& time) {
  if (!ps1Part_) CSaveGame::SetCreated(entryIndex, time);
}

void CPsv::SetModified(int entryIndex, const EntryTime& time) {
  if (!ps1Part_) CSaveGame::SetModified(entryIndex, time);
}
