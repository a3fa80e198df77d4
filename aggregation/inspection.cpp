// Reading a data file for its inspection: one read statement a record, by
// the reader's own rules; the numbers of values the records hold and the
// shape of cases they fit; the cases' patterns counted as a run counts
// them, and each variable's values.
#include "aggregation/inspection.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

#include "aggregation/pattern_table.h"
#include "textio/textio.h"

namespace {

constexpr int32_t kStaged = 2 * kLongestCycle;             // records read before the shape is settled
constexpr int32_t kCountedPatterns = 100000;               // patterns counted at most
constexpr int64_t kCountedValueBytes = int64_t{16} << 20;  // their values at most

// What the reading keeps besides the facts it gathers.
struct Reading {
  explicit Reading(Inspection& facts) : result(facts) {}

  Inspection& result;

  // The first records, kept one after the other until their numbers of
  // values settle the shape.
  Scratch staging{int64_t{kStaged} * kMostVariables * 4};
  int32_t staged = 0;
  int64_t stagedStarts[kStaged + 1] = {};  // where each record's values start
  int64_t stagedLengths[kStaged] = {};
  bool stagedSlash[kStaged] = {};
  bool anySlash = false;
  bool anyLeadingNull = false;
  int64_t plainLength = -1;   // the one number of values of the records without a slash; -2: several
  int64_t longestSlash = -1;  // values of the longest record ended by a slash

  // The settled shape: cases of `variables` values over `cycle` records.
  int32_t cycle = 0;
  int32_t cyclePosition = 0;  // the next record's place in its case
  int64_t variables = 0;
  bool broken = false;        // a record does not fit the shape, or no shape fits

