// Reading a card image's structure: superblock, FAT, directories and chains.
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <new>
#include <string>

#include "card/held_image.h"
#include "card/image_card.h"
#include "card/image_write.h"
#include "card/prepare.h"
#include "io/file.h"
#include "io/path.h"
#include "model/bytes.h"
#include "model/count_text.h"

namespace card {

namespace {

constexpr int kNoOwner = -1;
constexpr int kRootOwner = 0;  // the root directory's chain is the first one walked
// Deeper than any save needs; a deeper tree is damage, not a reason to recurse further.
constexpr int kMaxDepth = 8;

using text::Num;

std::string PageWhere(std::uint64_t page) { return "page " + Num(page); }

class Scanner {
 public:
  Scanner(io::SourcePtr source, const std::optional<SuperblockPage>& superblock, bool hold)
      : source_(std::move(source)), superblock_(superblock), hold_(hold) {}
  ImageState Run();

 private:
  // An entry by its directory's owner (kRootOwner for the root's entries) and its name:
  // made into text ("save/file") only when an issue names it.
  struct Place {
    int parent = kNoOwner;
    std::string_view name;
  };
  // An owner's place, with its name kept.
  struct OwnerPlace {
    int parent = kNoOwner;
    std::uint8_t length = 0;
    std::array<char, dirent::kNameSize> name{};
  };

  void Add(IssueKind kind, std::string where, std::string message) {
    st_.issues.push_back({kind, std::move(where), std::move(message)});
  }
  bool Fatal(IssueKind kind, std::string where, std::string message) {
    Add(kind, std::move(where), std::move(message));
    return false;
  }
  bool Start();
  // The image held in memory when it is a card of at most kHeldImageLimit bytes.
  bool Hold();
  // n bytes from offset: where they lie in the held image or in a run fetched, else read
  // into `out` (exactly those bytes); null when they can't be read.
  const std::uint8_t* Bytes(std::uint64_t offset, std::size_t n, std::uint8_t* out);
  // n bytes from offset copied into out.
  bool ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    const std::uint8_t* p = Bytes(offset, n, out);
    if (p && p != out) std::memcpy(out, p, n);
    return p != nullptr;
  }
  // A file of a card's size with no superblock: unformatted when it holds nothing but 0xFF
  // or nothing but zeros, a damaged card when a superblock can be found for it, else no card.
  bool NoSuperblock(const Geometry& likely);
  bool CheckSuperblock();
  // A superblock no card has: the file named as a damaged card, with what is wrong and,
  // when it can, how to rebuild it.
  bool DamagedSuperblock(IssueKind kind, const std::string& what, bool rebuildable);
  // True when a superblock can be rebuilt under which the rest of the image reads whole.
  bool Rebuildable() const;
  bool ReadFat();
  bool ReadRoot();
  // A page's data, checked and corrected with its ECC: where it lies in the held image when
  // it needs no correction, else in page_; null when it can't be read. Valid until the
  // next ReadPage.
  const std::uint8_t* ReadPage(std::uint64_t page);
  // The page's data copied out; false when it can't be read.
  bool CopyPage(std::uint64_t page, std::span<std::uint8_t, kPageData> data);
  int NewOwner(const Place& place, int save);
  // What issues call a place: its directories' names and its own, joined by "/".
  std::string Where(const Place& place) const;
  // An owner as a place ("root directory" for the root) and by name ("the root directory").
  std::string Where(int owner) const;
  std::string NameOf(int owner) const;
  // Walks a chain into walked_, marking its clusters; true when it ended where a chain
  // should.
  bool WalkChain(std::uint32_t first, int owner);
  // A chain that runs into cluster c of another: both chains' saves are damaged (`owner`
  // is kNoOwner for a directory not yet given one, whose save is left unread anyway).
  void CrossLink(int owner, std::uint32_t c, const std::string& where);
  void MarkCrossLinked(int owner);
  // What is wrong with each save that can't be read, from the issues found.
  void NameSaveDamage();
  // The clusters of a directory not read yet are read in one call to the system. Only
  // they are: on a card the console wrote, its clusters lie on either side of the save's
  // first files, which most windows never read.
  void ReadAhead(const std::vector<std::uint32_t>& chain, std::uint32_t n);
  // The bytes that reading n entries of a directory through its chain reads: its clusters,
  // those that follow one another as one range.
  void AddDirectoryRanges(const std::vector<std::uint32_t>& chain, std::uint32_t n, std::vector<Extent>& out) const;
  // Reads the ranges' pieces not read yet in one call to the system (a held image only).
  void Prefetch(const std::vector<Extent>& ranges);
  // Not held: the pages of a directory's first n entries that no run holds yet, added to
  // `out`; a directory's pages are read and no page between them.
  void AddEntryPages(const std::vector<std::uint32_t>& chain, std::uint32_t n, std::vector<Extent>& out) const;
  // Not held: reads the ranges in one call to the system where it can, kept as runs for
  // Bytes; a range that can't be read is left out (Bytes reads it alone, and reports it).
  void Fetch(const std::vector<Extent>& ranges);
  // The run holding n bytes from offset; null when none does.
  const std::uint8_t* InRun(std::uint64_t offset, std::size_t n) const;
  // The saves' directories, read on a second core while the scan goes through them (held),
  // or at once (not held): each chain followed through the FAT as far as its entries
  // need, without judging it (the scan does that).
  void ReadSavesAhead();
  // Reads n entries of a directory through its chain.
  bool ReadEntries(const std::vector<std::uint32_t>& chain, std::uint32_t n, std::vector<EntryRef>& out);
  // The entry count of a directory that can be read, reporting lengths that can't.
  std::uint32_t UsableLength(std::uint32_t length, std::size_t chainClusters, int owner);
  void ScanSave(const EntryRef& entry, std::uint32_t rootIndex);
  // Reports "." and ".." of a save's directory where they don't link as the console links them.
  void CheckDotEntries(const SaveState& save, int owner);
  // One file of save `index`: its chain walked and held against its length. Gives the
  // clusters its length needs.
  std::uint64_t ScanFile(SaveState& save, int index, const EntryRef& e, const Place& place);
  // A directory below a save: its clusters are marked, nothing else is kept.
  void MarkTree(const EntryRef& entry, int save, int depth, const Place& place);
  // False (and the issue) when a directory's first cluster already belongs to a chain.
  bool DirectoryStartIsFree(std::uint32_t first, const Place& place);
  void CheckBackupBlock();
  // A name with "/", which no entry of a card can have: the console makes none, and it
  // would name another place on a PC.
  void ReportSlash(std::string_view name, int owner) {
    if (name.find('/') != std::string_view::npos)
      Add(IssueKind::kBadDirectory, Where(owner), "a name with \"/\", which no card entry can have");
  }

