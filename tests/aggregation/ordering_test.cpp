// The ordering of the case matrix, and of the same cases packed into keys as
// a reading packs them, held against the pattern order itself, and the
// records written from either, held against a plain count.
#include <algorithm>
#include <climits>
#include <filesystem>
#include <random>
#include <vector>

#include "aggregation/ordering/case_order.h"
#include "aggregation/reading/case_packing.h"
#include "aggregation/reading/pattern_table.h"
#include "aggregation/run/Corvanesubs.h"
#include "aggregation/writing/pattern_writing.h"
#include "support/death_test.h"
#include "support/patterns.h"
#include "textio/layer_state.h"

namespace {

using test_support::ColumnMajor;
using test_support::Row;

// The matrix of the rows in the order PatternGreater defines.
std::vector<int32_t> Ordered(std::vector<Row> rows) {
  int32_t v = static_cast<int32_t>(rows[0].size());
  std::sort(rows.begin(), rows.end(), [v](const Row& a, const Row& b) { return PatternGreater(v, b.data(), a.data()) == 1; });
  return ColumnMajor(rows);
}

constexpr int64_t kNoLateValue = INT64_MIN;

struct RandomCase {
  const char* name;
  int ncases, nvars;
  int64_t low, high;  // values drawn from [low, high]
  int distinct;       // rows drawn from this many patterns; 0: every value drawn
  bool written = true;  // the records are written and counted too (slow for the largest)
  int64_t late = kNoLateValue;  // a value the last row's first variable takes instead
};

std::vector<Row> RandomRows(const RandomCase& c) {
  std::mt19937_64 random(12345);
  std::uniform_int_distribution<int64_t> value(c.low, c.high);
  auto draw = [&] {
    Row row(static_cast<size_t>(c.nvars));
    for (int32_t& x : row) x = static_cast<int32_t>(value(random));
    return row;
  };
  std::vector<Row> patterns;
  for (int p = 0; p < c.distinct; ++p) patterns.push_back(draw());
  std::vector<Row> rows;
  for (int i = 0; i < c.ncases; ++i) {
    rows.push_back(c.distinct > 0 ? patterns[random() % static_cast<size_t>(c.distinct)] : draw());
  }
  if (c.late != kNoLateValue) rows.back()[0] = static_cast<int32_t>(c.late);
  return rows;
}

// The rows packed into keys as a reading packs them, one after the other,
// the packing widened as wider values come; false where keys would take no
// less room than the rows of the case matrix.
bool PackAsRead(const std::vector<Row>& rows, PackedCases& packed) {
  const auto ncases = static_cast<int32_t>(rows.size()), nvars = static_cast<int32_t>(rows[0].size());
  const ValueRange first = RangeOf(rows[0].data(), nvars);
  const Packing packing = PackingFor(nvars, first.smallest, first.largest);
  if (!SmallerThanRows(packing) || !TakeKeyStorage(packed, packing, ncases)) return false;
  for (int32_t i = 0; i < ncases; ++i) {
    if (!HoldsAll(packed.packing, rows[i].data(), nvars) &&
        !WidenKeys(packed, RangeOf(rows[i].data(), nvars), i, ncases)) {
      return false;
    }
    PackRows(packed.packing, rows[i].data(), 1, packed.keys + static_cast<size_t>(i) * packed.packing.words);
  }
  return true;
}

class RandomOrdering : public testing::TestWithParam<RandomCase> {};

TEST_P(RandomOrdering, AgreesWithThePatternOrderAndItsCount) {
  const RandomCase& c = GetParam();
  std::vector<Row> rows = RandomRows(c);
  std::vector<int32_t> matrix = ColumnMajor(rows);
  const std::string records = c.written ? test_support::ExpectedPatterns(c.ncases, c.nvars, matrix.data()) : "";
  const std::string path = test_support::TestFolder() + "/patterns.txt";
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  SortCases(c.ncases, c.nvars, matrix.data());
  EXPECT_TRUE(matrix == Ordered(rows));
  if (!c.written) return;
  ASSERT_EQ(textio::OpenUnit(2, path.data(), static_cast<int>(path.size()), "write", true), 0);
  WritePatterns(c.ncases, c.nvars, matrix.data(), test_support::RecordLayout(c.nvars).data());
  textio::CloseUnit(2);
  EXPECT_TRUE(test_support::ReadFile(path) == records);
  std::filesystem::remove(path);  // megabytes for the widest
}

TEST_P(RandomOrdering, AgreesPackedIntoKeys) {
  const RandomCase& c = GetParam();
  std::vector<Row> rows = RandomRows(c);
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  PackedCases packed;
  if (!PackAsRead(rows, packed)) GTEST_SKIP() << "a reading moves these cases into the matrix";
  OrderPackedCases(packed, c.ncases);
  std::vector<int32_t> matrix(rows.size() * rows[0].size());
  UnpackIntoColumns(packed, c.ncases, matrix.data(), c.ncases);
  EXPECT_TRUE(matrix == Ordered(rows));
  if (!c.written) return;
  const std::string path = test_support::TestFolder() + "/patterns.txt";
  ASSERT_EQ(textio::OpenUnit(2, path.data(), static_cast<int>(path.size()), "write", true), 0);
  WritePackedRecords(packed, c.ncases, test_support::RecordLayout(c.nvars).data(), PieceRows(c.nvars));
  textio::CloseUnit(2);
  EXPECT_TRUE(test_support::ReadFile(path) == test_support::ExpectedPatterns(c.ncases, c.nvars, matrix.data()));
  std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Matrices, RandomOrdering,
    testing::Values(RandomCase{"small_values", 2000, 20, 0, 4, 0},
                    // Records from three blocks of rows, runs of equal rows across their edges.
                    RandomCase{"few_patterns", 10000, 12, 1, 5, 40},
                    RandomCase{"negative", 1000, 5, -99, 99, 0}, RandomCase{"extreme", 1000, 3, INT32_MIN, INT32_MAX, 0},
                    RandomCase{"extreme_few", 1000, 3, INT32_MIN, INT32_MAX, 7}, RandomCase{"all_equal", 500, 8, 3, 3, 0},
                    RandomCase{"one_variable", 1000, 1, -1000, 1000, 0}, RandomCase{"many_variables", 300, 400, 0, 2, 0},
                    RandomCase{"wide_columns", 1000, 4, 0, 1 << 20, 0}, RandomCase{"one_case", 1, 6, -5, 5, 0},
                    // Keys just below, at and above 64 bits, then many times that.
                    RandomCase{"bits_63", 3000, 21, 0, 7, 0}, RandomCase{"bits_64", 3000, 16, -8, 7, 0},
                    RandomCase{"bits_65", 3000, 13, 0, 31, 0}, RandomCase{"bits_90", 5000, 30, 0, 4, 0},
                    RandomCase{"bits_90_few", 5000, 30, 0, 4, 30}, RandomCase{"bits_90_pairs", 4000, 30, 0, 4, 1500},
                    RandomCase{"extreme_wide", 2000, 5, INT32_MIN, INT32_MAX, 0},
                    RandomCase{"extreme_wide_few", 2000, 9, INT32_MIN, INT32_MAX, 50},
                    RandomCase{"binary_wide", 3000, 300, 0, 1, 0}, RandomCase{"binary_wide_few", 3000, 300, 0, 1, 20},
                    RandomCase{"two_cases_wide", 2, 70, -2, 2, 0}, RandomCase{"equal_wide", 300, 70, -2, 2, 1},
                    // Enough keys for two threads to share the work.
                    RandomCase{"shared_wide", 1100000, 3, INT32_MIN, INT32_MAX, 0, false},
                    RandomCase{"gathered_by_two", 15000, 300, 0, 9, 0},
                    RandomCase{"shared_one_word", 1100000, 4, 0, 4095, 0, false},
                    RandomCase{"shared_two_words", 1100000, 6, 0, 4095, 0, false},
                    // Keys of two words for rows of 20 bytes: no room for scratch beside them.
                    RandomCase{"keys_near_rows", 3000, 5, 0, 8191, 0},
                    // Keys of values of 1 bit; of 3 bits, widened by a value of 8 bits or a
                    // negative one in the last row.
                    RandomCase{"one_bit", 3000, 40, 0, 1, 0},
                    RandomCase{"late_eight_bits", 3000, 20, 0, 4, 0, true, 200},
                    RandomCase{"late_negative", 3000, 20, 0, 4, 0, true, -1},
                    RandomCase{"late_negative_few", 3000, 20, 0, 4, 60, true, -99}),
    [](const testing::TestParamInfo<RandomCase>& param) { return std::string(param.param.name); });

class ScratchRefused : public testing::TestWithParam<RandomCase> {};

// Without scratch storage the rows still end in the pattern order, ordered
// in place: in a child that can map no large block any more.
TEST_P(ScratchRefused, OrdersInPlace) {
  if (!test_support::AddressSpaceCanBeLimited()) GTEST_SKIP() << "no limit on the address space here";
  const RandomCase& c = GetParam();
  std::vector<Row> rows = RandomRows(c);
  std::vector<int32_t> matrix = ColumnMajor(rows);
  const std::vector<int32_t> ordered = Ordered(rows);
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  EXPECT_EXIT(
      {
        test_support::LimitAddressSpace(1 << 20);
        SortCases(c.ncases, c.nvars, matrix.data());
        std::_Exit(matrix == ordered ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST_P(ScratchRefused, OrdersPackedKeysInPlace) {
  if (!test_support::AddressSpaceCanBeLimited()) GTEST_SKIP() << "no limit on the address space here";
  const RandomCase& c = GetParam();
  std::vector<Row> rows = RandomRows(c);
  const std::vector<int32_t> ordered = Ordered(rows);
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  PackedCases packed;
  ASSERT_TRUE(PackAsRead(rows, packed));
  std::vector<int32_t> matrix(ordered.size());
  EXPECT_EXIT(
      {
        test_support::LimitAddressSpace(1 << 20);
        OrderPackedCases(packed, c.ncases);
        UnpackIntoColumns(packed, c.ncases, matrix.data(), c.ncases);
        std::_Exit(matrix == ordered ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Matrices, ScratchRefused,
                         testing::Values(RandomCase{"packed", 300000, 3, -99, 999, 0},
                                         RandomCase{"wide", 300000, 30, 0, 4, 0}),
                         [](const testing::TestParamInfo<RandomCase>& param) { return std::string(param.param.name); });

// The count field holds six digits: 999,999 equal rows are counted there,
// 1,000,000 are shown as ******, from the ordered matrix and from the
// counting table alike.
TEST(CountField, HoldsSixDigits) {
  const int32_t ncases = 1999999;
  std::vector<int32_t> matrix(ncases, 2);
  std::fill_n(matrix.begin(), 999999, 1);
  PatternTable table(1, 2);
  for (int32_t value : {1, 2}) CountRow(table, &value);
  table.counts[0] = 999999;
  table.counts[1] = 1000000;
  OrderPatterns(table);
  const std::string path = test_support::TestFolder() + "/patterns.txt", layout = test_support::RecordLayout(1);
  for (bool counted : {true, false}) {
    textio::ResetLayer();
    textio::InitUnits(0, nullptr);
    ASSERT_EQ(textio::OpenUnit(2, path.data(), static_cast<int>(path.size()), "write", true), 0);
    if (counted) {
      WriteCountedPatterns(table, layout.data());
    } else {
      WritePatterns(ncases, 1, matrix.data(), layout.data());
    }
    textio::CloseUnit(2);
    EXPECT_EQ(test_support::ReadFile(path), "  1 999999\r\n  2 ******\r\n") << "counted: " << counted;
  }
}

}  // namespace
