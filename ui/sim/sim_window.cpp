#include "ui/sim/sim_window.h"

// dbt.h relies on the Windows types being declared first.
#include <dbt.h>

#include <cstddef>
#include <cstring>

#include "ui/sim/sim_controls.h"
#include "ui/sim/sim_readout.h"
#include "ui/win32/main_dialog.h"

namespace esc::sim {
namespace {

constexpr UINT_PTR READOUT_TIMER = 1;
constexpr UINT READOUT_PERIOD_MS = 200;

// The class id the real platform puts into HID interface notifications.
constexpr GUID HID_INTERFACE_CLASS = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr char16_t OTHER_DEVICE_PATH[] =
    u"\\\\?\\hid#vid_1234&pid_5678#7&2c3d4e5f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr std::uint16_t OTHER_DEVICE_VENDOR = 0x1234;
constexpr std::uint16_t OTHER_DEVICE_PRODUCT = 0x5678;

// Layout in pixels.
constexpr int MARGIN = 10;
constexpr int LABEL_WIDTH = 130;
constexpr int FIELD_X = MARGIN + LABEL_WIDTH + 5;
constexpr int FIELD_WIDTH = 190;
constexpr int CLIENT_WIDTH = FIELD_X + FIELD_WIDTH + MARGIN;
constexpr int ROW_STEP = 28;
constexpr int CONTROL_HEIGHT = 23;
constexpr int LIST_HEIGHT = 200;  // a combo box's height includes its drop-down list
constexpr int READOUT_HEIGHT = 16 * 15;

const wchar_t* const MODEL_CHOICES[] = {
    L"0x110FA0AA  supported, rating 170, 17 cells", L"0x110FA0D2  supported, rating 210, 17 cells",
    L"0x110FA0FA  supported, rating 250, 17 cells", L"0x140FA0AA  supported, rating 170, 20 cells",
    L"0x140FA0D2  supported, rating 210, 20 cells", L"0x140FA0FA  supported, rating 250, 20 cells",
    L"0x0A0640AA  accepted, no update offered",     L"0x110FA0D3  incompatible",
};
const wchar_t* const ESC_VERSION_CHOICES[] = {L"1.0", L"1.1", L"1.2", L"none"};
const wchar_t* const PACKED_VERSION_CHOICES[] = {L"1.2", L"1.2.3", L"2.1.5", L"0x00010500"};
const wchar_t* const PRODUCT_CHOICES[] = {L"1", L"2", L"3"};
const wchar_t* const ESC_STATUS_CHOICES[] = {L"3  updatable ESC", L"0  no ESC"};
const wchar_t* const FAULT_CHOICES[] = {
    L"none",      L"lock-refused", L"unlock-status", L"erase-status", L"address-status",
    L"block:500", L"no-answer",    L"unplug:500",    L"ident-lost",
};

struct FieldSpec {
  int id;
  const wchar_t* label;
  const wchar_t* const* choices;
  std::size_t choiceCount;
  // Parses the field's text into the settings; false when it is not of the field's form.
  bool (*read)(const std::string& text, UnitSettings& settings);
};

template <std::size_t N>
constexpr std::size_t countOf(const wchar_t* const (&)[N]) {
  return N;
}

constexpr FieldSpec UNIT_FIELDS[] = {
    {IDC_SIM_MODEL, L"ESC model code:", MODEL_CHOICES, countOf(MODEL_CHOICES),
     [](const std::string& text, UnitSettings& s) { return parseModelCode(text, s.modelCode); }},
    {IDC_SIM_ESC_VERSION, L"ESC firmware version:", ESC_VERSION_CHOICES,
     countOf(ESC_VERSION_CHOICES),
     [](const std::string& text, UnitSettings& s) {
       return parseEscVersion(text, s.escFirmwareVersion);
     }},
    {IDC_SIM_BOOTLOADER_VERSION, L"Bootloader version:", PACKED_VERSION_CHOICES,
     countOf(PACKED_VERSION_CHOICES),
     [](const std::string& text, UnitSettings& s) {
       return parsePackedVersion(text, s.bootloaderVersion);
     }},
    {IDC_SIM_UNIT_VERSION, L"Unit firmware version:", PACKED_VERSION_CHOICES,
     countOf(PACKED_VERSION_CHOICES),
     [](const std::string& text, UnitSettings& s) {
       return parsePackedVersion(text, s.unitFirmwareVersion);
     }},
    {IDC_SIM_PRODUCT_ID, L"USB product id:", PRODUCT_CHOICES, countOf(PRODUCT_CHOICES),
     [](const std::string& text, UnitSettings& s) { return parseNumber16(text, s.productId); }},
    {IDC_SIM_ESC_STATUS, L"ESC status:", ESC_STATUS_CHOICES, countOf(ESC_STATUS_CHOICES),
     [](const std::string& text, UnitSettings& s) { return parseNumber16(text, s.escStatus); }},
};

std::string fieldText(int id, const UnitSettings& settings) {
  switch (id) {
    case IDC_SIM_MODEL:
      return hexText(settings.modelCode);
    case IDC_SIM_ESC_VERSION:
      if (settings.escFirmwareVersion == 0xFFFF) {
        return "none";
      }
      return std::to_string(settings.escFirmwareVersion >> 8) + "." +
             std::to_string(settings.escFirmwareVersion & 0xFFu);
    case IDC_SIM_BOOTLOADER_VERSION:
      return hexText(settings.bootloaderVersion);
    case IDC_SIM_UNIT_VERSION:
      return hexText(settings.unitFirmwareVersion);
    case IDC_SIM_PRODUCT_ID:
      return std::to_string(settings.productId);
    case IDC_SIM_ESC_STATUS:
      return std::to_string(settings.escStatus);
    default:
      return std::string();
  }
}

// The fields hold ASCII only; anything else becomes '?', which no parser accepts.
std::string controlText(HWND window, int id) {
  wchar_t buffer[256] = {};
  GetDlgItemTextW(window, id, buffer, 256);
  std::string text;
  for (const wchar_t* c = buffer; *c != L'\0'; ++c) {
    text += *c < 0x80 ? static_cast<char>(*c) : '?';
  }
  return text;
}

void setControlText(HWND window, int id, const std::string& text) {
  SetDlgItemTextA(window, id, text.c_str());
}

HWND addControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int x,
                int y, int width, int height, int id) {
  const HWND control = CreateWindowExW(
      0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               FALSE);
  return control;
}

HWND addList(HWND parent, int id, int x, int y, int width, const wchar_t* const* choices,
             std::size_t count) {
  const HWND list =
      addControl(parent, L"COMBOBOX", L"", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP,
                 x, y, width, LIST_HEIGHT, id);
  for (std::size_t i = 0; i < count; ++i) {
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choices[i]));
  }
  return list;
}

