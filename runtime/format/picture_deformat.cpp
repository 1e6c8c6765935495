// DEFORMAT: display text back to the plain text of its value.
//
// The cells and the text are walked side by side. Numbers keep their digits, the point and the
// sign that any sign, grouping or digit cell carries; dates and times read each field from the
// digits under its run of cells (a field typed shorter than its cells, as in "1/5/24", ends at
// the first non-digit, which the next cell then takes); month names are recognised by their
// first three letters. What does not fit the picture is skipped.
#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VTN_DEFORMAT_LANES 1
#else
#define VTN_DEFORMAT_LANES 0
#endif

#include "runtime/format/date_names.hpp"
#include "runtime/format/dates.hpp"
#include "runtime/format/picture_format.hpp"
#include "runtime/values/calendar.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/short_text_words.hpp"

namespace vtn {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// @S: digits, one point, one exponent with its sign, and a leading minus.
std::string deformat_string(std::string_view text, const CompiledPicture& p) {
  text = text.substr(0, p.cell_count);
  std::string out;
  bool point = false;
  bool exponent = false;
  for (char c : text) {
    const bool after_e = !out.empty() && (out.back() == 'e' || out.back() == 'E');
    if (is_digit(c)) {
      out += c;
    } else if (c == '-' && (out.empty() || after_e)) {
      out += c;
    } else if (c == '+' && after_e) {
      out += c;
    } else if ((c == 'e' || c == 'E') && !exponent) {
      exponent = true;
      out += c;
    } else if (c == '.' && !point) {
      point = true;
      out += c;
    }
  }
  return out;
}

// @N, @E, @P and @K: the characters the cells keep (at most two each) and whether the value was
// marked negative; the text is the kept characters, behind a "-" for a negative value (except in
// key-in pictures).
struct KeptCells {
  char kept[2 * CompiledPicture::kMaxCells];
  int count = 0;
  bool negative = false;

