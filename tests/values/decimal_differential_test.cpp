// The decimal stack against its former digit-by-digit self (decimal_reference.hpp), on millions of
// random operations: every load (DECIMAL and PDECIMAL fields of every size and place count, with
// stray nibbles and every sign nibble; LONG, REAL, text and values written through entry()),
// every operation and every store, with each result, each popped field's bytes and now and then
// the top entry's digits, lo, hi and sign compared. The operands lean toward the edges: zero and
// negative zero, 31 nines, carries across every position, mixed scales, results that round at the
// 31st place and values at the top of the working value.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/values/decimal.hpp"
#include "support/differential_cases.hpp"
#include "values/decimal_reference.hpp"

namespace vtn {
namespace {

namespace ref = reference_decimal;

std::string show(const DecimalValue& v) {
  std::string s = v.sign ? "-" : "+";
  for (int i = v.hi; i >= v.lo; --i) {
    s += static_cast<char>('0' + v.digit[i]);
    if (i == 32 && i != v.lo) s += '.';
  }
  return s + " lo " + std::to_string(v.lo) + " hi " + std::to_string(v.hi);
}

bool same(const DecimalValue& a, const DecimalValue& b) {
  return a.sign == b.sign && a.lo == b.lo && a.hi == b.hi &&
         std::memcmp(a.digit + a.lo, b.digit + b.lo, a.hi - a.lo + 1) == 0;
}

std::string hex(const uint8_t* bytes, uint32_t n) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (uint32_t i = 0; i < n; ++i) {
    s += kHex[bytes[i] >> 4];
    s += kHex[bytes[i] & 0xF];
  }
  return s;
}

constexpr uint32_t kMaxFieldBytes = 40;

struct Field {
  uint32_t bytes = 16;
  uint32_t places = 15;
  bool pdecimal = false;
  uint8_t storage[kMaxFieldBytes] = {};
};

struct Generator {
  std::mt19937_64 random;
  Field geometry;  // the field shape most operands share, as in a program's statements

  explicit Generator(uint64_t seed) : random(seed) {}

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

  // Mostly 16-byte DECIMAL(31, p) fields; also every size up to 16 bytes and any places, fields
  // larger than a working value or with more places than it has.
  void new_geometry() {
    const int shape = below(10);
    Field& g = geometry;
    g.pdecimal = below(3) == 0;
    if (shape < 5) {
      g.bytes = 16;
      g.places = static_cast<uint32_t>(below(32));
    } else if (shape < 8) {
      g.bytes = static_cast<uint32_t>(1 + below(16));
      g.places = static_cast<uint32_t>(below(std::min<int>(2 * g.bytes, 33)));
    } else if (shape == 8) {
      g.bytes = static_cast<uint32_t>(1 + below(kMaxFieldBytes));
      g.places = static_cast<uint32_t>(below(70));
    } else {
      g.bytes = static_cast<uint32_t>(below(3));
      g.places = below(3) == 0 ? 4000000000u : static_cast<uint32_t>(below(70));
    }
  }

  // Digits in one of several styles: any, mostly nines, mostly zeros, sparse, all nines, or a
  // run of nines above zeros (carries across every position).
  void digits(uint8_t* d, int n) {
    const int style = below(6);
    const int run = below(n + 1);
    for (int i = 0; i < n; ++i) {
      int x = below(10);
      if (style == 1 && below(4) != 0) x = 9;
      if (style == 2 && below(4) != 0) x = 0;
      if (style == 3 && below(8) != 0) x = 0;
      if (style == 4) x = 9;
      if (style == 5) x = i < run ? 0 : 9;
      d[i] = static_cast<uint8_t>(x);
    }
  }

  Field field() {
    if (below(8) == 0) new_geometry();
    Field f = geometry;
    const int count = 2 * static_cast<int>(f.bytes) - 1;
    uint8_t d[2 * kMaxFieldBytes];
    digits(d, count);
    const int first = f.pdecimal ? 0 : 1;
    const int leading = below(4) == 0 ? below(count + 1) : 0;  // short values in wide fields
    for (int k = 0; k < count; ++k) {
      const int n = first + k;
      uint8_t nibble = k < leading ? 0 : d[k];
      if (below(200) == 0) nibble = static_cast<uint8_t>(10 + below(6));  // no digit: reads 0
      f.storage[n / 2] = static_cast<uint8_t>(n % 2 == 0 ? (f.storage[n / 2] & 0x0F) | nibble << 4
                                                         : (f.storage[n / 2] & 0xF0) | nibble);
    }
    // The sign nibble: mostly plus or minus, now and then anything.
    const uint8_t sign = static_cast<uint8_t>(below(8) == 0 ? below(16) : below(2));
    if (f.bytes > 0) {
      if (f.pdecimal) {
        const uint8_t nibble = sign < 2 ? (sign ? 0x0D : 0x0F) : sign;
        f.storage[f.bytes - 1] = static_cast<uint8_t>((f.storage[f.bytes - 1] & 0xF0) | nibble);
      } else {
        const uint8_t nibble = sign < 2 ? (sign ? 0x0F : 0x00) : sign;
        f.storage[0] = static_cast<uint8_t>((f.storage[0] & 0x0F) | nibble << 4);
      }
    }
    return f;
  }

