// The run-time as a package, used the way a programmer outside the project would use it: the
// build tree is installed into a temporary prefix (then moved, since nothing in an installed tree
// may depend on where it was first put), and small programs are built against it with
// find_package and with pkg-config, and run. The documentation's examples are built the same way,
// and every snippet of the guide must be found in the example it names. The Debian package is
// built and its contents listed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "package/child_process.hpp"
#include "support/scratch_directory.hpp"

namespace vtn {
namespace {

namespace fs = std::filesystem;
using testing_support::ChildResult;
using testing_support::run_child;

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> result;
  for (std::string word; in >> word;) result.push_back(word);
  return result;
}

// The compiler flags of this build without its optimisation and debug information: the programs
// built against the package are tiny, and sanitizer flags must stay so that they link.
std::vector<std::string> outside_flags() {
  std::vector<std::string> flags;
  for (const std::string& flag : words(VTN_PACKAGE_CXX_FLAGS)) {
    if (!flag.starts_with("-O") && !flag.starts_with("-g")) flags.push_back(flag);
  }
  return flags;
}

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : " ") + item;
  return text;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string describe(const ChildResult& result) {
  return "exit " + std::to_string(result.exit_code) + "\n--- stdout\n" + result.out +
         "\n--- stderr\n" + result.err;
}

class PackageTest : public testing_support::ScratchDirectoryTest {
 protected:
  // Installs the build tree into <scratch>/staging and moves it to <scratch>/prefix.
  void install() {
    const ChildResult installed = run_child({VTN_PACKAGE_CMAKE, "--install", VTN_PACKAGE_BUILD_DIR,
                                             "--prefix", (dir_ / "staging").string()});
    ASSERT_EQ(installed.exit_code, 0) << describe(installed);
    fs::rename(dir_ / "staging", prefix());
  }

  fs::path prefix() const { return dir_ / "prefix"; }
  fs::path libdir() const { return prefix() / VTN_PACKAGE_LIBDIR; }

  // Configures and builds a CMake project that finds the run-time with find_package.
  ChildResult build_with_find_package(const fs::path& source, const fs::path& build) {
    ChildResult configured =
        run_child({VTN_PACKAGE_CMAKE, "-S", source.string(), "-B", build.string(), "-G",
                   VTN_PACKAGE_GENERATOR, "-DCMAKE_PREFIX_PATH=" + prefix().string(),
                   "-DCMAKE_CXX_COMPILER=" VTN_PACKAGE_CXX,
                   "-DCMAKE_BUILD_TYPE=", "-DCMAKE_CXX_FLAGS=" + joined(outside_flags()),
                   "-DCMAKE_EXE_LINKER_FLAGS=" VTN_PACKAGE_LINKER_FLAGS});
    if (configured.exit_code != 0) return configured;
    return run_child({VTN_PACKAGE_CMAKE, "--build", build.string()});
  }
};

TEST_F(PackageTest, InstallsTheLibraryTheProgramsThePackageFilesAndOnlyThePublicHeaders) {
  ASSERT_NO_FATAL_FAILURE(install());
  struct Case {
    std::string path;
    bool installed;
  };
  const std::string lib = VTN_PACKAGE_LIBDIR;
  const std::vector<Case> cases = {
      {"bin/ferrule", true},
      {lib + "/libvtn_runtime.a", true},
      {lib + "/cmake/vtn/vtnConfig.cmake", true},
      {lib + "/cmake/vtn/vtnConfigVersion.cmake", true},
      {lib + "/cmake/vtn/vtnTargets.cmake", true},
      {lib + "/pkgconfig/vtn.pc", true},
      {"include/vtn/runtime/files/file_declaration.hpp", true},
      {"include/vtn/runtime/files/file_statements.hpp", true},
      {"include/vtn/runtime/values/fixed_string.hpp", true},
      {"include/vtn/runtime/values/error_state.hpp", true},
      {"include/vtn/runtime/format/picture_format.hpp", true},
      // What a public header includes comes along with it.
      {"include/vtn/runtime/values/char_tables.hpp", true},
      {"include/vtn/runtime/ui/button_table.hpp", true},
      // The internals of the drivers, the platform layer and the call sequence stay private.
      {"include/vtn/runtime/platform/file_handle.hpp", false},
      {"include/vtn/runtime/platform/fault_injection.hpp", false},
      {"include/vtn/runtime/files/call_sequence.hpp", false},
      {"include/vtn/runtime/files/tarnwell/page_image.hpp", false},
      {"include/vtn/runtime/values/decimal_arithmetic.hpp", false},
      {"include/vtn/runtime/format/picture_detail.hpp", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fs::exists(prefix() / c.path), c.installed) << c.path;
  }
  for (const std::string& tool : words(VTN_PACKAGE_TOOLS)) {
    EXPECT_TRUE(fs::exists(prefix() / "bin" / tool)) << tool;
  }
  // Nothing of the source or build tree leaks into the package files.
  for (const char* file : {"cmake/vtn/vtnTargets.cmake", "pkgconfig/vtn.pc"}) {
    const std::string text = read_file(libdir() / file);
    EXPECT_EQ(text.find(VTN_PACKAGE_SOURCE_DIR), std::string::npos) << file;
    EXPECT_EQ(text.find(VTN_PACKAGE_BUILD_DIR), std::string::npos) << file;
  }
}

