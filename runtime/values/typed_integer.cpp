// Typed references to the integer kinds: BYTE, SHORT, USHORT, LONG, ULONG. All convert through
// LONG: a wider value keeps its low bytes, a REAL is truncated toward zero.
#include <cstring>
#include <limits>

#include "runtime/values/decimal.hpp"
#include "runtime/values/typed_reference_kinds.hpp"

namespace vtn::detail {
namespace {

template <typename T, ValueType kType>
class IntegerReference final : public TypedReference {
 public:
  explicit IntegerReference(void* address) : TypedReference(kType, address, sizeof(T)) {}

  void assign_long(int32_t value) override {
    // Narrowing keeps the low bytes; there is no range check.
    put(static_cast<T>(static_cast<std::make_unsigned_t<T>>(static_cast<uint32_t>(value))));
  }
  void assign_real(double value) override { assign_long(truncate_real(value)); }
  int compare_long(int32_t value) const override {
    const int64_t mine = get();
    return mine < value ? -1 : (mine > value ? 1 : 0);
  }
  void pop_string() override { assign_long(string_stack().pop_long()); }
  void push_string() const override {
    const int64_t value = get();
    if (value > std::numeric_limits<int32_t>::max()) {
      // A ULONG above 2^31: its digits, which the REAL form gives exactly.
      string_stack().push_real(static_cast<double>(value));
    } else {
      string_stack().push_long(static_cast<int32_t>(value));
    }
  }
  void pop_decimal() override { assign_long(decimal_stack().pop_long()); }
  void push_decimal() const override {
    if constexpr (kType == ValueType::ULONG) {
      decimal_stack().push_ulong(get());
    } else {
      decimal_stack().push_long(static_cast<int32_t>(get()));
    }
  }
  double read_real() const override { return static_cast<double>(get()); }
  int32_t read_long() const override { return static_cast<int32_t>(get()); }
  void clear(int direction) override {
    if (direction == 0) {
      put(0);
    } else {
      put(direction > 0 ? std::numeric_limits<T>::max() : std::numeric_limits<T>::min());
    }
  }
  bool is_empty() const override { return get() == 0; }

 protected:
  std::unique_ptr<TypedReference> rebind(void* address) const override {
    return std::make_unique<IntegerReference>(address);
  }

 private:
  T get() const {
    T value;
    std::memcpy(&value, bytes(), sizeof value);
    return value;
  }
  void put(T value) { std::memcpy(bytes(), &value, sizeof value); }
};

}  // namespace

std::unique_ptr<TypedReference> make_integer_reference(ValueType type, void* address) {
  switch (type) {
    case ValueType::BYTE:
      return std::make_unique<IntegerReference<uint8_t, ValueType::BYTE>>(address);
    case ValueType::SHORT:
      return std::make_unique<IntegerReference<int16_t, ValueType::SHORT>>(address);
    case ValueType::USHORT:
      return std::make_unique<IntegerReference<uint16_t, ValueType::USHORT>>(address);
    case ValueType::LONG:
      return std::make_unique<IntegerReference<int32_t, ValueType::LONG>>(address);
    default:
      return std::make_unique<IntegerReference<uint32_t, ValueType::ULONG>>(address);
  }
}

}  // namespace vtn::detail
