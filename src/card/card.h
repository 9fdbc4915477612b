// Memory cards behind one interface: PS2 image files (with or without ECC) and PCSX2 folder
// cards, and PS1 cards in each of their files (card/ps1/ps1_card.h). Each kind is one row
// of the table in card/kinds.h. A card holds many saves; a save on a card opens as an
// ordinary save object (CCardSave on a PS2 card, a PS1 save on a PS1 card) that every
// writer converts, and any save object of the card's console can be imported.
//
// A card reads its bytes from a byte source: its file, or bytes in memory (a browser's,
// or a card decrypted in memory). OpenCard returns every issue it found and the card
// itself whenever it can be read; each operation returns its own small result, worded for
// the user in card_messages.h. A change is written whole, read back and only then put in
// place: a file through a temporary file and a rename, so a failure or a kill leaves the
// old card or the new one; a card in memory as new bytes in memory. A card with damage
// (anything worse than a notice) can be read but is never written: check says what is
// wrong.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "card/card_save.h"
#include "card/layout.h"  // LooksLikeCardImage, the content check
#include "formats/ps1/ps1_header.h"
#include "io/byte_source.h"
#include "io/output_file.h"
#include "model/entry.h"
#include "model/icon_sys.h"
#include "model/save_game.h"

namespace card {

// The kinds of card, one per row of the table of card kinds (card/kinds.h).
enum class CardType {
  kImageWithEcc,
  kRawImage,
  kFolder,
  // PS1 cards, by the file they are kept in.
  kPs1Raw,
  kPs1DexDrive,
  kPs1Vgs,
  kPs1Vmp,
  kPs1PocketStation,
  // PS3 cards of PS2 saves.
  kPs3Vm2,  // an image with ECC made by the PS3's card utility
  kPs3Vme,  // the encrypted card of a PS2 Classic
};
// Whether cards of the kind hold PS1 saves (the kind's row says).
bool IsPs1(CardType type);

// Everything open, check and repair can find. The comment says how bad each is.
enum class IssueKind {
  // Fatal: the card can't be used at all.
  kOpenFailed,      // the file or folder can't be opened
  kReadFailed,      // a page the card needs can't be read
  kNotACard,        // no PS2 card superblock, and not the size of one
  kPs1Card,         // a 128 KiB PlayStation card
  kUnformatted,     // the size of a card image (or a folder card) that was never formatted
  kSizeMismatch,    // the superblock describes a card of another size than the file
  kBadSuperblock,   // superblock values that no card has
  kBadFat,          // the indirect FAT points outside the card
  kDamagedSuperblock, // the size of a card image holding a card's structure, with no valid superblock
  kBadRoot,         // the root directory can't be read
  // Damage: the card is read as far as it can be; nothing is written to it.
  kBadDirectory,    // a directory's length or entries don't fit its chain
  kChainLoop,       // a cluster chain comes back to a cluster it passed
  kChainBeyondCard, // a chain points past the card's last cluster
  kChainIntoFree,   // a chain runs into a cluster marked free
  kChainIntoBad,    // a chain runs into a cluster marked bad
  kChainShort,      // a file's chain has fewer clusters than its length needs
  kCrossLinked,     // a cluster belongs to two chains
  kContainsItself,  // a directory whose clusters are its own parent's
  kLengthBeyondCard,// a length larger than the whole card
  kEccUncorrectable,// a page with more than one wrong bit
  kBackupPending,   // backup block 2 is not erased: the console will restore block 1
  kBadIndex,        // folder card: a save's _pcsx2_index can't be read
  kBadHostFile,     // folder card: a file or meta file the card can't hold
  kOverCapacity,    // folder card: more saves than the emulator loads
  kFatAliased,      // two FAT or indirect FAT pointers name one cluster
  // Notices: harmless, or put right by repair.
  kEccCorrected,    // one data bit of a page was wrong (corrected when read)
  kEccCodeWrong,    // the data of a page is right, one bit of its stored code is not
  kLostCluster,     // clusters marked in use that no file or directory owns
  kDotEntry,        // "." or ".." doesn't link where the console puts it
  kSubfolder,       // a save holds a subfolder, which a save object can't carry
  // PS1 cards.
  kNotSigned,       // damage: the file's signature or hash does not verify; it is only read
  kOrphanedBlock,   // damage: a block in use that no save's chain reaches
  kBadCheck,        // notice: a directory entry's check byte is wrong
  kBadBlockState,   // notice: a middle or last block of a chain marked as the other
  // PS3 cards.
  kNoVmeKey,        // fatal: neither PS3 key decrypts the .VME to a PS2 card
  kVmeHash,         // damage: a .VME segment's SHA-1 is not the one its hash block holds
  kTooLargeForPs3,  // damage: a 64 MB .VM2, which makes a PS3 loop at boot; only read
};

enum class Severity { kFatal, kDamage, kNotice };
Severity SeverityOf(IssueKind kind);

struct Issue {
  IssueKind kind;
  std::string where;    // "page 1234", "BESCES-50501REZ/icon.sys", "FAT"...
  std::string message;  // what is wrong, in the user's words
  Severity severity() const { return SeverityOf(kind); }
};

// One save as the console's browser shows it.
struct SaveInfo {
  std::string folder;       // the directory's name on the card
  std::string title;        // from icon.sys, as ASCII; empty without a usable icon.sys
  std::string rawTitle;     // the title bytes as icon.sys stores them (Shift-JIS)
  FullTitle fullTitle;      // both lines of the title, decoded; not found without a usable icon.sys
  std::uint32_t sizeKB = 0; // clusters of its files plus those of its directory
  EntryTime created;
  EntryTime modified;
  std::uint32_t mode = 0;
  std::uint32_t attr = 0;
  int files = 0;
  bool readable = false;    // OpenSave gives it (its issues say why not)
  std::string damage;       // when it can't be read: the first thing wrong with it
  // PS1 cards: the save's blocks (1..15) in chain order, whether it is deleted (it is then
  // not readable, and Restore may bring it back), the region its name gives, and the
  // header of its first block, which holds its icon's palette and frames (none when it
  // has none: icon/ps1_icon.h makes pictures of it). A damaged PS1 save's `damage` names
  // everything wrong with it.
  int blocks = 0;
  std::vector<int> chain;
  bool deleted = false;
  std::string region;
  std::optional<ps1::SaveHeader> ps1Header;
};

struct Listing {
  std::vector<SaveInfo> saves;
  std::uint32_t freeKB = 0;  // what the console shows as free (8,000 KB on an empty 8 MiB card)
  bool ps1 = false;          // a PS1 card, whose space is counted in blocks
  int freeBlocks = 0;        // PS1: free blocks (15 on an empty card)
};

enum class OpenSaveResult { kOpened, kNotFound, kDamaged, kHasSubfolder };
struct OpenedSave {
  OpenSaveResult result = OpenSaveResult::kNotFound;
  std::unique_ptr<CSaveGame> save;
};

enum class ImportResult {
  kImported,
  kReplaced,          // a save of that name was on the card and has been replaced
  kNoSpace,           // neededKB and freeKB say by how much
  kAlreadyOnCard,     // the folder is on the card and replace was not asked for
  kHasSubfolder,      // the save holds a directory entry: a card save can't
  kInvalidSave,       // no entries, or a folder or file name the card can't hold (detail)
  kOtherConsole,      // a PS1 save for a PS2 card or the reverse (detail says which)
  kSourceUnreadable,  // a file of the save can't be read whole
  kCardDamaged,       // the card has damage: nothing is written to it
  kWriteFailed,       // the card could not be written; it is unchanged
  kWouldDamage,       // read back, the new card had damage the old one has not: not made (detail)
};

struct ImportOptions {
  bool replace = false;
  // The time the card's clock shows; default now in Japan time.
  std::optional<EntryTime> now;
};

struct ImportOutcome {
  ImportResult result = ImportResult::kWriteFailed;
  std::string folder;          // the save's folder name
  std::uint32_t neededKB = 0;  // kNoSpace: what it needs; imported: its size as the listing shows it
  std::uint32_t freeKB = 0;    // kNoSpace: free before the import
  std::uint32_t availableKB = 0;  // kNoSpace: free once the save it would replace is gone
  std::string detail;          // kInvalidSave: which name and why; kWouldDamage: the damage
};

// kWouldDamage: read back, the card had damage it has not now (Card::refusal says which),
// so the change was not made.
enum class RemoveResult { kRemoved, kNotFound, kCardDamaged, kWriteFailed, kWouldDamage };

// PS1 cards keep a deleted save's data: it can come back while its blocks are unused.
enum class RestoreResult {
  kRestored,
  kNotFound,       // no deleted save of that name (always, on a PS2 card)
  kAlreadyOnCard,  // a live save has the name
  kBlocksTaken,    // a block of it now belongs to another save: nothing changed
  kSaveDamaged,    // its chain can't be followed to the end
  kCardDamaged,
  kWriteFailed,
  kWouldDamage,    // read back, the card had damage it has not now (Card::refusal says which)
};

enum class RepairResult { kRepaired, kNothingToRepair, kWriteFailed, kWouldDamage };
struct RepairOutcome {
  RepairResult result = RepairResult::kNothingToRepair;
  std::string detail;          // kWouldDamage: the damage the repair would have brought
  bool superblockRebuilt = false;  // a damaged superblock was written anew
  int pagesCorrected = 0;      // pages rewritten with corrected data or code
  int clustersFreed = 0;       // lost clusters marked free
  bool lostClustersKept = false;  // lost clusters were left alone because the card has damage
  int checksSet = 0;           // PS1: directory entries whose check byte was set
  int statesMended = 0;        // PS1: middle and last blocks given their right state
  std::vector<Issue> remaining;   // what a check finds afterwards
};

struct PreparedSave;

// How a change to a card ended: made, refused because the card read back afterwards would
// have had new damage, or not written at all. The card is unchanged unless it was made.
enum class WriteResult { kWritten, kRefused, kFailed };

struct OpenedCard;

// What a removal and a repair report of their write.
RemoveResult RemoveResultOf(WriteResult written);
RepairResult RepairResultOf(WriteResult written);

class Card {
 public:
  virtual ~Card() = default;
  Card(const Card&) = delete;
  Card& operator=(const Card&) = delete;

