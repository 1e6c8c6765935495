#include "runtime/values/string_functions.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/values/char_tables.hpp"
#include "runtime/values/conversions.hpp"
#include "runtime/values/string_stack.hpp"
#include "runtime/values/substring_search.hpp"

namespace vtn {
namespace {

// NUMERIC reads the text as a REAL, which takes at most this many characters.
constexpr size_t kNumericLimit = 39;

size_t clipped_length(std::string_view text) {
  size_t n = text.size();
  while (n > 0 && text[n - 1] == ' ') --n;
  return n;
}

size_t leading_spaces(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  return i;
}

uint32_t clamp_length(int32_t length) {
  return length < 0 ? 0u : static_cast<uint32_t>(length);
}

// The shape of a result made from one text: `pad_left` spaces, the characters
// [keep_from, keep_from + keep_count) of the text, then `pad_right` spaces. Every function that
// moves, cuts or pads a text describes its result this way, so that the stack face can make it in
// place and the C++ face can build it as a copy.
struct Layout {
  size_t keep_from = 0;
  size_t keep_count = 0;
  size_t pad_left = 0;
  size_t pad_right = 0;

  size_t size() const { return pad_left + keep_count + pad_right; }
};

Layout clip_layout(std::string_view text) {
  return {0, clipped_length(text), 0, 0};
}

Layout left_layout(std::string_view text, uint32_t length) {
  const size_t from = leading_spaces(text);
  const size_t keep = std::min<size_t>(text.size() - from, length);
  return {from, keep, 0, length - keep};
}

// The text is thought of as extended with spaces to `length` first, which changes nothing once
// the trailing spaces are gone.
Layout right_layout(std::string_view text, uint32_t length) {
  const size_t t = clipped_length(text);
  if (length >= t) return {0, t, length - t, 0};
  return {t - length, length, 0, 0};
}

Layout center_layout(std::string_view text, uint32_t length) {
  const size_t end = clipped_length(text);
  const size_t from = std::min(leading_spaces(text), end);
  const size_t t = end - from;
  if (length > t) {
    const size_t p = length - t;
    const size_t left = (p + 1) / 2;
    return {from, t, left, p - left};
  }
  // Cut to the length: (1 - p) / 2 characters go at the left, with p = length - t <= 0.
  const size_t drop_left = (t - length + 1) / 2;
  return {from + drop_left, length, 0, 0};
}

Layout sub_layout(std::string_view text, int32_t start, int32_t length) {
  const int64_t size = static_cast<int64_t>(text.size());
  int64_t position = 0;
  if (start < 0) {
    position = std::max<int64_t>(start + size, 0);
  } else if (start > 0) {
    position = std::min<int64_t>(start - 1, size);
  }
  const int64_t count = std::min<int64_t>(std::max<int32_t>(length, 0), size - position);
  return {static_cast<size_t>(position), static_cast<size_t>(count), 0, 0};
}

// A result longer than its text must stay within the longest text the run-time makes; anything
// beyond is the memory error, and the result is empty if that returns.
bool result_allowed(std::string_view text, const Layout& layout) {
  return layout.size() <= text.size() || StringStack::text_length_allowed(layout.size());
}

std::string build(std::string_view text, const Layout& layout) {
  if (!result_allowed(text, layout)) return {};
  std::string result(layout.pad_left, ' ');
  result.append(text.substr(layout.keep_from, layout.keep_count));
  result.append(layout.pad_right, ' ');
  return result;
}

bool can_move_pointer(const StackEntry& e) {
  return e.kind == StackEntryKind::kBorrowed || e.kind == StackEntryKind::kInline;
}

// Makes the top entry of the stack into the layout's result, in place where possible.
void apply_to_top(const Layout& layout) {
  StringStack& stack = string_stack();
  StackEntry& e = stack.entry(1);
  const size_t size = layout.size();
  if (layout.pad_left == 0 && layout.pad_right == 0) {
    if (can_move_pointer(e)) {
      e.text += layout.keep_from;
    } else if (layout.keep_from != 0 && layout.keep_count != 0) {
      std::memmove(e.text, e.text + layout.keep_from, layout.keep_count);
    }
    e.length = static_cast<uint32_t>(layout.keep_count);
    return;
  }
  // Padding writes bytes: an owned buffer that is large enough is reused, anything else is first
  // copied into a buffer of the stack's own.
  char* buffer = nullptr;
  if (e.kind == StackEntryKind::kOwned && size <= e.length) {
    buffer = e.text;
  } else if (result_allowed(e.view(), layout)) {
    buffer = stack.make_writable(static_cast<uint32_t>(size));
  }
  if (buffer == nullptr) {
    e.length = 0;  // refused by the memory error, which returned
    return;
  }
  if (layout.keep_count != 0 && layout.keep_from != layout.pad_left) {
    std::memmove(buffer + layout.pad_left, buffer + layout.keep_from, layout.keep_count);
  }
  std::memset(buffer, ' ', layout.pad_left);
  std::memset(buffer + layout.pad_left + layout.keep_count, ' ', layout.pad_right);
  e.length = static_cast<uint32_t>(size);
}

uint32_t top_length() {
  return string_stack().entry(1).length;
}

int32_t in_steps(size_t position, int64_t step) {
  return static_cast<int32_t>(static_cast<int64_t>(position) / step + 1);
}

template <typename Map>
void map_top(Map map) {
  StringStack& stack = string_stack();
  StackEntry& e = stack.entry(1);
  // Text that someone else owns is never changed: the mapping works on a private copy.
  char* buffer = e.kind == StackEntryKind::kOwned ? e.text : stack.make_writable(e.length);
  if (buffer == nullptr) {
    e.length = 0;  // no buffer to be had, and the memory error returned
    return;
  }
  map(buffer, e.length);
}

}  // namespace

// ---- C++ face ----

std::string_view clip(std::string_view text) {
  return text.substr(0, clipped_length(text));
}

std::string left(std::string_view text, int32_t length) {
  return build(text, left_layout(text, clamp_length(length)));
}
std::string left(std::string_view text) {
  return build(text, left_layout(text, static_cast<uint32_t>(text.size())));
}

std::string right(std::string_view text, int32_t length) {
  return build(text, right_layout(text, clamp_length(length)));
}
std::string right(std::string_view text) {
  return build(text, right_layout(text, static_cast<uint32_t>(text.size())));
}

std::string center(std::string_view text, int32_t length) {
  return build(text, center_layout(text, clamp_length(length)));
}
std::string center(std::string_view text) {
  return build(text, center_layout(text, static_cast<uint32_t>(text.size())));
}

std::string_view sub(std::string_view text, int32_t start, int32_t length) {
  const Layout layout = sub_layout(text, start, length);
  return text.substr(layout.keep_from, layout.keep_count);
}

namespace {

// INSTRING with a step other than 1: the candidates are start - 1, start - 1 + step, ... (or
// downwards for a negative step), found by jumping from occurrence to occurrence.
template <bool kWide>
[[gnu::always_inline]] inline int32_t stepped_search(std::string_view needle, std::string_view text,
                                                     int32_t step, int32_t start) {
  const size_t m = needle.size();
  const int64_t stride = step == 0 ? static_cast<int64_t>(m) : step;
  const size_t from = static_cast<size_t>(start) - 1;
  const size_t last = text.size() - m;  // the last position the needle fits at
  if (stride < 0) {
    // Backwards: the candidates are start - 1, start - 1 - |step|, ... down to the first
    // position; those where the needle would run past the end are passed over. Each occurrence
    // found on the way that is no candidate moves the search to the next candidate below it.
    const auto back = static_cast<size_t>(-stride);
    size_t candidate = from;
    if (candidate > last) candidate -= (candidate - last + back - 1) / back * back;
    if (candidate > last) return 0;  // wrapped below the first position
    for (size_t pos = candidate;;) {
      const size_t found = find_backward(needle, text, pos);
      if (found == std::string_view::npos) return 0;
      const size_t off = (candidate - found) % back;
      if (off == 0) return in_steps(found, static_cast<int64_t>(back));
      if (found < back - off) return 0;
      pos = found - (back - off);
    }
  }
  // Forwards: the candidates are start - 1, start - 1 + step, ...
  const auto forward = static_cast<size_t>(stride);
  for (size_t pos = from; pos <= last;) {
    const size_t found = find_forward<kWide>(needle, text, pos);
    if (found == std::string_view::npos) return 0;
    const size_t off = (found - from) % forward;
    if (off == 0) return in_steps(found, stride);
    pos = found + (forward - off);
  }
  return 0;
}

[[gnu::noinline]] int32_t instring_stepped(std::string_view needle, std::string_view text,
                                           int32_t step, int32_t start) {
  return stepped_search<false>(needle, text, step, start);
}

[[gnu::noinline, gnu::flatten]] VTN_WIDE_SEARCH_TARGET int32_t
instring_stepped_wide(std::string_view needle, std::string_view text, int32_t step, int32_t start) {
  return stepped_search<true>(needle, text, step, start);
}

// Inline in both faces of INSTRING, in both instantiations of the searches. A one-byte needle in
// a short text, the commonest search of all, runs without a call; everything else ends in a
// tail call, so that the path needs no frame.
template <bool kWide>
[[gnu::always_inline]] inline int32_t instring_inline(std::string_view needle,
                                                      std::string_view text, int32_t step,
                                                      int32_t start) {
  const size_t m = needle.size();
  if (m - 1 >= text.size() || start < 1) return 0;  // m - 1 wraps for an empty needle
  const size_t from = static_cast<size_t>(start) - 1;
  if (step == 1 || (step == 0 && m == 1)) [[likely]] {
    // Every position in turn, without the stepping machinery.
    const size_t rest = text.size() - from;  // wraps when start lies past the end
    if (m == 1 && rest - 1 < search_detail::kInlineScan) {
      const size_t found = search_detail::find_byte<kWide>(text.data() + from, rest, needle[0]);
      return found == std::string_view::npos ? 0 : static_cast<int32_t>(from + found + 1);
    }
    return kWide ? instring_rest_wide(needle, text, from) : instring_rest(needle, text, from);
  }
  return kWide ? instring_stepped_wide(needle, text, step, start)
               : instring_stepped(needle, text, step, start);
}

[[gnu::noinline, gnu::flatten]] VTN_WIDE_SEARCH_TARGET int32_t
instring_wide(std::string_view needle, std::string_view text, int32_t step, int32_t start) {
  return instring_inline<true>(needle, text, step, start);
}

// Step 1 from the first position: the tests of the step and the start fold away.
[[gnu::noinline, gnu::flatten]] VTN_WIDE_SEARCH_TARGET int32_t
instring_whole_wide(std::string_view needle, std::string_view text) {
  return instring_inline<true>(needle, text, 1, 1);
}

}  // namespace

namespace detail {

int32_t instring_general(std::string_view needle, std::string_view text, int32_t step,
                         int32_t start) {
  if (search_detail::wide_search) [[likely]]
    return instring_wide(needle, text, step, start);
  return instring_inline<false>(needle, text, step, start);
}

int32_t instring_whole(std::string_view needle, std::string_view text) {
  if (search_detail::wide_search) [[likely]]
    return instring_whole_wide(needle, text);
  return instring_inline<false>(needle, text, 1, 1);
}

}  // namespace detail

std::string upper(std::string_view text) {
  std::string result(text);
  to_upper(result.data(), result.size());
  return result;
}

std::string lower(std::string_view text) {
  std::string result(text);
  to_lower(result.data(), result.size());
  return result;
}

bool numeric(std::string_view text) {
  const std::string_view clipped = clip(text);
  if (clipped.empty() || clipped.size() > kNumericLimit) return false;
  size_t used = 0;
  text_to_real_prefix(clipped, &used);
  return used == clipped.size();
}

int32_t inlist(std::string_view text, std::span<const std::string_view> items) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (collated_compare(text, items[i]) == 0) return static_cast<int32_t>(i + 1);
  }
  return 0;
}

