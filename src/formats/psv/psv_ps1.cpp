#include "formats/psv/psv_ps1.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "formats/ps1/ps1_file.h"
#include "formats/psv/psv.h"
#include "io/file.h"
#include "model/bytes.h"

namespace psv {

namespace {

constexpr std::uint8_t kPs1Mark[] = {0x03, 0x90, 0x00, 0x00};

void PutPs1Header(std::span<std::uint8_t> file, std::string_view name, std::uint32_t size) {
  std::uint8_t* p = file.data();
  std::memcpy(p, kMagic.data(), kMagic.size());
  bytes::PutU32LE(p + kInfoSizeOffset, kPs1InfoSize);
  bytes::PutU32LE(p + kKindOffset, static_cast<std::uint32_t>(SaveKind::kPs1));
  bytes::PutU32LE(p + kPs1DataSizeOffset, size);
  bytes::PutU32LE(p + kPs1DataOffsetOffset, kPs1HeaderSize);
  bytes::PutU32LE(p + kPs1FixedOffset, kPs1FixedValue);
  bytes::PutU32LE(p + kPs1DataSizeCopyOffset, size);
  std::memcpy(p + kPs1MarkOffset, kPs1Mark, sizeof kPs1Mark);
  std::memcpy(p + kPs1NameOffset, name.data(), std::min(name.size(), kPs1NameSize));
}

}  // namespace

LoadResult ReadPs1File(const io::ByteSource& source, std::vector<std::uint8_t>& file, std::string& refusal) {
  const std::uint64_t length = source.size();
  std::uint8_t header[kPs1HeaderSize];
  if (!source.ReadAt(0, header)) return LoadResult::kReadFailed;
  const std::uint32_t size = bytes::GetU32LE(header + kPs1DataSizeOffset);
  refusal = ps1::SizeProblem(size);
  if (!refusal.empty()) return LoadResult::kInvalid;
  if (length < kPs1HeaderSize + size) return LoadResult::kReadFailed;
  if (length > kPs1HeaderSize + size) {
    refusal = "The file holds " + std::to_string(length - kPs1HeaderSize - size) +
              " bytes after the save's blocks.";
    return LoadResult::kInvalid;
  }
  file.assign(header, header + sizeof header);
  file.resize(kPs1HeaderSize + size);
  if (!source.ReadAt(kPs1HeaderSize, std::span(file).subspan(kPs1HeaderSize))) return LoadResult::kReadFailed;
  refusal = ps1::BlocksProblem(std::span(file).subspan(kPs1HeaderSize));
  return refusal.empty() ? LoadResult::kOk : LoadResult::kInvalid;
}

std::string Ps1Name(std::span<const std::uint8_t> file) {
  const auto* p = reinterpret_cast<const char*>(file.data() + kPs1NameOffset);
  return std::string(p, std::find(p, p + kPs1NameSize, '\0'));
}

LoadResult WritePs1Export(const CSaveGame& source, io::ByteSink& out, std::string& refusal) {
  try {
    std::vector<std::uint8_t> blocks;
    const LoadResult checked = ps1::CheckedBlocks(source, blocks, refusal);
    if (checked != LoadResult::kOk) return checked;
    std::vector<std::uint8_t> file(kPs1HeaderSize, 0);
    PutPs1Header(file, ps1::NameOf(source), static_cast<std::uint32_t>(blocks.size()));
    file.insert(file.end(), blocks.begin(), blocks.end());
    return SealAndWrite(file, out);
  } catch (const std::bad_alloc&) {
    return LoadResult::kNoMemory;
  }
}

}  // namespace psv
