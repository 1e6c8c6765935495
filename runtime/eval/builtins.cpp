#include "runtime/eval/builtins.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/core/random.hpp"
#include "runtime/format/dates.hpp"
#include "runtime/format/picture_format.hpp"
#include "runtime/platform/profile.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/match.hpp"
#include "runtime/values/string_functions.hpp"

namespace vtn::eval {

// ---- The call frame ----------------------------------------------------------------------------

char BuiltinFunction::arg_kind(int i) const {
  const int n = static_cast<int>(std::strlen(arg_kinds));
  return arg_kinds[std::min(i, n - 1)];
}

CallFrame::CallFrame(Machine& machine, const BuiltinFunction& function, int count)
    : m_(machine), f_(function), count_(count) {
  int longs = 0, reals = 0, texts = 0;
  for (int i = 0; i < count; ++i) {
    switch (function.arg_kind(i)) {
      case 'L':
        ++longs;
        break;
      case 'R':
        ++reals;
        break;
      default:
        ++texts;
        break;
    }
  }
  long_base_ = m_.long_top - longs;
  real_base_ = m_.real_top - reals;
  text_base_ = m_.text_top - texts;
}

int CallFrame::index_of(int i) const {
  const char kind = f_.arg_kind(i);
  int ordinal = 0;
  for (int k = 0; k < i; ++k) ordinal += f_.arg_kind(k) == kind;
  return ordinal;
}

int32_t CallFrame::long_arg(int i) const {
  return m_.longs[long_base_ + index_of(i)];
}
double CallFrame::real_arg(int i) const {
  return m_.reals[real_base_ + index_of(i)];
}
std::string_view CallFrame::text_arg(int i) const {
  return m_.texts[text_base_ + index_of(i)].view;
}

void CallFrame::result_long(int32_t value) {
  m_.long_top = long_base_;
  m_.real_top = real_base_;
  m_.text_top = text_base_;
  m_.longs[m_.long_top++] = value;
}

void CallFrame::result_real(double value) {
  m_.long_top = long_base_;
  m_.real_top = real_base_;
  m_.text_top = text_base_;
  m_.reals[m_.real_top++] = value;
}

void CallFrame::result_text(std::string_view text) {
  // The result lands in the first argument's slot; a text inside another argument's buffer
  // would be overwritten by the next push, so it is copied.
  TextSlot& slot = m_.texts[text_base_];
  bool foreign = false;
  for (int s = text_base_ + 1; s < m_.text_top; ++s) {
    const std::string& b = m_.texts[s].buffer;
    if (!text.empty() && text.data() >= b.data() && text.data() < b.data() + b.size()) {
      foreign = true;
    }
  }
  m_.long_top = long_base_;
  m_.real_top = real_base_;
  m_.text_top = text_base_ + 1;
  if (foreign) {
    slot.assign(text);
  } else {
    slot.view = text;
  }
}

std::string& CallFrame::out() {
  m_.scratch.clear();
  return m_.scratch;
}

void CallFrame::result_out() {
  TextSlot& slot = m_.texts[text_base_];
  m_.long_top = long_base_;
  m_.real_top = real_base_;
  m_.text_top = text_base_ + 1;
  slot.buffer.swap(m_.scratch);
  slot.view = slot.buffer;
}

void CallFrame::result_too_long() {
  m_.failure = kInsufficientMemory;
  result_text({});
}

namespace {

// A requested length that the run-time cannot make.
bool too_long(int64_t length) {
  return length > static_cast<int64_t>(kMaxTextLength);
}

// ---- Texts ------------------------------------------------------------------------------------

void fn_sub(CallFrame& f) {
  f.result_text(sub(f.text_arg(0), f.long_arg(1), f.long_arg(2)));
}

void fn_instring(CallFrame& f) {
  const int32_t step = f.count() > 2 ? f.long_arg(2) : 1;
  const int32_t start = f.count() > 3 ? f.long_arg(3) : 1;
  f.result_long(instring(f.text_arg(0), f.text_arg(1), step, start));
}

void fn_clip(CallFrame& f) {
  f.result_text(clip(f.text_arg(0)));
}

void fn_all(CallFrame& f) {
  const std::string_view text = f.text_arg(0);
  const int32_t length = f.count() > 1 ? f.long_arg(1) : 255;
  if (too_long(length)) return f.result_too_long();
  std::string& out = f.out();
  if (!text.empty() && length > 0) {
    const auto n = static_cast<size_t>(length);
    out.reserve(n);
    while (out.size() + text.size() <= n) out += text;
    out += text.substr(0, n - out.size());
  }
  f.result_out();
}

// LEFT, RIGHT and CENTER: without a length, the text's own.
template <std::string (*Fn)(std::string_view, int32_t)>
void fn_aligned(CallFrame& f) {
  const std::string_view text = f.text_arg(0);
  const int32_t length = f.count() > 1 ? f.long_arg(1) : static_cast<int32_t>(text.size());
  if (too_long(length)) return f.result_too_long();
  f.out() = Fn(text, length);
  f.result_out();
}

void fn_chr(CallFrame& f) {
  f.out() += static_cast<char>(f.long_arg(0) & 0xFF);
  f.result_out();
}

void fn_deformat(CallFrame& f) {
  f.out() = deformat_picture(f.text_arg(0), f.text_arg(1));
  f.result_out();
}

void fn_format(CallFrame& f) {
  f.out() = format_picture(f.real_arg(0), f.text_arg(1));
  f.result_out();
}

void fn_format_text(CallFrame& f) {
  f.out() = format_picture_text(f.text_arg(0), f.text_arg(1));
  f.result_out();
}

void fn_len(CallFrame& f) {
  f.result_long(static_cast<int32_t>(f.text_arg(0).size()));
}

template <void (*Map)(char*, size_t)>
void fn_case(CallFrame& f) {
  std::string& out = f.out();
  out = f.text_arg(0);
  Map(out.data(), out.size());
  f.result_out();
}

void fn_numeric(CallFrame& f) {
  f.result_long(numeric(f.text_arg(0)) ? 1 : 0);
}

void fn_val(CallFrame& f) {
  const std::string_view text = f.text_arg(0);
  f.result_long(text.empty() ? 0 : static_cast<uint8_t>(text[0]));
}

void fn_choose(CallFrame& f) {
  const int32_t n = f.long_arg(0);
  const int values = f.count() - 1;
  f.result_text(f.text_arg(n >= 1 && n < values ? n : values));
}

void fn_inlist(CallFrame& f) {
  std::string_view items[25];
  const int count = f.count() - 1;
  for (int i = 0; i < count; ++i) items[i] = f.text_arg(i + 1);
  f.result_long(inlist(f.text_arg(0), std::span<const std::string_view>(items, count)));
}

void fn_getini(CallFrame& f) {
  auto arg = [&](int i, size_t limit) {
    return f.count() > i ? f.text_arg(i).substr(0, limit) : std::string_view();
  };
  const std::string_view section = arg(0, 63), key = arg(1, 63), fallback = arg(2, 1023),
                         file = arg(3, 259);
  std::string value = file.empty()
                          ? platform::get_profile_string(section, key, fallback)
                          : platform::get_private_profile_string(section, key, fallback, file);
  value.resize(std::min<size_t>(value.size(), 1023));
  f.out() = std::move(value);
  f.result_out();
}

void fn_match(CallFrame& f) {
  const int32_t mode = f.count() > 2 ? f.long_arg(2) : kMatchWildcard;
  f.result_long(match(f.text_arg(0), f.text_arg(1), mode) ? 1 : 0);
}

// ---- Numbers ----------------------------------------------------------------------------------

// The bytes of memory the system has free, at most 2,147,483,647.
void fn_memory(CallFrame& f) {
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  const double bytes = pages > 0 && page_size > 0 ? double(pages) * double(page_size) : 0;
  f.result_long(static_cast<int32_t>(std::min(bytes, 2147483647.0)));
}

template <double (*Fn)(double)>
void fn_real(CallFrame& f) {
  f.result_real(Fn(f.real_arg(0)));
}

void fn_inrange(CallFrame& f) {
  const double x = f.real_arg(0);
  f.result_long(f.real_arg(1) <= x && x <= f.real_arg(2) ? 1 : 0);
}

void fn_int(CallFrame& f) {
  f.result_long(f.long_arg(0));
}

void fn_random(CallFrame& f) {
  const int32_t low = f.long_arg(0), high = f.long_arg(1);
  if (low == high) return f.result_long(low);
  const uint32_t r1 = RANDOM(), r2 = RANDOM(), r3 = RANDOM();
  uint32_t v = (r1 << 30) + (r2 << 15) + r3;
  const uint32_t n = static_cast<uint32_t>(high) - static_cast<uint32_t>(low) + 1;
  if (n != 0) v %= n;
  f.result_long(static_cast<int32_t>(static_cast<uint32_t>(low) + v));
}

// Rounds to the decimal magnitude of `order` (0.05 rounds to hundredths), halves away from zero.
// A unit below 1 multiplies and divides by its exact inverse power of ten, which keeps values
// such as 1.235 from falling just short of the half.
void fn_round(CallFrame& f) {
  const double x = f.real_arg(0), order = f.real_arg(1);
  if (x == 0 || order == 0) return f.result_real(0);
  if (order < 0 || !std::isfinite(order)) return f.result_real(x);
  const double e = std::floor(std::log10(order));
  const auto away = [](double t) { return std::trunc(t + (t < 0 ? -0.5 : 0.5)); };
  if (e < 0) {
    const double scale = std::pow(10.0, -e);
    f.result_real(away(x * scale) / scale);
  } else {
    const double unit = std::pow(10.0, e);
    f.result_real(away(x / unit) * unit);
  }
}

double loge(double x) {
  return std::log(x);
}
double log_10(double x) {
  return std::log10(x);
}
double absolute(double x) {
  return std::fabs(x);
}
double square_root(double x) {
  return std::sqrt(x);
}
double sine(double x) {
  return std::sin(x);
}
double cosine(double x) {
  return std::cos(x);
}
double tangent(double x) {
  return std::tan(x);
}
double arc_sine(double x) {
  return std::asin(x);
}
double arc_cosine(double x) {
  return std::acos(x);
}
double arc_tangent(double x) {
  return std::atan(x);
}

void fn_band(CallFrame& f) {
  f.result_long(f.long_arg(0) & f.long_arg(1));
}
void fn_bor(CallFrame& f) {
  f.result_long(f.long_arg(0) | f.long_arg(1));
}
void fn_bxor(CallFrame& f) {
  f.result_long(f.long_arg(0) ^ f.long_arg(1));
}

void fn_bshift(CallFrame& f) {
  const uint32_t value = static_cast<uint32_t>(f.long_arg(0));
  const int32_t count = f.long_arg(1);
  uint32_t result = 0;
  if (count >= 0 && count < 32) {
    result = value << count;
  } else if (count < 0 && count >= -31) {
    result = value >> -count;
  }
  f.result_long(static_cast<int32_t>(result));
}

void fn_null(CallFrame& f) {
  f.result_long(f.long_arg(0) == 0 ? 1 : 0);
}

// ---- Dates ------------------------------------------------------------------------------------

void fn_today(CallFrame& f) {
  f.result_long(TODAY());
}
void fn_clock(CallFrame& f) {
  f.result_long(CLOCK());
}
void fn_date(CallFrame& f) {
  f.result_long(DATE(f.long_arg(0), f.long_arg(1), f.long_arg(2)));
}
void fn_day(CallFrame& f) {
  f.result_long(DAY(f.long_arg(0)));
}
void fn_month(CallFrame& f) {
  f.result_long(MONTH(f.long_arg(0)));
}
void fn_year(CallFrame& f) {
  f.result_long(YEAR(f.long_arg(0)));
}

void fn_age(CallFrame& f) {
  f.out() = age_text(f.long_arg(0), f.count() > 1 ? f.long_arg(1) : -1);
  f.result_out();
}

constexpr BuiltinFunction kBuiltins[] = {
    {"MEMORY", 1, 1, 1, "L", 'L', false, fn_memory},
    {"SUB", 2, 3, 3, "TLL", 'T', false, fn_sub},
    {"INSTRING", 3, 2, 4, "TTLL", 'L', false, fn_instring},
    {"CLIP", 4, 1, 1, "T", 'T', false, fn_clip},
    {"ALL", 5, 1, 2, "TL", 'T', false, fn_all},
    {"CENTER", 6, 1, 2, "TL", 'T', false, fn_aligned<center>},
    {"CHR", 7, 1, 1, "L", 'T', false, fn_chr},
    {"DEFORMAT", 8, 2, 2, "TT", 'T', false, fn_deformat},
    {"FORMAT", kFormatNumber, 2, 2, "RT", 'T', false, fn_format},
    {"LEFT", 10, 1, 2, "TL", 'T', false, fn_aligned<left>},
    {"LEN", 11, 1, 1, "T", 'L', false, fn_len},
    {"LOWER", 12, 1, 1, "T", 'T', false, fn_case<to_lower>},
    {"NUMERIC", 13, 1, 1, "T", 'L', false, fn_numeric},
    {"RIGHT", 14, 1, 2, "TL", 'T', false, fn_aligned<right>},
    {"UPPER", 15, 1, 1, "T", 'T', false, fn_case<to_upper>},
    {"VAL", 16, 1, 1, "T", 'L', false, fn_val},
    {"ABS", 17, 1, 1, "R", 'R', false, fn_real<absolute>, absolute},
    {"INRANGE", 18, 3, 3, "RRR", 'L', false, fn_inrange},
    {"INT", 19, 1, 1, "L", 'L', false, fn_int},
    {"LOGE", 20, 1, 1, "R", 'R', false, fn_real<loge>, loge},
    {"LOG10", 21, 1, 1, "R", 'R', false, fn_real<log_10>, log_10},
    {"RANDOM", 22, 2, 2, "LL", 'L', false, fn_random},
    {"ROUND", 23, 2, 2, "RR", 'R', false, fn_round},
    {"SQRT", 24, 1, 1, "R", 'R', false, fn_real<square_root>, square_root},
    {"SIN", 25, 1, 1, "R", 'R', false, fn_real<sine>, sine},
    {"COS", 26, 1, 1, "R", 'R', false, fn_real<cosine>, cosine},
    {"TAN", 27, 1, 1, "R", 'R', false, fn_real<tangent>, tangent},
    {"ASIN", 28, 1, 1, "R", 'R', false, fn_real<arc_sine>, arc_sine},
    {"ACOS", 29, 1, 1, "R", 'R', false, fn_real<arc_cosine>, arc_cosine},
    {"ATAN", 30, 1, 1, "R", 'R', false, fn_real<arc_tangent>, arc_tangent},
    {"BAND", 31, 2, 2, "LL", 'L', false, fn_band},
    {"BOR", 32, 2, 2, "LL", 'L', false, fn_bor},
    {"BXOR", 33, 2, 2, "LL", 'L', false, fn_bxor},
    {"BSHIFT", 34, 2, 2, "LL", 'L', false, fn_bshift},
    {"TODAY", 35, 0, 0, "", 'L', false, fn_today},
    {"CLOCK", 36, 0, 0, "", 'L', false, fn_clock},
    {"DATE", 37, 3, 3, "LLL", 'L', false, fn_date},
    {"DAY", 38, 1, 1, "L", 'L', false, fn_day},
    {"MONTH", 39, 1, 1, "L", 'L', false, fn_month},
    {"YEAR", 40, 1, 1, "L", 'L', false, fn_year},
    {"AGE", 41, 1, 2, "LL", 'T', false, fn_age},
    {"CHOOSE", 42, 2, 25, "LT", 'T', true, fn_choose},
    {"INLIST", 43, 2, 25, "TT", 'L', true, fn_inlist},
    {"GETINI", 44, 2, 4, "TTTT", 'T', false, fn_getini},
    {"MATCH", 45, 2, 3, "TTL", 'L', false, fn_match},
    {"NULL", 46, 1, 1, "L", 'L', false, fn_null},
    {nullptr, kFormatTextNumber, 2, 2, "TT", 'T', false, fn_format_text},
};

}  // namespace

std::span<const BuiltinFunction> builtin_functions() {
  return kBuiltins;
}

const BuiltinFunction& builtin_function(int32_t number) {
  return kBuiltins[number - 1];
}

}  // namespace vtn::eval
