// A delimited export read by the script form (--header, --columns,
// --missing, --delimiter): its options, the columns they choose, and the
// refusals of what its records hold, each naming the option that helps.
#pragma once

#include <cstdint>
#include <vector>

#include "aggregation/reading/export_columns.h"

struct ExportOptions {
  bool header = false;
  const char* columns = nullptr;  // the --columns list; null: every field is a variable
  bool missingGiven = false;
  int32_t missingCode = 0;
  char delimiter = 0;             // 0: found from the first records
  bool Given() const { return header || columns != nullptr || missingGiven || delimiter != 0; }
};

// The values of --missing and --delimiter, checked. Each returns 0, or the
// status of its refusal.
int TakeMissingCode(const char* text, ExportOptions& options);
int TakeDelimiter(const char* text, ExportOptions& options);

// The reading of an export whose data file is connected to the data unit.
struct ExportReading {
  ExportOptions options;
  const char* dataName = nullptr;
  char delimiter = ',';
  RecordTexts names;            // the header's, with --header
  int32_t fields = 0;           // the columns: the header's, or the first record's
  std::vector<int32_t> chosen;  // the variables' columns, from 0
  int32_t casesGiven = 0;       // --cases; 0 when not given
};

// Reads the header row, if any, chooses the columns and sets the unit to
// read them. `nvars` comes in as --variables (0 when not given) and goes out
// as the number of columns chosen; `ncases` goes out as --cases, or, with
// `toTheEnd`, as a bound of the cases the rest of the file can hold.
// Returns 0, or the status of its refusal.
int PrepareExportReading(ExportReading& reading, int32_t& ncases, int32_t& nvars, bool& toTheEnd);

// The refusal of a reading that stopped before its cases, having read
// `casesRead`: a field the cases cannot take, fewer records than --cases,
// or more than a run can hold. Returns its status.
int RefuseStoppedReading(const ExportReading& reading, int32_t casesRead);
