// Ordering the case matrix by keys: each column's range decides its bits in
// a key whose order is the pattern order. Keys of up to 64 bits are packed
// whole; wider ones are ordered by windows (wide_order.cpp). Without scratch
// storage the rows are heap-sorted in place.
#include "aggregation/case_order.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "aggregation/key_sort.h"
#include "aggregation/matrix.h"
#include "aggregation/scratch.h"
#include "aggregation/wide_order.h"

namespace {

// Each column's smallest value and bit width; returns the key's width in bits.
int64_t PlanKeyFields(int32_t ncases, int32_t nvars, int32_t* cases, KeyField* fields) {
  int64_t bits = 0;
  for (int32_t j = 0; j < nvars; ++j) {
    const int32_t* column = Column(cases, ncases, j);
    int32_t low = column[0], high = column[0];
    for (int32_t i = 1; i < ncases; ++i) {
      low = std::min(low, column[i]);
      high = std::max(high, column[i]);
    }
    int width = std::bit_width(static_cast<uint64_t>(static_cast<int64_t>(high) - low));
    fields[j] = {low, width, bits};
    bits += width;
  }
  return bits;
}

// The whole pattern in one 64-bit key. A column of one value needs no place
// in the key: it stays as it is. Keys are made and taken apart a block of
// rows at a time.
bool OrderPacked(int32_t ncases, int32_t nvars, int32_t* cases, const KeyField* fields, int bits) {
  Scratch scratch(int64_t{8} * ncases);
  if (scratch.data == nullptr) return false;
  auto* keys = reinterpret_cast<uint64_t*>(scratch.data);
  for (int32_t first = 0; first < ncases; first += kBlockRows) {
    int32_t last = std::min(ncases, first + kBlockRows);
    for (int32_t j = 0; j < nvars; ++j) {
      const KeyField& field = fields[j];
      if (field.width == 0) continue;
      const int32_t* column = Column(cases, ncases, j);
      for (int32_t i = first; i < last; ++i) {
        keys[i] |= static_cast<uint64_t>(static_cast<int64_t>(column[i]) - field.minimum) << field.shift;
      }
    }
  }
  SortKeys(keys, static_cast<size_t>(ncases), bits);
  for (int32_t first = 0; first < ncases; first += kBlockRows) {
    int32_t last = std::min(ncases, first + kBlockRows);
    for (int32_t j = 0; j < nvars; ++j) {
      const KeyField& field = fields[j];
      if (field.width == 0) continue;
      uint64_t mask = field.width >= 64 ? ~uint64_t{0} : (uint64_t{1} << field.width) - 1;
      int32_t* column = Column(cases, ncases, j);
      for (int32_t i = first; i < last; ++i) {
        column[i] = static_cast<int32_t>(static_cast<int64_t>((keys[i] >> field.shift) & mask) + field.minimum);
      }
    }
  }
  return true;
}

// Row a greater than row b in the pattern order.
bool RowGreater(int32_t* cases, int32_t ncases, int32_t nvars, int64_t a, int64_t b) {
  for (int32_t j = nvars - 1; j >= 0; --j) {
    const int32_t* column = Column(cases, ncases, j);
    if (column[a] != column[b]) return column[a] > column[b];
  }
  return false;
}

void SwapRows(int32_t* cases, int32_t ncases, int32_t nvars, int64_t a, int64_t b) {
  for (int32_t j = 0; j < nvars; ++j) {
    int32_t* column = Column(cases, ncases, j);
    std::swap(column[a], column[b]);
  }
}

// Moves row `root` down the heap of rows [0, size) until no child is greater.
void SiftDown(int32_t* cases, int32_t ncases, int32_t nvars, int64_t root, int64_t size) {
  for (;;) {
    int64_t child = 2 * root + 1;
    if (child >= size) return;
    if (child + 1 < size && RowGreater(cases, ncases, nvars, child + 1, child)) ++child;
    if (!RowGreater(cases, ncases, nvars, child, root)) return;
    SwapRows(cases, ncases, nvars, root, child);
    root = child;
  }
}

}  // namespace

bool OrderByKeys(int32_t ncases, int32_t nvars, int32_t* cases) {
  Scratch plan(static_cast<int64_t>(sizeof(KeyField)) * nvars);
  if (plan.data == nullptr) return false;
  auto* fields = reinterpret_cast<KeyField*>(plan.data);
  int64_t bits = PlanKeyFields(ncases, nvars, cases, fields);
  if (bits <= 64) return OrderPacked(ncases, nvars, cases, fields, static_cast<int>(bits));
  return OrderByKeyWindows(ncases, nvars, cases, fields, bits);
}

void OrderInPlace(int32_t ncases, int32_t nvars, int32_t* cases) {
  for (int64_t root = ncases / 2 - 1; root >= 0; --root) SiftDown(cases, ncases, nvars, root, ncases);
  for (int64_t size = ncases - 1; size > 0; --size) {
    SwapRows(cases, ncases, nvars, 0, size);
    SiftDown(cases, ncases, nvars, 0, size);
  }
}
