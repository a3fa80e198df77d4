// Whole runs of the program on seeded random data files, held against a
// model small enough to trust: it reads the forms the files are written in
// by the rules of a read statement, and counts the cases' patterns in a
// std::map. The files reach every way a run reads and counts its cases: few
// patterns and up to 100,000, the switch from counting at any point, to
// packed keys or to the matrix, keys widened by a wider value that comes
// late or moved into the matrix, files large enough for a second reading
// thread, every form of the data, and a value that ends the run anywhere. AGGREGATE_RANDOM_FILES sets the number
// of files, AGGREGATE_RANDOM_SEED the seed (else a fresh one, named by a failure).
#ifndef _WIN32
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <random>
#include <set>
#include <string_view>
#include <utility>

#include "aggregation/core/packed_cases.h"
#include "aggregation/reading/case_reading.h"
#include "aggregation/reading/pattern_table.h"
#include "support/death_test.h"
#include "support/patterns.h"
#include "textio/textio.h"

namespace {

constexpr int64_t kLoad = textio::kFileReadLoad;

// What a run on a data file gives, as the model reads it.
struct Model {
  test_support::PatternCounts counts;
  std::string report;     // the run-time error report that ends the run, if one does
  bool switched = false;  // the patterns outgrew the counting table
  bool secondThread = false;
  // How the cases were held after the switch: packed at first, widened
  // later, packed to the end.
  bool packedAtFirst = false, widened = false, packedAtEnd = false;
  // What the reading passed over: records whose values after a case's last
  // one it skipped, and the first one's line; the line of the first value
  // after the last case, 0 when there is none.
  int64_t skippedRecords = 0, firstSkippedLine = 0, lineLeft = 0;
  // The items a null value left 0, and where the first stands; a slash alone gives none.
  int64_t nullValues = 0, firstNullLine = 0, firstNullVariable = 0;
};

// Anything a value could be made of: a byte other than a blank, a control
// character, a comma or a slash.
bool HoldsValue(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b > ' ' && b != ',' && b != '/' && b != '\'' && b != '"' && b != '(' && b != ')'; });
}

std::string Report(int number, const std::string& detail) {
  return "\r\nrun-time error F" + std::to_string(number) + ": READ(data.txt)\r\n- " + textio::RunErrorMessage(number) +
         ": " + detail + "\r\n";
}

// What the run writes on standard error: the report that ends it, or after
// "Done." its warnings: the fields written as asterisks, the first in
// pattern order; a value after the last case; the records whose values after
// a case's last one were skipped.
std::string ExpectedStandardError(const Model& model, int32_t ncases) {
  if (!model.report.empty()) return model.report;
  std::string warnings, first;
  int64_t starred = 0, record = 0;
  for (const auto& [reversed, count] : model.counts) {
    ++record;
    for (size_t j = 0; j < reversed.size(); ++j) {
      const int32_t value = reversed[reversed.size() - 1 - j];
      if (value >= -99 && value <= 999) continue;
      if (starred++ == 0)
        first = "variable " + std::to_string(j + 1) + " of record " + std::to_string(record) + ", value " +
                std::to_string(value);
    }
    if (count > 999999 && starred++ == 0)
      first = "the count of record " + std::to_string(record) + ", " + std::to_string(count);
  }
  if (starred > 0) {
    warnings +=
        "aggregate: warning: " + std::to_string(starred) + (starred == 1 ? " field" : " fields") +
        " written as asterisks, not fitting the pattern file (values -99 to 999, counts up to 999999); the first: " +
        first + "\n";
  }
  if (model.lineLeft > 0) {
    warnings += "aggregate: warning: data left unread: the data file holds more than the " + std::to_string(ncases) +
                (ncases == 1 ? " case" : " cases") + " read; the first value left: line " +
                std::to_string(model.lineLeft) + "\n";
  }
  if (model.skippedRecords > 0) {
    warnings += "aggregate: warning: values skipped: " + std::to_string(model.skippedRecords) +
                (model.skippedRecords == 1 ? " record held" : " records held") +
                " values after their case's last one, not read; the first: line " +
                std::to_string(model.firstSkippedLine) + "\n";
  }
  if (model.nullValues > 0) {
    warnings += "aggregate: warning: " + std::to_string(model.nullValues) +
                (model.nullValues == 1 ? " value left empty was" : " values left empty were") +
                " read as 0; the first: line " + std::to_string(model.firstNullLine) + ", variable " +
                std::to_string(model.firstNullVariable) + "\n";
  }
  // Every case a pattern of its own, and among them a variable of a different value in each.
  if (ncases >= 20 && model.counts.size() == static_cast<size_t>(ncases)) {
    const size_t nvars = model.counts.begin()->first.size();
    for (size_t j = 0; j < nvars; ++j) {
      std::set<int32_t> values;
      for (const auto& [reversed, count] : model.counts) values.insert(reversed[nvars - 1 - j]);
      if (values.size() != static_cast<size_t>(ncases)) continue;
      warnings += "aggregate: warning: variable " + std::to_string(j + 1) + " takes a different value in each of the " +
                  std::to_string(ncases) + " cases: an ID column?\n";
      break;
    }
  }
  return warnings;
}

