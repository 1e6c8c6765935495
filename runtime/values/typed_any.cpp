// Typed references to ANY values (ANY, and ANY_REFERENCE for an ANY reached by reference).
//
// The storage of an ANY is an AnyValue. An ANY that holds a value behaves as a variable of that
// value's type: assigning to it replaces the value by a fresh temporary of the assigned value's
// kind (a LONG, a REAL, a text of the assigned length, a decimal, or a copy of the source's
// type). An ANY bound by reference writes through to the bound storage, converting to its type.
// An ANY that holds nothing reads as an empty text (and so as 0).
#include "runtime/core/fatal_error.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/typed_reference_kinds.hpp"
#include "runtime/values/value_hash.hpp"

namespace vtn::detail {
namespace {

constexpr int32_t kNullDereference = 402;

// A decimal assigned to an ANY keeps every digit a working value can have: 32 before and 32
// after the point fit 33 bytes.
constexpr uint32_t kAnyDecimalBytes = 33;
constexpr uint32_t kAnyDecimalPlaces = 32;

class AnyReference final : public TypedReference {
 public:
  AnyReference(ValueType type, AnyValue* value) : TypedReference(type, value, 0) {}
  // An ANY with storage of its own.
  explicit AnyReference(ValueType type) : TypedReference(type, nullptr, 0) {
    own_ = std::make_unique<AnyValue>();
    storage_ = reinterpret_cast<uint8_t*>(own_.get());
    flags_ |= kOwnsBuffer;
  }

  void assign_long(int32_t value) override {
    if (TypedReference* t = through()) return t->assign_long(value);
    auto r = make_owned_reference(ValueType::LONG);
    r->assign_long(value);
    hold(std::move(r));
  }
  void assign_real(double value) override {
    if (TypedReference* t = through()) return t->assign_real(value);
    auto r = make_owned_reference(ValueType::REAL);
    r->assign_real(value);
    hold(std::move(r));
  }
  void assign_natural(const TypedReference& source) override {
    if (TypedReference* t = through()) return t->assign_natural(source);
    assign(source);
  }
  void assign(const TypedReference& source) override {
    if (TypedReference* t = through()) return t->assign(source);
    const TypedReference* v = source.resolved();
    if (v == nullptr) {
      value().reset();
      return;
    }
    auto r = make_owned_reference(v->type(), v->size(), v->places());
    if (r == nullptr) return;
    r->copy_from(*v);
    hold(std::move(r));
  }
  int compare_long(int32_t value) const override {
    if (const TypedReference* h = held()) return h->compare_long(value);
    return 0 < value ? -1 : (0 > value ? 1 : 0);
  }
  void assign_variant(const StackVariant& value) override {
    if (TypedReference* t = through()) return t->assign_variant(value);
    if (std::holds_alternative<std::monostate>(value)) {
      this->value().reset();
      return;
    }
    TypedReference::assign_variant(value);
  }
  void pop_string() override {
    if (TypedReference* t = through()) return t->pop_string();
    auto r = make_owned_reference(ValueType::STRING, string_stack().entry(1).length);
    r->pop_string();
    hold(std::move(r));
  }
  void push_string() const override {
    if (const TypedReference* h = held()) return h->push_string();
    string_stack().push_borrowed(nullptr, 0);
  }
  void pop_decimal() override {
    if (TypedReference* t = through()) return t->pop_decimal();
    auto r = make_owned_reference(ValueType::DECIMAL, kAnyDecimalBytes, kAnyDecimalPlaces);
    r->pop_decimal();
    hold(std::move(r));
  }
  void push_decimal() const override {
    if (const TypedReference* h = held()) return h->push_decimal();
    decimal_stack().push_long(0);
  }
  double read_real() const override {
    const TypedReference* h = held();
    return h != nullptr ? h->read_real() : 0.0;
  }
  int32_t read_long() const override {
    const TypedReference* h = held();
    return h != nullptr ? h->read_long() : 0;
  }
  void release() override {
    own_.reset();
    storage_ = nullptr;
    flags_ = 0;
  }
  void clear(int direction) override {
    if (TypedReference* h = held()) h->clear(direction);
  }
  std::unique_ptr<TypedReference> slice(uint32_t first, uint32_t last) const override {
    if (const TypedReference* h = held()) return h->slice(first, last);
    return TypedReference::slice(first, last);
  }
  std::unique_ptr<TypedReference> character(uint32_t index) const override {
    if (const TypedReference* h = held()) return h->character(index);
    return TypedReference::character(index);
  }
  uint32_t size() const override {
    const TypedReference* h = held();
    return h != nullptr ? h->size() : 0;
  }
  ValueType natural_kind() const override {
    const TypedReference* h = held();
    return h != nullptr ? h->natural_kind() : ValueType::STRING;
  }
  bool is_empty() const override {
    const TypedReference* h = held();
    return h == nullptr || h->is_empty();
  }
  void oem_to_ansi() override {
    if (TypedReference* h = held()) h->oem_to_ansi();
  }
  void ansi_to_oem() override {
    if (TypedReference* h = held()) h->ansi_to_oem();
  }
  uint32_t hash() const override {
    const TypedReference* h = held();
    return h != nullptr ? h->hash() : value_hash({});
  }
  void set_address(void* address) override {
    own_.reset();
    flags_ = 0;
    storage_ = static_cast<uint8_t*>(address);
  }
  void copy_from(const TypedReference& source) override {
    if (TypedReference* t = through()) return t->copy_from(source);
    assign(source);
  }
  uint32_t copy_out(uint8_t* destination) const override {
    const TypedReference* h = held();
    return h != nullptr ? h->copy_out(destination) : 0;
  }
  const TypedReference* resolved() const override { return held(); }

 protected:
  std::unique_ptr<TypedReference> rebind(void* address) const override {
    return std::make_unique<AnyReference>(type_, static_cast<AnyValue*>(address));
  }

 private:
  AnyValue* slot() const { return reinterpret_cast<AnyValue*>(storage_); }
  // The value's storage; a released reference has none and ends the program.
  AnyValue& value() const {
    if (storage_ == nullptr) {
      fatal_runtime_error(kNullDereference);
      static AnyValue scratch;
      scratch.reset();
      return scratch;
    }
    return *slot();
  }
  TypedReference* held() const { return storage_ == nullptr ? nullptr : slot()->target.get(); }
  TypedReference* through() const {
    AnyValue& v = value();
    return v.by_reference ? v.target.get() : nullptr;
  }
  void hold(std::unique_ptr<TypedReference> reference) {
    AnyValue& v = value();
    v.target = std::move(reference);
    v.by_reference = false;
  }

  std::unique_ptr<AnyValue> own_;
};

}  // namespace

std::unique_ptr<TypedReference> make_any_reference(ValueType type, AnyValue* value) {
  if (value == nullptr) return std::make_unique<AnyReference>(type);
  return std::make_unique<AnyReference>(type, value);
}

}  // namespace vtn::detail
