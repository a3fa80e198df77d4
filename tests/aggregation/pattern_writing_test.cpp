// Pattern records written by two threads taking pieces of rows, held byte
// for byte against the statements writing them alone: the pattern file,
// the report and exit status, and the counts of records and of fields
// written as asterisks that the run's warnings tell.
#include <climits>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "aggregation/run/Corvanesubs.h"
#include "aggregation/writing/pattern_record.h"
#include "aggregation/writing/pattern_writing.h"
#include "support/death_test.h"
#include "support/patterns.h"
#include "textio/layer_state.h"

namespace {

using test_support::Row;

// `count` rows of `nvars` values drawn from [low, high].
std::vector<Row> Drawn(int count, int nvars, int32_t low, int32_t high, unsigned seed = 5) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int32_t> value(low, high);
  std::vector<Row> rows(static_cast<size_t>(count), Row(static_cast<size_t>(nvars)));
  for (Row& row : rows) {
    for (int32_t& x : row) x = value(random);
  }
  return rows;
}

// Each row `times` times.
std::vector<Row> Repeated(const std::vector<Row>& rows, int times) {
  std::vector<Row> repeated;
  for (const Row& row : rows) repeated.insert(repeated.end(), static_cast<size_t>(times), row);
  return repeated;
}

std::vector<Row> With(std::vector<Row> rows, const std::vector<Row>& more) {
  rows.insert(rows.end(), more.begin(), more.end());
  return rows;
}

// A record layout other than the pattern records': a repeat count too large
// for its four characters.
std::string TooManyVariablesLayout() { return std::string("((****(I3)),1X,I6)") + std::string(62, ' '); }

// Where the records go: a new file; a file that holds more bytes than
// they take; the console; the null device; the device that is always full.
enum class Output : uint8_t { NewFile, LongerFile, Console, NullDevice, FullDevice };

struct SplitCase {
  const char* name;
  std::vector<Row> rows;      // in any order
  int32_t pieceRows;
  int status = 0;             // of both runs
  Output output = Output::NewFile;
  int64_t fileLimit = 0;      // the bytes the pattern file may grow to; 0 for no limit
  bool noSecondThread = false;
  std::string layout = {};    // the pattern records' when empty
};

std::string OutputName(Output output) {
  switch (output) {
    case Output::Console: return "CON";
    case Output::NullDevice: return "NUL";
    case Output::FullDevice: return test_support::FullDevice();
    default: return "patterns.txt";
  }
}

// Room to map the blocks of the pieces.
constexpr size_t kRoomForTheBlocks = size_t{4} << 20;

// One run's writing, in a death test's child whose standard handles go to
// `folder`: the records, the counts on standard output, the end of the run.
void WriteInChild(const SplitCase& c, const std::string& folder, int32_t pieceRows) {
  const std::vector<Row> rows = test_support::InPatternOrder(c.rows);
  const std::vector<int32_t> matrix = test_support::ColumnMajor(rows);
  const auto ncases = static_cast<int32_t>(rows.size()), nvars = static_cast<int32_t>(rows[0].size());
  const std::string layout = c.layout.empty() ? test_support::RecordLayout(nvars) : c.layout;
  // The same name in both runs' reports.
  std::filesystem::current_path(folder);
  std::filesystem::remove("patterns.txt");
  if (c.output == Output::LongerFile) test_support::WriteFile("patterns.txt", std::string(400000, '#'));
  const std::string path = OutputName(c.output);
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  if (textio::OpenUnit(2, path.data(), static_cast<int>(path.size()), "write", true) != 0) std::_Exit(3);
  if (c.fileLimit > 0) test_support::LimitFileSize(c.fileLimit);
  if (c.noSecondThread) {
    test_support::LimitAddressSpace(kRoomForTheBlocks);
    test_support::RefuseThreads();
  }
  WriteRunRecords(ncases, nvars, matrix.data(), layout.data(), pieceRows);
  // A file takes the pieces' records without the statements, a device from them alone.
  bool statements = pieceRows >= ncases || c.output == Output::Console || c.output == Output::NullDevice;
  if ((textio::layer.recordWriter.items != nullptr) != statements) std::_Exit(4);
  textio::StarredField first{};
  int64_t starred = textio::FieldsStarred(2, first);
  const std::string counts = std::to_string(textio::RecordsWritten(2)) + " records; " + std::to_string(starred) +
                             " starred, the first in record " + std::to_string(first.record) + ", column " +
                             std::to_string(first.column) + ", value " + std::to_string(first.value);
  textio::WriteOutputLine(counts.c_str());
  textio::ExitRun(0);
}

class TwoThreads : public testing::TestWithParam<SplitCase> {};