int32_t inlist(std::string_view text, std::initializer_list<std::string_view> items) {
  return inlist(text, std::span<const std::string_view>(items.begin(), items.size()));
}

int compare_nocase(std::string_view a, std::string_view b) {
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const uint8_t ca = to_upper_char(i < a.size() ? static_cast<uint8_t>(a[i]) : ' ');
    const uint8_t cb = to_upper_char(i < b.size() ? static_cast<uint8_t>(b[i]) : ' ');
    if (ca != cb) return compare_char_rank(ca, cb);
  }
  return 0;
}

bool text_is_true(std::string_view text) {
  return clipped_length(text) != 0;
}

// ---- StringStack face ----

void CLIP() {
  apply_to_top(clip_layout(string_stack().peek()));
}

void LEFT() {
  LEFT(static_cast<int32_t>(top_length()));
}
void LEFT(int32_t length) {
  apply_to_top(left_layout(string_stack().peek(), clamp_length(length)));
}

void RIGHT() {
  RIGHT(static_cast<int32_t>(top_length()));
}
void RIGHT(int32_t length) {
  apply_to_top(right_layout(string_stack().peek(), clamp_length(length)));
}

void CENTER() {
  CENTER(static_cast<int32_t>(top_length()));
}
void CENTER(int32_t length) {
  apply_to_top(center_layout(string_stack().peek(), clamp_length(length)));
}

