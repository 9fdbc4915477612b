// A PS1 save's icon as a picture of any size: its 16 x 16 frames scaled without smoothing
// (each icon pixel becomes a square of pixels), one frame or all of them side by side.
#pragma once

#include "formats/ps1/ps1_header.h"
#include "icon/picture.h"

namespace icon {

inline constexpr int kMinPs1PictureSize = ps1::kIconSide;
inline constexpr int kMaxPs1PictureSize = 512;

// One icon frame (0-based, below header.iconFrames) as 16 x 16 RGBA pixels: each palette
// colour's 5-bit channels widened to 8 bits; 0x0000 fully transparent, every other colour
// opaque. An empty picture for a frame the header doesn't have.
Picture Ps1Frame(const ps1::SaveHeader& header, int frame);

// `picture` scaled to width x height, each output pixel the nearest source pixel's.
Picture ScaleNearest(const Picture& picture, int width, int height);

// The save's icon as a size x size picture of its first frame, or, with allFrames, the
// header's frames left to right in a picture size high and size wide for each.
Picture Ps1Icon(const ps1::SaveHeader& header, int size, bool allFrames);

}  // namespace icon
