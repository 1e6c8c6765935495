#include "runtime/values/substring_search.hpp"

#include <string.h>  // memmem, memrchr

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vtn {
namespace {

constexpr size_t npos = std::string_view::npos;

// False candidates the filter may produce before the linear search takes over: a fixed allowance
// plus one compare of the needle per 2 bytes scanned, so that the work stays linear in the text.
constexpr size_t kFalseCandidateAllowance = 4096;

bool rest_matches(const char* at, std::string_view needle) {
  return std::memcmp(at + 1, needle.data() + 1, needle.size() - 1) == 0;
}

// The vector filter has already compared the first and the last byte.
bool middle_matches(const char* at, std::string_view needle) {
  const size_t m = needle.size();
  if (m <= 8) {
    for (size_t i = 1; i + 1 < m; ++i) {
      if (at[i] != needle[i]) return false;
    }
    return true;
  }
  return std::memcmp(at + 1, needle.data() + 1, m - 2) == 0;
}

size_t linear_search(std::string_view needle, std::string_view text, size_t from) {
  const void* hit = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
  return hit == nullptr ? npos : static_cast<size_t>(static_cast<const char*>(hit) - text.data());
}

// Positions from..last one at a time: the first byte found by memchr, the rest compared.
size_t scalar_search(std::string_view needle, std::string_view text, size_t from, size_t last) {
  const char* s = text.data();
  for (size_t pos = from; pos <= last;) {
    const void* hit = std::memchr(s + pos, needle[0], last - pos + 1);
    if (hit == nullptr) return npos;
    pos = static_cast<size_t>(static_cast<const char*>(hit) - s);
    if (rest_matches(s + pos, needle)) return pos;
    ++pos;
  }
  return npos;
}

#if defined(__SSE2__)

// Bit i set when position block + i starts with the needle's first byte and has its last byte
// at the needle's length.
inline uint32_t candidates(const char* block, size_t last_offset, __m128i first, __m128i last) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + last_offset));
  return static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
}

size_t vector_search(std::string_view needle, std::string_view text, size_t from) {
  constexpr size_t kBlock = 16;
  const size_t m = needle.size();
  const size_t last_start = text.size() - m;
  if (last_start - from + 1 < kBlock) return scalar_search(needle, text, from, last_start);
  const char* s = text.data();
  const __m128i first = _mm_set1_epi8(needle[0]);
  const __m128i last = _mm_set1_epi8(needle[m - 1]);
  size_t false_candidates = 0;
  size_t pos = from;
  // Whole blocks, then one block ending at the last start, without the positions already seen.
  while (true) {
    const bool final_block = pos + kBlock - 1 > last_start;
    const size_t block = final_block ? last_start + 1 - kBlock : pos;
    uint32_t mask = candidates(s + block, m - 1, first, last);
    if (final_block) mask &= ~0u << (pos - block);
    for (; mask != 0; mask &= mask - 1) {
      const size_t p = block + static_cast<size_t>(__builtin_ctz(mask));
      if (middle_matches(s + p, needle)) return p;
      ++false_candidates;
    }
    if (final_block) return npos;
    pos += kBlock;
    if (pos > last_start) return npos;
    if (false_candidates * m > kFalseCandidateAllowance + (pos - from) / 2) {
      return linear_search(needle, text, pos);
    }
  }
}

#endif

}  // namespace

size_t find_forward_long(std::string_view needle, std::string_view text, size_t from) {
#if defined(__SSE2__)
  return vector_search(needle, text, from);
#else
  return linear_search(needle, text, from);
#endif
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
