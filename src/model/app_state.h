// The application state: one record per process, made on first use.
#pragma once

#include <memory>

#include "model/save_game.h"

struct AppState {
  void* instance = nullptr;                // the program's module handle, for resources
  std::unique_ptr<CSaveGame> currentSave;  // the save the window shows, or none
  void* mainWindow = nullptr;              // owner of every dialog and message box
  void* mainMenu = nullptr;                // the main dialog's menu bar
};

AppState& GetAppState();