  // A working value as a caller may write it through entry(): any lo and hi, stale bytes
  // outside them, leading zeros, all-zero values with the sign set.
  DecimalValue value() {
    DecimalValue v;
    for (int w = 0; w < 8; ++w) {
      const uint64_t stale = random();
      std::memcpy(v.digit + 8 * w, &stale, 8);
    }
    if (below(20) == 0) {
      ref::set_zero(v);
      v.sign = static_cast<uint8_t>(below(2));
      return v;
    }
    const int lo = below(64);
    const int hi = lo + below(64 - lo);
    digits(v.digit + lo, hi - lo + 1);
    v.lo = static_cast<uint8_t>(lo);
    v.hi = static_cast<uint8_t>(hi);
    v.sign = static_cast<uint8_t>(below(2));
    if (below(4) != 0) ref::trim_high(v);
    return v;
  }

  int32_t long_value() {
    static constexpr int32_t kEdges[] = {0, 1, -1, 9, -10, 2147483647, -2147483647 - 1};
    if (below(4) == 0) return kEdges[below(7)];
    return static_cast<int32_t>(random() >> below(64));
  }

  std::string text() {
    std::string t = below(2) == 0 ? "-" : "";
    const int integer = below(36);
    const int fraction = below(36);
    uint8_t d[72];
    digits(d, integer + fraction);
    for (int i = 0; i < integer; ++i) t += static_cast<char>('0' + d[i]);
    if (fraction > 0) t += '.';
    for (int i = 0; i < fraction; ++i) t += static_cast<char>('0' + d[integer + i]);
    if (below(6) == 0) t += "e" + std::to_string(below(80) - 40);
    return t;
  }

  double real() {
    const double mantissa = std::uniform_real_distribution<double>(-10, 10)(random);
    return std::ldexp(mantissa, below(240) - 140);
  }
};

// The stack and the reference side by side; every step is written to a trace for the report of
// a disagreement.
class Harness {
 public:
  explicit Harness(uint64_t seed) : g(seed) { stack().clear(); }

  Generator g;
  std::vector<DecimalValue> model;
  std::string trace;

  static DecimalStack& stack() { return decimal_stack(); }
  int depth() const { return static_cast<int>(model.size()); }

  void note(const std::string& step) {
    trace += step;
    trace += '\n';
  }

  void push_field(const Field& f) {
    note(std::string(f.pdecimal ? "push PDECIMAL(" : "push DECIMAL(") + std::to_string(f.bytes) +
         "," + std::to_string(f.places) + ") " + hex(f.storage, f.bytes));
    DecimalValue v;
    if (f.pdecimal) {
      stack().push_pdecimal(f.storage, f.bytes, f.places);
      ref::push_pdecimal(v, f.storage, f.bytes, f.places);
    } else {
      stack().push_decimal(f.storage, f.bytes, f.places);
      ref::push_decimal(v, f.storage, f.bytes, f.places);
    }
    model.push_back(v);
  }

  void push_value(const DecimalValue& v) {
    note("push value " + show(v));
    stack().push_long(0);
    stack().entry(1) = v;
    model.push_back(v);
  }

  void push_long(int32_t n) {
    note("push LONG " + std::to_string(n));
    stack().push_long(n);
    DecimalValue v;
    ref::push_unsigned(v, n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n));
    v.sign = n < 0 ? 1 : 0;
    model.push_back(v);
  }

  void push_ulong(uint32_t n) {
    note("push ULONG " + std::to_string(n));
    stack().push_ulong(n);
    DecimalValue v;
    ref::push_unsigned(v, n);
    model.push_back(v);
  }

  // Text and REAL are read into the digit form as before; a stack of its own gives the
  // reference's value.
  void push_text(const std::string& text) {
    note("push text " + text);
    stack().push_text(text);
    DecimalStack reader;
    reader.push_text(text);
    model.push_back(reader.entry(1));
  }

