// Reading the cases of the data file: counted by pattern while the patterns
// repeat, into the case matrix once they stop repeating.
#pragma once

#include <cstdint>

#include "aggregation/reading/pattern_table.h"
#include "textio/textio.h"

// Reads `ncases` cases of `nvars` values from unit 1, one read statement a
// case. The cases are counted in `table` while it has room for their
// patterns; returns true when every case was counted there, the case matrix
// left untouched. Otherwise the cases counted so far are written into the
// matrix, the rest follow them, and it returns false.
bool ReadCases(int32_t ncases, int32_t nvars, textio::ArrayDescriptor& caseMatrix, PatternTable& table);
