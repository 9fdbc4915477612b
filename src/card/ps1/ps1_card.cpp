#include "card/ps1/ps1_card.h"

#include <algorithm>
#include <array>

#include "card/card_messages.h"
#include "card/prepare.h"
#include "formats/output_file.h"
#include "formats/ps1/ps1_file.h"
#include "formats/ps1/ps1_header.h"
#include "formats/ps1/ps1_save.h"
#include "io/file.h"
#include "model/icon_sys.h"

namespace card {

namespace {

constexpr std::uint32_t kBlockKB = kPs1BlockBytes / 1024;

constexpr std::array<std::pair<Ps1FileKind, CardType>, 5> kTypes = {{
    {Ps1FileKind::kRaw, CardType::kPs1Raw},
    {Ps1FileKind::kDexDrive, CardType::kPs1DexDrive},
    {Ps1FileKind::kVgs, CardType::kPs1Vgs},
    {Ps1FileKind::kVmp, CardType::kPs1Vmp},
    {Ps1FileKind::kPocketStation, CardType::kPs1PocketStation},
}};

std::span<const std::uint8_t> BlockOf(const Ps1Image& image, int block) {
  return std::span(image.bytes()).subspan(static_cast<std::size_t>(block) * kPs1BlockBytes, kPs1BlockBytes);
}

void DescribeSave(const Ps1Image& image, const Ps1SaveState& s, SaveInfo& info) {
  info.folder = s.name;
  info.blocks = static_cast<int>(s.blocks.size());
  info.chain = s.blocks;
  info.sizeKB = static_cast<std::uint32_t>(s.blocks.size()) * kBlockKB;
  info.deleted = s.deleted;
  info.files = 1;
  info.readable = !s.deleted && s.intact;
  info.damage = s.deleted ? std::string() : s.Problem();
  info.region = std::string(::ps1::RegionName(::ps1::RegionOf(s.name)));
  if (s.blocks.empty()) return;
  if (const std::optional<::ps1::SaveHeader> header = ::ps1::ReadHeader(BlockOf(image, s.FirstBlock()))) {
    info.rawTitle = header->rawTitle;
    std::array<char, kTitleField> ascii{};
    TitleToAscii(info.rawTitle, ascii);
    info.title = FieldText(ascii);
    info.icon = ::ps1::IconPicture(*header, 0);
  }
}

ImportResult ImportResultOf(Ps1Change change) {
  switch (change) {
    case Ps1Change::kDone: return ImportResult::kImported;
    case Ps1Change::kAlreadyOnCard: return ImportResult::kAlreadyOnCard;
    case Ps1Change::kNoSpace: return ImportResult::kNoSpace;
    case Ps1Change::kInvalidSave: return ImportResult::kInvalidSave;
    case Ps1Change::kNotFound:
    case Ps1Change::kDamaged:
    case Ps1Change::kBlocksTaken:
    case Ps1Change::kCheckFailed: break;
  }
  return ImportResult::kWriteFailed;
}

RestoreResult RestoreResultOf(Ps1Change change) {
  switch (change) {
    case Ps1Change::kDone: return RestoreResult::kRestored;
    case Ps1Change::kNotFound: return RestoreResult::kNotFound;
    case Ps1Change::kAlreadyOnCard: return RestoreResult::kAlreadyOnCard;
    case Ps1Change::kBlocksTaken: return RestoreResult::kBlocksTaken;
    case Ps1Change::kDamaged: return RestoreResult::kSaveDamaged;
    case Ps1Change::kNoSpace:
    case Ps1Change::kInvalidSave:
    case Ps1Change::kCheckFailed: break;
  }
  return RestoreResult::kWriteFailed;
}

// Writes a card file's bytes to path through a temporary file.
bool WriteCardFile(const std::string& path, const Ps1CardFile& file) {
  const std::optional<std::vector<std::uint8_t>> bytes = Ps1FileBytes(file);
  if (!bytes) return false;
  OutputFile out(path, /*inPlace=*/false);
  if (!out.ok() || !out.Write(*bytes)) return false;
  return out.Commit() == LoadResult::kOk;
}

}  // namespace

bool LooksLikePs1CardFile(const std::string& path) {
  io::File file = io::File::OpenRead(path);
  const std::optional<std::uint64_t> length = file ? file.Length() : std::nullopt;
  if (!length) return false;
  std::vector<std::uint8_t> head(kPs1HeadBytes);
  head.resize(file.Read(head.data(), head.size()));
  return Ps1KindOf(head, *length).has_value();
}

OpenedCard Ps1Card::Open(const std::string& path) {
  return FirstRead(std::unique_ptr<Card>(new Ps1Card(path)));
}

bool Ps1Card::Rescan() {
  Ps1CardFile file;
  const Ps1ReadResult read = ReadPs1CardFile(path_, file);
  issues_.clear();
  switch (read) {
    case Ps1ReadResult::kRead:
      break;
    case Ps1ReadResult::kOpenFailed:
      issues_.push_back({IssueKind::kOpenFailed, "", "Cannot open the card"});
      return false;
    case Ps1ReadResult::kReadFailed:
      issues_.push_back({IssueKind::kReadFailed, "", "The card can't be read to its end"});
      return false;
    case Ps1ReadResult::kNotPs1Card:
      issues_.push_back({IssueKind::kNotACard, "", "Not a PlayStation 1 memory card"});
      return false;
  }
  file_ = std::move(file);
  image_.emplace(file_.card, file_.stored);
  if (!file_.verified)
    issues_.push_back({IssueKind::kNotSigned, file_.kind == Ps1FileKind::kVmp ? "signature" : "hash",
                       "does not verify: the card is only read; card convert writes it as another card"});
  const std::vector<Issue>& found = image_->directory().issues;
  issues_.insert(issues_.end(), found.begin(), found.end());
  return true;
}

CardType Ps1Card::type() const { return Ps1CardType(file_.kind); }

bool Ps1Card::Damaged() const { return !file_.verified || image_->BlocksMissing(); }

Listing Ps1Card::List() const {
  Listing listing;
  listing.ps1 = true;
  for (const Ps1SaveState& s : image_->directory().saves) DescribeSave(*image_, s, listing.saves.emplace_back());
  listing.freeBlocks = image_->directory().FreeBlocks();
  listing.freeKB = static_cast<std::uint32_t>(listing.freeBlocks) * kBlockKB;
  return listing;
}

std::unique_ptr<CSaveGame> Ps1Card::MakeSave(const Ps1SaveState& s) const {
  auto save = std::make_unique<CPs1Save>();
  const auto size = static_cast<std::uint32_t>(s.blocks.size() * kPs1BlockBytes);
  EntrySource source;
  if (const std::optional<std::uint64_t> offset = file_.CardOffset()) {
    ContainerExtents extents;
    for (int b : s.blocks) {
      AppendExtent(extents.extents, *offset + static_cast<std::uint64_t>(b) * kPs1BlockBytes, kPs1BlockBytes);
    }
    source = std::move(extents);
  } else {
    source = InMemory{image_->SaveBytes(s)};
  }
  save->Assign(s.name, size, std::move(source), path_, image_->Frame(s.FirstBlock()));
  return save;
}

OpenedSave Ps1Card::OpenSave(std::string_view folder) const {
  OpenedSave opened;
  const Ps1SaveState* s = image_->directory().Find(folder);
  if (!s) return opened;
  if (!s->intact) {
    opened.result = OpenSaveResult::kDamaged;
    return opened;
  }
  opened.save = MakeSave(*s);
  opened.result = OpenSaveResult::kOpened;
  return opened;
}

std::unique_ptr<CCardSave> Ps1Card::ReadableParts(std::string_view) const { return nullptr; }

bool Ps1Card::Write(const Ps1Image& changed) {
  Ps1CardFile file = file_;
  file.card = changed.bytes();
  file.stored = kPs1CardBytes;
  const bool written = WriteCardFile(path_, file);
  Rescan();
  return written;
}

ImportOutcome Ps1Card::Import(const CSaveGame& save, const ImportOptions& options) {
  ImportOutcome out;
  out.folder = std::string(::ps1::NameOf(save));
  std::vector<std::uint8_t> blocks;
  if (!::ps1::IsPs1(save)) {
    out.folder = save.entries && !save.entries->empty() ? std::string(save.entries->front().Name()) : std::string();
    out.result = ImportResult::kOtherConsole;
    out.detail = std::string(messages::kPs2OnPs1Card);
    return out;
  }
  const LoadResult read = ::ps1::CheckedBlocks(save, blocks, out.detail);
  if (read == LoadResult::kOpenFailed) return Outcome(ImportResult::kSourceUnreadable, out.folder);
  if (read != LoadResult::kOk) {
    out.result = ImportResult::kInvalidSave;
    return out;
  }
  out.neededKB = static_cast<std::uint32_t>(blocks.size() / 1024);
  // Work from the card as it is on the disk now.
  if (!Rescan()) return Outcome(ImportResult::kWriteFailed, out.folder);
  if (Damaged()) return Outcome(ImportResult::kCardDamaged, out.folder);
  Ps1Image changed = *image_;
  const bool replacing = options.replace && changed.directory().Find(out.folder);
  if (replacing && changed.Remove(out.folder) != Ps1Change::kDone) {
    out.result = ImportResult::kCardDamaged;
    return out;
  }
  const Ps1Change change = changed.Import(out.folder, blocks, ::ps1::FrameFor(save));
  out.result = ImportResultOf(change);
  if (out.result == ImportResult::kNoSpace) out.freeKB = static_cast<std::uint32_t>(image_->directory().FreeBlocks()) * kBlockKB;
  if (change != Ps1Change::kDone) return out;
  if (!Write(changed)) return Outcome(ImportResult::kWriteFailed, out.folder);
  out.result = replacing ? ImportResult::kReplaced : ImportResult::kImported;
  return out;
}

RemoveResult Ps1Card::Remove(std::string_view folder) {
  if (!Rescan()) return RemoveResult::kWriteFailed;
  if (Damaged()) return RemoveResult::kCardDamaged;
  Ps1Image changed = *image_;
  switch (changed.Remove(folder)) {
    case Ps1Change::kDone: break;
    case Ps1Change::kNotFound: return RemoveResult::kNotFound;
    default: return RemoveResult::kCardDamaged;
  }
  return Write(changed) ? RemoveResult::kRemoved : RemoveResult::kWriteFailed;
}

RestoreResult Ps1Card::Restore(std::string_view folder) {
  if (!Rescan()) return RestoreResult::kWriteFailed;
  if (Damaged()) return RestoreResult::kCardDamaged;
  Ps1Image changed = *image_;
  const RestoreResult result = RestoreResultOf(changed.Restore(folder));
  if (result != RestoreResult::kRestored) return result;
  return Write(changed) ? RestoreResult::kRestored : RestoreResult::kWriteFailed;
}

std::vector<Issue> Ps1Card::Check() const { return issues_; }

RepairOutcome Ps1Card::Repair() {
  RepairOutcome out;
  if (!Rescan() || Damaged()) {
    out.result = Damaged() ? RepairResult::kNothingToRepair : RepairResult::kWriteFailed;
    out.remaining = issues_;
    return out;
  }
  Ps1Image changed = *image_;
  const Ps1Image::Mended mended = changed.Repair();
  out.checksSet = mended.checks;
  out.statesMended = mended.states;
  if (mended.checks + mended.states == 0) {
    out.result = RepairResult::kNothingToRepair;
  } else {
    out.result = Write(changed) ? RepairResult::kRepaired : RepairResult::kWriteFailed;
  }
  out.remaining = issues_;
  return out;
}

FormatResult FormatPs1Card(const std::string& path, Ps1FileKind kind, bool overwrite) {
  if (!overwrite && io::Exists(path)) return FormatResult::kTargetExists;
  return WriteCardFile(path, NewPs1CardFile(kind, FreshPs1Card())) ? FormatResult::kFormatted
                                                                     : FormatResult::kWriteFailed;
}

ConvertResult ConvertPs1Card(const std::string& source, const std::string& target, Ps1FileKind kind) {
  Ps1CardFile from;
  if (ReadPs1CardFile(source, from) != Ps1ReadResult::kRead) return ConvertResult::kNotAnImage;
  if (from.kind == kind && from.verified && io::SameFile(source, target)) return ConvertResult::kAlreadyThatLayout;
  if (Ps1Image(from.card, from.stored).BlocksMissing()) return ConvertResult::kBlocksMissing;
  Ps1CardFile to = from.kind == kind ? from : NewPs1CardFile(kind, from.card);
  to.card = from.card;
  to.stored = kPs1CardBytes;
  return WriteCardFile(target, to) ? ConvertResult::kConverted : ConvertResult::kWriteFailed;
}

Ps1FileKind Ps1FileKindOf(CardType type) {
  for (const auto& [kind, t] : kTypes)
    if (t == type) return kind;
  return Ps1FileKind::kRaw;
}

CardType Ps1CardType(Ps1FileKind kind) {
  for (const auto& [k, type] : kTypes)
    if (k == kind) return type;
  return CardType::kPs1Raw;
}

}  // namespace card
