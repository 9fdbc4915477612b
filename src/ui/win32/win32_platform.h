// The platform interface on Win32: wide-character calls, UTF-8 converted at this edge.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "card_dialog.h"
#include "ui/platform.h"

namespace win32 {

// A picture as a top-down 32-bit DIB section; nullptr when its pixels don't add up.
HBITMAP BitmapOf(const icon::Picture& picture);
// An owner-drawn control's face: the bitmap centred on the dialog's colour (nothing on it
// without a bitmap).
void DrawCentred(const DRAWITEMSTRUCT& item, HBITMAP bitmap);

class Win32Platform : public ui::Platform {
 public:
  // The main dialog, owner of every dialog and message box, and its file list.
  void Attach(HWND window, HWND list) {
    window_ = window;
    list_ = list;
  }

  std::optional<ui::ChosenFile> OpenFileDialog(const ui::FileDialogRequest& request) override;
  std::optional<ui::ChosenFile> SaveFileDialog(const ui::FileDialogRequest& request) override;
  void ShowMessage(const std::string& text, const std::string& caption,
                   ui::MessageIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& caption,
                ui::MessageIcon icon) override;
  void SetControlText(int id, const std::string& text) override;
  void EnableControl(int id, bool enabled) override;
  void EnableMenuItem(int id, bool enabled) override;
  void ListInsertColumn(int column, const std::string& title, int width) override;
  void ListDeleteAllRows() override;
  int ListFullyVisibleRows() override;
  void ListSetColumnWidth(int column, int width) override;
  void ListInsertRow(int row, const std::string& firstColumn) override;
  void ListSetCell(int row, int column, const std::string& text) override;
  int ListSelectedRow() override;
  void ShowEditMenu(std::span<const ui::MenuItemState> items) override;
  bool RunEntryProperties(CSaveGame& save, int index) override;
  void RunAboutBox() override;
  void CloseMainWindow() override;
  void SetWindowTitle(const std::string& text) override;
  std::optional<std::string> ChooseFolder(const std::string& title) override;
  std::optional<ui::NewCardChoice> AskNewCard(std::span<const unsigned> sizes,
                                              const ui::NewCardChoice& offered) override;
  Win32CardView& Cards() override { return cards_; }
  void ShowSaveIcon(const icon::Picture* picture) override;
  // The save's icon into its owner-drawn control.
  void DrawSaveIcon(const DRAWITEMSTRUCT& item) const { DrawCentred(item, saveIcon_); }

  ~Win32Platform() override;

 private:
  HWND window_ = nullptr;
  HWND list_ = nullptr;
  HBITMAP saveIcon_ = nullptr;
  Win32CardView cards_;
};

// Sets the program's icon (IDI_MORAVELT) as a dialog's icon, large and small.
void SetProgramIcon(HWND dialog);

// The open or save dialog, owned by `owner`: the chosen path, or with kDialogMultiSelect
// every chosen path; none when cancelled.
std::vector<std::string> RunFileDialog(HWND owner, bool save, const ui::FileDialogRequest& request);

// A message box owned by `owner`, modal to the program's windows; AskYesNoBox is true for Yes.
void ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, ui::MessageIcon icon);
bool AskYesNoBox(HWND owner, const std::string& text, const std::string& caption, ui::MessageIcon icon);

// The paths of a drop, in the order the system gives them.
std::vector<std::string> DroppedPaths(HDROP drop);

}  // namespace win32
