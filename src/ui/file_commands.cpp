#include "ui/file_commands.h"

#include <array>
#include <memory>
#include <system_error>
#include <vector>

#include "card/card_messages.h"
#include "card/identify.h"
#include "card/kinds.h"
#include "card/ps1/ps1_card_file.h"
#include "io/output_file.h"
#include "formats/ps1/ps1_save.h"
#include "formats/registry.h"
#include "formats/write_save.h"
#include "icon/ps1_icon.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"
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
  r.filters.push_back(CardImageFilter());
  r.filters.push_back(Ps1CardFilter());
  r.selectedFilter = 1;
  r.initialDirectory = kInitialDirectory;
  r.flags = kDialogExplorer | kDialogFileMustExist | kDialogPathMustExist;
  return r;
}

FileDialogRequest AnyFileRequest(std::string offeredName, unsigned flags) {
  FileDialogRequest r;
  r.filters = {{std::string(kAllFilesFilter), "*"}};
  r.selectedFilter = 0;
  r.fileName = std::move(offeredName);
  r.initialDirectory = kInitialDirectory;
  r.flags = flags;
  return r;
}

// The name Save offers: the source path without its extension's dot and what follows.
std::string OfferedSaveName(const CSaveGame& save) {
  if (save.kind == kKindGeneric) return std::string(kNewSaveName);
  // A card save's source is the card: its folder name is what it is known by.
  if (save.kind == kKindCard || save.kind == kKindPs1) return std::string(save.EntryAt(-1)->Name());
  const std::string& path = save.sourcePath;
  // A raw PS1 save's name is all of it: its card file name.
  const FormatFamily* family = FamilyOfKind(save.kind);
  if (family && family->Can(kNoExtension)) return path;
  if (save.extensionOffset < 1 || static_cast<std::size_t>(save.extensionOffset) > path.size())
    return path;
  return path.substr(0, static_cast<std::size_t>(save.extensionOffset) - 1);
}

// The labels of the save's fields, and its icon cleared, for a PS1 save or any other.
void ShowFieldLabels(Platform& platform, bool ps1) {
  platform.SetControlText(IDC_FOLDER_LABEL, std::string(ps1 ? kPs1FolderLabel : kFolderLabel));
  platform.SetControlText(IDC_TITLE_LABEL, std::string(ps1 ? kPs1TitleLabel : kTitleLabel));
  platform.SetControlText(IDC_ROOT_MODE_LABEL, ps1 ? std::string(kPs1InfoLabel) + ":" : std::string(kRootModeLabel));
  platform.ShowSaveIcon(nullptr);
}

// A PS1 save's region and blocks where a PS2 save's mode is shown, and its icon.
void ShowPs1Summary(Platform& platform, const CSaveGame& save) {
  const std::uint32_t blocks = save.EntryAt(0) ? save.EntryAt(0)->size / ps1::kBlockSize : 0;
  const ps1::Region region = ps1::RegionOf(ps1::NameOf(save));
  if (region != ps1::Region::kUnknown)
    platform.SetControlText(IDC_ROOT_MODE_LABEL,
                            std::string(kPs1InfoLabel) + ", " + std::string(ps1::RegionName(region)) + ":");
  platform.SetControlText(IDC_ROOT_MODE, std::to_string(blocks) + (blocks == 1 ? " block" : " blocks"));
  if (const std::optional<ps1::SaveHeader> header = ps1::HeaderOf(save)) {
    const icon::Picture picture = icon::Ps1Icon(*header, kSaveIconSize, false);
    platform.ShowSaveIcon(&picture);
  }
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

FileFilter CardImageFilter() {
  std::string pattern;
  for (const card::CardKind& k : card::CardKinds())
    for (const card::CardExtension& e : k.extensions)
      if (!k.ps1) pattern += (pattern.empty() ? "*." : ";*.") + std::string(e.extension);
  return {std::string(kCardImagesFilter) + " (" + pattern + ")", pattern};
}

FileFilter Ps1CardFilter() {
  std::string pattern;
  for (std::string_view e : card::Ps1CardExtensions()) pattern += (pattern.empty() ? "*." : ";*.") + std::string(e);
  return {std::string(kPs1CardsFilter) + " (" + pattern + ")", pattern};
}

bool IsReadableFile(const std::string& path) {
  if (!io::IsFile(path)) return false;
  return io::File::OpenRead(path).ok();
}

std::string CardName(std::string_view cardPath) {
  std::string_view name = io::FileNameOf(cardPath);
  // A folder card picked with a trailing separator has its name before it.
  if (name.empty() && !cardPath.empty()) name = io::FileNameOf(cardPath.substr(0, cardPath.size() - 1));
  return std::string(name);
}

std::string CardSaveCaption(std::string_view folder, std::string_view cardPath) {
  return std::string(folder) + " on " + CardName(cardPath) + " - " + std::string(kMainCaption);
}

FileCommands::~FileCommands() = default;

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
  if (std::optional<ChosenFile> chosen = ChooseContainer()) OpenFile(*chosen);
}

