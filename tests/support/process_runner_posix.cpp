// Starts a child with its standard streams on pipes or on a pseudo-terminal,
// by fork on a POSIX system, feeds it its input and collects its output in
// one poll loop, so that neither side can block the other however much is written.
#include "support/process_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace test_support {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uid_t kNobody = 65534;
constexpr int kChildSetupFailed = 127;  // as a shell reports a command it could not start
// After the kill, how long a descendant that escaped it may keep a stream open.
constexpr auto kDrainAfterKill = std::chrono::seconds(2);

[[noreturn]] void Fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

class Descriptor {
 public:
  Descriptor() = default;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(); }

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Both ends of the child's three standard streams. On a terminal the parent's
// input and output are two further descriptors of the master, each closed
// when done with, while the master itself is held until the child has ended:
// its last close hangs the terminal up, and the child, perhaps still running
// after closing its own descriptors, would die of SIGHUP.
//
// Typed input is held back until the child has made the terminal its own: the
// terminal acts on an interrupt character when it arrives, and before that
// would only throw away the lines typed ahead of it. `started` reaches its end
// when the child has closed its inherited descriptors, after that step.
struct Channels {
  Descriptor terminal;                              // the master, or none
  Descriptor input, output, error;                  // the parent's ends
  Descriptor started, childStarted;
  Descriptor childInput, childOutput, childError;   // become the child's 0, 1 and 2
};

void MakePipe(Descriptor& readEnd, Descriptor& writeEnd) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) Fail("pipe2");
  readEnd.Reset(ends[0]);
  writeEnd.Reset(ends[1]);
}

void Duplicate(const Descriptor& from, Descriptor& to) {
  to.Reset(fcntl(from.Get(), F_DUPFD_CLOEXEC, 0));
  if (!to.IsOpen()) Fail("fcntl(F_DUPFD_CLOEXEC)");
}

void SetNonBlocking(const Descriptor& descriptor) {
  if (fcntl(descriptor.Get(), F_SETFL, fcntl(descriptor.Get(), F_GETFL) | O_NONBLOCK) != 0) {
    Fail("fcntl(O_NONBLOCK)");
  }
}

// Without echo the master shows only what the program writes, and without
// output processing its line ends arrive as written. Canonical input stays,
// so one read takes one typed line; IEXTEN keeps Ctrl-V quoting the next byte.
void OpenTerminal(Channels& channels) {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) Fail("openpty");
  channels.terminal.Reset(master);
  channels.childInput.Reset(slave);

  termios settings{};
  if (tcgetattr(slave, &settings) != 0) Fail("tcgetattr");
  settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
  settings.c_lflag |= ICANON | IEXTEN;
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  if (tcsetattr(slave, TCSANOW, &settings) != 0) Fail("tcsetattr");

  Duplicate(channels.terminal, channels.input);
  Duplicate(channels.terminal, channels.output);
  Duplicate(channels.childInput, channels.childOutput);
}

void OpenChannels(const RunOptions& options, Channels& channels) {
  if (options.console == ConsoleKind::Terminal) {
    OpenTerminal(channels);
  } else {
    MakePipe(channels.childInput, channels.input);
    MakePipe(channels.output, channels.childOutput);
    if (options.outputReaderGone) channels.output.Reset();
  }
  MakePipe(channels.error, channels.childError);
  MakePipe(channels.started, channels.childStarted);
  SetNonBlocking(channels.started);
  SetNonBlocking(channels.input);
  if (channels.output.IsOpen()) SetNonBlocking(channels.output);
  SetNonBlocking(channels.error);
}

// In the child, where the parent's state is not to be trusted: no allocation,
// and the failing step is told on whatever standard error it has by then.
void Tell(const char* text) {
  if (write(STDERR_FILENO, text, strlen(text)) < 0) {
    // Nothing better to do in a child that is failing anyway.
  }
}

[[noreturn]] void ChildFailed(const char* step) {
  const char* reason = strerror(errno);
  Tell("process runner: ");
  Tell(step);
  Tell(": ");
  Tell(reason);
  Tell("\n");
  _exit(kChildSetupFailed);
}

