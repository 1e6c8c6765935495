// vtn::String<N>: the language's STRING(N) as a C++ type, so that records and procedures written
// in C++ read like their declarations. It is exactly N bytes (records can embed it and keep their
// layout), always blank-padded, and compares as if both sides were padded with blanks, through the
// locale's collation table: trailing blanks never matter.
//
// Stores follow the STRING store of the run-time (the first N bytes, then blanks); numbers go
// in and out through the StringStack, and a string result that a run-time function left on the
// StringStack (a StackedString) is popped straight into the field:
//
//   String<40> name = "Field";         name.view()     -> "Field" and 35 blanks
//   name == "Field   "                 -> true
//   name = StackedString{};            pops the top of the StringStack into name
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/values/char_tables.hpp"
#include "runtime/values/conversions.hpp"
#include "runtime/values/string_stack.hpp"
#include "runtime/values/typed_reference.hpp"

namespace vtn {

// A string result lying on top of the StringStack: the function that returns it has pushed it,
// and whoever receives it pops it (into a String<N>, or as text with take()).
class [[nodiscard]] StackedString {
 public:
  StackedString() = default;
  std::string take() const { return string_stack().pop_string(); }
};

template <size_t N>
class String {
  static_assert(N > 0, "a STRING holds at least one character");

 public:
  String() { std::memset(bytes_, ' ', N); }
  String(std::string_view text) { store(text); }  // NOLINT: a text literal reads as the field
  String(const char* text) { store(text); }       // NOLINT
  template <size_t M>
  String(const String<M>& other) {
    store(other.view());
  }

  String& operator=(std::string_view text) {
    store(text);
    return *this;
  }
  String& operator=(const char* text) {
    store(text);
    return *this;
  }
  template <size_t M>
  String& operator=(const String<M>& other) {
    store(other.view());
    return *this;
  }
  String& operator=(StackedString) {
    pop();
    return *this;
  }

  static constexpr size_t size() { return N; }
  char* data() { return bytes_; }
  const char* data() const { return bytes_; }
  // All N bytes, trailing blanks included.
  std::string_view view() const { return {bytes_, N}; }
  // Without the trailing blanks.
  std::string_view clipped() const {
    size_t n = N;
    while (n > 0 && bytes_[n - 1] == ' ') --n;
    return {bytes_, n};
  }

  // Numbers, as the STRING store and reads of the run-time convert them ("12", "1.5"; text that
  // is not a number reads as 0).
  void set_long(int32_t value) {
    string_stack().push_long(value);
    pop();
  }
  void set_real(double value) {
    string_stack().push_real(value);
    pop();
  }
  int32_t to_long() const { return text_to_long(view()); }
  double to_real() const { return text_to_real(view()); }

  // Blanks (direction 0), bytes 0xFF (positive) or 0x00 (negative).
  void clear(int direction = 0) {
    std::memset(bytes_, direction == 0 ? ' ' : (direction > 0 ? 0xFF : 0x00), N);
  }
  bool is_blank() const { return clipped().empty(); }

  // The StringStack: push the field (borrowed), pop the top into it.
  void push() const { string_stack().push_borrowed(bytes_, N); }
  void pop() { string_stack().pop_to_string(bytes_, N); }

  // A typed reference to the field, for generic code.
  std::unique_ptr<TypedReference> reference() {
    return make_typed_reference(ValueType::STRING, bytes_, N);
  }

  template <size_t M>
  friend bool operator==(const String& a, const String<M>& b) {
    return collated_compare(a.view(), b.view()) == 0;
  }
  friend bool operator==(const String& a, std::string_view b) {
    return collated_compare(a.view(), b) == 0;
  }
  template <size_t M>
  friend std::weak_ordering operator<=>(const String& a, const String<M>& b) {
    return collated_compare(a.view(), b.view()) <=> 0;
  }
  friend std::weak_ordering operator<=>(const String& a, std::string_view b) {
    return collated_compare(a.view(), b) <=> 0;
  }

 private:
  void store(std::string_view text) {
    const size_t n = text.size() < N ? text.size() : N;
    if (n != 0) std::memmove(bytes_, text.data(), n);
    std::memset(bytes_ + n, ' ', N - n);
  }

  char bytes_[N];
};

}  // namespace vtn
