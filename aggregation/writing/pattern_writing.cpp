// Writing the pattern records of the ordered case matrix, or of the ordered
// keys of packed cases. Where rows differ from the next is found a block of
// rows at a time; the block then stays in the cache for its records. Two
// threads take the rows a piece at a time: each edits a piece's records into
// a block of memory of its own, and the pattern file takes the blocks in the
// order of their pieces, so that its bytes, loads and reports are those of
// the statements writing alone.
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

// The rows of the ordered case matrix.
struct OrderedRows {
  const int32_t* cases;
  int32_t ncases, nvars;
};

// The ordered keys of packed cases, a row each.
struct OrderedKeys {
  const uint64_t* keys;
  Packing packing;
  int32_t ncases;

  const uint64_t* Key(int32_t row) const {
    return keys + static_cast<size_t>(row) * static_cast<size_t>(packing.words);
  }
};

int64_t RowBytes(const OrderedRows& rows) { return int64_t{4} * rows.nvars; }
int64_t RowBytes(const OrderedKeys& keys) { return int64_t{8} * keys.packing.words; }

bool RowsEqual(const OrderedRows& rows, int32_t a, int32_t b) {
  for (int32_t j = 0; j < rows.nvars; ++j) {
    const int32_t* column = Column(rows.cases, rows.ncases, j);
    if (column[a] != column[b]) return false;
  }
  return true;
}

bool RowsEqual(const OrderedKeys& keys, int32_t a, int32_t b) {
  const uint64_t *x = keys.Key(a), *y = keys.Key(b);
  for (int32_t w = 0; w < keys.packing.words; ++w) {
    if (x[w] != y[w]) return false;
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

void MarkDifferences(const OrderedKeys& keys, int32_t first, int32_t pairs, uint8_t* differs) {
  for (int32_t k = 0; k < pairs; ++k) differs[k] = static_cast<uint8_t>(!RowsEqual(keys, first + k, first + k + 1));
}

// Asks for the cache lines holding `row` ahead of their use, if it lies below `limit`.
void PrefetchRow(const OrderedRows& rows, int32_t row, int32_t limit) {
  if (row >= limit) return;
  for (int32_t j = 0; j < rows.nvars; ++j) Prefetch(Column(rows.cases, rows.ncases, j) + row);
}

void PrefetchRow(const OrderedKeys& keys, int32_t row, int32_t limit) {
  if (row < limit) Prefetch(keys.Key(row));
}

// Records by the write statements on unit 2.
struct StatementRecords {
  const char* layout;
};

void BeginRecord(StatementRecords& records) { textio::beginWrite(kPatternUnit, records.layout, kRecordLayoutLength); }
void WriteValues(StatementRecords&, const int32_t* values, int32_t count, ptrdiff_t stride) {
  textio::writeIntegers(values, count, stride);
}
void EndRecord(StatementRecords&, int32_t count) {
  textio::writeInteger(count);
  textio::endWrite();
}

void BeginRecord(textio::RecordBlock& block) { textio::beginWrite(block); }
void WriteValues(textio::RecordBlock& block, const int32_t* values, int32_t count, ptrdiff_t stride) {
  textio::writeIntegers(block, values, count, stride);
}
void EndRecord(textio::RecordBlock& block, int32_t count) {
  textio::writeInteger(block, count);
  textio::endWrite(block);
}

// The record of `row` with the count `count`. Second thread too, into a
// block: touches only the rows and the block; raises no report.
template <typename Records>
void WriteRecord(Records& records, const OrderedRows& rows, int32_t row, int32_t count) {
  BeginRecord(records);
  WriteValues(records, rows.cases + row, rows.nvars, rows.ncases);
  EndRecord(records, count);
}

// A key's values are taken out a word at a time and edited this many at a
// time at most.
constexpr int32_t kValuesAtOnce = 256;

// The record of key `row` with the count `count`. Second thread too, into a
// block: touches only the keys and the block; raises no report.
template <typename Records>
void WriteRecord(Records& records, const OrderedKeys& keys, int32_t row, int32_t count) {
  BeginRecord(records);
  const uint64_t* key = keys.Key(row);
  int32_t values[kValuesAtOnce];
  int32_t held = 0;
  for (int32_t w = keys.packing.words - 1; w >= 0; --w) {
    const int32_t fields = FieldsInWord(keys.packing, w);
    if (held + fields > kValuesAtOnce) {
      WriteValues(records, values, held, 1);
      held = 0;
    }
    UnpackWord(keys.packing, key[w], fields, values + held);
    held += fields;
  }
  WriteValues(records, values, held, 1);
  EndRecord(records, count);
}

// Writes the record of every run of equal rows that starts in rows
// [begin, end), counting the last one to its end, past `end` if it goes on.
// A record is written as soon as its run is known to end. Second thread too,
// into a block: touches only the rows and the block; raises no report.
template <typename Rows, typename Records>
void WriteRuns(const Rows& rows, int32_t begin, int32_t end, Records& records) {
  int32_t start = begin;
  while (start < end && start > 0 && RowsEqual(rows, start - 1, start)) ++start;
  if (start == end) return;
  const auto blockRows =
      static_cast<int32_t>(std::clamp<int64_t>(kBlockBytes / RowBytes(rows), kRowsPerLine, kBlockRows));
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
      WriteRecord(records, rows, i, count);
      count = 1;
      if (i + 1 >= end) return;
    }
  }
}

