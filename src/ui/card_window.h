// The card window's rules: opening a card (an image, a PCSX2 folder card, or a new image),
// what the list shows, what is enabled when, and what Open, Import..., Export..., Delete,
// Split onto SD card..., Merge from SD card..., Close and a drop of files do. The Win32
// and Qt shells turn the window's messages and events into these calls; the main window
// hands over File > Open of a card image and the card commands of its File menu.
//
// Every change goes through the card layer, which rewrites the card in one step or not
// at all, so a failed command leaves the card as it was. Its outcomes are shown in its
// own words (card_messages.h), several at once in one message box.
//
// card_window.cpp holds what every card has; card_window_ps1.cpp what a PS1 card shows and
// Restore; card_window_sd.cpp the SD card commands; card_window_drag.cpp saves dragged from
// one card window onto another.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "card/card.h"
#include "formats/registry.h"
#include "icon/picture.h"
#include "icon/save_icon.h"
#include "sd/places.h"
#include "ui/card_view.h"
#include "ui/file_commands.h"
#include "ui/platform.h"

namespace ui {

// True when a chosen file opens as a memory card rather than as a save: not an extension
// of a save family, and either a card image extension or a card image's contents.
bool OpensAsCard(const ChosenFile& chosen);

// The save's normal icon drawn `size` pixels a side, or the plain placeholder when the
// save has no usable icon.
icon::Picture SavePicture(const CSaveGame& save, int size);
// The same from an icon loaded already (or its fault).
icon::Picture IconPicture(const icon::Result<icon::SaveIcon>& loaded, int size);
// A flat grey square with a darker frame.
icon::Picture PlaceholderPicture(int size);

// What Split onto SD card... offers: the devices whose SD cards it writes.
struct SplitTarget {
  std::string label;  // "sd2psx / sd2psXtd (MemoryCards)"
  sd::Layout device;
};
std::vector<SplitTarget> SplitTargets();

// What Export... offers: every family that writes conversions of the card's console's
// saves, then, for a PS2 card, a plain folder.
struct ExportTarget {
  std::string label;                     // "Memory Linker (*.psu)"
  const FormatFamily* family = nullptr;  // nullptr: a plain folder
};
std::vector<ExportTarget> ExportTargets(PlayStation console = PlayStation::kPs2);

// A PS1 save's first icon frame (16 x 16) drawn `size` pixels a side without smoothing,
// or the placeholder when the save has none.
icon::Picture Ps1Picture(const card::SaveInfo& save, int size);

// Saves dragged out of a card window: the bytes a drag carries under this MIME type say
// which window and which saves. A shell hands them from CardWindow::DragSelected to the
// window they are dropped on (TakesDrop, OnDropSaves) as they are, and reads nothing in them.
inline constexpr std::string_view kSavesDragType = "application/x-moravelt-card-saves";

class CardWindow {
 public:
  CardWindow(Platform& platform, FileCommands& commands);
  ~CardWindow();
  CardWindow(const CardWindow&) = delete;
  CardWindow& operator=(const CardWindow&) = delete;

  // Opens the card image or PCSX2 folder card at path and shows it, in place of any card
  // shown before. A card that can't be read is reported by the main window; one with
  // damage is shown, with what is wrong, and the card layer refuses to change it.
  void OpenCard(const std::string& path);
  // File > Open Card Folder...: a folder picker, then OpenCard.
  void OpenFolderCommand();
  // File > New Card...: size and layout (or a PS1 card), then a name; never over an
  // existing file. A PS1 card is of the kind its name's extension gives.
  void NewCardCommand();
  // Lists the card again after a change made elsewhere (a save written back by the main
  // window). Nothing when no card is shown.
  void Refresh();
  bool IsOpen() const { return card_ != nullptr; }

  // The list's icon of a row, drawn when the list first asks for it (as the row comes into
  // view) and kept until the rows change; nullptr for a row the list doesn't have.
  const icon::Picture* RowIcon(int row);
  // The list is about to ask for the icons of rows first..last (as they come into view):
  // those not drawn yet are drawn at once (icon::DrawIcons), on two cores where the
  // machine has them.
  void IconsWanted(int first, int last);
  // How many of the rows' icons are drawn and kept.
  std::size_t DrawnIcons() const;

