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

using ImageLoader = FirmwareImage (*)(std::uint16_t imageId);

// The loader for the product. A build that carries the placeholder images (made for the
// tests and the simulator) finds no image at all, so that the product can never write
// placeholder bytes into a real ESC: the update then stops before sending anything.
ImageLoader productImageLoader();

}  // namespace esc