  // The cases being counted, as rows, a block of them at a time. The
  // table's storage is touched only as patterns come.
  std::optional<PatternTable> table;
  Scratch rowStorage{kBlockValues * 4};
  int32_t blockRows = 0;  // 0: the cases are not counted
  int32_t rowsFilled = 0;
  int64_t rowOffset = 0;  // values of the row being filled so far
  bool overflow = false;  // the table is full: later rows are not counted by pattern
};

int32_t* StagedValues(Reading& reading, int32_t record) {
  return reinterpret_cast<int32_t*>(reading.staging.data) + reading.stagedStarts[record];
}

int32_t* Row(Reading& reading, int32_t row) {
  return reinterpret_cast<int32_t*>(reading.rowStorage.data) + static_cast<size_t>(row) * static_cast<size_t>(reading.variables);
}

bool Counting(const Reading& reading) { return reading.blockRows > 0 && !reading.broken; }

void Note(Occurrences& occurrences, int64_t count, int64_t line) {
  if (count == 0) return;
  if (occurrences.count == 0) occurrences.firstLine = line;
  occurrences.count += count;
}

// Errors in a value, after which the reading goes on with the next record.
bool InValue(int status) {
  switch (status) {
    case textio::IntegerOutOfRange:
    case textio::IntegerCharacter:
    case textio::BasedSecondHash:
    case textio::BasedBadBase:
    case textio::RepeatCountNotPositive:
    case textio::RepeatSecondStar:
    case textio::DelimitedForInteger:
      return true;
    default:
      return false;
  }
}

// Where the next record's values go, and how many of them are kept.
int32_t* Destination(Reading& reading, int& room) {
  if (Counting(reading)) {
    // The block's rows are 0 until read into: what a record leaves without a value stays 0.
    room = static_cast<int>(reading.variables - reading.rowOffset);
    return Row(reading, reading.rowsFilled) + reading.rowOffset;
  }
  bool staging = reading.cycle == 0 && !reading.broken && reading.staging.data != nullptr;
  room = staging ? kMostVariables : 0;
  return staging ? StagedValues(reading, reading.staged) : nullptr;
}

void TakeFacts(Reading& reading, const int32_t* row, int64_t cases) {
  for (int64_t j = 0; j < reading.variables; ++j) {
    VariableFacts& facts = reading.result.facts[j];
    int32_t value = row[j];
    facts.smallest = std::min(facts.smallest, value);
    facts.largest = std::max(facts.largest, value);
    uint32_t bit = static_cast<uint32_t>(value) + 99u;
    if (bit < 1099) {
      facts.seen[bit / 64] |= uint64_t{1} << (bit % 64);
    } else {
      facts.outside += cases;
    }
  }
}

// Counts the block's rows by pattern while the table has room; the values
// of the rows past that are taken one row at a time.
void CountBlock(Reading& reading) {
  int32_t counted = 0;
  while (!reading.overflow && counted < reading.rowsFilled) {
    reading.overflow = CountRow(*reading.table, Row(reading, counted)) < 0;
    counted += reading.overflow ? 0 : 1;
  }
  for (int32_t r = counted; r < reading.rowsFilled; ++r) TakeFacts(reading, Row(reading, r), 1);
  std::fill_n(Row(reading, 0), static_cast<int64_t>(reading.rowsFilled) * reading.variables, 0);
  reading.rowsFilled = 0;
}

// A record's values stand in the row: the row is complete at the end of its
// case, and the block is counted once all its rows are complete.
void EndRecordInRow(Reading& reading, int64_t values, bool slash) {
  reading.rowOffset = slash ? reading.variables : reading.rowOffset + values;
  if (reading.rowOffset < reading.variables) return;
  reading.rowOffset = 0;
  if (++reading.rowsFilled == reading.blockRows) CountBlock(reading);
}

// The fewest records a case that the staged records fit: one, when those
// without a slash all hold the same number of values and those with one no
// more; else a cycle of numbers of values that repeats, with no slash and no
// null value first. At the end of the file the last cycle must be complete.
// A cycle that fits the first kStaged records is the only one that can fit
// them all: two cycles that fit these fit a shorter one too.
int32_t SettledCycle(const Reading& reading, bool atEnd) {
  if (reading.plainLength >= 0 && reading.longestSlash <= reading.plainLength) return 1;
  if (reading.anySlash || reading.anyLeadingNull) return 0;
  for (int32_t k = 2; k <= reading.staged / 2; ++k) {
    if (atEnd && reading.staged % k != 0) continue;
    bool repeats = true;
    for (int32_t i = k; i < reading.staged && repeats; ++i) {
      repeats = reading.stagedLengths[i] == reading.stagedLengths[i - k];
    }
    if (repeats) return k;
  }
  return 0;
}

// Settles the shape on the staged records; when a run can take its cases,
// they are counted from here on, the staged ones first.
void Settle(Reading& reading, bool atEnd) {
  reading.cycle = SettledCycle(reading, atEnd);
  if (reading.cycle == 0) {
    reading.broken = true;
    return;
  }
  reading.variables = reading.cycle == 1 ? reading.plainLength : 0;
  for (int32_t i = 0; i < reading.cycle && reading.cycle > 1; ++i) reading.variables += reading.stagedLengths[i];
  reading.cyclePosition = reading.staged % reading.cycle;
  Inspection& result = reading.result;
  if (reading.variables > kMostVariables || reading.staging.data == nullptr || reading.rowStorage.data == nullptr) {
    return;
  }
  result.factsStorage.emplace(reading.variables * static_cast<int64_t>(sizeof(VariableFacts)));
  result.facts = reinterpret_cast<VariableFacts*>(result.factsStorage->data);
  if (result.facts == nullptr) return;
  const auto nvars = static_cast<int32_t>(reading.variables);
  reading.table.emplace(nvars, static_cast<int32_t>(std::min<int64_t>(kCountedPatterns, kCountedValueBytes / (4 * nvars))));
  if (reading.table->capacity == 0) return;
  reading.blockRows = static_cast<int32_t>(kBlockValues / nvars);
  for (int32_t j = 0; j < nvars; ++j) result.facts[j] = {INT32_MAX, INT32_MIN, 0, {}};
  for (int32_t i = 0; i < reading.staged; ++i) {
    int room = 0;
    int32_t* row = Destination(reading, room);
    std::copy_n(StagedValues(reading, i), std::min<int64_t>(reading.stagedLengths[i], room), row);
    EndRecordInRow(reading, reading.stagedLengths[i], reading.stagedSlash[i]);
  }
}

void Stage(Reading& reading, const textio::RecordShape& shape) {
  reading.stagedLengths[reading.staged] = shape.values;
  reading.stagedSlash[reading.staged] = shape.slash;
  reading.anySlash = reading.anySlash || shape.slash;
  reading.anyLeadingNull = reading.anyLeadingNull || shape.leadingNull;
  if (shape.slash) {
    reading.longestSlash = std::max(reading.longestSlash, shape.values);
  } else if (reading.plainLength == -1) {
    reading.plainLength = shape.values;
  } else if (reading.plainLength != shape.values) {
    reading.plainLength = -2;
  }
  reading.stagedStarts[reading.staged + 1] = reading.stagedStarts[reading.staged] + std::min<int64_t>(shape.values, kMostVariables);
  if (++reading.staged == kStaged) Settle(reading, false);
}

bool Fits(const Reading& reading, const textio::RecordShape& shape) {
  if (reading.cycle == 1) return shape.slash ? shape.values <= reading.variables : shape.values == reading.variables;
  return !shape.slash && !shape.leadingNull && shape.values == reading.stagedLengths[reading.cyclePosition];
}

void NoteLength(Inspection& result, const textio::RecordShape& shape) {
  for (int k = 0; k < result.lengthKinds; ++k) {
    if (result.lengths[k].values != shape.values) continue;
    Note(result.lengths[k].records, 1, shape.line);
    return;
  }
  if (result.lengthKinds == kListedLengths) {
    Note(result.otherLengths, 1, shape.line);
    return;
  }
  LengthCount& added = result.lengths[result.lengthKinds++];
  added.values = shape.values;
  Note(added.records, 1, shape.line);
}

// A record read without an error, its values at its Destination.
void Take(Reading& reading, const textio::RecordShape& shape) {
  Inspection& result = reading.result;
  ++result.records;
  if (shape.slash || shape.commaAtEnd || shape.nulls > 0 || shape.repeatForms > 0) {
    Note(result.slashes, shape.slash, shape.line);
    Note(result.commaEnds, shape.commaAtEnd, shape.line);
    Note(result.nulls, shape.nulls, shape.line);
    Note(result.repeatForms, shape.repeatForms, shape.line);
  }
  if (!shape.slash) NoteLength(result, shape);
  if (reading.broken) return;
  if (reading.cycle == 0) {
    Stage(reading, shape);
    return;
  }
  reading.broken = !Fits(reading, shape);
  if (++reading.cyclePosition == reading.cycle) reading.cyclePosition = 0;
  if (Counting(reading)) EndRecordInRow(reading, shape.values, shape.slash);
}

// A record with a value that cannot be read. Only the file's first record
// may fail and leave a shape: that of the records after it, a header's.
void Fail(Reading& reading, int status, const textio::RecordShape& shape) {
  Inspection& result = reading.result;
  if (result.failing.count == 0) {
    result.failure = status;
    result.failureColumn = shape.column;
    result.failureFirst = result.records == 0;
    std::strncpy(result.failureReport, textio::LastRunErrorReport(), kReportSize - 1);
  }
  Note(result.failing, 1, shape.line);
  if (result.failing.count > 1 || !result.failureFirst) reading.broken = true;
}

// The end of the file: the shape that every record fits, the patterns and
// the variables' values.
void Finish(Reading& reading) {
  Inspection& result = reading.result;
  if (reading.cycle == 0 && !reading.broken) Settle(reading, true);
  if (reading.broken || reading.cyclePosition != 0) return;
  result.recordsPerCase = reading.cycle;
  result.cases = result.records / reading.cycle;
  result.variables = reading.variables;
  if (!Counting(reading)) return;
  CountBlock(reading);
  const PatternTable& table = *reading.table;
  result.counted = true;
  result.patterns = table.patterns.keys;
  result.morePatterns = reading.overflow;
  for (int32_t p = 0; p < table.patterns.keys; ++p) {
    TakeFacts(reading, table.values + static_cast<size_t>(p) * static_cast<size_t>(table.nvars), table.counts[p]);
    result.largestCount = std::max(result.largestCount, table.counts[p]);
  }
}

}  // namespace

