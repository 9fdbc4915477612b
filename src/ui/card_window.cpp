#include "ui/card_window.h"

#include <algorithm>
#include <array>
#include <optional>
#include <system_error>

#include "card/card_messages.h"
#include "card/card_size.h"
#include "card/identify.h"
#include "card/kinds.h"
#include "card/folder_card.h"
#include "card/image_card.h"
#include "card/layout.h"
#include "card/ps1/ps1_card.h"
#include "card_ids.h"
#include "formats/messages.h"
#include "formats/registry.h"
#include "formats/write_folder.h"
#include "formats/write_save.h"
#include "icon/draw_icons.h"
#include "icon/render.h"
#include "icon/save_icon.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"
#include "io/safe_name.h"
#include "io/text.h"
#include "model/entry_time_text.h"
#include "model/icon_sys.h"
#include "ui/texts.h"

namespace ui {

namespace {

constexpr int kEscapeCommand = 2;  // what Escape sends a dialog
// Damage is listed when a card opens, up to this many lines.
constexpr std::size_t kIssueLines = 12;
constexpr std::uint8_t kPlaceholderFill = 0xC8;
constexpr std::uint8_t kPlaceholderFrame = 0x80;


// The card's size as the console counts it: what saves may use on the empty card (the
// clusters below the console's limit less the root directory's first: 8,000 KB on an
// 8 MiB card). Never less than `inUse`, the saves and the free space of a card whose
// superblock says otherwise.
std::uint32_t CapacityKB(const card::Card& c, std::uint32_t inUse) {
  std::uint32_t capacity = 0;
  if (c.type() == card::CardType::kFolder) {
    capacity = card::kFolderCardClusters;
  } else if (const auto* image = dynamic_cast<const card::ImageCard*>(&c)) {
    // The superblock as the card was read, without opening the file again.
    const std::uint32_t limit = image->state().superblock.ConsoleLimit();
    capacity = limit > 0 ? limit - 1 : 0;
  } else {
    io::File file = io::File::OpenRead(c.path());
    std::array<std::uint8_t, card::kPageData> page{};
    if (file && file.ReadExact(page.data(), page.size())) {
      const std::uint32_t limit = card::Superblock::Read(page).ConsoleLimit();
      capacity = limit > 0 ? limit - 1 : 0;
    }
  }
  return std::max(capacity, inUse);
}

bool SameCard(const card::Card& a, const card::Card& b) {
  return &a == &b || io::SameFile(a.path(), b.path());
}

}  // namespace

bool OpensAsCard(const ChosenFile& chosen) {
  // A name without an extension may be a folder card as well as a raw PS1 save.
  const FormatFamily* family = FamilyForExtension(chosen.Extension());
  if (family && !family->Can(kNoExtension)) return false;
  for (const card::CardKind& k : card::CardKinds())
    if (k.Has(chosen.Extension())) return true;
  return card::Identify(chosen.path).card != nullptr;
}

icon::Picture PlaceholderPicture(int size) {
  icon::Picture picture;
  picture.width = picture.height = std::max(size, 1);
  picture.rgba.resize(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 4);
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      bool frame = x == 0 || y == 0 || x == picture.width - 1 || y == picture.height - 1;
      std::uint8_t* p = picture.rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width) + static_cast<std::size_t>(x)) * 4;
      p[0] = p[1] = p[2] = frame ? kPlaceholderFrame : kPlaceholderFill;
      p[3] = 0xFF;
    }
  }
  return picture;
}

icon::Picture SavePicture(const CSaveGame& save, int size) {
  return IconPicture(icon::LoadSaveIcon(save, icon::IconSlot::kNormal), size);
}

icon::Picture IconPicture(const icon::Result<icon::SaveIcon>& loaded, int size) {
  if (loaded) {
    icon::Result<icon::Picture> drawn = icon::RenderIcon(loaded.value().icon, loaded.value().iconSys, size);
    if (drawn) return std::move(drawn.value());
  }
  return PlaceholderPicture(size);
}

std::vector<ExportTarget> ExportTargets(PlayStation console) {
  std::vector<ExportTarget> targets;
  for (const FormatFamily& f : Families()) {
    if (!f.Can(kWritesConversions) || !Holds(f, console)) continue;
    const FamilyExtension& own = f.extensions.front();
    // A raw PS1 save has no extension: its file is the save's card file name.
    const std::string pattern = f.Can(kNoExtension) ? std::string("*") : "*." + std::string(own.extension);
    targets.push_back({std::string(own.filterName) + " (" + pattern + ")", &f});
  }
  if (console != PlayStation::kPs1) targets.push_back({std::string(kPlainFolder), nullptr});
  return targets;
}