  std::string text(const CompiledPicture& p) const {
    std::string out;
    out.reserve(static_cast<size_t>(count) + 1);
    if (p.kind != PictureKind::kKeyIn && negative) out += '-';
    out.append(kept, static_cast<size_t>(count));
    return out;
  }
};

// Every cell, one at a time.
void read_cells(std::string_view text, const CompiledPicture& p, KeptCells& k) {
  char* const kept = k.kept;
  int n = 0;
  bool negative = false;
  size_t t = 0;
  for (int i = 0; i < p.cell_count; ++i) {
    const CellCode code = p.cells[i].code;
    if (code == CellCode::kImpliedPoint) {
      kept[n++] = '.';  // takes no position in the text
      continue;
    }
    if (t >= text.size()) break;
    const char c = text[t++];
    switch (code) {
      case CellCode::kDigitBlank:
        if (c == ' ') {
          kept[n++] = '0';
          break;
        }
        [[fallthrough]];
      case CellCode::kDigitZero:
      case CellCode::kGrouping:
      case CellCode::kSign:
        if (c == '-' || c == '(') {
          negative = true;
        } else if (c == '+') {
          negative = false;
        } else if (is_digit(c)) {
          kept[n++] = c;
        }
        break;
      case CellCode::kDecimalPoint:
        kept[n++] = '.';
        break;
      case CellCode::kExponentSign:
        kept[n++] = 'e';
        kept[n++] = c == '-' ? '-' : '+';
        break;
      case CellCode::kAnyLetter:
      case CellCode::kUpperLetter:
      case CellCode::kLowerLetter:
      case CellCode::kAnyChar:
        kept[n++] = c;
        break;
      default:
        break;
    }
  }
  k.count = n;
  k.negative = negative;
}

std::string deformat_one_at_a_time(std::string_view text, const CompiledPicture& p) {
  KeptCells k;
  read_cells(text, p, k);
  return k.text(p);
}

#if VTN_DEFORMAT_LANES
// Sixteen cells at a time, for the pictures whose cells each take one character of the text and
// keep at most one: no implied point or exponent sign where the text reaches. The rules of
// read_cells are decided for sixteen lanes at once and the kept characters packed together with
// byte shuffles, which need SSSE3; a processor without it reads one cell at a time.
#define VTN_LANES_TARGET __attribute__((target("ssse3,popcnt")))

static_assert(sizeof(PictureCell) == 2, "cells are read as (fill, code) byte pairs");

constexpr int kLanes = 16;

// For each mask of eight lanes, the shuffle that packs the lanes it sets into the low bytes (the
// rest zero).
constexpr auto kPackEight = [] {
  struct Table {
    uint64_t v[256];
  } t{};
  for (int mask = 0; mask < 256; ++mask) {
    uint64_t pattern = ~uint64_t{0};  // 0xFF: a zero byte
    int k = 0;
    for (int lane = 0; lane < 8; ++lane) {
      if ((mask >> lane) & 1) {
        pattern &= ~(uint64_t{0xFF} << (8 * k));
        pattern |= static_cast<uint64_t>(lane) << (8 * k);
        ++k;
      }
    }
    t.v[mask] = pattern;
  }
  return t;
}();

// For k bytes packed in the low half, the shuffle that moves the packed high half (bytes 8 to 15)
// to follow them.
constexpr auto kJoinHalves = [] {
  struct Table {
    alignas(16) uint8_t v[9][16];
  } t{};
  for (int k = 0; k <= 8; ++k) {
    for (int i = 0; i < 16; ++i) {
      t.v[k][i] =
          i < k ? static_cast<uint8_t>(i) : (i < k + 8 ? static_cast<uint8_t>(8 + i - k) : 0xFF);
    }
  }
  return t;
}();

// 0xFF for the codes of the cells that read digits and signs, 0 for codes 0 to 15 otherwise.
constexpr auto kNumberCells = [] {
  struct Table {
    alignas(16) uint8_t v[16];
  } t{};
  for (CellCode code :
       {CellCode::kDigitZero, CellCode::kDigitBlank, CellCode::kGrouping, CellCode::kSign}) {
    t.v[static_cast<int>(code)] = 0xFF;
  }
  return t;
}();

// Sixteen bytes from `data`, of which only the first `available` may be read; the rest zero.
VTN_LANES_TARGET __m128i load_partial(const void* data, size_t available) {
  if (available >= 16) return _mm_loadu_si128(static_cast<const __m128i*>(data));
  alignas(16) char bytes[16] = {};
  std::memcpy(bytes, data, available);
  return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
}

// The same for text, which is mostly shorter than sixteen characters: read as two overlapping
// words rather than through a copy, which the wide read could not take straight from the stores.
VTN_LANES_TARGET __m128i load_text(const char* data, size_t available) {
  if (available >= 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
  uint64_t low;
  uint64_t high;
  load_short_words(data, available, low, high);
  return _mm_set_epi64x(static_cast<int64_t>(high), static_cast<int64_t>(low));
}

VTN_LANES_TARGET uint32_t lanes(__m128i mask) {
  return static_cast<uint32_t>(_mm_movemask_epi8(mask));
}

// What sixteen cells decide: bit i of a mask stands for cell start + i.
struct CellLanes {
  __m128i values;  // what each lane keeps
  uint32_t keep;
  uint32_t signs;  // lanes that mark the sign: negative unless their bit in `plus` is set
  uint32_t plus;
};

// False when an implied point or an exponent sign stands where the text reaches.
VTN_LANES_TARGET inline __attribute__((always_inline)) bool decide_lanes(std::string_view text,
                                                                         const CompiledPicture& p,
                                                                         int start, int reach,
                                                                         CellLanes& out) {
  const auto chars_are = [](__m128i chars, char c) {
    return _mm_cmpeq_epi8(chars, _mm_set1_epi8(c));
  };
  const auto codes_are = [](__m128i codes, CellCode c) {
    return _mm_cmpeq_epi8(codes, _mm_set1_epi8(static_cast<char>(c)));
  };
  const uint32_t in_reach = (1u << std::min(kLanes, reach - start)) - 1;
  const __m128i chars = load_text(text.data() + start, text.size() - static_cast<size_t>(start));
  const size_t cell_bytes =
      sizeof(PictureCell) * static_cast<size_t>(CompiledPicture::kMaxCells - start);
  const __m128i low_pairs = load_partial(p.cells + start, cell_bytes);
  const __m128i high_pairs = load_partial(p.cells + start + 8, cell_bytes - 16);
  const __m128i codes =
      _mm_packus_epi16(_mm_srli_epi16(low_pairs, 8), _mm_srli_epi16(high_pairs, 8));
  if ((lanes(_mm_or_si128(codes_are(codes, CellCode::kImpliedPoint),
                          codes_are(codes, CellCode::kExponentSign))) &
       in_reach) != 0) {
    return false;
  }

  // Cells that read a digit or a sign, looked up by code; codes 16 and up carry into the high bit
  // of the index and find nothing. A blank digit cell over a space keeps "0": the space is
  // neither a digit nor a sign, so the lookup needs no exception for it.
  const __m128i number =
      _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(kNumberCells.v)),
                       _mm_adds_epu8(codes, _mm_set1_epi8(0x70)));
  const __m128i blank_space =
      _mm_and_si128(codes_are(codes, CellCode::kDigitBlank), chars_are(chars, ' '));
  const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(chars, _mm_set1_epi8('0' - 1)),
                                      _mm_cmplt_epi8(chars, _mm_set1_epi8('9' + 1)));
  const __m128i letter = _mm_and_si128(
      _mm_cmpgt_epi8(codes, _mm_set1_epi8(static_cast<char>(CellCode::kAnyLetter) - 1)),
      _mm_cmplt_epi8(codes, _mm_set1_epi8(static_cast<char>(CellCode::kAnyChar) + 1)));
  const __m128i point = codes_are(codes, CellCode::kDecimalPoint);
  const __m128i own_char = _mm_or_si128(_mm_and_si128(number, digit), letter);
  const __m128i plus = chars_are(chars, '+');
  const __m128i sign_char =
      _mm_or_si128(_mm_or_si128(chars_are(chars, '-'), chars_are(chars, '(')), plus);

  out.keep = lanes(_mm_or_si128(_mm_or_si128(own_char, blank_space), point)) & in_reach;
  out.signs = lanes(_mm_and_si128(number, sign_char)) & in_reach;
  out.plus = lanes(plus);
  out.values = _mm_or_si128(_mm_and_si128(own_char, chars),
                            _mm_or_si128(_mm_and_si128(blank_space, _mm_set1_epi8('0')),
                                         _mm_and_si128(point, _mm_set1_epi8('.'))));
  return true;
}

