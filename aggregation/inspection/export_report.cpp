// The report of aggregate --inspect on a delimited export: how the file
// reads, each column left out and why, the missing answers and their code,
// the variables kept, and the command that reads them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "aggregation/inspection/export_inspection.h"
#include "aggregation/inspection/report_lines.h"

namespace {

const char* DelimiterNames(char delimiter) {
  switch (delimiter) {
    case ';': return "semicolons";
    case '\t': return "tabs";
    case textio::kBlankRuns: return "runs of blanks";
    default: return "commas";
  }
}

// The value of --delimiter that names it, in a word no shell takes for anything else.
const char* DelimiterWord(char delimiter) {
  switch (delimiter) {
    case ';': return "semicolon";
    case '\t': return "tab";
    case textio::kBlankRuns: return "blank";
    default: return "comma";
  }
}

// A column as the report names it: its header name and its place.
std::string Label(const ExportInspection& inspection, int32_t column) {
  const std::string name(inspection.header ? inspection.names.Text(column) : std::string_view());
  char place[32];
  std::snprintf(place, sizeof place, "column %d", column + 1);
  return name.empty() ? place : name + " (" + place + ")";
}

// "such as "0.75" (line 3)", for the first of some fields.
std::string SuchAs(const FieldsMet& met) {
  char line[48];
  std::snprintf(line, sizeof line, "\" (line %s)", Grouped(met.firstLine).text);
  return "such as \"" + met.firstText + line;
}

std::string Why(const ExportInspection& inspection, const ColumnFacts& column, LeftOut why) {
  switch (why) {
    case LeftOut::Absent:
      return std::string("missing from ") +
             Counted(column.absent.count, "record that holds", "records that hold").text +
             " fewer fields (the first: line " + Grouped(column.absent.firstLine).text + ")";
    case LeftOut::Text: return "holds text, " + SuchAs(column.text);
    case LeftOut::Decimals: return "holds decimals that are not whole, " + SuchAs(column.decimals);
    case LeftOut::TooLarge: return "holds numbers too large for a whole number, " + SuchAs(column.tooLarge);
    case LeftOut::NoValues: return "holds no value: each field is empty or missing";
    case LeftOut::CountsUp: return "counts up by one from record to record, as row names, an index or an ID do";
    case LeftOut::Distinct:
      return std::string("takes a different value in each of the ") + Grouped(inspection.records).text +
             " records, as an ID does";
    case LeftOut::Kept: break;
  }
  return "";
}

void SayReading(const char* name, const ExportInspection& inspection) {
  Say("%s: a delimited export, its fields parted by %s: %s.", name, DelimiterNames(inspection.delimiter),
      Counted(inspection.lines, "line", "lines").text);
  Say("  %s%s, the first of them holding %s.",
      inspection.numberedHeader ? "Line 1 numbers the columns 1, 2, ..., and no record after it holds a value as "
                                  "large: taken for a header row; "
      : inspection.header ? "Line 1 holds the columns' names; "
                          : "",
      Counted(inspection.records, inspection.header ? "record follows" : "record", inspection.header ? "records follow" : "records").text,
      Counted(inspection.fieldsFirst, "field", "fields").text);
  const FieldsMet& other = inspection.otherFields;
  if (other.count > 0) {
    Say("  %s another number of fields (the first: line %s).", Counted(other.count, "record holds", "records hold").text,
        Grouped(other.firstLine).text);
  }
  if (inspection.openQuoteLine != 0) {
    Say("A quoted field of the record on line %s is not closed before the file ends: a run stops there, and "
        "reads nothing after it. Close the quote.",
        Grouped(inspection.openQuoteLine).text);
  }
}

void SayLeftOut(const ExportInspection& inspection) {
  if (!inspection.columnsOption) return;
  Say("Left out:");
  for (size_t c = 0; c < inspection.columns.size(); ++c) {
    if (inspection.why[c] == LeftOut::Kept) continue;
    const auto column = static_cast<int32_t>(c);
    Say("  %s: %s.", Label(inspection, column).c_str(),
        Why(inspection, inspection.columns[c], inspection.why[c]).c_str());
  }
}

// The missing answers of the chosen columns, and why their code is the one
// it is: each code preferred to it is an answer.
void SayMissing(const ExportInspection& inspection) {
  if (!inspection.missingCoded) return;
  int64_t count = 0;
  int32_t first = inspection.chosen.front();
  for (int32_t c : inspection.chosen) {
    const FieldsMet& missing = inspection.columns[static_cast<size_t>(c)].missing;
    count += missing.count;
    const FieldsMet& firstMissing = inspection.columns[static_cast<size_t>(first)].missing;
    if (missing.count > 0 && (firstMissing.count == 0 || missing.firstLine < firstMissing.firstLine)) first = c;
  }
  const FieldsMet& met = inspection.columns[static_cast<size_t>(first)].missing;
  Say("Missing answers: %s (empty, NA, . or NaN); the first: %s on line %s, \"%s\".",
      Counted(count, "field", "fields").text, Label(inspection, first).c_str(), Grouped(met.firstLine).text,
      met.firstText.c_str());
  std::string taken;
  for (int32_t code : kPreferredCodes) {
    if (code == inspection.missingCode) break;
    for (int32_t c : inspection.chosen) {
      if (!inspection.columns[static_cast<size_t>(c)].Takes(code)) continue;
      taken += (taken.empty() ? "" : ", ") + std::to_string(code) + " is an answer in " + Label(inspection, c);
      break;
    }
  }
  Say("%s%s--missing %d gives them the code %d, which no chosen column holds.", taken.c_str(),
      taken.empty() ? "" : ": ", inspection.missingCode, inspection.missingCode);
}

void SayVariables(const ExportInspection& inspection) {
  Say("Variable  Column            Smallest      Largest  Distinct");
  for (size_t k = 0; k < inspection.chosen.size(); ++k) {
    const int32_t c = inspection.chosen[k];
    const ColumnFacts& column = inspection.columns[static_cast<size_t>(c)];
    std::string label = Label(inspection, c);
    if (label.size() > 14) label = label.substr(0, 13) + "~";
    char distinct[16];
    std::snprintf(distinct, sizeof distinct, "%d%s", column.DistinctFitting(), column.outside.count > 0 ? "+" : "");
    Say("%8lld  %-14s %11d  %11d  %8s", static_cast<long long>(k + 1), label.c_str(), column.smallest, column.largest,
        distinct);
  }
  if (int32_t c = ColumnOutside(inspection); c >= 0) {
    const FieldsMet& outside = inspection.columns[static_cast<size_t>(c)].outside;
    Say("Values above %d or below %d do not fit the pattern file's %d-character field and are written as ***: "
        "the first is %s, of %s on line %s. Recode such values into that range (a missing-value code of -999 as "
        "-9, for example).",
        kLargestFitting, kSmallestFitting, kValueWidth, outside.firstText.c_str(), Label(inspection, c).c_str(),
        Grouped(outside.firstLine).text);
  }
  if (!inspection.tried) return;
  Say("Distinct response patterns: %s%s.", inspection.morePatterns ? "more than " : "", Grouped(inspection.patterns).text);
  if (!FitsCount(inspection.largestCount)) {
    Say("The commonest pattern is given by %s: counts above %s do not fit the pattern file's %d-character "
        "field and are written as ******.",
        Counted(inspection.largestCount, "case", "cases").text, Grouped(kLargestCount).text, kCountWidth);
  } else if (inspection.morePatterns && inspection.records > kLargestCount) {
    Say("Whether a pattern comes more than %s times, and would show as ******, is not told: its patterns "
        "are too many to count.",
        Grouped(kLargestCount).text);
  }
}

void SayExportCommand(const char* program, const char* name, const ExportInspection& inspection) {
  if (!inspection.tried) return;
  if (!inspection.readAll) {
    Say("Read so, the file stops a run before its end: no command is given.");
    return;
  }
  const char* outputName = PatternFileName(name);
  if (ExportRunSucceeds(inspection)) {
    Say("A run of this command reads every chosen value and warns of nothing, the pattern file made as %s:",
        outputName);
  } else {
    Say("A run of this command makes the pattern file %s, but it is wrong where told above:", outputName);
  }
  SayCommand(program, ExportCommandOptions(inspection, outputName), name);
}

}  // namespace

std::vector<std::string> ExportCommandOptions(const ExportInspection& inspection, const char* outputName) {
  std::vector<std::string> options = {"--output", outputName};
  if (inspection.header) options.emplace_back("--header");
  if (inspection.columnsOption) {
    options.emplace_back("--columns");
    options.push_back(WriteColumnList(inspection.chosen, inspection.header ? &inspection.names : nullptr,
                                      static_cast<int32_t>(inspection.columns.size())));
  }
  if (inspection.missingCoded) {
    options.emplace_back("--missing");
    options.push_back(std::to_string(inspection.missingCode));
  }
  // The delimiter is named where it is no comma, or where nothing else
  // would make the file be read as delimited records.
  if (inspection.delimiter != ',' || options.size() == 2) {
    options.emplace_back("--delimiter");
    options.emplace_back(DelimiterWord(inspection.delimiter));
  }
  return options;
}

void WriteExportInspection(const char* program, const char* name, const ExportInspection& inspection) {
  SayReading(name, inspection);
  SayLeftOut(inspection);
  SayMissing(inspection);
  if (!inspection.chosen.empty()) SayVariables(inspection);
  SayExportCommand(program, name, inspection);
}
