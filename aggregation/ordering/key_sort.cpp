// Ordering 64-bit pattern keys in place: a radix sort orders them eight bits
// at a time from the most significant, moving each key straight to its
// bucket; with many keys, two threads order the buckets.
#include "aggregation/ordering/key_sort.h"

#include <algorithm>

#include "aggregation/core/side_by_side.h"

namespace {

constexpr size_t kSmallRun = 48;  // fewer keys than this are ordered by insertion

constexpr size_t kSharedKeys = size_t{1} << 20;  // from this many keys on, two threads share the work

// The buckets of one radix pass, each to be ordered by the bits below.
struct Buckets {
  uint64_t* keys;
  const size_t* sizes;
  const size_t* end;
  int below, lowest;
};

void RadixSort(uint64_t* keys, size_t count, int shift, int lowest, bool shared);
void SortBuckets(const Buckets& buckets, int first, int last, bool shared);
void SortSharedBuckets(const Buckets& buckets, size_t count);

void InsertionSort(uint64_t* keys, size_t count) {
  for (size_t i = 1; i < count; ++i) {
    uint64_t key = keys[i];
    size_t j = i;
    for (; j > 0 && keys[j - 1] > key; --j) keys[j] = keys[j - 1];
    keys[j] = key;
  }
}

// Eight bits of the keys, from `shift` up, place every key in its bucket;
// each bucket is then ordered by the eight bits below, down to bit `lowest`.
// Many keys share the buckets out between two threads (SortSharedBuckets).
// Second thread too (through SortBuckets): touches only `keys`; raises no report.
void RadixSort(uint64_t* keys, size_t count, int shift, int lowest, bool shared) {
  if (count < kSmallRun) {
    InsertionSort(keys, count);
    return;
  }
  size_t sizes[256] = {};
  for (size_t i = 0; i < count; ++i) ++sizes[(keys[i] >> shift) & 0xFF];
  size_t next[256], end[256];
  size_t start = 0;
  for (int b = 0; b < 256; ++b) {
    next[b] = start;
    start += sizes[b];
    end[b] = start;
  }
  for (int b = 0; b < 256; ++b) {
    while (next[b] < end[b]) {
      uint64_t key = keys[next[b]];
      size_t home = (key >> shift) & 0xFF;
      while (home != static_cast<size_t>(b)) {
        std::swap(key, keys[next[home]++]);
        home = (key >> shift) & 0xFF;
      }
      keys[next[b]++] = key;
    }
  }
  if (shift <= lowest) return;
  // The last byte may overlap bits already ordered: within a bucket they are equal.
  Buckets buckets{keys, sizes, end, std::max(shift - 8, lowest), lowest};
  if (shared && count >= kSharedKeys) {
    SortSharedBuckets(buckets, count);
  } else {
    SortBuckets(buckets, 0, 256, false);
  }
}

// Orders buckets [first, last). Second thread too (SortSharedBuckets):
// touches only the keys of those buckets; raises no report.
void SortBuckets(const Buckets& buckets, int first, int last, bool shared) {
  for (int b = first; b < last; ++b) {
    size_t size = buckets.sizes[b];
    if (size > 1) RadixSort(buckets.keys + (buckets.end[b] - size), size, buckets.below, buckets.lowest, shared);
  }
}

// Two threads take about half of the keys each. A bucket holding most keys
// is shared out again itself. A thread that cannot be had leaves the work
// to this one; the work itself cannot fail.
void SortSharedBuckets(const Buckets& buckets, size_t count) {
  int split = 0;
  for (size_t before = 0; split < 256 && before + buckets.sizes[split] <= count / 2; ++split) before += buckets.sizes[split];
  if (split < 256 && buckets.sizes[split] > count / 2) {
    SortBuckets(buckets, 0, split, false);
    SortBuckets(buckets, split, split + 1, true);
    SortBuckets(buckets, split + 1, 256, false);
    return;
  }
  RunSideBySide([&]() noexcept { SortBuckets(buckets, split, 256, false); },
                [&]() noexcept { SortBuckets(buckets, 0, split, false); });
}

}  // namespace

void SortKeys(uint64_t* keys, size_t count, int bits) {
  if (count < 2) return;
  RadixSort(keys, count, std::max(bits - 8, 0), 0, true);
}

void SortKeyPrefixes(uint64_t* keys, size_t count, int lowest) {
  if (count > 1) RadixSort(keys, count, 56, std::min(lowest, 56), true);
}
