// Reading the cases. While their patterns repeat, each case is counted as it
// is read, and a record whose text was met before is not read again: it
// gives the pattern it gave then. Once the patterns stop repeating, the
// cases are read a block at a time into rows and moved into the columns of
// the case matrix: a case read straight into its columns would touch a
// cache line in every column.
#include "aggregation/case_reading.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <optional>
#include <thread>

#include "aggregation/key_table.h"
#include "aggregation/matrix.h"

namespace {

constexpr int64_t kRecordBytes = int64_t{4} << 20;        // record texts remembered, their bytes at most
constexpr int64_t kLaterPartBytes = int64_t{4} << 20;     // a second thread reads at least this much
constexpr int64_t kPreparedStepBytes = int64_t{8} << 20;  // matrix pages got at a time
constexpr int32_t kPreparedSteps = 4;                     // steps got ahead of the reading at most

// Record texts met before, each with the pattern of the case read from it
// alone and whether that case skipped values after its last one: twice as
// many texts as the table has patterns, of about 16 bytes a value; none
// (capacity 0) when the storage cannot be had.
struct RecordMemo {
  RecordMemo(int32_t patterns, int32_t nvars)
      : capacity(2 * patterns),
        byteRoom(std::min(kRecordBytes, int64_t{16} * nvars * capacity)),
        storage(KeyTableBytes(capacity, byteRoom) + int64_t{5} * capacity) {
    if (storage.data == nullptr) return;
    MakeKeyTable(texts, capacity, byteRoom, storage.data);
    patternOf = reinterpret_cast<int32_t*>(storage.data + KeyTableBytes(capacity, byteRoom));
    skipping = reinterpret_cast<bool*>(patternOf + capacity);
  }
  int32_t capacity;
  int64_t byteRoom;
  Scratch storage;
  KeyTable texts;
  int32_t* patternOf = nullptr;
  bool* skipping = nullptr;
};

void ReadCase(int32_t* first, int32_t nvars, ptrdiff_t stride) {
  textio::beginRead(1);
  textio::readIntegers(first, nvars, stride);
  textio::endRead();
}

// Reads the next case into `row` and counts it; false, with the case left in
// `row`, when its pattern is new and the table is full.
bool CountCase(PatternTable& table, RecordMemo& memo, int32_t* row) {
  const char* text = nullptr;
  int length = 0;
  bool peeked = memo.texts.capacity > 0 && textio::peekRecord(1, text, length);
  uint64_t hash = 0;
  if (peeked) {
    hash = HashBytes(text, static_cast<size_t>(length));
    int32_t known = FindKey(memo.texts, text, static_cast<size_t>(length), hash);
    if (known >= 0) {
      textio::passRecord(1, length);
      if (memo.skipping[known]) textio::countSkippedValues(1);
      CountPattern(table, memo.patternOf[known]);
      return true;
    }
  }
  int64_t recordEnds = textio::recordEndsPassed(1);
  int64_t firstSkipped = 0;
  int64_t skippedBefore = textio::recordsSkippingValues(1, firstSkipped);
  // Values a case leaves without one stay 0, as in the matrix.
  std::fill_n(row, table.nvars, 0);
  ReadCase(row, table.nvars, 1);
  int32_t pattern = CountRow(table, row);
  if (pattern < 0) return false;
  // The text is still where it was read only when the case took that one record.
  if (peeked && textio::recordEndsPassed(1) == recordEnds + 1) {
    int32_t key = AddKey(memo.texts, text, static_cast<size_t>(length), hash);
    if (key >= 0) {
      memo.patternOf[key] = pattern;
      memo.skipping[key] = textio::recordsSkippingValues(1, firstSkipped) != skippedBefore;
    }
  }
  return true;
}

// Moves rows[0..count) into the matrix's rows from `row` on.
void MoveIntoColumns(const int32_t* rows, int32_t count, int32_t nvars, int32_t* cases, int32_t ncases, int32_t row) {
  const auto width = static_cast<size_t>(nvars);
  for (size_t j = 0; j < width; ++j) {
    int32_t* column = Column(cases, ncases, static_cast<int64_t>(j)) + row;
    for (size_t r = 0; r < static_cast<size_t>(count); ++r) column[r] = rows[r * width + j];
  }
}

// The system takes about as long to give the matrix its pages as it takes
// to read the cases: a second thread gets them meanwhile, where one can be
// had, a few steps ahead of the rows read and no further, so that a number
// of cases typed too large costs only the pages of the cases the file holds.
struct PagePreparer {
  PagePreparer(const textio::ArrayDescriptor& caseMatrix, int32_t rows, int32_t columns);
  ~PagePreparer();
  // The rows before `row` are read: the pages of those after it may be got.
  void Reached(int32_t row) {
    reached = row;
    reached.notify_one();
  }
  void Prepare();

