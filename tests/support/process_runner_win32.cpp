// Starts a child with its standard handles on pipes by CreateProcess, feeds
// it its input and collects its output on threads of their own, so that
// neither side can block the other however much is written. A body runs in
// the test program started again on the current test only, told by the
// environment which run it is and which pipes are its standard handles.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <system_error>
#include <thread>

#include "support/process_runner.h"

namespace test_support {
namespace {

constexpr char kChildVariable[] = "AGGREGATE_TEST_CHILD";

[[noreturn]] void Fail(const char* what) {
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
}

// What a test program started as a child was told: the run it stands for
// (counted from 1 in its test) and its standard handles. `run` is 0 in a
// test program that is no child.
struct ChildOrder {
  int run = 0;
  HANDLE input = nullptr, output = nullptr, error = nullptr;
};

const ChildOrder& Order() {
  static const ChildOrder order = [] {
    ChildOrder told;
    char text[128];
    DWORD length = GetEnvironmentVariableA(kChildVariable, text, sizeof text);
    if (length == 0 || length >= sizeof text) return told;
    char* next = text;
    told.run = static_cast<int>(std::strtol(next, &next, 10));
    for (HANDLE* handle : {&told.input, &told.output, &told.error}) {
      *handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(next, &next, 10)));
    }
    return told;
  }();
  return order;
}

// Runs made so far in the current test, in this program.
int CountRun() {
  static const testing::TestInfo* test = nullptr;
  static int runs = 0;
  const testing::TestInfo* current = testing::UnitTest::GetInstance()->current_test_info();
  if (current != test) {
    test = current;
    runs = 0;
  }
  return ++runs;
}

class OwnedHandle {
 public:
  OwnedHandle() = default;
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { Reset(); }

  HANDLE Get() const { return handle_; }
  HANDLE* Receive() {
    Reset();
    return &handle_;
  }
  void Reset() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// The parent's end stays its own; the child's end is inherited.
void MakePipe(OwnedHandle& readEnd, OwnedHandle& writeEnd, bool childReads) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  if (!CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inherited, 0)) Fail("CreatePipe");
  if (!SetHandleInformation(childReads ? writeEnd.Get() : readEnd.Get(), HANDLE_FLAG_INHERIT, 0)) {
    Fail("SetHandleInformation");
  }
}

void OpenNull(OwnedHandle& null, DWORD access) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  *null.Receive() = CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (null.Get() == INVALID_HANDLE_VALUE) Fail("CreateFile(NUL)");
}

// One argument as the C runtime splits a command line: quoted when it holds
// a blank, a tab or a quote, a quote and the backslashes before it escaped.
std::string Quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH * 4];
  DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) Fail("GetFullPathName");
  return full;
}

void Collect(HANDLE from, std::string& into) {
  char buffer[16384];
  DWORD got = 0;
  while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0) into.append(buffer, got);
}

// Writes until all is written or the reader has gone, then closes the pipe.
void Feed(OwnedHandle& to, const std::string& bytes) {
  size_t written = 0;
  DWORD put = 0;
  while (written < bytes.size() &&
         WriteFile(to.Get(), bytes.data() + written, static_cast<DWORD>(bytes.size() - written), &put, nullptr)) {
    written += put;
  }
  to.Reset();
}

