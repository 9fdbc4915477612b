// Resource ids of the card window (dialog 112) and of the two small dialogs beside it:
// Export (113), owned by the card window, and New Card (114), owned by the main window.
// Plain macros so that the resource compiler and the C++ code read the same file.
#pragma once

#define IDD_CARD 112
#define IDD_CARD_EXPORT 113
#define IDD_NEW_CARD 114

// The card window
#define IDC_CARD_LIST 1101
#define IDC_CARD_PREVIEW 1102
#define IDC_CARD_FREE 1103
#define IDC_CARD_NOTE 1104
#define IDC_CARD_OPEN 1105
#define IDC_CARD_IMPORT 1106
#define IDC_CARD_EXPORT 1107
#define IDC_CARD_DELETE 1108
#define IDC_CARD_CLOSE 1109
#define IDC_CARD_RESTORE 1110
#define IDC_CARD_SPLIT 1111
#define IDC_CARD_MERGE 1112

// Export
#define IDC_EXPORT_FOLDER 1121
#define IDC_EXPORT_BROWSE 1122
#define IDC_EXPORT_TARGET 1123
#define IDC_EXPORT_TARGET_LABEL 1124

// New Card
#define IDC_NEW_CARD_SIZE 1131
#define IDC_NEW_CARD_ECC 1132
