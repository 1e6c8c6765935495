// Declared names: the "\!" separator with the existing-directory rule, UNNAMED, the default
// extension and full paths.
#include "runtime/files/tarnwell/table_names.hpp"

#include <gtest/gtest.h>

#include <set>

#include "support/scratch_directory.hpp"

namespace vtn::tarnwell {
namespace {

TEST(TableNames, SplitsAtTheFirstSeparatorNotAfterAnExistingDirectory) {
  const std::set<std::string> directories = {"C:/DATA/X", "C:/DATA/X/!"};
  auto is_directory = [&](const std::string& p) { return directories.count(p) != 0; };
  struct Case {
    const char* declared;
    const char* file;
    const char* table;
  } cases[] = {
      {"C:\\DATA\\PACKS.TWL\\!SETUP", "C:/DATA/PACKS.TWL", "SETUP"},
      {"C:\\DATA\\PACKS", "C:/DATA/PACKS", "UNNAMED"},
      {"C:\\DATA\\X\\!\\PACKS\\!SETUP", "C:/DATA/X/!/PACKS", "SETUP"},
      {"C:\\DATA\\X\\!", "C:/DATA/X/!", "UNNAMED"},  // the only separator belongs to the path
      {"packs\\!", "packs", "UNNAMED"},
      {"a\\!b\\!c", "a", "b\\!c"},
      {"/data/packs.twl", "/data/packs.twl", "UNNAMED"},
  };
  for (const Case& c : cases) {
    const TableName n = split_table_name(c.declared, is_directory);
    EXPECT_EQ(n.file, c.file) << c.declared;
    EXPECT_EQ(n.table, c.table) << c.declared;
  }
}

class TableNamesOnDisk : public testing_support::ScratchDirectoryTest {};

TEST_F(TableNamesOnDisk, RealDirectoriesAndFullPaths) {
  std::filesystem::create_directories(dir_ / "X" / "!");
  const TableName n = split_table_name(path("X") + "\\!\\P\\!T");
  EXPECT_EQ(n.file, path("X") + "/!/P");
  EXPECT_EQ(n.table, "T");
  EXPECT_EQ(physical_file_path(n.file), path("X") + "/!/P.TWL");
  EXPECT_EQ(physical_file_path(path("a.b/c")), path("a.b/c") + ".TWL");  // a dot of a directory
  EXPECT_EQ(physical_file_path(path("c.dat")), path("c.dat"));
  EXPECT_FALSE(physical_file_path(""));
}

}  // namespace
}  // namespace vtn::tarnwell
