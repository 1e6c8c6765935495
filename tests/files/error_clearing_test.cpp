// Clearing the current error: a successful file operation blanks ERRORCODE, ERROR, ERRORFILE,
// FILEERRORCODE and FILEERROR, whatever wrote them before (a failed call, a driver's own error, a
// restored record, a caller writing the state itself) and however often the state was already
// clear. A random walk over those writers and successful calls of both drivers is compared after
// every step with what the error functions must show.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/files/call_sequence.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"
#include "support/scratch_directory.hpp"

namespace vtn {
namespace {

bool all_blank(const char* field, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (field[i] != ' ') return false;
  return true;
}

// ERRORTEXT of a code: its message without leading or trailing blanks.
std::string text_of(int32_t code) {
  std::string text = error_message(code);
  text.erase(0, text.find_first_not_of(' '));
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// The current error as the program sees it, and the stored texts byte for byte.
void expect_cleared(const char* after) {
  SCOPED_TRACE(after);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_EQ(ERRORTEXT(), "");
  EXPECT_EQ(ERRORSOURCE(), "");
  EXPECT_EQ(DRIVERERRORCODE(), "");
  EXPECT_EQ(DRIVERERROR(), "");
  ErrorState stored;
  save_error(stored);  // (reading through save_error leaves the state as it is)
  EXPECT_EQ(stored.file, nullptr);
  EXPECT_TRUE(all_blank(stored.error_text, sizeof stored.error_text));
  EXPECT_TRUE(all_blank(stored.driver_code, sizeof stored.driver_code));
  EXPECT_TRUE(all_blank(stored.driver_message, sizeof stored.driver_message));
}

struct DriverCase {
  const char* name;
  DriverEntry entry;
  const char* file_name;
};

const DriverCase kDrivers[] = {
    {"BASIC", basic_entry, "walk.csv"},
    {"TARNWELL", tarnwell_entry, "walk.twl"},
};

class ErrorClearing : public testing_support::ScratchDirectoryTest,
                      public ::testing::WithParamInterface<DriverCase> {
 protected:
  void SetUp() override { clear_error(); }
  void TearDown() override { clear_error(); }

  FileDeclaration declaration() {
    FileDeclaration d("WLK");
    d.driver(GetParam().entry)
        .name(path(GetParam().file_name))
        .create()
        .field("NUMBER", ftype::LONG)
        .field("TEXT", ftype::STRING(8));
    if (GetParam().entry != basic_entry) d.key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY);
    return d;
  }
};

// The steps of the walk. Each says what the current error must be after it: cleared, or a code
// tied to the file (or to no file).
enum class Step {
  kFailedCall,     // RESET to a blank position: 35, posted with the file
  kReadToTheEnd,   // SET and NEXT until the driver answers 33 past the last record
  kSuccessfulSet,  // SET: a success that clears the error
  kSuccessfulAdd,  // ADD: likewise, through the driver's write path
  kRuntimeError,   // an error of no file (posted by a statement other than a file's)
  kDriverText,     // the driver's own code and message, ERRORCODE left as it is
  kDirectWrite,    // a caller writes the texts through current_error_state()
  kRestore,        // an error saved earlier comes back
  kOtherThread,    // another thread fails and clears: this thread's error is its own
  kClear,          // clear_error itself
  kCount
};

TEST_P(ErrorClearing, EverySuccessClearsWhateverWasWrittenBefore) {
  File file(declaration());
  CREATE(file);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  OPEN(file, 0x22);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  const std::string source = ERRORSOURCE();  // blank after the successful OPEN
  EXPECT_EQ(source, "");

  ErrorState saved_failure;
  RESET(file, "");
  ASSERT_EQ(ERRORNUMBER(), 35);
  const std::string file_name = ERRORSOURCE();
  ASSERT_FALSE(file_name.empty());
  save_error(saved_failure);

  std::mt19937 random(12);
  int32_t expected_code = 35;
  std::string expected_source = file_name;
  // FILEERRORCODE as it must read; unknown after a caller wrote the texts itself. While texts are
  // written that the model does not follow, the walk checks nothing until a step rewrites them.
  std::optional<std::string> expected_driver_code = "";
  bool off_model = false;
  int32_t added = 0;
  for (int i = 0; i < 400; ++i) {
    const auto step = static_cast<Step>(random() % static_cast<unsigned>(Step::kCount));
    const std::string label = "step " + std::to_string(i) + " kind " +
                              std::to_string(static_cast<int>(step)) + " of " + GetParam().name;
    SCOPED_TRACE(label);
    switch (step) {
      case Step::kFailedCall:
        RESET(file, "");
        expected_code = 35;
        expected_source = file_name;
        break;
      case Step::kReadToTheEnd: {
        SET(file);
        int32_t read = 0;
        for (NEXT(file); ERRORNUMBER() == 0; NEXT(file)) {
          expect_cleared("a successful NEXT");
          ++read;
        }
        EXPECT_EQ(read, added);
        expected_code = 33;
        expected_source = file_name;
        expected_driver_code = "";  // cleared by the SET
        break;
      }
      case Step::kSuccessfulSet:
        SET(file);
        expected_code = 0;
        expected_driver_code = "";
        break;
      case Step::kSuccessfulAdd:
        file.clear();
        ++added;
        std::memcpy(file.record(), &added, sizeof added);
        ADD(file);
        expected_code = 0;
        expected_driver_code = "";
        break;
      case Step::kRuntimeError:
        post_error(2);
        expected_code = 2;
        expected_source = "";
        break;
      case Step::kDriverText:
        post_driver_error("E" + std::to_string(i), std::nullopt);
        expected_driver_code = "E" + std::to_string(i);
        if (expected_code == 0) {
          // Only the driver's texts were written: the next success must still blank them.
          EXPECT_EQ(DRIVERERROR(), text_of(90) + " : E" + std::to_string(i));
          off_model = true;
          continue;
        }
        break;
      case Step::kDirectWrite: {
        // The code stays what it was: only the texts change behind the error functions' back.
        ErrorState& state = current_error_state();
        state.error_text[0] = 'X';
        state.driver_code[3] = 'Y';
        state.driver_message[200] = 'Z';
        if (expected_code == 0 && !off_model) {
          EXPECT_EQ(ERRORTEXT(), "X");
          EXPECT_EQ(DRIVERERRORCODE(), "   Y");
        }
        expected_driver_code.reset();
        off_model = true;
        continue;  // the texts no longer match the model; the next success must blank them
      }
      case Step::kRestore:
        restore_error(saved_failure);
        expected_code = 35;
        expected_source = file_name;
        expected_driver_code = "";
        break;
      case Step::kOtherThread:
        std::thread([] {
          post_error(2);
          clear_error();
          post_error(3);
        }).join();
        break;
      case Step::kClear:
        clear_error();
        expected_code = 0;
        expected_driver_code = "";
        break;
      case Step::kCount:
        break;
    }
    // Every step but these two rewrites the error text (and the model knows the driver's).
    if (step != Step::kOtherThread && step != Step::kDriverText) off_model = false;
    if (off_model) continue;
    if (expected_code == 0) {
      expect_cleared(label.c_str());
    } else {
      EXPECT_EQ(ERRORNUMBER(), expected_code);
      EXPECT_EQ(ERRORSOURCE(), expected_source);
      EXPECT_EQ(ERRORTEXT(), text_of(expected_code));
      if (expected_driver_code) {
        EXPECT_EQ(DRIVERERRORCODE(), *expected_driver_code);
      }
    }
  }
  CLOSE(file);
  EXPECT_EQ(ERRORNUMBER(), 0);
  EXPECT_GT(added, 0);
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, ErrorClearing, ::testing::ValuesIn(kDrivers),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vtn