// Starts `commandLine`; a body's child (`bodyRun` above 0) gets the pipes
// through the environment and the null device as its standard handles, so
// that what the test framework prints there is not taken for the body's.
RunResult Run(const std::string& commandLine, const RunOptions& options, int bodyRun) {
  RunResult result;
  result.directory = options.directory.empty() ? MakeTemporaryDirectory() : options.directory;
  OwnedHandle input, childInput, output, childOutput, error, childError, nullInput, nullOutput;
  if (!options.inputClosed) MakePipe(childInput, input, true);
  MakePipe(output, childOutput, false);
  MakePipe(error, childError, false);
  if (options.outputReaderGone) output.Reset();

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  if (bodyRun > 0) {
    OpenNull(nullInput, GENERIC_READ);
    OpenNull(nullOutput, GENERIC_WRITE);
    startup.hStdInput = nullInput.Get();
    startup.hStdOutput = startup.hStdError = nullOutput.Get();
    std::string order = std::to_string(bodyRun);
    for (const OwnedHandle* handle : {&childInput, &childOutput, &childError}) {
      order += " " + std::to_string(reinterpret_cast<uintptr_t>(handle->Get()));
    }
    SetEnvironmentVariableA(kChildVariable, order.c_str());
  } else {
    startup.hStdInput = childInput.Get();
    startup.hStdOutput = childOutput.Get();
    startup.hStdError = childError.Get();
  }
  PROCESS_INFORMATION started{};
  // Under Wine a busy machine now and then fails a start with an internal
  // error that a second try does not meet.
  BOOL created = FALSE;
  for (int attempt = 0; attempt < 3 && !created; ++attempt) {
    if (attempt > 0) Sleep(100);
    std::string mutableLine = commandLine;
    created = CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             result.directory.c_str(), &startup, &started);
  }
  if (bodyRun > 0) SetEnvironmentVariableA(kChildVariable, nullptr);
  if (!created) Fail("CreateProcess");
  OwnedHandle process, thread;
  *process.Receive() = started.hProcess;
  *thread.Receive() = started.hThread;
  childInput.Reset();
  childOutput.Reset();
  childError.Reset();

  std::thread feeder([&] { Feed(input, options.standardInput); });
  std::thread errorReader([&] { Collect(error.Get(), result.standardError); });
  std::thread outputReader([&] {
    if (output.Get() != nullptr) Collect(output.Get(), result.standardOutput);
  });
  if (WaitForSingleObject(process.Get(), static_cast<DWORD>(options.timeoutSeconds) * 1000) == WAIT_TIMEOUT) {
    TerminateProcess(process.Get(), 1);
    WaitForSingleObject(process.Get(), INFINITE);
    result.timedOut = true;
  }
  feeder.join();
  errorReader.join();
  outputReader.join();
  DWORD status = 0;
  if (GetExitCodeProcess(process.Get(), &status)) result.exitStatus = static_cast<int>(status);
  return result;
}

}  // namespace

const char* WhyUnsupported(const RunOptions& options) {
  if (options.console == ConsoleKind::Terminal) return "the tests have no pseudo-terminal on Windows";
  if (options.unprivileged) return "the tests have no unprivileged user to run as on Windows";
  return nullptr;
}

RunResult RunProgram(const std::string& path, const RunOptions& options) {
  if (CountRun() < Order().run) return {};
  std::string commandLine = Quoted(FullPath(path));
  for (const std::string& argument : options.arguments) commandLine += " " + Quoted(argument);
  return Run(commandLine, options, 0);
}

RunResult RunInChild(const std::function<int()>& body, const RunOptions& options) {
  const int run = CountRun();
  const ChildOrder& order = Order();
  if (order.run > 0) {
    if (run < order.run) return {};
    SetStdHandle(STD_INPUT_HANDLE, order.input);
    SetStdHandle(STD_OUTPUT_HANDLE, order.output);
    SetStdHandle(STD_ERROR_HANDLE, order.error);
    ExitProcess(static_cast<UINT>(body()));
  }
  char self[MAX_PATH * 4];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  if (length == 0 || length >= sizeof self) Fail("GetModuleFileName");
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
  return Run(Quoted(self) + " " + Quoted(filter), options, run);
}

std::string MakeTemporaryDirectory() {
  if (Order().run > 0) return std::filesystem::current_path().string();
  static unsigned made = 0;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    std::filesystem::path directory =
        base / ("aggregate-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made));
    if (std::filesystem::create_directory(directory)) return directory.string();
  }
}

// Through its "\\?\" path, so that a file whose name the system would take
// as a device (lpt1.txt) is removed as the file it is.
void RemoveTree(const std::string& path) {
  if (Order().run == 0) std::filesystem::remove_all("\\\\?\\" + std::filesystem::absolute(path).string());
}

// Wine shows the host's files on drive Z:, among them its full device.
std::string FullDiskPath() {
  const char* path = "Z:\\dev\\full";
  HANDLE full = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (full == INVALID_HANDLE_VALUE) return "";
  CloseHandle(full);
  return path;
}

std::shared_ptr<void> HoldWithoutSharing(const std::string& path) {
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) Fail("CreateFile");
  return std::shared_ptr<void>(held, CloseHandle);
}

// No limit on a process's address space is set here.
bool LimitAddressSpace(size_t) { return false; }

}  // namespace test_support
