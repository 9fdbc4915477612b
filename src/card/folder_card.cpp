#include "card/folder_card.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <map>
#include <set>

#include "card/card_time.h"
#include "card/image_write.h"
#include "card/layout.h"
#include "card/pcsx2_index.h"
#include "card/prepare.h"
#include "card/save_fill.h"
#include "io/output_file.h"
#include "formats/write_folder.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"
#include "model/count_text.h"
#include "model/entry_data.h"

namespace card {


namespace {

// A card holds no more than this many entries in a folder (every one takes half a cluster);
// a host folder with more is not read further.
constexpr std::size_t kMaxEntries = 2 * kFolderCardClusters;
constexpr std::size_t kSuperblockBytes = kPagesPerBlock * kPageData;

using text::Num;

// A whole small file, at most `cap` bytes; none when it can't be read or is longer.
std::optional<std::vector<std::uint8_t>> ReadSmallFile(const std::string& path, std::size_t cap) {
  io::File f = io::File::OpenRead(path);
  auto length = f ? f.Length() : std::nullopt;
  if (!length || *length > cap) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*length));
  if (!f.ReadExact(bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}

// A host file's time as the card's clock would show it.
EntryTime HostTime(const std::string& path) {
  const std::optional<std::int64_t> instant = io::ModifiedTime(path);
  return instant ? ConsoleTimeAt(*instant) : JapanNow();
}

// A card entry's times: from its meta file when it has one, else from the host file; the
// index's over either.
void SetTimes(DirEntry& d, const IndexRecord* r, const std::string& host, bool haveMeta) {
  if (!haveMeta) d.created = d.modified = HostTime(host);
  if (r && r->created) d.created = SecondsToCardTime(*r->created);
  if (r && r->modified) d.modified = SecondsToCardTime(*r->modified);
}

// The name for a temporary or a deleted folder that is not yet taken.
std::optional<std::string> FreeName(const std::string& card, const std::string& base) {
  static std::mt19937 rng{std::random_device{}()};
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string name = attempt == 0 ? base : base + "_" + Num(rng() % 1000000);
    if (!io::Exists(io::JoinPath(card, name))) return name;
  }
  return std::nullopt;
}

bool WriteWhole(const std::string& path, std::span<const std::uint8_t> bytes) {
  io::File f = io::File::OpenWrite(path);
  return f && f.Write(bytes.data(), bytes.size()) && f.Flush(true) && f.Close();
}

std::vector<std::uint8_t> EntryBytes(const DirEntry& d) {
  std::vector<std::uint8_t> bytes(dirent::kSize, 0);
  d.Write(bytes.data());
  return bytes;
}

}  // namespace

std::string HostName(std::string_view cardName) {
  std::string out(cardName);
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F || std::string_view("\\%:|\"<>/?*").find(c) != std::string_view::npos) c = '_';
  }
  for (auto it = out.rbegin(); it != out.rend() && (*it == '.' || *it == ' '); ++it) *it = '_';
  return out;
}

OpenedCard FolderCard::Open(const std::string& path) {
  return FirstRead(std::unique_ptr<Card>(new FolderCard(path)));
}

bool FolderCard::Rescan() {
  issues_.clear();
  saves_.clear();
  const std::string superblockPath = io::JoinPath(path_, kFolderSuperblock);
  if (!io::Exists(superblockPath)) {
    Add(IssueKind::kNotACard, "", "a folder without _pcsx2_superblock: not a PCSX2 folder card");
    return false;
  }
  auto superblock = ReadSmallFile(superblockPath, 1 << 20);
  if (!superblock) {
    Add(IssueKind::kReadFailed, std::string(kFolderSuperblock), "the superblock can't be read");
    return false;
  }
  // The emulator counts the card as formatted when this byte, the 'o' of "Format", is there.
  if (superblock->size() < kSuperblockBytes || (*superblock)[0x16] != 'o') {
    Add(IssueKind::kUnformatted, std::string(kFolderSuperblock), "an unformatted folder card: format it first");
    return false;
  }

  std::vector<std::pair<std::string, std::string>> folders;  // name, path
  const bool listed = io::ForEachInFolder(path_, [&](const io::FolderItem& item) {
    if (item.name.starts_with(kFolderPrefix) || item.kind != io::PathKind::kFolder) return true;
    if (folders.size() >= kMaxEntries) {
      Add(IssueKind::kOverCapacity, "", "more save folders than a card holds; the rest are not read");
      return false;
    }
    folders.emplace_back(item.name, item.path);
    return true;
  });
  if (!listed) {
    Add(IssueKind::kReadFailed, "", "the card's folder can't be listed");
    return false;
  }
  std::sort(folders.begin(), folders.end());

  for (const auto& [name, folder] : folders) ReadSaveFolder(name, folder);
  if (UsedClusters() > kFolderCardClusters)
    Add(IssueKind::kOverCapacity, "",
        "the saves take " + Num(UsedClusters()) + " KB; the emulator loads no more than " + Num(kFolderCardClusters));
  return true;
}

