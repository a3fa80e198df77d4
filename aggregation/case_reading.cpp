// Reading the cases. While their patterns repeat, each case is counted as it
// is read, and a record whose text was met before is not read again: it
// gives the pattern it gave then. Once the patterns stop repeating, the
// cases are read a block at a time into rows and moved into the columns of
// the case matrix: a case read straight into its columns would touch a
// cache line in every column.
#include "aggregation/case_reading.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "aggregation/key_table.h"
#include "aggregation/matrix.h"

namespace {

constexpr int64_t kBlockValues = 16384;             // values read into rows before they are moved
constexpr int64_t kRecordBytes = int64_t{4} << 20;  // record texts remembered, their bytes at most

// Record texts met before, each with the pattern of the case read from it
// alone: twice as many texts as the table has patterns, of about 16 bytes a
// value; none (capacity 0) when the storage cannot be had.
struct RecordMemo {
  RecordMemo(int32_t patterns, int32_t nvars)
      : capacity(2 * patterns),
        byteRoom(std::min(kRecordBytes, int64_t{16} * nvars * capacity)),
        storage(KeyTableBytes(capacity, byteRoom) + int64_t{4} * capacity) {
    if (storage.data == nullptr) return;
    MakeKeyTable(texts, capacity, byteRoom, storage.data);
    patternOf = reinterpret_cast<int32_t*>(storage.data + KeyTableBytes(capacity, byteRoom));
  }
  int32_t capacity;
  int64_t byteRoom;
  Scratch storage;
  KeyTable texts;
  int32_t* patternOf = nullptr;
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
      CountPattern(table, memo.patternOf[known]);
      return true;
    }
  }
  int64_t recordEnds = textio::recordEndsPassed(1);
  // Values a case leaves without one stay 0, as in the matrix.
  std::fill_n(row, table.nvars, 0);
  ReadCase(row, table.nvars, 1);
  int32_t pattern = CountRow(table, row);
  if (pattern < 0) return false;
  // The text is still where it was read only when the case took that one record.
  if (peeked && textio::recordEndsPassed(1) == recordEnds + 1) {
    int32_t key = AddKey(memo.texts, text, static_cast<size_t>(length), hash);
    if (key >= 0) memo.patternOf[key] = pattern;
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
// to read the cases: a second thread gets them meanwhile, where one can be had.
void StartPreparing(std::thread& preparing, const textio::ArrayDescriptor& caseMatrix) {
  try {
    preparing = std::thread([&caseMatrix] { textio::PrepareArray(caseMatrix); });
  } catch (const std::exception&) {
    textio::PrepareArray(caseMatrix);
  }
}

}  // namespace

bool ReadCases(int32_t ncases, int32_t nvars, textio::ArrayDescriptor& caseMatrix, PatternTable& table) {
  auto* cases = static_cast<int32_t*>(caseMatrix.data);
  const auto blockRows = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(kBlockValues / nvars, 1), ncases));
  textio::ArrayDescriptor block = ArrayOf(sizeof(int32_t), nvars, blockRows);
  int32_t status = 0;
  textio::AllocateArray(block, &status);
  if (status != 0) {
    textio::PrepareArray(caseMatrix);
    for (int32_t i = 0; i < ncases; ++i) ReadCase(cases + i, nvars, ncases);
    return false;
  }
  auto* rows = static_cast<int32_t*>(block.data);
  std::thread preparing;
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
    StartPreparing(preparing, caseMatrix);
    ExpandPatterns(table, cases, ncases);
    MoveIntoColumns(rows, 1, nvars, cases, ncases, next++);
  } else {
    StartPreparing(preparing, caseMatrix);
  }
  const auto width = static_cast<size_t>(nvars);
  for (int32_t count = 0; next < ncases; next += count) {
    count = std::min(blockRows, ncases - next);
    std::fill_n(rows, static_cast<size_t>(count) * width, 0);
    for (int32_t r = 0; r < count; ++r) ReadCase(rows + static_cast<size_t>(r) * width, nvars, 1);
    MoveIntoColumns(rows, count, nvars, cases, ncases, next);
  }
  if (preparing.joinable()) preparing.join();
  textio::ReleaseArray(block);
  return false;
}
