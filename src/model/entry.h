// The in-memory save: one directory entry per record, the root first.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// The memory card's 8-byte timestamp. The same eight bytes are stored unchanged in
// .psu headers and .xps records: reserved, second, minute, hour, day, month, then the
// full year as a 16-bit little-endian number.
struct EntryTime {
  std::uint8_t reserved = 0;  // 0 in every time the program makes; others pass through
  std::uint8_t second = 0;
  std::uint8_t minute = 0;
  std::uint8_t hour = 0;
  std::uint8_t day = 0;    // 1-31
  std::uint8_t month = 0;  // 1-12
  std::uint16_t year = 0;  // full year, 2007 is 0x07D7

  static constexpr std::size_t kSize = 8;

  static EntryTime FromBytes(const std::uint8_t* p);
  void ToBytes(std::uint8_t* p) const;
  // The console's clock now (Japan time, model/console_clock.h), whatever the PC's time zone.
  static EntryTime Now();

  friend bool operator==(const EntryTime&, const EntryTime&) = default;
};

// The 16 mode flags. The model keeps a 32-bit word; .psu headers carry all 32 bits.
namespace EntryMode {
inline constexpr std::uint32_t kRead = 0x0001;
inline constexpr std::uint32_t kWrite = 0x0002;
inline constexpr std::uint32_t kExecute = 0x0004;
inline constexpr std::uint32_t kCopyProtected = 0x0008;
inline constexpr std::uint32_t kFile = 0x0010;
inline constexpr std::uint32_t kDirectory = 0x0020;
inline constexpr std::uint32_t kPreserved = 0x0080;
inline constexpr std::uint32_t kPdaFile = 0x0800;
inline constexpr std::uint32_t kPs1 = 0x1000;
inline constexpr std::uint32_t kHidden = 0x4000;
inline constexpr std::uint32_t kPs2 = 0x8000;

// What the program gives a directory and a file that it creates.
inline constexpr std::uint32_t kNewDirectory = 0x8427;
inline constexpr std::uint32_t kNewFile = 0x8497;

inline bool IsDirectory(std::uint32_t mode) { return (mode & kDirectory) != 0; }
}  // namespace EntryMode

// The most files one save folder can hold: each entry of a card directory takes half of a
// 1 KiB cluster, an 8 MiB card has 8,192 clusters, and "." and ".." take two entries. No
// loader takes more, however many a file claims.
inline constexpr std::uint32_t kMaxSaveFiles = 8192 * 2 - 2;

inline constexpr std::size_t kNameChars = 32;    // characters a name may have
// What a loader keeps of a 32-byte name field in `name`: a folder's name whole (a game
// looks for its save under all 32 characters), a file's first 31, its title holding all
// 32 (see SaveEntry::FullName).
inline constexpr std::size_t kFolderNameKept = 32;
inline constexpr std::size_t kFileNameKept = 31;
inline constexpr std::size_t kNameField = 34;    // the name buffer, always NUL-terminated
inline constexpr std::size_t kTitleField = 68;   // title and rawTitle buffers

// Where a file entry's bytes are: exactly `size` of them are taken from there.
//  - InContainer: one range of the save's own container file, from dataOffset;
//  - ContainerExtents: several ranges of the container, read one after another (a file
//    stored as a chain of clusters in a memory-card image), from the container's bytes
//    when the card holds them in memory;
//  - FromDisk: the whole PC file diskPath (added or replaced by the user);
//  - InMemory: bytes decompressed at load time, the entry's own or a slice of a buffer
//    that the save's entries share (a payload decoded once is not copied apart).
// Paths keep every character; offsets are 64-bit.
struct InContainer {
  std::uint64_t dataOffset = 0;
};
struct Extent {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  friend bool operator==(const Extent&, const Extent&) = default;
};
// Adds `length` bytes from offset to `extents`: to its last extent, where they follow it.
inline void AppendExtent(std::vector<Extent>& extents, std::uint64_t offset, std::uint64_t length) {
  if (!extents.empty() && extents.back().offset + extents.back().length == offset)
    extents.back().length += length;
  else
    extents.push_back({offset, length});
}
// A whole container held in memory, each piece read from its file the first time it is
// asked for. Each implementation says whether threads may read it at once.
class HeldBytes {
 public:
  virtual ~HeldBytes() = default;
  virtual std::uint64_t size() const = 0;
  // The n bytes at offset, read first if they were not yet; null when they lie past the
  // end or can't be read.
  virtual const std::uint8_t* Bytes(std::uint64_t offset, std::size_t n) const = 0;
  // The first `size` bytes of `extents` are about to be asked for: what of them is not read
  // yet may be read now, at once.
  virtual void Prefetch(const std::vector<Extent>& extents, std::uint64_t size) const {
    (void)extents;
    (void)size;
  }
};