  const textio::ArrayDescriptor& matrix;
  int32_t ncases, nvars;
  int32_t stepRows;                 // rows got at a time: a page of each column at least
  std::atomic<int32_t> reached{0};  // rows read; -1 once the reading is over
  std::thread thread;
};

PagePreparer::PagePreparer(const textio::ArrayDescriptor& caseMatrix, int32_t rows, int32_t columns)
    : matrix(caseMatrix),
      ncases(rows),
      nvars(columns),
      stepRows(static_cast<int32_t>(
          std::min<int64_t>(std::max<int64_t>(kPreparedStepBytes / 4 / columns, 1024), rows))) {
  try {
    thread = std::thread([this] { Prepare(); });
  } catch (const std::exception&) {  // the pages are then given as they are first touched
  }
}

PagePreparer::~PagePreparer() {
  if (!thread.joinable()) return;
  Reached(-1);
  thread.join();
}

void PagePreparer::Prepare() {
  for (int32_t prepared = 0; prepared < ncases;) {
    int32_t read = reached.load();
    if (read < 0) return;
    if (prepared - read >= int64_t{kPreparedSteps} * stepRows) {
      reached.wait(read);
      continue;
    }
    int32_t rows = std::min(stepRows, ncases - prepared);
    for (int64_t j = 0; j < nvars; ++j) {
      textio::PrepareArray(matrix, 4 * static_cast<size_t>(j * ncases + prepared), 4 * static_cast<size_t>(rows));
    }
    prepared += rows;
  }
}

// The later part of the data file, read on a second thread where the work
// pays for one: its cases fill the matrix from the last row up, while this
// thread's fill it from the first row down. The rows each has taken are
// claimed in one word, this thread's below and the other's from above, so
// that neither writes where the other does. The other's cases count only if
// this thread's reading reaches exactly the record where they begin; else
// its work is dropped and the reading goes on in order, so that every
// report is that of a reading in order.
struct LaterPart {
  ~LaterPart() { Drop(); }
  void Drop();

  textio::SideReader* side = nullptr;
  int64_t start = 0;                   // the file offset of its first record
  std::atomic<uint64_t> claims{0};     // rows taken: this thread's below << 32 | the other's from above
  std::atomic<bool> settled{false};    // this thread takes no more rows: the other may take what is left
  std::thread thread;
};

uint64_t Claims(int32_t below, int32_t above) { return static_cast<uint64_t>(below) << 32 | static_cast<uint32_t>(above); }
int32_t Below(uint64_t claims) { return static_cast<int32_t>(claims >> 32); }
int32_t Above(uint64_t claims) { return static_cast<int32_t>(claims & 0xFFFFFFFF); }

// Sets this thread's rows to end at `below`, and where the other thread's
// begin, if `dropping`; then waits for it to end.
void Settle(LaterPart& later, int32_t below, bool dropping) {
  uint64_t claims = later.claims.load();
  while (!later.claims.compare_exchange_weak(claims, Claims(below, dropping ? below : Above(claims)))) {
  }
  later.settled = true;
  later.settled.notify_one();
  later.thread.join();
}

void LaterPart::Drop() {
  if (side == nullptr) return;
  if (thread.joinable()) Settle(*this, Below(claims.load()), true);
  textio::CloseSideReader(side);
  side = nullptr;
}

// Claims up to `count` rows below for this thread, as many as the other
// thread has left; returns how many.
int32_t ClaimBelow(LaterPart& later, int32_t count) {
  uint64_t claims = later.claims.load();
  int32_t take = 0;
  do {
    take = std::min(count, Above(claims) - Below(claims));
  } while (!later.claims.compare_exchange_weak(claims, Claims(Below(claims) + take, Above(claims))));
  return take;
}

// The second thread: cases read a block at a time, each block moved into the
// rows it can claim; it waits while this thread may still give rows back.
void ReadLaterPart(LaterPart& later, int32_t* cases, int32_t ncases, int32_t nvars, int32_t* rows, int32_t blockRows) {
  for (;;) {
    int32_t read = textio::ReadSideCases(later.side, rows, blockRows);
    for (int32_t placed = 0; placed < read;) {
      uint64_t claims = later.claims.load();
      int32_t above = Above(claims), take = std::min(read - placed, above - Below(claims));
      if (take == 0) {
        if (later.settled) return;
        later.settled.wait(false);
        continue;
      }
      if (!later.claims.compare_exchange_weak(claims, Claims(Below(claims), above - take))) continue;
      MoveIntoColumns(rows + static_cast<size_t>(placed) * static_cast<size_t>(nvars), take, nvars, cases, ncases,
                      above - take);
      placed += take;
    }
    if (read < blockRows) return;
  }
}

// Starts the second thread on about the second half of the bytes that the
// cases from `next` on should take, judged by those read so far; false when
// the work would not pay for it, or it cannot be had.
bool StartLaterPart(LaterPart& later, Scratch& rows, int32_t* cases, int32_t ncases, int32_t nvars, int32_t next,
                    int32_t blockRows) {
  int64_t at = textio::nextRecordOffset(1);
  int64_t bytes = at / next * (ncases - next);
  if (bytes < kLaterPartBytes || rows.data == nullptr) return false;
  later.side = textio::OpenSideReader(1, at + bytes / 2, nvars);
  if (later.side == nullptr) return false;
  later.start = textio::SideReaderStart(later.side);
  later.claims = Claims(next, ncases);
  auto* block = reinterpret_cast<int32_t*>(rows.data);
  try {
    later.thread = std::thread([&later, cases, ncases, nvars, block, blockRows] {
      ReadLaterPart(later, cases, ncases, nvars, block, blockRows);
    });
  } catch (const std::exception&) {
    later.Drop();
    return false;
  }
  return true;
}

}  // namespace

