// A look at a data file before a run (aggregate --inspect): its records and
// their values, read by the program's own rules, and the answers a run on it
// needs. Reading it (inspection.cpp) gathers the facts; the report
// (inspection_report.cpp) tells them.
#pragma once

#include <cstdint>
#include <optional>

#include "aggregation/scratch.h"

inline constexpr int32_t kMostVariables = 9999;  // the pattern record's layout holds the count in 4 digits
inline constexpr int kListedLengths = 4;         // numbers of values per record told one by one
inline constexpr int32_t kLongestCycle = 16;     // records a case may run over and still be recognised
inline constexpr int kReportSize = 1024;

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
  int64_t outside;    // values above 999 or below -99, written as *** in the pattern file
  uint64_t seen[18];  // which of the values -99 to 999 occur: bit value + 99
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

  // Records holding a value that cannot be read, and the first such value:
  // its error number (or 6501 for a file with no record), where it starts,
  // and the report a run would give.
  Occurrences failing = {};
  int failure = 0;
  int64_t failureColumn = 0;  // 0: unknown
  bool failureFirst = false;  // the failing record is the file's first
  int readFailure = 0;        // the error that stopped the reading of the file itself
  char failureReport[kReportSize] = {};

  // The shape that every record read fits, if any: cases of `variables`
  // values, each over `recordsPerCase` records; 0 when none fits.
  int32_t recordsPerCase = 0;
  int64_t cases = 0;
  int64_t variables = 0;

  // Patterns and variables, counted when a shape fits and a run can take it.
  bool counted = false;
  int64_t patterns = 0;
  bool morePatterns = false;  // more than `patterns`, the most counted
  int64_t largestCount = 0;   // cases of the commonest pattern, when all were counted
  std::optional<Scratch> factsStorage;
  VariableFacts* facts = nullptr;  // one for each variable, when counted
};

// Reads unit 1, connected to the data file, to its end, one record at a time.
void InspectUnit(Inspection& inspection);

// The number of distinct values among those of one variable that fit the
// pattern file's field.
int32_t DistinctFitting(const VariableFacts& facts);

// Whether a run with the inspection's answers reads every value and ends
// with "Done.": a shape fits, nothing fails, and a run can hold the cases.
bool RunWouldSucceed(const Inspection& inspection);

// The report of an inspection of the file `name` on the console.
void WriteInspection(const char* name, const Inspection& inspection);

// The inspection of the named file as a report on the console; ends the run
// with status 0 when a run with the answers it gives ends with "Done.", and
// with status 1 otherwise, or when the file cannot be read (the reason on
// standard error, no file made).
[[noreturn]] void InspectDataFile(const char* name);
