// Native build: the images are arrays compiled into the program.
#include "resources/firmware/embedded_images.h"
#include "updater/firmware_image.h"

namespace esc {

FirmwareImage loadFirmwareImage(std::uint16_t imageId) {
  for (std::size_t i = 0; i < EMBEDDED_IMAGE_COUNT; ++i) {
    if (EMBEDDED_IMAGES[i].id == imageId) {
      return {EMBEDDED_IMAGES[i].data, EMBEDDED_IMAGES[i].size};
    }
  }
  return {nullptr, 0};
}

}  // namespace esc
