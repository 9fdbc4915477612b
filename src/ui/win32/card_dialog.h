// The card window on Win32: a modeless dialog (112) owned by the main window. The view
// carries out what ui::CardWindow decides and hands it the dialog's messages; the window
// exists from the view's Open until its Close.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "ui/card_view.h"

namespace ui {
class CardWindow;
}

namespace win32 {

class Win32CardView : public ui::CardView {
 public:
  Win32CardView() = default;
  ~Win32CardView() override;
  Win32CardView(const Win32CardView&) = delete;
  Win32CardView& operator=(const Win32CardView&) = delete;

  // The logic the window's messages go to; set once, before the first Open.
  void SetLogic(ui::CardWindow* logic) { logic_ = logic; }

  void Open() override;
  void Close() override;
  void SetCaption(const std::string& text) override;
  void SetControlText(int id, const std::string& text) override;
  void EnableControl(int id, bool enabled) override;
  void SetColumns(std::span<const ui::CardColumn> columns) override;
  void SetRows(const std::vector<ui::CardRow>& rows) override;
  std::vector<int> SelectedRows() override;
  void SetPreview(const icon::Picture* picture) override;
  std::vector<std::string> OpenFilesDialog(const ui::FileDialogRequest& request) override;
  std::optional<ui::ExportChoice> AskExport(const ui::ExportRequest& request) override;
  void ShowMessage(const std::string& text, const std::string& caption,
                   ui::MessageIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& caption,
                ui::MessageIcon icon) override;

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInit(HWND dialog);
  INT_PTR OnListNotify(NMHDR& header);
  // The list asks for a row's icon as the row comes into view: the logic draws it once,
  // and the list keeps it in its image list until the rows change.
  void OnGetIcon(LVITEMW& item) const;
  void DrawPreview(const DRAWITEMSTRUCT& item) const;
  // Beside the main window, as ui::PlaceCardWindow says.
  void Place() const;

  ui::CardWindow* logic_ = nullptr;
  HWND dialog_ = nullptr;
  HWND list_ = nullptr;
  HIMAGELIST icons_ = nullptr;  // the list's; it destroys them with itself
  HBITMAP preview_ = nullptr;
};

}  // namespace win32