[[noreturn]] void StartChild(const Channels& channels, const RunOptions& options,
                             const std::string& directory, const std::function<int()>& body) {
  // Nothing the test process ignores, catches or blocks may reach the child;
  // done first, as a typed interrupt may come as soon as the terminal is its own.
  struct sigaction byDefault{};
  byDefault.sa_handler = SIG_DFL;
  for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
    sigaction(signalNumber, &byDefault, nullptr);  // refused for KILL, STOP and the library's own
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  // A session of its own: the terminal can become its controlling terminal,
  // and a timeout kills its whole process group.
  if (setsid() < 0) ChildFailed("setsid");
  if (options.console == ConsoleKind::Terminal &&
      ioctl(channels.childInput.Get(), TIOCSCTTY, 0) != 0) {
    ChildFailed("ioctl(TIOCSCTTY)");
  }
  if (dup2(channels.childInput.Get(), STDIN_FILENO) < 0 ||
      dup2(channels.childOutput.Get(), STDOUT_FILENO) < 0 ||
      dup2(channels.childError.Get(), STDERR_FILENO) < 0) {
    ChildFailed("dup2");
  }
  // Also closes the child's end of `started`, telling the parent to type.
  if (close_range(STDERR_FILENO + 1, ~0U, 0) != 0) ChildFailed("close_range");
  if (options.inputClosed) close(STDIN_FILENO);
  if (chdir(directory.c_str()) != 0) ChildFailed("chdir");
  if (options.unprivileged && geteuid() == 0) {
    if (setgroups(0, nullptr) != 0) ChildFailed("setgroups");
    if (setgid(kNobody) != 0) ChildFailed("setgid");
    if (setuid(kNobody) != 0) ChildFailed("setuid");
  }
  _exit(body());
}

class PipeSignalIgnored {
 public:
  PipeSignalIgnored() {
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous_);
  }
  PipeSignalIgnored(const PipeSignalIgnored&) = delete;
  PipeSignalIgnored& operator=(const PipeSignalIgnored&) = delete;
  ~PipeSignalIgnored() { sigaction(SIGPIPE, &previous_, nullptr); }

 private:
  struct sigaction previous_{};
};

// Until reaped the child's number cannot be reused; it may not lead its
// group yet when the timeout is (almost) zero.
void KillGroup(pid_t child, bool reaped) {
  if (kill(-child, SIGKILL) != 0 && !reaped) kill(child, SIGKILL);
}

