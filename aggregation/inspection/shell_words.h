// Words of a command line, quoted so that a shell reads each back as it
// stands: a POSIX shell, or Windows' cmd and the C runtime after it.
#pragma once

#include <string>

#include "textio/platform.h"

// Appends `word` to `line`, quoted for `shell` where it needs to be.
void AddShellWord(std::string& line, const char* word, textio::platform::CommandShell shell);
