// Title, class and control identifiers of the simulator window. The Wine test driver
// finds and works the window through them.
#pragma once

namespace esc::sim {

inline constexpr wchar_t SIM_WINDOW_TITLE[] = L"Simulated programming unit";
inline constexpr wchar_t SIM_WINDOW_CLASS[] = L"EscSimulatedUnit";

// Buttons
inline constexpr int IDC_SIM_PLUG = 101;
inline constexpr int IDC_SIM_UNPLUG = 102;
inline constexpr int IDC_SIM_OTHER_DEVICE = 103;  // plugs or unplugs a HID device that is no unit
inline constexpr int IDC_SIM_ARM_FAULT = 104;

// Fields of the unit, read at the next plug-in (editable lists)
inline constexpr int IDC_SIM_MODEL = 110;
inline constexpr int IDC_SIM_ESC_VERSION = 111;
inline constexpr int IDC_SIM_BOOTLOADER_VERSION = 112;
inline constexpr int IDC_SIM_UNIT_VERSION = 113;
inline constexpr int IDC_SIM_PRODUCT_ID = 114;
inline constexpr int IDC_SIM_ESC_STATUS = 115;
inline constexpr int IDC_SIM_WRONG_MODE = 116;  // check box

// The fault armed with IDC_SIM_ARM_FAULT (editable list)
inline constexpr int IDC_SIM_FAULT = 120;

// Statics: the last refused field, and the read-out of the unit's state
inline constexpr int IDC_SIM_MESSAGE = 130;
inline constexpr int IDC_SIM_READOUT = 131;

}  // namespace esc::sim
