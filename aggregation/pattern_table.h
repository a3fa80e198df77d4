// Counting rows by response pattern: each distinct pattern stored once in a
// hash table, with the number of rows that gave it. The table holds a
// bounded number of patterns, so that it stays in the cache.
#pragma once

#include <cstdint>

#include "aggregation/matrix.h"

struct PatternSlot {
  uint32_t check;   // bits of the pattern's hash that chose no slot
  int32_t pattern;  // -1: free
};

struct PatternTable {
  // Room for `capacity` patterns of `nvars` values; none (capacity 0) when
  // the storage cannot be had.
  PatternTable(int32_t nvars, int32_t capacity);

  int32_t nvars;
  int32_t capacity;
  int32_t patterns = 0;  // distinct patterns so far
  int64_t rows = 0;      // rows counted
  int slotBits = 0;
  Scratch storage;
  PatternSlot* slots = nullptr;
  int32_t* values = nullptr;  // pattern p's values from values[p * nvars] on
  int64_t* counts = nullptr;
  int32_t* order = nullptr;   // the patterns in pattern order, once ordered
};

// How many patterns of `nvars` values a table counting whole data files
// holds: enough for the patterns of typical survey data, few enough to stay
// in the cache.
int32_t CountingCapacity(int32_t nvars);

// Counts rows[0..count), `nvars` values a row. Returns the rows counted: all
// of them, or those before the first row of a new pattern that finds the
// table full.
int32_t CountRows(PatternTable& table, const int32_t* rows, int32_t count);

// Puts the patterns into ascending pattern order in `order`.
void OrderPatterns(PatternTable& table);

// Writes every counted row back into rows [0, table.rows) of the case
// matrix: each pattern as often as it came, in no particular order.
void ExpandPatterns(const PatternTable& table, int32_t* cases, int32_t ncases);
