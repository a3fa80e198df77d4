// Console lines: each free-form write statement becomes one line (or more,
// 79 characters a line) whose first character is a carriage-control blank.
// A line's CR LF is written late: before the next line, before the console
// is read, or at the end of the run.
#include <algorithm>
#include <cstring>

#include "textio/layer_state.h"
#include "textio/platform.h"

namespace textio {
namespace {

constexpr int kLineWidth = 79;
struct Blanks {
  char text[kConsoleBufferSize];
  constexpr Blanks() : text() {
    for (char& c : text) c = ' ';
  }
};
constexpr Blanks kBlankLine;
constexpr const char* kBlanks = kBlankLine.text;

platform::Handle OutputHandle(const UnitRecord& record) { return record.console ? 1 : record.handle; }

void WriteControl(const UnitRecord& record, char control) {
  const char* bytes;
  if (control == '0') {
    bytes = record.lineOpen ? "\r\n\r\n" : "\r\n";
  } else if (control == '1') {
    bytes = "\r\n\f\r \r";
  } else if (control == '+') {
    bytes = "\r";
  } else {
    bytes = record.lineOpen ? "\r\n" : "";
  }
  // Control bytes go out unchecked; a failing console shows up with the text.
  (void)platform::WriteAll(OutputHandle(record), bytes, std::strlen(bytes));
}

// Hands what the record buffer holds to the console as one piece.
void SendPiece(UnitRecord& record) {
  const unsigned char* text = record.buffer;
  int length = record.position;
  if (!record.recordContinued) {
    WriteControl(record, length > 0 ? static_cast<char>(text[0]) : ' ');
    ++text;
    --length;
  }
  if (length > 0) {
    platform::Cause cause = platform::WriteAll(OutputHandle(record), text, static_cast<size_t>(length));
    // A console line that cannot be shown is no reason to give up the run;
    // records, the run's product, are never lost silently.
    bool reported = layer.writeMode == WriteMode::Formatted || cause == platform::Cause::NoSpace ||
                    cause == platform::Cause::AccessDenied;
    if (cause != platform::Cause::None && reported) RaiseWriteFailure(cause);
  }
  record.recordContinued = true;
  record.position = 0;
}

void PlaceText(const char* text, int count) {
  ConsoleWriterState& writer = layer.consoleWriter;
  for (int blanks = writer.pendingBlanks; blanks > 0; blanks -= kConsoleBufferSize) {
    PlaceConsoleBytes(*writer.record, kBlanks, std::min(blanks, kConsoleBufferSize));
  }
  PlaceConsoleBytes(*writer.record, text, count);
  writer.pendingBlanks = 0;
}

}  // namespace

void PlaceConsoleBytes(UnitRecord& record, const char* bytes, int count) {
  while (count > 0) {
    if (record.position == record.bufferSize) SendPiece(record);
    int room = std::min(count, record.bufferSize - record.position);
    std::memcpy(record.buffer + record.position, bytes, static_cast<size_t>(room));
    record.position += room;
    bytes += room;
    count -= room;
  }
}

void EndConsoleRecord(UnitRecord& record) {
  // A record with nothing in it still has its control blank.
  if (record.position == 0 && !record.recordContinued) PlaceConsoleBytes(record, kBlanks, 1);
  SendPiece(record);
  record.lineOpen = true;
  record.recordContinued = false;
}

void WriteConsoleLineEnd(UnitRecord& record) { (void)platform::WriteAll(OutputHandle(record), "\r\n", 2); }

void beginWrite() {
  UnitRecord* record = SelectUnit(kConsoleUnit, StatementKind::Write);
  BeginStatement(StatementKind::Write, record);
  layer.writeMode = WriteMode::Console;
  layer.consoleWriter = {record, 1, kLineWidth};
}

void writeCharacter(const char* text, int length) {
  ConsoleWriterState& writer = layer.consoleWriter;
  while (length > 0) {
    if (writer.lineRoom > length) {
      PlaceText(text, length);
      writer.lineRoom -= length;
      return;
    }
    int placed = writer.lineRoom;
    PlaceText(text, placed);
    EndConsoleRecord(*layer.consoleWriter.record);
    text += placed;
    length -= placed;
    writer.lineRoom = kLineWidth;
    writer.pendingBlanks = 1;
  }
}

void endWrite() {
  if (layer.writeMode == WriteMode::Formatted) {
    EndFormattedWrite();
    return;
  }
  EndConsoleRecord(*layer.consoleWriter.record);
}

}  // namespace textio
