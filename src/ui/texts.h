// The dialog program's own texts, in one place: captions, questions, column headings and
// the fixed lines of its dialogs. The texts it shares with the command line (the results'
// messages, the date checks) come from formats/messages.h and model/entry_time_text.h.
//
// Two spellings here are the program's own and stay as they are, since users and their
// guides know the dialogs by them: "Warrning" and "fiiles".
#pragma once

#include <string_view>

#include "formats/messages.h"

namespace ui {

using messages::kErrorCaption;
using messages::kNoValidIconSys;
using messages::kUnknownFileType;

// The main window.
inline constexpr std::string_view kMainCaption = "Converter";  // as its resource template gives it
inline constexpr std::string_view kNewSaveName = "NewSave";
inline constexpr std::string_view kInitialDirectory = ".\\";
inline constexpr std::string_view kAllFilesFilter = "All files (*.*)";
inline constexpr std::string_view kCardImagesFilter = "Memory card images";
inline constexpr std::string_view kNameTooLong = "Filename must not exceed 32 characters";
inline constexpr std::string_view kFileNameColumn = "File name";
inline constexpr std::string_view kSizeColumn = "Size";
inline constexpr std::string_view kAttribColumn = "Attrib";

// The Properties dialog.
inline constexpr std::string_view kWarningCaption = "Warrning";
inline constexpr const char* kFileCountFormat = "Num. of fiiles = %lli";
inline constexpr const char* kAttributesFormat = "Attributes (0x%08X)";
inline constexpr std::string_view kEditButton = "Edit";
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

// Split onto SD card... and Merge from SD card... of the card window; New Card's size.
inline constexpr std::string_view kSplitCaption = "Split onto SD card";
inline constexpr std::string_view kSplitDeviceLabel = "Device:";
inline constexpr std::string_view kMergeCaption = "Merge from SD card";
inline constexpr std::string_view kSdFolderTitle = "The SD card's folder";
inline constexpr std::string_view kMergeFolderTitle = "The SD card to merge from (its cards are only read)";
inline constexpr std::string_view kNewCardCaption = "New Card";
inline constexpr std::string_view kMakeItAnyway = "\n\nMake the card all the same?";

}  // namespace ui
