// The ends of a run: the stop, the run-time error report, the exit
// processing, and the array allocation whose failures are run-time errors.
#include <cstring>

#include "textio/layer_state.h"
#include "textio/platform.h"

namespace textio {
namespace {

// ORDER StatementKind: the text a report shows after the error number.
constexpr const char* kStatementTexts[] = {
    ": (",         ": CLOSE(",   ": WRITE(",           ": ENDFILE(",          ": INQUIRE(",
    ": LOCKING(",  ": OPEN(",    ": READ(",            ": REWIND(",           ": BACKSPACE(",
    ": EOF(",      ": $DEBUG\r\n- ", ": ALLOCATE\r\n- ", ": DEALLOCATE\r\n- ", ": BEGINTHREAD\r\n- ",
    ": MATH\r\n- ", "\r\n- ",
};
static_assert(sizeof kStatementTexts / sizeof kStatementTexts[0] ==
              static_cast<size_t>(StatementKind::Other) + 1);

bool NamesUnit(StatementKind kind) { return kind <= StatementKind::Eof; }

void CopyName(const char* name) {
  std::strncpy(layer.nameScratch, name, kNameScratchSize - 1);
  layer.nameScratch[kNameScratchSize - 1] = '\0';
}

// The last report made, reported or not. Made without the heap: a report
// must come out when memory has run out.
char lastReport[kNameScratchSize + 512];

// Makes the report of an error into lastReport; returns its length.
size_t ComposeReport(int number, const char* message, StatementKind kind) {
  FixedText text(lastReport, sizeof lastReport);
  text.Add("\r\nrun-time error ").Add(kind == StatementKind::Arithmetic ? "M" : "F").Add(int64_t{number});
  text.Add(kStatementTexts[static_cast<int>(kind)]);
  if (NamesUnit(kind)) text.Add(layer.nameScratch).Add(*message != '\0' ? ")\r\n- " : ")\r\n");
  text.Add(message).Add("\r\n");
  return static_cast<size_t>(text.next - lastReport);
}

// Rows [first, first + count) of a rank-2 array, as ranges of its bytes.
platform::BlockRanges RowRanges(const ArrayDescriptor& array, int64_t first, int64_t count) {
  const auto rows = static_cast<size_t>(array.bounds[0].upper - array.bounds[0].lower + 1);
  const auto columns = static_cast<size_t>(array.bounds[1].upper - array.bounds[1].lower + 1);
  return {array.elementSize * static_cast<size_t>(first), array.elementSize * static_cast<size_t>(count),
          array.elementSize * rows, columns};
}

}  // namespace

void ReportRunError(int number, const char* message, StatementKind kind) {
  size_t length = ComposeReport(number, message, kind);
  // Nothing is left to tell anyone if standard error itself fails.
  (void)platform::WriteAll(2, lastReport, length);
  if (!layer.run.endingRun) ExitRun(1);
}

const char* LastRunErrorReport() { return lastReport; }

namespace {

void WriteLine(platform::Handle handle, const char* text) {
  (void)platform::WriteAll(handle, text, std::strlen(text));
  (void)platform::WriteAll(handle, platform::kLineEnd, std::strlen(platform::kLineEnd));
}

}  // namespace

void WriteErrorLine(const char* text) { WriteLine(2, text); }

void WriteOutputLine(const char* text) { WriteLine(1, text); }

void RaiseRunError(int number, const char* detail) {
  RunState& run = layer.run;
  if (NamesUnit(run.kind) && run.kind != StatementKind::Open) {
    CopyName(run.currentUnit != nullptr ? run.currentUnit->name : "");
  }
  static char message[512];
  FixedText text(message, sizeof message);
  text.Add(RunErrorMessage(number));
  if (detail != nullptr) text.Add(": ").Add(detail);
  if (run.statusWanted) {
    ComposeReport(number, message, run.kind);  // kept for the statement's caller
  } else {
    ReportRunError(number, message, run.kind);
  }
  // Only a statement with a status, or the end-of-run closing, gets here.
  run.statusWanted = false;
  throw StatementReturn{number};
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
