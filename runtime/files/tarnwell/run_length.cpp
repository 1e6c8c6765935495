#include "runtime/files/tarnwell/run_length.hpp"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kCheckLiteralPastEnd = 522;
constexpr int32_t kCheckRepeatPastEnd = 530;
constexpr int32_t kCheckStreamShort = 1602;
constexpr size_t kMinRun = 4;

uint8_t* put_count(uint8_t* out, size_t count) {
  while (count >= 0x80) {
    *out++ = static_cast<uint8_t>(count | 0x80);
    count >>= 7;
  }
  *out++ = static_cast<uint8_t>(count);
  return out;
}

constexpr uint64_t kLaneOnes = 0x0101010101010101;
constexpr uint64_t kLaneHighs = 0x8080808080808080;

// The lowest byte lane of `v` that is zero (8 when none): borrows run only upwards, so the lowest
// lane the classic zero-byte test marks is exact.
unsigned first_zero_lane(uint64_t v) {
  const uint64_t marks = (v - kLaneOnes) & ~v & kLaneHighs;
  return marks ? static_cast<unsigned>(std::countr_zero(marks)) / 8 : 8;
}

// The first position >= `i` where 4 equal bytes start, or n when there is none. Eight positions
// are tested at once: lane k of (a ^ b) | (b ^ c) | (c ^ d), with a..d the words at i..i+3, is
// zero exactly when bytes i+k..i+k+3 are equal.
size_t next_run(const uint8_t* p, size_t i, size_t n) {
#if defined(__SSE2__)
  // Sixteen positions at once where the processor compares sixteen bytes in one instruction.
  for (; i + 3 + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 2));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 3));
    const __m128i equal = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(a, b), _mm_cmpeq_epi8(b, c)),
                                        _mm_cmpeq_epi8(c, d));
    const unsigned starts = static_cast<unsigned>(_mm_movemask_epi8(equal));
    if (starts != 0) return i + static_cast<size_t>(std::countr_zero(starts));
  }
#endif
  for (; i + 3 + 8 <= n; i += 8) {
    const uint64_t a = load_le64(p + i), b = load_le64(p + i + 1);
    const uint64_t c = load_le64(p + i + 2), d = load_le64(p + i + 3);
    const unsigned lane = first_zero_lane((a ^ b) | (b ^ c) | (c ^ d));
    if (lane < 8) return i + lane;
  }
  for (; i + kMinRun <= n; ++i) {
    if (p[i] == p[i + 1] && p[i] == p[i + 2] && p[i] == p[i + 3]) return i;
  }
  return n;
}

// The length of the run of equal bytes that starts at `i` and is known to be `run` long already.
size_t run_length(const uint8_t* p, size_t i, size_t run, size_t n) {
#if defined(__SSE2__)
  const __m128i byte = _mm_set1_epi8(static_cast<char>(p[i]));
  for (; i + run + 16 <= n; run += 16) {
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + run));
    const unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(next, byte)));
    if (same != 0xFFFF) return run + static_cast<size_t>(std::countr_zero(~same));
  }
#endif
  const uint64_t repeated = kLaneOnes * p[i];
  for (; i + run + 8 <= n; run += 8) {
    const uint64_t differ = load_le64(p + i + run) ^ repeated;
    if (differ) return run + static_cast<size_t>(std::countr_zero(differ)) / 8;
  }
  while (i + run < n && p[i + run] == p[i]) ++run;
  return run;
}

// Reads a count; a count too large for any page reads as SIZE_MAX so that the caller's bound
// check fails with its own number.
size_t get_count(std::span<const uint8_t> in, size_t& pos) {
  size_t value = 0;
  for (int shift = 0;; shift += 7) {
    if (pos >= in.size()) raise_internal_error(kCheckStreamShort);
    const uint8_t b = in[pos++];
    if (shift < 35) {
      value |= static_cast<size_t>(b & 0x7F) << shift;
    } else if (b & 0x7F) {
      value = SIZE_MAX;  // far beyond any page; keep consuming the count's bytes
    }
    if ((b & 0x80) == 0) return value;
  }
}

}  // namespace

// Every run found is a run of equal bytes at its full length: the search starts where the last run
// ended (or at 0), and a run of 4 that began earlier would have been found there.
size_t rle_compress_into(std::span<const uint8_t> input, uint8_t* out) {
  const uint8_t* in = input.data();
  const size_t n = input.size();
  uint8_t* at = out;
  size_t pending = 0;  // first byte not yet written
  for (size_t i = next_run(in, 0, n); i < n; i = next_run(in, i, n)) {
    const size_t run = run_length(in, i, kMinRun, n);
    at = put_count(at, i + 1 - pending);
    std::memcpy(at, in + pending, i + 1 - pending);
    at += i + 1 - pending;
    at = put_count(at, run - 1);
    i += run;
    pending = i;
  }
  if (at == out) return 0;
  at = put_count(at, n - pending);
  if (n > pending) std::memcpy(at, in + pending, n - pending);
  return static_cast<size_t>(at - out) + (n - pending);
}

bool rle_compress(std::span<const uint8_t> input, std::vector<uint8_t>& out) {
  const size_t start = out.size();
  out.resize(start + rle_compress_bound(input.size()));
  const size_t length = rle_compress_into(input, out.data() + start);
  out.resize(start + length);
  return length != 0;
}

size_t rle_expand(std::span<const uint8_t> in, std::span<uint8_t> out) {
  size_t pos = 0;
  size_t done = 0;
  while (done < out.size()) {
    const size_t literal = get_count(in, pos);
    if (literal > out.size() - done) raise_internal_error(kCheckLiteralPastEnd);
    if (literal > in.size() - pos) raise_internal_error(kCheckStreamShort);
    std::memcpy(out.data() + done, in.data() + pos, literal);
    pos += literal;
    done += literal;
    if (done == out.size()) break;
    const size_t repeat = get_count(in, pos);
    if (repeat > out.size() - done || (repeat > 0 && done == 0)) {
      raise_internal_error(kCheckRepeatPastEnd);
    }
    std::memset(out.data() + done, done ? out[done - 1] : 0, repeat);
    done += repeat;
    // A stream that ends with a run carries a final literal count of 0.
    if (done == out.size() && pos < in.size() && in[pos] == 0) ++pos;
  }
  return pos;
}

}  // namespace vtn::tarnwell
