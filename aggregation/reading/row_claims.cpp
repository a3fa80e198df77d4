// The rows of the case matrix that two threads fill at once (see row_claims.h).
#include "aggregation/reading/row_claims.h"

#include <algorithm>

void (*noRowFreeHook)(const RowClaims& claims) = nullptr;

int32_t RowClaims::TakeBelow(int32_t count) {
  uint64_t ends = ends_.load();
  int32_t take = 0;
  do {
    take = std::min(count, Above(ends) - Below(ends));
  } while (!ends_.compare_exchange_weak(ends, Ends(Below(ends) + take, Above(ends))));
  return take;
}

RowClaims::Rows RowClaims::TakeAbove(int32_t count) {
  for (;;) {
    // Whether the sharing has ended is seen before the ends are: once it has,
    // the ends seen are those it left.
    bool ended = Ended();
    uint64_t ends = ends_.load();
    int32_t above = Above(ends), take = std::min(count, above - Below(ends));
    if (take > 0) {
      if (ends_.compare_exchange_weak(ends, Ends(Below(ends), above - take))) return {above - take, take};
      continue;
    }
    if (noRowFreeHook != nullptr) noRowFreeHook(*this);
    if (ended) return {above, 0};
    AwaitEnd();
  }
}

void RowClaims::HandOver(int32_t end) {
  uint64_t ends = ends_.load();
  while (!ends_.compare_exchange_weak(ends, Ends(end, Above(ends)))) {
  }
  End(State::HandedOver);
}

void RowClaims::Abandon() {
  uint64_t ends = ends_.load();
  while (!ends_.compare_exchange_weak(ends, Ends(Above(ends), Above(ends)))) {
  }
  End(State::Abandoned);
}

bool RowClaims::Met() const {
  uint64_t ends = ends_.load();
  return state_.load() == State::HandedOver && Below(ends) == Above(ends);
}

void RowClaims::AwaitEnd() const {
  std::unique_lock<std::mutex> lock(endMutex_);
  ended_.wait(lock, [this] { return Ended(); });
}

void RowClaims::End(State state) {
  {
    std::lock_guard<std::mutex> lock(endMutex_);
    state_.store(state);
  }
  ended_.notify_all();
}
