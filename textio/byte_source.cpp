// The reader's byte source: a unit's buffer refilled by one read request at
// a time (a typed line, or a load of a file or redirected input), the bytes
// taken from it, the move to the next record, and the errors met on the way.
#include <algorithm>
#include <cstring>

#include "textio/platform.h"
#include "textio/reader_input.h"

namespace textio {
namespace {

bool TypedLines(const UnitRecord& unit) { return unit.console && unit.terminalInput; }


// One line typed at a terminal, shaped as the console hands it over: a final
// LF becomes CR LF, so a line holds at most 130 characters and its line end.
// When a line may be longer, it comes in pieces of the request's size.
int RefillFromTerminal(UnitRecord& unit, int& returned) {
  size_t got = 0;
  platform::Cause cause = platform::ReadOnce(0, unit.buffer, static_cast<size_t>(unit.bufferSize - 1), got);
  if (cause != platform::Cause::None) {
    layer.reader.readFailure = cause;
    return ReadFailed;
  }
  int k = static_cast<int>(got);
  if (k > 0 && unit.buffer[k - 1] == '\n') {
    unit.buffer[k - 1] = '\r';
    unit.buffer[k++] = '\n';
  } else if (k == unit.bufferSize - 1 && !layer.reader.typedPieces) {
    return ConsoleLineTooLong;
  }
  returned = k;
  return 0;
}

// A piece of a file or redirected input: read until the buffer is full, the
// input ends, or the piece ends a line, so that no value is split in two.
int RefillFromStream(UnitRecord& unit, int& returned) {
  platform::Handle handle = unit.console ? 0 : unit.handle;
  size_t k = 0, size = static_cast<size_t>(unit.bufferSize);
  while (k < size) {
    size_t got = 0;
    platform::Cause cause = platform::ReadOnce(handle, unit.buffer + k, size - k, got);
    if (cause != platform::Cause::None) {
      layer.reader.readFailure = cause;
      return ReadFailed;
    }
    if (got == 0) break;
    k += got;
    if (unit.buffer[k - 1] == '\n') break;
  }
  unit.loadOffset = unit.filePosition;
  unit.filePosition += static_cast<int64_t>(k);
  returned = static_cast<int>(k);
  return 0;
}

// Console input ends at a line whose last byte before its line end is
// Ctrl-Z. The load is cut before such a line, and the input ends after it;
// returns false when the load's first line is that line.
bool CutAtCtrlZLine(UnitRecord& unit, int& k) {
  int lineStart = 0;
  for (int i = 0; i < k; ++i) {
    if (unit.buffer[i] != '\n') continue;
    int last = i > lineStart && unit.buffer[i - 1] == '\r' ? i - 2 : i - 1;
    if (last >= lineStart && unit.buffer[last] == kCtrlZ) {
      if (lineStart == 0) return false;
      k = lineStart;
      unit.endAfterLoad = true;
      return true;
    }
    lineStart = i + 1;
  }
  return true;
}

// Refills the unit's buffer by one read request; `position` is then the
// next byte to take. Returns 0 or the error number. A load holds at most
// `bufferSize` bytes, a supplied line end included (END MARKER).
int Refill(UnitRecord& unit) {
  unit.loadStart += unit.lastIndex + 1;
  unit.position = 0;
  unit.lastIndex = -1;
  if (unit.endAfterLoad) return EndOfFile;
  int returned = 0;
  bool typed = TypedLines(unit);
  int status = typed ? RefillFromTerminal(unit, returned) : RefillFromStream(unit, returned);
  if (status != 0) return status;
  int k = returned;
  // A byte order mark that an editor put before the first byte is no part of
  // the input: an input of nothing else has no line.
  static const unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
  bool byteOrderMark = !unit.loadedBefore && k >= 3 && std::memcmp(unit.buffer, kByteOrderMark, 3) == 0;
  unit.loadedBefore = true;
  int requested = typed ? unit.bufferSize - 1 : unit.bufferSize;
  if (k == 0) {
    // The last line of an input is a whole record, line end or not.
    if (unit.lastByteLineEnd) return EndOfFile;
    unit.buffer[k++] = '\n';
  } else if (k < requested && unit.buffer[k - 1] != '\n' && !(byteOrderMark && k == 3)) {
    unit.buffer[k++] = '\n';
  }
  unit.lastByteLineEnd = unit.buffer[k - 1] == '\n' || (byteOrderMark && k == 3);
  if (unit.console && !CutAtCtrlZLine(unit, k)) return EndOfFile;
  EndLoad(unit, k);
  if (!byteOrderMark) return 0;
  unit.position = 3;
  unit.loadStart -= 3;
  // A load of nothing but the mark leaves nothing to take: the next one is read.
  return unit.position <= unit.lastIndex ? 0 : Refill(unit);
}

// An error met while taking bytes: the end of the input, a read failure, a
// typed line too long.
[[noreturn]] void RaiseReadError(UnitRecord& unit, int number) {
  RunErrorReport& report = StartRunErrorReport(number);
  report.detailed = true;
  FixedText before(report.before, sizeof report.before);
  report.line = unit.lineEnds + 1;
  report.caseNumber = unit.statements;
  if (number == EndOfFile) {
    unit.endOfFile = true;
    if (unit.console) {
      before.Add("the input ends ");
      report.place = ReportPlace::OnConsoleLine;
    } else if (unit.kind == UnitKind::Sequential && unit.filePosition == 0) {
      // Nothing was ever read. A file the connect made is one whose name was
      // mistyped; the next run with that name finds it there, empty.
      before.Add(unit.madeByConnect ? "the file did not exist, so an empty file of that name was made"
                                    : "the file is empty");
    } else {
      report.place = ReportPlace::FileEndInCase;
    }
  } else if (number == ReadFailed) {
    before.Add(CauseText(layer.reader.readFailure));
  } else {
    before.Add("line ").Add(report.line);
  }
  RaiseStartedRunError();
}

}  // namespace

unsigned char TakeAfterRefill(UnitRecord& unit) {
  if (int status = Refill(unit); status != 0) RaiseReadError(unit, status);
  return unit.buffer[unit.position++];
}

int TakeAfterRefillOrEnd(UnitRecord& unit) {
  int status = Refill(unit);
  if (status == EndOfFile) {
    unit.endOfFile = true;
    return -1;
  }
  if (status != 0) RaiseReadError(unit, status);
  return unit.buffer[unit.position++];
}

bool MoveToNextRecord(UnitRecord& unit) {
  bool passedValue = false;
  if (TypedLines(unit)) {
    if (unit.lastIndex < 0) TakeByte(unit);
    unit.lastIndex = -1;
    unit.position = 0;
  } else {
    for (;;) {
      int lineEnd = NextLineEnd(unit, unit.position);
      int passedEnd = lineEnd >= 0 ? lineEnd : unit.lastIndex + 1;
      passedValue = passedValue || HoldsValue(unit.buffer + unit.position, static_cast<size_t>(passedEnd - unit.position));
      if (lineEnd >= 0) {
        unit.position = lineEnd + 1;
        break;
      }
      unit.position = unit.lastIndex + 1;
      unsigned char b = TakeByte(unit);
      if (b == '\n') break;
      passedValue = passedValue || HoldsValue(&b, 1);
    }
  }
  ++unit.lineEnds;
  unit.lineStart = unit.loadStart + unit.position;
  // The typed line end has already moved the console to a new line.
  if (unit.console) unit.lineOpen = false;
  return passedValue;
}

void NoteSkippedValues(UnitRecord& unit) {
  if (unit.skippedRecords++ == 0) unit.firstSkippedLine = unit.lineEnds;
}

int ReadConsoleLine(char* line, int capacity, int& length) {
  UnitRecord& unit = *layer.unitTable.slots[kConsoleSlot].record;
  ReaderState& reader = layer.reader;
  if (TypedLines(unit)) {
    unit.lastIndex = -1;
    unit.position = 0;
  }
  // A typed name may be longer than a typed answer: it is read in pieces.
  reader.typedPieces = true;
  length = 0;
  int status = 0;
  while (status == 0) {
    if (unit.position > unit.lastIndex) {
      status = Refill(unit);
      continue;
    }
    unsigned char b = unit.buffer[unit.position++];
    if (b == '\n') {
      ++unit.lineEnds;
      break;
    }
    if (length < capacity) line[length++] = static_cast<char>(b);
  }
  reader.typedPieces = false;
  if (status == EndOfFile) unit.endOfFile = true;
  if (length > 0 && line[length - 1] == '\r') --length;
  // The typed line end has already moved the console to a new line.
  unit.lineOpen = false;
  return status;
}

}  // namespace textio
