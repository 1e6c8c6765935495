// Runs every test of the program in a fresh directory of its own, removed afterwards. Programs
// whose death tests end in an internal fault include this: the fault leaves the diagnostic log
// V5LOG.TXT in the current directory, which must not be the build tree.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace vtn_test {

class ScratchDirectory : public ::testing::Environment {
 public:
  void SetUp() override {
    // A death test's child that runs the program anew inherits the directory and this mark.
    if (std::getenv(kMark) != nullptr) return;
    saved_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "vtn_test_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    std::filesystem::current_path(directory_);
    ::setenv(kMark, directory_.c_str(), 1);
  }

  void TearDown() override {
    if (directory_.empty()) return;
    std::filesystem::current_path(saved_);
    ::unsetenv(kMark);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

 private:
  static constexpr const char* kMark = "VTN_TEST_SCRATCH_DIRECTORY";
  std::filesystem::path saved_;
  std::filesystem::path directory_;
};

inline ::testing::Environment* const kScratchDirectory =
    ::testing::AddGlobalTestEnvironment(new ScratchDirectory);

}  // namespace vtn_test
