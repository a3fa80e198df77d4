// Reading the cases, in three phases. While their patterns repeat, each case
// is counted as it is read, and a record whose text was met before is not
// read again: it gives the pattern it gave then. When a pattern no longer
// fits, the cases counted so far become packed keys where a packing that
// holds their values takes less room than rows of the case matrix, else rows
// of the matrix. From then on the cases are read a block at a time into rows,
// and each block is packed into keys (the packing widened, or the keys moved
// into the matrix, when a wider value comes) or moved into the columns of the
// matrix (a case read straight into its columns would touch a cache line in
// every column); the later part of a large file on a second thread.
#include "aggregation/reading/case_reading.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <thread>

#include "aggregation/core/matrix.h"
#include "aggregation/core/run_units.h"
#include "aggregation/core/scratch.h"
#include "aggregation/reading/case_packing.h"
#include "aggregation/reading/key_table.h"
#include "aggregation/reading/page_preparer.h"
#include "aggregation/reading/row_claims.h"

namespace {

constexpr int64_t kRecordBytes = int64_t{4} << 20;     // record texts remembered, their bytes at most

// Record texts met before, each with the pattern of the case read from it
// alone and whether that case skipped values after its last one (kSkipping
// set in its entry, so that one load gives both): twice as many texts as the
// table has patterns, of about 16 bytes a value; none (capacity 0) when the
// storage cannot be had.
struct RecordMemo {
  RecordMemo(int32_t patterns, int32_t nvars)
      : capacity(2 * patterns),
        byteRoom(std::min(kRecordBytes, int64_t{16} * nvars * capacity)),
        storage(KeyTableBytes(capacity, byteRoom) + int64_t{4} * capacity) {
    if (storage.data == nullptr) return;
    MakeKeyTable(texts, capacity, byteRoom, storage.data);
    entries = reinterpret_cast<uint32_t*>(storage.data + KeyTableBytes(capacity, byteRoom));
  }
  static constexpr uint32_t kSkipping = uint32_t{1} << 31;
  int32_t capacity;
  int64_t byteRoom;
  Scratch storage;
  KeyTable texts;
  uint32_t* entries = nullptr;
};

void ReadCase(int32_t* first, int32_t nvars, ptrdiff_t stride) {
  textio::beginRead(kDataUnit);
  textio::readIntegers(first, nvars, stride);
  textio::endRead();
}

// Reads the next case into `row` and counts it; false, with the case left in
// `row`, when its pattern is new and the table is full.
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
      CountPattern(table, static_cast<int32_t>(entry & ~RecordMemo::kSkipping));
      return true;
    }
  }
  int64_t recordEnds = textio::RecordEndsPassed(kDataUnit);
  int64_t firstSkipped = 0;
  int64_t skippedBefore = textio::RecordsSkippingValues(kDataUnit, firstSkipped);
  // Values a case leaves without one stay 0, as in the matrix.
  std::fill_n(row, table.nvars, 0);
  ReadCase(row, table.nvars, 1);
  int32_t pattern = CountRow(table, row);
  if (pattern < 0) return false;
  // The text is still where it was read only when the case took that one record.
  if (peeked && textio::RecordEndsPassed(kDataUnit) == recordEnds + 1) {
    int32_t key = AddKey(memo.texts, text, static_cast<size_t>(length), hash);
    if (key >= 0) {
      const bool skipping = textio::RecordsSkippingValues(kDataUnit, firstSkipped) != skippedBefore;
      memo.entries[key] = static_cast<uint32_t>(pattern) | (skipping ? RecordMemo::kSkipping : 0);
    }
  }
  return true;
}

