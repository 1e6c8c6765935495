// Typed references to the packed decimals, DECIMAL (sign nibble first) and PDECIMAL (sign nibble
// last). They convert through the decimal stack, so every store rounds half away from zero to the
// declared places and drops digits beyond the declared size.
#include <cstring>

#include "runtime/values/decimal.hpp"
#include "runtime/values/typed_reference_kinds.hpp"

namespace vtn::detail {
namespace {

template <ValueType kType>
class DecimalReference final : public TypedReference {
  static constexpr bool kSignFirst = kType == ValueType::DECIMAL;

 public:
  DecimalReference(void* address, uint32_t size, uint32_t places)
      : TypedReference(kType, address, size, places) {}

  void assign_long(int32_t value) override {
    decimal_stack().push_long(value);
    pop_decimal();
  }
  void assign_real(double value) override {
    decimal_stack().push_real(value);
    pop_decimal();
  }
  int compare_long(int32_t value) const override {
    push_decimal();
    decimal_stack().push_long(value);
    return decimal_stack().compare();
  }
  void pop_string() override {
    decimal_stack().push_from_string_stack();
    pop_decimal();
  }
  void push_string() const override {
    push_decimal();
    decimal_stack().pop_to_string_stack();
  }
  void pop_decimal() override {
    if constexpr (kSignFirst) {
      decimal_stack().pop_decimal(bytes(), size_, places_);
    } else {
      decimal_stack().pop_pdecimal(bytes(), size_, places_);
    }
  }
  void push_decimal() const override {
    if constexpr (kSignFirst) {
      decimal_stack().push_decimal(bytes(), size_, places_);
    } else {
      decimal_stack().push_pdecimal(bytes(), size_, places_);
    }
  }
  double read_real() const override {
    push_decimal();
    return decimal_stack().pop_real();
  }
  int32_t read_long() const override {
    push_decimal();
    return decimal_stack().pop_long();
  }
  // Zero, or every digit 9 with the sign of the direction.
  void clear(int direction) override {
    if (size_ == 0) return;
    uint8_t* b = bytes();
    const bool negative = direction < 0;
    std::memset(b, direction == 0 ? 0x00 : 0x99, size_);
    if constexpr (kSignFirst) {
      b[0] = static_cast<uint8_t>((negative ? 0xF0 : 0x00) | (b[0] & 0x0F));
    } else {
      b[size_ - 1] = static_cast<uint8_t>((b[size_ - 1] & 0xF0) | (negative ? 0x0D : 0x0F));
    }
  }
  bool is_empty() const override {
    const uint8_t* b = bytes();
    for (uint32_t i = 0; i < size_; ++i) {
      const uint8_t digits =
          kSignFirst ? (i == 0 ? b[i] & 0x0F : b[i]) : (i + 1 == size_ ? b[i] & 0xF0 : b[i]);
      if (digits != 0) return false;
    }
    return true;
  }

 protected:
  std::unique_ptr<TypedReference> rebind(void* address) const override {
    return std::make_unique<DecimalReference>(address, size_, places_);
  }
};

}  // namespace

std::unique_ptr<TypedReference> make_decimal_reference(ValueType type, void* address, uint32_t size,
                                                       uint32_t places) {
  if (type == ValueType::PDECIMAL) {
    return std::make_unique<DecimalReference<ValueType::PDECIMAL>>(address, size, places);
  }
  return std::make_unique<DecimalReference<ValueType::DECIMAL>>(address, size, places);
}

}  // namespace vtn::detail
