// The small dialogs of the card commands: the system's folder picker, Export (dialog 113)
// and New Card (dialog 114). Each runs modally, owned by the window given.
#pragma once

#include <windows.h>

#include <optional>
#include <span>
#include <string>

#include "ui/card_view.h"
#include "ui/platform.h"

namespace win32 {

// A folder, or none when cancelled.
std::optional<std::string> ChooseFolder(HWND owner, const std::string& title);

// The folder and target of an export, or none when cancelled.
std::optional<ui::ExportChoice> RunExportDialog(HWND owner, const ui::ExportRequest& request);

// The size (one of `sizes`, in MB) and layout of a new card, or none when cancelled.
std::optional<ui::NewCardChoice> RunNewCardDialog(HWND owner, std::span<const unsigned> sizes,
                                                  const ui::NewCardChoice& offered);

}  // namespace win32