void addLabel(HWND parent, const wchar_t* text, int y) {
  addControl(parent, L"STATIC", text, SS_LEFT, MARGIN, y + 4, LABEL_WIDTH, CONTROL_HEIGHT - 4, -1);
}

// Returns the height the controls take.
int createControls(HWND window, const UnitSettings& settings) {
  int y = MARGIN;
  addControl(window, L"BUTTON", L"Plug in", BS_PUSHBUTTON | WS_TABSTOP, MARGIN, y, 80,
             CONTROL_HEIGHT, IDC_SIM_PLUG);
  addControl(window, L"BUTTON", L"Unplug", BS_PUSHBUTTON | WS_TABSTOP, MARGIN + 85, y, 80,
             CONTROL_HEIGHT, IDC_SIM_UNPLUG);
  addControl(window, L"BUTTON", L"Other HID device in/out", BS_PUSHBUTTON | WS_TABSTOP,
             MARGIN + 170, y, CLIENT_WIDTH - 2 * MARGIN - 170, CONTROL_HEIGHT,
             IDC_SIM_OTHER_DEVICE);
  y += ROW_STEP + 6;
  addControl(window, L"STATIC", L"The unit and its ESC, as the next plug-in makes them:", SS_LEFT,
             MARGIN, y, CLIENT_WIDTH - 2 * MARGIN, 16, -1);
  y += 20;
  for (const FieldSpec& field : UNIT_FIELDS) {
    addLabel(window, field.label, y);
    addList(window, field.id, FIELD_X, y, FIELD_WIDTH, field.choices, field.choiceCount);
    setControlText(window, field.id, fieldText(field.id, settings));
    y += ROW_STEP;
  }
  addControl(window, L"BUTTON", L"Unit in the wrong mode", BS_AUTOCHECKBOX | WS_TABSTOP, FIELD_X, y,
             FIELD_WIDTH, CONTROL_HEIGHT, IDC_SIM_WRONG_MODE);
  CheckDlgButton(window, IDC_SIM_WRONG_MODE, settings.wrongMode ? BST_CHECKED : BST_UNCHECKED);
  y += ROW_STEP + 6;
  // The fault texts run long ("block:3:0x8000002A"): this row's field starts further left.
  constexpr int FAULT_X = MARGIN + 85;
  constexpr int ARM_WIDTH = 50;
  addControl(window, L"STATIC", L"Fault to inject:", SS_LEFT, MARGIN, y + 4, FAULT_X - MARGIN,
             CONTROL_HEIGHT - 4, -1);
  addList(window, IDC_SIM_FAULT, FAULT_X, y, CLIENT_WIDTH - MARGIN - ARM_WIDTH - 5 - FAULT_X,
          FAULT_CHOICES, countOf(FAULT_CHOICES));
  setControlText(window, IDC_SIM_FAULT, faultText(settings.fault));
  addControl(window, L"BUTTON", L"Arm", BS_PUSHBUTTON | WS_TABSTOP,
             CLIENT_WIDTH - MARGIN - ARM_WIDTH, y, ARM_WIDTH, CONTROL_HEIGHT, IDC_SIM_ARM_FAULT);
  y += ROW_STEP;
  addControl(window, L"STATIC", L"", SS_LEFT, MARGIN, y, CLIENT_WIDTH - 2 * MARGIN, 30,
             IDC_SIM_MESSAGE);
  y += 34;
  addControl(window, L"STATIC", L"", SS_LEFT | WS_BORDER, MARGIN, y, CLIENT_WIDTH - 2 * MARGIN,
             READOUT_HEIGHT, IDC_SIM_READOUT);
  return y + READOUT_HEIGHT + MARGIN;
}