void FolderCard::Add(IssueKind kind, std::string where, std::string message) {
  issues_.push_back({kind, std::move(where), std::move(message)});
}

std::optional<FolderIndex> FolderCard::ReadIndex(const std::string& dir, const std::string& where) {
  if (!io::Exists(io::JoinPath(dir, kFolderIndex))) return std::nullopt;
  std::optional<FolderIndex> index;
  auto text = ReadSmallFile(io::JoinPath(dir, kFolderIndex), kMaxIndexBytes);
  if (text) index = ParseFolderIndex(std::string_view(reinterpret_cast<const char*>(text->data()), text->size()));
  if (!index)
    Add(IssueKind::kBadIndex, where + "/" + std::string(kFolderIndex), "the index can't be read: file order and times are guessed");
  return index;
}

std::optional<DirEntry> FolderCard::ReadMeta(const std::string& metaPath, const std::string& where, FolderSave& save) {
  if (!io::Exists(metaPath)) return std::nullopt;
  auto bytes = ReadSmallFile(metaPath, dirent::kSize);
  if (!bytes || bytes->size() != dirent::kSize) {
    Add(IssueKind::kBadHostFile, where, "the meta file is not one 512-byte directory entry");
    save.readable = false;
    return std::nullopt;
  }
  return DirEntry::Read(bytes->data());
}

std::uint64_t FolderCard::ReadSaveFile(const io::FolderItem& item, const std::string& dir,
                                       const std::optional<FolderIndex>& index, FolderSave& save) {
  const std::string& name = item.name;
  const std::string where = save.hostName + "/" + name;
  FolderFile& file = save.files.emplace_back();
  file.hostPath = item.path;
  const std::uint64_t size = item.size;
  if (item.kind != io::PathKind::kFile || size > std::uint64_t{kFolderCardClusters} * kClusterSize) {
    Add(IssueKind::kBadHostFile, where, "a file larger than the card");
    save.readable = false;
  }
  const std::optional<DirEntry> meta = ReadMeta(io::JoinPath(io::JoinPath(dir, kFolderMeta), name), where, save);
  DirEntry& d = file.entry;
  if (meta) {
    d = *meta;
  } else {
    d.mode = EntryMode::kNewFile;
    d.SetName(name);
  }
  d.length = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFFu));
  const IndexRecord* r = index ? index->Find(name) : nullptr;
  SetTimes(d, r, item.path, meta.has_value());
  file.order = r && r->order ? *r->order : INT64_MAX;
  return ClustersFor(size);
}

void FolderCard::ReadSaveFolder(const std::string& name, const std::string& dir) {
  FolderSave& save = saves_.emplace_back();
  save.hostName = name;
  const std::string& where = save.hostName;
  const std::optional<FolderIndex> index = ReadIndex(dir, where);
  const std::optional<DirEntry> meta = ReadMeta(io::JoinPath(dir, kFolderMetaDirectory), where, save);
  save.entry = meta.value_or(DirEntry{});
  if (!meta) {
    save.entry.mode = EntryMode::kNewDirectory;
    save.entry.SetName(save.hostName);
  }
  SetTimes(save.entry, index ? index->Find(kIndexRootKey) : nullptr, dir, meta.has_value());

  std::uint64_t clusters = 0;
  const bool listed = io::ForEachInFolder(dir, [&](const io::FolderItem& item) {
    if (item.name.starts_with(kFolderPrefix)) return true;
    if (item.kind == io::PathKind::kFolder) {
      save.subfolder = true;
      Add(IssueKind::kSubfolder, where + "/" + item.name, "a folder inside the save, which a save file can't carry");
      return true;
    }
    if (save.files.size() >= kMaxEntries) {
      Add(IssueKind::kOverCapacity, where, "more files than a card directory holds");
      save.readable = false;
      return false;
    }
    clusters += ReadSaveFile(item, dir, index, save);
    return true;
  });
  if (!listed) {
    Add(IssueKind::kReadFailed, where, "the save's folder can't be listed");
    save.readable = false;
  }
  // In the index's order; files it doesn't name after them, by name.
  std::sort(save.files.begin(), save.files.end(), [](const FolderFile& a, const FolderFile& b) {
    return a.order != b.order ? a.order < b.order : a.hostPath < b.hostPath;
  });
  save.entry.length = static_cast<std::uint32_t>(save.files.size() + 2);
  clusters += (save.files.size() + 3) / 2;
  save.sizeClusters = static_cast<std::uint32_t>(std::min<std::uint64_t>(clusters, 0xFFFFFFFFu));
}

