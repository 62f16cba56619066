// Start-up and device detection: what the dialog shows for each kind of unit, and how it
// follows the unit being pulled and plugged in again.
#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "tests/wine/driver_tests.h"
#include "ui/sim/sim_controls.h"

namespace driver {

const Settings SUPPORTED_UNIT = {
    {L"ESCSIM_MODEL", L"0x110FA0D2"},       {L"ESCSIM_UNIT_VERSION", L"1.2.3"},
    {L"ESCSIM_BOOTLOADER_VERSION", L"1.2"}, {L"ESCSIM_ESC_VERSION", L"1.0"},
    {L"ESCSIM_PRODUCT_ID", L"1"},
};

void checkLinkOpen(Test& test, const Sim& sim, bool open) {
  check(test, waitForReadout(sim, "opened by the program", open ? "yes" : "no", STATE_TIMEOUT_MS),
        "the simulator says the unit is %sopen", open ? "not " : "");
}

bool startReady(Test& test, Sim& sim, const Settings& settings) {
  return startSim(test, sim, settings) &&
         checkPanel(test, sim, expectedText(esc::Language::English, esc::MSG_READY),
                    STATE_TIMEOUT_MS);
}

namespace {

constexpr esc::Language EN = esc::Language::English;

}  // namespace

void startupWithoutUnitShowsNoUnitHeadingAndInstructions(Test& test) {
  Sim sim;
  if (startSim(test, sim, {{L"ESCSIM_PLUGGED", L"0"}})) {
    checkPanel(test, sim, withInstructions(EN, esc::MSG_NO_UNIT), STATE_TIMEOUT_MS);
    checkRowsClosed(test, sim);
    checkText(test, "first row label before any unit", controlText(sim.dialog, IDC_ROW1_LABEL),
              expectedText(EN, esc::MSG_LABEL_UNIT));
    checkText(test, "second row label", controlText(sim.dialog, IDC_ROW2_LABEL),
              expectedText(EN, esc::MSG_LABEL_BOOTLOADER));
    checkText(test, "third row label", controlText(sim.dialog, IDC_ROW3_LABEL),
              expectedText(EN, esc::MSG_LABEL_ESC));
    checkUpdateEnabled(test, sim, false);
    check(test, controlEnabled(sim.dialog, IDCANCEL), "Close is disabled");
    checkLinkOpen(test, sim, false);
    screenshot("no-unit");
  }
  stopSim(sim);
}

void supportedUnitIsReadyForUpdate(Test& test) {
  Sim sim;
  if (startSim(test, sim, SUPPORTED_UNIT)) {
    checkPanel(test, sim, expectedText(EN, esc::MSG_READY), STATE_TIMEOUT_MS);
    checkRowsShow(test, sim, L"1.2.3", L"1.2", L"1.0", L"TUNEPUCK");
    checkText(test, "second row label", controlText(sim.dialog, IDC_ROW2_LABEL),
              expectedText(EN, esc::MSG_LABEL_BOOTLOADER));
    checkText(test, "third row label", controlText(sim.dialog, IDC_ROW3_LABEL),
              expectedText(EN, esc::MSG_LABEL_ESC));
    checkUpdateEnabled(test, sim, true);
    checkLinkOpen(test, sim, true);
    screenshot("ready");
  }
  stopSim(sim);
}

void versionRowsShowWhatTheUnitReports(Test& test) {
  struct Case {
    Settings settings;
    const wchar_t* unit;
    const wchar_t* bootloader;
    const wchar_t* esc;
    const wchar_t* label;
  };
  const Case cases[] = {
      // A zero low byte is shifted out; no ESC firmware shows ten hyphens; product id 2.
      {{{L"ESCSIM_UNIT_VERSION", L"0x00010500"},
        {L"ESCSIM_BOOTLOADER_VERSION", L"0x02000103"},
        {L"ESCSIM_ESC_VERSION", L"none"},
        {L"ESCSIM_PRODUCT_ID", L"2"}},
       L"1.5",
       L"2.1.3",
       L"----------",
       L"CONF-POD"},
      // Bits 16 to 23 never show; the highest ESC version that is not "none".
      {{{L"ESCSIM_UNIT_VERSION", L"0x02FF0105"},
        {L"ESCSIM_BOOTLOADER_VERSION", L"0x00AA0203"},
        {L"ESCSIM_ESC_VERSION", L"0xFFFE"},
        {L"ESCSIM_PRODUCT_ID", L"1"}},
       L"2.1.5",
       L"2.3",
       L"255.254",
       L"TUNEPUCK"},
  };
  for (const Case& c : cases) {
    Sim sim;
    if (startSim(test, sim, c.settings)) {
      checkPanel(test, sim, expectedText(EN, esc::MSG_READY), STATE_TIMEOUT_MS);
      checkRowsShow(test, sim, c.unit, c.bootloader, c.esc, c.label);
      checkUpdateEnabled(test, sim, true);
    }
    stopSim(sim);
  }
}

void acceptedModelShowsVersionsButOffersNoUpdate(Test& test) {
  Sim sim;
  if (startSim(test, sim,
               {{L"ESCSIM_MODEL", L"0x0A0640AA"},
                {L"ESCSIM_UNIT_VERSION", L"1.2.3"},
                {L"ESCSIM_BOOTLOADER_VERSION", L"1.2"},
                {L"ESCSIM_ESC_VERSION", L"1.0"}})) {
    checkLinkOpen(test, sim, true);
    checkPanelStays(test, sim, L"");
    checkRowsShow(test, sim, L"1.2.3", L"1.2", L"1.0", L"TUNEPUCK");
    checkUpdateEnabled(test, sim, false);
  }
  stopSim(sim);
}

void wrongModeUnitShowsWrongModeHeading(Test& test) {
  Sim sim;
  if (startSim(test, sim, {{L"ESCSIM_WRONG_MODE", L"1"}})) {
    checkPanel(test, sim, withInstructions(EN, esc::MSG_WRONG_MODE), STATE_TIMEOUT_MS);
    checkRowsClosed(test, sim);
    checkUpdateEnabled(test, sim, false);
    checkLinkOpen(test, sim, false);
  }
  stopSim(sim);
}

void unitWithoutUpdatableEscShowsNoEscHeading(Test& test) {
  Sim sim;
  if (startSim(test, sim, {{L"ESCSIM_ESC_STATUS", L"0"}})) {
    checkPanel(test, sim, withInstructions(EN, esc::MSG_NO_UPDATABLE_ESC), STATE_TIMEOUT_MS);
    checkRowsClosed(test, sim);
    checkUpdateEnabled(test, sim, false);
    checkLinkOpen(test, sim, false);
  }
  stopSim(sim);
}

void incompatibleEscIsAnnouncedBeforeThePanelChanges(Test& test) {
  Sim sim;
  if (startSim(test, sim, {{L"ESCSIM_MODEL", L"0x110FA0D3"}})) {
    MessageBoxView box;
    if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box),
              "no information box")) {
      checkText(test, "box caption", box.caption, expectedText(EN, esc::MSG_INCOMPATIBLE_CAPTION));
      checkText(test, "box text", box.text, incompatibleText(EN));
      check(test, box.text.find(L"TESSARO HVI") != std::wstring::npos,
            "the box does not name TESSARO HVI");
      checkOkBox(test, box, BoxIcon::Information, "the box");
      std::wstring panel;
      check(test, readEditText(GetDlgItem(sim.dialog, IDC_STATUS_PANEL), panel) && panel.empty(),
            "the panel changed before the box was dismissed: \"%s\"", printable(panel).c_str());
      checkLinkOpen(test, sim, false);
      screenshot("incompatible-box");
      check(test, answerMessageBox(box, IDOK), "the box did not close");
    }
    checkPanel(test, sim, withInstructions(EN, esc::MSG_INCOMPATIBLE_HEADING), STATE_TIMEOUT_MS);
    checkRowsClosed(test, sim);
    checkUpdateEnabled(test, sim, false);
  }
  stopSim(sim);
}

