// What the main dialog paints, read back from the screen: only the third version row is
// red, and the logo stands where its placement rule puts it, its green key left out.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "tests/wine/driver_tests.h"

namespace driver {
namespace {

// The logo bitmap's size in pixels, and the part of it that is not background.
constexpr LONG LOGO_WIDTH = 1772;
constexpr LONG LOGO_HEIGHT = 263;
constexpr double ARTWORK_LEFT = 106.0 / LOGO_WIDTH;
constexpr double ARTWORK_RIGHT = 1689.0 / LOGO_WIDTH;
constexpr double ARTWORK_TOP = 30.0 / LOGO_HEIGHT;
constexpr double ARTWORK_BOTTOM = 249.0 / LOGO_HEIGHT;
// Scaling picks whole source pixels, so an edge may land a pixel or two off.
constexpr LONG EDGE_SLACK = 2;

const Settings READY_UNIT = {{L"ESCSIM_UNIT_VERSION", L"1.2.3"},
                             {L"ESCSIM_BOOTLOADER_VERSION", L"1.2"},
                             {L"ESCSIM_ESC_VERSION", L"1.0"}};

RECT screenRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

long countPixels(const ScreenCapture& capture, bool (*matches)(std::uint32_t pixel)) {
  return static_cast<long>(std::count_if(capture.pixels.begin(), capture.pixels.end(), matches));
}

long redTextPixels(Test& test, const Sim& sim, int control) {
  ScreenCapture capture;
  if (!check(test, captureScreen(screenRect(GetDlgItem(sim.dialog, control)), capture),
             "could not read control %d from the screen", control)) {
    return -1;
  }
  return countPixels(capture, isTextRed);
}

// Where the dialog is to draw the logo, in screen coordinates: right of the version group
// box by 20 pixels and level with its top (the window-to-client step takes off the frame
// width and the caption height), at most half the bitmap wide, with its aspect ratio.
RECT expectedLogo(HWND dialog) {
  const RECT window = screenRect(dialog);
  const RECT group = screenRect(GetDlgItem(dialog, IDC_VERSION_GROUP));
  const LONG width = std::min(LOGO_WIDTH >> 1, window.right - group.right - 45);
  const auto height = static_cast<LONG>(static_cast<float>(width) / static_cast<float>(LOGO_WIDTH) *
                                        static_cast<float>(LOGO_HEIGHT));
  POINT origin{group.right - window.left - GetSystemMetrics(SM_CXDLGFRAME) + 20,
               group.top - window.top - GetSystemMetrics(SM_CYCAPTION)};
  ClientToScreen(dialog, &origin);
  return RECT{origin.x, origin.y, origin.x + width, origin.y + height};
}

}  // namespace

void onlyTheThirdVersionRowIsRed(Test& test) {
  Sim sim;
  if (startSim(test, sim, READY_UNIT) &&
      checkPanel(test, sim, expectedText(esc::Language::English, esc::MSG_READY),
                 STATE_TIMEOUT_MS)) {
    Sleep(500);
    for (const int control : {IDC_ROW3_LABEL, IDC_ROW3_VALUE}) {
      const long red = redTextPixels(test, sim, control);
      check(test, red > 10, "control %d has %ld red pixels, expected its text in red", control,
            red);
    }
    for (const int control : {IDC_ROW1_LABEL, IDC_ROW2_LABEL, IDC_ROW1_VALUE, IDC_ROW2_VALUE}) {
      const long red = redTextPixels(test, sim, control);
      check(test, red == 0, "control %d has %ld red pixels", control, red);
    }
    // The group box's caption: the strip above the first row.
    RECT caption = screenRect(GetDlgItem(sim.dialog, IDC_VERSION_GROUP));
    caption.bottom = screenRect(GetDlgItem(sim.dialog, IDC_ROW1_LABEL)).top;
    ScreenCapture group;
    if (check(test, captureScreen(caption, group), "could not read the group box's caption")) {
      check(test, countPixels(group, isTextRed) == 0, "the group box's caption has red pixels");
    }
    ScreenCapture panel;
    if (check(test, captureScreen(screenRect(GetDlgItem(sim.dialog, IDC_STATUS_PANEL)), panel),
              "could not read the status panel from the screen")) {
      check(test, countPixels(panel, isTextRed) == 0, "the status panel has red pixels");
    }
  }
  stopSim(sim);
}

void logoStandsRightOfTheGroupBoxWithoutItsGreenKey(Test& test) {
  Sim sim;
  if (!startSim(test, sim, READY_UNIT) ||
      !checkPanel(test, sim, expectedText(esc::Language::English, esc::MSG_READY),
                  STATE_TIMEOUT_MS)) {
    stopSim(sim);
    return;
  }
  Sleep(500);
  const RECT logo = expectedLogo(sim.dialog);
  note("logo expected at %ld,%ld size %ldx%ld", logo.left, logo.top, logo.right - logo.left,
       logo.bottom - logo.top);
  // Everything right of the group box down to the panel's caption: the logo and the
  // dialog's background.
  const RECT group = screenRect(GetDlgItem(sim.dialog, IDC_VERSION_GROUP));
  RECT client{};
  GetClientRect(sim.dialog, &client);
  POINT clientEnd{client.right, client.bottom};
  POINT clientOrigin{0, 0};
  ClientToScreen(sim.dialog, &clientEnd);
  ClientToScreen(sim.dialog, &clientOrigin);
  const RECT area{group.right, clientOrigin.y, clientEnd.x, group.bottom};
  ScreenCapture capture;
  if (!check(test, captureScreen(area, capture), "could not read the dialog from the screen")) {
    stopSim(sim);
    return;
  }
  RECT found{area.right, area.bottom, area.left, area.top};
  long green = 0;
  long black = 0;
  for (LONG y = area.top; y < area.bottom; ++y) {
    for (LONG x = area.left; x < area.right; ++x) {
      const std::uint32_t pixel = capture.at(x, y);
      green += isKeyGreen(pixel) ? 1 : 0;
      black += isNearBlack(pixel) ? 1 : 0;
      if (isLogoRed(pixel)) {
        found = RECT{std::min(found.left, x), std::min(found.top, y), std::max(found.right, x + 1),
                     std::max(found.bottom, y + 1)};
      }
    }
  }
  check(test, green == 0, "%ld pixels of the green key were drawn", green);
  // The artwork's darkest red is far from black: black pixels would be the key blended
  // into the artwork's edge.
  check(test, black == 0, "%ld black pixels around the logo", black);
  if (!check(test, found.left < found.right, "no logo right of the group box")) {
    stopSim(sim);
    return;
  }
  const double width = logo.right - logo.left;
  const double height = logo.bottom - logo.top;
  const auto closeTo = [](LONG shown, double expected) {
    return std::labs(shown - std::lround(expected)) <= EDGE_SLACK;
  };
  check(test,
        found.left >= logo.left && found.top >= logo.top && found.right <= logo.right &&
            found.bottom <= logo.bottom,
        "the artwork spans %ld,%ld to %ld,%ld, outside the logo's place", found.left, found.top,
        found.right, found.bottom);
  // The swoosh's thin tip may fall between the pixels that the scaling samples, so the
  // right edge is only asked to come close.
  check(test,
        closeTo(found.left, logo.left + ARTWORK_LEFT * width) &&
            closeTo(found.top, logo.top + ARTWORK_TOP * height) &&
            closeTo(found.bottom, logo.top + ARTWORK_BOTTOM * height) &&
            found.right >= logo.left + std::lround(0.95 * ARTWORK_RIGHT * width),
        "the artwork spans %ld,%ld to %ld,%ld; expected about %.0f,%.0f to %.0f,%.0f", found.left,
        found.top, found.right, found.bottom, logo.left + ARTWORK_LEFT * width,
        logo.top + ARTWORK_TOP * height, logo.left + ARTWORK_RIGHT * width,
        logo.top + ARTWORK_BOTTOM * height);
  stopSim(sim);
}

}  // namespace driver
