#include "runtime/values/typed_reference.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/core/fatal_error.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/typed_reference_kinds.hpp"
#include "runtime/values/value_hash.hpp"

namespace vtn {
namespace {

// The integer kinds copy their bytes as native integers: the stored layout is little-endian.
static_assert(std::endian::native == std::endian::little);

constexpr int32_t kUnsupportedTypeCode = 501;
constexpr const char* kUnsupportedTypeText = "String Stack Error";
// The typing error has no code of its own: its whole message is the extra text.
constexpr const char* kTypingErrorText = "Parameter typing error";
constexpr int32_t kNullDereference = 402;

int sign_of(double difference) {
  return difference < 0 ? -1 : (difference > 0 ? 1 : 0);
}

}  // namespace

namespace detail {

ValueType common_kind(ValueType a, ValueType b, bool arithmetic) {
  const bool a_text = a == ValueType::STRING;
  const bool b_text = b == ValueType::STRING;
  if (a_text && b_text) return arithmetic ? ValueType::DECIMAL : ValueType::STRING;
  if (a == ValueType::REAL || b == ValueType::REAL) return ValueType::REAL;
  if (a == ValueType::LONG && b == ValueType::LONG) return ValueType::LONG;
  return ValueType::DECIMAL;
}

int32_t truncate_real(double value) {
  // std::trunc then a range check: a conversion out of range would be undefined.
  const double whole = std::trunc(value);
  if (!(whole > -9223372036854775808.0 && whole < 9223372036854775808.0)) {
    return static_cast<int32_t>(0x80000000u);
  }
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(whole)));
}

}  // namespace detail

void AnyValue::bind(std::unique_ptr<TypedReference> reference) {
  target = std::move(reference);
  by_reference = target != nullptr;
}

void AnyValue::reset() {
  target.reset();
  by_reference = false;
}

TypedReference::TypedReference(ValueType type, void* address, uint32_t size, uint32_t places)
    : type_(type), size_(size), places_(places), storage_(static_cast<uint8_t*>(address)) {}

TypedReference::~TypedReference() = default;

void TypedReference::typing_error() {
  fatal_runtime_error(0, kTypingErrorText);
}

uint8_t* TypedReference::bytes() const {
  if (storage_ != nullptr) return storage_;
  fatal_runtime_error(kNullDereference);
  // Only reached once the program procedure has returned: work on scratch bytes, not on null.
  static std::vector<uint8_t> scratch;
  scratch.assign(size_ < 8 ? 8 : size_, 0);
  return scratch.data();
}

void TypedReference::own_new_storage(uint32_t size) {
  owned_ = std::make_unique<uint8_t[]>(size == 0 ? 1 : size);
  storage_ = owned_.get();
  flags_ |= kOwnsBuffer;
}

// The kinds override what they support; the rest is a typing error.
void TypedReference::assign_long(int32_t) {
  typing_error();
}
void TypedReference::assign_real(double) {
  typing_error();
}
int TypedReference::compare_long(int32_t) const {
  typing_error();
  return 0;
}
void TypedReference::pop_string() {
  typing_error();
}
void TypedReference::push_string() const {
  typing_error();
}
void TypedReference::pop_decimal() {
  typing_error();
}
void TypedReference::push_decimal() const {
  typing_error();
}
double TypedReference::read_real() const {
  typing_error();
  return 0.0;
}
int32_t TypedReference::read_long() const {
  typing_error();
  return 0;
}
void TypedReference::clear(int) {
  typing_error();
}
bool TypedReference::is_empty() const {
  typing_error();
  return false;
}
std::unique_ptr<TypedReference> TypedReference::slice(uint32_t, uint32_t) const {
  typing_error();
  return nullptr;
}
std::unique_ptr<TypedReference> TypedReference::character(uint32_t) const {
  typing_error();
  return nullptr;
}

ValueType TypedReference::natural_kind() const {
  return natural_kind_of(type_);
}

void TypedReference::assign_natural(const TypedReference& source) {
  switch (natural_kind()) {
    case ValueType::LONG:
      assign_long(source.read_long());
      break;
    case ValueType::REAL:
      assign_real(source.read_real());
      break;
    case ValueType::STRING:
      source.push_string();
      pop_string();
      break;
    case ValueType::DECIMAL:
      source.push_decimal();
      pop_decimal();
      break;
    default:
      typing_error();
  }
}

void TypedReference::assign(const TypedReference& source) {
  switch (source.natural_kind()) {
    case ValueType::STRING:
      source.push_string();
      pop_string();
      break;
    case ValueType::DECIMAL:
      source.push_decimal();
      pop_decimal();
      break;
    case ValueType::REAL:
      assign_real(source.read_real());
      break;
    case ValueType::LONG:
      // An integer goes over in the destination's kind, so that a ULONG above 2^31 keeps its
      // value in a REAL or a decimal.
      if (natural_kind() == ValueType::LONG) {
        assign_long(source.read_long());
      } else {
        assign_natural(source);
      }
      break;
    default:
      typing_error();
  }
}

