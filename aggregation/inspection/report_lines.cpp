// An inspection report's lines, counts and suggested command.
#include "aggregation/inspection/report_lines.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "aggregation/inspection/shell_words.h"
#include "textio/textio.h"

namespace {

constexpr size_t kLineWidth = 78;  // the console's lines hold 79 characters: kept below that

}  // namespace

void Say(const char* format, ...) {
  char text[2048];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  const size_t indent = std::strspn(text, " ");
  char line[2048 + kLineWidth];
  const char* rest = text;
  for (size_t prefix = 0;; prefix = indent) {
    size_t lead = std::strspn(rest, " ");
    size_t cut = std::strlen(rest);
    if (prefix + cut > kLineWidth) {
      // The last blank that leaves the line short enough; a longer word stays whole.
      cut = kLineWidth - prefix;
      while (cut > lead && rest[cut] != ' ') --cut;
      if (cut == lead) cut = lead + std::strcspn(rest + lead, " ");
    }
    std::snprintf(line, sizeof line, "%*s%.*s", static_cast<int>(prefix), "", static_cast<int>(cut), rest);
    textio::WriteOutputLine(line);
    if (rest[cut] == '\0') return;
    rest += cut + 1;
  }
}

Grouped::Grouped(int64_t count) {
  char digits[24];
  int length = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(count));
  char* out = text;
  for (int i = 0; i < length; ++i) {
    *out++ = digits[i];
    int left = length - 1 - i;
    if (left > 0 && left % 3 == 0 && digits[i] != '-') *out++ = ',';
  }
  *out = '\0';
}

Counted::Counted(int64_t count, const char* one, const char* many) {
  std::snprintf(text, sizeof text, "%s %s", Grouped(count).text, count == 1 ? one : many);
}

const char* PatternFileName(const char* dataName) {
  const char* base = dataName;
  for (const char* c = dataName; *c != '\0'; ++c) {
    if (*c == '/' || *c == '\\') base = c + 1;
  }
  static const char kOutputName[] = "patterns.txt";
  bool same = std::strlen(base) == sizeof kOutputName - 1 &&
              std::equal(base, base + sizeof kOutputName - 1, kOutputName, [](char a, char b) { return (a | 0x20) == b; });
  return same ? "patterns-out.txt" : kOutputName;
}

void SayCommand(const char* program, const std::vector<std::string>& options, const char* dataName) {
  const textio::platform::CommandShell shell = textio::platform::kCommandShell;
  const bool byPath = std::strpbrk(program, shell == textio::platform::CommandShell::Cmd ? "/\\" : "/") != nullptr;
  std::string command;
  AddShellWord(command, byPath ? program : "aggregate", shell);
  for (const std::string& word : options) AddShellWord(command, word.c_str(), shell);
  if (dataName[0] == '-') AddShellWord(command, "--", shell);
  AddShellWord(command, dataName, shell);
  // One line, however long: a command broken over lines would not run as copied.
  textio::WriteOutputLine(("  " + command).c_str());
  // A batch file takes % for the start of a variable, where the prompt does not.
  if (shell == textio::platform::CommandShell::Cmd && command.find('%') != std::string::npos) {
    Say("In a .bat file, write each %% in it as %%%%.");
  }
}
