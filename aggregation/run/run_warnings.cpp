// The warnings of a run. Each names how many and where the first stands, in
// the shape of a tool's warning: the program's name, "warning", the finding.
#include "aggregation/run/run_warnings.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "aggregation/core/run_units.h"
#include "aggregation/writing/pattern_record.h"

namespace {

void Warn(const char* text) {
  char line[1024];
  std::snprintf(line, sizeof line, "aggregate: warning: %s", text);
  textio::WriteErrorLine(line);
}

}  // namespace

void NoteReading(int32_t ncases, RunFindings& findings) {
  findings.casesRead = ncases;
  findings.skippedRecords = textio::RecordsSkippingValues(kDataUnit, findings.firstSkippedLine);
  findings.dataLeft = textio::ValuesLeft(kDataUnit, findings.dataLeftLine);
  findings.nullValues = textio::NullValues(kDataUnit, findings.firstNullLine, findings.firstNullVariable);
}

void NoteWriting(int32_t nvars, RunFindings& findings) {
  findings.nvars = nvars;
  findings.recordsWritten = textio::RecordsWritten(kPatternUnit);
  findings.starredFields = textio::FieldsStarred(kPatternUnit, findings.firstStarred);
}

namespace {

// A name as the dialog read it: its field without the blanks after it.
std::string NameRead(const char* field) {
  std::string name(field, strnlen(field, kNameLength));
  name.erase(name.find_last_not_of(' ') + 1);
  return name;
}

void WarnOfCut(const CutAnswer& answer, const char* field) {
  if (!answer.cut) return;
  char text[3 * kNameFieldLength];
  std::snprintf(text, sizeof text,
                "the answer \"%s\" was read as the name \"%s\" (a slash or blank ends an unquoted name: type it "
                "between apostrophes)",
                answer.typed, NameRead(field).c_str());
  Warn(text);
}

}  // namespace

void WriteRunWarnings(const RunFindings& findings) {
  char text[400];
  if (findings.starredFields > 0) {
    const textio::StarredField& first = findings.firstStarred;
    char where[96];
    const int64_t item = FieldAtColumn(first.column);
    if (item <= findings.nvars) {
      std::snprintf(where, sizeof where, "variable %" PRId64 " of record %" PRId64 ", value %" PRId32, item,
                    first.record, first.value);
    } else {
      std::snprintf(where, sizeof where, "the count of record %" PRId64 ", %" PRId32, first.record, first.value);
    }
    std::snprintf(text, sizeof text,
                  "%" PRId64 " %s written as asterisks, not fitting the pattern file (values %d to %d, counts up "
                  "to %" PRId64 "); the first: %s",
                  findings.starredFields, findings.starredFields == 1 ? "field" : "fields", kSmallestFitting,
                  kLargestFitting, kLargestCount, where);
    Warn(text);
  }
  if (findings.dataLeft) {
    std::snprintf(text, sizeof text,
                  "data left unread: the data file holds more than the %" PRId32 " %s read; the first value left: "
                  "line %" PRId64,
                  findings.casesRead, findings.casesRead == 1 ? "case" : "cases", findings.dataLeftLine);
    Warn(text);
  }
  if (findings.skippedRecords > 0) {
    std::snprintf(text, sizeof text,
                  "values skipped: %" PRId64 " %s values after their case's last one, not read; the first: line %" PRId64,
                  findings.skippedRecords, findings.skippedRecords == 1 ? "record held" : "records held",
                  findings.firstSkippedLine);
    Warn(text);
  }
  if (findings.nullValues > 0) {
    std::snprintf(text, sizeof text,
                  "%" PRId64 " %s left empty %s read as 0; the first: line %" PRId64 ", variable %" PRId64,
                  findings.nullValues, findings.nullValues == 1 ? "value" : "values",
                  findings.nullValues == 1 ? "was" : "were", findings.firstNullLine, findings.firstNullVariable);
    Warn(text);
  }
  if (findings.idVariable > 0) {
    std::snprintf(text, sizeof text, "variable %" PRId32 " takes a different value in each of the %" PRId32
                  " cases: an ID column?", findings.idVariable, findings.casesRead);
    Warn(text);
  }
  if (findings.dataFileName != nullptr) {
    WarnOfCut(findings.dialog.dataFileName, findings.dataFileName);
    WarnOfCut(findings.dialog.outputFileName, findings.outputFileName);
  }
  if (findings.dataFileReplaced) {
    std::snprintf(text, sizeof text, "the data file %s was replaced by the pattern file",
                  NameRead(findings.dataFileName).c_str());
    Warn(text);
  }
}