// The pieces of rows, each taken by the first thread free and passed to
// unit 2 once every piece before it has been.
template <typename Rows>
struct Pieces {
  Pieces(const Rows& ordered, int32_t rowsEach, int32_t pieceCount)
      : rows(ordered), pieceRows(rowsEach), count(pieceCount) {}

  Rows rows;
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
template <typename Rows>
void TakePieces(Pieces<Rows>& pieces, textio::RecordBlock& block) {
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
template <typename Rows>
bool WriteInPieces(const Rows& rows, int32_t nvars, const char* recordLayout, int32_t pieceRows, int32_t count) {
  const int64_t capacity = int64_t{pieceRows} * PatternRecordBytes(nvars);
  textio::RecordBlock* here = textio::OpenRecordBlock(recordLayout, kRecordLayoutLength, capacity);
  textio::RecordBlock* beside =
      here != nullptr ? textio::OpenRecordBlock(recordLayout, kRecordLayoutLength, capacity) : nullptr;
  if (beside == nullptr) {
    if (here != nullptr) textio::CloseRecordBlock(here);
    return false;
  }
  Pieces<Rows> pieces(rows, pieceRows, count);
  RunSideBySide([&]() noexcept { TakePieces(pieces, *beside); }, [&]() noexcept { TakePieces(pieces, *here); });
  if (pieces.failed != nullptr) textio::RaiseBlockError(kPatternUnit, *pieces.failed);
  textio::CloseRecordBlock(here);
  textio::CloseRecordBlock(beside);
  return true;
}

// The records of every run of equal rows, `pieceRows` rows at a time: by
// two threads where the pattern file takes blocks, else by the statements.
template <typename Rows>
void WriteAllRuns(const Rows& rows, int32_t nvars, const char* recordLayout, int32_t pieceRows) {
  const auto count = static_cast<int32_t>((int64_t{rows.ncases} + pieceRows - 1) / pieceRows);
  if (count > 1 && textio::TakesRecordBlocks(kPatternUnit) && WriteInPieces(rows, nvars, recordLayout, pieceRows, count)) {
    return;
  }
  StatementRecords records{recordLayout};
  WriteRuns(rows, 0, rows.ncases, records);
}

}  // namespace

void WritePatternRecord(const int32_t* values, ptrdiff_t stride, int32_t nvars, int32_t count,
                        const char* recordLayout) {
  StatementRecords records{recordLayout};
  BeginRecord(records);
  WriteValues(records, values, nvars, stride);
  EndRecord(records, count);
}

int32_t PieceRows(int32_t nvars) {
  return static_cast<int32_t>(std::max<int64_t>(kPieceBytes / PatternRecordBytes(nvars), 1));
}

void WriteRunRecords(int32_t ncases, int32_t nvars, const int32_t* cases, const char* recordLayout,
                     int32_t pieceRows) {
  WriteAllRuns(OrderedRows{cases, ncases, nvars}, nvars, recordLayout, pieceRows);
}

void WritePackedRecords(const PackedCases& packed, int32_t ncases, const char* recordLayout, int32_t pieceRows) {
  WriteAllRuns(OrderedKeys{packed.keys, packed.packing, ncases}, packed.packing.nvars, recordLayout, pieceRows);
}

void WriteCountedPatterns(const PatternTable& table, const char* recordLayout) {
  for (int32_t p = 0; p < table.patterns.keys; ++p) {
    int32_t pattern = table.order[p];
    WritePatternRecord(table.values + static_cast<size_t>(pattern) * static_cast<size_t>(table.nvars), 1,
                       table.nvars, static_cast<int32_t>(table.counts[pattern]), recordLayout);
  }
}
