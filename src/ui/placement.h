// Where the card window opens: beside the main window, on the main window's screen.
//
// A user expects the new window next to the one they were working in, covering none of it,
// and their own window left where they put it. So the card window goes to the right of the
// main window when it fits there, else to its left; only when it fits on neither side but
// the two fit side by side on the screen does the main window move over (the pair centred),
// since a card window over the list hides what it was opened from. When the two can't fit
// side by side, the card window is put against the right edge of the screen, over part of
// the main window. Its top is the main window's, kept on the screen.
#pragma once

#include <optional>

namespace ui {

// Pixels between the main window and the card window.
inline constexpr int kPlacementGap = 8;

// A window's outer frame, or a screen's work area (without its task bars).
struct ScreenRect {
  int x = 0, y = 0, width = 0, height = 0;
  int Right() const { return x + width; }    // just past the last column
  int Bottom() const { return y + height; }  // just past the last row
};

struct ScreenPoint {
  int x = 0, y = 0;
};

struct CardPlacement {
  ScreenPoint card;                 // the card window's top left corner
  std::optional<ScreenPoint> main;  // where the main window moves, when it moves
};

// `work`: the work area of the main window's screen; `main`: the main window's frame;
// `cardWidth` x `cardHeight`: the card window's frame.
CardPlacement PlaceCardWindow(const ScreenRect& work, const ScreenRect& main, int cardWidth, int cardHeight);

}  // namespace ui
