// Which controllers this build updates, and which firmware image each one gets.
#pragma once

#include <cstdint>

namespace esc {

struct UpdateTarget {
  std::uint16_t type;
  std::uint16_t rating;
  std::uint16_t cells;
  std::uint16_t targetVersion;  // high byte major, low byte minor
};

enum class ClassificationResult { Supported, AcceptedWithoutTarget, Incompatible };

// Compares the whole 32-bit model code; fills all of `target` only when supported.
ClassificationResult classifyController(std::uint32_t escModelCode, UpdateTarget& target);
// True for the six model codes this build updates.
bool isSupportedModelCode(std::uint32_t escModelCode);
// Image id for the target; 122 when no row matches.
std::uint16_t selectFirmwareImage(const UpdateTarget& target);

inline constexpr std::uint16_t SUPPORTED_TARGET_VERSION = 0x0101;
inline constexpr std::uint16_t FALLBACK_IMAGE_ID = 122;

}  // namespace esc