  void push_real(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    note(std::string("push REAL ") + text);
    stack().push_real(value);
    DecimalStack reader;
    reader.push_real(value);
    model.push_back(reader.entry(1));
  }

  void push_any() {
    const int kind = g.below(16);
    if (kind < 10) {
      push_field(g.field());
    } else if (kind == 10) {
      push_value(g.value());
    } else if (kind == 11) {
      push_long(g.long_value());
    } else if (kind == 12) {
      push_ulong(static_cast<uint32_t>(g.long_value()));
    } else if (kind < 15) {
      push_text(g.text());
    } else {
      push_real(g.real());
    }
  }

  // The reference's negation, as the stack's.
  static void negate(DecimalValue& v) { v.sign = ref::is_zero(v) ? 0 : v.sign ^ 1; }

  enum class Op { kAdd, kSubtract, kReverseSubtract, kMultiply, kDivide, kCount };

  void binary(Op op) {
    DecimalValue& a = model[model.size() - 2];
    DecimalValue& b = model.back();
    switch (op) {
      case Op::kAdd:
        note("add");
        stack().add();
        ref::add(a, b);
        break;
      case Op::kSubtract:
        note("subtract");
        stack().subtract();
        negate(b);
        ref::add(a, b);
        break;
      case Op::kReverseSubtract:
        note("reverse subtract");
        stack().reverse_subtract();
        if (!ref::is_zero(a)) a.sign ^= 1;
        ref::add(a, b);
        break;
      case Op::kMultiply:
        note("multiply");
        stack().multiply();
        ref::multiply(a, b);
        break;
      default:
        note("divide");
        stack().divide();
        ref::divide(a, b);
        break;
    }
    model.pop_back();
  }

  void compare() {
    const bool reversed = g.below(2) == 0;
    note(reversed ? "compare reversed" : "compare");
    const int expected = ref::compare(model[model.size() - 2], model.back());
    const int actual = reversed ? -stack().compare_reversed() : stack().compare();
    model.resize(model.size() - 2);
    ASSERT_EQ(actual, expected) << trace;
  }

  void unary() {
    DecimalValue& v = model.back();
    switch (g.below(5)) {
      case 0: {
        note("negate");
        stack().negate();
        negate(v);
        break;
      }
      case 1:
        note("absolute");
        stack().absolute();
        v.sign = 0;
        break;
      case 2: {
        const int32_t places = g.below(80) - 40;
        note("round " + std::to_string(places));
        stack().round(places);
        ref::round_places(v, places);
        break;
      }
      case 3: {
        const int32_t n = g.below(4) == 0 ? g.below(200) - 100 : g.below(20) - 10;
        note("power of ten " + std::to_string(n));
        stack().power_of_ten(n);
        ref::scale_by_power_of_ten(v, n);
        break;
      }
      default: {
        note("test sign");
        const int expected = ref::is_zero(v) ? 0 : (v.sign ? -1 : 1);
        model.pop_back();
        ASSERT_EQ(stack().test_sign(), expected) << trace;
        break;
      }
    }
  }

  void pop_any() {
    const DecimalValue v = model.back();
    model.pop_back();
    switch (g.below(8)) {
      case 0: {
        note("pop LONG");
        ASSERT_EQ(stack().pop_long(), ref::pop_long(v)) << trace;
        break;
      }
      case 1: {
        note("pop REAL");
        const double expected = ref::pop_real(v);
        const double actual = stack().pop_real();
        ASSERT_EQ(std::bit_cast<uint64_t>(actual), std::bit_cast<uint64_t>(expected))
            << actual << " vs " << expected << "\n"
            << trace;
        break;
      }
      case 2:
        note("pop text");
        ASSERT_EQ(stack().pop_text(), ref::pop_text(v)) << trace;
        break;
      case 3: {
        note("pop digits");
        const DecimalDigits expected = ref::pop_digits(v);
        const DecimalDigits actual = stack().pop_digits();
        ASSERT_EQ(actual.digits, expected.digits) << trace;
        ASSERT_EQ(actual.integer_digits, expected.integer_digits) << trace;
        ASSERT_EQ(actual.negative, expected.negative) << trace;
        break;
      }
      default:
        ASSERT_NO_FATAL_FAILURE(pop_into(g.below(4) == 0 ? g.field() : g.geometry, v));
        break;
    }
  }

