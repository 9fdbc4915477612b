#include "model/entry.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "model/console_clock.h"

EntryTime EntryTime::FromBytes(const std::uint8_t* p) {
  EntryTime t;
  t.reserved = p[0];
  t.second = p[1];
  t.minute = p[2];
  t.hour = p[3];
  t.day = p[4];
  t.month = p[5];
  t.year = static_cast<std::uint16_t>(p[6] | (p[7] << 8));
  return t;
}

void EntryTime::ToBytes(std::uint8_t* p) const {
  p[0] = reserved;
  p[1] = second;
  p[2] = minute;
  p[3] = hour;
  p[4] = day;
  p[5] = month;
  p[6] = static_cast<std::uint8_t>(year);
  p[7] = static_cast<std::uint8_t>(year >> 8);
}

EntryTime EntryTime::Now() { return ConsoleTimeAt(static_cast<std::int64_t>(std::time(nullptr))); }

std::string_view SaveEntry::Name() const { return FieldText(name); }
std::string_view SaveEntry::Title() const { return FieldText(title); }
std::string_view SaveEntry::RawTitle() const { return FieldText(rawTitle); }

std::string_view FieldText(std::span<const char> field) {
  std::size_t n = 0;
  while (n < field.size() && field[n] != '\0') ++n;
  return std::string_view(field.data(), n);
}

void SetField(std::span<char> field, std::string_view text, std::size_t maxChars) {
  if (field.empty()) return;
  maxChars = std::min(maxChars, field.size() - 1);
  std::size_t n = std::min({text.size(), maxChars, text.find('\0')});
  std::memcpy(field.data(), text.data(), n);
  std::fill(field.begin() + static_cast<std::ptrdiff_t>(n), field.end(), '\0');
}

void SetFieldFromBytes(std::span<char> field, const std::uint8_t* src, std::size_t srcLen,
                       std::size_t maxChars) {
  SetField(field, std::string_view(reinterpret_cast<const char*>(src), srcLen), maxChars);
}

std::string_view SaveEntry::FullName() const {
  std::string_view name = Name();
  std::string_view title = Title();
  if (name.size() == kFileNameKept && title.size() == kNameChars && title.starts_with(name))
    return title;
  return name;
}

const std::string* SaveEntry::DiskPath() const {
  const FromDisk* pc = std::get_if<FromDisk>(&source);
  return pc ? &pc->diskPath : nullptr;
}

std::optional<std::span<const std::uint8_t>> SaveEntry::Data() const {
  const InMemory* memory = std::get_if<InMemory>(&source);
  if (!memory) return std::nullopt;
  return memory->Bytes().first(std::min<std::size_t>(size, memory->Bytes().size()));
}

std::optional<std::uint64_t> SaveEntry::DataOffset() const {
  const InContainer* range = std::get_if<InContainer>(&source);
  if (!range) return std::nullopt;
  return range->dataOffset;
}
