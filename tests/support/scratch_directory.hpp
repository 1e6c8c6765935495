// A fixture that gives each test a fresh directory under /tmp, removed with everything in it when
// the test ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vtn::testing_support {

class ScratchDirectoryTest : public ::testing::Test {
 protected:
  ScratchDirectoryTest() {
    char pattern[] = "/tmp/vtn_test_XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      ADD_FAILURE() << "cannot make a scratch directory";
    } else {
      dir_ = pattern;
    }
  }
  ~ScratchDirectoryTest() override {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  std::string path(const char* name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

}  // namespace vtn::testing_support
