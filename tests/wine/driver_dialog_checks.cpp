#include "resources/resource_ids.h"
#include "tests/wine/driver.h"

namespace driver {
namespace {

// How long a text must stay as it is to count as unchanged.
constexpr DWORD PANEL_STAYS_MS = 700;
constexpr int ROW_VALUES[] = {IDC_ROW1_VALUE, IDC_ROW2_VALUE, IDC_ROW3_VALUE};
constexpr int ROW_CONTROLS[] = {IDC_ROW1_VALUE, IDC_ROW2_VALUE, IDC_ROW3_VALUE,
                                IDC_ROW1_LABEL, IDC_ROW2_LABEL, IDC_ROW3_LABEL};

struct ChildSearch {
  const std::wstring* text;
  bool found;
};

BOOL CALLBACK matchChild(HWND child, LPARAM context) {
  auto& search = *reinterpret_cast<ChildSearch*>(context);
  search.found = windowText(child) == *search.text;
  return search.found ? FALSE : TRUE;
}

}  // namespace

bool checkPanel(Test& test, const Sim& sim, const std::wstring& expected, DWORD timeoutMs) {
  std::wstring shown;
  if (waitForPanel(sim, expected, timeoutMs, shown)) {
    return true;
  }
  return checkText(test, "status panel", shown, expected);
}

void checkPanelStays(Test& test, const Sim& sim, const std::wstring& expected) {
  Sleep(PANEL_STAYS_MS);
  std::wstring shown;
  check(test, readEditText(GetDlgItem(sim.dialog, IDC_STATUS_PANEL), shown),
        "the dialog does not answer");
  checkText(test, "status panel (unchanged)", shown, expected);
}

void checkReadout(Test& test, const Sim& sim, const char* name, const char* value) {
  const bool shown = waitForReadout(sim, name, value, STATE_TIMEOUT_MS);
  check(test, shown, "simulator \"%s\" is \"%s\", expected \"%s\"", name,
        readoutValue(sim, name).c_str(), value);
}

void checkRowsClosed(Test& test, const Sim& sim) {
  for (const int id : ROW_VALUES) {
    checkText(test, "version row value", controlText(sim.dialog, id), L"0.0.0");
  }
  for (const int id : ROW_CONTROLS) {
    check(test, !controlEnabled(sim.dialog, id), "version row control %d is enabled", id);
  }
}

void checkRowsShow(Test& test, const Sim& sim, const wchar_t* unit, const wchar_t* bootloader,
                   const wchar_t* esc, const wchar_t* unitLabel) {
  checkText(test, "first row value", controlText(sim.dialog, IDC_ROW1_VALUE), unit);
  checkText(test, "second row value", controlText(sim.dialog, IDC_ROW2_VALUE), bootloader);
  checkText(test, "third row value", controlText(sim.dialog, IDC_ROW3_VALUE), esc);
  checkText(test, "first row label", controlText(sim.dialog, IDC_ROW1_LABEL), unitLabel);
  for (const int id : ROW_CONTROLS) {
    check(test, controlEnabled(sim.dialog, id), "version row control %d is disabled", id);
  }
}

void checkUpdateEnabled(Test& test, const Sim& sim, bool enabled) {
  check(test, controlEnabled(sim.dialog, IDC_UPDATE) == enabled, "Update is %s",
        enabled ? "disabled" : "enabled");
}

bool hasChildWithText(HWND dialog, const std::wstring& text) {
  ChildSearch search{&text, false};
  EnumChildWindows(dialog, matchChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace driver
