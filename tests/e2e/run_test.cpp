// Whole runs of the program: the console dialog, refusals and reports, and
// the response pattern file, byte for byte, through pipes and a terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
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

std::string Report(int number, const std::string& statement, const std::string& name, const std::string& detail = "") {
  return "\r\nrun-time error F" + std::to_string(number) + ": " + statement + "(" + name + ")\r\n- " +
         textio::RunErrorMessage(number) + (detail.empty() ? "" : ": " + detail) + "\r\n";
}

std::string Repeated(const std::string& text, int times) {
  std::string bytes;
  while (times-- > 0) bytes += text;
  return bytes;
}

// Runs the program in a fresh directory holding `files`; returns its result
// and, through `left`, the files it leaves.
test_support::RunResult RunIn(const std::map<std::string, std::string>& files, const std::string& input,
                              ConsoleKind console, std::map<std::string, std::string>& left,
                              const std::vector<std::string>& arguments = {}) {
  std::string directory = test_support::MakeTemporaryDirectory();
  for (const auto& [name, bytes] : files) test_support::WriteFileBytes(directory + "/" + name, bytes);
  test_support::RunOptions options;
  options.directory = directory;
  options.console = console;
  options.standardInput = input;
  options.arguments = arguments;
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
  std::vector<std::string> arguments = {};
};

class Run : public testing::TestWithParam<RunCase> {};

TEST_P(Run, ShowsAndLeavesExactlyThis) {
  const RunCase& c = GetParam();
  test_support::RunOptions wanted;
  wanted.console = c.console;
  if (const char* reason = test_support::WhyUnsupported(wanted)) GTEST_SKIP() << reason;
  Files left;
  auto result = RunIn(c.before, c.input, c.console, left, c.arguments);
  EXPECT_EQ(result.standardOutput, c.standardOutput);
  EXPECT_EQ(result.standardError, c.standardError);
  bool stopped = c.standardOutput.find("Stop - Program terminated.") != std::string::npos;
  EXPECT_EQ(result.exitStatus, c.standardError.empty() && !stopped ? 0 : 1);
  EXPECT_EQ(left, c.after);
}

std::string CaseName(const testing::TestParamInfo<RunCase>& row) { return row.param.name; }

const ConsoleKind P = ConsoleKind::Pipes, T = ConsoleKind::Terminal;
const std::string kCases = "1 2\n2 1\n1 2\n", kRecords = "  2  1      1\r\n  1  2      2\r\n";
const std::string kNames = Answers("data.txt", "out.txt", "3", "2");
const Files kData = {{"data.txt", kCases}}, kDone = {{"data.txt", kCases}, {"out.txt", kRecords}};
const std::string k40 = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";
const std::string kCountsMessage = "Both the number of subjects and variables must be greater than zero.";
const std::string kNamePrompt = "File name missing or blank - please enter file name\r\nUNIT 1? ";
const std::string k200(200, 'n');

// Data files and the records they give, with `nvars` variables.
RunCase Records(const char* name, const std::string& data, const char* ncases, const char* nvars,
                const std::string& records) {
  return RunCase{name, P, {{"data.txt", data}}, Answers("data.txt", "out.txt", ncases, nvars), kNormal, "",
                 {{"data.txt", data}, {"out.txt", records}}};
}

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
                Report(6101, "READ", "CON", R"("abc" on line 3)"), kData},
        RunCase{"NoAnswers", P, kData, "\n \r\n", kAsk, Report(6501, "READ", "CON", "the input ends on line 3"), kData},
        RunCase{"DataOnTheConsole", P, {}, Answers("CON", "out.txt", "3", "2") + kCases, kNormal, "",
                {{"out.txt", kRecords}}},
        RunCase{"NamesTrimmedAndCut", P, kData, Answers("  data.txt ", k40 + "XYZ", "3", "2"), kNormal, "",
                {{k40, kRecords}, {"data.txt", kCases}}},
        RunCase{"RestOfAnAnswerLineDropped", P, kData, "data.txt out\nout.txt\n3 9\n2\n", kNormal, "", kDone},
        RunCase{"EmptyTypedLinesPassedOver", T, kData, "\ndata.txt\n\nout.txt\n3\n\n2\n", kNormal, "", kDone},
        RunCase{"TypedLineOf130", T, kData, Answers("data.txt", "out.txt", std::string(129, ' ') + "3", "2"),
                kNormal, "", kDone},
        RunCase{"TypedLineOf131", T, kData, Answers("data.txt", "out.txt", std::string(130, ' ') + "3", "2"),
                kAskCases + "\r\n", Report(6407, "READ", "CON", "line 3"), kData},
        RunCase{"TypedCtrlZ", T, kData, "data.txt\nout\x16\x1a\n", kAskOutput + "\r\n", Report(6501, "READ", "CON", "the input ends on line 2"),
                kData},
        RunCase{"TypedCtrlD", T, kData, "data.txt\n\x04", kAskOutput + "\r\n", Report(6501, "READ", "CON", "the input ends on line 2"), kData},
        RunCase{"CtrlZLineEndsTheAnswers", P, kData, Answers("data.txt", "out.txt", "3", "2\x1a"), kDialog,
                Report(6501, "READ", "CON", "the input ends on line 4"), kData},
        RunCase{"CtrlZLineAfterTheAnswers", P, kData, kNames + "\x1a\r\n", kNormal, "", kDone},
        RunCase{"CtrlZInsideALine", P, kData, Answers("data.txt", "out.txt", "3", "2 \x1a" "9"), kNormal, "", kDone},
        RunCase{"ByteOrderMarkBeforeTheAnswers", P, kData, "\xEF\xBB\xBF" + kNames, kNormal, "", kDone},
        RunCase{"NameAskedOnItsOwnLineUntilNotBlank", P, kData, Answers(",", "out.txt", "3", "2") + "   \ndata.txt\n",
                kDialog + kNamePrompt + kNamePrompt + "\r\n" +
                    Lines({"Reading the data...", "Sorting....", "Writing output file...", "Done."}),
                "", kDone},
        RunCase{"NoNameWhenAsked", P, kData, Answers(",", "out.txt", "3", "2"),
                kDialog + kNamePrompt + "\r\n" + Refusal("Error opening individual level data file."), "", kData},
        RunCase{"NamesFromTheArguments", P, kData, Answers("/", "/", "3", "2"), kNormal, "", kDone,
                {" data.txt ", "out.txt"}},
        RunCase{"HelpAfterTheFirstArgumentIsAName", P, kData, Answers("/", "/", "3", "2"), kNormal, "",
                {{"data.txt", kCases}, {"--help", kRecords}}, {"data.txt", "--help"}},
        RunCase{"Version", P, kData, kNames, "aggregate " AGGREGATE_VERSION "\r\n", "", kData, {"--version"}},
        RunCase{"LongNameTypedWhenAsked", T, {{k200, kCases}}, Answers(",", "out.txt", "3", "2") + k200 + "\n",
                kDialog + kNamePrompt + Lines({"Reading the data...", "Sorting....", "Writing output file...", "Done."}),
                "", {{k200, kCases}, {"out.txt", kRecords}}}),
    CaseName);

