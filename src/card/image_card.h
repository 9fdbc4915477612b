// A card image file: PCSX2 .ps2 (with ECC), MemCard PRO .mc2, SD2PSX .mcd, PCSX2 raw .bin,
// Open PS2 Loader .vmc and the like. See layout.h for the file system.
//
// Opening reads the superblock, the FAT and every directory (not the file data), walking
// each chain with every cluster marked by its owner: a loop, a cross-link, a chain into a
// free, bad or missing cluster or a directory inside itself ends in a named issue after at
// most one step per cluster of the card. Every change is a set of whole pages written into
// a new copy of the image, which then replaces the old one in one rename.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "card/card.h"
#include "card/held_image.h"
#include "card/layout.h"
#include "io/file.h"
#include "model/dir_entry.h"

namespace card {

// A directory entry as read, with the page that holds it.
struct EntryRef {
  DirEntry d;
  std::uint64_t page = 0;
};

struct FileState {
  EntryRef entry;
  std::vector<std::uint32_t> chain;  // relative clusters, as far as the chain could be walked
  bool readable = false;             // the chain holds every byte of the file
};

struct SaveState {
  EntryRef entry;                    // its entry in the root directory
  std::uint32_t rootIndex = 0;
  std::vector<std::uint32_t> chain;  // the directory's clusters
  std::vector<EntryRef> entries;     // every entry read, "." and ".." and free slots included
  std::vector<FileState> files;      // the live files, in directory order
  bool readable = false;
  bool subfolder = false;
  std::uint32_t sizeClusters = 0;    // never more than the allocation area
  std::string damage;                // when it can't be read: the first thing wrong with it
};

// Everything a scan of the image learnt.
struct ImageState {
  Geometry geometry;
  Superblock superblock;
  std::vector<std::uint32_t> fat;          // entries of relative clusters 0..alloc_end-1
  std::vector<std::uint32_t> fatClusters;  // absolute cluster of each FAT cluster
  std::vector<std::uint32_t> rootChain;
  std::vector<EntryRef> root;
  std::vector<SaveState> saves;
  std::vector<int> owner;                  // per relative cluster: an owner id, or -1
  std::vector<int> ownerSave;              // per owner id: the save it belongs to, or -1
  std::vector<Issue> issues;
  bool usable = false;                     // no fatal issue
  // The image held in memory as the scan began reading it, when it is held (every card
  // image up to kHeldImageLimit): the saves' files are then read from here.
  std::shared_ptr<const HeldImage> bytes;

  std::uint64_t PageOfCluster(std::uint32_t relative) const {
    return (std::uint64_t{superblock.allocOffset} + relative) * kPagesPerCluster;
  }
  std::uint32_t FreeClusters() const;  // below the console's limit
};

// The largest image held in memory: a 64 MiB card with ECC. A larger one is read from its
// file, page by page.
inline constexpr std::uint64_t kHeldImageLimit = (std::uint64_t{64} << 20) / kPageData * (kPageData + kPageSpare);

// The free clusters of a FAT below the console's limit.
std::uint32_t CountFree(const Superblock& superblock, const std::vector<std::uint32_t>& fat);

using SuperblockPage = std::array<std::uint8_t, kPageData>;

// Reads the card's structure from the image's bytes (a file, or memory); with
// `superblock`, as if page 0 held it. hold: hold the image in memory (ImageState::bytes)
// when it is at most kHeldImageLimit bytes.
ImageState ScanImage(io::SourcePtr image, const std::optional<SuperblockPage>& superblock = std::nullopt,
                     bool hold = false);

// True when the bytes are all 0xFF or all zero; none when they can't be read.
std::optional<bool> HoldsOneByteValue(const io::ByteSource& file);

// Page 0 of the image with the card signature put back, when the rest of it then describes
// a card of the file's size and layout; none otherwise.
std::optional<SuperblockPage> SignedPageZero(const io::ByteSource& image, const Geometry& likely);

// A superblock under which the image (of the geometry `likely`) reads as a card with
// nothing worse than a notice; none when no superblock makes sense of it.
std::optional<SuperblockPage> RebuiltSuperblock(const io::SourcePtr& image, const Geometry& likely);

// New contents for whole pages (data only: the spare is computed when written).
using PagePatches = std::map<std::uint64_t, std::array<std::uint8_t, kPageData>>;

class ImageCard : public Card {
 public:
  // The image's bytes, found at `path` (empty for bytes in memory); `kind` the row it was
  // opened by, for an image with ECC that has a kind of its own (a PS3's .VM2).
  static OpenedCard Open(io::SourcePtr image, std::string path, CardReading reading = CardReading::kFromFile,
                         CardType kind = CardType::kImageWithEcc);

