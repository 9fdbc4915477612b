#include "card/card_messages.h"

namespace card::messages {

std::string_view SeverityName(Severity severity) {
  switch (severity) {
    case Severity::kFatal: return "error";
    case Severity::kDamage: return "damage";
    case Severity::kNotice: return "notice";
  }
  return "error";
}

std::string IssueLine(const Issue& issue) {
  std::string line(SeverityName(issue.severity()));
  line += ": ";
  if (!issue.where.empty()) line += issue.where + ": ";
  return line + issue.message;
}

std::string OpenFailure(const OpenedCard& opened) {
  for (const Issue& i : opened.issues)
    if (i.severity() == Severity::kFatal) return i.message;
  return "Cannot open the card";
}

std::string KilobytesText(std::uint32_t kb) {
  std::string digits = std::to_string(kb);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), ",");
  return digits + " KB";
}

std::string BlocksText(int blocks) { return std::to_string(blocks) + (blocks == 1 ? " block" : " blocks"); }

std::string FreeText(const Listing& listing) {
  if (listing.ps1) return BlocksText(listing.freeBlocks) + " free";
  return KilobytesText(listing.freeKB) + " free";
}

std::string ImportMessage(const ImportOutcome& o) {
  const std::string name = o.folder.empty() ? std::string("The save") : o.folder;
  switch (o.result) {
    case ImportResult::kImported:
      return name + " copied to the card (" + KilobytesText(o.neededKB) + ")";
    case ImportResult::kReplaced:
      return name + " replaced on the card (" + KilobytesText(o.neededKB) + ")";
    case ImportResult::kNoSpace:
      return name + " does not fit: needs " + KilobytesText(o.neededKB) + ", " + KilobytesText(o.freeKB) + " free" +
             (o.availableKB > o.freeKB ? " (" + KilobytesText(o.availableKB) + " with the save it replaces)" : "");
    case ImportResult::kAlreadyOnCard:
      return o.detail.empty() ? name + " is already on the card" : name + ": " + o.detail;
    case ImportResult::kHasSubfolder:
      return name + " holds a folder (" + o.detail + "), which a memory card save can't hold";
    case ImportResult::kInvalidSave:
      return name + " can't go on a card: " + o.detail;
    case ImportResult::kOtherConsole:
      return name + " is " + o.detail;
    case ImportResult::kSourceUnreadable:
      return name + ": a file of the save can't be read; the card is unchanged";
    case ImportResult::kCardDamaged:
      return "The card is damaged and is not written to; check it first";
    case ImportResult::kWriteFailed:
      return "Cannot write the card; it is unchanged";
    case ImportResult::kWouldDamage:
      return name + " was not written: " + o.detail + "; the card is unchanged";
  }
  return "Cannot write the card; it is unchanged";
}

std::string RemoveMessage(RemoveResult result, std::string_view folder, std::string_view detail) {
  const std::string name(folder);
  switch (result) {
    case RemoveResult::kWouldDamage: return name + " was not removed: " + std::string(detail) + "; the card is unchanged";
    case RemoveResult::kRemoved: return name + " removed from the card";
    case RemoveResult::kNotFound: return name + " is not on the card";
    case RemoveResult::kCardDamaged: return "The card is damaged and is not written to; check it first";
    case RemoveResult::kWriteFailed: return "Cannot write the card; it is unchanged";
  }
  return "Cannot write the card; it is unchanged";
}

std::string OpenSaveMessage(OpenSaveResult result, std::string_view folder) {
  const std::string name(folder);
  switch (result) {
    case OpenSaveResult::kOpened: return {};
    case OpenSaveResult::kNotFound: return name + " is not on the card";
    case OpenSaveResult::kDamaged: return name + " is damaged on the card; check the card";
    case OpenSaveResult::kHasSubfolder: return name + " holds a folder, which a save file can't carry";
  }
  return name + " can't be read";
}

