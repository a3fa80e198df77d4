// The hash table of keys of bytes: open addressing, a slot chosen by the
// high bits of a key's hash, the next slot taken on a collision; the slots
// in use doubled, and every key placed again, when half of them are taken.
#include "aggregation/reading/key_table.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

constexpr int kFewestSlotBits = 8;

// The slots for `capacity` keys, at most half of them taken.
int SlotBits(int32_t capacity) {
  return std::max(static_cast<int>(std::bit_width(static_cast<uint32_t>(std::max(capacity, 1)))) + 1, kFewestSlotBits);
}

int64_t SlotBytes(int32_t capacity) { return (int64_t{1} << SlotBits(capacity)) * static_cast<int64_t>(sizeof(KeySlot)); }

// Places key `key` of hash `hash` in the first free slot from its own.
void Place(KeyTable& table, int32_t key, uint64_t hash) {
  const uint32_t mask = (uint32_t{1} << table.slotBits) - 1;
  auto slot = static_cast<uint32_t>(hash >> (64 - table.slotBits));
  while (table.slots[slot].key >= 0) slot = (slot + 1) & mask;
  table.slots[slot] = {static_cast<uint32_t>(hash), key};
}

// Short keys are compared a word at a time here; a call would cost more.
bool SameBytes(const unsigned char* a, const unsigned char* b, size_t length) {
  if (length > 64) return std::memcmp(a, b, length) == 0;
  uint64_t differ = 0;
  size_t at = 0;
  for (; at + 8 <= length; at += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + at, 8);
    std::memcpy(&y, b + at, 8);
    differ |= x ^ y;
  }
  for (; at < length; ++at) differ |= static_cast<uint64_t>(a[at] ^ b[at]);
  return differ == 0;
}

bool SameKey(const KeyTable& table, int32_t key, const void* bytes, size_t length) {
  int64_t start = table.starts[key];
  return static_cast<size_t>(table.starts[key + 1] - start) == length &&
         SameBytes(table.bytes + start, static_cast<const unsigned char*>(bytes), length);
}

}  // namespace

int64_t KeyTableBytes(int32_t capacity, int64_t byteRoom) {
  return SlotBytes(capacity) + (int64_t{capacity} * 2 + 1) * 8 + byteRoom;
}

void MakeKeyTable(KeyTable& table, int32_t capacity, int64_t byteRoom, unsigned char* storage) {
  table.capacity = capacity;
  table.byteRoom = byteRoom;
  table.keys = 0;
  table.slotBits = kFewestSlotBits;
  table.slots = reinterpret_cast<KeySlot*>(storage);
  storage += SlotBytes(capacity);
  table.hashes = reinterpret_cast<uint64_t*>(storage);
  storage += int64_t{capacity} * 8;
  table.starts = reinterpret_cast<int64_t*>(storage);
  storage += (int64_t{capacity} + 1) * 8;
  table.bytes = storage;
  std::fill_n(table.slots, size_t{1} << table.slotBits, KeySlot{0, -1});
  table.starts[0] = 0;
}

// Four lanes of eight bytes each, so that the multiplications do not wait
// on one another; the lanes and the last bytes are then folded into one.
uint64_t HashBytes(const void* key, size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(key);
  uint64_t lanes[4] = {1, 2, 3, 4};
  size_t at = 0;
  for (; at + 32 <= length; at += 32) {
    for (int k = 0; k < 4; ++k) {
      uint64_t word;
      std::memcpy(&word, bytes + at + 8 * k, sizeof word);
      lanes[k] = (lanes[k] ^ word) * kMultiplier;
    }
  }
  for (int k = 0; at + 8 <= length; at += 8, ++k) {
    uint64_t word;
    std::memcpy(&word, bytes + at, sizeof word);
    lanes[k] = (lanes[k] ^ word) * kMultiplier;
  }
  uint64_t last = 0;
  std::memcpy(&last, bytes + at, length - at);
  uint64_t hash = lanes[0] ^ std::rotl(lanes[1], 16) ^ std::rotl(lanes[2], 32) ^ std::rotl(lanes[3], 48);
  hash = (hash ^ last ^ length) * kMultiplier;
  // Multiplying carries bits upwards only: the high half is brought down
  // before the last one, whose high bits then choose the slot.
  return (hash ^ (hash >> 32)) * kMultiplier;
}

int32_t FindKey(const KeyTable& table, const void* key, size_t length, uint64_t hash) {
  const uint32_t mask = (uint32_t{1} << table.slotBits) - 1;
  const auto check = static_cast<uint32_t>(hash);
  for (auto slot = static_cast<uint32_t>(hash >> (64 - table.slotBits));; slot = (slot + 1) & mask) {
    const KeySlot& s = table.slots[slot];
    if (s.key < 0) return -1;
    if (s.check == check && SameKey(table, s.key, key, length)) return s.key;
  }
}

int32_t AddKey(KeyTable& table, const void* key, size_t length, uint64_t hash) {
  int64_t start = table.starts[table.keys];
  if (table.keys == table.capacity || start + static_cast<int64_t>(length) > table.byteRoom) return -1;
  if (int64_t{table.keys + 1} * 2 > int64_t{1} << table.slotBits) {
    ++table.slotBits;
    std::fill_n(table.slots, size_t{1} << table.slotBits, KeySlot{0, -1});
    for (int32_t k = 0; k < table.keys; ++k) Place(table, k, table.hashes[k]);
  }
  Place(table, table.keys, hash);
  table.hashes[table.keys] = hash;
  std::memcpy(table.bytes + start, key, length);
  table.starts[++table.keys] = start + static_cast<int64_t>(length);
  return table.keys - 1;
}
