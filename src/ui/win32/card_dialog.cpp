#include "card_dialog.h"

#include <shellapi.h>

#include <algorithm>

#include "app_state.h"
#include "card_choices.h"
#include "card_ids.h"
#include "io/utf16.h"
#include "ui/card_window.h"
#include "ui/placement.h"
#include "win32_platform.h"
#include "window_data.h"

namespace win32 {

namespace {

void SetCell(HWND list, int row, int column, const std::string& text) {
  std::wstring wide = io::Widen(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = wide.data();
  SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

}  // namespace

Win32CardView::~Win32CardView() {
  if (preview_) DeleteObject(preview_);
}

INT_PTR CALLBACK Win32CardView::Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* view = reinterpret_cast<Win32CardView*>(lParam);
    SetWindowData(dialog, view);
    view->OnInit(dialog);
    return TRUE;
  }
  auto* view = WindowData<Win32CardView>(dialog);
  if (!view || !view->logic_) return FALSE;
  switch (message) {
    case WM_COMMAND:
      view->logic_->OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->idFrom == IDC_CARD_LIST) return view->OnListNotify(*header);
      return FALSE;
    }
    case WM_DRAWITEM:
      if (wParam != IDC_CARD_PREVIEW) return FALSE;
      view->DrawPreview(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_DROPFILES: {
      auto drop = reinterpret_cast<HDROP>(wParam);
      std::vector<std::string> paths = DroppedPaths(drop);
      DragFinish(drop);
      view->logic_->OnDropFiles(paths);
      return TRUE;
    }
    case WM_CLOSE:
      view->logic_->OnClose();
      return TRUE;
    case WM_NCDESTROY:
      // Also when the main window takes its owned window with it at the end.
      view->dialog_ = view->list_ = nullptr;
      view->icons_ = nullptr;
      GetAppState().cardWindow = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

void Win32CardView::OnInit(HWND dialog) {
  dialog_ = dialog;
  list_ = GetDlgItem(dialog, IDC_CARD_LIST);
  GetAppState().cardWindow = dialog;
  SetProgramIcon(dialog);
  SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  icons_ = ImageList_Create(ui::kListIconSize, ui::kListIconSize, ILC_COLOR32, 8, 8);
  SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(icons_));
  int index = 0;
  for (const ui::CardColumn& c : ui::kCardColumns) {
    std::wstring title = io::Widen(c.title);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = c.width;
    column.pszText = title.data();
    column.iSubItem = index;
    SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index++), reinterpret_cast<LPARAM>(&column));
  }
}

INT_PTR Win32CardView::OnListNotify(NMHDR& header) {
  switch (header.code) {
    case LVN_ITEMCHANGED:
      if (reinterpret_cast<NMLISTVIEW&>(header).uChanged & LVIF_STATE) logic_->OnSelectionChanged();
      return TRUE;
    case NM_DBLCLK:
      logic_->OnDoubleClick();
      return TRUE;
    case LVN_KEYDOWN:
      if (reinterpret_cast<NMLVKEYDOWN&>(header).wVKey == VK_DELETE) logic_->OnDeleteKey();
      return TRUE;
    case LVN_GETDISPINFOW:
      OnGetIcon(reinterpret_cast<NMLVDISPINFOW&>(header).item);
      return TRUE;
    default:
      return FALSE;
  }
}

void Win32CardView::OnGetIcon(LVITEMW& item) const {
  if (!(item.mask & LVIF_IMAGE) || item.iSubItem != 0) return;
  item.iImage = I_IMAGENONE;
  // The list asks row by row as rows come into view: the rows of the page from this one
  // on are drawn together, on two cores where there are two.
  const auto top = static_cast<int>(SendMessageW(list_, LVM_GETTOPINDEX, 0, 0));
  const auto page = static_cast<int>(SendMessageW(list_, LVM_GETCOUNTPERPAGE, 0, 0));
  logic_->IconsWanted(item.iItem, std::max(item.iItem, top + page));
  const icon::Picture* picture = logic_->RowIcon(item.iItem);
  if (!picture || picture->width != ui::kListIconSize || picture->height != ui::kListIconSize) return;
  HBITMAP bitmap = BitmapOf(*picture);
  if (!bitmap) return;
  const int image = ImageList_Add(icons_, bitmap, nullptr);
  DeleteObject(bitmap);
  if (image < 0) return;
  // The list keeps the image's index and doesn't ask for this row again.
  item.iImage = image;
  item.mask |= LVIF_DI_SETITEM;
}

