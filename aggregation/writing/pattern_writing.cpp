// Writing the pattern records of the ordered case matrix. Where rows differ
// from the next is found a block of rows at a time; the block then stays in
// the cache for its records. Two threads take the rows a piece at a time:
// each edits a piece's records into a block of memory of its own, and the
// pattern file takes the blocks in the order of their pieces, so that its
// bytes, loads and reports are those of the statements writing alone.
#include "aggregation/writing/pattern_writing.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "aggregation/core/matrix.h"
#include "aggregation/core/run_units.h"
#include "aggregation/core/side_by_side.h"
#include "aggregation/reading/pattern_table.h"
#include "aggregation/writing/pattern_record.h"
#include "textio/textio.h"

namespace {

constexpr int64_t kBlockBytes = 256 * 1024;  // the values of a block of rows, at most
constexpr int32_t kRowsPerLine = 16;         // 4-byte values in a 64-byte cache line
constexpr int64_t kPieceBytes = int64_t{1} << 20;  // the records of a piece, about

struct OrderedRows {
  const int32_t* cases;
  int32_t ncases, nvars;
};

bool RowsEqual(const OrderedRows& rows, int32_t a, int32_t b) {
  for (int32_t j = 0; j < rows.nvars; ++j) {
    const int32_t* column = Column(rows.cases, rows.ncases, j);
    if (column[a] != column[b]) return false;
  }
  return true;
}

// Sets differs[k] when row first + k differs from the row after it, for k
// below `pairs`; one column after the other.
void MarkDifferences(const OrderedRows& rows, int32_t first, int32_t pairs, uint8_t* differs) {
  std::fill_n(differs, pairs, uint8_t{0});
  for (int32_t j = 0; j < rows.nvars; ++j) {
    const int32_t* column = Column(rows.cases, rows.ncases, j) + first;
    for (int32_t k = 0; k < pairs; ++k) differs[k] |= static_cast<uint8_t>(column[k] != column[k + 1]);
  }
}

// Asks for the cache lines holding `row` ahead of their use, if it lies below `limit`.
void PrefetchRow(const OrderedRows& rows, int32_t row, int32_t limit) {
  if (row >= limit) return;
  for (int32_t j = 0; j < rows.nvars; ++j) Prefetch(Column(rows.cases, rows.ncases, j) + row);
}

// Records by the write statements on unit 2.
struct StatementRecords {
  const char* layout;
};

void WriteRecord(StatementRecords& records, const int32_t* values, ptrdiff_t stride, int32_t nvars, int32_t count) {
  WritePatternRecord(values, stride, nvars, count, records.layout);
}

void WriteRecord(textio::RecordBlock& block, const int32_t* values, ptrdiff_t stride, int32_t nvars, int32_t count) {
  textio::beginWrite(block);
  textio::writeIntegers(block, values, nvars, stride);
  textio::writeInteger(block, count);
  textio::endWrite(block);
}

// Writes the record of every run of equal rows that starts in rows
// [begin, end), counting the last one to its end, past `end` if it goes on.
// A record is written as soon as its run is known to end. Second thread too,
// into a block: touches only the rows and the block; raises no report.
template <typename Records>
void WriteRuns(const OrderedRows& rows, int32_t begin, int32_t end, Records& records) {
  int32_t start = begin;
  while (start < end && start > 0 && RowsEqual(rows, start - 1, start)) ++start;
  if (start == end) return;
  const auto blockRows = static_cast<int32_t>(
      std::clamp<int64_t>(kBlockBytes / (4 * int64_t{rows.nvars}), kRowsPerLine, kBlockRows));
  uint8_t differs[kBlockRows];
  int32_t count = 1;
  for (int32_t first = start, last;; first = last) {
    last = std::min(rows.ncases, first + blockRows);
    if (first < end) last = std::min(last, end);
    // The rows of the block that have a next row to be compared with.
    int32_t pairs = std::min(last, rows.ncases - 1) - first;
    MarkDifferences(rows, first, pairs, differs);
    for (int32_t i = first; i < last; ++i) {
      if ((i - first) % kRowsPerLine == 0) PrefetchRow(rows, i + blockRows, end);
      if (i - first < pairs && differs[i - first] == 0) {
        ++count;
        continue;
      }
      WriteRecord(records, rows.cases + i, rows.ncases, rows.nvars, count);
      count = 1;
      if (i + 1 >= end) return;
    }
  }
}

// The pieces of rows, each taken by the first thread free and passed to
// unit 2 once every piece before it has been.
struct Pieces {
  Pieces(const OrderedRows& ordered, int32_t rowsEach, int32_t pieceCount)
      : rows(ordered), pieceRows(rowsEach), count(pieceCount) {}

