// Edited record writer: whole-number fields of the widths the program uses,
// with values that no whole-run case holds; the fields written as asterisks.
#include <climits>
#include <string>
#include <vector>

#include "support/death_test.h"
#include "textio/layer_state.h"

namespace {

struct FieldCase {
  std::string layout;
  int32_t value;
  std::string text;  // its length is the internal text's
};

class Fields : public testing::TestWithParam<FieldCase> {};

// The same field into an internal text and, placed straight into its
// buffer, as a record of a file.
TEST_P(Fields, AreEditedIntoTheTextAndTheFile) {
  const FieldCase& c = GetParam();
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  std::string text(c.text.size(), '#');
  textio::beginWrite(text.data(), static_cast<int>(text.size()), c.layout.data(), static_cast<int>(c.layout.size()));
  textio::writeInteger(c.value);
  textio::endWrite();
  EXPECT_EQ(text, c.text) << c.layout;
  const std::string path = test_support::TestFolder() + "/out.txt";
  ASSERT_EQ(textio::OpenUnit(2, path.data(), static_cast<int>(path.size()), "write", true), 0);
  textio::beginWrite(2, c.layout.data(), static_cast<int>(c.layout.size()));
  textio::writeInteger(c.value);
  textio::endWrite();
  textio::CloseUnit(2);
  EXPECT_EQ(test_support::ReadFile(path), c.text + "\r\n") << c.layout;
  textio::ResetLayer();
}

INSTANTIATE_TEST_SUITE_P(Widths, Fields,
                         testing::Values(FieldCase{"(I3)", INT32_MIN, "***"}, FieldCase{"(I4)", 9999, "9999"},
                                         FieldCase{"(I6)", 999999, "999999"}, FieldCase{"(I6)", 1000000, "******"},
                                         FieldCase{"(1X,I6)", -99, "    -99"}, FieldCase{"(I4)", 999, " 999"},
                                         FieldCase{"(I5)", -100, " -100"}, FieldCase{"(I4)", 1000, "1000"},
                                         FieldCase{"(I2)", -10, "**"}, FieldCase{"(I6)", 0, "     0"}));

}  // namespace

namespace {

struct StarredCase {
  std::vector<std::vector<int32_t>> records;  // each record's values, the count last
  int64_t starred;
  textio::StarredField first;
};

class StarredFields : public testing::TestWithParam<StarredCase> {};

// Pattern records of a few values and a count written to a file: the fields
// written as asterisks are counted, and the first is told by its record,
// column and value, whichever way the record writer placed it.
TEST_P(StarredFields, AreCountedWithTheFirst) {
  const StarredCase& c = GetParam();
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  const std::string path = test_support::TestFolder() + "/out.txt";
  ASSERT_EQ(textio::OpenUnit(2, path.data(), static_cast<int>(path.size()), "write", true), 0);
  for (const std::vector<int32_t>& record : c.records) {
    const std::string values = std::to_string(record.size() - 1);
    const std::string layout = "((" + std::string(4 - values.size(), ' ') + values + "(I3)),1X,I6)";
    textio::beginWrite(2, layout.data(), static_cast<int>(layout.size()));
    textio::writeIntegers(record.data(), static_cast<int>(record.size()), 1);
    textio::endWrite();
  }
  textio::StarredField first{};
  EXPECT_EQ(textio::FieldsStarred(2, first), c.starred);
  if (c.starred > 0) {
    EXPECT_EQ(first.record, c.first.record);
    EXPECT_EQ(first.column, c.first.column);
    EXPECT_EQ(first.value, c.first.value);
  }
  textio::ResetLayer();
}

INSTANTIATE_TEST_SUITE_P(
    Records, StarredFields,
    testing::Values(StarredCase{{{1, 2, 3}, {-99, 999, 999999}}, 0, {}},
                    StarredCase{{{1, 2, 3}, {1, 1000, 1}, {-100, 2, 7}}, 2, {2, 4, 1000}},
                    StarredCase{{{1, 2, 3}, {4, 5, 1000000}, {-999, 2, 1}}, 2, {2, 8, 1000000}},
                    // Values placed four at a time: the one not fitting last of four.
                    StarredCase{{{1, 2, 3, 4, 5, 6}, {1, 2, 3, 1000, 5, 6}}, 1, {2, 10, 1000}}));

}  // namespace
