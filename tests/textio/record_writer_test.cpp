// Edited record writer: whole-number fields of the widths the program uses,
// with values that no whole-run case holds.
#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "textio/layer_state.h"

namespace {

struct FieldCase {
  std::string layout;
  int32_t value;
  std::string text;  // its length is the internal text's
};

class Fields : public testing::TestWithParam<FieldCase> {};

TEST_P(Fields, AreEditedIntoTheText) {
  const FieldCase& c = GetParam();
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  std::string text(c.text.size(), '#');
  textio::beginWrite(text.data(), static_cast<int>(text.size()), c.layout.data(), static_cast<int>(c.layout.size()));
  textio::writeInteger(c.value);
  textio::endWrite();
  EXPECT_EQ(text, c.text) << c.layout;
  textio::ResetLayer();
}

INSTANTIATE_TEST_SUITE_P(Widths, Fields,
                         testing::Values(FieldCase{"(I3)", INT32_MIN, "***"}, FieldCase{"(I4)", 9999, "9999"},
                                         FieldCase{"(I6)", 999999, "999999"}, FieldCase{"(I6)", 1000000, "******"}));

}  // namespace
