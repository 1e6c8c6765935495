#include "runtime/files/tarnwell/block_cipher.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <vector>

#include "runtime/files/tarnwell/block_io.hpp"
#include "tests/files/tarnwell/check_of.hpp"

namespace vtn::tarnwell {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes b(n);
  for (uint8_t& x : b) x = static_cast<uint8_t>(random());
  return b;
}

// The schedule computed step by step from the description, independently of the class: the fill
// pattern, then two self-keyed encipherings written out with explicit temporaries.
BlockCipher::Schedule reference_schedule(std::string_view password) {
  std::string p(password);
  p.push_back('\0');
  uint8_t fill[64];
  size_t c = 1 % p.size();
  for (unsigned n = 0; n < 64; ++n) {
    fill[(n * 17) % 64] = static_cast<uint8_t>(static_cast<uint8_t>(p[c]) + n);
    c = (c + 1) % p.size();
  }
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) {
    w[i] = fill[4 * i] | (fill[4 * i + 1] << 8) | (fill[4 * i + 2] << 16) |
           (uint32_t{fill[4 * i + 3]} << 24);
  }
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 16; ++i) {
      const uint32_t k = w[i];
      const uint32_t j = k & 15, a = w[i], b = w[j];
      w[j] = ((b & k) | (a & ~k)) + k;
      w[i] = ((a & k) | (b & ~k)) + k;
    }
  }
  BlockCipher::Schedule s;
  std::copy(std::begin(w), std::end(w), s.begin());
  return s;
}

TEST(BlockCipherTest, ScheduleFromPassword) {
  for (std::string_view password : {"", "a", "secret", "A much longer owner password!"}) {
    EXPECT_EQ(BlockCipher::from_password(password).schedule(), reference_schedule(password))
        << password;
  }
  EXPECT_NE(BlockCipher::from_password("secret").schedule(),
            BlockCipher::from_password("secreT").schedule());
}

TEST(BlockCipherTest, KnownAnswerForAPassword) {
  // Worked out apart from this code (a separate script following the same steps): the schedule
  // of "owner" and the bytes 0..63 enciphered with it.
  const BlockCipher cipher = BlockCipher::from_password("owner");
  const BlockCipher::Schedule schedule = {0x51535210, 0x92130211, 0x8974C6A2, 0x555CD654,
                                          0x443B2C60, 0xD51540A9, 0xC56CD228, 0xAE7BF264,
                                          0xA2099628, 0x9A966264, 0xE764ED88, 0xF4262D76,
                                          0x95751B9C, 0x9A9C995C, 0xF1FF4ED8, 0xB39AEC60};
  EXPECT_EQ(cipher.schedule(), schedule);
  Bytes block(64);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i);
  const Bytes plain = block;
  cipher.encipher(block);
  const Bytes expected = {0xDC, 0xE9, 0x4F, 0x70, 0x15, 0x07, 0x19, 0x99, 0xAA, 0xCF, 0x7E,
                          0x94, 0x58, 0xDB, 0x6A, 0x5C, 0x21, 0x98, 0x1F, 0xE1, 0xAD, 0x65,
                          0x4B, 0x0C, 0xAE, 0x2E, 0x54, 0xDF, 0xF8, 0x0B, 0x16, 0xCD, 0x00,
                          0xCE, 0x8E, 0x6D, 0x40, 0x24, 0xD2, 0x73, 0x90, 0x26, 0x0D, 0x0B,
                          0x9A, 0x5C, 0x9D, 0x20, 0xC8, 0xC5, 0x42, 0x48, 0xF0, 0xEE, 0xD3,
                          0xEC, 0x10, 0x58, 0x39, 0x23, 0x8C, 0x1B, 0xB5, 0xEE};
  EXPECT_EQ(block, expected);
  cipher.decipher(block);
  EXPECT_EQ(block, plain);
}

TEST(BlockCipherTest, KnownBlockAndRoundTrip) {
  // Worked by hand with k = {1, 0, 0, ...} on the zero block. Step 0 (k 1, j 1): w1 = 1,
  // w0 = 1. A key of 0 swaps w[i] with w[0]: step 1 swaps two ones, step 2 moves the one of w0
  // into w2, steps 3..15 swap zeros. Result: w1 = w2 = 1.
  BlockCipher::Schedule k{};
  k[0] = 1;
  const BlockCipher hand(k);
  Bytes block(64, 0);
  hand.encipher(block);
  Bytes expected(64, 0);
  expected[4] = 1;
  expected[8] = 1;
  EXPECT_EQ(block, expected);

  const BlockCipher cipher = BlockCipher::from_password("owner");
  for (size_t size : {size_t{64}, size_t{512}, size_t{15104}}) {
    const Bytes plain = random_bytes(size, static_cast<uint32_t>(size));
    Bytes data = plain;
    cipher.encipher(data);
    EXPECT_NE(data, plain);
    cipher.decipher(data);
    EXPECT_EQ(data, plain);
  }
}

TEST(BlockIoTest, WholeBlocksEncipheredOnDiskCallerBufferUnchanged) {
  char pattern[] = "/tmp/vtn_block_io_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern;
  platform::FileHandle file;
  ASSERT_TRUE(file.open(
      (dir / "c.twl").string(),
      platform::FileOpenMode{platform::FileAccess::kReadWrite, platform::FileSharing::kDenyNone,
                             platform::FileDisposition::kOpenAlways, false}));
  const BlockCipher cipher = BlockCipher::from_password("pw");
  const Bytes plain = random_bytes(256, 5);
  Bytes buffer = plain;
  size_t n = 0;
  ASSERT_TRUE(write_blocks(file, &cipher, 512, buffer, n));
  EXPECT_EQ(n, 256u);
  EXPECT_EQ(buffer, plain);

  Bytes raw(256);
  ASSERT_TRUE(read_blocks(file, nullptr, 512, raw, n));
  Bytes expected_raw = plain;
  cipher.encipher(expected_raw);
  EXPECT_EQ(raw, expected_raw);
  Bytes back(256);
  ASSERT_TRUE(read_blocks(file, &cipher, 512, back, n));
  EXPECT_EQ(back, plain);

  // A read cut short by the end of the file is left as read.
  Bytes past(128);
  ASSERT_TRUE(read_blocks(file, &cipher, 704, past, n));
  EXPECT_EQ(n, 64u);
  EXPECT_EQ(Bytes(past.begin(), past.begin() + 64), Bytes(raw.begin() + 192, raw.end()));

  Bytes odd(100);
  EXPECT_EQ(check_of([&] { read_blocks(file, &cipher, 0, odd, n); }), 2272);
  EXPECT_EQ(check_of([&] { write_blocks(file, nullptr, 0, odd, n); }), 2286);
  file.close();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vtn::tarnwell
