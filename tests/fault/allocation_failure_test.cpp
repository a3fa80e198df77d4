// Whole runs of the bundled example with one allocation failing, or every one
// from the n-th on, for each n the run reaches: each must end with status 0
// or 1, with a well-formed report or the program's own message, never a signal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/process_runner.h"
#include "textio/textio.h"

namespace {

using test_support::RunResult;

const std::string kExamples = AGGREGATE_EXAMPLES;

// A run in `directory`, laid out as the example's answers expect; with
// `failing` set, the shim fails allocations from `n` on as it says.
RunResult RunExample(const std::string& directory, const char* failing, unsigned n) {
  test_support::RunOptions options;
  options.directory = directory;
  options.standardInput = test_support::ReadFileBytes(kExamples + "/answers.txt").value();
  if (failing != nullptr) {
    setenv("LD_PRELOAD", ALLOCATION_SHIM, 1);
    setenv(failing, std::to_string(n).c_str(), 1);
  }
  RunResult result = test_support::RunProgram(AGGREGATE_PROGRAM, options);
  if (failing != nullptr) {
    unsetenv("LD_PRELOAD");
    unsetenv(failing);
  }
  return result;
}

// What is wrong with how a run ended; empty when it ended well: normally, by
// the program's own stop, or with a report of a memory error (6700 to 6799)
// in its well-formed layout and with that number's own message.
std::string Fault(const RunResult& run, const RunResult& normal) {
  static const std::regex kReport(
      "\r\nrun-time error F(67[0-9][0-9])(: [A-Z]+(\\([^()\r\n]+\\))?)?\r\n- ([^\r\n]+)\r\n");
  std::smatch report;
  bool done = run.standardOutput == normal.standardOutput;
  bool stopped = run.standardOutput.find("\r\nStop - Program terminated.\r\n") != std::string::npos;
  bool reported = std::regex_match(run.standardError, report, kReport) &&
                  report[4] == textio::RunErrorMessage(std::stoi(report[1]));
  if (!run.timedOut && run.signal == 0 &&
      ((run.standardError.empty() && (done ? run.exitStatus == 0 : stopped && run.exitStatus == 1)) ||
       (run.exitStatus == 1 && reported))) {
    return "";
  }
  return "status " + std::to_string(run.exitStatus) + ", signal " + std::to_string(run.signal) +
         ", standard error: " + run.standardError;
}

// How the shim fails allocations: the n-th only, or every one from the n-th on.
const char* const kFailureModes[] = {"FAIL_ALLOCATION", "FAIL_ALLOCATIONS_FROM"};

TEST(AllocationFailure, EndsEveryRunWithAReportOrAMessage) {
  const std::string directory = test_support::MakeTemporaryDirectory();
  std::filesystem::create_directories(directory + "/examples");
  std::filesystem::create_directories(directory + "/build");
  std::filesystem::copy_file(kExamples + "/survey.dat", directory + "/examples/survey.dat");
  const RunResult normal = RunExample(directory, nullptr, 0);
  ASSERT_EQ(normal.exitStatus, 0) << normal.standardError;

  // Past the run's last allocation, failing every one from there on changes nothing.
  bool pastLast = false;
  std::string faults;
  for (unsigned n = 1; !pastLast && n < 5000; ++n) {
    for (const char* mode : kFailureModes) {
      RunResult run = RunExample(directory, mode, n);
      if (std::string fault = Fault(run, normal); !fault.empty()) {
        faults += std::string(mode) + "=" + std::to_string(n) + ": " + fault + "\n";
      }
      pastLast = mode == kFailureModes[1] && run.exitStatus == 0 && run.standardOutput == normal.standardOutput;
    }
  }
  EXPECT_TRUE(pastLast);
  EXPECT_EQ(faults, "");
  test_support::RemoveTree(directory);
}

}  // namespace
