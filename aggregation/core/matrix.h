// The case matrix and what its orderings and countings share: element
// access, blocks of rows, array descriptors and the key fields. Includes
// nothing of the program's own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "textio/textio.h"

// Rows taken together while each column passes over them: a block's share of
// a few columns, or its keys, stays in the cache meanwhile.
inline constexpr int32_t kBlockRows = 4096;

// Values read into a block of rows at a time before they are moved into the
// columns or counted: the block stays in the cache meanwhile.
inline constexpr int64_t kBlockValues = 16384;

// Column j of the case matrix (element (case i, variable j) at
// i + j * ncases, both 0-based).
template <typename Element>
inline Element* Column(Element* cases, int32_t ncases, int64_t j) {
  return cases + static_cast<size_t>(j) * static_cast<size_t>(ncases);
}

// Asks for the cache line holding `address` ahead of its use, where the
// compiler offers that.
inline void Prefetch(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

// An array of `rows` by `columns` elements of `elementSize` bytes, the rows
// varying fastest, ready to be allocated.
inline textio::ArrayDescriptor ArrayOf(size_t elementSize, int64_t rows, int64_t columns = 1) {
  textio::ArrayDescriptor array{};
  array.elementSize = elementSize;
  array.rank = 2;
  array.bounds[0] = {1, rows};
  array.bounds[1] = {1, columns};
  return array;
}

// A column's place in the pattern key: its values less its smallest, in
// `width` bits below the key's `depth` highest bits. The last variable takes
// the highest bits, so that the key order is the pattern order.
struct KeyField {
  int32_t minimum;
  int32_t width;
  int64_t depth;
};