std::optional<ChosenFile> FileCommands::ChooseContainer() {
  return platform_.OpenFileDialog(OpenContainerRequest());
}

LoadResult LoadAsking(CSaveGame& save, const io::SourcePtr& source,
                      const std::function<bool(const std::string& text, const std::string& caption)>& ask) {
  const LoadResult result =
      source ? LoadWithAnswers(save, source, [&ask](const LoadQuestion& q) { return ask(q.text, q.caption); })
             : LoadResult::kOpenFailed;
  if (source) source->LetGoAfterEachRead();
  return result;
}

void FileCommands::OpenFile(const ChosenFile& chosen) {
  const card::Identified what = card::Identify(chosen.path);
  std::unique_ptr<CSaveGame> save = what.family ? what.family->create() : nullptr;
  if (!save) {
    Message(kUnknownFileType);
    return;
  }

  loaded_ = nullptr;
  current_.reset();
  current_ = std::move(save);
  CSaveGame& current = *current_;

  // The X-Port, ARMAX and PS3 loaders may ask whether to load a doubtful file anyway.
  LoadResult result = LoadAsking(current, what.source, [this](const std::string& text, const std::string& caption) {
    return platform_.AskYesNo(text, caption, MessageIcon::kQuestion);
  });
  if (result == LoadResult::kOk && current.entries && !current.entries->empty()) {
    loaded_ = &current;
    current.extensionOffset = static_cast<int>(chosen.extensionOffset);
    SetCardSource(std::nullopt);
    ShowLoaded();
    return;
  }
  Message(messages::LoadFailureMessage(current, result == LoadResult::kOk ? LoadResult::kInvalid : result));
  ShowNoSave();
}

bool FileCommands::ShowsPs1Save() const {
  const CSaveGame* current = LoadedSave();
  return current && ps1::IsPs1(*current);
}

bool FileCommands::RefusePs1Edit() {
  if (!ShowsPs1Save()) return false;
  Message(kPs1NoFiles);
  return true;
}

void FileCommands::ShowLoaded() {
  const bool ps1 = ShowsPs1Save();
  platform_.EnableControl(IDC_SAVE, true);
  platform_.EnableControl(IDC_FOLDER_PROPERTIES, !ps1);
  platform_.EnableMenuItem(IDM_SAVE_AS, true);
  platform_.EnableMenuItem(IDM_ADD_FILE, !ps1);
  for (int id : kFileItems) platform_.EnableMenuItem(id, false);
  RefreshTitle();
  ShowRootFields();
  RefreshFileList();
}

void FileCommands::CloseSave() {
  loaded_ = nullptr;
  current_.reset();
  ShowNoSave();
}

void FileCommands::SetCardSource(std::optional<CardSource> source) {
  // The caption of a card save is set with its folder name (ShowRootFields).
  if (!source && cardSource_) platform_.SetWindowTitle(std::string(kMainCaption));
  cardSource_ = std::move(source);
}

const CardSource* FileCommands::ShownCardSource() const {
  return cardSource_ && SaveLoaded() ? &*cardSource_ : nullptr;
}

void FileCommands::ShowCardSave(std::unique_ptr<CSaveGame> save, CardSource source) {
  current_ = std::move(save);
  loaded_ = current_.get();
  // A card save has at least its directory, so the window always counts it as shown.
  SetCardSource(std::move(source));
  ShowLoaded();
}

bool FileCommands::SaveToCardCommand() {
  CSaveGame* current = LoadedSave();
  if (!current || !cardSource_) return false;
  std::shared_ptr<card::Card> card = cardSource_->card;
  const std::string opened = cardSource_->folder;
  const std::string folder(current->EntryAt(-1)->Name());

  // Under its own name the save replaces its old copy in the same rewrite. Under a new
  // name it must not replace another save of that name; its old copy goes only once the
  // new one is on the card, so that a failure anywhere loses nothing.
  const bool renamed = folder != opened;
  card::ImportOptions options;
  options.replace = !renamed;
  card::ImportOutcome outcome = card->Import(*current, options);
  if (outcome.result != card::ImportResult::kImported &&
      outcome.result != card::ImportResult::kReplaced) {
    Message(card::messages::ImportMessage(outcome));
    return false;
  }
  if (renamed) {
    card::RemoveResult removed = card->Remove(opened);
    if (removed != card::RemoveResult::kRemoved) Message(card::messages::RemoveMessage(removed, opened, card->refusal()));
  }
  // The shown entries read pages of the card as it was: show the save as it is now.
  card::OpenedSave reopened = card->OpenSave(outcome.folder);
  if (!reopened.save) {
    Message(card::messages::OpenSaveMessage(reopened.result, outcome.folder));
    CloseSave();
    return true;
  }
  ShowCardSave(std::move(reopened.save), {card, outcome.folder});
  return true;
}

