// INSTRING against its former search (a skip-table search for long texts, a first-byte search
// otherwise, and a candidate-by-candidate loop for other steps), kept here as the reference: the
// same position for every needle, text, step and start, on random inputs, on every short text
// shape that the inline and short searches meet, and on texts that end right before (or start
// right after) a page that may not be read, through both instantiations of the searches (the
// AVX-512 one where the processor has the instructions) and through both faces of INSTRING.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "runtime/values/string_functions.hpp"
#include "runtime/values/string_stack.hpp"
#include "runtime/values/substring_search.hpp"
#include "support/differential_cases.hpp"

namespace vtn {
namespace {

namespace reference {

constexpr size_t kSkipTableMinNeedle = 5;
constexpr size_t kSkipTableMinText = 257;
constexpr size_t kMaxSkip = 255;

size_t skip_table_search(std::string_view needle, std::string_view text, size_t from) {
  const size_t m = needle.size();
  std::array<uint8_t, 256> skip;
  skip.fill(static_cast<uint8_t>(std::min(m, kMaxSkip)));
  for (size_t i = 0; i + 1 < m; ++i) {
    skip[static_cast<uint8_t>(needle[i])] = static_cast<uint8_t>(std::min(m - 1 - i, kMaxSkip));
  }
  const char last = needle[m - 1];
  for (size_t pos = from; pos + m <= text.size();) {
    const char c = text[pos + m - 1];
    if (c == last && std::memcmp(text.data() + pos, needle.data(), m - 1) == 0) return pos;
    pos += skip[static_cast<uint8_t>(c)];
  }
  return std::string_view::npos;
}

size_t first_char_search(std::string_view needle, std::string_view text, size_t from) {
  const size_t last_start = text.size() - needle.size();
  for (size_t pos = from; pos <= last_start;) {
    const void* hit = std::memchr(text.data() + pos, needle[0], last_start - pos + 1);
    if (hit == nullptr) break;
    pos = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    if (std::memcmp(text.data() + pos + 1, needle.data() + 1, needle.size() - 1) == 0) return pos;
    ++pos;
  }
  return std::string_view::npos;
}

bool occurs_at(std::string_view needle, std::string_view text, size_t pos) {
  return text[pos] == needle[0] &&
         std::memcmp(text.data() + pos, needle.data(), needle.size()) == 0;
}

int32_t in_steps(size_t position, int64_t step) {
  return static_cast<int32_t>(static_cast<int64_t>(position) / step + 1);
}

int32_t instring(std::string_view needle, std::string_view text, int32_t step, int32_t start) {
  const size_t m = needle.size();
  if (m == 0 || start < 1) return 0;
  const int64_t stride = step == 0 ? static_cast<int64_t>(m) : step;
  const size_t from = static_cast<size_t>(start) - 1;
  if (stride < 0) {
    if (m > text.size()) return 0;
    const int64_t back = -stride;
    const auto last = static_cast<int64_t>(text.size() - m);
    auto pos = static_cast<int64_t>(from);
    if (pos > last) pos -= (pos - last + back - 1) / back * back;
    for (; pos >= 0; pos -= back) {
      const auto p = static_cast<size_t>(pos);
      if (occurs_at(needle, text, p)) return in_steps(p, back);
    }
    return 0;
  }
  if (from >= text.size() || m > text.size() - from) return 0;
  if (stride == 1) {
    size_t found = std::string_view::npos;
    if (m == 1) {
      const void* hit = std::memchr(text.data() + from, needle[0], text.size() - from);
      if (hit != nullptr) found = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    } else if (m >= kSkipTableMinNeedle && text.size() >= kSkipTableMinText) {
      found = skip_table_search(needle, text, from);
    } else {
      found = first_char_search(needle, text, from);
    }
    return found == std::string_view::npos ? 0 : static_cast<int32_t>(found + 1);
  }
  for (size_t pos = from; pos + m <= text.size(); pos += static_cast<size_t>(stride)) {
    if (occurs_at(needle, text, pos)) return in_steps(pos, stride);
  }
  return 0;
}

}  // namespace reference

// Texts over a small alphabet, so that needles occur often, partly and at every alignment;
// needles are mostly cut from the text itself, sometimes altered in one byte.
struct Generator {
  std::mt19937_64 random{20261207};

  size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); }

  // Eight bytes from each draw: making the texts is most of this test's work.
  std::string text(size_t size, int alphabet) {
    std::string t(size, ' ');
    uint64_t bits = 0;
    for (size_t i = 0; i < size; ++i) {
      if (i % 8 == 0) bits = random();
      const auto byte = static_cast<uint8_t>(bits >> (8 * (i % 8)));
      t[i] = static_cast<char>(alphabet == 256 ? byte : 'a' + byte % alphabet);
    }
    return t;
  }

