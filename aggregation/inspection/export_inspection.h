// A look at a delimited export before a run (aggregate --inspect): what each
// column holds, read as the delimited reading reads it; the columns that
// make a right pattern file and why the others are left out; the missing
// code; and the command that reads them, tried by reading the file so.
// Reading the file (export_inspection.cpp) gathers the facts and makes the
// choice; the report (export_report.cpp) tells them.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "aggregation/inspection/inspection.h"
#include "aggregation/reading/export_columns.h"
#include "aggregation/writing/pattern_record.h"

// Codes for missing answers, in the order they are preferred; after them any
// other value the pattern file shows, the largest first.
inline constexpr int32_t kPreferredCodes[] = {9, -9, 99, -99};

// Fields of one kind in a column: how many, and the first of them.
struct FieldsMet {
  int64_t count = 0;
  int64_t firstLine = 0;
  std::string firstText;  // as the file holds it, quotes taken off
};

// What one column holds in the records after the header.
struct ColumnFacts {
  int64_t values = 0;     // whole numbers, 4.0 among them
  FieldsMet missing;      // empty, NA, . or NaN
  int64_t empty = 0;      // of them, empty
  FieldsMet decimals;     // decimals that are not whole
  FieldsMet text;
  FieldsMet tooLarge;     // whole numbers outside the 32-bit range
  FieldsMet outside;      // whole numbers the pattern file's field cannot show
  FieldsMet absent;       // records too short to hold the column
  int32_t smallest = INT32_MAX;
  int32_t largest = INT32_MIN;
  uint64_t seen[(kFittingValues + 63) / 64] = {};  // the fitting values it takes: bit value - kSmallestFitting
  bool rising = true;     // every record holds one more than the record before
  int32_t last = 0;
  bool distinct = true;   // no whole number comes twice
  std::unordered_set<int32_t> outsideTaken;  // the values outside the field, while distinct
  int32_t DistinctFitting() const;  // fitting values taken
  bool Takes(int32_t value) const;  // a fitting value among them
};

// Why a column is not among the variables.
enum class LeftOut : uint8_t {
  Kept, Absent, Text, Decimals, TooLarge, NoValues, CountsUp, Distinct,
};

struct ExportInspection {
  // The reading.
  char delimiter = ',';
  bool header = false;  // line 1 holds names: the first record holds text where the second holds values
  bool numberedHeader = false;  // ... or numbers the columns 1, 2, ... (the free-form inspection's numberedHeader)
  RecordTexts names;  // the header's
  int64_t lines = 0;
  int64_t records = 0;  // records after the header
  int64_t firstRecordLine = 0;
  int32_t fieldsFirst = 0;  // fields of the first record after the header
  FieldsMet otherFields;    // records holding another number of fields
  int64_t openQuoteLine = 0;  // a quoted field not closed before the file ends starts there; 0: none
  std::vector<ColumnFacts> columns;

  // The choice.
  std::vector<LeftOut> why;      // one a column
  std::vector<int32_t> chosen;   // the kept columns, from 0
  bool missingCoded = false;     // a chosen column holds missing fields: --missing
  int32_t missingCode = 0;
  bool columnsOption = false;    // some column is left out: --columns

  // The command tried: its reading of the file, its patterns counted.
  bool tried = false;
  bool readAll = false;          // it read every record, each chosen field a value
  int64_t patterns = 0;
  bool morePatterns = false;     // more than `patterns`, the most counted
  int64_t largestCount = 0;      // cases of the commonest pattern, when every one was counted
};

// Whether the free-form inspection of a file found something an export
// holds that the delimited reading mends, in records of one case each.
bool LooksLikeAnExport(const Inspection& inspection);

// Inspects the regular file `name` as a delimited export, reading it twice:
// once for what its columns hold, once as the command chosen reads it.
// False when it cannot be read or is no export: a single field a record and
// no header row; or fields parted by blanks, as free-form values are, with
// no header row, no missing field and no column that looks like an ID; or
// no column holds whole numbers a run can take.
bool InspectExport(const char* name, ExportInspection& inspection);

// The first chosen column holding a value the pattern file's field cannot
// show, a run writing it as ***; -1 when there is none.
int32_t ColumnOutside(const ExportInspection& inspection);

// Whether the command's run reads every chosen value, writes every value in
// its field and warns of nothing.
bool ExportRunSucceeds(const ExportInspection& inspection);

// The options of the command that reads the chosen columns into the pattern
// file `outputName`, as words, before the data file's name.
std::vector<std::string> ExportCommandOptions(const ExportInspection& inspection, const char* outputName);

// The report on standard output; the command names `program` as it was run.
void WriteExportInspection(const char* program, const char* name, const ExportInspection& inspection);
