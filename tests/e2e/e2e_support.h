// Shared pieces of the end-to-end tests: the built program run in a working
// directory of its own, the console text a run shows, the run-time error
// report, and pattern records edited independently of the program.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "support/process_runner.h"
#include "textio/textio.h"

namespace e2e {

using test_support::ConsoleKind;
using test_support::RunResult;

// Console lines as they reach standard output: each text followed by CR LF.
inline std::string Lines(std::initializer_list<std::string_view> texts) {
  std::string bytes;
  for (std::string_view text : texts) {
    bytes += text;
    bytes += "\r\n";
  }
  return bytes;
}

inline const std::string kGreeting = Lines({
    "This is the QPX data aggregation program.",
    "It will read in an ASCII file of individual level data,",
    "and produce a response pattern file for analysis with QPX.",
    "",
});
inline const std::string kAskData = Lines({"Please type in the name of the data file to be read:"});
inline const std::string kAskOutput = Lines({"Please type in the name for the output file:"});
inline const std::string kAskCases = Lines({"Please type in the number of cases to be read in:"});
inline const std::string kAskVariables = Lines({"Please type in the number of variables:"});

// Standard output once all four answers have been read.
inline const std::string kDialog = kGreeting + kAskData + kAskOutput + kAskCases + kAskVariables;
inline const std::string kReading = Lines({"Reading the data..."});
inline const std::string kSorting = Lines({"Sorting...."});
inline const std::string kWriting = Lines({"Writing output file..."});
inline const std::string kNormalRun = kDialog + kReading + kSorting + kWriting + Lines({"Done."});

// A refusal: its message line, the stop line and one empty line.
inline std::string Refusal(std::string_view message) {
  return Lines({message, "Stop - Program terminated.", ""});
}

// The run-time error report on standard error for a statement naming a unit.
inline std::string Report(int number, std::string_view statement, std::string_view name) {
  std::string bytes = "\r\nrun-time error F" + std::to_string(number) + ": ";
  bytes += statement;
  bytes += "(";
  bytes += name;
  bytes += ")\r\n- ";
  bytes += textio::RunErrorMessage(number);
  bytes += "\r\n";
  return bytes;
}

inline std::string ReadReport(int number, std::string_view name) { return Report(number, "READ", name); }

// The four answers, each on a line of its own.
inline std::string Answers(std::string_view data, std::string_view output, std::string_view ncases,
                           std::string_view nvars) {
  std::string bytes;
  for (std::string_view answer : {data, output, ncases, nvars}) {
    bytes += answer;
    bytes += '\n';
  }
  return bytes;
}

// ---- Pattern records, edited without the program's help ---------------------

using Pattern = std::vector<int32_t>;

// The pattern order: the last variable is the most significant.
struct PatternLess {
  bool operator()(const Pattern& a, const Pattern& b) const {
    return std::lexicographical_compare(a.rbegin(), a.rend(), b.rbegin(), b.rend());
  }
};

// A whole number right-justified in `width` characters, or asterisks when
// its text is longer than that.
inline std::string Field(int64_t value, size_t width) {
  const std::string text = std::to_string(value);
  if (text.size() > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

inline std::string Record(const Pattern& pattern, int64_t count) {
  std::string bytes;
  for (int32_t value : pattern) bytes += Field(value, 3);
  bytes += ' ';
  bytes += Field(count, 6);
  bytes += "\r\n";
  return bytes;
}

// The response pattern file of the given cases: one record per distinct
// pattern, in pattern order, with the number of cases that gave it.
inline std::string PatternFile(const std::vector<Pattern>& cases) {
  std::map<Pattern, int64_t, PatternLess> counts;
  for (const Pattern& pattern : cases) ++counts[pattern];
  std::string bytes;
  for (const auto& [pattern, count] : counts) bytes += Record(pattern, count);
  return bytes;
}

// ---- Runs ------------------------------------------------------------------

// Each test works in a fresh directory, removed afterwards, where the
// program runs and its files are looked at.
class ProgramTest : public testing::Test {
 protected:
  void SetUp() override { directory_ = test_support::MakeTemporaryDirectory(); }
  void TearDown() override { test_support::RemoveDirectory(directory_); }

  std::string Path(std::string_view name) const { return directory_ + "/" + std::string(name); }
  void Write(std::string_view name, const std::string& bytes) const {
    test_support::WriteFileBytes(Path(name), bytes);
  }
  std::optional<std::string> Read(std::string_view name) const {
    return test_support::ReadFileBytes(Path(name));
  }
  std::vector<std::string> Files() const { return test_support::ListRegularFiles(directory_); }

  // Options for a run in the test's directory with the given input.
  test_support::RunOptions Options(const std::string& input, ConsoleKind console = ConsoleKind::Pipes) const {
    test_support::RunOptions options;
    options.standardInput = input;
    options.console = console;
    options.directory = directory_;
    return options;
  }
  RunResult Run(const test_support::RunOptions& options) const {
    return test_support::RunProgram(AGGREGATE_PROGRAM, options);
  }
  RunResult Run(const std::string& input, ConsoleKind console = ConsoleKind::Pipes) const {
    return Run(Options(input, console));
  }

  // Standard output, standard error and the exit status of a run that ended
  // by itself.
  static void ExpectEnd(const RunResult& result, const std::string& standardOutput,
                        const std::string& standardError, int exitStatus) {
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.standardOutput, standardOutput);
    EXPECT_EQ(result.standardError, standardError);
    EXPECT_EQ(result.exitStatus, exitStatus);
  }

 private:
  std::string directory_;
};

using Names = std::vector<std::string>;

// Test names of table rows: each row carries its own.
template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& row) {
  return row.param.name;
}

}  // namespace e2e
