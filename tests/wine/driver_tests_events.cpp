// Device events that meet the dialog away from the plain start-up: units that arrive after
// a removal and are given up, other HID devices coming and going while the unit is open,
// removals named by a path the dialog must or must not take for the unit's, a unit whose
// identification fails, and the unit pulled while a question of the update is open.
#include <windows.h>
// dbt.h relies on the Windows types being declared first.
#include <dbt.h>

#include <cstddef>
#include <cstdlib>
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
// Unit information, ESC information and ESC identification.
constexpr unsigned long IDENTIFICATION_REQUESTS = 3;

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
      checkOkBox(test, box, BoxIcon::Information, "the box");
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
  struct Case {
    const char* question;
    const wchar_t* escVersion;  // 1.1, the target: OK leads to the version question
    esc::MessageId caption;
    int goOn;
  };
  const Case cases[] = {
      {"the confirmation", L"1.0", esc::MSG_CONFIRM_CAPTION, IDOK},
      {"the version question", L"1.1", esc::MSG_OLDER_FIRMWARE_CAPTION, IDYES},
  };
  for (const Case& c : cases) {
    note("the unit pulled while %s is open", c.question);
    Sim sim;
    if (!startReady(test, sim, {{L"ESCSIM_ESC_VERSION", c.escVersion}})) {
      stopSim(sim);
      continue;
    }
    checkLinkOpen(test, sim, true);
    const std::string requests = readoutValue(sim, "requests");
    MessageBoxView box;
    bool asked = true;
    if (c.goOn == IDOK) {
      pressButton(sim.dialog, IDC_UPDATE);
    } else {
      asked = startUpdate(test, sim);
    }
    if (asked && check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box),
                       "%s did not open", c.question)) {
      checkText(test, "question caption", box.caption, expectedText(EN, c.caption));
      checkBoxIcon(test, box, BoxIcon::Warning);
      // The removal is shown at once, while the box is still open.
      postCommand(sim.unitWindow, esc::sim::IDC_SIM_UNPLUG);
      checkReadout(test, sim, "unit plugged", "no");
      checkPanel(test, sim, withInstructions(EN, esc::MSG_CONNECTION_LOST), STATE_TIMEOUT_MS);
      checkLinkOpen(test, sim, false);
      checkRowsClosed(test, sim);
      checkUpdateEnabled(test, sim, false);
      check(test, IsWindowVisible(box.window) != FALSE, "%s closed with the removal", c.question);
      if (c.goOn == IDOK) {
        screenshot("question-removal");
      }
      check(test, answerMessageBox(box, c.goOn), "%s did not close", c.question);

      MessageBoxView error;
      if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, error),
                "no error box")) {
        checkText(test, "error box caption", error.caption,
                  expectedText(EN, esc::MSG_UPDATE_FAILED_CAPTION));
        checkText(test, "error box text (no code line)", error.text,
                  expectedText(EN, esc::MSG_LOCK_FAILED));
        checkOkBox(test, error, BoxIcon::Error, "the error box");
        checkRowsClosed(test, sim);
        checkUpdateEnabled(test, sim, false);
        checkLinkOpen(test, sim, false);
        check(test, answerMessageBox(error, IDOK), "the error box did not close");
      }
    }
    checkPanel(test, sim, expectedText(EN, esc::MSG_UPDATE_FAILED_NOTICE), STATE_TIMEOUT_MS);
    checkRowsClosed(test, sim);
    checkUpdateEnabled(test, sim, false);
    check(test, readoutValue(sim, "requests") == requests,
          "requests were sent: %s before, %s after", requests.c_str(),
          readoutValue(sim, "requests").c_str());
    check(test, readoutValue(sim, "system lock") == "off", "the system lock was set");
    stopSim(sim);
  }
}