  virtual CardType type() const = 0;
  // The card's file or folder; for bytes in memory, the name they were given.
  const std::string& path() const { return path_; }
  // The card's bytes as they are now: its file, or the bytes in memory it was opened from
  // (after a change, the changed card's). Null for a folder card.
  const io::SourcePtr& source() const { return source_; }

  // What was found when the card was last read (when opened, and after each write).
  const std::vector<Issue>& issues() const { return issues_; }
  // True when nothing is written to the card: a PS2 card with an issue worse than a
  // notice; a PS1 card only read (its signature fails, or it was cut short before a
  // save's blocks) -- a damaged save on a PS1 card is left alone, not the whole card.
  virtual bool Damaged() const;
  // Why the last change was not made when it would have damaged the card; else empty.
  const std::string& refusal() const { return refusal_; }

  virtual Listing List() const = 0;
  // The save in that folder (the name compares byte for byte): its object whenever the
  // save can be read whole.
  OpenedSave OpenSave(std::string_view folder) const;
  // The files of a save that can be read, even when others can't: for showing a damaged
  // save's title and icon, never for copying it. None when the save is not on the card.
  virtual std::unique_ptr<CCardSave> ReadableParts(std::string_view folder) const = 0;
  // Keeps the card's file open while the result lives, for a run of reads (the icons a
  // window draws at once): a card that reads its file a piece at a time otherwise opens
  // it for each read. Null when the card keeps nothing open.
  virtual std::shared_ptr<const void> KeepFileOpen() const { return nullptr; }
  virtual ImportOutcome Import(const CSaveGame& save, const ImportOptions& options) = 0;
  ImportOutcome Import(const CSaveGame& save) { return Import(save, ImportOptions{}); }
  virtual RemoveResult Remove(std::string_view folder) = 0;
  // Brings back a deleted save (PS1 cards).
  virtual RestoreResult Restore(std::string_view folder);
  // Every finding: the open issues plus what only a full read shows (every page's ECC,
  // lost clusters). Erased pages and page 1 of PCSX2 images are not findings.
  virtual std::vector<Issue> Check() const = 0;
  // Only safe repairs: pages with a correctable ECC error are rewritten corrected, and
  // lost clusters are marked free when nothing else is wrong with the card.
  virtual RepairOutcome Repair() = 0;

