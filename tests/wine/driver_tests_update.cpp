// The update: a complete run on the emulated unit, the questions that end it without
// effect, and failures at each kind of step with the error box they lead to.
#include <windows.h>
// commctrl.h relies on the Windows types being declared first.
#include <commctrl.h>

#include <cstdlib>
#include <cwchar>

#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "tests/wine/driver_tests.h"
#include "ui/sim/sim_controls.h"

namespace driver {
namespace {

constexpr esc::Language EN = esc::Language::English;
constexpr std::uint32_t LINK_WRITE_FAILED_VALUE = 0xFFFFFFFE;  // -2
constexpr std::uint32_t ERROR_FUNCTION_FAILED_VALUE = 1627;
constexpr std::uint32_t LINK_READ_FAILED_VALUE = 0xFFFFFFFD;  // -3
constexpr std::uint32_t DEVICE_NOT_CONNECTED = 1167;
constexpr std::uint32_t ERROR_TIMEOUT_VALUE = 1460;
// The link gives up on an answer after 10 s.
constexpr ULONGLONG READ_TIMEOUT_MS = 10000;
constexpr std::uint32_t INJECTED_BLOCK_STATUS = 0x8000002A;  // top bit set: negative as signed
constexpr std::uint32_t DEFAULT_ERASE_STATUS = 0x05;
// Lock and unlock pauses, the erase's answer delay and the wait after it.
constexpr ULONGLONG WAITS_BEFORE_ERASE_RESULT_MS = 20 + 20 + 1000 + 4000;
constexpr std::size_t HEX_DIGITS = 8;
constexpr unsigned long IMAGE_BLOCKS = 1881;

// The system error is the platform's, so it is read from the box; everything else of the
// text is compared in full.
std::uint32_t systemErrorShown(const std::wstring& text) {
  if (text.size() < HEX_DIGITS) {
    return 0;
  }
  return static_cast<std::uint32_t>(
      std::wcstoul(text.c_str() + text.size() - HEX_DIGITS, nullptr, 16));
}

}  // namespace

// Presses Update and confirms; false (reported) when the confirmation does not come.
// `confirmed` gets the time just before OK was pressed.
bool startUpdate(Test& test, const Sim& sim, ULONGLONG& confirmed) {
  pressButton(sim.dialog, IDC_UPDATE);
  MessageBoxView box;
  if (!check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box),
             "no confirmation box")) {
    return false;
  }
  checkText(test, "confirmation caption", box.caption, expectedText(EN, esc::MSG_CONFIRM_CAPTION));
  checkBoxIcon(test, box, BoxIcon::Warning);
  confirmed = GetTickCount64();
  return check(test, answerMessageBox(box, IDOK), "the confirmation did not close");
}

bool startUpdate(Test& test, const Sim& sim) {
  ULONGLONG confirmed = 0;
  return startUpdate(test, sim, confirmed);
}

// Waits for the error box, checks its caption and text, and that the dialog already shows
// the closed link while it is open; leaves the box open.
bool checkErrorBox(Test& test, const Sim& sim, DWORD timeoutMs, esc::MessageId message,
                   std::uint32_t errorValue, MessageBoxView& box) {
  if (!check(test, waitForMessageBox(sim, sim.dialog, timeoutMs, box), "no error box")) {
    return false;
  }
  checkText(test, "error box caption", box.caption,
            expectedText(EN, esc::MSG_UPDATE_FAILED_CAPTION));
  const std::uint32_t systemError = systemErrorShown(box.text);
  checkText(test, "error box text", box.text, errorBoxText(EN, message, errorValue, systemError));
  note("system error shown: 0x%08x", static_cast<unsigned>(systemError));
  checkOkBox(test, box, BoxIcon::Error, "the error box");
  checkRowsClosed(test, sim);
  checkUpdateEnabled(test, sim, false);
  return true;
}

void checkFailureNotice(Test& test, const Sim& sim) {
  checkPanel(test, sim, expectedText(EN, esc::MSG_UPDATE_FAILED_NOTICE), STATE_TIMEOUT_MS);
  checkUpdateEnabled(test, sim, false);
  checkRowsClosed(test, sim);
}

