// A hot-plug storm: a thousand arrivals and removals in quick succession, of the unit
// (plugged in as a supported, incompatible, accepted or unidentifiable controller, in the
// wrong mode, without ESC or as no unit at all) and of another HID device through the
// simulator window, and device records sent from outside, also while the confirmation,
// the version question, the incompatibility box and the error box are open, and while an
// update uses the link. The program must stay alive and consistent throughout.
//
// When the checks run:
// - after every burst of BURST_EVENTS events and after every box is answered, once the
//   dialog has settled: the simulator has taken every click sent before (its count of
//   commands taken says so; clicks are taken in the order they were sent), the dialog's
//   thread answers a message again, no update is under way (the simulator's record of the
//   taskbar progress reads "none") and no box is open. Notifications held while a box was
//   open are handled on that same thread as soon as it closes, so they have been handled
//   by then. Checked: the program runs; no box; "link closed => Update disabled" (the
//   simulator's read-out says whether the program holds the unit open); Update enabled
//   exactly when the panel reads 40000; with Update enabled the rows show the plugged
//   unit's versions, all enabled, and otherwise the closed state ("0.0.0", disabled),
//   which a unit accepted without target or left unidentified at an arrival keeps;
//   the panel holds one of the program's texts whole: 40000, 40030, or one heading, a
//   blank line and one copy of the instructions (40001); no data block was written.
// - in each box, after a burst of events sent while it is open: it is the only box, and
//   the dialog still shows exactly what it showed when the box was first seen (its
//   events are held), or, in a question of the update, the lost connection (the open
//   unit's removal is shown at once there; arrivals are held). Likewise, unchanged,
//   after each burst while an update is under way and its error box has not come yet.
// Full updates are never reached: before Update is pressed the simulator is armed to
// refuse the lock, so a confirmed update ends in the error box at its first command, or
// once to fail the erase, which ends it after the erase's 5 s of waits.
#include <windows.h>
// dbt.h relies on the Windows types being declared first.
#include <dbt.h>

#include <iterator>
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
constexpr unsigned TARGET_EVENTS = 1000;
constexpr int BURST_EVENTS = 8;
// Boxes that get a burst of their own while open, in one settling; boxes beyond that are
// answered at once, so that a chain of incompatible units ends.
constexpr int BOXES_WITH_BURSTS = 3;
// Bursts while an update uses the link, before its error box.
constexpr int BURSTS_UNDER_WAY = 4;
// More boxes than this in one settling means they keep coming by themselves.
constexpr int MOST_BOXES_IN_A_ROW = 12;
constexpr DWORD FAST_POLL_MS = 2;
constexpr std::uint32_t STORM_SEED = 20240611;

constexpr char16_t FOREIGN_PATH[] =
    u"\\\\?\\hid#vid_046d&pid_c077#8&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

// What the unit is plugged in as (the simulator window's fields), and the version rows
// the dialog shows for it when it is ready.
struct Variant {
  const char* name;
  const wchar_t* model;
  const wchar_t* escVersion;
  const wchar_t* bootloader;
  const wchar_t* unitVersion;
  const wchar_t* productId;
  const wchar_t* escStatus;
  bool wrongMode;
  bool incompatible;  // its detection opens the information box
  const wchar_t* rows[3];
  const wchar_t* unitLabel;
};

const Variant SUPPORTED = {"supported", L"0x110FA0D2", L"1.0", L"1.2", L"1.2.3",
                           L"1",        L"3",          false,  false,  {L"1.2.3", L"1.2", L"1.0"},
                           L"TUNEPUCK"};
// Its ESC already has the target version: the version question follows the confirmation.
const Variant UP_TO_DATE = {"supported, up to date",
                            L"0x140FA0FA",
                            L"1.1",
                            L"2.1.5",
                            L"0x00010500",
                            L"2",
                            L"3",
                            false,
                            false,
                            {L"1.5", L"2.1.5", L"1.1"},
                            L"CONF-POD"};
