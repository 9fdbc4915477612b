#include "card_choices.h"

#include <objbase.h>
#include <shlobj.h>

#include <vector>

#include "app_state.h"
#include "card_ids.h"
#include "io/utf16.h"
#include "ui/texts.h"
#include "window_data.h"

namespace win32 {

namespace {

// Room for long paths, as in the file dialogs.
constexpr std::size_t kPathBuffer = 32768;

std::wstring ItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  int n = GetWindowTextLengthW(item);
  std::wstring text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, L'\0');
  n = GetWindowTextW(item, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  return text;
}

int ComboSelection(HWND dialog, int id) {
  return static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

// --- Export ------------------------------------------------------------------------------

struct ExportRun {
  const ui::ExportRequest* request;
  ui::ExportDialogStart start;
  ui::ExportChoice choice;
};

// OK needs a folder.
void EnableExportOk(HWND dialog) {
  EnableWindow(GetDlgItem(dialog, IDOK), ui::ExportReady(io::Narrow(ItemText(dialog, IDC_EXPORT_FOLDER))));
}

INT_PTR CALLBACK ExportProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* run = reinterpret_cast<ExportRun*>(lParam);
    SetWindowData(dialog, run);
    run->start = ui::ExportDialogStartOf(*run->request);
    SetWindowTextW(dialog, io::Widen(run->start.caption).c_str());
    SetDlgItemTextW(dialog, IDC_EXPORT_TARGET_LABEL, io::Widen(run->start.targetLabel).c_str());
    SetDlgItemTextW(dialog, IDC_EXPORT_FOLDER, io::Widen(run->start.folder).c_str());
    for (const std::string& target : run->request->targets)
      SendDlgItemMessageW(dialog, IDC_EXPORT_TARGET, CB_ADDSTRING, 0,
                          reinterpret_cast<LPARAM>(io::Widen(target).c_str()));
    SendDlgItemMessageW(dialog, IDC_EXPORT_TARGET, CB_SETCURSEL, static_cast<WPARAM>(run->start.target), 0);
    EnableWindow(GetDlgItem(dialog, IDOK), run->start.okEnabled);
    return TRUE;
  }
  auto* run = WindowData<ExportRun>(dialog);
  if (!run || message != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case IDC_EXPORT_FOLDER:
      if (HIWORD(wParam) == EN_CHANGE) EnableExportOk(dialog);
      return TRUE;
    case IDC_EXPORT_BROWSE:
      if (std::optional<std::string> folder = ChooseFolder(dialog, run->start.folderTitle))
        SetDlgItemTextW(dialog, IDC_EXPORT_FOLDER, io::Widen(*folder).c_str());
      return TRUE;
    case IDOK:
      run->choice.folder = io::Narrow(ItemText(dialog, IDC_EXPORT_FOLDER));
      run->choice.target = ComboSelection(dialog, IDC_EXPORT_TARGET);
      EndDialog(dialog, IDOK);
      return TRUE;
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

// --- New Card ----------------------------------------------------------------------------

struct NewCardRun {
  std::span<const unsigned> sizes;
  ui::NewCardChoice choice;
};

INT_PTR CALLBACK NewCardProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* run = reinterpret_cast<NewCardRun*>(lParam);
    SetWindowData(dialog, run);
    for (const std::string& label : ui::NewCardLabels(run->sizes))
      SendDlgItemMessageW(dialog, IDC_NEW_CARD_SIZE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(io::Widen(label).c_str()));
    const ui::NewCardStart start = ui::NewCardStartOf(run->sizes, run->choice);
    SendDlgItemMessageW(dialog, IDC_NEW_CARD_SIZE, CB_SETCURSEL, static_cast<WPARAM>(start.row), 0);
    CheckDlgButton(dialog, IDC_NEW_CARD_ECC, start.ecc ? BST_CHECKED : BST_UNCHECKED);
    return TRUE;
  }
  auto* run = WindowData<NewCardRun>(dialog);
  if (!run || message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
  switch (LOWORD(wParam)) {
    case IDOK: {
      run->choice = ui::NewCardChoiceAt(run->sizes, ComboSelection(dialog, IDC_NEW_CARD_SIZE),
                                        IsDlgButtonChecked(dialog, IDC_NEW_CARD_ECC) == BST_CHECKED, run->choice);
      EndDialog(dialog, IDOK);
      return TRUE;
    }
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::optional<std::string> ChooseFolder(HWND owner, const std::string& title) {
  // The picker's newer form runs on COM.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::wstring wideTitle = io::Widen(title);
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.lpszTitle = wideTitle.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  std::optional<std::string> chosen;
  if (PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info)) {
    std::vector<wchar_t> path(kPathBuffer, L'\0');
    if (SHGetPathFromIDListEx(item, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT))
      chosen = io::Narrow(path.data());
    CoTaskMemFree(item);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return chosen;
}

std::optional<ui::ExportChoice> RunExportDialog(HWND owner, const ui::ExportRequest& request) {
  ExportRun run{&request, {}, {}};
  INT_PTR result = DialogBoxParamW(GetAppState().instance, MAKEINTRESOURCEW(IDD_CARD_EXPORT), owner,
                                   ExportProc, reinterpret_cast<LPARAM>(&run));
  if (result != IDOK) return std::nullopt;
  return run.choice;
}

std::optional<ui::NewCardChoice> RunNewCardDialog(HWND owner, std::span<const unsigned> sizes,
                                                  const ui::NewCardChoice& offered) {
  NewCardRun run{sizes, offered};
  INT_PTR result = DialogBoxParamW(GetAppState().instance, MAKEINTRESOURCEW(IDD_NEW_CARD), owner,
                                   NewCardProc, reinterpret_cast<LPARAM>(&run));
  if (result != IDOK) return std::nullopt;
  return run.choice;
}

}  // namespace win32