// Tells the dialog what the platform would: one notification per device interface, and
// only while the dialog is registered for them. Sent, not posted: the handler runs at once
// on this thread, inside whatever message loop dispatched the click or the timer, just as
// a platform notification would.
void notifyDialog(WPARAM event, const std::u16string& path) {
  constexpr std::size_t PATH_ROOM = 512;
  struct {
    DEV_BROADCAST_DEVICEINTERFACE_W header;
    wchar_t room[PATH_ROOM];
  } broadcast{};
  if (mainWindow == nullptr || deviceNotification == nullptr || path.size() >= PATH_ROOM) {
    return;
  }
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  const std::size_t pathBytes = path.size() * sizeof(char16_t);
  std::memcpy(reinterpret_cast<unsigned char*>(&broadcast) + nameOffset, path.data(), pathBytes);
  broadcast.header.dbcc_size = static_cast<DWORD>(nameOffset + pathBytes + sizeof(char16_t));
  broadcast.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  broadcast.header.dbcc_classguid = HID_INTERFACE_CLASS;
  SendMessageW(mainWindow, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&broadcast));
}

// The record is updated before each notification: the handler may open a message box
// whose loop runs this again, and it must not tell the same change twice.
void tellPlugChanges(Simulator& simulator) {
  for (std::size_t device = 0; device < simulator.bus.devices.size(); ++device) {
    const bool plugged = simulator.bus.devices[device].plugged;
    if (simulator.toldPlugged[device] == plugged) {
      continue;
    }
    simulator.toldPlugged[device] = plugged;
    const std::u16string path = simulator.bus.devices[device].path;
    notifyDialog(plugged ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, path);
  }
}

void showMessage(Simulator& simulator, const std::string& text) {
  setControlText(simulator.window, IDC_SIM_MESSAGE, text);
}

