// Free-form reading: values written as plain text, separated by blanks,
// commas or record ends, taken from a unit's bytes one value per item. The
// scanner is a state (ReaderState) and one function per kind of token; the
// common whole numbers of a data file take the fast path (plain_integers.cpp).
#include <algorithm>
#include <cstring>

#include "textio/reader_input.h"

namespace textio {
namespace {

constexpr int kTokenKept = kTokenSize - 1;  // one place stays free for the conversion's end marker

ReaderState& Reader() { return layer.reader; }

// Where the read stands, for a report: the case (read statement) and line of
// a file, the line of the console.
void SetPlace(RunErrorReport& report, const UnitRecord& unit, int64_t line) {
  report.place = unit.console ? ReportPlace::OnConsoleLine : ReportPlace::InCase;
  report.caseNumber = unit.statements;
  report.line = line;
}

int DigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// The digits after '#' in the given base. Returns 0 or the error number.
int ConvertBased(const char* digits, const char* end, uint32_t base, uint32_t& value) {
  if (base == 0) base = 16;
  if (base < 2 || base > 36) return BasedBadBase;
  uint64_t limit = base == 10 ? INT32_MAX : UINT32_MAX;
  uint64_t result = 0;
  for (const char* p = digits; p < end && *p != '\0'; ++p) {
    if (*p == '#') return BasedSecondHash;
    uint32_t digit = static_cast<uint32_t>(DigitValue(static_cast<unsigned char>(*p)));
    if (digit >= base) return IntegerCharacter;
    result = result * base + digit;
    if (result > limit) return IntegerOutOfRange;
  }
  value = static_cast<uint32_t>(result);
  return 0;
}

// Converts a token to a 32-bit whole number. Returns 0 or the error number.
int ConvertToken(const char* token, int length, int32_t& result) {
  bool overlong = length > kTokenKept;
  if (overlong) length = kTokenKept;
  static const char kMinimum[] = "-2147483648";
  if (length == sizeof kMinimum - 1 && std::memcmp(token, kMinimum, sizeof kMinimum - 1) == 0) {
    result = INT32_MIN;
    return 0;
  }
  const char* p = token;
  const char* end = token + length;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  uint32_t value = 0;
  for (; p < end && *p != '\0' && *p != static_cast<char>(kCtrlZ); ++p) {
    if (*p == '#') {
      if (int status = ConvertBased(p + 1, end, value, value); status != 0) return status;
      break;
    }
    if (*p < '0' || *p > '9') return IntegerCharacter;
    uint32_t digit = static_cast<uint32_t>(*p - '0');
    if (value > 214748364 || value * 10 + digit > INT32_MAX) return IntegerOutOfRange;
    value = value * 10 + digit;
  }
  // A value too long to keep cannot be a 32-bit whole number.
  if (overlong) return IntegerOutOfRange;
  result = static_cast<int32_t>(negative ? 0u - value : value);
  return 0;
}

// Adds the value as read to a report.
void AddShownValue(FixedText& text) {
  const ReaderState& reader = Reader();
  AddShownBytes(text, reader.shown, std::min<int64_t>(reader.valueLength, kShownSize), reader.valueLength);
}

// A report of the value being scanned: its first bytes, kept as read.
RunErrorReport& StartValueReport(int number) {
  const ReaderState& reader = Reader();
  RunErrorReport& report = StartRunErrorReport(number);
  report.detailed = true;
  report.valueLength = static_cast<int>(std::min<int64_t>(reader.valueLength, kShownSize));
  std::memcpy(report.value, reader.shown, static_cast<size_t>(report.valueLength));
  return report;
}

// Raises `number` for the value being scanned: what it was and where it starts.
[[noreturn]] void RaiseValueError(int number) {
  const ReaderState& reader = Reader();
  RunErrorReport& report = StartValueReport(number);
  FixedText before(report.before, sizeof report.before);
  AddShownValue(before);
  before.Add(" ");
  SetPlace(report, *reader.unit, reader.valueLength > 0 ? reader.valueLine : reader.unit->lineEnds + 1);
  RaiseStartedRunError();
}

// A quoted or parenthesised value for a whole-number item that runs on past
// the limit: error 6504, as for a short one, saying where such a value starts
// (a stray quote far above is what the reader meets), then its first bytes.
[[noreturn]] void RaiseRunawayValue() {
  const ReaderState& reader = Reader();
  RunErrorReport& report = StartValueReport(DelimitedForInteger);
  FixedText(report.before, sizeof report.before)
      .Add(reader.scanMode == ScanMode::Delimited ? "a quoted value starts " : "a parenthesised value starts ");
  SetPlace(report, *reader.unit, reader.valueLine);
  FixedText after(report.after, sizeof report.after);
  after.Add(" and runs on past 1 MiB: ");
  AddShownValue(after);
  RaiseStartedRunError();
}

// Notes a byte of the value being scanned: the line where the value starts,
// and its first bytes as read. A value that never ends is cut off.
void NoteValueByte(const UnitRecord& unit, unsigned char b) {
  ReaderState& reader = Reader();
  reader.tabPlace = TabPlace::AfterValue;
  if (reader.valueLength == 0) {
    reader.valueLine = unit.lineEnds + 1;
    reader.valueColumn = unit.loadStart + unit.position - unit.lineStart;
  }
  if (reader.valueLength < kShownSize) reader.shown[reader.valueLength] = static_cast<char>(b);
  if (++reader.valueLength <= kValueLimit) return;
  // The value cut off takes the error its first characters decide. For a
  // whole-number item a quoted or parenthesised value is error 6504 whatever
  // follows; a plain one gives what its first characters give, else out of range.
  if (!reader.integerItem) RaiseValueError(ValueTooLong);
  if (reader.scanMode != ScanMode::Plain) RaiseRunawayValue();
  int32_t ignored = 0;
  int status = ConvertToken(reader.token, reader.tokenLength, ignored);
  RaiseValueError(status != 0 ? status : IntegerOutOfRange);
}

void Collect(const UnitRecord& unit, unsigned char b) {
  ReaderState& reader = Reader();
  NoteValueByte(unit, b);
  if (reader.tokenLength < kTokenKept) reader.token[reader.tokenLength] = static_cast<char>(b);
  if (reader.tokenLength < kTokenSize) ++reader.tokenLength;
}

// The value is complete, ended by `separator`.
bool EndValue(char separator) {
  Reader().lastSeparator = separator;
  return true;
}

// A blank, tab or record end ends a value unless nothing has begun yet. A
// repeat count has begun one: "r*" and a blank is a null value, whatever r.
bool BlankEndsValue() {
  const ReaderState& reader = Reader();
  return reader.scanMode != ScanMode::Parenthesised && (reader.tokenLength > 0 || reader.starSeen);
}

// Each function below takes one kind of token of ScanValue; those that
// return a flag return true when the value is complete.

// CR or LF: stepped back over and taken again by the move to the next
// record; the record end then counts as a blank. In a statement of one
// record it ends the input, unless a value has begun.
bool ScanRecordEnd(UnitRecord& unit) {
  --unit.position;
  // After a lone CR the rest of its line is skipped unread.
  if (MoveToNextRecord(unit)) NoteSkippedValues(unit);
  ReaderState& reader = Reader();
  reader.tabGap = reader.tabGap || reader.tabPlace == TabPlace::AfterTab;
  reader.tabPlace = TabPlace::LineStart;
  if (BlankEndsValue()) {
    reader.endedByRecordEnd = true;
    return EndValue(' ');
  }
  if (!reader.recordOnly || reader.valueLength > 0) return false;
  reader.endedByRecordEnd = reader.recordEnded = true;
  return true;
}

// A blank or tab: passed over before a value and inside parentheses.
bool ScanBlank(const UnitRecord& unit, unsigned char b) {
  ReaderState& reader = Reader();
  if (b == '\t' && reader.scanMode != ScanMode::Parenthesised) {
    reader.tabGap = reader.tabGap || (reader.tabPlace != TabPlace::AfterValue && !BlankEndsValue());
    reader.tabPlace = TabPlace::AfterTab;
  }
  if (BlankEndsValue()) return EndValue(' ');
  if (reader.scanMode == ScanMode::Parenthesised) NoteValueByte(unit, b);
  return false;
}

// "(" or a quote opens a parenthesised or delimited value when nothing has
// been collected yet; later in a value it is one of its characters.
void ScanOpening(const UnitRecord& unit, unsigned char b) {
  ReaderState& reader = Reader();
  if (reader.tokenLength > 0) {
    Collect(unit, b);
    return;
  }
  NoteValueByte(unit, b);
  if (b == '(') {
    reader.scanMode = ScanMode::Parenthesised;
    return;
  }
  reader.scanMode = ScanMode::Delimited;
  reader.delimiter = static_cast<char>(b);
  reader.lastSeparator = static_cast<char>(b);
}

// ")" ends a parenthesised value; elsewhere it is one of the value's characters.
bool ScanClosing(const UnitRecord& unit, unsigned char b) {
  if (Reader().scanMode != ScanMode::Parenthesised) {
    Collect(unit, b);
    return false;
  }
  NoteValueByte(unit, b);
  return EndValue(' ');
}

// "count*": the value that follows is given to `count` items.
void ScanRepeat(const UnitRecord& unit, unsigned char b) {
  ReaderState& reader = Reader();
  NoteValueByte(unit, b);
  // A count of 1 leaves no repeat pending: "1*1*5" is 5.
  if (reader.repeatLeft != 0) RaiseValueError(RepeatSecondStar);
  int32_t count = 0;
  if (int status = ConvertToken(reader.token, reader.tokenLength, count); status != 0) RaiseValueError(status);
  if (count <= 0) RaiseValueError(RepeatCountNotPositive);
  reader.repeatLeft = count - 1;
  reader.tokenLength = 0;
  reader.starSeen = true;
}

// A comma: with the blanks or record end before it, one separator; inside
// parentheses one of the value's characters; otherwise the value's end.
bool ScanComma(const UnitRecord& unit, unsigned char b) {
  ReaderState& reader = Reader();
  reader.tabPlace = TabPlace::AfterValue;
  if (reader.tokenLength == 0 && reader.lastSeparator == ' ' && !reader.starSeen) {
    reader.lastSeparator = ',';
    return false;
  }
  if (reader.scanMode == ScanMode::Parenthesised) {
    Collect(unit, b);
    return false;
  }
  return EndValue(',');
}

// One byte of a value between quotes.
bool ScanDelimitedByte(UnitRecord& unit, unsigned char b, int itemLength) {
  ReaderState& reader = Reader();
  if (b == '\r' || b == '\n') {
    // The value goes on in the next record; its first byte is passed over.
    --unit.position;
    MoveToNextRecord(unit);
    if (TakeByte(unit) == '\n') ++unit.lineEnds;
    return false;
  }
  NoteValueByte(unit, b);
  if (b == static_cast<unsigned char>(reader.delimiter)) {
    unsigned char next = TakeByte(unit);
    if (next != b) {
      // Whatever follows the closing quote is the separator; a record end is met again.
      if (next == '\n') --unit.position;
      return EndValue(static_cast<char>(next));
    }
    NoteValueByte(unit, next);
  }
  if (reader.tokenLength < std::min(itemLength, kTokenKept)) {
    reader.token[reader.tokenLength++] = static_cast<char>(b);
  } else {
    reader.valueCut = true;
  }
  return false;
}

// Scans the next value of the statement into the reader's token.
void ScanValue(UnitRecord& unit, int itemLength) {
  ReaderState& reader = Reader();
  reader.endedByRecordEnd = false;
  reader.tokenLength = 0;
  reader.scanMode = ScanMode::Plain;
  reader.starSeen = false;
  reader.valueCut = false;
  reader.valueLength = 0;
  for (bool complete = false; !complete;) {
    unsigned char b = TakeByte(unit);
    if (reader.scanMode == ScanMode::Delimited) {
      complete = ScanDelimitedByte(unit, b, itemLength);
      continue;
    }
    switch (b) {
      case '\r':
      case '\n': complete = ScanRecordEnd(unit); break;
      case ' ':
      case '\t': complete = ScanBlank(unit, b); break;
      case '(':
      case '\'':
      case '"': ScanOpening(unit, b); break;
      case ')': complete = ScanClosing(unit, b); break;
      case '*': ScanRepeat(unit, b); break;
      case ',': complete = ScanComma(unit, b); break;
      case '/': complete = EndValue('/'); break;
      default: Collect(unit, b);
    }
  }
}

// Whether the item takes a value: a repeat form still running, or a fresh
// scan unless a slash has ended the statement's input.
bool NextValue(int itemLength, bool integerItem) {
  ReaderState& reader = Reader();
  if (reader.repeatLeft > 0) {
    --reader.repeatLeft;
    return true;
  }
  if (reader.lastSeparator == '/') return false;
  reader.integerItem = integerItem;
  ScanValue(*reader.unit, itemLength);
  return true;
}

void GiveInteger(int32_t& item) {
  const ReaderState& reader = Reader();
  if (reader.tokenLength == 0) return;
  if (reader.scanMode != ScanMode::Plain) RaiseValueError(DelimitedForInteger);
  int32_t value = 0;
  if (int status = ConvertToken(reader.token, reader.tokenLength, value); status != 0) RaiseValueError(status);
  item = value;
}

}  // namespace

void AddShownBytes(FixedText& text, const char* bytes, int64_t shown, int64_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  text.Add("\"");
  for (int64_t i = 0; i < shown; ++i) {
    auto b = static_cast<unsigned char>(bytes[i]);
    if (b == '"' || b == '\\') {
      const char escaped[] = {'\\', static_cast<char>(b)};
      text.Add(escaped, 2);
    } else if (b >= ' ' && b < 127) {
      text.Add(bytes + i, 1);
    } else {
      const char escaped[] = {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
      text.Add(escaped, 4);
    }
  }
  text.Add(length > shown ? "...\"" : "\"");
}

void StartRead(int unit, bool statusWanted) {
  if (unit != kConsoleUnit && (unit < -32767 || unit > 32767)) {
    BeginStatement(StatementKind::Read, nullptr, statusWanted);
    RaiseRunError(UnitNumberRange);
  }
  UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  BeginStatement(StatementKind::Read, record, statusWanted);
  if (record == nullptr) RaiseRunError(FileNotFound);
  if (record->endOfFile) RaiseRunError(ReadAfterEndOfFile);
  if (record->console && record->lineOpen) {
    // The prompt's line ends before the answer is typed.
    WriteConsoleLineEnd(*record);
    record->lastIndex = -1;
    record->position = 0;
  } else if (record->kind == UnitKind::Sequential && record->writing) {
    FlushUnit(*record);
    record->writing = false;
    record->lastIndex = -1;
    record->position = 0;
  }
  ++record->statements;
  Reader().unit = record;
  ResetStatement(Reader());
}

void beginRead(int unit) { StartRead(unit, false); }

void readInteger(int32_t& item) {
  if (!NextValue(kTokenKept, true)) return;
  ReaderState& reader = Reader();
  ++reader.itemsGiven;
  // A slash alone gives the rest of the case no value, not a null one.
  const bool slashAlone = reader.lastSeparator == '/' && reader.valueLength == 0;
  if (reader.tokenLength == 0 && !slashAlone) {
    UnitRecord& unit = *reader.unit;
    if (unit.nullValues++ == 0) {
      unit.firstNullLine = reader.valueLength > 0 ? reader.valueLine : unit.lineEnds + 1;
      unit.firstNullItem = reader.itemsGiven;
    }
  }
  GiveInteger(item);
}

void readCharacter(char* item, int length) {
  if (!NextValue(length, false)) return;
  ReaderState& reader = Reader();
  if (reader.tokenLength == 0) return;
  reader.valueCut = reader.valueCut || reader.tokenLength > length;
  int kept = std::min({reader.tokenLength, length, kTokenKept});
  std::memcpy(item, reader.token, static_cast<size_t>(kept));
  std::memset(item + kept, ' ', static_cast<size_t>(length - kept));
}

bool valueCut() { return Reader().valueCut; }

bool recordText(const char*& text, int& length) {
  const UnitRecord& unit = *Reader().unit;
  const int64_t start = unit.lineStart - unit.loadStart;
  if (start < 0 || start > unit.lastIndex + 1) return false;
  int lineEnd = NextLineEnd(unit, static_cast<int>(start));
  if (lineEnd < 0) return false;
  if (lineEnd > start && unit.buffer[lineEnd - 1] == '\r') --lineEnd;
  text = reinterpret_cast<const char*>(unit.buffer + start);
  length = lineEnd - static_cast<int>(start);
  return true;
}

void endRead() {
  ReaderState& reader = Reader();
  if (!reader.endedByRecordEnd && MoveToNextRecord(*reader.unit)) NoteSkippedValues(*reader.unit);
}

}  // namespace textio