  OrderedRows rows;
  int32_t pieceRows;
  int32_t count;
  std::mutex mutex;
  std::condition_variable passed;
  int32_t taken = 0;                      // pieces taken so far
  int32_t next = 0;                       // the piece unit 2 takes next
  textio::RecordBlock* failed = nullptr;  // the block whose error ended the passing
};

// Takes pieces until none is left or a block has failed: the piece's records
// into the block, then, in its turn, the block to the pattern file's unit. A
// piece waits only for those taken before it, so that this thread alone
// takes them all when no other can be had. Second thread too: touches the
// rows, its block, `pieces` under its mutex and, in its turn, the unit's
// output; raises no report.
void TakePieces(Pieces& pieces, textio::RecordBlock& block) {
  std::unique_lock<std::mutex> lock(pieces.mutex);
  while (pieces.failed == nullptr && pieces.taken < pieces.count) {
    int32_t piece = pieces.taken++;
    lock.unlock();
    int64_t begin = int64_t{piece} * pieces.pieceRows;
    WriteRuns(pieces.rows, static_cast<int32_t>(begin),
              static_cast<int32_t>(std::min<int64_t>(pieces.rows.ncases, begin + pieces.pieceRows)), block);
    lock.lock();
    pieces.passed.wait(lock, [&] { return pieces.next == piece || pieces.failed != nullptr; });
    if (pieces.failed != nullptr) return;
    lock.unlock();
    bool taken = textio::PassRecordBlock(kPatternUnit, block);
    lock.lock();
    if (taken) {
      ++pieces.next;
    } else {
      pieces.failed = &block;
    }
    pieces.passed.notify_all();
  }
}

// The records written by two threads taking pieces; false, with nothing
// written, when their blocks cannot be had.
bool WriteInPieces(const OrderedRows& rows, const char* recordLayout, int32_t pieceRows, int32_t count) {
  const int64_t capacity = int64_t{pieceRows} * PatternRecordBytes(rows.nvars);
  textio::RecordBlock* here = textio::OpenRecordBlock(recordLayout, kRecordLayoutLength, capacity);
  textio::RecordBlock* beside =
      here != nullptr ? textio::OpenRecordBlock(recordLayout, kRecordLayoutLength, capacity) : nullptr;
  if (beside == nullptr) {
    if (here != nullptr) textio::CloseRecordBlock(here);
    return false;
  }
  Pieces pieces(rows, pieceRows, count);
  RunSideBySide([&]() noexcept { TakePieces(pieces, *beside); }, [&]() noexcept { TakePieces(pieces, *here); });
  if (pieces.failed != nullptr) textio::RaiseBlockError(kPatternUnit, *pieces.failed);
  textio::CloseRecordBlock(here);
  textio::CloseRecordBlock(beside);
  return true;
}

}  // namespace

void WritePatternRecord(const int32_t* values, ptrdiff_t stride, int32_t nvars, int32_t count,
                        const char* recordLayout) {
  textio::beginWrite(kPatternUnit, recordLayout, kRecordLayoutLength);
  textio::writeIntegers(values, nvars, stride);
  textio::writeInteger(count);
  textio::endWrite();
}

int32_t PieceRows(int32_t nvars) {
  return static_cast<int32_t>(std::max<int64_t>(kPieceBytes / PatternRecordBytes(nvars), 1));
}

void WriteRunRecords(int32_t ncases, int32_t nvars, const int32_t* cases, const char* recordLayout,
                     int32_t pieceRows) {
  const OrderedRows rows{cases, ncases, nvars};
  const auto count = static_cast<int32_t>((int64_t{ncases} + pieceRows - 1) / pieceRows);
  if (count > 1 && textio::TakesRecordBlocks(kPatternUnit) && WriteInPieces(rows, recordLayout, pieceRows, count)) return;
  StatementRecords records{recordLayout};
  WriteRuns(rows, 0, ncases, records);
}

void WriteCountedPatterns(const PatternTable& table, const char* recordLayout) {
  for (int32_t p = 0; p < table.patterns.keys; ++p) {
    int32_t pattern = table.order[p];
    WritePatternRecord(table.values + static_cast<size_t>(pattern) * static_cast<size_t>(table.nvars), 1,
                       table.nvars, static_cast<int32_t>(table.counts[pattern]), recordLayout);
  }
}