// Where the cases read go, and what filling it takes: a block of rows that
// the cases are read into first; then the keys while the cases are packed,
// else the matrix and the page preparer of its rows.
struct CaseFill {
  CaseFill(textio::ArrayDescriptor& caseMatrix, int32_t cases, int32_t variables, int32_t* block, int32_t rowsEach,
           PackedCases& keys)
      : matrix(caseMatrix), ncases(cases), nvars(variables), rows(block), blockRows(rowsEach), packed(keys) {}
  textio::ArrayDescriptor& matrix;
  int32_t ncases, nvars;
  int32_t* rows;
  int32_t blockRows;
  PackedCases& packed;
  bool packing = false;               // the cases go into packed.keys, else into the matrix
  std::optional<PagePreparer> pages;  // the matrix's, once it is filled
};

// Moves rows[0..count) into the matrix's rows from `row` on. Second thread
// too: touches only those rows of the matrix; raises no report.
void MoveIntoColumns(const int32_t* rows, int32_t count, const CaseFill& fill, int32_t row) {
  const auto width = static_cast<size_t>(fill.nvars);
  auto* cases = static_cast<int32_t*>(fill.matrix.data);
  for (size_t j = 0; j < width; ++j) {
    int32_t* column = Column(cases, fill.ncases, static_cast<int64_t>(j)) + row;
    for (size_t r = 0; r < static_cast<size_t>(count); ++r) column[r] = rows[r * width + j];
  }
}

// Places rows[0..count), whose values the packing holds while the cases are
// packed, as the cases from `row` on. Second thread too: touches only those
// cases; raises no report.
void Place(const CaseFill& fill, const int32_t* rows, int32_t count, int32_t row) {
  if (fill.packing) {
    PackRows(fill.packed.packing, rows, count,
             fill.packed.keys + static_cast<size_t>(row) * static_cast<size_t>(fill.packed.packing.words));
  } else {
    MoveIntoColumns(rows, count, fill, row);
  }
}

// Large pages for an array filled a case at a time where the data file holds
// bytes enough for the cases still to be read, a digit and a separator at
// least to a value, so that it will be filled: a number of cases typed
// larger than the file could hold still costs only the pages of the cases read.
void PreferLargePagesWhereFilled(const textio::ArrayDescriptor& array, int32_t casesLeft, int32_t nvars) {
  if (textio::BytesAfterNextRecord(kDataUnit) >= int64_t{2} * casesLeft * nvars) textio::PreferLargePages(array);
}

// From here on the cases go into the matrix, whose pages a second thread gets
// ahead of the rows read; `read` cases have been read so far.
void FillTheMatrix(CaseFill& fill, int32_t read) {
  PreferLargePagesWhereFilled(fill.matrix, fill.ncases - read, fill.nvars);
  fill.packing = false;
  fill.pages.emplace(fill.matrix, fill.ncases, fill.nvars);
}

// Whether the cases are packed and their packing does not hold every value
// of the block's first `count` rows.
bool Widens(const CaseFill& fill, int32_t count) {
  return fill.packing && !HoldsAll(fill.packed.packing, fill.rows, int64_t{count} * fill.nvars);
}

// Places the block's first `count` rows as the cases from `next` on. Where
// they widen the packing (`widens`), it is widened first, or, where no
// packing that holds them takes less room than rows, the keys held are moved
// into the matrix, which then takes the cases.
void PlaceBlock(CaseFill& fill, int32_t count, int32_t next, bool widens) {
  if (widens) {
    if (WidenKeys(fill.packed, RangeOf(fill.rows, int64_t{count} * fill.nvars), next, fill.ncases)) {
      PreferLargePagesWhereFilled(fill.packed.storage, fill.ncases - next - count, fill.nvars);
    } else {
      FillTheMatrix(fill, next + count);
      UnpackIntoColumns(fill.packed, next, static_cast<int32_t*>(fill.matrix.data), fill.ncases);
      ReleaseKeys(fill.packed);
    }
  }
  Place(fill, fill.rows, count, next);
  if (fill.pages) fill.pages->Reached(next + count);
}