const Variant NO_FIRMWARE = {"supported, no firmware",
                             L"0x110FA0AA",
                             L"none",
                             L"0x02000103",
                             L"2.1.5",
                             L"1",
                             L"3",
                             false,
                             false,
                             {L"2.1.5", L"2.1.3", L"----------"},
                             L"TUNEPUCK"};
const Variant WRONG_MODE = {"in the wrong mode",
                            L"0x110FA0D2",
                            L"1.0",
                            L"1.2",
                            L"1.2.3",
                            L"1",
                            L"3",
                            true,
                            false,
                            {},
                            nullptr};
const Variant NO_ESC = {"without updatable ESC",
                        L"0x110FA0D2",
                        L"1.0",
                        L"1.2",
                        L"1.2.3",
                        L"1",
                        L"0",
                        false,
                        false,
                        {},
                        nullptr};
const Variant INCOMPATIBLE = {"incompatible", L"0x110FA0D3", L"1.0", L"1.2", L"1.2.3", L"1",
                              L"3",           false,         true,   {},     nullptr};
const Variant ACCEPTED = {"accepted without target",
                          L"0x0A0640AA",
                          L"1.0",
                          L"1.2",
                          L"1.2.3",
                          L"1",
                          L"3",
                          false,
                          false,
                          {},
                          nullptr};
const Variant NOT_A_UNIT = {"no unit (product id 3)",
                            L"0x110FA0D2",
                            L"1.0",
                            L"1.2",
                            L"1.2.3",
                            L"3",
                            L"3",
                            false,
                            false,
                            {},
                            nullptr};

// What a round aims for once its burst has settled, from the ready state: a box, or an
// update under way (which fails its erase after the erase's 5 s of waits).
enum class Aim { None, Confirmation, Question, UpdateUnderWay };

struct Round {
  const Variant* variant;
  const wchar_t* fault;  // armed before the burst, or null
  Aim aim;
};

const Round ROUNDS[] = {
    {&SUPPORTED, nullptr, Aim::Confirmation},
    {&WRONG_MODE, nullptr, Aim::None},
    {&UP_TO_DATE, nullptr, Aim::Question},
    {&INCOMPATIBLE, nullptr, Aim::None},
    {&NO_ESC, nullptr, Aim::None},
    {&ACCEPTED, nullptr, Aim::None},
    {&NO_FIRMWARE, L"ident-lost", Aim::None},
    {&NOT_A_UNIT, nullptr, Aim::None},
    {&NO_FIRMWARE, nullptr, Aim::Confirmation},
};
// Played once, first: each update under way costs the erase's 5 s.
const Round UPDATE_ROUND = {&SUPPORTED, nullptr, Aim::UpdateUnderWay};

enum BoxKind { CONFIRMATION, QUESTION, INCOMPATIBILITY, ERROR_BOX, BOX_KINDS };
const char* const BOX_NAMES[BOX_KINDS] = {"confirmation", "version question", "incompatibility box",
                                          "error box"};
const esc::MessageId BOX_CAPTIONS[BOX_KINDS] = {
    esc::MSG_CONFIRM_CAPTION, esc::MSG_OLDER_FIRMWARE_CAPTION, esc::MSG_INCOMPATIBLE_CAPTION,
    esc::MSG_UPDATE_FAILED_CAPTION};

constexpr int ROW_CONTROLS[] = {IDC_ROW1_VALUE, IDC_ROW2_VALUE, IDC_ROW3_VALUE,
                                IDC_ROW1_LABEL, IDC_ROW2_LABEL, IDC_ROW3_LABEL};

// What the dialog shows, and whether the program holds the unit open.
struct DialogView {
  bool linkOpen = false;
  bool updateEnabled = false;
  std::wstring panel;
  std::wstring rows[3];
  std::wstring unitLabel;
  bool rowEnabled[6] = {};

  bool sameScreen(const DialogView& other) const {
    bool same = updateEnabled == other.updateEnabled && panel == other.panel &&
                unitLabel == other.unitLabel;
    for (int i = 0; i < 3; ++i) same = same && rows[i] == other.rows[i];
    for (int i = 0; i < 6; ++i) same = same && rowEnabled[i] == other.rowEnabled[i];
    return same;
  }
};

