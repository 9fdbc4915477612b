// Shape 0 of an icon as Wavefront OBJ text, and the material file that names its texture.
//
// Positions and normals are the stored values divided by 4096, in the icon's own axes
// (x right, y down, z away from the viewer). Texture coordinates are u / 4096 and
// 1 - v / 4096, clamped to 0..1: an OBJ texture's v runs up from the bottom row, and the
// texture picture is written with the icon's first stored row at the top. One face per
// triangle, in stored order. An icon without a texture gets its vertex colours (0x80 = 1)
// after each position, an extension most OBJ readers take, and a material without a map.
#pragma once

#include <string>
#include <string_view>

#include "icon/icon_file.h"

namespace icon {

// The OBJ text; mtlName is the material file's name as the OBJ refers to it.
std::string IconToObj(const Icon& icon, std::string_view mtlName);

// The material file: material "icon", its diffuse map the texture picture's file name
// (none for an icon without a texture).
std::string IconToMtl(const Icon& icon, std::string_view textureName);

}  // namespace icon
