#include "card/folder_card.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <set>

#include "card/card_time.h"
#include "card/image_write.h"
#include "card/layout.h"
#include "card/pcsx2_index.h"
#include "card/prepare.h"
#include "formats/output_file.h"
#include "formats/write_folder.h"
#include "io/file.h"
#include "model/entry_data.h"
#include "model/icon_sys.h"

namespace card {

namespace fs = std::filesystem;

namespace {

// A card holds no more than this many entries in a folder (every one takes half a cluster);
// a host folder with more is not read further.
constexpr std::size_t kMaxEntries = 2 * kFolderCardClusters;
constexpr std::size_t kSuperblockBytes = kPagesPerBlock * kPageData;

std::string Num(std::uint64_t n) { return std::to_string(n); }

std::string Join(const std::string& folder, std::string_view name) {
  return io::FromFsPath(io::ToFsPath(folder) / io::ToFsPath(std::string(name)));
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

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
EntryTime HostTime(const fs::path& path) {
  const std::optional<std::int64_t> instant = io::ModifiedTime(io::FromFsPath(path));
  return instant ? ConsoleTimeAt(*instant) : JapanNow();
}

// The name for a temporary or a deleted folder that is not yet taken.
std::optional<std::string> FreeName(const std::string& card, const std::string& base) {
  static std::mt19937 rng{std::random_device{}()};
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string name = attempt == 0 ? base : base + "_" + Num(rng() % 1000000);
    if (!io::Exists(Join(card, name))) return name;
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
  OpenedCard opened;
  std::unique_ptr<FolderCard> card(new FolderCard(path));
  const bool usable = card->Rescan();
  opened.issues = card->issues_;
  if (usable) opened.card = std::move(card);
  return opened;
}

bool FolderCard::Rescan() {
  issues_.clear();
  saves_.clear();
  auto add = [this](IssueKind kind, std::string where, std::string message) {
    issues_.push_back({kind, std::move(where), std::move(message)});
  };
  const std::string superblockPath = Join(path_, kFolderSuperblock);
  if (!io::Exists(superblockPath)) {
    add(IssueKind::kNotACard, "", "a folder without _pcsx2_superblock: not a PCSX2 folder card");
    return false;
  }
  auto superblock = ReadSmallFile(superblockPath, 1 << 20);
  if (!superblock) {
    add(IssueKind::kReadFailed, std::string(kFolderSuperblock), "the superblock can't be read");
    return false;
  }
  // The emulator counts the card as formatted when this byte, the 'o' of "Format", is there.
  if (superblock->size() < kSuperblockBytes || (*superblock)[0x16] != 'o') {
    add(IssueKind::kUnformatted, std::string(kFolderSuperblock), "an unformatted folder card: format it first");
    return false;
  }

  std::error_code ec;
  std::vector<fs::path> folders;
  for (fs::directory_iterator it(io::ToFsPath(path_), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = io::FromFsPath(it->path().filename());
    if (StartsWith(name, kFolderPrefix) || !it->is_directory(ec)) continue;
    if (folders.size() >= kMaxEntries) {
      add(IssueKind::kOverCapacity, "", "more save folders than a card holds; the rest are not read");
      break;
    }
    folders.push_back(it->path());
  }
  if (ec) {
    add(IssueKind::kReadFailed, "", "the card's folder can't be listed");
    return false;
  }
  std::sort(folders.begin(), folders.end());

  for (const fs::path& folder : folders) {
    FolderSave& save = saves_.emplace_back();
    save.hostName = io::FromFsPath(folder.filename());
    const std::string dir = io::FromFsPath(folder);
    const std::string& where = save.hostName;

    std::optional<FolderIndex> index;
    if (io::Exists(Join(dir, kFolderIndex))) {
      auto text = ReadSmallFile(Join(dir, kFolderIndex), kMaxIndexBytes);
      if (text) index = ParseFolderIndex(std::string_view(reinterpret_cast<const char*>(text->data()), text->size()));
      if (!index) add(IssueKind::kBadIndex, where + "/" + std::string(kFolderIndex), "the index can't be read: file order and times are guessed");
    }
    auto readMeta = [&](const std::string& metaPath, const std::string& what) -> std::optional<DirEntry> {
      if (!io::Exists(metaPath)) return std::nullopt;
      auto bytes = ReadSmallFile(metaPath, dirent::kSize);
      if (!bytes || bytes->size() != dirent::kSize) {
        add(IssueKind::kBadHostFile, what, "the meta file is not one 512-byte directory entry");
        save.readable = false;
        return std::nullopt;
      }
      return DirEntry::Read(bytes->data());
    };
    auto timesOf = [&](DirEntry& d, const std::string& key, const fs::path& host, bool haveMeta) {
      const IndexRecord* r = index ? index->Find(key) : nullptr;
      if (!haveMeta) d.created = d.modified = HostTime(host);
      if (r && r->created) d.created = SecondsToCardTime(*r->created);
      if (r && r->modified) d.modified = SecondsToCardTime(*r->modified);
    };

    auto meta = readMeta(Join(dir, kFolderMetaDirectory), where);
    save.entry = meta.value_or(DirEntry{});
    if (!meta) {
      save.entry.mode = EntryMode::kNewDirectory;
      save.entry.SetName(save.hostName);
    }
    timesOf(save.entry, std::string(kIndexRootKey), folder, meta.has_value());

    struct Found {
      std::int64_t order;
      std::string name;
      FolderFile file;
    };
    std::vector<Found> found;
    std::uint64_t clusters = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = io::FromFsPath(it->path().filename());
      if (StartsWith(name, kFolderPrefix)) continue;
      const std::string fileWhere = where + "/" + name;
      if (it->is_directory(ec)) {
        save.subfolder = true;
        add(IssueKind::kSubfolder, fileWhere, "a folder inside the save, which a save file can't carry");
        continue;
      }
      if (found.size() >= kMaxEntries) {
        add(IssueKind::kOverCapacity, where, "more files than a card directory holds");
        save.readable = false;
        break;
      }
      Found& f = found.emplace_back();
      f.name = name;
      f.file.hostPath = io::FromFsPath(it->path());
      const std::uint64_t size = it->file_size(ec);
      if (ec || size > std::uint64_t{kFolderCardClusters} * kClusterBytes) {
        add(IssueKind::kBadHostFile, fileWhere, "a file larger than the card");
        save.readable = false;
        ec.clear();
      }
      auto fileMeta = readMeta(Join(Join(dir, kFolderMeta), name), fileWhere);
      DirEntry& d = f.file.entry;
      if (fileMeta) d = *fileMeta;
      else {
        d.mode = EntryMode::kNewFile;
        d.SetName(name);
      }
      d.length = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFFu));
      timesOf(d, name, it->path(), fileMeta.has_value());
      const IndexRecord* r = index ? index->Find(name) : nullptr;
      f.order = r && r->order ? *r->order : INT64_MAX;
      clusters += ClustersFor(size);
    }
    if (ec) {
      add(IssueKind::kReadFailed, where, "the save's folder can't be listed");
      save.readable = false;
      ec.clear();
    }
    // In the index's order; files it doesn't name after them, by name.
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.order != b.order ? a.order < b.order : a.name < b.name; });
    for (Found& f : found) save.files.push_back(std::move(f.file));
    save.entry.length = static_cast<std::uint32_t>(save.files.size() + 2);
    clusters += (save.files.size() + 3) / 2;
    save.sizeClusters = static_cast<std::uint32_t>(std::min<std::uint64_t>(clusters, 0xFFFFFFFFu));
  }
  if (UsedClusters() > kFolderCardClusters)
    add(IssueKind::kOverCapacity, "",
        "the saves take " + Num(UsedClusters()) + " KB; the emulator loads no more than " + Num(kFolderCardClusters));
  return true;
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
    SaveInfo& info = listing.saves.emplace_back();
    info.folder = std::string(s.entry.Name());
    info.sizeKB = s.sizeClusters;
    info.created = s.entry.created;
    info.modified = s.entry.modified;
    info.mode = s.entry.mode & 0xFFFF;
    info.attr = s.entry.attr;
    info.files = static_cast<int>(s.files.size());
    info.readable = s.readable && !s.subfolder;
    if (!info.readable) continue;
    OpenedSave opened = OpenSave(info.folder);
    if (opened.save) {
      info.title = std::string((*opened.save->entries)[0].Title());
      info.rawTitle = std::string((*opened.save->entries)[0].RawTitle());
    }
  }
  const std::uint32_t used = UsedClusters();
  listing.freeKB = used < kFolderCardClusters ? kFolderCardClusters - used : 0;
  return listing;
}

