#include "card/card.h"

#include <algorithm>
#include <array>

#include "card/card_time.h"
#include "card/folder_card.h"
#include "card/identify.h"
#include "card/image_card.h"
#include "card/kinds.h"
#include "card/prepare.h"
#include "card/ps1/ps1_card.h"
#include "io/file.h"
#include "io/folder.h"
#include "io/path.h"

namespace card {

Severity SeverityOf(IssueKind kind) {
  switch (kind) {
    case IssueKind::kOpenFailed:
    case IssueKind::kReadFailed:
    case IssueKind::kNotACard:
    case IssueKind::kPs1Card:
    case IssueKind::kUnformatted:
    case IssueKind::kSizeMismatch:
    case IssueKind::kBadSuperblock:
    case IssueKind::kBadFat:
    case IssueKind::kDamagedSuperblock:
    case IssueKind::kBadRoot:
    case IssueKind::kNoVmeKey:
      return Severity::kFatal;
    case IssueKind::kEccCorrected:
    case IssueKind::kEccCodeWrong:
    case IssueKind::kLostCluster:
    case IssueKind::kDotEntry:
    case IssueKind::kSubfolder:
    case IssueKind::kBadCheck:
    case IssueKind::kBadBlockState:
      return Severity::kNotice;
    default:
      return Severity::kDamage;
  }
}

Card::Card(io::SourcePtr source, std::string path)
    : path_(path.empty() && source ? source->name() : std::move(path)),
      source_(std::move(source)),
      inMemory_(source_ && source_->path().empty()) {}

void Card::ReadAgain() {
  if (inMemory_ || (source_ && source_->Current())) return;
  // Opened anew: an older source goes on reading the version it read, for the saves
  // opened from it, as long as that can be read.
  source_ = io::OpenSource(path_, io::Access::kScattered);
}

std::unique_ptr<io::ByteSink> Card::WriteBackSink() const {
  if (inMemory_) return std::make_unique<io::MemorySink>(path_);
  auto file = std::make_unique<io::OutputFile>(path_, /*inPlace=*/false);
  if (source_) file->ReleaseBeforeReplacing(source_);
  return file;
}

OpenedSave Card::OpenSave(std::string_view folder) const {
  OpenedSave opened;
  switch (FindForOpen(folder)) {
    case SaveFound::kAbsent:
      opened.result = OpenSaveResult::kNotFound;
      break;
    case SaveFound::kSubfolder:
      opened.result = OpenSaveResult::kHasSubfolder;
      break;
    case SaveFound::kDamaged:
      opened.result = OpenSaveResult::kDamaged;
      break;
    case SaveFound::kReadable:
      opened.save = SaveObject(folder);
      opened.result = opened.save ? OpenSaveResult::kOpened : OpenSaveResult::kDamaged;
      break;
  }
  return opened;
}

ImportOutcome Card::BeginImport(const CSaveGame& save, const ImportOptions& options, PreparedSave& prepared) {
  ImportOutcome out;
  out.result = PrepareSave(save, options.now.value_or(JapanNow()), prepared, out.detail);
  out.folder = std::string(prepared.directory.Name());
  if (out.result == ImportResult::kOtherConsole && save.entries && !save.entries->empty())
    out.folder = std::string(save.entries->front().Name());
  if (out.result != ImportResult::kImported) return out;
  return ReadyToImport(std::move(out));
}

ImportOutcome Card::ReadyToImport(ImportOutcome out) {
  // Work from the card as it is on the disk now.
  if (!Rescan()) return Outcome(ImportResult::kWriteFailed, out.folder);
  if (Damaged()) return Outcome(ImportResult::kCardDamaged, out.folder);
  out.result = ImportResult::kImported;
  return out;
}

RestoreResult Card::Restore(std::string_view) { return RestoreResult::kNotFound; }

ImportOutcome Card::NoSpace(ImportOutcome out, std::uint64_t needed, std::uint32_t freeNow, std::uint32_t available) {
  out.result = ImportResult::kNoSpace;
  out.neededKB = static_cast<std::uint32_t>(std::min<std::uint64_t>(needed, 0xFFFFFFFFu));
  out.freeKB = freeNow;
  out.availableKB = available;
  return out;
}

ImportOutcome Card::Finish(ImportOutcome out, WriteResult written, ImportResult success,
                           const PreparedSave& prepared) const {
  if (written == WriteResult::kWritten)
    out.neededKB = static_cast<std::uint32_t>(std::min<std::uint64_t>(prepared.TotalClusters(), 0xFFFFFFFFu));
  return Finish(std::move(out), written, success);
}

RemoveResult RemoveResultOf(WriteResult written) {
  switch (written) {
    case WriteResult::kWritten: return RemoveResult::kRemoved;
    case WriteResult::kRefused: return RemoveResult::kWouldDamage;
    case WriteResult::kFailed: break;
  }
  return RemoveResult::kWriteFailed;
}

RepairResult RepairResultOf(WriteResult written) {
  switch (written) {
    case WriteResult::kWritten: return RepairResult::kRepaired;
    case WriteResult::kRefused: return RepairResult::kWouldDamage;
    case WriteResult::kFailed: break;
  }
  return RepairResult::kWriteFailed;
}

ImportOutcome Card::Finish(ImportOutcome out, WriteResult written, ImportResult success) const {
  switch (written) {
    case WriteResult::kWritten:
      out.result = success;
      return out;
    case WriteResult::kRefused:
      out.result = ImportResult::kWouldDamage;
      out.detail = refusal_;
      return out;
    case WriteResult::kFailed:
      break;
  }
  return Outcome(ImportResult::kWriteFailed, out.folder);
}

bool Card::Damaged() const {
  for (const Issue& i : issues_)
    if (i.severity() != Severity::kNotice) return true;
  return false;
}

OpenedCard Card::FirstRead(std::unique_ptr<Card> card) {
  OpenedCard opened;
  const bool usable = card->Rescan();
  opened.issues = card->issues_;
  if (usable) opened.card = std::move(card);
  return opened;
}

OpenedCard OpenCard(const CardKind& kind, io::SourcePtr source, const std::string& path, CardReading reading) {
  return kind.open(std::move(source), path, reading);
}

namespace {

// What is not known as a card of any kind is opened as a card image: its open says why
// it is none ("not a PS2 memory card image", "unformatted", ...).
OpenedCard OpenIdentified(Identified what, CardReading reading) {
  if (what.folder) return FolderCard::Open(what.path);
  // With nothing known, the name's PS2 kind says why (a .VME cut short is no .VME).
  const CardKind* named = &KindOf(CardType::kRawImage);
  const std::string_view extension = io::ExtensionOf(what.source ? what.source->name() : what.path);
  for (const CardKind& k : CardKinds())
    if (!k.ps1 && !k.folder && k.Has(extension)) {
      named = &k;
      break;
    }
  const CardKind& kind = what.card ? *what.card : what.seenCard ? *what.seenCard : *named;
  return OpenCard(kind, std::move(what.source), what.path, reading);
}

}  // namespace

OpenedCard OpenCard(const std::string& path, CardReading reading) {
  // A card is read where its structure and the files asked for lie, never from end to end.
  return OpenIdentified(Identify(path, io::Access::kScattered), reading);
}

OpenedCard OpenCard(io::SourcePtr source, CardReading reading) {
  return OpenIdentified(Identify(std::move(source)), reading);
}

}  // namespace card
