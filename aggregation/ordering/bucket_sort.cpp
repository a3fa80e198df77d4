// Ordering keys through scratch storage: each key is moved into the scratch,
// to the bucket of its highest bits below those all keys share; each bucket,
// small enough to stay in the cache, is then ordered by its lower bits and
// ends in the keys: keys of one word a digit at a time from the lowest,
// between its part of the scratch and its part of the keys; keys of several
// words in place in the scratch, from the highest, then copied. With many
// keys, two threads count and move half of them each, then take half of the
// buckets each.
#include "aggregation/ordering/bucket_sort.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "aggregation/core/side_by_side.h"
#include "aggregation/ordering/key_sort.h"

namespace {

constexpr int kTopBits = 12;     // the bits that choose a key's bucket
constexpr size_t kBuckets = size_t{1} << kTopBits;
constexpr int kDigitBits = 11;   // the bits each later pass orders by
constexpr size_t kDigits = size_t{1} << kDigitBits;
constexpr size_t kSmallRun = 48;  // fewer keys than this are ordered by insertion
constexpr size_t kSharedWords = size_t{1} << 20;  // from keys of this many words on, two threads share the work

// The keys and their buckets: bucket b holds the keys whose kTopBits bits
// of their word `word` from `shift` up are b, from key starts[b] of the
// scratch to key starts[b + 1]. The keys' bits above those are alike in all.
struct Spread {
  uint64_t* keys;
  uint64_t* scratch;
  size_t words;
  size_t word;
  int shift;
  size_t starts[kBuckets + 1];

  uint64_t* Key(uint64_t* at, size_t i) const { return at + i * words; }
  size_t Bucket(size_t i) const { return (keys[i * words + word] >> shift) & (kBuckets - 1); }
};

// Counts the keys of [from, to) in each bucket. Second thread too: touches
// only `counts`; raises no report.
void CountBuckets(const Spread& spread, size_t from, size_t to, size_t* counts) {
  std::fill_n(counts, kBuckets, size_t{0});
  for (size_t i = from; i < to; ++i) ++counts[spread.Bucket(i)];
}

// Moves the keys of [from, to) into their buckets of the scratch, the next of
// each bucket at next[b]. Second thread too: touches only `next` and the
// places it gives; raises no report.
void MoveIntoBuckets(const Spread& spread, size_t from, size_t to, size_t* next) {
  if (spread.words == 1) {
    for (size_t i = from; i < to; ++i) spread.scratch[next[spread.Bucket(i)]++] = spread.keys[i];
    return;
  }
  for (size_t i = from; i < to; ++i) {
    std::copy_n(spread.Key(spread.keys, i), spread.words, spread.Key(spread.scratch, next[spread.Bucket(i)]++));
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
  // The digit from which the keys of a bucket may differ: the byte of their
  // word below `shift`, or the next word's first.
  const size_t digit = 8 * spread.word + static_cast<size_t>(64 - spread.shift) / 8;
  for (size_t b = first; b < last; ++b) {
    const size_t start = spread.starts[b], count = spread.starts[b + 1] - start;
    if (count == 0) continue;
    uint64_t* from = spread.Key(spread.scratch, start);
    if (spread.words == 1) {
      OrderBucket(from, spread.keys + start, count, spread.shift);
    } else {
      SortKeyRecordsFrom(from, count, spread.words, digit);
      std::copy_n(from, count * spread.words, spread.Key(spread.keys, start));
    }
  }
}

}  // namespace

void SortKeysThrough(uint64_t* keys, uint64_t* scratch, size_t count, size_t words) {
  if (count < 2) return;
  // A key's bucket: the highest kTopBits of the bits where keys differ, in
  // the first word where they do.
  size_t word = 0;
  uint64_t differ = 0;
  for (; word < words && differ == 0; ++word) {
    for (size_t i = 1; i < count; ++i) differ |= keys[i * words + word] ^ keys[word];
  }
  if (differ == 0) return;
  Spread spread{keys, scratch, words, word - 1, std::max(static_cast<int>(std::bit_width(differ)) - kTopBits, 0), {}};
  const bool two = count * words >= kSharedWords;
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