OpenedSave FolderCard::OpenSave(std::string_view folder) const {
  OpenedSave opened;
  const FolderSave* s = FindSave(folder);
  if (!s) return opened;
  if (s->subfolder) {
    opened.result = OpenSaveResult::kHasSubfolder;
    return opened;
  }
  if (!s->readable) {
    opened.result = OpenSaveResult::kDamaged;
    return opened;
  }
  auto save = std::make_unique<CCardSave>();
  EntryTable table(s->files.size() + 1);
  auto fill = [](SaveEntry& e, const DirEntry& d) {
    e.mode = d.mode & 0xFFFF;
    e.size = d.length;
    e.created = d.created;
    e.modified = d.modified;
    SetField(e.name, d.Name(), kNameChars);
  };
  fill(table[0], s->entry);
  save->attributes.push_back(s->entry.attr);
  for (std::size_t i = 0; i < s->files.size(); ++i) {
    SaveEntry& e = table[i + 1];
    fill(e, s->files[i].entry);
    SetField(e.title, e.Name(), kNameChars);
    SetField(e.rawTitle, e.Name(), kNameChars);
    e.source = FromDisk{s->files[i].hostPath};
    save->attributes.push_back(s->files[i].entry.attr);
  }
  save->entries = std::move(table);
  save->sourcePath = path_;
  SaveEntry& root = (*save->entries)[0];
  ReadIconSysTitle(*save, root.rawTitle);
  TitleToAscii(root.rawTitle, root.title);
  opened.result = OpenSaveResult::kOpened;
  opened.save = std::move(save);
  return opened;
}

