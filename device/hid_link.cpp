#include "device/hid_link.h"

#include <cstring>
#include <string>

#include "device/bootloader.h"
#include "device/report_layout.h"

namespace esc {
namespace {

std::unique_ptr<char16_t[]> copyPath(const std::u16string& path) {
  std::unique_ptr<char16_t[]> copy(new char16_t[path.size() + 1]);
  std::memcpy(copy.get(), path.c_str(), (path.size() + 1) * sizeof(char16_t));
  return copy;
}

// Lengths outside this range are refused by the capability query; checking them again
// here keeps the stack buffers below safe even for a record filled some other way.
bool usableReportLength(std::uint32_t length) {
  return length >= REPORT_SIZE && length <= MAX_DECLARED_REPORT_LENGTH;
}

}  // namespace

bool isUnitIdentity(std::uint16_t vendorId, std::uint16_t productId) {
  if (vendorId != UNIT_VENDOR_ID) {
    return false;
  }
  for (const std::uint16_t accepted : UNIT_PRODUCT_IDS) {
    if (productId == accepted) {
      return true;
    }
  }
  return false;
}

std::uint16_t escFirmwareVersion(const HidLink& link) { return readLe16(link.escInfo + 4); }

void setEscFirmwareVersion(HidLink& link, std::uint16_t version) {
  writeLe16(link.escInfo + 4, version);
}

std::uint32_t escModelCode(const HidLink& link) { return readLe32(link.escIdent); }

std::uint32_t escBootloaderVersion(const HidLink& link) { return readLe32(link.escIdent + 4); }

void close(HidLink& link) {
  if (isOpen(link)) {
    const HidPlatform& platform = hidPlatform();
    platform.closeDevice(platform.context, link.deviceHandle);
  }
  // Assigning a fresh record releases the path and clears every field in one step, so a
  // field added later cannot be forgotten here.
  link = HidLink{};
}

std::int32_t open(HidLink& link) {
  close(link);
  const HidPlatform& platform = hidPlatform();
  if (!platform.beginEnumeration(platform.context)) {
    return LINK_UNAVAILABLE;
  }
  // One string reused for every interface: discovery is the only place the link allocates.
  std::u16string path;
  for (std::uint32_t index = 0; index != UINT32_MAX; ++index) {
    const InterfaceLookup lookup = platform.interfaceAt(platform.context, index, path);
    if (lookup == InterfaceLookup::End) {
      break;
    }
    if (lookup == InterfaceLookup::DetailUnavailable) {
      continue;
    }
    const DeviceHandle device = platform.openDevice(platform.context, path.c_str());
    if (device == INVALID_DEVICE_HANDLE) {
      continue;
    }
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    if (!platform.readAttributes(platform.context, device, vendorId, productId) ||
        !isUnitIdentity(vendorId, productId)) {
      platform.closeDevice(platform.context, device);
      continue;
    }
    link.deviceHandle = device;
    link.productId = productId;
    link.devicePath = copyPath(path);
    platform.endEnumeration(platform.context);
    return identify(link);
  }
  platform.endEnumeration(platform.context);
  return LINK_NO_UNIT;
}

std::int32_t exchange(HidLink& link, const HidReport& request, HidReport& answer) {
  if (!isOpen(link) || !usableReportLength(link.outputReportLength) ||
      !usableReportLength(link.inputReportLength)) {
    return LINK_UNAVAILABLE;
  }
  const HidPlatform& platform = hidPlatform();
  // A unit may declare reports longer than the record: the request is padded with zeros
  // and only the first 60 bytes of the answer are kept. The buffer lives on the stack so
  // an exchange never allocates.
  std::uint8_t transfer[MAX_DECLARED_REPORT_LENGTH];
  std::memcpy(transfer, request.bytes, REPORT_SIZE);
  transfer[0] = OUTPUT_REPORT_ID;
  std::memset(transfer + REPORT_SIZE, 0, link.outputReportLength - REPORT_SIZE);
  // The request is copied out before `answer` is touched, so both may be the same record.
  const bool erasing = request.bytes[1] == CMD_ERASE;
  platform.discardInput(platform.context, link.deviceHandle);
  if (!platform.writeReport(platform.context, link.deviceHandle, transfer, link.outputReportLength,
                            LINK_WRITE_TIMEOUT_MS)) {
    return LINK_WRITE_FAILED;
  }
  if (erasing) {
    // The unit answers an erase only once the flash is cleared.
    platform.sleep(platform.context, ERASE_ANSWER_DELAY_MS);
  }
  answer = HidReport{};
  answer.bytes[0] = INPUT_REPORT_ID;
  std::memset(transfer, 0, link.inputReportLength);
  transfer[0] = INPUT_REPORT_ID;
  // The platform reports failure unless the whole declared report arrived, so a cut-short
  // answer never reaches the record.
  if (!platform.readReport(platform.context, link.deviceHandle, transfer, link.inputReportLength,
                           LINK_READ_TIMEOUT_MS)) {
    return LINK_READ_FAILED;
  }
  std::memcpy(answer.bytes, transfer, REPORT_SIZE);
  return LINK_OK;
}

}  // namespace esc
