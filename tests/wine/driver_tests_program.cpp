// Closing the program in each of its ways, the Update command whatever its notification
// code, the user-interface language, a refused notification registration, and refused
// start-up settings.
//
// Wine takes a program's user-interface language from the locale variables of the Unix
// process it starts in, and a program started by another takes its parent's: the runner
// therefore runs the language test once more under LC_ALL=de_DE.UTF-8 and under
// LC_ALL=fr_FR.UTF-8 (which must fall back to English), telling the driver which
// language to expect.
#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "tests/wine/driver_tests.h"
#include "ui/sim/sim_controls.h"

namespace driver {
namespace {

constexpr DWORD EXIT_TIMEOUT_MS = 10000;
constexpr DWORD BAD_SETTINGS_EXIT_CODE = 2;

// The dialog's fixed texts in one language: Close, the caption above the panel and the
// group box (the Update button reads the same in both).
struct TemplateTexts {
  const wchar_t* close;
  const wchar_t* hint;
  const wchar_t* group;
};

void checkTemplateTexts(Test& test, const Sim& sim, const TemplateTexts& texts) {
  checkText(test, "Close button", controlText(sim.dialog, IDCANCEL), texts.close);
  checkText(test, "Update button", controlText(sim.dialog, IDC_UPDATE), L"Update");
  checkText(test, "group box", controlText(sim.dialog, IDC_VERSION_GROUP), texts.group);
  check(test, hasChildWithText(sim.dialog, texts.hint), "no caption \"%s\" above the panel",
        printable(texts.hint).c_str());
}

void checkRowLabels(Test& test, const Sim& sim, esc::Language language) {
  checkText(test, "second row label", controlText(sim.dialog, IDC_ROW2_LABEL),
            expectedText(language, esc::MSG_LABEL_BOOTLOADER));
  checkText(test, "third row label", controlText(sim.dialog, IDC_ROW3_LABEL),
            expectedText(language, esc::MSG_LABEL_ESC));
}

}  // namespace

void escapeClosesTheProgram(Test& test) {
  Sim sim;
  if (startSim(test, sim, {}) &&
      check(test, waitForReadout(sim, "opened by the program", "yes", STATE_TIMEOUT_MS),
            "the unit was not opened")) {
    // The dialog manager turns Escape on any of the dialog's controls into Close.
    PostMessageW(GetDlgItem(sim.dialog, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 1);
    DWORD exitCode = 1;
    if (check(test, waitForExit(sim, EXIT_TIMEOUT_MS, exitCode), "the program did not end")) {
      check(test, exitCode == 0, "exit code %lu, expected 0", exitCode);
    }
  }
  stopSim(sim);
}

void enterAndTheCloseBoxCloseTheProgram(Test& test) {
  struct Way {
    const char* name;
    void (*press)(HWND dialog);
  };
  const Way ways[] = {
      // Close is the default button, so the dialog manager turns Enter into its command.
      {"Enter", [](HWND dialog) { PostMessageW(dialog, WM_KEYDOWN, VK_RETURN, 1); }},
      // The caption's close box: the dialog manager sends the cancel command, Close's id.
      {"the close box", [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const Way& way : ways) {
    note("closing with %s", way.name);
    Sim sim;
    if (startSim(test, sim, {}) &&
        check(test, waitForReadout(sim, "opened by the program", "yes", STATE_TIMEOUT_MS),
              "the unit was not opened")) {
      way.press(sim.dialog);
      DWORD exitCode = 1;
      if (check(test, waitForExit(sim, EXIT_TIMEOUT_MS, exitCode), "the program did not end on %s",
                way.name)) {
        check(test, exitCode == 0, "exit code %lu, expected 0", exitCode);
      }
    }
    stopSim(sim);
  }
}

void updateCommandActsWhateverItsNotificationCode(Test& test) {
  Sim sim;
  if (startSim(test, sim, {}) &&
      checkPanel(test, sim, expectedText(esc::Language::English, esc::MSG_READY),
                 STATE_TIMEOUT_MS)) {
    for (const WORD code : {WORD{BN_DOUBLECLICKED}, WORD{1}, WORD{0xFFFF}}) {
      PostMessageW(sim.dialog, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, code),
                   reinterpret_cast<LPARAM>(GetDlgItem(sim.dialog, IDC_UPDATE)));
      MessageBoxView box;
      if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box),
                "no confirmation for notification code 0x%04x", code)) {
        checkText(test, "confirmation text", box.text,
                  expectedText(esc::Language::English, esc::MSG_CONFIRM));
        check(test, answerMessageBox(box, IDCANCEL), "the confirmation did not close");
      }
      check(test, waitUntil(STATE_TIMEOUT_MS, [&] { return responsive(sim.dialog); }),
            "the dialog does not answer after Cancel");
    }
    checkUpdateEnabled(test, sim, true);
  }
  stopSim(sim);
}