// A value as a report shows it.
std::string Shown(const std::string& value) {
  std::string text = "\"";
  for (unsigned char b : value) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, b == '"' || b == '\\' ? "\\%c" : b >= ' ' && b < 127 ? "%c" : "\\x%02X", b);
    text += escaped;
  }
  return text + "\"";
}

// Returns 0 or the error number.
int Convert(const std::string& token, int32_t& value) {
  if (token == "-2147483648") {
    value = INT32_MIN;
    return 0;
  }
  int64_t magnitude = 0;
  for (size_t k = token[0] == '-' || token[0] == '+' ? 1 : 0; k < token.size(); ++k) {
    if (token[k] < '0' || token[k] > '9') return textio::IntegerCharacter;
    magnitude = magnitude * 10 + (token[k] - '0');
    if (magnitude > INT32_MAX) return textio::IntegerOutOfRange;
  }
  value = static_cast<int32_t>(token[0] == '-' ? -magnitude : magnitude);
  return 0;
}

// Reads `ncases` cases of `nvars` values from `text`, a read statement each:
// a case starts on a new line, takes values across line ends, ends early at
// a slash, and skips the rest of the line its last value is on. Values are
// separated by blanks, tabs, line ends, or a comma among blanks; two commas
// make a null value, "r*v" is v r times, "r*" r null values. Nothing else
// is generated: any other byte is part of a value.
Model ReadModel(const std::string& text, int32_t ncases, int32_t nvars) {
  Model model;
  size_t at = 0;
  int64_t line = 1;
  int32_t smallest = INT32_MAX, largest = INT32_MIN;  // the values read
  Packing atSwitch{};
  for (int32_t c = 1; c <= ncases; ++c) {
    std::vector<int32_t> reversed(static_cast<size_t>(nvars), 0);
    char end = ',';  // what ended the value before
    bool endedByLineEnd = false;
    for (int32_t k = 0; k < nvars && end != '/';) {
      std::string value, token;  // as read; without a repeat count
      int64_t count = 1, valueLine = line;
      char before = end;
      for (end = 0, endedByLineEnd = false; end == 0;) {
        if (at == text.size()) {
          model.report = Report(textio::EndOfFile, std::to_string(c - 1) + (c == 2 ? " case read" : " cases read") +
                                                       ", the file ends in case " + std::to_string(c) + ", line " +
                                                       std::to_string(line));
          return model;
        }
        const char b = text[at++];
        const bool begun = !value.empty();
        if (b == '\r' || b == '\n') {
          at += b == '\r';  // its LF
          ++line;
          end = begun ? ' ' : 0;
          endedByLineEnd = begun;
        } else if (b == ' ' || b == '\t') {
          end = begun ? ' ' : 0;
        } else if (b == ',' && !begun && before == ' ') {
          before = ',';
        } else if (b == ',' || b == '/') {
          end = b;
        } else {
          if (!begun) valueLine = line;
          value += b;
          if (b == '*') count = std::stoll(std::exchange(token, ""));
          if (b != '*') token += b;
        }
      }
      int32_t given = 0;
      if (int error = token.empty() ? 0 : Convert(token, given); error != 0) {
        model.report =
            Report(error, Shown(value) + " in case " + std::to_string(c) + ", line " + std::to_string(valueLine));
        return model;
      }
      const bool slashAlone = value.empty() && end == '/';
      for (; count > 0 && k < nvars; --count, ++k) {
        if (!token.empty()) {
          reversed[static_cast<size_t>(nvars - 1 - k)] = given;
        } else if (!slashAlone && model.nullValues++ == 0) {
          model.firstNullLine = value.empty() ? line : valueLine;
          model.firstNullVariable = k + 1;
        }
      }
    }
    if (!endedByLineEnd) {
      const size_t next = text.find('\n', at) + 1;
      if (HoldsValue(std::string_view(text).substr(at, next - at)) && model.skippedRecords++ == 0)
        model.firstSkippedLine = line;
      at = next;
      ++line;
    }
    ++model.counts[reversed];
    smallest = std::min(smallest, *std::min_element(reversed.begin(), reversed.end()));
    largest = std::max(largest, *std::max_element(reversed.begin(), reversed.end()));
    if (model.switched || model.counts.size() <= static_cast<size_t>(CountingCapacity(nvars))) continue;
    model.switched = true;
    atSwitch = PackingFor(nvars, smallest, largest);
    model.packedAtFirst = SmallerThanRows(atSwitch);
    // The second reader takes the first record that starts within a load of where it begins.
    const int64_t from = LaterPartStart(static_cast<int64_t>(at), c, ncases);
    model.secondThread = c < ncases && from >= 0 && from < static_cast<int64_t>(text.size()) &&
                         static_cast<int64_t>(text.find('\n', static_cast<size_t>(from - 1))) < from - 1 + kLoad;
  }
  const Packing atEnd = PackingFor(nvars, smallest, largest);
  model.packedAtEnd = model.packedAtFirst && SmallerThanRows(atEnd);
  model.widened = model.packedAtFirst && atEnd.bits != atSwitch.bits;
  for (int64_t left = line; at < text.size(); ++at) {
    if (text[at] == '\n') ++left;
    if (HoldsValue(std::string_view(text).substr(at, 1))) {
      model.lineLeft = left;
      break;
    }
  }
  return model;
}

