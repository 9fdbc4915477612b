#include "ui/platform.h"

namespace ui {

ChosenFile ChosenFileFromPath(std::string path) {
  ChosenFile chosen;
  std::size_t slash = path.find_last_of("\\/");
  chosen.nameOffset = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = path.rfind('.');
  chosen.extensionOffset =
      dot == std::string::npos || dot < chosen.nameOffset ? path.size() : dot + 1;
  chosen.path = std::move(path);
  return chosen;
}

}  // namespace ui