  std::string needle(const std::string& text, int alphabet) {
    const size_t m = 1 + below(below(4) == 0 ? 40 : 9);
    if (text.size() < m || below(5) == 0) return this->text(m, alphabet);
    std::string n = text.substr(below(text.size() - m + 1), m);
    if (below(3) == 0)
      n[below(m)] = static_cast<char>('a' + below(alphabet == 256 ? 26 : alphabet));
    return n;
  }
};

// Runs `check` once with each instantiation of the searches: sixteen bytes at a time, and (where
// the processor has the instructions) the masked reads of the AVX-512 byte instructions.
template <typename Check>
void in_both_instantiations(Check check) {
  for (const bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "wide" : "sixteen bytes at a time");
    const bool former = search_detail::use_wide_search(wide);
    check();
    search_detail::use_wide_search(former);
  }
}

// INSTRING through the stack: the needle on top of the text, both borrowed.
int32_t instring_on_stack(std::string_view needle, std::string_view text, int32_t step,
                          int32_t start) {
  string_stack().push_borrowed(text);
  string_stack().push_borrowed(needle);
  return INSTRING(step, start);
}

void random_inputs_agree(int64_t cases) {
  Generator g;
  constexpr int kAlphabets[] = {2, 3, 4, 26, 256};
  constexpr size_t kSizes[] = {0, 1, 7, 16, 17, 31, 40, 64, 100, 256, 257, 300, 1000, 5000};
  for (int64_t i = 0; i < cases; ++i) {
    const int alphabet = kAlphabets[g.below(std::size(kAlphabets))];
    const size_t size = kSizes[g.below(std::size(kSizes))] + g.below(3);
    const std::string text = g.text(size, alphabet);
    const std::string needle = g.needle(text, alphabet);
    int32_t step = 1;
    if (g.below(3) == 0) step = static_cast<int32_t>(g.below(13)) - 6;
    const int32_t start = g.below(2) == 0 ? 1 : static_cast<int32_t>(g.below(size + 6)) - 2;
    const int32_t expected = reference::instring(needle, text, step, start);
    for (const bool wide : {false, true}) {
      search_detail::use_wide_search(wide);
      const int32_t actual = i % 4 == 0 ? instring_on_stack(needle, text, step, start)
                                        : instring(needle, text, step, start);
      ASSERT_EQ(actual, expected) << "case " << i << (wide ? ", wide" : "") << ": needle \""
                                  << needle << "\" text \"" << text << "\" step " << step
                                  << " start " << start;
    }
  }
}

TEST(InstringDifferential, AgreesWithTheFormerSearchOnRandomInputs) {
  // Each input through both instantiations of the searches.
  const bool former = search_detail::use_wide_search(true);
  random_inputs_agree(testing::differential_cases(2'000'000));
  search_detail::use_wide_search(former);
}

// Every text of up to 80 bytes and every needle of up to 20 (twice the word compares), planted at
// every position or nowhere, in texts of two letters or of zero bytes and 0xFF (which must not be
// mistaken for the bytes past the end that a short read leaves zero), from several starts: the
// inline search for one byte, the short search over a few blocks, the two word compares and the
// exact read of a text shorter than a block all meet their edges here.
void every_short_text_shape_agrees() {
  std::mt19937_64 random(31415926);
  const auto byte_of = [&](bool binary) {
    const uint64_t bit = random() & 1;
    return static_cast<char>(binary ? (bit != 0 ? '\xFF' : '\0') : (bit != 0 ? 'b' : 'a'));
  };
  int64_t compared = 0;
  for (size_t size = 1; size <= 80; ++size) {
    for (size_t m = 1; m <= 20 && m <= size; ++m) {
      for (size_t at = 0; at <= size - m + 1; ++at) {  // size - m + 1: not planted
        const bool binary = (size + m + at) % 3 == 0;
        std::string text(size, ' ');
        for (char& c : text) c = byte_of(binary);
        std::string needle(m, ' ');
        for (char& c : needle) c = byte_of(binary);
        if (at + m <= size) text.replace(at, m, needle);
        for (const int32_t start :
             {1, 2, static_cast<int32_t>(at) + 1, static_cast<int32_t>(size)}) {
          ASSERT_EQ(instring(needle, text, 1, start), reference::instring(needle, text, 1, start))
              << "needle of " << m << " at " << at << " in " << size << " from " << start;
          ++compared;
        }
      }
    }
  }
  EXPECT_GT(compared, 100000);
}

