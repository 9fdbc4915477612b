// A still picture of an icon: shape 0, lit by its icon.sys, over the icon.sys background.
//
// The picture is square, `size` pixels a side. Its background mixes the four corner
// colours of icon.sys across the picture (pixel x, y takes x / (size - 1) of the right
// corners and y / (size - 1) of the bottom ones), each 0..0x80 scaled to 0..255 (some
// icon.sys store 0..255 values: anything past 0x80 gives 255).
//
// The model is seen from the front, without perspective: the x, y bounding box of shape 0
// is scaled by one factor so that its longer side spans size - 2 * (size / 16) pixels,
// and centred. A pixel belongs to a triangle when its centre does; the nearest triangle
// (smallest z) wins. The picture is opaque: the background alpha is left to the caller.
//
// Each vertex is lit as  base x (ambient + sum of max(0, N . L_i) x lightColour_i),  base
// being the vertex colour (0x80 = 1) times the texel, N the normal and L_i the icon.sys
// light directions with y and z flipped into the icon's axes; both are normalised. The
// light factors are interpolated across each triangle and applied to the texel under each
// pixel; the result is clamped to 255. An icon without a texture takes white texels, so
// its vertex colours alone show.
//
// What the browser does is not published; where icons disagree with the common reading
// this drawer takes the safe one: vertex colour components above 0x80 count as 0x80 (some
// icons store 0xFF), and light and ambient components are clamped to 0..1 (some icon.sys
// store 255.0 for "full"), so no icon comes out white. NaN and infinite values count as 0.
#pragma once

#include "icon/icon_file.h"
#include "icon/icon_result.h"
#include "icon/icon_sys_fields.h"
#include "icon/picture.h"

namespace icon {

inline constexpr int kMinPictureSize = 32;
inline constexpr int kMaxPictureSize = 512;

// RGBA pixels, top row first, all opaque; kPictureSize for a size outside 32..512.
// Threads may draw at once: each keeps its own depth buffer from one picture to the next.
// A large picture is drawn in part on the thread io::Beside keeps.
Result<Picture> RenderIcon(const Icon& icon, const IconSysFields& lighting, int size);

// The instructions a picture is drawn with: the widest this processor has (what
// RenderIcon uses), or the x86-64 baseline. Both give the same picture.
enum class Instructions { kBest, kBaseline };
// How a picture's rows are shared out: in two bands drawn at once, the lower one on a
// second core when one is free, where the picture is worth it (large, with many
// triangles: what RenderIcon does), in one band, or in two bands always. All give the
// same picture.
enum class Bands { kByWork, kOne, kTwo };
Result<Picture> RenderIcon(const Icon& icon, const IconSysFields& lighting, int size, Instructions instructions,
                           Bands bands = Bands::kByWork);
// The picture of the icon turned by `yaw` radians about its vertical axis, as the console's
// browser turns the selected save's icon: scaled and placed so that it keeps one size and
// place at every angle, its normals turned with it under the same lights.
Result<Picture> RenderTurnedIcon(const Icon& icon, const IconSysFields& lighting, int size, float yaw);

// Whether kBest draws with wider instructions than the baseline (AVX2) here.
bool DrawsWide();

}  // namespace icon
