// Delimited exports as researchers have them, a row each: a small file, the
// cases a right run reads from it (the model), and the command --inspect
// prints for it, which run by a POSIX shell must make the pattern file of
// those cases; and a run with fewer options, with the line that refuses it.
// Then random exports held against a plain model of what they hold.
#ifndef _WIN32
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>

#include "aggregation/reading/pattern_table.h"
#include "support/death_test.h"
#include "support/patterns.h"

namespace {

using test_support::Row;

std::string PatternFile(const std::vector<Row>& cases) {
  test_support::PatternCounts counts;
  for (const Row& row : cases) ++counts[Row(row.rbegin(), row.rend())];
  return test_support::PatternRecords(counts);
}

// Runs the program in `folder` with the shell words `arguments`; its exit status.
int RunProgram(const std::string& folder, const std::string& arguments) {
  const int status = std::system(("cd '" + folder + "' && '" AGGREGATE_PROGRAM "' " + arguments +
                                  " >stdout 2>stderr")
                                     .c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Read(const std::string& path) { return test_support::ReadFile(path).value_or("(none)"); }

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// 24 records of a five-digit ID, shuffled, and two answers, one of them empty now and then.
std::string Spreadsheet() {
  std::string text = "id,q1,q2\r\n";
  for (int k = 0; k < 24; ++k) {
    text += std::to_string(10000 + k * 7 % 24) + "," + std::to_string(k % 3) + "," + (k % 5 == 0 ? "" : "1") + "\r\n";
  }
  return text;
}
std::vector<Row> SpreadsheetCases() {
  std::vector<Row> cases;
  for (int k = 0; k < 24; ++k) cases.push_back({k % 3, k % 5 == 0 ? 9 : 1});
  return cases;
}

struct Export {
  const char* name;
  std::string bytes;
  std::vector<Row> cases;   // what a right run reads
  const char* command;      // the options --inspect prints, between --output and the data file
  const char* plain;        // a run with fewer options ...
  const char* refusal;      // ... and the line that refuses it
};

const Export kExports[] = {
    {"R write.csv", "\"\",\"q1\",\"q2\",\"q3\"\n\"1\",1,2,NA\n\"2\",2,1,3\n\"3\",1,2,NA\n",
     {{1, 2, 9}, {2, 1, 3}, {1, 2, 9}}, "--header --columns q1-q3 --missing 9", "--header",
     "q3 on line 2 is missing (\"NA\"): give --missing CODE for missing answers"},
    {"R write.csv, row.names = FALSE", "\"q1\",\"q2\"\n1,9\n2,NA\n", {{1, 9}, {2, -9}},
     "--header --missing -9", "--header --missing 9 --columns q1,q3",
     "--columns: no column of data.csv is named q3 (aggregate --inspect data.csv names them)"},
    {"pandas to_csv", ",q1,q2\n0,1.0,2.0\n1,,1.0\n2,2.0,\n", {{1, 2}, {9, 1}, {2, 9}},
     "--header --columns q1,q2 --missing 9", "--header",
     "q1 on line 3 is missing (\"\"): give --missing CODE for missing answers"},
    {"spreadsheet CSV", Spreadsheet(), SpreadsheetCases(), "--header --columns q1,q2 --missing 9",
     "--header --columns 2-4", "--columns: 2-4 names a column past the last of the 3 that data.csv holds"},
    {"R write.csv2", "\"\";\"q1\";\"q2\";\"w\"\n\"1\";1;2;0,5\n\"2\";2;1;1,0\n", {{1, 2}, {2, 1}},
     "--header --columns q1,q2 --delimiter semicolon", "--header --delimiter ';'",
     "w on line 2 is not a whole number (\"0,5\"): leave the column out with --columns"},
    {"tab-separated", "name\tq1\tq2\nAnn\t\t\nBob\t2\t1\n", {{9, 9}, {2, 1}},
     "--header --columns q1,q2 --missing 9 --delimiter tab", "--header --columns 2,3 --delimiter tab",
     "q1 on line 2 is missing (\"\"): give --missing CODE for missing answers"},
    {"quoted text", "q1,note,q2\n1,\"fine, thanks\",2\n2,\"two\nlines, \"\"quoted\"\"\",1\n", {{1, 2}, {2, 1}},
     "--header --columns q1,q2", "--header --variables 3 --columns 'q1,q2'",
     "--variables 3 does not agree with the 2 columns chosen"},
    {"byte order mark", "\xEF\xBB\xBFq1,q2\n1,2\n2,2", {{1, 2}, {2, 2}}, "--header", "--header --cases 3",
     "data.csv holds 2 cases after its header, fewer than --cases 3"},
    {"lone CR line ends", "q1,q2\r1,2\r2,1\n1,2\r2,1\n", {{1, 2}, {2, 1}, {1, 2}, {2, 1}}, "--header", "--delimiter ,",
     "column 1 on line 1 is not a whole number (\"q1\"): leave the column out with --columns"},
    {"no header, empty cells", "1,,3\n2,1,\n1,1,3\n", {{1, 9, 3}, {2, 1, 9}, {1, 1, 3}}, "--missing 9",
     "--delimiter ,", "column 2 on line 1 is missing (\"\"): give --missing CODE for missing answers"},
    {"statistics package", "q1,q2,q3\n1,.,3\n2,1,.\n", {{1, 9, 3}, {2, 1, 9}}, "--header --missing 9",
     "--header --columns q1,q2,q3,q1", "--columns: q1 is chosen twice"},
    {"records of unequal length", "a,b,c\n1,2,3\n1,2\n", {{1, 2}, {1, 2}}, "--header --columns a,b", "--header",
     "line 3 holds 2 fields where the header holds 3: choose the columns with --columns"},
};

// The options of the command --inspect printed, if it printed one.
std::string PrintedOptions(const std::string& report) {
  const std::string start = "  " AGGREGATE_PROGRAM " --output patterns.txt ";
  const size_t at = report.find(start);
  if (at == std::string::npos) return "(none)";
  const size_t end = report.find(" data.csv\n", at);
  return report.substr(at + start.size(), end - at - start.size());
}

TEST(Exports, InspectionCommandsMakeTheModelsFileAndFewerOptionsAreRefused) {
  const std::string folder = test_support::TestFolder();
  for (const Export& row : kExports) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(folder + "/patterns.txt");
    test_support::WriteFile(folder + "/data.csv", row.bytes);
    EXPECT_EQ(RunProgram(folder, "--inspect data.csv"), 0) << Read(folder + "/stdout");
    const std::string options = PrintedOptions(Read(folder + "/stdout"));
    EXPECT_EQ(options, row.command) << Read(folder + "/stdout");
    EXPECT_EQ(RunProgram(folder, "--output patterns.txt " + options + " data.csv"), 0) << Read(folder + "/stderr");
    EXPECT_EQ(Read(folder + "/patterns.txt"), PatternFile(row.cases));
    std::filesystem::remove(folder + "/patterns.txt");
    EXPECT_EQ(RunProgram(folder, std::string("--output patterns.txt ") + row.plain + " data.csv"), 1);
    EXPECT_EQ(Read(folder + "/stderr"), Lines({std::string("aggregate: ") + row.refusal}));
    EXPECT_FALSE(std::filesystem::exists(folder + "/patterns.txt"));
  }
  std::filesystem::remove_all(folder);
}

// A random export and what a run of it must give: the file, the run's
// options, and the cases it reads, or the line that refuses it.
struct RandomExport {
  std::string text, options, refusal;
  std::vector<Row> cases;
  size_t fields = 0;
};

struct ExportWriter {
  explicit ExportWriter(uint64_t seed) : random(seed) {}
  std::mt19937_64 random;
  int64_t Uniform(int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(random); }

  char delimiter = ',';
  double quoting = 0.1;  // of the fields that need no quotes, those quoted all the same
  double decorated = 1;  // of the values, those written in a form of their own
  std::string eol;
  int64_t line = 1;

  // A field's text, quoted where it must be or now and then.
  std::string Field(const std::string& text, bool mayQuote) {
    const bool blanks = delimiter == ' ' && text.find_first_of(" \t") != std::string::npos;
    if (!blanks && text.find_first_of(std::string(1, delimiter) + "\"\r\n") == std::string::npos &&
        (!mayQuote || !Chance(quoting))) {
      return text;
    }
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? "\"\"" : std::string(1, c);
    return quoted + "\"";
  }
  // A value in one of the forms that read as it: signs, zeros, a point, blanks, quotes.
  std::string Value(int32_t v) {
    std::string text = std::to_string(v);
    switch (Chance(decorated) ? Uniform(0, 5) : 5) {
      case 0: text = (v >= 0 ? "+" : "") + text; break;
      case 1: text += Chance(0.5) ? ".0" : delimiter == ',' ? ".00" : ",0"; break;
      case 2: if (v >= 0) text = "00" + text; break;
      case 3: return quoting < 1 ? " " + text + "  " : Field(text, true);
      default: break;
    }
    return Field(text, true);
  }
  // An empty field only where the record holds others: an empty line is passed over.
  std::string Missing(bool alone) {
    const char* markers[] = {"", "NA", "na", ".", "NaN"};
    return Field(markers[Uniform(delimiter == ' ' || alone ? 1 : 0, 4)], true);
  }
  // What an unchosen column holds: text with anything in it, decimals, an ID.
  std::string Other(int kind, int64_t record) {
    if (kind == 0) return Field(Chance(0.5) ? "n, \"a\"\nb" : "x y", false);
    if (kind == 1) return std::to_string(record) + ".5";
    return std::to_string(10000 + record);
  }

  // Sizes of file: 0 small, 1 patterns that outgrow the counting table, 2 and
  // 3 in a file large enough for a second reading thread, its cases read to
  // their end or given, whose work counts where no field fails.
  RandomExport Write(int size) {
    const bool outgrow = size > 0, large = size > 1;
    RandomExport file;
    const char delimiters[] = {',', ';', '\t', ' '};
    delimiter = delimiters[Uniform(0, 3)];
    const char* eols[] = {"\n", "\r\n", "\r"};
    eol = eols[Uniform(0, large ? 1 : 2)];  // a second reader starts after a LF
    const auto nvars = static_cast<size_t>(Uniform(outgrow ? 6 : 1, 8)), others = static_cast<size_t>(Uniform(0, 3));
    file.fields = nvars + others;
    std::vector<int> kindOf(file.fields, -1);  // -1: chosen
    // A second reader takes records without quotes only.
    decorated = large ? 0.05 : 1;
    for (size_t k = nvars; k < file.fields; ++k) kindOf[k] = static_cast<int>(Uniform(large ? 1 : 0, 2));
    std::shuffle(kindOf.begin(), kindOf.end(), random);
    std::vector<size_t> chosen;
    for (size_t f = 0; f < file.fields; ++f) {
      if (kindOf[f] < 0) chosen.push_back(f);
    }
    const bool header = Chance(0.6), missing = large || Chance(0.5), everyField = others == 0 && Chance(0.5);
    if (!everyField && Chance(0.5)) std::shuffle(chosen.begin(), chosen.end(), random);
    const int32_t code = static_cast<int32_t>(Uniform(-99, 999));
    const auto label = [&](size_t f) { return header ? "v" + std::to_string(f + 1) : "column " + std::to_string(f + 1); };
    if (Chance(0.2)) file.text += "\xEF\xBB\xBF";
    if (header) {
      for (size_t f = 0; f < file.fields; ++f) {
        file.text += (f > 0 ? std::string(1, delimiter) : "") + Field("v" + std::to_string(f + 1), true);
      }
      file.text += eol;
      ++line;
    }
    if (header) file.options += "--header ";
    if (!everyField) {
      file.options += "--columns '";
      for (size_t k = 0; k < chosen.size(); ++k) {
        file.options += std::string(k > 0 ? "," : "") + (header && Chance(0.5) ? "v" : "") + std::to_string(chosen[k] + 1);
      }
      file.options += "' ";
    }
    if (missing) file.options += "--missing " + std::to_string(code) + " ";
    file.options += std::string("--delimiter ") + (delimiter == ',' ? "," : delimiter == ';' ? "';'" : delimiter == '\t' ? "tab" : "blank");
    // Patterns from a small pool, or new ones that outgrow the counting table.
    const bool distinct = outgrow || Chance(0.3);
    const int64_t most = large ? 600000 : outgrow ? 60000 : 300;
    const int64_t records = Uniform(outgrow ? most * 2 / 3 : 1, most);
    const int64_t failAt = size != 2 && Chance(0.3) ? Uniform(0, records - 1) : -1;
    // A record of the later part in quotes, which a second reader leaves to the reading in order.
    const int64_t quotedAt = size == 2 ? Uniform(records / 2, records - 1) : -1;
    const auto failField = static_cast<size_t>(Uniform(0, static_cast<int64_t>(nvars) - 1));
    for (int64_t r = 0; r < records && file.refusal.empty(); ++r) {
      if (Chance(0.02)) {
        file.text += "  " + eol;
        ++line;
      }
      Row row(nvars);
      std::vector<std::string> texts(file.fields);
      quoting = r == quotedAt ? 1 : large ? 0 : 0.1;
      int64_t p = distinct ? r : Uniform(0, 40);
      for (size_t k = 0; k < nvars; ++k, p /= 7) {
        row[k] = static_cast<int32_t>(p % 7 - 2);
        const size_t f = chosen[k];
        const bool gap = missing && Chance(0.1);
        texts[f] = gap ? Missing(file.fields == 1) : Value(row[k]);
        if (gap) row[k] = code;
      }
      for (size_t f = 0; f < file.fields; ++f) {
        if (kindOf[f] >= 0) texts[f] = Other(kindOf[f], r);
      }
      const size_t failing = r == failAt ? chosen[failField] : file.fields;
      const bool asMissing = !missing && Chance(0.5);
      if (failing < file.fields) texts[failing] = asMissing ? "NA" : Chance(0.5) ? "x" : "1.5";
      for (size_t f = 0; f < file.fields; ++f) {
        if (f == failing) {
          file.refusal = label(f) + " on line " + std::to_string(line) +
                         (asMissing ? " is missing (\"NA\"): give --missing CODE for missing answers"
                                    : " is not a whole number (\"" + texts[f] + "\"): leave the column out with --columns");
        }
        file.text += (f > 0 ? std::string(1, delimiter) : "") + texts[f];
        line += std::count(texts[f].begin(), texts[f].end(), '\n');
      }
      file.text += eol;
      ++line;
      file.cases.push_back(row);
    }
    if ((size == 3 || (!large && Chance(0.3))) && file.refusal.empty()) {
      file.options += " --cases " + std::to_string(file.cases.size());
    }
    return file;
  }
};

TEST(Exports, RandomExportsRunAsTheModelReadsThem) {
  const char* seedText = std::getenv("AGGREGATE_RANDOM_SEED");
  const uint64_t seed = seedText != nullptr
                            ? std::strtoull(seedText, nullptr, 10)
                            : static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const std::string folder = test_support::TestFolder();
  int refused = 0, outgrown = 0;
  for (int f = 0; f < 24; ++f) {
    ExportWriter writer(seed + static_cast<uint64_t>(f));
    const RandomExport file = writer.Write(f >= 22 ? f - 20 : f % 6 == 5 ? 1 : 0);
    const std::string where = "file " + std::to_string(f) + " of seed " + std::to_string(seed) + " (AGGREGATE_RANDOM_SEED), run with " + file.options;
    std::filesystem::remove(folder + "/patterns.txt");
    test_support::WriteFile(folder + "/data.txt", file.text);
    const int status = RunProgram(folder, "--output patterns.txt " + file.options + " data.txt");
    refused += !file.refusal.empty();
    outgrown += static_cast<int64_t>(std::set<Row>(file.cases.begin(), file.cases.end()).size()) >
                    CountingCapacity(static_cast<int32_t>(file.cases.front().size()));
    if (!file.refusal.empty()) {
      ASSERT_EQ(status, 1) << where;
      ASSERT_EQ(Read(folder + "/stderr"), "aggregate: " + file.refusal + "\n") << where;
      continue;
    }
    ASSERT_EQ(status, 0) << where << "\n" << Read(folder + "/stderr");
    const auto patterns = test_support::ReadFile(folder + "/patterns.txt");
    const std::optional<std::string> expected = PatternFile(file.cases);
    ASSERT_TRUE(patterns == expected) << "patterns.txt " << test_support::Difference(patterns, expected) << ", " << where;
  }
  std::filesystem::remove_all(folder);
  std::cout << "24 exports of seed " << seed << ": " << refused << " refused, " << outgrown
            << " outgrow the counting table\n";
}

// An export of nearly all distinct cases, read to its end with its cases
// not given: packed into keys, its later part read by a second thread into
// the room at the end of the bound, then moved to follow the rest.
TEST(Exports, ReadToItsEndPackedOnTwoThreads) {
  const std::string folder = test_support::TestFolder();
  std::mt19937 random(9);
  std::uniform_int_distribution<int32_t> answer(0, 3);
  std::string text = "q1";
  for (int j = 2; j <= 20; ++j) text += ",q" + std::to_string(j);
  text += '\n';
  test_support::PatternCounts counts;
  for (int i = 0; i < 300000; ++i) {
    Row reversed(20);
    for (int j = 0; j < 20; ++j) {
      reversed[static_cast<size_t>(19 - j)] = answer(random);
      text += std::to_string(reversed[static_cast<size_t>(19 - j)]) + (j < 19 ? "," : "\n");
    }
    ++counts[reversed];
  }
  test_support::WriteFile(folder + "/data.csv", text);
  ASSERT_EQ(RunProgram(folder, "--output patterns.txt --header data.csv"), 0) << Read(folder + "/stderr");
  EXPECT_TRUE(test_support::ReadFile(folder + "/patterns.txt") == test_support::PatternRecords(counts));
  std::filesystem::remove_all(folder);
}

}  // namespace

#endif
