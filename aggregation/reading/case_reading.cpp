// Reading the cases, in three phases. While their patterns repeat, each case
// is counted as it is read, and a record whose text was met before is not
// read again: it gives the pattern it gave then. When a pattern no longer
// fits, the matrix takes the cases counted so far. From then on the cases
// are read a block at a time into rows and moved into the columns of the
// case matrix (a case read straight into its columns would touch a cache
// line in every column), the later part of a large file on a second thread.
#include "aggregation/reading/case_reading.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <thread>

#include "aggregation/core/matrix.h"
#include "aggregation/core/run_units.h"
#include "aggregation/core/scratch.h"
#include "aggregation/reading/key_table.h"
#include "aggregation/reading/page_preparer.h"
#include "aggregation/reading/row_claims.h"

namespace {

constexpr int64_t kRecordBytes = int64_t{4} << 20;     // record texts remembered, their bytes at most

// Record texts met before, each with the pattern of the case read from it
// alone, the null values the case met and whether it skipped values after
// its last one, all in one entry, so that one load gives them: twice as many
// texts as the table has patterns, of about 16 bytes a value; none (capacity
// 0) when the storage cannot be had.
struct RecordMemo {
  RecordMemo(int32_t patterns, int32_t nvars)
      : capacity(2 * patterns),
        byteRoom(std::min(kRecordBytes, int64_t{16} * nvars * capacity)),
        storage(KeyTableBytes(capacity, byteRoom) + int64_t{4} * capacity) {
    if (storage.data == nullptr) return;
    MakeKeyTable(texts, capacity, byteRoom, storage.data);
    entries = reinterpret_cast<uint32_t*>(storage.data + KeyTableBytes(capacity, byteRoom));
  }
  // An entry: the pattern in its low bits, the nulls above it, kSkipping the highest.
  static constexpr int kNullShift = 15;
  static constexpr uint32_t kSkipping = uint32_t{1} << 31;
  static constexpr int64_t kMostNulls = (int64_t{1} << (31 - kNullShift)) - 1;
  static_assert(kMostCountedPatterns <= 1 << kNullShift);
  static uint32_t Entry(int32_t pattern, int64_t nulls, bool skipping) {
    return static_cast<uint32_t>(pattern) | static_cast<uint32_t>(nulls) << kNullShift | (skipping ? kSkipping : 0);
  }
  static int32_t Pattern(uint32_t entry) { return static_cast<int32_t>(entry & ((1u << kNullShift) - 1)); }
  static int64_t Nulls(uint32_t entry) { return (entry & ~kSkipping) >> kNullShift; }
  int32_t capacity;
  int64_t byteRoom;
  Scratch storage;
  KeyTable texts;
  uint32_t* entries = nullptr;
};

// Reads the next case; false when it finds the unit's delimited records ended.
bool ReadCase(int32_t* first, int32_t nvars, ptrdiff_t stride) {
  textio::beginRead(kDataUnit);
  textio::readIntegers(first, nvars, stride);
  textio::endRead();
  return !textio::RecordsEnded(kDataUnit);
}

// Reads the next case into `row` and counts it; false, with the case left in
// `row`, when its pattern is new and the table is full, or when the records
// have ended.
bool CountCase(PatternTable& table, RecordMemo& memo, int32_t* row) {
  const char* text = nullptr;
  int length = 0;
  bool peeked = memo.texts.capacity > 0 && textio::PeekRecord(kDataUnit, text, length);
  uint64_t hash = 0;
  if (peeked) {
    hash = HashBytes(text, static_cast<size_t>(length));
    int32_t known = FindKey(memo.texts, text, static_cast<size_t>(length), hash);
    if (known >= 0) {
      textio::PassRecord(kDataUnit, length);
      const uint32_t entry = memo.entries[known];
      if ((entry & RecordMemo::kSkipping) != 0) textio::CountSkippedValues(kDataUnit);
      if (RecordMemo::Nulls(entry) != 0) textio::CountNullValues(kDataUnit, RecordMemo::Nulls(entry));
      CountPattern(table, RecordMemo::Pattern(entry));
      return true;
    }
  }
  int64_t recordEnds = textio::RecordEndsPassed(kDataUnit);
  int64_t firstSkipped = 0, firstNull = 0, firstNullItem = 0;
  const int64_t skippedBefore = textio::RecordsSkippingValues(kDataUnit, firstSkipped);
  const int64_t nullsBefore = textio::NullValues(kDataUnit, firstNull, firstNullItem);
  // Values a case leaves without one stay 0, as in the matrix.
  std::fill_n(row, table.nvars, 0);
  if (!ReadCase(row, table.nvars, 1)) return false;
  int32_t pattern = CountRow(table, row);
  if (pattern < 0) return false;
  // The text is still where it was read only when the case took that one record.
  const int64_t nulls = textio::NullValues(kDataUnit, firstNull, firstNullItem) - nullsBefore;
  if (peeked && textio::RecordEndsPassed(kDataUnit) == recordEnds + 1 && nulls <= RecordMemo::kMostNulls) {
    int32_t key = AddKey(memo.texts, text, static_cast<size_t>(length), hash);
    if (key >= 0) {
      const bool skipping = textio::RecordsSkippingValues(kDataUnit, firstSkipped) != skippedBefore;
      memo.entries[key] = RecordMemo::Entry(pattern, nulls, skipping);
    }
  }
  return true;
}

// The matrix and what filling it takes: a block of rows that the cases are
// read into before they are moved into the columns, and its page preparer.
struct MatrixFill {
  int32_t* cases;
  int32_t ncases, nvars;
  int32_t* rows;
  int32_t blockRows;
  PagePreparer& pages;
  bool toTheEnd;  // ncases is a bound: the cases end where the records do
};

// Moves rows[0..count) into the matrix's rows from `row` on. Second thread
// too: touches only those rows of the matrix; raises no report.
void MoveIntoColumns(const int32_t* rows, int32_t count, const MatrixFill& fill, int32_t row) {
  const auto width = static_cast<size_t>(fill.nvars);
  for (size_t j = 0; j < width; ++j) {
    int32_t* column = Column(fill.cases, fill.ncases, static_cast<int64_t>(j)) + row;
    for (size_t r = 0; r < static_cast<size_t>(count); ++r) column[r] = rows[r * width + j];
  }
}

// Reads up to `count` cases into the block, and moves them into the matrix
// from row `next` on; returns how many it read. It stops after the case
// after which the next record begins at `stop` or later, and where the
// records end.
int32_t ReadBlock(const MatrixFill& fill, int32_t next, int32_t count, int64_t stop = INT64_MAX) {
  const auto width = static_cast<size_t>(fill.nvars);
  std::fill_n(fill.rows, static_cast<size_t>(count) * width, 0);
  int32_t read = 0;
  while (read < count && ReadCase(fill.rows + static_cast<size_t>(read) * width, fill.nvars, 1)) {
    ++read;
    if (stop != INT64_MAX && textio::NextRecordOffset(kDataUnit) >= stop) break;
  }
  MoveIntoColumns(fill.rows, read, fill, next);
  fill.pages.Reached(next + read);
  return read;
}

// The cases from row `next` on, read in order on this thread.
// Returns the rows filled.
int32_t FillInOrder(const MatrixFill& fill, int32_t next) {
  while (next < fill.ncases && !textio::RecordsEnded(kDataUnit)) {
    next += ReadBlock(fill, next, std::min(fill.blockRows, fill.ncases - next));
  }
  return next;
}

// The later part of the data file, read on a second thread where the work
// pays for one: its cases fill the matrix from the last row down, while this
// thread's fill it from the first row up, each in the rows it claims. The
// other's cases count only if this thread's reading reaches exactly the
// record where they begin; else its work is dropped and the reading goes on
// in order, so that every report is that of a reading in order.
struct LaterPart {
  LaterPart(const MatrixFill& matrix, int32_t next)
      : fill(matrix),
        rows(int64_t{4} * matrix.blockRows * matrix.nvars),
        ends(int64_t{sizeof(textio::SideCaseEnd)} * matrix.blockRows),
        claims(next, matrix.ncases) {}
  // Opens the second reader on the first record after `from`; false when
  // it or the second thread's storage cannot be had.
  bool Open(int64_t from) {
    if (rows.data == nullptr || ends.data == nullptr) return false;
    side = textio::OpenSideReader(kDataUnit, from, fill.nvars);
    if (side != nullptr) start = textio::SideReaderStart(side);
    return side != nullptr;
  }
  // The second thread is joined before the members it uses are released.
  ~LaterPart() {
    if (side == nullptr) return;
    claims.Abandon();
    Close();
  }
  // Waits for the second thread to end, and closes its reader; true when
  // its rows begin right where this thread's end.
  bool Close() {
    if (thread.joinable()) thread.join();
    reachedEnd = textio::SideReaderAtEnd(side);
    textio::CloseSideReader(side);
    side = nullptr;
    return claims.Met();
  }

