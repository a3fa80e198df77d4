// The pages of the case matrix got on a second thread (see page_preparer.h).
#include "aggregation/reading/page_preparer.h"

#include <algorithm>
#include <exception>

namespace {

constexpr int64_t kStepBytes = int64_t{8} << 20;       // the values of a step's rows, about
constexpr int64_t kPageRows = 1024;                    // the values of a page of 4 KiB

}  // namespace

PagePreparer::PagePreparer(const textio::ArrayDescriptor& matrix, int32_t ncases, int32_t nvars)
    : matrix_(matrix),
      ncases_(ncases),
      stepRows_(std::min<int64_t>(std::max(kStepBytes / 4 / nvars, kPageRows), ncases)) {
  size_t stepBytes = textio::PreparedRowBytes(matrix, 0, stepRows_);
  if (stepBytes == 0 || stepBytes > static_cast<size_t>(kPreparedAhead)) return;
  aheadRows_ = static_cast<int64_t>(static_cast<size_t>(kPreparedAhead) / stepBytes) * stepRows_;
  try {
    thread_ = std::thread([this] { Prepare(); });
  } catch (const std::exception&) {  // the pages are then given as they are first touched
  }
}

PagePreparer::~PagePreparer() {
  if (!thread_.joinable()) return;
  Reached(-1);
  thread_.join();
}

void PagePreparer::Reached(int32_t row) {
  {
    std::lock_guard<std::mutex> lock(reachedMutex_);
    reached_ = row;
  }
  moved_.notify_one();
}

// Second thread: touches only the matrix's pages, through the layer, and
// `reached_`; raises no report.
void PagePreparer::Prepare() {
  for (int64_t prepared = 0; prepared < ncases_;) {
    int32_t read = reached_.load();
    if (read < 0) return;
    if (prepared + stepRows_ - read > aheadRows_) {
      std::unique_lock<std::mutex> lock(reachedMutex_);
      moved_.wait(lock, [&] { return reached_ != read; });
      continue;
    }
    int64_t rows = std::min<int64_t>(stepRows_, ncases_ - prepared);
    textio::PrepareRows(matrix_, prepared, rows);
    prepared += rows;
  }
}
