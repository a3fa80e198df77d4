// The text input/output layer: units connected to files and the console,
// free-form reading, console lines, edited records, and the end of a run.
// Every operation works on process-wide state (see layer_state.h), on one
// thread; a statement runs from its begin to its end before another one
// starts. Only the second reader's reading, the preparing of an array's
// pages and the editing and passing of record blocks may run on another
// thread meanwhile, as said where they are declared.
#pragma once

#include <cstddef>
#include <cstdint>

namespace textio {

// Numbered run-time errors, with the one-line message a report shows.
// One table: the enumeration and the message lookup are both made from it.
#define TEXTIO_RUN_ERRORS(X)                                                              \
  X(IntegerOutOfRange, 6100, "whole number out of range")                                 \
  X(IntegerCharacter, 6101, "character not allowed in a whole number")                    \
  X(ConnectedAgain, 6209, "unit already connected with another access")                   \
  X(BasedSecondHash, 6302, "second '#' in a based whole number")                          \
  X(BasedBadBase, 6303, "base of a based whole number outside 2 to 36")                   \
  X(UnitNumberRange, 6314, "unit number outside -32767 to 32767")                         \
  X(ArrayAllocatedAlready, 6316, "array already allocated")                               \
  X(ReadAfterEndOfFile, 6405, "read after the end of the file was met")                   \
  X(ConsoleLineTooLong, 6407, "typed line longer than the console line buffer")           \
  X(OpenInvalidName, 6412, "file name or request refused by the system")                  \
  X(FileConnectedElsewhere, 6413, "file already connected to another unit")               \
  X(OpenAccessDenied, 6414, "access to the file denied")                                  \
  X(FileExistsAlready, 6415, "file exists already")                                       \
  X(FileNotFound, 6416, "file or directory not found")                                    \
  X(TooManyOpenFiles, 6417, "too many open files")                                        \
  X(TooManyUnits, 6418, "too many units connected")                                       \
  X(WriteAccessDenied, 6421, "write refused: access denied or lock violated")             \
  X(DiskFull, 6422, "write failed: no space left on device")                              \
  X(WriteFailed, 6423, "write failed")                                                    \
  X(ReadFailed, 6500, "read failed")                                                      \
  X(EndOfFile, 6501, "end of file")                                                       \
  X(RepeatCountNotPositive, 6502, "repeat count not positive")                            \
  X(RepeatSecondStar, 6503, "second '*' in one value")                                    \
  X(DelimitedForInteger, 6504, "quoted or parenthesised value for a whole number")        \
  X(ValueTooLong, 6505, "value longer than 1 MiB")                                        \
  X(InternalRecordFull, 6600, "record longer than the internal text")                     \
  X(RecordTooLong, 6601, "record longer than 16 MiB")                                     \
  X(NoLayerMemory, 6700, "no memory for the input/output layer")                          \
  X(NoArrayMemory, 6773, "no memory for the array")                                       \
  X(ArrayNotAllocated, 6776, "release of an array that is not allocated")                 \
  X(LayoutNumberMissing, 6980, "record layout: number missing")                           \
  X(LayoutNoOpening, 6981, "record layout: no opening '('")                               \
  X(LayoutNothingToRepeat, 6983, "record layout: repeat count before an item that takes none") \
  X(LayoutTooDeep, 6986, "record layout: groups nested more than 16 deep")                \
  X(LayoutUnclosed, 6988, "record layout: text ends before the closing ')'")              \
  X(LayoutOutOfPlace, 6989, "record layout: character out of place")                      \
  X(LayoutMinimumOverWidth, 6990, "record layout: minimum digits greater than the width") \
  X(LayoutNumberTooLarge, 6991, "record layout: number too large")

enum RunError : int {
#define TEXTIO_ERROR_ENUM(name, number, text) name = number,
  TEXTIO_RUN_ERRORS(TEXTIO_ERROR_ENUM)
#undef TEXTIO_ERROR_ENUM
};

// The message text of a run-time error number; empty for an unknown number.
const char* RunErrorMessage(int number);

// The kind of the statement in progress; it chooses the statement text of a
// report. ORDER: every kind before Other is an input/output statement naming a unit.
enum class StatementKind : uint8_t { None = 0, Close, Write, Open, Read, Other };

// ---- Units -----------------------------------------------------------------

enum class UnitKind : uint8_t { Internal, Device, Sequential };
enum class UnitAction : uint8_t { ReadWrite, Read, Write };

inline constexpr int kUnitSlots = 65;
inline constexpr int kFirstFileSlot = 1, kLastFileSlot = 61;
inline constexpr int kConsoleSlot = 62, kConsoleOutputSlot = 63, kInternalSlot = 64;
inline constexpr int32_t kFreeSlot = INT32_MIN;
inline constexpr int kConsoleUnit = INT32_MAX;  // the default unit of console statements
inline constexpr int kMaxNameLength = 259;
inline constexpr int kFileBlockSize = 1024;
// A file connected only for reading takes larger loads: with every load
// read whole, nothing read depends on their size, and far fewer reads are made.
inline constexpr int kFileReadLoad = 1 << 18;
inline constexpr int kConsoleBufferSize = 132;

// One connection (a file, a device or a console record, with its transfer
// buffer) and the table of them: the layer's own, in layer_state.h.
struct UnitRecord;
struct UnitTable;

void InitUnits(int argc, const char* const* argv);
// How a connect takes its name: as a typed name field is taken (up to its
// first NUL, without the blanks at both ends; an empty one is asked for),
// or whole, byte for byte, as a command-line argument gives it.
enum class NameForm : uint8_t { Field, Whole };
// Connects `unit` to the file named by name[0..nameLength). Returns 0, or the
// error number when statusWanted; without a status a failure is reported.
int OpenUnit(int unit, const char* name, int nameLength, const char* action, bool statusWanted,
             NameForm form = NameForm::Field);
void CloseUnit(int unit);
void CloseAllUnits();
// Whether the unit is connected to the console (the name CON).
bool ConnectedToConsole(int unit);
// Whether the file (or device) that a connect of this name would open is
// there already: the connect would make an empty file where it is not.
bool InquireExists(const char* name, int nameLength, NameForm form = NameForm::Field);
// What a connect of the name would open, looked at without opening it:
// nothing yet, a regular file, or something else (a folder, a device, a
// FIFO or a pipe, the console).
enum class FileKind : uint8_t { Missing, Regular, Other };
FileKind InquireKind(const char* name, int nameLength, NameForm form = NameForm::Field);
// Whether two names name one regular file, told by the file itself (another
// spelling of its path, or a hard link to it, is the same file).
bool InquireSameFile(const char* a, int aLength, const char* b, int bLength, NameForm form = NameForm::Field);

// ---- Free-form reading -----------------------------------------------------

void beginRead(int unit);
void readInteger(int32_t& item);
// `count` whole-number items in one go, the k-th at first[k * stride]: the
// same as that many readInteger calls. On a unit read as delimited records
// (ReadFieldsOf) it takes the record's items, as many as its form gives.
void readIntegers(int32_t* first, int count, ptrdiff_t stride);
void readCharacter(char* item, int length);
// Whether the value the last character item received was longer than the
// item, which keeps only its first characters.
bool valueCut();
// The record the statement reads from, without its line end, when it lies
// whole in the bytes loaded: what was typed for an answer.
bool recordText(const char*& text, int& length);
void endRead();

// A statement that takes the values of one record only: what a look at a
// data file's shape needs (record_reading.cpp).
struct RecordShape {
  int64_t values;     // the values a read statement takes from it, null and repeated ones included
  int64_t nulls;      // of them null values, which leave their items as they were
  int repeatForms;    // repeat forms (count*value) among them
  bool slash;         // a slash ended it: a statement's remaining items take nothing
  bool commaAtEnd;    // a comma after its last value: a statement takes its next value from the next record
  bool leadingNull;   // its first value is null: a comma before it, as at a statement's start
  bool skipped;       // values were skipped unread: after a slash, or after a lone CR the rest of its line
  bool tabGap;        // two tabs with nothing but blanks between, or a tab first or last: an empty
                      // field of a tab-separated line, which the reader passes over as part of a separator
  int64_t lines;      // lines taken: the record's own, and empty ones passed over before it
  int64_t line;       // the line where it ends; for an error, where the failing value starts
  int64_t column;     // for an error, the column where the failing value starts; 0 when unknown
  bool valueRunsOn;   // for an error, the failing value runs on past the line where it starts
  bool endless;       // for an error, the failing value ran on past 1 MiB: no later record is read
};
// What readRecord returns when the input ends before another record begins.
inline constexpr int kNoMoreRecords = -1;
// One read statement on `unit`, with a status, that takes the values of the
// next record that holds any (empty records are passed over, as a statement
// passes them): the first `capacity` go to items[0..capacity), the rest are
// counted only; the record's end, or a slash, ends the statement. Returns 0,
// kNoMoreRecords, or the number of the run-time error a read would raise,
// whose report LastRunErrorReport then holds; after an error in a value the
// rest of its record is skipped.
int readRecord(int unit, int32_t* items, int capacity, RecordShape& shape);

// Records whose text has been read before need not be read again. The next
// record of a file unit, between statements, when it lies whole in the bytes
// loaded: its text without its line end. False when it does not, or the
// unit is not a file.
bool PeekRecord(int unit, const char*& text, int& length);
// Passes over the record of `length` bytes that PeekRecord gave, as a read
// statement does that finds all its values there.
void PassRecord(int unit, int length);
// Counts the record just passed among those whose values after a
// statement's last item were skipped unread, as a statement reading the
// same text found (RecordsSkippingValues).
void CountSkippedValues(int unit);
// Cases that a second reader took in the unit's statements' stead
// (PassSideCases).
int64_t SecondReaderCases(int unit);
// The record ends a unit's statements have passed so far: a statement that
// took its values from one record alone passes one.
int64_t RecordEndsPassed(int unit);

// What the statements on a unit passed over or could not show, told to the
// user once the run is over.
// Records whose values after a statement's last item, or after a lone CR,
// were skipped unread; `firstLine` the line of the first of them.
int64_t RecordsSkippingValues(int unit, int64_t& firstLine);
// Whole-number items that a null value left as they were (1,,3 or ,1 or
// 2*): their number, and the line and the item in its statement of the first.
int64_t NullValues(int unit, int64_t& firstLine, int64_t& firstItem);
// Counts `count` more of them: those of a record just passed (PassRecord),
// as a statement reading the same text found them.
void CountNullValues(int unit, int64_t count);
// Whether a unit's input holds a value after the record where its next
// statement begins, and the line where the first one stands. Only what can
// be had without waiting is looked at: the bytes loaded, and for a regular
// file a few loads more; never the rest of a pipe or the console.
bool ValuesLeft(int unit, int64_t& line);
// Fields written as asterisks to a unit, their values not fitting them.
struct StarredField {
  int64_t record;  // from 1
  int64_t column;  // where the field starts in its record, from 1
  int32_t value;
};
int64_t FieldsStarred(int unit, StarredField& first);
// Records written to a unit since it was connected.
int64_t RecordsWritten(int unit);

// ---- Delimited records -----------------------------------------------------
// A file exported by a spreadsheet or a statistics package, read as
// delimited records: a record is a line (ended by LF, CR LF or a lone CR; a
// line of nothing but blanks is passed over); its fields are split at one
// delimiter, two delimiters in a row making an empty field; blanks around a
// field are passed over; a field in double quotes may hold the delimiter and
// line ends, "" in it standing for one quote.

// The delimiter that stands for runs of blanks and tabs, as between free-form values.
inline constexpr char kBlankRuns = ' ';

// What the text of a field is as a value.
enum class FieldKind : uint8_t {
  Whole,     // a whole number, sign allowed; also a decimal with only zeros after its
             // point (4.0, and 4,0 where the delimiter is not a comma)
  Missing,   // empty, NA, . or NaN, in any letter case
  Decimal,   // a decimal that is not whole
  Text,      // anything else
  TooLarge,  // a whole number outside the 32-bit range
};
// The kind of text[0..length), blanks around it passed over, and its value
// when it is Whole.
FieldKind FieldValue(const char* text, int length, char delimiter, int32_t& value);

// How a unit's statements take the items of a delimited record.
struct FieldForm {
  char delimiter;         // ',', ';', '\t' or kBlankRuns
  const int32_t* itemOf;  // for each field from the first, the item it goes to; -1: passed over
  int32_t fields;         // the fields itemOf describes: a record must hold them
  bool everyField;        // ... and no more: every field is an item
  bool missingGiven;      // a missing field gives missingCode; else the records end there
  int32_t missingCode;
};
// From now on each read statement on `unit` takes one delimited record of
// `form` (a copy is kept), its items in one readIntegers. Returns 0, or 6700
// when the layer's memory cannot be had.
int ReadFieldsOf(int unit, const FieldForm& form);

// Why a unit's delimited records ended.
enum class FieldFailureKind : uint8_t {
  None,        // the input ended
  Missing,     // a missing field, and no code for it
  NotWhole,    // a decimal that is not whole, or text
  TooLarge,    // a whole number outside the 32-bit range
  FieldCount,  // a record holds too few fields, or more than every-field forms take
  OpenQuote,   // a quoted field not closed before the input ends
};
struct FieldFailure {
  FieldFailureKind kind;
  int32_t field;       // the field, from 1; for FieldCount, the fields the record holds
  int64_t line;        // where the field starts, or the record
  char shown[200];     // its text in quotes, as a run-time error report shows a value
};
// Whether the records of a unit read as delimited records have ended: its
// input is used up, or a statement met a field it cannot take, which
// `failure` then tells (None otherwise). A statement that finds them ended
// gives its items nothing; so do all after it.
bool RecordsEnded(int unit, FieldFailure* failure = nullptr);

// A look at the first records of a delimited file, those loaded first
// (loaded now, if none are: nothing is taken). Their delimiter: `given`, or
// when that is 0 the one that parts each of them into the same number of
// fields (a tab, a semicolon or a comma, in that order of preference); else
// the one found in the most of them; else kBlankRuns, where runs of blanks
// part each into the same number of two or more; else a comma. And the
// fields the first of them holds, parted at it (0 when there is none).
struct FirstRecords {
  char delimiter;
  int32_t fields;
};
FirstRecords LookAtFirstRecords(int unit, char given);

// Where a field's text stands in a record's texts.
struct FieldPlace {
  int32_t start;
  int32_t length;
};
// A statement that takes one delimited record as its fields' texts, for a
// header row or a look at a file: the texts (quotes taken off, blanks around
// passed over) one after the other into text[0..capacity), each field's
// place into places[0..maxPlaces); fields past those are counted only, and
// a text longer than 259 bytes keeps its first. Returns the number of
// fields, with `line` the line where the record starts; kNoMoreRecords when
// the input ends first; or -2 (kOpenQuote) when a quoted field is not
// closed before it ends.
inline constexpr int kOpenQuote = -2;
int readFieldTexts(int unit, char delimiter, char* text, int capacity, FieldPlace* places, int maxPlaces,
                   int64_t& line);

// ---- A second reader -------------------------------------------------------
// Another thread may read the later part of a data file while the statements
// read it from its start: whole cases of plain whole numbers, the values the
// fast path of readIntegers takes, from the first record after a file offset
// on. It reads through a handle of its own on the file the unit is connected
// to, never by the file's name, and touches no state of the layer but its own.
struct SideReader;
// On this thread. Null when the unit's connection is no regular file, the
// offset lies past its end, or no record starts in the first load after it.
SideReader* OpenSideReader(int unit, int64_t from, int nvars);
int64_t SideReaderStart(const SideReader* side);  // the file offset of its first record
// Where the second reader stands after a case: the file offset where the
// next record begins, and the line ends passed since its first record.
struct SideCaseEnd {
  int64_t offset;
  int64_t lines;
};
// On the other thread: up to `count` cases, one a read statement would
// read, into rows of `nvars` values, and where each ends into
// ends[0..count); fewer when the file ends or a case needs more than the fast
// path, such as one whose line holds values after its last. It touches only
// the side reader's own state, the rows and the ends, and never raises a report.
int ReadSideCases(SideReader* side, int32_t* rows, SideCaseEnd* ends, int count);
// On this thread, once the other has stopped reading: whether it took every
// record to the file's end.
bool SideReaderAtEnd(const SideReader* side);
// On this thread, once the other has stopped reading.
void CloseSideReader(SideReader* side);
// On this thread, once the unit's statements have reached the second
// reader's first record and its `cases` cases are taken in their stead: the
// unit stands where its statements would after them, at `end`.
void PassSideCases(int unit, int64_t cases, const SideCaseEnd& end);
// The file offset where the unit's next read statement begins.
int64_t NextRecordOffset(int unit);
// The bytes of the unit's file from there to its end; -1 where the
// connection is not a regular file.
int64_t BytesAfterNextRecord(int unit);

// ---- Writing ---------------------------------------------------------------

// Free-form console line: beginWrite(), at most one writeCharacter, endWrite().
void beginWrite();
void writeCharacter(const char* text, int length);
// Formatted record to a connected unit, or into an internal text.
void beginWrite(int unit, const char* layout, int layoutLength);
void beginWrite(char* text, int textLength, const char* layout, int layoutLength);
void writeInteger(int32_t value);
// `count` items in one go, the k-th at first[k * stride]: the same as that
// many writeInteger calls.
void writeIntegers(const int32_t* first, int count, ptrdiff_t stride);
void endWrite();

struct TextPiece {
  const char* text;
  int length;
};
// Copies the pieces one after the other into a fresh text of `length`
// characters, cut where it is full and blank-filled, then into `destination`.
void concatenate(char* destination, int length, const TextPiece* pieces, int pieceCount);

// ---- Records edited apart -------------------------------------------------
// A file unit's formatted records may be edited apart, on other threads
// too, into blocks of memory that the unit then takes in the order of their
// records: it writes the same bytes in the same loads, and counts the same
// records and fields written as asterisks, as if its write statements had
// placed them. Editing a block touches no state of the layer but the
// block's own, and passing it only the unit's output; neither raises a
// report: an error met in editing its records or in passing them on stays
// with it, for RaiseBlockError to report on the statements' thread.
struct RecordBlock;
// On the statements' thread: a block of `capacity` bytes for records of the
// layout; null when the memory cannot be had.
RecordBlock* OpenRecordBlock(const char* layout, int layoutLength, int64_t capacity);
void CloseRecordBlock(RecordBlock* block);
// Whether a unit takes blocks: a file connected for writing only.
bool TakesRecordBlocks(int unit);
// One record into the block, as a write statement of its layout edits it.
void beginWrite(RecordBlock& block);
void writeIntegers(RecordBlock& block, const int32_t* first, int count, ptrdiff_t stride);
void writeInteger(RecordBlock& block, int32_t value);
void endWrite(RecordBlock& block);
// The unit takes the block's bytes, and the block is emptied: on one thread
// at a time, while no statement runs. False when the block holds an error:
// the unit has taken the bytes placed before it, and must take no more.
bool PassRecordBlock(int unit, RecordBlock& block);
// The block's error, reported as the unit's write statement reports it.
[[noreturn]] void RaiseBlockError(int unit, const RecordBlock& block);

// ---- Termination and arrays ------------------------------------------------

// The stop after a refusal: the stop line, then the end of the run with status 1.
[[noreturn]] void StopRun();
// `detail`, when given, follows the number's message text after ": ".
[[noreturn]] void RaiseRunError(int number, const char* detail = nullptr);

// Where a report places what went wrong: a file's case (its read statement)
// and line, a console line, or the end of a file met in a case.
enum class ReportPlace : uint8_t { None, InCase, OnConsoleLine, FileEndInCase };
inline constexpr int kReportValueBytes = 40;  // the first bytes of a failing value that a report shows
inline constexpr int kReportTextSize = 320;
// A run-time error report as its parts. Its detail, after the number's
// message, is `before`, then the place, then `after`: the value shown in
// quotes, then "in case 7, line 7"; or "10 cases read, the file ends in
// case 11, line 11", all of it the place.
struct RunErrorReport {
  int number;
  StatementKind kind;
  char unitName[kMaxNameLength + 1];  // for a statement naming a unit
  bool detailed;                      // the detail is given
  char before[kReportTextSize];
  ReportPlace place;
  int64_t caseNumber;
  int64_t line;
  char after[kReportTextSize];
  char value[kReportValueBytes];      // the failing value's first bytes as read
  int valueLength;                    // of them; 0 when no value failed
};
// The last run-time error raised, reported or returned as a status.
const RunErrorReport& LastRunError();
// A report as standard error shows it: an empty line, then the line naming
// the error and the statement, then the line saying what went wrong, each
// ended by CR LF. Returns its length, at most size - 1.
size_t FormatRunErrorReport(const RunErrorReport& report, char* text, size_t size);
// The last report's text; empty before the first.
const char* LastRunErrorReport();
// One line on standard error, ended as this system ends lines: a failure or
// a warning told in words of the program's own rather than as a run-time error.
void WriteErrorLine(const char* text);
// One line on standard output, ended as this system ends lines: what the
// program says of its own (its usage text, an inspection), apart from the
// console lines of a run.
void WriteOutputLine(const char* text);
// Whether a run-time error was raised while the units were being closed.
bool ClosingFailed();
// Ends the run: the end-of-run closing, then the process exit with `status`.
[[noreturn]] void ExitRun(int status);

struct ArrayBound {
  int64_t lower, upper;
};
struct ArrayDescriptor {
  void* data;          // nullptr while not allocated
  size_t elementSize;
  int rank;
  ArrayBound bounds[2];
  size_t byteCount;
};
// Allocates zero-filled storage for the array. With `status` given it
// receives 0 or 1 (6316 when allocated already); without, a failure is error 6773.
void AllocateArray(ArrayDescriptor& array, int32_t* status);
void ReleaseArray(ArrayDescriptor& array);
// Gets the pages that rows [first, first + count) of an allocated array of
// rank 2 take in every column (the rows varying fastest) ahead of their first
// use, where the system gives many pages at once faster than one by one as
// they are first touched: in one request where the columns' rows lie less
// than a page apart, else one a column. It touches no state of the layer and
// never raises a report: another thread may run it meanwhile.
void PrepareRows(const ArrayDescriptor& array, int64_t first, int64_t count);
// The bytes of the pages PrepareRows gets for those rows, at most; 0 where
// the system gives pages no faster that way.
size_t PreparedRowBytes(const ArrayDescriptor& array, int64_t first, int64_t count);
// Asks for large pages for the array's pages not yet touched, where the
// system gives them: far fewer page faults and address translations where
// every row is filled, but a large page is taken whole once one of its
// bytes is touched, so only for an array whose rows will all be filled.
void PreferLargePages(const ArrayDescriptor& array);

}  // namespace textio
