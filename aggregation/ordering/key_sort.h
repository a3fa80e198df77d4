// Ordering 64-bit pattern keys in place, the smallest first.
#pragma once

#include <cstddef>
#include <cstdint>

// Orders keys[0..count) in which only the low `bits` bits can be set.
void SortKeys(uint64_t* keys, size_t count, int bits);
// Orders keys[0..count) by their bits from `lowest` up; keys that agree
// there may end in any order among themselves.
void SortKeyPrefixes(uint64_t* keys, size_t count, int lowest);
