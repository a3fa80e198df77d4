// A delimited export in the script form: the options checked, the header
// read and the columns chosen before any case is read, and each refusal of
// what the records hold, naming the column, the line, the value and the
// option that helps.
#include "aggregation/run/export_run.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <string>

#include "aggregation/core/run_units.h"
#include "aggregation/run/refusal.h"
#include "aggregation/writing/pattern_record.h"

namespace {

// " after its header", where there is one.
const char* AfterHeader(const ExportReading& reading) { return reading.options.header ? " after its header" : ""; }

int RefuseColumnList(const ExportReading& reading, const ListReading& list) {
  const char* item = list.item.c_str();
  switch (list.fault) {
    case ListFault::Empty: return Refuse("--columns %s holds an empty item", reading.options.columns);
    case ListFault::UnknownName:
      return Refuse("--columns: no column of %s is named %s (aggregate --inspect %s names them)", reading.dataName,
                    item, reading.dataName);
    case ListFault::NotAPosition:
      return Refuse("--columns: %s is no column position, and without --header the columns have no names", item);
    case ListFault::PastLastField:
      return Refuse("--columns: %s names a column past the last of the %" PRId32 " that %s holds", item,
                    reading.fields, reading.dataName);
    case ListFault::Backwards: return Refuse("--columns: the range %s runs backwards", item);
    case ListFault::Ambiguous: return Refuse("--columns: %s reads as a range in more than one way: give positions", item);
    case ListFault::Twice: return Refuse("--columns: %s is chosen twice", item);
    case ListFault::None: break;
  }
  return 0;
}

// The columns: those --columns lists, else every field.
int ChooseColumns(ExportReading& reading) {
  const RecordTexts* names = reading.options.header ? &reading.names : nullptr;
  if (reading.options.columns == nullptr) {
    reading.chosen.resize(static_cast<size_t>(reading.fields));
    for (int32_t c = 0; c < reading.fields; ++c) reading.chosen[static_cast<size_t>(c)] = c;
    return 0;
  }
  ListReading list = ReadColumnList(reading.options.columns, names, reading.fields);
  if (list.fault != ListFault::None) return RefuseColumnList(reading, list);
  reading.chosen = std::move(list.chosen);
  return 0;
}

// The header row, read, and the columns it names; without one, those of the
// first record are the columns.
int TakeHeader(ExportReading& reading) {
  if (!reading.options.header) return reading.fields > 0 ? 0 : Refuse("%s holds no records", reading.dataName);
  const int fields = ReadRecordTexts(kDataUnit, reading.delimiter, reading.names);
  if (fields == textio::kOpenQuote) {
    return Refuse("the header row of %s holds a quoted field that is not closed before the end of the file",
                  reading.dataName);
  }
  if (fields == textio::kNoMoreRecords) return Refuse("%s holds no header row: it is empty", reading.dataName);
  reading.fields = fields;
  return 0;
}

// More cases than the rest of the file can hold, each record taking its
// fewest bytes (the last may lack its line end): the statement after the
// last record finds their end. A regular file's only.
int BoundCases(const ExportReading& reading, int32_t nvars, int32_t& ncases) {
  const int64_t bytes = textio::BytesAfterNextRecord(kDataUnit);
  if (bytes < 0) {
    return Refuse("the cases of %s cannot be counted before it is read, as it is not a regular file: give --cases",
                  reading.dataName);
  }
  const int64_t most = std::min<int64_t>(INT32_MAX, int64_t{UINT32_MAX} / (int64_t{4} * nvars));
  ncases = static_cast<int32_t>(
      std::min(most, bytes / LeastRecordBytes(reading.chosen, reading.options.missingGiven) + 2));
  return 0;
}

// The first chosen column that a record of `fields` fields lacks.
int32_t FirstLacking(const ExportReading& reading, int32_t fields) {
  for (int32_t column : reading.chosen) {
    if (column >= fields) return column;
  }
  return reading.chosen.front();
}

}  // namespace

int TakeMissingCode(const char* text, ExportOptions& options) {
  const char* digits = text + (*text == '-' || *text == '+');
  const size_t length = std::strlen(digits);
  if (length == 0 || length > 3 || std::strspn(digits, "0123456789") != length) {
    return Refuse("--missing takes a whole number from %d to %d, not \"%s\"", kSmallestFitting, kLargestFitting, text);
  }
  const int32_t code = (*text == '-' ? -1 : 1) * static_cast<int32_t>(std::strtol(digits, nullptr, 10));
  if (!FitsField(code)) {
    return Refuse("--missing takes a whole number from %d to %d, not \"%s\"", kSmallestFitting, kLargestFitting, text);
  }
  options.missingGiven = true;
  options.missingCode = code;
  return 0;
}

