// Ordering wide rows that repeat few patterns: the rows are counted by
// pattern in a small table, the distinct patterns ordered among themselves,
// and the matrix written anew from them, each pattern as often as it came.
// A row is found in the table by a hash of its values and then compared
// with the pattern stored there, value by value.
#include <algorithm>
#include <cstring>

#include "aggregation/case_order.h"

namespace {

constexpr int32_t kBlockRows = 4096;                     // rows hashed and compared together
constexpr int32_t kMostPatterns = 1 << 15;                 // distinct patterns counted at most
constexpr int64_t kPatternBytes = int64_t{8} << 20;        // and the room for their values
constexpr uint32_t kTableSlots = 2 * kMostPatterns;        // at most half of them in use
constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

struct Slot {
  uint64_t hash;
  int32_t pattern;  // -1: free
};

// The table, the patterns found so far (their values row by row) and their counts.
struct Tally {
  Slot* slots;
  int32_t* values;
  int64_t* counts;
  int32_t patterns, most;
  int32_t nvars;
};

uint32_t SlotOf(uint64_t hash) { return static_cast<uint32_t>((hash * kMultiplier) >> 48) & (kTableSlots - 1); }

// The pattern of each row of the block by its hash, new patterns copied in;
// false when there are too many of them.
bool FindPatterns(Tally& tally, const int32_t* cases, int32_t ncases, int32_t first, int32_t rows,
                  const uint64_t* hashes, int32_t* found) {
  for (int32_t i = 0; i < rows; ++i) {
    uint32_t slot = SlotOf(hashes[i]);
    while (tally.slots[slot].pattern >= 0 && tally.slots[slot].hash != hashes[i]) slot = (slot + 1) & (kTableSlots - 1);
    if (tally.slots[slot].pattern < 0) {
      if (tally.patterns == tally.most) return false;
      int32_t* pattern = tally.values + static_cast<size_t>(tally.patterns) * static_cast<size_t>(tally.nvars);
      for (int32_t j = 0; j < tally.nvars; ++j) pattern[j] = Column(const_cast<int32_t*>(cases), ncases, j)[first + i];
      tally.slots[slot] = {hashes[i], tally.patterns++};
    }
    found[i] = tally.slots[slot].pattern;
    ++tally.counts[found[i]];
  }
  return true;
}

}  // namespace

bool OrderByCounting(int32_t ncases, int32_t nvars, int32_t* cases) {
  int32_t most = static_cast<int32_t>(std::min<int64_t>(kMostPatterns, kPatternBytes / (4 * int64_t{nvars})));
  if (most < 2) return false;
  Scratch table(int64_t{kTableSlots} * static_cast<int64_t>(sizeof(Slot)));
  Scratch values(int64_t{most} * nvars * 4);
  Scratch counts(int64_t{most} * 8 + int64_t{most} * 4);
  if (table.data == nullptr || values.data == nullptr || counts.data == nullptr) return false;
  Tally tally{reinterpret_cast<Slot*>(table.data), reinterpret_cast<int32_t*>(values.data),
              reinterpret_cast<int64_t*>(counts.data), 0, most, nvars};
  for (uint32_t s = 0; s < kTableSlots; ++s) tally.slots[s].pattern = -1;

  uint64_t hashes[kBlockRows];
  int32_t found[kBlockRows];
  for (int32_t first = 0; first < ncases; first += kBlockRows) {
    int32_t rows = std::min(kBlockRows, ncases - first);
    std::fill_n(hashes, rows, uint64_t{0});
    for (int32_t j = 0; j < nvars; ++j) {
      const int32_t* column = Column(cases, ncases, j) + first;
      for (int32_t i = 0; i < rows; ++i) hashes[i] = (hashes[i] ^ static_cast<uint32_t>(column[i])) * kMultiplier + 1;
    }
    if (!FindPatterns(tally, cases, ncases, first, rows, hashes, found)) return false;
    // Equal hashes of different patterns would merge them: every value is compared.
    bool differ = false;
    for (int32_t j = 0; j < nvars; ++j) {
      const int32_t* column = Column(cases, ncases, j) + first;
      for (int32_t i = 0; i < rows; ++i) {
        differ |= column[i] != tally.values[static_cast<size_t>(found[i]) * static_cast<size_t>(nvars) + static_cast<size_t>(j)];
      }
    }
    if (differ) return false;
  }

  // The patterns in pattern order, then the matrix written anew column by column.
  auto* order = reinterpret_cast<int32_t*>(counts.data + int64_t{most} * 8);
  for (int32_t p = 0; p < tally.patterns; ++p) order[p] = p;
  const int32_t* stored = tally.values;
  std::sort(order, order + tally.patterns, [stored, nvars](int32_t a, int32_t b) {
    const int32_t* x = stored + static_cast<size_t>(a) * static_cast<size_t>(nvars);
    const int32_t* y = stored + static_cast<size_t>(b) * static_cast<size_t>(nvars);
    for (int32_t j = nvars - 1; j >= 0; --j) {
      if (x[j] != y[j]) return x[j] < y[j];
    }
    return false;
  });
  for (int32_t j = 0; j < nvars; ++j) {
    int32_t* column = Column(cases, ncases, j);
    for (int32_t p = 0; p < tally.patterns; ++p) {
      int32_t pattern = order[p];
      column = std::fill_n(column, tally.counts[pattern], stored[static_cast<size_t>(pattern) * static_cast<size_t>(nvars) + static_cast<size_t>(j)]);
    }
  }
  return true;
}