void FileCommands::ShowNoSave() {
  SetCardSource(std::nullopt);
  platform_.EnableControl(IDC_SAVE, false);
  platform_.EnableControl(IDC_FOLDER_PROPERTIES, false);
  platform_.EnableMenuItem(IDM_SAVE_AS, false);
  platform_.EnableMenuItem(IDM_EXTRACT_FILE, false);
  platform_.EnableMenuItem(IDM_DELETE_FILE, false);
  platform_.EnableMenuItem(IDM_PROPERTIES, false);
  platform_.EnableMenuItem(IDM_ADD_FILE, true);
  platform_.SetControlText(IDC_FOLDER_NAME, "");
  platform_.SetControlText(IDC_TITLE, "");
  platform_.SetControlText(IDC_ROOT_MODE, "");
  ShowFieldLabels(platform_, false);
  platform_.ListDeleteAllRows();
}

void FileCommands::SaveCommand() {
  CSaveGame* current = LoadedSave();
  if (!current) return;

  FileDialogRequest request;
  // Only the families that hold the save's console are offered; Memory Linker first for a
  // PS2 save, .mcs for a PS1 save.
  const PlayStation console = PlayStationOf(*current);
  const std::string offered = console == PlayStation::kPs1 ? "mcs" : "psu";
  request.filters = ToFileFilters(SaveDialogFilters(console));
  for (std::size_t i = 0; i < request.filters.size(); ++i)
    if (request.filters[i].pattern == "*." + offered) request.selectedFilter = static_cast<int>(i) + 1;
  request.fileName = OfferedSaveName(*current);
  request.initialDirectory = kInitialDirectory;
  request.defaultExtension = offered;
  request.flags = kDialogOverwritePrompt | kDialogPathMustExist;
  std::optional<ChosenFile> chosen = platform_.SaveFileDialog(request);
  if (!chosen) return;

  const FormatFamily* target = TargetFamilyFor(chosen->Extension(), *current);
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
  if (RefusePs1Edit()) return;
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
      if (current->EntryAt(i)->FullName() != name) continue;
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
  SetCardSource(std::nullopt);
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
  const bool ps1 = ps1::IsPs1(*current);
  ShowFieldLabels(platform_, ps1);
  if (ps1)
    ShowPs1Summary(platform_, *current);
  else
    platform_.SetControlText(IDC_ROOT_MODE, FormatMode(root.mode));
  // The caption follows a card save's folder name through Properties.
  if (cardSource_) platform_.SetWindowTitle(CardSaveCaption(root.Name(), cardSource_->card->path()));
}

void FileCommands::ExtractFileCommand(int row) {
  const CSaveGame* current = LoadedSave();
  if (!current || row < 0 || row >= current->FileCount()) return;
  const SaveEntry& entry = *current->EntryAt(row);

  std::optional<ChosenFile> chosen = platform_.SaveFileDialog(AnyFileRequest(
      std::string(entry.FullName()), kDialogOverwritePrompt | kDialogPathMustExist));
  if (!chosen) return;

  // The entry's bytes come first, whole, so that a short or missing source writes nothing.
  std::vector<std::uint8_t> bytes;
  DataResult read = ReadEntryData(entry, current->container.get(), bytes);
  if (read != DataResult::kOk) {
    Message(kCannotReadFile);
    return;
  }
  // Writing over the container or a PC file the save reads from would destroy the save.
  if (IsDataSourceOf(*current, chosen->path)) {
    Message(kCannotWriteFile);
    return;
  }
  io::OutputFile out(chosen->path, false);
  out.Write(bytes);
  if (out.Commit() != io::Committed::kWritten) Message(kCannotWriteFile);
}

void FileCommands::RefreshTitle() {
  const CSaveGame* current = LoadedSave();
  if (!current) return;
  if (ps1::IsPs1(*current)) {
    const std::optional<ps1::SaveHeader> header = ps1::HeaderOf(*current);
    platform_.SetControlText(IDC_TITLE, header ? header->title : std::string());
    return;
  }
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
    platform_.ListInsertRow(row, std::string(e.FullName()));
    platform_.ListSetCell(row, 1, FormatSize(e.size));
    platform_.ListSetCell(row, 2, FormatMode(e.mode));
  }
}

}  // namespace ui