bool ReadCases(int32_t ncases, int32_t nvars, textio::ArrayDescriptor& caseMatrix, PatternTable& table) {
  auto* cases = static_cast<int32_t*>(caseMatrix.data);
  const auto blockRows = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(kBlockValues / nvars, 1), ncases));
  textio::ArrayDescriptor block = ArrayOf(sizeof(int32_t), nvars, blockRows);
  int32_t status = 0;
  textio::AllocateArray(block, &status);
  if (status != 0) {
    for (int32_t i = 0; i < ncases; ++i) ReadCase(cases + i, nvars, ncases);
    return false;
  }
  auto* rows = static_cast<int32_t*>(block.data);
  std::optional<PagePreparer> preparer;
  int32_t next = 0;  // cases read; once the matrix takes them, also the rows it holds
  if (table.capacity > 0) {
    RecordMemo memo(table.capacity, nvars);
    while (next < ncases && CountCase(table, memo, rows)) ++next;
    if (next == ncases) {
      textio::ReleaseArray(block);
      return true;
    }
    // The patterns stopped repeating: the matrix takes the cases counted so
    // far, the one that did not fit, and all after them.
    preparer.emplace(caseMatrix, ncases, nvars);
    ExpandPatterns(table, cases, ncases);
    MoveIntoColumns(rows, 1, nvars, cases, ncases, next++);
  } else {
    preparer.emplace(caseMatrix, ncases, nvars);
  }
  const auto width = static_cast<size_t>(nvars);
  Scratch laterRows(int64_t{4} * blockRows * nvars);  // the second thread's, released after it ends
  LaterPart later;
  bool tried = false;
  while (next < ncases) {
    if (!tried && next > 0) {
      tried = true;
      StartLaterPart(later, laterRows, cases, ncases, nvars, next, blockRows);
    }
    int32_t count = std::min(blockRows, ncases - next);
    if (later.side != nullptr) {
      // No row left at all: the other thread's cases are not the ones that follow.
      int32_t claimed = ClaimBelow(later, count);
      if (claimed == 0) later.Drop();
      if (claimed > 0) count = claimed;
    }
    std::fill_n(rows, static_cast<size_t>(count) * width, 0);
    bool reached = false;
    for (int32_t r = 0; r < count && !reached; ++r) {
      ReadCase(rows + static_cast<size_t>(r) * width, nvars, 1);
      if (later.side == nullptr) continue;
      int64_t at = textio::nextRecordOffset(1);
      reached = at == later.start;
      if (reached) count = r + 1;
      if (at > later.start) later.Drop();
    }
    MoveIntoColumns(rows, count, nvars, cases, ncases, next);
    next += count;
    preparer->Reached(next);
    if (reached) {
      Settle(later, next, false);
      if (Above(later.claims.load()) == next) next = ncases;
      later.Drop();
    }
  }
  preparer.reset();
  textio::ReleaseArray(block);
  return false;
}