// A random data file: cases drawn from pools of patterns that change along
// the file, most written plainly, some in the other forms, one value perhaps
// one that cannot be read; and the number of cases to answer.
struct DataFile {
  std::string text;
  int32_t ncases = 0, nvars = 0;
};

struct Generator {
  explicit Generator(uint64_t seed) : random(seed) {}

  std::mt19937_64 random;
  std::string eol;
  double variedShare = 0;     // of the cases, those written in the other forms
  bool valuePerLine = false;  // of a plain case
  double extraShare = 0;      // of the plain cases, those with values after their last
  int64_t lateCase = -1;      // a case one of whose values is `lateValue`, wider than the others
  int32_t lateValue = 0;

  int64_t Uniform(int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(random); }
  template <typename T, size_t n>
  T Pick(const T (&choices)[n]) {
    return choices[Uniform(0, n - 1)];
  }

  // Neither a digit, a sign, a separator nor a byte the rules give a meaning of its own.
  std::string RefusedByte() {
    for (;;) {
      auto b = static_cast<char>(Uniform(1, 255));
      if (std::string("0123456789+- \t\r\n,/*#()'\"\x1a").find(b) == std::string::npos) return std::string(1, b);
    }
  }
  std::string BadValue() {
    switch (Uniform(0, 3)) {
      case 0: return std::to_string(Uniform(0, 9)) + RefusedByte() + std::to_string(Uniform(0, 9));
      case 1: return RefusedByte();
      case 2: return Pick({"1.5", "1E3", "NA", "12x", "."});
      default: return Pick({"2147483648", "-2147483649", "+2147483648", "4294967296", "99999999999", "-02147483648"});
    }
  }
  std::string Separator(bool nullBefore, bool nullAfter) {
    const std::string afterNull[] = {",", ", "}, beforeNull[] = {",", " ,", ", ", " , "},
                      any[] = {" ", "  ", "\t", ",", " , ", eol, eol + eol, " " + eol + "  " + eol, "," + eol};
    return nullBefore ? Pick(afterNull) : nullAfter ? Pick(beforeNull) : Pick(any);
  }

