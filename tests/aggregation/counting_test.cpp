// Reading the cases when the number typed is far too large. (Their counting,
// the switch to the matrix and the second thread are held against a model
// by the whole runs of random data files: whole_runs_test.cpp.)
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "aggregation/case_reading.h"
#include "support/death_test.h"
#include "textio/layer_state.h"

namespace {

// A number of cases typed far too large, read from a pipe that stays open a
// while after its last case: the run ends at its end having taken the matrix
// pages of about the cases read, not all of its 1 GiB, though the system
// would give them all meanwhile. (Windows gives pages only as they are first
// touched.) The bound, a quarter of the matrix, leaves room for what the
// child shares with this test program and for the sanitizers' own memory.
TEST(MistypedCount, TakesOnlyThePagesOfTheCasesRead) {
  const std::string folder = test_support::TestFolder(), in = folder + "/cases";
  ASSERT_EQ(mkfifo(in.c_str(), 0600), 0);
  EXPECT_CHILD_EXIT(folder, false, 1, {
    if (fork() == 0) {
      alarm(10);  // never left waiting for a reader that has gone
      {
        std::ofstream pipe(in);
        for (int i = 0; i < 100000; ++i) pipe << i << '\n';
        pipe.flush();
        std::this_thread::sleep_for(std::chrono::seconds(2));
      }
      _exit(0);
    }
    textio::ResetLayer();
    textio::InitUnits(0, nullptr);
    textio::OpenUnit(1, in.data(), static_cast<int>(in.size()), "read", false);
    textio::ArrayDescriptor matrix = ArrayOf(sizeof(int32_t), int32_t{1} << 28, 1);
    textio::AllocateArray(matrix, nullptr);
    PatternTable table(1, 0);
    ReadCases(int32_t{1} << 28, 1, matrix, table);
  });
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  EXPECT_LT(children.ru_maxrss, 256 * 1024) << "kilobytes";
}

}  // namespace

#endif
