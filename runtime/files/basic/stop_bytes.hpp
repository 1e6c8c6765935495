// A small set of bytes that end a run of plain text, and the search for the first of them.
//
// The parser spends its time passing over text that holds no delimiter, quote, end of record or
// Ctrl-Z. A StopBytes set names the bytes that can begin one of those in a given context (inside
// a quoted value, a bare value, between values, after the last value); find() then skips the
// plain bytes sixteen at a time. Sets of more than four bytes (possible only with unusual
// options) are searched through a table, byte by byte.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vtn::basic {

class StopBytes {
 public:
  void add(uint8_t c) {
    if (member_[c]) return;
    member_[c] = 1;
    if (count_ < kVectorBytes) bytes_[count_] = c;
    ++count_;
#if defined(__SSE2__)
    // Unused lanes repeat the first byte, so that every comparison counts.
    for (int k = 0; k < kVectorBytes; ++k)
      lanes_[k] = _mm_set1_epi8(static_cast<char>(bytes_[k < count_ ? k : 0]));
#endif
  }
  bool contains(uint8_t c) const {
    return member_[c] != 0;
  }

  // The first position in [from, to) whose byte is in the set; `to` when there is none. Bytes
  // up to `readable` may be looked at (never past it), so that a short search still goes by
  // blocks. REQUIRES: from <= to <= readable, and p[0, readable) is readable.
  size_t find(const uint8_t* p, size_t from, size_t to, size_t readable) const {
    size_t i = from;
#if defined(__SSE2__)
    if (count_ >= 1 && count_ <= kVectorBytes) {
      const __m128i b0 = lanes_[0], b1 = lanes_[1], b2 = lanes_[2], b3 = lanes_[3];
      for (; i < to && i + 16 <= readable; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, b0), _mm_cmpeq_epi8(v, b1)),
                         _mm_or_si128(_mm_cmpeq_epi8(v, b2), _mm_cmpeq_epi8(v, b3)));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0)
          return std::min(to, i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))));
      }
      if (i >= to) return to;
    }
#endif
    while (i < to && !member_[p[i]]) ++i;
    return i;
  }
  size_t find(const uint8_t* p, size_t from, size_t to) const {
    return find(p, from, to, to);
  }

 private:
  static constexpr int kVectorBytes = 4;
#if defined(__SSE2__)
  __m128i lanes_[kVectorBytes] = {};
#endif
  std::array<uint8_t, 256> member_ = {};
  uint8_t bytes_[kVectorBytes] = {};
  int count_ = 0;
};

}  // namespace vtn::basic
