#include "icon/png.h"

#include <limits>

#include "io/output_file.h"

// The one copy of stb_image_write in the program. It writes through our callback only:
// files go through OutputFile like every other write.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace icon {

namespace {

void Collect(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(context);
  const auto* p = static_cast<const std::uint8_t*>(data);
  out->insert(out->end(), p, p + size);
}

}  // namespace

Result<std::vector<std::uint8_t>> EncodePng(const Picture& picture) {
  const std::size_t maxSide = std::numeric_limits<int>::max() / 4;
  if (picture.width <= 0 || picture.height <= 0 ||
      static_cast<std::size_t>(picture.width) > maxSide ||
      picture.rgba.size() / 4 / static_cast<std::size_t>(picture.width) !=
          static_cast<std::size_t>(picture.height) ||
      picture.rgba.size() % (4 * static_cast<std::size_t>(picture.width)) != 0)
    return Error{Fault::kEncodeFailed, "the picture's size and pixels disagree"};
  std::vector<std::uint8_t> out;
  if (!stbi_write_png_to_func(&Collect, &out, picture.width, picture.height, 4,
                              picture.rgba.data(), picture.width * 4))
    return Error{Fault::kEncodeFailed, "the PNG encoder failed"};
  return out;
}

Result<Done> WritePng(const std::string& path, const Picture& picture) {
  auto png = EncodePng(picture);
  if (!png) return png.error();
  io::OutputFile file(path, false);
  file.Write(png.value());
  if (file.Commit() != io::Committed::kWritten) return Error{Fault::kWriteFailed, "cannot write " + path};
  return Done{};
}

}  // namespace icon
