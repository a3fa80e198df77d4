// Cases counted by pattern while they are read, and the switch to the case
// matrix when the table is full: whichever way a run goes, the pattern file
// holds each case once, held against a plain count of the rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST_P(Counting, WritesEachCaseOnce) {
  const CountingCase& c = GetParam();
  std::string data;
  std::vector<int32_t> read(static_cast<size_t>(c.ncases) * static_cast<size_t>(c.nvars));
  for (int32_t i = 0; i < c.ncases; ++i) {
    std::vector<int32_t> values = Pattern(i < c.switchRow ? i % c.early : i % c.late, c.nvars);
    for (int32_t j = 0; j < c.nvars; ++j) {
      data += std::to_string(values[static_cast<size_t>(j)]) + (c.varied && i % 7 == 0 && j == 0 ? "\n" : " ");
      read[static_cast<size_t>(i) + static_cast<size_t>(j) * static_cast<size_t>(c.ncases)] = values[static_cast<size_t>(j)];
    }
    data += c.varied && i % 3 == 0 ? "  \r\n" : c.varied && i % 5 == 0 ? "9 9\n" : "\n";
  }
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
                    CountingCase{"VariedTextsSwitch", 9000, 4, 5, 5, 4100, 7, false, true}),
    [](const testing::TestParamInfo<CountingCase>& row) { return std::string(row.param.name); });

}  // namespace