  io::SourcePtr source_;
  std::optional<SuperblockPage> superblock_;  // read in place of page 0
  bool hold_;                                 // the image held in memory
  std::uint64_t size_ = 0;
  ImageState st_;
  std::vector<bool> crossLinked_;   // per save: one of its chains meets another chain
  std::vector<bool> toldCrossed_;   // per owner: told that another chain runs into it
  std::vector<OwnerPlace> owners_;  // per owner
  std::vector<std::uint32_t> walked_;  // the clusters of the last chain walked
  std::vector<Extent> prefetch_;  // the last bytes read at once
  std::array<std::uint8_t, kPageData + kPageSpare> page_{};
  // Not held: the byte ranges fetched at once, by offset, each read at most once.
  struct Fetched {
    std::uint64_t at = 0;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Fetched> runs_;
};

ImageState Scanner::Run() {
  try {
    st_.usable = Start() && Hold() && CheckSuperblock() && ReadFat() && ReadRoot();
    if (!st_.usable) return std::move(st_);
    // The root's entries stay as they are while the saves are read.
    const std::vector<EntryRef>& root = st_.root;
    st_.saves.reserve(root.size());
    ReadSavesAhead();
    for (std::uint32_t i = 2; i < root.size(); ++i) {
      const DirEntry& d = root[i].d;
      if (!(d.mode & EntryMode::kPs2)) continue;
      if (EntryMode::IsDirectory(d.mode))
        ScanSave(root[i], i);
      else if (d.cluster != dirent::kNoCluster)
        WalkChain(d.cluster, NewOwner({kRootOwner, d.Name()}, -1));
    }
    CheckBackupBlock();
    for (std::size_t i = 0; i < crossLinked_.size(); ++i)
      if (crossLinked_[i]) st_.saves[i].readable = false;
    NameSaveDamage();
  } catch (const std::bad_alloc&) {
    Add(IssueKind::kReadFailed, "", "not enough memory to read the card");
    st_.usable = false;
  }
  // A held image's file isn't kept open: where it is, it couldn't be replaced (a window
  // keeps its card a long while). A card read once keeps it while it lives.
  if (st_.bytes) st_.bytes->Release();
  return std::move(st_);
}

bool Scanner::Start() {
  if (!source_) return Fatal(IssueKind::kOpenFailed, "", "the file can't be opened");
  // A card is read page by page where its structure lies: nothing read ahead of that.
  source_->Advise(io::Access::kScattered);
  size_ = source_->size();
  std::array<std::uint8_t, sb::kClustersOffset + 4> head{};
  std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(head.size(), size_));
  if (!source_->ReadAt(0, std::span(head.data(), got))) return Fatal(IssueKind::kReadFailed, "", "the file can't be read");
  if (superblock_) got = std::copy_n(superblock_->begin(), head.size(), head.begin()) - head.begin();
  const ImageClass c = ClassifyImage(std::span(head.data(), got), size_);
  switch (c.kind) {
    case ImageKind::kCard:
      st_.geometry = c.geometry;
      return true;
    case ImageKind::kPs1Card:
      return Fatal(IssueKind::kPs1Card, "",
                   "128 KiB like a PlayStation (PS1) memory card, but without a PS1 card's \"MC\" header");
    case ImageKind::kUnformatted:
      return NoSuperblock(c.geometry);
    case ImageKind::kUnknown:
      break;
  }
  if (got >= sb::kMagic.size() && std::memcmp(head.data(), sb::kMagic.data(), sb::kMagic.size()) == 0)
    return DamagedSuperblock(IssueKind::kSizeMismatch,
                             "its superblock describes a card of " +
                                 Num(got == head.size() ? bytes::GetU32LE(head.data() + sb::kClustersOffset) : 0) +
                                 " clusters, which is not what a file of " + Num(size_) + " bytes holds",
                             Rebuildable());
  return Fatal(IssueKind::kNotACard, "", "not a PS2 memory card image");
}

bool Scanner::Hold() {
  if (!hold_ || size_ > kHeldImageLimit) return true;
  // Every piece read later comes from the version opened (the source sees to that).
  st_.bytes = std::make_shared<const HeldImage>(source_);
  return true;
}

const std::uint8_t* Scanner::Bytes(std::uint64_t offset, std::size_t n, std::uint8_t* out) {
  if (st_.bytes) return st_.bytes->Bytes(offset, n);
  if (const std::uint8_t* all = source_->data()) return offset <= size_ && n <= size_ - offset ? all + offset : nullptr;
  if (const std::uint8_t* p = InRun(offset, n)) return p;
  return source_->ReadAt(offset, std::span(out, n)) ? out : nullptr;
}

const std::uint8_t* Scanner::InRun(std::uint64_t offset, std::size_t n) const {
  // The last run starting at or before offset.
  auto it = std::upper_bound(runs_.begin(), runs_.end(), offset, [](std::uint64_t at, const Fetched& r) { return at < r.at; });
  if (it == runs_.begin()) return nullptr;
  const Fetched& r = *--it;
  if (offset - r.at > r.bytes.size() || n > r.bytes.size() - (offset - r.at)) return nullptr;
  return r.bytes.data() + (offset - r.at);
}

void Scanner::Fetch(const std::vector<Extent>& ranges) {
  if (ranges.empty()) return;
  std::vector<Fetched> fetched(ranges.size());
  std::vector<io::File::ReadAt> reads(ranges.size());
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    fetched[i].at = ranges[i].offset;
    fetched[i].bytes.resize(static_cast<std::size_t>(ranges[i].length));
    reads[i] = {ranges[i].offset, fetched[i].bytes.data(), fetched[i].bytes.size()};
  }
  source_->ReadManyAt(reads);
  for (std::size_t i = 0; i < fetched.size(); ++i)
    if (reads[i].done) runs_.push_back(std::move(fetched[i]));
  std::sort(runs_.begin(), runs_.end(), [](const Fetched& a, const Fetched& b) { return a.at < b.at; });
}