namespace {

// A visible, smooth, top-level window owned by the dialog (the system adds the caption of
// an overlapped window), 400 by 50 pixels and centred on the dialog with the half sizes
// rounded down.
void checkProgressWindowPlacement(Test& test, const Sim& sim, HWND progress) {
  const auto style = static_cast<DWORD>(GetWindowLongW(progress, GWL_STYLE));
  const DWORD visibleSmooth = WS_VISIBLE | PBS_SMOOTH;
  check(test, (style & visibleSmooth) == visibleSmooth && (style & (WS_CHILD | WS_POPUP)) == 0,
        "progress window style 0x%08lx", style);
  check(test, GetWindow(progress, GW_OWNER) == sim.dialog, "the progress window's owner");
  RECT dialog{};
  RECT shown{};
  GetWindowRect(sim.dialog, &dialog);
  GetWindowRect(progress, &shown);
  const LONG x = dialog.left + ((dialog.right - dialog.left) >> 1) - 200;
  const LONG y = dialog.top + ((dialog.bottom - dialog.top) >> 1) - 25;
  check(test,
        shown.left == x && shown.top == y && shown.right - shown.left == 400 &&
            shown.bottom - shown.top == 50,
        "progress window at %ld,%ld size %ldx%ld, expected %ld,%ld size 400x50", shown.left,
        shown.top, shown.right - shown.left, shown.bottom - shown.top, x, y);
}

}  // namespace

void fullUpdateWritesTheImageAndReportsSuccess(Test& test) {
  Sim sim;
  if (!startReady(test, sim,
                  {{L"ESCSIM_ESC_VERSION", L"1.0"},
                   {L"ESCSIM_UNIT_VERSION", L"1.2.3"},
                   {L"ESCSIM_BOOTLOADER_VERSION", L"1.2"}})) {
    stopSim(sim);
    return;
  }
  checkSessionEnd(test, sim, false, "while the dialog is ready");
  pressButton(sim.dialog, IDC_UPDATE);
  MessageBoxView box;
  if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box),
            "no confirmation box")) {
    checkText(test, "confirmation caption", box.caption,
              expectedText(EN, esc::MSG_CONFIRM_CAPTION));
    checkText(test, "confirmation text", box.text, expectedText(EN, esc::MSG_CONFIRM));
    check(test, box.hasOk && box.hasCancel, "the confirmation lacks OK or Cancel");
    checkBoxIcon(test, box, BoxIcon::Warning);
    screenshot("confirmation");
    checkSessionEnd(test, sim, false, "while the confirmation is open");
    const ULONGLONG confirmed = GetTickCount64();
    answerMessageBox(box, IDOK);
    HungSampler sampler;
    sampler.start(sim.dialog);

    const std::wstring title = expectedText(EN, esc::MSG_PROGRESS_TITLE);
    HWND progress = nullptr;
    check(test,
          waitUntil(STATE_TIMEOUT_MS,
                    [&] {
                      progress = findWindow(sim.process.dwProcessId, L"msctls_progress32",
                                            title.c_str(), sim.dialog);
                      return progress != nullptr && IsWindowVisible(progress);
                    }),
          "no progress window \"%s\" owned by the dialog", printable(title).c_str());
    if (progress != nullptr) {
      checkProgressWindowPlacement(test, sim, progress);
    }
    checkSignalsWhileWriting(test, sim);
    checkSessionEnd(test, sim, true, "while the blocks are written");
    disturbTheRunningUpdate(test, sim, progress);
    // Half way through, so that the screenshot shows the bar moving.
    check(test,
          waitUntil(UPDATE_TIMEOUT_MS,
                    [&] {
                      return std::strtoul(readoutValue(sim, "blocks written").c_str(), nullptr,
                                          10) >= IMAGE_BLOCKS / 2;
                    }),
          "the blocks written stopped at %s", readoutValue(sim, "blocks written").c_str());
    check(test, progress != nullptr && IsWindowVisible(progress) != FALSE,
          "the progress window is gone half way through");
    checkSignalsWhileWriting(test, sim);
    screenshot("progress");

    const std::wstring success = expectedText(EN, esc::MSG_UPDATE_SUCCEEDED);
    checkPanel(test, sim, success, UPDATE_TIMEOUT_MS);
    checkNeverHung(test, sampler, "the update");
    note("confirmation to success: %.1f s",
         static_cast<double>(GetTickCount64() - confirmed) / 1000.0);
    check(test, progress == nullptr || IsWindow(progress) == FALSE,
          "the progress window is still there");
    checkRowsShow(test, sim, L"1.2.3", L"1.2", L"1.1", L"TUNEPUCK");
    checkUpdateEnabled(test, sim, false);
    checkReadout(test, sim, "opened by the program", "yes");
    checkReadout(test, sim, "flash equals image", "yes");
    checkReadout(test, sim, "bytes written", "90256");
    checkReadout(test, sim, "blocks written", "1881");
    checkReadout(test, sim, "erases", "1");
    checkReadout(test, sim, "system lock", "off");
    checkReadout(test, sim, "write protection", "on");
    checkSignalsAfterwards(test, sim);
    checkSessionEnd(test, sim, false, "after the update");
    checkNothingActsAfterTheUpdate(test, sim, success);
    screenshot("success");
  }
  stopSim(sim);
}

