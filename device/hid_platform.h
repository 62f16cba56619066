// The few platform operations the device link needs. The link never calls the operating
// system itself: it goes through one table of these functions, filled either by the
// Windows implementation (SetupAPI and HID.DLL) or by the emulated programming unit.
#pragma once

#include <cstdint>
#include <string>

namespace esc {

// A platform device handle as an integer; all bits set means "no device".
using DeviceHandle = std::uintptr_t;
inline constexpr DeviceHandle INVALID_DEVICE_HANDLE = ~DeviceHandle{0};

enum class InterfaceLookup {
  Found,              // the interface exists and its device path was fetched
  DetailUnavailable,  // the interface exists but its path could not be fetched
  End                 // no interface at this index: the list is exhausted
};

// What a front end does while a transfer waits for the device, so that its thread stays
// responsive however long the unit takes to answer (up to the transfer's timeout). The
// platform calls `whileWaiting` at least every TRANSFER_WAIT_SLICE_MS while a transfer
// waits, never for one that ends within the first slice. It must return within about
// that time; what it takes counts against the transfer's timeout and changes neither
// the transfer's outcome nor the platform's last error.
struct TransferWaitHandler {
  void* context = nullptr;
  void (*whileWaiting)(void* context) = nullptr;
};
inline constexpr std::uint32_t TRANSFER_WAIT_SLICE_MS = 20;

struct HidPlatform {
  void* context;

  // Takes a snapshot of the present HID device interfaces, in enumeration order.
  // False when the list cannot be obtained.
  bool (*beginEnumeration)(void* context);
  // The device path of the interface at the given index of the snapshot.
  InterfaceLookup (*interfaceAt)(void* context, std::uint32_t index, std::u16string& path);
  // Releases the snapshot.
  void (*endEnumeration)(void* context);

  // Opens a device for reading and writing, shared with other openers. Returns
  // INVALID_DEVICE_HANDLE when it cannot be opened.
  DeviceHandle (*openDevice)(void* context, const char16_t* path);
  // USB vendor and product id. False when they cannot be read.
  bool (*readAttributes)(void* context, DeviceHandle device, std::uint16_t& vendorId,
                         std::uint16_t& productId);
  // Declared input and output report byte lengths, report id byte included. False when
  // the capabilities cannot be read.
  bool (*readCapabilities)(void* context, DeviceHandle device, std::uint16_t& inputLength,
                           std::uint16_t& outputLength);
  // Drops every input report already waiting for `device` (a late answer to a request
  // that timed out, or a report the unit sent unasked), so that the answer read after the
  // next request belongs to it. Best effort: a failure is left to that request's transfer.
  void (*discardInput)(void* context, DeviceHandle device);
  // Writes one whole output report of exactly `length` bytes. False when it is not
  // written within `timeoutMs`; lastError then tells why.
  bool (*writeReport)(void* context, DeviceHandle device, const std::uint8_t* report,
                      std::uint32_t length, std::uint32_t timeoutMs);
  // Reads the next input report into `report`, which holds `length` bytes. False unless
  // a whole report of `length` bytes arrived within `timeoutMs`; lastError then tells why.
  bool (*readReport)(void* context, DeviceHandle device, std::uint8_t* report, std::uint32_t length,
                     std::uint32_t timeoutMs);
  void (*closeDevice)(void* context, DeviceHandle device);
  // The platform's error value of the last failed operation, left as that call set it.
  std::uint32_t (*lastError)(void* context);
  // Blocks the calling thread for at least the given time.
  void (*sleep)(void* context, std::uint32_t milliseconds);
  // Monotonic time in microseconds, used to pace waits from a deadline.
  std::uint64_t (*nowMicroseconds)(void* context);
  // Blocks until nowMicroseconds reaches the deadline (at once if it has passed), with
  // sub-millisecond precision, so that paced waits last what they say and no more.
  void (*sleepUntil)(void* context, std::uint64_t deadlineMicroseconds);
  // Installs the handler for the transfers that follow; one with a null whileWaiting
  // removes it. Tables that leave this null keep their transfers as they are: blocking,
  // or never waiting long enough to matter.
  void (*setTransferWaitHandler)(void* context, TransferWaitHandler handler) = nullptr;
};

// The table the link uses; installed once at program start (or by a test).
void setHidPlatform(const HidPlatform* platform);
const HidPlatform& hidPlatform();
// Gives the installed table `handler`, if it takes one.
void setTransferWaitHandler(TransferWaitHandler handler);

}  // namespace esc
