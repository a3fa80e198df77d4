// Ordering 64-bit pattern keys through scratch storage of as many: far
// faster than in place, for twice the memory.
#pragma once

#include <cstddef>
#include <cstdint>

// Orders keys[0..count), the smallest first, with the help of
// scratch[0..count), whose content it leaves undefined.
void SortKeysThrough(uint64_t* keys, uint64_t* scratch, size_t count);
