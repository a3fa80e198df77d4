// Reading a data file for its inspection: one read statement a record, by
// the reader's own rules; the numbers of values the records hold and the
// shape of cases they fit; the cases' patterns counted as a run counts
// them, and each variable's values.
#include "aggregation/inspection/inspection.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <optional>

#include "aggregation/core/run_units.h"
#include "aggregation/reading/pattern_table.h"
#include "textio/textio.h"

namespace {

constexpr int32_t kStaged = 2 * kLongestCycle;  // records read before the shape is settled

// What the reading keeps besides the facts it gathers.
struct Reading {
  explicit Reading(Inspection& facts) : result(facts) {}

  Inspection& result;

  // The first records, kept one after the other until their numbers of
  // values settle the shape. A record that fails holds at least its values
  // read before the failure: it fits wherever a case takes as many or more.
  Scratch staging{int64_t{kStaged} * kMostVariables * 4};
  int32_t staged = 0;
  int64_t stagedStarts[kStaged + 1] = {};  // where each record's values start
  int64_t stagedLengths[kStaged] = {};
  bool stagedSlash[kStaged] = {};
  int32_t stagedFailure[kStaged] = {};     // its place in `failures`, or -1
  FailedRecord failures[kStaged] = {};     // the staged records that fail
  int32_t failureCount = 0;
  bool anySlash = false;
  bool anyLeadingNull = false;
  int64_t plainLength = -1;   // the one number of values of the records without a slash; -2: several
  int64_t longestSlash = -1;  // values of the longest record ended by a slash

  // The settled shape: cases of `variables` values over `cycle` records, of
  // cycleLengths values each.
  int32_t cycle = 0;
  int64_t cycleLengths[kLongestCycle] = {};
  int32_t cyclePosition = 0;  // the next record's place in its case
  int64_t shapeRecords = 0;   // records that make up the cases so far
  int64_t variables = 0;
  bool broken = false;        // a record does not fit the shape, or no shape fits
  bool runFails = false;      // a run fails at a value of a record in the shape

  // Every record that fails, with no shape to tell which a run skips.
  Occurrences allFailing = {};
  FailedRecord firstFailure = {};
  std::optional<FailedRecord> header;  // the file's first record, when it fails before any value

  // The first value that does not fit the pattern file's field: its record
  // among those that make up the cases, and its place in that record.
  int64_t outsideRecord = 0;
  int64_t outsidePlace = 0;

