// Delimited records: what a field's text is as a value, the delimiter found
// from a file's first records, and the texts of each record's fields.
#include <cstring>
#include <string>
#include <vector>

#include "support/death_test.h"
#include "textio/layer_state.h"

namespace {

struct ValueRow {
  const char* text;
  char delimiter;
  textio::FieldKind kind;
  int32_t value;
};

using textio::FieldKind;

const ValueRow kValues[] = {
    {"-12", ',', FieldKind::Whole, -12},      {"+007", ',', FieldKind::Whole, 7},
    {" 5 ", ',', FieldKind::Whole, 5},        {"4.0", ',', FieldKind::Whole, 4},
    {"-4.00", ';', FieldKind::Whole, -4},     {"4.", ',', FieldKind::Whole, 4},
    {"4,0", ';', FieldKind::Whole, 4},        {"4,0", ',', FieldKind::Text, 0},
    {"0.75", ',', FieldKind::Decimal, 0},     {"1,5", '\t', FieldKind::Decimal, 0},
    {"", ',', FieldKind::Missing, 0},         {"NA", ',', FieldKind::Missing, 0},
    {"nan", ',', FieldKind::Missing, 0},      {".", ',', FieldKind::Missing, 0},
    {"1e3", ',', FieldKind::Text, 0},         {"-", ',', FieldKind::Text, 0},
    {"N/A", ',', FieldKind::Text, 0},         {"2147483648", ',', FieldKind::TooLarge, 0},
    {"-2147483648", ',', FieldKind::Whole, INT32_MIN}, {"99999999999.0", ',', FieldKind::TooLarge, 0},
};

TEST(FieldValues, TakeWholeNumbersAndWholeDecimalsAndNameTheRest) {
  for (const ValueRow& row : kValues) {
    int32_t value = 0;
    EXPECT_EQ(textio::FieldValue(row.text, static_cast<int>(std::strlen(row.text)), row.delimiter, value), row.kind)
        << row.text;
    if (row.kind == FieldKind::Whole) {
      EXPECT_EQ(value, row.value) << row.text;
    }
  }
}

// A fresh layer with unit 1 connected for reading to a file of `bytes`. The
// last one's file is closed first: an open file cannot be removed everywhere.
void Connect(const std::string& bytes) {
  textio::ResetLayer();
  const std::string path = test_support::TestFolder() + "/data.txt";
  test_support::WriteFile(path, bytes);
  textio::InitUnits(0, nullptr);
  ASSERT_EQ(textio::OpenUnit(1, path.data(), static_cast<int>(path.size()), "read", true), 0);
}

struct DelimiterRow {
  const char* bytes;
  char delimiter;
  int32_t fields;
};

const DelimiterRow kDelimiters[] = {
    {"a,b,c\n1,2,3\n", ',', 3},
    {"1,5;2;3\n2;2,25;1\n", ';', 3},             // decimal commas
    {"Smith, J\t1\t2\nDoe, A\t2\t1\n", '\t', 3},  // commas in text
    {"\"a;b\",1\n\"c;d\",2\n", ',', 2},           // delimiters in quotes
    {"17 1 2\n18  2 1\n", textio::kBlankRuns, 3},
    {"1,2\n1,2,3\n1\n", ',', 2},                  // the one in the most records
    {"q1\n1\n", ',', 1},
};

TEST(FieldDelimiters, AreFoundFromTheFirstRecords) {
  for (const DelimiterRow& row : kDelimiters) {
    Connect(row.bytes);
    const textio::FirstRecords first = textio::LookAtFirstRecords(1, 0);
    EXPECT_EQ(first.delimiter, row.delimiter) << row.bytes;
    EXPECT_EQ(first.fields, row.fields) << row.bytes;
  }
}

struct TextsRow {
  const char* bytes;
  char delimiter;
  std::vector<std::vector<std::string>> records;
  std::vector<int64_t> lines;  // where each starts
};

const TextsRow kTexts[] = {
    {"\xEF\xBB\xBF a , \"b,\"\"c\"\"\" ,,d\r\n", ',', {{"a", "b,\"c\"", "", "d"}}, {1}},
    {"1;\"two\nlines\";3\n\n  \n4;5;6", ';', {{"1", "two\nlines", "3"}, {"4", "5", "6"}}, {1, 5}},
    {"a\tb\r1\t\r\n", '\t', {{"a", "b"}, {"1", ""}}, {1, 2}},
    {"  17  x\t y \n", textio::kBlankRuns, {{"17", "x", "y"}}, {1}},
    {"\"a\" b,c\n", ',', {{"a b", "c"}}, {1}},
};

TEST(FieldTexts, TakeQuotesBlanksAndLineEndsByTheRules) {
  for (const TextsRow& row : kTexts) {
    Connect(row.bytes);
    for (size_t r = 0; r <= row.records.size(); ++r) {
      char text[256];
      textio::FieldPlace places[8];
      int64_t line = 0;
      const int fields = textio::readFieldTexts(1, row.delimiter, text, sizeof text, places, 8, line);
      if (r == row.records.size()) {
        EXPECT_EQ(fields, textio::kNoMoreRecords) << row.bytes;
        break;
      }
      std::vector<std::string> texts;
      for (int f = 0; f < fields; ++f) texts.emplace_back(text + places[f].start, static_cast<size_t>(places[f].length));
      EXPECT_EQ(texts, row.records[r]) << row.bytes;
      EXPECT_EQ(line, row.lines[r]) << row.bytes;
    }
  }
}

}  // namespace
