// Packing the cases as they are read. A block's rows are packed once their
// values are known to fit the packing's fields; a value that does not makes
// the keys held so far be packed again, wider, into storage of their own.
#include "aggregation/reading/case_packing.h"

#include <algorithm>

#include "aggregation/core/matrix.h"

namespace {

// Storage for `ncases` keys of the packing, key i's words together; false
// when it cannot be had.
bool AllocateKeys(textio::ArrayDescriptor& storage, const Packing& packing, int32_t ncases) {
  storage = ArrayOf(sizeof(uint64_t), packing.words, ncases);
  int32_t status = 0;
  textio::AllocateArray(storage, &status);
  return status == 0;
}

// `packed` holds the keys in `storage`, of the packing.
void Hold(PackedCases& packed, const textio::ArrayDescriptor& storage, const Packing& packing) {
  packed.storage = storage;
  packed.keys = static_cast<uint64_t*>(storage.data);
  packed.packing = packing;
}

// A key of one packing as a key of another that holds its values: field
// after field, from the highest.
void Repack(const Packing& from, const uint64_t* key, const Packing& to, uint64_t* wider) {
  const uint64_t mask = (uint64_t{1} << from.bits) - 1;
  const auto offset = static_cast<uint32_t>(from.low) - static_cast<uint32_t>(to.low);
  uint64_t word = 0;
  int32_t inWord = 0;
  for (int32_t w = 0; w < from.words; ++w) {
    const int32_t fields = FieldsInWord(from, w);
    for (int32_t k = fields - 1; k >= 0; --k) {
      const auto field = static_cast<uint32_t>((key[w] >> (from.bits * k)) & mask) + offset;
      word = word << to.bits | field;
      if (++inWord == to.perWord) {
        *wider++ = word;
        word = 0;
        inWord = 0;
      }
    }
  }
  if (inWord > 0) *wider = word;
}

}  // namespace

ValueRange RangeOf(const int32_t* values, int64_t count) {
  int32_t smallest = values[0], largest = values[0];
  for (int64_t k = 1; k < count; ++k) {
    smallest = std::min(smallest, values[k]);
    largest = std::max(largest, values[k]);
  }
  return {smallest, largest};
}

bool TakeKeyStorage(PackedCases& packed, const Packing& packing, int32_t ncases) {
  textio::ArrayDescriptor storage;
  if (!AllocateKeys(storage, packing, ncases)) return false;
  Hold(packed, storage, packing);
  return true;
}

void ReleaseKeys(PackedCases& packed) {
  textio::ReleaseArray(packed.storage);
  packed.keys = nullptr;
}

void PackRows(const Packing& packing, const int32_t* rows, int32_t count, uint64_t* keys) {
  for (int32_t r = 0; r < count; ++r) {
    PackRow(packing, rows + static_cast<size_t>(r) * static_cast<size_t>(packing.nvars),
            keys + static_cast<size_t>(r) * static_cast<size_t>(packing.words));
  }
}

bool HoldsAll(const Packing& packing, const int32_t* values, int64_t count) {
  if (packing.bits == 32) return true;
  // A value below the lowest wraps round to a field too wide, as one above the highest is.
  const auto low = static_cast<uint32_t>(packing.low);
  uint32_t fields = 0;
  for (int64_t k = 0; k < count; ++k) fields |= static_cast<uint32_t>(values[k]) - low;
  return fields >> packing.bits == 0;
}

int32_t RowsHeld(const Packing& packing, const int32_t* rows, int32_t count) {
  const int32_t nvars = packing.nvars;
  if (HoldsAll(packing, rows, int64_t{count} * nvars)) return count;
  int32_t held = 0;
  while (held < count && HoldsAll(packing, rows + static_cast<size_t>(held) * static_cast<size_t>(nvars), nvars)) {
    ++held;
  }
  return held;
}

bool WidenKeys(PackedCases& packed, ValueRange range, int32_t held, int32_t ncases) {
  const Packing from = packed.packing;
  const ValueRange all = Union({from.low, Highest(from)}, range);
  const Packing to = PackingFor(from.nvars, all.smallest, all.largest);
  if (!SmallerThanRows(to)) return false;
  textio::ArrayDescriptor storage;
  if (!AllocateKeys(storage, to, ncases)) return false;
  auto* wider = static_cast<uint64_t*>(storage.data);
  for (int32_t i = 0; i < held; ++i) {
    Repack(from, packed.keys + static_cast<size_t>(i) * static_cast<size_t>(from.words), to,
           wider + static_cast<size_t>(i) * static_cast<size_t>(to.words));
  }
  ReleaseKeys(packed);
  Hold(packed, storage, to);
  return true;
}

void UnpackIntoColumns(const PackedCases& packed, int32_t held, int32_t* cases, int32_t ncases) {
  const Packing& packing = packed.packing;
  int32_t values[64];
  for (int32_t i = 0; i < held; ++i) {
    const uint64_t* key = packed.keys + static_cast<size_t>(i) * static_cast<size_t>(packing.words);
    int32_t j = 0;
    for (int32_t w = packing.words - 1; w >= 0; --w) {
      const int32_t fields = FieldsInWord(packing, w);
      UnpackWord(packing, key[w], fields, values);
      for (int32_t k = 0; k < fields; ++k, ++j) Column(cases, ncases, j)[i] = values[k];
    }
  }
}
