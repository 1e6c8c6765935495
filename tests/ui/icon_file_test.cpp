#include "runtime/ui/icon_file.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vtn {
namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

// Rows top first: palette indices for up to 8 bits, 0xAARRGGBB for 24 and 32 bits. The mask
// (top first, true = transparent) is left out when empty.
Bytes bitmap(int width, int bits, const std::vector<std::vector<uint32_t>>& rows,
             const std::vector<uint32_t>& palette, const std::vector<std::vector<bool>>& mask) {
  const int height = static_cast<int>(rows.size());
  Bytes b;
  put32(b, 40);
  put32(b, static_cast<uint32_t>(width));
  put32(b, static_cast<uint32_t>(height * 2));
  put16(b, 1);
  put16(b, static_cast<uint32_t>(bits));
  for (int i = 0; i < 4; ++i) put32(b, 0);
  put32(b, static_cast<uint32_t>(palette.size()));
  put32(b, 0);
  for (uint32_t c : palette) put32(b, c);
  const size_t row_size = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
  for (int y = height - 1; y >= 0; --y) {
    Bytes row(row_size, 0);
    for (int x = 0; x < width; ++x) {
      const uint32_t v = rows[y][x];
      if (bits == 32 || bits == 24) {
        const int n = bits / 8;
        for (int k = 0; k < n; ++k) row[x * n + k] = static_cast<uint8_t>(v >> (8 * k));
      } else {
        const int per_byte = 8 / bits;
        row[x / per_byte] |= static_cast<uint8_t>(v << ((per_byte - 1 - x % per_byte) * bits));
      }
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  const size_t mask_row = ((static_cast<size_t>(width) + 31) / 32) * 4;
  for (int y = static_cast<int>(mask.size()) - 1; y >= 0; --y) {
    Bytes row(mask_row, 0);
    for (int x = 0; x < width; ++x) {
      if (mask[y][x]) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

Bytes icon_file(const std::vector<Bytes>& images, uint16_t type = 1) {
  Bytes b;
  put16(b, 0);
  put16(b, type);
  put16(b, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (const Bytes& image : images) {
    b.insert(b.end(), {0, 0, 0, 0});
    put16(b, 1);
    put16(b, 32);
    put32(b, static_cast<uint32_t>(image.size()));
    put32(b, offset);
    offset += static_cast<uint32_t>(image.size());
  }
  for (const Bytes& image : images) b.insert(b.end(), image.begin(), image.end());
  return b;
}

// RGBA bytes of one pixel, for comparisons.
Bytes px(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  return {r, g, b, a};
}
Bytes pixel_at(const IconImage& image, int x, int y) {
  const size_t at = (static_cast<size_t>(y) * image.width + x) * 4;
  return Bytes(image.rgba.begin() + at, image.rgba.begin() + at + 4);
}

TEST(IconFile, DecodesBitmapsOfEveryDepth) {
  struct Case {
    const char* name;
    Bytes image;
    int width, height;
    std::vector<Bytes> pixels;  // row by row, top first
  };
  const Case cases[] = {
      {"32-bit with its own alpha (the mask is ignored)",
       bitmap(2, 32, {{0xFFFF0000, 0x00000000}, {0x8000FF00, 0xFF0000FF}}, {},
              {{true, true}, {true, true}}),
       2,
       2,
       {px(255, 0, 0, 255), px(0, 0, 0, 0), px(0, 255, 0, 128), px(0, 0, 255, 255)}},
      {"32-bit without alpha uses the mask",
       bitmap(2, 32, {{0x00112233, 0x00445566}}, {}, {{false, true}}),
       2,
       1,
       {px(0x11, 0x22, 0x33, 255), px(0x44, 0x55, 0x66, 0)}},
      {"32-bit without alpha or mask is opaque",
       bitmap(1, 32, {{0x00ABCDEF}}, {}, {}),
       1,
       1,
       {px(0xAB, 0xCD, 0xEF, 255)}},
      {"24-bit",
       bitmap(1, 24, {{0x010203}, {0x040506}}, {}, {{false}, {true}}),
       1,
       2,
       {px(1, 2, 3, 255), px(4, 5, 6, 0)}},
      {"8-bit palette",
       bitmap(3, 8, {{2, 0, 1}}, {0x000000, 0xFFFFFF, 0x00FF00}, {{false, false, true}}),
       3,
       1,
       {px(0, 255, 0, 255), px(0, 0, 0, 255), px(255, 255, 255, 0)}},
      {"4-bit palette, odd width",
       bitmap(3, 4, {{1, 2, 1}}, {0, 0x0000FF, 0xFF0000}, {{false, false, false}}),
       3,
       1,
       {px(0, 0, 255, 255), px(255, 0, 0, 255), px(0, 0, 255, 255)}},
      {"1-bit across a byte",
       bitmap(9, 1, {{0, 1, 0, 0, 0, 0, 0, 0, 1}}, {0x000000, 0xFFFFFF},
              {{false, false, false, false, false, false, false, false, true}}),
       9,
       1,
       {px(0, 0, 0, 255), px(255, 255, 255, 255), px(0, 0, 0, 255), px(0, 0, 0, 255),
        px(0, 0, 0, 255), px(0, 0, 0, 255), px(0, 0, 0, 255), px(0, 0, 0, 255),
        px(255, 255, 255, 0)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<IconImage> image = decode_icon_file(icon_file({c.image}), 0);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, c.width);
    EXPECT_EQ(image->height, c.height);
    EXPECT_TRUE(image->png.empty());
    ASSERT_EQ(image->rgba.size(), c.pixels.size() * 4);
    for (size_t i = 0; i < c.pixels.size(); ++i) {
      EXPECT_EQ(pixel_at(*image, static_cast<int>(i % c.width), static_cast<int>(i / c.width)),
                c.pixels[i])
          << i;
    }
  }
}

TEST(IconFile, IndexPicksTheImageAndPngStaysPng) {
  const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 1, 2, 3};
  const Bytes file = icon_file({bitmap(1, 24, {{0x0000FF}}, {}, {}), png});
  const std::optional<IconImage> first = decode_icon_file(file, 0);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(pixel_at(*first, 0, 0), px(0, 0, 255, 255));
  const std::optional<IconImage> second = decode_icon_file(file, 1);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->png, png);
  EXPECT_EQ(second->width, 256);  // a width byte of 0 means 256
  EXPECT_FALSE(decode_icon_file(file, 2).has_value());
  EXPECT_FALSE(decode_icon_file(file, -1).has_value());
}

TEST(IconFile, DamagedFilesDecodeToNothing) {
  const Bytes good = icon_file({bitmap(2, 8, {{0, 1}, {1, 0}}, {0, 0xFFFFFF}, {{0, 0}, {0, 0}})});
  ASSERT_TRUE(decode_icon_file(good, 0).has_value());
  auto with = [&](size_t at, uint8_t value) {
    Bytes b = good;
    b[at] = value;
    return b;
  };
  constexpr size_t kImage = 6 + 16;  // the bitmap header starts here
  struct Case {
    const char* name;
    Bytes data;
  };
  const Case cases[] = {
      {"empty", {}},
      {"truncated directory", Bytes(good.begin(), good.begin() + 4)},
      {"truncated entry", Bytes(good.begin(), good.begin() + 12)},
      {"cursor file", icon_file({bitmap(1, 24, {{0}}, {}, {})}, 2)},
      {"reserved word set", with(0, 1)},
      {"offset past the end", with(6 + 15, 0x7F)},
      {"size past the end", with(6 + 11, 0x7F)},
      {"pixels cut short", Bytes(good.begin(), good.end() - 20)},
      {"zero width", with(kImage + 4, 0)},
      {"negative height", with(kImage + 11, 0xFF)},
      {"compressed", with(kImage + 16, 1)},
      {"16-bit pixels", with(kImage + 14, 16)},
      {"header size beyond the image", with(kImage + 1, 0x10)},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(decode_icon_file(c.data, 0).has_value()) << c.name;
  }
  EXPECT_FALSE(load_icon_file("/nonexistent/file.ico", 0).has_value());
}

}  // namespace
}  // namespace vtn
