#include "formats/psx/psx.h"

#include <algorithm>
#include <cstring>

#include "io/file.h"
#include "io/path.h"

bool LooksLikePsx(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  return ps1::LooksLikeSaveFile(head, fileSize, psx::kHeaderSize);
}

LoadResult CPsx::Read(const io::ByteSource& source) {
  if (source.size() == psx::kPocketStationCardSize) {
    refusal = "This is a Vita PocketStation memory card, not a single save: open it as a card.";
    return LoadResult::kInvalid;
  }
  return CPs1File::Read(source);
}

LoadResult CPsx::ReadNames(const ps1::SaveFile& file, const std::string& fileName, Named& named) {
  const auto* p = reinterpret_cast<const char*>(file.Header().data());
  named.name.assign(p, std::find(p, p + psx::kNameSize, '\0'));
  if (named.name.empty()) named.name = ps1::NameFromPcFile(std::string(io::StemOf(fileName)));
  return LoadResult::kOk;
}

std::vector<std::uint8_t> CPsx::MakeHeader(const CSaveGame& source) const {
  std::vector<std::uint8_t> header(psx::kHeaderSize, 0);
  const std::string_view name = ps1::NameOf(source);
  std::memcpy(header.data(), name.data(), std::min(name.size(), psx::kNameSize));
  return header;
}