  // Pops the top (whose value the reference holds as v) into a field of f's shape, over stale
  // bytes.
  void pop_into(Field f, const DecimalValue& v) {
    for (uint8_t& b : f.storage) b = static_cast<uint8_t>(g.random());
    Field expected = f;
    note(std::string(f.pdecimal ? "pop PDECIMAL(" : "pop DECIMAL(") + std::to_string(f.bytes) +
         "," + std::to_string(f.places) + ") of " + show(v));
    if (f.pdecimal) {
      stack().pop_pdecimal(f.storage, f.bytes, f.places);
      ref::pop_pdecimal(v, expected.storage, f.bytes, f.places);
    } else {
      stack().pop_decimal(f.storage, f.bytes, f.places);
      ref::pop_decimal(v, expected.storage, f.bytes, f.places);
    }
    ASSERT_EQ(hex(f.storage, kMaxFieldBytes), hex(expected.storage, kMaxFieldBytes)) << trace;
  }

  void check_top() {
    if (model.empty()) return;
    const DecimalValue& actual = stack().entry(1);
    ASSERT_TRUE(same(actual, model.back()))
        << "top " << show(actual) << "\n expected " << show(model.back()) << "\n"
        << trace;
  }
};

// Statements as a program runs them: two loads, an operation and a store, mostly on fields of
// one shape.
TEST(DecimalDifferential, StatementsAgreeWithTheFormerStack) {
  Harness h(31415926);
  const int64_t cases = testing::differential_cases(2'000'000);
  for (int64_t i = 0; i < cases; ++i) {
    h.trace.clear();
    if (h.g.below(4) == 0) {
      h.push_any();
    } else {
      h.push_field(h.g.field());
    }
    if (h.g.below(4) == 0) {
      h.push_any();
    } else {
      h.push_field(h.g.field());
    }
    const int op = h.g.below(12);
    if (op < 10) {
      h.binary(static_cast<Harness::Op>(op % static_cast<int>(Harness::Op::kCount)));
      if (h.g.below(8) == 0) {
        ASSERT_NO_FATAL_FAILURE(h.check_top());
      }
      ASSERT_NO_FATAL_FAILURE(h.pop_any());
    } else {
      ASSERT_NO_FATAL_FAILURE(h.compare());
    }
    ASSERT_EQ(Harness::stack().depth(), 0);
  }
}

