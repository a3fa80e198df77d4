// The run from its first case read to its last record written, one step
// after the other.
#include "aggregation/run/case_pipeline.h"

#include "aggregation/core/run_units.h"
#include "aggregation/ordering/case_order.h"
#include "aggregation/reading/case_reading.h"
#include "aggregation/reading/pattern_table.h"
#include "aggregation/run/Corvanesubs.h"
#include "aggregation/run/id_variable.h"
#include "aggregation/writing/pattern_record.h"
#include "aggregation/writing/pattern_writing.h"
#include "textio/textio.h"

namespace {

void Progress(const CaseRun& run, const char* line) {
  if (run.progressLines) WriteConsoleLine(line);
}

}  // namespace

int32_t AggregateCases(CaseRun& run, RunFindings& findings) {
  auto* cases = static_cast<int32_t*>(run.caseMatrix.data);
  PatternTable patterns(run.nvars, run.countingCapacity);
  PackedCases packed;
  Progress(run, "Reading the data...");
  const CasesRead read = ReadCases(run.ncases, run.nvars, run.caseMatrix, patterns, packed, run.toTheEnd);
  // Read to their end, the records are fewer than the bound unless too many.
  textio::FieldFailure failure{};
  textio::RecordsEnded(kDataUnit, &failure);
  const bool stopped = failure.kind != textio::FieldFailureKind::None ||
                       (run.toTheEnd ? read.count == 0 || read.count == run.ncases : read.count < run.ncases);
  run.ncases = read.count;
  if (stopped) return kReadingStopped;
  run.held = read.held;
  run.secondReaderCases = textio::SecondReaderCases(kDataUnit);
  NoteReading(run.ncases, findings);

  char recordLayout[kRecordLayoutLength];
  BuildRecordLayout(run.nvars, recordLayout);
  Progress(run, "Sorting....");
  switch (run.held) {
    case CasesHeld::Counted: OrderPatterns(patterns); break;
    case CasesHeld::Packed: OrderPackedCases(packed, run.ncases); break;
    case CasesHeld::InMatrix: SortCases(run.ncases, run.nvars, cases); break;
  }
  textio::CloseUnit(kDataUnit);

  const int32_t openStatus =
      textio::OpenUnit(kPatternUnit, run.outputFileName, run.outputNameLength, "write", true, run.outputNameForm);
  if (openStatus != 0) return openStatus;
  Progress(run, "Writing output file...");
  switch (run.held) {
    case CasesHeld::Counted: WriteCountedPatterns(patterns, recordLayout); break;
    case CasesHeld::Packed: WritePackedRecords(packed, run.ncases, recordLayout, PieceRows(run.nvars)); break;
    case CasesHeld::InMatrix: WritePatterns(run.ncases, run.nvars, cases, recordLayout); break;
  }
  Progress(run, "Done.");
  NoteWriting(run.nvars, findings);
  if (findings.recordsWritten == run.ncases) {
    findings.idVariable = IdVariable(run.held, patterns, packed, cases, run.ncases, run.nvars);
  }
  return 0;
}
