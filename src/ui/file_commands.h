// The file commands of the dialog program: open, save (and convert), add a PC file,
// extract a file, and the two refreshes that show the current save.
//
// They own the current save (the one container object the window shows) and reach the
// window only through Platform. An open that fails leaves its object as the current one,
// but the window then counts as holding no save: nothing reads that object's entries
// again, and adding a file starts a new save in its place.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "formats/messages.h"
#include "model/save_game.h"
#include "ui/platform.h"

namespace ui {

inline constexpr std::string_view kErrorCaption = "Error";
inline constexpr std::string_view kUnknownFileType = "Unknown file type";
using messages::kNoValidIconSys;
inline constexpr std::string_view kNewSaveName = "NewSave";
inline constexpr std::string_view kInitialDirectory = ".\\";

// Width of the name column when every file fits in the list, and when a vertical scroll
// bar takes its share.
inline constexpr int kNameColumnWidth = 214;
inline constexpr int kNameColumnWidthScrolled = 194;

class FileCommands {
 public:
  explicit FileCommands(Platform& platform) : platform_(platform) {}
  ~FileCommands();
  FileCommands(const FileCommands&) = delete;
  FileCommands& operator=(const FileCommands&) = delete;

  void OpenCommand();
  void SaveCommand();
  void AddFileCommand();
  // The file at table position row + 1.
  void ExtractFileCommand(int row);
  // The icon.sys title into field 1007.
  void RefreshTitle();
  // The list's rows rebuilt from the entry table.
  void RefreshFileList();

  // True when the current save is one the window shows: opened, or built from PC files.
  bool SaveLoaded() const;
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
  void ShowNoSave();
  void Message(std::string_view text);

  Platform& platform_;
  std::unique_ptr<CSaveGame> current_;
  // The current object when it holds a shown save; anything else there is a leftover of
  // a failed open.
  const CSaveGame* loaded_ = nullptr;
};

}  // namespace ui
