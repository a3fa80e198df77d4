// The aggregation run: the dialog, the reading of the cases, their ordering
// and the response pattern file, one step after the other.
#include "aggregation/Corvanesubs.h"
#include "aggregation/case_reading.h"
#include "aggregation/matrix.h"
#include "aggregation/pattern_table.h"
#include "aggregation/run_warnings.h"
#include "aggregation/usage.h"
#include "textio/textio.h"

namespace {

// The run's parameters and data, living for the whole run.
char dataFileName[kNameFieldLength];
char outputFileName[kNameFieldLength];
int32_t ncases = 0;
int32_t nvars = 0;
int32_t openStatus = 0;
int32_t allocationStatus = 0;
textio::ArrayDescriptor caseMatrix{};
char recordLayout[kRecordLayoutLength];
RunFindings findings;

// The layout of a pattern record: nvars three-character values, a blank and
// a six-character count.
void BuildRecordLayout() {
  char count[4];
  textio::beginWrite(count, 4, "(I4)", 4);
  textio::writeInteger(nvars);
  textio::endWrite();
  const textio::TextPiece pieces[] = {{"((", 2}, {count, 4}, {"(I3)),1X,I6)", 12}};
  textio::concatenate(recordLayout, kRecordLayoutLength, pieces, 3);
}

}  // namespace

void RunAggregation() {
  AskRunParameters(dataFileName, outputFileName, ncases, nvars);

  openStatus = textio::OpenUnit(1, dataFileName, kNameFieldLength, "read", true);
  if (openStatus != 0) Refuse("Error opening individual level data file.");
  allocationStatus = 0;
  caseMatrix = ArrayOf(sizeof(int32_t), ncases, nvars);
  textio::AllocateArray(caseMatrix, &allocationStatus);
  if (allocationStatus != 0) Refuse("Program could not allocate space for individual level data.");
  int32_t* cases = static_cast<int32_t*>(caseMatrix.data);

  // Cases are counted by pattern while they are read, as long as the
  // patterns repeat; the matrix takes them only when they stop repeating.
  PatternTable patterns(nvars, CountingCapacity(nvars));
  WriteConsoleLine("Reading the data...");
  bool counted = ReadCases(ncases, nvars, caseMatrix, patterns);
  NoteReading(ncases, findings);

  BuildRecordLayout();
  WriteConsoleLine("Sorting....");
  if (counted) {
    OrderPatterns(patterns);
  } else {
    SortCases(ncases, nvars, cases);
  }
  textio::CloseUnit(1);

  openStatus = textio::OpenUnit(2, outputFileName, kNameFieldLength, "write", true);
  if (openStatus != 0) Refuse("Error creating output file.");
  WriteConsoleLine("Writing output file...");
  if (counted) {
    WriteCountedPatterns(patterns, recordLayout);
  } else {
    WritePatterns(ncases, nvars, cases, recordLayout);
  }
  WriteConsoleLine("Done.");
  NoteWriting(nvars, findings);
}

int main(int argc, char** argv) {
  textio::InitUnits(argc, argv);
  AnswerInformationRequest(argc, argv);
  RunAggregation();
  // The warnings follow the run's last console line, once it has ended and
  // the pattern file is complete.
  textio::CloseAllUnits();
  if (!textio::ClosingFailed()) WriteRunWarnings(findings);
  textio::ExitRun(0);
}
