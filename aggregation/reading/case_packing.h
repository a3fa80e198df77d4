// The cases packed into keys as they are read: whether a block's values fit
// the packing, the keys' storage, and what a value the packing does not hold
// asks of the keys held so far: a wider packing, or the case matrix.
#pragma once

#include <algorithm>
#include <cstdint>

#include "aggregation/core/packed_cases.h"

struct ValueRange {
  int32_t smallest, largest;
};

// The range of values[0..count), count > 0.
ValueRange RangeOf(const int32_t* values, int64_t count);

inline ValueRange Union(ValueRange a, ValueRange b) {
  return {std::min(a.smallest, b.smallest), std::max(a.largest, b.largest)};
}

// Storage for `ncases` keys of the packing, which `packed` then holds;
// false when it cannot be had.
bool TakeKeyStorage(PackedCases& packed, const Packing& packing, int32_t ncases);
// Gives the keys' storage back.
void ReleaseKeys(PackedCases& packed);

// Whether the packing holds every value of values[0..count). Second thread
// too: touches only the values; raises no report.
bool HoldsAll(const Packing& packing, const int32_t* values, int64_t count);

// The keys of rows[0..count) into keys[0..count * words). Second thread too:
// touches only the rows and the keys; raises no report.
void PackRows(const Packing& packing, const int32_t* rows, int32_t count, uint64_t* keys);

// The rows of rows[0..count) before the first that holds a value the
// packing does not. Second thread too: touches only the rows; raises no report.
int32_t RowsHeld(const Packing& packing, const int32_t* rows, int32_t count);

// Widens the packing to the narrowest that holds `range` as well as every
// value it held, the first `held` keys packed again into storage of the
// wider packing. False, with the keys as they were, where a wider packing
// would take no less room than the rows of the case matrix, or its storage
// cannot be had.
bool WidenKeys(PackedCases& packed, ValueRange range, int32_t held, int32_t ncases);

// The values of the first `held` keys into rows [0, held) of the case matrix.
void UnpackIntoColumns(const PackedCases& packed, int32_t held, int32_t* cases, int32_t ncases);
