// The dialog program's handles: one record per process, filled at start-up and when the
// main dialog initialises. The save the window shows belongs to the portable logic
// (ui::FileCommands), not to this record.
#pragma once

#include <windows.h>

#include <vector>

struct AppState {
  HINSTANCE instance = nullptr;  // the program's module, for resources
  HWND mainWindow = nullptr;     // owner of every dialog and message box
  HMENU mainMenu = nullptr;      // the main dialog's menu bar
  HWND cardWindow = nullptr;     // the card window while it is open
};

AppState& GetAppState();

namespace win32 {

// While a modal dialog or message box of one window is up, the program's other window is
// disabled too, as the owner itself is: neither takes a command in the middle of another.
class ModalScope {
 public:
  explicit ModalScope(HWND owner) {
    const AppState& app = GetAppState();
    for (HWND w : {app.mainWindow, app.cardWindow}) {
      if (!w || w == owner || !IsWindowEnabled(w)) continue;
      EnableWindow(w, FALSE);
      disabled_.push_back(w);
    }
  }
  ~ModalScope() {
    for (HWND w : disabled_)
      if (IsWindow(w)) EnableWindow(w, TRUE);
  }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  std::vector<HWND> disabled_;
};

}  // namespace win32