void declinedQuestionsSendNothing(Test& test) {
  Sim sim;
  if (!startReady(test, sim, {{L"ESCSIM_ESC_VERSION", L"1.1"}}) ||
      !check(test, waitForReadout(sim, "opened by the program", "yes", STATE_TIMEOUT_MS),
             "the simulator does not show the unit open")) {
    stopSim(sim);
    return;
  }
  // Read once the read-out shows the identification's requests.
  const std::string requests = readoutValue(sim, "requests");
  MessageBoxView box;

  pressButton(sim.dialog, IDC_UPDATE);
  if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box),
            "no confirmation box")) {
    check(test, answerMessageBox(box, IDCANCEL), "the confirmation did not close");
  }
  check(test, waitUntil(STATE_TIMEOUT_MS, [&] { return responsive(sim.dialog); }),
        "the dialog does not answer after Cancel");
  checkPanel(test, sim, expectedText(EN, esc::MSG_READY), STATE_TIMEOUT_MS);
  checkUpdateEnabled(test, sim, true);

  // The installed version equals the target: OK leads to the version question.
  if (startUpdate(test, sim) &&
      check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box),
            "no version question")) {
    checkText(test, "question caption", box.caption,
              expectedText(EN, esc::MSG_OLDER_FIRMWARE_CAPTION));
    checkText(test, "question text", box.text, expectedText(EN, esc::MSG_OLDER_FIRMWARE));
    check(test, box.hasYes && box.hasNo && !box.hasOk, "the question lacks Yes or No");
    checkBoxIcon(test, box, BoxIcon::Warning);
    check(test, answerMessageBox(box, IDNO), "the question did not close");
  }
  check(test, waitUntil(STATE_TIMEOUT_MS, [&] { return responsive(sim.dialog); }),
        "the dialog does not answer after No");
  checkPanel(test, sim, expectedText(EN, esc::MSG_READY), STATE_TIMEOUT_MS);
  checkUpdateEnabled(test, sim, true);
  checkRowsShow(test, sim, L"1.2.3", L"1.2", L"1.1", L"TUNEPUCK");
  check(test, readoutValue(sim, "requests") == requests, "requests were sent: %s before, %s after",
        requests.c_str(), readoutValue(sim, "requests").c_str());
  checkReadout(test, sim, "erases", "0");
  checkReadout(test, sim, "system lock", "off");
  stopSim(sim);
}

void failingDataBlockShowsErrorBoxThenFailureNotice(Test& test) {
  Sim sim;
  if (startReady(test, sim, {{L"ESCSIM_FAULT", L"block:3:0x8000002A"}}) && startUpdate(test, sim)) {
    // Typed during the pause after the erase, while nothing but the dialog is in front: it
    // must neither end the update nor dismiss the error box that follows.
    check(test, waitForReadout(sim, "erases", "1", STATE_TIMEOUT_MS), "the erase was not sent");
    check(test, GetForegroundWindow() == sim.dialog, "the dialog is not in front for the keys");
    pressKey(VK_RETURN);
    pressKey(VK_ESCAPE);
    MessageBoxView box;
    if (checkErrorBox(test, sim, UPDATE_TIMEOUT_MS, esc::MSG_BLOCK_FAILED, INJECTED_BLOCK_STATUS,
                      box)) {
      check(test,
            findWindow(sim.process.dwProcessId, L"msctls_progress32", nullptr, nullptr) == nullptr,
            "the progress window is still there while the error box is open");
      std::wstring panel;
      readEditText(GetDlgItem(sim.dialog, IDC_STATUS_PANEL), panel);
      checkText(test, "panel while the error box is open", panel, expectedText(EN, esc::MSG_READY));
      checkReadout(test, sim, "system kept awake", "no");
      checkReadout(test, sim, "taskbar progress", "error at 0 %");
      Sleep(1000);
      check(test, IsWindow(box.window) != FALSE, "the error box was dismissed by the keys");
      screenshot("error-box");
      answerMessageBox(box, IDOK);
    }
    checkFailureNotice(test, sim);
    checkReadout(test, sim, "taskbar progress", "none");
    // The unit wrote the third block and answered it with the status. No closing command
    // follows a failure: the lock stays set and the protection lifted.
    checkReadout(test, sim, "blocks written", "3");
    checkReadout(test, sim, "system lock", "on");
    checkReadout(test, sim, "write protection", "off");
    checkReadout(test, sim, "opened by the program", "no");
    checkNothingActsAfterTheUpdate(test, sim, expectedText(EN, esc::MSG_UPDATE_FAILED_NOTICE));
  }
  stopSim(sim);
}