// Reads up to `count` cases into the block; returns how many it read. It
// stops after the case after which the next record begins at `stop` or later.
int32_t ReadRows(const CaseFill& fill, int32_t count, int64_t stop = INT64_MAX) {
  const auto width = static_cast<size_t>(fill.nvars);
  std::fill_n(fill.rows, static_cast<size_t>(count) * width, 0);
  int32_t read = 0;
  while (read < count) {
    ReadCase(fill.rows + static_cast<size_t>(read++) * width, fill.nvars, 1);
    if (stop != INT64_MAX && textio::NextRecordOffset(kDataUnit) >= stop) break;
  }
  return read;
}

// The cases from `next` on, read in order on this thread.
void FillInOrder(CaseFill& fill, int32_t next) {
  while (next < fill.ncases) {
    const int32_t read = ReadRows(fill, std::min(fill.blockRows, fill.ncases - next));
    PlaceBlock(fill, read, next, Widens(fill, read));
    next += read;
  }
}

// The later part of the data file, read on a second thread where the work
// pays for one: its cases fill the cases from the last down, while this
// thread's fill them from the first up, each in the rows it claims. The
// other's cases count only if this thread's reading reaches exactly the
// record where they begin; else its work is dropped and the reading goes on
// in order, so that every report is that of a reading in order. While the
// cases are packed, the second thread packs them as the packing stood when
// it began, and stops before a case of a value it does not hold.
struct LaterPart {
  LaterPart(const CaseFill& cases, int32_t next)
      : fill(cases),
        rows(int64_t{4} * cases.blockRows * cases.nvars),
        ends(int64_t{sizeof(textio::SideCaseEnd)} * cases.blockRows),
        claims(next, cases.ncases) {}
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
    textio::CloseSideReader(side);
    side = nullptr;
    return claims.Met();
  }
  // Ends the sharing, the second thread's work dropped.
  void Abandon() {
    claims.Abandon();
    Close();
  }

  const CaseFill& fill;
  Scratch rows;  // the second thread's block of cases, and where each ends
  Scratch ends;
  textio::SideReader* side = nullptr;
  int64_t start = 0;  // the file offset of its first record
  RowClaims claims;
  std::thread thread;
  // Where the last case the second thread placed ends: written by it, read
  // once it has ended.
  textio::SideCaseEnd lastEnd = {};
};

// The second thread: cases read a block at a time into its own rows, each
// block placed in the rows of the cases it can take. Touches only the side
// reader, its own rows and ends, the claims, the cases taken and
// `later.lastEnd`; raises no report.
void ReadLaterPart(LaterPart& later) {
  const CaseFill& fill = later.fill;
  auto* rows = reinterpret_cast<int32_t*>(later.rows.data);
  auto* ends = reinterpret_cast<textio::SideCaseEnd*>(later.ends.data);
  for (;;) {
    int32_t read = textio::ReadSideCases(later.side, rows, ends, fill.blockRows);
    if (fill.packing) read = RowsHeld(fill.packed.packing, rows, read);
    for (int32_t placed = 0; placed < read;) {
      RowClaims::Rows taken = later.claims.TakeAbove(read - placed);
      if (taken.count == 0) return;
      Place(fill, rows + static_cast<size_t>(placed) * static_cast<size_t>(fill.nvars), taken.count, taken.first);
      placed += taken.count;
      later.lastEnd = ends[placed - 1];
    }
    if (read < fill.blockRows) return;
  }
}

// The cases from `next` on, this thread taking rows from the bottom until
// its reading reaches the later part's first record. Returns the case from
// which the reading goes on in order: ncases when the later part's cases
// fill the rest.
int32_t FillAlongside(LaterPart& later, CaseFill& fill, int32_t next) {
  while (next < fill.ncases) {
    int32_t count = later.claims.TakeBelow(std::min(fill.blockRows, fill.ncases - next));
    // No row left at all: the second thread's cases are not the ones that follow.
    if (count == 0) break;
    const int32_t read = ReadRows(fill, count, later.start);
    // A wider packing changes the keys the second thread is placing its own among.
    const bool widens = Widens(fill, read);
    if (widens) later.Abandon();
    PlaceBlock(fill, read, next, widens);
    next += read;
    if (later.side == nullptr) return next;
    int64_t at = textio::NextRecordOffset(kDataUnit);
    if (at == later.start) {
      later.claims.HandOver(next);
      if (!later.Close()) return next;
      // The unit then stands after the last case, as a reading in order would.
      textio::PassSideCases(kDataUnit, fill.ncases - next, later.lastEnd);
      return fill.ncases;
    }
    if (at > later.start) break;
  }
  later.Abandon();
  return next;
}

