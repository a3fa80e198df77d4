// Whole runs of the program: the console dialog, refusals and reports, and
// the response pattern file, byte for byte, through pipes and a terminal.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/process_runner.h"
#include "textio/textio.h"

namespace {

using test_support::ConsoleKind;

std::string Lines(std::initializer_list<std::string> texts) {
  std::string bytes;
  for (const std::string& text : texts) bytes += text + "\r\n";
  return bytes;
}

const std::string kAsk = Lines({"This is the QPX data aggregation program.",
                                "It will read in an ASCII file of individual level data,",
                                "and produce a response pattern file for analysis with QPX.", "",
                                "Please type in the name of the data file to be read:"});
const std::string kAskOutput = kAsk + Lines({"Please type in the name for the output file:"});
const std::string kAskCases = kAskOutput + Lines({"Please type in the number of cases to be read in:"});
const std::string kDialog = kAskCases + Lines({"Please type in the number of variables:"});
const std::string kRead = kDialog + Lines({"Reading the data..."});
const std::string kSorted = kRead + Lines({"Sorting...."});
const std::string kWriting = kSorted + Lines({"Writing output file..."});
const std::string kNormal = kWriting + Lines({"Done."});

std::string Refusal(const std::string& message) { return Lines({message, "Stop - Program terminated.", ""}); }

std::string Answers(const std::string& data, const std::string& output, const std::string& ncases,
                    const std::string& nvars) {
  return data + "\n" + output + "\n" + ncases + "\n" + nvars + "\n";
}

std::string Report(int number, const std::string& statement, const std::string& name) {
  return "\r\nrun-time error F" + std::to_string(number) + ": " + statement + "(" + name + ")\r\n- " +
         textio::RunErrorMessage(number) + "\r\n";
}

std::string Repeated(const std::string& text, int times) {
  std::string bytes;
  while (times-- > 0) bytes += text;
  return bytes;
}

// Runs the program in a fresh directory holding `files`; returns its result
// and, through `left`, the files it leaves.
test_support::RunResult RunIn(const std::map<std::string, std::string>& files, const std::string& input,
                              ConsoleKind console, std::map<std::string, std::string>& left) {
  std::string directory = test_support::MakeTemporaryDirectory();
  for (const auto& [name, bytes] : files) test_support::WriteFileBytes(directory + "/" + name, bytes);
  test_support::RunOptions options;
  options.directory = directory;
  options.console = console;
  options.standardInput = input;
  auto result = test_support::RunProgram(AGGREGATE_PROGRAM, options);
  for (const std::string& name : test_support::ListRegularFiles(directory)) {
    left[name] = test_support::ReadFileBytes(directory + "/" + name).value_or("");
  }
  test_support::RemoveTree(directory);
  return result;
}

using Files = std::map<std::string, std::string>;

struct RunCase {
  const char* name;
  ConsoleKind console;
  Files before;
  std::string input;
  std::string standardOutput;
  std::string standardError;  // a report means exit status 1
  Files after;
};

class Run : public testing::TestWithParam<RunCase> {};

TEST_P(Run, ShowsAndLeavesExactlyThis) {
  const RunCase& c = GetParam();
  test_support::RunOptions wanted;
  wanted.console = c.console;
  if (const char* reason = test_support::WhyUnsupported(wanted)) GTEST_SKIP() << reason;
  Files left;
  auto result = RunIn(c.before, c.input, c.console, left);
  EXPECT_EQ(result.standardOutput, c.standardOutput);
  EXPECT_EQ(result.standardError, c.standardError);
  EXPECT_EQ(result.exitStatus, c.standardError.empty() ? 0 : 1);
  EXPECT_EQ(left, c.after);
}

std::string CaseName(const testing::TestParamInfo<RunCase>& row) { return row.param.name; }

const ConsoleKind P = ConsoleKind::Pipes, T = ConsoleKind::Terminal;
const std::string kCases = "1 2\n2 1\n1 2\n", kRecords = "  2  1      1\r\n  1  2      2\r\n";
const std::string kNames = Answers("data.txt", "out.txt", "3", "2");
const Files kData = {{"data.txt", kCases}}, kDone = {{"data.txt", kCases}, {"out.txt", kRecords}};
const std::string k40 = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";
const std::string kCountsMessage = "Both the number of subjects and variables must be greater than zero.";

INSTANTIATE_TEST_SUITE_P(
    Dialog, Run,
    testing::Values(
        RunCase{"Pipes", P, kData, kNames, kNormal, "", kDone},
        RunCase{"Terminal", T, kData, kNames, kNormal, "", kDone},
        RunCase{"CountsCheckedAfterAllAnswers", P, kData, Answers("data.txt", "'  '", "0", "2"),
                kDialog + Refusal(kCountsMessage), "", kData},
        RunCase{"NegativeVariables", T, kData, Answers("data.txt", "out.txt", "10", "-3"),
                kDialog + Refusal(kCountsMessage), "", kData},
        RunCase{"BlankName", P, kData, Answers("'   '", "out.txt", "3", "2"),
                kDialog + Refusal("Please input valid file names."), "", kData},
        RunCase{"DataIsADirectory", P, kData, Answers(".", "out.txt", "3", "2"),
                kDialog + Refusal("Error opening individual level data file."), "", kData},
        RunCase{"DataInMissingDirectory", P, kData, Answers("'no/data.txt'", "out.txt", "3", "2"),
                kDialog + Refusal("Error opening individual level data file."), "", kData},
        RunCase{"MatrixOfFourGibibytes", P, kData, Answers("data.txt", "out.txt", "1073741824", "1"),
                kDialog + Refusal("Program could not allocate space for individual level data."), "", kData},
        RunCase{"LettersForCases", P, kData, Answers("data.txt", "out.txt", "abc", "2"), kAskCases,
                Report(6101, "READ", "CON"), kData},
        RunCase{"NoAnswers", P, kData, "\n \r\n", kAsk, Report(6501, "READ", "CON"), kData},
        RunCase{"MissingDataFileIsMadeEmpty", P, {}, kNames, kRead, Report(6501, "READ", "data.txt"),
                {{"data.txt", ""}}},
        RunCase{"ShortDataLeavesOutputAlone", P, {{"data.txt", "1 2\n3 4\n"}, {"out.txt", "old\r\n"}}, kNames, kRead,
                Report(6501, "READ", "data.txt"), {{"data.txt", "1 2\n3 4\n"}, {"out.txt", "old\r\n"}}},
        RunCase{"DataOnTheConsole", P, {}, Answers("CON", "out.txt", "3", "2") + kCases, kNormal, "",
                {{"out.txt", kRecords}}},
        RunCase{"NamesTrimmedAndCut", P, kData, Answers("  data.txt ", k40 + "XYZ", "3", "2"), kNormal, "",
                {{k40, kRecords}, {"data.txt", kCases}}},
        RunCase{"RestOfAnAnswerLineDropped", P, kData, "data.txt out\nout.txt\n3 9\n2\n", kNormal, "", kDone},
        RunCase{"EmptyTypedLinesPassedOver", T, kData, "\ndata.txt\n\nout.txt\n3\n\n2\n", kNormal, "", kDone},
        RunCase{"TypedLineOf130", T, kData, Answers("data.txt", "out.txt", std::string(129, ' ') + "3", "2"),
                kNormal, "", kDone},
        RunCase{"TypedLineOf131", T, kData, Answers("data.txt", "out.txt", std::string(130, ' ') + "3", "2"),
                kAskCases + "\r\n", Report(6407, "READ", "CON"), kData},
        RunCase{"TypedCtrlZ", T, kData, "data.txt\nout\x16\x1a\n", kAskOutput + "\r\n", Report(6501, "READ", "CON"),
                kData},
        RunCase{"TypedCtrlD", T, kData, "data.txt\n\x04", kAskOutput + "\r\n", Report(6501, "READ", "CON"), kData}),
    CaseName);

const std::string kWide = Repeated(Repeated("1 ", 10000) + "\n", 2);

// Data files and the records they give, with `nvars` variables.
RunCase Records(const char* name, const std::string& data, const char* ncases, const char* nvars,
                const std::string& records) {
  return RunCase{name, P, {{"data.txt", data}}, Answers("data.txt", "out.txt", ncases, nvars), kNormal, "",
                 {{"data.txt", data}, {"out.txt", records}}};
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, Run,
    testing::Values(
        Records("WorkedExample", Repeated("1 2 10\n", 7), "7", "3", "  1  2 10      7\r\n"),
        Records("SixRows", "1 2\n2 1\n1 1\n1 2\n1 1\n1 2\n", "6", "2",
                "  1  1      2\r\n  2  1      1\r\n  1  2      3\r\n"),
        Records("OneVariable", "5\n-5\n3\n5\n", "4", "1", " -5      1\r\n  3      1\r\n  5      2\r\n"),
        Records("ValuesThatDoNotFit", "1000 1\n-100 1\n999 -99\n", "3", "2",
                "999-99      1\r\n***  1      1\r\n***  1      1\r\n"),
        Records("SingleCase", "4 5\n", "1", "2", "  4  5      1\r\n"),
        Records("FormsOfTheData", "1 2 3 99\n4\n5 6 7\r\n1,2,3\r\n\r\n7 /\n,,,", "5", "3",
                "  0  0  0      1\r\n  7  0  0      1\r\n  1  2  3      2\r\n  4  5  6      1\r\n"),
        RunCase{"LongerOldFileCut", P, {{"data.txt", kCases}, {"out.txt", Repeated("old record\r\n", 500)}}, kNames,
                kNormal, "", kDone},
        RunCase{"DataFileReplaced", P, kData, Answers("data.txt", "data.txt", "3", "2"), kNormal, "",
                {{"data.txt", kRecords}}},
        RunCase{"OutputInMissingDirectory", P, kData, Answers("data.txt", "'no/out.txt'", "3", "2"),
                kSorted + Refusal("Error creating output file."), "", kData},
        RunCase{"OutputToTheConsole", P, kData, Answers("data.txt", "con.txt", "3", "2"),
                kWriting + " 2  1      1\r\n 1  2      2\r\nDone.\r\n", "", kData},
        RunCase{"OutputToTheConsoleTerminal", T, kData, Answers("data.txt", "CON", "3", "2"),
                kWriting + " 2  1      1\r\n 1  2      2\r\nDone.\r\n", "", kData},
        RunCase{"OutputToTheNullDevice", P, kData, Answers("data.txt", "NUL", "3", "2"), kNormal, "", kData},
        RunCase{"OutputToTheNullDeviceByExtension", P, kData, Answers("data.txt", "nul.out", "3", "2"), kNormal, "",
                kData},
        RunCase{"DataFromTheNullDevice", P, kData, Answers("nul.out", "out.txt", "3", "2"), kRead,
                Report(6501, "READ", "NUL"), kData},
        RunCase{"TenThousandVariables", P, {{"data.txt", kWide}}, Answers("data.txt", "out.txt", "2", "10000"),
                kWriting, Report(6989, "WRITE", "out.txt"), {{"data.txt", kWide}, {"out.txt", ""}}}),
    CaseName);

std::string Field(int64_t value, size_t width) {
  std::string text = std::to_string(value);
  return text.size() > width ? std::string(width, '*') : std::string(width - text.size(), ' ') + text;
}

// Random data, with wide records and assorted separators, against an
// independent count: distinct rows in pattern order, each edited by hand.
TEST(RandomRuns, GiveTheRecordsOfAnIndependentCount) {
  struct Shape {
    int ncases, nvars, low, high;
  };
  for (Shape shape : {Shape{300, 3, -3, 3}, Shape{400, 1, -120, 1100}, Shape{250, 6, 0, 1}, Shape{5, 400, -5, 5},
                      Shape{300, 4, -1000000000, 1000000000}}) {
    std::mt19937 random(static_cast<unsigned>(shape.ncases + shape.nvars));
    std::uniform_int_distribution<int> value(shape.low, shape.high);
    const char* separators[] = {" ", "  ", ",", " , ", "\t", "\r\n", "\n"};
    auto lastMostSignificant = [](const std::vector<int>& a, const std::vector<int>& b) {
      return std::lexicographical_compare(a.rbegin(), a.rend(), b.rbegin(), b.rend());
    };
    std::map<std::vector<int>, int, decltype(lastMostSignificant)> counts(lastMostSignificant);
    std::string data;
    for (int i = 0; i < shape.ncases; ++i) {
      std::vector<int> row;
      for (int j = 0; j < shape.nvars; ++j) {
        row.push_back(random() % 2 ? value(random) % 1000 : value(random));
        data += (j == 0 ? "" : separators[random() % 7]) + std::to_string(row.back());
      }
      data += random() % 5 == 0 ? " 5 -7\r\n" : "\n";
      ++counts[row];
    }
    std::string records;
    for (const auto& [row, count] : counts) {
      for (int v : row) records += Field(v, 3);
      records += " " + Field(count, 6) + "\r\n";
    }
    Files left;
    auto result = RunIn({{"data.txt", data}},
                        Answers("data.txt", "out.txt", std::to_string(shape.ncases), std::to_string(shape.nvars)),
                        P, left);
    EXPECT_EQ(result.standardOutput, kNormal) << result.standardError;
    EXPECT_EQ(left["out.txt"], records) << shape.nvars;
  }
}

}  // namespace
