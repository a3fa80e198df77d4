// The aggregation run: the dialog (or the answers from the command line), the
// reading of the cases, their ordering and the response pattern file, one
// step after the other. Of the program's files, this one alone ends the
// process: every other step hands its exit status back to it.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>

#include "aggregation/core/matrix.h"
#include "aggregation/core/run_units.h"
#include "aggregation/reading/pattern_table.h"
#include "aggregation/run/Corvanesubs.h"
#include "aggregation/run/case_pipeline.h"
#include "aggregation/run/command_line.h"
#include "aggregation/run/export_run.h"
#include "aggregation/run/refusal.h"
#include "aggregation/run/run_warnings.h"
#include "aggregation/run/usage.h"
#include "textio/textio.h"

namespace {

// The run's parameters and data, living for the whole run.
char dataFileName[kNameFieldLength];
char outputFileName[kNameFieldLength];
int32_t ncases = 0;
int32_t nvars = 0;
textio::ArrayDescriptor caseMatrix{};

// How the run was asked for, and what it found: told once it is over.
struct RunAccount {
  // Asked for on the command line: no dialog, and its refusals and what it
  // did in words for a user at a shell.
  bool fromCommandLine = false;
  // The data file as a delimited export, when the command line says so.
  std::optional<ExportReading> exported;
  RunFindings findings;
};
RunAccount thisRun;

// A refusal of the run: in the dialog its message line and the stop; from
// the command line the reason, in words for a user at a shell.
[[noreturn]] void RefuseRun(const RunAccount& account, const char* message, const char* reason) {
  if (!account.fromCommandLine) {
    WriteConsoleLine(message);
    textio::StopRun();
  }
  textio::ExitRun(Refuse("%s", reason));
}

// A file that cannot be connected.
[[noreturn]] void RefuseConnect(const RunAccount& account, const char* message, const char* what, const char* name,
                                int status) {
  char reason[1024];
  std::snprintf(reason, sizeof reason, "cannot %s %s: %s", what, name,
                status == textio::FileNotFound ? "a folder of its path does not exist" : textio::RunErrorMessage(status));
  RefuseRun(account, message, reason);
}

// The run from its answers on: the data file connected, the case matrix
// allocated, then the cases read, ordered and written.
void RunWithAnswers(RunAccount& account) {
  // Names from the command line are taken whole; typed ones as their fields.
  const textio::NameForm form = account.fromCommandLine ? textio::NameForm::Whole : textio::NameForm::Field;
  const auto nameLength = [&](const char* name) {
    return account.fromCommandLine ? static_cast<int>(std::strlen(name)) : kNameFieldLength;
  };
  if (int32_t openStatus = textio::OpenUnit(kDataUnit, dataFileName, nameLength(dataFileName), "read", true, form);
      openStatus != 0) {
    RefuseConnect(account, "Error opening individual level data file.", "read", dataFileName, openStatus);
  }
  bool toTheEnd = false;
  if (account.exported.has_value()) {
    if (int status = PrepareExportReading(*account.exported, ncases, nvars, toTheEnd); status != 0) {
      textio::ExitRun(status);
    }
  }
  int32_t allocationStatus = 0;
  caseMatrix = ArrayOf(sizeof(int32_t), ncases, nvars);
  textio::AllocateArray(caseMatrix, &allocationStatus);
  if (allocationStatus != 0) {
    char reason[160];
    std::snprintf(reason, sizeof reason, "no memory for %" PRId32 " %s of %" PRId32 " %s (4 GiB at most)", ncases,
                  ncases == 1 ? "case" : "cases", nvars, nvars == 1 ? "variable" : "variables");
    RefuseRun(account, "Program could not allocate space for individual level data.", reason);
  }
  if (!account.fromCommandLine) {
    RunFindings& findings = account.findings;
    findings.dataFileName = dataFileName;
    findings.outputFileName = outputFileName;
    findings.dialog = NotesOfTheDialog();
    // The dialog takes the same name for both files, as it always has; it
    // says so once the data file has given way to the pattern file.
    findings.dataFileReplaced =
        textio::InquireSameFile(dataFileName, kNameFieldLength, outputFileName, kNameFieldLength);
  }
  CaseRun run{ncases, nvars, caseMatrix, outputFileName, nameLength(outputFileName), form, !account.fromCommandLine,
              CountingCapacity(nvars), toTheEnd};
  const int32_t status = AggregateCases(run, account.findings);
  if (status == kReadingStopped) textio::ExitRun(RefuseStoppedReading(*account.exported, run.ncases));
  if (status != 0) RefuseConnect(account, "Error creating output file.", "make", outputFileName, status);
  ncases = run.ncases;
}

// The names and counts of a run asked for on the command line, as the
// dialog's answers; the names fit their variables whole.
void TakeAnswers(const CommandLineRun& run) {
  std::strncpy(dataFileName, run.dataName, kNameLength);
  std::strncpy(outputFileName, run.outputName, kNameLength);
  ncases = run.ncases;
  nvars = run.nvars;
}

// What a run asked for on the command line did, in one line on standard
// error, where it never mixes with pattern records on standard output.
void WriteSummary(const RunFindings& findings) {
  char line[1024];
  std::snprintf(line, sizeof line, "aggregate: %" PRId32 " %s of %" PRId32 " %s read; %" PRId64 " %s written to %s",
                ncases, ncases == 1 ? "case" : "cases", nvars, nvars == 1 ? "variable" : "variables",
                findings.recordsWritten, findings.recordsWritten == 1 ? "pattern" : "patterns", outputFileName);
  textio::WriteErrorLine(line);
}

}  // namespace

// The whole run, from the greeting to "Done.".
void RunAggregation() {
  AskRunParameters(dataFileName, outputFileName, ncases, nvars);
  RunWithAnswers(thisRun);
}

int main(int argc, char** argv) {
  textio::InitUnits(argc, argv);
  if (std::optional<int> answered = AnswerInformationRequest(argc, argv)) textio::ExitRun(*answered);
  if (AsksForCommandLineRun(argc, argv)) {
    CommandLineRun run;
    if (int status = TakeCommandLine(argc, argv, run); status != 0) textio::ExitRun(status);
    TakeAnswers(run);
    thisRun.fromCommandLine = true;
    if (run.exportOptions.Given()) {
      thisRun.exported.emplace();
      thisRun.exported->options = run.exportOptions;
      thisRun.exported->dataName = run.dataName;
    }
    RunWithAnswers(thisRun);
  } else {
    RunAggregation();
  }
  // What the run says of itself follows its last console line, once that
  // has ended and the pattern file is complete.
  textio::CloseAllUnits();
  if (!textio::ClosingFailed()) {
    if (thisRun.fromCommandLine) WriteSummary(thisRun.findings);
    WriteRunWarnings(thisRun.findings);
  }
  textio::ExitRun(0);
}
