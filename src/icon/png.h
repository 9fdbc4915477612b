// Pictures as PNG files: 8-bit RGBA, encoded by stb_image_write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "icon/icon_result.h"
#include "icon/picture.h"

namespace icon {

// The PNG bytes of a picture; kEncodeFailed when its size and pixels disagree.
Result<std::vector<std::uint8_t>> EncodePng(const Picture& picture);

// Writes the PNG to path through a temporary file beside it and a rename, so that a
// failed write leaves no half-written file under that name (kWriteFailed).
Result<Done> WritePng(const std::string& path, const Picture& picture);

}  // namespace icon
