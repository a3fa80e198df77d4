// Fuzz target: the inspection of a data file (aggregate --inspect), read one
// record at a time. It must find the same with full loads and with tiny
// ones, and its report must come out. When it gives answers, a run's read
// loop must read that many cases of that many values to the file's end, and
// the cases must hold the patterns and the values it says. When it calls
// the file clean (exit status 0), that reading must skip no value, and
// every value must fit the pattern file's field.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "aggregation/core/run_units.h"
#include "aggregation/inspection/inspection.h"
#include "fuzz_layer.h"
#include "textio/layer_state.h"

namespace {

constexpr size_t kMaxData = 4096;

std::unique_ptr<Inspection> Inspect(const std::string& path, int load) {
  fuzz::FreshLayer();
  fuzz::Connect(kDataUnit, path, "read");
  // The buffer was made for full loads and slack: asking for less is safe.
  textio::SelectUnit(kDataUnit, textio::StatementKind::Read)->bufferSize = load;
  auto inspection = std::make_unique<Inspection>();
  InspectUnit(*inspection);
  return inspection;
}

// One variable's values as the inspection tells them.
std::string Facts(int32_t smallest, int32_t largest, int64_t distinct, int64_t outside) {
  return std::to_string(smallest) + ' ' + std::to_string(largest) + ' ' + std::to_string(distinct) + ' ' +
         std::to_string(outside) + ';';
}

// The patterns and the variables' values the inspection counted.
std::string Said(const Inspection& inspection) {
  std::string text = std::to_string(inspection.patterns) + ' ';
  for (int64_t j = 0; j < inspection.variables; ++j) {
    const VariableFacts& facts = inspection.facts[j];
    text += Facts(facts.smallest, facts.largest, DistinctFitting(facts), facts.outside);
  }
  return text;
}

// What an inspection found, to hold two against each other.
std::string Summary(const Inspection& inspection) {
  std::string text;
  for (int64_t number : {inspection.lines, inspection.records, inspection.failing.count, inspection.failing.firstLine,
                         int64_t{inspection.failure.status}, inspection.failure.column, inspection.skipped.count,
                         inspection.loneReturns.count, inspection.afterSlash.count, inspection.nulls.count,
                         inspection.commaEnds.count, inspection.slashes.count, int64_t{inspection.recordsPerCase},
                         inspection.cases, inspection.variables, inspection.largestCount}) {
    text += std::to_string(number) + ' ';
  }
  for (int k = 0; k < inspection.lengthKinds; ++k) text += std::to_string(inspection.lengths[k].values) + ' ';
  char report[2048];
  textio::FormatRunErrorReport(inspection.failure.report, report, sizeof report);
  return text + (inspection.counted ? Said(inspection) : "") + report;
}

// Reads the answers' cases as a run reads them; a failure is a finding.
std::vector<int32_t> ReadCases(const std::string& path, const Inspection& inspection) {
  const auto ncases = static_cast<int32_t>(inspection.cases), nvars = static_cast<int32_t>(inspection.variables);
  fuzz::FreshLayer();
  fuzz::Connect(kDataUnit, path, "read");
  std::vector<int32_t> rows(static_cast<size_t>(ncases) * static_cast<size_t>(nvars));
  int32_t i = 0;
  try {
    for (; i < ncases; ++i) {
      textio::beginRead(kDataUnit);
      textio::layer.run.statusWanted = true;  // an error now returns as a StatementReturn
      textio::readIntegers(rows.data() + static_cast<size_t>(i) * static_cast<size_t>(nvars), nvars, 1);
      textio::endRead();
    }
    int64_t firstSkipped = 0;
    if (RunWouldSucceed(inspection) && textio::RecordsSkippingValues(kDataUnit, firstSkipped) > 0) {
      fuzz::Finding("values skipped in a file called clean", Summary(inspection), "line " + std::to_string(firstSkipped));
    }
    // Every case was read: the next statement meets the end of the file.
    int32_t more = 0;
    textio::beginRead(kDataUnit);
    textio::layer.run.statusWanted = true;
    textio::readInteger(more);
    fuzz::Finding("values after the answers' cases", Summary(inspection), "");
  } catch (const textio::StatementReturn& failure) {
    if (i < ncases || failure.number != textio::EndOfFile) {
      fuzz::Finding("the answers' cases not read", Summary(inspection),
                    "case " + std::to_string(i + 1) + ", error " + std::to_string(failure.number));
    }
  }
  return rows;
}

// The cases' distinct patterns and each variable's values, told as the
// inspection tells them.
std::string Counted(const std::vector<int32_t>& rows, const Inspection& inspection) {
  const auto nvars = static_cast<size_t>(inspection.variables);
  std::set<std::vector<int32_t>> patterns;
  for (size_t at = 0; at < rows.size(); at += nvars) patterns.emplace(rows.begin() + at, rows.begin() + at + nvars);
  bool more = inspection.morePatterns && patterns.size() > static_cast<size_t>(inspection.patterns);
  std::string text = std::to_string(more ? inspection.patterns : static_cast<int64_t>(patterns.size())) + ' ';
  for (size_t j = 0; j < nvars; ++j) {
    std::set<int32_t> fitting;
    int32_t smallest = INT32_MAX, largest = INT32_MIN;
    int64_t outside = 0;
    for (size_t at = j; at < rows.size(); at += nvars) {
      smallest = std::min(smallest, rows[at]);
      largest = std::max(largest, rows[at]);
      if (rows[at] >= -99 && rows[at] <= 999) {
        fitting.insert(rows[at]);
      } else {
        ++outside;
      }
    }
    text += Facts(smallest, largest, static_cast<int64_t>(fitting.size()), outside);
  }
  return text;
}

}  // namespace

// The first byte chooses the size of the tiny loads; the rest is the data file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size - 1 > kMaxData) return -1;
  static const bool quiet = [] {  // the reports go nowhere
    int null = open("/dev/null", O_WRONLY);
    return dup2(null, 1) == 1 && close(null) == 0;
  }();
  (void)quiet;
  static const std::string path = fuzz::ScratchPath("data.txt");
  fuzz::WriteScratchFile(path, data + 1, size - 1);

  std::unique_ptr<Inspection> inspection = Inspect(path, textio::kFileReadLoad);
  std::unique_ptr<Inspection> tiny = Inspect(path, 3 + data[0] % 14);
  if (Summary(*inspection) != Summary(*tiny)) fuzz::Finding("tiny loads", Summary(*inspection), Summary(*tiny));
  WriteInspection("aggregate", path.c_str(), *inspection);
  // Cases too many to hold here are right too, but slow to check.
  if (!AnswersGiven(*inspection) || inspection->cases * inspection->variables > (int64_t{1} << 22)) return 0;
  std::vector<int32_t> rows = ReadCases(path, *inspection);
  bool starred = std::any_of(rows.begin(), rows.end(), [](int32_t value) { return value < -99 || value > 999; });
  if (RunWouldSucceed(*inspection) && starred) fuzz::Finding("*** in a file called clean", Summary(*inspection), "");
  if (inspection->counted && Counted(rows, *inspection) != Said(*inspection)) {
    fuzz::Finding("the cases hold other patterns or values", Said(*inspection), Counted(rows, *inspection));
  }
  return 0;
}
