// The commands of the dialog program's windows, described once: the main window's menus and
// the card window's buttons, each an id that the window's logic takes in OnCommand and the
// label it is shown with. A shell that builds its menus and buttons at run time builds them
// from these tables, so a new command is a row here and a case in the logic's OnCommand.
// (The Win32 shell takes the same ids and labels from its resource scripts; a test holds
// the main menu of res/moravelt.rc to kMainMenus, item by item.)
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "card_ids.h"
#include "resource.h"
#include "ui/labels.h"

namespace ui {

// A menu item or a button; id 0 is a separator in a menu and a gap in a row of buttons.
struct Command {
  int id;
  std::string_view label;  // '&' before the access key
};

struct Menu {
  std::string_view title;
  std::span<const Command> commands;
};

inline constexpr std::array kFileMenu = {
    Command{IDM_OPEN, LABEL_MENU_OPEN},
    Command{IDM_OPEN_CARD_FOLDER, LABEL_MENU_OPEN_CARD_FOLDER},
    Command{IDM_NEW_CARD, LABEL_MENU_NEW_CARD},
    Command{IDM_SAVE_AS, LABEL_MENU_SAVE_AS},
    Command{0, {}},
    Command{IDM_EXIT, LABEL_MENU_EXIT},
};
// Also the file list's right-click menu.
inline constexpr std::array kEditMenu = {
    Command{IDM_ADD_FILE, LABEL_MENU_ADD_FILE},
    Command{IDM_DELETE_FILE, LABEL_MENU_DELETE_FILE},
    Command{IDM_EXTRACT_FILE, LABEL_MENU_EXTRACT_FILE},
    Command{IDM_PROPERTIES, LABEL_MENU_PROPERTIES},
};
inline constexpr std::array kHelpMenu = {
    Command{IDM_ABOUT, LABEL_MENU_ABOUT},
};
inline constexpr std::array kMainMenus = {
    Menu{LABEL_MENU_FILE, kFileMenu},
    Menu{LABEL_MENU_EDIT, kEditMenu},
    Menu{LABEL_MENU_HELP, kHelpMenu},
};

// The card window's buttons beside its list, top to bottom; the SD card's two commands and
// Close stand apart at the foot.
inline constexpr std::array kCardCommands = {
    Command{IDC_CARD_OPEN, LABEL_CARD_OPEN},
    Command{IDC_CARD_IMPORT, LABEL_CARD_IMPORT},
    Command{IDC_CARD_EXPORT, LABEL_CARD_EXPORT},
    Command{IDC_CARD_DELETE, LABEL_CARD_DELETE},
    Command{IDC_CARD_RESTORE, LABEL_CARD_RESTORE},
    Command{0, {}},
    Command{IDC_CARD_SPLIT, LABEL_CARD_SPLIT},
    Command{IDC_CARD_MERGE, LABEL_CARD_MERGE},
    Command{IDC_CARD_CLOSE, LABEL_CARD_CLOSE},
};

}  // namespace ui
