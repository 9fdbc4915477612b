#include "formats/ps1/ps1_save.h"

#include <algorithm>
#include <utility>

#include "model/icon_sys.h"

namespace ps1 {

namespace {

// The modes a PS1 save's entries show: a directory and a file, with the PS1 flag.
constexpr std::uint32_t kRootMode = EntryMode::kDirectory | EntryMode::kPs1;
constexpr std::uint32_t kFileMode = EntryMode::kFile | EntryMode::kPs1;

const SaveEntry* BlocksEntry(const CSaveGame& save) {
  return save.entries && save.entries->size() == 2 ? &(*save.entries)[1] : nullptr;
}

}  // namespace

const Ps1Part* PartOf(const CSaveGame& save) {
  const auto* holder = dynamic_cast<const Ps1Holder*>(&save);
  return holder ? holder->Ps1() : nullptr;
}

EntryTable MakeTable(std::string_view name, std::uint32_t size, EntrySource source) {
  EntryTable table(2);
  SaveEntry& root = table[0];
  root.mode = kRootMode;
  root.size = 3;
  SetField(root.name, name, kCardNameChars);
  SaveEntry& blocks = table[1];
  blocks.mode = kFileMode;
  blocks.size = size;
  SetField(blocks.name, name, kCardNameChars);
  SetField(blocks.title, name, kCardNameChars);
  SetField(blocks.rawTitle, name, kCardNameChars);
  blocks.source = std::move(source);
  return table;
}

std::string_view NameOf(const CSaveGame& save) {
  return save.entries && !save.entries->empty() ? save.entries->front().Name() : std::string_view{};
}

DataResult ReadBlocks(const CSaveGame& save, std::vector<std::uint8_t>& out) {
  const SaveEntry* blocks = BlocksEntry(save);
  if (!blocks) return DataResult::kShort;
  return ReadEntryData(*blocks, save.container.get(), out);
}

std::optional<SaveHeader> HeaderOf(const CSaveGame& save) {
  const SaveEntry* blocks = BlocksEntry(save);
  if (!blocks) return std::nullopt;
  std::vector<std::uint8_t> head;
  head.reserve(kHeaderBytes);
  CopyEntryData(*blocks, save.container.get(), [&](std::span<const std::uint8_t> piece) {
    head.insert(head.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(
                                                              std::min(piece.size(), kHeaderBytes - head.size())));
    return head.size() < kHeaderBytes;
  });
  return ReadHeader(head);
}

DirFrame FrameFor(const CSaveGame& save) {
  const Ps1Part* part = PartOf(save);
  const SaveEntry* blocks = BlocksEntry(save);
  const std::uint32_t size = blocks ? blocks->size : 0;
  if (!part || !part->frame) return DirFrame::FirstOf(NameOf(save), size);
  DirFrame frame = *part->frame;
  if (frame.Name() != NameOf(save)) frame.SetName(NameOf(save));
  frame.SetSize(size);
  frame.Seal();
  return frame;
}

std::string SizeProblem(std::uint64_t size) {
  if (size % kBlockSize == 0 && size > 0 && size <= kMaxSaveSize) return {};
  return "The save's " + std::to_string(size) + " bytes are not 1 to 15 whole blocks of 8,192 bytes.";
}

std::string BlocksProblem(std::span<const std::uint8_t> blocks) {
  if (std::string problem = SizeProblem(blocks.size()); !problem.empty()) return problem;
  const std::size_t count = blocks.size() / kBlockSize;
  const std::optional<SaveHeader> header = ReadHeader(blocks);
  if (!header) return "The save's first block doesn't begin with \"SC\": this is no PlayStation 1 save.";
  if (static_cast<std::size_t>(header->blocks) != count)
    return "The save says it has " + std::to_string(header->blocks) + " blocks, but it holds " +
           std::to_string(count) + ".";
  return {};
}

bool ReadRawTitle(CSaveGame& save) {
  const std::optional<SaveHeader> header = HeaderOf(save);
  if (!header) return false;
  SetField(save.entries->front().rawTitle, header->rawTitle, kTitleSize);
  return true;
}

bool Rename(CSaveGame& save, std::string_view name) {
  if (!IsCardFileName(name) || !save.entries || save.entries->size() != 2) return false;
  for (SaveEntry& e : *save.entries) SetField(e.name, name, kCardNameChars);
  SaveEntry& blocks = (*save.entries)[1];
  SetField(blocks.title, name, kCardNameChars);
  SetField(blocks.rawTitle, name, kCardNameChars);
  return true;
}

}  // namespace ps1

void CPs1Save::Assign(std::string_view name, std::uint32_t size, EntrySource source, io::SourcePtr from,
                      std::optional<ps1::DirFrame> frame) {
  entries = ps1::MakeTable(name, size, std::move(source));
  container = std::move(from);
  sourcePath = container ? container->path() : std::string();
  part.frame = std::move(frame);
  TakeTitle();
}

bool CPs1Save::ReadRawTitle() { return ps1::ReadRawTitle(*this); }

void CPs1Save::SetName(int entryIndex, std::string_view text) {
  if (entryIndex == -1 || entryIndex == 0) ps1::Rename(*this, text);
}

void CPs1Save::SetMode(int, std::uint32_t) {}
void CPs1Save::RemoveEntry(int) {}
bool CPs1Save::AddEntryFromDisk(const std::string&, std::string_view) { return false; }
bool CPs1Save::ReplaceEntryFromDisk(const std::string&, int) { return false; }
void CPs1Save::SetCreated(int, const EntryTime&) {}
void CPs1Save::SetModified(int, const EntryTime&) {}
