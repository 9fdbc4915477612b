#include "icon/draw_icons.h"

#include <atomic>
#include <optional>

#include "icon/render.h"
#include "io/beside.h"

namespace icon {

namespace {

Result<Picture> Draw(const Result<SaveIcon>& loaded, int size, Bands bands) {
  if (!loaded) return loaded.error();
  return RenderIcon(loaded.value().icon, loaded.value().iconSys, size, Instructions::kBest, bands);
}

}  // namespace

std::vector<Result<Picture>> DrawIcons(std::span<const IconLoader> icons, int size) {
  // Every slot is written once, by the thread that took its icon.
  std::vector<Result<Picture>> drawn(icons.size(), Error{Fault::kReadFailed, "not drawn"});
  if (icons.empty()) return drawn;
  const std::size_t paired = icons.size() / 2 * 2;
  std::optional<Result<SaveIcon>> odd;
  std::atomic<std::size_t> next{0};
  const auto draw = [&] {
    for (std::size_t i; (i = next++) < paired;) drawn[i] = Draw(icons[i](), size, Bands::kByWork);
  };
  if (paired > 0) {
    io::Beside other(draw);
    draw();
    if (paired < icons.size()) odd = icons.back()();
    other.Wait();
  }
  if (paired == icons.size()) return drawn;
  if (!odd) odd = icons.back()();
  drawn.back() = Draw(*odd, size, Bands::kTwo);
  return drawn;
}

}  // namespace icon