template <typename Condition>
bool waitBriefly(DWORD timeoutMs, Condition condition) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() >= end) {
      return false;
    }
    Sleep(FAST_POLL_MS);
  }
  return true;
}

struct BoxSearch {
  DWORD processId;
  HWND dialog;
  std::vector<HWND> found;
};

BOOL CALLBACK collectBox(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<BoxSearch*>(context);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (processId == search.processId && window != search.dialog &&
      std::wstring(className) == L"#32770") {
    search.found.push_back(window);
  }
  return TRUE;
}

class Storm {
 public:
  Storm(Test& test, Sim& sim) : test_(test), sim_(sim) {}

  void run() {
    readPanelTexts();
    const ULONGLONG started = GetTickCount64();
    playRound(UPDATE_ROUND);
    for (std::size_t round = 0; events_ < TARGET_EVENTS && alive_; ++round) {
      playRound(ROUNDS[round % std::size(ROUNDS)]);
    }
    const double seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
    note(
        "%u arrivals and removals survived in %.1f s: %u through the simulator window, %u "
        "records sent from outside",
        events_, seconds, events_ - records_, records_);
    note(
        "while a box was open: %u in the confirmation, %u in the version question, %u in the "
        "incompatibility box, %u in the error box; %u while an update was under way; %u boxes "
        "answered, %u settled checks",
        eventsIn_[CONFIRMATION], eventsIn_[QUESTION], eventsIn_[INCOMPATIBILITY],
        eventsIn_[ERROR_BOX], eventsUnderWay_, boxesAnswered_, settledChecks_);
    check(test_, events_ >= TARGET_EVENTS, "the storm ended after %u events", events_);
    for (int kind = 0; kind < BOX_KINDS; ++kind) {
      check(test_, eventsIn_[kind] >= 2 * BURST_EVENTS, "only %u events while the %s was open",
            eventsIn_[kind], BOX_NAMES[kind]);
    }
    check(test_, eventsUnderWay_ >= 2 * BURST_EVENTS,
          "only %u events while an update was under way", eventsUnderWay_);
  }

 private:
  // ---- One round ----------------------------------------------------------------------

  void playRound(const Round& round) {
    setUnitFields(*round.variant);
    if (round.fault != nullptr) {
      armFault(round.fault);
    }
    burst(false, nullptr);
    settle();
    if (round.aim != Aim::None && alive_) {
      aimForBox(round);
    }
  }

  // From whatever the burst left: the round's supported unit plugged in anew, the lock
  // refusal (or a failing erase) armed, then Update.
  void aimForBox(const Round& round) {
    armFault(round.aim == Aim::UpdateUnderWay ? L"erase-status" : L"lock-refused");
    if (unitPlugged_) {
      post(esc::sim::IDC_SIM_UNPLUG);
      ++events_;
    }
    plugUnit(*round.variant);
    ++events_;
    settle();
    if (!alive_ ||
        !check(test_, controlEnabled(sim_.dialog, IDC_UPDATE),
               "a %s unit plugged in afresh is not ready for an update", round.variant->name)) {
      return;
    }
    erasesBefore_ = readoutValue(sim_, "erases");
    pressButton(sim_.dialog, IDC_UPDATE);
    aim_ = round.aim;
    burstsUnderWay_ = 0;
    settle();
    aim_ = Aim::None;
  }

  // ---- Events -------------------------------------------------------------------------

  std::uint32_t nextRandom() {
    random_ = random_ * 1664525u + 1013904223u;
    return random_ >> 16;
  }

  // Unit in or out, the other device out or in, or a record sent from outside: the
  // unit's removal (in letters of either case), another device's removal, or an arrival.
  // An arrival record is sent only where it cannot open a box (which would keep the send
  // waiting): while events are held, or while no incompatible unit can be plugged in.
  // `counted` is where the burst's events are counted besides the total, or null.
  void burst(bool held, unsigned* counted) {
    for (int i = 0; i < BURST_EVENTS && alive_; ++i) {
      const std::uint32_t choice = nextRandom() % 10;
      if (choice < 4) {
        toggleUnit();
      } else if (choice < 7 || (choice == 9 && !held && incompatibleMayBePlugged_)) {
        post(esc::sim::IDC_SIM_OTHER_DEVICE);
      } else {
        sendRecord(choice);
      }
      ++events_;
      if (counted != nullptr) {
        ++*counted;
      }
    }
  }

