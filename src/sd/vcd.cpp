#include "sd/vcd.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "sd/game_id.h"

namespace sd {

namespace {

// The primary volume descriptor, from its sector's first data byte.
constexpr std::size_t kPvdType = 0;               // 1
constexpr std::size_t kPvdMagic = 1;              // "CD001"
constexpr std::size_t kPvdVersion = 6;            // 1
constexpr std::size_t kPvdBlockSize = 128;        // both-endian 16-bit: 2,048
constexpr std::size_t kPvdRootRecord = 156;       // the root directory's record, 34 bytes
constexpr std::string_view kMagic = "CD001";

// A directory record, from its first byte.
constexpr std::size_t kRecordLength = 0;
constexpr std::size_t kRecordExtent = 2;          // both-endian 32-bit: first sector
constexpr std::size_t kRecordSize = 10;           // both-endian 32-bit: bytes
constexpr std::size_t kRecordFlags = 25;          // bit 1: a directory
constexpr std::size_t kRecordNameLength = 32;
constexpr std::size_t kRecordName = 33;
constexpr std::size_t kRecordMinimum = 34;        // a record with a one-byte name
constexpr std::uint8_t kFlagDirectory = 0x02;

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// A directory record's place: its first sector and its size in bytes.
struct Extent {
  std::uint32_t sector = 0;
  std::uint32_t bytes = 0;
};

Extent ExtentOf(std::span<const std::uint8_t> record) {
  return {Le32(record, kRecordExtent), Le32(record, kRecordSize)};
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// True for "SYSTEM.CNF" with or without its version ";1", in any letter case.
bool IsSystemCnf(std::string_view name) {
  constexpr std::string_view kName = "SYSTEM.CNF";
  if (const std::size_t semi = name.find(';'); semi != std::string_view::npos) name = name.substr(0, semi);
  if (name.size() != kName.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (Upper(name[i]) != kName[i]) return false;
  return true;
}

class VcdReader {
 public:
  explicit VcdReader(const io::ByteSource& source) : source_(source) {}
  DiscId Run();

 private:
  // Where a disc sector's data starts in the file, the pregap found counted in.
  std::uint64_t DataOffset(std::uint64_t sector) const {
    return kVcdHeaderBytes + (sector + shift_) * kRawSectorBytes + kSectorDataOffset;
  }
  bool ReadSector(std::uint64_t sector, std::span<std::uint8_t> out) {
    if (DataOffset(sector) + out.size() > source_.size()) return false;
    ++result_.sectorsRead;
    return source_.ReadAt(DataOffset(sector), out);
  }
  bool Fail(std::string problem) {
    result_.problem = std::move(problem);
    return false;
  }
  bool FindDescriptor(Extent& root);
  bool FindSystemCnf(const Extent& root, Extent& file);

  const io::ByteSource& source_;
  std::uint64_t shift_ = 0;  // sectors of pregap before the disc's sector 0
  DiscId result_;
};

bool VcdReader::FindDescriptor(Extent& root) {
  if (source_.size() < kVcdHeaderBytes + (kDescriptorSector + 1) * kRawSectorBytes)
    return Fail("too short for a disc image: " + std::to_string(source_.size()) + " bytes");
  // The descriptor's first bytes at each sector where it may be; the whole sector once found.
  std::array<std::uint8_t, kPvdVersion + 1> peek{};
  for (std::uint32_t at = kDescriptorSector; at < kDescriptorSectors; ++at) {
    const std::uint64_t offset = kVcdHeaderBytes + at * kRawSectorBytes + kSectorDataOffset;
    if (offset + kSectorDataBytes > source_.size()) break;
    if (!source_.ReadAt(offset, peek)) return Fail("can't be read");
    if (peek[kPvdType] != 1 || std::string_view(reinterpret_cast<const char*>(&peek[kPvdMagic]), kMagic.size()) != kMagic ||
        peek[kPvdVersion] != 1)
      continue;
    shift_ = at - kDescriptorSector;
    std::vector<std::uint8_t> pvd(kSectorDataBytes);
    if (!ReadSector(kDescriptorSector, pvd)) return Fail("can't be read");
    const std::uint32_t blockSize = pvd[kPvdBlockSize] | static_cast<std::uint32_t>(pvd[kPvdBlockSize + 1]) << 8;
    if (blockSize != kSectorDataBytes)
      return Fail("its volume descriptor gives blocks of " + std::to_string(blockSize) + " bytes, not 2,048");
    const std::span<const std::uint8_t> record(&pvd[kPvdRootRecord], kRecordMinimum);
    if (record[kRecordLength] < kRecordMinimum || !(record[kRecordFlags] & kFlagDirectory))
      return Fail("its volume descriptor holds no root directory");
    root = ExtentOf(record);
    return true;
  }
  return Fail("no ISO 9660 volume descriptor in its first " + std::to_string(kDescriptorSectors) + " sectors");
}

bool VcdReader::FindSystemCnf(const Extent& root, Extent& file) {
  // Records never cross a sector's end; a zero length byte pads to the next sector.
  const std::uint64_t sectors = (static_cast<std::uint64_t>(root.bytes) + kSectorDataBytes - 1) / kSectorDataBytes;
  std::vector<std::uint8_t> data(kSectorDataBytes);
  for (std::uint64_t s = 0; s < sectors && s < kMaxRootSectors; ++s) {
    if (!ReadSector(root.sector + s, data))
      return Fail("its root directory (sector " + std::to_string(root.sector + s) + ") lies past the image's end");
    for (std::size_t at = 0; at + kRecordMinimum <= data.size();) {
      const std::size_t length = data[at + kRecordLength];
      if (length == 0) break;
      const std::size_t nameLength = data[at + kRecordNameLength];
      if (length < kRecordMinimum || at + length > data.size() || kRecordName + nameLength > length)
        return Fail("its root directory holds a broken record at byte " + std::to_string(s * kSectorDataBytes + at));
      const std::string_view name(reinterpret_cast<const char*>(&data[at + kRecordName]), nameLength);
      if (!(data[at + kRecordFlags] & kFlagDirectory) && IsSystemCnf(name)) {
        file = ExtentOf(std::span<const std::uint8_t>(&data[at], length));
        return true;
      }
      at += length;
    }
  }
  return Fail("no SYSTEM.CNF in its root directory");
}

DiscId VcdReader::Run() {
  Extent root, cnf;
  if (!FindDescriptor(root) || !FindSystemCnf(root, cnf)) return std::move(result_);
  std::vector<std::uint8_t> text(std::min<std::uint64_t>(cnf.bytes, kMaxSystemCnfBytes));
  if (!ReadSector(cnf.sector, text)) {
    Fail("its SYSTEM.CNF (sector " + std::to_string(cnf.sector) + ") lies past the image's end");
    return std::move(result_);
  }
  result_.id = BootIdOf(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
  if (result_.id.empty()) Fail("its SYSTEM.CNF names no game on a BOOT line");
  return std::move(result_);
}

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::string BootIdOf(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key(Trim(line.substr(0, eq)));
    for (char& c : key) c = Upper(c);
    if (key != "BOOT") continue;
    std::string id = DeviceId(Trim(line.substr(eq + 1)));
    for (char& c : id) c = Upper(c);
    return IsProductCode(id) ? id : std::string();
  }
  return {};
}

DiscId ReadVcdGameId(const io::ByteSource& source) { return VcdReader(source).Run(); }

DiscId ReadVcdGameIdFile(const std::string& path) {
  const io::SourcePtr source = io::OpenSource(path);
  if (!source) return {{}, "can't be opened", 0};
  return ReadVcdGameId(*source);
}

}  // namespace sd
