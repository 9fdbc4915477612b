#include "ui/placement.h"

#include <algorithm>

namespace ui {

CardPlacement PlaceCardWindow(const ScreenRect& work, const ScreenRect& main, int cardWidth, int cardHeight) {
  CardPlacement placed;
  placed.card.y = std::max(work.y, std::min(main.y, work.Bottom() - cardHeight));
  if (main.Right() + kPlacementGap + cardWidth <= work.Right()) {
    placed.card.x = main.Right() + kPlacementGap;
  } else if (main.x - kPlacementGap - cardWidth >= work.x) {
    placed.card.x = main.x - kPlacementGap - cardWidth;
  } else if (main.width + kPlacementGap + cardWidth <= work.width) {
    const int left = work.x + (work.width - main.width - kPlacementGap - cardWidth) / 2;
    placed.main = ScreenPoint{left, main.y};
    placed.card.x = left + main.width + kPlacementGap;
  } else {
    placed.card.x = std::max(work.x, work.Right() - cardWidth);
  }
  return placed;
}

}  // namespace ui