  void toggleUnit() {
    if (unitPlugged_) {
      post(esc::sim::IDC_SIM_UNPLUG);
      unitPlugged_ = false;
    } else {
      plugUnit(*fields_);
    }
  }

  void plugUnit(const Variant& variant) {
    post(esc::sim::IDC_SIM_PLUG);
    unitPlugged_ = true;
    pluggedUnit_ = &variant;
    incompatibleMayBePlugged_ = incompatibleMayBePlugged_ || variant.incompatible;
  }

  // Choice 7: the unit's removal, its path in either case. 8: a removal the dialog must
  // ignore, another device's or one whose record is too short to hold a path, after the
  // node-change notice that the system broadcasts on any change (no record). 9: an arrival.
  void sendRecord(std::uint32_t choice) {
    std::u16string path = choice == 7 ? unitPath_ : FOREIGN_PATH;
    DWORD statedSize = 0;
    if (choice == 7 && nextRandom() % 2 == 0) {
      for (char16_t& unit : path) {
        if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
      }
    }
    if (choice == 8) {
      DWORD_PTR result = 0;
      check(test_,
            SendMessageTimeoutW(sim_.dialog, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0,
                                SMTO_ABORTIFHUNG, STATE_TIMEOUT_MS, &result) != 0,
            "the dialog did not take a node-change notice");
      if (nextRandom() % 2 == 0) {
        path = unitPath_;
        statedSize = sizeof(DEV_BROADCAST_HDR);
      }
    }
    const WPARAM event = choice == 9 ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    check(test_, sendDeviceChange(sim_.dialog, event, path, statedSize),
          "the dialog did not take a record");
    ++records_;
  }

  void post(int command) {
    postCommand(sim_.unitWindow, command);
    ++commandsSent_;
  }

  // ---- The simulator's settings ----------------------------------------------------------

  // Only between bursts: the fields are set by sent messages, which the simulator takes
  // before clicks still waiting, and they count at the next plug-in.
  void setUnitFields(const Variant& variant) {
    const struct {
      int id;
      const wchar_t* text;
    } fields[] = {
        {esc::sim::IDC_SIM_MODEL, variant.model},
        {esc::sim::IDC_SIM_ESC_VERSION, variant.escVersion},
        {esc::sim::IDC_SIM_BOOTLOADER_VERSION, variant.bootloader},
        {esc::sim::IDC_SIM_UNIT_VERSION, variant.unitVersion},
        {esc::sim::IDC_SIM_PRODUCT_ID, variant.productId},
        {esc::sim::IDC_SIM_ESC_STATUS, variant.escStatus},
    };
    for (const auto& field : fields) {
      check(test_, setControlText(sim_.unitWindow, field.id, field.text),
            "could not set field %d of the simulator window", field.id);
    }
    DWORD_PTR result = 0;
    check(test_,
          SendMessageTimeoutW(GetDlgItem(sim_.unitWindow, esc::sim::IDC_SIM_WRONG_MODE),
                              BM_SETCHECK, variant.wrongMode ? BST_CHECKED : BST_UNCHECKED, 0,
                              SMTO_ABORTIFHUNG, 300, &result) != 0,
          "could not set the wrong mode in the simulator window");
    fields_ = &variant;
  }

  void armFault(const wchar_t* fault) {
    check(test_, setControlText(sim_.unitWindow, esc::sim::IDC_SIM_FAULT, fault),
          "could not set the fault in the simulator window");
    post(esc::sim::IDC_SIM_ARM_FAULT);
    if (waitForCommands()) {
      check(test_, readoutValue(sim_, "faults waiting") == "1", "the fault %s is not armed",
            printable(fault).c_str());
    }
  }

