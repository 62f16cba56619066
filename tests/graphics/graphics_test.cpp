// The committed artwork and manifest that the resource scripts embed: the logo bitmap's
// exact format and its transparent key, the icon images' format and opacity, and the
// manifest's bytes and structure.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/graphics/binary_file.h"

namespace esc {
namespace test {
namespace {

const std::string kGraphicsDir = ESC_GRAPHICS_DIR;

// Logo -----------------------------------------------------------------------------------

constexpr std::int32_t kLogoWidth = 1772;
constexpr std::int32_t kLogoHeight = 263;
constexpr std::uint32_t kLogoPixelBytes = 1398108;
constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::size_t kLogoStride = 5316;

struct Rgb {
  std::uint8_t r;
  std::uint8_t g;
  std::uint8_t b;
};

// Rows are stored bottom-up; y counts from the top of the picture.
Rgb logoPixel(const ByteVector& file, std::int32_t x, std::int32_t y) {
  std::size_t row = static_cast<std::size_t>(kLogoHeight - 1 - y);
  std::size_t at =
      kFileHeaderBytes + kInfoHeaderBytes + row * kLogoStride + static_cast<std::size_t>(x) * 3;
  return {file.at(at + 2), file.at(at + 1), file.at(at)};
}

bool isKey(Rgb p) { return p.r == 0 && p.g == 255 && p.b == 0; }

// The brand red (227, 0, 11) and its darker shades: no green at all, a little blue, and
// red strong enough to stay clearly red.
bool isBrandRedShade(Rgb p) { return p.g == 0 && p.r >= 100 && p.r <= 227 && p.b <= 11; }

class Logo : public ::testing::Test {
 protected:
  void SetUp() override {
    file = readFile(kGraphicsDir + "/logo.bmp");
    ASSERT_EQ(file.size(), kFileHeaderBytes + kInfoHeaderBytes + kLogoPixelBytes);
  }
  ByteVector file;
};

TEST_F(Logo, FileHeaderPointsRightBehindTheInfoHeader) {
  EXPECT_EQ(file[0], std::uint8_t{'B'});
  EXPECT_EQ(file[1], std::uint8_t{'M'});
  EXPECT_EQ(u32(file, 2), file.size());
  EXPECT_EQ(u32(file, 6), 0u);
  EXPECT_EQ(u32(file, 10), kFileHeaderBytes + kInfoHeaderBytes);
}

TEST_F(Logo, IsA24BitBottomUpUncompressedBitmapWithoutColourTable) {
  const std::size_t h = kFileHeaderBytes;
  EXPECT_EQ(u32(file, h + 0), kInfoHeaderBytes);
  EXPECT_EQ(i32(file, h + 4), kLogoWidth);
  EXPECT_EQ(i32(file, h + 8), kLogoHeight) << "a positive height stores the rows bottom-up";
  EXPECT_EQ(u16(file, h + 12), 1u) << "planes";
  EXPECT_EQ(u16(file, h + 14), 24u) << "bits per pixel";
  EXPECT_EQ(u32(file, h + 16), 0u) << "BI_RGB";
  EXPECT_EQ(u32(file, h + 20), kLogoPixelBytes);
  EXPECT_EQ(i32(file, h + 24), 0) << "horizontal resolution";
  EXPECT_EQ(i32(file, h + 28), 0) << "vertical resolution";
  EXPECT_EQ(u32(file, h + 32), 0u) << "colours used";
  EXPECT_EQ(u32(file, h + 36), 0u) << "important colours";
  EXPECT_EQ(kLogoStride * static_cast<std::size_t>(kLogoHeight), kLogoPixelBytes);
}

TEST_F(Logo, EveryPixelIsTheGreenKeyOrAShadeOfTheBrandRed) {
  int offenders = 0;
  for (std::int32_t y = 0; y < kLogoHeight; ++y) {
    for (std::int32_t x = 0; x < kLogoWidth; ++x) {
      Rgb p = logoPixel(file, x, y);
      if (!isKey(p) && !isBrandRedShade(p) && ++offenders <= 5) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is (" << int{p.r} << ", " << int{p.g}
                      << ", " << int{p.b} << ")";
      }
    }
  }
  EXPECT_EQ(offenders, 0);
}

TEST_F(Logo, BorderIsAllKeySoTheArtworkIsSurroundedByTransparency) {
  for (std::int32_t x = 0; x < kLogoWidth; ++x) {
    ASSERT_TRUE(isKey(logoPixel(file, x, 0))) << "top row, x = " << x;
    ASSERT_TRUE(isKey(logoPixel(file, x, kLogoHeight - 1))) << "bottom row, x = " << x;
  }
  for (std::int32_t y = 0; y < kLogoHeight; ++y) {
    ASSERT_TRUE(isKey(logoPixel(file, 0, y))) << "left column, y = " << y;
    ASSERT_TRUE(isKey(logoPixel(file, kLogoWidth - 1, y))) << "right column, y = " << y;
  }
}

TEST_F(Logo, ArtworkIsDrawnInTheBrandRedAndCoversAVisiblePart) {
  std::size_t artwork = 0;
  std::size_t brandRed = 0;
  for (std::int32_t y = 0; y < kLogoHeight; ++y) {
    for (std::int32_t x = 0; x < kLogoWidth; ++x) {
      Rgb p = logoPixel(file, x, y);
      if (!isKey(p)) ++artwork;
      if (p.r == 227 && p.g == 0 && p.b == 11) ++brandRed;
    }
  }
  const std::size_t all =
      static_cast<std::size_t>(kLogoWidth) * static_cast<std::size_t>(kLogoHeight);
  EXPECT_GT(artwork * 10, all) << "less than a tenth of the logo is artwork";
  EXPECT_LT(artwork * 10, all * 7) << "the artwork leaves too little transparent background";
  EXPECT_GT(brandRed, 1000u) << "the brand red itself hardly appears";
}

// Icon -----------------------------------------------------------------------------------

struct IconImageCase {
  std::uint32_t size;
  std::uint32_t bytes;
};

constexpr IconImageCase kIconImages[] = {
    {16, 1128}, {32, 4264}, {48, 9640}, {64, 16936}, {128, 67624}};
constexpr std::size_t kIconDirBytes = 6;
constexpr std::size_t kIconEntryBytes = 16;

class Icon : public ::testing::Test {
 protected:
  void SetUp() override {
    file = readFile(kGraphicsDir + "/app.ico");
    ASSERT_GE(file.size(), kIconDirBytes + 5 * kIconEntryBytes);
  }
  std::size_t entry(std::size_t index) const { return kIconDirBytes + index * kIconEntryBytes; }
  ByteVector file;
};

TEST_F(Icon, DirectoryListsTheFiveSizesInOrderAndTilesTheFile) {
  EXPECT_EQ(u16(file, 0), 0u);
  EXPECT_EQ(u16(file, 2), 1u) << "type 1 is an icon";
  ASSERT_EQ(u16(file, 4), 5u);
  std::size_t expectedOffset = kIconDirBytes + 5 * kIconEntryBytes;
  for (std::size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE("image " + std::to_string(i + 1));
    const std::size_t e = entry(i);
    EXPECT_EQ(file.at(e + 0), kIconImages[i].size % 256) << "width";
    EXPECT_EQ(file.at(e + 1), kIconImages[i].size % 256) << "height";
    EXPECT_EQ(file.at(e + 2), 0u) << "colour count";
    EXPECT_EQ(file.at(e + 3), 0u) << "reserved";
    EXPECT_EQ(u16(file, e + 4), 1u) << "planes";
    EXPECT_EQ(u16(file, e + 6), 32u) << "bits per pixel";
    EXPECT_EQ(u32(file, e + 8), kIconImages[i].bytes);
    EXPECT_EQ(u32(file, e + 12), expectedOffset);
    expectedOffset += kIconImages[i].bytes;
  }
  EXPECT_EQ(file.size(), expectedOffset);
}

TEST_F(Icon, EveryImageIsA32BitDibWithItsAndMaskAndNoPng) {
  for (std::size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE("image " + std::to_string(i + 1));
    const std::size_t at = u32(file, entry(i) + 12);
    const std::uint32_t size = kIconImages[i].size;
    ASSERT_NE(file.at(at), 0x89u) << "a PNG image";
    EXPECT_EQ(u32(file, at + 0), kInfoHeaderBytes);
    EXPECT_EQ(i32(file, at + 4), static_cast<std::int32_t>(size));
    EXPECT_EQ(i32(file, at + 8), static_cast<std::int32_t>(2 * size))
        << "the height counts the colour image and the mask";
    EXPECT_EQ(u16(file, at + 12), 1u);
    EXPECT_EQ(u16(file, at + 14), 32u);
    EXPECT_EQ(u32(file, at + 16), 0u) << "BI_RGB";
    const std::size_t maskStride = (size + 31) / 32 * 4;
    EXPECT_EQ(kInfoHeaderBytes + size * size * 4 + maskStride * size, kIconImages[i].bytes);
  }
}

TEST_F(Icon, EveryImageIsFullyOpaque) {
  for (std::size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE("image " + std::to_string(i + 1));
    const std::size_t pixels = u32(file, entry(i) + 12) + kInfoHeaderBytes;
    const std::size_t size = kIconImages[i].size;
    std::size_t translucent = 0;
    for (std::size_t p = 0; p < size * size; ++p) {
      if (file.at(pixels + p * 4 + 3) != 255) ++translucent;
    }
    EXPECT_EQ(translucent, 0u) << "pixels with alpha below 255";
    const std::size_t mask = pixels + size * size * 4;
    const std::size_t maskBytes = (size + 31) / 32 * 4 * size;
    std::size_t setBits = 0;
    for (std::size_t b = 0; b < maskBytes; ++b) {
      if (file.at(mask + b) != 0) ++setBits;
    }
    EXPECT_EQ(setBits, 0u) << "AND-mask bytes with a bit set";
  }
}

TEST_F(Icon, EveryImageShowsArtworkRatherThanOneFlatColour) {
  for (std::size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE("image " + std::to_string(i + 1));
    const std::size_t pixels = u32(file, entry(i) + 12) + kInfoHeaderBytes;
    const std::size_t size = kIconImages[i].size;
    std::vector<std::uint32_t> colours;
    for (std::size_t p = 0; p < size * size && colours.size() < 3; ++p) {
      std::uint32_t c = u32(file, pixels + p * 4);
      bool seen = false;
      for (std::uint32_t known : colours) seen = seen || known == c;
      if (!seen) colours.push_back(c);
    }
    EXPECT_GE(colours.size(), 3u);
  }
}

// Manifest -------------------------------------------------------------------------------

class Manifest : public ::testing::Test {
 protected:
  void SetUp() override {
    ByteVector bytes = readFile(kGraphicsDir + "/app.manifest");
    text.assign(bytes.begin(), bytes.end());
  }
  std::string text;
};

TEST_F(Manifest, Is381BytesOfAsciiWithCrLfLineEnds) {
  EXPECT_EQ(text.size(), 381u);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    EXPECT_TRUE(c < 0x80) << "byte " << i << " is not ASCII (no byte-order mark either)";
    if (c == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at byte " << i;
    }
    if (c == '\r') {
      EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at byte " << i;
    }
  }
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(Manifest, DeclaresUtf8StandaloneXmlAndTheAssemblyNamespaces) {
  EXPECT_EQ(text.rfind("<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\r\n", 0), 0u);
  EXPECT_NE(text.find("<assembly xmlns='urn:schemas-microsoft-com:asm.v1' manifestVersion='1.0'>"),
            std::string::npos);
  EXPECT_NE(text.find("<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">"), std::string::npos);
}

TEST_F(Manifest, AsksToRunAsTheInvokerWithoutUiAccess) {
  EXPECT_NE(text.find("<requestedExecutionLevel level='asInvoker' uiAccess='false' />"),
            std::string::npos);
}

TEST_F(Manifest, HoldsOnlyTheTrustInfoElementsInTheirNesting) {
  std::vector<std::string> tags;
  for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
    const std::size_t end = text.find_first_of(" >", at);
    ASSERT_NE(end, std::string::npos);
    tags.push_back(text.substr(at + 1, end - at - 1));
  }
  const std::vector<std::string> expected = {"?xml",
                                             "assembly",
                                             "trustInfo",
                                             "security",
                                             "requestedPrivileges",
                                             "requestedExecutionLevel",
                                             "/requestedPrivileges",
                                             "/security",
                                             "/trustInfo",
                                             "/assembly"};
  EXPECT_EQ(tags, expected) << "no dependency, DPI or compatibility section belongs here";
}

}  // namespace
}  // namespace test
}  // namespace esc