// ---- opening and showing ------------------------------------------------------------------

void CardWindow::OpenCard(const std::string& path) {
  card::OpenedCard opened = card::OpenCard(path, card::CardReading::kHeld);
  if (!opened.card) {
    platform_.ShowMessage(card::messages::OpenFailure(opened), std::string(kErrorCaption),
                          MessageIcon::kWarning);
    return;
  }
  card_ = std::move(opened.card);
  shown_ = NextShownCard();
  view_.Open();
  view_.SetColumns(Ps1() ? std::span<const CardColumn>(kPs1CardColumns) : std::span<const CardColumn>(kCardColumns));
  view_.SetCaption(std::string(kCardCaption) + CardName(card_->path()));
  view_.SetControlText(IDC_CARD_NOTE, std::string(card::messages::kCloseInEmulator));
  ShowCard();
  if (!card_->Damaged()) return;
  card::ImportOutcome refused;
  refused.result = card::ImportResult::kCardDamaged;
  std::vector<std::string> lines = {card::messages::ImportMessage(refused)};
  for (const card::Issue& issue : card_->issues()) {
    if (issue.severity() == card::Severity::kNotice) continue;
    if (lines.size() > kIssueLines) {
      lines.push_back("...");
      break;
    }
    lines.push_back(card::messages::IssueLine(issue));
  }
  Report(lines);
}

void CardWindow::OpenFolderCommand() {
  if (std::optional<std::string> folder = platform_.ChooseFolder(std::string(kFolderPickerTitle)))
    OpenCard(*folder);
}

void CardWindow::NewCardCommand() {
  std::optional<NewCardChoice> choice = platform_.AskNewCard(card::kFormatSizes, NewCardChoice{});
  if (!choice) return;
  if (choice->ps1) return NewPs1Card(*choice);
  const std::string warning = card::messages::SizeWarning(choice->megabytes);
  if (!warning.empty() && !platform_.AskYesNo(warning + std::string(kMakeItAnyway), std::string(kNewCardCaption),
                                              MessageIcon::kWarning))
    return;
  FileDialogRequest request;
  request.filters = {CardImageFilter()};
  request.selectedFilter = 1;
  request.initialDirectory = kInitialDirectory;
  request.defaultExtension = choice->ecc ? "ps2" : "bin";
  // No overwrite prompt: a new card never replaces a file, and the card layer says so.
  request.flags = kDialogPathMustExist;
  std::optional<ChosenFile> chosen = platform_.SaveFileDialog(request);
  if (!chosen) return;
  card::FormatOptions options;
  options.megabytes = choice->megabytes;
  options.ecc = choice->ecc;
  card::FormatResult formatted = card::FormatImage(chosen->path, options);
  if (formatted != card::FormatResult::kFormatted) {
    platform_.ShowMessage(std::string(card::messages::FormatMessage(formatted)),
                          std::string(kErrorCaption), MessageIcon::kWarning);
    return;
  }
  OpenCard(chosen->path);
}

void CardWindow::Refresh() {
  if (card_) ShowCard();
}

std::unique_ptr<CSaveGame> CardWindow::ReadableSave(const card::SaveInfo& s) const {
  if (s.readable) return card_->OpenSave(s.folder).save;
  return card_->ReadableParts(s.folder);
}

void CardWindow::ShowCard() {
  // The titles, then the icons the list asks for as it takes its rows, with the file
  // opened once.
  const std::shared_ptr<const void> open = card_->KeepFileOpen();
  card::Listing listing = card_->List();
  if (listing.ps1) return ShowPs1Card(listing);
  saves_ = std::move(listing.saves);
  std::vector<CardRow> rows;
  std::uint64_t used = 0;
  for (const card::SaveInfo& s : saves_) {
    CardRow row;
    row.folder = s.folder;
    row.size = card::messages::KilobytesText(s.sizeKB);
    row.modified = ListingForm(s.modified, /*seconds=*/false);  // short enough for its column
    // A damaged save shows what of it can be read: its title, and later its icon.
    const FullTitle& title = s.fullTitle;
    row.title = !title.found        ? io::ShiftJisToUtf8(s.rawTitle)
                : title.line2.empty() ? title.line1
                                      : title.line1 + " " + title.line2;
    used += s.sizeKB;
    rows.push_back(std::move(row));
  }
  SetRows(rows);
  const auto inUse = static_cast<std::uint32_t>(std::min<std::uint64_t>(used + listing.freeKB, 0xFFFFFFFFu));
  view_.SetControlText(IDC_CARD_FREE, card::messages::FreeText(listing) + " of " +
                                          card::messages::KilobytesText(CapacityKB(*card_, inUse)) + " (" +
                                          card::SizeText(card::SizeOf(*card_)) + ")");
  previewFolder_.clear();
  OnSelectionChanged();
}

