#include "runtime/platform/process_path.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace vtn::platform {
namespace {

TEST(ProcessPath, NamesThisTestProgram) {
  const std::string path = executable_path();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(std::filesystem::path(path).filename(), "platform_process_path_test");
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
}

}  // namespace
}  // namespace vtn::platform
