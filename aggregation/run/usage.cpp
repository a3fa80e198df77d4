// The usage text, the version and the inspection of a data file, for a user
// who asks the program before answering its questions.
#include "aggregation/run/usage.h"

#include <algorithm>
#include <cstring>

#include "aggregation/core/run_units.h"
#include "aggregation/inspection/export_inspection.h"
#include "aggregation/inspection/inspection.h"
#include "aggregation/run/refusal.h"
#include "textio/platform.h"
#include "textio/textio.h"

namespace {

constexpr const char* kUsage[] = {
    "Usage: aggregate --output PATTERNS [--cases N --variables M] [--header]",
    "                 [--columns LIST] [--missing CODE] [--delimiter D] DATA",
    "       aggregate [data-file [output-file]]",
    "       aggregate --inspect data-file",
    "       aggregate --help | /? | --version",
    "",
    "Turns a file of individual level survey data into a response pattern file",
    "for analysis with QPX: one record for each distinct response pattern, in",
    "pattern order (the last variable most significant), with the number of",
    "cases that gave it.",
    "",
    "For scripts: aggregate --output PATTERNS DATA reads the data file DATA and",
    "writes the pattern file PATTERNS without asking anything. The names are",
    "taken whole. --cases and --variables give the numbers of cases and",
    "variables, in digits alone; without them, the data file is inspected",
    "first (see --inspect), and the run is refused unless that gives numbers",
    "with which every value is read and fits its field. It ends with one line",
    "on standard error saying what was done. -- before DATA lets its name",
    "start with -.",
    "",
    "An export (a CSV or tab-separated file from a spreadsheet, R, pandas or a",
    "statistics package) is read as delimited records, one case a line, with",
    "any of these options, its counts from its one reading:",
    "  --header          line 1 holds the columns' names, not a case",
    "  --columns LIST    the fields that are the variables, in that order:",
    "                    positions from 1 or header names, and ranges of them",
    "                    (2-21, q1-q20, 3,5,7); the others are passed over",
    "  --missing CODE    an empty field, NA, . or NaN is the whole number CODE",
    "                    (-99 to 999); without it such a field refuses the run",
    "  --delimiter D     , ; tab, or blank (runs of blanks and tabs); found",
    "                    from the first records when not given",
    "Two delimiters in a row make an empty field, a missing answer. A value",
    "such as 4.0 is 4; any other decimal, or text, in a chosen column refuses",
    "the run with its column, line and value. --inspect recognises an export",
    "and gives the command that reads it.",
    "",
    "Without options it asks four questions, each answered on a line of its own:",
    "  the name of the data file to be read,",
    "  the name for the output file,",
    "  the number of cases to be read in,",
    "  the number of variables.",
    "The answers may be typed, piped or redirected from a file:",
    "  aggregate < answers.txt",
    "A name holding a slash or a blank is typed between apostrophes:",
    "  'data/survey 2024.dat'",
    "An answer of a lone slash leaves a name empty; an empty name is taken from",
    "the next file name given on the command line:",
    nullptr,  // the example for the system's shell
    "",
    "The data file holds whole numbers separated by blanks, tabs, commas or",
    "line ends; each case starts on a new line. Each output record holds every",
    "value in 3 characters, a blank and the count in 6 characters, then CR LF;",
    "a value outside -99 to 999 shows as ***.",
    "",
    "--inspect reads the data file as a run would and tells, without asking",
    "anything or making any file, how many values its records hold, the first",
    "value that cannot be read, what an export often holds, and the numbers of",
    "cases and variables to give, with the command that gives them; for an",
    "export, the columns it leaves out and why, the missing code, and the",
    "command with the options that read the rest:",
    "  aggregate --inspect survey.dat",
    "",
    "Exit status: 0 after \"Done.\"; 1 after a refused answer, or after a",
    "run-time error, reported on standard error. A run that ends with \"Done.\"",
    "warns on standard error of values written as ***, data left unread,",
    "values skipped, values left empty, a variable of a different value in",
    "every case (an ID), and in the dialog of a name cut at a slash or a",
    "blank. With --inspect: 0 when a run with the answers it gives would read",
    "every value, write every value in its field, warn of nothing and end",
    "with \"Done.\" (for an export, when its command reads every chosen value",
    "and warns of nothing), else 1.",
    "The full manual: man aggregate (doc/aggregate.1 in the source tree); on",
    "Windows, aggregate.txt beside the program.",
};

// The inspection of the named data file, its report on standard output.
// Returns 0 when a run with the answers it gives reads every value, writes
// every value in its field and ends with "Done.", 1 otherwise; a file that
// cannot be read is refused (no file made).
int InspectDataFile(const char* program, const char* name) {
  if (name == nullptr) return Refuse("--inspect needs the name of a data file");
  const auto length = static_cast<int>(std::min(std::strlen(name), size_t{INT32_MAX}));
  if (length > textio::kMaxNameLength) {
    return Refuse("cannot inspect %s: name longer than %d characters", name, textio::kMaxNameLength);
  }
  // A connect would make the file that is not there.
  if (!textio::InquireExists(name, length, textio::NameForm::Whole)) {
    return Refuse("cannot inspect %s: %s", name, textio::RunErrorMessage(textio::FileNotFound));
  }
  if (int status = textio::OpenUnit(kDataUnit, name, length, "read", true, textio::NameForm::Whole); status != 0) {
    return Refuse("cannot inspect %s: %s", name, textio::RunErrorMessage(status));
  }
  // Only a regular file can be read again, as an export.
  const bool readAgain = textio::BytesAfterNextRecord(kDataUnit) >= 0;
  Inspection inspection;
  InspectUnit(inspection);
  textio::CloseUnit(kDataUnit);
  if (inspection.readFailure != 0) {
    return Refuse("cannot inspect %s: %s", name, textio::RunErrorMessage(inspection.readFailure));
  }
  ExportInspection exported;
  exported.numberedHeader = inspection.numberedHeader;
  if (readAgain && LooksLikeAnExport(inspection) && InspectExport(name, exported)) {
    WriteExportInspection(program, name, exported);
    return ExportRunSucceeds(exported) ? 0 : 1;
  }
  WriteInspection(program, name, inspection);
  return RunWouldSucceed(inspection) ? 0 : 1;
}

}  // namespace

std::optional<int> AnswerInformationRequest(int argc, const char* const* argv) {
  if (argc < 2) return std::nullopt;
  const char* request = argv[1];
  // "/?" is how Windows programs are asked; no data file can be meant by it.
  if (std::strcmp(request, "--help") == 0 || std::strcmp(request, "-h") == 0 || std::strcmp(request, "/?") == 0) {
    // What the system's shell runs: a POSIX shell, or Windows' command prompt.
    const char* example = textio::platform::kCommandShell == textio::platform::CommandShell::Cmd
                              ? "  (echo /& echo /& echo 12& echo 3) | aggregate.exe survey.dat patterns.txt"
                              : "  printf '/\\n/\\n12\\n3\\n' | aggregate survey.dat patterns.txt";
    for (const char* line : kUsage) textio::WriteOutputLine(line != nullptr ? line : example);
  } else if (std::strcmp(request, "--inspect") == 0) {
    return InspectDataFile(argv[0], argc > 2 ? argv[2] : nullptr);
  } else if (std::strcmp(request, "--version") == 0) {
    textio::WriteOutputLine("aggregate " AGGREGATE_VERSION);
  } else {
    return std::nullopt;
  }
  return 0;
}
