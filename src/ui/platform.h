// Everything the dialog program's logic asks of the windowing system.
//
// The file commands and the main window's rules are written against this interface
// only; the Win32 shell (src/ui/win32/) and the Qt shell (src/ui/qt/) implement it, and
// the tests implement it with a recorder.
// Texts are UTF-8 in both directions; the implementation converts at its own edge.
// Message boxes, file dialogs and the pop-up menu are owned by the main window; the card
// window has an interface of its own (card_view.h).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "icon/picture.h"

class CSaveGame;

namespace ui {

enum class MessageIcon { kWarning, kInformation, kQuestion };

// Flags of the file dialogs; the platform maps each onto its own.
enum FileDialogFlag : unsigned {
  kDialogExplorer = 1u << 0,         // the ordinary explorer-style dialog
  kDialogFileMustExist = 1u << 1,    // only an existing file is accepted
  kDialogPathMustExist = 1u << 2,    // only a name in an existing folder is accepted
  kDialogOverwritePrompt = 1u << 3,  // choosing an existing file asks first
  kDialogMultiSelect = 1u << 4,      // several files may be chosen at once
};

struct FileFilter {
  std::string description;  // "Memory Linker (*.psu)"
  std::string pattern;      // "*.psu", several joined by ';'
};

struct FileDialogRequest {
  std::vector<FileFilter> filters;
  int selectedFilter = 0;        // 1-based index into filters; 0 preselects none
  std::string fileName;          // offered in the name field; may hold a folder
  std::string initialDirectory;
  std::string defaultExtension;  // without the dot, appended to a name typed without one
  unsigned flags = 0;            // FileDialogFlag bits
};

// The file the user chose.
struct ChosenFile {
  std::string path;
  std::size_t nameOffset = 0;       // where the name without its folder begins
  std::size_t extensionOffset = 0;  // just after the name's last dot; path.size() without one

  std::string_view Name() const { return std::string_view(path).substr(nameOffset); }
  std::string_view Extension() const { return std::string_view(path).substr(extensionOffset); }
};

// Splits a path the way the file dialogs report it: the name after the last '\' or '/',
// the extension after the name's last dot.
ChosenFile ChosenFileFromPath(std::string path);
// What a file dialog that returns every chosen path gives the logic: the first, or none
// when the user cancelled.
std::optional<ChosenFile> FirstChosenFile(std::vector<std::string> paths);

// What File > New Card asks: the size of the new card and whether its pages carry ECC.
struct NewCardChoice {
  unsigned megabytes = 8;
  bool ecc = true;
  // A PS1 card instead (megabytes and ecc are then not used): of the kind its file's
  // extension names, or a Vita PocketStation card.
  bool ps1 = false;
  bool pocketStation = false;
};

class CardView;

struct MenuItemState {
  int id;
  bool enabled;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Modal file dialogs; none when the user cancels.
  virtual std::optional<ChosenFile> OpenFileDialog(const FileDialogRequest& request) = 0;
  virtual std::optional<ChosenFile> SaveFileDialog(const FileDialogRequest& request) = 0;

  // A message box with an OK button.
  virtual void ShowMessage(const std::string& text, const std::string& caption,
                           MessageIcon icon) = 0;
  // A message box with Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption,
                        MessageIcon icon) = 0;

  // Controls of the main window, by resource id.
  virtual void SetControlText(int id, const std::string& text) = 0;
  virtual void EnableControl(int id, bool enabled) = 0;
  // Items of the main window's menu bar: enabled, or grayed and disabled.
  virtual void EnableMenuItem(int id, bool enabled) = 0;

  // The file list. Column 0 is the name, 1 the size, 2 the mode.
  virtual void ListInsertColumn(int column, const std::string& title, int width) = 0;
  virtual void ListDeleteAllRows() = 0;
  virtual int ListFullyVisibleRows() = 0;
  virtual void ListSetColumnWidth(int column, int width) = 0;
  virtual void ListInsertRow(int row, const std::string& firstColumn) = 0;
  virtual void ListSetCell(int row, int column, const std::string& text) = 0;
  // The first selected row, or -1.
  virtual int ListSelectedRow() = 0;

  // The "&Edit" menu as a pop-up at the cursor; items not named keep their resource state.
  // Its commands come back as ordinary menu commands.
  virtual void ShowEditMenu(std::span<const MenuItemState> items) = 0;

  // The Properties dialog for file row `index` of the save, or -1 for its folder; true
  // when the user confirmed it and the changes were applied to the save.
  virtual bool RunEntryProperties(CSaveGame& save, int index) = 0;
  virtual void RunAboutBox() = 0;
  // Ends the main window as its close box does.
  virtual void CloseMainWindow() = 0;

  // The main window's caption.
  virtual void SetWindowTitle(const std::string& text) = 0;
  // A folder chosen in the system's folder picker; none when the user cancels.
  virtual std::optional<std::string> ChooseFolder(const std::string& title) = 0;
  // The New Card dialog, offering `offered` among `sizes` (in MB); none when cancelled.
  virtual std::optional<NewCardChoice> AskNewCard(std::span<const unsigned> sizes,
                                                  const NewCardChoice& offered) = 0;
  // The card window's side of the platform; the window itself exists only while open.
  virtual CardView& Cards() = 0;
  // The picture beside the save's fields: a PS1 save's icon, nullptr for none. A platform
  // without such a control shows nothing.
  virtual void ShowSaveIcon(const icon::Picture* picture) { (void)picture; }
};

}  // namespace ui
