// The row claims of two threads filling the case matrix: the rows the second
// thread gets when the reading in order ends the sharing, forced to come
// right where the second thread has found no row free (through the test
// hook, with no sleeps).
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "aggregation/reading/row_claims.h"

namespace {

std::mutex hookMutex;
std::condition_variable hookCalled;
bool foundNoRowFree = false;

// Ends the sharing right where the second thread has found no row free:
// says it has come there, then waits for the test to end the sharing.
void EndTheSharingHere(const RowClaims& claims) {
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    foundNoRowFree = true;
  }
  hookCalled.notify_one();
  claims.AwaitEnd();
}

struct ClaimsCase {
  const char* name;
  int32_t takenBelow;  // of rows [0, 100), before the second thread asks
  int32_t handedOver;  // where the reading in order's rows end; -1: it abandons
  bool endFirst;       // the sharing ends before the second thread asks, not while it waits
  int32_t taken;       // rows the second thread gets, asking for 30 at a time
  bool met;
};

class Claims : public testing::TestWithParam<ClaimsCase> {};

TEST_P(Claims, SecondThreadGetsTheRowsLeftAtTheEnd) {
  const ClaimsCase& c = GetParam();
  RowClaims claims(0, 100);
  ASSERT_EQ(claims.TakeBelow(c.takenBelow), c.takenBelow);
  auto end = [&] {
    if (c.handedOver < 0) {
      claims.Abandon();
    } else {
      claims.HandOver(c.handedOver);
    }
  };
  if (c.endFirst) end();
  foundNoRowFree = false;  // no other thread runs yet
  noRowFreeHook = EndTheSharingHere;
  int32_t taken = 0, lowest = 100;
  std::thread second([&] {
    for (RowClaims::Rows rows = claims.TakeAbove(30); rows.count > 0; rows = claims.TakeAbove(30)) {
      EXPECT_EQ(rows.first + rows.count, lowest) << "rows taken from the top down, each right below the last";
      taken += rows.count;
      lowest = rows.first;
    }
  });
  if (!c.endFirst) {
    std::unique_lock<std::mutex> lock(hookMutex);
    hookCalled.wait(lock, [] { return foundNoRowFree; });
    lock.unlock();
    end();
  }
  second.join();
  noRowFreeHook = nullptr;
  EXPECT_EQ(taken, c.taken);
  EXPECT_EQ(claims.Met(), c.met);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, Claims,
    testing::Values(ClaimsCase{"HandedOverWhileNoneWasFree", 100, 60, false, 40, true},
                    ClaimsCase{"AllHandedOverWhileNoneWasFree", 100, 100, false, 0, true},
                    ClaimsCase{"AbandonedWhileNoneWasFree", 100, -1, false, 0, false},
                    ClaimsCase{"AbandonedWithRowsFree", 40, -1, true, 0, false},
                    ClaimsCase{"HandedOverWithRowsFree", 40, 40, true, 60, true}),
    [](const testing::TestParamInfo<ClaimsCase>& row) { return std::string(row.param.name); });

}  // namespace
