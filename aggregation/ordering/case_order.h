// The ways SortCases orders the rows of the case matrix: by keys made from
// the rows' values, and in place when no scratch storage can be had.
#pragma once

#include <cstdint>

// Orders the rows by their keys; returns false, with the matrix unchanged,
// when the scratch storage cannot be had.
bool OrderByKeys(int32_t ncases, int32_t nvars, int32_t* cases);

// Orders the rows in place, moving whole rows, without any storage.
void OrderInPlace(int32_t ncases, int32_t nvars, int32_t* cases);
