#include "formats/ps1/ps1_frame.h"

#include <algorithm>
#include <cstring>

#include "model/bytes.h"

namespace ps1 {

std::uint8_t XorCheck(std::span<const std::uint8_t, kFrameSize> frame) {
  std::uint8_t x = 0;
  for (std::size_t i = 0; i < kXorOffset; ++i) x ^= frame[i];
  return x;
}

bool IsCardFileName(std::string_view name) {
  if (name.empty() || name.size() > kCardNameChars) return false;
  return std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::uint32_t DirFrame::State() const { return bytes::GetU32LE(bytes.data() + kStateOffset); }
std::uint32_t DirFrame::Size() const { return bytes::GetU32LE(bytes.data() + kSizeOffset); }
std::uint16_t DirFrame::Next() const { return bytes::GetU16LE(bytes.data() + kNextOffset); }

std::string DirFrame::Name() const {
  const auto* p = reinterpret_cast<const char*>(bytes.data() + kNameOffset);
  return std::string(p, std::find(p, p + kCardNameChars, '\0'));
}

bool DirFrame::XorValid() const { return XorCheck(bytes) == bytes[kXorOffset]; }

void DirFrame::SetState(std::uint32_t state) { bytes::PutU32LE(bytes.data() + kStateOffset, state); }
void DirFrame::SetSize(std::uint32_t size) { bytes::PutU32LE(bytes.data() + kSizeOffset, size); }
void DirFrame::SetNext(std::uint16_t next) { bytes::PutU16LE(bytes.data() + kNextOffset, next); }

void DirFrame::SetName(std::string_view name) {
  std::uint8_t* field = bytes.data() + kNameOffset;
  std::memset(field, 0, kNameField);
  std::memcpy(field, name.data(), std::min(name.size(), kCardNameChars));
}

void DirFrame::Seal() { bytes[kXorOffset] = XorCheck(bytes); }

DirFrame DirFrame::FirstOf(std::string_view name, std::uint32_t size) {
  DirFrame frame;
  frame.SetState(kStateFirst);
  frame.SetSize(size);
  frame.SetNext(kNoNext);
  frame.SetName(name);
  frame.Seal();
  return frame;
}

}  // namespace ps1
