// The aggregation run: the dialog (or the answers from the command line), the
// reading of the cases, their ordering and the response pattern file, one
// step after the other.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "aggregation/core/matrix.h"
#include "aggregation/reading/case_reading.h"
#include "aggregation/reading/pattern_table.h"
#include "aggregation/run/Corvanesubs.h"
#include "aggregation/run/command_line.h"
#include "aggregation/run/run_warnings.h"
#include "aggregation/run/usage.h"
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
// The run was asked for on the command line: it shows no dialog, and tells
// its refusals and what it did in words for a user at a shell.
bool fromCommandLine = false;

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

// A line of the dialog's progress, which a run from the command line does not show.
void Progress(const char* line) {
  if (!fromCommandLine) WriteConsoleLine(line);
}

// A refusal: the dialog's message line and the stop; from the command line,
// the reason in words for a user at a shell.
[[noreturn]] void RefuseRun(const char* message, const char* reason) {
  if (!fromCommandLine) Refuse(message);
  RefuseCommandLine(reason);
}

// A file that cannot be connected, for a user at a shell.
[[noreturn]] void RefuseConnect(const char* message, const char* what, const char* name, int status) {
  char reason[1024];
  std::snprintf(reason, sizeof reason, "cannot %s %s: %s", what, name,
                status == textio::FileNotFound ? "a folder of its path does not exist" : textio::RunErrorMessage(status));
  RefuseRun(message, reason);
}

// The run from its answers on: the data file read into the case matrix or
// counted, the cases ordered, the pattern file written.
void RunWithAnswers() {
  openStatus = textio::OpenUnit(1, dataFileName, kNameFieldLength, "read", true);
  if (openStatus != 0) RefuseConnect("Error opening individual level data file.", "read", dataFileName, openStatus);
  allocationStatus = 0;
  caseMatrix = ArrayOf(sizeof(int32_t), ncases, nvars);
  textio::AllocateArray(caseMatrix, &allocationStatus);
  if (allocationStatus != 0) {
    char reason[160];
    std::snprintf(reason, sizeof reason, "no memory for %" PRId32 " cases of %" PRId32 " variables (4 GiB at most)",
                  ncases, nvars);
    RefuseRun("Program could not allocate space for individual level data.", reason);
  }
  int32_t* cases = static_cast<int32_t*>(caseMatrix.data);

  // Cases are counted by pattern while they are read, as long as the
  // patterns repeat; the matrix takes them only when they stop repeating.
  PatternTable patterns(nvars, CountingCapacity(nvars));
  Progress("Reading the data...");
  bool counted = ReadCases(ncases, nvars, caseMatrix, patterns);
  NoteReading(ncases, findings);

  BuildRecordLayout();
  Progress("Sorting....");
  if (counted) {
    OrderPatterns(patterns);
  } else {
    SortCases(ncases, nvars, cases);
  }
  textio::CloseUnit(1);

  openStatus = textio::OpenUnit(2, outputFileName, kNameFieldLength, "write", true);
  if (openStatus != 0) RefuseConnect("Error creating output file.", "make", outputFileName, openStatus);
  Progress("Writing output file...");
  if (counted) {
    WriteCountedPatterns(patterns, recordLayout);
  } else {
    WritePatterns(ncases, nvars, cases, recordLayout);
  }
  Progress("Done.");
  NoteWriting(nvars, findings);
}

// The names and counts of a run asked for on the command line, as the
// dialog's answers; the names fit their variables whole.
void TakeAnswers(const CommandLineRun& run) {
  std::strncpy(dataFileName, run.dataName, kNameLength);
  std::strncpy(outputFileName, run.outputName, kNameLength);
  ncases = run.ncases;
  nvars = run.nvars;
  fromCommandLine = true;
}

// What a run asked for on the command line did, in one line on standard
// error, where it never mixes with pattern records on standard output.
void WriteSummary() {
  char line[1024];
  std::snprintf(line, sizeof line, "aggregate: %" PRId32 " %s of %" PRId32 " %s read; %" PRId64 " %s written to %s",
                ncases, ncases == 1 ? "case" : "cases", nvars, nvars == 1 ? "variable" : "variables",
                findings.recordsWritten, findings.recordsWritten == 1 ? "pattern" : "patterns", outputFileName);
  textio::WriteErrorLine(line);
}

}  // namespace

void RunAggregation() {
  AskRunParameters(dataFileName, outputFileName, ncases, nvars);
  RunWithAnswers();
}

int main(int argc, char** argv) {
  textio::InitUnits(argc, argv);
  AnswerInformationRequest(argc, argv);
  if (AsksForCommandLineRun(argc, argv)) {
    CommandLineRun run;
    TakeCommandLine(argc, argv, run);
    TakeAnswers(run);
    RunWithAnswers();
  } else {
    RunAggregation();
  }
  // What the run says of itself follows its last console line, once that
  // has ended and the pattern file is complete.
  textio::CloseAllUnits();
  if (!textio::ClosingFailed()) {
    if (fromCommandLine) WriteSummary();
    WriteRunWarnings(findings);
  }
  textio::ExitRun(0);
}