TEST_F(PackageTest, InstalledHeadersCompileWithNothingButTheInstalledTree) {
  ASSERT_NO_FATAL_FAILURE(install());
  std::string source;
  int count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(prefix() / "include/vtn")) {
    if (entry.path().extension() != ".hpp") continue;
    source +=
        "#include \"" + fs::relative(entry.path(), prefix() / "include/vtn").string() + "\"\n";
    ++count;
  }
  ASSERT_GT(count, 20);
  std::ofstream(dir_ / "all.cpp") << source;
  std::vector<std::string> command = {VTN_PACKAGE_CXX,
                                      "-std=c++20",
                                      "-fsyntax-only",
                                      "-Wall",
                                      "-Werror",
                                      "-I" + (prefix() / "include/vtn").string(),
                                      (dir_ / "all.cpp").string()};
  const ChildResult compiled = run_child(command);
  EXPECT_EQ(compiled.exit_code, 0) << describe(compiled);
}

TEST_F(PackageTest, OutsideProgramBuildsWithFindPackageAndRuns) {
  ASSERT_NO_FATAL_FAILURE(install());
  const ChildResult built = build_with_find_package(
      fs::path(VTN_PACKAGE_SOURCE_DIR) / "tests/package/outside", dir_ / "outside");
  ASSERT_EQ(built.exit_code, 0) << describe(built);
  const ChildResult ran =
      run_child({(dir_ / "outside/outside").string()}, {.directory = dir_.string()});
  EXPECT_EQ(ran.exit_code, 0) << describe(ran);
  EXPECT_NE(ran.out.find("records: 7=bolt      ;9=nut       ;"), std::string::npos) << ran.out;
}

TEST_F(PackageTest, OutsideProgramBuildsWithPkgConfigAndRuns) {
  ASSERT_NO_FATAL_FAILURE(install());
  const testing_support::ChildOptions pkg_env = {
      .environment = {{"PKG_CONFIG_PATH", (libdir() / "pkgconfig").string()}}};
  const ChildResult flags = run_child({"pkg-config", "--cflags", "--libs", "vtn"}, pkg_env);
  ASSERT_EQ(flags.exit_code, 0) << describe(flags);
  const ChildResult version = run_child({"pkg-config", "--modversion", "vtn"}, pkg_env);
  EXPECT_EQ(version.out, std::string(VTN_PACKAGE_VERSION) + "\n");

  std::vector<std::string> command = {VTN_PACKAGE_CXX, "-std=c++20"};
  for (const std::string& flag : outside_flags()) command.push_back(flag);
  command.push_back(VTN_PACKAGE_SOURCE_DIR "/tests/package/outside/main.cpp");
  command.insert(command.end(), {"-o", (dir_ / "outside_pc").string()});
  for (const std::string& flag : words(flags.out)) command.push_back(flag);
  for (const std::string& flag : words(VTN_PACKAGE_LINKER_FLAGS)) command.push_back(flag);
  const ChildResult built = run_child(command);
  ASSERT_EQ(built.exit_code, 0) << describe(built);
  const ChildResult ran = run_child({(dir_ / "outside_pc").string()}, {.directory = dir_.string()});
  EXPECT_EQ(ran.exit_code, 0) << describe(ran);
  EXPECT_NE(ran.out.find("records: 7=bolt      ;9=nut       ;"), std::string::npos) << ran.out;
}

