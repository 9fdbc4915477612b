#include "card/ps1/ps1_card.h"

#include <algorithm>
#include <array>

#include "card/card_messages.h"
#include "card/image_write.h"
#include "card/kinds.h"
#include "card/prepare.h"
#include "io/output_file.h"
#include "formats/ps1/ps1_file.h"
#include "formats/ps1/ps1_header.h"
#include "formats/ps1/ps1_save.h"
#include "io/file.h"
#include "io/path.h"
#include "model/icon_sys.h"

namespace card {

namespace {

constexpr std::uint32_t kBlockKB = kPs1BlockBytes / 1024;

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
    info.ps1Header = header;
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

// The card file's bytes, or none when the crypto library fails.
bool WriteCardFile(io::ByteSink& out, const Ps1CardFile& file) {
  const std::optional<std::vector<std::uint8_t>> bytes = Ps1FileBytes(file);
  if (!bytes) return false;
  if (!out.ok() || !out.Write(*bytes)) return false;
  return out.Commit() == io::Committed::kWritten;
}

// What a card file read whole shows: the reading's own failure, or everything the card's
// directory reveals (a signature that fails first).
std::vector<Issue> IssuesOf(Ps1ReadResult read, const Ps1CardFile& file, const Ps1Image* image) {
  switch (read) {
    case Ps1ReadResult::kRead:
      break;
    case Ps1ReadResult::kOpenFailed:
      return {{IssueKind::kOpenFailed, "", "Cannot open the card"}};
    case Ps1ReadResult::kReadFailed:
      return {{IssueKind::kReadFailed, "", "The card can't be read to its end"}};
    case Ps1ReadResult::kNotPs1Card:
      return {{IssueKind::kNotACard, "", "Not a PlayStation 1 memory card"}};
  }
  std::vector<Issue> issues;
  if (!file.verified)
    issues.push_back({IssueKind::kNotSigned, file.kind == Ps1FileKind::kVmp ? "signature" : "hash",
                      "does not verify: the card is only read; card convert writes it as another card"});
  const std::vector<Issue>& found = image->directory().issues;
  issues.insert(issues.end(), found.begin(), found.end());
  return issues;
}

}  // namespace

OpenedCard Ps1Card::Open(io::SourcePtr file, std::string path) {
  return FirstRead(std::unique_ptr<Card>(new Ps1Card(std::move(file), std::move(path))));
}

bool Ps1Card::Rescan() {
  // Nothing to read again while the file is the version read (a look at it, not an open).
  if (read_ && image_ && source_ && source_->Current()) return true;
  if (read_) ReadAgain();
  Ps1CardFile file;
  const Ps1ReadResult read = source_ ? ReadPs1CardFile(*source_, file) : Ps1ReadResult::kOpenFailed;
  read_ = true;
  if (read != Ps1ReadResult::kRead) {
    issues_ = IssuesOf(read, file, nullptr);
    return false;
  }
  // Read whole: the file is not kept open.
  source_->Release();
  file_ = std::move(file);
  image_.emplace(file_.card, file_.stored);
  issues_ = IssuesOf(read, file_, &*image_);
  return true;
}

CardType Ps1Card::type() const { return KindOfPs1File(file_.kind).type; }

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
  save->Assign(s.name, size, std::move(source), source_, image_->Frame(s.FirstBlock()));
  return save;
}

Card::SaveFound Ps1Card::FindForOpen(std::string_view folder) const {
  const Ps1SaveState* s = image_->directory().Find(folder);
  if (!s) return SaveFound::kAbsent;
  return s->intact ? SaveFound::kReadable : SaveFound::kDamaged;
}

std::unique_ptr<CSaveGame> Ps1Card::SaveObject(std::string_view folder) const {
  const Ps1SaveState* s = image_->directory().Find(folder);
  return s ? MakeSave(*s) : nullptr;
}

std::unique_ptr<CCardSave> Ps1Card::ReadableParts(std::string_view) const { return nullptr; }

