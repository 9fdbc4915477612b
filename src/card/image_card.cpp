#include "card/image_card.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "card/card_time.h"
#include "card/image_write.h"
#include "card/prepare.h"
#include "card/ps3_card.h"
#include "card/save_fill.h"
#include "io/file.h"
#include "model/bytes.h"
#include "model/count_text.h"

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

using text::Num;

}  // namespace

OpenedCard ImageCard::Open(io::SourcePtr source, std::string path, CardReading reading, CardType kind) {
  return FirstRead(std::unique_ptr<Card>(new ImageCard(std::move(source), std::move(path), reading, kind)));
}

std::vector<Issue> ImageCard::FileIssues() const {
  // The PS3's index of its cards keeps their free space in 16 bits of kilobytes.
  if (type() == CardType::kPs3Vm2 && state_.geometry.Pages() * kPageData > (std::uint64_t{kVm2MaxMegabytes} << 20))
    return {{IssueKind::kTooLargeForPs3, "",
             "a PS3 takes cards up to " + Num(kVm2MaxMegabytes) +
                 " MB: a larger .VM2 makes it loop at boot until the file is removed, so this one is only read"}};
  return {};
}

bool ImageCard::Rescan() {
  // Nothing to read again while the file is the version read (a look at it, not an open).
  if (scanned_ && state_.usable && source_ && source_->Current()) return true;
  // Saves opened from the image go on reading it as it was: what they have not read yet
  // is read now, before the card reads (and perhaps rewrites) its file again.
  if (state_.bytes && state_.bytes.use_count() > 1) state_.bytes->Complete();
  if (scanned_) ReadAgain();
  state_ = ScanImage(source_, std::nullopt, reading_ == CardReading::kHeld);
  issues_ = state_.issues;
  if (state_.usable)
    for (Issue& i : FileIssues()) issues_.push_back(std::move(i));
  scanned_ = true;
  return state_.usable;
}

CardType ImageCard::type() const {
  if (!state_.geometry.ecc) return CardType::kRawImage;
  return kind_ == CardType::kPs3Vm2 ? kind_ : CardType::kImageWithEcc;
}

const SaveState* ImageCard::FindSave(std::string_view folder) const {
  for (const SaveState& s : state_.saves)
    if (s.entry.d.Name() == folder) return &s;
  return nullptr;
}

Listing ImageCard::List() const {
  const HeldRun titles(state_.bytes.get());  // the titles read with the file opened once
  if (state_.bytes) {
    // Every icon.sys read beside the listing, on a second core when one is free.
    ContainerExtents titleFiles;
    titleFiles.extents.reserve(state_.saves.size() * kPagesPerCluster);  // one cluster each, mostly
    for (const SaveState& s : state_.saves)
      for (const FileState& f : s.files)
        if (f.entry.d.Name() == kIconSysName) FileExtents(f, titleFiles);
    state_.bytes->ReadAhead(std::move(titleFiles.extents));
  }
  Listing listing;
  listing.saves.reserve(state_.saves.size());
  for (const SaveState& s : state_.saves) {
    const bool readable = s.readable && !s.subfolder;
    const std::unique_ptr<CCardSave> parts = MakeSave(s, !readable, /*titleOnly=*/true);
    SaveInfo& info = listing.saves.emplace_back(
        InfoFor(s.entry.d, static_cast<int>(s.files.size()), s.sizeClusters, readable, parts.get()));
    info.damage = s.damage;
  }
  listing.freeKB = state_.FreeClusters();
  return listing;
}

std::shared_ptr<const void> ImageCard::KeepFileOpen() const {
  if (!state_.bytes) return nullptr;
  // The image itself is kept too: a rescan meanwhile may hold another.
  std::shared_ptr<const HeldImage> image = state_.bytes;
  if (!image->Reopen()) return nullptr;  // the file has changed: nothing of it is read
  return std::shared_ptr<const void>(image.get(), [image](const void*) { image->Release(); });
}

Card::SaveFound ImageCard::FindForOpen(std::string_view folder) const {
  const SaveState* s = FindSave(folder);
  if (!s) return SaveFound::kAbsent;
  if (s->subfolder) return SaveFound::kSubfolder;
  return s->readable ? SaveFound::kReadable : SaveFound::kDamaged;
}

std::unique_ptr<CSaveGame> ImageCard::SaveObject(std::string_view folder) const {
  const SaveState* s = FindSave(folder);
  return s ? MakeSave(*s, false) : nullptr;
}

std::unique_ptr<CCardSave> ImageCard::ReadableParts(std::string_view folder) const {
  const SaveState* s = FindSave(folder);
  return s ? MakeSave(*s, true) : nullptr;
}

