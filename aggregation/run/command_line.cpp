// The run asked for on the command line: its options and its data file's
// name taken from the arguments, checked before anything is read, and the
// counts not given told by an inspection of the data file.
#include "aggregation/run/command_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "aggregation/core/run_units.h"
#include "aggregation/inspection/inspection.h"
#include "aggregation/run/refusal.h"
#include "textio/textio.h"

namespace {

enum class Option : uint8_t { Output, Cases, Variables, Header, Columns, Missing, Delimiter };

struct OptionName {
  const char* name;
  Option option;
};

constexpr OptionName kOptions[] = {{"--output", Option::Output},       {"--cases", Option::Cases},
                                   {"--variables", Option::Variables}, {"--header", Option::Header},
                                   {"--columns", Option::Columns},     {"--missing", Option::Missing},
                                   {"--delimiter", Option::Delimiter}};

// The option an argument names, and its value when the argument gives it
// after "=" (null when the value is the next argument).
const OptionName* OptionOf(const char* argument, const char*& value) {
  for (const OptionName& option : kOptions) {
    const size_t length = std::strlen(option.name);
    if (std::strncmp(argument, option.name, length) != 0) continue;
    if (argument[length] != '\0' && argument[length] != '=') continue;
    value = argument[length] == '=' ? argument + length + 1 : nullptr;
    return &option;
  }
  return nullptr;
}

// A count given as digits alone, from 1 to the largest 32-bit whole number.
// Returns 0, or the refusal's status.
int TakeCount(const char* option, const char* text, int32_t& count) {
  int64_t value = 0;
  const char* c = text;
  for (; *c >= '0' && *c <= '9' && value <= INT32_MAX; ++c) value = value * 10 + (*c - '0');
  if (c == text || *c != '\0' || value > INT32_MAX) {
    return Refuse("%s takes a number written in digits alone, at most 2147483647, not \"%s\"", option, text);
  }
  if (value < 1) return Refuse("%s must be at least 1, not %s", option, text);
  count = static_cast<int32_t>(value);
  return 0;
}

// A name a connection takes as it stands: not blank, not longer than it
// takes. Returns 0, or the refusal's status.
int CheckName(const char* what, const char* name) {
  if (name[std::strspn(name, " ")] == '\0') return Refuse("the name of the %s is blank", what);
  if (std::strlen(name) > static_cast<size_t>(textio::kMaxNameLength)) {
    return Refuse("the name of the %s is longer than %d characters: %s", what, textio::kMaxNameLength, name);
  }
  return 0;
}

// The numbers of cases and variables that --inspect gives for the data file,
// when a run with them reads every value and writes every value in its
// field. Returns 0, or the refusal's status.
int InferCounts(CommandLineRun& run) {
  const auto length = static_cast<int>(std::strlen(run.dataName));
  // A FIFO, a pipe or the console would be read up by the inspection, and
  // a FIFO opened again might wait for ever or give other data.
  if (textio::InquireKind(run.dataName, length, textio::NameForm::Whole) != textio::FileKind::Regular) {
    return Refuse("%s is not a regular file, so it cannot be inspected before it is read: give --cases and "
                  "--variables",
                  run.dataName);
  }
  if (int status = textio::OpenUnit(kDataUnit, run.dataName, length, "read", true, textio::NameForm::Whole);
      status != 0) {
    return Refuse("cannot read %s: %s", run.dataName, textio::RunErrorMessage(status));
  }
  Inspection inspection;
  InspectUnit(inspection);
  textio::CloseUnit(kDataUnit);
  if (!RunWouldSucceed(inspection)) {
    char reason[1024];
    InspectionRefusal(run.dataName, inspection, reason, sizeof reason);
    return Refuse("cannot tell the numbers of cases and variables of %s: %s", run.dataName, reason);
  }
  run.ncases = static_cast<int32_t>(inspection.cases);
  run.nvars = static_cast<int32_t>(inspection.variables);
  return 0;
}

// Takes one option and its value, the next argument when not given after
// "="; `i` is left at the last argument taken. Returns 0, or the refusal's
// status.
int TakeOption(int argc, const char* const* argv, int& i, const OptionName& option, const char* value,
               CommandLineRun& run) {
  ExportOptions& exported = run.exportOptions;
  if (option.option == Option::Header) {
    if (value != nullptr) return Refuse("--header takes no value");
    if (exported.header) return Refuse("--header is given twice");
    exported.header = true;
    return 0;
  }
  if (value == nullptr) {
    const char* ignored = nullptr;
    if (i + 1 == argc || OptionOf(argv[i + 1], ignored) != nullptr) return Refuse("%s needs a value after it", option.name);
    value = argv[++i];
  }
  bool given = false;
  switch (option.option) {
    case Option::Output: given = run.outputName != nullptr; break;
    case Option::Cases: given = run.ncases != 0; break;
    case Option::Variables: given = run.nvars != 0; break;
    case Option::Columns: given = exported.columns != nullptr; break;
    case Option::Missing: given = exported.missingGiven; break;
    case Option::Delimiter: given = exported.delimiter != 0; break;
    case Option::Header: break;
  }
  if (given) return Refuse("%s is given twice", option.name);
  switch (option.option) {
    case Option::Output: run.outputName = value; break;
    case Option::Cases: return TakeCount(option.name, value, run.ncases);
    case Option::Variables: return TakeCount(option.name, value, run.nvars);
    case Option::Columns: exported.columns = value; break;
    case Option::Missing: return TakeMissingCode(value, exported);
    case Option::Delimiter: return TakeDelimiter(value, exported);
    case Option::Header: break;
  }
  return 0;
}

}  // namespace

