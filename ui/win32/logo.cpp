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
    const HDC source = CreateCompatibleDC(target);
    const HGDIOBJ previous = SelectObject(source, logo);

    const Placement place =
        placeLogo(size.bmWidth, size.bmHeight, screenRectOf(window),
                  screenRectOf(GetDlgItem(window, IDC_VERSION_GROUP)),
                  GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYCAPTION));
    const TransparentBltFunction draw = transparentBlt();
    if (draw != nullptr && place.width > 0 && place.height > 0) {
      draw(target, place.x, place.y, place.width, place.height, source, 0, 0, size.bmWidth,
           size.bmHeight, LOGO_TRANSPARENT_COLOUR);
    }

    SelectObject(source, previous);
    DeleteDC(source);
    DeleteObject(logo);
  }
  EndPaint(window, &paint);
}

}  // namespace esc
