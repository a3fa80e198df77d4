// The one hash table of the program: keys of bytes, each stored once and
// numbered in the order it first came, found again by a hash of its bytes
// and then compared byte for byte, so that equal hashes never merge keys.
// It holds a bounded number of keys and bytes, so that it stays in the cache.
#pragma once

#include <cstddef>
#include <cstdint>

struct KeySlot {
  uint32_t check;  // bits of the key's hash that chose no slot
  int32_t key;     // -1: free
};

// The slots in use grow with the keys, at most half of them taken, so that
// a table of few keys stays small in the cache.
struct KeyTable {
  int32_t capacity = 0;   // keys it holds at most
  int64_t byteRoom = 0;   // bytes of keys it holds at most
  int32_t keys = 0;       // keys so far
  int slotBits = 0;       // slots in use: 2 to this power
  KeySlot* slots = nullptr;
  uint64_t* hashes = nullptr;      // each key's hash, for growing the slots
  unsigned char* bytes = nullptr;  // the keys one after the other
  int64_t* starts = nullptr;       // key k's bytes from bytes[starts[k]] to bytes[starts[k + 1]]
};

// The storage a table of `capacity` keys and `byteRoom` bytes needs.
int64_t KeyTableBytes(int32_t capacity, int64_t byteRoom);
// Lays the table out in `storage` (of KeyTableBytes bytes) and empties it.
void MakeKeyTable(KeyTable& table, int32_t capacity, int64_t byteRoom, unsigned char* storage);

uint64_t HashBytes(const void* key, size_t length);

// The number of the key, or -1 when the table does not hold it.
int32_t FindKey(const KeyTable& table, const void* key, size_t length, uint64_t hash);
// Adds a key the table does not hold; returns its number, or -1 when the
// table is full.
int32_t AddKey(KeyTable& table, const void* key, size_t length, uint64_t hash);