std::uint32_t FolderCard::UsedClusters() const {
  std::uint64_t used = 0;
  for (const FolderSave& s : saves_) used += s.sizeClusters;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(used, 0xFFFFFFFFu));
}

const FolderSave* FolderCard::FindSave(std::string_view folder) const {
  for (const FolderSave& s : saves_)
    if (s.entry.Name() == folder) return &s;
  return nullptr;
}

Listing FolderCard::List() const {
  Listing listing;
  for (const FolderSave& s : saves_) {
    const std::unique_ptr<CCardSave> parts = MakeSave(s);
    listing.saves.push_back(InfoFor(s.entry, static_cast<int>(s.files.size()), s.sizeClusters,
                                    s.readable && !s.subfolder, parts.get()));
  }
  const std::uint32_t used = UsedClusters();
  listing.freeKB = used < kFolderCardClusters ? kFolderCardClusters - used : 0;
  return listing;
}

Card::SaveFound FolderCard::FindForOpen(std::string_view folder) const {
  const FolderSave* s = FindSave(folder);
  if (!s) return SaveFound::kAbsent;
  if (s->subfolder) return SaveFound::kSubfolder;
  return s->readable ? SaveFound::kReadable : SaveFound::kDamaged;
}

std::unique_ptr<CSaveGame> FolderCard::SaveObject(std::string_view folder) const {
  const FolderSave* s = FindSave(folder);
  return s ? MakeSave(*s) : nullptr;
}

std::unique_ptr<CCardSave> FolderCard::ReadableParts(std::string_view folder) const {
  const FolderSave* s = FindSave(folder);
  return s ? MakeSave(*s) : nullptr;
}

std::unique_ptr<CCardSave> FolderCard::MakeSave(const FolderSave& s) const {
  auto save = std::make_unique<CCardSave>();
  StartCardSave(*save, s.entry, s.files.size());
  for (std::size_t i = 0; i < s.files.size(); ++i) {
    SaveEntry& e = (*save->entries)[i + 1];
    FillEntry(e, s.files[i].entry, true);
    e.source = FromDisk{s.files[i].hostPath};
    save->attributes[i + 1] = s.files[i].entry.attr;
  }
  FinishCardSave(*save, nullptr);
  save->sourcePath = path_;
  return save;
}

std::string FolderCard::RefuseHostNames(const std::string& folder, const PreparedSave& prepared,
                                        std::vector<std::string>& hostFiles) const {
  const std::string host = HostName(folder);
  // The emulator passes over every name starting _pcsx2_: such a save would vanish.
  if (host.starts_with(kFolderPrefix))
    return "a folder card keeps its own files under names starting " + std::string(kFolderPrefix);
  // Windows and macOS take two names differing only in letter case for one file.
  std::set<std::string> taken;
  for (const DirEntry& f : prepared.files) {
    std::string name = HostName(f.Name());
    if (name.starts_with(kFolderPrefix) || !taken.insert(io::FoldAscii(name)).second)
      return "the file \"" + std::string(f.Name()) + "\" can't have a name of its own on a folder card";
    hostFiles.push_back(std::move(name));
  }
  return {};
}

