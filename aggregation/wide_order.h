// Ordering rows whose pattern keys are wider than 64 bits.
#pragma once

#include <cstdint>

#include "aggregation/matrix.h"

// The rows are ordered through their row numbers by the key's highest bits,
// ties by the next bits, and so on; then every column is rearranged. Needs
// 8 bytes a case; returns false, with the matrix unchanged, when they
// cannot be had.
bool OrderByKeyWindows(int32_t ncases, int32_t nvars, int32_t* cases, const KeyField* fields, int64_t bits);