  // A button click; other notifications (code != 0) are ignored.
  void OnCommand(int id, int notifyCode);
  // The list's selection changed.
  void OnSelectionChanged();
  void OnDoubleClick();
  void OnDeleteKey();
  // Files dropped on the window: imported as the files of Import... are.
  void OnDropFiles(const std::vector<std::string>& paths);

  // A drag of the list's selection begins: what it carries (kSavesDragType), naming this
  // window, the card it shows and the live saves selected; empty when there is none.
  std::string DragSelected() const;
  // Whether a drag carrying `dragged` may end here: saves of another card window of this
  // program that still shows the card they came from, over a window showing a card. A
  // drop back on the window it came from is nothing.
  bool TakesDrop(std::string_view dragged) const;
  // A drag dropped on the window: each save it names copied from the other window's card
  // onto this one as Import... copies a save file, with the same refusals in the same
  // words; then the list shows the card again.
  void OnDropSaves(std::string_view dragged);
  // The close box, the Close button and Escape.
  void OnClose();

 private:
  void ShowCard();
  // Hands the rows to the list, the icons of the rows shown before forgotten.
  void SetRows(const std::vector<CardRow>& rows);
  void OpenSelected();
  void ImportCommand();
  void ImportFiles(const std::vector<std::string>& paths);
  // One save onto the card, as every import puts it there: never over a save already
  // there; a refusal joins `problems`.
  void ImportSave(const CSaveGame& save, std::vector<std::string>& problems);
  // The window whose card `dragged` names, while it still shows that card.
  static CardWindow* DraggedFrom(std::string_view dragged);
  // A number no opening of a card in this program had before.
  static std::uint64_t NextShownCard();
  void ExportCommand();
  // The folder and target the export dialog gives, when it gives a folder and one of the
  // request's targets.
  std::optional<ExportChoice> AskFolderAndTarget(const ExportRequest& request);
  void DeleteCommand();
  // PS1 cards: the deleted saves of the selection brought back where their blocks are free.
  void RestoreCommand();
  void ShowPs1Card(const card::Listing& listing);
  void NewPs1Card(const NewCardChoice& choice);
  bool Ps1() const;
  // A save of the list as far as it can be read: whole, or for a damaged save on a PS2 card
  // the files that can be, for its title and icon.
  std::unique_ptr<CSaveGame> ReadableSave(const card::SaveInfo& s) const;
  // A row's list icon, drawn.
  icon::Picture DrawRowIcon(std::size_t row) const;
  // The icon of a PS2 card's row, loaded to be drawn; two threads may each load one at once.
  icon::Result<icon::SaveIcon> LoadRowIcon(std::size_t row) const;
  // The saves of the selected rows: the live ones, or with `deleted` the deleted ones.
  std::vector<const card::SaveInfo*> SelectedSaves(bool deleted = false);
  // The card's saves onto the cards of their games on an SD card: a folder and a device,
  // then the report. The card itself is only read.
  void SplitCommand();
  // Every card's saves of an SD card onto this card, the newer of two of one name; then
  // the report.
  void MergeCommand();
  // A save the main window shows from this card, and that no longer holds its clusters,
  // must not be written back: the main window lets it go.
  void ReleaseShownSave(const std::string& folder);
  // A report in one message box: its lines (the first ones, when there are many) and
  // the summary.
  void ShowReport(std::string_view caption, const std::vector<std::string>& lines, const std::string& summary,
                  bool complete);
  // Shows the problems of one command in one message box.
  void Report(const std::vector<std::string>& problems);

  Platform& platform_;
  CardView& view_;
  FileCommands& commands_;
  std::shared_ptr<card::Card> card_;
  std::vector<card::SaveInfo> saves_;  // one per row, in list order
  std::vector<icon::Picture> icons_;   // one per row; width 0 until drawn
  std::string previewFolder_;          // the save whose picture is beside the list
  std::string exportFolder_;           // offered by the next Export...
  std::string sdFolder_;               // offered by the next Split onto SD card...
  // Which opening of a card the window shows, unique in the program; 0 with no card. A
  // drag names it, so that a drop finds the card its saves came from, or none.
  std::uint64_t shown_ = 0;
};

}  // namespace ui
