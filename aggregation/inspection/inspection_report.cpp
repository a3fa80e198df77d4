// The report of aggregate --inspect FILE: what the data file holds, read by
// the program's own rules; what a run would make of it; and, when a run
// with them would read every value and end with "Done.", the answers for
// one and a command line that gives them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "aggregation/inspection/inspection.h"
#include "aggregation/inspection/report_lines.h"
#include "textio/textio.h"

namespace {

// Where the first of some records stands: "(line 7)" for one record,
// "(the first: line 7)" for more.
struct FirstLine {
  char text[48];
  explicit FirstLine(const Occurrences& occurrences) {
    std::snprintf(text, sizeof text, occurrences.count == 1 ? "(line %s)" : "(the first: line %s)",
                  Grouped(occurrences.firstLine).text);
  }
};

// What the records hold: the numbers of values, the commonest first, and
// everything besides plain values.
void SayRecords(const char* name, const Inspection& inspection) {
  Say("%s: %s.", name, Counted(inspection.lines, "line", "lines").text);
  LengthCount lengths[kListedLengths];
  std::copy_n(inspection.lengths, inspection.lengthKinds, lengths);
  std::stable_sort(lengths, lengths + inspection.lengthKinds,
                   [](const LengthCount& a, const LengthCount& b) { return a.records.count > b.records.count; });
  for (int k = 0; k < inspection.lengthKinds; ++k) {
    const Occurrences& records = lengths[k].records;
    char where[64] = ".";
    if (k > 0) std::snprintf(where, sizeof where, " %s.", FirstLine(records).text);
    Say("  %s %s%s%s", Counted(records.count, "record holds", "records hold").text,
        Counted(lengths[k].values, "value", "values").text, records.count == 1 ? "" : " each", where);
  }
  const Occurrences& other = inspection.otherLengths;
  if (other.count > 0) {
    Say("  %s other numbers of values %s.", Counted(other.count, "record holds", "records hold").text,
        FirstLine(other).text);
  }
  const Occurrences& slashes = inspection.slashes;
  if (slashes.count > 0) {
    Say("  %s its case early with a slash %s: a run gives the rest of the case's values 0.",
        Counted(slashes.count, "record ends", "records end").text, FirstLine(slashes).text);
  }
  const Occurrences& failing = inspection.failing;
  if (failing.count > 0) {
    Say("  %s a value the program cannot read %s.", Counted(failing.count, "record holds", "records hold").text,
        FirstLine(failing).text);
  }
  const Occurrences& skipped = inspection.skipped;
  if (skipped.count > 0) {
    Say("  %s a value the program cannot read after its case's last value %s: a run skips it unread, "
        "with the rest of the line.",
        Counted(skipped.count, "record holds", "records hold").text, FirstLine(skipped).text);
  }
  const Occurrences& afterSlash = inspection.afterSlash;
  if (afterSlash.count > 0) {
    Say("  %s values after a slash %s: a run skips them unread.", Counted(afterSlash.count, "record holds", "records hold").text,
        FirstLine(afterSlash).text);
  }
  if (inspection.blankLines > 0) Say("  %s, passed over.", Counted(inspection.blankLines, "blank line", "blank lines").text);
  const Occurrences& repeats = inspection.repeatForms;
  if (repeats.count > 0) {
    Say("  %s such as 3*1 %s.", Counted(repeats.count, "repeat count", "repeat counts").text, FirstLine(repeats).text);
  }
  const Occurrences& nulls = inspection.nulls;
  if (nulls.count > 0) {
    Say("  %s %s %s read as 0. A 0 may also be a real answer: give missing answers a code of their own.",
        Counted(nulls.count, "empty value", "empty values").text, FirstLine(nulls).text,
        nulls.count == 1 ? "is" : "are");
  }
  const Occurrences& commas = inspection.commaEnds;
  if (commas.count > 0) {
    Say("  %s with a comma %s. Such a comma does not make a missing value: a run takes the next value "
        "from the next record. An empty last column ends its records so: recode its empty cells as a "
        "missing-value code of their own.",
        Counted(commas.count, "record ends", "records end").text, FirstLine(commas).text);
  }
  const Occurrences& gaps = inspection.tabGaps;
  if (gaps.count > 0) {
    Say("  %s an empty field between tabs %s. Two tabs are one separator, not a missing value (unlike two "
        "commas): the values after it move to the variable before. Give missing answers a code of their own.",
        Counted(gaps.count, "record has", "records have").text, FirstLine(gaps).text);
  }
}

// The first value a run cannot read, and the report it gives for it; for a
// file with no record, the report of its end. Then what such values most
// often are in an export.
void SayFailure(const char* name, const Inspection& inspection) {
  const FailedRecord& failure = inspection.failure;
  if (inspection.records == 0 && inspection.failing.count == 0) {
    Say("%s holds no values. A run reports:", name);
  } else if (inspection.failing.count == 0) {
    return;
  } else if (failure.column > 0) {
    Say("The first value the program cannot read is on line %s, column %s. A run reports:",
        Grouped(inspection.failing.firstLine).text, Grouped(failure.column).text);
  } else {
    Say("The first value the program cannot read is on line %s. A run reports:", Grouped(inspection.failing.firstLine).text);
  }
  // The report's lines, as standard error shows them, indented and each
  // whole: a report's line broken in two would not be the run's.
  char report[sizeof failure.report + 3 * textio::kReportTextSize];
  textio::FormatRunErrorReport(failure.report, report, sizeof report);
  for (const char* line = report; *line != '\0';) {
    const char* end = std::strstr(line, "\r\n");
    const size_t length = end != nullptr ? static_cast<size_t>(end - line) : std::strlen(line);
    if (length > 0) textio::WriteOutputLine(("  " + std::string(line, length)).c_str());
    line += end != nullptr ? length + 2 : length;
  }
  if (inspection.headerRow) {
    if (inspection.failing.count == 1 && inspection.recordsPerCase > 0) {
      Say("Line %s looks like a header row. The program cannot skip one: remove it. The rest of the file "
          "holds %s of %s.",
          Grouped(inspection.failing.firstLine).text, Counted(inspection.cases, "case", "cases").text,
          Counted(inspection.variables, "variable", "variables").text);
    } else {
      Say("Line %s looks like a header row. The program cannot skip one: remove it.",
          Grouped(inspection.failing.firstLine).text);
    }
  }
  if (inspection.semicolons.count > 0) {
    Say("%s semicolons %s: a spreadsheet set for a language that writes decimals with a comma separates "
        "values so. The program separates values with blanks, tabs, commas or line ends.",
        Counted(inspection.semicolons.count, "record holds", "records hold").text,
        FirstLine(inspection.semicolons).text);
    // Read as an export with that delimiter, a decimal comma stays in its field (4,0 is 4).
    Say("Read it as an export whose fields semicolons part: --delimiter semicolon, with --output and the "
        "data file's name%s.",
        inspection.decimalCommas ? "; a decimal comma then stays within its value, and 4,0 is read as 4" : "");
  }
  if (inspection.quotedFirst.count > (inspection.headerRow ? 1 : 0)) {
    Say("%s with a quoted value %s, as row names written in quotes do (R's write.csv writes them unless "
        "row.names = FALSE): remove that column.",
        Counted(inspection.quotedFirst.count, "record starts", "records start").text,
        FirstLine(inspection.quotedFirst).text);
  } else if (failure.report.valueLength >= 3 && std::memcmp(failure.report.value, "\xEF\xBB\xBF", 3) == 0) {
    Say("The value starts with a byte order mark, which editors put at the start of a file: "
        "were files joined here? Remove the mark.");
  } else if (!inspection.headerRow && inspection.semicolons.count == 0 &&
             (failure.status == textio::IntegerCharacter || failure.status == textio::DelimitedForInteger)) {
    Say("Only whole numbers are read: give missing answers (NA, .) a whole-number code of their own, "
        "and round any decimals.");
  }
}

// Lines whose records a lone CR ends: a run reads the first record of such
// a line and skips the rest of it.
void SayLineEnds(const Inspection& inspection) {
  const Occurrences& returns = inspection.loneReturns;
  Say("%s with a lone CR %s, as files from old Macs end lines: a run reads only what comes before the "
      "first CR of such a line, and skips the rest of the line unread. Make each CR a line end first, "
      "for example:",
      Counted(returns.count, "line ends its record", "lines end their records").text, FirstLine(returns).text);
  Say("  tr '\\r' '\\n' < old.dat > new.dat");
}

// Why no answers can be given when the records fit no shape, or one that a
// run cannot take; how the cases run when a case takes several records.
void SayShape(const Inspection& inspection) {
  bool onlyHeaderFails = inspection.failing.count == 0 || (inspection.failing.count == 1 && inspection.headerRow);
  if (inspection.recordsPerCase == 0 && inspection.records > 0 && onlyHeaderFails) {
    Say("The records do not all hold the same number of values, so how many variables a case has "
        "cannot be told: no answers are given. A case starts on a new line and takes its values from "
        "as many lines as it needs: after a short record it goes on into the next one.");
    return;
  }
  if (inspection.recordsPerCase > 1) {
    Say("The numbers of values repeat every %s: each case runs over %s, %s in all.",
        Counted(inspection.recordsPerCase, "record", "records").text,
        Counted(inspection.recordsPerCase, "record", "records").text,
        Counted(inspection.variables, "value", "values").text);
  }
  if (inspection.variables > kMostVariables) {
    Say("A case holds %s: a run takes at most %s.", Counted(inspection.variables, "value", "values").text,
        Counted(kMostVariables, "variable", "variables").text);
  } else if (inspection.cases * inspection.variables >= int64_t{1} << 30) {
    Say("Its %s need more than the 4 GiB a run can hold.",
        Counted(inspection.cases * inspection.variables, "value", "values").text);
  }
}

// Each variable's smallest and largest value and how many distinct values
// it takes; values that the pattern file's field cannot show.
void SayVariables(const Inspection& inspection) {
  Say("Variable     Smallest      Largest  Distinct");
  bool anyOutside = false;
  for (int64_t j = 0; j < inspection.variables; ++j) {
    const VariableFacts& facts = inspection.facts[j];
    char distinct[16];
    std::snprintf(distinct, sizeof distinct, "%d%s", DistinctFitting(facts), facts.outside > 0 ? "+" : "");
    char outside[80] = "";
    if (facts.outside > 0) std::snprintf(outside, sizeof outside, "  %s as ***", Counted(facts.outside, "shows", "show").text);
    Say("%8lld  %11d  %11d  %8s%s", static_cast<long long>(j + 1), facts.smallest, facts.largest, distinct, outside);
    anyOutside = anyOutside || facts.outside > 0;
  }
  if (anyOutside) {
    Say("Values above %d or below %d do not fit the pattern file's %d-character field and are "
        "written as ***; Distinct counts the others (marked +). The first is %d, of variable %s, on line %s: "
        "recode such values into that range (a missing-value code of -999 as -9, for example).",
        kLargestFitting, kSmallestFitting, kValueWidth, inspection.outsideValue, Grouped(inspection.outsideVariable).text, Grouped(inspection.outsideLine).text);
  }
  Say("Distinct response patterns: %s%s.", inspection.morePatterns ? "more than " : "",
      Grouped(inspection.patterns).text);
  if (inspection.idVariable > 0) {
    Say("Variable %s %s, as an ID or a row number does (the row names R's write.csv writes, the index "
        "pandas' to_csv writes): every case then has a pattern of its own. Leave that column out.",
        Grouped(inspection.idVariable).text,
        inspection.idRising ? "counts up by one from case to case" : "takes a different value in every case");
  }
  if (inspection.numberedHeader) {
    Say("Line 1 holds 1 to %s, and no case after it a value as large: the columns numbered in a header row? A "
        "run takes it for a case. If it is a header, read the file with --header.",
        Grouped(inspection.variables).text);
  }
  if (inspection.runTogether) {
    Say("Every case is one value of three digits or more: answers run together, as 1 2 3 written 123? A run takes "
        "each for one answer. Write the answers apart, a value each.");
  }
  if (!FitsCount(inspection.largestCount)) {
    Say("The commonest pattern is given by %s: counts above %s do not fit the pattern file's "
        "%d-character field and are written as ******.",
        Counted(inspection.largestCount, "case", "cases").text, Grouped(kLargestCount).text, kCountWidth);
  } else if (!FitsCount(inspection.uncountedCases)) {
    Say("%s patterns beyond the %s counted: one of them may be given by more than %s cases, whose count "
        "does not fit the pattern file's %d-character field and would be written as ******.",
        Counted(inspection.uncountedCases, "case has", "cases have").text, Grouped(inspection.patterns).text,
        Grouped(kLargestCount).text, kCountWidth);
  }
}

void SayAnswers(const char* program, const char* name, const Inspection& inspection) {
  const char* outputName = PatternFileName(name);
  if (RunWouldSucceed(inspection)) {
    Say("A run with these answers reads every value and ends with \"Done.\":");
  } else {
    Say("A run with these answers ends with \"Done.\", but its pattern file is wrong where told above:");
  }
  Say("  Number of cases:      %lld", static_cast<long long>(inspection.cases));
  Say("  Number of variables:  %lld", static_cast<long long>(inspection.variables));
  Say("As one command, the pattern file made as %s:", outputName);
  const std::string cases = std::to_string(inspection.cases), variables = std::to_string(inspection.variables);
  SayCommand(program, {"--output", outputName, "--cases", cases, "--variables", variables}, name);
  Say("Type the numbers as digits alone: 1,000 would be read as 1.");
}

}  // namespace