bool ImageCard::FileExtents(const FileState& f, ContainerExtents& extents) const {
  // The file's bytes: its clusters' pages in chain order, merged where they touch.
  std::uint64_t left = f.entry.d.length;
  for (std::size_t k = 0; k < f.chain.size() && left > 0; ++k) {
    const std::uint64_t first = state_.PageOfCluster(f.chain[k]);
    for (std::uint32_t h = 0; h < kPagesPerCluster && left > 0; ++h) {
      const std::uint64_t n = std::min<std::uint64_t>(left, kPageData);
      AppendExtent(extents.extents, state_.geometry.PageOffset(first + h), n);
      left -= n;
    }
  }
  return left == 0;
}

std::unique_ptr<CCardSave> ImageCard::MakeSave(const SaveState& s, bool readableOnly, bool titleOnly) const {
  auto save = std::make_unique<CCardSave>();
  try {
    std::vector<const FileState*> files;
    for (const FileState& f : s.files)
      if ((f.readable || !readableOnly) && (!titleOnly || f.entry.d.Name() == kIconSysName)) files.push_back(&f);
    StartCardSave(*save, s.entry.d, files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      SaveEntry& e = (*save->entries)[i + 1];
      FillEntry(e, files[i]->entry.d, true);
      save->attributes[i + 1] = files[i]->entry.d.attr;
      ContainerExtents extents;
      extents.held = state_.bytes;
      if (!FileExtents(*files[i], extents)) return nullptr;
      e.source = std::move(extents);
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  FinishCardSave(*save, source_);
  return save;
}

Page& ImageCard::EditPage(PagePatches& patches, std::uint64_t page) const {
  auto it = patches.find(page);
  if (it != patches.end()) return it->second;
  Page data{};
  ReadImagePage(*source_, state_.geometry, page, data);
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

WriteResult ImageCard::Write(const PagePatches& patches) {
  refusal_.clear();
  for (const Issue& i : FileIssues())
    if (i.severity() != Severity::kNotice) {
      refusal_ = (i.where.empty() ? "" : i.where + ": ") + i.message;
      return WriteResult::kRefused;
    }
  const std::vector<Issue> before = state_.issues;
  // Saves opened from a held image go on reading it as it was, after the file is replaced.
  if (state_.bytes && state_.bytes.use_count() > 1 && !state_.bytes->Complete()) return WriteResult::kFailed;
  ImageState after;
  io::SourcePtr written;
  WriteResult result;
  {
    const std::unique_ptr<io::ByteSink> out = WriteBackSink();
    result = RewriteImage(*source_, state_.geometry, patches, *out, [&](const io::SourcePtr& image) {
      written = image;
      return AcceptWithoutNewDamage(image, before, path_, refusal_, &after, reading_ == CardReading::kHeld);
    });
    if (result != WriteResult::kWritten) {
      // Let go of the bytes read back before the temporary file goes.
      after = ImageState{};
      written.reset();
    }
  }
  if (result != WriteResult::kWritten) {
    // A window's card keeps no file open between its reads.
    if (reading_ == CardReading::kHeld && source_) source_->Release();
    return result;
  }
  // The card is now what was read back: nothing is read again.
  if (after.bytes) after.bytes->Release();
  source_ = std::move(written);
  state_ = std::move(after);
  issues_ = state_.issues;
  for (Issue& i : FileIssues()) issues_.push_back(std::move(i));
  return result;
}

void ImageCard::PlanRemoval(const SaveState& s, Plan& plan) const {
  // As the console removes a save: the "exists" bit off its files' entries and its own,
  // and bit 31 off every cluster it owns, each link left as it was. Lengths never shrink.
  const int index = static_cast<int>(&s - state_.saves.data());
  for (std::uint32_t c = 0; c < plan.fat.size(); ++c) {
    const int owner = state_.owner[c];
    if (owner >= 0 && state_.ownerSave[owner] == index) plan.fat[c] &= ~kFatInUse;
  }
  for (std::size_t j = 2; j < s.entries.size(); ++j) {
    const EntryRef& e = s.entries[j];
    if (e.d.mode & EntryMode::kPs2)
      bytes::PutU16LE(EditPage(plan.patches, e.page).data(), static_cast<std::uint16_t>(e.d.mode & ~EntryMode::kPs2));
  }
  bytes::PutU16LE(EditPage(plan.patches, s.entry.page).data(),
                  static_cast<std::uint16_t>(s.entry.d.mode & ~EntryMode::kPs2));
  plan.root[s.rootIndex].d.mode &= ~EntryMode::kPs2;
}

ImageCard::Plan ImageCard::PlanImport(const SaveState* old) const {
  Plan plan;
  plan.fat = state_.fat;
  plan.root = state_.root;
  plan.rootChain = state_.rootChain;
  // The old save goes first, as a removal would take it: its clusters come free for the
  // new one and its slot in the root is reused.
  if (old) PlanRemoval(*old, plan);
  // The root slot: the first free one after "." and "..", else a new one at the end,
  // which needs a new cluster when the root's clusters are full.
  plan.slot = 2;
  while (plan.slot < plan.root.size() && (plan.root[plan.slot].d.mode & EntryMode::kPs2)) ++plan.slot;
  plan.append = plan.slot == plan.root.size();
  plan.rootGrows = plan.append && plan.slot / kEntriesPerCluster >= plan.rootChain.size();
  return plan;
}

bool ImageCard::Allocate(Plan& plan, PreparedSave& prepared) const {
  // Clusters are taken lowest first, below the console's limit, in the order the console
  // takes them: the root's new cluster, the directory's first, then for each file the
  // directory's next cluster when its entry starts one, and the file's own.
  std::vector<std::uint32_t>& fat = plan.fat;
  const std::uint32_t limit =
      std::min<std::uint32_t>(state_.superblock.ConsoleLimit(), static_cast<std::uint32_t>(fat.size()));
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
  if (plan.rootGrows) {
    std::uint32_t tail = plan.rootChain.back();
    plan.rootChain.push_back(allocate(tail));
  }
  std::uint32_t dirTail = dirent::kNoCluster;
  plan.dirChain = {allocate(dirTail)};
  plan.fileChains.assign(prepared.files.size(), {});
  for (std::size_t i = 0; i < prepared.files.size() && !exhausted; ++i) {
    if ((2 + i) % kEntriesPerCluster == 0) plan.dirChain.push_back(allocate(dirTail));
    std::uint32_t tail = dirent::kNoCluster;
    for (std::uint64_t k = 0; k < ClustersFor(prepared.files[i].length) && !exhausted; ++k)
      plan.fileChains[i].push_back(allocate(tail));
    prepared.files[i].cluster = plan.fileChains[i].empty() ? dirent::kNoCluster : plan.fileChains[i][0];
  }
  return !exhausted;
}

void ImageCard::PatchDirectories(Plan& plan, const PreparedSave& prepared) const {
  const Superblock& sb = state_.superblock;
  // The root: its "." counts the entries and carries the time of the change.
  const std::uint32_t rootLength = std::max<std::uint32_t>(plan.root[0].d.length, plan.append ? plan.slot + 1 : 0);
  Page& rootPage = EditPage(plan.patches, plan.root[0].page);
  DirEntry rootDot = DirEntry::Read(rootPage.data());
  rootDot.length = rootLength;
  rootDot.modified = prepared.now;
  rootDot.Write(rootPage.data());
  DirEntry dir = prepared.directory;
  dir.cluster = plan.dirChain[0];
  dir.dirEntry = 0;
  const std::uint64_t slotPage =
      state_.PageOfCluster(plan.rootChain[plan.slot / kEntriesPerCluster]) + plan.slot % kEntriesPerCluster;
  plan.patches[slotPage] = EntryPage(dir);
  if (plan.rootGrows && plan.slot % kEntriesPerCluster == 0) plan.patches[slotPage + 1] = ErasedPage();

  // The save's directory: ".", "..", the files; the unused half of its last cluster erased.
  const DirEntry& parent = state_.root[0].d;
  std::vector<DirEntry> entries(2);
  for (DirEntry& e : entries) e.mode = EntryMode::kNewDirectory;
  entries[0].created = entries[0].modified = dir.created;
  entries[0].cluster = sb.rootCluster;
  entries[0].dirEntry = plan.slot;
  entries[0].SetName(".");
  entries[1].created = entries[1].modified = parent.created;
  entries[1].cluster = parent.cluster;
  entries[1].dirEntry = parent.dirEntry;
  entries[1].SetName("..");
  entries.insert(entries.end(), prepared.files.begin(), prepared.files.end());
  for (std::size_t i = 0; i < plan.dirChain.size() * kEntriesPerCluster; ++i) {
    const std::uint64_t page = state_.PageOfCluster(plan.dirChain[i / kEntriesPerCluster]) + i % kEntriesPerCluster;
    plan.patches[page] = i < entries.size() ? EntryPage(entries[i]) : ErasedPage();
  }
}

void ImageCard::PatchData(Plan& plan, const std::vector<std::vector<std::uint8_t>>& data) const {
  // Past a file's end its last cluster is left as an erased page would be (0xFF), as the
  // console leaves it.
  for (std::size_t i = 0; i < plan.fileChains.size(); ++i) {
    const std::vector<std::uint8_t>& bytes = data[i];
    for (std::size_t k = 0; k < plan.fileChains[i].size(); ++k) {
      const std::uint64_t first = state_.PageOfCluster(plan.fileChains[i][k]);
      for (std::uint32_t h = 0; h < kPagesPerCluster; ++h) {
        Page page = ErasedPage();
        const std::size_t from = (k * kPagesPerCluster + h) * kPageData;
        if (from < bytes.size()) std::memcpy(page.data(), bytes.data() + from, std::min(kPageData, bytes.size() - from));
        plan.patches[first + h] = page;
      }
    }
  }
}

ImportOutcome ImageCard::Import(const CSaveGame& save, const ImportOptions& options) {
  PreparedSave prepared;
  ImportOutcome out = BeginImport(save, options, prepared);
  if (out.result != ImportResult::kImported) return out;
  const SaveState* old = FindSave(out.folder);
  if (old && !options.replace) return Outcome(ImportResult::kAlreadyOnCard, out.folder);

  Plan plan = PlanImport(old);
  const std::uint64_t needed = prepared.TotalClusters() + (plan.rootGrows ? 1 : 0);
  const std::uint32_t available = CountFree(state_.superblock, plan.fat);
  if (needed > available) return NoSpace(out, needed, state_.FreeClusters(), available);
  // Every byte of the save is read before anything is written: it may come from this card.
  std::vector<std::vector<std::uint8_t>> data;
  if (!ReadSaveData(save, prepared, data)) return Outcome(ImportResult::kSourceUnreadable, out.folder);
  if (!Allocate(plan, prepared)) return NoSpace(out, needed, state_.FreeClusters(), available);
  PatchDirectories(plan, prepared);
  PatchData(plan, data);
  PatchFat(plan.patches, plan.fat);
  return Finish(out, Write(plan.patches), old ? ImportResult::kReplaced : ImportResult::kImported, prepared);
}

RemoveResult ImageCard::Remove(std::string_view folder) {
  if (!Rescan()) return RemoveResult::kWriteFailed;
  if (Damaged()) return RemoveResult::kCardDamaged;
  const SaveState* s = FindSave(folder);
  if (!s) return RemoveResult::kNotFound;
  Plan plan;
  plan.fat = state_.fat;
  plan.root = state_.root;
  PlanRemoval(*s, plan);
  PatchFat(plan.patches, plan.fat);
  return RemoveResultOf(Write(plan.patches));
}

void ImageCard::CheckEveryPage(std::vector<Issue>& findings, PagePatches* fixes) const {
  const Geometry& g = state_.geometry;
  if (!g.ecc) return;
  bool readable = ForEachImagePage(*source_, g, [&](std::uint64_t page, std::span<const std::uint8_t> raw) {
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
  for (Issue& i : FileIssues()) findings.push_back(std::move(i));
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
  out.result = RepairResultOf(Write(patches));
  out.detail = refusal_;
  out.remaining = Check();
  return out;
}

}  // namespace card

namespace card {

RepairOutcome RepairSuperblock(const std::string& path) {
  RepairOutcome out;
  const io::SourcePtr image = io::OpenSource(path);
  const ImageState now = ScanImage(image);
  out.remaining = now.issues;
  const bool superblockIssue = std::any_of(now.issues.begin(), now.issues.end(), [](const Issue& i) {
    return i.kind == IssueKind::kDamagedSuperblock || i.kind == IssueKind::kBadSuperblock ||
           i.kind == IssueKind::kSizeMismatch;
  });
  if (now.usable || !superblockIssue || !image) return out;
  const ImageClass likely = ClassifyImage({}, image->size());
  if (likely.kind != ImageKind::kUnformatted) return out;
  const std::optional<SuperblockPage> rebuilt = RebuiltSuperblock(image, likely.geometry);
  if (!rebuilt) return out;
  PagePatches patches;
  patches[0] = *rebuilt;
  // The card had no usable superblock: any damage it shows under the new one is new.
  io::SourcePtr written;
  WriteResult result;
  {
    io::OutputFile file(path, /*inPlace=*/false);
    file.ReleaseBeforeReplacing(image);
    result = RewriteImage(*image, likely.geometry, patches, file, [&](const io::SourcePtr& newImage) {
      written = newImage;
      return AcceptWithoutNewDamage(newImage, {}, path, out.detail);
    });
    if (result != WriteResult::kWritten) written.reset();
  }
  out.result = RepairResultOf(result);
  out.superblockRebuilt = result == WriteResult::kWritten;
  OpenedCard opened = ImageCard::Open(written ? written : io::OpenSource(path), path);
  out.remaining = opened.card ? opened.card->Check() : opened.issues;
  return out;
}

}  // namespace card
