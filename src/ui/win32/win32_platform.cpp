#include "win32_platform.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "io/utf16.h"
#include "app_state.h"
#include "card_choices.h"
#include "properties_dialog.h"
#include "resource.h"

namespace win32 {

using io::Narrow;
using io::Widen;

namespace {

// Room for long paths: the dialogs report a path of any length the file system allows.
constexpr std::size_t kPathBuffer = 32768;

HINSTANCE Instance() { return GetAppState().instance; }

// "description\0pattern\0...\0\0", as the file dialogs take their filters.
std::wstring FilterText(const std::vector<ui::FileFilter>& filters) {
  std::wstring text;
  for (const ui::FileFilter& f : filters) {
    text += Widen(f.description);
    text.push_back(L'\0');
    text += Widen(f.pattern);
    text.push_back(L'\0');
  }
  text.push_back(L'\0');
  return text;
}

DWORD DialogFlags(unsigned flags) {
  DWORD out = 0;
  if (flags & ui::kDialogExplorer) out |= OFN_EXPLORER;
  if (flags & ui::kDialogFileMustExist) out |= OFN_FILEMUSTEXIST;
  if (flags & ui::kDialogPathMustExist) out |= OFN_PATHMUSTEXIST;
  if (flags & ui::kDialogOverwritePrompt) out |= OFN_OVERWRITEPROMPT;
  if (flags & ui::kDialogMultiSelect) out |= OFN_ALLOWMULTISELECT;
  return out;
}

// What a multiple-selection dialog leaves in its buffer: one path, or the folder and then
// each name, every text ended by a NUL and the whole by another.
std::vector<std::string> ChosenPaths(const std::vector<wchar_t>& buffer) {
  std::vector<std::wstring> parts;
  for (std::size_t at = 0; at < buffer.size() && buffer[at] != L'\0';) {
    std::wstring part(buffer.data() + at);
    at += part.size() + 1;
    parts.push_back(std::move(part));
  }
  std::vector<std::string> paths;
  if (parts.size() == 1) paths.push_back(Narrow(parts[0]));
  for (std::size_t i = 1; i < parts.size(); ++i) {
    std::wstring folder = parts[0];
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    paths.push_back(Narrow(folder + parts[i]));
  }
  return paths;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetProgramIcon(dialog);
      return TRUE;
    case WM_COMMAND:
      // Only "OK" closes the box; Escape (IDCANCEL) does not.
      if (LOWORD(wParam) == IDOK && HIWORD(wParam) == 0) SendMessageW(dialog, WM_CLOSE, 0, 0);
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, MAIN_DIALOG_RESULT);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void SetProgramIcon(HWND dialog) {
  HINSTANCE instance = Instance();
  auto big = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MORAVELT), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON),
                                           GetSystemMetrics(SM_CYICON), LR_SHARED));
  auto small = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MORAVELT), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

std::vector<std::string> RunFileDialog(HWND owner, bool save, const ui::FileDialogRequest& request) {
  std::wstring filter = FilterText(request.filters);
  std::wstring initial = Widen(request.initialDirectory);
  std::wstring defExt = Widen(request.defaultExtension);
  std::vector<wchar_t> buffer(kPathBuffer, L'\0');
  std::wstring offered = Widen(request.fileName);
  offered.copy(buffer.data(), std::min(offered.size(), buffer.size() - 1));

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(request.selectedFilter);
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.lpstrInitialDir = initial.empty() ? nullptr : initial.c_str();
  ofn.lpstrDefExt = defExt.empty() ? nullptr : defExt.c_str();
  ofn.Flags = DialogFlags(request.flags);
  ModalScope modal(owner);
  BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (chosen != TRUE) return {};
  if (request.flags & ui::kDialogMultiSelect) return ChosenPaths(buffer);
  return {Narrow(buffer.data())};
}

std::vector<std::string> DroppedPaths(HDROP drop) {
  std::vector<std::string> paths;
  UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    // Each path whole, however long.
    UINT length = DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    length = DragQueryFileW(drop, i, path.data(), length + 1);
    path.resize(length);
    paths.push_back(Narrow(path));
  }
  return paths;
}

std::optional<ui::ChosenFile> Win32Platform::OpenFileDialog(const ui::FileDialogRequest& request) {
  // The offsets are recomputed on the UTF-8 text; they mean what nFileOffset and
  // nFileExtension mean on the wide one.
  return ui::FirstChosenFile(RunFileDialog(window_, false, request));
}

std::optional<ui::ChosenFile> Win32Platform::SaveFileDialog(const ui::FileDialogRequest& request) {
  return ui::FirstChosenFile(RunFileDialog(window_, true, request));
}

namespace {

UINT IconFlag(ui::MessageIcon icon) {
  switch (icon) {
    case ui::MessageIcon::kWarning: return MB_ICONWARNING;
    case ui::MessageIcon::kInformation: return MB_ICONINFORMATION;
    case ui::MessageIcon::kQuestion: return MB_ICONQUESTION;
  }
  return 0;
}

}  // namespace

void ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, ui::MessageIcon icon) {
  ModalScope modal(owner);
  MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), MB_OK | IconFlag(icon));
}

bool AskYesNoBox(HWND owner, const std::string& text, const std::string& caption, ui::MessageIcon icon) {
  ModalScope modal(owner);
  return MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), MB_YESNO | IconFlag(icon)) == IDYES;
}

