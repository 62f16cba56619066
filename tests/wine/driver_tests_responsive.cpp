// The update as the person at the PC lives it: the windows stay alive while it runs
// (Windows never judges them hung), nothing typed or clicked into them, and no request to
// close them, stops it or acts once it has ended, device events wait until it is over,
// and Windows is asked to keep the PC awake and to show the progress on the taskbar
// button meanwhile.
#include <windows.h>
// dbt.h relies on the Windows types being declared first.
#include <dbt.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "resources/message_ids.h"
#include "resources/resource_ids.h"
#include "tests/wine/driver_tests.h"
#include "ui/sim/sim_controls.h"

namespace driver {
namespace {

constexpr DWORD SAMPLE_PERIOD_MS = 100;
// How long the program is watched after the update for input that acts late.
constexpr DWORD AFTERMATH_MS = 1500;
constexpr wchar_t OTHER_PATH[] =
    L"\\\\?\\hid#vid_4321&pid_0001#9&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

bool isPercent(const std::string& text) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  return end != text.c_str() && value <= 100 && std::string(end).rfind(" %", 0) == 0;
}

bool stillRunning(const Sim& sim) {
  return WaitForSingleObject(sim.process.hProcess, 0) == WAIT_TIMEOUT;
}

HWND boxOf(const Sim& sim) {
  return findWindow(sim.process.dwProcessId, L"#32770", nullptr, sim.dialog);
}

std::string classOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return printable(name);
}

// Keys go to the window in front; a click brings the window in front (the click itself is
// dropped by the program while it writes).
void pressClosingKeys(Test& test, HWND target, const char* name) {
  const bool inFront = waitUntil(STATE_TIMEOUT_MS, [&] { return GetForegroundWindow() == target; });
  check(test, inFront, "%s is not in front for the keys (a window of class \"%s\" is)", name,
        classOf(GetForegroundWindow()).c_str());
  pressKey(VK_ESCAPE);
  pressKey(VK_RETURN);
  pressKeyWith(VK_MENU, VK_F4);
}

}  // namespace

void HungSampler::start(HWND window) {
  stop();
  samples = 0;
  hung = 0;
  running = true;
  worker = std::thread([this, window] {
    while (running) {
      ++samples;
      if (IsHungAppWindow(window)) {
        ++hung;
      }
      Sleep(SAMPLE_PERIOD_MS);
    }
  });
}

void HungSampler::stop() {
  running = false;
  if (worker.joinable()) {
    worker.join();
  }
}

HungSampler::~HungSampler() { stop(); }

void checkNeverHung(Test& test, HungSampler& sampler, const char* during) {
  sampler.stop();
  note("%d samples of IsHungAppWindow on the dialog during %s, %d of them TRUE",
       sampler.samples.load(), during, sampler.hung.load());
  check(test, sampler.samples > 0 && sampler.hung == 0,
        "Windows judged the dialog hung in %d of %d samples during %s", sampler.hung.load(),
        sampler.samples.load(), during);
}

void checkSessionEnd(Test& test, const Sim& sim, bool refused, const char* when) {
  DWORD_PTR answer = 0;
  if (!check(test,
             SendMessageTimeoutW(sim.dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                 STATE_TIMEOUT_MS, &answer) != 0,
             "the dialog did not answer a logoff request %s", when)) {
    return;
  }
  check(test, (answer == FALSE) == refused, "the dialog %s a logoff request %s",
        answer == FALSE ? "refused" : "allowed", when);
  if (sim.unitWindow == nullptr) {
    return;
  }
  // English texts: the simulator records the reason as it is.
  const std::wstring reason = expectedText(esc::Language::English, esc::MSG_SHUTDOWN_BLOCKED);
  const std::string expected = refused ? std::string(reason.begin(), reason.end()) : "no";
  check(test, waitForReadout(sim, "shutdown blocked", expected.c_str(), STATE_TIMEOUT_MS),
        "the reason given to Windows %s is \"%s\"", when,
        readoutValue(sim, "shutdown blocked").c_str());
}

void checkAnswersWhileAwaiting(Test& test, const Sim& sim, bool writing, const char* when) {
  std::wstring panel;
  check(test, readEditText(GetDlgItem(sim.dialog, IDC_STATUS_PANEL), panel),
        "the dialog does not answer %s", when);
  checkSessionEnd(test, sim, writing, when);
}

