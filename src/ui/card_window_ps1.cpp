// The card window on a PS1 card: its rows (blocks, their numbers, deleted saves), the icons
// drawn from each save's first icon frame, Restore, and New Card of a PS1 card.
#include <algorithm>

#include "card/card_messages.h"
#include "card/kinds.h"
#include "card/ps1/ps1_card.h"
#include "card_ids.h"
#include "icon/ps1_icon.h"
#include "io/path.h"
#include "io/text.h"
#include "ui/card_window.h"
#include "ui/texts.h"

namespace ui {

namespace {

std::string SlotsText(const card::SaveInfo& s) {
  std::string text;
  for (int b : s.chain) text += (text.empty() ? "" : ", ") + std::to_string(b);
  return s.deleted ? std::string(kDeletedSlots) + text : text;
}

}  // namespace

icon::Picture Ps1Picture(const card::SaveInfo& save, int size) {
  const icon::Picture frame = save.ps1Header ? icon::Ps1Frame(*save.ps1Header, 0) : icon::Picture{};
  if (frame.width <= 0 || frame.height <= 0) return PlaceholderPicture(size);
  return icon::ScaleNearest(frame, size, size);
}

bool CardWindow::Ps1() const { return card_ && card::IsPs1(card_->type()); }

void CardWindow::ShowPs1Card(const card::Listing& listing) {
  saves_ = listing.saves;
  std::vector<CardRow> rows;
  for (const card::SaveInfo& s : saves_) {
    CardRow row;
    row.folder = s.folder;
    row.title = io::ShiftJisToUtf8(s.rawTitle);
    if (!s.deleted && !s.readable) row.title = std::string(kDamagedTitle) + s.damage;
    row.size = card::messages::BlocksText(s.blocks);
    row.modified = SlotsText(s);
    rows.push_back(std::move(row));
  }
  SetRows(rows);
  view_.SetControlText(IDC_CARD_FREE, card::messages::FreeText(listing) + " of " + card::messages::BlocksText(15));
  previewFolder_.clear();
  OnSelectionChanged();
}

void CardWindow::RestoreCommand() {
  std::vector<std::string> names;
  for (const card::SaveInfo* s : SelectedSaves(/*deleted=*/true)) names.push_back(s->folder);
  if (names.empty()) return;
  std::vector<std::string> problems;
  for (const std::string& name : names) {
    const card::RestoreResult restored = card_->Restore(name);
    if (restored != card::RestoreResult::kRestored) problems.push_back(card::messages::RestoreMessage(restored, name, card_->refusal()));
  }
  ShowCard();
  Report(problems);
}

void CardWindow::NewPs1Card(const NewCardChoice& choice) {
  FileDialogRequest request;
  request.filters = {Ps1CardFilter()};
  request.selectedFilter = 1;
  request.initialDirectory = kInitialDirectory;
  request.defaultExtension = choice.pocketStation ? "bin" : "mcd";
  // No overwrite prompt: a new card never replaces a file, and the card layer says so.
  request.flags = kDialogPathMustExist;
  std::optional<ChosenFile> chosen = platform_.SaveFileDialog(request);
  if (!chosen) return;
  const card::Ps1FileKind kind =
      choice.pocketStation ? card::Ps1FileKind::kPocketStation : card::Ps1KindForExtension(chosen->Extension());
  const card::FormatResult formatted = card::FormatPs1Card(chosen->path, kind, /*overwrite=*/false);
  if (formatted != card::FormatResult::kFormatted) {
    platform_.ShowMessage(std::string(card::messages::FormatMessage(formatted)), std::string(kErrorCaption),
                          MessageIcon::kWarning);
    return;
  }
  OpenCard(chosen->path);
}

}  // namespace ui
