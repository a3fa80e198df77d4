// Reading the cases a block at a time into rows, where they are counted by
// pattern while they are still in the cache, or moved into the columns of
// the case matrix: a case read straight into its columns would touch a
// cache line in every column.
#include "aggregation/case_reading.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "aggregation/matrix.h"

namespace {

constexpr int64_t kBlockValues = 16384;  // values read into rows before they are counted or moved

void ReadCase(int32_t* first, int32_t nvars, ptrdiff_t stride) {
  textio::beginRead(1);
  textio::readIntegers(first, nvars, stride);
  textio::endRead();
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
  const auto width = static_cast<size_t>(nvars);
  bool counting = table.capacity > 0;
  std::thread preparing;
  if (!counting) StartPreparing(preparing, caseMatrix);
  int32_t filled = 0;  // rows of the matrix written
  for (int32_t first = 0; first < ncases; first += blockRows) {
    int32_t count = std::min(blockRows, ncases - first);
    // Values a case leaves without one stay 0, as in the matrix.
    std::fill_n(rows, static_cast<size_t>(count) * width, 0);
    for (int32_t r = 0; r < count; ++r) ReadCase(rows + static_cast<size_t>(r) * width, nvars, 1);
    int32_t counted = counting ? CountRows(table, rows, count) : 0;
    if (counting && counted < count) {
      // The patterns stopped repeating: from here on the matrix takes the cases.
      counting = false;
      StartPreparing(preparing, caseMatrix);
      ExpandPatterns(table, cases, ncases);
      filled = static_cast<int32_t>(table.rows);
    }
    if (!counting) {
      MoveIntoColumns(rows + static_cast<size_t>(counted) * width, count - counted, nvars, cases, ncases, filled);
      filled += count - counted;
    }
  }
  if (preparing.joinable()) preparing.join();
  textio::ReleaseArray(block);
  return counting;
}
