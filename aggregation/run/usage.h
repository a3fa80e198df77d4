// What the program says of itself when asked: its usage text (--help, -h,
// /?), its version (--version), and a look at a data file before a run
// (--inspect FILE).
#pragma once

#include <optional>

// Answers a first argument of --help, -h, /?, --version or --inspect, and
// returns the exit status to end the run with. Any other argument is left
// to its role as a file name or an option: nothing is returned.
std::optional<int> AnswerInformationRequest(int argc, const char* const* argv);