void disturbTheRunningUpdate(Test& test, const Sim& sim, HWND progress) {
  const std::string searches = readoutValue(sim, "device searches");
  // The progress window comes up in front; a click on the dialog then brings the dialog
  // there. Without a window manager, Wine does not keep an owned window above its owner,
  // so the progress window is brought back in front afterwards, as Alt+Tab would.
  if (progress != nullptr) {
    note("Escape, Enter and Alt+F4 to the progress window");
    pressClosingKeys(test, progress, "the progress window");
  }
  note("clicks on Update and Close, then Escape, Enter and Alt+F4 to the dialog");
  clickOn(GetDlgItem(sim.dialog, IDC_UPDATE));
  pressClosingKeys(test, sim.dialog, "the dialog");
  clickOn(GetDlgItem(sim.dialog, IDCANCEL));
  POINT closeBox{};
  if (check(test, findCloseBox(sim.dialog, closeBox), "the dialog's close box was not found")) {
    note("a click on the dialog's close box");
    clickAt(closeBox);
  }
  if (progress != nullptr) {
    SetForegroundWindow(progress);
    check(test, waitUntil(STATE_TIMEOUT_MS, [&] { return GetForegroundWindow() == progress; }),
          "the progress window did not come back in front");
  }

  note("close requests and commands posted from outside");
  PostMessageW(sim.dialog, WM_CLOSE, 0, 0);
  PostMessageW(sim.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  PostMessageW(progress, WM_CLOSE, 0, 0);
  PostMessageW(progress, WM_SYSCOMMAND, SC_CLOSE, 0);
  postCommand(sim.dialog, IDCANCEL);
  postCommand(sim.dialog, IDC_UPDATE);

  note("another HID device out and in, from the simulator and sent from outside");
  for (const char* plugged : {"no", "yes"}) {
    postCommand(sim.unitWindow, esc::sim::IDC_SIM_OTHER_DEVICE);
    check(test, waitForReadout(sim, "other device plugged", plugged, STATE_TIMEOUT_MS),
          "the simulator window did not take its button during the update");
  }
  const std::u16string other(OTHER_PATH,
                             OTHER_PATH + std::char_traits<wchar_t>::length(OTHER_PATH));
  check(test,
        sendDeviceChange(sim.dialog, DBT_DEVICEREMOVECOMPLETE, other) &&
            sendDeviceChange(sim.dialog, DBT_DEVICEARRIVAL, other),
        "the dialog did not take a notification during the update");

  Sleep(500);
  check(test, stillRunning(sim), "the program ended during the update");
  check(test, IsWindowVisible(sim.dialog) != FALSE, "the dialog is gone during the update");
  check(test, progress == nullptr || IsWindowVisible(progress) != FALSE,
        "the progress window is gone during the update");
  check(test, boxOf(sim) == nullptr, "a box opened during the update");
  check(test, readoutValue(sim, "device searches") == searches,
        "a device search ran during the update (%s before, %s after)", searches.c_str(),
        readoutValue(sim, "device searches").c_str());
}

void checkSignalsWhileWriting(Test& test, const Sim& sim) {
  check(test, readoutValue(sim, "system kept awake") == "yes",
        "the system is not kept awake during the update");
  const std::string taskbar = readoutValue(sim, "taskbar progress");
  note("taskbar progress during the update: %s", taskbar.c_str());
  check(test, isPercent(taskbar), "the taskbar progress is \"%s\" during the update",
        taskbar.c_str());
}

void checkSignalsAfterwards(Test& test, const Sim& sim) {
  check(test, waitForReadout(sim, "system kept awake", "no", STATE_TIMEOUT_MS),
        "the system is still kept awake after the update");
  check(test, waitForReadout(sim, "taskbar progress", "none", STATE_TIMEOUT_MS),
        "the taskbar still shows \"%s\" after the update",
        readoutValue(sim, "taskbar progress").c_str());
}

void checkNothingActsAfterTheUpdate(Test& test, const Sim& sim, const std::wstring& panel) {
  Sleep(AFTERMATH_MS);
  check(test, stillRunning(sim), "the program ended after the update");
  check(test, boxOf(sim) == nullptr, "a box opened after the update");
  std::wstring shown;
  check(test, readEditText(GetDlgItem(sim.dialog, IDC_STATUS_PANEL), shown),
        "the dialog does not answer after the update");
  checkText(test, "status panel after the update", shown, panel);
}

}  // namespace driver
