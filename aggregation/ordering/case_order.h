// The ways SortCases orders the rows of the case matrix: by keys made from
// the rows' values, and in place when no scratch storage can be had; and the
// ordering of cases held as packed keys.
#pragma once

#include <cstdint>

#include "aggregation/core/packed_cases.h"

// Orders the rows by their keys; returns false, with the matrix unchanged,
// when the scratch storage cannot be had.
bool OrderByKeys(int32_t ncases, int32_t nvars, int32_t* cases);

// Orders the rows in place, moving whole rows, without any storage.
void OrderInPlace(int32_t ncases, int32_t nvars, int32_t* cases);

// Orders the keys of the `ncases` packed cases, in place.
void OrderPackedCases(PackedCases& packed, int32_t ncases);
