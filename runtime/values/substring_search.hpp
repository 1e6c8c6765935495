// Finding one text inside another: the byte searches under INSTRING.
//
// The forward search tests sixteen positions at a time for the needle's first and last byte and
// compares the rest only where both agree, which on prose rules out nearly every position at the
// cost of two vector compares. Texts built to defeat that filter (a needle like "aaaab" in a run
// of "a") would make it quadratic: after too many false candidates the search hands the rest of
// the text to the C library's linear-time memmem.
//
// A one-byte needle in a short text, the commonest INSTRING of all, is found inline: sixteen
// bytes per compare, and a text shorter than that read as overlapping words, never past its end.
// A longer text goes to the C library's memchr, whose wide loops win once the call has paid for
// itself. Short needles in short texts take a search without the budget for false candidates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "runtime/values/short_text_words.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vtn {

namespace search_detail {

// Texts of up to this many bytes are scanned inline for a one-byte needle.
constexpr size_t kInlineScan = 64;

#if defined(__SSE2__)
// The n bytes at p (1 <= n <= 15) in lanes 0 to n - 1, zeros above; nothing past p + n is read.
inline __m128i load_short(const char* p, size_t n) {
  uint64_t low;
  uint64_t high;
  load_short_words(p, n, low, high);
  return _mm_set_epi64x(static_cast<int64_t>(high), static_cast<int64_t>(low));
}

inline uint32_t equal_lanes(__m128i bytes, __m128i key) {
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, key)));
}

#endif

// The first i < n with p[i] == c, else npos. REQUIRES: 1 <= n <= kInlineScan.
inline size_t find_byte_short(const char* p, size_t n, char c) {
#if defined(__SSE2__)
  const __m128i key = _mm_set1_epi8(c);
  if (n < 16) {
    const uint32_t mask = equal_lanes(load_short(p, n), key) & ((1u << n) - 1);
    return mask == 0 ? std::string_view::npos : static_cast<size_t>(__builtin_ctz(mask));
  }
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const uint32_t mask =
        equal_lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), key);
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(mask));
  }
  if (i == n) return std::string_view::npos;
  // The last sixteen bytes; the ones before i held no match.
  const uint32_t mask =
      equal_lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16)), key);
  return mask == 0 ? std::string_view::npos : n - 16 + static_cast<size_t>(__builtin_ctz(mask));
#else
  const void* hit = std::memchr(p, c, n);
  return hit == nullptr ? std::string_view::npos
                        : static_cast<size_t>(static_cast<const char*>(hit) - p);
#endif
}

// For tests: whether the search for short needles in short texts reads the text in one masked
// move of the AVX-512 byte instructions (only where the processor has them) or sixteen bytes at a
// time; returns the former setting.
bool use_wide_short_search(bool wide);

}  // namespace search_detail

// The search for needles of two bytes and more.
size_t find_forward_long(std::string_view needle, std::string_view text, size_t from);

// The first position p >= from at which `needle` occurs in `text`, else npos.
// REQUIRES: needle is not empty.
inline size_t find_forward(std::string_view needle, std::string_view text, size_t from) {
  const size_t m = needle.size();
  if (m > text.size() || from > text.size() - m) return std::string_view::npos;
  if (m > 1) return find_forward_long(needle, text, from);
  const size_t n = text.size() - from;
  if (n <= search_detail::kInlineScan) {
    const size_t found = search_detail::find_byte_short(text.data() + from, n, needle[0]);
    return found == std::string_view::npos ? found : from + found;
  }
  const void* hit = std::memchr(text.data() + from, needle[0], n);
  return hit == nullptr ? std::string_view::npos
                        : static_cast<size_t>(static_cast<const char*>(hit) - text.data());
}

// The last position p <= from at which `needle` occurs in `text`, else npos.
// REQUIRES: needle is not empty.
size_t find_backward(std::string_view needle, std::string_view text, size_t from);

}  // namespace vtn