// "/?", the way Windows programs are asked, is --help: the usage text, and no question.
TEST(Help, AskedTheWindowsWay) {
  Files leftByHelp, leftByAsking;
  auto help = RunIn(kData, kNames, P, leftByHelp, {"--help"});
  auto asked = RunIn(kData, kNames, P, leftByAsking, {"/?"});
  EXPECT_EQ(help.standardOutput.rfind("Usage: aggregate", 0), 0u);
  EXPECT_EQ(asked.standardOutput, help.standardOutput);
  EXPECT_EQ(asked.exitStatus, 0);
  EXPECT_EQ(leftByAsking, kData);
}

// Data files that cannot be read whole: the report says what stands where.
RunCase BadData(const char* name, const std::string& data, int number, const std::string& detail) {
  return RunCase{name, P, {{"data.txt", data}}, kNames, kRead, Report(number, "READ", "data.txt", detail),
                 {{"data.txt", data}}};
}

INSTANTIATE_TEST_SUITE_P(
    BadData, Run,
    testing::Values(
        BadData("TextInAWholeNumber", "1 2\n3 NA\n", 6101, R"("NA" in case 2, line 2)"),
        BadData("DecimalPoint", "1 2\n\n2 1.5\n", 6101, R"("1.5" in case 2, line 3)"),
        BadData("ValueTooLarge", "1 2\n3 99999999999\n", 6100, R"("99999999999" in case 2, line 2)"),
        BadData("CsvHeader", "a,b\n1,2\n2,1\n1,2\n", 6101, R"("a" in case 1, line 1)"),
        BadData("ByteOrderMarkInTheMiddle", "1 2\n\xEF\xBB\xBF" "2 1\n", 6101, R"("\xEF\xBB\xBF2" in case 2, line 2)"),
        RunCase{"MistypedName", P, {}, kNames, kRead,
                Report(6501, "READ", "data.txt", "the file did not exist, so an empty file of that name was made"),
                {{"data.txt", ""}}},
        RunCase{"ShortFileLeavesOutputAlone", P, {{"data.txt", "1 2\n3 4\n"}, {"out.txt", "old\r\n"}}, kNames, kRead,
                Report(6501, "READ", "data.txt", "2 cases read, the file ends in case 3, line 3"),
                {{"data.txt", "1 2\n3 4\n"}, {"out.txt", "old\r\n"}}},
        Records("ByteOrderMarkAtTheStart", "\xEF\xBB\xBF" + kCases, "3", "2", kRecords)),
    CaseName);

// Endless data without a separator ends the run as a value too long to be a number.
TEST(EndlessData, EndsTheRun) {
  if (!std::filesystem::exists("/dev/zero")) GTEST_SKIP() << "no endless file on this system";
  Files left;
  auto result = RunIn({}, Answers("'/dev/zero'", "out.txt", "1", "1"), P, left);
  EXPECT_EQ(result.standardOutput, kRead);
  EXPECT_EQ(result.standardError,
            Report(6100, "READ", "/dev/zero", "\"" + Repeated("\\x00", 40) + "...\" in case 1, line 1"));
  EXPECT_TRUE(left.empty());
}

const std::string kWide = Repeated(Repeated("1 ", 10000) + "\n", 2);

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
        RunCase{"OutputToUserDot", P, kData, Answers("data.txt", "USER.", "3", "2"),
                kWriting + " 2  1      1\r\n 1  2      2\r\nDone.\r\n", "", kData},
        RunCase{"OutputToTheNullDeviceByExtension", P, kData, Answers("data.txt", "nul.out", "3", "2"), kNormal, "",
                kData},
        RunCase{"DataFromTheNullDevice", P, kData, Answers("nul.out", "out.txt", "3", "2"), kRead,
                Report(6501, "READ", "NUL", "0 cases read, the file ends in case 1, line 1"), kData},
        RunCase{"TenThousandVariables", P, {{"data.txt", kWide}}, Answers("data.txt", "out.txt", "2", "10000"),
                kWriting, Report(6989, "WRITE", "out.txt"), {{"data.txt", kWide}, {"out.txt", ""}}}),
    CaseName);

}  // namespace