void Win32Platform::ShowMessage(const std::string& text, const std::string& caption,
                                ui::MessageIcon icon) {
  ShowMessageBox(window_, text, caption, icon);
}

bool Win32Platform::AskYesNo(const std::string& text, const std::string& caption,
                             ui::MessageIcon icon) {
  return AskYesNoBox(window_, text, caption, icon);
}

// A picture as a top-down 32-bit DIB section; nullptr when its pixels don't add up.
HBITMAP BitmapOf(const icon::Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.rgba.size() != static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 4)
    return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) return bitmap;
  // GDI keeps blue, green, red, alpha.
  auto* out = static_cast<std::uint8_t*>(bits);
  for (std::size_t i = 0; i < picture.rgba.size(); i += 4) {
    out[i] = picture.rgba[i + 2];
    out[i + 1] = picture.rgba[i + 1];
    out[i + 2] = picture.rgba[i];
    out[i + 3] = picture.rgba[i + 3];
  }
  return bitmap;
}

void DrawCentred(const DRAWITEMSTRUCT& item, HBITMAP bitmap) {
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  if (!bitmap) return;
  BITMAP size{};
  GetObjectW(bitmap, sizeof size, &size);
  HDC source = CreateCompatibleDC(item.hDC);
  HGDIOBJ old = SelectObject(source, bitmap);
  const int x = item.rcItem.left + (item.rcItem.right - item.rcItem.left - size.bmWidth) / 2;
  const int y = item.rcItem.top + (item.rcItem.bottom - item.rcItem.top - size.bmHeight) / 2;
  BitBlt(item.hDC, x, y, size.bmWidth, size.bmHeight, source, 0, 0, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

Win32Platform::~Win32Platform() {
  if (saveIcon_) DeleteObject(saveIcon_);
}

void Win32Platform::ShowSaveIcon(const icon::Picture* picture) {
  if (saveIcon_) DeleteObject(saveIcon_);
  saveIcon_ = picture ? BitmapOf(*picture) : nullptr;
  InvalidateRect(GetDlgItem(window_, IDC_SAVE_ICON), nullptr, TRUE);
}

void Win32Platform::SetControlText(int id, const std::string& text) {
  SetDlgItemTextW(window_, id, Widen(text).c_str());
}

void Win32Platform::EnableControl(int id, bool enabled) {
  EnableWindow(GetDlgItem(window_, id), enabled ? TRUE : FALSE);
}

void Win32Platform::EnableMenuItem(int id, bool enabled) {
  ::EnableMenuItem(GetAppState().mainMenu, static_cast<UINT>(id),
                   MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED | MF_DISABLED));
}

void Win32Platform::ListInsertColumn(int column, const std::string& title, int width) {
  std::wstring text = Widen(title);
  LVCOLUMNW c{};
  c.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  c.fmt = LVCFMT_LEFT;
  c.cx = width;
  c.pszText = text.data();
  c.iSubItem = column;
  SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&c));
}

void Win32Platform::ListDeleteAllRows() { SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0); }

int Win32Platform::ListFullyVisibleRows() {
  return static_cast<int>(SendMessageW(list_, LVM_GETCOUNTPERPAGE, 0, 0));
}

void Win32Platform::ListSetColumnWidth(int column, int width) {
  SendMessageW(list_, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(width, 0));
}

void Win32Platform::ListInsertRow(int row, const std::string& firstColumn) {
  std::wstring text = Widen(firstColumn);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.pszText = text.data();
  SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void Win32Platform::ListSetCell(int row, int column, const std::string& text) {
  std::wstring wide = Widen(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = wide.data();
  SendMessageW(list_, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

int Win32Platform::ListSelectedRow() {
  return static_cast<int>(
      SendMessageW(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
}

void Win32Platform::ShowEditMenu(std::span<const ui::MenuItemState> items) {
  HMENU menu = LoadMenuW(Instance(), MAKEINTRESOURCEW(IDR_MAIN_MENU));
  if (!menu) return;
  HMENU edit = GetSubMenu(menu, EDIT_SUBMENU_INDEX);
  for (const ui::MenuItemState& item : items)
    ::EnableMenuItem(edit, static_cast<UINT>(item.id),
                     MF_BYCOMMAND | (item.enabled ? MF_ENABLED : MF_GRAYED | MF_DISABLED));
  POINT at{};
  GetCursorPos(&at);
  TrackPopupMenu(edit, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, at.x, at.y, 0, window_,
                 nullptr);
  DestroyMenu(menu);
}

bool Win32Platform::RunEntryProperties(CSaveGame& save, int index) {
  ModalScope modal(window_);
  return ::RunEntryProperties(save, index);
}

void Win32Platform::RunAboutBox() {
  ModalScope modal(window_);
  DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_ABOUT), window_, AboutProc, 0);
}

void Win32Platform::CloseMainWindow() { SendMessageW(window_, WM_CLOSE, 0, 0); }

void Win32Platform::SetWindowTitle(const std::string& text) {
  SetWindowTextW(window_, Widen(text).c_str());
}

std::optional<std::string> Win32Platform::ChooseFolder(const std::string& title) {
  ModalScope modal(window_);
  return win32::ChooseFolder(window_, title);
}

std::optional<ui::NewCardChoice> Win32Platform::AskNewCard(std::span<const unsigned> sizes,
                                                           const ui::NewCardChoice& offered) {
  ModalScope modal(window_);
  return RunNewCardDialog(window_, sizes, offered);
}

}  // namespace win32
