// The console dialog of whole runs: the lines a run shows through pipes and
// on a terminal, the refusals, the reports of console and data file input
// that ends or cannot be read, and how typed file names reach the files.
#include <algorithm>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace e2e {
namespace {

std::string ConsoleName(const testing::TestParamInfo<ConsoleKind>& row) {
  return row.param == ConsoleKind::Pipes ? "Pipes" : "Terminal";
}

// Three cases of two variables and the records they give.
const std::string kThreeCases = "1 2\n2 1\n1 2\n";
const std::string kThreeCasesRecords = "  2  1      1\r\n  1  2      2\r\n";

// ---- Normal runs -------------------------------------------------------------

class NormalRun : public ProgramTest, public testing::WithParamInterface<ConsoleKind> {};

// On a terminal the prompt's line end comes when its answer is read, so the
// typed answers, not echoed, leave the same bytes as a run through pipes.
TEST_P(NormalRun, ShowsTheGreetingPromptsAndProgressLines) {
  Write("data.txt", kThreeCases);
  const RunResult result = Run(Answers("data.txt", "out.txt", "3", "2"), GetParam());
  ExpectEnd(result, kNormalRun, "", 0);
  EXPECT_EQ(Read("out.txt"), kThreeCasesRecords);
}

INSTANTIATE_TEST_SUITE_P(Console, NormalRun, testing::Values(ConsoleKind::Pipes, ConsoleKind::Terminal),
                         ConsoleName);

// The bundled answers name the bundled data file and an output file in build/,
// from the top of the source tree.
class BundledExample : public ProgramTest {};

TEST_F(BundledExample, RunsAsShipped) {
  const auto answers = test_support::ReadFileBytes(AGGREGATE_EXAMPLES "/answers.txt");
  const auto survey = test_support::ReadFileBytes(AGGREGATE_EXAMPLES "/survey.dat");
  ASSERT_TRUE(answers && survey);
  std::filesystem::create_directory(Path("examples"));
  std::filesystem::create_directory(Path("build"));
  Write("examples/survey.dat", *survey);

  std::vector<Pattern> cases;
  std::istringstream values(*survey);
  for (Pattern row(3); values >> row[0] >> row[1] >> row[2];) cases.push_back(row);
  ASSERT_EQ(cases.size(), 12U);

  ExpectEnd(Run(*answers), kNormalRun, "", 0);
  EXPECT_EQ(Read("build/patterns.txt"), PatternFile(cases));
}

// ---- Refusals ----------------------------------------------------------------

struct RefusalCase {
  const char* name;
  Names dataFiles;    // made before the run, each holding three cases
  Names directories;  // made before the run
  std::string input;
  const char* message;
};

void PrintTo(const RefusalCase& row, std::ostream* out) { *out << row.name; }

class RefusedRun : public ProgramTest, public testing::WithParamInterface<RefusalCase> {};

// Every answer is read before any is checked; a refusal makes no file and
// leaves those there as they were.
TEST_P(RefusedRun, EndsWithTheStopLineAfterAllFourAnswers) {
  const RefusalCase& c = GetParam();
  for (const std::string& name : c.dataFiles) Write(name, kThreeCases);
  for (const std::string& name : c.directories) std::filesystem::create_directory(Path(name));

  for (ConsoleKind console : {ConsoleKind::Pipes, ConsoleKind::Terminal}) {
    SCOPED_TRACE(console == ConsoleKind::Pipes ? "pipes" : "terminal");
    ExpectEnd(Run(c.input, console), kDialog + Refusal(c.message), "", 0);
    EXPECT_EQ(Files(), c.dataFiles);
    for (const std::string& name : c.dataFiles) EXPECT_EQ(Read(name), kThreeCases);
  }
}

constexpr const char* kCountsMessage = "Both the number of subjects and variables must be greater than zero.";
constexpr const char* kNamesMessage = "Please input valid file names.";
constexpr const char* kOpenMessage = "Error opening individual level data file.";
constexpr const char* kAllocationMessage = "Program could not allocate space for individual level data.";

INSTANTIATE_TEST_SUITE_P(
    Dialog, RefusedRun,
    testing::Values(
        RefusalCase{"NoCasesAndBlankOutputName", {}, {}, Answers("data.txt", "'   '", "0", "2"), kCountsMessage},
        RefusalCase{"NegativeVariables", {}, {}, Answers("data.txt", "out.txt", "10", "-3"), kCountsMessage},
        RefusalCase{"BlankDataName", {}, {}, Answers("'   '", "out.txt", "3", "2"), kNamesMessage},
        RefusalCase{"BlankOutputName", {"data.txt"}, {}, Answers("data.txt", "'  '", "3", "2"), kNamesMessage},
        RefusalCase{"DataNameIsDirectory", {}, {"sub"}, Answers("sub", "out.txt", "3", "2"), kOpenMessage},
        RefusalCase{"DataNameInMissingDirectory", {}, {}, Answers("'nowhere/data.txt'", "out.txt", "3", "2"),
                    kOpenMessage},
        // 24 000 000 000 bytes.
        RefusalCase{"MatrixOverFourGibibytes", {"data.txt"}, {}, Answers("data.txt", "out.txt", "2000000000", "3"),
                    kAllocationMessage},
        // 2^32 bytes, and 2^32 + 8 bytes: neither may wrap to a small block.
        RefusalCase{"MatrixOfFourGibibytes", {"data.txt"}, {}, Answers("data.txt", "out.txt", "1073741824", "1"),
                    kAllocationMessage},
        RefusalCase{"MatrixJustOverFourGibibytes", {"data.txt"}, {},
                    Answers("data.txt", "out.txt", "536870913", "2"), kAllocationMessage}),
    CaseName<RefusalCase>);

// ---- Console input that cannot be used ----------------------------------------

struct ConsoleErrorCase {
  const char* name;
  std::string input;
  std::string standardOutput;
  std::string standardError;
};

void PrintTo(const ConsoleErrorCase& row, std::ostream* out) { *out << row.name; }

class ConsoleError : public ProgramTest, public testing::WithParamInterface<ConsoleErrorCase> {};

TEST_P(ConsoleError, ReportsTheConsoleAndMakesNoFile) {
  const ConsoleErrorCase& c = GetParam();
  ExpectEnd(Run(c.input), c.standardOutput, c.standardError, 1);
  EXPECT_EQ(Files(), Names{});
}

INSTANTIATE_TEST_SUITE_P(
    Pipes, ConsoleError,
    testing::Values(
        ConsoleErrorCase{"LettersForCases", Answers("data.txt", "out.txt", "abc", "2"),
                         kGreeting + kAskData + kAskOutput + kAskCases,
                         ReadReport(6101, "CON")},
        ConsoleErrorCase{"NoInputAtAll", "", kGreeting + kAskData, ReadReport(6501, "CON")},
        ConsoleErrorCase{"OnlyEmptyLines", "\n  \n\r\n", kGreeting + kAskData,
                         ReadReport(6501, "CON")},
        ConsoleErrorCase{"InputEndsBeforeVariables", "data.txt\nout.txt\n3\n",
                         kGreeting + kAskData + kAskOutput + kAskCases + kAskVariables,
                         ReadReport(6501, "CON")}),
    CaseName<ConsoleErrorCase>);

// ---- Data files --------------------------------------------------------------

class DataFile : public ProgramTest {};

// The missing file is made, empty, by the connect; the first case then
// meets its end.
TEST_F(DataFile, MissingIsMadeEmptyAndEndsTheRun) {
  ExpectEnd(Run(Answers("missing.dat", "out.txt", "2", "2")), kDialog + kReading,
            ReadReport(6501, "missing.dat"), 1);
  EXPECT_EQ(Files(), Names{"missing.dat"});
  EXPECT_EQ(Read("missing.dat"), "");
}

// The output file is connected only after all cases have been read.
TEST_F(DataFile, TooShortNeitherMakesNorChangesTheOutputFile) {
  Write("data.txt", "1 2\n3 4\n5\n");
  const std::string input = Answers("data.txt", "out.txt", "3", "2");
  ExpectEnd(Run(input), kDialog + kReading, ReadReport(6501, "data.txt"), 1);
  EXPECT_EQ(Files(), Names{"data.txt"});

  Write("out.txt", "old records\r\n");
  ExpectEnd(Run(input), kDialog + kReading, ReadReport(6501, "data.txt"), 1);
  EXPECT_EQ(Read("out.txt"), "old records\r\n");
}

// ---- File names ---------------------------------------------------------------

struct NameCase {
  const char* name;
  std::string typedData, typedOutput;  // the answers as typed
  std::string data, output;            // the files they name
  Names directories;                   // made before the run
};

void PrintTo(const NameCase& row, std::ostream* out) { *out << row.name; }

class FileName : public ProgramTest, public testing::WithParamInterface<NameCase> {};

TEST_P(FileName, NamesTheFileWithoutSurroundingBlanksAndAtMost40Characters) {
  const NameCase& c = GetParam();
  for (const std::string& name : c.directories) std::filesystem::create_directory(Path(name));
  Write(c.data, kThreeCases);

  ExpectEnd(Run(Answers(c.typedData, c.typedOutput, "3", "2")), kNormalRun, "", 0);
  EXPECT_EQ(Read(c.output), kThreeCasesRecords);
  EXPECT_EQ(Read(c.data), kThreeCases);
  Names made;
  for (const std::string& name : {c.data, c.output}) {
    if (name.find('/') == std::string::npos) made.push_back(name);
  }
  std::sort(made.begin(), made.end());
  EXPECT_EQ(Files(), made);
}

const std::string k50 = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWX";

INSTANTIATE_TEST_SUITE_P(
    Dialog, FileName,
    testing::Values(NameCase{"BlanksAroundUnquoted", "   data.txt   ", "\tout.txt ", "data.txt", "out.txt", {}},
                    NameCase{"BlanksInsideApostrophes", "'  data.txt  '", "'  out.txt'", "data.txt", "out.txt", {}},
                    NameCase{"InnerBlankKept", "'my data.txt'", "\"my out.txt\"", "my data.txt", "my out.txt", {}},
                    NameCase{"SlashBetweenApostrophes", "'sub/data.txt'", "'sub/out.txt'", "sub/data.txt",
                             "sub/out.txt", {"sub"}},
                    NameCase{"DoubledApostrophe", "'it''s.dat'", "out.txt", "it's.dat", "out.txt", {}},
                    NameCase{"OverLongUnquoted", k50, "out.txt", k50.substr(0, 40), "out.txt", {}},
                    NameCase{"OverLongBetweenApostrophes", "data.txt", "'" + k50 + "'", "data.txt",
                             k50.substr(0, 40), {}}),
    CaseName<NameCase>);

// The data file CON is the console: the cases follow the four answers.
TEST_F(DataFile, OnTheConsoleFollowsTheAnswers) {
  ExpectEnd(Run(Answers("CON", "out.txt", "3", "2") + kThreeCases), kNormalRun, "", 0);
  EXPECT_EQ(Files(), Names{"out.txt"});
  EXPECT_EQ(Read("out.txt"), kThreeCasesRecords);
}

// The null device has nothing to read.
TEST_F(DataFile, OnTheNullDeviceEndsAtTheFirstCase) {
  ExpectEnd(Run(Answers("NUL", "out.txt", "2", "2")), kDialog + kReading,
            ReadReport(6501, "NUL"), 1);
  EXPECT_EQ(Files(), Names{});
}

// An answer that gives no value leaves the name empty; the connect then
// takes the next command-line argument.
class EmptyName : public ProgramTest {};

TEST_F(EmptyName, ComesFromTheCommandLine) {
  Write("data.txt", kThreeCases);
  test_support::RunOptions options = Options(Answers("''", ",", "3", "2"));
  options.arguments = {"data.txt", "out.txt"};
  ExpectEnd(Run(options), kNormalRun, "", 0);
  EXPECT_EQ(Read("out.txt"), kThreeCasesRecords);
}

// ---- One line per answer --------------------------------------------------------

class OneAnswerPerLine : public ProgramTest, public testing::WithParamInterface<ConsoleKind> {};

// The rest of an answer's line is dropped; the next answer is the next line.
TEST_P(OneAnswerPerLine, DropsTheSecondValueOnALine) {
  Write("data.txt", "4\n5\n");
  ExpectEnd(Run("data.txt out.txt\nresult.txt\n2 9\n1 7\n", GetParam()), kNormalRun, "", 0);
  EXPECT_EQ(Files(), (Names{"data.txt", "result.txt"}));
  EXPECT_EQ(Read("result.txt"), "  4      1\r\n  5      1\r\n");
}

INSTANTIATE_TEST_SUITE_P(Console, OneAnswerPerLine,
                         testing::Values(ConsoleKind::Pipes, ConsoleKind::Terminal), ConsoleName);

// ---- Line lengths and typed lines on a terminal --------------------------------

class TypedLine : public ProgramTest {};

TEST_F(TypedLine, EmptyOnesArePassedOver) {
  Write("data.txt", "7\n7\n");
  ExpectEnd(Run("\ndata.txt\n\n\nout.txt\n\n2\n\n\n1\n", ConsoleKind::Terminal), kNormalRun, "", 0);
  EXPECT_EQ(Read("out.txt"), "  7      2\r\n");
}

TEST_F(TypedLine, Of130CharactersIsRead) {
  Write("data.txt", "7\n8\n");
  const std::string cases = std::string(129, ' ') + "2";
  ExpectEnd(Run(Answers("data.txt", "out.txt", cases, "1"), ConsoleKind::Terminal), kNormalRun, "", 0);
  EXPECT_EQ(Read("out.txt"), "  7      1\r\n  8      1\r\n");
}

// Through pipes a line of any length is read, piece by piece.
class PipedLine : public ProgramTest {};

TEST_F(PipedLine, OfAnyLengthIsRead) {
  Write("data.txt", "7\n8\n");
  const std::string cases = std::string(300, ' ') + "2";
  ExpectEnd(Run(Answers(std::string(200, ' ') + "data.txt", "out.txt", cases, "1")), kNormalRun, "", 0);
  EXPECT_EQ(Read("out.txt"), "  7      1\r\n  8      1\r\n");
}

class TypedLineError : public ProgramTest, public testing::WithParamInterface<ConsoleErrorCase> {};

// The read that fails has already ended the prompt's line; the end of the
// run ends it once more, as no typed line has moved the console on.
TEST_P(TypedLineError, ReportsTheConsole) {
  const ConsoleErrorCase& c = GetParam();
  ExpectEnd(Run(c.input, ConsoleKind::Terminal), c.standardOutput, c.standardError, 1);
  EXPECT_EQ(Files(), Names{});
}

INSTANTIATE_TEST_SUITE_P(
    Typed, TypedLineError,
    testing::Values(
        ConsoleErrorCase{"LineOf131Characters", "data.txt\nout.txt\n" + std::string(130, ' ') + "2\n1\n",
                     kGreeting + kAskData + kAskOutput + kAskCases + "\r\n",
                     ReadReport(6407, "CON")},
        // Ctrl-V makes the terminal pass the Ctrl-Z on as a byte.
        ConsoleErrorCase{"CtrlZThenEnter", "data.txt\n\x16\x1a\n", kGreeting + kAskData + kAskOutput + "\r\n",
                     ReadReport(6501, "CON")},
        ConsoleErrorCase{"CharactersThenCtrlZ", "data.txt\nout\x16\x1a\n",
                     kGreeting + kAskData + kAskOutput + "\r\n", ReadReport(6501, "CON")},
        ConsoleErrorCase{"CtrlDAtLineStart", "data.txt\nout.txt\n\x04",
                     kGreeting + kAskData + kAskOutput + kAskCases + "\r\n",
                     ReadReport(6501, "CON")}),
    CaseName<ConsoleErrorCase>);

}  // namespace
}  // namespace e2e
