// A refusal's line on standard error.
#include "aggregation/run/refusal.h"

#include <cstdarg>
#include <cstdio>

#include "textio/textio.h"

int Refuse(const char* format, ...) {
  char line[2100] = "aggregate: ";
  constexpr size_t kPrefix = sizeof "aggregate: " - 1;
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line + kPrefix, sizeof line - kPrefix, format, arguments);
  va_end(arguments);
  textio::WriteErrorLine(line);
  return kRefused;
}
