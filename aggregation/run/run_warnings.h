// What a run found that may make its pattern file wrong, though it ended
// with "Done.": told on standard error once the run is over.
#pragma once

#include <cstdint>

#include "aggregation/run/Corvanesubs.h"
#include "textio/textio.h"

struct RunFindings {
  int32_t casesRead = 0;
  int64_t skippedRecords = 0;  // records whose values after their case's last one were skipped unread
  int64_t firstSkippedLine = 0;
  int64_t nullValues = 0;      // values left empty, which stay 0: the first one's line and variable
  int64_t firstNullLine = 0;
  int64_t firstNullVariable = 0;
  int32_t idVariable = 0;      // a variable with a different value in every case, as an ID has; 0: none
  bool dataLeft = false;       // the data file holds values after the last case read
  int64_t dataLeftLine = 0;
  int32_t nvars = 0;
  int64_t recordsWritten = 0;  // pattern records
  int64_t starredFields = 0;   // pattern file fields written as asterisks
  textio::StarredField firstStarred = {};
  // The names as the dialog read them, what it noted of its answers, and
  // whether the pattern file took the data file's place.
  const char* dataFileName = nullptr;
  const char* outputFileName = nullptr;
  DialogNotes dialog;
  bool dataFileReplaced = false;
};

// What the reading of the cases left unread: noted once they are read, while
// unit 1 is connected to the data file.
void NoteReading(int32_t ncases, RunFindings& findings);
// What the pattern file cannot show: noted once its records are written,
// while unit 2 is connected to it.
void NoteWriting(int32_t nvars, RunFindings& findings);
// One warning line on standard error for each kind of finding.
void WriteRunWarnings(const RunFindings& findings);
