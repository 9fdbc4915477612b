#include "ui/file_commands.h"

#include <array>
#include <memory>
#include <vector>

#include "formats/output_file.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "io/file.h"
#include "model/entry_data.h"
#include "model/icon_sys.h"
#include "resource.h"
#include "formats/messages.h"

namespace ui {

namespace {

using messages::kCannotReadFile;
using messages::kCannotWriteFile;
using messages::kFileExistsCaption;

constexpr std::array kFileItems = {IDM_DELETE_FILE, IDM_EXTRACT_FILE, IDM_PROPERTIES};

std::vector<FileFilter> ToFileFilters(const std::vector<DialogFilter>& filters) {
  std::vector<FileFilter> out;
  for (const DialogFilter& f : filters) out.push_back({f.description, f.pattern});
  return out;
}

FileDialogRequest OpenContainerRequest() {
  FileDialogRequest r;
  r.filters = ToFileFilters(OpenDialogFilters());
  r.selectedFilter = 1;
  r.initialDirectory = kInitialDirectory;
  r.flags = kDialogExplorer | kDialogFileMustExist | kDialogPathMustExist;
  return r;
}

FileDialogRequest AnyFileRequest(std::string offeredName, unsigned flags) {
  FileDialogRequest r;
  r.filters = {{"All files (*.*)", "*"}};
  r.selectedFilter = 0;
  r.fileName = std::move(offeredName);
  r.initialDirectory = kInitialDirectory;
  r.flags = flags;
  return r;
}

// The name Save offers: the source path without its extension's dot and what follows.
std::string OfferedSaveName(const CSaveGame& save) {
  if (save.kind == kKindGeneric) return std::string(kNewSaveName);
  const std::string& path = save.sourcePath;
  if (save.extensionOffset < 1 || static_cast<std::size_t>(save.extensionOffset) > path.size())
    return path;
  return path.substr(0, static_cast<std::size_t>(save.extensionOffset) - 1);
}

// True when an entry of the save reads its bytes from the PC file `target`.
bool ReadsPcFile(const CSaveGame& save, const std::string& target) {
  if (save.entries) {
    for (const SaveEntry& e : *save.entries)
      if (e.DiskPath() && io::SameFile(target, *e.DiskPath())) return true;
  }
  return false;
}

// True when writing `target` would overwrite a file the save still reads its bytes from.
bool IsDataSourceOf(const CSaveGame& save, const std::string& target) {
  if (!save.sourcePath.empty() && io::SameFile(target, save.sourcePath)) return true;
  return ReadsPcFile(save, target);
}

}  // namespace

FileCommands::~FileCommands() {
  // The question handler of a save refers to this object's platform.
  if (current_) current_->SetQuestionHandler(nullptr);
}

bool FileCommands::SaveLoaded() const { return LoadedSave() != nullptr; }

CSaveGame* FileCommands::LoadedSave() const {
  CSaveGame* current = current_.get();
  if (!current || current != loaded_ || !current->entries || current->entries->empty())
    return nullptr;
  return current;
}

void FileCommands::Message(std::string_view text) {
  platform_.ShowMessage(std::string(text), std::string(kErrorCaption), MessageIcon::kWarning);
}

void FileCommands::OpenCommand() {
  std::optional<ChosenFile> chosen = platform_.OpenFileDialog(OpenContainerRequest());
  if (!chosen) return;

  std::unique_ptr<CSaveGame> save = CreateForExtension(chosen->Extension());
  if (!save) {
    Message(kUnknownFileType);
    return;
  }
  // The X-Port and ARMAX loaders may ask whether to load a doubtful file anyway.
  save->SetQuestionHandler([this](const std::string& text, const std::string& caption) {
    return platform_.AskYesNo(text, caption, MessageIcon::kQuestion);
  });

  loaded_ = nullptr;
  current_.reset();
  current_ = std::move(save);
  CSaveGame& current = *current_;

  LoadResult result = current.Load(chosen->path);
  if (result == LoadResult::kOk && current.entries && !current.entries->empty()) {
    loaded_ = &current;
    current.extensionOffset = static_cast<int>(chosen->extensionOffset);
    platform_.EnableControl(IDC_SAVE, true);
    platform_.EnableControl(IDC_FOLDER_PROPERTIES, true);
    platform_.EnableMenuItem(IDM_SAVE_AS, true);
    for (int id : kFileItems) platform_.EnableMenuItem(id, false);
    RefreshTitle();
    ShowRootFields();
    RefreshFileList();
    return;
  }
  Message(messages::LoadFailureMessage(current, result == LoadResult::kOk ? LoadResult::kInvalid : result));
  ShowNoSave();
}

void FileCommands::CloseSave() {
  loaded_ = nullptr;
  current_.reset();
  ShowNoSave();
}

void FileCommands::ShowNoSave() {
  platform_.EnableControl(IDC_SAVE, false);
  platform_.EnableControl(IDC_FOLDER_PROPERTIES, false);
  platform_.EnableMenuItem(IDM_SAVE_AS, false);
  platform_.EnableMenuItem(IDM_EXTRACT_FILE, false);
  platform_.EnableMenuItem(IDM_DELETE_FILE, false);
  platform_.EnableMenuItem(IDM_PROPERTIES, false);
  platform_.SetControlText(IDC_FOLDER_NAME, "");
  platform_.SetControlText(IDC_TITLE, "");
  platform_.SetControlText(IDC_ROOT_MODE, "");
  platform_.ListDeleteAllRows();
}

void FileCommands::SaveCommand() {
  CSaveGame* current = LoadedSave();
  if (!current) return;

  FileDialogRequest request;
  request.filters = ToFileFilters(SaveDialogFilters());
  // Memory Linker is offered first.
  for (std::size_t i = 0; i < request.filters.size(); ++i)
    if (request.filters[i].pattern == "*.psu") request.selectedFilter = static_cast<int>(i) + 1;
  request.fileName = OfferedSaveName(*current);
  request.initialDirectory = kInitialDirectory;
  request.defaultExtension = "psu";
  request.flags = kDialogOverwritePrompt | kDialogPathMustExist;
  std::optional<ChosenFile> chosen = platform_.SaveFileDialog(request);
  if (!chosen) return;

  const FormatFamily* target = TargetFamilyForExtension(chosen->Extension());
  if (!target) {
    Message(kUnknownFileType);
    return;
  }

  // The writers read such a file whole before replacing it, but afterwards its entry would
  // read the new container instead. Only a save over its own container is read again.
  bool reloads = target->kind == current->kind && IsSameContainer(chosen->path, current->sourcePath);
  if (!reloads && ReadsPcFile(*current, chosen->path)) {
    Message(messages::SaveResultMessage(LoadResult::kOpenFailed));
    return;
  }

  SaveWrite outcome = WriteSaveAs(*current, *target, chosen->path);
  if (!Succeeded(outcome.written)) {
    Message(outcome.refusal.empty() ? std::string(messages::SaveResultMessage(outcome.written))
                                    : outcome.refusal);
    return;
  }
  // Written in place, but the new file does not load: the entries can't be trusted to
  // describe it, so the window lets the save go rather than show stale offsets.
  if (outcome.reloaded && *outcome.reloaded != LoadResult::kOk) {
    Message(outcome.refusal.empty() ? std::string(messages::LoadResultMessage(*outcome.reloaded))
                                    : outcome.refusal);
    CloseSave();
  }
}

void FileCommands::AddFileCommand() {
  std::optional<ChosenFile> chosen = platform_.OpenFileDialog(
      AnyFileRequest("", kDialogFileMustExist | kDialogPathMustExist));
  if (!chosen) return;
  if (AddPcFile(chosen->path, chosen->Name())) ShowNewSave();
  RefreshTitle();
  RefreshFileList();
}

bool FileCommands::AddPcFile(const std::string& path, std::string_view name) {
  if (CSaveGame* current = LoadedSave()) {
    for (int i = 0; i < current->FileCount(); ++i) {
      if (current->EntryAt(i)->Name() != name) continue;
      if (platform_.AskYesNo(messages::FileExistsQuestion(name), std::string(kFileExistsCaption),
                             MessageIcon::kInformation))
        current->ReplaceEntryFromDisk(path, i + 1);
      return false;
    }
    current->AddEntryFromDisk(path, name);
    return false;
  }

  auto created = std::make_unique<CGeneric>();
  // A file that vanished before it could be measured starts no save.
  if (!created->AddEntryFromDisk(path, name)) return false;
  current_ = std::move(created);
  loaded_ = current_.get();
  return true;
}

void FileCommands::ShowNewSave() {
  ShowRootFields();
  platform_.EnableControl(IDC_SAVE, true);
  platform_.EnableControl(IDC_FOLDER_PROPERTIES, true);
  platform_.EnableMenuItem(IDM_SAVE_AS, true);
  for (int id : kFileItems) platform_.EnableMenuItem(id, false);
}

void FileCommands::ShowRootFields() {
  const CSaveGame* current = LoadedSave();
  if (!current) return;
  const SaveEntry& root = *current->EntryAt(-1);
  platform_.SetControlText(IDC_FOLDER_NAME, std::string(root.Name()));
  platform_.SetControlText(IDC_ROOT_MODE, FormatMode(root.mode));
}

void FileCommands::ExtractFileCommand(int row) {
  const CSaveGame* current = LoadedSave();
  if (!current || row < 0 || row >= current->FileCount()) return;
  const SaveEntry& entry = *current->EntryAt(row);

  std::optional<ChosenFile> chosen = platform_.SaveFileDialog(AnyFileRequest(
      std::string(entry.Name()), kDialogOverwritePrompt | kDialogPathMustExist));
  if (!chosen) return;

  // The entry's bytes come first, whole, so that a short or missing source writes nothing.
  std::vector<std::uint8_t> bytes;
  DataResult read = ReadEntryData(entry, current->sourcePath, bytes);
  if (read != DataResult::kOk) {
    Message(kCannotReadFile);
    return;
  }
  // Writing over the container or a PC file the save reads from would destroy the save.
  if (IsDataSourceOf(*current, chosen->path)) {
    Message(kCannotWriteFile);
    return;
  }
  OutputFile out(chosen->path, false);
  out.Write(bytes);
  if (out.Commit() != LoadResult::kOk) Message(kCannotWriteFile);
}

void FileCommands::RefreshTitle() {
  const CSaveGame* current = LoadedSave();
  if (!current) return;
  std::array<char, kIconSysTitleField> raw{};
  std::array<char, kIconSysTitleField> ascii{};
  ReadIconSysTitle(*current, raw);
  TitleToAscii(raw, ascii);
  std::string text = FieldText(ascii).empty() ? std::string(kNoValidIconSys)
                                              : std::string(FieldText(ascii));
  platform_.SetControlText(IDC_TITLE, text);
}

void FileCommands::RefreshFileList() {
  const CSaveGame* current = LoadedSave();
  if (!current) return;
  platform_.ListDeleteAllRows();
  int files = current->FileCount();
  platform_.ListSetColumnWidth(0, platform_.ListFullyVisibleRows() < files
                                      ? kNameColumnWidthScrolled
                                      : kNameColumnWidth);
  for (int row = 0; row < files; ++row) {
    const SaveEntry& e = *current->EntryAt(row);
    platform_.ListInsertRow(row, std::string(e.Name()));
    platform_.ListSetCell(row, 1, FormatSize(e.size));
    platform_.ListSetCell(row, 2, FormatMode(e.mode));
  }
}

}  // namespace ui
