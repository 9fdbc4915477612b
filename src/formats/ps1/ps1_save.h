// A PlayStation 1 save as a save object.
//
// Every PS1 save has the same entry table, whichever file or card it comes from: the root,
// named with the save's card file name (up to 20 ASCII characters), and one file of the
// same name whose bytes are the save's blocks, from the first block's "SC" on. Those bytes
// read from wherever the save is: a range of a single-save file, extents of a card file,
// or memory. Beside the table a PS1 save keeps its directory frame when its source had one
// (a card, or a .mcs file), so that the frame's unknown bytes survive a copy.
//
// The object is CPs1Save; each PS1 file family derives from it. A PS3 export (.psv) holds
// a save of either console, so what makes a save a PS1 save is the small Ps1Holder
// interface both implement: ps1::IsPs1 tells a PS1 save from a PS2 one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/ps1/ps1_frame.h"
#include "formats/ps1/ps1_header.h"
#include "model/entry_data.h"
#include "model/save_game.h"

namespace ps1 {

// What a PS1 save holds beyond its entry table.
struct Ps1Part {
  // The directory frame of the save's first block as its source stored it; none when the
  // source had none (a raw, .psx or .psv file).
  std::optional<DirFrame> frame;
};

// Implemented by every class whose objects can hold a PS1 save.
class Ps1Holder {
 public:
  virtual ~Ps1Holder() = default;
  // The PS1 part, or nullptr while the object holds no PS1 save.
  virtual const Ps1Part* Ps1() const = 0;
};

// The PS1 part of a save, nullptr for a PS2 save (and for an object with no save).
const Ps1Part* PartOf(const CSaveGame& save);
inline bool IsPs1(const CSaveGame& save) { return PartOf(save) != nullptr; }

// The entry table of a PS1 save named `name` whose `size` bytes of blocks come from `source`.
EntryTable MakeTable(std::string_view name, std::uint32_t size, EntrySource source);

// The card file name of a PS1 save (its root's name).
std::string_view NameOf(const CSaveGame& save);
// The blocks' bytes of a PS1 save, read from wherever they are.
DataResult ReadBlocks(const CSaveGame& save, std::vector<std::uint8_t>& out);
// The header of a PS1 save's first block (only its first bytes are read); none when they
// can't be read or hold no header.
std::optional<SaveHeader> HeaderOf(const CSaveGame& save);
// The directory frame a copy of the save gets: the save's own, with its name and size
// brought up to date and its XOR check set (every other byte as it was), or a new one
// when the save has none.
DirFrame FrameFor(const CSaveGame& save);

// Why a save of `size` bytes can't be a PS1 save, or empty when it can: 1 to 15 whole blocks.
std::string SizeProblem(std::uint64_t size);
// Why `blocks` can't be the bytes of a PS1 save, or empty when they can: they must be 1 to
// 15 whole blocks that begin with a save's header, and the block count that header gives
// must be theirs.
std::string BlocksProblem(std::span<const std::uint8_t> blocks);

// The refusals of a conversion between the consoles' saves.
inline constexpr std::string_view kPs2AsPs1Refusal =
    "This is a PlayStation 2 save: it can't be written as a PlayStation 1 save. The two "
    "consoles' saves are different things.";
inline constexpr std::string_view kPs1AsPs2Refusal =
    "This is a PlayStation 1 save: it can't be written as a PlayStation 2 save. The two "
    "consoles' saves are different things.";

}  // namespace ps1

class CPs1Save : public CSaveGame, public ps1::Ps1Holder {
 public:
  explicit CPs1Save(int kind = kKindPs1) : CSaveGame(kind) {}  // kKindPs1: no file family
  ~CPs1Save() override = default;

  const ps1::Ps1Part* Ps1() const override { return entries ? &part : nullptr; }

  // Makes this object the save `name` whose `size` bytes of blocks come from `source`, in
  // the bytes `from` when they lie in a container; `frame` is its directory frame, when
  // known. The root's title fields get the first block's title.
  void Assign(std::string_view name, std::uint32_t size, EntrySource source, io::SourcePtr from,
              std::optional<ps1::DirFrame> frame);

  // A PS1 save has one name and its blocks, nothing else to edit: renaming the root (or
  // its file) renames the save, to a card file name only (ps1::IsCardFileName); every other
  // edit leaves the save as it is and the two that read a PC file return false.
  void SetName(int entryIndex, std::string_view text) override;
  void SetMode(int entryIndex, std::uint32_t mode) override;
  void RemoveEntry(int fileIndex) override;
  bool AddEntryFromDisk(const std::string& pcPath, std::string_view entryName) override;
  bool ReplaceEntryFromDisk(const std::string& pcPath, int tablePosition) override;
  void SetCreated(int entryIndex, const EntryTime& time) override;
  void SetModified(int entryIndex, const EntryTime& time) override;

  ps1::Ps1Part part;

 protected:
  // The first block's title.
  bool ReadRawTitle() override;
};

namespace ps1 {
// Gives the root of a PS1 save held in any object the first block's title as stored
// (Shift-JIS) in rawTitle; false, with nothing changed, when the header can't be read.
bool ReadRawTitle(CSaveGame& save);
// Renames a PS1 save held in any object: both entries take `name` when it is a card file
// name; false, with nothing changed, otherwise.
bool Rename(CSaveGame& save, std::string_view name);
}  // namespace ps1
