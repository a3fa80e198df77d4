// Ordering the case matrix by keys: each column's range decides its bits in
// a key whose order is the pattern order. Keys of up to 64 bits are packed
// whole; wider ones are ordered by windows (wide_order.cpp). Without scratch
// storage the rows are heap-sorted in place. Packed cases are ordered by
// their own keys, through scratch storage where it can be had.
#include "aggregation/ordering/case_order.h"

#include <algorithm>
#include <utility>

#include "aggregation/core/matrix.h"
#include "aggregation/core/scratch.h"
#include "aggregation/ordering/bucket_sort.h"
#include "aggregation/ordering/key_sort.h"
#include "aggregation/ordering/wide_order.h"

namespace {

// The whole pattern in one 64-bit key. A column of one value needs no place
// in the key: it stays as it is. Keys are made and taken apart a block of
// rows at a time.
bool OrderPacked(const KeyPlan& key) {
  const int32_t ncases = key.ncases;
  Scratch scratch(int64_t{8} * ncases);
  if (scratch.data == nullptr) return false;
  auto* keys = reinterpret_cast<uint64_t*>(scratch.data);
  // A field's shift: the key's bits below it.
  auto shift = [&key](const KeyField& field) { return key.bits - field.depth - field.width; };
  for (int32_t first = 0; first < ncases; first += kBlockRows) {
    int32_t last = std::min(ncases, first + kBlockRows);
    for (int32_t j = 0; j < key.nvars; ++j) {
      const KeyField& field = key.fields[j];
      if (field.width == 0) continue;
      const int32_t* column = Column(key.cases, ncases, j);
      int64_t below = shift(field);
      for (int32_t i = first; i < last; ++i) {
        keys[i] |= static_cast<uint64_t>(static_cast<int64_t>(column[i]) - field.minimum) << below;
      }
    }
  }
  SortKeys(keys, static_cast<size_t>(ncases), static_cast<int>(key.bits));
  for (int32_t first = 0; first < ncases; first += kBlockRows) {
    int32_t last = std::min(ncases, first + kBlockRows);
    for (int32_t j = 0; j < key.nvars; ++j) {
      const KeyField& field = key.fields[j];
      if (field.width == 0) continue;
      uint64_t mask = field.width >= 64 ? ~uint64_t{0} : (uint64_t{1} << field.width) - 1;
      int32_t* column = Column(key.cases, ncases, j);
      int64_t below = shift(field);
      for (int32_t i = first; i < last; ++i) {
        column[i] = static_cast<int32_t>(static_cast<int64_t>((keys[i] >> below) & mask) + field.minimum);
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
  KeyPlan key{cases, ncases, nvars, reinterpret_cast<KeyField*>(plan.data), nvars, 0};
  PlanKeyFields(key, 64);
  if (key.bits <= 64) return OrderPacked(key);
  return OrderByKeyWindows(key);
}

void OrderInPlace(int32_t ncases, int32_t nvars, int32_t* cases) {
  for (int64_t root = ncases / 2 - 1; root >= 0; --root) SiftDown(cases, ncases, nvars, root, ncases);
  for (int64_t size = ncases - 1; size > 0; --size) {
    SwapRows(cases, ncases, nvars, 0, size);
    SiftDown(cases, ncases, nvars, 0, size);
  }
}

void OrderPackedCases(PackedCases& packed, int32_t ncases) {
  const Packing& packing = packed.packing;
  const auto count = static_cast<size_t>(ncases), words = static_cast<size_t>(packing.words);
  // Keys and scratch together take no more than the rows of the matrix and
  // the 8 bytes a case its ordering takes.
  if (int64_t{16} * packing.words <= int64_t{4} * packing.nvars + 8) {
    Scratch scratch(int64_t{8} * ncases * packing.words);
    if (scratch.data != nullptr) {
      // Every page of the scratch is written: large pages cost no more.
      textio::PreferLargePages(scratch.array);
      SortKeysThrough(packed.keys, reinterpret_cast<uint64_t*>(scratch.data), count, words);
      return;
    }
  }
  if (words == 1) {
    SortKeys(packed.keys, count, packing.bits * packing.nvars);
  } else {
    SortKeyRecords(packed.keys, count, words);
  }
}
