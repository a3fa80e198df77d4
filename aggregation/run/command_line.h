// A run asked for on the command line, for scripts: aggregate --output
// PATTERNS [--cases N --variables M] DATA. It asks nothing; the names are
// the arguments, whole, and counts not given are those --inspect gives.
#pragma once

#include <cstdint>

#include "aggregation/run/export_run.h"

struct CommandLineRun {
  const char* dataName = nullptr;
  const char* outputName = nullptr;
  int32_t ncases = 0;  // 0: not given
  int32_t nvars = 0;
  ExportOptions exportOptions;  // any given: the data file is a delimited export
};

// Whether the arguments ask for a run without the dialog: one of them, before
// any --, starts with -- as an option does (--output, --cases, --variables;
// one mistyped is refused, never taken for a file name), other than the
// information requests, which are names after the first argument.
bool AsksForCommandLineRun(int argc, const char* const* argv);

// Takes the run from the arguments, and, for a data file that is no
// export, the counts not given from an inspection of it. Returns 0, or, for
// what it cannot take, the status of its refusal (refusal.h), before any
// file is made.
int TakeCommandLine(int argc, const char* const* argv, CommandLineRun& run);