int TakeDelimiter(const char* text, ExportOptions& options) {
  static const struct {
    const char* name;
    char delimiter;
  } kDelimiters[] = {{",", ','},     {"comma", ','}, {";", ';'},   {"semicolon", ';'},
                     {"tab", '\t'}, {"\t", '\t'},   {"blank", textio::kBlankRuns}};
  for (const auto& known : kDelimiters) {
    if (std::strcmp(text, known.name) == 0) {
      options.delimiter = known.delimiter;
      return 0;
    }
  }
  return Refuse("--delimiter takes , ; tab or blank (or comma, semicolon), not \"%s\"", text);
}

int PrepareExportReading(ExportReading& reading, int32_t& ncases, int32_t& nvars, bool& toTheEnd) {
  if (textio::ConnectedToConsole(kDataUnit)) return Refuse("an export is read from a file, not from the console");
  const textio::FirstRecords first = textio::LookAtFirstRecords(kDataUnit, reading.options.delimiter);
  reading.delimiter = first.delimiter;
  reading.fields = first.fields;
  if (int status = TakeHeader(reading); status != 0) return status;
  if (int status = ChooseColumns(reading); status != 0) return status;
  const auto chosen = static_cast<int32_t>(reading.chosen.size());
  if (nvars != 0 && nvars != chosen) {
    return Refuse("--variables %" PRId32 " does not agree with the %" PRId32 " %s chosen", nvars, chosen,
                  chosen == 1 ? "column" : "columns");
  }
  nvars = chosen;
  if (ReadChosenColumns(kDataUnit, reading.delimiter, reading.chosen, reading.options.columns == nullptr,
                                reading.options.missingGiven, reading.options.missingCode) != 0) {
    return Refuse("no memory to read %s", reading.dataName);
  }
  reading.casesGiven = ncases;
  toTheEnd = ncases == 0;
  return toTheEnd ? BoundCases(reading, nvars, ncases) : 0;
}

int RefuseStoppedReading(const ExportReading& reading, int32_t casesRead) {
  textio::FieldFailure failure{};
  if (!textio::RecordsEnded(kDataUnit, &failure)) {
    return Refuse("%s holds more cases of %lld variables than a run can hold (4 GiB of values)", reading.dataName,
                  static_cast<long long>(reading.chosen.size()));
  }
  const RecordTexts* names = reading.options.header ? &reading.names : nullptr;
  const int32_t field = failure.field - 1;
  const std::string label = ColumnLabel(names, field);
  const auto line = static_cast<long long>(failure.line);
  switch (failure.kind) {
    case textio::FieldFailureKind::Missing:
      return Refuse("%s on line %lld is missing (%s): give --missing CODE for missing answers", label.c_str(), line,
                    failure.shown);
    case textio::FieldFailureKind::NotWhole:
      return Refuse("%s on line %lld is not a whole number (%s): leave the column out with --columns", label.c_str(),
                    line, failure.shown);
    case textio::FieldFailureKind::TooLarge:
      return Refuse("%s on line %lld is too large for a whole number (%s): leave the column out with --columns",
                    label.c_str(), line, failure.shown);
    case textio::FieldFailureKind::OpenQuote:
      return Refuse("%s on line %lld opens a quote that is not closed before the end of %s", label.c_str(), line,
                    reading.dataName);
    case textio::FieldFailureKind::FieldCount:
      if (reading.options.columns == nullptr) {
        return Refuse("line %lld holds %" PRId32 " %s where %s holds %" PRId32 ": choose the columns with --columns",
                      line, failure.field, failure.field == 1 ? "field" : "fields",
                      reading.options.header ? "the header" : "the first record", reading.fields);
      }
      return Refuse("line %lld holds %" PRId32 " %s, so %s is not there: leave it out of --columns", line,
                    failure.field, failure.field == 1 ? "field" : "fields",
                    ColumnLabel(names, FirstLacking(reading, failure.field)).c_str());
    case textio::FieldFailureKind::None: break;
  }
  if (casesRead == 0) return Refuse("%s holds no cases%s", reading.dataName, AfterHeader(reading));
  return Refuse("%s holds %" PRId32 " %s%s, fewer than --cases %" PRId32, reading.dataName, casesRead,
                casesRead == 1 ? "case" : "cases", AfterHeader(reading), reading.casesGiven);
}