bool FolderCard::WriteSaveFolder(const std::string& temp, const CSaveGame& save, const PreparedSave& prepared,
                                 const std::vector<std::string>& hostFiles, bool& sourceFailed) const {
  EntryDataReader reader;
  FolderIndex index;
  index.records.push_back({std::string(kIndexRootKey), std::nullopt, CardTimeToSeconds(prepared.directory.created),
                           CardTimeToSeconds(prepared.directory.modified)});
  const std::string metaDir = io::JoinPath(temp, kFolderMeta);
  bool metaFolder = false;
  for (std::size_t i = 0; i < prepared.files.size(); ++i) {
    const DirEntry& f = prepared.files[i];
    io::File file = io::File::OpenWrite(io::JoinPath(temp, hostFiles[i]));
    if (!file) return false;
    std::uint64_t copied = 0;
    bool writeFailed = false;
    const DataResult r = reader.Copy(*prepared.sources[i], save.container.get(), [&](std::span<const std::uint8_t> piece) {
      copied += piece.size();
      writeFailed = !file.Write(piece.data(), piece.size());
      return !writeFailed;
    });
    if (r != DataResult::kOk || copied != f.length || !file.Flush(true) || !file.Close()) {
      sourceFailed = !writeFailed && r != DataResult::kSinkFailed;
      return false;
    }
    SetModifiedTime(io::JoinPath(temp, hostFiles[i]), f.modified);  // the host file shows the same instant
    index.records.push_back({hostFiles[i], static_cast<std::int64_t>(i + 1), CardTimeToSeconds(f.created),
                             CardTimeToSeconds(f.modified)});
    // A meta file only where the emulator would otherwise give the file another mode,
    // attr or name.
    if (f.mode == EntryMode::kNewFile && f.attr == 0 && hostFiles[i] == f.Name()) continue;
    if ((!metaFolder && !io::MakeFolder(metaDir)) ||
        !WriteWhole(io::JoinPath(metaDir, hostFiles[i]), EntryBytes(f)))
      return false;
    metaFolder = true;
  }
  reader.Close();
  if (metaFolder) io::SyncDirectoryOf(io::JoinPath(metaDir, hostFiles.front()));
  const DirEntry& d = prepared.directory;
  const std::string indexText = WriteFolderIndex(index);
  if (!WriteWhole(io::JoinPath(temp, kFolderIndex),
                  std::span(reinterpret_cast<const std::uint8_t*>(indexText.data()), indexText.size())))
    return false;
  if ((d.mode != EntryMode::kNewDirectory || d.attr != 0 || HostName(d.Name()) != d.Name()) &&
      !WriteWhole(io::JoinPath(temp, kFolderMetaDirectory), EntryBytes(d)))
    return false;
  SetModifiedTime(temp, d.modified);
  io::SyncDirectoryOf(io::JoinPath(temp, kFolderIndex));
  return true;
}

bool FolderCard::ReadsBack(const std::string& temp, const PreparedSave& prepared,
                           const std::vector<std::string>& hostFiles) {
  // The folder as the card will read it: each file once, with its length, and nothing else.
  std::map<std::string, std::uint64_t> found;
  const bool listed = io::ForEachInFolder(temp, [&found](const io::FolderItem& item) {
    if (!item.name.starts_with(kFolderPrefix)) found[item.name] = item.kind == io::PathKind::kFile ? item.size : UINT64_MAX;
    return true;
  });
  std::string wrong = listed ? "" : "can't be listed";
  for (std::size_t i = 0; wrong.empty() && i < hostFiles.size(); ++i) {
    auto it = found.find(hostFiles[i]);
    if (it == found.end())
      wrong = "lacks \"" + hostFiles[i] + "\"";
    else if (it->second != prepared.files[i].length)
      wrong = "has \"" + hostFiles[i] + "\" of another length than the " + Num(prepared.files[i].length) + " bytes written";
    else
      found.erase(it);
  }
  if (wrong.empty() && !found.empty()) wrong = "has \"" + found.begin()->first + "\", which was not written";
  if (!wrong.empty())
    refusal_ = "read back, the new save folder in " + std::string(io::FileNameOf(path_)) + " " + wrong;
  return wrong.empty();
}

WriteResult FolderCard::PutInPlace(const std::string& temp, const std::string& host, const FolderSave* old) {
  // The old save steps aside as a removal leaves it, the new one takes its place, and
  // then the old one goes for good.
  std::string retired;
  if (old) {
    auto name = FreeName(path_, std::string(kFolderDeletedPrefix) + old->hostName);
    if (!name || !io::RenameReplace(io::JoinPath(path_, old->hostName), io::JoinPath(path_, *name)))
      return WriteResult::kFailed;
    retired = *name;
  }
  if (!io::RenameReplace(temp, io::JoinPath(path_, host))) {
    if (!retired.empty()) io::RenameReplace(io::JoinPath(path_, retired), io::JoinPath(path_, old->hostName));
    return WriteResult::kFailed;
  }
  io::SyncDirectoryOf(io::JoinPath(path_, host));
  if (!retired.empty()) {
    io::RemoveTree(io::JoinPath(path_, retired));
    io::SyncDirectoryOf(io::JoinPath(path_, host));
  }
  return WriteResult::kWritten;
}