WriteResult Ps1Card::Write(const Ps1Image& changed) {
  refusal_.clear();
  Ps1CardFile file = file_;
  file.card = changed.bytes();
  file.stored = kPs1CardBytes;
  const std::optional<std::vector<std::uint8_t>> bytes = Ps1FileBytes(file);
  if (!bytes) return WriteResult::kFailed;
  Ps1CardFile back;
  std::optional<Ps1Image> backImage;
  io::SourcePtr written;
  {
    const std::unique_ptr<io::ByteSink> out = WriteBackSink();
    if (!out->ok() || !out->Write(*bytes)) return WriteResult::kFailed;
    written = out->WrittenBytes();
    if (!written) return WriteResult::kFailed;
    // Read back as the card will be read next: a file of the same kind that verifies, and
    // no damage the card had not.
    const Ps1ReadResult read = ReadPs1CardFile(*written, back);
    if (read == Ps1ReadResult::kRead) backImage.emplace(back.card, back.stored);
    const std::vector<Issue> after = IssuesOf(read, back, backImage ? &*backImage : nullptr);
    std::optional<Issue> damage = NewDamage(issues_, after);
    if (!damage && (back.kind != file_.kind || back.card != file.card))
      damage = Issue{IssueKind::kBadDirectory, "", "it holds another card than the one written"};
    if (damage) {
      refusal_ = "the new " + std::string(io::FileNameOf(path_)) + " read back with damage the old one does not have (" +
                 (damage->where.empty() ? "" : damage->where + ": ") + damage->message + ")";
      out->Fail();
      written.reset();
      return WriteResult::kRefused;
    }
    if (out->Commit() != io::Committed::kWritten) return WriteResult::kFailed;
  }
  // The card is now what was read back: nothing is read again.
  source_ = std::move(written);
  source_->Release();
  file_ = std::move(back);
  image_ = std::move(backImage);
  issues_ = IssuesOf(Ps1ReadResult::kRead, file_, &*image_);
  return WriteResult::kWritten;
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
  out = ReadyToImport(std::move(out));
  if (out.result != ImportResult::kImported) return out;
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
  return Finish(std::move(out), Write(changed), replacing ? ImportResult::kReplaced : ImportResult::kImported);
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
  return RemoveResultOf(Write(changed));
}

RestoreResult Ps1Card::Restore(std::string_view folder) {
  if (!Rescan()) return RestoreResult::kWriteFailed;
  if (Damaged()) return RestoreResult::kCardDamaged;
  Ps1Image changed = *image_;
  const RestoreResult result = RestoreResultOf(changed.Restore(folder));
  if (result != RestoreResult::kRestored) return result;
  switch (Write(changed)) {
    case WriteResult::kWritten: return RestoreResult::kRestored;
    case WriteResult::kRefused: return RestoreResult::kWouldDamage;
    case WriteResult::kFailed: break;
  }
  return RestoreResult::kWriteFailed;
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
    out.result = RepairResultOf(Write(changed));
    out.detail = refusal_;
  }
  out.remaining = issues_;
  return out;
}

FormatResult FormatPs1Card(const std::string& path, Ps1FileKind kind, bool overwrite) {
  if (!overwrite && io::Exists(path)) return FormatResult::kTargetExists;
  io::OutputFile out(path, /*inPlace=*/false);
  return FormatPs1Card(out, kind);
}

FormatResult FormatPs1Card(io::ByteSink& out, Ps1FileKind kind) {
  return WriteCardFile(out, NewPs1CardFile(kind, FreshPs1Card())) ? FormatResult::kFormatted
                                                                   : FormatResult::kWriteFailed;
}

ConvertResult ConvertPs1Card(const std::string& source, const std::string& target, Ps1FileKind kind) {
  const io::SourcePtr from = io::OpenSource(source);
  if (!from) return ConvertResult::kNotAnImage;
  Ps1CardFile file;
  if (ReadPs1CardFile(*from, file) != Ps1ReadResult::kRead) return ConvertResult::kNotAnImage;
  if (file.kind == kind && file.verified && io::SameFile(source, target)) return ConvertResult::kAlreadyThatLayout;
  io::OutputFile out(target, /*inPlace=*/false);
  out.ReleaseBeforeReplacing(from);
  return ConvertPs1Card(*from, out, kind);
}

ConvertResult ConvertPs1Card(const io::ByteSource& source, io::ByteSink& out, Ps1FileKind kind) {
  Ps1CardFile from;
  if (ReadPs1CardFile(source, from) != Ps1ReadResult::kRead) return ConvertResult::kNotAnImage;
  if (Ps1Image(from.card, from.stored).BlocksMissing()) return ConvertResult::kBlocksMissing;
  Ps1CardFile to = from.kind == kind ? from : NewPs1CardFile(kind, from.card);
  to.card = from.card;
  to.stored = kPs1CardBytes;
  return WriteCardFile(out, to) ? ConvertResult::kConverted : ConvertResult::kWriteFailed;
}

Ps1FileKind Ps1FileKindOf(CardType type) { return KindOf(type).ps1File.value_or(Ps1FileKind::kRaw); }

CardType Ps1CardType(Ps1FileKind kind) { return KindOfPs1File(kind).type; }

}  // namespace card
