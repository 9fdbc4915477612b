// The dialogs both Qt windows open: Qt's file dialogs (the desktop's own where the platform
// has them), message boxes and questions, the folder picker, and the small dialogs of the
// card commands (Export, New Card) and the About box. Each runs modally over `owner`.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ui/card_view.h"
#include "ui/platform.h"

class QWidget;

namespace qtui {

// The chosen paths (several only with kDialogMultiSelect); none when cancelled.
std::vector<std::string> RunFileDialog(QWidget* owner, bool save, const ui::FileDialogRequest& request);
std::optional<std::string> ChooseFolder(QWidget* owner, const std::string& title);

void ShowMessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                    ui::MessageIcon icon);
// True for Yes.
bool AskYesNoBox(QWidget* owner, const std::string& text, const std::string& caption,
                 ui::MessageIcon icon);

std::optional<ui::ExportChoice> RunExportDialog(QWidget* owner, const ui::ExportRequest& request);
std::optional<ui::NewCardChoice> RunNewCardDialog(QWidget* owner, std::span<const unsigned> sizes,
                                                  const ui::NewCardChoice& offered);
void RunAboutBox(QWidget* owner);

}  // namespace qtui
