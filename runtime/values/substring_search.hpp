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
//
// Processors with the AVX-512 byte instructions read a short text of up to 64 bytes in one masked
// move, which touches no byte past its end, and test all its positions in one compare. Whether
// they are used is settled once, at start-up; the searches come in two instantiations, and each
// caller picks one with a single test of search_detail::wide_search before it starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "runtime/values/short_text_words.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VTN_WIDE_SEARCH 1
#define VTN_WIDE_SEARCH_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,bmi,bmi2")))
#else
#define VTN_WIDE_SEARCH 0
#define VTN_WIDE_SEARCH_TARGET
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

#if VTN_WIDE_SEARCH
// find_byte_short in one masked read of the n bytes at p (0 <= n <= kInlineScan), which reads
// nothing at or past p + n, and one compare of them all. Not always_inline: it is inlined once
// the generic code around it has been inlined into a VTN_WIDE_SEARCH_TARGET function (which
// should be [[gnu::flatten]]).
VTN_WIDE_SEARCH_TARGET inline size_t find_byte_wide(const char* p, size_t n, char c) {
  static_assert(kInlineScan == 64, "one masked read covers the whole short text");
  const __mmask64 live = _bzhi_u64(~uint64_t{0}, static_cast<unsigned>(n));
  const __m512i bytes = _mm512_maskz_loadu_epi8(live, p);
  const uint64_t mask = _mm512_mask_cmpeq_epi8_mask(live, bytes, _mm512_set1_epi8(c));
  return mask == 0 ? std::string_view::npos : static_cast<size_t>(_tzcnt_u64(mask));
}
#endif

// find_byte_short or find_byte_wide. REQUIRES: 1 <= n <= kInlineScan.
template <bool kWide>
[[gnu::always_inline]] inline size_t find_byte(const char* p, size_t n, char c) {
#if VTN_WIDE_SEARCH
  if constexpr (kWide) return find_byte_wide(p, n, c);
#endif
  return find_byte_short(p, n, c);
}

// True when the processor has the AVX-512 byte instructions (and the tests have not turned them
// off): callers then run the searches' wide instantiation. Set once, when the program starts;
// before that it is false, which is always safe.
extern bool wide_search;

// For tests: whether the searches use the AVX-512 byte instructions (only where the processor has
// them) or sixteen bytes at a time; returns the former setting.
bool use_wide_search(bool wide);

}  // namespace search_detail

// What find_forward does not do inline: a one-byte needle in a long text, and every longer
// needle; the wide one only where wide_search is true. REQUIRES: 1 <= needle size,
// from + needle size <= text size.
size_t find_forward_rest(std::string_view needle, std::string_view text, size_t from);
size_t find_forward_rest_wide(std::string_view needle, std::string_view text, size_t from);
// The same as INSTRING's result, the 1-based position (cut to 32 bits) or 0, so that INSTRING
// reaches them in a tail call; unlike those, they take any `from` (past the last place the
// needle fits gives 0). REQUIRES: 1 <= needle size <= text size.
int32_t instring_rest(std::string_view needle, std::string_view text, size_t from);
int32_t instring_rest_wide(std::string_view needle, std::string_view text, size_t from);

// The first position p >= from at which `needle` occurs in `text`, else npos: the bounds and a
// one-byte needle in a short text inline, the rest out of line. The wide instantiation may be
// called only from a VTN_WIDE_SEARCH_TARGET function that is [[gnu::flatten]], and only where
// search_detail::wide_search is true.
// REQUIRES: needle is not empty.
template <bool kWide>
[[gnu::always_inline]] inline size_t find_forward(std::string_view needle, std::string_view text,
                                                  size_t from) {
  const size_t m = needle.size();
  if (m > text.size() || from > text.size() - m) return std::string_view::npos;
  const size_t n = text.size() - from;
  if (m == 1 && n <= search_detail::kInlineScan) {
    const size_t found = search_detail::find_byte<kWide>(text.data() + from, n, needle[0]);
    return found == std::string_view::npos ? found : from + found;
  }
  return kWide ? find_forward_rest_wide(needle, text, from) : find_forward_rest(needle, text, from);
}

// The last position p <= from at which `needle` occurs in `text`, else npos.
// REQUIRES: needle is not empty.
size_t find_backward(std::string_view needle, std::string_view text, size_t from);

}  // namespace vtn