// The sign that the last marking cell of the lanes gives, if any marks it.
bool lane_sign(const CellLanes& l, bool negative) {
  if (l.signs == 0) return negative;
  return ((l.plus >> (31 - std::countl_zero(l.signs))) & 1) == 0;
}

// The kept values packed into the low lanes, in order; zeros above them.
VTN_LANES_TARGET __m128i pack(const CellLanes& l) {
  const uint64_t low = kPackEight.v[l.keep & 0xFF];
  const uint64_t high = kPackEight.v[(l.keep >> 8) & 0xFF] | 0x0808080808080808ull;
  const __m128i halves = _mm_shuffle_epi8(
      l.values, _mm_set_epi64x(static_cast<int64_t>(high), static_cast<int64_t>(low)));
  const int low_count = std::popcount(l.keep & 0xFF);
  return _mm_shuffle_epi8(
      halves, _mm_load_si128(reinterpret_cast<const __m128i*>(kJoinHalves.v[low_count])));
}

// For n, the shuffle that moves sixteen bytes n places up (zeros come in below).
constexpr auto kShiftUp = [] {
  struct Table {
    alignas(16) uint8_t v[kLanes][16];
  } t{};
  for (int n = 0; n < kLanes; ++n) {
    for (int i = 0; i < 16; ++i) t.v[n][i] = i >= n ? static_cast<uint8_t>(i - n) : 0xFF;
  }
  return t;
}();

