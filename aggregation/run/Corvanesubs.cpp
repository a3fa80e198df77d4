// The aggregation run's procedures: the dialog and its check, the ordering
// of the cases by response pattern, and the pattern records.
#include "aggregation/run/Corvanesubs.h"

#include <algorithm>
#include <cstring>

#include "aggregation/ordering/case_order.h"
#include "aggregation/writing/pattern_writing.h"
#include "textio/textio.h"

namespace {

DialogNotes dialogNotes;

// A name longer than a connection takes is never cut to another name: it
// is left blank, which the check refuses. A name whose value a slash or a
// blank ended, values left on its line, is noted with the line as typed.
void ReadName(char* name, CutAnswer& note) {
  textio::beginRead(textio::kConsoleUnit);
  textio::readCharacter(name, kNameLength);
  if (textio::valueCut()) std::fill_n(name, kNameLength, ' ');
  const char* typed = nullptr;
  int length = 0;
  const bool whole = textio::recordText(typed, length) && length < kNameFieldLength;
  int64_t firstLine = 0;
  const int64_t skipped = textio::RecordsSkippingValues(textio::kConsoleUnit, firstLine);
  textio::endRead();
  note.cut = whole && textio::RecordsSkippingValues(textio::kConsoleUnit, firstLine) > skipped;
  if (!note.cut) return;
  std::memcpy(note.typed, typed, static_cast<size_t>(length));
  note.typed[length] = '\0';
}

void ReadCount(int32_t& count) {
  textio::beginRead(textio::kConsoleUnit);
  textio::readInteger(count);
  textio::endRead();
}

// A refusal of the dialog: its message line, then the stop.
[[noreturn]] void Refuse(const char* message) {
  WriteConsoleLine(message);
  textio::StopRun();
}

// A name is blank when all its characters are blanks; a NUL is not a blank.
bool IsBlank(const char* name) {
  return std::all_of(name, name + kNameLength, [](char c) { return c == ' '; });
}

}  // namespace

const DialogNotes& NotesOfTheDialog() { return dialogNotes; }

void WriteConsoleLine(const char* text) {
  textio::beginWrite();
  textio::writeCharacter(text, static_cast<int>(std::strlen(text)));
  textio::endWrite();
}

void AskRunParameters(char* dataFileName, char* outputFileName, int32_t& ncases, int32_t& nvars) {
  WriteConsoleLine("This is the QPX data aggregation program.");
  WriteConsoleLine("It will read in an ASCII file of individual level data,");
  WriteConsoleLine("and produce a response pattern file for analysis with QPX.");
  textio::beginWrite();
  textio::endWrite();
  WriteConsoleLine("Please type in the name of the data file to be read:");
  ReadName(dataFileName, dialogNotes.dataFileName);
  WriteConsoleLine("Please type in the name for the output file:");
  ReadName(outputFileName, dialogNotes.outputFileName);
  WriteConsoleLine("Please type in the number of cases to be read in:");
  ReadCount(ncases);
  WriteConsoleLine("Please type in the number of variables:");
  ReadCount(nvars);
  CheckRunParameters(dataFileName, outputFileName, ncases, nvars);
}

void CheckRunParameters(const char* dataFileName, const char* outputFileName, const int32_t& ncases,
                        const int32_t& nvars) {
  if (ncases < 1 || nvars < 1) Refuse("Both the number of subjects and variables must be greater than zero.");
  if (IsBlank(dataFileName) || IsBlank(outputFileName)) Refuse("Please input valid file names.");
}

int32_t PatternGreater(const int32_t& nvars, const int32_t* a, const int32_t* b) {
  for (int32_t k = nvars - 1; k >= 0; --k) {
    if (a[k] != b[k]) return a[k] > b[k] ? 1 : 0;
  }
  return 0;
}

void SortCases(const int32_t& ncases, const int32_t& nvars, int32_t* caseMatrix) {
  if (ncases < 2) return;
  if (!OrderByKeys(ncases, nvars, caseMatrix)) OrderInPlace(ncases, nvars, caseMatrix);
}

void WritePatterns(const int32_t& ncases, const int32_t& nvars, const int32_t* caseMatrix,
                   const char* recordLayout) {
  WriteRunRecords(ncases, nvars, caseMatrix, recordLayout, PieceRows(nvars));
}