bool Scanner::NoSuperblock(const Geometry& likely) {
  const std::optional<bool> blank = HoldsOneByteValue(*source_);
  if (!blank) return Fatal(IssueKind::kReadFailed, "", "the file can't be read");
  if (*blank)
    return Fatal(IssueKind::kUnformatted, "",
                 "an unformatted card image of " + Num(likely.clusters / 1024) + " MiB: format it first");
  const bool rebuildable = Rebuildable();
  if (superblock_ || (!rebuildable && !SignedPageZero(*source_, likely)))
    return Fatal(IssueKind::kNotACard, "", "not a PS2 memory card image");
  return DamagedSuperblock(IssueKind::kDamagedSuperblock,
                           rebuildable ? "its superblock (page 0) has lost the card signature, while its FAT and "
                                         "directories are whole"
                                       : "its superblock (page 0) has lost the card signature, and its FAT or "
                                         "directories are damaged too, so the superblock can't be rebuilt",
                           rebuildable);
}

bool Scanner::DamagedSuperblock(IssueKind kind, const std::string& what, bool rebuildable) {
  return Fatal(kind, "superblock",
               std::string(io::FileNameOf(source_->name())) + " is a damaged memory card: " + what +
                   (rebuildable ? "; moravelt-cli card check --repair can rebuild the superblock" : ""));
}

bool Scanner::Rebuildable() const {
  // Only the image's own superblock is judged: a scan under a candidate superblock is one
  // step of that judgement.
  const ImageClass likely = ClassifyImage({}, size_);
  return !superblock_ && likely.kind == ImageKind::kUnformatted && RebuiltSuperblock(source_, likely.geometry);
}

bool Scanner::CheckSuperblock() {
  std::array<std::uint8_t, kPageData> page;
  if (superblock_) {
    std::copy(superblock_->begin(), superblock_->end(), page.begin());
  } else if (!CopyPage(0, page)) return Fatal(IssueKind::kReadFailed, "superblock", "the superblock can't be read");
  const Superblock s = Superblock::Read(page);
  st_.superblock = s;
  std::string wrong;
  if (s.pageLen != kPageData || s.pagesPerCluster != kPagesPerCluster || s.pagesPerBlock != kPagesPerBlock)
    wrong = "its superblock gives pages of " + Num(s.pageLen) + " bytes, " + Num(s.pagesPerCluster) +
            " per cluster and " + Num(s.pagesPerBlock) + " per block: only 512, 2 and 16 are known";
  else if (s.allocOffset < 1 || s.allocOffset >= s.clusters)
    wrong = "its superblock starts the allocation area at cluster " + Num(s.allocOffset) + ", outside the card";
  // Some formatters count alloc_end to the card's end, over the backup blocks; a chain
  // can't go past the card (WalkChain) and nothing is allocated past the console's limit.
  else if (s.allocEnd == 0 || s.allocEnd > s.clusters)
    wrong = "its superblock's allocation area of " + Num(s.allocEnd) + " clusters from cluster " +
            Num(s.allocOffset) + " does not fit the card's " + Num(s.clusters);
  else if (s.rootCluster >= s.allocEnd)
    wrong = "its superblock starts the root directory at cluster " + Num(s.rootCluster) + ", past the allocation area";
  else if (s.backupBlock1 >= s.clusters / kClustersPerBlock || s.backupBlock2 >= s.clusters / kClustersPerBlock)
    wrong = "its superblock's backup blocks " + Num(s.backupBlock1) + " and " + Num(s.backupBlock2) +
            " are not both on the card";
  return wrong.empty() || DamagedSuperblock(IssueKind::kBadSuperblock, wrong, Rebuildable());
}

