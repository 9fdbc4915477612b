// The file commands of the dialog program: open, save (and convert), add a PC file,
// extract a file, and the two refreshes that show the current save.
//
// They own the current save (the one container object the window shows) and reach the
// window only through Platform. An open that fails leaves its object as the current one,
// but the window then counts as holding no save: nothing reads that object's entries
// again, and adding a file starts a new save in its place.
//
// The current save may come from a memory card (the card window's Open): the window's
// caption then names the card and the save, and Save writes it back into that card.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "card/card.h"
#include "formats/messages.h"
#include "model/save_game.h"
#include "ui/platform.h"
#include "ui/texts.h"

namespace ui {


// Width of the name column when every file fits in the list, and when a vertical scroll
// bar takes its share.
inline constexpr int kNameColumnWidth = 214;
inline constexpr int kNameColumnWidthScrolled = 194;

// "Memory card images (*.ps2;*.vm2;...)", from the table of card kinds.
FileFilter CardImageFilter();
// "PS1 memory cards (*.mcd;*.mcr;...)".
FileFilter Ps1CardFilter();

// True when a path names a file that can be read: not a folder, not locked or gone.
bool IsReadableFile(const std::string& path);

// Loads `save` from `source`, each question it stops at put to the user through `ask` (a
// Yes/No message box with that text and caption) and the load made again with the
// answer; the file is then opened only while it is read, since a window keeps none open.
// kOpenFailed without a source.
LoadResult LoadAsking(CSaveGame& save, const io::SourcePtr& source,
                      const std::function<bool(const std::string& text, const std::string& caption)>& ask);

// Where a save shown in the main window came from, when it came from a card.
struct CardSource {
  std::shared_ptr<card::Card> card;
  std::string folder;  // its folder on the card when it was opened
};

// The name of a card's image file or folder.
std::string CardName(std::string_view cardPath);
// The main window's caption while a card save is shown: "FOLDER on CARD - Converter".
std::string CardSaveCaption(std::string_view folder, std::string_view cardPath);

class FileCommands {
 public:
  explicit FileCommands(Platform& platform) : platform_(platform) {}
  ~FileCommands();
  FileCommands(const FileCommands&) = delete;
  FileCommands& operator=(const FileCommands&) = delete;

  // The open dialog, then OpenFile.
  void OpenCommand();
  // The open dialog: the save families' filters, then memory card images.
  std::optional<ChosenFile> ChooseContainer();
  // Opens a chosen save file and shows it.
  void OpenFile(const ChosenFile& chosen);
  void SaveCommand();
  // Save for a card save: writes it back into its card in one rewrite of the card,
  // replacing the copy it was opened from, and shows it again as the card now holds it.
  // A save whose folder was renamed goes on the card under its new name, after which the
  // old copy is removed. True when the card changed.
  bool SaveToCardCommand();
  // Shows a save opened from a card.
  void ShowCardSave(std::unique_ptr<CSaveGame> save, CardSource source);
  // Where the shown save came from when it came from a card; nullptr otherwise.
  const CardSource* ShownCardSource() const;
  void AddFileCommand();
  // The file at table position row + 1.
  void ExtractFileCommand(int row);
  // The icon.sys title into field 1007.
  void RefreshTitle();
  // The list's rows rebuilt from the entry table.
  void RefreshFileList();

  // True when the current save is one the window shows: opened, or built from PC files.
  bool SaveLoaded() const;
  // True when the shown save is a PS1 save: a name and its blocks, with nothing else to edit.
  bool ShowsPs1Save() const;
  // For a command that edits the files of a save: true, after saying why, when the shown
  // save is a PS1 save.
  bool RefusePs1Edit();
  // The current save when SaveLoaded(), else nullptr.
  CSaveGame* LoadedSave() const;
  // The current container object, shown or the leftover of a failed open; nullptr when
  // there has been none.
  CSaveGame* Current() const { return current_.get(); }
  // Lets go of the current save and shows the window without one.
  void CloseSave();

  // Adds a PC file to the save under `name`: starts a new save from PC files when none
  // is loaded; asks before replacing a file of the same name. True when it started a
  // new save (the caller then shows it with ShowNewSave).
  bool AddPcFile(const std::string& path, std::string_view name);
  // Folder name and mode of a new save, and the enabling of a save with no row selected.
  void ShowNewSave();
  // The root's name into field 1003 and its mode into label 1015.
  void ShowRootFields();

 private:
  void ShowLoaded();
  void ShowNoSave();
  void Message(std::string_view text);
  void SetCardSource(std::optional<CardSource> source);

  Platform& platform_;
  std::unique_ptr<CSaveGame> current_;
  // The current object when it holds a shown save; anything else there is a leftover of
  // a failed open.
  const CSaveGame* loaded_ = nullptr;
  // Set while the shown save is one from a card.
  std::optional<CardSource> cardSource_;
};

}  // namespace ui
