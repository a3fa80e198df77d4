// Runs the program, or a piece of the layer, in a child process with given
// standard input, through pipes or through a pseudo-terminal, and captures
// what it writes, how it ended and where it ran. One implementation per system.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

enum class ConsoleKind {
  Pipes,     // standard input, output and error are pipes
  Terminal,  // standard input and output are one pseudo-terminal; standard error a pipe
};

struct RunOptions {
  std::vector<std::string> arguments;  // after the program name
  // Bytes fed to standard input. On a terminal they are typed: lines end
  // with '\n'; a 0x04 at the start of a line reads as the end of input (the
  // terminal never ends otherwise); a line holds at most 4095 bytes before
  // its '\n' (the rest is dropped); 0x03 interrupts the child at once,
  // throwing away what it has not read yet; 0x1A throws that away too but
  // stops nothing, and reaches the child as a byte only after a 0x16.
  std::string standardInput;
  ConsoleKind console = ConsoleKind::Pipes;
  bool unprivileged = false;      // when root, the child runs as user and group 65534
  bool inputClosed = false;       // the child starts without a standard input
  bool outputReaderGone = false;  // on pipes, standard output's reader has gone
  std::string directory;          // working directory; empty: a fresh one of mode 0777
  int timeoutSeconds = 30;        // then the child and its process group are killed
};

struct RunResult {
  std::string standardOutput;  // on a terminal: exactly the bytes written, untranslated
  std::string standardError;
  int exitStatus = -1;  // when the child exited
  int signal = 0;       // when a signal ended the child
  bool timedOut = false;  // cut off at the timeout
  std::string directory;  // the working directory, kept for the files left there;
                          // one the runner made is the caller's to remove
};

// Why this system cannot make a run with these options, or null when it can.
const char* WhyUnsupported(const RunOptions& options);

// Runs the program at `path` with `options.arguments` after its name.
RunResult RunProgram(const std::string& path, const RunOptions& options);

// Runs `body` in a child, which normally ends the process itself; if the
// body returns, the child ends at once with the returned status. Where the
// system cannot fork, the child is the test program running the current test
// again: everything the test does before this call is done again in the child
// (up to this call, earlier runs give empty results), temporary directories
// are the child's working directory and nothing is removed there.
RunResult RunInChild(const std::function<int()>& body, const RunOptions& options);

// A fresh directory under the system's temporary directory, of mode 0777 so
// that an unprivileged child can work in it.
std::string MakeTemporaryDirectory();
void RemoveTree(const std::string& path);  // the directory with everything in it

// A file whose writes fail for want of space, or empty where there is none.
std::string FullDiskPath();
// Holds the file at `path` open, shared with no other opener, until the
// result is released; null where the system has no such opening.
std::shared_ptr<void> HoldWithoutSharing(const std::string& path);
// Lets this process map at most `more` bytes beyond what it maps now; false
// where the system, or the sanitizers' own reservations, do not allow it.
bool LimitAddressSpace(size_t more);

std::optional<std::string> ReadFileBytes(const std::string& path);  // none when missing
void WriteFileBytes(const std::string& path, const std::string& bytes);
std::vector<std::string> ListRegularFiles(const std::string& directory);  // names, sorted

}  // namespace test_support
