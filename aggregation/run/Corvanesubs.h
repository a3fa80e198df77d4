// The aggregation run's procedures: the dialog and its check, the ordering
// of the cases by response pattern, and the writing of the pattern records.
#pragma once

#include <cstdint>

#include "textio/textio.h"

// A typed file name is kept whole up to the longest name a connection takes;
// its variable holds a NUL after it.
inline constexpr int kNameLength = textio::kMaxNameLength;
inline constexpr int kNameFieldLength = kNameLength + 1;  // the name variable handed to the connection

// One console line: a write statement of one character item.
void WriteConsoleLine(const char* text);

// An answer for a file name whose value a slash or a blank ended, the rest
// of its line not read, so that the name is not what was typed.
struct CutAnswer {
  bool cut = false;
  char typed[kNameFieldLength] = {};  // the answer's line as typed
};
// What the dialog noted of its answers, for the run to tell once it is over.
struct DialogNotes {
  CutAnswer dataFileName;
  CutAnswer outputFileName;
};
const DialogNotes& NotesOfTheDialog();

// Writes the greeting, asks the four questions and checks the answers; returns
// only when they pass. The names are the first kNameLength characters of
// kNameFieldLength-character fields.
void AskRunParameters(char* dataFileName, char* outputFileName, int32_t& ncases, int32_t& nvars);
void CheckRunParameters(const char* dataFileName, const char* outputFileName, const int32_t& ncases,
                        const int32_t& nvars);

// Puts the rows of the case matrix (column by column: element (i, j) at
// i + j * ncases, 0-based) into ascending pattern order, in place.
void SortCases(const int32_t& ncases, const int32_t& nvars, int32_t* caseMatrix);
// 1 when pattern a is greater than pattern b: at the highest variable where
// they differ, a's value is greater. Each pattern is `nvars` values in a row.
int32_t PatternGreater(const int32_t& nvars, const int32_t* a, const int32_t* b);

// Writes one record per run of equal adjacent rows of the ordered matrix to
// the pattern file's unit, with the layout `recordLayout` (80 characters).
void WritePatterns(const int32_t& ncases, const int32_t& nvars, const int32_t* caseMatrix,
                   const char* recordLayout);
