// Reading the cases of the data file: counted by pattern while the patterns
// repeat; once they stop repeating, packed into keys while their values are
// narrow, else into the case matrix.
#pragma once

#include <cstdint>

#include "aggregation/core/packed_cases.h"
#include "aggregation/reading/pattern_table.h"
#include "textio/textio.h"

// How the cases are held once read.
enum class CasesHeld : uint8_t { Counted, Packed, InMatrix };

// Reads `ncases` cases of `nvars` values from the data file's unit, each as
// a read statement of its own takes it (a record whose text was met before
// gives the case it gave then, unread). The cases are counted in `table`
// while it has room for their patterns: Counted, the case matrix left
// untouched. Otherwise the cases counted so far, and the rest after them,
// go into `packed` while a packing that holds every value read takes less
// room than the rows of the matrix, widened as wider values come (Packed,
// the matrix left untouched); else into the matrix (InMatrix). The reading
// stops early where the unit's delimited records end (textio::RecordsEnded).
// With `toTheEnd`, ncases is only a bound, and the records are read to
// their end: the cases read are then held as just that many, keys or rows
// of the matrix in columns of as many rows.
struct CasesRead {
  CasesHeld held;
  int32_t count;  // the cases read
};
CasesRead ReadCases(int32_t ncases, int32_t nvars, textio::ArrayDescriptor& caseMatrix, PatternTable& table,
                    PackedCases& packed, bool toTheEnd = false);

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
