#include "card/card.h"

#include <algorithm>
#include <array>

#include "card/card_time.h"
#include "card/folder_card.h"
#include "card/prepare.h"
#include "card/image_card.h"
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

ImportOutcome Card::BeginImport(const CSaveGame& save, const ImportOptions& options, PreparedSave& prepared) {
  ImportOutcome out;
  out.result = PrepareSave(save, options.now.value_or(JapanNow()), prepared, out.detail);
  out.folder = std::string(prepared.directory.Name());
  if (out.result == ImportResult::kOtherConsole && save.entries && !save.entries->empty())
    out.folder = std::string(save.entries->front().Name());
  if (out.result != ImportResult::kImported) return out;
  // Work from the card as it is on the disk now.
  if (!Rescan()) return Outcome(ImportResult::kWriteFailed, out.folder);
  if (Damaged()) return Outcome(ImportResult::kCardDamaged, out.folder);
  return out;
}

RestoreResult Card::Restore(std::string_view) { return RestoreResult::kNotFound; }

bool IsPs1(CardType type) {
  switch (type) {
    case CardType::kImageWithEcc:
    case CardType::kRawImage:
    case CardType::kFolder:
      return false;
    case CardType::kPs1Raw:
    case CardType::kPs1DexDrive:
    case CardType::kPs1Vgs:
    case CardType::kPs1Vmp:
    case CardType::kPs1PocketStation:
      break;
  }
  return true;
}

ImportOutcome Card::NoSpace(ImportOutcome out, std::uint64_t needed, std::uint32_t freeNow, std::uint32_t available) {
  out.result = ImportResult::kNoSpace;
  out.neededKB = static_cast<std::uint32_t>(std::min<std::uint64_t>(needed, 0xFFFFFFFFu));
  out.freeKB = freeNow;
  out.availableKB = available;
  return out;
}

ImportOutcome Card::Finish(ImportOutcome out, WriteResult written, ImportResult success,
                           const PreparedSave& prepared) const {
  switch (written) {
    case WriteResult::kWritten:
      out.result = success;
      out.neededKB = static_cast<std::uint32_t>(std::min<std::uint64_t>(prepared.TotalClusters(), 0xFFFFFFFFu));
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

OpenedCard OpenCard(const std::string& path, CardReading reading) {
  if (io::IsFolder(path)) return FolderCard::Open(path);
  if (LooksLikePs1CardFile(path)) return Ps1Card::Open(path);
  return ImageCard::Open(path, reading);
}

std::span<const ImageExtension> CardImageExtensions() {
  static constexpr std::array<ImageExtension, 6> kExtensions = {{
      {"ps2", "PCSX2 card image (with ECC)"},
      {"mc2", "MemCard PRO card image"},
      {"mcd", "SD2PSX card image"},
      {"bin", "PCSX2 raw card image"},
      {"vmc", "Open PS2 Loader virtual card"},
      {"vm2", "virtual card image"},
  }};
  return kExtensions;
}

std::optional<bool> EccForExtension(std::string_view path) {
  const std::string ext = io::FoldAscii(io::ExtensionOf(path));
  if (ext == "ps2") return true;
  if (ext == "bin" || ext == "mc2" || ext == "mcd" || ext == "vmc") return false;
  return std::nullopt;
}

}  // namespace card