// Implied points right after the text's end still show.
char* trailing_points(const CompiledPicture& p, int reach, char* out) {
  for (int i = reach; i < p.cell_count && p.cells[i].code == CellCode::kImpliedPoint; ++i) {
    *out++ = '.';
  }
  return out;
}

// A picture of at most fourteen cells keeps at most fifteen characters with the sign, which a
// string holds in itself: they are written straight into it, as whole words. (Gathered elsewhere
// and then copied, bytes just stored would be read back as wider words before the stores could
// supply them.)
constexpr int kShortCells = 14;

VTN_LANES_TARGET std::string deformat_short(std::string_view text, const CompiledPicture& p,
                                            int reach) {
  std::string out;  // one named result, built in place
  CellLanes l{_mm_setzero_si128(), 0, 0, 0};
  if (reach > 0 && !decide_lanes(text, p, 0, reach, l)) {
    out = deformat_one_at_a_time(text, p);
    return out;
  }
  __m128i packed = pack(l);
  int length = std::popcount(l.keep);
  if (p.kind != PictureKind::kKeyIn && lane_sign(l, false)) {
    packed = _mm_or_si128(_mm_slli_si128(packed, 1), _mm_cvtsi32_si128('-'));
    ++length;
  }
  out.assign(kShortCells + 1, '\0');
  char* const first = out.data();
  _mm_storel_epi64(reinterpret_cast<__m128i*>(first), packed);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(first + 7), _mm_srli_si128(packed, 7));
  out.resize(static_cast<size_t>(trailing_points(p, reach, first + length) - first));
  return out;
}

// How many implied points follow the text's end.
int count_trailing_points(const CompiledPicture& p, int reach) {
  int i = reach;
  while (i < p.cell_count && p.cells[i].code == CellCode::kImpliedPoint) ++i;
  return i - reach;
}

// A longer picture gathers the first sixteen kept characters in a register as well, and a result
// that still fits a string's own room is written as the short one is; a longer result goes
// through a buffer.
constexpr int kInPlace = kShortCells + 1;

VTN_LANES_TARGET std::string deformat_long(std::string_view text, const CompiledPicture& p,
                                           int reach) {
  std::string out;  // one named result, built in place
  KeptCells k;      // room for sixteen bytes stored past the last kept character
  __m128i first = _mm_setzero_si128();  // the first sixteen kept characters
  int length = 0;
  bool negative = false;
  for (int start = 0; start < reach; start += kLanes) {
    CellLanes l;
    if (!decide_lanes(text, p, start, reach, l)) {
      out = deformat_one_at_a_time(text, p);
      return out;
    }
    negative = lane_sign(l, negative);
    const __m128i packed = pack(l);
    if (length < kLanes) {
      first = _mm_or_si128(
          first, _mm_shuffle_epi8(
                     packed, _mm_load_si128(reinterpret_cast<const __m128i*>(kShiftUp.v[length]))));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(k.kept + length), packed);
    length += std::popcount(l.keep);
  }
  const bool sign = negative && p.kind != PictureKind::kKeyIn;
  const int points = count_trailing_points(p, reach);
  const int total = (sign ? 1 : 0) + length + points;
  if (total > kInPlace) {
    k.count = static_cast<int>(trailing_points(p, reach, k.kept + length) - k.kept);
    k.negative = negative;
    out = k.text(p);
    return out;
  }
  if (sign) first = _mm_or_si128(_mm_slli_si128(first, 1), _mm_cvtsi32_si128('-'));
  out.assign(kInPlace, '\0');
  char* const chars = out.data();
  _mm_storel_epi64(reinterpret_cast<__m128i*>(chars), first);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(chars + 7), _mm_srli_si128(first, 7));
  trailing_points(p, reach, chars + total - points);
  out.resize(static_cast<size_t>(total));
  return out;
}

