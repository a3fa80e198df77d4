// Edited record writer: fields, moves, groups and reversion into internal
// texts, files and the console; layout errors raised where writing reaches
// them; and the concatenation that builds layouts.
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process_runner.h"
#include "textio/layer_state.h"

namespace textio {
namespace {

using Values = std::vector<int32_t>;

void WriteValues(const Values& values) {
  for (int32_t value : values) writeInteger(value);
  endWrite();
}

struct InternalCase {
  std::string layout;
  Values values;
  std::string text;  // its length is the internal text's
};

const InternalCase kInternalCases[] = {
    {"(I3)", {999}, "999"}, {"(I3)", {1000}, "***"}, {"(I3)", {-99}, "-99"}, {"(I3)", {-100}, "***"},
    {"(I3)", {0}, "  0"}, {"(I6)", {999999}, "999999"}, {"(I6)", {1000000}, "******"},
    {"(I4)", {1}, "   1"}, {"(I4)", {12}, "  12"}, {"(I4)", {9999}, "9999"}, {"(I4)", {10000}, "****"},
    {"(I11)", {INT32_MIN}, "-2147483648"}, {"(I10)", {INT32_MIN}, "**********"},
    {"(I5.3)", {7}, "  007"}, {"(I5.3)", {-7}, " -007"}, {"(I3.3)", {-5}, "***"}, 
    {"( 1 x, i\t2 . 2 )", {5}, " 05"}, {"(I2,3X,I1)", {1, 2}, " 1   2"}, {"(I1,100X)", {1}, "1 "},
    {"(3I2)", {1, 2, 3}, " 1 2 3"},
    {"(2(I1,2(I2)),I1)", {1, 2, 3, 4, 5, 6, 7}, "1 2 34 5 67"},
    {"(I2)", {5}, " 5    "}, {"(I3)", {}, "   "}, {"(0I3,I5)", {1, 2}, "  1    2"}, {"(0(I3),I5)", {1, 2}, "  1    2"},
};

class InternalWriteTest : public testing::TestWithParam<InternalCase> {};

TEST_P(InternalWriteTest, FillsText) {
  const InternalCase& c = GetParam();
  ResetLayer();
  InitUnits(0, nullptr);
  std::string text(c.text.size(), '#');
  beginWrite(text.data(), static_cast<int>(text.size()), c.layout.data(), static_cast<int>(c.layout.size()));
  WriteValues(c.values);
  EXPECT_EQ(text, c.text) << c.layout;
  ResetLayer();
}

INSTANTIATE_TEST_SUITE_P(Fields, InternalWriteTest, testing::ValuesIn(kInternalCases));

// Write statements, one per record, in a child: to unit 2 connected to
// `name` (none: not connected), or into an internal text of `internal` characters.
struct Statements {
  std::string layout;
  std::vector<Values> records;
  std::string name = "out.txt";
  int internal = -1;
};

test_support::RunResult RunStatements(const Statements& s) {
  return test_support::RunInChild(
      [&s]() -> int {
        ResetLayer();
        InitUnits(0, nullptr);
        std::string text(static_cast<size_t>(std::max(s.internal, 0)), ' ');
        if (!s.name.empty()) OpenUnit(2, s.name.data(), static_cast<int>(s.name.size()), "write", false);
        for (const Values& values : s.records) {
          if (s.internal < 0) {
            beginWrite(2, s.layout.data(), static_cast<int>(s.layout.size()));
          } else {
            beginWrite(text.data(), s.internal, s.layout.data(), static_cast<int>(s.layout.size()));
          }
          WriteValues(values);
        }
        ExitRun(0);
      },
      {});
}

// What reached the file.
std::string Output(const Statements& s, const test_support::RunResult& result) {
  if (s.name.empty()) return "";
  return test_support::ReadFileBytes(result.directory + "/" + s.name).value_or("(no file)");
}

struct RecordCase {
  Statements statements;
  std::string bytes;
};

std::string LongRecord(const std::string& value) {
  std::string record;
  for (int i = 0; i < 1234; ++i) record += "  " + value;
  return record + "      " + value + "\r\n";
}

const RecordCase kRecordCases[] = {
    {{"((   3(I3)),1X,I6)" + std::string(62, ' '), {{1, 2, 10, 7}}},
     "\x20\x20\x31\x20\x20\x32\x20\x31\x30\x20\x20\x20\x20\x20\x20\x37\x0D\x0A"},
    {{"((   1(I3)),1X,I6)", {{5, 1}}}, "  5      1\r\n"},
    {{"(I1,5X)", {{1}}}, "1\r\n"},
    {{"(I2,2(I3),I1)", {{1, 2, 3, 4, 5, 6, 7}}}, " 1  2  34\r\n  5  67\r\n"},
    {{"(I1,3X)", {{1, 2}}}, "1\r\n2\r\n"},
    {{"(I3)", {{}, {1}}}, "\r\n  1\r\n"},
    {{"(I3,2000000000(2000000000(X)))", {{1}}}, "  1\r\n"}, {{"(I0,I2)", {{5, 7}}}, " 7\r\n"},
    {{"(I1,2000000000(),2(3X,()),I1)", {{1, 2}}}, "1      2\r\n"},
    {{"((1234(I3)),1X,I6)", {Values(1235, 7), Values(1235, 8)}}, LongRecord("7") + LongRecord("8")},
};

class RecordTest : public testing::TestWithParam<RecordCase> {};

TEST_P(RecordTest, WritesBytes) {
  const RecordCase& c = GetParam();
  test_support::RunResult result = RunStatements(c.statements);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(Output(c.statements, result), c.bytes) << c.statements.layout;
  test_support::RemoveTree(result.directory);
}

INSTANTIATE_TEST_SUITE_P(Units, RecordTest, testing::ValuesIn(kRecordCases));

struct ErrorCase {
  Statements statements;
  int number;
  std::string bytes;  // the fields placed before the error reach the file
};

const ErrorCase kErrorCases[] = {
    {{"(I3,*)", {{1, 2}}}, 6989, "  1"}, {{"(I3,*)", {{1}}}, 6989, "  1"},
    {{"((****(I3)),1X,I6)", {{1, 1}}}, 6989, ""}, {{"(1X)", {{1}}}, 6989, ""}, {{"(I1,(1X))", {{1, 2}}}, 6989, "1"},
    {{"(I3,I)", {{1, 2}}}, 6980, "  1"}, {{"I3", {{}}}, 6981, ""}, {{"(I3,2)", {{1, 2}}}, 6983, "  1"},
    {{std::string(18, '(') + "I1", {{1}}}, 6986, ""}, {{"(I3", {{1}}}, 6988, "  1"},
    {{"(I3.4)", {{1}}}, 6990, ""}, {{"(2147483648I3)", {{1}}}, 6991, ""},
    {{"(I4)", {{1}}, "", 3}, 6600, ""}, {{"(I1)", {{1, 2}}, "", 4}, 6600, ""},
    {{"(I3)", {{1}}, ""}, 6416, ""}, {{"(I1,2000000000X,I1)", {{1, 2}}}, 6601, "1"},
};

class WriteErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(WriteErrorTest, EndsRunWhereReached) {
  const ErrorCase& c = GetParam();
  test_support::RunResult result = RunStatements(c.statements);
  std::string name = c.statements.internal >= 0 ? "internal" : c.statements.name;
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardError, "\r\nrun-time error F" + std::to_string(c.number) + ": WRITE(" + name +
                                      ")\r\n- " + RunErrorMessage(c.number) + "\r\n");
  EXPECT_EQ(Output(c.statements, result), c.bytes) << c.statements.layout;
  test_support::RemoveTree(result.directory);
}

INSTANTIATE_TEST_SUITE_P(Layouts, WriteErrorTest, testing::ValuesIn(kErrorCases));

struct ConcatenateCase {
  std::vector<std::string> pieces;
  std::string text;  // its length is the destination's
};

const ConcatenateCase kConcatenateCases[] = {
    {{"((", "  12", "(I3)),1X,I6)"}, "((  12(I3)),1X,I6)" + std::string(62, ' ')},
    {{"((", "  12", "(I3)),1X,I6)"}, "((  12(I3)"}, {{"abc", "def", "ghi"}, "abcd"}, {{"", "ab"}, "ab "}, {{}, "  "},
};

class ConcatenateTest : public testing::TestWithParam<ConcatenateCase> {};

TEST_P(ConcatenateTest, CutsAndFills) {
  const ConcatenateCase& c = GetParam();
  std::vector<TextPiece> pieces;
  for (const std::string& piece : c.pieces) pieces.push_back({piece.data(), static_cast<int>(piece.size())});
  std::string text(c.text.size(), '#');
  concatenate(text.data(), static_cast<int>(text.size()), pieces.data(), static_cast<int>(pieces.size()));
  EXPECT_EQ(text, c.text);
}

INSTANTIATE_TEST_SUITE_P(Texts, ConcatenateTest, testing::ValuesIn(kConcatenateCases));

TEST(ConcatenateOverlapTest, ReadsSourcesBeforeReplacing) {
  std::string text = "abcdef";
  const TextPiece pieces[] = {{text.data() + 2, 4}, {text.data(), 4}};
  concatenate(text.data(), 6, pieces, 2);
  EXPECT_EQ(text, "cdefab");
}

}  // namespace
}  // namespace textio
