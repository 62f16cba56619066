#include "updater/firmware_image.h"

namespace esc {
namespace {

FirmwareImage noImage(std::uint16_t) { return FirmwareImage{nullptr, 0}; }

}  // namespace

ImageLoader productImageLoader() {
#if ESC_PLACEHOLDER_FIRMWARE
  return noImage;
#else
  return loadFirmwareImage;
#endif
}

}  // namespace esc
