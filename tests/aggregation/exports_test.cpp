// Delimited exports as researchers have them, a row each: a small file, the
// cases a right run reads from it (the model), and the command --inspect
// prints for it, which run by a POSIX shell must make the pattern file of
// those cases; and a run with fewer options, with the line that refuses it.
// Then random exports held against a plain model of what they hold.
#ifndef _WIN32
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>

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
     "--header --columns 'q1,q2' --missing 9", "--header",
     "q1 on line 3 is missing (\"\"): give --missing CODE for missing answers"},
    {"spreadsheet CSV", Spreadsheet(), SpreadsheetCases(), "--header --columns 'q1,q2' --missing 9",
     "--header --columns 2-4", "--columns: 2-4 names a column past the last of the 3 that data.csv holds"},
    {"R write.csv2", "\"\";\"q1\";\"q2\";\"w\"\n\"1\";1;2;0,5\n\"2\";2;1;1,0\n", {{1, 2}, {2, 1}},
     "--header --columns 'q1,q2' --delimiter ';'", "--header --delimiter ';'",
     "w on line 2 is not a whole number (\"0,5\"): leave the column out with --columns"},
    {"tab-separated", "name\tq1\tq2\nAnn\t1\t\nBob\t2\t1\n", {{1, 9}, {2, 1}},
     "--header --columns 'q1,q2' --missing 9 --delimiter tab", "--header --columns 2,3 --delimiter tab",
     "q2 on line 2 is missing (\"\"): give --missing CODE for missing answers"},
    {"quoted text", "q1,note,q2\n1,\"fine, thanks\",2\n2,\"two\nlines, \"\"quoted\"\"\",1\n", {{1, 2}, {2, 1}},
     "--header --columns 'q1,q2'", "--header --variables 3 --columns 'q1,q2'",
     "--variables 3 does not agree with the 2 columns chosen"},
    {"byte order mark", "\xEF\xBB\xBFq1,q2\r\n1,2\r\n2,2\r\n", {{1, 2}, {2, 2}}, "--header", "--header --cases 3",
     "data.csv holds 2 cases after its header, fewer than --cases 3"},
    {"lone CR line ends", "q1,q2\r1,2\r2,1\r", {{1, 2}, {2, 1}}, "--header", "--delimiter ,",
     "column 1 on line 1 is not a whole number (\"q1\"): leave the column out with --columns"},
    {"no header, empty cells", "1,,3\n2,1,\n1,1,3\n", {{1, 9, 3}, {2, 1, 9}, {1, 1, 3}}, "--missing 9",
     "--delimiter ,", "column 2 on line 1 is missing (\"\"): give --missing CODE for missing answers"},
    {"statistics package", "q1,q2,q3\n1,.,3\n2,1,.\n", {{1, 9, 3}, {2, 1, 9}}, "--header --missing 9",
     "--header --columns q1,q2,q3,q1", "--columns: q1 is chosen twice"},
    {"records of unequal length", "a,b,c\n1,2,3\n1,2\n", {{1, 2}, {1, 2}}, "--header --columns 'a,b'", "--header",
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

}  // namespace

#endif