void userInterfaceTextsFollowTheLanguage(Test& test) {
  const LANGID language = GetUserDefaultUILanguage();
  const bool german = PRIMARYLANGID(language) == LANG_GERMAN;
  const esc::Language texts = german ? esc::Language::German : esc::Language::English;
  note("user-interface language 0x%04x: %s texts expected", language,
       german ? "German" : "English");
  if (expectedUiLanguage() != 0 &&
      !check(test, language == expectedUiLanguage(),
             "the user-interface language is 0x%04x, not 0x%04x as this run asks", language,
             expectedUiLanguage())) {
    return;
  }
  Sim sim;
  if (startSim(test, sim, {{L"ESCSIM_PLUGGED", L"0"}})) {
    checkPanel(test, sim, withInstructions(texts, esc::MSG_NO_UNIT), STATE_TIMEOUT_MS);
    checkTemplateTexts(
        test, sim,
        german ? TemplateTexts{L"Beenden", L"Hinweisfenster:", L"Installierte Firmware Versionen"}
               : TemplateTexts{L"Close", L"Hint:", L"Installed firmware version"});
    checkText(test, "first row label", controlText(sim.dialog, IDC_ROW1_LABEL),
              expectedText(texts, esc::MSG_LABEL_UNIT));
    checkRowLabels(test, sim, texts);
    check(test, windowText(sim.dialog) == MAIN_TITLE, "the title changed with the language");

    postCommand(sim.unitWindow, esc::sim::IDC_SIM_PLUG);
    checkPanel(test, sim, expectedText(texts, esc::MSG_READY), STATE_TIMEOUT_MS);
    checkRowsShow(test, sim, L"1.2.3", L"1.2", L"1.0", L"TUNEPUCK");
    if (german) {
      screenshot("german-ready");
    }

    postCommand(sim.unitWindow, esc::sim::IDC_SIM_UNPLUG);
    checkPanel(test, sim, withInstructions(texts, esc::MSG_CONNECTION_LOST), STATE_TIMEOUT_MS);
  }
  stopSim(sim);
}

void refusedNotificationsEndTheProgramAfterAnErrorBox(Test& test) {
  constexpr esc::Language EN = esc::Language::English;
  Sim sim;
  if (startSim(test, sim, {{L"ESCSIM_REFUSE_NOTIFICATIONS", L"1"}})) {
    MessageBoxView box;
    if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box), "no error box")) {
      checkText(test, "box caption", box.caption,
                expectedText(EN, esc::MSG_APPLICATION_ERROR_CAPTION));
      checkText(test, "box text", box.text, expectedText(EN, esc::MSG_REGISTRATION_FAILED));
      checkOkBox(test, box, BoxIcon::Error, "the box");
      // No detection: the unit, plugged in, is neither searched for nor opened. Without a
      // registration the dialog gets no device notifications either: the unit pulled and
      // plugged in again, or another device arriving, must not make it search.
      for (const int button : {esc::sim::IDC_SIM_UNPLUG, esc::sim::IDC_SIM_PLUG,
                               esc::sim::IDC_SIM_OTHER_DEVICE, esc::sim::IDC_SIM_OTHER_DEVICE}) {
        postCommand(sim.unitWindow, button);
        Sleep(300);
      }
      check(test, waitForReadout(sim, "device searches", "0", STATE_TIMEOUT_MS),
            "the dialog searched for the unit: %s searches",
            readoutValue(sim, "device searches").c_str());
      check(test, readoutValue(sim, "opened by the program") == "no", "the unit was opened");
      check(test, IsWindowVisible(sim.dialog) == FALSE, "the dialog is shown");
      answerMessageBox(box, IDOK);
    }
    DWORD exitCode = 1;
    if (check(test, waitForExit(sim, EXIT_TIMEOUT_MS, exitCode),
              "the program did not end after the box")) {
      check(test, exitCode == 0, "exit code %lu, expected 0", exitCode);
    }
  }
  stopSim(sim);
}

void malformedStartupSettingIsRefusedWithAMessage(Test& test) {
  Sim sim;
  if (launchSim(test, sim, {{L"ESCSIM_MODEL", L"xyz"}})) {
    MessageBoxView box;
    if (check(test, waitForMessageBox(sim, nullptr, START_TIMEOUT_MS, box), "no message box")) {
      checkText(test, "box caption", box.caption, esc::sim::SIM_WINDOW_TITLE);
      check(test, box.text.find(L"ESCSIM_MODEL=xyz") != std::wstring::npos,
            "the message does not name the setting: \"%s\"", printable(box.text).c_str());
      check(test, findWindow(sim.process.dwProcessId, L"#32770", MAIN_TITLE, nullptr) == nullptr,
            "the updater's dialog was opened");
      answerMessageBox(box, IDOK);
    }
    DWORD exitCode = 0;
    if (check(test, waitForExit(sim, EXIT_TIMEOUT_MS, exitCode), "the program did not end")) {
      check(test, exitCode == BAD_SETTINGS_EXIT_CODE, "exit code %lu, expected %lu", exitCode,
            BAD_SETTINGS_EXIT_CODE);
    }
  }
  stopSim(sim);
}

}  // namespace driver
