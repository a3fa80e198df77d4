// A look at a data file before a run (aggregate --inspect): its records and
// their values, read by the program's own rules, and the answers a run on it
// needs. Reading it (inspection.cpp) gathers the facts; the report
// (inspection_report.cpp) tells them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "aggregation/core/scratch.h"
#include "aggregation/writing/pattern_record.h"
#include "textio/textio.h"

// Cases enough to take a variable that takes a different value in each, or
// counts up by one, for an ID rather than answers.
inline constexpr int64_t kIdCases = 20;
inline constexpr int kListedLengths = 4;         // numbers of values per record told one by one
inline constexpr int32_t kLongestCycle = 16;     // records a case may run over and still be recognised
inline constexpr int32_t kCountedPatterns = 100000;               // patterns counted at most
inline constexpr int64_t kCountedValueBytes = int64_t{16} << 20;  // their values at most

// Records that have something in common, and the first of them.
struct Occurrences {
  int64_t count;
  int64_t firstLine;
};

// Records holding one number of values.
struct LengthCount {
  int64_t values;
  Occurrences records;
};

// One variable's values, as the case matrix of a run holds them.
struct VariableFacts {
  int32_t smallest;
  int32_t largest;
  int64_t outside;    // values not fitting the pattern file's field, written as ***
  uint64_t seen[(kFittingValues + 63) / 64];  // which of the fitting values occur: bit value - kSmallestFitting
  bool rising;        // each case's value is one more than the case's before
  int32_t last;       // the value of the last case taken
};

// A record holding a value the program cannot read: where, the number of
// the error, and the report a run gives for it.
struct FailedRecord {
  int64_t line;
  int64_t column;       // where the value starts; 0 when unknown
  int64_t values;       // the values read before it
  int64_t shapeRecord;  // its place among the records that make up the cases, from 0
  int status;
  bool onItsLine;       // the failure lies on the line where the failing value starts
  textio::RunErrorReport report;
};

struct Inspection {
  int64_t lines = 0;
  int64_t blankLines = 0;
  // Records read without an error: holding values, or a slash.
  int64_t records = 0;
  LengthCount lengths[kListedLengths] = {};  // records without a slash, by their number of values
  int lengthKinds = 0;
  Occurrences otherLengths = {};             // records of numbers not listed
  Occurrences slashes = {};
  Occurrences commaEnds = {};
  Occurrences nulls = {};                    // null values, counted one by one
  Occurrences repeatForms = {};
  Occurrences afterSlash = {};               // records with values after a slash, which a run skips
  Occurrences loneReturns = {};              // records ended by a lone CR, the rest of the line skipped
  Occurrences tabGaps = {};                  // records with an empty field between tabs
  Occurrences semicolons = {};               // records whose unreadable value holds a semicolon
  bool decimalCommas = false;                // ... read after a value of its record: 1,5;2,0
  Occurrences quotedFirst = {};              // records whose first value is quoted

  // Records holding a value that cannot be read. When a shape fits, those
  // whose unreadable values follow their case's last one are `skipped`, as a
  // run skips them unread; the rest are `failing`, and `failure` is the
  // first of them that a run meets, with its report as that run gives it.
  // With no shape, every such record is failing.
  Occurrences failing = {};
  Occurrences skipped = {};
  FailedRecord failure = {};
  bool headerRow = false;  // the first record fails and later ones read: a header
  int readFailure = 0;     // the error that stopped the reading of the file itself

  // The shape that every record read fits, if any: cases of `variables`
  // values, each over `recordsPerCase` records; 0 when none fits.
  int32_t recordsPerCase = 0;
  int64_t cases = 0;
  int64_t variables = 0;

  // Patterns and variables, counted when a shape fits and a run can take it.
  bool counted = false;
  int64_t patterns = 0;
  bool morePatterns = false;  // more than `patterns`, the most counted
  int64_t largestCount = 0;   // cases of the commonest pattern counted
  int64_t uncountedCases = 0; // cases of patterns beyond those counted: none of them has more
  std::optional<Scratch> factsStorage;
  VariableFacts* facts = nullptr;  // one for each variable, when counted
  // The first value that does not fit the pattern file's field, as a run reads it.
  int64_t outsideLine = 0;  // 0: none
  int64_t outsideVariable = 0;
  int32_t outsideValue = 0;
  // The first variable that takes a different value in every case, or counts
  // up by one from case to case, as an ID or a row number does; 0: none.
  int64_t idVariable = 0;
  bool idRising = false;
  // The first case holds 1, 2, ..., up to the number of variables (three or
  // more), and no later case a value as large: a header row numbering the
  // columns, which a run takes for a case.
  bool numberedHeader = false;
  // Every case is one value of three digits or more: answers run together,
  // which a run takes for one answer each.
  bool runTogether = false;
};

// Reads unit 1, connected to the data file, to its end, one record at a time.
void InspectUnit(Inspection& inspection);

// The number of distinct values among those of one variable that fit the
// pattern file's field.
int32_t DistinctFitting(const VariableFacts& facts);

// Whether a run with the inspection's answers reads every case and ends with
// "Done.": a shape fits, no value a run reads fails, no line holds records
// after a lone CR, and a run can hold the cases.
bool AnswersGiven(const Inspection& inspection);
// Whether, besides, that run reads every value in the file, writes every
// value in its field and warns of nothing, and nothing in the file looks
// like what a run would take wrongly (an ID column, a header row numbering
// the columns, answers run together): the inspection's exit status is 0
// only then.
bool RunWouldSucceed(const Inspection& inspection);

// The report of an inspection of the file `name` on standard output; a
// command it gives names `program`, the program as it was run.
void WriteInspection(const char* program, const char* name, const Inspection& inspection);

// Why a run with the inspection's answers of the file `name` would not do
// what RunWouldSucceed asks, and what helps, in a few words, into
// text[0..size).
void InspectionRefusal(const char* name, const Inspection& inspection, char* text, size_t size);
