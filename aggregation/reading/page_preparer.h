// The pages of the case matrix got on a second thread, a bounded number of
// bytes ahead of the rows read into it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "textio/textio.h"

inline constexpr int64_t kPreparedAhead = int64_t{32} << 20;  // bytes of pages got ahead of the rows read, at most

// The system takes about as long to give the matrix its pages as the reading
// takes to fill them: a second thread gets them meanwhile, in steps of rows,
// a few steps ahead of the rows read and never more than kPreparedAhead bytes
// of pages ahead, so that a number of cases typed too large costs the pages of the
// cases the file holds and no more than that beyond them, whatever the width
// of a case. No thread is started where the system gives pages no faster
// that way, or where a single step would pass that bound.
class PagePreparer {
 public:
  PagePreparer(const textio::ArrayDescriptor& matrix, int32_t ncases, int32_t nvars);
  ~PagePreparer();
  PagePreparer(const PagePreparer&) = delete;
  PagePreparer& operator=(const PagePreparer&) = delete;

  // The rows before `row` are read: the pages of those after it may be got.
  void Reached(int32_t row);

 private:
  void Prepare();

  const textio::ArrayDescriptor& matrix_;
  int32_t ncases_;
  int64_t stepRows_;                 // rows got at a time: a page of each column at least
  int64_t aheadRows_ = 0;            // rows got ahead of those read, at most
  std::atomic<int32_t> reached_{0};  // rows read; -1 once the reading is over
  std::mutex reachedMutex_;          // a change of `reached_` is told under it (see RowClaims)
  std::condition_variable moved_;
  std::thread thread_;
};
