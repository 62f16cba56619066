#include "updater/classification.h"

namespace esc {
namespace {

inline constexpr std::uint16_t SUPPORTED_TYPE = 250;
inline constexpr std::uint32_t ACCEPTED_WITHOUT_TARGET_CODE = 0x0A0640AA;

struct ModelRow {
  std::uint32_t escModelCode;
  std::uint16_t rating;
  std::uint16_t cells;
};

// The bytes of each code happen to repeat rating and cell count, but only whole codes
// are trusted: a code one byte away from a known one may be a different controller.
inline constexpr ModelRow SUPPORTED_MODELS[] = {
    {0x110FA0AA, 170, 17}, {0x110FA0D2, 210, 17}, {0x110FA0FA, 250, 17},
    {0x140FA0AA, 170, 20}, {0x140FA0D2, 210, 20}, {0x140FA0FA, 250, 20},
};

struct ImageRow {
  std::uint16_t type;
  std::uint16_t rating;
  std::uint16_t cells;
  std::uint16_t imageId;
};

inline constexpr ImageRow IMAGE_TABLE[] = {
    {250, 170, 17, 158}, {250, 170, 20, 174}, {250, 210, 17, 157},
    {250, 210, 20, 173}, {250, 250, 17, 151}, {250, 250, 20, 172},
};

const ModelRow* findSupportedModel(std::uint32_t escModelCode) {
  for (const ModelRow& row : SUPPORTED_MODELS) {
    if (row.escModelCode == escModelCode) {
      return &row;
    }
  }
  return nullptr;
}

}  // namespace

ClassificationResult classifyController(std::uint32_t escModelCode, UpdateTarget& target) {
  if (const ModelRow* row = findSupportedModel(escModelCode)) {
    target.type = SUPPORTED_TYPE;
    target.rating = row->rating;
    target.cells = row->cells;
    target.targetVersion = SUPPORTED_TARGET_VERSION;
    return ClassificationResult::Supported;
  }
  if (escModelCode == ACCEPTED_WITHOUT_TARGET_CODE) {
    return ClassificationResult::AcceptedWithoutTarget;
  }
  return ClassificationResult::Incompatible;
}

bool isSupportedModelCode(std::uint32_t escModelCode) {
  return findSupportedModel(escModelCode) != nullptr;
}

std::uint16_t selectFirmwareImage(const UpdateTarget& target) {
  for (const ImageRow& row : IMAGE_TABLE) {
    if (row.type == target.type && row.rating == target.rating && row.cells == target.cells) {
      return row.imageId;
    }
  }
  return FALLBACK_IMAGE_ID;
}

}  // namespace esc
