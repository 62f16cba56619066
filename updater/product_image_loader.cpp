#include "updater/firmware_image.h"

namespace esc {

#if ESC_PLACEHOLDER_FIRMWARE
namespace {

FirmwareImage noImage(std::uint16_t) { return FirmwareImage{nullptr, 0}; }

}  // namespace

ImageLoader productImageLoader() { return noImage; }
#else
ImageLoader productImageLoader() { return loadFirmwareImage; }
#endif

}  // namespace esc
