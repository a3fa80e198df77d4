// Cases counted by pattern while they are read, the switch to packed keys or
// the case matrix when the table is full, the keys widened by a wider value
// or moved into the matrix, and the later part of a large file read on a
// second thread: whichever way a run goes, the pattern file holds each case
// once, held against a plain count of the rows, and a report is that of a
// reading in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <thread>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#endif

#include "aggregation/core/run_units.h"
#include "aggregation/reading/case_reading.h"
#include "aggregation/reading/page_preparer.h"
#include "aggregation/reading/pattern_table.h"
#include "aggregation/run/case_pipeline.h"
#include "support/death_test.h"
#include "support/patterns.h"
#include "textio/layer_state.h"

namespace {

struct CountingCase {
  const char* name;
  int32_t ncases, nvars, capacity;
  // Row i takes pattern i % early before `switchRow`, i % late from there on.
  int32_t early, switchRow, late;
  CasesHeld held;  // how the cases were held once read
  // Cases written in several forms: blanks after the values, values beyond
  // the case's, a case over two records.
  bool varied = false;
  int32_t based = -1;      // a case whose first value is written 10#v, which the fast path leaves alone
  int32_t extraCases = 0;  // the file holds this many cases more than are read
  bool tailLines = false;  // the last two values of every case on lines of their own
  int32_t base = 5;        // the values of a pattern's digits: 0 to base - 1
  int32_t wideRow = -1;    // a row whose first value is `wide`
  int32_t wide = 0;
  bool secondReaderTakes = false;  // the second reader's cases count, whichever thread is quicker
  int32_t idStep = 0;      // when not 0, variable 1 of case i is i * idStep, as an ID column's is
};

// Pattern p: its digits in `base`, the lowest first, one a variable.
std::vector<int32_t> Pattern(int32_t p, int32_t nvars, int32_t base = 5) {
  std::vector<int32_t> values(static_cast<size_t>(nvars));
  for (int32_t& value : values) {
    value = p % base;
    p /= base;
  }
  return values;
}

class Counting : public testing::TestWithParam<CountingCase> {};

// What a reading of the cases passes over: the records whose values after a
// case's last one it skips, and the first of them; the line of the first
// value after the last case, 0 when there is none; and the variable of a
// different value in every case, as the run warns of them.
struct Passed {
  int64_t skippedRecords = 0, firstSkippedLine = 0, lineLeft = 0;
  int32_t idVariable = 0;
  bool operator==(const Passed&) const = default;
};

// The data file's text, the values of the cases read, column by column, and
// what their reading passes over.
std::string CasesText(const CountingCase& c, std::vector<int32_t>& read, Passed& passed) {
  std::string data;
  read.assign(static_cast<size_t>(c.ncases) * static_cast<size_t>(c.nvars), 0);
  passed = {};
  passed.idVariable = c.idStep != 0 ? 1 : 0;
  int64_t lines = 0;
  for (int32_t i = 0; i < c.ncases + c.extraCases; ++i) {
    if (i == c.ncases) passed.lineLeft = lines + 1;
    const size_t caseStart = data.size();
    std::vector<int32_t> values = Pattern(i < c.switchRow ? i % c.early : i % c.late, c.nvars, c.base);
    if (i == c.wideRow) values[0] = c.wide;
    if (c.idStep != 0) values[0] = static_cast<int32_t>(int64_t{i} * c.idStep);
    for (int32_t j = 0; j < c.nvars; ++j) {
      int32_t value = values[static_cast<size_t>(j)];
      data += (i == c.based && j == 0 ? "10#" : "") + std::to_string(value);
      data += (c.varied && i % 7 == 0 && j == 0) || (c.tailLines && j >= c.nvars - 3) ? "\n" : " ";
      if (i < c.ncases) read[static_cast<size_t>(i) + static_cast<size_t>(j) * static_cast<size_t>(c.ncases)] = value;
    }
    const bool skipping = c.varied && i % 3 != 0 && i % 5 == 0;
    if (!c.tailLines) data += c.varied && i % 3 == 0 ? "  \r\n" : skipping ? "9 9\n" : "\n";
    lines += std::count(data.begin() + static_cast<ptrdiff_t>(caseStart), data.end(), '\n');
    if (skipping && i < c.ncases && passed.skippedRecords++ == 0) passed.firstSkippedLine = lines;
  }
  return data;
}

struct RunResult {
  std::string patterns;  // the pattern file's bytes
  CasesHeld held;        // how the cases were held once read
  int64_t secondReaderCases;  // cases a second reader took in the reading in order's stead
  Passed passed;              // what the reading passed over, as the run warns of it
};

// Reads `ncases` cases of `nvars` values from the file `in` and writes their
// pattern file as `out`, by the run's own sequence. The run opens no file
// but the pattern file: a second reader reads through the connection.
RunResult RunOn(const std::string& in, const std::string& out, int32_t ncases, int32_t nvars, int32_t capacity) {
  RunResult run{};
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  EXPECT_EQ(textio::OpenUnit(kDataUnit, in.data(), static_cast<int>(in.size()), "read", true), 0);
  textio::ArrayDescriptor matrix = ArrayOf(sizeof(int32_t), ncases, nvars);
  textio::AllocateArray(matrix, nullptr);
  const int64_t opened = textio::platform::OpenRequests();
  CaseRun caseRun{ncases, nvars, matrix, out.data(), static_cast<int>(out.size()), textio::NameForm::Whole, false, capacity};
  RunFindings findings;
  EXPECT_EQ(AggregateCases(caseRun, findings), 0);
  EXPECT_EQ(textio::platform::OpenRequests(), opened + 1) << "files opened besides the pattern file";
  run.held = caseRun.held;
  run.secondReaderCases = caseRun.secondReaderCases;
  run.passed = {findings.skippedRecords, findings.skippedRecords > 0 ? findings.firstSkippedLine : 0,
                findings.dataLeft ? findings.dataLeftLine : 0, findings.idVariable};
  textio::CloseUnit(kPatternUnit);
  textio::ReleaseArray(matrix);
  textio::ResetLayer();
  run.patterns = test_support::ReadFile(out).value_or("");
  return run;
}

// A run of the file `in` that ends at a report in its reading, in a death
// test's child; no pattern is counted.
void RunToItsReport(const std::string& in, int32_t ncases, int32_t nvars) {
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
  textio::OpenUnit(kDataUnit, in.data(), static_cast<int>(in.size()), "read", false);
  textio::ArrayDescriptor matrix = ArrayOf(sizeof(int32_t), ncases, nvars);
  textio::AllocateArray(matrix, nullptr);
  const std::string out = in + ".patterns";
  CaseRun run{ncases, nvars, matrix, out.data(), static_cast<int>(out.size()), textio::NameForm::Whole, false, 0};
  RunFindings findings;
  AggregateCases(run, findings);
}

TEST_P(Counting, WritesEachCaseOnce) {
  const CountingCase& c = GetParam();
  std::vector<int32_t> read;
  Passed passed;
  const std::string folder = test_support::TestFolder(), in = folder + "/cases.dat";
  test_support::WriteFile(in, CasesText(c, read, passed));
  RunResult run = RunOn(in, folder + "/patterns.txt", c.ncases, c.nvars, c.capacity);
  EXPECT_TRUE(run.patterns == test_support::ExpectedPatterns(c.ncases, c.nvars, read.data()));
  EXPECT_EQ(run.held, c.held);
  if (c.secondReaderTakes) {
    EXPECT_GT(run.secondReaderCases, 0) << "the second reader's cases were read again in order";
  }
  EXPECT_TRUE(run.passed == passed) << "skipped " << run.passed.skippedRecords << " from line "
                                    << run.passed.firstSkippedLine << ", left from line " << run.passed.lineLeft
                                    << "; wanted " << passed.skippedRecords << ", " << passed.firstSkippedLine << ", "
                                    << passed.lineLeft;
}

// Four variables fill a block of 4,096 rows; 300 variables one of 54.
constexpr CasesHeld kCounted = CasesHeld::Counted, kPacked = CasesHeld::Packed, kInMatrix = CasesHeld::InMatrix;
INSTANTIATE_TEST_SUITE_P(
    Switches, Counting,
    testing::Values(CountingCase{"AllCounted", 10000, 4, 8, 8, 10000, 1, kCounted},
                    CountingCase{"FullTableStillCounting", 10000, 4, 8, 8, 5000, 4, kCounted},
                    CountingCase{"SwitchAtBlockEdge", 9000, 4, 5, 5, 4096, 4097, kPacked},
                    CountingCase{"SwitchInsideABlock", 9000, 4, 5, 5, 4100, 7, kPacked},
                    CountingCase{"SwitchInFirstBlock", 9000, 4, 3, 9, 0, 9, kPacked},
                    CountingCase{"SwitchWide", 500, 300, 3, 3, 100, 10, kPacked},
                    CountingCase{"NoTable", 3000, 4, 0, 8, 3000, 1, kPacked},
                    CountingCase{"VariedTexts", 10000, 4, 8, 8, 10000, 1, kCounted, true},
                    CountingCase{"VariedTextsSwitch", 9000, 4, 5, 5, 4100, 7, kPacked, true},
                    // Values of 1 bit; a value of 8 bits, a negative one and one of 31 bits after
                    // 8,500 cases packed in 3 bits: the keys widened, or moved into the matrix.
                    CountingCase{"OneBit", 9000, 20, 5, 5, 4100, 700, kPacked, false, -1, 0, false, 2},
                    CountingCase{"WidenedLate", 9000, 4, 5, 5, 4100, 7, kPacked, false, -1, 0, false, 5, 8500, 200},
                    CountingCase{"WidenedNegative", 9000, 4, 5, 5, 4100, 7, kPacked, false, -1, 0, false, 5, 8500, -1},
                    CountingCase{"IntoTheMatrixLate", 9000, 4, 5, 5, 4100, 7, kInMatrix, false, -1, 0, false, 5, 8500,
                                 (1 << 30) + 3},
                    // An ID column beside answers: every case a pattern of its own, counted, packed
                    // in fields of 16 bits, or in the matrix, its values needing 31 bits.
                    CountingCase{"IdColumnCounted", 60, 3, 100, 60, 60, 60, kCounted, false, -1, 0, false, 5, -1, 0,
                                 false, 7},
                    CountingCase{"IdColumnPacked", 40000, 3, 8, 5, 5, 5, kPacked, false, -1, 0, false, 5, -1, 0, false,
                                 1},
                    CountingCase{"IdColumnInMatrix", 40000, 3, 8, 5, 5, 5, kInMatrix, false, -1, 0, false, 5, -1, 0,
                                 false, 50000},
                    // A matrix of 48 MB, its pages got ahead of the rows read, which the
                    // reading wakes the thread that gets them to go on getting.
                    CountingCase{"MatrixPagesGotAhead", 600000, 20, 5, 5, 4100, 7, kInMatrix, false, -1, 0, false, 5, 4,
                                 INT32_MIN},
                    CountingCase{"IntoTheMatrixAtOnce", 9000, 4, 5, 5, 4100, 7, kInMatrix, false, -1, 0, false, 5, 4,
                                 INT32_MIN},
                    // Files of more than 8 MiB: the later half read on a second thread.
                    CountingCase{"TwoThreads", 200000, 20, 0, 1, 0, 3125, kPacked, true},
                    CountingCase{"TwoThreadsAfterCounting", 200000, 20, 50, 50, 1000, 3125, kPacked, false, -1, 0,
                                 false, 5, -1, 0, true},
                    CountingCase{"TwoThreadsLeaveACase", 200000, 20, 0, 1, 0, 3125, kPacked, false, 150000},
                    CountingCase{"TwoThreadsLongerFile", 150000, 20, 0, 1, 0, 3125, kPacked, true, -1, 100000},
                    CountingCase{"TwoThreadsLongerFilePlain", 150000, 20, 0, 1, 0, 3125, kPacked, false, -1, 100000},
                    // The later half most likely begins inside a case, which it must not take as one.
                    CountingCase{"TwoThreadsInsideACase", 200000, 20, 0, 1, 0, 3125, kPacked, false, -1, 0, true},
                    // A wider value in the second thread's part, which it leaves to the reading in
                    // order, and in the first part while the second thread reads.
                    CountingCase{"TwoThreadsWidenedInTheLaterPart", 200000, 20, 0, 1, 0, 3125, kPacked, false, -1, 0,
                                 false, 5, 190000, 200},
                    CountingCase{"TwoThreadsWidenedMeanwhile", 200000, 20, 0, 1, 0, 3125, kPacked, false, -1, 0, false,
                                 5, 20000, -7}),
    [](const testing::TestParamInfo<CountingCase>& row) { return std::string(row.param.name); });

// A value that ends the run in the later half of a large file: the report
// names it as a reading in order does.
TEST(TwoThreads, ReportAsInOrder) {
  const CountingCase c{"", 200000, 20, 0, 1, 0, 3125, kPacked};
  std::vector<int32_t> read;
  Passed passed;
  std::string data = CasesText(c, read, passed);
  data.replace(data.find('\n', data.size() / 4 * 3) + 1, 1, "x");
  const std::string folder = test_support::TestFolder(), in = folder + "/cases.dat";
  test_support::WriteFile(in, data);
  const int64_t line = std::count(data.begin(), data.begin() + static_cast<ptrdiff_t>(data.find('x')), '\n') + 1;
  EXPECT_CHILD_EXIT(folder, false, 1, {
    RunToItsReport(in, c.ncases, c.nvars);
  });
  EXPECT_EQ(test_support::ReadFile(folder + "/stderr"),
            "\r\nrun-time error F6101: READ(" + in + ")\r\n- character not allowed in a whole number: \"x\" in case " +
                std::to_string(line) + ", line " + std::to_string(line) + "\r\n");
}

// The second reader begins in the last load of a file that lacks its last
// line end: the reading in order reaches exactly its first record, and its
// cases count. It begins about half way through the bytes that the cases
// after the first block should take, judged by that block: the first
// block's lines are twice as long as the rest's, and the last lines a
// little longer still, so that it begins a little before the file's end.
TEST(TwoThreads, CountInTheLastLoadOfAFileWithoutALastLineEnd) {
  constexpr int32_t kNvars = 20, kLater = 150000, kLonger = 1000;
  const int32_t first = static_cast<int32_t>(kBlockValues / kNvars), ncases = first + kLater;
  std::string data;
  std::vector<int32_t> read(static_cast<size_t>(ncases) * kNvars);
  for (int32_t i = 0; i < ncases; ++i) {
    std::vector<int32_t> values = Pattern(i, kNvars);
    for (int32_t j = 0; j < kNvars; ++j) {
      data += std::to_string(values[static_cast<size_t>(j)]) + (j + 1 < kNvars ? " " : "");
      read[static_cast<size_t>(i) + static_cast<size_t>(j) * ncases] = values[static_cast<size_t>(j)];
    }
    data.append(i < first ? 40 : i >= ncases - kLonger ? 20 : 0, ' ');
    data += '\n';
  }
  data.pop_back();
  const int64_t at = int64_t{first} * 80, from = at + at / first * kLater / 2;
  const auto size = static_cast<int64_t>(data.size());
  const int64_t lastLoad = (size - 1) / textio::kFileReadLoad * textio::kFileReadLoad;
  ASSERT_TRUE(from > lastLoad && from < size) << "the second reader does not begin in the last load";
  const std::string folder = test_support::TestFolder(), in = folder + "/cases.dat";
  test_support::WriteFile(in, data);
  RunResult run = RunOn(in, folder + "/patterns.txt", ncases, kNvars, 0);
  EXPECT_TRUE(run.patterns == test_support::ExpectedPatterns(ncases, kNvars, read.data()));
  EXPECT_GT(run.secondReaderCases, 0) << "the second reader's cases were read again in order";
}

struct LeftValueCase {
  const char* name;
  int64_t at;  // the offset of the one value after the case read
};

class DataLeft : public testing::TestWithParam<LeftValueCase> {};

// The value after the last case is found and its line told wherever it lies
// against the loads: past the bytes loaded, the file is looked at 16 KiB at
// a time.
TEST_P(DataLeft, FoundWhereverItLies) {
  const std::string folder = test_support::TestFolder(), in = folder + "/cases.dat";
  test_support::WriteFile(in, "1\n" + std::string(static_cast<size_t>(GetParam().at - 2), ' ') + "7\n");
  RunResult run = RunOn(in, folder + "/patterns.txt", 1, 1, 8);
  EXPECT_EQ(run.passed.lineLeft, 2);
}

INSTANTIATE_TEST_SUITE_P(Places, DataLeft,
                         testing::Values(LeftValueCase{"LastByteOfTheLoad", textio::kFileReadLoad - 1},
                                         LeftValueCase{"FirstByteAfterTheLoad", textio::kFileReadLoad},
                                         LeftValueCase{"LastByteOfAPieceAfterTheLoad", textio::kFileReadLoad + 16383}),
                         [](const testing::TestParamInfo<LeftValueCase>& row) { return std::string(row.param.name); });

#ifdef _WIN32
// A named pipe as the data file, large enough that a regular file would get
// a second reader: it gets none, and its cases are read in order as they
// come. (POSIX systems run whole runs on a named FIFO: data_from_a_fifo.)
TEST(TwoThreads, NamedPipeReadInOrder) {
  const CountingCase c{"", 200000, 20, 0, 1, 0, 3125, kPacked};
  std::vector<int32_t> read;
  Passed passed;
  const std::string data = CasesText(c, read, passed), in = "\\\\.\\pipe\\aggregate-counting-test";
  HANDLE pipe =
      CreateNamedPipeA(in.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 1 << 16, 0, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  std::thread writer([&] {
    DWORD written = 0;
    if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
      WriteFile(pipe, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    }
    CloseHandle(pipe);
  });
  RunResult run = RunOn(in, test_support::TestFolder() + "/patterns.txt", c.ncases, c.nvars, 0);
  writer.join();
  EXPECT_TRUE(run.patterns == test_support::ExpectedPatterns(c.ncases, c.nvars, read.data()));
  EXPECT_EQ(run.secondReaderCases, 0);
}
#else
struct MistypedCase {
  const char* name;
  int32_t nvars;
  int32_t typed;  // cases typed
  int32_t read;   // cases the file holds
  bool regularFile = false;  // else a pipe that stays open a while after its last case
};

class MistypedCount : public testing::TestWithParam<MistypedCase> {};

// The bytes of the pages that rows [0, rows) take in every column of a
// matrix of `ncases` rows.
int64_t PagesOfRows(int64_t rows, int64_t ncases, int64_t nvars) {
  const int64_t page = sysconf(_SC_PAGESIZE);
  int64_t bytes = 0;
  for (int64_t j = 0; j < nvars; ++j) {
    int64_t first = 4 * j * ncases, end = first + 4 * rows;
    bytes += ((end + page - 1) / page - first / page) * page;
  }
  return bytes;
}

// A number of cases typed far too large: the run ends at the file's end
// having taken the matrix pages of the cases read, and beyond them at most
// the 32 MiB of pages got ahead, however wide a case, though the system
// would give every page meanwhile (read from a pipe that stays open a
// while), or large pages (a regular file too short for the cases typed).
// (Windows gives pages only as they are first touched.) The child's memory
// before the reading is counted apart; the room of 16 MiB is for the
// reading's own buffers.
TEST_P(MistypedCount, TakesOnlyThePagesOfTheCasesRead) {
  const MistypedCase& c = GetParam();
  const test_support::Sanitizer sanitizer = test_support::ActiveSanitizer();
  if (sanitizer == test_support::Sanitizer::Thread) {
    GTEST_SKIP() << "ThreadSanitizer's shadow is several times the memory it watches";
  }
  const std::string folder = test_support::TestFolder(), in = folder + "/cases";
  std::string cases;
  for (int32_t i = 0; i < c.read; ++i) {
    cases += std::to_string(i);
    for (int32_t j = 1; j < c.nvars; ++j) cases += ' ' + std::to_string(j % 10);
    cases += '\n';
  }
  if (c.regularFile) {
    test_support::WriteFile(in, cases);
  } else {
    ASSERT_EQ(mkfifo(in.c_str(), 0600), 0);
  }
  EXPECT_CHILD_EXIT(folder, false, 1, {
    if (!c.regularFile && fork() == 0) {
      alarm(10);  // never left waiting for a reader that has gone
      {
        std::ofstream pipe(in);
        pipe << cases;
        pipe.flush();
        std::this_thread::sleep_for(std::chrono::seconds(2));
      }
      _exit(0);
    }
    std::ifstream statm("/proc/self/statm");
    int64_t pages = 0;
    int64_t resident = 0;
    statm >> pages >> resident;
    test_support::WriteFile(folder + "/resident", std::to_string(resident * sysconf(_SC_PAGESIZE)));
    RunToItsReport(in, c.typed, c.nvars);
  });
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  const int64_t before = std::stoll(test_support::ReadFile(folder + "/resident").value_or("0"));
  // AddressSanitizer's shadow takes a page for each page of the matrix read where they lie far apart.
  const int64_t read =
      PagesOfRows(c.read, c.typed, c.nvars) * (sanitizer == test_support::Sanitizer::Address ? 2 : 1);
  const int64_t bound = before + read + kPreparedAhead + (int64_t{16} << 20);
  EXPECT_LT(int64_t{children.ru_maxrss} * 1024, bound) << "bytes, " << before << " before the reading";
}

INSTANTIATE_TEST_SUITE_P(Widths, MistypedCount,
                         // The file first: a child's peak is the largest of all this process has had.
                         testing::Values(MistypedCase{"WideCasesInAFile", 300, 1000000, 2000, true},
                                         MistypedCase{"OneVariable", 1, int32_t{1} << 28, 100000},
                                         MistypedCase{"WideCases", 9999, 100000, 300}),
                         [](const testing::TestParamInfo<MistypedCase>& row) { return std::string(row.param.name); });
#endif

}  // namespace
