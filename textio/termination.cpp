// The ends of a run: the stop, the run-time error report, the exit
// processing, and the array allocation whose failures are run-time errors.
#include <cstring>

#include "textio/layer_state.h"
#include "textio/platform.h"

namespace textio {
namespace {

// ORDER StatementKind: the text a report shows after the error number.
constexpr const char* kStatementTexts[] = {": (", ": CLOSE(", ": WRITE(", ": OPEN(", ": READ(", "\r\n- "};
static_assert(sizeof kStatementTexts / sizeof kStatementTexts[0] ==
              static_cast<size_t>(StatementKind::Other) + 1);

bool NamesUnit(StatementKind kind) { return kind < StatementKind::Other; }

void CopyName(const char* name) {
  std::strncpy(layer.nameScratch, name, kNameScratchSize - 1);
  layer.nameScratch[kNameScratchSize - 1] = '\0';
}

// The last report made, reported or not, as parts and as text. Made
// without the heap: a report must come out when memory has run out.
RunErrorReport lastError;
char lastReport[sizeof lastError.unitName + 3 * kReportTextSize];

void AddPlace(FixedText& text, const RunErrorReport& report) {
  switch (report.place) {
    case ReportPlace::None:
      break;
    case ReportPlace::InCase:
      text.Add("in case ").Add(report.caseNumber).Add(", line ").Add(report.line);
      break;
    case ReportPlace::OnConsoleLine:
      text.Add("on line ").Add(report.line);
      break;
    case ReportPlace::FileEndInCase: {
      const int64_t complete = report.caseNumber - 1;
      text.Add(complete).Add(complete == 1 ? " case read, " : " cases read, ");
      text.Add("the file ends in case ").Add(report.caseNumber).Add(", line ").Add(report.line);
      break;
    }
  }
}

// Writes out the report of the error raised, unless its statement wants a
// status or the run is ending already; then returns to its caller.
void ReportUnlessReturned() {
  RunState& run = layer.run;
  const size_t length = FormatRunErrorReport(lastError, lastReport, sizeof lastReport);
  if (run.statusWanted) return;  // kept for the statement's caller
  // Nothing is left to tell anyone if standard error itself fails.
  (void)platform::WriteAll(2, lastReport, length);
  if (!run.endingRun) ExitRun(1);
}

// Rows [first, first + count) of a rank-2 array, as ranges of its bytes.
platform::BlockRanges RowRanges(const ArrayDescriptor& array, int64_t first, int64_t count) {
  const auto rows = static_cast<size_t>(array.bounds[0].upper - array.bounds[0].lower + 1);
  const auto columns = static_cast<size_t>(array.bounds[1].upper - array.bounds[1].lower + 1);
  return {array.elementSize * static_cast<size_t>(first), array.elementSize * static_cast<size_t>(count),
          array.elementSize * rows, columns};
}

}  // namespace

size_t FormatRunErrorReport(const RunErrorReport& report, char* buffer, size_t size) {
  FixedText text(buffer, size);
  text.Add("\r\nrun-time error F").Add(int64_t{report.number});
  text.Add(kStatementTexts[static_cast<int>(report.kind)]);
  const char* message = RunErrorMessage(report.number);
  if (NamesUnit(report.kind)) text.Add(report.unitName).Add(*message != '\0' || report.detailed ? ")\r\n- " : ")\r\n");
  text.Add(message);
  if (report.detailed) {
    text.Add(": ").Add(report.before);
    AddPlace(text, report);
    text.Add(report.after);
  }
  text.Add("\r\n");
  return static_cast<size_t>(text.next - buffer);
}

const RunErrorReport& LastRunError() { return lastError; }

const char* LastRunErrorReport() { return lastReport; }

namespace {

void WriteLine(platform::Handle handle, const char* text) {
  (void)platform::WriteAll(handle, text, std::strlen(text));
  (void)platform::WriteAll(handle, platform::kLineEnd, std::strlen(platform::kLineEnd));
}

}  // namespace

void WriteErrorLine(const char* text) { WriteLine(2, text); }

void WriteOutputLine(const char* text) { WriteLine(1, text); }

RunErrorReport& StartRunErrorReport(int number) {
  RunState& run = layer.run;
  if (NamesUnit(run.kind) && run.kind != StatementKind::Open) {
    CopyName(run.currentUnit != nullptr ? run.currentUnit->name : "");
  }
  lastError.number = number;
  lastError.kind = run.kind;
  FixedText(lastError.unitName, sizeof lastError.unitName).Add(layer.nameScratch);
  lastError.detailed = false;
  lastError.before[0] = lastError.after[0] = '\0';
  lastError.place = ReportPlace::None;
  lastError.caseNumber = lastError.line = 0;
  lastError.valueLength = 0;
  return lastError;
}

void RaiseStartedRunError() {
  ReportUnlessReturned();
  // Only a statement with a status, or the end-of-run closing, gets here.
  layer.run.statusWanted = false;
  throw StatementReturn{lastError.number};
}

void RaiseRunError(int number, const char* detail) {
  RunErrorReport& report = StartRunErrorReport(number);
  if (detail != nullptr) {
    report.detailed = true;
    FixedText(report.before, sizeof report.before).Add(detail);
  }
  RaiseStartedRunError();
}

bool ClosingFailed() { return layer.run.closingFailed; }

void ExitRun(int status) {
  RunState& run = layer.run;
  if (!run.endingRun && run.endOfRunClosing != nullptr) run.endOfRunClosing();
  // Output that did not reach its file must not end as a success.
  if (run.closingFailed) status = 1;
  platform::EndProcess(status);
}

void StopRun() {
  UnitRecord* console = ConsoleOutputRecord();
  if (console != nullptr && console->lineOpen) WriteConsoleLineEnd(*console);
  static const char kStopLine[] = "Stop - Program terminated.\r\n";
  (void)platform::WriteAll(1, kStopLine, sizeof kStopLine - 1);
  // Every stop is a refusal that left no pattern file: a script must see a failure.
  ExitRun(1);
}

void RaiseNoLayerMemory() {
  BeginStatement(StatementKind::Other, nullptr);
  RaiseRunError(NoLayerMemory);
}

void AllocateArray(ArrayDescriptor& array, int32_t* status) {
  BeginStatement(StatementKind::Other, nullptr, status != nullptr);
  if (status != nullptr && array.data != nullptr) {
    *status = ArrayAllocatedAlready;
    return;
  }
  // The byte count must fit in 32 bits; a smaller block than asked is never given.
  uint64_t bytes = array.elementSize;
  bool fits = bytes <= UINT32_MAX;
  for (int d = 0; d < array.rank && fits; ++d) {
    const ArrayBound& bound = array.bounds[d];
    uint64_t extent = bound.upper < bound.lower ? 0 : static_cast<uint64_t>(bound.upper - bound.lower) + 1;
    fits = extent <= UINT32_MAX && bytes * extent <= UINT32_MAX;
    bytes *= extent;
  }
  void* block = fits ? platform::AllocateBlock(static_cast<size_t>(bytes)) : nullptr;
  if (block == nullptr) {
    if (status == nullptr) RaiseRunError(NoArrayMemory);
    *status = 1;
    return;
  }
  array.data = block;
  array.byteCount = static_cast<size_t>(bytes);
  if (status != nullptr) *status = 0;
}

void PrepareRows(const ArrayDescriptor& array, int64_t first, int64_t count) {
  if (array.data != nullptr) platform::PrepareBlock(array.data, array.byteCount, RowRanges(array, first, count));
}

size_t PreparedRowBytes(const ArrayDescriptor& array, int64_t first, int64_t count) {
  return array.data != nullptr ? platform::PreparedBytes(array.byteCount, RowRanges(array, first, count)) : 0;
}

void PreferLargePages(const ArrayDescriptor& array) {
  if (array.data != nullptr) platform::PreferLargePages(array.data, array.byteCount);
}

void ReleaseArray(ArrayDescriptor& array) {
  BeginStatement(StatementKind::Other, nullptr);
  if (array.data == nullptr) RaiseRunError(ArrayNotAllocated);
  platform::ReleaseBlock(array.data, array.byteCount);
  array.data = nullptr;
  array.byteCount = 0;
}

}  // namespace textio
