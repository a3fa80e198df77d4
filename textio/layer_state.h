// The layer's process-wide state, in one place so that tests can reset it,
// and the operations its modules offer one another.
#pragma once

#include <type_traits>

#include "textio/layout.h"
#include "textio/platform.h"
#include "textio/textio.h"

namespace textio {

inline constexpr int kTokenSize = 260;
// The widest field the record writer edits in one piece; a unit buffer
// holds that many bytes beyond its size, room for the piece's tail and for
// the reader's end marker after a full load (END MARKER, reader_input.h).
inline constexpr int kFieldSpan = 16;
inline constexpr int kBufferSlack = kFieldSpan;
inline constexpr int kNameScratchSize = 512;

// The first bytes of a value that a report shows.
inline constexpr int kShownSize = kReportValueBytes;

// What a record writer counts of the records it ends.
struct RecordTally {
  int64_t recordsWritten;
  int64_t starredFields;       // fields written as asterisks, their values not fitting
  int64_t firstStarredRecord;  // the first of them: its record and column, from 1, and value
  int64_t firstStarredColumn;
  int32_t firstStarredValue;
};

// One connection: a file, a device or a console record, with its transfer buffer.
struct UnitRecord {
  char name[kMaxNameLength + 1];  // path as handed to the system, NUL-terminated
  int handle;                     // 0, 1, 2 standard handles; 3 and up files
  UnitKind kind;
  UnitAction action;
  bool console;                   // transfers go through the console records
  bool controlCarriage;           // each output record starts with a control character
  unsigned char* buffer;
  int bufferSize;                 // bytes one read asks for / one write load holds
  int laterLoad;                  // what a write load holds once the first one is written
  int position;                   // next byte to transfer
  int lastIndex;                  // last valid byte; -1 when empty
  int64_t filePosition;           // system file position after the buffer's bytes
  int64_t loadOffset;             // file offset of the buffer's byte 0, when it holds bytes read
  bool writing;                   // a file's output state: the last transfer was a write, or
                                  // the connect created the file and nothing has been read since
  bool lineOpen;                  // console or device: a line was written and its CR LF was not
  bool written;                   // bytes have been placed for the file since the connect
  bool endOfFile;
  bool recordContinued;           // the current console record has sent its first piece
  bool lineClosed;                // a disconnect has written the device line's end
  bool terminalInput;             // console input from a terminal: one typed line per read
  bool lastByteLineEnd;           // the last byte read was LF (or nothing was read yet)
  bool loadedBefore;              // a load has been read: a byte order mark counts only before it
  bool endAfterLoad;              // console: the line after this load ends the input
  bool madeByConnect;             // the connect created the file, which was empty then
  int64_t lineEnds;               // line ends taken so far, a supplied one included
  int64_t loadStart;              // input offset of the buffer's byte 0 (a byte order mark not counted)
  int64_t lineStart;              // input offset where the current line starts; kept by the
                                  // move to the next record, not by the fast path of readIntegers
  int64_t statements;             // read statements begun on the unit, or cases taken in their stead
  int64_t secondReaderCases;      // of them, cases a second reader took (PassSideCases)
  int64_t skippedRecords;         // records whose values a statement skipped unread
  int64_t firstSkippedLine;       // the line of the first of them
  int64_t nullValues;             // whole-number items a null value left as they were
  int64_t firstNullLine;          // the first of them: its line, and its item in its statement
  int64_t firstNullItem;
  RecordTally tally;              // the records written to the unit
  struct DelimitedInput* delimited;  // read as delimited records (ReadFieldsOf); null: free form
};

// A unit's delimited reading: its form, and how its records ended. The
// form's itemOf follows it in the same block of memory.
struct DelimitedInput {
  FieldForm form;
  bool ended;
  FieldFailure failure;
};

struct UnitSlot {
  int32_t unit;        // kFreeSlot when free
  UnitRecord* record;
};

struct UnitTable {
  UnitSlot slots[kUnitSlots];
};

UnitRecord* SelectUnit(int unit, StatementKind kind);  // nullptr: not connected

enum class ScanMode : uint8_t { Plain, Parenthesised, Delimited };

// Where a statement of one record stands among its separators, to find the
// empty fields of a tab-separated line: a tab at the line's start, a second
// tab after one, or a tab just before the line's end stands for one.
enum class TabPlace : uint8_t { AfterValue, LineStart, AfterTab };

struct ReaderState {
  UnitRecord* unit;
  char lastSeparator;      // what ended the previous value: ' ', ',', '/' or after a delimiter
  int32_t repeatLeft;      // items still to receive the current repeat form's value
  char token[kTokenSize];  // the characters of the current value
  int tokenLength;
  ScanMode scanMode;
  char delimiter;          // the quote that opened a delimited value
  bool endedByRecordEnd;   // the reader already stands at the start of the next record
  bool starSeen;           // the current value has had its repeat count
  bool integerItem;        // the current item is a whole number
  bool valueCut;           // the last value for a character item was longer than the item
  bool typedPieces;        // a terminal line may be longer than one read: taken in pieces
  bool recordOnly;         // the statement takes one record: its end ends the input (readRecord)
  bool recordEnded;        // ... and has ended it, giving the item no value
  TabPlace tabPlace;       // ... where it stands among its separators
  bool tabGap;             // ... and whether it has passed an empty tab-separated field
  int32_t itemsGiven;      // the statement's items given a value, or a null one, so far
  // The current value as read, for a report: its length so far, its first
  // bytes and the line where it starts.
  int64_t valueLength;
  char shown[kShownSize];
  int64_t valueLine;
  int64_t valueColumn;     // where it starts in its line, from 1 (see UnitRecord::lineStart)
  platform::Cause readFailure;  // why the last read request failed
};

struct ConsoleWriterState {
  UnitRecord* record;  // the console record the statement writes through
  int32_t pendingBlanks;
  int32_t lineRoom;
};

enum class WriteMode : uint8_t { Console, Formatted };

struct RunState {
  StatementKind kind;
  UnitRecord* currentUnit;
  bool statusWanted;
  bool endingRun;       // the end-of-run closing has started
  bool closingFailed;   // a run-time error was raised while the units were being closed
  void (*endOfRunClosing)();
};

struct LayerState {
  UnitTable unitTable;
  char nameScratch[kNameScratchSize];
  int argumentsUsed;  // command-line arguments taken as file names so far
  RunState run;
  WriteMode writeMode;
  ReaderState reader;
  ConsoleWriterState consoleWriter;
  RecordWriterState recordWriter;
};

extern LayerState layer;

// Frees every unit record and returns the layer to its state before InitUnits.
void ResetLayer();

// The layer's own memory: zero-filled, null when it cannot be had. Nothing
// here throws, so a failure is always the layer's numbered error.
void* AllocateLayerMemory(size_t size);
void ReleaseLayerMemory(void* block);

// The layer's own memory could not be had: error 6700, reported with no
// unit, whatever statement asked for the memory.
[[noreturn]] void RaiseNoLayerMemory();

// A run-time error whose detail has a place or a value: its report is
// started with the statement's kind and unit, its parts filled in by the
// caller, then raised as RaiseRunError raises.
RunErrorReport& StartRunErrorReport(int number);
[[noreturn]] void RaiseStartedRunError();

// Starts a statement: its kind and unit for a report, and whether it wants a status.
void BeginStatement(StatementKind kind, UnitRecord* unit, bool statusWanted = false);

// What a raised error throws when the statement has a return point: a
// statement with a status, or the end-of-run closing.
struct StatementReturn {
  int number;
};

// A whole number's distance from zero, unsigned: the lowest value's too.
// Edited in the width of its own type, a 32-bit value divides faster.
template <typename Int>
constexpr std::make_unsigned_t<Int> Magnitude(Int value) {
  using Unsigned = std::make_unsigned_t<Int>;
  return value < 0 ? Unsigned{0} - static_cast<Unsigned>(value) : static_cast<Unsigned>(value);
}

// Writes the decimal digits of `magnitude` right to left, the last one just
// before `end`; returns where the first one stands. Zero has the one digit 0.
template <typename Char, typename Unsigned>
constexpr Char* DecimalDigits(Char* end, Unsigned magnitude) {
  do {
    *--end = static_cast<Char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  return end;
}

// The same for a signed value: a minus sign before the digits of a negative one.
template <typename Char, typename Int>
constexpr Char* DecimalText(Char* end, Int value) {
  Char* first = DecimalDigits(end, Magnitude(value));
  if (value < 0) *--first = '-';
  return first;
}

// Text assembled in a fixed buffer and cut where it is full: reports and
// prompts are made without the heap.
struct FixedText {
  char* next;
  char* end;  // one place before it stays free for the closing NUL

  FixedText(char* buffer, size_t size) : next(buffer), end(buffer + size - 1) { *next = '\0'; }
  FixedText& Add(const char* text, size_t length);
  FixedText& Add(const char* text);
  FixedText& Add(int64_t number);
};

// What a system failure cause says, for a report.
const char* CauseText(platform::Cause cause);

// Units (units.cpp).
UnitRecord* ConsoleOutputRecord();
// Closes the record's file, if this layer opened one, and frees the record
// with its buffer.
void DiscardUnitRecord(UnitRecord* record);
// Places output bytes into a file unit's buffer, writing each full load
// once a byte follows it; the first bytes cut the file off where they go. A
// full load that lies whole among the bytes is written from where it lies.
// Returns why a write failed, its load then dropped; PlaceBytes raises it.
platform::Cause TakeBytes(UnitRecord& unit, const char* bytes, size_t count);
void PlaceBytes(UnitRecord& unit, const char* bytes, size_t count);
// Writes the unwritten bytes of a file unit's buffer.
void FlushUnit(UnitRecord& unit);
// The run-time error for a failed write, and the detail its message adds
// (null for none); RaiseWriteFailure raises it.
int WriteFailureError(platform::Cause cause, const char*& detail);
[[noreturn]] void RaiseWriteFailure(platform::Cause cause);

// Console records (console_writer.cpp): pieces under the carriage-control convention.
void PlaceConsoleBytes(UnitRecord& record, const char* bytes, int count);
void EndConsoleRecord(UnitRecord& record);
// Writes the pending CR LF of an open console line; lineOpen stays as it is.
void WriteConsoleLineEnd(UnitRecord& record);

// Reader's byte source (byte_source.cpp): one line from the console input,
// without its line end, for a file name asked for at a connect. Returns 0,
// or 6501 or 6500.
int ReadConsoleLine(char* line, int capacity, int& length);

// Record writer (record_writer.cpp).
void ResetRecordWriter();
void EndFormattedWrite();

// Records edited apart (textio.h): a block's own statement state, its
// layout compiled once, and the records it holds.
struct RecordBlock {
  RecordWriterState writer;
  char* bytes;           // `capacity` bytes and kBufferSlack more
  int64_t size;
  int64_t capacity;
  RecordTally tally;     // its records, counted from its first
  int error;             // the run-time error met, the bytes before it kept; 0 for none
  const char* errorDetail;
};

}  // namespace textio