bool Scanner::ReadFat() {
  const Superblock& s = st_.superblock;
  const std::uint32_t fatClusters = s.FatClusters();
  const std::uint32_t indirect = (fatClusters + kFatPerCluster - 1) / kFatPerCluster;
  // The FAT lives between the superblock's block and the allocation area.
  auto outside = [&s](std::uint32_t c) { return c < 1 || c >= s.allocOffset; };
  st_.fat.assign(s.allocEnd, 0);
  st_.fatClusters.assign(fatClusters, 0);
  std::array<std::uint8_t, kClusterSize> cluster;
  // A cluster's first `entries` entries: the pages that hold them.
  auto readCluster = [&](std::uint32_t absolute, std::uint32_t entries) {
    const std::uint64_t page = std::uint64_t{absolute} * kPagesPerCluster;
    return CopyPage(page, std::span(cluster).first<kPageData>()) &&
           (entries <= kPageData / 4 || CopyPage(page + 1, std::span(cluster).subspan<kPageData, kPageData>()));
  };
  // Each indirect and FAT cluster is a cluster of its own: two pointers naming one would
  // make a write to one part of the FAT change another.
  std::vector<bool> taken(s.allocOffset, false);
  // `what` and n name the cluster claimed ("FAT cluster" 3): put into words only when
  // another has it.
  auto claim = [&](std::uint32_t c, std::string_view what, std::uint32_t n) {
    if (taken[c])
      Add(IssueKind::kFatAliased, "FAT",
          std::string(what) + " " + Num(n) + " is at cluster " + Num(c) + ", which another FAT cluster uses");
    taken[c] = true;
  };
  for (std::uint32_t i = 0; i < indirect; ++i) {
    const std::uint32_t ifc = s.ifcList[i];
    if (outside(ifc))
      return Fatal(IssueKind::kBadFat, "superblock",
                   "indirect FAT cluster " + Num(i) + " is at cluster " + Num(ifc) + ", outside the FAT's area");
    claim(ifc, "indirect FAT cluster", i);
    if (!readCluster(ifc, std::min(kFatPerCluster, fatClusters - i * kFatPerCluster)))
      return Fatal(IssueKind::kReadFailed, "FAT", "the indirect FAT can't be read");
    for (std::uint32_t j = 0; j < kFatPerCluster && i * kFatPerCluster + j < fatClusters; ++j) {
      const std::uint32_t fc = bytes::GetU32LE(cluster.data() + 4 * j);
      if (outside(fc))
        return Fatal(IssueKind::kBadFat, "FAT",
                     "FAT cluster " + Num(i * kFatPerCluster + j) + " is at cluster " + Num(fc) +
                         ", outside the FAT's area");
      st_.fatClusters[i * kFatPerCluster + j] = fc;
    }
  }
  for (std::uint32_t k = 0; k < fatClusters; ++k) claim(st_.fatClusters[k], "FAT cluster", k);
  if (!source_->data()) {
    // The FAT's clusters, read in one call to the system.
    const Geometry& g = st_.geometry;
    prefetch_.clear();
    for (const std::uint32_t fc : st_.fatClusters)
      AppendExtent(prefetch_, g.PageOffset(std::uint64_t{fc} * kPagesPerCluster), g.PageOffset(kPagesPerCluster));
    if (st_.bytes)
      Prefetch(prefetch_);
    else
      Fetch(prefetch_);
  }
  for (std::uint32_t k = 0; k < fatClusters; ++k) {
    if (!readCluster(st_.fatClusters[k], kFatPerCluster)) return Fatal(IssueKind::kReadFailed, "FAT", "the FAT can't be read");
    for (std::uint32_t j = 0; j < kFatPerCluster; ++j) {
      const std::uint64_t n = std::uint64_t{k} * kFatPerCluster + j;
      if (n < s.allocEnd) st_.fat[n] = bytes::GetU32LE(cluster.data() + 4 * j);
    }
  }
  st_.owner.assign(s.allocEnd, kNoOwner);
  return true;
}

bool Scanner::ReadRoot() {
  const Superblock& s = st_.superblock;
  const int owner = NewOwner({}, -1);
  WalkChain(s.rootCluster, owner);
  st_.rootChain = walked_;
  const std::vector<std::uint32_t>& chain = st_.rootChain;
  if (chain.empty())
    return Fatal(IssueKind::kBadRoot, "root directory", "the root directory's chain can't be followed");
  // Held, its clusters are read in one call to the system: the scan needs them all before
  // it goes on. Otherwise its first page is read, then the pages its length counts.
  if (st_.bytes) ReadAhead(chain, static_cast<std::uint32_t>(chain.size() * kEntriesPerCluster));
  std::vector<EntryRef> first;
  if (!ReadEntries(chain, 1, first))
    return Fatal(IssueKind::kBadRoot, "root directory", "the root directory can't be read");
  const std::uint32_t length = first[0].d.length;
  if (length < 2)
    return Fatal(IssueKind::kBadRoot, "root directory",
                 "the root directory counts " + Num(length) + " entries; it has at least \".\" and \"..\"");
  const std::uint32_t n = UsableLength(length, chain.size(), owner);
  if (!ReadEntries(chain, n, st_.root))
    return Fatal(IssueKind::kBadRoot, "root directory", "the root directory can't be read");
  return true;
}