void InspectionRefusal(const char* name, const Inspection& inspection, char* text, size_t size) {
  const auto line = [](const Occurrences& occurrences) { return static_cast<long long>(occurrences.firstLine); };
  if (inspection.readFailure != 0) {
    std::snprintf(text, size, "%s", textio::RunErrorMessage(inspection.readFailure));
  } else if (inspection.records == 0 && inspection.failing.count == 0) {
    std::snprintf(text, size, "it holds no values");
  } else if (inspection.headerRow) {
    std::snprintf(text, size, "line %lld looks like a header row: give --header to read it as the columns' names",
                  line(inspection.failing));
  } else if (inspection.failing.count > 0) {
    std::snprintf(text, size, "line %lld holds a value the program cannot read; aggregate --inspect %s tells more",
                  line(inspection.failing), name);
  } else if (inspection.loneReturns.count > 0) {
    std::snprintf(text, size,
                  "line %lld ends records with a lone CR, whose lines a run would not read whole; aggregate "
                  "--inspect %s tells what reads them",
                  line(inspection.loneReturns), name);
  } else if (inspection.recordsPerCase == 0) {
    std::snprintf(text, size, "its records do not all hold the same number of values: give --cases and --variables");
  } else if (!AnswersGiven(inspection)) {
    std::snprintf(text, size, "its cases are more than a run can hold");
  } else if (inspection.outsideLine != 0) {
    std::snprintf(text, size,
                  "values would be written as *** (the first: %d, variable %lld, line %lld): recode them into %d "
                  "to %d first",
                  inspection.outsideValue, static_cast<long long>(inspection.outsideVariable),
                  static_cast<long long>(inspection.outsideLine), kSmallestFitting, kLargestFitting);
  } else if (!FitsCount(inspection.largestCount)) {
    std::snprintf(text, size, "a count above %lld would be written as ******", static_cast<long long>(kLargestCount));
  } else if (!FitsCount(inspection.uncountedCases)) {
    std::snprintf(text, size, "a count above %lld may be written as ****** (more cases have patterns beyond those counted)",
                  static_cast<long long>(kLargestCount));
  } else if (inspection.skipped.count > 0) {
    std::snprintf(text, size,
                  "line %lld holds a value after its case's last one, which a run would skip; aggregate --inspect "
                  "%s tells more",
                  line(inspection.skipped), name);
  } else if (inspection.afterSlash.count > 0) {
    std::snprintf(text, size,
                  "line %lld holds values after a slash, which a run would skip; aggregate --inspect %s tells more",
                  line(inspection.afterSlash), name);
  } else if (inspection.nulls.count > 0) {
    std::snprintf(text, size,
                  "line %lld holds an empty value, which a run would read as 0: give --missing CODE, a code no "
                  "answer uses (aggregate --inspect %s gives one)",
                  line(inspection.nulls), name);
  } else if (inspection.idVariable > 0) {
    std::snprintf(text, size,
                  "variable %lld %s, as an ID does: leave it out with --columns (aggregate --inspect %s gives the "
                  "command)",
                  static_cast<long long>(inspection.idVariable),
                  inspection.idRising ? "counts up by one from case to case" : "takes a different value in every case",
                  name);
  } else if (inspection.numberedHeader) {
    std::snprintf(text, size,
                  "line 1 holds 1 to %lld, as a header row numbering the columns does: give --header if it is one, "
                  "or --cases and --variables if it is a case",
                  static_cast<long long>(inspection.variables));
  } else {
    std::snprintf(text, size,
                  "every case is one value of three digits or more, as answers run together are: give --cases and "
                  "--variables if each is one answer");
  }
}

void WriteInspection(const char* program, const char* name, const Inspection& inspection) {
  SayRecords(name, inspection);
  if (inspection.failure.status != 0) SayFailure(name, inspection);
  if (inspection.loneReturns.count > 0) SayLineEnds(inspection);
  SayShape(inspection);
  if (inspection.counted) SayVariables(inspection);
  if (AnswersGiven(inspection)) SayAnswers(program, name, inspection);
}
