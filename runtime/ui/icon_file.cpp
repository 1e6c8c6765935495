#include "runtime/ui/icon_file.hpp"

#include <cstring>
#include <fstream>

namespace vtn {
namespace {

constexpr size_t kDirectorySize = 6;
constexpr size_t kEntrySize = 16;
constexpr size_t kInfoHeaderSize = 40;
constexpr int kMaxSide = 256;
constexpr size_t kMaxFileSize = 16u << 20;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

uint16_t u16(std::span<const uint8_t> d, size_t at) {
  return static_cast<uint16_t>(d[at] | (d[at + 1] << 8));
}
uint32_t u32(std::span<const uint8_t> d, size_t at) {
  return static_cast<uint32_t>(d[at]) | (static_cast<uint32_t>(d[at + 1]) << 8) |
         (static_cast<uint32_t>(d[at + 2]) << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}

size_t row_bytes(int width, int bits) {
  return ((static_cast<size_t>(width) * static_cast<size_t>(bits) + 31) / 32) * 4;
}

std::optional<IconImage> decode_bitmap(std::span<const uint8_t> image) {
  if (image.size() < kInfoHeaderSize) return std::nullopt;
  const uint32_t header_size = u32(image, 0);
  const auto width = static_cast<int32_t>(u32(image, 4));
  const auto double_height = static_cast<int32_t>(u32(image, 8));
  const uint16_t bits = u16(image, 14);
  const uint32_t compression = u32(image, 16);
  uint32_t colours_used = u32(image, 32);
  // The height counts the colour rows and the mask rows together.
  const int32_t height = double_height / 2;
  if (header_size < kInfoHeaderSize || header_size > image.size() || compression != 0 ||
      width <= 0 || width > kMaxSide || height <= 0 || height > kMaxSide) {
    return std::nullopt;
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;

  size_t at = header_size;
  std::vector<uint32_t> palette;  // 0xAARRGGBB with alpha set
  if (bits <= 8) {
    const uint32_t full = 1u << bits;
    if (colours_used == 0 || colours_used > full) colours_used = full;
    if (image.size() - at < colours_used * 4u) return std::nullopt;
    for (uint32_t i = 0; i < colours_used; ++i, at += 4) {
      palette.push_back(0xFF000000u | (image[at + 2] << 16) | (image[at + 1] << 8) | image[at]);
    }
  }
  const size_t colour_row = row_bytes(width, bits);
  const size_t mask_row = row_bytes(width, 1);
  const size_t colour_size = colour_row * static_cast<size_t>(height);
  const size_t mask_size = mask_row * static_cast<size_t>(height);
  if (image.size() - at < colour_size) return std::nullopt;
  const std::span<const uint8_t> colours = image.subspan(at, colour_size);
  // Some 32-bit images leave the mask out; their alpha channel is the mask then.
  const bool has_mask = image.size() - at - colour_size >= mask_size;
  const std::span<const uint8_t> mask =
      has_mask ? image.subspan(at + colour_size, mask_size) : std::span<const uint8_t>{};

  IconImage out;
  out.width = width;
  out.height = height;
  out.rgba.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  bool any_alpha = false;
  for (int y = 0; y < height; ++y) {
    const size_t source_row = static_cast<size_t>(height - 1 - y);  // bottom-up
    const uint8_t* row = colours.data() + source_row * colour_row;
    for (int x = 0; x < width; ++x) {
      uint32_t argb = 0;
      switch (bits) {
        case 32:
          argb = (static_cast<uint32_t>(row[x * 4 + 3]) << 24) | (row[x * 4 + 2] << 16) |
                 (row[x * 4 + 1] << 8) | row[x * 4];
          any_alpha |= row[x * 4 + 3] != 0;
          break;
        case 24:
          argb = 0xFF000000u | (row[x * 3 + 2] << 16) | (row[x * 3 + 1] << 8) | row[x * 3];
          break;
        default: {
          const int per_byte = 8 / bits;
          const int shift = (per_byte - 1 - x % per_byte) * bits;
          const uint32_t index = (row[x / per_byte] >> shift) & ((1u << bits) - 1);
          argb = index < palette.size() ? palette[index] : 0xFF000000u;
        }
      }
      uint8_t* pixel = &out.rgba[(static_cast<size_t>(y) * width + x) * 4];
      pixel[0] = static_cast<uint8_t>(argb >> 16);
      pixel[1] = static_cast<uint8_t>(argb >> 8);
      pixel[2] = static_cast<uint8_t>(argb);
      pixel[3] = static_cast<uint8_t>(argb >> 24);
    }
  }
  // The mask decides transparency unless a 32-bit image carries its own alpha.
  if (!(bits == 32 && any_alpha)) {
    for (int y = 0; y < height; ++y) {
      const size_t source_row = static_cast<size_t>(height - 1 - y);
      for (int x = 0; x < width; ++x) {
        bool transparent = false;
        if (has_mask) {
          const uint8_t byte = mask[source_row * mask_row + static_cast<size_t>(x / 8)];
          transparent = (byte >> (7 - x % 8)) & 1;
        }
        out.rgba[(static_cast<size_t>(y) * width + x) * 4 + 3] = transparent ? 0 : 0xFF;
      }
    }
  }
  return out;
}

}  // namespace

std::optional<IconImage> decode_icon_file(std::span<const uint8_t> data, int index) {
  if (data.size() < kDirectorySize || u16(data, 0) != 0 || u16(data, 2) != 1) return std::nullopt;
  const uint16_t count = u16(data, 4);
  if (index < 0 || index >= count) return std::nullopt;
  const size_t entry = kDirectorySize + static_cast<size_t>(index) * kEntrySize;
  if (data.size() < entry + kEntrySize) return std::nullopt;
  const uint32_t size = u32(data, entry + 8);
  const uint32_t offset = u32(data, entry + 12);
  if (offset > data.size() || size > data.size() - offset || size == 0) return std::nullopt;
  const std::span<const uint8_t> image = data.subspan(offset, size);

  if (image.size() >= sizeof kPngSignature &&
      std::memcmp(image.data(), kPngSignature, sizeof kPngSignature) == 0) {
    IconImage out;
    out.width = data[entry] == 0 ? 256 : data[entry];
    out.height = data[entry + 1] == 0 ? 256 : data[entry + 1];
    out.png.assign(image.begin(), image.end());
    return out;
  }
  return decode_bitmap(image);
}

std::optional<IconImage> load_icon_file(const std::string& path, int index) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> data;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    data.insert(data.end(), buffer, buffer + in.gcount());
    if (data.size() > kMaxFileSize) return std::nullopt;
  }
  return decode_icon_file(data, index);
}

}  // namespace vtn