const std::uint8_t* Scanner::ReadPage(std::uint64_t page) {
  const Geometry& g = st_.geometry;
  if (page >= g.Pages()) return nullptr;
  const std::size_t n = static_cast<std::size_t>(g.PageStride());
  const std::uint8_t* raw = Bytes(g.PageOffset(page), n, page_.data());
  if (!raw) return nullptr;
  if (!g.ecc || PageIsGood(std::span<const std::uint8_t, kPageData>(raw, kPageData),
                           std::span<const std::uint8_t, kPageSpare>(raw + kPageData, kPageSpare)))
    return raw;
  // Corrected in a copy: what was read stays as the file is.
  if (raw != page_.data()) std::memcpy(page_.data(), raw, n);
  int chunk = 0;
  switch (CheckPage(std::span(page_).first<kPageData>(), std::span(page_).subspan<kPageData, kPageSpare>(), &chunk)) {
    case EccStatus::kGood:
      break;
    case EccStatus::kDataCorrected:
      Add(IssueKind::kEccCorrected, PageWhere(page), "one wrong bit in chunk " + Num(chunk) + ", corrected when read");
      break;
    case EccStatus::kEccWrong:
      Add(IssueKind::kEccCodeWrong, PageWhere(page), "one wrong bit in the ECC of chunk " + Num(chunk));
      break;
    case EccStatus::kUncorrectable:
      Add(IssueKind::kEccUncorrectable, PageWhere(page),
          "more than one wrong bit in chunk " + Num(chunk) + ": the data can't be corrected");
      break;
  }
  return page_.data();
}

bool Scanner::CopyPage(std::uint64_t page, std::span<std::uint8_t, kPageData> data) {
  const std::uint8_t* p = ReadPage(page);
  if (p) std::memcpy(data.data(), p, kPageData);
  return p != nullptr;
}

int Scanner::NewOwner(const Place& place, int save) {
  OwnerPlace& o = owners_.emplace_back();
  o.parent = place.parent;
  o.length = static_cast<std::uint8_t>(std::min(place.name.size(), o.name.size()));
  std::copy_n(place.name.begin(), o.length, o.name.begin());
  st_.ownerSave.push_back(save);
  return static_cast<int>(owners_.size()) - 1;
}

std::string Scanner::Where(const Place& place) const {
  if (place.parent <= kRootOwner) return std::string(place.name);
  return Where(place.parent) + "/" + std::string(place.name);
}

std::string Scanner::Where(int owner) const {
  if (owner == kRootOwner) return "root directory";
  const OwnerPlace& o = owners_[static_cast<std::size_t>(owner)];
  return Where(Place{o.parent, std::string_view(o.name.data(), o.length)});
}

std::string Scanner::NameOf(int owner) const { return owner == kRootOwner ? "the root directory" : Where(owner); }

bool Scanner::WalkChain(std::uint32_t first, int owner) {
  walked_.clear();
  if (first == dirent::kNoCluster) return true;
  const Superblock& sb = st_.superblock;
  const std::uint32_t end = std::min(sb.allocEnd, sb.clusters - sb.allocOffset);
  // Each step takes a cluster no chain has taken, so all the walks of a scan together
  // take at most alloc_end steps.
  for (std::uint32_t c = first;;) {
    if (c >= end) {
      Add(IssueKind::kChainBeyondCard, Where(owner),
          "the chain leads to cluster " + Num(c) + ", past the card's " + Num(end));
      return false;
    }
    if (st_.owner[c] == owner) {
      Add(IssueKind::kChainLoop, Where(owner), "the chain comes back to cluster " + Num(c));
      return false;
    }
    if (st_.owner[c] != kNoOwner) {
      // Another chain's cluster: this chain ends here, so no cluster is ever walked twice.
      CrossLink(owner, c, Where(owner));
      return false;
    }
    const std::uint32_t next = st_.fat[c];
    if (next == kFatBad) {
      Add(IssueKind::kChainIntoBad, Where(owner), "the chain runs into cluster " + Num(c) + ", marked bad");
      return false;
    }
    if (!(next & kFatInUse)) {
      Add(IssueKind::kChainIntoFree, Where(owner), "the chain runs into cluster " + Num(c) + ", marked free");
      return false;
    }
    st_.owner[c] = owner;
    walked_.push_back(c);
    if (next == kFatEnd) return true;
    c = next & ~kFatInUse;
  }
}

void Scanner::MarkCrossLinked(int owner) {
  const int save = st_.ownerSave[owner];
  if (save < 0) return;
  if (crossLinked_.size() <= static_cast<std::size_t>(save)) crossLinked_.resize(save + 1, false);
  crossLinked_[save] = true;
}

