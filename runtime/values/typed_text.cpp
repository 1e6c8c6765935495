// Typed references to the text kinds: STRING (and GROUP, a STRING of its whole size), CSTRING and
// PSTRING. Every store goes through the StringStack's store routines, so a text assigned to a
// field is cut and padded exactly as a popped string would be; numbers read from text go through
// the decimal reader (LONG) or the REAL reader.
#include <algorithm>
#include <cstring>

#include "runtime/core/fatal_error.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/conversions.hpp"
#include "runtime/values/decimal.hpp"
#include "runtime/values/typed_reference_kinds.hpp"

namespace vtn::detail {
namespace {

constexpr int32_t kIndexOutOfRange = 409;

// What the three kinds share; each says where its text lies and how a store and a clear write it.
class TextReference : public TypedReference {
 public:
  TextReference(ValueType type, void* address, uint32_t size)
      : TypedReference(type, address, size) {}

  // The characters of the value, and the area that can hold characters.
  virtual std::span<uint8_t> text() const = 0;
  virtual std::span<uint8_t> area() const = 0;
  std::string_view view() const {
    const std::span<uint8_t> t = text();
    return {reinterpret_cast<const char*>(t.data()), t.size()};
  }

  void assign_long(int32_t value) override {
    string_stack().push_long(value);
    pop_string();
  }
  void assign_real(double value) override {
    string_stack().push_real(value);
    pop_string();
  }
  int compare_long(int32_t value) const override {
    push_decimal();
    decimal_stack().push_long(value);
    return decimal_stack().compare();
  }
  void push_string() const override {
    const std::span<uint8_t> t = text();
    string_stack().push_borrowed(reinterpret_cast<const char*>(t.data()),
                                 static_cast<uint32_t>(t.size()));
  }
  void pop_decimal() override {
    decimal_stack().pop_to_string_stack();
    pop_string();
  }
  void push_decimal() const override {
    push_string();
    decimal_stack().push_from_string_stack();
  }
  // The same readers that a popped string goes through, without taking a stack entry.
  double read_real() const override { return text_to_real(view()); }
  int32_t read_long() const override { return text_to_long(view()); }
  bool is_empty() const override {
    const std::span<uint8_t> t = text();
    return std::all_of(t.begin(), t.end(), [](uint8_t c) { return c == ' '; });
  }
  void oem_to_ansi() override {
    const std::span<uint8_t> t = text();
    platform::oem_to_ansi(reinterpret_cast<char*>(t.data()), t.size());
  }
  void ansi_to_oem() override {
    const std::span<uint8_t> t = text();
    platform::ansi_to_oem(reinterpret_cast<char*>(t.data()), t.size());
  }
  std::unique_ptr<TypedReference> slice(uint32_t first, uint32_t last) const override {
    const std::span<uint8_t> a = area();
    if (first < 1 || last + 1 < first || last > a.size()) {
      fatal_runtime_error(kIndexOutOfRange);
      return nullptr;
    }
    return make_text_reference(ValueType::STRING, a.data() + (first - 1), last + 1 - first);
  }
  std::unique_ptr<TypedReference> character(uint32_t index) const override {
    return slice(index, index);
  }
};

class StringReference final : public TextReference {
 public:
  StringReference(ValueType type, void* address, uint32_t size)
      : TextReference(type, address, size) {}

  std::span<uint8_t> text() const override { return {bytes(), size_}; }
  std::span<uint8_t> area() const override { return text(); }
  void pop_string() override {
    string_stack().pop_to_string(reinterpret_cast<char*>(bytes()), size_);
  }
  void clear(int direction) override {
    std::memset(bytes(), direction == 0 ? ' ' : (direction > 0 ? 0xFF : 0x00), size_);
  }

 protected:
  std::unique_ptr<TypedReference> rebind(void* address) const override {
    return std::make_unique<StringReference>(type_, address, size_);
  }
};

class CstringReference final : public TextReference {
 public:
  CstringReference(void* address, uint32_t size)
      : TextReference(ValueType::CSTRING, address, size) {}

  // Up to the first NUL; a buffer without one is text to its end.
  std::span<uint8_t> text() const override {
    uint8_t* b = bytes();
    const void* nul = std::memchr(b, 0, size_);
    return {b,
            nul == nullptr ? size_ : static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - b)};
  }
  std::span<uint8_t> area() const override { return {bytes(), size_ == 0 ? 0 : size_ - 1}; }
  void pop_string() override {
    string_stack().pop_to_cstring(reinterpret_cast<char*>(bytes()), size_);
  }
  void clear(int direction) override {
    if (size_ == 0) return;
    uint8_t* b = bytes();
    std::memset(b, direction > 0 ? 0xFF : 0x00, size_ - 1);
    b[size_ - 1] = 0;
  }

 protected:
  std::span<const uint8_t> stored_bytes() const override {
    // The text and its NUL.
    const std::span<uint8_t> t = text();
    return {t.data(), std::min<size_t>(t.size() + 1, size_)};
  }
  std::unique_ptr<TypedReference> rebind(void* address) const override {
    return std::make_unique<CstringReference>(address, size_);
  }
};

class PstringReference final : public TextReference {
 public:
  PstringReference(void* address, uint32_t size)
      : TextReference(ValueType::PSTRING, address, size) {}

  // A length byte beyond the buffer counts only as far as the buffer goes.
  std::span<uint8_t> text() const override {
    if (size_ == 0) return {};
    const std::span<uint8_t> a = area();
    return a.first(std::min<size_t>(bytes()[0], a.size()));
  }
  std::span<uint8_t> area() const override {
    return {bytes() + 1, size_ == 0 ? 0 : std::min<uint32_t>(size_ - 1, 255)};
  }
  // The length byte counts at most 255 characters, whatever the declared size.
  void pop_string() override {
    string_stack().pop_to_pstring(bytes(), std::min<uint32_t>(size_, 256));
  }
  void clear(int direction) override {
    if (size_ == 0) return;
    const std::span<uint8_t> a = area();
    std::memset(a.data(), direction == 0 ? ' ' : (direction > 0 ? 0xFF : 0x00), a.size());
    bytes()[0] = direction == 0 ? 0 : static_cast<uint8_t>(a.size());
  }

 protected:
  std::span<const uint8_t> stored_bytes() const override {
    // The length byte and the text.
    return {bytes(), size_ == 0 ? 0 : text().size() + 1};
  }
  std::unique_ptr<TypedReference> rebind(void* address) const override {
    return std::make_unique<PstringReference>(address, size_);
  }
};

}  // namespace

std::unique_ptr<TypedReference> make_text_reference(ValueType type, void* address, uint32_t size) {
  switch (type) {
    case ValueType::CSTRING:
      return std::make_unique<CstringReference>(address, size);
    case ValueType::PSTRING:
      return std::make_unique<PstringReference>(address, size);
    default:
      return std::make_unique<StringReference>(type, address, size);
  }
}

}  // namespace vtn::detail
