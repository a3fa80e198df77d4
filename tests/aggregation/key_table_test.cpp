// The hash table of byte keys: every key held while its slots grow is found
// again under its own number, and a full table takes no more.
#include <gtest/gtest.h>

#include <vector>

#include "aggregation/reading/key_table.h"

namespace {

TEST(KeyTable, FindsEveryKeyItHoldsAsItGrows) {
  constexpr int32_t kKeys = 3000;
  std::vector<unsigned char> storage(static_cast<size_t>(KeyTableBytes(kKeys, 4 * kKeys)));
  KeyTable table;
  MakeKeyTable(table, kKeys, 4 * kKeys, storage.data());
  for (int32_t key = 0; key < kKeys; ++key) ASSERT_EQ(AddKey(table, &key, 4, HashBytes(&key, 4)), key);
  for (int32_t key = 0; key < kKeys; ++key) EXPECT_EQ(FindKey(table, &key, 4, HashBytes(&key, 4)), key);
  const int32_t more = kKeys;
  EXPECT_EQ(FindKey(table, &more, 4, HashBytes(&more, 4)), -1);
  EXPECT_EQ(AddKey(table, &more, 4, HashBytes(&more, 4)), -1);
}

}  // namespace
