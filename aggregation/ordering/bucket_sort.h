// Ordering pattern keys through scratch storage of as many: far faster than
// in place, for twice the memory.
#pragma once

#include <cstddef>
#include <cstdint>

// Orders the `count` keys of `words` words each from keys[0] on, compared
// word after word as unsigned numbers, the smallest first, with the help of
// as many words of scratch, whose content it leaves undefined.
void SortKeysThrough(uint64_t* keys, uint64_t* scratch, size_t count, size_t words);
