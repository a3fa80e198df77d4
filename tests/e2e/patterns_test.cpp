// The response pattern file of whole runs: its exact bytes for chosen and
// for random data, how an existing file is replaced, output to devices and
// to places that cannot take it, and a record layout that cannot be built.
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace e2e {
namespace {

std::string Repeated(const std::string& text, int times) {
  std::string bytes;
  for (int i = 0; i < times; ++i) bytes += text;
  return bytes;
}

// Data for `cases`, one line of blank-separated values per case.
std::string DataLines(const std::vector<Pattern>& cases) {
  std::string bytes;
  for (const Pattern& pattern : cases) {
    for (size_t j = 0; j < pattern.size(); ++j) bytes += (j == 0 ? "" : " ") + std::to_string(pattern[j]);
    bytes += "\n";
  }
  return bytes;
}

// ---- Records of chosen data ---------------------------------------------------

struct RecordsCase {
  const char* name;
  const char* nvars;
  const char* ncases;
  std::string data;
  std::string records;
};

void PrintTo(const RecordsCase& row, std::ostream* out) { *out << row.name; }

class Records : public ProgramTest, public testing::WithParamInterface<RecordsCase> {};

TEST_P(Records, HoldOnePatternPerLineWithItsCount) {
  const RecordsCase& c = GetParam();
  Write("data.txt", c.data);
  ExpectEnd(Run(Answers("data.txt", "out.txt", c.ncases, c.nvars)), kNormalRun, "", 0);
  EXPECT_EQ(Read("out.txt"), c.records);
  EXPECT_EQ(Files(), (Names{"data.txt", "out.txt"}));
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, Records,
    testing::Values(
        RecordsCase{"WorkedExample", "3", "7", Repeated("1 2 10\n", 7), "  1  2 10      7\r\n"},
        RecordsCase{"SixRows", "2", "6", "1 2\n2 1\n1 1\n1 2\n1 1\n1 2\n",
                    "  1  1      2\r\n  2  1      1\r\n  1  2      3\r\n"},
        RecordsCase{"LastVariableMostSignificant", "3", "3", "1 1 2\n2 1 1\n1 2 1\n",
                    "  2  1  1      1\r\n  1  2  1      1\r\n  1  1  2      1\r\n"},
        RecordsCase{"OneVariableRecordsOfTenCharacters", "1", "4", "5\n-5\n3\n5\n",
                    " -5      1\r\n  3      1\r\n  5      2\r\n"},
        RecordsCase{"ValuesThatDoNotFit", "2", "5", "1000 1\n-100 1\n999 -99\n0 0\n-100 1\n",
                    "999-99      1\r\n  0  0      1\r\n***  1      2\r\n***  1      1\r\n"},
        RecordsCase{"SingleCase", "2", "1", "4 5\n", "  4  5      1\r\n"},
        RecordsCase{"TwoEqualCases", "2", "2", "4 5\n4 5\n", "  4  5      2\r\n"},
        RecordsCase{"TwoDifferentCases", "2", "2", "2 1\n1 1\n", "  1  1      1\r\n  2  1      1\r\n"},
        RecordsCase{"AllCasesEqual", "3", "9", Repeated("3 0 -3\n", 9), "  3  0 -3      9\r\n"},
        RecordsCase{"LastCaseAlone", "1", "4", "1\n1\n1\n2\n", "  1      3\r\n  2      1\r\n"},
        RecordsCase{"LastTwoCasesEqual", "1", "4", "1\n2\n2\n2\n", "  1      1\r\n  2      3\r\n"},
        RecordsCase{"ExtraValuesSkippedAndCasesOverTwoLines", "3", "3", "1 2 3 99 99\n4\n5 6 77\r\n7,8\r\n\r\n9\n",
                    "  1  2  3      1\r\n  4  5  6      1\r\n  7  8  9      1\r\n"},
        RecordsCase{"LastLineWithoutLineEnd", "2", "2", "1 2\r\n1 2", "  1  2      2\r\n"},
        RecordsCase{"ValuesNotGivenHoldZero", "3", "3", "1,,3\n7 /\n,,,\n",
                    "  0  0  0      1\r\n  7  0  0      1\r\n  1  0  3      1\r\n"}),
    CaseName<RecordsCase>);

class OutputFile : public ProgramTest {};

// Records longer than the file's 1024-byte buffer are written whole.
TEST_F(OutputFile, WideRecordsAreWrittenWhole) {
  for (const int nvars : {400, 9999}) {
    SCOPED_TRACE(nvars);
    std::vector<Pattern> cases;
    for (int i = 0; i < 4; ++i) {
      Pattern pattern(static_cast<size_t>(nvars));
      for (int j = 0; j < nvars; ++j) pattern[static_cast<size_t>(j)] = (i % 3) * (j % 11) - 5;
      cases.push_back(pattern);
    }
    Write("data.txt", DataLines(cases));
    ExpectEnd(Run(Answers("data.txt", "out.txt", "4", std::to_string(nvars))), kNormalRun, "", 0);
    const std::string expected = PatternFile(cases);
    ASSERT_EQ(expected.size(), 3 * static_cast<size_t>(3 * nvars + 7 + 2));
    EXPECT_EQ(Read("out.txt"), expected);
  }
}

// ---- The output file replaced -------------------------------------------------

TEST_F(OutputFile, LongerOneIsCutToTheNewRecords) {
  Write("data.txt", "1 2\n1 2\n");
  Write("out.txt", Repeated("old record\r\n", 500));
  ExpectEnd(Run(Answers("data.txt", "out.txt", "2", "2")), kNormalRun, "", 0);
  EXPECT_EQ(Read("out.txt"), "  1  2      2\r\n");
}

TEST_F(OutputFile, OfTheDataFileNameReplacesTheData) {
  Write("data.txt", "3 1\n1 2\n3 1\n");
  ExpectEnd(Run(Answers("data.txt", "data.txt", "3", "2")), kNormalRun, "", 0);
  EXPECT_EQ(Files(), Names{"data.txt"});
  EXPECT_EQ(Read("data.txt"), "  3  1      2\r\n  1  2      1\r\n");
}

// ---- Output that cannot be made -----------------------------------------------

// An output file name as answered.
struct OutputName {
  const char* name;
  const char* answer;
};

void PrintTo(const OutputName& row, std::ostream* out) { *out << row.name; }

class OutputNotMade : public ProgramTest, public testing::WithParamInterface<OutputName> {};

// The cases have been read and ordered when the output file is refused.
TEST_P(OutputNotMade, StopsAfterSorting) {
  Write("data.txt", "1 2\n");
  std::filesystem::create_directory(Path("sub"));
  ExpectEnd(Run(Answers("data.txt", GetParam().answer, "1", "2")),
            kDialog + kReading + kSorting + Refusal("Error creating output file."), "", 0);
  EXPECT_EQ(Files(), Names{"data.txt"});
  EXPECT_EQ(Read("data.txt"), "1 2\n");
}

INSTANTIATE_TEST_SUITE_P(Patterns, OutputNotMade,
                         testing::Values(OutputName{"InMissingDirectory", "'nowhere/out.txt'"},
                                         OutputName{"Directory", "sub"}),
                         CaseName<OutputName>);

// The run is unprivileged, as the superuser may write a read-only file.
TEST_F(OutputFile, ReadOnlyOneIsRefused) {
  Write("data.txt", "1 2\n");
  Write("out.txt", "kept\r\n");
  std::filesystem::permissions(Path("out.txt"), std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::group_read |
                                                    std::filesystem::perms::others_read);
  test_support::RunOptions options = Options(Answers("data.txt", "out.txt", "1", "2"));
  options.unprivileged = true;
  ExpectEnd(Run(options), kDialog + kReading + kSorting + Refusal("Error creating output file."), "", 0);
  EXPECT_EQ(Read("out.txt"), "kept\r\n");
}

// ---- Output to devices ----------------------------------------------------------

class ConsoleOutput : public ProgramTest, public testing::WithParamInterface<OutputName> {};

// Each record goes to the console as a line whose first character, a blank,
// is the carriage control that starts it on a new line.
TEST_P(ConsoleOutput, GivesLinesUnderCarriageControl) {
  Write("data.txt", "1 1\n2 1\n1 1\n");
  for (ConsoleKind console : {ConsoleKind::Pipes, ConsoleKind::Terminal}) {
    SCOPED_TRACE(console == ConsoleKind::Pipes ? "pipes" : "terminal");
    ExpectEnd(Run(Answers("data.txt", GetParam().answer, "3", "2"), console),
              kDialog + kReading + kSorting + kWriting + " 1  1      2\r\n 2  1      1\r\nDone.\r\n", "", 0);
    EXPECT_EQ(Files(), Names{"data.txt"});
  }
}

INSTANTIATE_TEST_SUITE_P(Patterns, ConsoleOutput,
                         testing::Values(OutputName{"Upper", "CON"}, OutputName{"Lower", "con"},
                                         OutputName{"WithExtension", "Con.txt"}),
                         CaseName<OutputName>);

TEST_F(OutputFile, OnTheNullDeviceVanishes) {
  Write("data.txt", "1 1\n2 1\n1 1\n");
  ExpectEnd(Run(Answers("data.txt", "NUL", "3", "2")), kNormalRun, "", 0);
  EXPECT_EQ(Files(), Names{"data.txt"});
}

// ---- A record layout that cannot be built ----------------------------------------

// Four characters cannot hold 10000 variables: the layout has a character
// out of place, met at the first record before any of it is written.
TEST_F(OutputFile, TenThousandVariablesEndTheRunAtTheFirstRecord) {
  Write("data.txt", Repeated(Repeated("1 ", 10000) + "\n", 2));
  ExpectEnd(Run(Answers("data.txt", "out.txt", "2", "10000")), kDialog + kReading + kSorting + kWriting,
            Report(6989, "WRITE", "out.txt"), 1);
  EXPECT_EQ(Read("out.txt"), "");
}

// ---- Random data against an independent aggregation ------------------------------

struct RandomCase {
  const char* name;
  uint32_t seed;
  int ncases;
  int nvars;
  std::vector<int32_t> values;  // each value is drawn from these
};

void PrintTo(const RandomCase& row, std::ostream* out) { *out << row.name; }

std::vector<int32_t> Range(int32_t low, int32_t high) {
  std::vector<int32_t> values;
  for (int32_t v = low; v <= high; ++v) values.push_back(v);
  return values;
}

struct Generated {
  std::vector<Pattern> cases;
  std::string data;
};

// Free-form data for random cases: assorted separators and line ends,
// some cases with extra values after their last, some over two lines.
Generated Generate(const RandomCase& c) {
  std::mt19937 generator(c.seed);
  const auto chance = [&](int percent) { return static_cast<int>(generator() % 100) < percent; };
  const auto pick = [&](const auto& from) { return from[generator() % from.size()]; };
  const std::vector<std::string> separators = {" ", "  ", ",", " , ", "\t", ", "};
  const std::vector<std::string> lineEnds = {"\n", "\r\n"};

  Generated g;
  for (int i = 0; i < c.ncases; ++i) {
    Pattern pattern;
    const int split = c.nvars > 1 && chance(15) ? 1 + static_cast<int>(generator() % (c.nvars - 1)) : 0;
    if (chance(10)) g.data += "  ";
    for (int j = 0; j < c.nvars; ++j) {
      pattern.push_back(pick(c.values));
      if (j == split && split > 0) {
        g.data += pick(lineEnds);
      } else if (j > 0) {
        g.data += pick(separators);
      }
      g.data += (pattern.back() >= 0 && chance(5) ? "+" : "") + std::to_string(pattern.back());
    }
    if (chance(15)) g.data += " 5 -7";
    if (i + 1 < c.ncases || chance(50)) g.data += pick(lineEnds);
    g.cases.push_back(pattern);
  }
  return g;
}

class RandomData : public ProgramTest, public testing::WithParamInterface<RandomCase> {};

TEST_P(RandomData, GivesTheRecordsOfAnIndependentCount) {
  const RandomCase& c = GetParam();
  const Generated g = Generate(c);
  Write("data.txt", g.data);
  ExpectEnd(Run(Answers("data.txt", "out.txt", std::to_string(c.ncases), std::to_string(c.nvars))), kNormalRun,
            "", 0);
  const auto records = Read("out.txt");
  ASSERT_TRUE(records);
  EXPECT_EQ(*records, PatternFile(g.cases));

  // The count is the last field of every record.
  int64_t total = 0;
  std::istringstream lines(*records);
  for (std::string line; std::getline(lines, line);) total += std::stoll(line.substr(line.size() - 7, 6));
  EXPECT_EQ(total, c.ncases);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, RandomData,
    testing::Values(RandomCase{"SmallValues", 1, 300, 3, Range(-3, 3)},
                    RandomCase{"OneVariableSomeTooWide", 2, 400, 1, Range(-120, 1100)},
                    RandomCase{"ManyBinaryVariables", 3, 250, 6, Range(0, 1)},
                    RandomCase{"FieldEdges", 4, 300, 2, {-101, -100, -99, -1, 0, 1, 998, 999, 1000, 1001}},
                    RandomCase{"WideRanges", 5, 300, 4, {-1000000000, -100000, -5, 0, 7, 100000, 1000000000}}),
    CaseName<RandomCase>);

}  // namespace
}  // namespace e2e
