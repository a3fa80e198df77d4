// A death test's child's standard handles, on a POSIX system.
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "support/death_test.h"

namespace test_support {

void RedirectStandardHandles(const std::string& folder, bool closedPipes) {
  int output = open((folder + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  int error = open((folder + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  int ends[2];
  if (closedPipes && pipe(ends) == 0) {
    close(ends[0]);
    output = ends[1];
    close(STDIN_FILENO);
  }
  if (output < 0 || error < 0 || dup2(output, STDOUT_FILENO) < 0 || dup2(error, STDERR_FILENO) < 0) std::abort();
}

bool AddressSpaceCanBeLimited() { return ActiveSanitizer() == Sanitizer::None; }

void LimitAddressSpace(size_t more) {
  std::ifstream statm("/proc/self/statm");
  rlim_t pages = 0;
  statm >> pages;
  rlimit limit{pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + more, RLIM_INFINITY};
  if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0) std::abort();
}

void RefuseThreads() {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0 || pthread_attr_setstacksize(&attributes, size_t{1} << 30) != 0 ||
      pthread_setattr_default_np(&attributes) != 0) {
    std::abort();
  }
}

bool FileSizeCanBeLimited() { return true; }

void LimitFileSize(int64_t bytes) {
  rlimit limit{static_cast<rlim_t>(bytes), RLIM_INFINITY};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::abort();
}

const char* FullDevice() { return "/dev/full"; }

}  // namespace test_support
