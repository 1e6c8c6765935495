#include "runtime/values/substring_search.hpp"

#include <string.h>  // memmem, memrchr

#include <cstdint>
#include <cstring>

namespace vtn {
namespace {

constexpr size_t npos = std::string_view::npos;

// The needle bytes that false candidates may cost before the linear search takes over: a fixed
// allowance plus one byte per 2 bytes scanned, so that the work stays linear in the text.
constexpr size_t kFalseCandidateAllowance = 4096;

// Needles of up to this many bytes are compared as two overlapping words.
constexpr size_t kWordNeedle = 16;

template <typename Word>
bool same_word(const char* a, const char* b) {
  Word x;
  Word y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  return x == y;
}

// Whether the needle occurs at `at`, its first and last byte already found equal.
// REQUIRES: 2 <= needle size <= kWordNeedle.
[[gnu::always_inline]] inline bool short_middle_matches(const char* at, std::string_view needle) {
  const size_t m = needle.size();
  const char* n = needle.data();
  if (m >= 8) return same_word<uint64_t>(at, n) && same_word<uint64_t>(at + m - 8, n + m - 8);
  if (m >= 4) return same_word<uint32_t>(at, n) && same_word<uint32_t>(at + m - 4, n + m - 4);
  return at[m / 2] == n[m / 2];  // two or three bytes: only the middle one is left
}

bool rest_matches(const char* at, std::string_view needle) {
  return std::memcmp(at + 1, needle.data() + 1, needle.size() - 1) == 0;
}

// The vector filter has already compared the first and the last byte.
bool middle_matches(const char* at, std::string_view needle) {
  const size_t m = needle.size();
  if (m <= kWordNeedle) return short_middle_matches(at, needle);
  return std::memcmp(at + 1, needle.data() + 1, m - 2) == 0;
}

// Out of line, so that the searches that call it need no frame of their own.
[[gnu::noinline]] size_t find_byte_long(std::string_view text, size_t from, char c) {
  const void* hit = std::memchr(text.data() + from, c, text.size() - from);
  return hit == nullptr ? npos : static_cast<size_t>(static_cast<const char*>(hit) - text.data());
}

size_t linear_search(std::string_view needle, std::string_view text, size_t from) {
  const void* hit = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
  return hit == nullptr ? npos : static_cast<size_t>(static_cast<const char*>(hit) - text.data());
}

#if defined(__SSE2__)

using search_detail::equal_lanes;
using search_detail::load_short;

// Bit i set when position block + i starts with the needle's first byte and has its last byte
// at the needle's length.
[[gnu::always_inline]] inline uint32_t candidates(const char* block, size_t last_offset,
                                                  __m128i first, __m128i last) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + last_offset));
  return equal_lanes(a, first) & equal_lanes(b, last);
}

// Sixteen positions from `pos` on, of which those at and after `positions` do not count: bit i
// set when position pos + i is a candidate. Where fewer than sixteen positions remain, the block
// moves back to end at the last one (`pos` with it), and its positions below the former `pos`,
// already seen, do not count either; a text too short for one block is read exactly.
[[gnu::always_inline]] inline uint32_t block_candidates(const char* s, size_t& pos,
                                                        size_t positions, size_t m, __m128i first,
                                                        __m128i last) {
  constexpr size_t kBlock = 16;
  if (pos + kBlock <= positions) return candidates(s + pos, m - 1, first, last);
  if (positions >= kBlock) {
    const size_t block = positions - kBlock;
    const size_t seen = pos - block;
    pos = block;
    return candidates(s + block, m - 1, first, last) & (~0u << seen);
  }
  const size_t count = positions - pos;
  return equal_lanes(load_short(s + pos, count), first) &
         equal_lanes(load_short(s + pos + m - 1, count), last) & ((1u << count) - 1);
}

// Short needles in texts of a few blocks, the common INSTRING: at most this many positions need no
// budget for false candidates, and the search calls nothing.
constexpr size_t kShortPositions = 64;

[[gnu::always_inline]] inline size_t short_search(std::string_view needle, std::string_view text,
                                                  size_t from) {
  const size_t m = needle.size();
  const size_t positions = text.size() - m + 1;
  const char* s = text.data();
  constexpr size_t kBlock = 16;
  const __m128i first = _mm_set1_epi8(needle[0]);
  const __m128i last = _mm_set1_epi8(needle[m - 1]);
  for (size_t pos = from;; pos += kBlock) {
    for (uint32_t mask = block_candidates(s, pos, positions, m, first, last); mask != 0;
         mask &= mask - 1) {
      const size_t p = pos + static_cast<size_t>(__builtin_ctz(mask));
      if (short_middle_matches(s + p, needle)) return p;
    }
    if (pos + kBlock >= positions) return npos;
  }
}

// The candidates of a block (bit i: position pos + i) checked in turn: the first position where
// the needle occurs, else npos, with what the false ones cost added to `cost`.
size_t check_block(std::string_view needle, const char* s, size_t pos, uint32_t mask,
                   size_t& cost) {
  for (; mask != 0; mask &= mask - 1) {
    const size_t p = pos + static_cast<size_t>(__builtin_ctz(mask));
    if (middle_matches(s + p, needle)) return p;
    cost += needle.size();
  }
  return npos;
}