struct ContainerExtents {
  std::vector<Extent> extents;
  // The whole container as read once (offsets index into it); null: read from the file.
  std::shared_ptr<const HeldBytes> held = nullptr;
};
struct FromDisk {
  std::string diskPath;
};
struct InMemory {
  InMemory() = default;
  InMemory(std::vector<std::uint8_t> bytes) : data(std::move(bytes)) {}  // NOLINT: implicit on purpose
  InMemory(std::shared_ptr<const std::vector<std::uint8_t>> buffer, std::size_t from)
      : shared(std::move(buffer)), offset(from) {}

  std::vector<std::uint8_t> data;  // the entry's own bytes, unless `shared` is set
  std::shared_ptr<const std::vector<std::uint8_t>> shared;
  std::size_t offset = 0;  // where the entry's bytes begin in `shared`

  // The bytes from the entry's start to the end of what is held.
  std::span<const std::uint8_t> Bytes() const {
    if (!shared) return data;
    const std::size_t from = std::min(offset, shared->size());
    return std::span<const std::uint8_t>(shared->data() + from, shared->size() - from);
  }
};
using EntrySource = std::variant<InContainer, ContainerExtents, FromDisk, InMemory>;

// One directory entry.
struct SaveEntry {
  std::uint32_t mode = 0;
  // File: its data length. Root: the directory's entry count as the card counts it, files + 2.
  std::uint32_t size = 0;
  EntryTime created;
  EntryTime modified;
  std::array<char, kNameField> name{};
  // Root: the save's title as ASCII. File: normally a copy of its name.
  std::array<char, kTitleField> title{};
  // Root: the title bytes as icon.sys stores them (Shift-JIS). File: like title.
  std::array<char, kTitleField> rawTitle{};
  std::uint32_t aux1 = 0;        // carried over from X-Port records
  std::uint32_t aux2 = 0;
  EntrySource source;            // where the `size` bytes of a file are

  // The PC file the bytes are, or nullptr.
  const std::string* DiskPath() const;
  // The bytes held in memory, or nullptr.
  std::optional<std::span<const std::uint8_t>> Data() const;
  // Where the bytes start in the save's container, when they are one range of it.
  std::optional<std::uint64_t> DataOffset() const;

  std::string_view Name() const;
  std::string_view Title() const;
  std::string_view RawTitle() const;
  // A file's whole name. Loaders keep at most 31 characters in `name`, but a file's title
  // holds its container field whole: a 32-character name (legal on a card) is its title.
  // Writers put this into what they write, so that no name loses its last character.
  std::string_view FullName() const;
};

// Position 0 is the root, positions 1..n the files in directory order; "." and ".."
// have no records. The root's size is always n + 2.
using EntryTable = std::vector<SaveEntry>;

// The text in a fixed field, up to its first NUL.
std::string_view FieldText(std::span<const char> field);

// Copies text into a fixed field: at most maxChars characters, stopping at a NUL in the
// text, the rest of the field filled with NULs. maxChars is cut so that a NUL always fits.
void SetField(std::span<char> field, std::string_view text, std::size_t maxChars);

// Copies a name field of a container (bytes up to its first NUL, at most srcLen) into a
// fixed field with at most maxChars characters.
void SetFieldFromBytes(std::span<char> field, const std::uint8_t* src, std::size_t srcLen,
                       std::size_t maxChars);