bool lanes_supported() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
}
const bool kLanesSupported = lanes_supported();

// Thirty-two cells in one pass, on processors with the AVX-512 byte instructions: the rules of
// read_cells decided in mask registers, the text read with a masked move that touches no byte past
// its end, and the kept characters packed by one compress. (A masked write of the result is slow
// on some of these processors; the result is written as the narrower paths write it.)
#define VTN_WIDE_LANES_TARGET \
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi2,popcnt")))

constexpr int kWideLanes = 32;

VTN_WIDE_LANES_TARGET inline __mmask32 bytes_equal(__m256i bytes, char c) {
  return _mm256_cmpeq_epi8_mask(bytes, _mm256_set1_epi8(c));
}

VTN_WIDE_LANES_TARGET std::string deformat_wide(std::string_view text, const CompiledPicture& p,
                                                int reach) {
  std::string out;  // one named result, built in place
  const __mmask32 in_reach = _bzhi_u32(~0u, static_cast<unsigned>(reach));
  const __m256i chars = _mm256_maskz_loadu_epi8(in_reach, text.data());
  // The codes are the odd bytes of the (fill, code) pairs; the array holds 255 cells, so sixty-four
  // bytes from its start are there to read.
  const __m512i pairs = _mm512_loadu_si512(p.cells);
  const __m256i codes = _mm512_maskz_cvtepi16_epi8(~__mmask32{0}, _mm512_srli_epi16(pairs, 8));
  const auto code_is = [codes](CellCode c) { return bytes_equal(codes, static_cast<char>(c)); };
  const auto char_is = [chars](char c) { return bytes_equal(chars, c); };
  if (((code_is(CellCode::kImpliedPoint) | code_is(CellCode::kExponentSign)) & in_reach) != 0) {
    out = deformat_one_at_a_time(text, p);
    return out;
  }
  const __mmask32 number = code_is(CellCode::kDigitZero) | code_is(CellCode::kDigitBlank) |
                           code_is(CellCode::kGrouping) | code_is(CellCode::kSign);
  const __mmask32 digit =
      _mm256_cmplt_epu8_mask(_mm256_sub_epi8(chars, _mm256_set1_epi8('0')), _mm256_set1_epi8(10));
  const __mmask32 letter = _mm256_cmplt_epu8_mask(
      _mm256_sub_epi8(codes, _mm256_set1_epi8(static_cast<char>(CellCode::kAnyLetter))),
      _mm256_set1_epi8(static_cast<char>(CellCode::kAnyChar) -
                       static_cast<char>(CellCode::kAnyLetter) + 1));
  const __mmask32 own_char = (number & digit) | letter;
  const __mmask32 blank_space = code_is(CellCode::kDigitBlank) & char_is(' ');
  const __mmask32 point = code_is(CellCode::kDecimalPoint);
  const __mmask32 plus = char_is('+');
  const __mmask32 signs = number & (char_is('-') | char_is('(') | plus) & in_reach;
  const __mmask32 keep = (own_char | blank_space | point) & in_reach;
  // The three kinds of kept lane never overlap: a digit is no space, and the codes differ.
  __m256i values = _mm256_maskz_mov_epi8(point, _mm256_set1_epi8('.'));
  values = _mm256_mask_mov_epi8(values, blank_space, _mm256_set1_epi8('0'));
  values = _mm256_mask_mov_epi8(values, own_char, chars);
  __m256i packed = _mm256_maskz_compress_epi8(keep, values);
  int length = std::popcount(keep);
  const bool negative = signs != 0 && ((plus >> (31 - std::countl_zero(signs))) & 1) == 0;
  if (negative && p.kind != PictureKind::kKeyIn) {
    // Every lane one up, the sign in the first: a lane that marks the sign keeps nothing, so at
    // most 31 are kept and the sign fits.
    const __m256i up = _mm256_setr_epi8(0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                        17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30);
    packed = _mm256_mask_permutexvar_epi8(_mm256_set1_epi8('-'), ~__mmask32{1}, up, packed);
    ++length;
  }
  const int points = count_trailing_points(p, reach);
  const int total = length + points;
  if (total <= kInPlace) {
    // In the string's own room, as two overlapping words.
    const __m128i first = _mm256_castsi256_si128(packed);
    out.assign(kInPlace, '\0');
    char* const chars = out.data();
    _mm_storel_epi64(reinterpret_cast<__m128i*>(chars), first);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(chars + 7), _mm_srli_si128(first, 7));
    trailing_points(p, reach, chars + length);
    out.resize(static_cast<size_t>(total));
    return out;
  }
  char kept[kWideLanes + CompiledPicture::kMaxCells];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(kept), packed);
  out.assign(kept, static_cast<size_t>(trailing_points(p, reach, kept + length) - kept));
  return out;
}

