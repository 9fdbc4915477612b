#include "card/image_card.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "card/card_time.h"
#include "card/image_write.h"
#include "card/prepare.h"
#include "io/file.h"
#include "model/bytes.h"
#include "model/icon_sys.h"

namespace card {

namespace {

using Page = std::array<std::uint8_t, kPageData>;

Page ErasedPage() {
  Page p;
  p.fill(0xFF);
  return p;
}

Page EntryPage(const DirEntry& d) {
  Page p{};
  d.Write(p.data());
  return p;
}

std::string Num(std::uint64_t n) { return std::to_string(n); }

}  // namespace

OpenedCard ImageCard::Open(const std::string& path) {
  OpenedCard opened;
  std::unique_ptr<ImageCard> card(new ImageCard(path));
  const bool usable = card->Rescan();
  opened.issues = card->issues_;
  if (usable) opened.card = std::move(card);
  return opened;
}

bool ImageCard::Rescan() {
  state_ = ScanImage(path_);
  issues_ = state_.issues;
  return state_.usable;
}

CardType ImageCard::type() const {
  return state_.geometry.ecc ? CardType::kImageWithEcc : CardType::kRawImage;
}

const SaveState* ImageCard::FindSave(std::string_view folder) const {
  for (const SaveState& s : state_.saves)
    if (s.entry.d.Name() == folder) return &s;
  return nullptr;
}

Listing ImageCard::List() const {
  Listing listing;
  for (const SaveState& s : state_.saves) {
    SaveInfo& info = listing.saves.emplace_back();
    const DirEntry& d = s.entry.d;
    info.folder = std::string(d.Name());
    info.sizeKB = s.sizeClusters;
    info.created = d.created;
    info.modified = d.modified;
    info.mode = d.mode & 0xFFFF;
    info.attr = d.attr;
    info.files = static_cast<int>(s.files.size());
    info.readable = s.readable && !s.subfolder;
    if (!info.readable) continue;
    if (std::unique_ptr<CCardSave> save = MakeSave(s)) {
      const SaveEntry& root = (*save->entries)[0];
      info.title = std::string(root.Title());
      info.rawTitle = std::string(root.RawTitle());
    }
  }
  listing.freeKB = state_.FreeClusters();
  return listing;
}

OpenedSave ImageCard::OpenSave(std::string_view folder) const {
  OpenedSave opened;
  const SaveState* s = FindSave(folder);
  if (!s) return opened;
  if (s->subfolder) {
    opened.result = OpenSaveResult::kHasSubfolder;
  } else if (!s->readable) {
    opened.result = OpenSaveResult::kDamaged;
  } else if ((opened.save = MakeSave(*s))) {
    opened.result = OpenSaveResult::kOpened;
  } else {
    opened.result = OpenSaveResult::kDamaged;
  }
  return opened;
}

std::unique_ptr<CCardSave> ImageCard::MakeSave(const SaveState& s) const {
  auto save = std::make_unique<CCardSave>();
  const Geometry& g = state_.geometry;
  try {
    EntryTable table(s.files.size() + 1);
    save->attributes.assign(table.size(), 0);
    SaveEntry& root = table[0];
    const DirEntry& d = s.entry.d;
    root.mode = d.mode & 0xFFFF;
    root.size = static_cast<std::uint32_t>(s.files.size() + 2);
    root.created = d.created;
    root.modified = d.modified;
    SetField(root.name, d.Name(), kNameChars);
    save->attributes[0] = d.attr;
    for (std::size_t i = 0; i < s.files.size(); ++i) {
      const FileState& f = s.files[i];
      SaveEntry& e = table[i + 1];
      e.mode = f.entry.d.mode & 0xFFFF;
      e.size = f.entry.d.length;
      e.created = f.entry.d.created;
      e.modified = f.entry.d.modified;
      SetField(e.name, f.entry.d.Name(), kNameChars);
      SetField(e.title, f.entry.d.Name(), kNameChars);
      SetField(e.rawTitle, f.entry.d.Name(), kNameChars);
      save->attributes[i + 1] = f.entry.d.attr;
      // The file's bytes: its clusters' pages in chain order, merged where they touch.
      ContainerExtents extents;
      std::uint64_t left = e.size;
      for (std::size_t k = 0; k < f.chain.size() && left > 0; ++k) {
        const std::uint64_t first = state_.PageOfCluster(f.chain[k]);
        for (std::uint32_t h = 0; h < kPagesPerCluster && left > 0; ++h) {
          const std::uint64_t offset = g.PageOffset(first + h);
          const std::uint64_t n = std::min<std::uint64_t>(left, kPageData);
          if (!extents.extents.empty() &&
              extents.extents.back().offset + extents.extents.back().length == offset)
            extents.extents.back().length += n;
          else
            extents.extents.push_back({offset, n});
          left -= n;
        }
      }
      if (left > 0) return nullptr;
      e.source = std::move(extents);
    }
    save->entries = std::move(table);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  save->sourcePath = path_;
  SaveEntry& root = (*save->entries)[0];
  ReadIconSysTitle(*save, root.rawTitle);
  TitleToAscii(root.rawTitle, root.title);
  return save;
}

Page& ImageCard::EditPage(PagePatches& patches, std::uint64_t page) const {
  auto it = patches.find(page);
  if (it != patches.end()) return it->second;
  Page data{};
  ReadImagePage(path_, state_.geometry, page, data);
  return patches.emplace(page, data).first->second;
}

void ImageCard::PatchFat(PagePatches& patches, const std::vector<std::uint32_t>& fat) const {
  constexpr std::uint32_t kPerPage = kPageData / 4;
  for (std::uint32_t n = 0; n < fat.size(); ++n) {
    if (fat[n] == state_.fat[n]) continue;
    const std::uint64_t page = std::uint64_t{state_.fatClusters[n / kFatPerCluster]} * kPagesPerCluster +
                               (n % kFatPerCluster) / kPerPage;
    bytes::PutU32LE(EditPage(patches, page).data() + 4 * (n % kPerPage), fat[n]);
  }
}

bool ImageCard::Write(const PagePatches& patches) {
  const bool written = RewriteImage(path_, state_.geometry, patches);
  Rescan();
  return written;
}

ImportOutcome ImageCard::Import(const CSaveGame& save, const ImportOptions& options) {
  PreparedSave prepared;
  ImportOutcome out = BeginImport(save, options, prepared);
  if (out.result != ImportResult::kImported) return out;
  const Superblock& sb = state_.superblock;
  const SaveState* old = FindSave(out.folder);
  if (old && !options.replace) return Outcome(ImportResult::kAlreadyOnCard, out.folder);
  const bool replacing = old != nullptr;

  std::vector<std::uint32_t> fat = state_.fat;
  std::vector<EntryRef> root = state_.root;
  std::uint32_t freeClusters = state_.FreeClusters();
  PagePatches patches;
  if (old) {
    // The old save goes first, as a removal would take it: its clusters come free for
    // the new one and its slot in the root is reused.
    const std::uint32_t limit = sb.ConsoleLimit();
    for (std::uint32_t c = 0; c < fat.size(); ++c) {
      const int owner = state_.owner[c];
      if (owner < 0 || state_.ownerSave[owner] != old - state_.saves.data()) continue;
      fat[c] &= ~kFatInUse;
      if (c < limit) ++freeClusters;
    }
    root[old->rootIndex].d.mode &= ~EntryMode::kPs2;
    for (std::size_t j = 2; j < old->entries.size(); ++j) {
      const EntryRef& e = old->entries[j];
      if (!(e.d.mode & EntryMode::kPs2)) continue;
      Page& page = EditPage(patches, e.page);
      bytes::PutU16LE(page.data(), static_cast<std::uint16_t>(e.d.mode & ~EntryMode::kPs2));
    }
    bytes::PutU16LE(EditPage(patches, old->entry.page).data(),
                    static_cast<std::uint16_t>(old->entry.d.mode & ~EntryMode::kPs2));
  }

  // The root slot: the first free one after "." and "..", else a new one at the end,
  // which needs a new cluster when the root's clusters are full.
  std::uint32_t slot = 2;
  while (slot < root.size() && (root[slot].d.mode & EntryMode::kPs2)) ++slot;
  const bool append = slot == root.size();
  std::vector<std::uint32_t> rootChain = state_.rootChain;
  const bool rootGrows = append && slot / kEntriesPerCluster >= rootChain.size();

  const std::uint64_t needed = prepared.TotalClusters() + (rootGrows ? 1 : 0);
  out.neededKB = static_cast<std::uint32_t>(std::min<std::uint64_t>(needed, 0xFFFFFFFFu));
  if (needed > freeClusters) {
    out.result = ImportResult::kNoSpace;
    out.freeKB = state_.FreeClusters();
    return out;
  }

  // Every byte of the save is read before anything is written: it may come from this card.
  std::vector<std::vector<std::uint8_t>> data;
  if (!ReadSaveData(save, prepared, data)) return Outcome(ImportResult::kSourceUnreadable, out.folder);

  // Clusters are taken lowest first, below the console's limit, in the order the console
  // takes them: the root's new cluster, the directory's first, then for each file the
  // directory's next cluster when its entry starts one, and the file's own.
  const std::uint32_t limit = std::min<std::uint32_t>(sb.ConsoleLimit(), static_cast<std::uint32_t>(fat.size()));
  std::uint32_t cursor = 0;
  bool exhausted = false;
  auto allocate = [&](std::uint32_t& previous) {
    while (cursor < limit && (fat[cursor] & kFatInUse)) ++cursor;
    if (cursor >= limit) {
      exhausted = true;
      return 0u;
    }
    const std::uint32_t c = cursor++;
    fat[c] = kFatEnd;
    if (previous != dirent::kNoCluster) fat[previous] = kFatInUse | c;
    previous = c;
    return c;
  };
  if (rootGrows) {
    std::uint32_t tail = rootChain.back();
    rootChain.push_back(allocate(tail));
  }
  std::uint32_t dirTail = dirent::kNoCluster;
  std::vector<std::uint32_t> dirChain = {allocate(dirTail)};
  std::vector<std::vector<std::uint32_t>> fileChains(prepared.files.size());
  for (std::size_t i = 0; i < prepared.files.size() && !exhausted; ++i) {
    if ((2 + i) % kEntriesPerCluster == 0) dirChain.push_back(allocate(dirTail));
    std::uint32_t tail = dirent::kNoCluster;
    for (std::uint64_t k = 0; k < ClustersFor(prepared.files[i].length) && !exhausted; ++k)
      fileChains[i].push_back(allocate(tail));
    prepared.files[i].cluster = fileChains[i].empty() ? dirent::kNoCluster : fileChains[i][0];
  }
  if (exhausted) {
    out.result = ImportResult::kNoSpace;
    out.freeKB = state_.FreeClusters();
    return out;
  }

  // The root: its "." counts the entries and carries the time of the change.
  const std::uint32_t rootLength = std::max<std::uint32_t>(root[0].d.length, append ? slot + 1 : 0);
  {
    Page& page = EditPage(patches, root[0].page);
    DirEntry dot = DirEntry::Read(page.data());
    dot.length = rootLength;
    dot.modified = prepared.now;
    dot.Write(page.data());
  }
  DirEntry dir = prepared.directory;
  dir.cluster = dirChain[0];
  dir.dirEntry = 0;
  const std::uint64_t slotPage = state_.PageOfCluster(rootChain[slot / kEntriesPerCluster]) + slot % kEntriesPerCluster;
  patches[slotPage] = EntryPage(dir);
  if (rootGrows && slot % kEntriesPerCluster == 0) patches[slotPage + 1] = ErasedPage();

  // The save's directory: ".", "..", the files; the unused half of its last cluster erased.
  const DirEntry& rootDot = state_.root[0].d;
  std::vector<DirEntry> entries;
  DirEntry dot;
  dot.mode = EntryMode::kNewDirectory;
  dot.created = dot.modified = dir.created;
  dot.cluster = sb.rootCluster;
  dot.dirEntry = slot;
  dot.SetName(".");
  entries.push_back(dot);
  DirEntry dotdot;
  dotdot.mode = EntryMode::kNewDirectory;
  dotdot.created = dotdot.modified = rootDot.created;
  dotdot.cluster = rootDot.cluster;
  dotdot.dirEntry = rootDot.dirEntry;
  dotdot.SetName("..");
  entries.push_back(dotdot);
  entries.insert(entries.end(), prepared.files.begin(), prepared.files.end());
  for (std::size_t i = 0; i < dirChain.size() * kEntriesPerCluster; ++i) {
    const std::uint64_t page = state_.PageOfCluster(dirChain[i / kEntriesPerCluster]) + i % kEntriesPerCluster;
    patches[page] = i < entries.size() ? EntryPage(entries[i]) : ErasedPage();
  }

  // The files' data; past its end the last cluster is left as an erased page would be
  // (0xFF), as the console leaves it.
  for (std::size_t i = 0; i < fileChains.size(); ++i) {
    const std::vector<std::uint8_t>& bytes = data[i];
    for (std::size_t k = 0; k < fileChains[i].size(); ++k) {
      const std::uint64_t first = state_.PageOfCluster(fileChains[i][k]);
      for (std::uint32_t h = 0; h < kPagesPerCluster; ++h) {
        Page page = ErasedPage();
        const std::size_t from = (k * kPagesPerCluster + h) * kPageData;
        if (from < bytes.size())
          std::memcpy(page.data(), bytes.data() + from, std::min(kPageData, bytes.size() - from));
        patches[first + h] = page;
      }
    }
  }
  PatchFat(patches, fat);
  if (!Write(patches)) return Outcome(ImportResult::kWriteFailed, out.folder);
  out.result = replacing ? ImportResult::kReplaced : ImportResult::kImported;
  return out;
}

RemoveResult ImageCard::Remove(std::string_view folder) {
  if (!Rescan()) return RemoveResult::kWriteFailed;
  if (Damaged()) return RemoveResult::kCardDamaged;
  const SaveState* s = FindSave(folder);
  if (!s) return RemoveResult::kNotFound;
  // As the console removes a save: the "exists" bit off its files' entries and its own,
  // and bit 31 off every cluster it owns, each link left as it was. Lengths never shrink.
  std::vector<std::uint32_t> fat = state_.fat;
  const int index = static_cast<int>(s - state_.saves.data());
  for (std::uint32_t c = 0; c < fat.size(); ++c) {
    const int owner = state_.owner[c];
    if (owner >= 0 && state_.ownerSave[owner] == index) fat[c] &= ~kFatInUse;
  }
  PagePatches patches;
  for (std::size_t j = 2; j < s->entries.size(); ++j) {
    const EntryRef& e = s->entries[j];
    if (e.d.mode & EntryMode::kPs2)
      bytes::PutU16LE(EditPage(patches, e.page).data(), static_cast<std::uint16_t>(e.d.mode & ~EntryMode::kPs2));
  }
  bytes::PutU16LE(EditPage(patches, s->entry.page).data(),
                  static_cast<std::uint16_t>(s->entry.d.mode & ~EntryMode::kPs2));
  PatchFat(patches, fat);
  return Write(patches) ? RemoveResult::kRemoved : RemoveResult::kWriteFailed;
}

void ImageCard::CheckEveryPage(std::vector<Issue>& findings, PagePatches* fixes) const {
  const Geometry& g = state_.geometry;
  if (!g.ecc) return;
  bool readable = ForEachImagePage(path_, g, [&](std::uint64_t page, std::span<const std::uint8_t> raw) {
    // Page 1 of a PCSX2 image holds the emulator's checksum with the code of an erased page.
    if (page == 1) return;
    Page data;
    std::memcpy(data.data(), raw.data(), kPageData);
    int chunk = 0;
    const EccStatus status = CheckPage(data, raw.subspan(kPageData).first<kPageSpare>(), &chunk);
    const std::string where = "page " + Num(page);
    const std::string inChunk = " in chunk " + Num(chunk);
    switch (status) {
      case EccStatus::kGood:
        return;
      case EccStatus::kDataCorrected:
        findings.push_back({IssueKind::kEccCorrected, where, "one wrong data bit" + inChunk + ", correctable"});
        break;
      case EccStatus::kEccWrong:
        findings.push_back({IssueKind::kEccCodeWrong, where, "one wrong bit in the ECC" + inChunk + ", correctable"});
        break;
      case EccStatus::kUncorrectable:
        findings.push_back({IssueKind::kEccUncorrectable, where, "more than one wrong bit" + inChunk + ": not correctable"});
        return;
    }
    if (fixes) (*fixes)[page] = data;
  });
  if (!readable) findings.push_back({IssueKind::kReadFailed, "", "the image can't be read to its end"});
}

std::vector<Issue> ImageCard::Check() const {
  std::vector<Issue> findings;
  // The scan's findings, less its ECC ones: the pass over every page repeats those.
  for (const Issue& i : state_.issues) {
    if (i.kind == IssueKind::kEccCorrected || i.kind == IssueKind::kEccCodeWrong ||
        i.kind == IssueKind::kEccUncorrectable)
      continue;
    findings.push_back(i);
  }
  CheckEveryPage(findings, nullptr);
  // Lost clusters: in use, not bad, and owned by nothing; reported as runs.
  const std::vector<std::uint32_t>& fat = state_.fat;
  for (std::uint32_t c = 0; c < fat.size();) {
    auto lost = [&](std::uint32_t n) {
      return (fat[n] & kFatInUse) && fat[n] != kFatBad && state_.owner[n] < 0;
    };
    if (!lost(c)) {
      ++c;
      continue;
    }
    std::uint32_t end = c;
    while (end < fat.size() && lost(end)) ++end;
    findings.push_back({IssueKind::kLostCluster, end - c == 1 ? "cluster " + Num(c) : "clusters " + Num(c) + "-" + Num(end - 1),
                        "marked in use but no file or directory owns " + std::string(end - c == 1 ? "it" : "them")});
    c = end;
  }
  return findings;
}

RepairOutcome ImageCard::Repair() {
  RepairOutcome out;
  if (!Rescan()) {
    out.result = RepairResult::kWriteFailed;
    out.remaining = issues_;
    return out;
  }
  PagePatches patches;
  std::vector<Issue> findings;
  CheckEveryPage(findings, &patches);
  out.pagesCorrected = static_cast<int>(patches.size());
  std::vector<std::uint32_t> fat = state_.fat;
  bool damage = false;
  for (const Issue& i : state_.issues)
    if (i.severity() != Severity::kNotice && i.kind != IssueKind::kEccUncorrectable) damage = true;
  for (std::uint32_t c = 0; c < fat.size(); ++c) {
    if (!(fat[c] & kFatInUse) || fat[c] == kFatBad || state_.owner[c] >= 0) continue;
    // With a chain or a directory broken, a "lost" cluster may be the rest of a file.
    if (damage) {
      out.lostClustersKept = true;
      break;
    }
    fat[c] &= ~kFatInUse;
    ++out.clustersFreed;
  }
  if (out.lostClustersKept) fat = state_.fat;
  if (out.pagesCorrected == 0 && out.clustersFreed == 0) {
    out.result = RepairResult::kNothingToRepair;
    out.remaining = Check();
    return out;
  }
  // A FAT page both corrected and changed: the change is made on the corrected data.
  PatchFat(patches, fat);
  out.result = Write(patches) ? RepairResult::kRepaired : RepairResult::kWriteFailed;
  out.remaining = Check();
  return out;
}

}  // namespace card
