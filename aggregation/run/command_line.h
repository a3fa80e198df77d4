// A run asked for on the command line, for scripts: aggregate --output
// PATTERNS [--cases N --variables M] DATA. It asks nothing; the names are
// the arguments, whole, and counts not given are those --inspect gives.
#pragma once

#include <cstdint>

struct CommandLineRun {
  const char* dataName = nullptr;
  const char* outputName = nullptr;
  int32_t ncases = 0;  // 0: not given
  int32_t nvars = 0;
};

// Whether the arguments ask for a run without the dialog: one of them is
// --output, --cases or --variables (or one of these with =VALUE).
bool AsksForCommandLineRun(int argc, const char* const* argv);

// Takes the run from the arguments, and the counts not given from an
// inspection of the data file. What it cannot take it refuses: one line on
// standard error, in words for a user at a shell, and exit status 1, before
// any file is made.
void TakeCommandLine(int argc, const char* const* argv, CommandLineRun& run);

// A refusal of a run asked for on the command line: "aggregate: " and the
// reason on standard error, then the end of the run with status 1.
[[noreturn]] void RefuseCommandLine(const char* reason);