std::string RestoreMessage(RestoreResult result, std::string_view folder, std::string_view detail) {
  const std::string name(folder);
  switch (result) {
    case RestoreResult::kWouldDamage:
      return name + " was not restored: " + std::string(detail) + "; the card is unchanged";
    case RestoreResult::kRestored: return name + " restored on the card";
    case RestoreResult::kNotFound: return name + " is not among the card's deleted saves";
    case RestoreResult::kAlreadyOnCard:
      return name + " is already on the card; the deleted one is left as it is";
    case RestoreResult::kBlocksTaken:
      return name + " can't be restored: another save has taken its blocks since; nothing changed";
    case RestoreResult::kSaveDamaged:
      return name + " can't be restored: its chain of blocks can't be followed; nothing changed";
    case RestoreResult::kCardDamaged: return "The card is damaged and is not written to; check it first";
    case RestoreResult::kWriteFailed: break;
  }
  return "Cannot write the card; it is unchanged";
}

std::string DamagedSaveNote(const SaveInfo& save) {
  if (save.damage.empty()) return OpenSaveMessage(OpenSaveResult::kDamaged, save.folder);
  return save.folder + " is damaged on the card (" + save.damage + "); check the card";
}

std::string RepairMessage(const RepairOutcome& o) {
  switch (o.result) {
    case RepairResult::kNothingToRepair:
      return o.remaining.empty() ? "Nothing to repair" : "Nothing that can be repaired safely";
    case RepairResult::kWriteFailed:
      return "Cannot write the card; it is unchanged";
    case RepairResult::kWouldDamage:
      return "Not repaired: " + o.detail + "; the card is unchanged";
    case RepairResult::kRepaired:
      break;
  }
  if (o.checksSet + o.statesMended > 0)
    return "Repaired: " + std::to_string(o.checksSet) + " check bytes set, " + std::to_string(o.statesMended) +
           " block states mended";
  if (o.superblockRebuilt) return "Repaired: the superblock was rebuilt from the card's layout";
  std::string text = "Repaired: " + std::to_string(o.pagesCorrected) + " pages corrected, " +
                     std::to_string(o.clustersFreed) + " lost clusters freed";
  if (o.lostClustersKept) text += "; lost clusters kept until the card's damage is dealt with";
  return text;
}

std::string SizeWarning(unsigned megabytes) {
  if (megabytes == kStandardSize) return {};
  return "Some games refuse a card of " + std::to_string(megabytes) +
         " MB or can't format it; 8 MB is the size every game takes";
}

std::string_view FormatMessage(FormatResult result) {
  switch (result) {
    case FormatResult::kFormatted: return "Card formatted";
    case FormatResult::kBadSize: return "A card is 1, 2, 4, 8, 16, 32 or 64 MB";
    case FormatResult::kTargetExists: return "Something is already there; nothing was formatted";
    case FormatResult::kWriteFailed: return "Cannot write the card";
  }
  return "Cannot write the card";
}

std::string_view ConvertMessage(ConvertResult result) {
  switch (result) {
    case ConvertResult::kConverted: return "Card image converted";
    case ConvertResult::kNotAnImage: return "Not a PS2 memory card image";
    case ConvertResult::kFolderCard:
      return "A PCSX2 folder card has no layout to convert: only card images have ECC or not";
    case ConvertResult::kAlreadyThatLayout: return "The image already has that layout";
    case ConvertResult::kWriteFailed: return "Cannot write the card image";
    case ConvertResult::kBlocksMissing:
      return "The card file ends before the blocks of one of its saves: it is not written as another card";
    case ConvertResult::kUncorrectable:
      return "Not converted: a raw image has no ECC, so these pages would lose the only sign that their data "
             "is damaged (--force converts all the same)";
    case ConvertResult::kWouldDamage: return "Not converted";
    case ConvertResult::kNotForPs3: return "Not converted";
    case ConvertResult::kSegmentsDamaged:
      return "Not converted: segments of the .VME fail their hashes, and the new card would lose that sign of "
             "their damage (--force converts all the same)";
  }
  return "Cannot write the card image";
}

}  // namespace card::messages
