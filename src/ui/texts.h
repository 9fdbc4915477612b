// The dialog program's own texts, in one place: captions, questions, column headings and
// the fixed lines of its dialogs. The labels of its windows, which the Win32 resource scripts
// read too, are in ui/labels.h. The texts it shares with the command line (the results'
// messages, the date checks) come from formats/messages.h and model/entry_time_text.h.
//
// Two spellings here are the program's own and stay as they are, since users and their
// guides know the dialogs by them: "Warrning" and "fiiles".
#pragma once

#include <string_view>

#include "formats/messages.h"
#include "ui/labels.h"

namespace ui {

using messages::kErrorCaption;
using messages::kNoValidIconSys;
using messages::kUnknownFileType;

// The main window.
inline constexpr std::string_view kMainCaption = LABEL_MAIN_CAPTION;
inline constexpr std::string_view kNewSaveName = "NewSave";
inline constexpr std::string_view kInitialDirectory = ".\\";
inline constexpr std::string_view kAllFilesFilter = "All files (*.*)";
inline constexpr std::string_view kCardImagesFilter = "Memory card images";
inline constexpr std::string_view kNameTooLong = "Filename must not exceed 32 characters";
inline constexpr std::string_view kFileNameColumn = "File name";
inline constexpr std::string_view kSizeColumn = "Size";
inline constexpr std::string_view kAttribColumn = "Attrib";

// The labels of the save's fields: as the resource template gives them for a PS2 save, and
// for a PS1 save, which has a card file name, a title and its blocks.
inline constexpr std::string_view kFolderLabel = "Save folder:";
inline constexpr std::string_view kTitleLabel = "Icon.sys name:";
inline constexpr std::string_view kRootModeLabel = "Main directory attributes:";
inline constexpr std::string_view kPs1FolderLabel = "Card name:";
inline constexpr std::string_view kPs1TitleLabel = "Title:";
// Before the blocks: "PS1 save:", or with the region its name gives, "PS1 save, Japan:".
inline constexpr std::string_view kPs1InfoLabel = "PS1 save";
inline constexpr std::string_view kPs1NameInvalid =
    "A PlayStation 1 save's name has 1 to 20 ASCII characters";
inline constexpr std::string_view kPs1NoFiles =
    "A PlayStation 1 save is one name and its blocks: it has no files to add, delete or change";
// The side of the picture of a PS1 save's icon (twice its own 16 pixels).
inline constexpr int kSaveIconSize = 32;

// The Properties dialog.
inline constexpr std::string_view kWarningCaption = "Warrning";
inline constexpr const char* kFileCountFormat = "Num. of fiiles = %lli";
inline constexpr const char* kAttributesFormat = "Attributes (0x%08X)";
inline constexpr std::string_view kEditButton = LABEL_EDIT;
inline constexpr std::string_view kOkButton = "Ok";

// The card window.
inline constexpr std::string_view kCardCaption = "Memory card - ";
inline constexpr std::string_view kDeleteCaption = "Delete";
inline constexpr std::string_view kDeleteQuestion = "Delete these saves from the card?\n";
inline constexpr std::string_view kFolderPickerTitle = "Choose a PCSX2 folder card";
inline constexpr std::string_view kExportFolderTitle = "Export to this folder";
inline constexpr std::string_view kPlainFolder = "Plain folder (one folder per save)";
inline constexpr std::string_view kFolderColumn = "Folder";
inline constexpr std::string_view kTitleColumn = "Title";
inline constexpr std::string_view kModifiedColumn = "Modified";

}  // namespace ui
