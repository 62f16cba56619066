// The program's text rules that need no window: version texts, the title, the error
// report's text with its code line, and the status panel's composition.
#pragma once

#include <cstddef>
#include <cstdint>

#include "resources/updater_version.h"

namespace esc {

inline constexpr std::size_t VERSION_TEXT_UNITS = 32;
inline constexpr std::size_t TITLE_UNITS = 256;

inline constexpr char16_t SUPPORTED_ESC_TYPE[] = u"" ESC_SUPPORTED_TYPE_TEXT;
inline constexpr unsigned UPDATER_VERSION_MAJOR = ESC_UPDATER_VERSION_MAJOR;
inline constexpr unsigned UPDATER_VERSION_MINOR = ESC_UPDATER_VERSION_MINOR;
inline constexpr char16_t UPDATER_EDITION[] = u"Bootloader update";

// "0.0.0": every version field while no unit is open.
extern const char16_t NO_LINK_VERSION_TEXT[];

// First row: the programming unit's firmware version (a zero low byte is shifted out).
void formatUnitVersion(std::uint32_t version, char16_t (&text)[VERSION_TEXT_UNITS]);
// Second row: the ESC's bootloader version.
void formatBootloaderVersion(std::uint32_t version, char16_t (&text)[VERSION_TEXT_UNITS]);
// Third row: the ESC's firmware version; 0xFFFF shows ten hyphens.
void formatEscFirmwareVersion(std::uint16_t version, char16_t (&text)[VERSION_TEXT_UNITS]);
// Label of the first row while a unit is open: by its USB product id.
const char16_t* unitTypeLabel(std::uint16_t productId);

// "VELMOR TESSARO HVI FW Updater 1.1 Bootloader update".
void formatTitle(char16_t (&title)[TITLE_UNITS]);

// Error box text: the message alone for errorValue -1, otherwise the message, CR LF and
// the code line formatted from `codeLineFormat` (two %08x: errorValue, systemError).
// `text` holds `capacity` units; the result is always terminated.
void composeErrorText(const char16_t* message, const char16_t* codeLineFormat,
                      std::int32_t errorValue, std::uint32_t systemError, char16_t* text,
                      std::size_t capacity);

// Status panel text: heading, a blank line, then the instructions.
void composeStatusWithInstructions(const char16_t* heading, const char16_t* instructions,
                                   char16_t* text, std::size_t capacity);

// The incompatibility box text: `format` with SUPPORTED_ESC_TYPE in place of its %s.
void formatIncompatibleText(const char16_t* format, char16_t* text, std::size_t capacity);

}  // namespace esc