bool AsksForCommandLineRun(int argc, const char* const* argv) {
  // The information requests count only as the first argument; later they
  // are names, as the dialog takes arguments.
  static const char* const kRequests[] = {"--help", "--version", "--inspect"};
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const char* argument = argv[i];
    if (std::strncmp(argument, "--", 2) != 0) continue;
    if (std::none_of(std::begin(kRequests), std::end(kRequests),
                     [argument](const char* request) { return std::strcmp(argument, request) == 0; })) {
      return true;
    }
  }
  return false;
}

int TakeCommandLine(int argc, const char* const* argv, CommandLineRun& run) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    const char* value = nullptr;
    const OptionName* option = optionsEnded ? nullptr : OptionOf(argument, value);
    if (option != nullptr) {
      if (int status = TakeOption(argc, argv, i, *option, value, run); status != 0) return status;
    } else if (!optionsEnded && std::strcmp(argument, "--") == 0) {
      optionsEnded = true;
    } else if (!optionsEnded && argument[0] == '-' && argument[1] != '\0') {
      return Refuse("unknown option %s (aggregate --help shows the options; -- before a data file whose name "
                    "starts with -)",
                    argument);
    } else if (run.dataName != nullptr) {
      return Refuse("one data file at a time, not %s and %s", run.dataName, argument);
    } else {
      run.dataName = argument;
    }
  }
  if (run.outputName == nullptr) return Refuse("--output PATTERNS names the pattern file to make");
  if (run.dataName == nullptr) return Refuse("the name of the data file is missing: aggregate --output %s DATA", run.outputName);
  if (int status = CheckName("pattern file", run.outputName); status != 0) return status;
  if (int status = CheckName("data file", run.dataName); status != 0) return status;
  const auto dataLength = static_cast<int>(std::strlen(run.dataName));
  // A connect would make the file that is not there.
  if (!textio::InquireExists(run.dataName, dataLength, textio::NameForm::Whole)) {
    return Refuse("no such data file: %s", run.dataName);
  }
  if (textio::InquireSameFile(run.dataName, dataLength, run.outputName, static_cast<int>(std::strlen(run.outputName)),
                              textio::NameForm::Whole)) {
    return Refuse("the pattern file %s is the data file %s itself, which it would replace: give the pattern file a "
                  "name of its own",
                  run.outputName, run.dataName);
  }
  // An export's counts come from its reading, which checks those given.
  if (run.exportOptions.Given()) return 0;
  if ((run.ncases == 0) != (run.nvars == 0)) return Refuse("give both --cases and --variables, or neither");
  return run.ncases == 0 ? InferCounts(run) : 0;
}