ImportOutcome FolderCard::Import(const CSaveGame& save, const ImportOptions& options) {
  PreparedSave prepared;
  ImportOutcome out = BeginImport(save, options, prepared);
  if (out.result != ImportResult::kImported) return out;

  const FolderSave* old = FindSave(out.folder);
  if (old && !options.replace) return Outcome(ImportResult::kAlreadyOnCard, out.folder);
  const bool replacing = old != nullptr;
  const std::string oldHost = old ? old->hostName : std::string();
  const std::uint32_t oldClusters = old ? old->sizeClusters : 0;
  const std::string host = HostName(out.folder);
  // Another save (or anything else) already under the host name this one needs.
  if (host != oldHost && io::Exists(Join(path_, host))) {
    out.result = ImportResult::kAlreadyOnCard;
    out.detail = "the folder \"" + host + "\" is already on the card";
    return out;
  }
  std::vector<std::string> hostFiles;
  std::set<std::string> taken;
  for (const DirEntry& f : prepared.files) {
    std::string name = HostName(f.Name());
    if (StartsWith(name, kFolderPrefix) || !taken.insert(name).second) {
      out.result = ImportResult::kInvalidSave;
      out.detail = "the file \"" + std::string(f.Name()) + "\" can't have a name of its own on a folder card";
      return out;
    }
    hostFiles.push_back(std::move(name));
  }

  const std::uint64_t needed = prepared.TotalClusters();
  const std::uint32_t used = UsedClusters() - oldClusters;
  const std::uint32_t free = used < kFolderCardClusters ? kFolderCardClusters - used : 0;
  out.neededKB = static_cast<std::uint32_t>(std::min<std::uint64_t>(needed, 0xFFFFFFFFu));
  if (needed > free) {
    out.result = ImportResult::kNoSpace;
    const std::uint32_t all = UsedClusters();
    out.freeKB = all < kFolderCardClusters ? kFolderCardClusters - all : 0;
    return out;
  }

  // The save is written whole under a name the emulator passes over, then renamed into place.
  auto tempName = FreeName(path_, std::string(kFolderPrefix) + "tmp_" + host);
  if (!tempName) return Outcome(ImportResult::kWriteFailed, out.folder);
  const std::string temp = Join(path_, *tempName);
  std::error_code ec;
  auto cleanUp = [&temp] {
    std::error_code ignored;
    fs::remove_all(io::ToFsPath(temp), ignored);
  };
  if (!fs::create_directory(io::ToFsPath(temp), ec)) return Outcome(ImportResult::kWriteFailed, out.folder);

  EntryDataReader reader;
  FolderIndex index;
  index.records.push_back({std::string(kIndexRootKey), std::nullopt, CardTimeToSeconds(prepared.directory.created),
                           CardTimeToSeconds(prepared.directory.modified)});
  bool metaFolder = false;
  for (std::size_t i = 0; i < prepared.files.size(); ++i) {
    const DirEntry& f = prepared.files[i];
    io::File file = io::File::OpenWrite(Join(temp, hostFiles[i]));
    if (!file) {
      cleanUp();
      return Outcome(ImportResult::kWriteFailed, out.folder);
    }
    std::uint64_t copied = 0;
    bool writeFailed = false;
    const DataResult r = reader.Copy(*prepared.sources[i], save.sourcePath, [&](std::span<const std::uint8_t> piece) {
      copied += piece.size();
      writeFailed = !file.Write(piece.data(), piece.size());
      return !writeFailed;
    });
    if (r != DataResult::kOk || copied != f.length || !file.Flush(true) || !file.Close()) {
      cleanUp();
      return Outcome(writeFailed || r == DataResult::kSinkFailed ? ImportResult::kWriteFailed : ImportResult::kSourceUnreadable, out.folder);
    }
    SetModifiedTime(Join(temp, hostFiles[i]), f.modified);  // the host file shows the same instant
    index.records.push_back({hostFiles[i], static_cast<std::int64_t>(i + 1), CardTimeToSeconds(f.created),
                             CardTimeToSeconds(f.modified)});
    // A meta file only where the emulator would otherwise give the file another mode,
    // attr or name.
    if (f.mode != EntryMode::kNewFile || f.attr != 0 || hostFiles[i] != f.Name()) {
      const std::string metaDir = Join(temp, kFolderMeta);
      if ((!metaFolder && !fs::create_directory(io::ToFsPath(metaDir), ec)) ||
          !WriteWhole(Join(metaDir, hostFiles[i]), EntryBytes(f))) {
        cleanUp();
        return Outcome(ImportResult::kWriteFailed, out.folder);
      }
      metaFolder = true;
    }
  }
  reader.Close();
  const DirEntry& d = prepared.directory;
  const std::string indexText = WriteFolderIndex(index);
  bool ok = WriteWhole(Join(temp, kFolderIndex),
                       std::span(reinterpret_cast<const std::uint8_t*>(indexText.data()), indexText.size()));
  if (ok && (d.mode != EntryMode::kNewDirectory || d.attr != 0 || host != d.Name()))
    ok = WriteWhole(Join(temp, kFolderMetaDirectory), EntryBytes(d));
  if (!ok) {
    cleanUp();
    return Outcome(ImportResult::kWriteFailed, out.folder);
  }
  SetModifiedTime(temp, d.modified);
  io::SyncDirectoryOf(Join(temp, kFolderIndex));

  // The old save steps aside as a removal leaves it, and the new one takes its place.
  std::string retired;
  if (old) {
    auto name = FreeName(path_, std::string(kFolderDeletedPrefix) + oldHost);
    if (!name || !io::RenameReplace(Join(path_, oldHost), Join(path_, *name))) {
      cleanUp();
      return Outcome(ImportResult::kWriteFailed, out.folder);
    }
    retired = *name;
  }
  if (!io::RenameReplace(temp, Join(path_, host))) {
    if (!retired.empty()) io::RenameReplace(Join(path_, retired), Join(path_, oldHost));
    cleanUp();
    Rescan();
    return Outcome(ImportResult::kWriteFailed, out.folder);
  }
  io::SyncDirectoryOf(Join(path_, host));
  Rescan();
  out.result = replacing ? ImportResult::kReplaced : ImportResult::kImported;
  return out;
}