void TypedReference::assign_variant(const StackVariant& value) {
  if (const auto* i = std::get_if<int32_t>(&value)) {
    assign_long(*i);
  } else if (const auto* d = std::get_if<double>(&value)) {
    assign_real(*d);
  } else if (const auto* s = std::get_if<std::u16string>(&value)) {
    string_stack().push_wide(*s, true);
    pop_string();
  } else {
    clear(0);
  }
}

void TypedReference::release() {
  owned_.reset();
  storage_ = nullptr;
  flags_ = 0;
}

std::unique_ptr<TypedReference> TypedReference::clone() const {
  return rebind(storage_);
}

int TypedReference::compare(const TypedReference& other) const {
  switch (detail::common_kind(natural_kind(), other.natural_kind(), false)) {
    case ValueType::STRING: {
      // The first operand lies on top.
      other.push_string();
      push_string();
      const int result = string_stack().compare_top_two();
      return result < 0 ? -1 : (result > 0 ? 1 : 0);
    }
    case ValueType::LONG:
    case ValueType::REAL:
      // Every 32-bit integer is exact as a double, so this also orders ULONG against LONG.
      return sign_of(read_real() - other.read_real());
    default:
      push_decimal();
      other.push_decimal();
      return decimal_stack().compare();
  }
}

void TypedReference::add(const TypedReference& other) {
  switch (detail::common_kind(natural_kind(), other.natural_kind(), true)) {
    case ValueType::LONG:
      assign_long(static_cast<int32_t>(static_cast<uint32_t>(read_long()) +
                                       static_cast<uint32_t>(other.read_long())));
      break;
    case ValueType::REAL:
      assign_real(read_real() + other.read_real());
      break;
    default:
      push_decimal();
      other.push_decimal();
      decimal_stack().add();
      pop_decimal();
  }
}

std::span<const uint8_t> TypedReference::stored_bytes() const {
  return {bytes(), size_};
}

uint32_t TypedReference::hash() const {
  return value_hash(stored_bytes());
}

void TypedReference::set_address(void* address) {
  owned_.reset();
  flags_ &= static_cast<uint8_t>(~kOwnsBuffer);
  storage_ = static_cast<uint8_t*>(address);
}

bool TypedReference::same_type_info(const TypedReference& other) const {
  return type() == other.type() && size() == other.size() && places() == other.places();
}

void TypedReference::copy_from(const TypedReference& source) {
  const TypedReference* held = source.resolved();
  if (held != nullptr && held != &source && held->type() == type()) {
    copy_from(*held);
    return;
  }
  if (!same_type_info(source)) {
    assign(source);
    return;
  }
  std::memmove(bytes(), source.bytes(), size_);
}

uint32_t TypedReference::copy_out(uint8_t* destination) const {
  const std::span<const uint8_t> stored = stored_bytes();
  if (!stored.empty()) std::memcpy(destination, stored.data(), stored.size());
  return static_cast<uint32_t>(stored.size());
}

std::unique_ptr<TypedReference> make_typed_reference(ValueType type, void* address, uint32_t size,
                                                     uint32_t places) {
  switch (type) {
    case ValueType::BYTE:
    case ValueType::SHORT:
    case ValueType::USHORT:
    case ValueType::LONG:
    case ValueType::ULONG:
      return detail::make_integer_reference(type, address);
    case ValueType::DATE:
    case ValueType::TIME:
      return detail::make_date_time_reference(type, address);
    case ValueType::SREAL:
    case ValueType::REAL:
    case ValueType::BFLOAT4:
    case ValueType::BFLOAT8:
      return detail::make_real_reference(type, address);
    case ValueType::DECIMAL:
    case ValueType::PDECIMAL:
      return detail::make_decimal_reference(type, address, size, places);
    case ValueType::STRING:
    case ValueType::GROUP:
    case ValueType::CSTRING:
    case ValueType::PSTRING:
      return detail::make_text_reference(type, address, size);
    case ValueType::ANY:
    case ValueType::ANY_REFERENCE:
      return detail::make_any_reference(type, static_cast<AnyValue*>(address));
    case ValueType::TEMP_STRING:
      return make_owned_reference(ValueType::STRING, size);
    case ValueType::TEMP_LONG:
      return make_owned_reference(ValueType::LONG);
    case ValueType::TEMP_REAL:
      return make_owned_reference(ValueType::REAL);
    default:
      fatal_runtime_error(kUnsupportedTypeCode, kUnsupportedTypeText);
      return nullptr;
  }
}

std::unique_ptr<TypedReference> make_owned_reference(ValueType type, uint32_t size,
                                                     uint32_t places) {
  std::unique_ptr<TypedReference> reference = make_typed_reference(type, nullptr, size, places);
  // ANY keeps its own AnyValue, and the temporaries come with their storage already.
  if (reference == nullptr || (reference->flags() & TypedReference::kOwnsBuffer) != 0 ||
      type == ValueType::ANY || type == ValueType::ANY_REFERENCE) {
    return reference;
  }
  reference->own_new_storage(reference->size());
  reference->clear(0);
  return reference;
}

}  // namespace vtn
