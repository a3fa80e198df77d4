// Counting rows by response pattern: each distinct pattern stored once, with
// the number of rows that gave it, in a table of bounded size.
#pragma once

#include <cstdint>

#include "aggregation/core/packed_cases.h"
#include "aggregation/core/scratch.h"
#include "aggregation/reading/key_table.h"

struct PatternTable {
  // Room for `capacity` patterns of `nvars` values; none (capacity 0) when
  // the storage cannot be had.
  PatternTable(int32_t nvars, int32_t capacity);

  int32_t nvars;
  int32_t capacity;
  int64_t rows = 0;  // rows counted
  Scratch storage;
  KeyTable patterns;            // the patterns' values, row after row
  const int32_t* values = nullptr;  // pattern p's values from values[p * nvars] on
  int64_t* counts = nullptr;
  int32_t* order = nullptr;     // the patterns in pattern order, once ordered
};

// How many patterns of `nvars` values a table counting whole data files
// holds: enough for the patterns of typical survey data, few enough to stay
// in the cache; never more than kMostCountedPatterns.
inline constexpr int32_t kMostCountedPatterns = 1 << 15;
int32_t CountingCapacity(int32_t nvars);

// Counts a row of `nvars` values; returns its pattern's number, or -1, with
// nothing counted, when its pattern is new and the table is full.
int32_t CountRow(PatternTable& table, const int32_t* row);

// Counts a row whose pattern the table holds already; returns its number,
// or -1, with nothing counted, when it holds no such pattern.
int32_t CountKnownRow(PatternTable& table, const int32_t* row);

// Counts one more row of a pattern the table holds.
inline void CountPattern(PatternTable& table, int32_t pattern) {
  ++table.counts[pattern];
  ++table.rows;
}

// Puts the patterns into ascending pattern order in `order`.
void OrderPatterns(PatternTable& table);

// Writes every counted row back into rows [0, table.rows) of the case
// matrix: each pattern as often as it came, in no particular order.
void ExpandPatterns(const PatternTable& table, int32_t* cases, int32_t ncases);
// Writes the key of every counted row into keys [0, table.rows), the
// packing holding every value: each pattern as often as it came.
void ExpandPatternKeys(const PatternTable& table, const Packing& packing, uint64_t* keys);