void Scanner::CrossLink(int owner, std::uint32_t c, const std::string& where) {
  const int other = st_.owner[c];
  Add(IssueKind::kCrossLinked, where, "the chain runs into cluster " + Num(c) + ", which belongs to " + NameOf(other));
  if (toldCrossed_.size() <= static_cast<std::size_t>(other)) toldCrossed_.resize(other + 1, false);
  if (!toldCrossed_[other]) {
    toldCrossed_[other] = true;
    Add(IssueKind::kCrossLinked, NameOf(other), "its cluster " + Num(c) + " is also reached by " + where);
  }
  if (owner != kNoOwner) MarkCrossLinked(owner);
  MarkCrossLinked(other);
}

void Scanner::NameSaveDamage() {
  if (std::all_of(st_.saves.begin(), st_.saves.end(), [](const SaveState& s) { return s.readable; })) return;
  std::map<std::string_view, SaveState*> byName;
  for (SaveState& s : st_.saves) byName.emplace(s.entry.d.Name(), &s);
  for (const Issue& i : st_.issues) {
    if (i.severity() == Severity::kNotice) continue;
    auto it = byName.find(std::string_view(i.where).substr(0, i.where.find('/')));
    if (it != byName.end() && !it->second->readable && it->second->damage.empty()) it->second->damage = i.message;
  }
}

std::uint32_t Scanner::UsableLength(std::uint32_t length, std::size_t chainClusters, int owner) {
  const std::uint64_t room = std::uint64_t{chainClusters} * kEntriesPerCluster;
  if (std::uint64_t{length} > std::uint64_t{st_.superblock.allocEnd} * kEntriesPerCluster) {
    Add(IssueKind::kLengthBeyondCard, Where(owner),
        "the directory counts " + Num(length) + " entries, more than the card holds");
  } else if (length > room) {
    Add(IssueKind::kBadDirectory, Where(owner),
        "the directory counts " + Num(length) + " entries but its clusters hold " + Num(room));
  } else {
    return length;
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(length, room));
}

void Scanner::ReadAhead(const std::vector<std::uint32_t>& chain, std::uint32_t n) {
  if (source_->data()) return;
  prefetch_.clear();
  if (st_.bytes) {
    AddDirectoryRanges(chain, n, prefetch_);
    Prefetch(prefetch_);
  } else {
    AddEntryPages(chain, n, prefetch_);
    Fetch(prefetch_);
  }
}

void Scanner::AddEntryPages(const std::vector<std::uint32_t>& chain, std::uint32_t n, std::vector<Extent>& out) const {
  const Geometry& g = st_.geometry;
  const std::uint64_t stride = g.PageStride();
  for (std::uint32_t i = 0; i < n && i / kEntriesPerCluster < chain.size(); ++i) {
    const std::uint64_t page = st_.PageOfCluster(chain[i / kEntriesPerCluster]) + i % kEntriesPerCluster;
    if (page >= g.Pages() || InRun(g.PageOffset(page), static_cast<std::size_t>(stride))) continue;
    AppendExtent(out, g.PageOffset(page), stride);
  }
}

void Scanner::Prefetch(const std::vector<Extent>& ranges) {
  std::uint64_t size = 0;
  for (const Extent& x : ranges) size += x.length;
  st_.bytes->Prefetch(ranges, size);
}

void Scanner::AddDirectoryRanges(const std::vector<std::uint32_t>& chain, std::uint32_t n,
                                 std::vector<Extent>& out) const {
  const std::size_t used = std::min<std::size_t>(chain.size(), (std::size_t{n} + kEntriesPerCluster - 1) / kEntriesPerCluster);
  const Geometry& g = st_.geometry;
  for (std::size_t k = 0; k < used; ++k) {
    const std::uint64_t page = st_.PageOfCluster(chain[k]);
    const std::uint64_t from = g.PageOffset(page);
    AppendExtent(out, from, g.PageOffset(page + kPagesPerCluster) - from);
  }
}

void Scanner::ReadSavesAhead() {
  if (source_->data()) return;
  const std::uint32_t end = std::min(st_.superblock.allocEnd, st_.superblock.clusters - st_.superblock.allocOffset);
  std::vector<Extent> ranges;
  std::vector<std::uint32_t> chain;
  // At most as many steps as the card has clusters, however the FAT links them.
  std::uint64_t steps = 0;
  for (std::size_t i = 2; i < st_.root.size(); ++i) {
    const DirEntry& d = st_.root[i].d;
    if (!(d.mode & EntryMode::kPs2) || !EntryMode::IsDirectory(d.mode)) continue;
    const std::uint64_t need = (std::uint64_t{d.length} + kEntriesPerCluster - 1) / kEntriesPerCluster;
    chain.clear();
    for (std::uint32_t c = d.cluster; c < end && chain.size() < need && steps < end; ++steps) {
      chain.push_back(c);
      const std::uint32_t next = st_.fat[c];
      if (!(next & kFatInUse) || next == kFatEnd || next == kFatBad) break;
      c = next & ~kFatInUse;
    }
    if (st_.bytes)
      AddDirectoryRanges(chain, static_cast<std::uint32_t>(chain.size() * kEntriesPerCluster), ranges);
    else
      AddEntryPages(chain, d.length, ranges);
  }
  if (st_.bytes)
    st_.bytes->ReadAhead(std::move(ranges));
  else
    Fetch(ranges);
}

