// Ordering pattern keys in place: a radix sort orders them eight bits at a
// time from the most significant, moving each key straight to its bucket;
// with many keys, two threads order the buckets. Keys of several words are
// moved whole, and a run of keys that agree in their next bits skips them.
#include "aggregation/ordering/key_sort.h"

#include <algorithm>
#include <bit>

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


// Keys of several words: a key's digit d is the byte d % 8 of its word d / 8,
// from the highest.
struct Records {
  uint64_t* keys;
  size_t words;
  uint64_t* At(size_t i) const { return keys + i * words; }
  unsigned Digit(size_t i, size_t digit) const {
    return static_cast<unsigned>(At(i)[digit / 8] >> (56 - 8 * (digit % 8))) & 0xFF;
  }
};

constexpr size_t kAllAlike = SIZE_MAX;

void RecordRadixSort(const Records& r, size_t first, size_t count, size_t digit, bool shared);

// Key a before key b, both alike in their words before `word`.
bool RecordLess(const uint64_t* a, const uint64_t* b, size_t word, size_t words) {
  for (; word < words; ++word) {
    if (a[word] != b[word]) return a[word] < b[word];
  }
  return false;
}

void InsertionSortRecords(const Records& r, size_t first, size_t count, size_t word) {
  for (size_t i = first + 1; i < first + count; ++i) {
    for (size_t j = i; j > first && RecordLess(r.At(j), r.At(j - 1), word, r.words); --j) {
      std::swap_ranges(r.At(j), r.At(j) + r.words, r.At(j - 1));
    }
  }
}

// The first digit from `digit` on where the keys from `first` on, alike
// before it, are not all alike; kAllAlike when they are alike throughout.
size_t FirstDifferingDigit(const Records& r, size_t first, size_t count, size_t digit) {
  for (size_t w = digit / 8; w < r.words; ++w) {
    const uint64_t base = r.At(first)[w];
    uint64_t differ = 0;
    for (size_t i = first + 1; i < first + count; ++i) differ |= r.At(i)[w] ^ base;
    if (differ != 0) return 8 * w + static_cast<size_t>(std::countl_zero(differ)) / 8;
  }
  return kAllAlike;
}

// Every key from `first` on moved to its bucket by its digit `digit`, the
// buckets of the sizes counted, by swaps.
void PlaceRecords(const Records& r, size_t first, size_t digit, const uint32_t* sizes) {
  size_t next[256], end[256];
  for (size_t b = 0, start = first; b < 256; ++b) {
    next[b] = start;
    start += sizes[b];
    end[b] = start;
  }
  for (unsigned b = 0; b < 256; ++b) {
    while (next[b] < end[b]) {
      unsigned home = r.Digit(next[b], digit);
      if (home == b) {
        ++next[b];
      } else {
        std::swap_ranges(r.At(next[b]), r.At(next[b]) + r.words, r.At(next[home]++));
      }
    }
  }
}

// Orders buckets [from, to) of the keys from `first` on, of the sizes
// counted, each by the digits from `digit` on. Second thread too (through
// SortSharedRecords): touches only the keys of those buckets; raises no report.
void SortRecordBuckets(const Records& r, size_t first, const uint32_t* sizes, int from, int to, size_t digit) {
  for (int b = 0; b < from; ++b) first += sizes[b];
  for (int b = from; b < to; first += sizes[b++]) {
    if (sizes[b] > 1) RecordRadixSort(r, first, sizes[b], digit, false);
  }
}

// Two threads take about half of the keys each; a bucket holding most of
// them is shared out again itself.
void SortSharedRecords(const Records& r, size_t first, size_t count, const uint32_t* sizes, size_t digit) {
  int split = 0;
  for (size_t before = 0; split < 256 && before + sizes[split] <= count / 2; ++split) before += sizes[split];
  if (split < 256 && sizes[split] > count / 2) {
    SortRecordBuckets(r, first, sizes, 0, split, digit);
    SortRecordBuckets(r, first, sizes, split + 1, 256, digit);
    size_t start = first;
    for (int b = 0; b < split; ++b) start += sizes[b];
    RecordRadixSort(r, start, sizes[split], digit, true);
    return;
  }
  RunSideBySide([&]() noexcept { SortRecordBuckets(r, first, sizes, split, 256, digit); },
                [&]() noexcept { SortRecordBuckets(r, first, sizes, 0, split, digit); });
}

// Orders the keys from `first` on, alike in their digits before `digit`,
// by the rest. Every bucket but the largest is ordered by a call of its own
// and the largest by the loop, so that the calls nest no deeper than the
// halvings of the count. Second thread too: touches only those keys;
// raises no report.
void RecordRadixSort(const Records& r, size_t first, size_t count, size_t digit, bool shared) {
  const size_t digits = 8 * r.words;
  for (;;) {
    if (count < kSmallRun) {
      InsertionSortRecords(r, first, count, digit / 8);
      return;
    }
    uint32_t sizes[256] = {};
    for (size_t i = first; i < first + count; ++i) ++sizes[r.Digit(i, digit)];
    if (sizes[r.Digit(first, digit)] == count) {
      digit = FirstDifferingDigit(r, first, count, digit);
      if (digit == kAllAlike) return;
      continue;
    }
    PlaceRecords(r, first, digit, sizes);
    if (++digit == digits) return;
    if (shared && count >= kSharedKeys) {
      SortSharedRecords(r, first, count, sizes, digit);
      return;
    }
    const auto largest = static_cast<int>(std::max_element(sizes, sizes + 256) - sizes);
    SortRecordBuckets(r, first, sizes, 0, largest, digit);
    SortRecordBuckets(r, first, sizes, largest + 1, 256, digit);
    for (int b = 0; b < largest; ++b) first += sizes[b];
    count = sizes[largest];
  }
}

}  // namespace

void SortKeys(uint64_t* keys, size_t count, int bits) {
  if (count < 2) return;
  RadixSort(keys, count, std::max(bits - 8, 0), 0, true);
}

void SortKeyPrefixes(uint64_t* keys, size_t count, int lowest) {
  if (count > 1) RadixSort(keys, count, 56, std::min(lowest, 56), true);
}

void SortKeyRecords(uint64_t* keys, size_t count, size_t words) {
  if (count > 1) RecordRadixSort(Records{keys, words}, 0, count, 0, true);
}

void SortKeyRecordsFrom(uint64_t* keys, size_t count, size_t words, size_t digit) {
  if (count > 1 && digit < 8 * words) RecordRadixSort(Records{keys, words}, 0, count, digit, false);
}

void InsertionSort(uint64_t* keys, size_t count) {
  for (size_t i = 1; i < count; ++i) {
    uint64_t key = keys[i];
    size_t j = i;
    for (; j > 0 && keys[j - 1] > key; --j) keys[j] = keys[j - 1];
    keys[j] = key;
  }
}
