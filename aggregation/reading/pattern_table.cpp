// Counting rows by response pattern in the program's hash table, keyed by
// the bytes of each row's values.
#include "aggregation/reading/pattern_table.h"

#include <algorithm>

namespace {

constexpr int64_t kPatternBytes = int64_t{4} << 20;  // the stored patterns' values at most

int64_t RowBytes(int32_t nvars) { return int64_t{4} * nvars; }

// The counts and the order beside the hash table.
int64_t StorageBytes(int32_t nvars, int32_t capacity) {
  return KeyTableBytes(capacity, int64_t{capacity} * RowBytes(nvars)) + int64_t{capacity} * (8 + 4);
}

}  // namespace

int32_t CountingCapacity(int32_t nvars) {
  return static_cast<int32_t>(std::min<int64_t>(kMostCountedPatterns, kPatternBytes / RowBytes(nvars)));
}

PatternTable::PatternTable(int32_t variables, int32_t most)
    : nvars(variables), capacity(most), storage(most > 0 ? StorageBytes(variables, most) : 0) {
  if (storage.data == nullptr || most <= 0) {
    capacity = 0;
    return;
  }
  // The counts first, then the table, then the order: each part aligned for its elements.
  const int64_t keyRoom = int64_t{capacity} * RowBytes(nvars);
  counts = reinterpret_cast<int64_t*>(storage.data);
  MakeKeyTable(patterns, capacity, keyRoom, storage.data + int64_t{capacity} * 8);
  order = reinterpret_cast<int32_t*>(storage.data + int64_t{capacity} * 8 + KeyTableBytes(capacity, keyRoom));
  values = reinterpret_cast<const int32_t*>(patterns.bytes);
}

int32_t CountRow(PatternTable& table, const int32_t* row) {
  const auto length = static_cast<size_t>(RowBytes(table.nvars));
  uint64_t hash = HashBytes(row, length);
  int32_t pattern = FindKey(table.patterns, row, length, hash);
  if (pattern < 0) {
    pattern = AddKey(table.patterns, row, length, hash);
    if (pattern < 0) return -1;
  }
  CountPattern(table, pattern);
  return pattern;
}

int32_t CountKnownRow(PatternTable& table, const int32_t* row) {
  const auto length = static_cast<size_t>(RowBytes(table.nvars));
  const int32_t pattern = FindKey(table.patterns, row, length, HashBytes(row, length));
  if (pattern >= 0) CountPattern(table, pattern);
  return pattern;
}

void OrderPatterns(PatternTable& table) {
  const int32_t* values = table.values;
  const int32_t nvars = table.nvars;
  const int32_t patterns = table.patterns.keys;
  for (int32_t p = 0; p < patterns; ++p) table.order[p] = p;
  std::sort(table.order, table.order + patterns, [values, nvars](int32_t a, int32_t b) {
    const int32_t* x = values + static_cast<size_t>(a) * static_cast<size_t>(nvars);
    const int32_t* y = values + static_cast<size_t>(b) * static_cast<size_t>(nvars);
    for (int32_t j = nvars - 1; j >= 0; --j) {
      if (x[j] != y[j]) return x[j] < y[j];
    }
    return false;
  });
}

void ExpandPatterns(const PatternTable& table, int32_t* cases, int32_t ncases) {
  for (int32_t j = 0; j < table.nvars; ++j) {
    int32_t* column = Column(cases, ncases, j);
    for (int32_t p = 0; p < table.patterns.keys; ++p) {
      column = std::fill_n(column, table.counts[p],
                           table.values[static_cast<size_t>(p) * static_cast<size_t>(table.nvars) + static_cast<size_t>(j)]);
    }
  }
}

void ExpandPatternKeys(const PatternTable& table, const Packing& packing, uint64_t* keys) {
  const auto words = static_cast<size_t>(packing.words);
  for (int32_t p = 0; p < table.patterns.keys; ++p) {
    PackRow(packing, table.values + static_cast<size_t>(p) * static_cast<size_t>(table.nvars), keys);
    for (int64_t copy = 1; copy < table.counts[p]; ++copy) std::copy_n(keys, words, keys + copy * words);
    keys += static_cast<size_t>(table.counts[p]) * words;
  }
}
