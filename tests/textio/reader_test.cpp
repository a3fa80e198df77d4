// Free-form reading from a data file: separators, record ends, repeat forms,
// slashes, whole numbers, based numbers, quoted values and character items,
// and every input error with its report.
#include <cstring>
#include <string>
#include <vector>

#include "support/death_test.h"
#include "textio/layer_state.h"
#include "textio/reader_input.h"

namespace {

constexpr int32_t kUnchanged = -7777;  // an item no value was given to

// The test's folder, holding the data file "data.txt" of `input`.
std::string DataFolder(const std::string& input) {
  std::string folder = test_support::TestFolder();
  test_support::WriteFile(folder + "/data.txt", input);
  return folder;
}

// A fresh layer with unit 1 connected for reading to the data file in `folder`.
void Connect(const std::string& folder, const std::string& name = "data.txt") {
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  std::string path = folder + "/" + name;
  EXPECT_EQ(textio::OpenUnit(1, path.data(), static_cast<int>(path.size()), "read", true), 0);
}

// Runs one read statement per entry of `statements` (its item count), with
// single items or all at once; returns every item as it stands afterwards.
std::vector<int32_t> ReadStatements(const std::vector<int>& statements, bool allAtOnce) {
  std::vector<int32_t> items;
  for (int count : statements) {
    std::vector<int32_t> row(static_cast<size_t>(count), kUnchanged);
    textio::beginRead(1);
    if (allAtOnce) {
      textio::readIntegers(row.data(), count, 1);
    } else {
      for (int32_t& item : row) textio::readInteger(item);
    }
    textio::endRead();
    items.insert(items.end(), row.begin(), row.end());
  }
  return items;
}

struct IntegerCase {
  std::string input;
  std::vector<int> statements;
  std::vector<int32_t> expected;
};

class ReaderValues : public testing::TestWithParam<IntegerCase> {};

TEST_P(ReaderValues, GivesItemsTheirValues) {
  const IntegerCase& c = GetParam();
  const std::string folder = DataFolder(c.input);
  for (bool allAtOnce : {false, true}) {
    Connect(folder);
    EXPECT_EQ(ReadStatements(c.statements, allAtOnce), c.expected) << "all at once: " << allAtOnce;
  }
}

constexpr int32_t U = kUnchanged;

// Separators, records and repeat forms that the whole runs of random data
// files do not write (whole_runs_test.cpp holds the common ones).
INSTANTIATE_TEST_SUITE_P(
    Forms, ReaderValues,
    testing::Values(IntegerCase{"1\t2,\t3\n", {3}, {1, 2, 3}}, IntegerCase{"1 2\r3\n4\n", {3}, {1, 2, 4}},
                    IntegerCase{"1 2\n3 4", {2, 2}, {1, 2, 3, 4}}, IntegerCase{"1 2\r", {2}, {1, 2}},
                    IntegerCase{"5/6\n7\n", {2, 1}, {5, U, 7}}, IntegerCase{"3*7/\n", {4}, {7, 7, 7, U}},
                    IntegerCase{"4*2\n9\n", {2, 1}, {2, 2, 9}}, IntegerCase{"1*1*5\n", {1}, {5}},
                    IntegerCase{"1* 1*5 6\n", {2}, {U, 5}}));
INSTANTIATE_TEST_SUITE_P(
    WholeNumbers, ReaderValues,
    testing::Values(IntegerCase{"+5 007 -0 -\n", {4}, {5, 7, 0, 0}},
                    IntegerCase{"2147483647 -2147483648 -2147483647 +2147483647 0000000009\n", {5},
                                {INT32_MAX, INT32_MIN, -INT32_MAX, INT32_MAX, 9}},
                    IntegerCase{"999999999 -999999999 1000000000\n", {3}, {999999999, -999999999, 1000000000}},
                    IntegerCase{"16#FF #ff 2#101 16#FFFFFFFF -16#10 10#2147483647 36#z 16#\n", {8},
                                {255, 255, 5, -1, -16, INT32_MAX, 35, 0}},
                    IntegerCase{"12\x1a" "5 3\n", {2}, {12, 3}},
                    IntegerCase{std::string("12\0" "9 4\n", 7), {2}, {12, 4}}));

struct CharacterCase {
  const char* input;
  std::string expected;  // empty: the item is left as it was
  bool cut = false;      // the value was longer than the item
};

class ReaderCharacters : public testing::TestWithParam<CharacterCase> {};

TEST_P(ReaderCharacters, FillsFortyCharacters) {
  const CharacterCase& c = GetParam();
  Connect(DataFolder(c.input));
  char item[40];
  std::memset(item, '?', sizeof item);
  textio::beginRead(1);
  textio::readCharacter(item, 40);
  EXPECT_EQ(textio::valueCut(), c.cut);
  textio::endRead();
  std::string expected = c.expected.empty() ? std::string(40, '?') : c.expected + std::string(40 - c.expected.size(), ' ');
  EXPECT_EQ(std::string(item, 40), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReaderCharacters,
    testing::Values(CharacterCase{"'my file.txt'\n", "my file.txt"}, CharacterCase{"'it''s'\n", "it's"},
                    CharacterCase{"\"it's\"\n", "it's"}, CharacterCase{"''\n", ""},
                    CharacterCase{"c:/data/x\n", "c:"}, CharacterCase{"a,b\n", "a"},
                    CharacterCase{"2*abc\n", "abc"}, CharacterCase{"(a b)\n", "ab"},
                    CharacterCase{"'abc\nXdef'\n", "abcdef"}, CharacterCase{",x\n", ""},
                    CharacterCase{"'a b'c\n", "a b"},
                    CharacterCase{"'abcdefghijabcdefghijabcdefghijabcdefghijKLMNOPQRST'\n",
                                  "abcdefghijabcdefghijabcdefghijabcdefghij", true},
                    CharacterCase{"'abcdefghijabcdefghijabcdefghijabcdefghij'\n", "abcdefghijabcdefghijabcdefghijabcdefghij"},
                    CharacterCase{"abcdefghijabcdefghijabcdefghijabcdefghij\n", "abcdefghijabcdefghijabcdefghijabcdefghij"},
                    CharacterCase{"abcdefghijabcdefghijabcdefghijabcdefghijK\n",
                                  "abcdefghijabcdefghijabcdefghijabcdefghij", true}));

struct ErrorCase {
  std::string input;
  int items;
  int number;
  std::string detail;  // after the number's message text and ": "
};

class ReaderErrors : public testing::TestWithParam<ErrorCase> {};

// Each error ends the run: the report names the statement and the file, the
// value as it was read and where it starts, and the exit status is 1; read
// one item at a time and all at once alike.
TEST_P(ReaderErrors, EndTheRunWithTheirReport) {
  const ErrorCase& c = GetParam();
  const std::string folder = DataFolder(c.input);
  for (bool allAtOnce : {false, true}) {
    EXPECT_CHILD_EXIT(folder, false, 1, {
      Connect(folder);
      for (;;) ReadStatements({c.items}, allAtOnce);
    });
    EXPECT_EQ(test_support::ReadFile(folder + "/stderr"),
              "\r\nrun-time error F" + std::to_string(c.number) + ": READ(" + folder + "/data.txt)\r\n- " +
                  textio::RunErrorMessage(c.number) + ": " + c.detail + "\r\n")
        << "all at once: " << allAtOnce;
    EXPECT_EQ(test_support::ReadFile(folder + "/stdout"), "");
  }
}

const std::string k300(300, '0');
const std::string kFortyZeros = std::string(40, '0') + "...";
// Values that run on past 1 MiB, quoted and parenthesised.
const std::string kMiB(1 << 20, '2');
const std::string kRunsOn = " and runs on past 1 MiB: \"";

// A value that begins just before the end of a load and fails in the next one.
const std::string kAcrossLoads = std::string(99, '\n') + std::string(textio::kFileReadLoad - 101, ' ') + "12x4\n";
// A CR LF whose LF begins the next load.
const std::string kLineEndAcrossLoads = std::string(textio::kFileReadLoad - 16, ' ') + "1 2 3 4 5 6 7 8\r\nx\n";

INSTANTIATE_TEST_SUITE_P(
    Numbered, ReaderErrors,
    testing::Values(ErrorCase{"2147483648\n", 1, 6100, R"("2147483648" in case 1, line 1)"},
                    ErrorCase{"-02147483648\n", 1, 6100, R"("-02147483648" in case 1, line 1)"},
                    ErrorCase{"16#100000000\n", 1, 6100, R"("16#100000000" in case 1, line 1)"},
                    ErrorCase{k300 + "\n", 1, 6100, "\"" + kFortyZeros + "\" in case 1, line 1"},
                    ErrorCase{k300 + "x\n", 1, 6100, "\"" + kFortyZeros + "\" in case 1, line 1"},
                    ErrorCase{"x" + k300 + "\n", 1, 6101, "\"x" + kFortyZeros.substr(1) + "\" in case 1, line 1"},
                    ErrorCase{"1 2\n3 4\n5 1.0\n", 2, 6101, R"("1.0" in case 3, line 3)"},
                    ErrorCase{"1\n\n2\n3 1E3\n", 2, 6101, R"("1E3" in case 2, line 4)"},
                    ErrorCase{"1 2 3\r\n\r\n4\n 5, 6\n\n7 -\r8\nx 10\n", 3, 6101, R"("x" in case 3, line 7)"},
                    ErrorCase{"12a\n", 1, 6101, R"("12a" in case 1, line 1)"},
                    ErrorCase{"1-2\n", 1, 6101, R"("1-2" in case 1, line 1)"},
                    ErrorCase{"16#G\n", 1, 6101, R"("16#G" in case 1, line 1)"},
                    ErrorCase{"x*y\n", 1, 6101, R"("x*" in case 1, line 1)"},
                    ErrorCase{"1 2\n\xEF\xBB\xBF" "3 4\n", 2, 6101, R"("\xEF\xBB\xBF3" in case 2, line 2)"},
                    ErrorCase{"\"a\\b\"\n", 1, 6504, R"("\"a\\b\"" in case 1, line 1)"},
                    ErrorCase{kAcrossLoads, 1, 6101, R"("12x4" in case 1, line 100)"},
                    ErrorCase{kLineEndAcrossLoads, 8, 6101, R"("x" in case 2, line 2)"},
                    ErrorCase{"16#1#2\n", 1, 6302, R"("16#1#2" in case 1, line 1)"},
                    ErrorCase{"37#1\n", 1, 6303, R"("37#1" in case 1, line 1)"},
                    ErrorCase{"*7\n", 1, 6502, R"("*" in case 1, line 1)"},
                    ErrorCase{"-2*7\n", 1, 6502, R"("-2*" in case 1, line 1)"},
                    ErrorCase{"2*3*4\n", 1, 6503, R"("2*3*" in case 1, line 1)"},
                    ErrorCase{"(1,2)\n", 1, 6504, R"~("(1,2)" in case 1, line 1)~"},
                    ErrorCase{"1\n'" + kMiB + "'\n", 1, 6504,
                              "a quoted value starts in case 2, line 2" + kRunsOn + "'" + kMiB.substr(0, 39) + "...\""},
                    ErrorCase{"(1," + kMiB + ")\n", 1, 6504,
                              "a parenthesised value starts in case 1, line 1" + kRunsOn + "(1," + kMiB.substr(0, 37) + "...\""},
                    ErrorCase{"1 2\n3\n", 2, 6501, "1 case read, the file ends in case 2, line 3"},
                    ErrorCase{"", 1, 6501, "the file is empty"},
                    ErrorCase{"\xEF\xBB\xBF", 1, 6501, "0 cases read, the file ends in case 1, line 1"},
                    ErrorCase{"\n\n", 1, 6501, "0 cases read, the file ends in case 1, line 3"},
                    ErrorCase{"'abc\n", 1, 6501, "0 cases read, the file ends in case 1, line 2"}));

// The items of each case of eight values in the file, and the report of
// the error that ended its statement, if one did, after which the next case
// starts on the next line (a quote may have run on to the file's end): each
// case a statement with a status, read all at once (by the fast path where
// it can) or an item at a time.
std::vector<std::pair<std::vector<int32_t>, std::string>> ReadCases(const std::string& folder, const std::string& name,
                                                                    int cases, bool allAtOnce) {
  Connect(folder, name);
  std::vector<std::pair<std::vector<int32_t>, std::string>> outcomes;
  for (int c = 0; c < cases; ++c) {
    std::vector<int32_t> items(8, kUnchanged);
    std::string report;
    try {
      textio::StartRead(1, true);
      if (allAtOnce) {
        textio::readIntegers(items.data(), 8, 1);
      } else {
        for (int32_t& item : items) textio::readInteger(item);
      }
      textio::endRead();
    } catch (const textio::StatementReturn&) {
      report = textio::LastRunErrorReport();
      textio::UnitRecord& unit = *textio::layer.reader.unit;
      if (!textio::layer.reader.endedByRecordEnd && !unit.endOfFile) textio::MoveToNextRecord(unit);
    }
    outcomes.emplace_back(items, report);
  }
  return outcomes;
}

// The fast path takes only what the general rules take: every byte value,
// and values at and past the range, in cases after the first, in each place
// among their values, give what an item at a time gives. One row for each
// value, in one test: a test each would start the test program hundreds of times.
TEST(FastPath, RefusesWhatTheGeneralRulesRefuse) {
  std::vector<std::string> values = {"2147483647", "2147483648", "-2147483648", "-2147483649", "+2147483648",
                                     "4294967296", "9999999999", "99999999999", "02147483647",
                                     "18446744073709551617"};
  for (int b = 0; b < 256; ++b) values.emplace_back(1, static_cast<char>(b));
  // In place of each byte of a case: the digits and blanks of the
  // four-at-once test, single digits and their blanks, the line's last
  // value; and before a value, after a sign, after a comma, after two digits.
  std::vector<std::string> places = {"1 2 3 4 5 6 7 @8", "1 2 3 4 5 6 7 -@8", "1 2 3 4 5 6 7 ,@8", "1 2 3 4 5 6 7 80@"};
  for (size_t p = 0; p < 15; ++p) places.push_back(std::string("1 2 3 4 5 6 7 8").replace(p, 1, "@"));
  // A file of its own for each value: a file written over would be written to the disk at once.
  const std::string folder = test_support::TestFolder();
  for (size_t v = 0; v < values.size(); ++v) {
    std::string text = "1 2 3 4 5 6 7 8\n";
    for (std::string place : places) text += place.replace(place.find('@'), 1, values[v]) + "\n";
    const std::string name = std::to_string(v);
    // A case that a value leaves short takes its last values from the next
    // line: as many more lines as cases, so that none meets the file's end.
    std::string more;
    for (size_t p = 0; p <= places.size(); ++p) more += "9 9 9 9 9 9 9 9\n";
    test_support::WriteFile(folder + "/" + name, text + more);
    const int cases = static_cast<int>(places.size()) + 1;
    EXPECT_EQ(ReadCases(folder, name, cases, true), ReadCases(folder, name, cases, false)) << "cases after the first:\n" << text.substr(16);
  }
}

// Whatever a unit's buffer held before, only bytes loaded for its file are taken.
TEST(ReaderBuffers, TakeOnlyBytesLoadedForTheirFile) {
  Connect(DataFolder("1 2 3\n"));
  textio::UnitRecord& unit = *textio::SelectUnit(1, textio::StatementKind::Read);
  for (int i = 0; i + 1 < unit.bufferSize; i += 2) std::memcpy(unit.buffer + i, "5 ", 2);
  EXPECT_EQ(ReadStatements({3}, true), (std::vector<int32_t>{1, 2, 3}));
}

}  // namespace
