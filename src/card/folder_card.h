// A PCSX2 folder card: a folder standing for an 8 MiB card.
//
//   _pcsx2_superblock          the data of pages 0-15 (8,192 bytes); the card counts as
//                              formatted when byte 0x16 is 'o' (of "Format")
//   <save>/                    one folder per save, its files as plain files
//   <save>/_pcsx2_index        YAML, one line in flow style: "$ROOT" and each file name
//                              mapped to {order, timeCreated, timeModified}; the times are
//                              the card's fields read as UTC (card_time.h); files go onto
//                              the emulated card in ascending order
//   <save>/_pcsx2_meta_directory   the save's 512-byte directory entry, and
//   <save>/_pcsx2_meta/<file>      each file's, only where a mode is not 0x8427/0x8497,
//                              attr is not 0, or the name had to change on the host
//
// Names starting with _pcsx2_ and plain files at the top are not saves; a save folder
// renamed _pcsx2_deleted_<name> is deleted. The emulator loads at most 7,999 clusters'
// worth of saves.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "card/card.h"
#include "io/folder.h"
#include "card/pcsx2_index.h"
#include "model/dir_entry.h"

namespace card {

inline constexpr std::string_view kFolderSuperblock = "_pcsx2_superblock";
inline constexpr std::string_view kFolderIndex = "_pcsx2_index";
inline constexpr std::string_view kFolderMetaDirectory = "_pcsx2_meta_directory";
inline constexpr std::string_view kFolderMeta = "_pcsx2_meta";
inline constexpr std::string_view kFolderPrefix = "_pcsx2_";
inline constexpr std::string_view kFolderDeletedPrefix = "_pcsx2_deleted_";
inline constexpr std::uint32_t kFolderCardClusters = 7999;

// The host name a card name gets on a folder card: \ % : | " < > (and, for the host's
// sake, / ? * control characters and bytes of non-ASCII text) become _, as do trailing
// dots and spaces.
std::string HostName(std::string_view cardName);

struct FolderFile {
  std::string hostPath;
  DirEntry entry;  // name, mode, length, times and attr as the emulated card shows them
  std::int64_t order = INT64_MAX;  // the index's order; files it doesn't name come last
};

struct FolderSave {
  std::string hostName;  // the folder's name on the host
  DirEntry entry;
  std::vector<FolderFile> files;  // in the order the emulator puts them on the card
  bool subfolder = false;
  bool readable = true;
  std::uint32_t sizeClusters = 0;
};

class FolderCard final : public Card {
 public:
  static OpenedCard Open(const std::string& path);

  CardType type() const override { return CardType::kFolder; }
  Listing List() const override;
  std::unique_ptr<CCardSave> ReadableParts(std::string_view folder) const override;
  ImportOutcome Import(const CSaveGame& save, const ImportOptions& options) override;
  RemoveResult Remove(std::string_view folder) override;
  std::vector<Issue> Check() const override;
  // Nothing on a folder card is repaired in place: there is no ECC and no FAT.
  RepairOutcome Repair() override;

 private:
  explicit FolderCard(std::string path) : Card(std::move(path)) {}
  bool Rescan() override;
  SaveFound FindForOpen(std::string_view folder) const override;
  std::unique_ptr<CSaveGame> SaveObject(std::string_view folder) const override;
  void Add(IssueKind kind, std::string where, std::string message);
  // One save's folder: its files, index and meta files, with what is wrong with them.
  void ReadSaveFolder(const std::string& name, const std::string& dir);
  // The save's _pcsx2_index; none (and the issue when it is there) when it can't be read.
  std::optional<FolderIndex> ReadIndex(const std::string& dir, const std::string& where);
  // A meta file's directory entry; none when there is none, or (the issue, and the save
  // made unreadable) when it is not one entry.
  std::optional<DirEntry> ReadMeta(const std::string& metaPath, const std::string& where, FolderSave& save);
  // One host file of a save, added to its files; gives the clusters it takes.
  std::uint64_t ReadSaveFile(const io::FolderItem& item, const std::string& dir,
                             const std::optional<FolderIndex>& index, FolderSave& save);
  const FolderSave* FindSave(std::string_view folder) const;
  std::uint32_t UsedClusters() const;
  std::unique_ptr<CCardSave> MakeSave(const FolderSave& s) const;
  // Why the save's names can't go on a folder card (empty when they can), and the host
  // name of each file.
  std::string RefuseHostNames(const std::string& folder, const PreparedSave& prepared,
                              std::vector<std::string>& hostFiles) const;
  // The save's files, index and meta files in the folder `temp`; false on failure
  // (sourceFailed when a file of the save could not be read).
  bool WriteSaveFolder(const std::string& temp, const CSaveGame& save, const PreparedSave& prepared,
                       const std::vector<std::string>& hostFiles, bool& sourceFailed) const;
  // True when `temp` holds exactly the files written; else refusal_ says what is wrong.
  bool ReadsBack(const std::string& temp, const PreparedSave& prepared, const std::vector<std::string>& hostFiles);
  // Moves the new save folder into place, over an old one of that name.
  WriteResult PutInPlace(const std::string& temp, const std::string& host, const FolderSave* old);

  std::vector<FolderSave> saves_;
};

}  // namespace card
