// Cases held as packed keys while their values are narrow: each value, less
// the packing's lowest, in a field of the same few bits; the last variable in
// the highest bits of a key's first word, so that keys compared word after
// word, as unsigned numbers, stand in pattern order. The reading packs the
// cases, the ordering orders their keys, the writing takes the values back.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

#include "textio/textio.h"

// A case's place in its key. Variable j has position nvars - 1 - j; word w
// holds the positions from w * perWord on, the first of them in its highest
// field and the last in its lowest bits.
struct Packing {
  int32_t nvars;
  int32_t bits;     // of a field: 1 to 32
  int32_t low;      // the value a field of 0 stands for: 0, or -2^(bits - 1) once a value is negative
  int32_t perWord;  // fields in a word: 64 / bits
  int32_t words;    // words of a key
};

// The narrowest packing that holds every value from `smallest` to `largest`.
inline Packing PackingFor(int32_t nvars, int32_t smallest, int32_t largest) {
  const auto above = static_cast<int32_t>(std::bit_width(static_cast<uint32_t>(std::max(largest, 0))));
  const int32_t bits = smallest >= 0 ? std::max(above, 1)
                                     : 1 + std::max(above, static_cast<int32_t>(std::bit_width(
                                                               static_cast<uint32_t>(~smallest))));
  const auto low = static_cast<int32_t>(smallest >= 0 ? 0 : -(int64_t{1} << (bits - 1)));
  const int32_t perWord = 64 / bits;
  return {nvars, bits, low, perWord, (nvars + perWord - 1) / perWord};
}

// The largest value a field holds.
inline int32_t Highest(const Packing& packing) {
  return static_cast<int32_t>(int64_t{packing.low} + (int64_t{1} << packing.bits) - 1);
}

// Whether a key takes fewer bytes than the case's row of the case matrix:
// the cases are packed only then.
inline bool SmallerThanRows(const Packing& packing) { return int64_t{8} * packing.words < int64_t{4} * packing.nvars; }

inline int32_t FieldsInWord(const Packing& packing, int32_t word) {
  return std::min(packing.perWord, packing.nvars - word * packing.perWord);
}

// The key of a row of nvars values, each held by the packing. Second thread
// too: touches only the row and the key.
inline void PackRow(const Packing& packing, const int32_t* row, uint64_t* key) {
  const auto low = static_cast<uint32_t>(packing.low);
  int32_t j = packing.nvars - 1;
  for (int32_t w = 0; w < packing.words; ++w) {
    const int32_t last = std::max(j - packing.perWord, -1);
    uint64_t word = 0;
    for (; j > last; --j) word = word << packing.bits | (static_cast<uint32_t>(row[j]) - low);
    key[w] = word;
  }
}

// The `fields` values of a key's word, the lowest variable first. Second
// thread too: touches only the values.
inline void UnpackWord(const Packing& packing, uint64_t word, int32_t fields, int32_t* values) {
  const uint64_t mask = (uint64_t{1} << packing.bits) - 1;
  const auto low = static_cast<uint32_t>(packing.low);
  for (int32_t k = 0; k < fields; ++k) {
    values[k] = static_cast<int32_t>(static_cast<uint32_t>((word >> (packing.bits * k)) & mask) + low);
  }
}

// The keys of a run's cases, in storage of their own got from the layer;
// none while `keys` is null.
struct PackedCases {
  Packing packing{};
  uint64_t* keys = nullptr;  // key i from keys[i * packing.words] on
  textio::ArrayDescriptor storage{};

  PackedCases() = default;
  ~PackedCases() {
    if (keys != nullptr) textio::ReleaseArray(storage);
  }
  PackedCases(const PackedCases&) = delete;
  PackedCases& operator=(const PackedCases&) = delete;
};
