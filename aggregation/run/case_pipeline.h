// The run's sequence once the data file is connected and the case matrix
// allocated: the cases read, counted by pattern while their patterns repeat,
// and once they stop packed into keys while their values are narrow, else
// into the case matrix; the record layout built; the cases ordered; the
// data file disconnected; the pattern file connected and one record written
// for each distinct pattern. The run and the tests call it alike, so that
// the tests run the run's own sequence.
#pragma once

#include <cstdint>

#include "aggregation/reading/case_reading.h"
#include "aggregation/run/run_warnings.h"
#include "textio/textio.h"

struct CaseRun {
  int32_t ncases;                       // with toTheEnd a bound; once read, the cases read
  int32_t nvars;
  textio::ArrayDescriptor& caseMatrix;  // allocated, zero-filled
  const char* outputFileName;           // as handed to the connection
  int outputNameLength;
  textio::NameForm outputNameForm;
  bool progressLines;                   // the dialog's lines, "Reading the data..." to "Done."
  int32_t countingCapacity;             // patterns counted at most: CountingCapacity(nvars) in a run
  bool toTheEnd = false;                // the cases are the data file's delimited records, to their end

  // How the run went, once it has: for the tests and the benchmark.
  CasesHeld held = CasesHeld::InMatrix;
  int64_t secondReaderCases = 0;  // cases a second reader took in the reading in order's stead
};

// The reading stopped before its cases: the data file's delimited records
// ended (textio::RecordsEnded says why), or, read to their end, were none
// or as many as the bound.
inline constexpr int32_t kReadingStopped = -1;

// Returns 0 once every record is written (and "Done." said), or the nonzero
// status of the pattern file's connect, with nothing written, or
// kReadingStopped, the data file still connected. What the reading and the
// writing found goes into `findings`.
int32_t AggregateCases(CaseRun& run, RunFindings& findings);
