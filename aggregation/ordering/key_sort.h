// Ordering pattern keys in place, the smallest first: keys of one 64-bit
// word, and keys of several compared word after word.
#pragma once

#include <cstddef>
#include <cstdint>

// Orders keys[0..count) by insertion: for the few keys of a bucket.
void InsertionSort(uint64_t* keys, size_t count);
// Orders keys[0..count) in which only the low `bits` bits can be set.
void SortKeys(uint64_t* keys, size_t count, int bits);
// Orders keys[0..count) by their bits from `lowest` up; keys that agree
// there may end in any order among themselves.
void SortKeyPrefixes(uint64_t* keys, size_t count, int lowest);
// Orders the keys of `words` words each from keys[0] on, `count` of them,
// compared word after word as unsigned numbers.
void SortKeyRecords(uint64_t* keys, size_t count, size_t words);
// The same for keys alike in their bytes before their byte `digit`, counted
// from the highest of the first word: on this thread only.
void SortKeyRecordsFrom(uint64_t* keys, size_t count, size_t words, size_t digit);
