#include "icon/icon_sys_fields.h"

#include <bit>
#include <cstring>
#include <string_view>

#include "model/bytes.h"

namespace icon {

namespace {

constexpr std::string_view kMagic = "PS2D";
constexpr std::string_view kTextMagic = "PS2X";

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

float F32At(const std::uint8_t* p) { return bytes::BitCast<float>(bytes::GetU32LE(p)); }

Vector3 VectorAt(const std::uint8_t* p) { return {F32At(p), F32At(p + 4), F32At(p + 8)}; }

ColourF ColourAt(const std::uint8_t* p) { return {F32At(p), F32At(p + 4), F32At(p + 8)}; }

}  // namespace

Result<IconSysFields> ParseIconSys(std::span<const std::uint8_t> bytes) {
  if (StartsWith(bytes, kTextMagic))
    return Error{Fault::kIconSysMagic,
                 "icon.sys is in the text form (PS2X), which names no 3D icon"};
  if (bytes.size() != sys::kSize)
    return Error{Fault::kIconSysSize, "icon.sys is " + std::to_string(bytes.size()) +
                                          " bytes; a PS2D icon.sys has 964"};
  if (!StartsWith(bytes, kMagic))
    return Error{Fault::kIconSysMagic, "icon.sys does not begin with PS2D"};

  const std::uint8_t* p = bytes.data();
  IconSysFields f;
  f.line2Offset = bytes::GetU16LE(p + sys::kLine2Offset);
  f.backgroundAlpha = bytes::GetU32LE(p + sys::kAlphaOffset);
  for (std::size_t i = 0; i < f.corners.size(); ++i) {
    const std::uint8_t* c = p + sys::kCornersOffset + i * sys::kVectorSize;
    f.corners[i] = {bytes::GetU32LE(c), bytes::GetU32LE(c + 4), bytes::GetU32LE(c + 8)};
  }
  for (std::size_t i = 0; i < 3; ++i) {
    f.lightDirections[i] = VectorAt(p + sys::kLightDirectionsOffset + i * sys::kVectorSize);
    f.lightColours[i] = ColourAt(p + sys::kLightColoursOffset + i * sys::kVectorSize);
  }
  f.ambient = ColourAt(p + sys::kAmbientOffset);
  std::memcpy(f.title.data(), p + sys::kTitleOffset, sys::kTitleSize);
  for (std::size_t i = 0; i < f.iconNames.size(); ++i) {
    std::string_view field(reinterpret_cast<const char*>(p + sys::kIconNamesOffset + i * sys::kIconNameSize),
                           sys::kIconNameSize);
    f.iconNames[i] = field.substr(0, field.find('\0'));
  }
  return f;
}

}  // namespace icon