void SUB(int32_t start, int32_t length) {
  apply_to_top(sub_layout(string_stack().peek(), start, length));
}

void UPPER() {
  map_top([](char* text, uint32_t n) { to_upper(text, n); });
}
void LOWER() {
  map_top([](char* text, uint32_t n) { to_lower(text, n); });
}

namespace detail {

int32_t instring_converting(int32_t step, int32_t start) {
  StringStack& stack = string_stack();
  const int32_t result = instring(stack.peek(1), stack.peek(2), step, start);
  stack.release_two();
  return result;
}

}  // namespace detail

int32_t NUMERIC() {
  StringStack& stack = string_stack();
  const bool result = numeric(stack.peek());
  stack.release();
  return result ? 1 : 0;
}

int32_t INLIST(int item_count) {
  StringStack& stack = string_stack();
  int32_t result = 0;
  const std::string_view text = stack.peek(1);
  for (int i = 1; i <= item_count && result == 0; ++i) {
    if (collated_compare(text, stack.peek(i + 1)) == 0) result = i;
  }
  for (int i = 0; i <= item_count; ++i) stack.release();
  return result;
}

int compare_top_two_nocase() {
  StringStack& stack = string_stack();
  const int result = compare_nocase(stack.peek(1), stack.peek(2));
  stack.release_two();
  return result;
}

bool pop_condition() {
  StringStack& stack = string_stack();
  const bool result = text_is_true(stack.peek());
  stack.release();
  return result;
}

}  // namespace vtn
