#include "runtime/values/string_stack.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>

#include "runtime/core/fatal_error.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/conversions.hpp"
#include "runtime/values/number_text.hpp"

namespace vtn {
namespace {

constexpr int32_t kStackCorruption = 501;
constexpr const char* kStackErrorText = "String Stack Error";
constexpr int32_t kOutOfMemory = 501;
constexpr const char* kOutOfMemoryText = "Out of memory in String Stack!";

// Every buffer of the stack comes from here. Null when the system could not supply it and the
// memory error returned.
char* new_buffer(uint64_t size) {
  char* buffer = new (std::nothrow) char[size == 0 ? 1 : size];
  if (buffer == nullptr) fatal_runtime_error(kOutOfMemory, kOutOfMemoryText);
  return buffer;
}

}  // namespace

bool StringStack::text_length_allowed(uint64_t length) {
  if (length <= kMaxTextLength) return true;
  fatal_runtime_error(kOutOfMemory, kOutOfMemoryText);
  return false;
}

StringStack::~StringStack() {
  clear();
}

StackEntry& StringStack::top_checked() {
  if (top_ == 0) {
    fatal_runtime_error(kStackCorruption, kStackErrorText);
    // Only reached after the program procedure has returned: hand out an empty entry.
    top_ = kEntrySize;
    entries_[0] = StackEntry{};
  }
  return at(top_ - kEntrySize);
}

void StringStack::push_owned(std::unique_ptr<char[]> buffer, uint32_t length) {
  if (StackEntry* e = push_slot()) {
    e->kind = StackEntryKind::kOwned;
    e->length = buffer ? length : 0;
    e->text = buffer ? buffer.release() : new_buffer(0);
  }
}

void StringStack::push_copy(std::string_view text) {
  auto buffer = std::unique_ptr<char[]>(new_buffer(text.size()));
  if (buffer && !text.empty()) std::memcpy(buffer.get(), text.data(), text.size());
  push_owned(std::move(buffer), static_cast<uint32_t>(text.size()));
}

// Numbers are written straight into the entry: a LONG takes at most 11 characters and a REAL at
// most kRealTextLimit, both within the inline room.
static_assert(kRealTextLimit <= StackEntry::kInlineCapacity);

void StringStack::push_long(int32_t value) {
  if (StackEntry* e = push_slot()) {
    char* const first = e->inline_text;
    const auto written = std::to_chars(first, first + StackEntry::kInlineCapacity, value);
    e->kind = StackEntryKind::kInline;
    e->length = static_cast<uint32_t>(written.ptr - first);
    e->text = first;
  }
}

void StringStack::push_real(double value) {
  if (StackEntry* e = push_slot()) {
    e->kind = StackEntryKind::kInline;
    e->length = static_cast<uint32_t>(real_to_chars(value, e->inline_text));
    e->text = e->inline_text;
  }
}

void StringStack::push_wide(std::u16string text, bool owned) {
  if (StackEntry* e = push_slot()) {
    e->kind = owned ? StackEntryKind::kWideOwned : StackEntryKind::kWideBorrowed;
    e->ole = std::make_unique<StackOleValue>();
    e->ole->wide = std::move(text);
  }
}

void StringStack::push_variant(StackVariant value, bool owned) {
  if (StackEntry* e = push_slot()) {
    e->kind = owned ? StackEntryKind::kVariantOwned : StackEntryKind::kVariantBorrowed;
    e->ole = std::make_unique<StackOleValue>();
    e->ole->variant = std::move(value);
  }
}

void StringStack::push_object() {
  if (StackEntry* e = push_slot()) e->kind = StackEntryKind::kObject;
}

void StringStack::to_narrow(StackEntry& e) {
  std::string text;
  switch (e.kind) {
    case StackEntryKind::kBorrowed:
    case StackEntryKind::kOwned:
    case StackEntryKind::kInline:
      return;
    case StackEntryKind::kWideOwned:
    case StackEntryKind::kWideBorrowed:
      text = platform::wide_to_ansi(e.ole->wide);
      break;
    case StackEntryKind::kVariantOwned:
    case StackEntryKind::kVariantBorrowed:
      if (const auto* i = std::get_if<int32_t>(&e.ole->variant)) text = long_to_text(*i);
      if (const auto* d = std::get_if<double>(&e.ole->variant)) text = real_to_text(*d);
      if (const auto* s = std::get_if<std::u16string>(&e.ole->variant))
        text = platform::wide_to_ansi(*s);
      break;
    case StackEntryKind::kObject:
      break;
  }
  e.ole.reset();
  if (text.empty()) {
    e.kind = StackEntryKind::kBorrowed;
    e.text = nullptr;
    e.length = 0;
    return;
  }
  char* buffer = new_buffer(text.size());
  if (buffer == nullptr) {
    e.kind = StackEntryKind::kBorrowed;
    e.text = nullptr;
    e.length = 0;
    return;
  }
  e.kind = StackEntryKind::kOwned;
  e.text = buffer;
  std::memcpy(e.text, text.data(), text.size());
  e.length = static_cast<uint32_t>(text.size());
}

StackEntry& StringStack::entry_checked(int n) {
  if (n < 1 || n > depth()) {
    fatal_runtime_error(kStackCorruption, kStackErrorText);
    return top_checked();
  }
  StackEntry& e = at(top_ - static_cast<size_t>(n) * kEntrySize);
  to_narrow(e);
  return e;
}

char* StringStack::make_writable(uint32_t capacity) {
  StackEntry& e = entry(1);
  capacity = std::max(capacity, e.length);
  char* buffer = new_buffer(capacity);
  if (buffer == nullptr) return nullptr;
  if (e.length != 0) std::memcpy(buffer, e.text, e.length);
  free_entry(e);
  e.kind = StackEntryKind::kOwned;
  e.text = buffer;
  return buffer;
}

void StringStack::free_entry(StackEntry& e) {
  if (e.kind == StackEntryKind::kOwned) delete[] e.text;
  e.text = nullptr;
  e.ole.reset();
}

void StringStack::release_checked() {
  StackEntry& e = top_checked();
  free_entry(e);
  e.length = 0;
  top_ -= kEntrySize;
}

std::string StringStack::pop_string() {
  std::string text(entry(1).view());
  release();
  return text;
}

void StringStack::pop_to_string(char* buffer, uint32_t size) {
  const StackEntry& e = entry(1);
  const uint32_t n = std::min(e.length, size);
  if (n != 0) std::memmove(buffer, e.text, n);
  std::memset(buffer + n, ' ', size - n);
  release();
}

void StringStack::pop_to_cstring(char* buffer, uint32_t size) {
  const StackEntry& e = entry(1);
  if (size != 0) {
    const uint32_t n = std::min(e.length, size - 1);
    if (n != 0) std::memmove(buffer, e.text, n);
    buffer[n] = '\0';
  }
  release();
}

void StringStack::pop_to_pstring(uint8_t* buffer, uint32_t size) {
  const StackEntry& e = entry(1);
  if (size != 0) {
    // The length byte holds at most 255, whatever the declared size.
    const uint32_t n = std::min({e.length, size - 1, 255u});
    if (n != 0) std::memmove(buffer + 1, e.text, n);
    buffer[0] = static_cast<uint8_t>(n);
  }
  release();
}

double StringStack::pop_real() {
  const double value = text_to_real(entry(1).view());
  release();
  return value;
}

int32_t StringStack::pop_long() {
  const int32_t value = text_to_long(entry(1).view());
  release();
  return value;
}

int StringStack::compare_top_two() {
  const std::string_view first = entry(1).view();
  const std::string_view second = entry(2).view();
  const int result = collated_compare(first, second);
  release_two();
  return result;
}

std::unique_ptr<StringStack::SavedStack> StringStack::save() {
  if (top_ == 0) return nullptr;
  auto saved = std::make_unique<SavedStack>();
  saved->depth = depth();
  for (int i = 0; i < saved->depth; ++i) {
    StackEntry& e = entries_[i];
    StackEntry& s = saved->entries[i];
    const bool is_inline = e.kind == StackEntryKind::kInline;
    const ptrdiff_t inline_offset = is_inline ? e.text - e.inline_text : 0;
    s = std::move(e);
    if (is_inline) s.text = s.inline_text + inline_offset;
    e = StackEntry{};
  }
  top_ = 0;
  return saved;
}

void StringStack::restore(std::unique_ptr<SavedStack> saved) {
  clear();
  if (!saved) return;
  top_ = static_cast<size_t>(saved->depth) * kEntrySize;
  for (int i = 0; i < saved->depth; ++i) {
    StackEntry& e = entries_[i];
    StackEntry& s = saved->entries[i];
    const bool is_inline = s.kind == StackEntryKind::kInline;
    const ptrdiff_t inline_offset = is_inline ? s.text - s.inline_text : 0;
    e = std::move(s);
    if (is_inline) e.text = e.inline_text + inline_offset;
    s.text = nullptr;
    s.kind = StackEntryKind::kBorrowed;
  }
}

void StringStack::clear() {
  while (top_ > 0) release();
}

constinit StringStack detail::process_string_stack;

}  // namespace vtn
