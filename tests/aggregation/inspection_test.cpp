// What --inspect finds in a data file, held against what a run with its
// answers would do: the verdict that its exit status gives, and the facts
// that make it. Rows are files made by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <random>
#include <ostream>
#include <string>
#include <vector>

#include "aggregation/core/run_units.h"
#include "aggregation/inspection/inspection.h"
#include "support/death_test.h"
#include "textio/layer_state.h"

namespace {

struct InspectionCase {
  const char* name;
  std::function<std::string()> text;
  bool clean;  // a run with its answers reads every value, fits every field, warns of nothing
  std::function<void(const Inspection&)> facts = [](const Inspection&) {};
};

void PrintTo(const InspectionCase& row, std::ostream* out) { *out << row.name; }

class Inspecting : public testing::TestWithParam<InspectionCase> {};

TEST_P(Inspecting, TellsWhatARunWouldDo) {
  const InspectionCase& c = GetParam();
  const std::string path = test_support::TestFolder() + "/data.txt";
  test_support::WriteFile(path, c.text());
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  ASSERT_EQ(textio::OpenUnit(kDataUnit, path.data(), static_cast<int>(path.size()), "read", true), 0);
  Inspection inspection;
  InspectUnit(inspection);
  textio::CloseUnit(kDataUnit);
  textio::ResetLayer();
  EXPECT_EQ(RunWouldSucceed(inspection), c.clean);
  c.facts(inspection);
}

// 100,001 distinct patterns fill the table of those counted; a million
// cases of one more pattern follow.
std::string BeyondTheTable() {
  std::string text;
  for (int i = 0; i <= 100000; ++i) text += std::to_string(i % 1000) + ' ' + std::to_string(i / 1000) + '\n';
  for (int i = 0; i < 1000000; ++i) text += "7 999\n";
  return text;
}

// `count` lines made by `line` from their number and the IDs 1 to 399 in a
// shuffled order.
std::string Shuffled(int count, const std::function<std::string(int, int)>& line) {
  std::vector<int> ids(399);
  std::iota(ids.begin(), ids.end(), 1);
  std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
  std::string text;
  for (int i = 0; i < count; ++i) text += line(i, ids[static_cast<size_t>(i)]);
  return text;
}

std::string Repeated(const std::string& lines, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += lines;
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Files, Inspecting,
    testing::Values(
        InspectionCase{"CommonestPatternPastTheTable", BeyondTheTable, false,
                       [](const Inspection& i) { EXPECT_EQ(i.uncountedCases, 1000001); }},
        InspectionCase{"FirstValueNotFitting", [] { return std::string("1 2\n999 -99\n1000 1\n-100 1\n"); }, false,
                       [](const Inspection& i) {
                         EXPECT_EQ(i.outsideValue, 1000);
                         EXPECT_EQ(i.outsideLine, 3);
                       }},
        // Empty tab-separated fields make records of three and two values in
        // turn: no case is taken to run over two records.
        InspectionCase{"TabGapsInTurn", [] { return Repeated("1\t2\t3\n1\t\t3\n", 12); }, false,
                       [](const Inspection& i) { EXPECT_EQ(i.recordsPerCase, 0); }},
        // What a run takes wrongly, though it reads every value and warns of
        // nothing: an ID column of numbers below 1000, shuffled; a header
        // row numbering the columns; answers run together.
        InspectionCase{"IdColumn", [] { return Shuffled(60, [](int i, int id) { return std::to_string(id) + ' ' + std::to_string(i % 3) + '\n'; }); },
                       false, [](const Inspection& i) { EXPECT_EQ(i.idVariable, 1); }},
        InspectionCase{"NumberedHeaderRow", [] { return "1 2 3 4\n" + Repeated("0 1 3 2\n1 3 0 0\n", 12); }, false,
                       [](const Inspection& i) { EXPECT_TRUE(i.numberedHeader); }},
        InspectionCase{"NumberedFirstCaseOfAnswers", [] { return "1 2 3 4\n" + Repeated("0 1 3 4\n1 3 0 0\n", 12); },
                       true, [](const Inspection& i) { EXPECT_FALSE(i.numberedHeader); }},
        InspectionCase{"AnswersRunTogether", [] { return Repeated("123\n231\n", 2); }, false,
                       [](const Inspection& i) { EXPECT_TRUE(i.runTogether); }},
        // A missing answer left empty merges with the real 0s.
        InspectionCase{"EmptyValuesBesideZeros", [] { return Repeated("0,1\n,1\n", 2); }, false,
                       [](const Inspection& i) { EXPECT_EQ(i.nulls.count, 2); }}),
    [](const testing::TestParamInfo<InspectionCase>& row) { return std::string(row.param.name); });

}  // namespace
