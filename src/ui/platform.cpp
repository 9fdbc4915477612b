#include "ui/platform.h"

#include "io/path.h"

namespace ui {

ChosenFile ChosenFileFromPath(std::string path) {
  ChosenFile chosen;
  chosen.nameOffset = io::FileNameOffset(path);
  // Just after the name's last dot; the path's end when the name has none.
  chosen.extensionOffset = path.size() - io::ExtensionOf(path).size();
  chosen.path = std::move(path);
  return chosen;
}

std::optional<ChosenFile> FirstChosenFile(std::vector<std::string> paths) {
  if (paths.empty()) return std::nullopt;
  return ChosenFileFromPath(std::move(paths.front()));
}

}  // namespace ui
