// What the program says of itself when asked with --help or --version.
#pragma once

// Handles a first argument of --help, -h, /? or --version: writes the usage
// text or the version and ends the run. Any other argument is left to its
// role as a file name.
void AnswerInformationRequest(int argc, const char* const* argv);
