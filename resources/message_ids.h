// Identifiers of the catalogue texts that the program shows.
#pragma once

#include "resources/messages.h"

namespace esc {

inline constexpr MessageId MSG_READY = 40000;
inline constexpr MessageId MSG_INSTRUCTIONS = 40001;
inline constexpr MessageId MSG_UPDATE_FAILED_CAPTION = 40002;
inline constexpr MessageId MSG_ADDRESS_FAILED = 40008;
inline constexpr MessageId MSG_BLOCK_FAILED = 40009;
inline constexpr MessageId MSG_REGISTRATION_FAILED = 40011;
inline constexpr MessageId MSG_APPLICATION_ERROR_CAPTION = 40012;
inline constexpr MessageId MSG_WRONG_MODE = 40015;
inline constexpr MessageId MSG_NO_UPDATABLE_ESC = 40016;
inline constexpr MessageId MSG_NO_UNIT = 40017;
inline constexpr MessageId MSG_CONNECTION_LOST = 40020;
inline constexpr MessageId MSG_UNIT_NOT_DETECTED = 40022;
inline constexpr MessageId MSG_OLDER_FIRMWARE = 40023;
inline constexpr MessageId MSG_OLDER_FIRMWARE_CAPTION = 40025;
inline constexpr MessageId MSG_LOCK_FAILED = 40026;
inline constexpr MessageId MSG_UNLOCK_FAILED = 40027;
inline constexpr MessageId MSG_ERASE_FAILED = 40028;
inline constexpr MessageId MSG_PROGRESS_TITLE = 40029;
inline constexpr MessageId MSG_UPDATE_FAILED_NOTICE = 40030;
inline constexpr MessageId MSG_UPDATE_SUCCEEDED = 40032;
inline constexpr MessageId MSG_INCOMPATIBLE_CAPTION = 40033;
inline constexpr MessageId MSG_INCOMPATIBLE = 40034;
inline constexpr MessageId MSG_INCOMPATIBLE_HEADING = 40035;
inline constexpr MessageId MSG_ERROR_CODE_LINE = 40036;
inline constexpr MessageId MSG_CONFIRM_CAPTION = 40037;
inline constexpr MessageId MSG_CONFIRM = 40038;
inline constexpr MessageId MSG_LABEL_UNIT = 40039;
inline constexpr MessageId MSG_LABEL_BOOTLOADER = 40040;
inline constexpr MessageId MSG_LABEL_ESC = 40041;
// The selected firmware image is missing from the program.
inline constexpr MessageId MSG_IMAGE_MISSING = 40042;
// Why Windows must not end the session while the update writes.
inline constexpr MessageId MSG_SHUTDOWN_BLOCKED = 40043;

// The command line's own texts.
inline constexpr MessageId MSG_CLI_CONTINUE_PROMPT = 41000;
inline constexpr MessageId MSG_CLI_NO_TARGET = 41001;
inline constexpr MessageId MSG_CLI_INTERRUPT_DEFERRED = 41002;
inline constexpr MessageId MSG_CLI_INTERRUPTED = 41003;
inline constexpr MessageId MSG_CLI_CANCELLED = 41004;
inline constexpr MessageId MSG_CLI_WAITING = 41005;
inline constexpr MessageId MSG_CLI_TIME_LEFT = 41006;
inline constexpr MessageId MSG_CLI_PRODUCT_ID = 41007;
inline constexpr MessageId MSG_CLI_MODEL_SUPPORTED = 41008;
inline constexpr MessageId MSG_CLI_MODEL_NO_TARGET = 41009;
inline constexpr MessageId MSG_CLI_MODEL_INCOMPATIBLE = 41010;
inline constexpr MessageId MSG_CLI_MODEL_NONE = 41011;
inline constexpr MessageId MSG_CLI_IMAGE = 41012;
inline constexpr MessageId MSG_CLI_IMAGE_MISSING = 41013;
inline constexpr MessageId MSG_CLI_IMAGE_NONE = 41014;
// The ready text and the instructions with the command instead of the Update button.
inline constexpr MessageId MSG_CLI_READY = 41015;
inline constexpr MessageId MSG_CLI_INSTRUCTIONS = 41016;
// A unit that is plugged in but cannot be used: its path, and for the first the rule.
inline constexpr MessageId MSG_CLI_NO_PERMISSION = 41017;
inline constexpr MessageId MSG_CLI_IN_USE = 41018;

// The page's own texts.
inline constexpr MessageId MSG_WEB_INSTRUCTIONS = 42000;
inline constexpr MessageId MSG_WEB_CONNECT = 42001;
inline constexpr MessageId MSG_WEB_UPDATE = 42002;
inline constexpr MessageId MSG_WEB_OK = 42003;
inline constexpr MessageId MSG_WEB_CANCEL = 42004;
inline constexpr MessageId MSG_WEB_YES = 42005;
inline constexpr MessageId MSG_WEB_NO = 42006;
inline constexpr MessageId MSG_WEB_NO_WEBHID = 42007;
inline constexpr MessageId MSG_WEB_NO_SIMULATION = 42008;
inline constexpr MessageId MSG_WEB_UNIT_UNAVAILABLE = 42009;
inline constexpr MessageId MSG_WEB_UNIT_UNAVAILABLE_CAPTION = 42010;

}  // namespace esc
