// Resource ids of the dialog program: dialogs and menus 1xx, the main window's
// controls 10xx, menu commands 400xx (the card window's ids are in card_ids.h). Only #defines, so that the resource compiler
// and the C++ code share this one file.
#pragma once

#define IDD_MAIN 101
#define IDR_MAIN_MENU 102
#define IDI_MORAVELT 104
#define IDD_ABOUT 109

// Main window controls
#define IDC_OPEN 1001
#define IDC_SAVE 1002
#define IDC_FOLDER_NAME 1003
#define IDC_SAVE_INFO 1004
#define IDC_FOLDER_LABEL 1005
#define IDC_TITLE_LABEL 1006
#define IDC_TITLE 1007
#define IDC_FILE_LIST 1013
#define IDC_ROOT_MODE 1015
#define IDC_ROOT_MODE_LABEL 1016
#define IDC_SAVE_ICON 1017
#define IDC_FOLDER_PROPERTIES 1040

// Menu commands
#define IDM_OPEN 40001
#define IDM_SAVE_AS 40003
#define IDM_EXIT 40004
#define IDM_ABOUT 40005
#define IDM_ADD_FILE 40009
#define IDM_EXTRACT_FILE 40010
#define IDM_PROPERTIES 40011
#define IDM_DELETE_FILE 40013
#define IDM_OPEN_CARD_FOLDER 40014
#define IDM_NEW_CARD 40015

// The value the main dialog ends with, which becomes the program's exit status.
#define MAIN_DIALOG_RESULT 40004

// Submenu of IDR_MAIN_MENU that doubles as the file list's right-click menu.
#define EDIT_SUBMENU_INDEX 1