  // ---- Settling and the checks -----------------------------------------------------------

  // A click that changes nothing (plug in a plugged unit, pull an unplugged one) is taken
  // in order after every earlier click; the count of commands taken shows when it was.
  bool waitForCommands() {
    post(unitPlugged_ ? esc::sim::IDC_SIM_PLUG : esc::sim::IDC_SIM_UNPLUG);
    const std::string expected = std::to_string(commandsSent_);
    const bool taken = waitBriefly(STATE_TIMEOUT_MS, [&] {
      return readoutValue(sim_, "commands taken") == expected || !processRuns();
    });
    alive_ = check(test_, processRuns(), "the program has ended") &&
             check(test_, taken, "the simulator took %s clicks, not %s",
                   readoutValue(sim_, "commands taken").c_str(), expected.c_str()) &&
             check(test_, waitBriefly(STATE_TIMEOUT_MS, [&] { return responsive(sim_.dialog); }),
                   "the dialog does not answer");
    if (alive_ && !unitPlugged_ && pluggedUnit_ != nullptr && pluggedUnit_->incompatible) {
      incompatibleMayBePlugged_ = false;
    }
    return alive_;
  }

  // Settles the dialog: answers each box that opens, after a burst of its own for the
  // first ones, and checks the dialog once no box is open and no update is under way.
  // The end of a confirmed update handles waiting messages (clicks on the simulator
  // included) before it shows its error box, so clicks can be taken while the box is
  // still to come: the simulator's record of the taskbar button, which shows a progress
  // from the update's first command until its error box has been dismissed, tells.
  void settle() {
    ULONGLONG end = GetTickCount64() + STATE_TIMEOUT_MS;
    for (int boxes = 0; alive_;) {
      if (!waitForCommands()) {
        return;
      }
      const std::vector<HWND> open = openBoxes();
      if (open.empty() && readoutValue(sim_, "taskbar progress") != "none") {
        alive_ = check(test_, GetTickCount64() < end, "an update does not end: taskbar %s",
                       readoutValue(sim_, "taskbar progress").c_str());
        // Once the unit has taken the erase, the update pauses 4 s with its link open and
        // nothing of it can end the update before the pause does.
        if (aim_ == Aim::UpdateUnderWay && burstsUnderWay_ < BURSTS_UNDER_WAY &&
            readoutValue(sim_, "erases") != erasesBefore_) {
          stormUnderWay();
        } else {
          Sleep(FAST_POLL_MS);
        }
        continue;
      }
      if (open.empty()) {
        checkSettled();
        return;
      }
      if (!check(test_, open.size() == 1, "%u boxes are open at once",
                 static_cast<unsigned>(open.size())) ||
          !check(test_, boxes < MOST_BOXES_IN_A_ROW, "boxes keep coming (%d in a row)", boxes) ||
          !check(test_, GetWindow(open[0], GW_OWNER) == sim_.dialog,
                 "a box that the dialog does not own")) {
        alive_ = false;
        return;
      }
      const HWND box = open[0];
      const int kind = kindOf(box);
      if (!check(test_, kind != BOX_KINDS, "an unexpected box: \"%s\"",
                 printable(windowText(box)).c_str())) {
        alive_ = false;
        return;
      }
      // A burst in the confirmation of a round that aims further would mostly pull the
      // unit away before the question or the update.
      if (boxes < BOXES_WITH_BURSTS && (kind != CONFIRMATION || aim_ == Aim::Confirmation)) {
        stormInBox(box, kind);
      }
      answer(box, kind);
      ++boxes;
      end = GetTickCount64() + STATE_TIMEOUT_MS;
    }
  }

