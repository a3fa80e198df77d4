// Quoting for the shells a user types commands at.
#include "aggregation/inspection/shell_words.h"

#include <cstring>

namespace {

// Characters no shell of either kind treats as anything but themselves (a
// comma parts the words of cmd's own commands only, not a program's).
bool Plain(const char* word) {
  static const char kPlain[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./:@+-,";
  return *word != '\0' && word[std::strspn(word, kPlain)] == '\0';
}

// Between apostrophes, in which a POSIX shell takes every character as it
// is; an apostrophe ends the quoting, is given escaped, and opens it again.
void AddPosixWord(std::string& line, const char* word) {
  line += '\'';
  for (const char* c = word; *c != '\0'; ++c) {
    if (*c == '\'') {
      line += "'\\''";
    } else {
      line += *c;
    }
  }
  line += '\'';
}

// Between quotation marks, in which cmd passes & | < > ( ) and blanks on as
// they are, and after it the C runtime takes the word whole. A % is given
// outside them, escaped with ^, as cmd expands % even inside them. Before
// every closing mark, that of the word and those before a %, the backslashes
// are doubled, as the runtime would take the last of them for an escape of
// the mark. (No Windows name holds a quotation mark.)
void AddCmdWord(std::string& line, const char* word) {
  line += '"';
  size_t backslashes = 0;
  for (const char* c = word; *c != '\0'; ++c) {
    if (*c == '%') {
      line.append(backslashes, '\\');
      line += "\"^%\"";
    } else {
      line += *c;
    }
    backslashes = *c == '\\' ? backslashes + 1 : 0;
  }
  line.append(backslashes, '\\');
  line += '"';
}

}  // namespace

void AddShellWord(std::string& line, const char* word, textio::platform::CommandShell shell) {
  if (!line.empty()) line += ' ';
  if (Plain(word)) {
    line += word;
  } else if (shell == textio::platform::CommandShell::Posix) {
    AddPosixWord(line, word);
  } else {
    AddCmdWord(line, word);
  }
}