[[gnu::noinline]] size_t vector_search(std::string_view needle, std::string_view text,
                                       size_t from) {
  constexpr size_t kBlock = 16;
  const size_t m = needle.size();
  const size_t positions = text.size() - m + 1;  // every candidate lies below
  const char* s = text.data();
  const __m128i first = _mm_set1_epi8(needle[0]);
  const __m128i last = _mm_set1_epi8(needle[m - 1]);
  // Needle bytes that false candidates may still cost before the linear search takes over.
  size_t budget = kFalseCandidateAllowance;
  size_t pos = from;
  // Two blocks at a time, then one, then what is left.
  for (; pos + 2 * kBlock <= positions; pos += 2 * kBlock) {
    const uint32_t mask = candidates(s + pos, m - 1, first, last) |
                          (candidates(s + pos + kBlock, m - 1, first, last) << kBlock);
    if (mask != 0) {
      size_t cost = 0;
      const size_t found = check_block(needle, s, pos, mask, cost);
      if (found != npos) return found;
      if (cost > budget) return linear_search(needle, text, pos + 2 * kBlock);
      budget -= cost;
    }
    budget += kBlock;
  }
  size_t cost = 0;
  if (pos + kBlock <= positions) {
    const size_t found = check_block(needle, s, pos, candidates(s + pos, m - 1, first, last), cost);
    if (found != npos) return found;
    pos += kBlock;
  }
  if (pos == positions) return npos;
  const uint32_t mask = block_candidates(s, pos, positions, m, first, last);
  return check_block(needle, s, pos, mask, cost);
}

#endif

#if VTN_WIDE_SEARCH
// short_search with every position in one masked read of the first and the last bytes. Inlined
// where a [[gnu::flatten]] wide function calls it.
VTN_WIDE_SEARCH_TARGET inline size_t short_search_wide(std::string_view needle,
                                                       std::string_view text, size_t from) {
  const size_t m = needle.size();
  const char* s = text.data() + from;
  const __mmask64 live = _bzhi_u64(~uint64_t{0}, static_cast<unsigned>(text.size() - m + 1 - from));
  const __m512i first = _mm512_maskz_loadu_epi8(live, s);
  const __m512i last = _mm512_maskz_loadu_epi8(live, s + m - 1);
  for (uint64_t mask = _mm512_mask_cmpeq_epi8_mask(live, first, _mm512_set1_epi8(needle[0])) &
                       _mm512_cmpeq_epi8_mask(last, _mm512_set1_epi8(needle[m - 1]));
       mask != 0; mask &= mask - 1) {
    const size_t p = static_cast<size_t>(_tzcnt_u64(mask));
    if (short_middle_matches(s + p, needle)) return from + p;
  }
  return npos;
}

bool wide_search_supported() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2");
}
const bool kWideSearchSupported = wide_search_supported();
#else
constexpr bool kWideSearchSupported = false;
#endif

}  // namespace

namespace search_detail {

bool wide_search = kWideSearchSupported;

bool use_wide_search(bool wide) {
  const bool former = wide_search;
  wide_search = wide && kWideSearchSupported;
  return former;
}

}  // namespace search_detail

namespace {

// The two instantiations of the search for what find_forward does not do inline.
template <bool kWide>
[[gnu::always_inline]] inline size_t forward_rest(std::string_view needle, std::string_view text,
                                                  size_t from) {
  if (needle.size() == 1) return find_byte_long(text, from, needle[0]);
#if defined(__SSE2__)
  if (needle.size() <= kWordNeedle && text.size() - needle.size() + 1 - from <= kShortPositions) {
#if VTN_WIDE_SEARCH
    if constexpr (kWide) return short_search_wide(needle, text, from);
#endif
    return short_search(needle, text, from);
  }
  return vector_search(needle, text, from);
#else
  return linear_search(needle, text, from);
#endif
}

}  // namespace

size_t find_forward_rest(std::string_view needle, std::string_view text, size_t from) {
  return forward_rest<false>(needle, text, from);
}

[[gnu::flatten]] VTN_WIDE_SEARCH_TARGET size_t find_forward_rest_wide(std::string_view needle,
                                                                      std::string_view text,
                                                                      size_t from) {
  return forward_rest<true>(needle, text, from);
}

// npos + 1 is 0.
int32_t instring_rest(std::string_view needle, std::string_view text, size_t from) {
  if (from > text.size() - needle.size()) return 0;
  return static_cast<int32_t>(forward_rest<false>(needle, text, from) + 1);
}

[[gnu::flatten]] VTN_WIDE_SEARCH_TARGET int32_t instring_rest_wide(std::string_view needle,
                                                                   std::string_view text,
                                                                   size_t from) {
  if (from > text.size() - needle.size()) return 0;
  return static_cast<int32_t>(forward_rest<true>(needle, text, from) + 1);
}

size_t find_backward(std::string_view needle, std::string_view text, size_t from) {
  const size_t m = needle.size();
  if (m > text.size()) return npos;
  const char* s = text.data();
  size_t end = (from < text.size() - m ? from : text.size() - m) + 1;  // candidates below end
  while (end > 0) {
    const void* hit = memrchr(s, needle[0], end);
    if (hit == nullptr) return npos;
    const size_t pos = static_cast<size_t>(static_cast<const char*>(hit) - s);
    if (rest_matches(s + pos, needle)) return pos;
    end = pos;
  }
  return npos;
}

}  // namespace vtn