// Applies the fields only when every one of them is valid.
bool readUnitFields(Simulator& simulator, UnitSettings& settings) {
  for (const FieldSpec& field : UNIT_FIELDS) {
    const std::string text = controlText(simulator.window, field.id);
    if (!field.read(text, settings)) {
      char label[64] = {};
      WideCharToMultiByte(CP_UTF8, 0, field.label, -1, label, sizeof label, nullptr, nullptr);
      showMessage(simulator, std::string(label) + " \"" + text + "\" is not valid.");
      return false;
    }
  }
  settings.wrongMode = IsDlgButtonChecked(simulator.window, IDC_SIM_WRONG_MODE) == BST_CHECKED;
  return true;
}

void plugUnitIn(Simulator& simulator) {
  Device& unit = simulator.bus.devices[simulator.unit];
  if (unit.plugged) {
    return;
  }
  UnitSettings settings = simulator.settings;
  if (!readUnitFields(simulator, settings)) {
    return;
  }
  simulator.settings = settings;
  applyIdentity(settings, unit);
  plug(simulator.bus, simulator.unit);
  showMessage(simulator, "");
}

void armFaultFromField(Simulator& simulator) {
  const std::string text = controlText(simulator.window, IDC_SIM_FAULT);
  FaultSetting fault;
  if (!parseFault(text, fault)) {
    showMessage(simulator, "Fault \"" + text + "\" is not valid.");
    return;
  }
  simulator.settings.fault = fault;
  armFault(simulator.bus, fault);
  showMessage(simulator, "Armed: " + faultText(fault));
}

void togglePlugged(Simulator& simulator, std::size_t device) {
  if (simulator.bus.devices[device].plugged) {
    unplug(simulator.bus, device);
  } else {
    plug(simulator.bus, device);
  }
}

void onCommand(Simulator& simulator, int id) {
  switch (id) {
    case IDC_SIM_PLUG:
      plugUnitIn(simulator);
      break;
    case IDC_SIM_UNPLUG:
      if (simulator.bus.devices[simulator.unit].plugged) {
        unplug(simulator.bus, simulator.unit);
      }
      break;
    case IDC_SIM_OTHER_DEVICE:
      togglePlugged(simulator, simulator.otherDevice);
      break;
    case IDC_SIM_ARM_FAULT:
      armFaultFromField(simulator);
      break;
    default:
      return;
  }
  ++simulator.commandsTaken;
  refreshReadout(simulator);
  tellPlugChanges(simulator);
}

LRESULT CALLBACK SimulatorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* simulator = reinterpret_cast<Simulator*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (simulator != nullptr && HIWORD(wParam) == BN_CLICKED) {
        onCommand(*simulator, LOWORD(wParam));
        return 0;
      }
      break;
    case WM_TIMER:
      if (simulator != nullptr && wParam == READOUT_TIMER) {
        refreshReadout(*simulator);
        tellPlugChanges(*simulator);
        return 0;
      }
      break;
    case WM_CLOSE:
      // The window lives as long as the updater's dialog; closing that ends both.
      return 0;
    case WM_DESTROY:
      KillTimer(window, READOUT_TIMER);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The updater's update signals go on to Windows; what they asked for is kept for the
// read-out.
bool recordKeepAwake(void* context, bool awake) {
  auto& simulator = *static_cast<Simulator*>(context);
  simulator.signals.keptAwake = awake;
  const UpdateSignals& windows = windowsUpdateSignals();
  return windows.keepSystemAwake(windows.context, awake);
}

bool recordTaskbarProgress(void* context, HWND window, TaskbarProgress state,
                           std::uint32_t position) {
  auto& simulator = *static_cast<Simulator*>(context);
  const UpdateSignals& windows = windowsUpdateSignals();
  const bool shown = windows.showTaskbarProgress(windows.context, window, state, position);
  simulator.signals.taskbar = state;
  simulator.signals.taskbarPosition = position;
  simulator.signals.taskbarShown = shown;
  return shown;
}

bool recordShutdownReason(void* context, HWND window, const char16_t* reason) {
  auto& simulator = *static_cast<Simulator*>(context);
  simulator.signals.shutdownReason.clear();
  for (const char16_t* unit = reason; unit != nullptr && *unit != u'\0'; ++unit) {
    simulator.signals.shutdownReason += *unit < 0x80 ? static_cast<char>(*unit) : '?';
  }
  const UpdateSignals& windows = windowsUpdateSignals();
  return windows.showShutdownReason(windows.context, window, reason);
}

