// The main dialog: start-up with the files named on the command line (ui/start.h), the
// dialog procedure, and the file list's filter. Every decision is MainWindow's; this file
// turns window messages into its calls. The card
// window, modeless beside it, gets its keyboard handling from the filter on the main
// dialog's message loop.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "app_state.h"
#include "resource.h"
#include "ui/main_window.h"
#include "ui/start.h"
#include "io/utf16.h"
#include "win32_platform.h"
#include "window_data.h"

AppState& GetAppState() {
  static AppState state;
  return state;
}

namespace {

// Posted once the dialog is up: the file named on the command line opens, as File > Open
// would, over a window the user can see.
constexpr UINT kOpenNamedFile = WM_APP + 1;

struct MainDialog {
  win32::Win32Platform platform;
  ui::MainWindow window{platform};
  HWND list = nullptr;
  WNDPROC listProc = nullptr;  // the list's own procedure, for what the filter passes on
  std::string namedFile;       // from the command line; empty: none
};

LRESULT CALLBACK ListFilterProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
  MainDialog* d = win32::WindowData<MainDialog>(GetParent(list));
  switch (message) {
    case WM_RBUTTONUP:
      if (d->window.OnListRightButtonUp()) return 0;
      break;
    case WM_DROPFILES:
      return SendMessageW(GetParent(list), WM_DROPFILES, wParam, lParam);
    default:
      break;
  }
  return CallWindowProcW(d->listProc, list, message, wParam, lParam);
}

// A notification's result, as a dialog procedure returns it.
INT_PTR NotifyResult(HWND dialog, LRESULT result) {
  SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR OnListNotify(HWND dialog, MainDialog& d, NMHDR& header) {
  switch (header.code) {
    case LVN_KEYDOWN:
      if (reinterpret_cast<NMLVKEYDOWN&>(header).wVKey == VK_DELETE) d.window.OnListDeleteKey();
      return TRUE;
    case LVN_ENDLABELEDITW: {
      auto& info = reinterpret_cast<NMLVDISPINFOW&>(header);
      std::optional<std::string> text;
      if (info.item.pszText) text = io::Narrow(info.item.pszText);
      d.window.OnListLabelEditEnd(info.item.iItem, text);
      // The new name, when taken, is already in the row; the list must not set it again.
      return NotifyResult(dialog, FALSE);
    }
    case LVN_ITEMCHANGED:
      d.window.OnListItemChanged();
      return TRUE;
    case NM_RCLICK:
      d.window.OnListRightClick();
      return TRUE;
    case NM_DBLCLK:
      d.window.OnListDoubleClick();
      return TRUE;
    default:
      return FALSE;
  }
}

void OnInitDialog(HWND dialog, MainDialog& d) {
  win32::SetWindowData(dialog, &d);
  d.list = GetDlgItem(dialog, IDC_FILE_LIST);
  d.platform.Attach(dialog, d.list);
  d.platform.Cards().SetLogic(&d.window.cards());
  d.listProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(d.list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListFilterProc)));
  AppState& app = GetAppState();
  app.mainWindow = dialog;
  app.mainMenu = GetMenu(dialog);
  win32::SetProgramIcon(dialog);
  SendMessageW(d.list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
               LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  d.window.OnInit();
  if (!d.namedFile.empty()) PostMessageW(dialog, kOpenNamedFile, 0, 0);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    OnInitDialog(dialog, *reinterpret_cast<MainDialog*>(lParam));
    return TRUE;
  }
  MainDialog* d = win32::WindowData<MainDialog>(dialog);
  if (!d) return FALSE;
  switch (message) {
    case WM_COMMAND:
      d->window.OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->idFrom == IDC_FILE_LIST) return OnListNotify(dialog, *d, *header);
      return FALSE;
    }
    case WM_DRAWITEM:
      if (wParam != IDC_SAVE_ICON) return FALSE;
      d->platform.DrawSaveIcon(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_DROPFILES: {
      auto drop = reinterpret_cast<HDROP>(wParam);
      d->window.OnDropFiles(win32::DroppedPaths(drop));
      DragFinish(drop);
      return TRUE;
    }
    case kOpenNamedFile:
      d->window.OpenPath(d->namedFile);
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, MAIN_DIALOG_RESULT);
      return TRUE;
    default:
      return FALSE;
  }
}

// The main dialog's modal loop passes each message through here first: Tab, Enter and
// Escape in the card window are handled as a dialog handles them.
LRESULT CALLBACK CardWindowKeys(int code, WPARAM wParam, LPARAM lParam) {
  if (code == MSGF_DIALOGBOX) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    HWND card = GetAppState().cardWindow;
    if (card && (message->hwnd == card || IsChild(card, message->hwnd)) && IsDialogMessageW(card, message))
      return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The arguments after the program's name, from the command line as Windows keeps it
// (UTF-16), in UTF-8.
std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 1; i < count; ++i) args.push_back(io::Narrow(wide[i]));
  LocalFree(wide);
  return args;
}

// This program once more, for one file: each file named has a window of its own.
void StartAnother(const std::string& path) {
  std::wstring exe(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
    if (n == 0) return;
    if (n < exe.size()) {
      exe.resize(n);
      break;
    }
    exe.resize(exe.size() * 2);
  }
  std::wstring command = io::Widen(ui::QuotedArgument(io::Narrow(exe)) + " " + ui::QuotedArgument(path));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
    return;
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // A program without a console answers --version, --help and a wrong option in a box.
  const ui::CommandLine line = ui::ReadCommandLine(Arguments());
  switch (line.action) {
    case ui::CommandLine::Action::kVersion:
      win32::ShowMessageBox(nullptr, "moravelt " MORAVELT_VERSION, "moravelt", ui::MessageIcon::kInformation);
      return 0;
    case ui::CommandLine::Action::kHelp:
      win32::ShowMessageBox(nullptr, ui::Usage(), "moravelt", ui::MessageIcon::kInformation);
      return 0;
    case ui::CommandLine::Action::kUnknownOption:
      win32::ShowMessageBox(nullptr, "Unknown option " + line.option + "\n\n" + ui::Usage(), "moravelt",
                            ui::MessageIcon::kWarning);
      return 2;
    case ui::CommandLine::Action::kOpen:
      break;
  }
  for (std::size_t i = 1; i < line.paths.size(); ++i) StartAnother(line.paths[i]);
  GetAppState().instance = instance;
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES;
  InitCommonControlsEx(&controls);
  HHOOK keys = SetWindowsHookExW(WH_MSGFILTER, CardWindowKeys, nullptr, GetCurrentThreadId());
  MainDialog dialog;
  if (!line.paths.empty()) dialog.namedFile = line.paths.front();
  INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc,
                                   reinterpret_cast<LPARAM>(&dialog));
  if (keys) UnhookWindowsHookEx(keys);
  return static_cast<int>(result);
}