// A quit request (WM_QUIT, as PostQuitMessage or another program leaves it) taken from
// the queue in a pause: the update goes on, the windows keep painting and the error box
// stays until it is answered; then the program ends as asked.
void quitRequestDuringTheUpdateActsOnceItHasEnded(Test& test) {
  Sim sim;
  if (startReady(test, sim, {{L"ESCSIM_FAULT", L"block:3:0x8000002A"}}) && startUpdate(test, sim)) {
    check(test, waitForReadout(sim, "erases", "1", STATE_TIMEOUT_MS), "the erase was not sent");
    HungSampler sampler;
    sampler.start(sim.dialog);
    check(test, PostThreadMessageW(GetWindowThreadProcessId(sim.dialog, nullptr), WM_QUIT, 0, 0),
          "the quit request could not be posted");
    // The simulator's read-out is refreshed by a timer of the program's thread.
    check(test, waitForReadout(sim, "blocks written", "3", STATE_TIMEOUT_MS),
          "the read-out stopped at \"%s\" blocks after the quit request",
          readoutValue(sim, "blocks written").c_str());
    MessageBoxView box;
    if (checkErrorBox(test, sim, STATE_TIMEOUT_MS, esc::MSG_BLOCK_FAILED, INJECTED_BLOCK_STATUS,
                      box)) {
      checkNeverHung(test, sampler, "the update after a quit request");
      Sleep(1000);
      check(test, IsWindow(box.window) != FALSE, "the quit request closed the error box");
      answerMessageBox(box, IDOK);
    }
    DWORD exitCode = 1;
    check(test, waitForExit(sim, STATE_TIMEOUT_MS, exitCode) && exitCode == 0,
          "the program did not end with 0 once the update had ended");
  }
  stopSim(sim);
}

void unplugDuringBlockLoopFailsTheWrite(Test& test) {
  Sim sim;
  if (!startReady(test, sim, {})) {
    stopSim(sim);
    return;
  }
  check(test, setControlText(sim.unitWindow, esc::sim::IDC_SIM_FAULT, L"unplug:2"),
        "could not set the fault in the simulator window");
  postCommand(sim.unitWindow, esc::sim::IDC_SIM_ARM_FAULT);
  checkReadout(test, sim, "faults waiting", "1");
  MessageBoxView box;
  if (startUpdate(test, sim) && checkErrorBox(test, sim, UPDATE_TIMEOUT_MS, esc::MSG_BLOCK_FAILED,
                                              LINK_WRITE_FAILED_VALUE, box)) {
    check(test, systemErrorShown(box.text) == DEVICE_NOT_CONNECTED,
          "the system error is not ERROR_DEVICE_NOT_CONNECTED");
    checkReadout(test, sim, "unit plugged", "no");
    // Plugged in again while the box is open: the arrival waits until the box is gone.
    const std::string searches = readoutValue(sim, "device searches");
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_PLUG);
    checkReadout(test, sim, "unit plugged", "yes");
    Sleep(500);
    check(test, readoutValue(sim, "device searches") == searches,
          "the arrival was handled while the error box was open");
    check(test, findWindow(sim.process.dwProcessId, L"#32770", nullptr, box.window) == nullptr,
          "a box opened on top of the error box");
    answerMessageBox(box, IDOK);
    // The failure notice comes first, then the held arrival finds the unit again.
    checkPanel(test, sim, expectedText(EN, esc::MSG_READY), STATE_TIMEOUT_MS);
    checkUpdateEnabled(test, sim, true);
    checkLinkOpen(test, sim, true);
    check(test,
          std::strtoul(readoutValue(sim, "device searches").c_str(), nullptr, 10) ==
              std::strtoul(searches.c_str(), nullptr, 10) + 1,
          "%s device searches after the box, expected one more than %s",
          readoutValue(sim, "device searches").c_str(), searches.c_str());
  }
  stopSim(sim);
}