  void stormInBox(HWND box, int kind) {
    const DialogView before = readDialog();
    burst(true, &eventsIn_[kind]);
    if (!waitForCommands()) {
      return;
    }
    const std::vector<HWND> open = openBoxes();
    check(test_, open.size() == 1 && open[0] == box,
          "%u boxes are open after a burst in the %s (which is %s)",
          static_cast<unsigned>(open.size()), BOX_NAMES[kind],
          IsWindow(box) ? "still open" : "gone");
    const DialogView during = readDialog();
    const bool question = kind == CONFIRMATION || kind == QUESTION;
    check(test_,
          during.sameScreen(before) ||
              (question && !during.linkOpen && during.sameScreen(lostConnection(before))),
          "the dialog changed while the %s was open:\n    panel \"%s\" -> \"%s\"\n    Update %d -> "
          "%d, first row \"%s\" -> \"%s\"",
          BOX_NAMES[kind], printable(before.panel).c_str(), printable(during.panel).c_str(),
          before.updateEnabled, during.updateEnabled, printable(before.rows[0]).c_str(),
          printable(during.rows[0]).c_str());
  }

  // While the update pauses, the dialog shows what it showed when the pause began, and
  // neither searches for devices nor sends anything: the link stays as the update has it.
  void stormUnderWay() {
    if (burstsUnderWay_++ == 0) {
      underWay_ = readDialog();
      searchesUnderWay_ = readoutValue(sim_, "device searches");
      requestsUnderWay_ = readoutValue(sim_, "requests");
    }
    burst(true, &eventsUnderWay_);
    if (!waitForCommands() || !openBoxes().empty()) {
      return;
    }
    check(test_, readDialog().sameScreen(underWay_),
          "the dialog changed while the update was under way");
    check(test_,
          readoutValue(sim_, "device searches") == searchesUnderWay_ &&
              readoutValue(sim_, "requests") == requestsUnderWay_,
          "while the update was under way, device searches went from %s to %s and requests "
          "from %s to %s",
          searchesUnderWay_.c_str(), readoutValue(sim_, "device searches").c_str(),
          requestsUnderWay_.c_str(), readoutValue(sim_, "requests").c_str());
  }

  void answer(HWND box, int kind) {
    int button = IDOK;
    if (kind == CONFIRMATION) {
      button = aim_ != Aim::Confirmation || ++confirmations_ % 2 == 1 ? IDOK : IDCANCEL;
    } else if (kind == QUESTION) {
      button = ++questions_ % 2 == 1 ? IDYES : IDNO;
    }
    postCommand(box, button);
    ++boxesAnswered_;
  }

  void checkSettled() {
    ++settledChecks_;
    const DialogView view = readDialog();
    check(test_, view.linkOpen || !view.updateEnabled,
          "Update is enabled while the program holds no unit open");
    check(test_, view.updateEnabled == (view.panel == ready_),
          "Update is %s while the panel reads \"%s\"", view.updateEnabled ? "enabled" : "disabled",
          printable(view.panel).c_str());
    checkRows(view);
    bool known = false;
    for (const std::wstring& text : panelTexts_) {
      known = known || view.panel == text;
    }
    check(test_, known, "the panel holds no text of the program's: \"%s\"",
          printable(view.panel).c_str());
    for (const char* written : {"blocks written", "bytes written"}) {
      check(test_, readoutValue(sim_, written) == "0", "the unit reports %s: %s", written,
            readoutValue(sim_, written).c_str());
    }
  }

  void checkRows(const DialogView& view) {
    const Variant* unit = view.updateEnabled ? pluggedUnit_ : nullptr;
    if (view.updateEnabled && !check(test_, unit != nullptr && unit->unitLabel != nullptr,
                                     "Update is enabled for a unit that is not ready")) {
      return;
    }
    for (int i = 0; i < 3; ++i) {
      const std::wstring expected = unit != nullptr ? unit->rows[i] : L"0.0.0";
      checkText(test_, unit != nullptr ? "version row of the open unit" : "version row, no link",
                view.rows[i], expected);
    }
    if (unit != nullptr) {
      checkText(test_, "first row label", view.unitLabel, unit->unitLabel);
    }
    for (int i = 0; i < 6; ++i) {
      check(test_, view.rowEnabled[i] == (unit != nullptr), "version row control %d is %s",
            ROW_CONTROLS[i], view.rowEnabled[i] ? "enabled" : "disabled");
    }
  }

  // ---- Reading the windows ---------------------------------------------------------------

