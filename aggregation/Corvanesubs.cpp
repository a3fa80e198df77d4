// The aggregation run's procedures: the dialog and its check, the ordering
// of the cases by response pattern, and the pattern records.
#include "aggregation/Corvanesubs.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "aggregation/key_sort.h"
#include "textio/textio.h"

namespace {

void ReadName(char* name) {
  textio::beginRead(textio::kConsoleUnit);
  textio::readCharacter(name, kNameLength);
  textio::endRead();
}

void ReadCount(int32_t& count) {
  textio::beginRead(textio::kConsoleUnit);
  textio::readInteger(count);
  textio::endRead();
}

// A name is blank when all its 40 characters are blanks; a NUL is not a blank.
bool IsBlank(const char* name) {
  return std::all_of(name, name + kNameLength, [](char c) { return c == ' '; });
}

[[noreturn]] void Refuse(const char* message) {
  WriteConsoleLine(message);
  textio::StopRun();
}

// Element (case i, variable j) of the case matrix, both 0-based.
inline int32_t& At(int32_t* cases, int32_t ncases, int32_t i, int32_t j) {
  return cases[i + static_cast<size_t>(j) * static_cast<size_t>(ncases)];
}

// Scratch storage of the ordering, `count` 32-bit values, zero-filled.
struct Scratch {
  textio::ArrayDescriptor array{};
  explicit Scratch(int64_t count) {
    array.elementSize = sizeof(uint32_t);
    array.rank = 1;
    array.bounds[0] = {1, count};
    textio::AllocateArray(array, nullptr);
  }
  ~Scratch() { textio::ReleaseArray(array); }
  template <typename T>
  T* As() { return static_cast<T*>(array.data); }
};

// A column's place in a packed key: its values less its smallest, in
// `width` bits from bit `shift` up.
struct KeyField {
  int32_t minimum;
  int shift, width;
};

// When every value of a column lies in a range of a few bits, a whole
// pattern packs into one 64-bit key whose order is the pattern order: the
// last variable takes the highest bits. Returns the key's width in bits, or
// -1 when the patterns do not fit.
int PlanPackedKeys(int32_t ncases, int32_t nvars, const int32_t* cases, KeyField* fields) {
  int bits = 0;
  for (int32_t j = 0; j < nvars; ++j) {
    const int32_t* column = cases + static_cast<size_t>(j) * static_cast<size_t>(ncases);
    int32_t low = column[0], high = column[0];
    for (int32_t i = 1; i < ncases; ++i) {
      low = std::min(low, column[i]);
      high = std::max(high, column[i]);
    }
    int width = std::bit_width(static_cast<uint64_t>(static_cast<int64_t>(high) - low));
    fields[j] = {low, bits, width};
    bits += width;
    if (bits > 64) return -1;
  }
  return bits;
}

// A column of one value needs no place in the key: it stays as it is. The
// keys are made and taken apart a block of rows at a time, so that the block
// stays in the cache while every column passes through it.
void SortPacked(int32_t ncases, int32_t nvars, int32_t* cases, const KeyField* fields, int bits) {
  constexpr int32_t kBlockRows = 4096;
  Scratch scratch(2 * static_cast<int64_t>(ncases));
  uint64_t* keys = scratch.As<uint64_t>();
  for (int32_t first = 0; first < ncases; first += kBlockRows) {
    int32_t last = std::min(ncases, first + kBlockRows);
    for (int32_t j = 0; j < nvars; ++j) {
      const KeyField& field = fields[j];
      if (field.width == 0) continue;
      const int32_t* column = &At(cases, ncases, 0, j);
      for (int32_t i = first; i < last; ++i) {
        keys[i] |= static_cast<uint64_t>(static_cast<int64_t>(column[i]) - field.minimum) << field.shift;
      }
    }
  }
  SortKeys(keys, static_cast<size_t>(ncases), bits);
  for (int32_t first = 0; first < ncases; first += kBlockRows) {
    int32_t last = std::min(ncases, first + kBlockRows);
    for (int32_t j = 0; j < nvars; ++j) {
      const KeyField& field = fields[j];
      if (field.width == 0) continue;
      uint64_t mask = field.width >= 64 ? ~uint64_t{0} : (uint64_t{1} << field.width) - 1;
      int32_t* column = &At(cases, ncases, 0, j);
      for (int32_t i = first; i < last; ++i) {
        column[i] = static_cast<int32_t>(static_cast<int64_t>((keys[i] >> field.shift) & mask) + field.minimum);
      }
    }
  }
}

// Any values: the row numbers are ordered, then each column is rearranged by them.
void SortByRowIndex(int32_t ncases, int32_t nvars, int32_t* cases) {
  Scratch order(ncases), column(ncases);
  uint32_t* rows = order.As<uint32_t>();
  for (int32_t i = 0; i < ncases; ++i) rows[i] = static_cast<uint32_t>(i);
  std::sort(rows, rows + ncases, [&](uint32_t a, uint32_t b) {
    for (int32_t j = nvars - 1; j >= 0; --j) {
      int32_t x = At(cases, ncases, static_cast<int32_t>(a), j), y = At(cases, ncases, static_cast<int32_t>(b), j);
      if (x != y) return x < y;
    }
    return false;
  });
  int32_t* moved = column.As<int32_t>();
  for (int32_t j = 0; j < nvars; ++j) {
    int32_t* values = &At(cases, ncases, 0, j);
    for (int32_t i = 0; i < ncases; ++i) moved[i] = values[rows[i]];
    std::copy(moved, moved + ncases, values);
  }
}

void WritePatternRecord(const int32_t* cases, int32_t ncases, int32_t nvars, int32_t row, int32_t count,
                        const char* recordLayout) {
  textio::beginWrite(2, recordLayout, kRecordLayoutLength);
  textio::writeIntegers(cases + row, nvars, ncases);
  textio::writeInteger(count);
  textio::endWrite();
}

}  // namespace

