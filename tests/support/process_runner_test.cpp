// Checks the process runner itself: that the bytes, statuses and terminal
// behaviour the other tests rely on are what the child really saw and did.
#include "support/process_runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace test_support {
namespace {

using namespace std::string_literals;

// For the children: a short write there shows as a wrong status.
void Put(int fd, const std::string& bytes) {
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) _exit(99);
}

// One read(2) of standard input, as the child saw it.
std::string ReadOnce() {
  char buffer[256];
  const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
  return got < 0 ? "error" : std::string(buffer, static_cast<size_t>(got));
}

RunResult Shell(const std::string& script, RunOptions options = {}) {
  options.arguments = {"-c", script};
  return RunProgram("/bin/sh", options);
}

template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& row) {
  return row.param.name;
}

struct ShellCase {
  const char* name;
  std::string script, input, output, error;
  int exitStatus;
};

void PrintTo(const ShellCase& row, std::ostream* out) { *out << row.name; }

class ShellThroughPipes : public testing::TestWithParam<ShellCase> {};

TEST_P(ShellThroughPipes, GivesExactBytesAndStatus) {
  const ShellCase& c = GetParam();
  RunOptions options;
  options.standardInput = c.input;
  const RunResult result = Shell(c.script, options);
  EXPECT_EQ(result.standardOutput, c.output);
  EXPECT_EQ(result.standardError, c.error);
  EXPECT_EQ(result.exitStatus, c.exitStatus);
  EXPECT_EQ(result.signal, 0);
  EXPECT_FALSE(result.timedOut);
  RemoveDirectory(result.directory);
}

INSTANTIATE_TEST_SUITE_P(
    Runner, ShellThroughPipes,
    testing::Values(
        ShellCase{"LineEndsUntouched", "printf 'a\\r\\nb'", "", "a\r\nb", "", 0},
        ShellCase{"InputReachesChild", "cat", "in\0put\r\n\x1a"s, "in\0put\r\n\x1a"s, "", 0},
        ShellCase{"OneLineTaken", "read line; echo \"got $line\"", "hello\nrest\n", "got hello\n", "",
                  0},
        ShellCase{"ErrorAndStatus", "echo oops >&2; exit 3", "", "", "oops\n", 3},
        ShellCase{"InputNotRead", "exit 0", std::string(1 << 20, 'x'), "", "", 0},
        ShellCase{"LargeBothWays", "cat", std::string(1 << 20, 'y'), std::string(1 << 20, 'y'), "", 0}),
    CaseName<ShellCase>);

TEST(Runner, FailedExecIsReported) {
  const RunResult result = RunProgram("/nonexistent/program", {});
  EXPECT_EQ(result.exitStatus, 127);
  EXPECT_NE(result.standardError.find("execv"), std::string::npos);
  RemoveDirectory(result.directory);
}

TEST(Runner, WritesAndImmediateExitOfBodyAreCaptured) {
  const RunResult result = RunInChild(
      []() -> int {
        Put(STDOUT_FILENO, "out");
        Put(STDERR_FILENO, "err");
        _exit(isatty(STDIN_FILENO) || isatty(STDOUT_FILENO) ? 1 : 7);
      },
      {});
  EXPECT_EQ(result.standardOutput, "out");
  EXPECT_EQ(result.standardError, "err");
  EXPECT_EQ(result.exitStatus, 7);
  RemoveDirectory(result.directory);
}

TEST(Runner, ChildStartsWithNoStrayDescriptorsAndDefaultSignals) {
  const int stray = open("/dev/null", O_RDONLY);  // not close-on-exec
  ASSERT_GE(stray, 0);
  struct sigaction ignore{}, previousAction{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previousAction);
  sigset_t pipeOnly, previousMask;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigprocmask(SIG_BLOCK, &pipeOnly, &previousMask);
  const RunResult result = RunInChild(
      [] {
        int openCount = 0;
        for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd) openCount += fcntl(fd, F_GETFD) != -1;
        struct sigaction pipeAction{};
        sigaction(SIGPIPE, nullptr, &pipeAction);
        sigset_t blocked;
        sigprocmask(SIG_SETMASK, nullptr, &blocked);
        const bool clean = openCount == 0 && pipeAction.sa_handler == SIG_DFL && !sigismember(&blocked, SIGPIPE);
        return clean ? 0 : 1;
      },
      {});
  sigprocmask(SIG_SETMASK, &previousMask, nullptr);
  sigaction(SIGPIPE, &previousAction, nullptr);
  close(stray);
  EXPECT_EQ(result.exitStatus, 0);
  RemoveDirectory(result.directory);
}

