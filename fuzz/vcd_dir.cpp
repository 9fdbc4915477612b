// A POPStarter disc's directory from hostile bytes: the input is the disc from sector 16 on
// (2,048 bytes a sector), read as a .VCD whose header and first sectors are zeros that are
// never held in memory; the same bytes are read as a VMCDIR.TXT.
//
// What must hold: an ID found is a product code, and no ID comes with its reason; no more
// than the descriptor, kMaxRootSectors of root directory and one sector of SYSTEM.CNF are
// read; a VMCDIR.TXT followed names one folder inside POPS, as POPStarter takes it.
#include <algorithm>

#include "fuzz_support.h"
#include "io/byte_source.h"
#include "sd/game_id.h"
#include "sd/pops.h"
#include "sd/vcd.h"

namespace {

using namespace sd;

class DiscFromInput final : public io::ByteSource {
 public:
  explicit DiscFromInput(std::span<const std::uint8_t> in)
      : io::ByteSource("fuzz.VCD", kVcdHeaderBytes + (kDescriptorSector + in.size() / kSectorDataBytes + 1) * kRawSectorBytes), in_(in) {}
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    if (offset > size() || out.size() > size() - offset) return false;
    for (std::size_t i = 0; i < out.size(); ++i) {
      const std::uint64_t at = offset + i - kVcdHeaderBytes, sector = at / kRawSectorBytes, within = at % kRawSectorBytes;
      const std::uint64_t from = (sector - kDescriptorSector) * kSectorDataBytes + within - kSectorDataOffset;
      const bool data = offset + i >= kVcdHeaderBytes && sector >= kDescriptorSector && within >= kSectorDataOffset &&
                        within < kSectorDataOffset + kSectorDataBytes && from < in_.size();
      out[i] = data ? in_[from] : 0;
    }
    return true;
  }

 private:
  std::span<const std::uint8_t> in_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const DiscId disc = ReadVcdGameId(DiscFromInput({data, size}));
  if (!disc.id.empty() && !IsProductCode(disc.id)) fuzz::Require("the ID \"" + disc.id + "\"", "disc");
  if (disc.id.empty() == disc.problem.empty()) fuzz::Require("an ID and a reason, or neither", "disc");
  if (disc.sectorsRead > 2 + kMaxRootSectors) fuzz::Require(std::to_string(disc.sectorsRead) + " sectors read", "disc");

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const VmcDir dir = ParseVmcDir(text);
  const std::string& f = dir.folder;
  if (f.empty() == dir.problem.empty()) fuzz::Require("a folder and a reason, or neither", "VMCDIR.TXT");
  if (!f.empty() && (size > kMaxVmcDirBytes || f == "." || f == ".." || f.find_first_of("/\\:") != std::string::npos ||
                     std::any_of(f.begin(), f.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })))
    fuzz::Require("followed: \"" + f + "\"", "VMCDIR.TXT");
  return 0;
}
