// The main window's rules: which command each control and menu item runs, what is
// enabled when, renaming and deleting in the file list, its right-click menu, and files
// dropped on the window. The Win32 shell turns its messages, and the Qt shell its signals
// and events, into these calls. It owns the card window, which opens from its File menu.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/card_window.h"
#include "ui/file_commands.h"
#include "ui/platform.h"

namespace ui {

// The name a dropped path gives its entry: the text after the last '\' or '/'.
std::string_view DroppedFileName(std::string_view path);

class MainWindow {
 public:
  explicit MainWindow(Platform& platform)
      : platform_(platform), commands_(platform), cards_(platform, commands_) {}

  // The start state and the list's columns.
  void OnInit();
  // A button click or menu choice; other notifications (code != 0) are ignored.
  void OnCommand(int id, int notifyCode);
  // The list reported a change of an item (selection among others).
  void OnListItemChanged();
  // The list reported a right click.
  void OnListRightClick();
  // The right button was released over the list, before the list itself sees it;
  // true when it was handled here and must not reach the list.
  bool OnListRightButtonUp();
  void OnListDoubleClick();
  void OnListDeleteKey();
  // A label edit in the list ended; no text when it was cancelled.
  void OnListLabelEditEnd(int row, const std::optional<std::string>& text);
  // Files dropped on the window or the list, in the order the platform gives them.
  void OnDropFiles(const std::vector<std::string>& paths);
  // A file named outside the window's dialogs (on the command line): a folder or a card
  // image opens in the card window, any other file as a save, as File > Open does.
  void OpenPath(const std::string& path);

  FileCommands& commands() { return commands_; }
  CardWindow& cards() { return cards_; }

 private:
  // Open: a card image goes to the card window, any other file opens as a save.
  void Open();
  void OpenChosen(const ChosenFile& chosen);
  // Save: a card save goes back into its card, any other save to a file.
  void Save();
  int SelectedFileRow();
  void DeleteSelectedFile();
  void FileProperties(bool fromMenu);
  void FolderProperties();
  void ShowEditMenu(bool fileItems);

  Platform& platform_;
  FileCommands commands_;
  CardWindow cards_;
};

}  // namespace ui
