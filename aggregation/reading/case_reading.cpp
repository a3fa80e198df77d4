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
#include <cstring>
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

// Where the cases read go, and what filling it takes: a block of rows that
// the cases are read into first; then the keys while the cases are packed,
// else the matrix and the page preparer of its rows.
struct CaseFill {
  CaseFill(textio::ArrayDescriptor& caseMatrix, int32_t cases, int32_t variables, int32_t* block, int32_t rowsEach,
           PackedCases& keys, bool readToTheEnd)
      : matrix(caseMatrix),
        ncases(cases),
        nvars(variables),
        rows(block),
        blockRows(rowsEach),
        packed(keys),
        toTheEnd(readToTheEnd) {}
  textio::ArrayDescriptor& matrix;
  int32_t ncases, nvars;
  int32_t* rows;
  int32_t blockRows;
  PackedCases& packed;
  bool toTheEnd;                      // ncases is a bound: the cases end where the records do
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
// bytes enough for the cases still to be read after the `read` ones, a digit
// and a separator at least to a value, so that it will be filled: a number
// of cases typed larger than the file could hold still costs only the pages
// of the cases read. Read to their end, the records fill about as many
// cases as the bytes left should hold, judged by those read so far: large
// pages where the bound passes that by a sixteenth at most, so that the
// room left empty that a large page takes costs little.
void PreferLargePagesWhereFilled(const textio::ArrayDescriptor& array, const CaseFill& fill, int32_t read) {
  const int64_t bytesLeft = textio::BytesAfterNextRecord(kDataUnit);
  bool filled = bytesLeft >= int64_t{2} * (fill.ncases - read) * fill.nvars;
  if (fill.toTheEnd) {
    const int64_t expected = read + bytesLeft * read / std::max<int64_t>(textio::NextRecordOffset(kDataUnit), 1);
    filled = fill.ncases - expected <= expected / 16;
  }
  if (filled) textio::PreferLargePages(array);
}

// From here on the cases go into the matrix, whose pages a second thread gets
// ahead of the rows read; `read` cases have been read so far.
void FillTheMatrix(CaseFill& fill, int32_t read) {
  PreferLargePagesWhereFilled(fill.matrix, fill, read);
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
      PreferLargePagesWhereFilled(fill.packed.storage, fill, next + count);
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
// stops after the case after which the next record begins at `stop` or
// later, and where the records end.
int32_t ReadRows(const CaseFill& fill, int32_t count, int64_t stop = INT64_MAX) {
  const auto width = static_cast<size_t>(fill.nvars);
  std::fill_n(fill.rows, static_cast<size_t>(count) * width, 0);
  int32_t read = 0;
  while (read < count && ReadCase(fill.rows + static_cast<size_t>(read) * width, fill.nvars, 1)) {
    ++read;
    if (stop != INT64_MAX && textio::NextRecordOffset(kDataUnit) >= stop) break;
  }
  return read;
}

// The cases from `next` on, read in order on this thread; returns the cases
// held.
int32_t FillInOrder(CaseFill& fill, int32_t next) {
  while (next < fill.ncases && !textio::RecordsEnded(kDataUnit)) {
    const int32_t read = ReadRows(fill, std::min(fill.blockRows, fill.ncases - next));
    PlaceBlock(fill, read, next, Widens(fill, read));
    next += read;
  }
  return next;
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
    reachedEnd = textio::SideReaderAtEnd(side);
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
  // Where the last case the second thread placed ends, and how many it
  // placed: written by it, read once it has ended.
  textio::SideCaseEnd lastEnd = {};
  int32_t placedRows = 0;
  bool reachedEnd = false;  // it read to the file's end: set by Close
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
      later.placedRows += taken.count;
      later.lastEnd = ends[placed - 1];
    }
    if (read < fill.blockRows) return;
  }
}

// The cases from `next` on, this thread taking rows from the bottom until
// its reading reaches the later part's first record. Returns the case from
// which the reading goes on in order: ncases when the later part's cases
// fill the rest. Where the records are read to their end, the later part's
// cases count once it has read to the file's end, in the cases it filled at
// the bottom (`bottom` of them), apart from this thread's.
int32_t FillAlongside(LaterPart& later, CaseFill& fill, int32_t next, int32_t& bottom) {
  while (next < fill.ncases && !textio::RecordsEnded(kDataUnit)) {
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
      const bool met = later.Close();
      if (!met && !(fill.toTheEnd && later.reachedEnd)) return next;
      // The unit then stands after the last case, as a reading in order would.
      textio::PassSideCases(kDataUnit, later.placedRows, later.lastEnd);
      bottom = met ? 0 : later.placedRows;
      return met ? fill.ncases : next;
    }
    if (at > later.start) break;
  }
  later.Abandon();
  return next;
}