// The cases from `next` on with the later part of the file read on a
// second thread meanwhile, about the second half of the bytes they should
// take, judged by those read so far, where the work pays for a thread.
// Returns the case from which the reading goes on in order.
int32_t FillWithLaterPart(CaseFill& fill, int32_t next) {
  const int64_t at = textio::NextRecordOffset(kDataUnit);
  const int64_t from = LaterPartStart(at, next, fill.ncases);
  if (from < 0) return next;
  LaterPart later(fill, next);
  if (!later.Open(from)) return next;
  try {
    later.thread = std::thread([&later] { ReadLaterPart(later); });
  } catch (const std::exception&) {  // no thread to be had
    return next;
  }
  return FillAlongside(later, fill, next);
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

// The switch from counting: the `counted` cases, then the one whose pattern
// did not fit, which the block's first row holds (with no table, a block is
// read first to judge by), become packed keys where a packing that holds
// their values takes less room than rows, else rows of the matrix. Returns
// the cases held.
int32_t SwitchFromCounting(CaseFill& fill, const PatternTable& table, int32_t counted) {
  const int32_t pending = table.capacity == 0 ? ReadRows(fill, fill.blockRows) : 1;
  ValueRange range = RangeOf(fill.rows, int64_t{pending} * fill.nvars);
  if (table.patterns.keys > 0) range = Union(range, RangeOf(table.values, int64_t{table.patterns.keys} * fill.nvars));
  const Packing packing = PackingFor(fill.nvars, range.smallest, range.largest);
  fill.packing = SmallerThanRows(packing) && TakeKeyStorage(fill.packed, packing, fill.ncases);
  if (fill.packing) {
    PreferLargePagesWhereFilled(fill.packed.storage, fill.ncases - counted - pending, fill.nvars);
    ExpandPatternKeys(table, packing, fill.packed.keys);
  } else {
    FillTheMatrix(fill, counted + pending);
    ExpandPatterns(table, static_cast<int32_t*>(fill.matrix.data), fill.ncases);
  }
  PlaceBlock(fill, pending, counted, false);
  return counted + pending;
}

}  // namespace

int64_t LaterPartStart(int64_t offset, int32_t read, int32_t ncases) {
  const int64_t bytes = offset / read * (ncases - read);
  return bytes < kLaterPartBytes ? -1 : offset + bytes / 2;
}

CasesHeld ReadCases(int32_t ncases, int32_t nvars, textio::ArrayDescriptor& caseMatrix, PatternTable& table,
                    PackedCases& packed) {
  auto* cases = static_cast<int32_t*>(caseMatrix.data);
  const auto blockRows = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(kBlockValues / nvars, 1), ncases));
  Scratch block(int64_t{4} * blockRows * nvars);
  if (block.data == nullptr) {
    for (int32_t i = 0; i < ncases; ++i) ReadCase(cases + i, nvars, ncases);
    return CasesHeld::InMatrix;
  }
  auto* rows = reinterpret_cast<int32_t*>(block.data);
  int32_t counted = CountWhileRepeating(ncases, table, rows);
  if (counted == ncases) return CasesHeld::Counted;
  CaseFill fill(caseMatrix, ncases, nvars, rows, blockRows, packed);
  FillInOrder(fill, FillWithLaterPart(fill, SwitchFromCounting(fill, table, counted)));
  return fill.packing ? CasesHeld::Packed : CasesHeld::InMatrix;
}