TEST_P(TwoThreads, WriteWhatOneThreadWrites) {
  const SplitCase& c = GetParam();
  if ((c.fileLimit > 0 && !test_support::FileSizeCanBeLimited()) ||
      (c.output == Output::FullDevice && !test_support::FullDevice()) ||
      (c.noSecondThread && !test_support::AddressSpaceCanBeLimited())) {
    GTEST_SKIP() << "not on this system";
  }
  // Each run's child leaves its files there for the comparison, and makes its own afresh.
  const std::string folder = test_support::TestFolder(true);
  const std::string alone = folder + "/alone", pieces = folder + "/pieces";
  std::filesystem::create_directory(alone);
  std::filesystem::create_directory(pieces);
  const auto ncases = static_cast<int32_t>(c.rows.size());
  EXPECT_CHILD_EXIT(alone, false, c.status, WriteInChild(c, alone, ncases));
  EXPECT_CHILD_EXIT(pieces, false, c.status, WriteInChild(c, pieces, c.pieceRows));
  for (const char* file : {"stdout", "stderr", "patterns.txt"}) {
    EXPECT_EQ(test_support::ReadFile(pieces + "/" + file), test_support::ReadFile(alone + "/" + file)) << file;
  }
  if (c.status == 0 && (c.output == Output::NewFile || c.output == Output::LongerFile)) {
    std::vector<Row> ordered = test_support::InPatternOrder(c.rows);
    std::vector<int32_t> matrix = test_support::ColumnMajor(ordered);
    const auto nvars = static_cast<int32_t>(ordered[0].size());
    EXPECT_EQ(test_support::ReadFile(pieces + "/patterns.txt"),
              test_support::ExpectedPatterns(ncases, nvars, matrix.data()));
  }
}

// Records of 30 values, 99 bytes: 3,000 rows fill the first load of 1,024
// bytes, a second of 256 KiB, and a last one written when the file is closed.
const std::vector<Row> kLoads = Drawn(3000, 30, 0, 9);
const std::vector<Row> kFewPatterns = Repeated(Drawn(8, 5, 0, 3), 9);
const std::vector<Row> kDistinct = Drawn(50, 4, 0, 999);

INSTANTIATE_TEST_SUITE_P(
    Pieces, TwoThreads,
    testing::Values(
        // A split inside nearly every run of equal rows.
        SplitCase{"split_after_every_row", kFewPatterns, 1}, SplitCase{"split_after_every_seventh_row", kFewPatterns, 7},
        SplitCase{"first_record_alone", kDistinct, 1}, SplitCase{"last_record_alone", kDistinct, 49},
        SplitCase{"last_run_across_the_split", kFewPatterns, 71},
        // Asterisks in every piece and across the splits; then only in the
        // last rows, the greatest patterns, so that a later piece finds the first.
        SplitCase{"asterisks_everywhere", Drawn(300, 3, -150, 1100), 13},
        SplitCase{"asterisks_in_a_later_piece", With(Drawn(200, 3, 0, 9), {{1, 1, 1000}, {-100, 5, 1000}}), 17},
        SplitCase{"many_pieces", kLoads, 100},
        // The old bytes of the file cut where the records end; the console
        // takes its records from the statements alone.
        SplitCase{"longer_file_cut", kLoads, 100, 0, Output::LongerFile},
        SplitCase{"console", kLoads, 100, 0, Output::Console},
        SplitCase{"null_device", kLoads, 100, 0, Output::NullDevice},
        // A write fails while a later piece is passed on; in a whole load a
        // later piece writes from its block; at the close; at the end of a
        // load; on the full device at the first load.
        SplitCase{"file_full_while_writing", kLoads, 100, 1, Output::NewFile, 200000},
        SplitCase{"file_full_in_a_whole_load", Drawn(12000, 30, 0, 9), 5300, 1, Output::NewFile, 600000},
        SplitCase{"file_full_in_the_last_load", kLoads, 100, 1, Output::NewFile, 280000},
        SplitCase{"file_full_at_a_load_end", kLoads, 100, 1, Output::NewFile, 263168},
        SplitCase{"full_device", Drawn(300, 30, 0, 9), 1, 1, Output::FullDevice},
        SplitCase{"no_second_thread", kLoads, 100, 0, Output::NewFile, 0, true},
        // An error in editing a piece's first record, reported as the statement's.
        SplitCase{"layout_error", Drawn(40, 2, 0, 9), 4, 1, Output::NewFile, 0, false, TooManyVariablesLayout()}),
    [](const testing::TestParamInfo<SplitCase>& param) { return std::string(param.param.name); });

// What shows in a field and what is written as asterisks, at the edges.
TEST(PatternRecord, FieldsFitAtTheirEdges) {
  const std::pair<int64_t, bool> values[] = {{INT32_MIN, false}, {-100, false}, {-99, true}, {0, true},
                                             {999, true},        {1000, false}, {INT32_MAX, false}};
  for (const auto& [value, fits] : values) EXPECT_EQ(FitsField(value), fits) << value;
  EXPECT_TRUE(FitsCount(999999));
  EXPECT_FALSE(FitsCount(1000000));
}

// The layout the run builds, against its text written out; past 9,999
// variables its count does not fit, and the first record refuses it.
TEST(PatternRecord, LayoutAsTheRunBuildsIt) {
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  char layout[kRecordLayoutLength];
  for (int32_t nvars : {1, 12, 1234, 9999}) {
    BuildRecordLayout(nvars, layout);
    EXPECT_EQ(std::string(layout, sizeof layout), test_support::RecordLayout(nvars));
  }
  BuildRecordLayout(10000, layout);
  EXPECT_EQ(std::string(layout, sizeof layout), TooManyVariablesLayout());
  textio::ResetLayer();
}

}  // namespace