bool Scanner::ReadEntries(const std::vector<std::uint32_t>& chain, std::uint32_t n, std::vector<EntryRef>& out) {
  out.clear();
  // n is never more than the chain's clusters hold (UsableLength).
  out.reserve(std::min<std::size_t>(n, chain.size() * kEntriesPerCluster));
  ReadAhead(chain, n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::size_t k = i / kEntriesPerCluster;
    if (k >= chain.size()) return false;
    const std::uint64_t at = st_.PageOfCluster(chain[k]) + i % kEntriesPerCluster;
    const std::uint8_t* page = ReadPage(at);
    if (!page) return false;
    out.push_back({DirEntry::Read(page), at});
  }
  return true;
}

bool Scanner::DirectoryStartIsFree(std::uint32_t first, const Place& place) {
  if (first >= st_.superblock.allocEnd) return true;  // the walk reports it
  const int owner = st_.owner[first];
  if (owner == kNoOwner) return true;
  // The directories holding it, up to the root.
  bool holder = false;
  for (int d = place.parent; d != kNoOwner && !holder; d = owners_[static_cast<std::size_t>(d)].parent)
    holder = d == owner;
  if (holder)
    Add(IssueKind::kContainsItself, Where(place),
        "the directory's clusters are those of " + NameOf(owner) + ", which holds it");
  else
    CrossLink(kNoOwner, first, Where(place));
  return false;
}

void Scanner::ScanSave(const EntryRef& entry, std::uint32_t rootIndex) {
  const int index = static_cast<int>(st_.saves.size());
  SaveState& save = st_.saves.emplace_back();
  save.entry = entry;
  save.rootIndex = rootIndex;
  const Place place{kRootOwner, entry.d.Name()};
  const int owner = NewOwner(place, index);

  ReportSlash(place.name, owner);
  if (!DirectoryStartIsFree(entry.d.cluster, place)) return;
  const bool complete = WalkChain(entry.d.cluster, owner);
  save.chain = walked_;
  const std::uint32_t length = entry.d.length;
  if (length < 2) {
    Add(IssueKind::kBadDirectory, Where(owner),
        "the directory counts " + Num(length) + " entries; it has at least \".\" and \"..\"");
    return;
  }
  const std::uint32_t n = UsableLength(length, save.chain.size(), owner);
  if (!ReadEntries(save.chain, n, save.entries)) {
    Add(IssueKind::kReadFailed, Where(owner), "the directory's pages can't be read");
    return;
  }
  bool ok = complete && n == length;
  if (n >= 2) CheckDotEntries(save, owner);

  std::uint64_t clusters = (std::uint64_t{length} + 1) / 2;
  if (n > 2) save.files.reserve(n - 2);
  for (std::uint32_t j = 2; j < n; ++j) {
    const EntryRef& e = save.entries[j];
    if (!(e.d.mode & EntryMode::kPs2)) continue;
    const Place inside{owner, e.d.Name()};
    if (EntryMode::IsDirectory(e.d.mode)) {
      save.subfolder = true;
      Add(IssueKind::kSubfolder, Where(inside), "a folder inside the save, which a save file can't carry");
      MarkTree(e, index, 2, inside);
      continue;
    }
    clusters += ScanFile(save, index, e, inside);
    ok = ok && save.files.back().readable;
  }
  // Lengths of a damaged save can add up to more than the card: it is shown no larger.
  save.sizeClusters = static_cast<std::uint32_t>(std::min<std::uint64_t>(clusters, st_.superblock.allocEnd));
  save.readable = ok;
}

void Scanner::CheckDotEntries(const SaveState& save, int owner) {
  // "." links to the parent (cluster and this directory's index there), ".." to the
  // parent's own parent, as the root's "." says.
  const DirEntry& rootDot = st_.root[0].d;
  const DirEntry& dot = save.entries[0].d;
  const DirEntry& dotdot = save.entries[1].d;
  if (dot.Name() != "." || dot.cluster != st_.superblock.rootCluster || dot.dirEntry != save.rootIndex)
    Add(IssueKind::kDotEntry, Where(owner) + "/.",
        "\".\" names cluster " + Num(dot.cluster) + " and entry " + Num(dot.dirEntry) + " instead of " +
            Num(st_.superblock.rootCluster) + " and " + Num(save.rootIndex));
  if (dotdot.Name() != ".." || dotdot.cluster != rootDot.cluster || dotdot.dirEntry != rootDot.dirEntry)
    Add(IssueKind::kDotEntry, Where(owner) + "/..",
        "\"..\" does not link to the root directory as the root's \".\" does");
}

std::uint64_t Scanner::ScanFile(SaveState& save, int index, const EntryRef& e, const Place& place) {
  const int owner = NewOwner(place, index);
  ReportSlash(place.name, owner);
  FileState& f = save.files.emplace_back();
  f.entry = e;
  const bool complete = WalkChain(e.d.cluster, owner);
  f.chain = walked_;
  const std::uint64_t need = ClustersFor(e.d.length);
  if (e.d.length > std::uint64_t{st_.superblock.allocEnd} * kClusterSize) {
    Add(IssueKind::kLengthBeyondCard, Where(owner),
        "a file of " + Num(e.d.length) + " bytes, more than the card holds");
  } else if (f.chain.size() < need) {
    if (complete)
      Add(IssueKind::kChainShort, Where(owner),
          "the file has " + Num(e.d.length) + " bytes but its chain only " + Num(f.chain.size()) + " clusters");
  } else {
    f.readable = complete;
  }
  return need;
}