  // What the open unit's removal leaves: the link closed, Update disabled, the rows in
  // the closed state and the lost connection's heading.
  static DialogView lostConnection(const DialogView& before) {
    DialogView lost = before;
    lost.linkOpen = false;
    lost.updateEnabled = false;
    lost.panel = withInstructions(EN, esc::MSG_CONNECTION_LOST);
    for (std::wstring& row : lost.rows) {
      row = L"0.0.0";
    }
    for (bool& enabled : lost.rowEnabled) {
      enabled = false;
    }
    return lost;
  }

  DialogView readDialog() {
    DialogView view;
    view.linkOpen = readoutValue(sim_, "opened by the program") == "yes";
    view.updateEnabled = controlEnabled(sim_.dialog, IDC_UPDATE);
    // The update does not handle messages during the second the unit takes to answer the
    // erase.
    check(test_,
          waitBriefly(
              STATE_TIMEOUT_MS,
              [&] { return readEditText(GetDlgItem(sim_.dialog, IDC_STATUS_PANEL), view.panel); }),
          "the dialog does not answer for its panel");
    for (int i = 0; i < 3; ++i) {
      view.rows[i] = controlText(sim_.dialog, ROW_CONTROLS[i]);
    }
    view.unitLabel = controlText(sim_.dialog, IDC_ROW1_LABEL);
    for (int i = 0; i < 6; ++i) {
      view.rowEnabled[i] = controlEnabled(sim_.dialog, ROW_CONTROLS[i]);
    }
    return view;
  }

  std::vector<HWND> openBoxes() const {
    BoxSearch search{sim_.process.dwProcessId, sim_.dialog, {}};
    EnumWindows(collectBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  int kindOf(HWND box) const {
    const std::wstring caption = windowText(box);
    for (int kind = 0; kind < BOX_KINDS; ++kind) {
      if (caption == expectedText(EN, BOX_CAPTIONS[kind])) {
        return kind;
      }
    }
    return BOX_KINDS;
  }

  bool processRuns() const { return WaitForSingleObject(sim_.process.hProcess, 0) == WAIT_TIMEOUT; }

  void readPanelTexts() {
    ready_ = expectedText(EN, esc::MSG_READY);
    panelTexts_ = {ready_, expectedText(EN, esc::MSG_UPDATE_FAILED_NOTICE)};
    for (const esc::MessageId heading :
         {esc::MSG_WRONG_MODE, esc::MSG_NO_UPDATABLE_ESC, esc::MSG_NO_UNIT,
          esc::MSG_CONNECTION_LOST, esc::MSG_INCOMPATIBLE_HEADING}) {
      panelTexts_.push_back(withInstructions(EN, heading));
    }
  }

  Test& test_;
  Sim& sim_;
  const std::u16string unitPath_ = esc::sim::makeSupportedUnit().path;
  std::wstring ready_;
  std::vector<std::wstring> panelTexts_;
  // As the clicks sent so far leave them, once taken.
  bool unitPlugged_ = true;
  const Variant* pluggedUnit_ = &SUPPORTED;
  const Variant* fields_ = &SUPPORTED;
  bool incompatibleMayBePlugged_ = false;
  Aim aim_ = Aim::None;
  int burstsUnderWay_ = 0;
  DialogView underWay_;
  std::string searchesUnderWay_;
  std::string requestsUnderWay_;
  std::string erasesBefore_;
  unsigned eventsUnderWay_ = 0;
  bool alive_ = true;
  std::uint32_t random_ = STORM_SEED;
  unsigned long commandsSent_ = 0;
  unsigned events_ = 0;
  unsigned records_ = 0;
  unsigned eventsIn_[BOX_KINDS] = {};
  unsigned boxesAnswered_ = 0;
  unsigned settledChecks_ = 0;
  unsigned confirmations_ = 0;
  unsigned questions_ = 0;
};

}  // namespace

void hotPlugStormLeavesTheDialogConsistent(Test& test) {
  Sim sim;
  if (startReady(test, sim)) {
    Storm storm(test, sim);
    storm.run();
  }
  stopSim(sim);
}

}  // namespace driver
