// The firmware images compiled into the native build, as arrays generated at build time
// from the same <id>.bin files that the Windows program carries as resources.
#pragma once

#include <cstddef>
#include <cstdint>

namespace esc {

struct EmbeddedImage {
  std::uint16_t id;
  const std::uint8_t* data;
  std::uint32_t size;
};

extern const EmbeddedImage EMBEDDED_IMAGES[];
extern const std::size_t EMBEDDED_IMAGE_COUNT;

}  // namespace esc