RemoveResult FolderCard::Remove(std::string_view folder) {
  if (!Rescan()) return RemoveResult::kWriteFailed;
  const FolderSave* s = FindSave(folder);
  if (!s) return RemoveResult::kNotFound;
  // As the emulator removes a save: renamed, not deleted. A renamed folder can't hurt
  // the others, so damage elsewhere on the card does not stop it.
  auto name = FreeName(path_, std::string(kFolderDeletedPrefix) + s->hostName);
  const bool renamed = name && io::RenameReplace(Join(path_, s->hostName), Join(path_, *name));
  if (renamed) io::SyncDirectoryOf(Join(path_, *name));
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
  const fs::path dir = io::ToFsPath(path);
  std::error_code ec;
  if (fs::exists(dir, ec)) {
    // Only an empty folder, or one holding nothing but an unformatted superblock, is
    // formatted over: never one with saves.
    if (!fs::is_directory(dir, ec)) return FormatResult::kTargetExists;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const bool emptySuperblock = it->path().filename() == io::ToFsPath(std::string(kFolderSuperblock)) &&
                                   it->file_size(ec) < kSuperblockBytes;
      if (!emptySuperblock || !options.overwrite) return FormatResult::kTargetExists;
    }
  } else if (!fs::create_directories(dir, ec)) {
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
  OutputFile out(Join(path, kFolderSuperblock), /*inPlace=*/false);
  out.Write(block);
  return out.Commit() == LoadResult::kOk ? FormatResult::kFormatted : FormatResult::kWriteFailed;
}

}  // namespace card
