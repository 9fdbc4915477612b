#include "formats/ps1/ps1_file.h"

#include <new>

#include "io/output_file.h"
#include "io/file.h"
#include "io/path.h"

namespace ps1 {

LoadResult ReadSaveFile(const io::ByteSource& source, std::size_t headerSize, SaveFile& file,
                        std::string& refusal) {
  const std::uint64_t length = source.size();
  // Cut short before its first block ends, or longer than 15 blocks: no save of this layout.
  const std::uint64_t blocks = length > headerSize ? length - headerSize : 0;
  if (blocks < kBlockSize || blocks % kBlockSize != 0 || blocks > kMaxSaveSize) {
    refusal = "The file's " + std::to_string(length) +
              " bytes are not its header and 1 to 15 whole blocks of 8,192 bytes.";
    return LoadResult::kInvalid;
  }
  file.bytes.resize(static_cast<std::size_t>(length));
  if (!source.ReadAt(0, file.bytes)) return LoadResult::kReadFailed;
  file.headerSize = headerSize;
  refusal = BlocksProblem(file.Blocks());
  return refusal.empty() ? LoadResult::kOk : LoadResult::kInvalid;
}

LoadResult CheckedBlocks(const CSaveGame& source, std::vector<std::uint8_t>& blocks,
                         std::string& refusal) {
  if (!IsPs1(source)) {
    refusal = kPs2AsPs1Refusal;
    return LoadResult::kInvalid;
  }
  const SaveEntry* entry = source.EntryAt(0);
  refusal = entry ? SizeProblem(entry->size) : SizeProblem(0);
  if (!refusal.empty()) return LoadResult::kInvalid;
  try {
    if (ReadBlocks(source, blocks) != DataResult::kOk) return LoadResult::kOpenFailed;
  } catch (const std::bad_alloc&) {
    return LoadResult::kNoMemory;
  }
  refusal = BlocksProblem(blocks);
  return refusal.empty() ? LoadResult::kOk : LoadResult::kInvalid;
}

LoadResult WriteSaveFile(const CSaveGame& source, std::span<const std::uint8_t> header, io::ByteSink& out,
                         std::string& refusal) {
  std::vector<std::uint8_t> blocks;
  const LoadResult checked = CheckedBlocks(source, blocks, refusal);
  if (checked != LoadResult::kOk) return checked;
  if (!out.ok()) return LoadResult::kOpenFailed;
  out.Write(header);
  out.Write(blocks);
  return Finished(out.Commit());
}

bool LooksLikeSaveFile(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                       std::size_t headerSize) {
  if (fileSize < headerSize + kBlockSize || head.size() < headerSize + kBlockCountOffset + 1) return false;
  const std::uint64_t blocks = fileSize - headerSize;
  if (blocks % kBlockSize != 0 || blocks > kMaxSaveSize) return false;
  const std::span<const std::uint8_t> first = head.subspan(headerSize);
  return MagicOf(first) == Magic::kSc && first[kBlockCountOffset] == blocks / kBlockSize;
}

std::string NameFromPcFile(const std::string& path) {
  std::string name(io::FileNameOf(path).substr(0, kCardNameChars));
  for (char& c : name)
    if (c < 0x20 || c > 0x7E) c = '_';
  return name;
}

}  // namespace ps1

LoadResult CPs1File::Read(const io::ByteSource& source) {
  ps1::SaveFile file;
  const LoadResult read = ps1::ReadSaveFile(source, headerSize_, file, refusal);
  if (read != LoadResult::kOk) return read;
  Named named;
  const LoadResult names = ReadNames(file, source.name(), named);
  if (names != LoadResult::kOk) return names;
  Assign(named.name, static_cast<std::uint32_t>(file.Blocks().size()), InContainer{headerSize_}, nullptr,
         std::move(named.frame));
  return LoadResult::kOk;
}

LoadResult CPs1File::Write(io::ByteSink& out) { return WriteAs(*this, out); }

LoadResult CPs1File::WriteConverted(const CSaveGame& source, io::ByteSink& out) { return WriteAs(source, out); }

LoadResult CPs1File::WriteAs(const CSaveGame& source, io::ByteSink& out) {
  if (!ps1::IsPs1(source)) {
    refusal = ps1::kPs2AsPs1Refusal;
    return LoadResult::kInvalid;
  }
  return ps1::WriteSaveFile(source, MakeHeader(source), out, refusal);
}
