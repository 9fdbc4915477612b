// Raw PS1 single saves: no header, just the blocks from "SC". The PC file's name is the
// save's card file name, so a raw save is known by its contents and written under that
// name (no extension).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/ps1/ps1_file.h"


bool LooksLikePs1Raw(std::span<const std::uint8_t> head, std::uint64_t fileSize);

namespace ps1raw {
// The PC file name of the raw save named `cardFileName`: the name itself, when it can be a
// PC file's name as it is (see io::SafeName); none otherwise.
std::optional<std::string> FileName(std::string_view cardFileName);
}  // namespace ps1raw

class CPs1Raw : public CPs1File {
 public:
  CPs1Raw() : CPs1File(kKindPs1Raw, 0) {}

 protected:
  // The name is the PC file's (ps1::NameFromPcFile).
  LoadResult ReadNames(const ps1::SaveFile& file, const std::string& fileName, Named& named) override;
  std::vector<std::uint8_t> MakeHeader(const CSaveGame& source) const override;
};
