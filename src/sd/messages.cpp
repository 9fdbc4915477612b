#include "sd/messages.h"

#include <set>

namespace sd::messages {

namespace {

std::string Count(std::size_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string SplitLineText(const SplitLine& l) {
  switch (l.event) {
    case SplitEvent::kPlaced:
      return l.save + " -> " + l.card + (l.newCard ? " (new card)" : "") + (l.detail.empty() ? "" : ", as " + l.detail + " says");
    case SplitEvent::kAlreadyThere:
      return l.save + ": already on " + l.card + ", file for file" + (l.detail.empty() ? "" : ", as " + l.detail + " says");
    case SplitEvent::kSystemCopied: return l.save + " -> " + l.card + " (system folder)";
    case SplitEvent::kSystemKept: return l.save + ": " + l.card + " holds another copy; left as it is";
    case SplitEvent::kSystemLeftOut: return l.save + ": a system folder, left out as asked";
    case SplitEvent::kSystemNoCard: return l.save + ": a system folder, and no game card to copy it to";
    case SplitEvent::kSkipped:
      return "skipped: " + (l.card.empty() ? l.save : l.save + " on " + l.card) + ": " + l.detail;
    case SplitEvent::kCardInTheWay: return l.card + ": left untouched: " + l.detail;
    case SplitEvent::kCfgWritten: return l.card + ": " + l.detail;
    case SplitEvent::kCfgNamesOther: return l.card + ": names another card (" + l.detail + "); left as it is";
    case SplitEvent::kCfgFailed: return l.card + ": can't be written" + (l.detail.empty() ? "" : ": " + l.detail);
  }
  return l.save;
}

std::string SplitSummary(const SplitReport& report) {
  std::size_t placed = 0, already = 0, system = 0, skipped = 0;
  std::set<std::string> cards;
  for (const SplitLine& l : report.lines) {
    switch (l.event) {
      case SplitEvent::kPlaced:
        ++placed;
        cards.insert(l.card);
        break;
      case SplitEvent::kAlreadyThere: ++already; break;
      case SplitEvent::kSystemCopied: ++system; break;
      case SplitEvent::kSkipped: ++skipped; break;
      default: break;
    }
  }
  std::string text = Count(placed, "save", "saves") + " onto " + Count(cards.size(), "card", "cards");
  if (already > 0) text += "; " + std::to_string(already) + " already there";
  if (system > 0) text += "; " + Count(system, "copy", "copies") + " of system folders";
  if (skipped > 0) text += "; " + std::to_string(skipped) + " skipped";
  return text;
}

std::string MergeLineText(const MergeLine& l) {
  switch (l.event) {
    case MergeEvent::kTargetMade: return l.card + ": a new card (" + l.detail + ")";
    case MergeEvent::kTaken: return l.save + " <- " + l.card;
    case MergeEvent::kReplaced: return l.save + " <- " + l.card + " (in place of the card's older copy)";
    case MergeEvent::kNotTaken:
      return l.save + ": kept the copy from " + l.other + ", not the one on " + l.card + " (modified " + l.detail + ")";
    case MergeEvent::kDidNotFit: return "did not fit: " + l.detail + " (from " + l.card + ")";
    case MergeEvent::kSkipped: return "skipped: " + l.detail + " (on " + l.card + ")";
    case MergeEvent::kCardNotRead: return l.card + ": not read: " + l.detail;
    case MergeEvent::kCardDamaged: return l.card + ": has damage; only its readable saves were taken";
    case MergeEvent::kOtherConsole: return l.card + ": a card of the other console; left out";
  }
  return l.save;
}

std::string MergeSummary(const MergeReport& report) {
  std::size_t taken = 0, failed = 0;
  for (const MergeLine& l : report.lines) {
    if (l.event == MergeEvent::kTaken || l.event == MergeEvent::kReplaced) ++taken;
    if (l.event == MergeEvent::kDidNotFit || l.event == MergeEvent::kSkipped) ++failed;
  }
  std::string text = Count(taken, "save", "saves") + " taken from " + Count(static_cast<std::size_t>(report.cards), "card", "cards");
  if (failed > 0) text += "; " + std::to_string(failed) + " did not fit or could not be read";
  return text;
}

}  // namespace sd::messages