  // The cases being counted, as rows, a block of them at a time. The
  // table's storage is touched only as patterns come.
  std::optional<PatternTable> table;
  Scratch rowStorage{kBlockValues * 4};
  int32_t blockRows = 0;  // 0: the cases are not counted
  int32_t rowsFilled = 0;
  int64_t rowOffset = 0;  // values of the row being filled so far
  bool overflow = false;  // the table is full: later rows are counted only by the patterns it holds
  int32_t uncountedLargest = INT32_MIN;  // the largest value of the rows not counted by pattern
  int64_t rising = 0;     // variables whose values still count up by one
  int64_t casesFollowed = 0;  // cases looked at for them
};

int32_t* StagedValues(Reading& reading, int32_t record) {
  return reinterpret_cast<int32_t*>(reading.staging.data) + reading.stagedStarts[record];
}

int32_t* Row(Reading& reading, int32_t row) {
  return reinterpret_cast<int32_t*>(reading.rowStorage.data) + static_cast<size_t>(row) * static_cast<size_t>(reading.variables);
}

bool Counting(const Reading& reading) { return reading.blockRows > 0 && !reading.broken && !reading.runFails; }

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

// Notes the first value of a record that the pattern file's field cannot show.
void LookForOutside(Reading& reading, const int32_t* values, int64_t count, int64_t line) {
  if (reading.result.outsideLine != 0 || values == nullptr) return;
  for (int64_t k = 0; k < count; ++k) {
    if (FitsField(values[k])) continue;
    reading.result.outsideLine = line;
    reading.result.outsideValue = values[k];
    reading.outsideRecord = reading.cycle == 0 ? reading.staged : reading.shapeRecords;
    reading.outsidePlace = k;
    return;
  }
}

void TakeFacts(Reading& reading, const int32_t* row, int64_t cases) {
  for (int64_t j = 0; j < reading.variables; ++j) {
    VariableFacts& facts = reading.result.facts[j];
    int32_t value = row[j];
    facts.smallest = std::min(facts.smallest, value);
    facts.largest = std::max(facts.largest, value);
    if (FitsField(value)) {
      const int32_t bit = value - kSmallestFitting;
      facts.seen[bit / 64] |= uint64_t{1} << (bit % 64);
    } else {
      facts.outside += cases;
    }
  }
}

// Follows, case by case, the variables whose value is one more in each case
// than in the case before, as a row number's is. Most variables stop at
// once, and then the rows are no longer looked at.
void FollowRising(Reading& reading, const int32_t* row) {
  VariableFacts* facts = reading.result.facts;
  bool first = reading.casesFollowed++ == 0;
  for (int64_t j = 0; j < reading.variables; ++j) {
    bool rising = first || (facts[j].rising && row[j] == static_cast<int32_t>(static_cast<uint32_t>(facts[j].last) + 1));
    reading.rising -= facts[j].rising && !rising;
    facts[j].rising = rising;
    facts[j].last = row[j];
  }
}

// Counts the block's rows by pattern while the table has room, and once it
// is full those of the patterns it holds; the values of the others are
// taken one row at a time, and the rows counted apart.
void CountBlock(Reading& reading) {
  for (int32_t r = 0; r < reading.rowsFilled; ++r) {
    const int32_t* row = Row(reading, r);
    if (!reading.overflow && CountRow(*reading.table, row) >= 0) continue;
    reading.overflow = true;
    if (CountKnownRow(*reading.table, row) >= 0) continue;
    TakeFacts(reading, row, 1);
    reading.uncountedLargest = std::max(reading.uncountedLargest, *std::max_element(row, row + reading.variables));
    ++reading.result.uncountedCases;
  }
  std::fill_n(Row(reading, 0), static_cast<int64_t>(reading.rowsFilled) * reading.variables, 0);
  reading.rowsFilled = 0;
}

// A record's values stand in the row: the row is complete at the end of its
// case, and the block is counted once all its rows are complete.
void EndRecordInRow(Reading& reading, int64_t values, bool slash) {
  reading.rowOffset = slash ? reading.variables : reading.rowOffset + values;
  if (reading.rowOffset < reading.variables) return;
  reading.rowOffset = 0;
  if (reading.rising > 0) FollowRising(reading, Row(reading, reading.rowsFilled));
  if (++reading.rowsFilled == reading.blockRows) CountBlock(reading);
}

// A failing record at `place` in its case, of `expected` values: a run that
// has read its case's last value before the failing one skips it with the
// rest of the line, when the failure lies on that line; otherwise the run
// fails there, in the case it reads.
void Classify(Reading& reading, FailedRecord& failed, int32_t place) {
  Inspection& result = reading.result;
  if (place == reading.cycle - 1 && failed.values == reading.cycleLengths[place] && failed.onItsLine) {
    Note(result.skipped, 1, failed.line);
    return;
  }
  reading.runFails = true;
  if (result.failing.count == 0) result.failure = failed;
  Note(result.failing, 1, failed.line);
}

// Whether the staged records that fail, at places p, p + k, ..., hold no
// more values before their failure than `length`.
bool FailuresFit(const Reading& reading, int32_t p, int32_t k, int64_t length) {
  for (int32_t i = p; i < reading.staged; i += k) {
    if (reading.stagedFailure[i] >= 0 && reading.stagedLengths[i] > length) return false;
  }
  return true;
}

// Whether the staged records at places p, p + k, ... that read hold one
// number of values, those that fail no more; that number is the place's length.
bool PlaceFits(const Reading& reading, int32_t p, int32_t k, int64_t& length) {
  length = -1;
  for (int32_t i = p; i < reading.staged; i += k) {
    if (reading.stagedFailure[i] >= 0) continue;
    if (length >= 0 && reading.stagedLengths[i] != length) return false;
    length = reading.stagedLengths[i];
  }
  return length >= 0 && FailuresFit(reading, p, k, length);
}

// The fewest records a case that the staged records fit: one, when those
// without a slash all hold the same number of values and those with one no
// more; else a cycle of numbers of values that repeats, with no slash and no
// null value first. At the end of the file the last cycle must be complete.
// A cycle that fits the first kStaged records is the only one that can fit
// them all: two cycles that fit these fit a shorter one too.
int32_t SettledCycle(Reading& reading, bool atEnd) {
  if (reading.plainLength >= 0 && reading.longestSlash <= reading.plainLength &&
      FailuresFit(reading, 0, 1, reading.plainLength)) {
    reading.cycleLengths[0] = reading.plainLength;
    return 1;
  }
  if (reading.anySlash || reading.anyLeadingNull) return 0;
  for (int32_t k = 2; k <= reading.staged / 2; ++k) {
    if (atEnd && reading.staged % k != 0) continue;
    bool fits = true;
    for (int32_t p = 0; p < k && fits; ++p) fits = PlaceFits(reading, p, k, reading.cycleLengths[p]);
    if (fits) return k;
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
  reading.variables = 0;
  for (int32_t p = 0; p < reading.cycle; ++p) reading.variables += reading.cycleLengths[p];
  reading.cyclePosition = reading.staged % reading.cycle;
  reading.shapeRecords = reading.staged;
  for (int32_t i = 0; i < reading.staged; ++i) {
    if (reading.stagedFailure[i] >= 0) Classify(reading, reading.failures[reading.stagedFailure[i]], i % reading.cycle);
  }
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
  reading.rising = nvars;
  for (int32_t j = 0; j < nvars; ++j) result.facts[j] = {INT32_MAX, INT32_MIN, 0, {}, true, 0};
  for (int32_t i = 0; i < reading.staged && Counting(reading); ++i) {
    int room = 0;
    int32_t* row = Destination(reading, room);
    std::copy_n(StagedValues(reading, i), std::min<int64_t>(reading.stagedLengths[i], room), row);
    EndRecordInRow(reading, reading.stagedLengths[i], reading.stagedSlash[i]);
  }
}

// A record for the shape to settle on; `failed` when it holds a value that
// cannot be read.
void Stage(Reading& reading, const textio::RecordShape& shape, const FailedRecord* failed) {
  reading.stagedLengths[reading.staged] = shape.values;
  reading.stagedSlash[reading.staged] = shape.slash;
  reading.stagedFailure[reading.staged] = failed != nullptr ? reading.failureCount : -1;
  if (failed != nullptr) {
    reading.failures[reading.failureCount++] = *failed;
  } else if (shape.slash) {
    reading.anySlash = true;
    reading.longestSlash = std::max(reading.longestSlash, shape.values);
  } else if (reading.plainLength == -1) {
    reading.plainLength = shape.values;
  } else if (reading.plainLength != shape.values) {
    reading.plainLength = -2;
  }
  reading.anyLeadingNull = reading.anyLeadingNull || shape.leadingNull;
  reading.stagedStarts[reading.staged + 1] = reading.stagedStarts[reading.staged] + std::min<int64_t>(shape.values, kMostVariables);
  if (++reading.staged == kStaged) Settle(reading, false);
}

bool Fits(const Reading& reading, const textio::RecordShape& shape, const FailedRecord* failed) {
  int64_t expected = reading.cycleLengths[reading.cyclePosition];
  if (failed != nullptr) return shape.values <= expected;
  if (reading.cycle == 1) return shape.slash ? shape.values <= expected : shape.values == expected;
  return !shape.slash && !shape.leadingNull && shape.values == expected;
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

// A record whose values stand at its Destination takes its place in the
// shape; `failed` when a value after them cannot be read.
void Place(Reading& reading, const textio::RecordShape& shape, FailedRecord* failed) {
  if (reading.broken) return;
  if (reading.cycle == 0) {
    if (failed != nullptr) failed->shapeRecord = reading.staged;
    Stage(reading, shape, failed);
    return;
  }
  if (!Fits(reading, shape, failed)) {
    reading.broken = true;
    return;
  }
  if (failed != nullptr) {
    failed->shapeRecord = reading.shapeRecords;
    Classify(reading, *failed, reading.cyclePosition);
  }
  if (Counting(reading)) EndRecordInRow(reading, shape.values, shape.slash);
  if (++reading.cyclePosition == reading.cycle) reading.cyclePosition = 0;
  ++reading.shapeRecords;
}

// A record read without an error.
void Take(Reading& reading, const textio::RecordShape& shape) {
  Inspection& result = reading.result;
  ++result.records;
  if (shape.slash || shape.commaAtEnd || shape.nulls > 0 || shape.repeatForms > 0 || shape.skipped) {
    Note(result.slashes, shape.slash, shape.line);
    Note(result.commaEnds, shape.commaAtEnd, shape.line);
    Note(result.nulls, shape.nulls, shape.line);
    Note(result.repeatForms, shape.repeatForms, shape.line);
    Note(shape.slash ? result.afterSlash : result.loneReturns, shape.skipped, shape.line);
  }
  Note(result.tabGaps, shape.tabGap, shape.line);
  if (!shape.slash) NoteLength(result, shape);
  Place(reading, shape, nullptr);
}

// Whether the value that a run-time error report names holds `c`.
bool ValueHolds(const textio::RunErrorReport& report, char c) {
  return std::memchr(report.value, c, static_cast<size_t>(report.valueLength)) != nullptr;
}

// A record with a value that cannot be read. The file's first record, when
// it fails before any value, takes no place in the shape: it is the header
// row of the records after it, if they read.
void Fail(Reading& reading, int status, const textio::RecordShape& shape) {
  Inspection& result = reading.result;
  FailedRecord failed = {shape.line, shape.column, shape.values, 0, status, InValue(status) && !shape.valueRunsOn,
                               textio::LastRunError()};
  if (reading.allFailing.count == 0) reading.firstFailure = failed;
  Note(reading.allFailing, 1, shape.line);
  if (ValueHolds(failed.report, ';')) {
    Note(result.semicolons, 1, shape.line);
    result.decimalCommas = result.decimalCommas || shape.values > 0;
  }
  Note(result.quotedFirst, status == textio::DelimitedForInteger && shape.values == 0, shape.line);
  if (result.records == 0 && reading.allFailing.count == 1 && shape.values == shape.nulls && !shape.endless) {
    reading.header = failed;
    return;
  }
  Place(reading, shape, &failed);
}

// Whether the first case holds 1, 2, ..., nvars (three or more), and no
// later case of enough to tell (as many as tell an ID) a value as large as
// nvars.
bool FirstCaseNumbersColumns(const Reading& reading) {
  const PatternTable& table = *reading.table;
  const int32_t nvars = table.nvars;
  if (nvars < 3 || reading.result.cases <= kIdCases || reading.cycle != 1 || reading.staged == 0 ||
      reading.stagedFailure[0] >= 0 ||
      reading.stagedSlash[0] || reading.stagedLengths[0] != nvars) {
    return false;
  }
  const int32_t* first = reinterpret_cast<const int32_t*>(reading.staging.data);
  for (int32_t j = 0; j < nvars; ++j) {
    if (first[j] != j + 1) return false;
  }
  const auto bytes = static_cast<size_t>(nvars) * 4;
  const int32_t own = FindKey(table.patterns, first, bytes, HashBytes(first, bytes));
  int32_t largest = reading.uncountedLargest;
  for (int32_t p = 0; p < table.patterns.keys; ++p) {
    if (p == own && table.counts[p] == 1) continue;
    const int32_t* values = table.values + static_cast<size_t>(p) * static_cast<size_t>(nvars);
    largest = std::max(largest, *std::max_element(values, values + nvars));
  }
  return largest < nvars;
}

// The variables' values, the patterns, the variable that looks like an ID,
// and cases that look like a header row or answers run together.
void FinishCounting(Reading& reading) {
  Inspection& result = reading.result;
  CountBlock(reading);
  const PatternTable& table = *reading.table;
  result.counted = true;
  result.patterns = table.patterns.keys;
  result.morePatterns = reading.overflow;
  for (int32_t p = 0; p < table.patterns.keys; ++p) {
    TakeFacts(reading, table.values + static_cast<size_t>(p) * static_cast<size_t>(table.nvars), table.counts[p]);
    result.largestCount = std::max(result.largestCount, table.counts[p]);
  }
  for (int64_t j = 0; j < result.variables && result.idVariable == 0 && result.cases >= kIdCases; ++j) {
    const VariableFacts& facts = result.facts[j];
    if (facts.rising || (facts.outside == 0 && DistinctFitting(facts) == result.cases)) {
      result.idVariable = j + 1;
      result.idRising = facts.rising;
    }
  }
  result.numberedHeader = FirstCaseNumbersColumns(reading);
  result.runTogether = result.variables == 1 && result.cases >= 2 && result.facts[0].smallest >= 100;
}

// The end of the file: the shape that every record fits, the records that a
// run with it fails at or skips, the patterns and the variables' values.
void Finish(Reading& reading) {
  Inspection& result = reading.result;
  if (reading.cycle == 0 && !reading.broken) Settle(reading, true);
  result.headerRow = reading.header.has_value() && (result.records > 0 || reading.allFailing.count == result.quotedFirst.count + 1);
  // Records that differ in length where tab-separated fields are empty make
  // no cases over several records, though their lengths may repeat.
  reading.broken = reading.broken || (reading.cycle > 1 && result.tabGaps.count > 0);
  if (reading.broken || reading.cyclePosition != 0) {
    result.failing = reading.allFailing;
    result.skipped = {};
    result.failure = reading.firstFailure;
    return;
  }
  // A run reading cases over several records numbers its read statements by case.
  if (result.failing.count > 0) result.failure.report.caseNumber = result.failure.shapeRecord / reading.cycle + 1;
  if (reading.header.has_value()) {
    // A run fails at the header row, the first record, before anything else.
    result.failure = *reading.header;
    Note(result.failing, 1, reading.header->line);
    result.failing.firstLine = reading.header->line;
  }
  result.recordsPerCase = reading.cycle;
  result.variables = reading.variables;
  result.cases = reading.shapeRecords / reading.cycle;
  // What a run reads of lines cut by lone CRs is not what the file holds.
  if (Counting(reading) && result.loneReturns.count == 0) FinishCounting(reading);
  if (result.outsideLine != 0) {
    int64_t before = 0;
    for (int64_t p = 0; p < reading.outsideRecord % reading.cycle; ++p) before += reading.cycleLengths[p];
    result.outsideVariable = before + reading.outsidePlace + 1;
  }
}

}  // namespace

void InspectUnit(Inspection& inspection) {
  Reading reading(inspection);
  int64_t runOnLines = 0;  // lines a failing value runs on to, past its record's first
  for (;;) {
    textio::RecordShape shape{};
    int room = 0;
    int32_t* into = Destination(reading, room);
    int status = textio::readRecord(kDataUnit, into, room, shape);
    inspection.lines += shape.lines;
    if (shape.valueRunsOn) runOnLines += inspection.lines - shape.line;
    if (status == 0 || InValue(status) || status == textio::EndOfFile) {
      LookForOutside(reading, into, std::min<int64_t>(shape.values, room), shape.line);
    }
    if (status == 0) {
      Take(reading, shape);
    } else if (InValue(status) || status == textio::EndOfFile) {
      Fail(reading, status, shape);
    } else if (status != textio::kNoMoreRecords) {
      inspection.readFailure = status;
      return;
    }
    if (status == textio::kNoMoreRecords || status == textio::EndOfFile || shape.endless) break;
  }
  inspection.blankLines = inspection.lines - inspection.records - reading.allFailing.count - runOnLines;
  Finish(reading);
  // A file that holds nothing: the report of its end says how it ends.
  if (inspection.records == 0 && reading.allFailing.count == 0) {
    inspection.failure.status = textio::EndOfFile;
    inspection.failure.report = textio::LastRunError();
  }
}

int32_t DistinctFitting(const VariableFacts& facts) {
  int32_t distinct = 0;
  for (uint64_t word : facts.seen) distinct += std::popcount(word);
  return distinct;
}

bool AnswersGiven(const Inspection& inspection) {
  // A run's case matrix holds at most 4 GiB less a byte.
  return inspection.failing.count == 0 && inspection.readFailure == 0 && inspection.loneReturns.count == 0 &&
         inspection.recordsPerCase > 0 && inspection.variables <= kMostVariables &&
         inspection.cases * inspection.variables <= (int64_t{1} << 30) - 1;
}

bool RunWouldSucceed(const Inspection& inspection) {
  return AnswersGiven(inspection) && inspection.skipped.count == 0 && inspection.afterSlash.count == 0 &&
         inspection.outsideLine == 0 && FitsCount(inspection.largestCount) && FitsCount(inspection.uncountedCases) &&
         inspection.nulls.count == 0 && inspection.idVariable == 0 && !inspection.numberedHeader &&
         !inspection.runTogether;
}
