// The bootloader commands that rewrite the ESC's firmware through the programming unit.
#pragma once

#include <cstdint>

#include "device/hid_link.h"

namespace esc {

inline constexpr std::uint32_t GUARD_WORD = 0x6B3E9A57;
inline constexpr std::uint32_t MAX_BLOCK_WORDS = 14;
inline constexpr std::uint32_t ERASE_ANSWER_DELAY_MS = 1000;

enum class LockState { Reset, Set };
enum class WriteProtection { Unlock, Restore };

std::int32_t setSystemLock(HidLink& link, LockState state);
std::int32_t setWriteProtection(HidLink& link, WriteProtection protection);
std::int32_t eraseFirmware(HidLink& link);
std::int32_t setFlashAddress(HidLink& link);
// `data` holds at least words * 4 bytes; words is 0 to MAX_BLOCK_WORDS.
std::int32_t writeBlock(HidLink& link, const std::uint8_t* data, std::uint32_t words);

}  // namespace esc
