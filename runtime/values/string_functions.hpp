// The string functions of the run-time: CLIP, LEFT, RIGHT, CENTER, SUB, INSTRING, UPPER, LOWER,
// NUMERIC, INLIST, the case-insensitive comparison and the truth value of a text.
//
// Each function has two faces. The upper-case functions are the run-time's own: they take their
// texts from the StringStack (the first argument on top) and leave a text result on top of it, or
// pop their arguments and return a number. A text result is made in place where it can be: a
// borrowed or inline entry that only loses characters has its pointer and length moved, an owned
// entry has its bytes moved inside its buffer, and only a result that needs new bytes (padding,
// case mapping of text owned elsewhere) gets a buffer of its own.
//
// The lower-case functions are the same operations for C++ callers, over string views.
//
// Lengths and positions are clamped, never reported: a negative length is 0, a start beyond the
// text gives an empty result. Case mapping and case-insensitive comparison read the locale's case
// tables; comparisons read its collation ranks.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "runtime/values/string_stack.hpp"

namespace vtn {

// ---- C++ face ----

// The text without trailing spaces.
std::string_view clip(std::string_view text);
// Without leading spaces, padded with spaces or cut to `length`.
std::string left(std::string_view text, int32_t length);
std::string left(std::string_view text);  // in the length the text has
// Without trailing spaces, right-aligned in `length`.
std::string right(std::string_view text, int32_t length);
std::string right(std::string_view text);
// Without leading and trailing spaces, centred in `length`; an odd space goes to the left, and a
// text that does not fit loses the odd character on the left (abc in 2 is bc).
std::string center(std::string_view text, int32_t length);
std::string center(std::string_view text);
// At most `length` characters from the 1-based `start`; 0 is the same as 1, a negative start counts
// from the end.
std::string_view sub(std::string_view text, int32_t start, int32_t length);
// Where `needle` occurs in `text` at or after the 1-based `start`, trying every `step`-th position
// (0: the length of `needle`), counted in steps: (0-based position / step) + 1, 0 when absent. A
// negative step searches backwards from `start` (see INSTRING). Inline, defined below.
inline int32_t instring(std::string_view needle, std::string_view text, int32_t step = 1,
                        int32_t start = 1);
std::string upper(std::string_view text);
std::string lower(std::string_view text);
// True when the text, without trailing spaces, is not empty and is one number as a whole.
bool numeric(std::string_view text);
// The 1-based position of the first item equal to `text` (blank-padded, collated), else 0.
int32_t inlist(std::string_view text, std::span<const std::string_view> items);
int32_t inlist(std::string_view text, std::initializer_list<std::string_view> items);
// Blank-padded comparison with case folding: negative, zero or positive.
int compare_nocase(std::string_view a, std::string_view b);
// A text used as a condition: true when it is not empty without its trailing spaces.
bool text_is_true(std::string_view text);

// ---- StringStack face ----
// REQUIRES: the stack holds the arguments the function takes.

void CLIP();
void LEFT();
void LEFT(int32_t length);
void RIGHT();
void RIGHT(int32_t length);
void CENTER();
void CENTER(int32_t length);
void SUB(int32_t start, int32_t length);
void UPPER();
void LOWER();

namespace detail {
// INSTRING over entries that are not yet narrow text, or a stack too shallow.
int32_t instring_converting(int32_t step, int32_t start);
// instring with any step and start, and with step 1 from the first position.
int32_t instring_general(std::string_view needle, std::string_view text, int32_t step,
                         int32_t start);
int32_t instring_whole(std::string_view needle, std::string_view text);
}  // namespace detail

// The commonest call, every position from the first, has an entry of its own, without the tests
// of the step and the start.
inline int32_t instring(std::string_view needle, std::string_view text, int32_t step,
                        int32_t start) {
  if (step == 1 && start == 1) return detail::instring_whole(needle, text);
  return detail::instring_general(needle, text, step, start);
}

// Pop `needle` (top) and the text below it. Inline, so that a program's pushes and the pop meet
// in one place: two plain entries are read and dropped without a call, and the search gets the
// views. They are dropped first: a borrowed entry's bytes belong to someone else and an inline
// entry's stay in its slot until the next push, so the views outlive the drop.
inline int32_t INSTRING(int32_t step = 1, int32_t start = 1) {
  StringStack& stack = string_stack();
  std::string_view needle;
  std::string_view text;
  if (!stack.peek_two_plain(needle, text)) [[unlikely]] {
    return detail::instring_converting(step, start);
  }
  stack.drop_two();
  return instring(needle, text, step, start);
}

// Pops the text.
int32_t NUMERIC();
// Pops the text (top) and the `item_count` items below it, item 1 first.
int32_t INLIST(int item_count);
// Pops the two top entries (first argument on top) and compares them with case folding.
int compare_top_two_nocase();
// Pops the text and gives its truth value.
bool pop_condition();

}  // namespace vtn
