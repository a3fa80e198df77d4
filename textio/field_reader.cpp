// Delimited records read by the general rules, a byte at a time: what the
// fast path (field_values.cpp) leaves, such as quoted fields, records that
// cross a load and the fields a record cannot give. The scanner is a state
// (FieldScan) and one function per kind of token; a field's text is
// collected in the reader's token.
#include <algorithm>
#include <cstring>

#include "textio/reader_input.h"

namespace textio {
namespace {

constexpr int kTokenKept = kTokenSize - 1;

enum class FieldEnd : uint8_t { Delimiter, RecordEnd, InputEnd, OpenQuote };

struct FieldScan {
  UnitRecord& unit;
  ReaderState& reader;  // its token holds the field's first bytes
  char delimiter;
  int64_t length = 0;   // the field's text so far: bytes kept or not
  int64_t trimmed = 0;  // ... up to its last byte that is not a blank
  int64_t line = 0;     // where the field starts
  bool quoted = false;
};

bool Blank(const FieldScan& scan, int b) {
  return b == ' ' || (b == '\t' && scan.delimiter != '\t');
}

// Whether b ends an unquoted field: the delimiter, a line end, or a blank
// where runs of blanks are the delimiter.
bool Stop(const FieldScan& scan, int b) {
  return b == scan.delimiter || b == '\n' || b == '\r' || b < 0 || (scan.delimiter == kBlankRuns && Blank(scan, b));
}

void Keep(FieldScan& scan, unsigned char b) {
  ReaderState& reader = scan.reader;
  if (scan.length < kTokenKept) reader.token[scan.length] = static_cast<char>(b);
  ++scan.length;
  if (b != ' ' && b != '\t') scan.trimmed = scan.length;
}

// The blanks before a field, or after one; returns the byte after them.
int PassBlanks(FieldScan& scan) {
  int b = TakeByteOrEnd(scan.unit);
  while (Blank(scan, b)) b = TakeByteOrEnd(scan.unit);
  return b;
}

// A CR or LF ends the record: CR LF, LF and a lone CR each one line end.
FieldEnd ScanRecordEnd(FieldScan& scan, int b) {
  if (b == '\r') {
    int next = TakeByteOrEnd(scan.unit);
    if (next >= 0 && next != '\n') --scan.unit.position;
  }
  ++scan.unit.lineEnds;
  return FieldEnd::RecordEnd;
}

// What ends a field: the delimiter or the record's end; where runs of
// blanks are the delimiter, blanks before anything else are one.
FieldEnd ScanSeparator(FieldScan& scan, int b) {
  if (Blank(scan, b)) b = PassBlanks(scan);
  if (b < 0) return FieldEnd::RecordEnd;
  if (b == '\n' || b == '\r') return ScanRecordEnd(scan, b);
  if (b != scan.delimiter) --scan.unit.position;  // the next field's first byte
  return FieldEnd::Delimiter;
}

// A field not in quotes: its bytes up to a stop, the blanks at its end not kept.
FieldEnd ScanUnquoted(FieldScan& scan, int b) {
  for (; !Stop(scan, b); b = TakeByteOrEnd(scan.unit)) Keep(scan, static_cast<unsigned char>(b));
  scan.length = scan.trimmed;
  return ScanSeparator(scan, b);
}

// A field in quotes, after the opening one: "" stands for one quote, and line
// ends are its text. Bytes between the closing quote and the separator are
// its text too.
FieldEnd ScanQuoted(FieldScan& scan) {
  scan.quoted = true;
  for (int b = TakeByteOrEnd(scan.unit);; b = TakeByteOrEnd(scan.unit)) {
    if (b < 0) return FieldEnd::OpenQuote;
    if (b == '"') {
      b = TakeByteOrEnd(scan.unit);
      if (b != '"') return ScanUnquoted(scan, b);
    } else if (b == '\r') {
      int next = TakeByteOrEnd(scan.unit);
      if (next >= 0) --scan.unit.position;
      scan.unit.lineEnds += next != '\n';
    } else if (b == '\n') {
      ++scan.unit.lineEnds;
    }
    Keep(scan, static_cast<unsigned char>(b));
    scan.trimmed = scan.length;
  }
}

// The next field of the record into the reader's token.
FieldEnd ScanField(FieldScan& scan) {
  scan.length = scan.trimmed = 0;
  scan.quoted = false;
  scan.line = scan.unit.lineEnds + 1;
  int b = PassBlanks(scan);
  if (b < 0) return FieldEnd::InputEnd;
  if (b == '"') return ScanQuoted(scan);
  return ScanUnquoted(scan, b);
}

// A line of nothing but blanks, met as the record's first field.
bool BlankLine(const FieldScan& scan, FieldEnd end) {
  return end == FieldEnd::RecordEnd && scan.length == 0 && !scan.quoted;
}

// The records end: the input is used up, or `kind` for the field.
void EndRecords(DelimitedInput& input, FieldFailureKind kind, int32_t field, int64_t line, const FieldScan* scan) {
  input.ended = true;
  input.failure = {kind, field, line, {}};
  if (scan == nullptr) return;
  FixedText text(input.failure.shown, sizeof input.failure.shown);
  AddShownBytes(text, scan->reader.token, std::min<int64_t>(scan->length, kShownSize), scan->length);
}

// The value of a chosen field into its item; false when it gives none.
bool TakeItem(DelimitedInput& input, const FieldScan& scan, int32_t field, int32_t& item) {
  int32_t value = 0;
  FieldKind kind = scan.length > kTokenKept
                       ? FieldKind::Text
                       : FieldValue(scan.reader.token, static_cast<int>(scan.length), input.form.delimiter, value);
  if (kind == FieldKind::Missing && input.form.missingGiven) {
    kind = FieldKind::Whole;
    value = input.form.missingCode;
  }
  if (kind == FieldKind::Whole) {
    item = value;
    return true;
  }
  FieldFailureKind failure = kind == FieldKind::Missing    ? FieldFailureKind::Missing
                             : kind == FieldKind::TooLarge ? FieldFailureKind::TooLarge
                                                           : FieldFailureKind::NotWhole;
  EndRecords(input, failure, field + 1, scan.line, &scan);
  return false;
}

}  // namespace

void ReadFieldRecord(UnitRecord& unit, int32_t* items, ptrdiff_t stride) {
  DelimitedInput& input = *unit.delimited;
  layer.reader.endedByRecordEnd = true;  // the statement ends at its record's end
  if (input.ended || TakeFieldRecord(input.form, unit, items, stride)) return;
  const FieldForm& form = input.form;
  FieldScan scan{unit, layer.reader, form.delimiter};
  int64_t recordLine = unit.lineEnds + 1;
  for (int32_t field = 0;;) {
    FieldEnd end = ScanField(scan);
    if (field == 0) recordLine = scan.line;
    if (end == FieldEnd::InputEnd || end == FieldEnd::OpenQuote) {
      EndRecords(input, end == FieldEnd::InputEnd ? FieldFailureKind::None : FieldFailureKind::OpenQuote, field + 1,
                 scan.line, nullptr);
      return;
    }
    if (field == 0 && BlankLine(scan, end)) continue;
    const int32_t item = field < form.fields ? form.itemOf[field] : -1;
    if (item >= 0 && !TakeItem(input, scan, field, items[item * stride])) return;
    ++field;
    if (end != FieldEnd::RecordEnd) continue;
    if (field < form.fields || (form.everyField && field > form.fields)) {
      EndRecords(input, FieldFailureKind::FieldCount, field, recordLine, nullptr);
    }
    return;
  }
}

int ReadFieldsOf(int unit, const FieldForm& form) {
  UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  const size_t itemBytes = sizeof(int32_t) * static_cast<size_t>(form.fields);
  auto* input = static_cast<DelimitedInput*>(AllocateLayerMemory(sizeof(DelimitedInput) + itemBytes));
  if (input == nullptr) return NoLayerMemory;
  auto* itemOf = reinterpret_cast<int32_t*>(input + 1);
  std::memcpy(itemOf, form.itemOf, itemBytes);
  input->form = form;
  input->form.itemOf = itemOf;
  ReleaseLayerMemory(record->delimited);
  record->delimited = input;
  return 0;
}

bool RecordsEnded(int unit, FieldFailure* failure) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  if (record == nullptr || record->delimited == nullptr || !record->delimited->ended) return false;
  if (failure != nullptr) *failure = record->delimited->failure;
  return true;
}

int readFieldTexts(int unit, char delimiter, char* text, int capacity, FieldPlace* places, int maxPlaces,
                   int64_t& line) {
  const UnitRecord* connected = SelectUnit(unit, StatementKind::Read);
  if (connected != nullptr && connected->endOfFile) return kNoMoreRecords;
  StartRead(unit, false);
  ReaderState& reader = layer.reader;
  FieldScan scan{*reader.unit, reader, delimiter};
  reader.endedByRecordEnd = true;
  int used = 0;
  for (int fields = 0;;) {
    FieldEnd end = ScanField(scan);
    if (fields == 0) line = scan.line;
    if (end == FieldEnd::InputEnd) return fields == 0 ? kNoMoreRecords : fields;
    if (end == FieldEnd::OpenQuote) return kOpenQuote;
    if (fields == 0 && BlankLine(scan, end)) continue;
    if (fields < maxPlaces) {
      int kept = static_cast<int>(std::min<int64_t>({scan.length, kTokenKept, capacity - used}));
      std::memcpy(text + used, reader.token, static_cast<size_t>(kept));
      places[fields] = {used, kept};
      used += kept;
    }
    ++fields;
    if (end == FieldEnd::RecordEnd) return fields;
  }
}

}  // namespace textio