bool wide_lanes_supported() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
         __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2") &&
         __builtin_cpu_supports("popcnt");
}
const bool kWideLanesSupported = wide_lanes_supported();
#endif

std::string deformat_cells(std::string_view text, const CompiledPicture& p) {
#if VTN_DEFORMAT_LANES
  if (kLanesSupported) {
    const int reach = static_cast<int>(std::min<size_t>(text.size(), p.cell_count));
    if (p.cell_count <= kShortCells) return deformat_short(text, p, reach);
    if (p.cell_count <= kWideLanes && kWideLanesSupported) return deformat_wide(text, p, reach);
    return deformat_long(text, p, reach);
  }
#endif
  return deformat_one_at_a_time(text, p);
}

int run_end(const CompiledPicture& p, int start) {
  int end = start + 1;
  while (end < p.cell_count && p.cells[end].code == p.cells[start].code) ++end;
  return end;
}

// Reads the digits under a run of `cells` cells: non-digits before the first digit are passed
// over, a non-digit after a digit ends the field and is left for the next cell. -1: no digit.
int read_field(std::string_view text, size_t& t, int cells) {
  int value = -1;
  for (int k = 0; k < cells && t < text.size(); ++k) {
    const char c = text[t];
    if (is_digit(c)) {
      value = (value < 0 ? 0 : value) * 10 + (c - '0');
      if (value > 99999) value = 99999;  // beyond any field; keeps DATE's carrying short
    } else if (value >= 0) {
      break;
    }
    ++t;
  }
  return value;
}

bool same_letter(char a, char b) {
  return to_upper_char(static_cast<uint8_t>(a)) == to_upper_char(static_cast<uint8_t>(b));
}

// A month name: its first three letters against the abbreviations, then the rest of the full
// name as far as the text spells it. 0 when no month matches.
int read_month_name(std::string_view text, size_t& t) {
  while (t < text.size() && text[t] == ' ') ++t;
  const DateNames& names = date_names();
  for (int m = 1; m <= 12; ++m) {
    const std::string_view abbreviation = names.month_abbreviation(m).substr(0, 3);
    if (abbreviation.empty() || text.size() - t < abbreviation.size()) continue;
    bool match = true;
    for (size_t k = 0; k < abbreviation.size() && match; ++k) {
      match = same_letter(text[t + k], abbreviation[k]);
    }
    if (!match) continue;
    t += abbreviation.size();
    const std::string_view name = names.month_name(m);
    for (size_t k = abbreviation.size(); k < name.size() && t < text.size(); ++k, ++t) {
      if (!same_letter(text[t], name[k])) break;
    }
    return m;
  }
  // Not a month: pass over the word.
  while (t < text.size() && text[t] != ' ' && !is_digit(text[t])) ++t;
  return 0;
}

