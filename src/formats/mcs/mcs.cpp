#include "formats/mcs/mcs.h"

#include <algorithm>

#include "io/path.h"
#include "model/bytes.h"

bool LooksLikeMcs(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  return ps1::LooksLikeSaveFile(head, fileSize, ps1::kFrameSize) &&
         bytes::GetU32LE(head.data() + ps1::kSizeOffset) == fileSize - ps1::kFrameSize;
}

LoadResult CMcs::ReadNames(const ps1::SaveFile& file, const std::string& fileName, Named& named) {
  ps1::DirFrame frame;
  std::copy_n(file.Header().begin(), frame.bytes.size(), frame.bytes.begin());
  if (frame.Size() != file.Blocks().size()) {
    refusal = "The directory frame gives the save " + std::to_string(frame.Size()) +
              " bytes, but the file holds " + std::to_string(file.Blocks().size()) + ".";
    return LoadResult::kInvalid;
  }
  named.name = frame.Name();
  if (named.name.empty()) named.name = ps1::NameFromPcFile(std::string(io::StemOf(fileName)));
  named.frame = frame;
  return LoadResult::kOk;
}

std::vector<std::uint8_t> CMcs::MakeHeader(const CSaveGame& source) const {
  const ps1::DirFrame frame = ps1::FrameFor(source);
  return std::vector<std::uint8_t>(frame.bytes.begin(), frame.bytes.end());
}