 protected:
  // A card kept in a folder, read by path.
  explicit Card(std::string path) : path_(std::move(path)) {}
  // A card read from its bytes, found at `path` (empty for bytes in memory: the source's
  // name is then its name).
  Card(io::SourcePtr source, std::string path);
  // Reads the card again from the disk, with what another program wrote meanwhile (nothing
  // is read while its file is still the version read); false when it can't be read.
  virtual bool Rescan() = 0;
  // The card's file opened again, when it is no longer the version read: the source the
  // card reads next. Nothing for bytes in memory.
  void ReadAgain();
  // Where a changed card's bytes go: a temporary file beside the card's file, which Commit
  // renames over it (the card's file let go first where it must be), or memory again for a
  // card in memory.
  virtual std::unique_ptr<io::ByteSink> WriteBackSink() const;
  // How a save on the card stands, for OpenSave.
  enum class SaveFound { kAbsent, kSubfolder, kDamaged, kReadable };
  virtual SaveFound FindForOpen(std::string_view folder) const = 0;
  // The object of a readable save; null when it can't be made after all (damage).
  virtual std::unique_ptr<CSaveGame> SaveObject(std::string_view folder) const = 0;
  // A card just made, read for the first time: with what was found, and the card itself
  // when it can be read.
  static OpenedCard FirstRead(std::unique_ptr<Card> card);
  // The steps every import to a PS2 card starts with: `save` prepared as the card will hold
  // it, then ReadyToImport. The result is kImported when the import may go on.
  ImportOutcome BeginImport(const CSaveGame& save, const ImportOptions& options, PreparedSave& prepared);
  // The steps every import takes once its save is prepared: the card read again from the
  // disk and found undamaged. kImported when the import may go on.
  ImportOutcome ReadyToImport(ImportOutcome out);
  // How every import ends. A refusal (no room) tells what the card has free now and what
  // it would have with the replaced save gone.
  static ImportOutcome NoSpace(ImportOutcome out, std::uint64_t needed, std::uint32_t freeNow, std::uint32_t available);
  ImportOutcome Finish(ImportOutcome out, WriteResult written, ImportResult success, const PreparedSave& prepared) const;
  // The same with out.neededKB as it stands.
  ImportOutcome Finish(ImportOutcome out, WriteResult written, ImportResult success) const;
  std::string path_;
  io::SourcePtr source_;
  bool inMemory_ = false;  // read from bytes in memory, written back to memory
  std::vector<Issue> issues_;
  std::string refusal_;
};

struct OpenedCard {
  std::vector<Issue> issues;   // everything found; a fatal one means no card
  std::unique_ptr<Card> card;  // the card, whenever it can be read
};

// For a card image that can't be opened because of its superblock: writes one rebuilt from
// the card's layout, when the FAT and directories read under it without damage. Nothing is
// written otherwise (kNothingToRepair, or kWouldDamage naming the damage).
RepairOutcome RepairSuperblock(const std::string& path);

// How a card image's pages are read: from the file as they are needed, so that memory
// stays small (an export, a listing; the file stays open while the card lives), or held
// in memory as they are first read, so that a window drawing its saves' icons reads each
// page once and the file is not kept open between reads (kHeld).
enum class CardReading { kFromFile, kHeld };

struct CardKind;
// Opens a card of the kind from its bytes (a folder card from its folder, `path`); the
// bytes' path (or, in memory, their name) names it. card/identify.h tells the kind.
OpenedCard OpenCard(const CardKind& kind, io::SourcePtr source, const std::string& path,
                    CardReading reading = CardReading::kFromFile);
// Opens what is at `path` as a card of the kind its contents give: a PCSX2 folder card (a
// folder holding _pcsx2_superblock), a PS1 card file of any kind, or else a card image
// (any name: the layout comes from the size and the superblock).
OpenedCard OpenCard(const std::string& path, CardReading reading = CardReading::kFromFile);
// The same for bytes in memory, named as their file.
OpenedCard OpenCard(io::SourcePtr source, CardReading reading = CardReading::kFromFile);

// The layout an image's extension names: true for an extension of the image with ECC,
// false for one of a raw image, none for any other (from the table of card kinds).
std::optional<bool> EccForExtension(std::string_view path);

enum class FormatResult { kFormatted, kBadSize, kTargetExists, kWriteFailed };
struct FormatOptions {
  unsigned megabytes = 8;  // one of kFormatSizes
  bool ecc = true;
  bool overwrite = false;  // replace an existing file (a folder card: an empty folder only)
  std::optional<EntryTime> time;  // the root's times; default now in Japan time
};
// A new card image, as the console formats one.
FormatResult FormatImage(const std::string& path, const FormatOptions& options);
FormatResult FormatImage(io::ByteSink& out, const FormatOptions& options);
// A new, empty PCSX2 folder card (8 MiB; megabytes and ecc are not used).
FormatResult FormatFolderCard(const std::string& path, const FormatOptions& options);

enum class ConvertResult {
  kConverted, kNotAnImage, kFolderCard, kAlreadyThatLayout, kWriteFailed,
  kUncorrectable,  // to raw: pages whose ECC can't correct them would lose that sign (detail: which)
  kWouldDamage,    // read back, the new image had damage the old one has not (detail)
  kBlocksMissing,  // a PS1 card file that ends before the blocks of one of its saves
  kNotForPs3,      // a card of a size the PS3 file kind can't be (detail: why)
  kSegmentsDamaged,  // from a .VME whose segments fail their hashes, without `force` (detail: which)
};
// Writes the image at source to target with ECC (ecc) or raw; target may be source. A
// conversion to raw of an image with pages that can't be corrected is made only with `force`.
ConvertResult ConvertImage(const std::string& source, const std::string& target, bool ecc, bool force = false,
                           std::string* detail = nullptr);
// The same from an image's bytes to a sink (committed when converted).
ConvertResult ConvertImage(const io::SourcePtr& source, io::ByteSink& out, bool ecc, bool force = false,
                           std::string* detail = nullptr);

}  // namespace card
