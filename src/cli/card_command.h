// What the card subcommands share: opening a card with its failure reported,
// and the line every command that changes a card shows.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "card/card.h"
#include "cli/command.h"

namespace cli {

// The card at path, or nullptr after its first fatal issue has been reported on err.
std::unique_ptr<card::Card> OpenCardOrReport(const std::string& path, Console& console);

// Help text for a command that writes to a card: close it in the emulator first.
std::string ChangesCardNote();

// card export, card import and card rm, added under the card command.
void AddCardSaveCommands(CLI::App& cardCmd, Commands& commands);

}  // namespace cli