void CardWindow::SetRows(const std::vector<CardRow>& rows) {
  // Sized before the list gets its rows: a list may ask for icons as it takes them.
  icons_.assign(saves_.size(), icon::Picture{});
  view_.SetRows(rows);
}

const icon::Picture* CardWindow::RowIcon(int row) {
  if (!card_ || row < 0 || static_cast<std::size_t>(row) >= icons_.size()) return nullptr;
  icon::Picture& kept = icons_[static_cast<std::size_t>(row)];
  if (kept.width == 0) kept = DrawRowIcon(static_cast<std::size_t>(row));
  return &kept;
}

icon::Picture CardWindow::DrawRowIcon(std::size_t row) const {
  if (Ps1()) return Ps1Picture(saves_[row], kListIconSize);
  return IconPicture(LoadRowIcon(row), kListIconSize);
}

icon::Result<icon::SaveIcon> CardWindow::LoadRowIcon(std::size_t row) const {
  // A damaged save shows its icon if that file is whole.
  std::unique_ptr<CSaveGame> save = ReadableSave(saves_[row]);
  if (!save) return icon::Error{icon::Fault::kReadFailed, "the save can't be read"};
  return icon::LoadSaveIcon(*save, icon::IconSlot::kNormal);
}

void CardWindow::IconsWanted(int first, int last) {
  if (!card_) return;
  std::vector<std::size_t> rows;
  for (std::size_t r = static_cast<std::size_t>(std::max(first, 0));
       static_cast<std::ptrdiff_t>(r) <= last && r < icons_.size(); ++r)
    if (icons_[r].width == 0) rows.push_back(r);
  if (rows.empty()) return;
  // A PS1 save's icon is a frame the listing holds already, only scaled.
  if (Ps1()) {
    for (std::size_t r : rows) icons_[r] = DrawRowIcon(r);
    return;
  }
  const std::shared_ptr<const void> open = card_->KeepFileOpen();  // for all the icons, once
  // The card reads on two threads at once.
  std::vector<icon::IconLoader> loaders;
  for (std::size_t r : rows) loaders.push_back([this, r] { return LoadRowIcon(r); });
  std::vector<icon::Result<icon::Picture>> drawn = icon::DrawIcons(loaders, kListIconSize);
  for (std::size_t i = 0; i < rows.size(); ++i)
    icons_[rows[i]] = drawn[i] ? std::move(drawn[i].value()) : PlaceholderPicture(kListIconSize);
}

std::size_t CardWindow::DrawnIcons() const {
  return static_cast<std::size_t>(
      std::count_if(icons_.begin(), icons_.end(), [](const icon::Picture& p) { return p.width > 0; }));
}

void CardWindow::OnSelectionChanged() {
  if (!card_) return;
  const std::vector<const card::SaveInfo*> selected = SelectedSaves();
  const std::vector<const card::SaveInfo*> deleted = SelectedSaves(/*deleted=*/true);
  view_.EnableControl(IDC_CARD_OPEN, selected.size() == 1 && deleted.empty());
  view_.EnableControl(IDC_CARD_EXPORT, !selected.empty());
  view_.EnableControl(IDC_CARD_DELETE, !selected.empty());
  view_.EnableControl(IDC_CARD_RESTORE, !deleted.empty());
  if (selected.empty() && deleted.empty()) {
    previewFolder_.clear();
    view_.SetPreview(nullptr);
    return;
  }
  // The list reports each row that changes; the picture is drawn once per save.
  const card::SaveInfo& first = selected.empty() ? *deleted.front() : *selected.front();
  const std::string key = (first.deleted ? "\x7F" : "") + first.folder;
  if (key == previewFolder_) return;
  previewFolder_ = key;
  icon::Picture picture;
  if (Ps1()) {
    picture = Ps1Picture(first, kPreviewSize);
  } else {
    std::unique_ptr<CSaveGame> save = ReadableSave(first);
    picture = save ? SavePicture(*save, kPreviewSize) : PlaceholderPicture(kPreviewSize);
  }
  view_.SetPreview(&picture);
}

