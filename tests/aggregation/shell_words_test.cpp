// The words of a command quoted for cmd, read back as cmd and then the C
// runtime read them: each word as it was given, on any system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aggregation/inspection/shell_words.h"

namespace {

// cmd's pass over a line typed at the prompt: outside quotation marks a ^
// gives the next character as it is; a % must never stand inside them,
// where cmd would expand it. The marks themselves pass on to the program.
std::string PassedByCmd(const std::string& line, bool& percentInQuotes) {
  std::string passed;
  bool quoted = false;
  percentInQuotes = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') quoted = !quoted;
    if (!quoted && c == '^' && i + 1 < line.size()) {
      passed += line[++i];
      continue;
    }
    percentInQuotes = percentInQuotes || (quoted && c == '%');
    passed += c;
  }
  return passed;
}

// The C runtime's words: 2n backslashes before a quotation mark give n and
// the mark opens or closes the quoting, 2n + 1 give n and the mark itself;
// other backslashes stand as they are; blanks outside the quoting part words.
std::vector<std::string> RuntimeWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (size_t i = 0; i < line.size();) {
    if (line[i] == '\\') {
      size_t n = 0;
      for (; i < line.size() && line[i] == '\\'; ++i) ++n;
      const bool beforeMark = i < line.size() && line[i] == '"';
      word.append(beforeMark ? n / 2 : n, '\\');
      if (beforeMark && n % 2 == 1) word += line[i++];
      inWord = true;
    } else if (line[i] == '"') {
      quoted = !quoted;
      inWord = true;
      ++i;
    } else if (line[i] == ' ' && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      ++i;
    } else {
      word += line[i++];
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

TEST(CmdWords, ReadBackAsGiven) {
  const std::vector<std::string> words = {
      "aggregate.exe", "C:\\%TEMP%\\d.dat", "C:\\My Data\\", "100%", "%", "a\\\\%b%\\", "\\\\server\\share\\x y.dat",
      "survey (2024) & more.dat", "it's.dat"};
  std::string line;
  for (const std::string& word : words) AddShellWord(line, word.c_str(), textio::platform::CommandShell::Cmd);
  bool percentInQuotes = false;
  EXPECT_EQ(RuntimeWords(PassedByCmd(line, percentInQuotes)), words) << line;
  EXPECT_FALSE(percentInQuotes) << line;
}

}  // namespace