TEST(Runner, WorksInTheDirectoryAndKeepsItsFiles) {
  const std::string directory = MakeTemporaryDirectory();
  WriteFileBytes(directory + "/given.txt", "given");
  RunOptions options;
  options.directory = directory;
  const RunResult result = Shell("pwd; printf 'x\\r\\n' > made.txt", options);
  EXPECT_EQ(result.standardOutput, directory + "\n");
  EXPECT_EQ(result.directory, directory);
  EXPECT_EQ(ListRegularFiles(directory), (std::vector<std::string>{"given.txt", "made.txt"}));
  EXPECT_EQ(ReadFileBytes(directory + "/made.txt"), "x\r\n");
  EXPECT_EQ(ReadFileBytes(directory + "/missing.txt"), std::nullopt);
  RemoveDirectory(directory);
}

TEST(Runner, TimeoutKillsTheChildAndItsGroup) {
  RunOptions options;
  options.timeoutSeconds = 1;
  const auto start = std::chrono::steady_clock::now();
  const RunResult result = Shell("sleep 30 & wait", options);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.signal, SIGKILL);
  EXPECT_EQ(result.exitStatus, -1);
  // The background sleep holds the output pipes too: it must have died with the shell.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  RemoveDirectory(result.directory);
}

TEST(Runner, UnprivilegedChildRunsAsNobody) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges";
  RunOptions options;
  options.unprivileged = true;
  const RunResult result = Shell("id -u; id -g; id -G; echo > made.txt", options);
  EXPECT_EQ(result.standardOutput, "65534\n65534\n65534\n");
  EXPECT_EQ(result.exitStatus, 0);
  struct stat made{};
  ASSERT_EQ(stat((result.directory + "/made.txt").c_str(), &made), 0);
  EXPECT_EQ(made.st_uid, 65534u);
  RemoveDirectory(result.directory);
}

RunOptions Typed(const std::string& input) {
  RunOptions options;
  options.console = ConsoleKind::Terminal;
  options.standardInput = input;
  options.timeoutSeconds = 10;
  return options;
}

TEST(Terminal, StandardInputAndOutputAreTheTerminal) {
  const RunResult result = RunInChild(
      [] { return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && !isatty(STDERR_FILENO) ? 0 : 1; },
      Typed(""));
  EXPECT_EQ(result.exitStatus, 0);
  RemoveDirectory(result.directory);
}

// Each read(2) is shown in brackets, each followed by CR LF that must arrive
// untranslated; the child stops after the first empty read.
RunResult ShowReads(const std::string& input) {
  return RunInChild(
      [] {
        for (;;) {
          const std::string got = ReadOnce();
          Put(STDOUT_FILENO, "[" + got + "]\r\n");
          if (got.empty() || got == "error") return 0;
        }
      },
      Typed(input));
}

struct TypedCase {
  const char* name;
  std::string input, reads;
};

void PrintTo(const TypedCase& row, std::ostream* out) { *out << row.name; }

class TypedInput : public testing::TestWithParam<TypedCase> {};

TEST_P(TypedInput, ArrivesLineByLine) {
  const RunResult result = ShowReads(GetParam().input);
  EXPECT_EQ(result.standardOutput, GetParam().reads);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_FALSE(result.timedOut);
  RemoveDirectory(result.directory);
}

INSTANTIATE_TEST_SUITE_P(
    Terminal, TypedInput,
    testing::Values(
        TypedCase{"OneLinePerRead", "text\nmore\n\x04", "[text\n]\r\n[more\n]\r\n[]\r\n"},
        TypedCase{"EndMidLineHandsOverWhatIsTyped", "ab\x04\x04", "[ab]\r\n[]\r\n"},
        TypedCase{"QuotedSuspendPassesThrough", "a\x16\x1a\n\x04", "[a\x1a\n]\r\n[]\r\n"}),
    CaseName<TypedCase>);

TEST(Terminal, InterruptKeyEndsTheChild) {
  const RunResult result = RunInChild(
      [] {
        ReadOnce();
        return 0;
      },
      Typed("\x03"));
  EXPECT_EQ(result.signal, SIGINT);
  EXPECT_FALSE(result.timedOut);
  RemoveDirectory(result.directory);
}

TEST(Terminal, ManyLinesDoNotBlockEitherSide) {
  std::string lines;
  for (int i = 0; i < 2000; ++i) lines += std::string(100, 'a' + i % 26) + "\n";
  const RunResult result = RunProgram("/bin/cat", Typed(lines + "\x04"));
  EXPECT_EQ(result.standardOutput, lines);
  EXPECT_EQ(result.exitStatus, 0);
  RemoveDirectory(result.directory);
}

}  // namespace
}  // namespace test_support
