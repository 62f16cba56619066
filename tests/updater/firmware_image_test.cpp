#include "updater/firmware_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "updater/classification.h"

#ifndef ESC_FIRMWARE_IMAGE_DIR
#error "ESC_FIRMWARE_IMAGE_DIR names the folder of the <id>.bin files"
#endif
// The program shows a warning when the images are placeholders, so the flag must reach
// every user of loadFirmwareImage with a usable value.
static_assert(ESC_PLACEHOLDER_FIRMWARE == 0 || ESC_PLACEHOLDER_FIRMWARE == 1,
              "ESC_PLACEHOLDER_FIRMWARE must be 0 or 1");

namespace esc {
namespace {

struct ImageCase {
  std::uint16_t id;
  std::uint32_t size;
};

const ImageCase SELECTABLE_IMAGES[] = {
    {122, 62848}, {151, 90256}, {157, 90256}, {158, 90256},
    {172, 90256}, {173, 90256}, {174, 90256},
};

std::vector<std::uint8_t> readImageFile(std::uint16_t id) {
  const std::string path = std::string(ESC_FIRMWARE_IMAGE_DIR) + "/" + std::to_string(id) + ".bin";
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file.good()) << "cannot read " << path;
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> bytesOf(const FirmwareImage& image) {
  if (image.data == nullptr) {
    return {};
  }
  return {image.data, image.data + image.size};
}

void PrintTo(const ImageCase& c, std::ostream* out) { *out << c.id << " (" << c.size << ")"; }

class SelectableImage : public testing::TestWithParam<ImageCase> {};

TEST_P(SelectableImage, IsPresentWithItsSize) {
  const FirmwareImage image = loadFirmwareImage(GetParam().id);
  ASSERT_NE(image.data, nullptr);
  EXPECT_EQ(image.size, GetParam().size);
}

TEST_P(SelectableImage, SizeIsAMultipleOf16Bytes) {
  EXPECT_EQ(loadFirmwareImage(GetParam().id).size % 16u, 0u);
}

TEST_P(SelectableImage, HoldsExactlyTheBytesOfItsFile) {
  const std::vector<std::uint8_t> file = readImageFile(GetParam().id);
  ASSERT_EQ(file.size(), GetParam().size);
  EXPECT_TRUE(bytesOf(loadFirmwareImage(GetParam().id)) == file);
}

TEST_P(SelectableImage, IsUsedInPlaceNotCopied) {
  const FirmwareImage first = loadFirmwareImage(GetParam().id);
  const FirmwareImage second = loadFirmwareImage(GetParam().id);
  EXPECT_EQ(first.data, second.data);
  EXPECT_EQ(first.size, second.size);
}

// Placeholder images must never reach a real ESC: the product's loader then finds none.
TEST_P(SelectableImage, ProductFindsItOnlyWhenRealImagesAreBuiltIn) {
  const FirmwareImage image = productImageLoader()(GetParam().id);
  if (ESC_PLACEHOLDER_FIRMWARE) {
    EXPECT_EQ(image.data, nullptr);
    EXPECT_EQ(image.size, 0u);
  } else {
    EXPECT_EQ(image.data, loadFirmwareImage(GetParam().id).data);
    EXPECT_EQ(image.size, GetParam().size);
  }
}

INSTANTIATE_TEST_SUITE_P(SevenImages, SelectableImage, testing::ValuesIn(SELECTABLE_IMAGES),
                         [](const testing::TestParamInfo<ImageCase>& nameInfo) {
                           return "Image" + std::to_string(nameInfo.param.id);
                         });

// A wrong selection must show in a comparison of written data with the expected image, so
// no two images may share their leading bytes.
TEST(FirmwareImages, EveryImageDiffersFromEveryOtherOne) {
  for (const ImageCase& a : SELECTABLE_IMAGES) {
    for (const ImageCase& b : SELECTABLE_IMAGES) {
      if (a.id >= b.id) {
        continue;
      }
      const FirmwareImage imageA = loadFirmwareImage(a.id);
      const FirmwareImage imageB = loadFirmwareImage(b.id);
      ASSERT_NE(imageA.data, nullptr);
      ASSERT_NE(imageB.data, nullptr);
      const std::uint32_t common = imageA.size < imageB.size ? imageA.size : imageB.size;
      EXPECT_NE(std::memcmp(imageA.data, imageB.data, common), 0)
          << "images " << a.id << " and " << b.id;
    }
  }
}

class UnknownImage : public testing::TestWithParam<std::uint16_t> {};

TEST_P(UnknownImage, HasNoDataAndSizeZero) {
  const FirmwareImage image = loadFirmwareImage(GetParam());
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(image.size, 0u);
}

// 119 to 200 are image ids that no selection reaches and that this build does not carry;
// 121 and 123 are the logo and icon of the Windows program, not images.
INSTANTIATE_TEST_SUITE_P(OtherIds, UnknownImage,
                         testing::Values(0, 1, 119, 121, 123, 150, 152, 175, 200, 201, 0xFFFF));

struct ModelImageCase {
  std::uint32_t code;
  std::uint16_t imageId;
  std::uint32_t size;
};

const ModelImageCase MODEL_IMAGES[] = {
    {0x110FA0AA, 158, 90256}, {0x110FA0D2, 157, 90256}, {0x110FA0FA, 151, 90256},
    {0x140FA0AA, 174, 90256}, {0x140FA0D2, 173, 90256}, {0x140FA0FA, 172, 90256},
};

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

void PrintTo(const ModelImageCase& c, std::ostream* out) {
  *out << hex(c.code) << " -> " << c.imageId << " (" << c.size << ")";
}

class SupportedModelImage : public testing::TestWithParam<ModelImageCase> {};

TEST_P(SupportedModelImage, LoadsTheImageFileOfItsModel) {
  const ModelImageCase& c = GetParam();
  UpdateTarget target = {0, 0, 0, 0};
  ASSERT_EQ(classifyController(c.code, target), ClassificationResult::Supported);
  const FirmwareImage image = loadFirmwareImage(selectFirmwareImage(target));
  EXPECT_EQ(image.size, c.size);
  EXPECT_TRUE(bytesOf(image) == readImageFile(c.imageId));
}

INSTANTIATE_TEST_SUITE_P(AllSixCodes, SupportedModelImage, testing::ValuesIn(MODEL_IMAGES),
                         [](const testing::TestParamInfo<ModelImageCase>& nameInfo) {
                           return "Code" + hex(nameInfo.param.code);
                         });

TEST(FirmwareImages, UnwrittenTargetLoadsTheFallbackImage) {
  const UpdateTarget never = {0, 0, 0, 0};
  const FirmwareImage image = loadFirmwareImage(selectFirmwareImage(never));
  EXPECT_EQ(image.size, 62848u);
  EXPECT_TRUE(bytesOf(image) == readImageFile(122));
}

}  // namespace
}  // namespace esc