void InspectUnit(Inspection& inspection) {
  Reading reading(inspection);
  for (;;) {
    textio::RecordShape shape{};
    int room = 0;
    int32_t* into = Destination(reading, room);
    int status = textio::readRecord(1, into, room, shape);
    inspection.lines += shape.lines;
    if (status == 0) {
      Take(reading, shape);
    } else if (InValue(status) || status == textio::EndOfFile) {
      Fail(reading, status, shape);
    } else if (status != textio::kNoMoreRecords) {
      inspection.readFailure = status;
      return;
    }
    if (status == textio::kNoMoreRecords || status == textio::EndOfFile) break;
  }
  // A file that holds nothing: the report of its end says how it ends.
  if (inspection.records == 0 && inspection.failing.count == 0) {
    inspection.failure = textio::EndOfFile;
    std::strncpy(inspection.failureReport, textio::LastRunErrorReport(), kReportSize - 1);
  }
  inspection.blankLines = inspection.lines - inspection.records - inspection.failing.count;
  Finish(reading);
}

int32_t DistinctFitting(const VariableFacts& facts) {
  int32_t distinct = 0;
  for (uint64_t word : facts.seen) distinct += std::popcount(word);
  return distinct;
}

bool RunWouldSucceed(const Inspection& inspection) {
  // A run's case matrix holds at most 4 GiB less a byte.
  return inspection.failing.count == 0 && inspection.readFailure == 0 && inspection.recordsPerCase > 0 &&
         inspection.variables <= kMostVariables && inspection.cases * inspection.variables <= (int64_t{1} << 30) - 1;
}