void controllerSwappedInDuringTheConfirmationIsShownAsDetectionShowsIt(Test& test) {
  struct Case {
    const char* name;
    const wchar_t* model;
    const wchar_t* fault;  // armed before the new unit is plugged in, or null
    bool incompatibleBox;
    bool linkOpen;
    std::wstring panel;
  };
  const Case cases[] = {
      {"accepted without target", L"0x0A0640AA", nullptr, false, true,
       withInstructions(EN, esc::MSG_CONNECTION_LOST)},
      {"not identified", L"0x110FA0D2", L"ident-lost", false, true,
       withInstructions(EN, esc::MSG_CONNECTION_LOST)},
      {"incompatible", L"0x110FA0D3", nullptr, true, false,
       withInstructions(EN, esc::MSG_INCOMPATIBLE_HEADING)},
  };
  for (const Case& c : cases) {
    note("swapped in: a unit whose controller is %s", c.name);
    Sim sim;
    if (!startReady(test, sim)) {
      stopSim(sim);
      continue;
    }
    pressButton(sim.dialog, IDC_UPDATE);
    MessageBoxView box;
    if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box),
              "no confirmation box")) {
      postCommand(sim.unitWindow, esc::sim::IDC_SIM_UNPLUG);
      checkReadout(test, sim, "unit plugged", "no");
      check(test, setControlText(sim.unitWindow, esc::sim::IDC_SIM_MODEL, c.model),
            "could not set the model code in the simulator window");
      if (c.fault != nullptr) {
        check(test, setControlText(sim.unitWindow, esc::sim::IDC_SIM_FAULT, c.fault),
              "could not set the fault in the simulator window");
        postCommand(sim.unitWindow, esc::sim::IDC_SIM_ARM_FAULT);
        checkReadout(test, sim, "faults waiting", "1");
      }
      postCommand(sim.unitWindow, esc::sim::IDC_SIM_PLUG);
      checkReadout(test, sim, "unit plugged", "yes");
      const std::string requests = readoutValue(sim, "requests");
      check(test, answerMessageBox(box, IDOK), "the confirmation did not close");

      MessageBoxView next;
      const bool boxShown =
          waitForMessageBox(sim, sim.dialog, c.incompatibleBox ? STATE_TIMEOUT_MS : 1000, next);
      if (c.incompatibleBox) {
        if (check(test, boxShown, "no incompatibility box")) {
          checkText(test, "box text", next.text, incompatibleText(EN));
          answerMessageBox(next, IDOK);
        }
      } else {
        check(test, !boxShown, "a box came: \"%s\"", printable(next.text).c_str());
      }
      checkPanel(test, sim, c.panel, STATE_TIMEOUT_MS);
      checkRowsClosed(test, sim);
      checkUpdateEnabled(test, sim, false);
      checkLinkOpen(test, sim, c.linkOpen);
      Sleep(500);
      check(test, waitForMessageBox(sim, sim.dialog, 0, next) == false, "a box is open: \"%s\"",
            printable(next.text).c_str());
      // The new unit's identification, and nothing of the update.
      check(test,
            std::strtoul(readoutValue(sim, "requests").c_str(), nullptr, 10) ==
                std::strtoul(requests.c_str(), nullptr, 10) + IDENTIFICATION_REQUESTS,
            "%s requests when the confirmation closed, %s now: more than one identification",
            requests.c_str(), readoutValue(sim, "requests").c_str());
      checkReadout(test, sim, "system lock", "off");
      checkReadout(test, sim, "erases", "0");
    }
    stopSim(sim);
  }
}

void arrivalsWhileTheIncompatibilityBoxIsOpenWaitForIt(Test& test) {
  Sim sim;
  if (!startThenUnplug(test, sim)) {
    stopSim(sim);
    return;
  }
  check(test, setControlText(sim.unitWindow, esc::sim::IDC_SIM_MODEL, L"0x110FA0D3"),
        "could not set the model code in the simulator window");
  const std::string searchesBefore = readoutValue(sim, "device searches");
  postCommand(sim.unitWindow, esc::sim::IDC_SIM_PLUG);
  MessageBoxView box;
  if (!check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box),
             "no incompatibility box") ||
      !check(test, readoutChanges(sim, "device searches", searchesBefore),
             "the arrival did not start a search")) {
    stopSim(sim);
    return;
  }
  const std::string searches = readoutValue(sim, "device searches");
  note("another device comes and goes while the box is open");
  for (int round = 0; round < 3; ++round) {
    for (const char* plugged : {"no", "yes"}) {
      postCommand(sim.unitWindow, esc::sim::IDC_SIM_OTHER_DEVICE);
      check(test, waitForReadout(sim, "other device plugged", plugged, STATE_TIMEOUT_MS),
            "the other device was not %s", *plugged == 'y' ? "plugged in" : "pulled");
    }
  }
  Sleep(500);
  check(test, findWindow(sim.process.dwProcessId, L"#32770", nullptr, box.window) == nullptr,
        "a box opened on top of the incompatibility box");
  check(test, readoutValue(sim, "device searches") == searches,
        "a device search ran while the box was open");
  check(test, answerMessageBox(box, IDOK), "the box did not close");
  // The arrivals held meanwhile run one detection, which finds the same controller.
  MessageBoxView again;
  if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, again),
            "the held arrival did not detect the unit again")) {
    checkText(test, "box text", again.text, incompatibleText(EN));
    note("a supported unit takes its place while the box is open");
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_UNPLUG);
    checkReadout(test, sim, "unit plugged", "no");
    check(test, setControlText(sim.unitWindow, esc::sim::IDC_SIM_MODEL, L"0x110FA0D2"),
          "could not set the model code in the simulator window");
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_PLUG);
    checkReadout(test, sim, "unit plugged", "yes");
    checkPanelStays(test, sim, withInstructions(EN, esc::MSG_INCOMPATIBLE_HEADING));
    checkLinkOpen(test, sim, false);
    checkUpdateEnabled(test, sim, false);
    check(test, answerMessageBox(again, IDOK), "the box did not close");
  }
  // The incompatible controller's heading first, then the held arrival finds the new one.
  checkPanel(test, sim, expectedText(EN, esc::MSG_READY), STATE_TIMEOUT_MS);
  checkRowsShow(test, sim, L"1.2.3", L"1.2", L"1.0", L"TUNEPUCK");
  checkUpdateEnabled(test, sim, true);
  checkLinkOpen(test, sim, true);
  check(test,
        std::strtoul(readoutValue(sim, "device searches").c_str(), nullptr, 10) ==
            std::strtoul(searches.c_str(), nullptr, 10) + 2,
        "%s device searches, expected two more than the %s before the boxes",
        readoutValue(sim, "device searches").c_str(), searches.c_str());
  MessageBoxView none;
  check(test, !waitForMessageBox(sim, sim.dialog, 500, none), "another box came: \"%s\"",
        printable(none.text).c_str());
  stopSim(sim);
}

}  // namespace driver