// Reads what is there; false when the stream has ended. A terminal's master
// reports its end as EIO once no one holds the slave.
bool Collect(const Descriptor& from, std::string& into) {
  char buffer[16384];
  for (;;) {
    const ssize_t got = read(from.Get(), buffer, sizeof buffer);
    if (got > 0) {
      into.append(buffer, static_cast<size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
}

// Writes what fits; false when no more can go (all written, or the reader
// is gone: EPIPE on a pipe, EIO on a terminal).
bool Feed(const Descriptor& to, const std::string& bytes, size_t& written) {
  while (written < bytes.size()) {
    const ssize_t put = write(to.Get(), bytes.data() + written, bytes.size() - written);
    if (put > 0) {
      written += static_cast<size_t>(put);
    } else if (put < 0 && errno == EINTR) {
      continue;
    } else {
      return put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
  return false;
}

int MillisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Runs until the child has ended and both output streams are at their end.
void Supervise(pid_t child, Channels& channels, const RunOptions& options, RunResult& result) {
  const PipeSignalIgnored pipeSignalIgnored;
  size_t written = 0;
  if (options.standardInput.empty()) channels.input.Reset();
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);
  bool killed = false;
  bool reaped = false;
  int status = 0;

  for (;;) {
    if (!reaped && waitpid(child, &status, WNOHANG) == child) reaped = true;
    if (reaped && !channels.output.IsOpen() && !channels.error.IsOpen()) break;
    if (Clock::now() >= deadline) {
      if (killed) break;  // a descendant outside the group still holds a stream
      KillGroup(child, reaped);
      killed = true;
      result.timedOut = true;
      deadline = Clock::now() + kDrainAfterKill;
    }

    pollfd watched[4];
    nfds_t count = 0;
    const auto watch = [&](const Descriptor& descriptor, short events) {
      if (descriptor.IsOpen()) watched[count++] = {descriptor.Get(), events, 0};
    };
    watch(channels.started, POLLIN);
    if (!channels.started.IsOpen()) watch(channels.input, POLLOUT);
    watch(channels.output, POLLIN);
    watch(channels.error, POLLIN);
    // With both output streams closed no event announces the exit: look
    // again shortly.
    int waitMs = MillisecondsUntil(deadline);
    if (!channels.output.IsOpen() && !channels.error.IsOpen()) waitMs = std::min(waitMs, 1);
    if (poll(watched, count, waitMs) < 0 && errno != EINTR) {
      KillGroup(child, reaped);
      if (!reaped) waitpid(child, nullptr, 0);
      Fail("poll");
    }

    std::string nothing;  // the child never writes to `started`
    if (channels.started.IsOpen() && !Collect(channels.started, nothing)) channels.started.Reset();
    if (!channels.started.IsOpen() && channels.input.IsOpen() &&
        !Feed(channels.input, options.standardInput, written)) {
      channels.input.Reset();
    }
    if (channels.output.IsOpen() && !Collect(channels.output, result.standardOutput)) {
      channels.output.Reset();
    }
    if (channels.error.IsOpen() && !Collect(channels.error, result.standardError)) {
      channels.error.Reset();
    }
  }

  while (!reaped && waitpid(child, &status, 0) < 0 && errno == EINTR) continue;
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
}

RunResult Run(const std::function<int()>& body, const RunOptions& options) {
  RunResult result;
  result.directory = options.directory.empty() ? MakeTemporaryDirectory() : options.directory;
  Channels channels;
  OpenChannels(options, channels);

  std::fflush(nullptr);  // or the child's exit would write the parent's buffered output again
  const pid_t child = fork();
  if (child < 0) Fail("fork");
  if (child == 0) StartChild(channels, options, result.directory, body);

  channels.childStarted.Reset();
  channels.childInput.Reset();
  channels.childOutput.Reset();
  channels.childError.Reset();
  Supervise(child, channels, options, result);
  return result;
}

}  // namespace

const char* WhyUnsupported(const RunOptions&) { return nullptr; }

RunResult RunProgram(const std::string& path, const RunOptions& options) {
  // Built before the fork: the child only calls execv.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& argument : options.arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  return Run(
      [&]() -> int {
        execv(path.c_str(), argv.data());
        ChildFailed("execv");
      },
      options);
}

RunResult RunInChild(const std::function<int()>& body, const RunOptions& options) {
  return Run(body, options);
}

std::string MakeTemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "aggregate-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
  if (chmod(pattern.c_str(), 0777) != 0) Fail("chmod");
  return pattern;
}

void RemoveTree(const std::string& path) { std::filesystem::remove_all(path); }

std::string FullDiskPath() { return access("/dev/full", W_OK) == 0 ? "/dev/full" : ""; }

// Opening a file never excludes other openers here.
std::shared_ptr<void> HoldWithoutSharing(const std::string&) { return nullptr; }

// AddressSanitizer reserves far more address space than it uses.
#if defined(__SANITIZE_ADDRESS__)
#define ADDRESS_SPACE_RESERVED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ADDRESS_SPACE_RESERVED 1
#endif
#endif

bool LimitAddressSpace(size_t more) {
#ifdef ADDRESS_SPACE_RESERVED
  static_cast<void>(more);
  return false;
#else
  std::ifstream statm("/proc/self/statm");
  rlim_t pages = 0;
  statm >> pages;
  rlimit limit{pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + more, RLIM_INFINITY};
  return pages > 0 && setrlimit(RLIMIT_AS, &limit) == 0;
#endif
}

}  // namespace test_support
