// What the card subcommands share: opening a card with its failure reported,
// and the line every command that changes a card shows.
#pragma once

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "card/card.h"
#include "cli/command.h"
#include "io/output_file.h"

namespace cli {

// The card at path, or nullptr after its first fatal issue has been reported on err.
std::unique_ptr<card::Card> OpenCardOrReport(const std::string& path, Console& console);

// After a refusal or a listing of a card that is only read: the issues that make it so
// (a signature or hash that does not verify), one "warning:" line each.
void NoteWhyOnlyRead(const card::Card& c, Console& console);

// Help text for a command that writes to a card: close it in the emulator first.
std::string ChangesCardNote();

// card export, card import, card rm and card restore, added under the card command.
void AddCardSaveCommands(CLI::App& cardCmd, Commands& commands);

// A save's full title as UTF-8, as the listings give it ("title_utf8").
std::string TitleUtf8(const card::SaveInfo& save);

// "raw image", "PS1 DexDrive", ...: a card's type as ls names it.
std::string CardTypeName(card::CardType type);

// `text` padded with spaces to `width`, on the left when `right`.
std::string Pad(std::string text, std::size_t width, bool right = false);

// What every card listing in JSON begins with: the card's path, type and whether it is damaged.
nlohmann::ordered_json ListingJsonHead(const card::Card& c);

// A PS1 card's listing (card_ps1.cpp); deleted saves only when `deleted`.
void PrintPs1ListingJson(const card::Card& c, const card::Listing& listing, bool deleted, Console& console);
void PrintPs1ListingText(const card::Listing& listing, bool deleted, Console& console);
// card format and card convert of a PS1 card: the kind from `as`, else from the extension.
int FormatPs1(const std::string& path, const std::string& as, bool force, Console& console);
int ConvertPs1(const card::Identified& source, const std::string& target, const std::string& as, Console& console);

// card format and card convert of the PS3's cards (card_ps3.cpp).
struct Ps3ConvertRequest {
  std::string source;
  std::string target;
  std::string key;  // --key: retail or debug; empty for the default, retail
  bool raw = false;
  bool ecc = false;
  bool force = false;
};
// The PS3 kind `as` names ("vm2", "vme") or, without it, `path`'s extension names.
std::optional<card::CardType> Ps3KindFor(const std::string& as, const std::string& path);
int FormatPs3(const std::string& path, card::CardType kind, unsigned megabytes, bool force, const std::string& key,
              Console& console);
// What every conversion of a PS2 card file ends with: OUT refused where it exists (unless
// `force`, or it is the source), `convert` writing into a temporary file beside it that
// replaces it once complete, and the result's line, "(kind)" after OUT when converted.
// `source` is released before OUT replaces it (they may be one file). A folder card is
// refused, as a card with no file to convert.
using CardConversion = std::function<card::ConvertResult(io::OutputFile& out, std::string* detail)>;
int WriteConvertedCard(const card::Identified& source, const std::string& sourcePath, const std::string& target,
                       bool force, const std::string& kind, const CardConversion& convert, Console& console);

// A conversion from a .VME, or to a .VM2 or a .VME (OUT's extension says).
int ConvertPs3(const card::Identified& source, const Ps3ConvertRequest& request, Console& console);

}  // namespace cli
