// Counting rows by response pattern in a hash table. A row's slot comes from
// a hash of its values; a row whose hash matches is compared with the stored
// pattern value by value, so equal hashes never merge different patterns.
#include "aggregation/pattern_table.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr int32_t kMostPatterns = 1 << 15;
constexpr int64_t kPatternBytes = int64_t{4} << 20;  // the stored patterns' values at most
constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

// Four lanes of eight bytes each take a quarter of the row, so that the
// multiplications do not wait on one another; the lanes and the rest are
// then folded into one.
uint64_t HashRow(const int32_t* row, int32_t nvars) {
  uint64_t lanes[4] = {1, 2, 3, 4};
  int32_t j = 0;
  for (; j + 8 <= nvars; j += 8) {
    for (int k = 0; k < 4; ++k) {
      uint64_t word;
      std::memcpy(&word, row + j + 2 * k, sizeof word);
      lanes[k] = (lanes[k] ^ word) * kMultiplier;
    }
  }
  uint64_t hash = lanes[0] ^ std::rotl(lanes[1], 16) ^ std::rotl(lanes[2], 32) ^ std::rotl(lanes[3], 48);
  for (; j < nvars; ++j) hash = (hash ^ static_cast<uint32_t>(row[j])) * kMultiplier;
  // Multiplying carries bits upwards only: the high half is brought down
  // before the last one, whose high bits then choose the slot.
  return (hash ^ (hash >> 32)) * kMultiplier;
}

// Storage for the table's parts, one after the other.
int64_t SlotBytes(int slotBits) { return (int64_t{1} << slotBits) * static_cast<int64_t>(sizeof(PatternSlot)); }
int64_t StorageBytes(int32_t nvars, int32_t capacity, int slotBits) {
  return SlotBytes(slotBits) + int64_t{capacity} * (int64_t{nvars} * 4 + 8 + 4);
}

}  // namespace

int32_t CountingCapacity(int32_t nvars) {
  return static_cast<int32_t>(std::min<int64_t>(kMostPatterns, kPatternBytes / (int64_t{4} * nvars)));
}

// At most half of the slots are ever in use.
PatternTable::PatternTable(int32_t variables, int32_t most)
    : nvars(variables), capacity(most), slotBits(std::bit_width(static_cast<uint32_t>(std::max(most, 1))) + 1),
      storage(most > 0 ? StorageBytes(variables, most, slotBits) : 0) {
  if (storage.data == nullptr || most <= 0) {
    capacity = 0;
    return;
  }
  unsigned char* next = storage.data;
  slots = reinterpret_cast<PatternSlot*>(next);
  next += SlotBytes(slotBits);
  counts = reinterpret_cast<int64_t*>(next);
  next += int64_t{capacity} * 8;
  values = reinterpret_cast<int32_t*>(next);
  next += int64_t{capacity} * nvars * 4;
  order = reinterpret_cast<int32_t*>(next);
  std::fill_n(slots, size_t{1} << slotBits, PatternSlot{0, -1});
}

int32_t CountRows(PatternTable& table, const int32_t* rows, int32_t count) {
  const auto width = static_cast<size_t>(table.nvars);
  const uint32_t mask = (uint32_t{1} << table.slotBits) - 1;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t* row = rows + static_cast<size_t>(i) * width;
    uint64_t hash = HashRow(row, table.nvars);
    auto slot = static_cast<uint32_t>(hash >> (64 - table.slotBits));
    auto check = static_cast<uint32_t>(hash);
    for (;; slot = (slot + 1) & mask) {
      PatternSlot& s = table.slots[slot];
      if (s.pattern < 0) {
        if (table.patterns == table.capacity) return i;
        s = {check, table.patterns};
        std::copy_n(row, width, table.values + static_cast<size_t>(table.patterns) * width);
        table.counts[table.patterns++] = 1;
        break;
      }
      if (s.check == check &&
          std::memcmp(table.values + static_cast<size_t>(s.pattern) * width, row, width * sizeof(int32_t)) == 0) {
        ++table.counts[s.pattern];
        break;
      }
    }
    ++table.rows;
  }
  return count;
}

void OrderPatterns(PatternTable& table) {
  const int32_t* values = table.values;
  const int32_t nvars = table.nvars;
  for (int32_t p = 0; p < table.patterns; ++p) table.order[p] = p;
  std::sort(table.order, table.order + table.patterns, [values, nvars](int32_t a, int32_t b) {
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
    for (int32_t p = 0; p < table.patterns; ++p) {
      column = std::fill_n(column, table.counts[p], table.values[static_cast<size_t>(p) * static_cast<size_t>(table.nvars) + static_cast<size_t>(j)]);
    }
  }
}