  const MatrixFill& fill;
  Scratch rows;  // the second thread's block of cases, and where each ends
  Scratch ends;
  textio::SideReader* side = nullptr;
  int64_t start = 0;  // the file offset of its first record
  RowClaims claims;
  std::thread thread;
  // Where the last case the second thread placed ends, and how many it
  // placed: written by it, read once it has ended.
  textio::SideCaseEnd lastEnd = {};
  int32_t placedRows = 0;
  bool reachedEnd = false;  // it read to the file's end: set by Close
};

// The second thread: cases read a block at a time into its own rows, each
// block moved into the rows of the matrix it can take. Touches only the
// side reader, its own rows and ends, the claims, the matrix rows taken and
// `later.lastEnd`; raises no report.
void ReadLaterPart(LaterPart& later) {
  const MatrixFill& fill = later.fill;
  auto* rows = reinterpret_cast<int32_t*>(later.rows.data);
  auto* ends = reinterpret_cast<textio::SideCaseEnd*>(later.ends.data);
  for (;;) {
    int32_t read = textio::ReadSideCases(later.side, rows, ends, fill.blockRows);
    for (int32_t placed = 0; placed < read;) {
      RowClaims::Rows taken = later.claims.TakeAbove(read - placed);
      if (taken.count == 0) return;
      MoveIntoColumns(rows + static_cast<size_t>(placed) * static_cast<size_t>(fill.nvars), taken.count, fill,
                      taken.first);
      placed += taken.count;
      later.lastEnd = ends[placed - 1];
      later.placedRows += taken.count;
    }
    if (read < fill.blockRows) return;
  }
}

// The cases from row `next` on, this thread taking rows from the bottom until
// its reading reaches the later part's first record. Returns the row from
// which the reading goes on in order: the end of the matrix when the later
// part's cases fill the rest. Where the records are read to their end, the
// later part's cases count once it has read to the file's end, in the rows
// it filled at the bottom (`bottom` of them), apart from this thread's.
int32_t FillAlongside(LaterPart& later, int32_t next, int32_t& bottom) {
  const MatrixFill& fill = later.fill;
  while (next < fill.ncases && !textio::RecordsEnded(kDataUnit)) {
    int32_t count = later.claims.TakeBelow(std::min(fill.blockRows, fill.ncases - next));
    // No row left at all: the second thread's cases are not the ones that follow.
    if (count == 0) break;
    next += ReadBlock(fill, next, count, later.start);
    int64_t at = textio::NextRecordOffset(kDataUnit);
    if (at == later.start) {
      later.claims.HandOver(next);
      const bool met = later.Close();
      if (!met && !(fill.toTheEnd && later.reachedEnd)) return next;
      // The unit then stands after the last case, as a reading in order would.
      textio::PassSideCases(kDataUnit, later.placedRows, later.lastEnd);
      bottom = met ? 0 : later.placedRows;
      return met ? fill.ncases : next;
    }
    if (at > later.start) break;
  }
  later.claims.Abandon();
  later.Close();
  return next;
}

// The cases from row `next` on with the later part of the file read on a
// second thread meanwhile, about the second half of the bytes they should
// take, judged by those read so far (or, read to its end, of the bytes left),
// where the work pays for a thread. Returns the row from which the reading
// goes on in order, and the rows filled at the bottom apart from the rest.
int32_t FillWithLaterPart(const MatrixFill& fill, int32_t next, int32_t& bottom) {
  const int64_t at = textio::NextRecordOffset(kDataUnit);
  const int64_t from = fill.toTheEnd ? HalfWayThrough(at, textio::BytesAfterNextRecord(kDataUnit))
                                     : LaterPartStart(at, next, fill.ncases);
  if (from < 0) return next;
  LaterPart later(fill, next);
  if (!later.Open(from)) return next;
  try {
    later.thread = std::thread([&later] { ReadLaterPart(later); });
  } catch (const std::exception&) {  // no thread to be had
    return next;
  }
  return FillAlongside(later, next, bottom);
}

// Counting while the patterns repeat: returns the cases counted. A case
// whose pattern did not fit in the table is left in `row`.
int32_t CountWhileRepeating(int32_t ncases, PatternTable& table, int32_t* row) {
  if (table.capacity == 0) return 0;
  RecordMemo memo(table.capacity, table.nvars);
  int32_t counted = 0;
  while (counted < ncases && CountCase(table, memo, row)) ++counted;
  return counted;
}

// The switch: the matrix takes the `counted` cases, then the one whose
// pattern did not fit, which the block's first row holds. Returns the rows
// the matrix holds.
int32_t SwitchToMatrix(const MatrixFill& fill, const PatternTable& table, int32_t counted) {
  if (table.capacity == 0) return 0;
  ExpandPatterns(table, fill.cases, fill.ncases);
  MoveIntoColumns(fill.rows, 1, fill, counted);
  return counted + 1;
}

// Large pages for the matrix where the data file holds bytes enough for the
// cases still to be read, a digit and a separator at least to a value, so
// that its rows will be filled: a number of cases typed larger than the file
// could hold still costs only the pages of the cases read. Read to their
// end, the records fill the rows up to about as many as the bytes left
// should hold, judged by those of the `read` cases read so far: large pages
// where the bound passes that by a sixteenth at most, so that the rows left
// empty that a large page takes cost little.
void PreferLargePagesWhereFilled(const textio::ArrayDescriptor& matrix, int32_t ncases, int32_t read, int32_t nvars,
                                 bool toTheEnd) {
  const int64_t bytesLeft = textio::BytesAfterNextRecord(kDataUnit);
  const int64_t expected = read + bytesLeft * (read + 1) / std::max<int64_t>(textio::NextRecordOffset(kDataUnit), 1);
  const bool filled = toTheEnd ? ncases - expected <= expected / 16 : bytesLeft >= int64_t{2} * (ncases - read - 1) * nvars;
  if (filled) textio::PreferLargePages(matrix);
}

// The rows of the matrix filled: the first `top`, and the last `bottom`.
struct FilledRows {
  int32_t top, bottom;
};

// The filling of the matrix from row `next` on, the later part of a large
// file on a second thread.
FilledRows FillMatrix(const MatrixFill& fill, int32_t next) {
  // With none read yet, a block is read first to judge by.
  if (next == 0) next = ReadBlock(fill, 0, fill.blockRows);
  int32_t bottom = 0;
  next = FillWithLaterPart(fill, next, bottom);
  return {bottom > 0 ? next : FillInOrder(fill, next), bottom};
}

// Columns of `bound` rows, of which the first `filled.top` and the last
// `filled.bottom` are filled, moved together into columns of just those
// rows. Each piece moves down, into room no piece still to be moved stands in.
void MoveColumnsTogether(int32_t* cases, int32_t bound, FilledRows filled, int32_t nvars) {
  const int32_t rows = filled.top + filled.bottom;
  for (int64_t j = 0; j < nvars && rows < bound; ++j) {
    int32_t* column = Column(cases, rows, j);
    std::memmove(column, Column(cases, bound, j), sizeof(int32_t) * static_cast<size_t>(filled.top));
    std::memmove(column + filled.top, Column(cases, bound, j) + bound - filled.bottom,
                 sizeof(int32_t) * static_cast<size_t>(filled.bottom));
  }
}

}  // namespace

