// Everything the card window's logic asks of its window: the list of saves with their
// icons, the larger picture beside it, the free-space line, its buttons, and the dialogs
// and message boxes it owns. The Win32 shell and the Qt shell each implement it as a
// modeless dialog owned by the main window; the tests implement it with a recorder. Texts
// are UTF-8.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "icon/picture.h"
#include "ui/platform.h"
#include "ui/texts.h"

namespace ui {

// The square pictures: one per row of the list, and the selected save's beside it.
inline constexpr int kListIconSize = 32;
inline constexpr int kPreviewSize = 128;

// One save as the list shows it. On a PS1 card the size is its blocks ("2 blocks") and the
// last column gives their numbers in chain order, or says that the save is deleted. Its
// icon (kListIconSize pixels a side) the list asks the logic for as the row comes into view:
// CardWindow::RowIcon.
struct CardRow {
  std::string folder;
  std::string title;     // the full title, both lines
  std::string size;      // "53 KB"
  std::string modified;  // "2007-03-05 14:03"; on a PS1 card "7, 8, 10" or "deleted: 3, 5"
};

struct CardColumn {
  std::string_view title;
  int width;  // pixels
};
inline constexpr std::array<CardColumn, 4> kCardColumns = {
    {{kFolderColumn, 150}, {kTitleColumn, 120}, {kSizeColumn, 50}, {kModifiedColumn, 105}}};
// The same columns on a PS1 card.
inline constexpr std::array<CardColumn, 4> kPs1CardColumns = {
    {{kPs1NameColumn, 150}, {kTitleColumn, 120}, {kBlocksColumn, 50}, {kSlotsColumn, 105}}};

// Export... asks for a folder and one of the targets; Split onto SD card... asks the same
// way for the SD card's folder and a device, in the same dialog under its own caption.
struct ExportRequest {
  std::vector<std::string> targets;  // "Memory Linker (*.psu)", ..., "Plain folder"
  std::string folder;                // offered
  std::string caption;               // empty: the dialog's own ("Export")
  std::string targetLabel;           // empty: the dialog's own ("Format:")
  std::string folderTitle;           // Browse...'s title; empty: the dialog's own
};
struct ExportChoice {
  std::string folder;
  int target = 0;  // index into ExportRequest::targets
};
// The Export dialog's OK takes a folder only once one is named.
inline bool ExportReady(std::string_view folder) { return !folder.empty(); }
// What the Export dialog shows as it opens, in both shells: the request's texts, or the
// dialog's own where the request leaves them empty, the folder offered, the first target.
struct ExportDialogStart {
  std::string caption;
  std::string targetLabel;
  std::string folderTitle;
  std::string folder;
  int target = 0;
  bool okEnabled = false;
};
inline ExportDialogStart ExportDialogStartOf(const ExportRequest& request) {
  ExportDialogStart start;
  start.caption = request.caption.empty() ? std::string(LABEL_EXPORT_CAPTION) : request.caption;
  start.targetLabel = request.targetLabel.empty() ? std::string(LABEL_EXPORT_FORMAT) : request.targetLabel;
  start.folderTitle = request.folderTitle.empty() ? std::string(kExportFolderTitle) : request.folderTitle;
  start.folder = request.folder;
  start.okEnabled = ExportReady(request.folder);
  return start;
}
// How the New Card dialog offers a size: "8 MB".
inline std::string CardSizeLabel(unsigned megabytes) { return std::to_string(megabytes) + " MB"; }
// The New Card dialog's list, top to bottom: the PS2 card sizes, then the PS1 cards.
inline std::vector<std::string> NewCardLabels(std::span<const unsigned> sizes) {
  std::vector<std::string> labels;
  for (unsigned megabytes : sizes) labels.push_back(CardSizeLabel(megabytes));
  labels.emplace_back(kNewPs1Card);
  labels.emplace_back(kNewPocketStationCard);
  return labels;
}
// What the user chose: the entry at `index` of NewCardLabels (-1: none, the size offered
// stays), with the ECC box checked or not.
inline NewCardChoice NewCardChoiceAt(std::span<const unsigned> sizes, int index, bool ecc, NewCardChoice offered) {
  const auto at = static_cast<std::size_t>(index);
  if (index >= 0 && at < sizes.size()) offered.megabytes = sizes[at];
  offered.ps1 = index >= 0 && at >= sizes.size();
  offered.pocketStation = index >= 0 && at == sizes.size() + 1;
  offered.ecc = ecc;
  return offered;
}
// What the New Card dialog shows as it opens, in both shells: the entry of NewCardLabels
// that is the card offered (-1, none, for a size the list lacks) and the ECC box, so that
// OK at once gives the card offered.
struct NewCardStart {
  int row = -1;
  bool ecc = true;
};
inline NewCardStart NewCardStartOf(std::span<const unsigned> sizes, const NewCardChoice& offered) {
  NewCardStart start;
  start.ecc = offered.ecc;
  if (offered.ps1) {
    start.row = static_cast<int>(sizes.size()) + (offered.pocketStation ? 1 : 0);
    return start;
  }
  for (std::size_t i = 0; i < sizes.size(); ++i)
    if (sizes[i] == offered.megabytes) start.row = static_cast<int>(i);
  return start;
}

class CardView {
 public:
  virtual ~CardView() = default;

  // Creates the window when there is none and brings it to the front.
  virtual void Open() = 0;
  // Destroys the window.
  virtual void Close() = 0;
  virtual void SetCaption(const std::string& text) = 0;
  // Controls of the card window, by resource id.
  virtual void SetControlText(int id, const std::string& text) = 0;
  virtual void EnableControl(int id, bool enabled) = 0;

  // Names the list's columns (kCardColumns or kPs1CardColumns), before its rows are set.
  // A view whose headings can't change keeps its own.
  virtual void SetColumns(std::span<const CardColumn> columns) { (void)columns; }
  // Replaces every row of the list; none stays selected. The rows' icons are asked for
  // when the list shows them, not before.
  virtual void SetRows(const std::vector<CardRow>& rows) = 0;
  // The selected rows, in list order.
  virtual std::vector<int> SelectedRows() = 0;
  // The picture beside the list; nullptr leaves the place empty.
  virtual void SetPreview(const icon::Picture* picture) = 0;

  // Dialogs and message boxes owned by the card window.
  // The chosen files (several when the request allows it); none when cancelled.
  virtual std::vector<std::string> OpenFilesDialog(const FileDialogRequest& request) = 0;
  virtual std::optional<ExportChoice> AskExport(const ExportRequest& request) = 0;
  virtual void ShowMessage(const std::string& text, const std::string& caption,
                           MessageIcon icon) = 0;
  virtual bool AskYesNo(const std::string& text, const std::string& caption,
                        MessageIcon icon) = 0;
};

}  // namespace ui
