#include "runtime/files/tarnwell/block_cipher.hpp"

#include <cassert>
#include <string>

#include "runtime/files/tarnwell/byte_order.hpp"

namespace vtn::tarnwell {
namespace {

using Words = std::array<uint32_t, 16>;

Words load_block(const uint8_t* p) {
  Words w;
  for (int i = 0; i < 16; ++i) w[i] = load_le32(p + 4 * i);
  return w;
}

void store_block(uint8_t* p, const Words& w) {
  for (int i = 0; i < 16; ++i) store_le32(p + 4 * i, w[i]);
}

// `k` may alias `w`: each step reads the schedule word as it stands at that moment.
void encipher_words(Words& w, const Words& k) {
  for (int i = 0; i < 16; ++i) {
    const uint32_t key = k[i];
    const int j = static_cast<int>(key & 15);
    const uint32_t a = w[i];
    const uint32_t b = w[j];
    w[j] = ((b & key) | (a & ~key)) + key;
    w[i] = ((a & key) | (b & ~key)) + key;
  }
}

void decipher_words(Words& w, const Words& k) {
  for (int i = 15; i >= 0; --i) {
    const uint32_t key = k[i];
    const int j = static_cast<int>(key & 15);
    const uint32_t x = w[i] - key;
    const uint32_t y = w[j] - key;
    w[i] = (x & key) | (y & ~key);
    w[j] = (y & key) | (x & ~key);
  }
}

}  // namespace

BlockCipher BlockCipher::from_password(std::string_view password) {
  const std::string with_zero = std::string(password) + '\0';
  uint8_t bytes[kCipherBlockSize];
  for (size_t n = 0; n < kCipherBlockSize; ++n) {
    const uint8_t c = static_cast<uint8_t>(with_zero[(1 + n) % with_zero.size()]);
    bytes[(n * 17) % kCipherBlockSize] = static_cast<uint8_t>(c + n);
  }
  Words w = load_block(bytes);
  encipher_words(w, w);
  encipher_words(w, w);
  return BlockCipher(w);
}

void BlockCipher::encipher(std::span<uint8_t> data) const {
  assert(data.size() % kCipherBlockSize == 0);
  for (size_t at = 0; at + kCipherBlockSize <= data.size(); at += kCipherBlockSize) {
    Words w = load_block(data.data() + at);
    encipher_words(w, k_);
    store_block(data.data() + at, w);
  }
}

void BlockCipher::decipher(std::span<uint8_t> data) const {
  assert(data.size() % kCipherBlockSize == 0);
  for (size_t at = 0; at + kCipherBlockSize <= data.size(); at += kCipherBlockSize) {
    Words w = load_block(data.data() + at);
    decipher_words(w, k_);
    store_block(data.data() + at, w);
  }
}

}  // namespace vtn::tarnwell
