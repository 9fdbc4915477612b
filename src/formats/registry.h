// The container families, described once: name, extensions, what each can do, how to
// recognise its files by their contents, and how to make an object of its class. The
// file dialogs' filters, the command line's help, its "unknown type" errors and the
// targets of its conversions all come from this table, so a new family is its own folder
// and one row here.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/path.h"
#include "model/save_game.h"

enum FamilyAbility : unsigned {
  kOpens = 1u << 0,              // files of the family can be loaded
  kWritesConversions = 1u << 1,  // a save of any family can be written in it
  kSavesInPlace = 1u << 2,       // a loaded save is written back in its own format by Save
  kHoldsPs1 = 1u << 3,           // the family holds PlayStation 1 saves
  kOnlyPs1 = 1u << 4,            // ... and no PlayStation 2 saves
  kNoExtension = 1u << 5,        // its files have no extension: they are known by their contents
};

struct FamilyExtension {
  std::string_view extension;   // lower case, without the dot
  std::string_view filterName;  // what the file dialogs call it: "Xport-2"
  int listed;                   // its place in the dialogs' filter lists
  bool target;                  // a conversion to a file with this extension writes the family
};

struct FormatFamily {
  std::string_view name;  // what --as and --to take: "psu"
  std::string_view noun;  // for messages: "a Memory Linker save"
  int kind;               // the kind of its objects
  unsigned abilities;     // FamilyAbility bits
  std::span<const FamilyExtension> extensions;  // the first is the family's own
  // True when the first bytes of a file (up to kSniffBytes of them) and its size look like
  // the family's; a cheap check of magic texts and sizes, never a full load.
  bool (*sniff)(std::span<const std::uint8_t> head, std::uint64_t fileSize);
  std::unique_ptr<CSaveGame> (*create)();
  // For a family whose files a device takes only under one name: that name for the save of
  // this folder, none when the folder can't give one. nullptr when any name will do.
  std::optional<std::string> (*requiredName)(std::string_view folder) = nullptr;
  // Where the file must then go, for the user ("in PS3/EXPORT/PSV on a USB drive").
  std::string_view requiredPlace = {};
  // What writing `source` in this family leaves out that the user should hear of, or
  // empty. nullptr when the family keeps everything a save holds.
  std::string (*conversionLoss)(const CSaveGame& source) = nullptr;

  bool Can(FamilyAbility ability) const { return (abilities & ability) != 0; }
  // Whether a save of that console can be written in the family.
  bool HoldsPs1() const { return Can(kHoldsPs1); }
  bool HoldsPs2() const { return !Can(kOnlyPs1); }
  std::string_view OwnExtension() const { return extensions.front().extension; }
};

// How many bytes of a file the content checks see.
inline constexpr std::size_t kSniffBytes = 4096;

// Every family, in the table's order.
std::span<const FormatFamily> Families();

// The family that reads files with this extension (any letter case), or nullptr.
const FormatFamily* FamilyForExtension(std::string_view extension);
// The family a file with this extension is written as, or nullptr when no family writes it.
const FormatFamily* TargetFamilyForExtension(std::string_view extension);
// The family of this name (any letter case), or nullptr.
const FormatFamily* FamilyNamed(std::string_view name);
const FormatFamily* FamilyOfKind(int kind);
// The family whose content check the bytes pass, or nullptr.
const FormatFamily* FamilyByContent(std::span<const std::uint8_t> head, std::uint64_t fileSize);
// The same for a file on disk; nullptr also when it can't be read.
const FormatFamily* FamilyOfFile(const std::string& path);

// Which console's saves a list of families is for.
enum class PlayStation { kEither, kPs1, kPs2 };
// The console of a save: kPs1 or kPs2.
PlayStation PlayStationOf(const CSaveGame& save);
// Whether the family holds saves of that console (any family for kEither).
bool Holds(const FormatFamily& family, PlayStation console);

// The family a save is written as when its target has this extension: the family
// TargetFamilyForExtension gives, except that a name without an extension names the
// raw PS1 family for a PS1 save only (for any other it is an unknown type). nullptr when
// no family writes it.
const FormatFamily* TargetFamilyFor(std::string_view extension, const CSaveGame& save);

// The family a file is opened as: the one its extension names, or, when none does, a family
// without an extension whose content check the file passes (a raw PS1 save's name is its
// card file name, which may hold a dot). nullptr when neither gives one.
const FormatFamily* FamilyToOpen(const std::string& path);

// The file dialogs' filters, built from the table.
struct DialogFilter {
  std::string description;  // "Memory Linker (*.psu)"
  std::string pattern;      // "*.psu"
};
// "All supported" with every readable extension, then one filter per extension.
std::vector<DialogFilter> OpenDialogFilters();
// One filter per extension that a save of the console can be written as; not the family
// without an extension, which a file dialog can't name.
std::vector<DialogFilter> SaveDialogFilters(PlayStation console = PlayStation::kEither);

// Lists for help texts, joined by `separator` and the last two by `last` (by default the
// same): ".psu .xps .sps" (readable), ".psu, .xps or .max" (targets, of the console's
// families), "psu, xps" (names of the families a save can be converted to), and the names
// of those that open. The family
// of files without an extension (raw PS1 saves) is in the lists of names only.
std::string ReadableExtensions(std::string_view separator, std::string_view last = {});
std::string TargetExtensions(std::string_view separator, std::string_view last = {},
                             PlayStation console = PlayStation::kEither);
std::string TargetFamilyNames(std::string_view separator, std::string_view last = {},
                              PlayStation console = PlayStation::kEither);
std::string OpenableFamilyNames(std::string_view separator, std::string_view last = {});

// What the file commands use.
using io::ExtensionOf;
// The name a file of `family` for `save` is written under by default: its required name
// when the family has one and the save's folder gives it, else stem + its own extension
// (the stem alone for a family without one).
std::string OutputName(const FormatFamily& family, const CSaveGame& save, std::string_view stem);

// A new, empty object of the class that reads files with this extension; nullptr for an
// extension no class reads.
std::unique_ptr<CSaveGame> CreateForExtension(std::string_view extension);
// The kind a file with this extension is written as, 0 when no family writes it.
int TargetKindForExtension(std::string_view extension);
// A new, empty object of a kind that writes conversions; nullptr for any other kind.
std::unique_ptr<CSaveGame> CreateForKind(int kind);
// The short name of a kind: "psu", "xps", "generic", "max", ...
std::string_view KindName(int kind);
