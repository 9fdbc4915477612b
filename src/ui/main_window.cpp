#include "ui/main_window.h"

#include <array>
#include <system_error>

#include "formats/ps1/ps1_save.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"
#include "resource.h"
#include "ui/texts.h"

namespace ui {

std::string_view DroppedFileName(std::string_view path) { return io::FileNameOf(path); }

void MainWindow::OnInit() {
  platform_.EnableControl(IDC_SAVE, false);
  platform_.EnableControl(IDC_FOLDER_PROPERTIES, false);
  for (int id : {IDM_SAVE_AS, IDM_EXTRACT_FILE, IDM_DELETE_FILE, IDM_PROPERTIES})
    platform_.EnableMenuItem(id, false);
  platform_.ListInsertColumn(0, std::string(kFileNameColumn), kNameColumnWidth);
  platform_.ListInsertColumn(1, std::string(kSizeColumn), 80);
  platform_.ListInsertColumn(2, std::string(kAttribColumn), 80);
}

void MainWindow::OnCommand(int id, int notifyCode) {
  if (notifyCode != 0) return;
  switch (id) {
    case IDC_OPEN:
    case IDM_OPEN:
      Open();
      break;
    case IDC_SAVE:
      Save();
      break;
    case IDM_SAVE_AS:
      commands_.SaveCommand();
      break;
    case IDM_OPEN_CARD_FOLDER:
      cards_.OpenFolderCommand();
      break;
    case IDM_NEW_CARD:
      cards_.NewCardCommand();
      break;
    case IDC_FOLDER_PROPERTIES:
      FolderProperties();
      break;
    case IDM_EXIT:
      platform_.CloseMainWindow();
      break;
    case IDM_ABOUT:
      platform_.RunAboutBox();
      break;
    case IDM_ADD_FILE:
      commands_.AddFileCommand();
      break;
    case IDM_EXTRACT_FILE:
      if (int row = SelectedFileRow(); row >= 0) commands_.ExtractFileCommand(row);
      break;
    case IDM_PROPERTIES:
      FileProperties(true);
      break;
    case IDM_DELETE_FILE:
      DeleteSelectedFile();
      break;
    default:
      break;
  }
}

void MainWindow::Open() {
  if (std::optional<ChosenFile> chosen = commands_.ChooseContainer()) OpenChosen(*chosen);
}

void MainWindow::OpenChosen(const ChosenFile& chosen) {
  if (OpensAsCard(chosen))
    cards_.OpenCard(chosen.path);
  else
    commands_.OpenFile(chosen);
}

void MainWindow::OpenPath(const std::string& path) {
  // A PCSX2 folder card is a folder; the dialogs never hand one to Open.
  if (io::IsFolder(path))
    cards_.OpenCard(path);
  else
    OpenChosen(ChosenFileFromPath(path));
}

void MainWindow::Save() {
  if (!commands_.ShownCardSource()) {
    commands_.SaveCommand();
    return;
  }
  if (commands_.SaveToCardCommand()) cards_.Refresh();
}

int MainWindow::SelectedFileRow() {
  int row = platform_.ListSelectedRow();
  CSaveGame* save = commands_.LoadedSave();
  if (!save || row < 0 || row >= save->FileCount()) return -1;
  return row;
}

void MainWindow::OnListItemChanged() {
  bool selected = platform_.ListSelectedRow() >= 0;
  // A PS1 save's one file can be extracted (its blocks), not deleted or changed.
  const bool edits = !commands_.ShowsPs1Save();
  platform_.EnableMenuItem(IDM_EXTRACT_FILE, selected);
  for (int id : {IDM_DELETE_FILE, IDM_PROPERTIES}) platform_.EnableMenuItem(id, selected && edits);
}

void MainWindow::ShowEditMenu(bool fileItems) {
  const bool edits = !commands_.ShowsPs1Save();
  const std::array<MenuItemState, 4> items = {{{IDM_ADD_FILE, edits},
                                               {IDM_DELETE_FILE, fileItems && edits},
                                               {IDM_EXTRACT_FILE, fileItems},
                                               {IDM_PROPERTIES, fileItems && edits}}};
  platform_.ShowEditMenu(items);
}

void MainWindow::OnListRightClick() {
  // The list keeps the button release to itself on most systems, so this is where a
  // right click normally arrives, with or without a selected row.
  ShowEditMenu(platform_.ListSelectedRow() >= 0);
}

bool MainWindow::OnListRightButtonUp() {
  if (platform_.ListSelectedRow() >= 0) return false;
  ShowEditMenu(false);
  return true;
}

void MainWindow::OnListDoubleClick() { FileProperties(false); }

void MainWindow::OnListDeleteKey() { DeleteSelectedFile(); }

void MainWindow::DeleteSelectedFile() {
  int row = SelectedFileRow();
  if (row < 0 || commands_.RefusePs1Edit()) return;
  commands_.LoadedSave()->RemoveEntry(row);
  commands_.RefreshTitle();
  commands_.RefreshFileList();
}

void MainWindow::FileProperties(bool fromMenu) {
  int row = SelectedFileRow();
  if (row < 0 || commands_.RefusePs1Edit()) return;
  if (!platform_.RunEntryProperties(*commands_.LoadedSave(), row)) return;
  // A double click refreshes only the list; the menu item also the title, which the
  // change may have touched (an icon.sys renamed).
  if (fromMenu) commands_.RefreshTitle();
  commands_.RefreshFileList();
}

void MainWindow::FolderProperties() {
  if (!commands_.SaveLoaded() || commands_.RefusePs1Edit()) return;
  if (platform_.RunEntryProperties(*commands_.LoadedSave(), -1)) commands_.ShowRootFields();
}

void MainWindow::OnListLabelEditEnd(int row, const std::optional<std::string>& text) {
  if (!text || text->empty()) return;
  CSaveGame* save = commands_.LoadedSave();
  if (!save || row < 0 || row >= save->FileCount()) return;
  // A PS1 save's one row is the save: its new name is the save's, a card file name.
  if (commands_.ShowsPs1Save()) {
    if (!ps1::IsCardFileName(*text)) {
      platform_.ShowMessage(std::string(kPs1NameInvalid), std::string(kErrorCaption), MessageIcon::kWarning);
      return;
    }
    save->SetName(row, *text);
    platform_.ListSetCell(row, 0, *text);
    commands_.ShowRootFields();
    return;
  }
  if (text->size() > kNameChars) {
    platform_.ShowMessage(std::string(kNameTooLong), std::string(kErrorCaption),
                          MessageIcon::kWarning);
    return;
  }
  platform_.ListSetCell(row, 0, *text);
  save->SetName(row, *text);
  commands_.RefreshTitle();
}

void MainWindow::OnDropFiles(const std::vector<std::string>& paths) {
  if (commands_.RefusePs1Edit()) return;
  bool created = false;
  for (const std::string& path : paths) {
    if (!IsReadableFile(path)) continue;
    if (commands_.AddPcFile(path, DroppedFileName(path))) created = true;
  }
  if (created) commands_.ShowNewSave();
  commands_.RefreshTitle();
  commands_.RefreshFileList();
}

}  // namespace ui