void Scanner::MarkTree(const EntryRef& entry, int save, int depth, const Place& place) {
  if (depth > kMaxDepth) {
    Add(IssueKind::kBadDirectory, Where(place), "folders nested more than " + Num(kMaxDepth) + " deep");
    return;
  }
  if (!DirectoryStartIsFree(entry.d.cluster, place)) return;
  const int owner = NewOwner(place, save);
  WalkChain(entry.d.cluster, owner);
  const std::uint32_t n = UsableLength(entry.d.length, walked_.size(), owner);
  std::vector<EntryRef> entries;
  if (!ReadEntries(walked_, n, entries)) return;
  for (std::uint32_t j = 2; j < entries.size(); ++j) {
    const DirEntry& d = entries[j].d;
    if (!(d.mode & EntryMode::kPs2)) continue;
    const Place inside{owner, d.Name()};
    if (EntryMode::IsDirectory(d.mode))
      MarkTree(entries[j], save, depth + 1, inside);
    else
      WalkChain(d.cluster, NewOwner(inside, save));
  }
}

void Scanner::CheckBackupBlock() {
  // The console writes the number of a block it is about to rewrite into backup block 2's
  // first word; it stays erased (0xFFFFFFFF) unless such a write was cut off.
  const std::uint64_t page = std::uint64_t{st_.superblock.backupBlock2} * kPagesPerBlock;
  std::array<std::uint8_t, 4> word{};
  if (!ReadAt(st_.geometry.PageOffset(page), word.data(), word.size())) {
    Add(IssueKind::kReadFailed, "backup block 2", "backup block 2 can't be read");
    return;
  }
  if (bytes::GetU32LE(word.data()) != 0xFFFFFFFF)
    Add(IssueKind::kBackupPending, "backup block 2",
        "backup block 2 is not erased: a console will copy backup block 1 over block " +
            Num(bytes::GetU32LE(word.data())) + " when the card is next inserted");
}

}  // namespace

std::uint32_t ImageState::FreeClusters() const { return CountFree(superblock, fat); }

std::uint32_t CountFree(const Superblock& superblock, const std::vector<std::uint32_t>& fat) {
  const std::uint32_t limit = std::min<std::uint32_t>(superblock.ConsoleLimit(), static_cast<std::uint32_t>(fat.size()));
  std::uint32_t n = 0;
  for (std::uint32_t c = 0; c < limit; ++c)
    if (!(fat[c] & kFatInUse)) ++n;
  return n;
}

ImageState ScanImage(io::SourcePtr source, const std::optional<SuperblockPage>& superblock, bool hold) {
  return Scanner(std::move(source), superblock, hold).Run();
}

std::optional<bool> HoldsOneByteValue(const io::ByteSource& file) {
  std::vector<std::uint8_t> buffer(std::size_t{16} << 10);
  const std::uint64_t size = file.size();
  std::optional<std::uint8_t> value;
  for (std::uint64_t done = 0; done < size;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - done));
    if (!file.ReadAt(done, std::span(buffer.data(), n))) return std::nullopt;
    if (!value) value = buffer[0];
    if (*value != 0 && *value != 0xFF) return false;
    if (std::any_of(buffer.begin(), buffer.begin() + n, [&](std::uint8_t b) { return b != *value; })) return false;
    done += n;
  }
  return true;
}

std::optional<SuperblockPage> SignedPageZero(const io::ByteSource& image, const Geometry& likely) {
  SuperblockPage page{};
  if (!ReadImagePage(image, likely, 0, page)) return std::nullopt;
  std::copy(sb::kMagic.begin(), sb::kMagic.end(), page.begin() + sb::kMagicOffset);
  const ImageClass c = ClassifyImage(page, likely.ImageSize());
  if (c.kind != ImageKind::kCard || c.geometry.ecc != likely.ecc) return std::nullopt;
  return page;
}

std::optional<SuperblockPage> RebuiltSuperblock(const io::SourcePtr& image, const Geometry& likely) {
  // The card's own fields with the signature put back keep a layout another formatter
  // chose; failing that, the layout the console gives a card of that size.
  std::vector<SuperblockPage> candidates;
  if (std::optional<SuperblockPage> own = SignedPageZero(*image, likely)) candidates.push_back(*own);
  candidates.push_back(FreshSuperblock(LayoutFor(likely.clusters)));
  for (const SuperblockPage& candidate : candidates) {
    const ImageClass c = ClassifyImage(candidate, likely.ImageSize());
    if (c.kind != ImageKind::kCard || c.geometry.ecc != likely.ecc) continue;
    // Only where the FAT and directories read without damage under it: then the card's
    // structure agrees with the superblock on every point that was checked.
    const ImageState st = ScanImage(image, candidate);
    if (st.usable && std::none_of(st.issues.begin(), st.issues.end(),
                                  [](const Issue& i) { return i.severity() != Severity::kNotice; }))
      return candidate;
  }
  return std::nullopt;
}

}  // namespace card
