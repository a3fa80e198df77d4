// Ordering keys through scratch storage: each key is moved into the scratch,
// to the bucket of its highest bits below those all keys share; each bucket,
// small enough to stay in the cache, is then ordered by its lower bits a
// digit at a time from the lowest, between its part of the scratch and its
// part of the keys, and ends in the keys. With many keys, two threads count
// and move half of them each, then take half of the buckets each.
#include "aggregation/ordering/bucket_sort.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "aggregation/core/side_by_side.h"

namespace {

constexpr int kTopBits = 12;     // the bits that choose a key's bucket
constexpr size_t kBuckets = size_t{1} << kTopBits;
constexpr int kDigitBits = 11;   // the bits each later pass orders by
constexpr size_t kDigits = size_t{1} << kDigitBits;
constexpr size_t kSmallRun = 48;  // fewer keys than this are ordered by insertion
constexpr size_t kSharedKeys = size_t{1} << 20;  // from this many keys on, two threads share the work

void InsertionSort(uint64_t* keys, size_t count) {
  for (size_t i = 1; i < count; ++i) {
    uint64_t key = keys[i];
    size_t j = i;
    for (; j > 0 && keys[j - 1] > key; --j) keys[j] = keys[j - 1];
    keys[j] = key;
  }
}

// The keys and their buckets: bucket b holds the keys whose kTopBits bits
// from `shift` up are b, from scratch[starts[b]] to scratch[starts[b + 1]].
// The keys' bits above those are alike in all.
struct Spread {
  uint64_t* keys;
  uint64_t* scratch;
  int shift;
  size_t starts[kBuckets + 1];

  size_t Bucket(uint64_t key) const { return (key >> shift) & (kBuckets - 1); }
};

// Counts the keys of [from, to) in each bucket. Second thread too: touches
// only `counts`; raises no report.
void CountBuckets(const Spread& spread, size_t from, size_t to, size_t* counts) {
  std::fill_n(counts, kBuckets, size_t{0});
  for (size_t i = from; i < to; ++i) ++counts[spread.Bucket(spread.keys[i])];
}

// Moves the keys of [from, to) into their buckets of the scratch, the next of
// each bucket at next[b]. Second thread too: touches only `next` and the
// places it gives; raises no report.
void MoveIntoBuckets(const Spread& spread, size_t from, size_t to, size_t* next) {
  for (size_t i = from; i < to; ++i) {
    const uint64_t key = spread.keys[i];
    spread.scratch[next[spread.Bucket(key)]++] = key;
  }
}

// Orders the `count` keys of `from` by their bits below `shift` into `to`, a
// digit at a time from the lowest; each pass moves them from one to the
// other, a pass whose digit is alike in every key is left out. Second thread
// too: touches only `from` and `to`; raises no report.
void OrderBucket(uint64_t* from, uint64_t* to, size_t count, int shift) {
  uint64_t* const destination = to;
  if (count < kSmallRun) {
    std::copy_n(from, count, to);
    InsertionSort(to, count);
    return;
  }
  size_t places[kDigits];
  for (int low = 0; low < shift; low += kDigitBits) {
    std::fill_n(places, kDigits, size_t{0});
    for (size_t i = 0; i < count; ++i) ++places[(from[i] >> low) & (kDigits - 1)];
    if (places[(from[0] >> low) & (kDigits - 1)] == count) continue;
    for (size_t d = 0, place = 0; d < kDigits; ++d) place += std::exchange(places[d], place);
    for (size_t i = 0; i < count; ++i) to[places[(from[i] >> low) & (kDigits - 1)]++] = from[i];
    std::swap(from, to);
  }
  if (from != destination) std::copy_n(from, count, destination);
}

// Orders buckets [first, last), each from the scratch back into the keys.
// Second thread too: touches only those buckets' keys and scratch; raises
// no report.
void OrderBuckets(const Spread& spread, size_t first, size_t last) {
  for (size_t b = first; b < last; ++b) {
    const size_t start = spread.starts[b], count = spread.starts[b + 1] - start;
    if (count > 0) OrderBucket(spread.scratch + start, spread.keys + start, count, spread.shift);
  }
}

}  // namespace

void SortKeysThrough(uint64_t* keys, uint64_t* scratch, size_t count) {
  if (count < 2) return;
  uint64_t differ = 0;
  for (size_t i = 1; i < count; ++i) differ |= keys[i] ^ keys[0];
  if (differ == 0) return;
  // A key's bucket: the highest kTopBits of the bits where keys differ.
  Spread spread{keys, scratch, std::max(static_cast<int>(std::bit_width(differ)) - kTopBits, 0), {}};
  const bool two = count >= kSharedKeys;
  const size_t half = two ? count / 2 : count;
  size_t here[kBuckets], beside[kBuckets];
  if (two) {
    RunSideBySide([&]() noexcept { CountBuckets(spread, half, count, beside); },
                  [&]() noexcept { CountBuckets(spread, 0, half, here); });
  } else {
    CountBuckets(spread, 0, count, here);
    CountBuckets(spread, count, count, beside);
  }
  // This thread's keys of a bucket come first, then the other's.
  size_t split = kBuckets;
  for (size_t b = 0, start = 0; b < kBuckets; ++b) {
    spread.starts[b] = start;
    if (split == kBuckets && start >= count / 2) split = b;
    start += here[b] + beside[b];
    beside[b] = spread.starts[b] + here[b];
    here[b] = spread.starts[b];
  }
  spread.starts[kBuckets] = count;
  if (two) {
    RunSideBySide([&]() noexcept { MoveIntoBuckets(spread, half, count, beside); },
                  [&]() noexcept { MoveIntoBuckets(spread, 0, half, here); });
    RunSideBySide([&]() noexcept { OrderBuckets(spread, split, kBuckets); },
                  [&]() noexcept { OrderBuckets(spread, 0, split); });
  } else {
    MoveIntoBuckets(spread, 0, count, here);
    OrderBuckets(spread, 0, kBuckets);
  }
}