// The cases from `next` on with the later part of the file read on a
// second thread meanwhile, about the second half of the bytes they should
// take, judged by those read so far (or, read to their end, of the bytes
// left), where the work pays for a thread. Returns the case from which the
// reading goes on in order, and the cases filled at the bottom apart from
// the rest.
int32_t FillWithLaterPart(CaseFill& fill, int32_t next, int32_t& bottom) {
  if (next == 0 || textio::RecordsEnded(kDataUnit)) return next;
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
  return FillAlongside(later, fill, next, bottom);
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
    PreferLargePagesWhereFilled(fill.packed.storage, fill, counted + pending);
    ExpandPatternKeys(table, packing, fill.packed.keys);
  } else {
    FillTheMatrix(fill, counted + pending);
    ExpandPatterns(table, static_cast<int32_t*>(fill.matrix.data), fill.ncases);
  }
  PlaceBlock(fill, pending, counted, false);
  return counted + pending;
}

// The cases filled: the first `top`, and the last `bottom` of the bound.
struct FilledCases {
  int32_t top, bottom;
};

// Columns of `bound` rows, of which the first `filled.top` and the last
// `filled.bottom` are filled, moved together into columns of just those
// rows. Each piece moves down, into room no piece still to be moved stands in.
void MoveColumnsTogether(int32_t* cases, int32_t bound, FilledCases filled, int32_t nvars) {
  const int32_t rows = filled.top + filled.bottom;
  for (int64_t j = 0; j < nvars && rows < bound; ++j) {
    int32_t* column = Column(cases, rows, j);
    std::memmove(column, Column(cases, bound, j), sizeof(int32_t) * static_cast<size_t>(filled.top));
    std::memmove(column + filled.top, Column(cases, bound, j) + bound - filled.bottom,
                 sizeof(int32_t) * static_cast<size_t>(filled.bottom));
  }
}

// The keys of the last `filled.bottom` of `bound` cases moved down to follow
// the first `filled.top`.
void MoveKeysTogether(PackedCases& packed, int32_t bound, FilledCases filled) {
  const auto words = static_cast<size_t>(packed.packing.words);
  std::memmove(packed.keys + static_cast<size_t>(filled.top) * words,
               packed.keys + static_cast<size_t>(bound - filled.bottom) * words,
               sizeof(uint64_t) * words * static_cast<size_t>(filled.bottom));
}

}  // namespace

int64_t HalfWayThrough(int64_t offset, int64_t bytes) { return bytes < kLaterPartBytes ? -1 : offset + bytes / 2; }

int64_t LaterPartStart(int64_t offset, int32_t read, int32_t ncases) {
  return HalfWayThrough(offset, offset / read * (ncases - read));
}

CasesRead ReadCases(int32_t ncases, int32_t nvars, textio::ArrayDescriptor& caseMatrix, PatternTable& table,
                    PackedCases& packed, bool toTheEnd) {
  auto* cases = static_cast<int32_t*>(caseMatrix.data);
  const auto blockRows = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(kBlockValues / nvars, 1), ncases));
  Scratch block(int64_t{4} * blockRows * nvars);
  if (block.data == nullptr) {
    FilledCases filled{0, 0};
    while (filled.top < ncases && ReadCase(cases + filled.top, nvars, ncases)) ++filled.top;
    if (toTheEnd) MoveColumnsTogether(cases, ncases, filled, nvars);
    return {CasesHeld::InMatrix, filled.top};
  }
  auto* rows = reinterpret_cast<int32_t*>(block.data);
  const int32_t counted = CountWhileRepeating(ncases, table, rows);
  if (counted == ncases || textio::RecordsEnded(kDataUnit)) return {CasesHeld::Counted, counted};
  CaseFill fill(caseMatrix, ncases, nvars, rows, blockRows, packed, toTheEnd);
  int32_t bottom = 0;
  const int32_t next = FillWithLaterPart(fill, SwitchFromCounting(fill, table, counted), bottom);
  const FilledCases filled{bottom > 0 ? next : FillInOrder(fill, next), bottom};
  if (toTheEnd && fill.packing) MoveKeysTogether(packed, ncases, filled);
  if (toTheEnd && !fill.packing) MoveColumnsTogether(cases, ncases, filled, nvars);
  return {fill.packing ? CasesHeld::Packed : CasesHeld::InMatrix, filled.top + filled.bottom};
}
