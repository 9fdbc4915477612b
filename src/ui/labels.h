// The fixed texts of the dialog program's windows: captions, menus, buttons, labels and
// check boxes. Plain macros, so that the Win32 resource scripts (res/*.rc) and the C++ code
// of every shell read the same texts from this one file; '&' marks a menu's access key.
#pragma once

// The main window
#define LABEL_MAIN_CAPTION "Converter"
#define LABEL_OPEN "Open"
#define LABEL_SAVE "Save"
#define LABEL_SAVE_INFO "Save info"
#define LABEL_SAVE_FOLDER "Save folder:"
#define LABEL_ICON_SYS_NAME "Icon.sys name:"
#define LABEL_ROOT_ATTRIBUTES "Main directory attributes:"
#define LABEL_PROPERTIES "Properties"

// Its menus
#define LABEL_MENU_FILE "&File"
#define LABEL_MENU_OPEN "&Open"
#define LABEL_MENU_OPEN_CARD_FOLDER "Open Card &Folder..."
#define LABEL_MENU_NEW_CARD "&New Card..."
#define LABEL_MENU_SAVE_AS "Sa&ve as"
#define LABEL_MENU_EXIT "E&xit"
#define LABEL_MENU_EDIT "&Edit"
#define LABEL_MENU_ADD_FILE "&Add File"
#define LABEL_MENU_DELETE_FILE "&Delete File"
#define LABEL_MENU_EXTRACT_FILE "&Extract File"
#define LABEL_MENU_PROPERTIES "&Properties"
#define LABEL_MENU_HELP "&Help"
#define LABEL_MENU_ABOUT "&About"

// Buttons every dialog has
#define LABEL_OK "OK"
#define LABEL_CANCEL "Cancel"

// The About box
#define LABEL_ABOUT_CAPTION "About..."
#define LABEL_ABOUT_NAME "Moravelt v0.030"
#define LABEL_ABOUT_TEXT \
  "This tool basically converts other formats into psu saves and vice versa. It also does very limited editing"

// The Properties dialog; box k of the mode stands for bit k
#define LABEL_PROPERTIES_CAPTION "Properties"
#define LABEL_NAME "Name:"
#define LABEL_SIZE "Size:"
#define LABEL_INFO "Info"
#define LABEL_CREATED "Created:"
#define LABEL_MODIFIED "Modified:"
#define LABEL_EDIT "Edit"
#define LABEL_NO_ATTRIBUTES "Attributes (0x00000000)"
#define LABEL_SUMMARY_PLACEHOLDER "00000000000kB"
#define LABEL_MODE_0 "Read (0x0001)"
#define LABEL_MODE_1 "Write (0x0002)"
#define LABEL_MODE_2 "Execute (0x0004)"
#define LABEL_MODE_3 "Copy Protected (0x0008)"
#define LABEL_MODE_4 "File (0x0010)"
#define LABEL_MODE_5 "Directory (0x0020)"
#define LABEL_MODE_6 "Unknown (0x0040)"
#define LABEL_MODE_7 "Preserved (0x0080)"
#define LABEL_MODE_8 "Unknown (0x0100)"
#define LABEL_MODE_9 "Unknown (0x0200)"
#define LABEL_MODE_10 "Unknown (0x0400)"
#define LABEL_MODE_11 "PDA File (0x0800)"
#define LABEL_MODE_12 "PS1 (0x1000)"
#define LABEL_MODE_13 "Unknown (0x2000)"
#define LABEL_MODE_14 "Hidden (0x4000)"
#define LABEL_MODE_15 "PS2 (0x8000)"

// The card window
#define LABEL_CARD_CAPTION "Memory card"
#define LABEL_CARD_OPEN "Open"
#define LABEL_CARD_IMPORT "Import..."
#define LABEL_CARD_EXPORT "Export..."
#define LABEL_CARD_DELETE "Delete"
#define LABEL_CARD_CLOSE "Close"

// Export, from the card window
#define LABEL_EXPORT_CAPTION "Export"
#define LABEL_EXPORT_FOLDER "Folder:"
#define LABEL_BROWSE "Browse..."
#define LABEL_EXPORT_FORMAT "Format:"

// New Card, from the main window
#define LABEL_NEW_CARD_CAPTION "New Card"
#define LABEL_NEW_CARD_ECC "With ECC (the layout of PCSX2's .ps2 files)"
