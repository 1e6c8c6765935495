// Finding one text inside another: the byte searches under INSTRING.
//
// The forward search tests sixteen positions at a time for the needle's first and last byte and
// compares the rest only where both agree, which on prose rules out nearly every position at the
// cost of two vector compares. Texts built to defeat that filter (a needle like "aaaab" in a run
// of "a") would make it quadratic: after too many false candidates the search hands the rest of
// the text to the C library's linear-time memmem.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace vtn {

// The search for needles of two bytes and more.
size_t find_forward_long(std::string_view needle, std::string_view text, size_t from);

// The first position p >= from at which `needle` occurs in `text`, else npos.
// REQUIRES: needle is not empty.
inline size_t find_forward(std::string_view needle, std::string_view text, size_t from) {
  const size_t m = needle.size();
  if (m > text.size() || from > text.size() - m) return std::string_view::npos;
  if (m > 1) return find_forward_long(needle, text, from);
  const void* hit = std::memchr(text.data() + from, needle[0], text.size() - from);
  return hit == nullptr ? std::string_view::npos
                        : static_cast<size_t>(static_cast<const char*>(hit) - text.data());
}

// The last position p <= from at which `needle` occurs in `text`, else npos.
// REQUIRES: needle is not empty.
size_t find_backward(std::string_view needle, std::string_view text, size_t from);

}  // namespace vtn