std::vector<const card::SaveInfo*> CardWindow::SelectedSaves(bool deleted) {
  std::vector<const card::SaveInfo*> selected;
  for (int row : view_.SelectedRows())
    if (row >= 0 && static_cast<std::size_t>(row) < saves_.size() && saves_[static_cast<std::size_t>(row)].deleted == deleted)
      selected.push_back(&saves_[static_cast<std::size_t>(row)]);
  return selected;
}

void CardWindow::Report(const std::vector<std::string>& problems) {
  if (problems.empty()) return;
  std::string text;
  for (const std::string& line : problems) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  view_.ShowMessage(text, std::string(kErrorCaption), MessageIcon::kWarning);
}

// ---- the window's commands ----------------------------------------------------------------

void CardWindow::OnCommand(int id, int notifyCode) {
  if (notifyCode != 0 || !card_) return;
  switch (id) {
    case IDC_CARD_OPEN:
      OpenSelected();
      break;
    case IDC_CARD_IMPORT:
      ImportCommand();
      break;
    case IDC_CARD_EXPORT:
      ExportCommand();
      break;
    case IDC_CARD_DELETE:
      DeleteCommand();
      break;
    case IDC_CARD_RESTORE:
      RestoreCommand();
      break;
    case IDC_CARD_SPLIT:
      SplitCommand();
      break;
    case IDC_CARD_MERGE:
      MergeCommand();
      break;
    case IDC_CARD_CLOSE:
    case kEscapeCommand:
      OnClose();
      break;
    default:
      break;
  }
}

void CardWindow::OnDoubleClick() {
  if (card_) OpenSelected();
}

void CardWindow::OnDeleteKey() {
  if (card_) DeleteCommand();
}

void CardWindow::OnClose() {
  if (!card_) return;
  // Released first, so that what the closing list still reports finds no card.
  card_.reset();
  shown_ = 0;
  saves_.clear();
  icons_.clear();
  previewFolder_.clear();
  view_.Close();
}

void CardWindow::OpenSelected() {
  std::vector<const card::SaveInfo*> selected = SelectedSaves();
  if (selected.size() != 1) return;
  const std::string folder = selected.front()->folder;
  card::OpenedSave opened = card_->OpenSave(folder);
  if (!opened.save) {
    Report({card::messages::OpenSaveMessage(opened.result, folder)});
    return;
  }
  commands_.ShowCardSave(std::move(opened.save), {card_, folder});
}

void CardWindow::ImportCommand() {
  FileDialogRequest request;
  for (const DialogFilter& f : OpenDialogFilters()) request.filters.push_back({f.description, f.pattern});
  request.selectedFilter = 1;
  request.initialDirectory = kInitialDirectory;
  request.flags = kDialogExplorer | kDialogFileMustExist | kDialogPathMustExist | kDialogMultiSelect;
  std::vector<std::string> paths = view_.OpenFilesDialog(request);
  if (!paths.empty()) ImportFiles(paths);
}

void CardWindow::OnDropFiles(const std::vector<std::string>& paths) {
  if (!card_) return;
  std::vector<std::string> files;
  for (const std::string& path : paths)
    if (IsReadableFile(path)) files.push_back(path);
  if (!files.empty()) ImportFiles(files);
}

void CardWindow::ImportFiles(const std::vector<std::string>& paths) {
  std::vector<std::string> problems;
  for (const std::string& path : paths) {
    // The family its extension names, else the one its contents look like.
    const card::Identified what = card::Identify(path);
    const FormatFamily* family = what.family ? what.family : what.seenFamily;
    const std::string name(io::FileNameOf(path));
    if (!family) {
      problems.push_back(name + ": " + std::string(kUnknownFileType));
      continue;
    }
    std::unique_ptr<CSaveGame> save = family->create();
    LoadResult loaded = LoadAsking(*save, what.source, [this](const std::string& text, const std::string& caption) {
      return view_.AskYesNo(text, caption, MessageIcon::kQuestion);
    });
    if (loaded != LoadResult::kOk || !save->entries) {
      problems.push_back(name + ": " + messages::LoadFailureMessage(
                                            *save, loaded == LoadResult::kOk ? LoadResult::kInvalid : loaded));
      continue;
    }
    ImportSave(*save, problems);
  }
  ShowCard();
  Report(problems);
}

