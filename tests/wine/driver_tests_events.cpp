// Device events that meet the dialog away from the plain start-up: units that arrive after
// a removal and are given up, other HID devices coming and going while the unit is open,
// removals named by a path the dialog must or must not take for the unit's, a unit whose
// identification fails, and the unit pulled while the update's first question is open.
#include <windows.h>
// dbt.h relies on the Windows types being declared first.
#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/sim_bus.h"
#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "tests/wine/driver_tests.h"
#include "ui/sim/sim_controls.h"

namespace driver {
namespace {

constexpr esc::Language EN = esc::Language::English;

// Starts with the supported unit ready, then pulls it: the dialog waits with 40020.
bool startThenUnplug(Test& test, Sim& sim) {
  if (!startReady(test, sim)) {
    return false;
  }
  postCommand(sim.unitWindow, esc::sim::IDC_SIM_UNPLUG);
  return checkPanel(test, sim, withInstructions(EN, esc::MSG_CONNECTION_LOST), STATE_TIMEOUT_MS);
}

bool setWrongMode(const Sim& sim) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(GetDlgItem(sim.unitWindow, esc::sim::IDC_SIM_WRONG_MODE), BM_SETCHECK,
                             BST_CHECKED, 0, SMTO_ABORTIFHUNG, 300, &result) != 0;
}

// Waits until the read-out line `name` differs from `before`; false when it does not.
bool readoutChanges(const Sim& sim, const char* name, const std::string& before) {
  return waitUntil(STATE_TIMEOUT_MS, [&] { return readoutValue(sim, name) != before; });
}

// The HID interface class, as the platform reports it in notifications.
constexpr GUID HID_INTERFACE_CLASS = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// Sends the dialog a device-interface notification from this process, as the platform
// would. `statedSize` is the record's own size field (0: header, path and terminator);
// the system carries that many bytes to the dialog.
bool sendDeviceChange(HWND dialog, WPARAM event, const std::u16string& path, DWORD statedSize = 0) {
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  std::vector<unsigned char> record(nameOffset + (path.size() + 1) * sizeof(char16_t), 0);
  DEV_BROADCAST_DEVICEINTERFACE_W header{};
  header.dbcc_size = statedSize != 0 ? statedSize : static_cast<DWORD>(record.size());
  header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  header.dbcc_classguid = HID_INTERFACE_CLASS;
  std::memcpy(record.data(), &header, nameOffset);
  std::memcpy(record.data() + nameOffset, path.data(), path.size() * sizeof(char16_t));
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(dialog, WM_DEVICECHANGE, event,
                             reinterpret_cast<LPARAM>(record.data()), SMTO_ABORTIFHUNG, 2000,
                             &result) != 0;
}

std::u16string withUpperCaseLetters(std::u16string path) {
  for (char16_t& unit : path) {
    if (unit >= u'a' && unit <= u'z') {
      unit = static_cast<char16_t>(unit - u'a' + u'A');
    }
  }
  return path;
}

}  // namespace

void givenUpUnitsArrivingAfterRemovalShowTheirHeading(Test& test) {
  struct Case {
    const char* name;
    bool wrongMode;
    const wchar_t* escStatus;
    esc::MessageId heading;
  };
  const Case cases[] = {
      {"wrong mode", true, L"3", esc::MSG_WRONG_MODE},
      {"no updatable ESC", false, L"0", esc::MSG_NO_UPDATABLE_ESC},
  };
  for (const Case& c : cases) {
    note("arriving: a unit in %s", c.name);
    Sim sim;
    if (startThenUnplug(test, sim)) {
      const std::string searches = readoutValue(sim, "device searches");
      check(test, !c.wrongMode || setWrongMode(sim), "could not tick the wrong mode");
      check(test, setControlText(sim.unitWindow, esc::sim::IDC_SIM_ESC_STATUS, c.escStatus),
            "could not set the ESC status in the simulator window");
      postCommand(sim.unitWindow, esc::sim::IDC_SIM_PLUG);
      check(test, readoutChanges(sim, "device searches", searches),
            "the arrival did not start a search");
      checkPanel(test, sim, withInstructions(EN, c.heading), STATE_TIMEOUT_MS);
      checkRowsClosed(test, sim);
      checkUpdateEnabled(test, sim, false);
      checkLinkOpen(test, sim, false);
    }
    stopSim(sim);
  }
}

