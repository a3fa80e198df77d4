// Console lines with their late CR LF, on pipes and on one terminal; arrays
// and the reports of statements that name no unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/process_runner.h"
#include "textio/layer_state.h"

namespace {

using test_support::ConsoleKind;
using test_support::RunOptions;
using test_support::RunResult;

// Runs `body` in a child in a directory of its own, removed afterwards.
RunResult RunAndClean(const std::function<int()>& body, const RunOptions& options) {
  RunResult result = test_support::RunInChild(body, options);
  test_support::RemoveTree(result.directory);
  return result;
}

void Line(const std::string& text) {
  textio::beginWrite();
  textio::writeCharacter(text.data(), static_cast<int>(text.size()));
  textio::endWrite();
}

void Start() {
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
}

struct LinesCase {
  std::vector<std::string> lines;
  std::string expected;
};

class ConsoleLines : public testing::TestWithParam<LinesCase> {};

TEST_P(ConsoleLines, EndEachLineJustBeforeTheNextAndAtTheEnd) {
  const LinesCase& c = GetParam();
  const char* skipped = nullptr;
  for (ConsoleKind kind : {ConsoleKind::Pipes, ConsoleKind::Terminal}) {
    RunOptions options;
    options.console = kind;
    if (const char* reason = test_support::WhyUnsupported(options)) {
      skipped = reason;
      continue;
    }
    auto result = RunAndClean(
        [&]() -> int {
          Start();
          for (const std::string& text : c.lines) Line(text);
          textio::ExitRun(0);
        },
        options);
    EXPECT_EQ(result.standardOutput, c.expected);
    EXPECT_EQ(result.exitStatus, 0);
  }
  if (skipped != nullptr) GTEST_SKIP() << "checked on pipes only: " << skipped;
}

const std::string k78(78, 'a'), k79(79, 'b'), k100(100, 'c');

INSTANTIATE_TEST_SUITE_P(
    Shapes, ConsoleLines,
    testing::Values(LinesCase{{}, ""}, LinesCase{{"first"}, "first\r\n"},
                    LinesCase{{"first", "second"}, "first\r\nsecond\r\n"},
                    LinesCase{{"greeting", "", "question"}, "greeting\r\n\r\nquestion\r\n"},
                    LinesCase{{"", "x"}, "\r\nx\r\n"}, LinesCase{{"trailing  "}, "trailing  \r\n"},
                    LinesCase{{k78}, k78 + "\r\n"}, LinesCase{{k79}, k79 + "\r\n\r\n"},
                    LinesCase{{k100, "z"}, k100.substr(0, 79) + "\r\n" + k100.substr(79) + "\r\nz\r\n"}));

textio::ArrayDescriptor Array(int64_t rows, int64_t columns) {
  textio::ArrayDescriptor array{};
  array.elementSize = 4;
  array.rank = 2;
  array.bounds[0] = {1, rows};
  array.bounds[1] = {1, columns};
  return array;
}

struct ReportCase {
  bool release;  // release an array never allocated, else allocate one too large
  std::string report;
};

class ArrayErrors : public testing::TestWithParam<ReportCase> {};

TEST_P(ArrayErrors, ReportWithoutAUnitName) {
  auto result = RunAndClean(
      [] {
        Start();
        Line("Working...");
        textio::ArrayDescriptor array = Array(1 << 20, 1 << 10);
        if (GetParam().release) {
          textio::ReleaseArray(array);
        } else {
          textio::AllocateArray(array, nullptr);
        }
        return 3;
      },
      RunOptions{});
  EXPECT_EQ(result.standardError, GetParam().report);
  EXPECT_EQ(result.standardOutput, "Working...\r\n");
  EXPECT_EQ(result.exitStatus, 1);
}

INSTANTIATE_TEST_SUITE_P(Numbered, ArrayErrors,
                         testing::Values(ReportCase{false, "\r\nrun-time error F6773\r\n- no memory for the array\r\n"},
                                         ReportCase{true, "\r\nrun-time error F6776\r\n- release of an array that is not allocated\r\n"}));

}  // namespace
