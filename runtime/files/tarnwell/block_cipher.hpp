// The block cipher of encrypted record files.
//
// A file opened with an owner password keeps every 64-byte block (header, pages, log) enciphered.
// A block is sixteen 32-bit little-endian words; each of the sixteen steps mixes word i with word
// k[i] & 15 under the mask k[i] and adds k[i]. The schedule k comes from the password (see
// BlockCipher::from_password). Reads and writes of such a file move whole blocks only.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vtn::tarnwell {

inline constexpr size_t kCipherBlockSize = 64;

class BlockCipher {
 public:
  using Schedule = std::array<uint32_t, 16>;

  explicit BlockCipher(const Schedule& schedule) : k_(schedule) {}

  // The schedule of a password: a 64-byte array filled at (n * 17) mod 64 with (c + n) mod 256
  // for n = 0..63, c running cyclically over the password's bytes and its terminating zero from
  // the second byte on, then enciphered twice with itself as its own schedule.
  static BlockCipher from_password(std::string_view password);

  const Schedule& schedule() const { return k_; }

  // REQUIRES: data.size() is a multiple of 64.
  void encipher(std::span<uint8_t> data) const;
  void decipher(std::span<uint8_t> data) const;

 private:
  Schedule k_;
};

}  // namespace vtn::tarnwell