void incompatibleEscArrivingAfterRemovalIsAnnouncedBeforeThePanelChanges(Test& test) {
  Sim sim;
  if (startThenUnplug(test, sim)) {
    check(test, setControlText(sim.unitWindow, esc::sim::IDC_SIM_MODEL, L"0x110FA0D3"),
          "could not set the model code in the simulator window");
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_PLUG);
    MessageBoxView box;
    if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box),
              "no information box")) {
      checkText(test, "box caption", box.caption, expectedText(EN, esc::MSG_INCOMPATIBLE_CAPTION));
      checkText(test, "box text", box.text, incompatibleText(EN));
      check(test, box.hasOk && !box.hasCancel && !box.hasYes && !box.hasNo,
            "the box has other buttons than OK");
      checkBoxIcon(test, box, BoxIcon::Information);
      std::wstring panel;
      check(test, readEditText(GetDlgItem(sim.dialog, IDC_STATUS_PANEL), panel),
            "the dialog does not answer while the box is open");
      checkText(test, "panel while the box is open", panel,
                withInstructions(EN, esc::MSG_CONNECTION_LOST));
      checkLinkOpen(test, sim, false);
      checkUpdateEnabled(test, sim, false);
      check(test, answerMessageBox(box, IDOK), "the box did not close");
    }
    checkPanel(test, sim, withInstructions(EN, esc::MSG_INCOMPATIBLE_HEADING), STATE_TIMEOUT_MS);
    checkRowsClosed(test, sim);
    checkUpdateEnabled(test, sim, false);
    checkLinkOpen(test, sim, false);
  }
  stopSim(sim);
}

void otherHidDevicesLeaveTheOpenUnitAlone(Test& test) {
  Sim sim;
  if (!startReady(test, sim)) {
    stopSim(sim);
    return;
  }
  checkLinkOpen(test, sim, true);
  const std::string searches = readoutValue(sim, "device searches");
  // Out, then in again: the removal names another path than the unit's, and an arrival
  // while the link is open starts no search.
  for (const char* plugged : {"no", "yes"}) {
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_OTHER_DEVICE);
    check(test, waitForReadout(sim, "other device plugged", plugged, STATE_TIMEOUT_MS),
          "the other device was not %s", *plugged == 'y' ? "plugged in" : "pulled");
    Sleep(500);
    std::wstring panel;
    check(test, readEditText(GetDlgItem(sim.dialog, IDC_STATUS_PANEL), panel),
          "the dialog does not answer");
    checkText(test, "status panel (unchanged)", panel, expectedText(EN, esc::MSG_READY));
    checkRowsShow(test, sim, L"1.2.3", L"1.2", L"1.0", L"TUNEPUCK");
    checkUpdateEnabled(test, sim, true);
    checkLinkOpen(test, sim, true);
  }
  check(test, readoutValue(sim, "device searches") == searches,
        "an arrival while the unit was open started a search (%s before, %s after)",
        searches.c_str(), readoutValue(sim, "device searches").c_str());
  stopSim(sim);
}

void removalOfTheUnitsPathInOtherLettersCaseClosesTheLink(Test& test) {
  Sim sim;
  if (!startReady(test, sim)) {
    stopSim(sim);
    return;
  }
  const std::u16string unitPath = esc::sim::makeSupportedUnit().path;
  std::u16string otherPath = unitPath;
  otherPath.back() = otherPath.back() == u'}' ? u']' : u'}';
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  const struct {
    const char* name;
    std::u16string path;
    DWORD statedSize;
  } ignored[] = {
      {"another path", otherPath, 0},
      {"the unit's path without its terminator inside the stated size", unitPath,
       static_cast<DWORD>(nameOffset + unitPath.size() * sizeof(char16_t))},
      {"a record too small for a path", unitPath, static_cast<DWORD>(nameOffset)},
      {"a record smaller than its header", unitPath, 8},
  };
  for (const auto& removal : ignored) {
    check(test,
          sendDeviceChange(sim.dialog, DBT_DEVICEREMOVECOMPLETE, removal.path, removal.statedSize),
          "the dialog did not take the removal of %s", removal.name);
    std::wstring panel;
    check(test, readEditText(GetDlgItem(sim.dialog, IDC_STATUS_PANEL), panel),
          "the dialog does not answer");
    checkText(test, removal.name, panel, expectedText(EN, esc::MSG_READY));
    checkUpdateEnabled(test, sim, true);
    checkLinkOpen(test, sim, true);
  }
  check(test,
        sendDeviceChange(sim.dialog, DBT_DEVICEREMOVECOMPLETE, withUpperCaseLetters(unitPath)),
        "the dialog did not take the removal");
  checkPanel(test, sim, withInstructions(EN, esc::MSG_CONNECTION_LOST), STATE_TIMEOUT_MS);
  checkRowsClosed(test, sim);
  checkUpdateEnabled(test, sim, false);
  checkLinkOpen(test, sim, false);
  stopSim(sim);
}