ImportOutcome FolderCard::Import(const CSaveGame& save, const ImportOptions& options) {
  PreparedSave prepared;
  ImportOutcome out = BeginImport(save, options, prepared);
  if (out.result != ImportResult::kImported) return out;
  refusal_.clear();
  const FolderSave* old = FindSave(out.folder);
  if (old && !options.replace) return Outcome(ImportResult::kAlreadyOnCard, out.folder);
  const std::string host = HostName(out.folder);
  // Another save (or anything else) already under the host name this one needs.
  if ((!old || host != old->hostName) && io::Exists(io::JoinPath(path_, host))) {
    out.result = ImportResult::kAlreadyOnCard;
    out.detail = "the folder \"" + host + "\" is already on the card";
    return out;
  }
  std::vector<std::string> hostFiles;
  out.detail = RefuseHostNames(out.folder, prepared, hostFiles);
  if (!out.detail.empty()) {
    out.result = ImportResult::kInvalidSave;
    return out;
  }
  const std::uint32_t used = UsedClusters(), oldClusters = old ? old->sizeClusters : 0;
  const std::uint64_t needed = prepared.TotalClusters();
  auto freeWith = [](std::uint32_t u) { return u < kFolderCardClusters ? kFolderCardClusters - u : 0; };
  if (needed > freeWith(used - oldClusters)) return NoSpace(out, needed, freeWith(used), freeWith(used - oldClusters));

  // The save is written whole under a name the emulator passes over, read back, then
  // renamed into place.
  auto tempName = FreeName(path_, std::string(kFolderPrefix) + "tmp_" + host);
  if (!tempName || !io::MakeFolder(io::JoinPath(path_, *tempName)))
    return Outcome(ImportResult::kWriteFailed, out.folder);
  const std::string temp = io::JoinPath(path_, *tempName);
  bool sourceFailed = false;
  WriteResult written = WriteResult::kFailed;
  if (WriteSaveFolder(temp, save, prepared, hostFiles, sourceFailed))
    written = ReadsBack(temp, prepared, hostFiles) ? PutInPlace(temp, host, old) : WriteResult::kRefused;
  if (written != WriteResult::kWritten) io::RemoveTree(temp);
  Rescan();
  if (sourceFailed) return Outcome(ImportResult::kSourceUnreadable, out.folder);
  return Finish(out, written, old ? ImportResult::kReplaced : ImportResult::kImported, prepared);
}

RemoveResult FolderCard::Remove(std::string_view folder) {
  if (!Rescan()) return RemoveResult::kWriteFailed;
  const FolderSave* s = FindSave(folder);
  if (!s) return RemoveResult::kNotFound;
  // As the emulator removes a save: renamed, not deleted. A renamed folder can't hurt
  // the others, so damage elsewhere on the card does not stop it.
  auto name = FreeName(path_, std::string(kFolderDeletedPrefix) + s->hostName);
  const bool renamed = name && io::RenameReplace(io::JoinPath(path_, s->hostName), io::JoinPath(path_, *name));
  if (renamed) io::SyncDirectoryOf(io::JoinPath(path_, *name));
  Rescan();
  return renamed ? RemoveResult::kRemoved : RemoveResult::kWriteFailed;
}

std::vector<Issue> FolderCard::Check() const { return issues_; }

RepairOutcome FolderCard::Repair() {
  RepairOutcome out;
  Rescan();
  out.result = RepairResult::kNothingToRepair;
  out.remaining = issues_;
  return out;
}

FormatResult FormatFolderCard(const std::string& path, const FormatOptions& options) {
  if (io::Exists(path)) {
    // Only an empty folder, or one holding nothing but an unformatted superblock, is
    // formatted over: never one with saves.
    if (!io::IsFolder(path)) return FormatResult::kTargetExists;
    bool taken = false;
    io::ForEachInFolder(path, [&](const io::FolderItem& item) {
      const bool emptySuperblock = item.name == kFolderSuperblock && item.size < kSuperblockBytes;
      taken = !emptySuperblock || !options.overwrite;
      return !taken;
    });
    if (taken) return FormatResult::kTargetExists;
  } else if (!io::MakeFolders(path)) {
    return FormatResult::kWriteFailed;
  }
  // Pages 0-15 of a fresh 8 MiB card, without their ECC.
  std::vector<std::uint8_t> block;
  const bool built = BuildFreshImage(LayoutFor(8 * 1024), false, options.time.value_or(JapanNow()),
                                     [&block](std::span<const std::uint8_t> piece) {
                                       const std::size_t want = kSuperblockBytes - block.size();
                                       block.insert(block.end(), piece.begin(), piece.begin() + std::min(want, piece.size()));
                                       return block.size() < kSuperblockBytes;
                                     });
  (void)built;  // the sink stops it once the block is complete
  if (block.size() != kSuperblockBytes) return FormatResult::kWriteFailed;
  io::OutputFile out(io::JoinPath(path, kFolderSuperblock), /*inPlace=*/false);
  out.Write(block);
  return out.Commit() == io::Committed::kWritten ? FormatResult::kFormatted : FormatResult::kWriteFailed;
}

}  // namespace card
