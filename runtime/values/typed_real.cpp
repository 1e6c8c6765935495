// Typed references to the floating kinds: SREAL and REAL (IEEE 754) and BFLOAT4 and BFLOAT8
// (Microsoft Binary Format). All convert through REAL.
#include <cstring>
#include <limits>

#include "runtime/values/decimal.hpp"
#include "runtime/values/mbf.hpp"
#include "runtime/values/typed_reference_kinds.hpp"

namespace vtn::detail {
namespace {

struct SrealCodec {
  static constexpr ValueType kType = ValueType::SREAL;
  static constexpr uint32_t kSize = 4;
  static double read(const uint8_t* bytes) {
    float value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }
  static void write(double value, uint8_t* bytes) {
    const auto narrow = static_cast<float>(value);
    std::memcpy(bytes, &narrow, sizeof narrow);
  }
  static void write_extreme(bool highest, uint8_t* bytes) {
    write(highest ? std::numeric_limits<float>::max() : std::numeric_limits<float>::lowest(),
          bytes);
  }
};

struct RealCodec {
  static constexpr ValueType kType = ValueType::REAL;
  static constexpr uint32_t kSize = 8;
  static double read(const uint8_t* bytes) {
    double value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }
  static void write(double value, uint8_t* bytes) { std::memcpy(bytes, &value, sizeof value); }
  static void write_extreme(bool highest, uint8_t* bytes) {
    write(highest ? std::numeric_limits<double>::max() : std::numeric_limits<double>::lowest(),
          bytes);
  }
};

// The largest MBF magnitude: every mantissa bit set and exponent 255; the sign bit sits at bit 7
// of the byte below the exponent.
template <uint32_t kBytes>
void write_mbf_extreme(bool highest, uint8_t* bytes) {
  std::memset(bytes, 0xFF, kBytes);
  if (highest) bytes[kBytes - 2] = 0x7F;
}

struct Bfloat4Codec {
  static constexpr ValueType kType = ValueType::BFLOAT4;
  static constexpr uint32_t kSize = 4;
  static double read(const uint8_t* bytes) { return bfloat4_to_real(bytes); }
  static void write(double value, uint8_t* bytes) { real_to_bfloat4(value, bytes); }
  static void write_extreme(bool highest, uint8_t* bytes) {
    write_mbf_extreme<kSize>(highest, bytes);
  }
};

struct Bfloat8Codec {
  static constexpr ValueType kType = ValueType::BFLOAT8;
  static constexpr uint32_t kSize = 8;
  static double read(const uint8_t* bytes) { return bfloat8_to_real(bytes); }
  static void write(double value, uint8_t* bytes) { real_to_bfloat8(value, bytes); }
  static void write_extreme(bool highest, uint8_t* bytes) {
    write_mbf_extreme<kSize>(highest, bytes);
  }
};

template <typename Codec>
class RealReference final : public TypedReference {
 public:
  explicit RealReference(void* address) : TypedReference(Codec::kType, address, Codec::kSize) {}

  void assign_long(int32_t value) override { Codec::write(value, bytes()); }
  void assign_real(double value) override { Codec::write(value, bytes()); }
  int compare_long(int32_t value) const override {
    const double mine = read_real();
    return mine < value ? -1 : (mine > value ? 1 : 0);
  }
  void pop_string() override { assign_real(string_stack().pop_real()); }
  void push_string() const override { string_stack().push_real(read_real()); }
  void pop_decimal() override { assign_real(decimal_stack().pop_real()); }
  void push_decimal() const override { decimal_stack().push_real(read_real()); }
  double read_real() const override { return Codec::read(bytes()); }
  int32_t read_long() const override { return truncate_real(read_real()); }
  void clear(int direction) override {
    if (direction == 0) {
      Codec::write(0.0, bytes());
    } else {
      Codec::write_extreme(direction > 0, bytes());
    }
  }
  bool is_empty() const override { return read_real() == 0.0; }

 protected:
  std::unique_ptr<TypedReference> rebind(void* address) const override {
    return std::make_unique<RealReference>(address);
  }
};

}  // namespace

std::unique_ptr<TypedReference> make_real_reference(ValueType type, void* address) {
  switch (type) {
    case ValueType::SREAL:
      return std::make_unique<RealReference<SrealCodec>>(address);
    case ValueType::BFLOAT4:
      return std::make_unique<RealReference<Bfloat4Codec>>(address);
    case ValueType::BFLOAT8:
      return std::make_unique<RealReference<Bfloat8Codec>>(address);
    default:
      return std::make_unique<RealReference<RealCodec>>(address);
  }
}

}  // namespace vtn::detail
