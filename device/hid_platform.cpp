#include "device/hid_platform.h"

namespace esc {
namespace {

// Until a real table is installed every operation fails cleanly: the device list is
// unavailable, so `open` reports -1 and no other operation is ever reached with a device.
bool noEnumeration(void*) { return false; }
InterfaceLookup noInterface(void*, std::uint32_t, std::u16string&) { return InterfaceLookup::End; }
void noEndEnumeration(void*) {}
DeviceHandle noOpen(void*, const char16_t*) { return INVALID_DEVICE_HANDLE; }
bool noAttributes(void*, DeviceHandle, std::uint16_t&, std::uint16_t&) { return false; }
bool noCapabilities(void*, DeviceHandle, std::uint16_t&, std::uint16_t&) { return false; }
void noDiscard(void*, DeviceHandle) {}
bool noWrite(void*, DeviceHandle, const std::uint8_t*, std::uint32_t, std::uint32_t) {
  return false;
}
bool noRead(void*, DeviceHandle, std::uint8_t*, std::uint32_t, std::uint32_t) { return false; }
void noClose(void*, DeviceHandle) {}
std::uint32_t noLastError(void*) { return 0; }
void noSleep(void*, std::uint32_t) {}
std::uint64_t noClock(void*) { return 0; }
void noSleepUntil(void*, std::uint64_t) {}

const HidPlatform NO_PLATFORM = {
    nullptr,      noEnumeration,  noInterface, noEndEnumeration, noOpen,
    noAttributes, noCapabilities, noDiscard,   noWrite,          noRead,
    noClose,      noLastError,    noSleep,     noClock,          noSleepUntil,
};

const HidPlatform* installed = &NO_PLATFORM;

}  // namespace

void setHidPlatform(const HidPlatform* platform) {
  installed = platform != nullptr ? platform : &NO_PLATFORM;
}

const HidPlatform& hidPlatform() { return *installed; }

void setTransferWaitHandler(TransferWaitHandler handler) {
  if (installed->setTransferWaitHandler != nullptr) {
    installed->setTransferWaitHandler(installed->context, handler);
  }
}

}  // namespace esc
