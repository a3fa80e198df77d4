// The rows of the case matrix that two threads fill at once: the reading in
// order, on the run's own thread, fills it from the first row up with the
// cases in the file's order, while a second thread fills it from the last
// row down with the cases of the file's later part.
//
// What holds throughout:
// - One word holds both ends of the free rows: rows below `below` are the
//   reading in order's, rows from `above` up the second thread's, the rows
//   between nobody's yet, and below <= above. Every take is one atomic step
//   on that word, so no row is ever taken by both threads.
// - Each thread writes only rows it has taken.
// - The reading in order ends the sharing once, by a hand-over (it gives
//   back the rows it took past the end of its cases, and the second thread
//   may take every row down to there) or by an abandon (it takes every free
//   row, leaving the second thread none). `below` does not move after that.
// - The second thread waits only while no row is free and the sharing has
//   not ended; the end wakes it, and it then looks at the free rows once
//   more, so that no row handed over is left untaken.
// - After the end, the reading in order writes no row past its own until
//   the second thread has ended; the second thread's rows count only when,
//   after a hand-over, they begin right where the reading in order's end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class RowClaims {
 public:
  struct Rows {
    int32_t first, count;
  };

  // Rows [below, above) free; the reading in order has those below, the
  // second thread those from `above` up.
  RowClaims(int32_t below, int32_t above) : ends_(Ends(below, above)) {}

  // The reading in order: up to `count` free rows at the bottom, after its
  // own; returns how many it took.
  int32_t TakeBelow(int32_t count);
  // The second thread: up to `count` free rows at the top, below its own.
  // While none is free it waits for the sharing to end; none once it has
  // ended and none is left. Touches only the claims; raises no report.
  Rows TakeAbove(int32_t count);
  // The reading in order ends the sharing: its rows end at `end`, and the
  // second thread may take the rows from there up.
  void HandOver(int32_t end);
  // The reading in order ends the sharing: it takes every free row.
  void Abandon();
  // Once both have stopped taking rows: whether every row is taken, the
  // second thread's from right where those handed over begin.
  bool Met() const;

  // Whether the sharing has ended; waits until it has.
  bool Ended() const { return state_.load() != State::Sharing; }
  void AwaitEnd() const;

 private:
  enum class State : uint8_t { Sharing, HandedOver, Abandoned };
  static uint64_t Ends(int32_t below, int32_t above) {
    return static_cast<uint64_t>(below) << 32 | static_cast<uint32_t>(above);
  }
  static int32_t Below(uint64_t ends) { return static_cast<int32_t>(ends >> 32); }
  static int32_t Above(uint64_t ends) { return static_cast<int32_t>(ends & 0xFFFFFFFF); }
  void End(State state);

  std::atomic<uint64_t> ends_;
  std::atomic<State> state_{State::Sharing};
  // The end of the sharing is told under a lock, so that a wait for it
  // cannot miss it (std::atomic's own wait can, where the library has no
  // wait of the system's to build it on).
  mutable std::mutex endMutex_;
  mutable std::condition_variable ended_;
};

// Tests only: when set, TakeAbove calls it each time it finds no row free,
// before it decides whether to wait or to stop, so that a test can end the
// sharing right there.
extern void (*noRowFreeHook)(const RowClaims& claims);
