#include "formats/ps1raw/ps1raw.h"

#include "io/safe_name.h"

bool LooksLikePs1Raw(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  return ps1::LooksLikeSaveFile(head, fileSize, 0);
}

std::optional<std::string> ps1raw::FileName(std::string_view cardFileName) {
  if (cardFileName.empty() || io::SafeName(cardFileName) != cardFileName) return std::nullopt;
  return std::string(cardFileName);
}

LoadResult CPs1Raw::ReadNames(const ps1::SaveFile&, const std::string& fileName, Named& named) {
  named.name = ps1::NameFromPcFile(fileName);
  return LoadResult::kOk;
}

std::vector<std::uint8_t> CPs1Raw::MakeHeader(const CSaveGame&) const { return {}; }