  // One case; `bad`, when not empty, stands for its value `badAt`.
  void WriteCase(const std::vector<int32_t>& values, const std::string& bad, size_t badAt, std::string& text) {
    if (!Chance(variedShare)) {
      for (size_t j = 0; j < values.size(); ++j) {
        if (j > 0) text += valuePerLine ? eol.c_str() : " ";
        text += j == badAt ? bad : std::to_string(values[j]);
      }
      text += Chance(extraShare) ? " 9 -9" + eol : eol;
      return;
    }
    const std::string blankLines[] = {eol, "  " + eol, "\t" + eol},
                      ends[] = {eol, " " + eol, " 9 -9" + eol, " 1.5 NA" + eol, ",," + eol};
    if (Chance(0.3)) text += Pick(blankLines);
    bool nullBefore = false;
    for (size_t j = 0; j < values.size();) {
      const int32_t v = values[j];
      size_t run = 1;
      while (j + run < values.size() && values[j + run] == v) ++run;
      const int64_t form = Uniform(0, 4);
      const bool null = form == 2 && j != badAt;
      if (j > 0) text += Separator(nullBefore, null);
      nullBefore = null;
      if (j == badAt) {
        text += bad;
      } else if (form == 4) {
        text += "/";
        break;
      } else if (form == 3 && (badAt < j || badAt >= j + run)) {
        const auto r = static_cast<size_t>(Uniform(1, static_cast<int64_t>(run)));
        text += std::to_string(r) + (v == 0 && Chance(0.5) ? "*" : "*" + std::to_string(v));
        j += r;
        continue;
      } else if (!null) {
        text += (form == 1 && v >= 0 ? "+" : "") + std::to_string(v);
      }
      ++j;
    }
    if (nullBefore) text += ",";
    text += Pick(ends);
  }

