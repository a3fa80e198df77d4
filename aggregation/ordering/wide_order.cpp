// Ordering rows whose keys are wider than 64 bits. Each row gets an 8-byte
// entry: a window of its key's bits above its row number. The entries are
// ordered by the highest window, runs of equal windows by the next window,
// and so on down the key. The columns in the highest window are then taken
// from the entries, and every other column is rearranged by the row numbers.
#include "aggregation/ordering/wide_order.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

#include "aggregation/core/scratch.h"
#include "aggregation/core/side_by_side.h"
#include "aggregation/ordering/key_sort.h"

namespace {
// A second thread gathers half of the columns when its own column of scratch
// is no more than this and there is work enough to pay for the thread.
constexpr int64_t kSecondGatherBytes = int64_t{8} << 20;
constexpr int64_t kSecondGatherValues = int64_t{1} << 22;
// Values a gather asks for ahead of their use: their rows are known, their
// places in the column are not near one another.
constexpr size_t kGatherAhead = 32;

// The key's fields and how its windows lie on the entries.
struct WindowPlan {
  KeyPlan& key;
  int windowBits;     // the bits above the row number
  uint64_t rowMask;
};

// Key bits below its `depth` highest, `length` of them, and the columns
// that hold some of them; the last window reaches the key's lowest bit.
struct Window {
  int64_t depth;
  int length;
  int32_t firstColumn, lastColumn;
  bool last;
};

// The window at `level`: level 0 holds the key's highest bits. The columns
// it needs are planned.
Window WindowAt(WindowPlan& plan, int64_t level) {
  KeyPlan& key = plan.key;
  int64_t depth = level * plan.windowBits;
  PlanKeyFields(key, depth + plan.windowBits);
  int64_t end = std::min(depth + plan.windowBits, key.bits);
  // Fields deeper in the key belong to lower columns.
  const KeyField* planned = key.fields + key.lowest;
  const KeyField* fieldsEnd = key.fields + key.nvars;
  const KeyField* first = std::partition_point(planned, fieldsEnd, [end](const KeyField& f) { return f.depth >= end; });
  const KeyField* last =
      std::partition_point(first, fieldsEnd, [depth](const KeyField& f) { return f.depth + f.width > depth; });
  return {depth, static_cast<int>(end - depth), static_cast<int32_t>(first - key.fields),
          static_cast<int32_t>(last - key.fields) - 1, key.lowest == 0 && end == key.bits};
}

// A column's value, less its smallest, moved to its place in the window;
// bits above the window are cut off by the caller.
inline uint64_t Placed(const KeyField& field, int32_t value, const Window& w) {
  auto bits = static_cast<uint64_t>(static_cast<int64_t>(value) - field.minimum);
  int64_t below = w.depth + w.length - field.depth - field.width;  // the window's bits below the field
  return below >= 0 ? bits << below : bits >> -below;
}

inline uint64_t Entry(uint64_t window, const Window& w, uint64_t row) {
  uint64_t mask = (uint64_t{1} << w.length) - 1;
  return ((window & mask) << (64 - w.length)) | row;
}

// Entries[0..count) with the window `w` of the rows they hold.
void FillWindow(const WindowPlan& plan, const Window& w, uint64_t* entries, size_t count) {
  const KeyPlan& key = plan.key;
  for (size_t k = 0; k < count; ++k) {
    uint64_t row = entries[k] & plan.rowMask;
    uint64_t window = 0;
    for (int32_t j = w.firstColumn; j <= w.lastColumn; ++j) {
      const KeyField& field = key.fields[j];
      if (field.width != 0) window |= Placed(field, Column(key.cases, key.ncases, j)[row], w);
    }
    entries[k] = Entry(window, w, row);
  }
}

// Every row's entry with the highest window, one block of rows at a time.
void FillFirstWindow(const WindowPlan& plan, const Window& w, uint64_t* entries) {
  const KeyPlan& key = plan.key;
  for (int32_t first = 0; first < key.ncases; first += kBlockRows) {
    int32_t last = std::min(key.ncases, first + kBlockRows);
    for (int32_t j = w.firstColumn; j <= w.lastColumn; ++j) {
      const KeyField& field = key.fields[j];
      if (field.width == 0) continue;
      const int32_t* column = Column(key.cases, key.ncases, j);
      for (int32_t i = first; i < last; ++i) entries[i] |= Placed(field, column[i], w);
    }
    for (int32_t i = first; i < last; ++i) entries[i] = Entry(entries[i], w, static_cast<uint64_t>(i));
  }
}

// The end of the run of entries from `start` on that agree in the top `length` bits.
size_t RunEnd(const uint64_t* entries, size_t start, size_t count, int length) {
  size_t end = start + 1;
  while (end < count && (entries[start] ^ entries[end]) >> (64 - length) == 0) ++end;
  return end;
}

// Orders entries[0..count), which hold the window at `level`, by the rest of
// the key. Every run of equal windows but the largest is ordered by a call
// of its own; the largest is taken next by the loop, so that the calls nest
// no deeper than the halvings of the count.
void OrderEntries(WindowPlan& plan, uint64_t* entries, size_t count, int64_t level) {
  for (;;) {
    Window w = WindowAt(plan, level);
    SortKeyPrefixes(entries, count, 64 - w.length);
    if (w.last) return;
    std::optional<Window> next;  // planned once a run of equal windows needs it
    size_t largestStart = 0, largestSize = 0;
    for (size_t start = 0, end; start < count; start = end) {
      end = RunEnd(entries, start, count, w.length);
      size_t size = end - start;
      if (size < 2) continue;
      size_t ordered = start;  // the run to order now: this one or the largest so far
      if (size > largestSize) {
        std::swap(ordered, largestStart);
        std::swap(size, largestSize);
      }
      if (size > 1) {
        if (!next) next = WindowAt(plan, level + 1);
        FillWindow(plan, *next, entries + ordered, size);
        OrderEntries(plan, entries + ordered, size, level + 1);
      }
    }
    if (largestSize < 2) return;
    entries += largestStart;
    count = largestSize;
    if (!next) next = WindowAt(plan, level + 1);
    FillWindow(plan, *next, entries, count);
    ++level;
  }
}

// Orders all entries, which hold the highest window. Runs of equal windows
// are ordered by the lower windows and get their highest window back, so
// that the columns lying wholly in it can be taken from the entries.
void OrderAllEntries(WindowPlan& plan, uint64_t* entries, const Window& w) {
  auto count = static_cast<size_t>(plan.key.ncases);
  SortKeyPrefixes(entries, count, 64 - w.length);
  if (w.last) return;
  std::optional<Window> next;  // planned once a run of equal windows needs it
  for (size_t start = 0, end; start < count; start = end) {
    end = RunEnd(entries, start, count, w.length);
    if (end - start < 2) continue;
    uint64_t window = entries[start] & ~plan.rowMask;
    if (!next) next = WindowAt(plan, 1);
    FillWindow(plan, *next, entries + start, end - start);
    OrderEntries(plan, entries + start, end - start, 1);
    for (size_t k = start; k < end; ++k) entries[k] = window | (entries[k] & plan.rowMask);
  }
}

// Whether a column lies wholly in the window.
bool InWindow(const KeyField& field, const Window& w) {
  return field.depth >= w.depth && field.depth + field.width <= w.depth + w.length;
}

// The columns lying wholly in the highest window, taken from the ordered
// entries a block of rows at a time.
void UnpackWindowColumns(const WindowPlan& plan, const uint64_t* entries, const Window& w) {
  const KeyPlan& key = plan.key;
  for (int32_t first = 0; first < key.ncases; first += kBlockRows) {
    int32_t last = std::min(key.ncases, first + kBlockRows);
    for (int32_t j = w.firstColumn; j <= w.lastColumn; ++j) {
      const KeyField& field = key.fields[j];
      if (field.width == 0 || !InWindow(field, w)) continue;
      int shift = static_cast<int>(64 + w.depth - field.depth - field.width);
      uint64_t mask = (uint64_t{1} << field.width) - 1;
      int32_t* column = Column(key.cases, key.ncases, j);
      for (int32_t i = first; i < last; ++i) {
        column[i] = static_cast<int32_t>(static_cast<int64_t>((entries[i] >> shift) & mask) + field.minimum);
      }
    }
  }
}

}  // namespace