TEST(InstringDifferential, AgreesOnEveryShortTextShape) {
  in_both_instantiations(every_short_text_shape_agrees);
}

// Two readable pages with an unreadable one on each side: a text placed at the very end of the
// readable ones, or at their very start, makes any read past its end or before its start fault.
class GuardedPages {
 public:
  GuardedPages() {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* base =
        mmap(nullptr, 4 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return;
    base_ = static_cast<char*>(base);
    if (mprotect(base_, page_, PROT_NONE) != 0 ||
        mprotect(base_ + 3 * page_, page_, PROT_NONE) != 0) {
      munmap(base_, 4 * page_);
      base_ = nullptr;
    }
  }
  ~GuardedPages() {
    if (base_ != nullptr) munmap(base_, 4 * page_);
  }
  GuardedPages(const GuardedPages&) = delete;
  GuardedPages& operator=(const GuardedPages&) = delete;

  bool ready() const { return base_ != nullptr; }
  // `text` copied so that it ends right before the unreadable page above, or starts right after
  // the one below.
  std::string_view place(std::string_view text, bool at_end) {
    char* at = at_end ? base_ + 3 * page_ - text.size() : base_ + page_;
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    return {at, text.size()};
  }

 private:
  size_t page_ = 0;
  char* base_ = nullptr;
};

// Every text of up to 80 bytes and every needle of up to 20 against an unreadable page, the
// needle planted at the start, anywhere in the last 20 bytes, or nowhere, and each byte also
// equal to the needle's first so that the searches walk every position up to the edge.
void guarded_texts_agree(GuardedPages& pages) {
  std::mt19937_64 random(27182818);
  int64_t compared = 0;
  for (const bool at_end : {true, false}) {
    for (size_t size = 1; size <= 80; ++size) {
      for (size_t m = 1; m <= 20 && m <= size; ++m) {
        for (size_t at = 0; at <= size - m + 1; ++at) {  // size - m + 1: not planted
          if (at != 0 && at + 20 < size) continue;
          std::string text(size, ' ');
          for (char& c : text) c = (random() & 1) != 0 ? 'a' : 'b';
          std::string needle(m, ' ');
          for (char& c : needle) c = (random() & 1) != 0 ? 'a' : 'b';
          if (at + m <= size) text.replace(at, m, needle);
          const std::string_view placed = pages.place(text, at_end);
          const std::string_view placed_needle = pages.place(needle, !at_end);
          for (const int32_t start : {1, 2, static_cast<int32_t>(size)}) {
            for (const int32_t step : {1, 0, 2, -1}) {
              const int32_t expected = reference::instring(needle, text, step, start);
              ASSERT_EQ(instring(placed_needle, placed, step, start), expected)
                  << "needle of " << m << " at " << at << " in " << size << " from " << start
                  << " step " << step << (at_end ? " at the end" : " at the start");
              ASSERT_EQ(instring_on_stack(placed_needle, placed, step, start), expected);
              ++compared;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 50000);
}

TEST(InstringDifferential, NeverReadsPastEitherEndOfTheText) {
  GuardedPages pages;
  ASSERT_TRUE(pages.ready()) << "no guarded pages";
  in_both_instantiations([&] { guarded_texts_agree(pages); });
}

// Texts made to defeat a first-and-last-byte filter, where the search must hand over to its
// linear fallback and still find the same place; and extreme steps and starts.
TEST(InstringDifferential, AgreesOnAdversarialTextsAndExtremeArguments) {
  struct Case {
    std::string needle;
    std::string text;
  };
  std::string run(200000, 'a');
  std::string run_with_end = run + "b";
  std::string spaced;
  for (int i = 0; i < 20000; ++i) spaced += "ab.......a";
  const Case kCases[] = {
      {"aaaaaaaaab", run},
      {"aaaaaaaaab", run_with_end},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", run_with_end},
      {"ab.......a", spaced},
      {"a.......aa", spaced + "a.......aa"},
      {"ba", run_with_end},
  };
  const int32_t kSteps[] = {1, 0, 2, 3, 7, -1, -2, -9, INT32_MAX, INT32_MIN};
  const int32_t kStarts[] = {1, 2, 11, 199990, 200001, INT32_MAX, 0, -1};
  for (const Case& c : kCases) {
    for (const int32_t step : kSteps) {
      for (const int32_t start : kStarts) {
        EXPECT_EQ(instring(c.needle, c.text, step, start),
                  reference::instring(c.needle, c.text, step, start))
            << c.needle << " step " << step << " start " << start;
      }
    }
  }
}

}  // namespace
}  // namespace vtn
