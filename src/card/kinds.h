// The kinds of memory card, described once: name, extensions, how to recognise a card of
// the kind by its first bytes and size, how to open one, and how a changed card is written
// back. The command line's help and targets, the dialogs' file filters and OpenCard come
// from this table, as the save families' come from formats/registry.h: a new kind of card
// is one row here (and its own files).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "card/card.h"
#include "card/ps1/ps1_card_file.h"

namespace card {

struct CardExtension {
  std::string_view extension;    // lower case, without the dot
  std::string_view description;  // what the file dialogs call it: "PCSX2 card image (with ECC)"
  // Who keeps cards so, for help texts: "PCSX2"; empty when the kind says it.
  std::string_view keptBy = {};
};

struct CardKind {
  CardType type;
  // What --as takes, for the kinds a file is made as by name ("gme"); empty for none.
  std::string_view key;
  std::string_view name;  // as listings name it: "image with ECC", "PS1 DexDrive"
  std::string_view noun;  // for messages: "a PS2 card image with ECC"
  std::span<const CardExtension> extensions;  // the first is the kind's own
  bool ps1;                  // the card holds PS1 saves
  bool folder = false;       // a folder of files, not one file
  // The layout of a PS2 image of the kind: with ECC or raw. None for the other kinds.
  std::optional<bool> ecc = std::nullopt;
  // The kind of file a PS1 card is kept in.
  std::optional<Ps1FileKind> ps1File = std::nullopt;
  // True when the first bytes of a file (up to kCardSniffBytes of them) and its size are a
  // card of this kind's: a check of magic texts and sizes, never a full read. Null for a
  // folder card, which is known by its folder.
  bool (*sniff)(std::span<const std::uint8_t> head, std::uint64_t size) = nullptr;
  // Opens a card of the kind from its bytes (a folder card from `path`).
  OpenedCard (*open)(io::SourcePtr source, const std::string& path, CardReading reading) = nullptr;
  // How a changed card is written back, for help texts.
  std::string_view writtenBack = {};
  // Known by its extension alone: its files are another row's by their bytes (a PS3's .VM2
  // is a PCSX2 image with ECC but for its name). Content checks pass it by.
  bool byName = false;

  bool Has(std::string_view extension) const;
  std::string_view OwnExtension() const { return extensions.empty() ? std::string_view{} : extensions.front().extension; }
};

// How many bytes of a file the content checks see: a DexDrive header and the PS1 card's "MC".
inline constexpr std::size_t kCardSniffBytes = kPs1HeadBytes;

// Every kind, in the table's order.
std::span<const CardKind> CardKinds();
const CardKind& KindOf(CardType type);
// The kind a file's first bytes and size give; nullptr for none. PS1 kinds are looked at
// before PS2 images: a PS1 card is never the size of a PS2 one, but a PS2 image's check
// also takes images whose superblock is damaged.
const CardKind* CardKindByContent(std::span<const std::uint8_t> head, std::uint64_t size);
// The kind a file of `byContent`'s bytes is under a name of that extension: a row known by
// name that shares its content check and has the extension, else `byContent` itself.
const CardKind& CardKindForName(const CardKind& byContent, std::string_view extension);
const CardKind& KindOfPs1File(Ps1FileKind file);
// The PS1 file kind of this --as name ("raw", "gme", "vgs", "vmp", "pocketstation"), and
// back.
std::optional<Ps1FileKind> Ps1KindNamed(std::string_view key);
std::string_view Ps1KindKey(Ps1FileKind kind);
// The kind a new PS1 card file's extension names: its kind's row; raw for any other. (A
// PocketStation file has the extension of a raw card: it is only ever asked for by name.)
Ps1FileKind Ps1KindForExtension(std::string_view extension);
// The extensions of PS1 card files, for the file filters: raw first, each once.
std::vector<std::string_view> Ps1CardExtensions();

// Lists for help texts and filters: the extensions of the PS2 images or of the PS1 cards
// (".ps2 .bin .mc2"; separator between them, `last` before the last), the --as names of
// the PS1 kinds ("raw, gme, vgs, vmp or pocketstation").
std::string CardExtensions(bool ps1, std::optional<bool> ecc, std::string_view separator, std::string_view last = {});
std::string Ps1KindNames(std::string_view separator, std::string_view last = {});

}  // namespace card
