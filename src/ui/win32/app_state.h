// The dialog program's handles: one record per process, filled at start-up and when the
// main dialog initialises. The save the window shows belongs to the portable logic
// (ui::FileCommands), not to this record.
#pragma once

#include <windows.h>

struct AppState {
  HINSTANCE instance = nullptr;  // the program's module, for resources
  HWND mainWindow = nullptr;     // owner of every dialog and message box
  HMENU mainMenu = nullptr;      // the main dialog's menu bar
};

AppState& GetAppState();
