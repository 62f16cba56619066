#include "resources/resource_ids.h"
#include "ui/win32/dialog_geometry.h"
#include "ui/win32/main_dialog.h"
#include "ui/win32/system_libraries.h"

namespace esc {
namespace {

// The logo's background is pure green; those pixels are left out when it is drawn.
constexpr UINT LOGO_TRANSPARENT_COLOUR = RGB(0, 255, 0);

ScreenRect screenRectOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return ScreenRect{rect.left, rect.top, rect.right, rect.bottom};
}

// The whole bitmap, scaled into the placement. The scaling is done here, taking whole
// source pixels (COLORONCOLOR), and the transparent copy is then made at the same size:
// a TransparentBlt that shrinks by itself may combine neighbouring pixels the way the
// destination's stretch mode says (Wine's does, with BLACKONWHITE's AND), and red ANDed
// with the green key is black, which would ring the artwork with a black fringe.
void drawLogo(HDC target, HBITMAP logo, const BITMAP& size, const Placement& place,
              TransparentBltFunction draw) {
  const HDC source = CreateCompatibleDC(target);
  const HGDIOBJ previousSource = SelectObject(source, logo);
  const HDC scaled = CreateCompatibleDC(target);
  const HBITMAP scaledLogo = CreateCompatibleBitmap(target, place.width, place.height);
  const HGDIOBJ previousScaled = SelectObject(scaled, scaledLogo);

  SetStretchBltMode(scaled, COLORONCOLOR);
  StretchBlt(scaled, 0, 0, place.width, place.height, source, 0, 0, size.bmWidth, size.bmHeight,
             SRCCOPY);
  draw(target, place.x, place.y, place.width, place.height, scaled, 0, 0, place.width, place.height,
       LOGO_TRANSPARENT_COLOUR);

  SelectObject(scaled, previousScaled);
  DeleteObject(scaledLogo);
  DeleteDC(scaled);
  SelectObject(source, previousSource);
  DeleteDC(source);
}

}  // namespace

// The bitmap is loaded for each paint and released at its end: nothing is held between
// paints.
void PaintLogo(HWND window) {
  PAINTSTRUCT paint;
  const HDC target = BeginPaint(window, &paint);
  const HBITMAP logo = LoadBitmapW(appInstance, MAKEINTRESOURCEW(IDB_LOGO));
  if (logo != nullptr) {
    BITMAP size{};
    GetObjectW(logo, static_cast<int>(sizeof size), &size);
    const Placement place =
        placeLogo(size.bmWidth, size.bmHeight, screenRectOf(window),
                  screenRectOf(GetDlgItem(window, IDC_VERSION_GROUP)),
                  GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYCAPTION));
    const TransparentBltFunction draw = transparentBlt();
    if (draw != nullptr && place.width > 0 && place.height > 0) {
      drawLogo(target, logo, size, place, draw);
    }
    DeleteObject(logo);
  }
  EndPaint(window, &paint);
}

}  // namespace esc
