// The texts the front ends show for cards: one function per card operation's result, the
// line for an issue, and the fixed notices. The dialog program and the command line both
// print these, so a result reads the same everywhere.
#pragma once

#include <string>
#include <string_view>

#include "card/card.h"

namespace card::messages {

// Said wherever a card is changed: an emulator keeps its own copy of a card it has open.
inline constexpr std::string_view kCloseInEmulator =
    "Close the card in the emulator first: PCSX2 keeps its own copy of an open card and "
    "writes it back over any change made meanwhile.";

// The refusals of a save of one console for a card of the other.
inline constexpr std::string_view kPs1OnPs2Card =
    "a PlayStation 1 save: a PlayStation 2 card can't hold it";
inline constexpr std::string_view kPs2OnPs1Card =
    "a PlayStation 2 save: a PlayStation 1 card can't hold it";

// "error", "damage" or "notice".
std::string_view SeverityName(Severity severity);

// One issue as a line: "damage: BESCES-50501REZ/icon.sys: the chain comes back to cluster 12".
std::string IssueLine(const Issue& issue);

// The first fatal issue's message, for a card that could not be opened ("Cannot open the
// card" when there is none).
std::string OpenFailure(const OpenedCard& opened);

// "53 KB", "8,000 KB".
std::string KilobytesText(std::uint32_t kb);

// "8,000 KB free"; on a PS1 card "12 blocks free".
std::string FreeText(const Listing& listing);
// "3 blocks", "1 block".
std::string BlocksText(int blocks);

// "BESCES-50501REZ does not fit: needs 230 KB, 120 KB free", "... is already on the card", ...
std::string ImportMessage(const ImportOutcome& outcome);

// `detail`: for kWouldDamage, the card's refusal().
std::string RemoveMessage(RemoveResult result, std::string_view folder, std::string_view detail = {});
std::string OpenSaveMessage(OpenSaveResult result, std::string_view folder);
std::string RestoreMessage(RestoreResult result, std::string_view folder, std::string_view detail = {});
// "BESCES-50501REZ is damaged on the card (the chain comes back to cluster 12); check the card".
std::string DamagedSaveNote(const SaveInfo& save);
std::string RepairMessage(const RepairOutcome& outcome);
std::string_view FormatMessage(FormatResult result);
// Said when a card of another size than 8 MB is made; empty for 8 MB.
std::string SizeWarning(unsigned megabytes);
std::string_view ConvertMessage(ConvertResult result);

}  // namespace card::messages
