#include "runtime/values/mbf.hpp"

#include <bit>
#include <cstring>

namespace vtn {
namespace {

// The MBF exponent is the IEEE double exponent less (1023 - 129).
constexpr int kExponentShift = 894;
constexpr int kMantissaBits = 52;

struct DoubleParts {
  bool zero;  // stores as MBF zero
  uint64_t sign;
  uint64_t mantissa;  // the 52 stored bits
  uint8_t exponent;   // MBF exponent
};

DoubleParts split(double value) {
  const auto bits = std::bit_cast<uint64_t>(value);
  DoubleParts parts{};
  const int exponent = static_cast<int>((bits >> kMantissaBits) & 0x7FF) - kExponentShift;
  // A double below the MBF range (exponent 0 and less, which includes -0.0 and the subnormals)
  // has no MBF form: it stores zero rather than a wrapped exponent byte.
  parts.zero = (bits >> 48) == 0 || exponent <= 0;
  parts.sign = bits >> 63;
  parts.mantissa = bits & ((uint64_t{1} << kMantissaBits) - 1);
  parts.exponent = static_cast<uint8_t>(exponent > 255 ? 255 : exponent);
  return parts;
}

double join(uint64_t sign, uint8_t exponent, uint64_t mantissa52) {
  const uint64_t bits = (sign << 63) |
                        (static_cast<uint64_t>(exponent + kExponentShift) << kMantissaBits) |
                        mantissa52;
  return std::bit_cast<double>(bits);
}

}  // namespace

void real_to_bfloat4(double value, uint8_t* bytes) {
  const DoubleParts p = split(value);
  if (p.zero) {
    std::memset(bytes, 0, 4);
    return;
  }
  const auto m = static_cast<uint32_t>(p.mantissa >> (kMantissaBits - 23));
  bytes[0] = static_cast<uint8_t>(m);
  bytes[1] = static_cast<uint8_t>(m >> 8);
  bytes[2] = static_cast<uint8_t>(((m >> 16) & 0x7F) | (p.sign << 7));
  bytes[3] = p.exponent;
}

double bfloat4_to_real(const uint8_t* bytes) {
  if (bytes[2] == 0 && bytes[3] == 0) return 0.0;
  const uint64_t m = bytes[0] | (uint64_t{bytes[1]} << 8) | (uint64_t{bytes[2] & 0x7Fu} << 16);
  return join(bytes[2] >> 7, bytes[3], m << (kMantissaBits - 23));
}

void real_to_bfloat8(double value, uint8_t* bytes) {
  const DoubleParts p = split(value);
  if (p.zero) {
    std::memset(bytes, 0, 8);
    return;
  }
  // 55 mantissa bits: the double's 52 on top, three zero bits below.
  const uint64_t m = p.mantissa << 3;
  for (int i = 0; i < 6; ++i) bytes[i] = static_cast<uint8_t>(m >> (8 * i));
  bytes[6] = static_cast<uint8_t>(((m >> 48) & 0x7F) | (p.sign << 7));
  bytes[7] = p.exponent;
}

double bfloat8_to_real(const uint8_t* bytes) {
  if (bytes[6] == 0 && bytes[7] == 0) return 0.0;
  uint64_t m = uint64_t{bytes[6] & 0x7Fu} << 48;
  for (int i = 0; i < 6; ++i) m |= uint64_t{bytes[i]} << (8 * i);
  // The three lowest of the 55 bits have no place in a double and are cut.
  return join(bytes[6] >> 7, bytes[7], m >> 3);
}

}  // namespace vtn
