#include "ui/win32/dialog_geometry.h"

namespace esc {
namespace {

constexpr std::int32_t LOGO_GAP = 20;
// Keeps the logo clear of the dialog's right edge: the gap plus a margin.
constexpr std::int32_t LOGO_RIGHT_RESERVE = 45;

}  // namespace

Placement placeLogo(std::int32_t bitmapWidth, std::int32_t bitmapHeight, const ScreenRect& dialog,
                    const ScreenRect& group, std::int32_t dialogFrameWidth,
                    std::int32_t captionHeight) {
  Placement logo{};
  logo.x = group.right - dialog.left - dialogFrameWidth + LOGO_GAP;
  logo.y = group.top - dialog.top - captionHeight;
  if (bitmapWidth <= 0 || bitmapHeight <= 0) {
    return logo;
  }
  const std::int32_t halfWidth = bitmapWidth >> 1;
  const std::int32_t room = dialog.right - group.right - LOGO_RIGHT_RESERVE;
  logo.width = halfWidth < room ? halfWidth : room;
  // Division first, in single precision, truncated towards zero: the height never rounds
  // up past the bitmap's proportion.
  const float scale = static_cast<float>(logo.width) / static_cast<float>(bitmapWidth);
  logo.height = static_cast<std::int32_t>(scale * static_cast<float>(bitmapHeight));
  return logo;
}

Placement placeProgressWindow(const ScreenRect& dialog) {
  Placement window{};
  window.x = dialog.left + ((dialog.right - dialog.left) >> 1) - (PROGRESS_WINDOW_WIDTH >> 1);
  window.y = dialog.top + ((dialog.bottom - dialog.top) >> 1) - (PROGRESS_WINDOW_HEIGHT >> 1);
  window.width = PROGRESS_WINDOW_WIDTH;
  window.height = PROGRESS_WINDOW_HEIGHT;
  return window;
}

}  // namespace esc