std::string deformat_date(std::string_view text, const CompiledPicture& p) {
  int month = -1;
  int day = -1;
  int year = -1;
  size_t t = 0;
  int i = 0;
  while (i < p.cell_count && t < text.size()) {
    const CellCode code = p.cells[i].code;
    const int end = run_end(p, i);
    switch (code) {
      case CellCode::kMonth:
        month = read_field(text, t, end - i);
        break;
      case CellCode::kDay:
        day = read_field(text, t, end - i);
        break;
      case CellCode::kYear:
        year = read_field(text, t, end - i);
        break;
      case CellCode::kMonthName: {
        const int m = read_month_name(text, t);
        if (m > 0) month = m;
        break;
      }
      default:
        t += std::min(static_cast<size_t>(end - i), text.size() - t);
        break;
    }
    i = end;
  }
  if (month < 0 && day < 0 && year < 0) return "0";
  if (p.number >= 13 && p.number <= 16) day = 1;  // month and year only
  month = std::max(month, 0);
  day = std::max(day, 0);
  year = std::max(year, 0);
  if (year < 100) year = expand_two_digit_year(year, p.pivot);
  return std::to_string(DATE(month, day, year));
}

std::string deformat_time(std::string_view text, const CompiledPicture& p) {
  int fields[3] = {0, 0, 0};  // hours, minutes, seconds
  int day_part = 0;           // 1 AM, 2 PM
  const bool locale_marks = p.number == 7 || p.number == 8;
  const std::string_view am = locale_marks ? locale_day_part(false) : date_names().day_part[0];
  const std::string_view pm = locale_marks ? locale_day_part(true) : date_names().day_part[1];
  size_t t = 0;
  int i = 0;
  while (i < p.cell_count && t < text.size()) {
    const CellCode code = p.cells[i].code;
    const int end = run_end(p, i);
    switch (code) {
      case CellCode::kHour:
      case CellCode::kMinute:
      case CellCode::kSecond: {
        const int value = read_field(text, t, end - i);
        if (value >= 0) fields[static_cast<int>(code) - static_cast<int>(CellCode::kHour)] = value;
        break;
      }
      case CellCode::kDayPart: {
        const char c = text[t];
        if (!pm.empty() && same_letter(c, pm[0])) {
          day_part = 2;
        } else if (!am.empty() && same_letter(c, am[0])) {
          day_part = 1;
        }
        t += std::min(static_cast<size_t>(end - i), text.size() - t);
        break;
      }
      default:
        t += std::min(static_cast<size_t>(end - i), text.size() - t);
        break;
    }
    i = end;
  }
  int& hours = fields[0];
  if (day_part == 2 && hours != 12) hours += 12;
  if (day_part == 1 && hours == 12) hours = 0;
  if (hours > 23 || fields[1] > 59 || fields[2] > 59) return "-1";
  if (hours == 0 && fields[1] == 0 && fields[2] == 0) return "0";
  return std::to_string(hours * 360000 + fields[1] * 6000 + fields[2] * 100 + 1);
}

// @S, dates and times, kept out of line so that numbers, read most often, pass through a small
// frame.
[[gnu::noinline]] std::string deformat_fields(std::string_view text, const CompiledPicture& p) {
  switch (p.kind) {
    case PictureKind::kString:
      return deformat_string(text, p);
    case PictureKind::kDate:
      return deformat_date(text, p);
    default:
      return deformat_time(text, p);
  }
}

}  // namespace

std::string deformat(std::string_view text, const CompiledPicture& p) {
  const bool fields = p.kind == PictureKind::kString || p.kind == PictureKind::kDate ||
                      p.kind == PictureKind::kTime;
  return fields ? deformat_fields(text, p) : deformat_cells(text, p);
}

}  // namespace vtn