void unitWhoseIdentificationFailsAtStartupCountsAsNoUnit(Test& test) {
  Sim sim;
  if (startSim(test, sim, {{L"ESCSIM_FAULT", L"ident-lost"}})) {
    checkPanel(test, sim, withInstructions(EN, esc::MSG_NO_UNIT), STATE_TIMEOUT_MS);
    checkRowsClosed(test, sim);
    checkUpdateEnabled(test, sim, false);
    checkLinkOpen(test, sim, false);
    check(test, waitForReadout(sim, "faults waiting", "0", STATE_TIMEOUT_MS),
          "the identification was not tried");
  }
  stopSim(sim);
}

void unitWhoseIdentificationFailsAtArrivalStaysOpenUntilItsRemoval(Test& test) {
  Sim sim;
  if (!startSim(test, sim, {{L"ESCSIM_PLUGGED", L"0"}, {L"ESCSIM_FAULT", L"ident-lost"}}) ||
      !checkPanel(test, sim, withInstructions(EN, esc::MSG_NO_UNIT), STATE_TIMEOUT_MS)) {
    stopSim(sim);
    return;
  }
  const std::wstring noUnit = withInstructions(EN, esc::MSG_NO_UNIT);
  postCommand(sim.unitWindow, esc::sim::IDC_SIM_PLUG);
  check(test, waitForReadout(sim, "faults waiting", "0", STATE_TIMEOUT_MS),
        "the identification was not tried");
  // The unit was opened, its identification failed: nothing on the screen changes, and
  // the link is left open.
  checkLinkOpen(test, sim, true);
  Sleep(500);
  std::wstring panel;
  check(test, readEditText(GetDlgItem(sim.dialog, IDC_STATUS_PANEL), panel),
        "the dialog does not answer");
  checkText(test, "status panel (unchanged)", panel, noUnit);
  checkRowsClosed(test, sim);
  checkUpdateEnabled(test, sim, false);

  // While that link is open, arrivals are not looked at.
  const std::string searches = readoutValue(sim, "device searches");
  for (const char* plugged : {"no", "yes"}) {
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_OTHER_DEVICE);
    check(test, waitForReadout(sim, "other device plugged", plugged, STATE_TIMEOUT_MS),
          "the other device was not %s", *plugged == 'y' ? "plugged in" : "pulled");
  }
  Sleep(500);
  check(test, readoutValue(sim, "device searches") == searches,
        "an arrival started a search while the link was open");

  // Its removal is the unit's removal; the next arrival identifies it afresh.
  postCommand(sim.unitWindow, esc::sim::IDC_SIM_UNPLUG);
  checkPanel(test, sim, withInstructions(EN, esc::MSG_CONNECTION_LOST), STATE_TIMEOUT_MS);
  checkLinkOpen(test, sim, false);
  postCommand(sim.unitWindow, esc::sim::IDC_SIM_PLUG);
  checkPanel(test, sim, expectedText(EN, esc::MSG_READY), STATE_TIMEOUT_MS);
  checkUpdateEnabled(test, sim, true);
  stopSim(sim);
}

void unplugWhileTheConfirmationIsOpenFailsTheLockWithoutCodeLine(Test& test) {
  Sim sim;
  if (!startReady(test, sim)) {
    stopSim(sim);
    return;
  }
  checkLinkOpen(test, sim, true);
  const std::string requests = readoutValue(sim, "requests");
  pressButton(sim.dialog, IDC_UPDATE);
  MessageBoxView box;
  if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box),
            "no confirmation box")) {
    checkBoxIcon(test, box, BoxIcon::Warning);
    // The box's message loop carries the removal to the dialog.
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_UNPLUG);
    checkPanel(test, sim, withInstructions(EN, esc::MSG_CONNECTION_LOST), STATE_TIMEOUT_MS);
    checkRowsClosed(test, sim);
    checkUpdateEnabled(test, sim, false);
    checkLinkOpen(test, sim, false);
    check(test, answerMessageBox(box, IDOK), "the confirmation did not close");

    MessageBoxView error;
    if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, error), "no error box")) {
      checkText(test, "error box caption", error.caption,
                expectedText(EN, esc::MSG_UPDATE_FAILED_CAPTION));
      checkText(test, "error box text (no code line)", error.text,
                expectedText(EN, esc::MSG_LOCK_FAILED));
      check(test, error.hasOk && !error.hasCancel && !error.hasYes && !error.hasNo,
            "the error box has other buttons than OK");
      checkBoxIcon(test, error, BoxIcon::Error);
      check(test, answerMessageBox(error, IDOK), "the error box did not close");
    }
  }
  checkPanel(test, sim, expectedText(EN, esc::MSG_UPDATE_FAILED_NOTICE), STATE_TIMEOUT_MS);
  checkRowsClosed(test, sim);
  checkUpdateEnabled(test, sim, false);
  check(test, readoutValue(sim, "requests") == requests, "requests were sent: %s before, %s after",
        requests.c_str(), readoutValue(sim, "requests").c_str());
  check(test, readoutValue(sim, "system lock") == "off", "the system lock was set");
  stopSim(sim);
}

}  // namespace driver
