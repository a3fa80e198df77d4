// Ordering rows whose keys are wider than 64 bits, and the plan of the
// pattern key that every ordering by keys starts from.
#pragma once

#include <cstdint>

#include "aggregation/core/matrix.h"

// The fields of the pattern key, planned from the last column down only as
// far as an ordering needs them: wide keys seldom need more than their
// highest bits, and each column planned costs a pass over it.
struct KeyPlan {
  int32_t* cases;
  int32_t ncases, nvars;
  KeyField* fields;  // fields[j] for the columns j planned
  int32_t lowest;    // the lowest column planned; nvars before the first
  int64_t bits;      // the bits of the columns planned
};

// Plans columns until more than `bits` bits are planned, or every column is.
void PlanKeyFields(KeyPlan& key, int64_t bits);

// The rows are ordered through their row numbers by the key's highest bits,
// ties by the next bits, and so on; then every column is rearranged. Needs
// 8 bytes a case; returns false, with the matrix unchanged, when they
// cannot be had.
bool OrderByKeyWindows(KeyPlan& key);