int64_t HalfWayThrough(int64_t offset, int64_t bytes) { return bytes < kLaterPartBytes ? -1 : offset + bytes / 2; }

int64_t LaterPartStart(int64_t offset, int32_t read, int32_t ncases) {
  return HalfWayThrough(offset, offset / read * (ncases - read));
}

CasesRead ReadCases(int32_t ncases, int32_t nvars, textio::ArrayDescriptor& caseMatrix, PatternTable& table,
                    bool toTheEnd) {
  auto* cases = static_cast<int32_t*>(caseMatrix.data);
  const auto blockRows = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(kBlockValues / nvars, 1), ncases));
  Scratch block(int64_t{4} * blockRows * nvars);
  CasesRead read{0, false};
  FilledRows filled{0, 0};
  if (block.data == nullptr) {
    while (filled.top < ncases && ReadCase(cases + filled.top, nvars, ncases)) ++filled.top;
  } else {
    auto* rows = reinterpret_cast<int32_t*>(block.data);
    read.count = CountWhileRepeating(ncases, table, rows);
    read.counted = read.count == ncases || textio::RecordsEnded(kDataUnit);
    if (read.counted) return read;
    PreferLargePagesWhereFilled(caseMatrix, ncases, read.count, nvars, toTheEnd);
    PagePreparer pages(caseMatrix, ncases, nvars);
    const MatrixFill fill{cases, ncases, nvars, rows, blockRows, pages, toTheEnd};
    filled = FillMatrix(fill, SwitchToMatrix(fill, table, read.count));
  }
  read.count = filled.top + filled.bottom;
  if (toTheEnd) MoveColumnsTogether(cases, ncases, filled, nvars);
  return read;
}
