#include "tools/twl/page_log.hpp"

#include <array>
#include <optional>

#include "runtime/files/tarnwell/block_io.hpp"
#include "runtime/platform/file_handle.hpp"
#include "runtime/platform/system_error.hpp"

namespace twl {

namespace tw = vtn::tarnwell;

namespace {

constexpr uint32_t kReadDenyNone = 0x40;

uint32_t le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

int32_t read_disk_log(const std::string& full_name, const std::string& password, DiskLog& out) {
  vtn::platform::FileHandle handle;
  if (!handle.open(full_name, vtn::platform::decode_open_mode(kReadDenyNone))) {
    return static_cast<int32_t>(vtn::platform::last_error());
  }
  std::optional<tw::BlockCipher> cipher;
  if (!password.empty()) cipher = tw::BlockCipher::from_password(password);
  const tw::BlockCipher* schedule = cipher ? &*cipher : nullptr;

  std::array<uint8_t, tw::kHeaderSize> header{};
  size_t got = 0;
  if (!tw::read_blocks(handle, schedule, 0, header, got)) {
    return static_cast<int32_t>(vtn::platform::last_error());
  }
  if (tw::decode_header(std::span(header).first(got), out.header) != 0) return tw::kNotAFile;
  out.empty = out.header.log_start == out.header.log_end;
  if (out.empty) return 0;

  // Each image starts with its own offset and its stored length; its rounded length is the
  // stored length rounded up to whole 256-byte units.
  uint64_t at = out.header.log_start;
  while (at < out.header.log_end) {
    std::array<uint8_t, tw::kUnitSize> start{};
    if (!tw::read_blocks(handle, schedule, at, start, got) || got < 8) {
      out.fault = "the log is cut short at offset " + std::to_string(at);
      return 0;
    }
    const uint32_t own = le32(start.data());
    const uint16_t stored = le16(start.data() + 4);
    const uint32_t length = (stored + tw::kUnitSize - 1) / tw::kUnitSize * tw::kUnitSize;
    if (stored < 8 || length > tw::kMaxPageImage + tw::kUnitSize ||
        at + length > out.header.log_end) {
      out.fault = "the image at offset " + std::to_string(at) + " has an impossible length";
      return 0;
    }
    out.images.push_back({static_cast<uint32_t>(at), own, length});
    at += length;
  }
  return 0;
}

}  // namespace twl