void WriteConsoleLine(const char* text) {
  textio::beginWrite();
  textio::writeCharacter(text, static_cast<int>(std::strlen(text)));
  textio::endWrite();
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
  if (nvars <= 64) {
    KeyField fields[64];
    if (int bits = PlanPackedKeys(ncases, nvars, caseMatrix, fields); bits >= 0) {
      SortPacked(ncases, nvars, caseMatrix, fields, bits);
      return;
    }
  }
  SortByRowIndex(ncases, nvars, caseMatrix);
}

void WritePatterns(const int32_t& ncases, const int32_t& nvars, const int32_t* caseMatrix,
                   const char* recordLayout) {
  // One record per run of equal adjacent rows, written as soon as the run
  // ends. Where rows differ from the next is found a block of rows at a
  // time, one column after the other.
  constexpr int32_t kBlockRows = 4096;
  uint8_t differs[kBlockRows];
  int32_t count = 1;
  for (int32_t first = 0; first < ncases; first += kBlockRows) {
    int32_t last = std::min(ncases, first + kBlockRows);
    int32_t pairs = std::min(last, ncases - 1) - first;
    std::fill_n(differs, kBlockRows, uint8_t{0});
    for (int32_t j = 0; j < nvars; ++j) {
      const int32_t* column = caseMatrix + first + static_cast<size_t>(j) * static_cast<size_t>(ncases);
      for (int32_t i = 0; i < pairs; ++i) differs[i] |= static_cast<uint8_t>(column[i] != column[i + 1]);
    }
    for (int32_t i = first; i < last; ++i) {
      if (i - first < pairs && differs[i - first] == 0) {
        ++count;
        continue;
      }
      WritePatternRecord(caseMatrix, ncases, nvars, i, count, recordLayout);
      count = 1;
    }
  }
}
