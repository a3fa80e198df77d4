// Cases counted by pattern while they are read, the switch to the case
// matrix when the table is full, and the later part of a large file read on
// a second thread: whichever way a run goes, the pattern file holds each
// case once, held against a plain count of the rows, and a report is that of
// a reading in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#endif

#include "aggregation/Corvanesubs.h"
#include "aggregation/case_reading.h"
#include "support/death_test.h"
#include "support/patterns.h"
#include "textio/layer_state.h"

namespace {

struct CountingCase {
  const char* name;
  int32_t ncases, nvars, capacity;
  // Row i takes pattern i % early before `switchRow`, i % late from there on.
  int32_t early, switchRow, late;
  bool counted;  // every row was counted, the matrix never used
  // Cases written in several forms: blanks after the values, values beyond
  // the case's, a case over two records.
  bool varied = false;
  int32_t based = -1;      // a case whose first value is written 10#v, which the fast path leaves alone
  int32_t extraCases = 0;  // the file holds this many cases more than are read
  bool tailLines = false;  // the last two values of every case on lines of their own
};

// Pattern p: its digits in base 5, the lowest first, one a variable.
std::vector<int32_t> Pattern(int32_t p, int32_t nvars) {
  std::vector<int32_t> values(static_cast<size_t>(nvars));
  for (int32_t& value : values) {
    value = p % 5;
    p /= 5;
  }
  return values;
}

class Counting : public testing::TestWithParam<CountingCase> {};

// The data file's text, and the values of the cases read, column by column.
std::string CasesText(const CountingCase& c, std::vector<int32_t>& read) {
  std::string data;
  read.assign(static_cast<size_t>(c.ncases) * static_cast<size_t>(c.nvars), 0);
  for (int32_t i = 0; i < c.ncases + c.extraCases; ++i) {
    std::vector<int32_t> values = Pattern(i < c.switchRow ? i % c.early : i % c.late, c.nvars);
    for (int32_t j = 0; j < c.nvars; ++j) {
      int32_t value = values[static_cast<size_t>(j)];
      data += (i == c.based && j == 0 ? "10#" : "") + std::to_string(value);
      data += (c.varied && i % 7 == 0 && j == 0) || (c.tailLines && j >= c.nvars - 3) ? "\n" : " ";
      if (i < c.ncases) read[static_cast<size_t>(i) + static_cast<size_t>(j) * static_cast<size_t>(c.ncases)] = value;
    }
    if (!c.tailLines) data += c.varied && i % 3 == 0 ? "  \r\n" : c.varied && i % 5 == 0 ? "9 9\n" : "\n";
  }
  return data;
}

TEST_P(Counting, WritesEachCaseOnce) {
  const CountingCase& c = GetParam();
  std::vector<int32_t> read;
  const std::string data = CasesText(c, read);
  const std::string folder = test_support::TestFolder();
  const std::string in = folder + "/cases.dat", out = folder + "/patterns.txt";
  test_support::WriteFile(in, data);

  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  ASSERT_EQ(textio::OpenUnit(1, in.data(), static_cast<int>(in.size()), "read", true), 0);
  textio::ArrayDescriptor matrix = ArrayOf(sizeof(int32_t), c.ncases, c.nvars);
  int32_t status = 0;
  textio::AllocateArray(matrix, &status);
  ASSERT_EQ(status, 0);
  PatternTable table(c.nvars, c.capacity);
  bool counted = ReadCases(c.ncases, c.nvars, matrix, table);
  EXPECT_EQ(counted, c.counted);
  const std::string layout = test_support::RecordLayout(c.nvars);
  ASSERT_EQ(textio::OpenUnit(2, out.data(), static_cast<int>(out.size()), "write", true), 0);
  auto* cases = static_cast<int32_t*>(matrix.data);
  if (counted) {
    OrderPatterns(table);
    WriteCountedPatterns(table, layout.data());
  } else {
    SortCases(c.ncases, c.nvars, cases);
    WritePatterns(c.ncases, c.nvars, cases, layout.data());
  }
  textio::CloseUnit(1);
  textio::CloseUnit(2);
  textio::ReleaseArray(matrix);
  EXPECT_TRUE(test_support::ReadFile(out) == test_support::ExpectedPatterns(c.ncases, c.nvars, read.data()));
  textio::ResetLayer();
}

// Four variables fill a block of 4,096 rows; 300 variables one of 54.
INSTANTIATE_TEST_SUITE_P(
    Switches, Counting,
    testing::Values(CountingCase{"AllCounted", 10000, 4, 8, 8, 10000, 1, true},
                    CountingCase{"FullTableStillCounting", 10000, 4, 8, 8, 5000, 4, true},
                    CountingCase{"SwitchAtBlockEdge", 9000, 4, 5, 5, 4096, 4097, false},
                    CountingCase{"SwitchInsideABlock", 9000, 4, 5, 5, 4100, 7, false},
                    CountingCase{"SwitchInFirstBlock", 9000, 4, 3, 9, 0, 9, false},
                    CountingCase{"SwitchWide", 500, 300, 3, 3, 100, 10, false},
                    CountingCase{"NoTable", 3000, 4, 0, 8, 3000, 1, false},
                    CountingCase{"VariedTexts", 10000, 4, 8, 8, 10000, 1, true, true},
                    CountingCase{"VariedTextsSwitch", 9000, 4, 5, 5, 4100, 7, false, true},
                    // Files of more than 8 MiB: the later half read on a second thread.
                    CountingCase{"TwoThreads", 200000, 20, 0, 1, 0, 3125, false, true},
                    CountingCase{"TwoThreadsAfterCounting", 200000, 20, 50, 50, 1000, 3125, false},
                    CountingCase{"TwoThreadsLeaveACase", 200000, 20, 0, 1, 0, 3125, false, false, 150000},
                    CountingCase{"TwoThreadsLongerFile", 150000, 20, 0, 1, 0, 3125, false, true, -1, 100000},
                    // The later half most likely begins inside a case, which it must not take as one.
                    CountingCase{"TwoThreadsInsideACase", 200000, 20, 0, 1, 0, 3125, false, false, -1, 0, true}),
    [](const testing::TestParamInfo<CountingCase>& row) { return std::string(row.param.name); });

// A value that ends the run in the later half of a large file: the report
// names it as a reading in order does.
TEST(TwoThreads, ReportAsInOrder) {
  const CountingCase c{"", 200000, 20, 0, 1, 0, 3125, false};
  std::vector<int32_t> read;
  std::string data = CasesText(c, read);
  data.replace(data.find('\n', data.size() / 4 * 3) + 1, 1, "x");
  const std::string folder = test_support::TestFolder(), in = folder + "/cases.dat";
  test_support::WriteFile(in, data);
  const int64_t line = std::count(data.begin(), data.begin() + static_cast<ptrdiff_t>(data.find('x')), '\n') + 1;
  EXPECT_CHILD_EXIT(folder, false, 1, {
    textio::ResetLayer();
    textio::InitUnits(0, nullptr);
    textio::OpenUnit(1, in.data(), static_cast<int>(in.size()), "read", false);
    textio::ArrayDescriptor matrix = ArrayOf(sizeof(int32_t), c.ncases, c.nvars);
    textio::AllocateArray(matrix, nullptr);
    PatternTable table(c.nvars, 0);
    ReadCases(c.ncases, c.nvars, matrix, table);
  });
  EXPECT_EQ(test_support::ReadFile(folder + "/stderr"),
            "\r\nrun-time error F6101: READ(" + in + ")\r\n- character not allowed in a whole number: \"x\" in case " +
                std::to_string(line) + ", line " + std::to_string(line) + "\r\n");
}

#ifndef _WIN32
// A number of cases typed far too large, read from a pipe that stays open a
// while after its last case: the run ends at its end having taken the matrix
// pages of about the cases read, not all of its 1 GiB, though the system
// would give them all meanwhile. (Windows gives pages only as they are first
// touched.) The bound, a quarter of the matrix, leaves room for what the
// child shares with this test program and for the sanitizers' own memory.
TEST(MistypedCount, TakesOnlyThePagesOfTheCasesRead) {
  const std::string folder = test_support::TestFolder(), in = folder + "/cases";
  ASSERT_EQ(mkfifo(in.c_str(), 0600), 0);
  EXPECT_CHILD_EXIT(folder, false, 1, {
    if (fork() == 0) {
      alarm(10);  // never left waiting for a reader that has gone
      {
        std::ofstream pipe(in);
        for (int i = 0; i < 100000; ++i) pipe << i << '\n';
        pipe.flush();
        std::this_thread::sleep_for(std::chrono::seconds(2));
      }
      _exit(0);
    }
    textio::ResetLayer();
    textio::InitUnits(0, nullptr);
    textio::OpenUnit(1, in.data(), static_cast<int>(in.size()), "read", false);
    textio::ArrayDescriptor matrix = ArrayOf(sizeof(int32_t), int32_t{1} << 28, 1);
    textio::AllocateArray(matrix, nullptr);
    PatternTable table(1, 0);
    ReadCases(int32_t{1} << 28, 1, matrix, table);
  });
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  EXPECT_LT(children.ru_maxrss, 256 * 1024) << "kilobytes";
}
#endif

}  // namespace