  // Kinds of file: short ones in every form; counted ones of a few patterns;
  // ones whose patterns outgrow the table at a random point; and three kinds
  // of 4 MiB or more after the table is outgrown: with forms that the second
  // thread leaves to the reading in order; with a value a line, so that it
  // starts inside a case; and with values after a case's last, which it
  // skips. Its work is taken only when the reading in order reaches its
  // start before it has taken every row: in the last two kinds most of the
  // cases are read, and their values widen once the table is outgrown, so
  // that the bytes left, judged by the cases before, seem fewer and it
  // starts early. Along each file the cases are drawn from pools of a few
  // patterns, or are new patterns one after another, up to 100,000 of them.
  DataFile Generate(int kind) {
    DataFile file;
    const bool large = kind >= 3, taken = kind >= 4;
    file.nvars = static_cast<int32_t>(kind == 2 && Chance(0.3) ? Uniform(30, 300)
                                                               : Uniform(taken   ? 8
                                                                         : large ? 4
                                                                                 : 1,
                                                                         12));
    const int64_t capacity = CountingCapacity(file.nvars);
    eol = Chance(0.5) ? "\r\n" : "\n";
    variedShare = kind == 0 ? 0.4 : kind == 3 ? 0.001 * static_cast<double>(Uniform(1, 2)) : taken ? 0 : 0.03;
    valuePerLine = kind == 4;
    extraShare = large ? 0.1 : 0;
    const int64_t bytes = taken ? Uniform(7000, 8000) * 1024 : large ? Uniform(5000, 6500) * 1024 : int64_t{4} << 20;
    const int64_t cases = kind == 0   ? Uniform(1, 300)
                          : kind == 1 ? Uniform(1000, 30000)
                          : kind == 2 ? std::min(Uniform(2 * capacity, 110000), bytes / (2 * file.nvars))
                                      : INT32_MAX;
    // Pattern p is its digits in `base`, from `low` on: values of one or two
    // characters in the large files, of one at first where the work is taken,
    // of any width in the others.
    const auto base = std::max(Uniform(2, 9), static_cast<int64_t>(std::ceil(std::pow(1 << 20, 1.0 / file.nvars))));
    const int64_t lows[] = {0, 0, 0, 1, -5, 128, 995, -100, INT32_MAX - base + 1, INT32_MIN};
    const int64_t low = lows[Uniform(0, taken ? 0 : large ? 5 : 9)];
    // Values of 8 bits, negative or of 31 bits, at a case that most likely
    // comes after the switch from counting.
    const int32_t lateValues[] = {200, -1, -100, (1 << 30) + 7};
    lateCase = kind >= 2 && Chance(0.5) ? Uniform(capacity, std::min<int64_t>(cases, bytes / file.nvars / 2)) : -1;
    lateValue = Pick(lateValues);
    const int64_t badCase = Chance(kind == 0 ? 0.4
                                   : taken   ? 0
                                   : large   ? 0.15
                                             : 0.3)
                                ? Uniform(0, std::min<int64_t>(cases - 1, 300000))
                                : -1;
    const auto badAt = static_cast<size_t>(Uniform(0, file.nvars - 1));
    const std::string bad = BadValue();
    std::vector<int32_t> values(static_cast<size_t>(file.nvars));
    int64_t written = 0, limit = large ? INT64_MAX : bytes, first = 0, end = 0, pool = 0, size = 0, patterns = 0;
    for (bool fresh = false; written < cases && static_cast<int64_t>(file.text.size()) < limit; ++written) {
      if (written == end) {
        // A large file holds that many bytes after the cases that outgrow the table.
        if (large && written > 0 && limit == INT64_MAX) limit = static_cast<int64_t>(file.text.size()) + bytes;
        fresh = large ? written == 0 || Chance(0.5) : kind == 2 && written > 0 && Chance(0.8);
        first = written;
        end = written + (large && written == 0       ? capacity + Uniform(1, 20000)
                         : kind == 2 && written == 0 ? Uniform(1, cases / 3)
                                                     : Uniform(1, std::min(cases, int64_t{1} << 20) - written));
        pool = patterns;
        size = fresh ? std::min(end - first, Uniform(capacity, 100000)) : Uniform(1, kind == 0 ? 30 : 300);
        patterns += size;
      }
      int64_t p = pool + (fresh ? (written - first) % size : Uniform(0, size - 1));
      for (int32_t& value : values) {
        value = static_cast<int32_t>(low + p % base + (taken && first > 0 ? 90 : 0));
        p /= base;
      }
      if (written == lateCase) values[static_cast<size_t>(Uniform(0, file.nvars - 1))] = lateValue;
      WriteCase(values, written == badCase ? bad : "", written == badCase ? badAt : values.size(), file.text);
    }
    const int64_t answers[] = {written, written, Uniform(large ? written / 2 : 1, written), written + Uniform(1, 10)};
    file.ncases = static_cast<int32_t>(taken ? Uniform(written * 17 / 20, written - 1) : Pick(answers));
    return file;
  }
};

