// The aggregation run's procedures: the dialog and its check, the ordering
// of the cases by response pattern, and the pattern records.
#include "aggregation/Corvanesubs.h"

#include <algorithm>
#include <cstring>

#include "aggregation/case_order.h"
#include "aggregation/matrix.h"
#include "aggregation/pattern_table.h"
#include "textio/textio.h"

namespace {

// A name longer than a connection takes is never cut to another name: it
// is left blank, which the check refuses.
void ReadName(char* name) {
  textio::beginRead(textio::kConsoleUnit);
  textio::readCharacter(name, kNameLength);
  if (textio::valueCut()) std::fill_n(name, kNameLength, ' ');
  textio::endRead();
}

void ReadCount(int32_t& count) {
  textio::beginRead(textio::kConsoleUnit);
  textio::readInteger(count);
  textio::endRead();
}

// A name is blank when all its characters are blanks; a NUL is not a blank.
bool IsBlank(const char* name) {
  return std::all_of(name, name + kNameLength, [](char c) { return c == ' '; });
}

constexpr int64_t kBlockBytes = 256 * 1024;  // a block of rows for the pattern records, at most
constexpr int32_t kRowsPerLine = 16;         // 4-byte values in a 64-byte cache line

// Sets differs[k] when row first + k differs from the row after it, for k
// below `pairs`; one column after the other.
void MarkDifferences(const int32_t* cases, int32_t ncases, int32_t nvars, int32_t first, int32_t pairs,
                     uint8_t* differs) {
  std::fill_n(differs, pairs, uint8_t{0});
  for (int32_t j = 0; j < nvars; ++j) {
    const int32_t* column = Column(cases, ncases, j) + first;
    for (int32_t k = 0; k < pairs; ++k) differs[k] |= static_cast<uint8_t>(column[k] != column[k + 1]);
  }
}

// Asks for the cache lines holding `row` ahead of their use.
void PrefetchRow(const int32_t* cases, int32_t ncases, int32_t nvars, int32_t row) {
  if (row >= ncases) return;
  for (int32_t j = 0; j < nvars; ++j) Prefetch(Column(cases, ncases, j) + row);
}

// One pattern record: `nvars` values, the k-th at values[k * stride], and the count.
void WritePatternRecord(const int32_t* values, ptrdiff_t stride, int32_t nvars, int32_t count,
                        const char* recordLayout) {
  textio::beginWrite(2, recordLayout, kRecordLayoutLength);
  textio::writeIntegers(values, nvars, stride);
  textio::writeInteger(count);
  textio::endWrite();
}

}  // namespace

void WriteConsoleLine(const char* text) {
  textio::beginWrite();
  textio::writeCharacter(text, static_cast<int>(std::strlen(text)));
  textio::endWrite();
}

void Refuse(const char* message) {
  WriteConsoleLine(message);
  textio::StopRun();
}

void AskRunParameters(char* dataFileName, char* outputFileName, int32_t& ncases, int32_t& nvars) {
  WriteConsoleLine("This is the QPX data aggregation program.");
  WriteConsoleLine("It will read in an ASCII file of individual level data,");
  WriteConsoleLine("and produce a response pattern file for analysis with QPX.");
  textio::beginWrite();
  textio::endWrite();
  WriteConsoleLine("Please type in the name of the data file to be read:");
  ReadName(dataFileName);
  WriteConsoleLine("Please type in the name for the output file:");
  ReadName(outputFileName);
  WriteConsoleLine("Please type in the number of cases to be read in:");
  ReadCount(ncases);
  WriteConsoleLine("Please type in the number of variables:");
  ReadCount(nvars);
  CheckRunParameters(dataFileName, outputFileName, ncases, nvars);
}

void CheckRunParameters(const char* dataFileName, const char* outputFileName, const int32_t& ncases,
                        const int32_t& nvars) {
  if (ncases < 1 || nvars < 1) Refuse("Both the number of subjects and variables must be greater than zero.");
  if (IsBlank(dataFileName) || IsBlank(outputFileName)) Refuse("Please input valid file names.");
}

int32_t PatternGreater(const int32_t& nvars, const int32_t* a, const int32_t* b) {
  for (int32_t k = nvars - 1; k >= 0; --k) {
    if (a[k] != b[k]) return a[k] > b[k] ? 1 : 0;
  }
  return 0;
}

void SortCases(const int32_t& ncases, const int32_t& nvars, int32_t* caseMatrix) {
  if (ncases < 2) return;
  if (!OrderByKeys(ncases, nvars, caseMatrix)) OrderInPlace(ncases, nvars, caseMatrix);
}

void WritePatterns(const int32_t& ncases, const int32_t& nvars, const int32_t* caseMatrix,
                   const char* recordLayout) {
  // One record per run of equal adjacent rows, written as soon as the run
  // ends. Where rows differ from the next is found a block of rows at a
  // time; the block then stays in the cache for its records, while the
  // next block is fetched.
  const auto blockRows =
      static_cast<int32_t>(std::clamp<int64_t>(kBlockBytes / (4 * int64_t{nvars}), kRowsPerLine, kBlockRows));
  uint8_t differs[kBlockRows];
  int32_t count = 1;
  for (int32_t first = 0; first < ncases; first += blockRows) {
    int32_t last = std::min(ncases, first + blockRows);
    // The rows of the block that have a next row to be compared with.
    int32_t pairs = std::min(last, ncases - 1) - first;
    MarkDifferences(caseMatrix, ncases, nvars, first, pairs, differs);
    for (int32_t i = first; i < last; ++i) {
      if ((i - first) % kRowsPerLine == 0) PrefetchRow(caseMatrix, ncases, nvars, i + blockRows);
      if (i - first < pairs && differs[i - first] == 0) {
        ++count;
        continue;
      }
      WritePatternRecord(caseMatrix + i, ncases, nvars, count, recordLayout);
      count = 1;
    }
  }
}

void WriteCountedPatterns(const PatternTable& table, const char* recordLayout) {
  for (int32_t p = 0; p < table.patterns.keys; ++p) {
    int32_t pattern = table.order[p];
    WritePatternRecord(table.values + static_cast<size_t>(pattern) * static_cast<size_t>(table.nvars), 1,
                       table.nvars, static_cast<int32_t>(table.counts[pattern]), recordLayout);
  }
}
