// The vtn console as a user runs it: arguments, standard input, output, errors and exit codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the built tool with `args`, `input` on its standard input, in a clean environment for
// the settings it reads.
ToolRun run(const std::vector<std::string>& args, const std::string& input = "") {
  char dir_template[] = "/tmp/vtn_test_XXXXXX";
  const std::string dir = mkdtemp(dir_template);
  const std::string in_path = dir + "/in", out_path = dir + "/out", err_path = dir + "/err";
  std::ofstream(in_path, std::ios::binary) << input;
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    setenv("VTN_WININI", (dir + "/win.ini").c_str(), 1);  // no profile: the defaults
    setenv("VTN_MSGBOX", "stderr", 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(VTN_TOOL_PATH));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VTN_TOOL_PATH, argv.data());
    _exit(127);
  }
  ToolRun r;
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  for (const std::string& p : {in_path, out_path, err_path}) unlink(p.c_str());
  rmdir(dir.c_str());
  return r;
}

TEST(VtnTest, EvaluatesEachArgument) {
  const ToolRun r = run({"eval", "1 + 2 * 3 ^ 2", "'ab' & 'cd'", "0FFH", "7 / 2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "19\nabcd\n255\n3.5\n");
  EXPECT_EQ(r.err, "");
}

TEST(VtnTest, ReadsExpressionsFromStandardInput) {
  const ToolRun r = run({"eval"}, "1+1\n\n# a comment\n  2*3\r\nnosuch\n'x' & 'y'");
  EXPECT_EQ(r.status, 1);  // one line failed, the rest still ran
  EXPECT_EQ(r.out, "2\n6\nxy\n");
  EXPECT_NE(r.err.find("error 801: No BIND on variable (nosuch)"), std::string::npos) << r.err;
}

TEST(VtnTest, RussianTextRoundTripsThroughUpper) {
  const ToolRun r = run({"--env", "VTNCASE=WINDOWS", "eval", "UPPER('Привет, мир') & '!'",
                         "LEN('Ёж')", "LOWER('ЁЖ') = 'ёж'"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ПРИВЕТ, МИР!\n2\n1\n");  // one byte per letter inside
  // Without the setting, a program's case tables fold A-Z only, and the text still round-trips.
  const ToolRun plain = run({"eval", "UPPER('Ёж, hedgehog')"});
  EXPECT_EQ(plain.out, "Ёж, HEDGEHOG\n");
  const ToolRun bad = run({"--env", "nokey", "eval", "1"});
  EXPECT_EQ(bad.status, 2);
}

TEST(VtnTest, BindsTextVariables) {
  const ToolRun r = run({"eval", "--env", "VTNCASE=WINDOWS", "--bind", "name=Иванов", "--bind",
                         "n=42", "--", "UPPER(name) & n", "n > 7", "LEN(name)"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ИВАНОВ42\n1\n6\n");
  // Each --bind takes one pair; what follows is an expression.
  const ToolRun one = run({"eval", "--bind", "n=5", "n * 2", "--bind", "m=1", "n + m"});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, "10\n6\n");
  const ToolRun bad = run({"eval", "--bind", "novalue", "1"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("NAME=VALUE"), std::string::npos);
}

TEST(VtnTest, ErrorsCarryTheRuntimeNumberAndPlace) {
  const ToolRun r = run({"eval", "(1 + 2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "vtn: error 800: Invalid expression for EVALUATE\n"
            "  (1 + 2\n"
            "        ^ a closing parenthesis is missing\n");
  const ToolRun memory = run({"eval", "ALL('x', 2000000000)"});
  EXPECT_EQ(memory.status, 1);
  EXPECT_NE(memory.err.find("error 8: Insufficient Memory"), std::string::npos) << memory.err;
  const ToolRun negative = run({"eval", "--", "-7 % 3"});
  EXPECT_EQ(negative.status, 0) << negative.err;
  EXPECT_EQ(negative.out, "-1\n");
}

TEST(VtnTest, FormatsAndDeformatsThroughPictures) {
  struct Case {
    std::vector<std::string> args;
    const char* out;
  };
  const Case cases[] = {
      {{"format", "@N-12.2", "--", "-1234.5"}, "   -1,234.50\n"},
      {{"format", "@N14.2", "12345678.125"}, " 12,345,678.13\n"},  // exact decimal digits
      {{"format", "@N6", "1234567"}, "##,###\n"},                  // every digit cell shows "#"
      {{"format", "@D3", "-e", "DATE(10, 31, 1959)"}, "OCT 31,1959\n"},
      {{"format", "@S3", "абвгд"}, "абв\n"},
      {{"format", "@P(###)###-####P", "5551234567"}, "(555)123-4567\n"},
      {{"deformat", "@N12.2", "    1,234.50"}, "0001234.50\n"},  // blank digit cells read as 0
      {{"deformat", "@T4", "13:05:00"}, "4710001\n"},
  };
  for (const Case& c : cases) {
    const ToolRun r = run(c.args);
    EXPECT_EQ(r.status, 0) << c.args[0] << " " << c.args[1] << ": " << r.err;
    EXPECT_EQ(r.out, c.out) << c.args[0] << " " << c.args[1];
  }
  const ToolRun bad = run({"format", "@D0", "1"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "vtn: not a picture: @D0\n");
}

TEST(VtnTest, HelpVersionAndUsage) {
  const ToolRun help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("eval"), std::string::npos);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  for (const char* command : {"eval", "format", "deformat"}) {
    const ToolRun sub = run({command, "--help"});
    EXPECT_EQ(sub.status, 0) << command;
    EXPECT_NE(sub.out.find("Examples:"), std::string::npos) << command;
  }
  const ToolRun version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("vtn ", 0), 0u) << version.out;
  EXPECT_EQ(run({}).status, 2);
  EXPECT_EQ(run({"frobnicate"}).status, 2);
  EXPECT_EQ(run({"format", "@N10"}).status, 2);
}

}  // namespace
