// A string function asked for an absurd length ends the program with the run-time's memory error
// instead of letting the allocation abort the process (or touching gigabytes first); lengths
// within the bound, and results no longer than their text, are made as always.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>

#include "runtime/core/process_exit.hpp"
#include "runtime/values/string_functions.hpp"
#include "runtime/values/string_stack.hpp"
#include "values/scratch_directory.hpp"

namespace vtn {
namespace {

constexpr const char* kMemoryError = "Out of memory in String Stack!";
constexpr int32_t kTooLong = static_cast<int32_t>(StringStack::kMaxTextLength) + 1;

struct BoundCase {
  const char* name;
  std::function<void()> call;
};

// Pushes `text` as a borrowed or as an owned entry.
void push(const char* text, bool owned) {
  owned ? string_stack().push_copy(text) : string_stack().push_borrowed(text);
}

const BoundCase kRefused[] = {
    {"LEFT of a borrowed text to 2^31 - 1", [] { push("a", false), LEFT(INT32_MAX); }},
    {"LEFT of an owned text to 2^31 - 1", [] { push("a", true), LEFT(INT32_MAX); }},
    {"RIGHT of an owned text to 2^31 - 1", [] { push("a  ", true), RIGHT(INT32_MAX); }},
    {"CENTER of a borrowed text just past the bound", [] { push("abc", false), CENTER(kTooLong); }},
    {"left() to 2^31 - 1", [] { (void)left("a", INT32_MAX); }},
    {"right() just past the bound", [] { (void)right("a", kTooLong); }},
    {"center() to 2^31 - 1", [] { (void)center(" a ", INT32_MAX); }},
};

TEST(StringLengthBoundDeathTest, AbsurdLengthsAreTheMemoryError) {
  for (const BoundCase& c : kRefused) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(c.call(), ::testing::ExitedWithCode(2), kMemoryError);
  }
}

// Once the program procedure has returned the fatal error comes back to its caller: the function
// then leaves an empty text, one entry as always.
TEST(StringLengthBoundDeathTest, AfterTheProgramTheRefusedResultIsEmpty) {
  for (const bool owned : {false, true}) {
    EXPECT_EXIT(
        {
          set_program_running(false);
          push("abc", owned);
          LEFT(INT32_MAX);
          const bool ok = string_stack().depth() == 1 && string_stack().peek().empty() &&
                          left("abc", INT32_MAX).empty();
          std::exit(ok ? 7 : 8);
        },
        ::testing::ExitedWithCode(7), kMemoryError);
  }
}

TEST(StringLengthBound, LengthsWithinTheBoundAndShorterResultsAreMade) {
  constexpr int32_t kLarge = 1 << 20;
  string_stack().clear();
  push("  abc", false);
  LEFT(kLarge);
  ASSERT_EQ(string_stack().entry(1).length, static_cast<uint32_t>(kLarge));
  const std::string padded = string_stack().pop_string();
  EXPECT_EQ(padded.substr(0, 4), "abc ");
  EXPECT_EQ(padded.find_first_not_of(' ', 3), std::string::npos);

  EXPECT_EQ(right("abc", kLarge).size(), static_cast<size_t>(kLarge));
  EXPECT_EQ(center("abc", kLarge).size(), static_cast<size_t>(kLarge));

  // Cutting never asks for memory, whatever the length asked for.
  const std::string big(3 * 1024 * 1024, 'x');
  string_stack().push_borrowed(big);
  SUB(1, INT32_MAX);
  EXPECT_EQ(string_stack().pop_string().size(), big.size());
  EXPECT_EQ(sub(big, -5, INT32_MAX), "xxxxx");
}

}  // namespace
}  // namespace vtn