  CardType type() const override;
  Listing List() const override;
  std::shared_ptr<const void> KeepFileOpen() const override;
  std::unique_ptr<CCardSave> ReadableParts(std::string_view folder) const override;
  ImportOutcome Import(const CSaveGame& save, const ImportOptions& options) override;
  RemoveResult Remove(std::string_view folder) override;
  std::vector<Issue> Check() const override;
  RepairOutcome Repair() override;

  const ImageState& state() const { return state_; }

 protected:
  ImageCard(io::SourcePtr image, std::string path, CardReading reading, CardType kind = CardType::kImageWithEcc)
      : Card(std::move(image), std::move(path)), reading_(reading), kind_(kind) {}
  bool Rescan() override;
  // What the file the image is kept in has wrong beside the image (a .VME's hashes, a
  // .VM2 too large for a PS3): added to the scan's issues. A change is never written
  // while one of them is worse than a notice.
  virtual std::vector<Issue> FileIssues() const;
  // The image is to be scanned anew at the next Rescan (its bytes were replaced).
  void ForgetScan() { scanned_ = false; }

 private:
  SaveFound FindForOpen(std::string_view folder) const override;
  std::unique_ptr<CSaveGame> SaveObject(std::string_view folder) const override;
  const SaveState* FindSave(std::string_view folder) const;
  // The save object; with readableOnly, of the files that can be read (else none when one can't);
  // with titleOnly, of its icon.sys files alone, which is all a listing reads.
  std::unique_ptr<CCardSave> MakeSave(const SaveState& s, bool readableOnly, bool titleOnly = false) const;
  bool FileExtents(const FileState& f, ContainerExtents& extents) const;
  // The page's data as it will be written: from the patches, else read from the image.
  std::array<std::uint8_t, kPageData>& EditPage(PagePatches& patches, std::uint64_t page) const;
  // Puts the FAT entries that differ from the card's into the patches.
  void PatchFat(PagePatches& patches, const std::vector<std::uint32_t>& fat) const;
  // Rewrites the image with the patches, unless the image read back would have new damage
  // (then refusal_ says which).
  WriteResult Write(const PagePatches& patches);

  // A change being planned: the FAT and root as they will be, the pages to write, and for
  // an import where the save goes.
  struct Plan {
    std::vector<std::uint32_t> fat;
    std::vector<EntryRef> root;
    std::vector<std::uint32_t> rootChain;
    PagePatches patches;
    std::uint32_t slot = 0;  // the save's entry in the root
    bool append = false;     // past the root's last entry
    bool rootGrows = false;  // in a new cluster of the root
    std::vector<std::uint32_t> dirChain;
    std::vector<std::vector<std::uint32_t>> fileChains;
  };
  // Takes a save off the card in the plan, as the console removes one.
  void PlanRemoval(const SaveState& s, Plan& plan) const;
  // The old save (if any) removed and a root slot chosen.
  Plan PlanImport(const SaveState* old) const;
  // Clusters for the directory and the files; false when the card runs out.
  bool Allocate(Plan& plan, PreparedSave& prepared) const;
  void PatchDirectories(Plan& plan, const PreparedSave& prepared) const;
  void PatchData(Plan& plan, const std::vector<std::vector<std::uint8_t>>& data) const;
  // The full ECC pass: findings, and the corrected pages when `fixes` is given.
  void CheckEveryPage(std::vector<Issue>& findings, PagePatches* fixes) const;

  CardReading reading_;
  CardType kind_;
  ImageState state_;
  bool scanned_ = false;  // state_ has been read once
};

}  // namespace card
