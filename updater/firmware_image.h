// Read-only views of the firmware images built into the program.
#pragma once

#include <cstdint>

namespace esc {

struct FirmwareImage {
  const std::uint8_t* data;  // null when the image is not present
  std::uint32_t size;
};

// Looks the image up by its identifier. In the Windows program the images are RCDATA
// resources; in the native build they are compiled in. A missing image has null data.
FirmwareImage loadFirmwareImage(std::uint16_t imageId);

}  // namespace esc
