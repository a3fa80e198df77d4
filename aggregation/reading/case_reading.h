// Reading the cases of the data file: counted by pattern while the patterns
// repeat, into the case matrix once they stop repeating.
#pragma once

#include <cstdint>

#include "aggregation/reading/pattern_table.h"
#include "textio/textio.h"

// Reads `ncases` cases of `nvars` values from the data file's unit, each as
// a read statement of its own takes it (a record whose text was met before
// gives the case it gave then, unread). The cases are counted in `table`
// while it has room for their patterns; when every case was counted there,
// the case matrix is left untouched. Otherwise the cases counted so far are
// written into the matrix and the rest follow them. The reading stops
// early where the unit's delimited records end (textio::RecordsEnded).
// With `toTheEnd`, ncases is only a bound, and the records are read to
// their end: the matrix then holds the cases read in columns of as many
// rows as there are cases.
struct CasesRead {
  int32_t count;  // the cases read
  bool counted;   // every one counted in the table, the matrix untouched
};
CasesRead ReadCases(int32_t ncases, int32_t nvars, textio::ArrayDescriptor& caseMatrix, PatternTable& table,
                    bool toTheEnd = false);

// A second thread reads the later part of a data file where the cases still
// to be read should take this many bytes or more.
inline constexpr int64_t kLaterPartBytes = int64_t{4} << 20;
// Where that thread begins, after `read` cases took the bytes before
// `offset`: half way through the bytes the other ncases - read should take,
// judged by those; -1 when they should take fewer than kLaterPartBytes. It
// takes the first record that starts after that offset.
int64_t LaterPartStart(int64_t offset, int32_t read, int32_t ncases);
// The same, for `bytes` known to be left after `offset`.
int64_t HalfWayThrough(int64_t offset, int64_t bytes);