void Win32CardView::DrawPreview(const DRAWITEMSTRUCT& item) const { DrawCentred(item, preview_); }

void Win32CardView::Place() const {
  HWND main = GetAppState().mainWindow;
  RECT m{}, c{};
  if (!main || !GetWindowRect(main, &m) || !GetWindowRect(dialog_, &c)) return;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromWindow(main, MONITOR_DEFAULTTONEAREST), &monitor)) return;
  const RECT& w = monitor.rcWork;
  const ui::CardPlacement placed =
      ui::PlaceCardWindow({w.left, w.top, w.right - w.left, w.bottom - w.top},
                          {m.left, m.top, m.right - m.left, m.bottom - m.top}, c.right - c.left, c.bottom - c.top);
  if (placed.main)
    SetWindowPos(main, nullptr, placed.main->x, placed.main->y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(dialog_, nullptr, placed.card.x, placed.card.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32CardView::Open() {
  if (!dialog_) {
    const AppState& app = GetAppState();
    CreateDialogParamW(app.instance, MAKEINTRESOURCEW(IDD_CARD), app.mainWindow, Proc,
                       reinterpret_cast<LPARAM>(this));
    if (!dialog_) return;
    Place();
  }
  ShowWindow(dialog_, SW_SHOWNORMAL);
  SetForegroundWindow(dialog_);
}

void Win32CardView::Close() {
  if (dialog_) DestroyWindow(dialog_);
  if (preview_) DeleteObject(preview_);
  preview_ = nullptr;
}

void Win32CardView::SetCaption(const std::string& text) {
  SetWindowTextW(dialog_, io::Widen(text).c_str());
}

void Win32CardView::SetControlText(int id, const std::string& text) {
  SetDlgItemTextW(dialog_, id, io::Widen(text).c_str());
}

void Win32CardView::EnableControl(int id, bool enabled) {
  EnableWindow(GetDlgItem(dialog_, id), enabled ? TRUE : FALSE);
}

void Win32CardView::SetColumns(std::span<const ui::CardColumn> columns) {
  int index = 0;
  for (const ui::CardColumn& c : columns) {
    std::wstring title = io::Widen(c.title);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = title.data();
    SendMessageW(list_, LVM_SETCOLUMNW, static_cast<WPARAM>(index++), reinterpret_cast<LPARAM>(&column));
  }
}

void Win32CardView::SetRows(const std::vector<ui::CardRow>& rows) {
  // The list reports every row it loses and gains; the logic asks for the selection itself
  // once the rows are in.
  ui::CardWindow* logic = logic_;
  logic_ = nullptr;
  SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
  ImageList_RemoveAll(icons_);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ui::CardRow& row = rows[i];
    std::wstring folder = io::Widen(row.folder);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(i);
    item.iImage = I_IMAGECALLBACK;  // drawn when the row comes into view: OnGetIcon
    item.pszText = folder.data();
    int at = static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    SetCell(list_, at, 1, row.title);
    SetCell(list_, at, 2, row.size);
    SetCell(list_, at, 3, row.modified);
  }
  logic_ = logic;
}

std::vector<int> Win32CardView::SelectedRows() {
  std::vector<int> rows;
  int row = -1;
  while ((row = static_cast<int>(SendMessageW(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(row),
                                              MAKELPARAM(LVNI_SELECTED, 0)))) >= 0)
    rows.push_back(row);
  return rows;
}

void Win32CardView::SetPreview(const icon::Picture* picture) {
  if (preview_) DeleteObject(preview_);
  preview_ = picture ? BitmapOf(*picture) : nullptr;
  InvalidateRect(GetDlgItem(dialog_, IDC_CARD_PREVIEW), nullptr, TRUE);
}

std::vector<std::string> Win32CardView::OpenFilesDialog(const ui::FileDialogRequest& request) {
  return RunFileDialog(dialog_, false, request);
}

std::optional<ui::ExportChoice> Win32CardView::AskExport(const ui::ExportRequest& request) {
  ModalScope modal(dialog_);
  return RunExportDialog(dialog_, request);
}

void Win32CardView::ShowMessage(const std::string& text, const std::string& caption,
                                ui::MessageIcon icon) {
  ShowMessageBox(dialog_, text, caption, icon);
}

bool Win32CardView::AskYesNo(const std::string& text, const std::string& caption,
                             ui::MessageIcon icon) {
  return AskYesNoBox(dialog_, text, caption, icon);
}

}  // namespace win32