// Runs the program as a user does, in `folder` made afresh for the data file
// (a file written over would be written to the disk at once), its four
// answers on standard input; returns its exit status.
int RunProgram(const std::string& folder, const DataFile& file) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  test_support::WriteFile(folder + "/data.txt", file.text);
  test_support::WriteFile(folder + "/answers", "data.txt\npatterns.txt\n" + std::to_string(file.ncases) + "\n" +
                                                   std::to_string(file.nvars) + "\n");
  int status = std::system(("cd '" + folder + "' && '" AGGREGATE_PROGRAM "' <answers >stdout 2>stderr").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A row of seeds: a fixed one, whose files reach every path of a run
// (the switch to the matrix, a second reader, a report, warnings) on every
// run of the suite, or a fresh one from the clock, printed, that may reach
// what no fixed seed does.
struct SeedRow {
  const char* name;
  uint64_t seed;  // 0: fresh, or AGGREGATE_RANDOM_SEED when that is set
};

class RandomDataFiles : public testing::TestWithParam<SeedRow> {};

TEST_P(RandomDataFiles, RunAsTheModelReadsThem) {
  const char* seedText = std::getenv("AGGREGATE_RANDOM_SEED");
  const char* filesText = std::getenv("AGGREGATE_RANDOM_FILES");
  const bool fresh = GetParam().seed == 0;
  if (!fresh && seedText != nullptr) GTEST_SKIP() << "AGGREGATE_RANDOM_SEED runs the fresh row alone";
  const uint64_t seed = !fresh                ? GetParam().seed
                        : seedText != nullptr ? std::strtoull(seedText, nullptr, 10)
                                              : static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const int files = filesText != nullptr ? std::atoi(filesText) : 24;
  const std::string folder = test_support::TestFolder();
  int switched = 0, packed = 0, widened = 0, moved = 0, threads = 0, reports = 0, warned = 0;
  for (int f = 0; f < files; ++f) {
    Generator generator(seed + static_cast<uint64_t>(f));
    // Kinds 0 to 2 in turn, and after each turn one of the large ones.
    const DataFile file = generator.Generate(f % 4 < 3 ? f % 4 : 3 + f / 4 % 3);
    const Model model = ReadModel(file.text, file.ncases, file.nvars);
    switched += model.switched;
    if (model.switched && model.report.empty()) {
      packed += model.packedAtFirst;
      widened += model.widened && model.packedAtEnd;
      moved += model.packedAtFirst && !model.packedAtEnd;
    }
    threads += model.secondThread;
    reports += !model.report.empty();
    warned += model.report.empty() && !ExpectedStandardError(model, file.ncases).empty();
    const int status = RunProgram(folder, file);
    const std::string where = "file " + std::to_string(f) + " of seed " + std::to_string(seed) + " (" +
                              std::to_string(file.ncases) + " cases of " + std::to_string(file.nvars) +
                              " variables), kept in " + folder + "; AGGREGATE_RANDOM_SEED=" + std::to_string(seed) +
                              " AGGREGATE_RANDOM_FILES=" + std::to_string(f + 1) + " runs it again";
    const std::string error = test_support::ReadFile(folder + "/stderr").value_or("");
    const auto patterns = test_support::ReadFile(folder + "/patterns.txt");
    const auto expected =
        model.report.empty() ? std::optional(test_support::PatternRecords(model.counts)) : std::nullopt;
    ASSERT_EQ(status, model.report.empty() ? 0 : 1) << where;
    ASSERT_EQ(error, ExpectedStandardError(model, file.ncases)) << where;
    ASSERT_TRUE(patterns == expected) << "patterns.txt " << test_support::Difference(patterns, expected) << ", " << where;
  }
  std::filesystem::remove_all(folder);
  std::cout << files << " files of seed " << seed << ": " << switched << " switch from counting (of those read to the end "
            << packed << " to packed keys, " << widened << " widened and " << moved << " moved into the matrix later), "
            << threads << " start a second thread, " << reports << " end in a report, " << warned
            << " end with warnings\n";
  if (!fresh && filesText == nullptr) {
    EXPECT_TRUE(switched > 0 && packed > 0 && threads > 0 && reports > 0 && warned > 0)
        << "seed " << seed << " no longer reaches every path";
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomDataFiles,
                         testing::Values(SeedRow{"Fixed1", 1}, SeedRow{"Fixed4", 4}, SeedRow{"Fresh", 0}),
                         [](const testing::TestParamInfo<SeedRow>& row) { return std::string(row.param.name); });

}  // namespace

#endif
