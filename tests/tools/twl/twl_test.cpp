// twl run as a user runs it: the usage and its exit codes, refusals with the run-time's number and
// text, and what recover reports for a page log left by a flush that a crash cut short.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "package/child_process.hpp"
#include "runtime/files/tarnwell/file_header.hpp"
#include "support/scratch_directory.hpp"

namespace vtn {
namespace {

using testing_support::ChildResult;
using testing_support::run_child;

ChildResult twl(std::vector<std::string> args) {
  args.insert(args.begin(), VTN_TOOL_PATH);
  return run_child(args);
}

class TwlTest : public testing_support::ScratchDirectoryTest {
 protected:
  void write(const std::string& name, const std::string& bytes) {
    std::ofstream(path(name.c_str()), std::ios::binary) << bytes;
  }

  // A record file whose header points at a page log of `images`, each `(own offset, stored
  // length)`, laid out from offset 0x200 on in whole 256-byte units.
  void write_with_log(const std::string& name,
                      const std::vector<std::pair<uint32_t, uint16_t>>& images,
                      uint32_t claimed_end = 0) {
    std::string file(tarnwell::kHeaderSize, '\0');
    uint32_t at = tarnwell::kHeaderSize;
    for (const auto& [own, stored] : images) {
      const uint32_t length = (stored + 255u) / 256u * 256u;
      std::string image(length, '\xB0');
      for (int i = 0; i < 4; ++i) image[i] = static_cast<char>(own >> (8 * i));
      image[4] = static_cast<char>(stored & 0xFF);
      image[5] = static_cast<char>(stored >> 8);
      file += image;
      at += length;
    }
    tarnwell::FileHeader header;
    header.change_counter = 7;
    header.log_start = tarnwell::kHeaderSize;
    header.log_end = claimed_end != 0 ? claimed_end : at;
    std::array<uint8_t, tarnwell::kHeaderSize> bytes{};
    tarnwell::encode_header(header, bytes);
    file.replace(0, bytes.size(), reinterpret_cast<const char*>(bytes.data()), bytes.size());
    write(name, file);
  }
};

TEST_F(TwlTest, UsageHelpAndVersion) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string out_has, err_has;
  };
  const std::vector<Case> cases = {
      {{"--version"}, 0, "twl ", ""},
      {{"--help"}, 0, "Subcommands:", ""},
      {{"info", "--help"}, 0, "--json", ""},
      {{"check", "--help"}, 0, "exit 1 when damaged", ""},
      {{"recover", "--help"}, 0, "--dry-run", ""},
      {{"export", "--help"}, 0, "--sqlite", ""},
      {{}, 2, "", "twl: no subcommand given; one of info, check, recover, export, import, rebuild"},
      {{"frobnicate"},
       2,
       "",
       "twl: unknown subcommand \"frobnicate\"; the subcommands are info, check, recover, export, "
       "import, rebuild (twl --help)\n"},
      {{"--password", "info", "frobnicate", "x.TWL"}, 2, "", "unknown subcommand \"frobnicate\""},
      {{"info", "x.TWL", "--bogus"}, 2, "", "--bogus"},
      {{"info"}, 2, "", "FILE is required"},
      {{"export", "x.TWL", "--json", "--sqlite", "out.db"}, 2, "", "exclude each other"},
  };
  for (const Case& c : cases) {
    const ChildResult result = twl(c.args);
    const std::string what = c.args.empty() ? "(no arguments)" : c.args[0];
    EXPECT_EQ(result.exit_code, c.exit_code) << what << "\n" << result.err;
    EXPECT_NE(result.out.find(c.out_has), std::string::npos) << what << "\n" << result.out;
    EXPECT_NE(result.err.find(c.err_has), std::string::npos) << what << "\n" << result.err;
  }
}

TEST_F(TwlTest, FilesThatAreNoRecordFilesAreRefusedWithTheRunTimesNumberAndText) {
  write("short.TWL", std::string(100, 'x'));
  std::string alien(1024, '\0');
  alien.replace(0x0E, 4, "NOPE");
  write("alien.TWL", alien);
  struct Case {
    std::string command, file;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"info", "short.TWL", "error 36: Invalid Data File"},
      {"info", "alien.TWL", "error 36: Invalid Data File"},
      {"recover", "short.TWL", "error 36: Invalid Data File"},
      {"recover", "missing.TWL", "error 2: File Not Found"},
      {"info", "missing", "error 2: File Not Found"},  // ".TWL" is added
  };
  for (const Case& c : cases) {
    const ChildResult result = twl({c.command, path(c.file.c_str())});
    EXPECT_EQ(result.exit_code, 1) << c.command << " " << c.file;
    EXPECT_NE(result.err.find(c.error), std::string::npos) << c.command << " " << c.file << "\n"
                                                           << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
  }
  const ChildResult named = twl({"info", path("missing")});
  EXPECT_NE(named.err.find(path("missing.TWL")), std::string::npos) << named.err;
}

TEST_F(TwlTest, RecoverReportsTheLogOfAHeaderThatIsNoRecordFileAndRefusesIt) {
  // A header that points at a page log but describes no pages: the log is reported as found on
  // disk, then the page store refuses the file and nothing changes.
  write_with_log("log.TWL", {{0x400, 0x120}, {0, 0x200}});
  std::ifstream before_in(path("log.TWL"), std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(before_in)), {});
  const ChildResult result = twl({"recover", path("log.TWL")});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_NE(result.out.find("the page log holds 2 images (offsets 512 to 1536)"), std::string::npos)
      << result.out;
  EXPECT_NE(result.err.find("error 36: Invalid Data File"), std::string::npos) << result.err;
  std::ifstream after_in(path("log.TWL"), std::ios::binary);
  const std::string after((std::istreambuf_iterator<char>(after_in)), {});
  EXPECT_EQ(after, before);
}

TEST_F(TwlTest, RecoverOfAFileWithAnEmptyLogHasNothingToDo) {
  write_with_log("clean.TWL", {});
  const ChildResult result = twl({"recover", path("clean.TWL")});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find("the page log is empty; nothing to recover"), std::string::npos)
      << result.out;
}

}  // namespace
}  // namespace vtn
