#include "model/icon_sys.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <variant>

#include "io/text.h"
#include "model/bytes.h"
#include "model/entry_data.h"
#include "model/save_game.h"

namespace {

constexpr std::string_view kMagic = "PS2D";
constexpr std::size_t kLineBreakOffset = 6;

// Second byte -> output for first byte 0x81; 0 means unmapped.
constexpr std::array<std::uint8_t, 256> MakeTable81() {
  std::array<std::uint8_t, 256> t{};
  t[0x40] = ' ';  t[0x41] = ',';  t[0x42] = '.';  t[0x43] = ',';
  t[0x44] = '.';  t[0x46] = ':';  t[0x47] = ';';  t[0x48] = '?';
  t[0x49] = '!';  t[0x4C] = 0xB4; t[0x4D] = '`';  t[0x4F] = '^';
  t[0x51] = '_';  t[0x5A] = '0';  t[0x5C] = '-';  t[0x5D] = '-';
  t[0x65] = '\''; t[0x66] = '\''; t[0x67] = '"';  t[0x68] = '"';
  t[0x69] = '(';  t[0x6A] = ')';  t[0x6D] = '[';  t[0x6E] = ']';
  t[0x6F] = '{';  t[0x7B] = '+';  t[0x7C] = '-';  t[0x7E] = '*';
  t[0x80] = '/';  t[0x81] = '=';  t[0x83] = '<';  t[0x84] = '>';
  t[0x8B] = 0xB0; t[0x8E] = 0xB0; t[0x90] = '$';  t[0x93] = '%';
  t[0x94] = '#';  t[0x95] = '&';  t[0x96] = '*';  t[0x97] = '@';
  t[0xC8] = '&';  t[0xC9] = '|';  t[0xCA] = '!';
  return t;
}

// Second byte -> output for first byte 0x82: full-width digits and letters.
constexpr std::array<std::uint8_t, 256> MakeTable82() {
  std::array<std::uint8_t, 256> t{};
  for (int i = 0; i < 10; ++i) t[0x4F + i] = static_cast<std::uint8_t>('0' + i);
  for (int i = 0; i < 26; ++i) t[0x60 + i] = static_cast<std::uint8_t>('A' + i);
  for (int i = 0; i < 26; ++i) t[0x81 + i] = static_cast<std::uint8_t>('a' + i);
  return t;
}

constexpr auto kTable81 = MakeTable81();
constexpr auto kTable82 = MakeTable82();

// A title line in UTF-8. Printable ASCII other than 0x5C and 0x7E (a yen sign and an
// overline in some Shift-JIS tables) reads the same in all of them, so most titles need
// no converter.
std::string DecodeLine(std::string_view raw) {
  const bool plain = std::all_of(raw.begin(), raw.end(), [](char c) { return c >= 0x20 && c < 0x7E && c != 0x5C; });
  return plain ? std::string(raw) : io::ShiftJisToUtf8(raw);
}

// The title field up to its first NUL; a field without one loses its last byte.
void CopyTitle(const std::uint8_t* field, std::span<char> destination) {
  std::size_t n = 0;
  while (n < kIconSysTitleField - 1 && field[n] != 0) ++n;
  std::memcpy(destination.data(), field, n);
  destination[n] = '\0';
}

// True when every byte of the entry lies inside its container without a read: extents of a
// card that cover it. Elsewhere (a PC file, a range of a file) only reading it all tells
// that it is not cut short.
bool WholeIsThere(const SaveEntry& entry, const io::ByteSource* container) {
  const auto* extents = std::get_if<ContainerExtents>(&entry.source);
  if (!extents) return false;
  const std::uint64_t size = extents->held ? extents->held->size() : container ? container->size() : 0;
  std::uint64_t covered = 0;
  for (const Extent& x : extents->extents) {
    if (x.offset > size || x.length > size - x.offset) return false;
    covered += x.length;
  }
  return covered >= entry.size;
}

// The first n bytes of the save's icon.sys, found as ReadIconSys finds it (only those read
// where the whole file is known to be there).
std::optional<std::vector<std::uint8_t>> ReadIconSysHead(const CSaveGame& save, std::size_t n) {
  if (!save.entries) return std::nullopt;
  EntryDataReader reader;
  std::vector<std::uint8_t> bytes;
  for (const SaveEntry& whole : *save.entries) {
    // Byte for byte, the NUL included: case matters.
    if (std::memcmp(whole.name.data(), kIconSysName.data(), kIconSysName.size() + 1) != 0) continue;
    if (whole.size != kIconSysSize) return std::nullopt;
    SaveEntry entry = whole;
    if (WholeIsThere(whole, save.container.get())) entry.size = static_cast<std::uint32_t>(n);
    bytes.clear();
    bytes.reserve(n);
    DataResult r = reader.Copy(entry, save.container.get(), [&bytes](std::span<const std::uint8_t> piece) {
      bytes.insert(bytes.end(), piece.begin(), piece.end());
      return true;
    });
    if (r != DataResult::kOk) continue;  // a file that is gone or cut short: the next one may do
    if (std::memcmp(bytes.data(), kMagic.data(), kMagic.size()) != 0) return std::nullopt;
    return bytes;
  }
  return std::nullopt;
}

// The bytes a title is read from: up to the title field's end, what a listing reads of
// each save.
constexpr std::size_t kTitleEnd = kIconSysTitleOffset + kIconSysTitleField;

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadIconSys(const CSaveGame& save) {
  return ReadIconSysHead(save, kIconSysSize);
}

int ReadIconSysTitle(const CSaveGame& save, std::span<char> destination) {
  if (destination.size() < kIconSysTitleField) return 0;
  std::optional<std::vector<std::uint8_t>> bytes = ReadIconSysHead(save, kTitleEnd);
  if (!bytes) return 0;
  CopyTitle(bytes->data() + kIconSysTitleOffset, destination);
  return 1;
}

char* TitleToAscii(std::span<const char> raw, std::span<char> destination) {
  if (destination.empty()) return destination.data();
  std::size_t in = 0;
  std::size_t out = 0;
  auto at = [&](std::size_t i) -> std::uint8_t {
    return i < raw.size() ? static_cast<std::uint8_t>(raw[i]) : 0;
  };
  while (at(in) != 0 && out + 1 < destination.size()) {
    std::uint8_t first = at(in);
    if (first < 0x80) {
      destination[out++] = static_cast<char>(first);
      ++in;
      continue;
    }
    std::uint8_t second = at(in + 1);
    if (second == 0) {  // a lone lead byte at the end stays as it is
      destination[out++] = static_cast<char>(first);
      ++in;
      break;
    }
    std::uint8_t mapped = 0;
    if (first == 0x81) mapped = kTable81[second];
    if (first == 0x82) mapped = kTable82[second];
    destination[out++] = static_cast<char>(mapped ? mapped : '_');
    in += 2;
  }
  destination[out] = '\0';
  return destination.data();
}

std::string FullTitle::Joined() const { return line2.empty() ? line1 : line1 + "\n" + line2; }

FullTitle ReadFullTitle(const CSaveGame& save) {
  FullTitle title;
  std::optional<std::vector<std::uint8_t>> bytes = ReadIconSysHead(save, kTitleEnd);
  if (!bytes) return title;
  const char* field = reinterpret_cast<const char*>(bytes->data() + kIconSysTitleOffset);
  std::size_t length = 0;
  while (length < kIconSysTitleField && field[length] != '\0') ++length;
  std::string_view raw(field, length);
  std::size_t split = bytes::GetU16LE(bytes->data() + kLineBreakOffset);
  title.found = true;
  if (split > 0 && split < raw.size()) {
    title.line1 = DecodeLine(raw.substr(0, split));
    title.line2 = DecodeLine(raw.substr(split));
  } else {
    title.line1 = DecodeLine(raw);
  }
  return title;
}
