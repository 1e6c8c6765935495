// Icon files (.ICO): a directory of images, each either a device-independent bitmap with its
// transparency mask or a PNG stream. The message box shows image `index` of the file.
//
//   ICONDIR       reserved 0, type 1, count                       (6 bytes)
//   ICONDIRENTRY  width, height, colours, 0, planes, bits, size, offset   (16 bytes each)
//   image         BITMAPINFOHEADER, palette, XOR rows, AND rows (bottom-up, rows padded to 4)
//                 or a PNG stream
//
// The decoder trusts nothing in the file: every size and offset is checked against the data.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vtn {

struct IconImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;  // width × height pixels, top row first (empty for a PNG image)
  std::vector<uint8_t> png;   // the PNG stream, when the entry holds one
};

// Image `index` (from 0) of an icon file's contents; nothing when the data is not an icon file,
// has no such image, or the image is damaged or of a kind not read (compressed bitmaps).
std::optional<IconImage> decode_icon_file(std::span<const uint8_t> data, int index);

// Reads the file and decodes image `index`.
std::optional<IconImage> load_icon_file(const std::string& path, int index);

}  // namespace vtn
