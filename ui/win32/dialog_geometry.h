// Where the logo and the progress window go. Plain arithmetic on screen rectangles, kept
// apart from the window code so that it can be checked on any platform.
#pragma once

#include <cstdint>

namespace esc {

// A rectangle in screen pixels, as the platform reports window rectangles.
struct ScreenRect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};

struct Placement {
  std::int32_t x;
  std::int32_t y;
  std::int32_t width;
  std::int32_t height;
};

inline constexpr std::int32_t PROGRESS_WINDOW_WIDTH = 400;
inline constexpr std::int32_t PROGRESS_WINDOW_HEIGHT = 50;

// The logo's destination in the dialog's client area: 20 pixels right of the version
// group box and level with its top, at most half the bitmap's width, scaled with its
// aspect ratio. `dialog` is the whole window (caption and frame included) and `group`
// the group box, both in screen coordinates. A width or height of zero or less means
// there is no room and nothing is drawn.
Placement placeLogo(std::int32_t bitmapWidth, std::int32_t bitmapHeight, const ScreenRect& dialog,
                    const ScreenRect& group, std::int32_t dialogFrameWidth,
                    std::int32_t captionHeight);

// The progress window, 400 by 50 pixels, centred on the dialog's window rectangle.
Placement placeProgressWindow(const ScreenRect& dialog);

}  // namespace esc