// "taskbar progress" reads "none", "45 %" or "error at 45 %"; the last two are followed by
// "(not shown)" when Windows did not show them. "shutdown blocked" reads "no" or the
// reason given.
std::string describeSignals(const SignalsSeen& signals) {
  std::string taskbar = "none";
  if (signals.taskbar != TaskbarProgress::None) {
    taskbar = (signals.taskbar == TaskbarProgress::Error ? "error at " : "") +
              std::to_string(signals.taskbarPosition) + " %" +
              (signals.taskbarShown ? "" : " (not shown)");
  }
  return std::string("system kept awake: ") + (signals.keptAwake ? "yes" : "no") +
         "\r\ntaskbar progress: " + taskbar + "\r\nshutdown blocked: " +
         (signals.shutdownReason.empty() ? "no" : signals.shutdownReason) + "\r\n";
}

}  // namespace

void setUpBus(Simulator& simulator, const UnitSettings& settings) {
  Bus& bus = simulator.bus;
  simulator.otherDevice =
      addDevice(bus, makeOtherDevice(OTHER_DEVICE_VENDOR, OTHER_DEVICE_PRODUCT, OTHER_DEVICE_PATH));
  Device unit = makeSupportedUnit();
  applyIdentity(settings, unit);
  simulator.unit = addDevice(bus, unit);
  if (!settings.plugged) {
    unplug(bus, simulator.unit);
  }
  simulator.settings = settings;
  armFault(bus, settings.fault);
  // The dialog finds whatever is plugged at start-up by itself.
  simulator.toldPlugged.clear();
  for (const Device& device : bus.devices) {
    simulator.toldPlugged.push_back(device.plugged);
  }
}

HWND createSimulatorWindow(HINSTANCE instance, Simulator& simulator) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = SimulatorProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = SIM_WINDOW_CLASS;
  if (RegisterClassExW(&windowClass) == 0) {
    return nullptr;
  }
  // A caption without a system menu: no close box, the window ends with the program.
  constexpr DWORD STYLE = WS_OVERLAPPED | WS_CAPTION;
  const HWND window = CreateWindowExW(0, SIM_WINDOW_CLASS, SIM_WINDOW_TITLE, STYLE, 8, 8, 100, 100,
                                      nullptr, nullptr, instance, &simulator);
  if (window == nullptr) {
    return nullptr;
  }
  simulator.window = window;
  RECT frame{0, 0, CLIENT_WIDTH, createControls(window, simulator.settings)};
  AdjustWindowRectEx(&frame, STYLE, FALSE, 0);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  refreshReadout(simulator);
  SetTimer(window, READOUT_TIMER, READOUT_PERIOD_MS, nullptr);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  return window;
}

void refreshReadout(Simulator& simulator) {
  if (simulator.window == nullptr) {
    return;
  }
  // The other device's line lets a test tell that its coming and going really happened;
  // the count of commands, that the window has taken every click sent to it so far.
  const std::string text = describeUnit(simulator.bus, simulator.unit) + "other device plugged: " +
                           (simulator.bus.devices[simulator.otherDevice].plugged ? "yes" : "no") +
                           "\r\ncommands taken: " + std::to_string(simulator.commandsTaken) +
                           "\r\n" + describeSignals(simulator.signals);
  if (text != simulator.shownReadout) {
    simulator.shownReadout = text;
    setControlText(simulator.window, IDC_SIM_READOUT, text);
  }
  const bool plugged = simulator.bus.devices[simulator.unit].plugged;
  EnableWindow(GetDlgItem(simulator.window, IDC_SIM_PLUG), plugged ? FALSE : TRUE);
  EnableWindow(GetDlgItem(simulator.window, IDC_SIM_UNPLUG), plugged ? TRUE : FALSE);
}

UpdateSignals recordingSignals(Simulator& simulator) {
  return UpdateSignals{&simulator, recordKeepAwake, recordTaskbarProgress, recordShutdownReason};
}

}  // namespace esc::sim
