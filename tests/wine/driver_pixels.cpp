// What the program draws, read back from the screen: the colour of the version rows, the
// logo's place and its transparent key, and which icon a message box shows.
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wine/driver.h"

namespace driver {
namespace {

constexpr DWORD ICON_TIMEOUT_MS = 3000;
// Mean difference per colour channel above which an icon does not count as the one shown.
constexpr int ICON_MATCH_LIMIT = 24;

int red(std::uint32_t pixel) { return static_cast<int>((pixel >> 16) & 0xFFu); }
int green(std::uint32_t pixel) { return static_cast<int>((pixel >> 8) & 0xFFu); }
int blue(std::uint32_t pixel) { return static_cast<int>(pixel & 0xFFu); }

// A top-down 32-bit DIB section selected into a memory DC; the pixels read 0x00RRGGBB.
struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  const std::uint32_t* bits = nullptr;
  int width = 0;
  int height = 0;
};

bool openCanvas(Canvas& canvas, int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  canvas.dc = CreateCompatibleDC(nullptr);
  canvas.bitmap = CreateDIBSection(canvas.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (canvas.dc == nullptr || canvas.bitmap == nullptr) {
    return false;
  }
  canvas.previous = SelectObject(canvas.dc, canvas.bitmap);
  canvas.bits = static_cast<const std::uint32_t*>(bits);
  canvas.width = width;
  canvas.height = height;
  return true;
}

void closeCanvas(Canvas& canvas) {
  if (canvas.previous != nullptr) {
    SelectObject(canvas.dc, canvas.previous);
  }
  if (canvas.bitmap != nullptr) {
    DeleteObject(canvas.bitmap);
  }
  if (canvas.dc != nullptr) {
    DeleteDC(canvas.dc);
  }
  canvas = Canvas{};
}

std::vector<std::uint32_t> pixelsOf(const Canvas& canvas) {
  GdiFlush();
  const std::size_t count =
      static_cast<std::size_t>(canvas.width) * static_cast<std::size_t>(canvas.height);
  return std::vector<std::uint32_t>(canvas.bits, canvas.bits + count);
}

// One system icon drawn at the given size on black and on white: where both agree, the
// icon is opaque and that is its colour.
struct IconPicture {
  std::vector<std::uint32_t> onBlack;
  std::vector<std::uint32_t> onWhite;
};

bool drawIcon(const wchar_t* id, int width, int height, IconPicture& picture) {
  const HICON icon = LoadIconW(nullptr, id);
  Canvas canvas;
  if (icon == nullptr || !openCanvas(canvas, width, height)) {
    closeCanvas(canvas);
    return false;
  }
  RECT all{0, 0, width, height};
  FillRect(canvas.dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  DrawIconEx(canvas.dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  picture.onBlack = pixelsOf(canvas);
  FillRect(canvas.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DrawIconEx(canvas.dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  picture.onWhite = pixelsOf(canvas);
  closeCanvas(canvas);
  return true;
}

// Mean channel difference between the screen and the icon's opaque pixels; a large value
// when the icon has none.
int iconDistance(const std::vector<std::uint32_t>& shown, const IconPicture& picture) {
  long long total = 0;
  long long counted = 0;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if ((picture.onBlack[i] & 0xFFFFFFu) != (picture.onWhite[i] & 0xFFFFFFu)) {
      continue;
    }
    const std::uint32_t want = picture.onBlack[i];
    total += std::abs(red(shown[i]) - red(want)) + std::abs(green(shown[i]) - green(want)) +
             std::abs(blue(shown[i]) - blue(want));
    counted += 3;
  }
  return counted == 0 ? 255 : static_cast<int>(total / counted);
}

struct IconSearch {
  HWND found;
};

BOOL CALLBACK findIconStatic(HWND child, LPARAM context) {
  wchar_t className[16] = {};
  GetClassNameW(child, className, 16);
  const auto style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
  if (_wcsicmp(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
      IsWindowVisible(child)) {
    reinterpret_cast<IconSearch*>(context)->found = child;
    return FALSE;
  }
  return TRUE;
}

const char* iconName(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::None:
      return "no icon";
    case BoxIcon::Error:
      return "the error icon";
    case BoxIcon::Warning:
      return "the warning icon";
    case BoxIcon::Information:
      return "the information icon";
    case BoxIcon::Question:
      return "the question icon";
    case BoxIcon::Unknown:
      break;
  }
  return "an icon of its own";
}

}  // namespace

bool captureScreen(const RECT& area, ScreenCapture& capture) {
  capture = ScreenCapture{};
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  Canvas canvas;
  if (width <= 0 || height <= 0 || !openCanvas(canvas, width, height)) {
    closeCanvas(canvas);
    return false;
  }
  const HDC screen = GetDC(nullptr);
  const BOOL copied = BitBlt(canvas.dc, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  ReleaseDC(nullptr, screen);
  if (copied) {
    capture.area = area;
    capture.pixels = pixelsOf(canvas);
  }
  closeCanvas(canvas);
  return copied != FALSE;
}

std::uint32_t ScreenCapture::at(LONG x, LONG y) const {
  const auto width = static_cast<std::size_t>(area.right - area.left);
  return pixels[static_cast<std::size_t>(y - area.top) * width +
                static_cast<std::size_t>(x - area.left)];
}

bool isLogoRed(std::uint32_t pixel) {
  return red(pixel) >= 90 && red(pixel) - green(pixel) >= 60 && red(pixel) - blue(pixel) >= 50;
}

bool isTextRed(std::uint32_t pixel) {
  return red(pixel) >= 180 && green(pixel) <= 90 && blue(pixel) <= 90;
}

bool isKeyGreen(std::uint32_t pixel) {
  return green(pixel) >= 200 && red(pixel) <= 60 && blue(pixel) <= 60;
}

bool isNearBlack(std::uint32_t pixel) { return red(pixel) + green(pixel) + blue(pixel) < 90; }

BoxIcon shownIcon(const MessageBoxView& box) {
  IconSearch search{nullptr};
  EnumChildWindows(box.window, findIconStatic, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) {
    return BoxIcon::None;
  }
  RECT area{};
  GetWindowRect(search.found, &area);
  ScreenCapture capture;
  if (!captureScreen(area, capture)) {
    return BoxIcon::Unknown;
  }
  const struct {
    const wchar_t* id;
    BoxIcon icon;
  } candidates[] = {{IDI_ERROR, BoxIcon::Error},
                    {IDI_WARNING, BoxIcon::Warning},
                    {IDI_INFORMATION, BoxIcon::Information},
                    {IDI_QUESTION, BoxIcon::Question}};
  BoxIcon best = BoxIcon::Unknown;
  int bestDistance = ICON_MATCH_LIMIT + 1;
  for (const auto& candidate : candidates) {
    IconPicture picture;
    if (!drawIcon(candidate.id, area.right - area.left, area.bottom - area.top, picture)) {
      continue;
    }
    const int distance = iconDistance(capture.pixels, picture);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = candidate.icon;
    }
  }
  return best;
}

bool checkBoxIcon(Test& test, const MessageBoxView& box, BoxIcon expected) {
  BoxIcon shown = BoxIcon::Unknown;
  // The box may not have painted its icon yet when it is first seen.
  waitUntil(ICON_TIMEOUT_MS, [&] {
    shown = shownIcon(box);
    return shown == expected;
  });
  return check(test, shown == expected, "the box \"%s\" shows %s, expected %s",
               printable(box.caption).c_str(), iconName(shown), iconName(expected));
}

void checkOkBox(Test& test, const MessageBoxView& box, BoxIcon icon, const char* which) {
  check(test, box.hasOk && !box.hasCancel && !box.hasYes && !box.hasNo,
        "%s has other buttons than OK", which);
  checkBoxIcon(test, box, icon);
}

}  // namespace driver
