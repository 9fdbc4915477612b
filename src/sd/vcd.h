// The game ID inside a POPStarter disc image (.VCD), read from the disc's SYSTEM.CNF.
//
// A .VCD is a 1 MiB header (the disc's track list, not needed here), then the disc's raw
// sectors of 2,352 bytes as a BIN/CUE dump has them; a PS1 data sector is Mode 2, its 2,048
// bytes of data 24 bytes into it. The disc is ISO 9660: its primary volume descriptor
// (type 1, "CD001") is sector 16, or later when a converter wrote a pregap, so it is
// looked for by its signature in the first kDescriptorSectors sectors. The descriptor's
// root directory record leads to the root directory, whose record for SYSTEM.CNF leads to
// the file; its line "BOOT = cdrom:\SLUS_005.94;1" gives the ID "SLUS-00594".
//
// Only those three things are read, each capped: a hostile image costs at most the
// signature scan, kMaxRootSectors sectors of directory and one sector of SYSTEM.CNF.
#pragma once

#include <cstdint>
#include <string>

#include "io/byte_source.h"

namespace sd {

inline constexpr std::uint64_t kVcdHeaderBytes = 0x100000;
inline constexpr std::uint64_t kRawSectorBytes = 2352;
inline constexpr std::uint64_t kSectorDataOffset = 24;  // 12 sync, 4 header, 8 subheader
inline constexpr std::uint64_t kSectorDataBytes = 2048;
inline constexpr std::uint32_t kDescriptorSector = 16;
inline constexpr std::uint32_t kDescriptorSectors = 320;  // 16, and a 150-sector pregap with room to spare
inline constexpr std::uint32_t kMaxRootSectors = 32;      // 64 KiB of directory records
inline constexpr std::uint64_t kMaxSystemCnfBytes = kSectorDataBytes;

struct DiscId {
  std::string id;       // "SLUS-00594"; empty when none was found
  std::string problem;  // why there is none: the image's fault, at the point it was found
  std::uint32_t sectorsRead = 0;  // sectors whose data was read (the scan's peeks not counted)
};

// The game ID of the disc image; `source` is read only where the steps above need it.
DiscId ReadVcdGameId(const io::ByteSource& source);
// The same for the file at `path`.
DiscId ReadVcdGameIdFile(const std::string& path);

// The ID a SYSTEM.CNF's BOOT line names ("SLUS-00594"), empty for none; the text is the
// file's bytes.
std::string BootIdOf(std::string_view systemCnf);

}  // namespace sd