TEST_F(PackageTest, GuideExamplesBuildAndRunAndTheGuideQuotesThemExactly) {
  ASSERT_NO_FATAL_FAILURE(install());
  const fs::path examples = fs::path(VTN_PACKAGE_SOURCE_DIR) / "docs/examples";
  const ChildResult built = build_with_find_package(examples, dir_ / "examples");
  ASSERT_EQ(built.exit_code, 0) << describe(built);

  std::set<std::string> programs;
  for (const auto& entry : fs::directory_iterator(examples)) {
    if (entry.path().extension() == ".cpp") programs.insert(entry.path().stem().string());
  }
  ASSERT_FALSE(programs.empty());
  for (const std::string& program : programs) {
    const ChildResult ran =
        run_child({(dir_ / "examples" / program).string()}, {.directory = dir_.string()});
    EXPECT_EQ(ran.exit_code, 0) << program << "\n" << describe(ran);
  }

  // Every code block of the guide follows a line that names its example ("docs/examples/x.cpp"),
  // and each of its lines is a line of that example, so that the guide shows code that builds.
  const std::string guide =
      read_file(fs::path(VTN_PACKAGE_SOURCE_DIR) / "docs/using-the-runtime.md");
  const std::regex block(R"(docs/examples/(\w+)\.cpp[^\n]*\n+```cpp\n([\s\S]*?)```)");
  std::set<std::string> quoted;
  int blocks = 0;
  for (auto it = std::sregex_iterator(guide.begin(), guide.end(), block);
       it != std::sregex_iterator(); ++it) {
    ++blocks;
    const std::string program = (*it)[1];
    quoted.insert(program);
    ASSERT_TRUE(programs.contains(program)) << "the guide names a missing example " << program;
    const std::string example = read_file(examples / (program + ".cpp"));
    std::istringstream lines((*it)[2].str());
    for (std::string line; std::getline(lines, line);) {
      if (line.find_first_not_of(' ') == std::string::npos ||
          line.find("...") != std::string::npos) {
        continue;
      }
      EXPECT_NE(example.find(line + "\n"), std::string::npos)
          << "docs/using-the-runtime.md quotes a line that " << program << ".cpp lacks:\n"
          << line;
    }
  }
  int cpp_blocks = 0;
  for (size_t at = guide.find("```cpp"); at != std::string::npos;
       at = guide.find("```cpp", at + 1)) {
    ++cpp_blocks;
  }
  EXPECT_EQ(blocks, cpp_blocks) << "a code block of the guide does not name its example";
  EXPECT_EQ(quoted, programs) << "every example is shown in the guide";
}

TEST_F(PackageTest, DebianPackageHoldsTheProgramsTheLibraryAndTheHeaders) {
  const ChildResult packed =
      run_child({VTN_PACKAGE_CPACK, "-G", "DEB", "--config",
                 VTN_PACKAGE_BUILD_DIR "/CPackConfig.cmake", "-B", dir_.string()});
  ASSERT_EQ(packed.exit_code, 0) << describe(packed);
  fs::path deb;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    if (entry.path().extension() == ".deb") deb = entry.path();
  }
  ASSERT_FALSE(deb.empty()) << describe(packed);

  const ChildResult fields = run_child({"dpkg-deb", "-f", deb.string(), "Package", "Version"});
  EXPECT_EQ(fields.out, "Package: ferrule\nVersion: " + std::string(VTN_PACKAGE_VERSION) + "\n");
  const ChildResult listed = run_child({"dpkg-deb", "-c", deb.string()});
  ASSERT_EQ(listed.exit_code, 0) << describe(listed);
  const std::string lib = VTN_PACKAGE_LIBDIR;
  std::vector<std::string> wanted = {"./usr/bin/ferrule", "./usr/" + lib + "/libvtn_runtime.a",
                                     "./usr/" + lib + "/cmake/vtn/vtnConfig.cmake",
                                     "./usr/" + lib + "/pkgconfig/vtn.pc",
                                     "./usr/include/vtn/runtime/files/file_declaration.hpp"};
  for (const std::string& tool : words(VTN_PACKAGE_TOOLS)) wanted.push_back("./usr/bin/" + tool);
  for (const std::string& path : wanted) {
    EXPECT_NE(listed.out.find(" " + path + "\n"), std::string::npos) << path << "\n" << listed.out;
  }
}

}  // namespace
}  // namespace vtn