// Longer programs on a stack up to its full depth, mixing every load, operation and store.
TEST(DecimalDifferential, ProgramsAgreeWithTheFormerStack) {
  Harness h(27182818);
  const int64_t programs = testing::differential_cases(100'000);
  for (int64_t p = 0; p < programs; ++p) {
    h.trace.clear();
    for (int step = 0; step < 30; ++step) {
      const int depth = h.depth();
      const int choice = h.g.below(10);
      if (depth < DecimalStack::kCapacity && (depth == 0 || choice < 4)) {
        h.push_any();
      } else if (depth >= 2 && choice < 7) {
        h.binary(static_cast<Harness::Op>(h.g.below(static_cast<int>(Harness::Op::kCount))));
      } else if (depth >= 2 && choice == 7) {
        ASSERT_NO_FATAL_FAILURE(h.compare());
      } else if (choice < 9) {
        ASSERT_NO_FATAL_FAILURE(h.unary());
      } else {
        ASSERT_NO_FATAL_FAILURE(h.pop_any());
      }
      if (h.g.below(6) == 0) {
        ASSERT_NO_FATAL_FAILURE(h.check_top());
      }
      ASSERT_EQ(Harness::stack().depth(), h.depth()) << h.trace;
    }
    while (h.depth() > 0) ASSERT_NO_FATAL_FAILURE(h.pop_any());
  }
}

// The result of each operation on two fields stored into fields of every size up to 16 bytes and
// every place count up to 32: a product or quotient cut and rounded at every decimal place, sums
// shifted into wider fields, digits dropped above narrow ones.
TEST(DecimalDifferential, ResultsStoreIntoEveryFieldAsBefore) {
  Harness h(16180339);
  const int64_t pairs = testing::differential_cases(10'000);
  for (int64_t i = 0; i < pairs; ++i) {
    if (h.g.below(4) == 0) h.g.new_geometry();
    const Field a = h.g.field();
    const Field b = h.g.field();
    const auto op = static_cast<Harness::Op>(h.g.below(static_cast<int>(Harness::Op::kCount)));
    for (uint32_t places = 0; places <= 32; ++places) {
      Field target;
      target.places = places;
      target.pdecimal = h.g.below(3) == 0;
      for (const uint32_t bytes : {16u, static_cast<uint32_t>(1 + h.g.below(16))}) {
        target.bytes = bytes;
        h.trace.clear();
        h.push_field(a);
        h.push_field(b);
        h.binary(op);
        const DecimalValue v = h.model.back();
        h.model.pop_back();
        ASSERT_NO_FATAL_FAILURE(h.pop_into(target, v));
      }
    }
  }
}

// Every pair of edge operands through every operation and every kind of store.
TEST(DecimalDifferential, EdgeOperandsAgreeWithTheFormerStack) {
  const std::vector<std::string> edges = {
      "0",
      "1",
      "-1",
      "0.5",
      "-2.5",
      "9999999999999999.999999999999999",
      "-9999999999999999.999999999999999",
      "99999999999999999999999999999999",
      "99999999999999999999999999999999.99999999999999999999999999999999",
      "0.00000000000000000000000000000001",
      "0.00000000000000000000000000000005",
      "0.0000000000000000000000000000001",
      "10000000000000000000000000000000",
      "1000000000000000.000000000000001",
      "3",
      "7",
      "0.3333333333333333333333333333333",
      "1e31",
      "5e-32",
      "123456789012345678901.2345678901",
  };
  Harness h(11235813);
  for (const std::string& a : edges) {
    for (const std::string& b : edges) {
      for (int op = 0; op <= static_cast<int>(Harness::Op::kCount); ++op) {
        for (int store = 0; store < 8; ++store) {
          h.trace.clear();
          h.push_text(a);
          h.push_text(b);
          if (op == static_cast<int>(Harness::Op::kCount)) {
            ASSERT_NO_FATAL_FAILURE(h.compare());
            continue;
          }
          h.binary(static_cast<Harness::Op>(op));
          ASSERT_NO_FATAL_FAILURE(h.check_top());
          ASSERT_NO_FATAL_FAILURE(h.pop_any());
        }
      }
    }
  }
  // Negative zero written through entry(), and a DECIMAL minus zero, against every edge.
  for (const std::string& b : edges) {
    DecimalValue negative_zero;
    ref::set_zero(negative_zero);
    negative_zero.sign = 1;
    Field minus_zero;
    minus_zero.storage[0] = 0xF0;
    for (int op = 0; op < static_cast<int>(Harness::Op::kCount); ++op) {
      h.trace.clear();
      h.push_value(negative_zero);
      h.push_text(b);
      h.binary(static_cast<Harness::Op>(op));
      ASSERT_NO_FATAL_FAILURE(h.check_top());
      ASSERT_NO_FATAL_FAILURE(h.pop_any());
      h.push_text(b);
      h.push_field(minus_zero);
      h.binary(static_cast<Harness::Op>(op));
      ASSERT_NO_FATAL_FAILURE(h.pop_any());
    }
  }
  // The same edges as 16-byte fields of 0, 15 and 31 places (their digits as such a field keeps
  // them), which the stack works on straight from the packed digits, with the extra edges of
  // that form: carries across its two words and minus zero.
  std::vector<std::string> field_edges = edges;
  for (const char* more : {"9999999999999999", "10000000000000000", "0.9999999999999999", "-0"}) {
    field_edges.push_back(more);
  }
  for (const uint32_t places : {0u, 15u, 31u}) {
    std::vector<Field> fields;
    for (const std::string& text : field_edges) {
      for (const bool pdecimal : {false, true}) {
        Field f;
        f.places = places;
        f.pdecimal = pdecimal;
        DecimalStack reader;
        reader.push_text(text);
        (pdecimal ? ref::pop_pdecimal : ref::pop_decimal)(reader.entry(1), f.storage, f.bytes,
                                                          places);
        if (text == "-0" && pdecimal) f.storage[f.bytes - 1] = 0x0D;
        if (text == "-0" && !pdecimal) f.storage[0] = 0xF0;
        fields.push_back(f);
      }
    }
    for (const Field& a : fields) {
      for (const Field& b : fields) {
        for (int op = 0; op < static_cast<int>(Harness::Op::kCount); ++op) {
          h.trace.clear();
          h.push_field(a);
          h.push_field(b);
          h.binary(static_cast<Harness::Op>(op));
          if (h.g.below(4) == 0) {
            ASSERT_NO_FATAL_FAILURE(h.check_top());
          }
          ASSERT_NO_FATAL_FAILURE(h.pop_into(h.g.below(2) == 0 ? a : h.g.field(), h.model.back()));
          h.model.pop_back();
        }
      }
    }
  }
}

}  // namespace
}  // namespace vtn
