// Windows program: the images are RCDATA resources of the executable. Each exists in one
// language only; FindResourceW falls back to it whatever the user-interface language is.
#include <windows.h>

#include "updater/firmware_image.h"

namespace esc {

FirmwareImage loadFirmwareImage(std::uint16_t imageId) {
  const FirmwareImage missing = {nullptr, 0};
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(imageId), RT_RCDATA);
  if (info == nullptr) {
    return missing;
  }
  HGLOBAL loaded = LoadResource(module, info);
  if (loaded == nullptr) {
    return missing;
  }
  const DWORD size = SizeofResource(module, info);
  const void* data = LockResource(loaded);
  if (data == nullptr || size == 0) {
    return missing;
  }
  // Resources stay mapped with the module for the whole run; nothing is copied or freed.
  return {static_cast<const std::uint8_t*>(data), size};
}

}  // namespace esc