void refusedLockReportsFunctionFailed(Test& test) {
  Sim sim;
  MessageBoxView box;
  if (startReady(test, sim, {{L"ESCSIM_FAULT", L"lock-refused"}}) && startUpdate(test, sim) &&
      checkErrorBox(test, sim, STATE_TIMEOUT_MS, esc::MSG_LOCK_FAILED, ERROR_FUNCTION_FAILED_VALUE,
                    box)) {
    answerMessageBox(box, IDOK);
    checkFailureNotice(test, sim);
    checkReadout(test, sim, "erases", "0");
  }
  stopSim(sim);
}

void silentUnitFailsTheLockAfterTheReadTimeout(Test& test) {
  Sim sim;
  MessageBoxView box;
  ULONGLONG confirmed = 0;
  HungSampler sampler;
  const bool started =
      startReady(test, sim, {{L"ESCSIM_FAULT", L"no-answer"}}) && startUpdate(test, sim, confirmed);
  if (started) {
    sampler.start(sim.dialog);
    // While the read waits for the answer, the program's windows take their messages:
    // the simulator's read-out, refreshed by its timer, shows the request sent.
    check(test, waitForReadout(sim, "faults waiting", "0", READ_TIMEOUT_MS / 4),
          "the read-out does not show the lock request during the read");
    checkAnswersWhileAwaiting(test, sim, true, "while the lock's answer is awaited");
  }
  if (started && checkErrorBox(test, sim, READ_TIMEOUT_MS + STATE_TIMEOUT_MS, esc::MSG_LOCK_FAILED,
                               LINK_READ_FAILED_VALUE, box)) {
    checkNeverHung(test, sampler, "the silent unit's read");
    checkSessionEnd(test, sim, false, "while the error box is open");
    const ULONGLONG elapsed = GetTickCount64() - confirmed;
    note("confirmation to error box: %llu ms", elapsed);
    check(test, elapsed >= READ_TIMEOUT_MS, "the read gave up after %llu ms", elapsed);
    check(test, systemErrorShown(box.text) == ERROR_TIMEOUT_VALUE,
          "the system error is not ERROR_TIMEOUT");
    answerMessageBox(box, IDOK);
    checkFailureNotice(test, sim);
  }
  stopSim(sim);
}

void failedEraseIsReportedAfterTheEraseWaits(Test& test) {
  Sim sim;
  MessageBoxView box;
  ULONGLONG confirmed = 0;
  if (startReady(test, sim, {{L"ESCSIM_FAULT", L"erase-status"}}) &&
      startUpdate(test, sim, confirmed)) {
    if (checkErrorBox(test, sim, STATE_TIMEOUT_MS, esc::MSG_ERASE_FAILED, DEFAULT_ERASE_STATUS,
                      box)) {
      const ULONGLONG elapsed = GetTickCount64() - confirmed;
      note("confirmation to error box: %llu ms", elapsed);
      check(test, elapsed >= WAITS_BEFORE_ERASE_RESULT_MS,
            "the error box came after %llu ms, before the erase's waits were over", elapsed);
      answerMessageBox(box, IDOK);
      checkFailureNotice(test, sim);
    }
  }
  stopSim(sim);
}

void updateWithClosedLinkReportsUnitNotDetected(Test& test) {
  Sim sim;
  if (startSim(test, sim, {{L"ESCSIM_PLUGGED", L"0"}}) &&
      checkPanel(test, sim, withInstructions(EN, esc::MSG_NO_UNIT), STATE_TIMEOUT_MS)) {
    // The button is disabled; the command arrives all the same.
    postCommand(sim.dialog, IDC_UPDATE);
    MessageBoxView box;
    if (check(test, waitForMessageBox(sim, sim.dialog, STATE_TIMEOUT_MS, box), "no error box")) {
      checkText(test, "error box caption", box.caption,
                expectedText(EN, esc::MSG_UPDATE_FAILED_CAPTION));
      checkText(test, "error box text (no code line)", box.text,
                expectedText(EN, esc::MSG_UNIT_NOT_DETECTED));
      checkBoxIcon(test, box, BoxIcon::Error);
      answerMessageBox(box, IDOK);
    }
    checkFailureNotice(test, sim);
  }
  stopSim(sim);
}

}  // namespace driver