void removalOfTheOpenUnitAndItsReturn(Test& test) {
  Sim sim;
  if (!startReady(test, sim)) {
    stopSim(sim);
    return;
  }
  const std::wstring connectionLost = withInstructions(EN, esc::MSG_CONNECTION_LOST);
  // Twice, so that the panel is seen to hold only the latest heading and instructions.
  for (int round = 0; round < 2; ++round) {
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_UNPLUG);
    checkPanel(test, sim, connectionLost, STATE_TIMEOUT_MS);
    checkRowsClosed(test, sim);
    checkText(test, "first row label keeps the last unit's type",
              controlText(sim.dialog, IDC_ROW1_LABEL), L"TUNEPUCK");
    checkUpdateEnabled(test, sim, false);
    checkLinkOpen(test, sim, false);

    // Another HID device, present from the start, leaves and comes back: its removal is
    // not the unit's, and its arrival makes the dialog search and find no unit. Nothing
    // on the screen changes.
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_OTHER_DEVICE);
    checkPanelStays(test, sim, connectionLost);
    const std::string searches = readoutValue(sim, "device searches");
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_OTHER_DEVICE);
    check(test,
          waitUntil(STATE_TIMEOUT_MS,
                    [&] { return readoutValue(sim, "device searches") != searches; }),
          "the arrival of another device did not start a search");
    checkPanelStays(test, sim, connectionLost);
    checkRowsClosed(test, sim);
    checkLinkOpen(test, sim, false);

    postCommand(sim.unitWindow, esc::sim::IDC_SIM_PLUG);
    checkPanel(test, sim, expectedText(EN, esc::MSG_READY), STATE_TIMEOUT_MS);
    checkRowsShow(test, sim, L"1.2.3", L"1.2", L"1.0", L"TUNEPUCK");
    checkUpdateEnabled(test, sim, true);
  }
  stopSim(sim);
}

void acceptedUnitArrivingAfterRemovalChangesNothingVisible(Test& test) {
  Sim sim;
  if (startSim(test, sim, SUPPORTED_UNIT) &&
      checkPanel(test, sim, expectedText(EN, esc::MSG_READY), STATE_TIMEOUT_MS)) {
    const std::wstring connectionLost = withInstructions(EN, esc::MSG_CONNECTION_LOST);
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_UNPLUG);
    checkPanel(test, sim, connectionLost, STATE_TIMEOUT_MS);
    check(test, setControlText(sim.unitWindow, esc::sim::IDC_SIM_MODEL, L"0x0A0640AA"),
          "could not set the model code in the simulator window");
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_PLUG);
    checkLinkOpen(test, sim, true);
    checkPanelStays(test, sim, connectionLost);
    checkRowsClosed(test, sim);
    checkUpdateEnabled(test, sim, false);
  }
  stopSim(sim);
}

}  // namespace driver