void PlanKeyFields(KeyPlan& key, int64_t bits) {
  while (key.lowest > 0 && key.bits <= bits) {
    int32_t j = --key.lowest;
    const int32_t* column = Column(key.cases, key.ncases, j);
    int32_t low = column[0], high = column[0];
    for (int32_t i = 1; i < key.ncases; ++i) {
      low = std::min(low, column[i]);
      high = std::max(high, column[i]);
    }
    int width = std::bit_width(static_cast<uint64_t>(static_cast<int64_t>(high) - low));
    key.fields[j] = {low, width, key.bits};
    key.bits += width;
  }
}

bool OrderByKeyWindows(KeyPlan& key) {
  const int32_t ncases = key.ncases, nvars = key.nvars;
  int32_t* const cases = key.cases;
  auto n = static_cast<size_t>(ncases);
  Scratch scratch(int64_t{8} * ncases);
  if (scratch.data == nullptr) return false;
  int rowBits = std::bit_width(static_cast<uint32_t>(ncases - 1));
  WindowPlan plan{key, 64 - rowBits, (uint64_t{1} << rowBits) - 1};
  auto* entries = reinterpret_cast<uint64_t*>(scratch.data);
  Window highest = WindowAt(plan, 0);
  FillFirstWindow(plan, highest, entries);
  OrderAllEntries(plan, entries, highest);
  UnpackWindowColumns(plan, entries, highest);

  // The row numbers move to the first half of the scratch; the second half
  // takes each other column in its new order before it is copied back.
  for (size_t k = 0; k < n; ++k) {
    uint64_t entry;
    std::memcpy(&entry, scratch.data + 8 * k, sizeof entry);
    auto row = static_cast<uint32_t>(entry & plan.rowMask);
    std::memcpy(scratch.data + 4 * k, &row, sizeof row);
  }
  const auto* rows = reinterpret_cast<const uint32_t*>(scratch.data);
  // Second thread too: touches only its own columns and `moved`; raises no report.
  auto gather = [&](int32_t firstColumn, int32_t lastColumn, int32_t* moved) {
    for (int32_t j = firstColumn; j < lastColumn; ++j) {
      // One value throughout, or in place already: nothing to move.
      if (j >= key.lowest && (key.fields[j].width == 0 || InWindow(key.fields[j], highest))) continue;
      int32_t* column = Column(cases, ncases, j);
      for (size_t k = 0; k < n; ++k) {
        if (k + kGatherAhead < n) Prefetch(column + rows[k + kGatherAhead]);
        moved[k] = column[rows[k]];
      }
      std::copy(moved, moved + n, column);
    }
  };
  auto* moved = reinterpret_cast<int32_t*>(scratch.data + 4 * n);
  bool shared = int64_t{4} * ncases <= kSecondGatherBytes && int64_t{ncases} * nvars >= kSecondGatherValues;
  Scratch second(shared ? int64_t{4} * ncases : 0);
  if (shared && second.data != nullptr) {
    auto* secondMoved = reinterpret_cast<int32_t*>(second.data);
    RunSideBySide([&]() noexcept { gather(nvars / 2, nvars, secondMoved); },
                  [&]() noexcept { gather(0, nvars / 2, moved); });
  } else {
    gather(0, nvars, moved);
  }
  return true;
}