void CardWindow::ImportSave(const CSaveGame& save, std::vector<std::string>& problems) {
  // Never over a save already there: that is Save's work, from the main window.
  card::ImportOutcome outcome = card_->Import(save);
  if (outcome.result != card::ImportResult::kImported) problems.push_back(card::messages::ImportMessage(outcome));
}

std::optional<ExportChoice> CardWindow::AskFolderAndTarget(const ExportRequest& request) {
  std::optional<ExportChoice> choice = view_.AskExport(request);
  if (!choice || choice->folder.empty() || choice->target < 0 ||
      static_cast<std::size_t>(choice->target) >= request.targets.size())
    return std::nullopt;
  return choice;
}

void CardWindow::ExportCommand() {
  std::vector<std::string> folders;
  for (const card::SaveInfo* s : SelectedSaves()) folders.push_back(s->folder);
  if (folders.empty()) return;
  const std::vector<ExportTarget> targets = ExportTargets(Ps1() ? PlayStation::kPs1 : PlayStation::kPs2);
  ExportRequest request;
  for (const ExportTarget& t : targets) request.targets.push_back(t.label);
  request.folder = exportFolder_;
  std::optional<ExportChoice> choice = AskFolderAndTarget(request);
  if (!choice) return;
  exportFolder_ = choice->folder;
  const ExportTarget& target = targets[static_cast<std::size_t>(choice->target)];

  std::vector<std::string> problems;
  if (!io::MakeFolders(choice->folder)) {
    Report({std::string(messages::kCannotWriteFile) + ": " + choice->folder});
    return;
  }
  for (const std::string& folder : folders) {
    card::OpenedSave opened = card_->OpenSave(folder);
    if (!opened.save) {
      problems.push_back(card::messages::OpenSaveMessage(opened.result, folder));
      continue;
    }
    // The save's folder name, made safe for the PC, names what is written.
    // A family whose device takes only one name (a PS3 export) gets that name.
    std::string name =
        io::SafeName(target.family ? OutputName(*target.family, *opened.save, folder) : folder);
    const std::string path = io::JoinPath(choice->folder, name);
    if (io::Exists(path) &&
        !view_.AskYesNo(messages::FileExistsQuestion(name), std::string(messages::kFileExistsCaption),
                        MessageIcon::kInformation))
      continue;
    if (!target.family) {
      FolderWrite written = WriteSaveFiles(*opened.save, path, /*overwrite=*/true, /*applyTimes=*/true);
      if (!written.folderMade) problems.push_back(folder + ": " + std::string(messages::kCannotWriteFile) + ": " + path);
      for (const FolderFile& f : written.files)
        if (f.outcome != FolderFileOutcome::kWritten)
          problems.push_back(folder + ": " + std::string(FolderFileMessage(f.outcome)) + ": " + f.name);
      continue;
    }
    SaveWrite written = WriteSaveAs(*opened.save, *target.family, path);
    if (!Succeeded(written.written))
      problems.push_back(folder + ": " + (written.refusal.empty()
                                              ? std::string(messages::SaveResultMessage(written.written))
                                              : written.refusal));
  }
  Report(problems);
}

void CardWindow::DeleteCommand() {
  std::vector<std::string> folders;
  for (const card::SaveInfo* s : SelectedSaves()) folders.push_back(s->folder);
  if (folders.empty()) return;
  std::string question(kDeleteQuestion);
  for (const std::string& folder : folders) question += "\n" + folder;
  if (!view_.AskYesNo(question, std::string(kDeleteCaption), MessageIcon::kQuestion)) return;

  std::vector<std::string> problems;
  for (const std::string& folder : folders) {
    card::RemoveResult removed = card_->Remove(folder);
    if (removed != card::RemoveResult::kRemoved) {
      problems.push_back(card::messages::RemoveMessage(removed, folder, card_->refusal()));
      continue;
    }
    ReleaseShownSave(folder);
  }
  ShowCard();
  Report(problems);
}

void CardWindow::ReleaseShownSave(const std::string& folder) {
  // The main window must not keep a save whose pages the card may now give to another.
  const CardSource* shown = commands_.ShownCardSource();
  if (shown && shown->folder == folder && SameCard(*shown->card, *card_)) commands_.CloseSave();
}

}  // namespace ui
