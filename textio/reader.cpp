// Free-form reading: values written as plain text, separated by blanks,
// commas or record ends, taken from a unit's buffer one value per item.
// The common whole numbers of a data file take a fast path over the buffer;
// everything else goes through the scanner's general rules.
#include <algorithm>
#include <bit>
#include <cstring>

#include "textio/layer_state.h"
#include "textio/platform.h"

namespace textio {
namespace {

constexpr unsigned char kCtrlZ = 26;
constexpr int kTokenKept = kTokenSize - 1;  // one place stays free for the conversion's end marker
// No value runs longer: past it an endless input without separators ends.
constexpr int64_t kValueLimit = int64_t{1} << 20;

ReaderState& Reader() { return layer.reader; }

bool TypedLines(const UnitRecord& unit) { return unit.console && unit.terminalInput; }

// One line typed at a terminal, shaped as the console hands it over: a final
// LF becomes CR LF, so a line holds at most 130 characters and its line end.
// When a line may be longer, it comes in pieces of the request's size.
int RefillFromTerminal(UnitRecord& unit, int& returned) {
  size_t got = 0;
  platform::Cause cause = platform::ReadOnce(0, unit.buffer, static_cast<size_t>(unit.bufferSize - 1), got);
  if (cause != platform::Cause::None) {
    Reader().readFailure = cause;
    return ReadFailed;
  }
  int k = static_cast<int>(got);
  if (k > 0 && unit.buffer[k - 1] == '\n') {
    unit.buffer[k - 1] = '\r';
    unit.buffer[k++] = '\n';
  } else if (k == unit.bufferSize - 1 && !Reader().typedPieces) {
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
      Reader().readFailure = cause;
      return ReadFailed;
    }
    if (got == 0) break;
    k += got;
    if (unit.buffer[k - 1] == '\n') break;
  }
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
// next byte to take. Returns 0 or the error number.
int Refill(UnitRecord& unit) {
  unit.position = 0;
  unit.lastIndex = -1;
  if (unit.endAfterLoad) return EndOfFile;
  int returned = 0;
  bool typed = TypedLines(unit);
  int status = typed ? RefillFromTerminal(unit, returned) : RefillFromStream(unit, returned);
  if (status != 0) return status;
  int k = returned;
  int requested = typed ? unit.bufferSize - 1 : unit.bufferSize;
  if (k == 0) {
    // The last line of an input is a whole record, line end or not.
    if (unit.lastByteLineEnd) return EndOfFile;
    unit.buffer[k++] = '\n';
  } else if (k < requested && unit.buffer[k - 1] != '\n') {
    unit.buffer[k++] = '\n';
  }
  unit.lastByteLineEnd = unit.buffer[k - 1] == '\n';
  if (unit.console && !CutAtCtrlZLine(unit, k)) return EndOfFile;
  // A byte order mark that an editor put before the first byte is no part of the input.
  static const unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
  bool byteOrderMark = !unit.loadedBefore && k >= 3 && std::memcmp(unit.buffer, kByteOrderMark, 3) == 0;
  unit.loadedBefore = true;
  unit.lastIndex = k - 1;
  unit.buffer[k] = '\0';  // stops the fast scan at the end of the load
  if (!byteOrderMark) return 0;
  unit.position = 3;
  // A load of nothing but the mark leaves nothing to take: the next one is read.
  return unit.position <= unit.lastIndex ? 0 : Refill(unit);
}

// Where the read stands, for a report: the case (read statement) and line of
// a file, the line of the console.
void AddPlace(FixedText& text, const UnitRecord& unit, int64_t line) {
  if (unit.console) {
    text.Add("on line ").Add(line);
  } else {
    text.Add("in case ").Add(unit.statements).Add(", line ").Add(line);
  }
}

// An error met while taking bytes: the end of the input, a read failure, a
// typed line too long.
[[noreturn]] void RaiseReadError(UnitRecord& unit, int number) {
  char detail[160];
  FixedText text(detail, sizeof detail);
  int64_t line = unit.lineEnds + 1;
  if (number == EndOfFile) {
    unit.endOfFile = true;
    if (unit.console) {
      text.Add("the input ends on line ").Add(line);
    } else if (unit.madeByConnect && unit.filePosition == 0) {
      text.Add("the file did not exist, so an empty file of that name was made");
    } else {
      int64_t complete = unit.statements - 1;
      text.Add(complete).Add(complete == 1 ? " case read, " : " cases read, ");
      text.Add("the file ends in case ").Add(unit.statements).Add(", line ").Add(line);
    }
  } else if (number == ReadFailed) {
    text.Add(CauseText(Reader().readFailure));
  } else {
    text.Add("line ").Add(line);
  }
  RaiseRunError(number, detail);
}

unsigned char TakeAfterRefill(UnitRecord& unit) {
  if (int status = Refill(unit); status != 0) RaiseReadError(unit, status);
  return unit.buffer[unit.position++];
}

inline unsigned char TakeByte(UnitRecord& unit) {
  if (unit.position <= unit.lastIndex) return unit.buffer[unit.position++];
  return TakeAfterRefill(unit);
}

// Moves to the start of the next record: a file or redirected input skips
// through the next LF; a terminal drops the rest of the typed line.
void MoveToNextRecord(UnitRecord& unit) {
  if (TypedLines(unit)) {
    if (unit.lastIndex < 0) TakeByte(unit);
    unit.lastIndex = -1;
    unit.position = 0;
  } else {
    for (;;) {
      const unsigned char* from = unit.buffer + unit.position;
      const void* lineEnd = std::memchr(from, '\n', static_cast<size_t>(unit.lastIndex + 1 - unit.position));
      if (lineEnd != nullptr) {
        unit.position = static_cast<int>(static_cast<const unsigned char*>(lineEnd) - unit.buffer) + 1;
        break;
      }
      unit.position = unit.lastIndex + 1;
      if (TakeByte(unit) == '\n') break;
    }
  }
  ++unit.lineEnds;
  // The typed line end has already moved the console to a new line.
  if (unit.console) unit.writing = false;
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

// Adds the value as read to a report: in quotes, its first bytes with those
// that are not printable shown as escapes, "..." when it is longer.
void AddShownValue(FixedText& text) {
  const ReaderState& reader = Reader();
  static const char kHex[] = "0123456789ABCDEF";
  text.Add("\"");
  int64_t shown = std::min<int64_t>(reader.valueLength, kShownSize);
  for (int64_t i = 0; i < shown; ++i) {
    auto b = static_cast<unsigned char>(reader.shown[i]);
    if (b == '"' || b == '\\') {
      const char escaped[] = {'\\', static_cast<char>(b)};
      text.Add(escaped, 2);
    } else if (b >= ' ' && b < 127) {
      text.Add(reader.shown + i, 1);
    } else {
      const char escaped[] = {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
      text.Add(escaped, 4);
    }
  }
  text.Add(reader.valueLength > kShownSize ? "...\" " : "\" ");
}

// Raises `number` for the value being scanned: what it was and where it starts.
[[noreturn]] void RaiseValueError(int number) {
  const ReaderState& reader = Reader();
  char detail[kShownSize * 4 + 80];
  FixedText text(detail, sizeof detail);
  AddShownValue(text);
  AddPlace(text, *reader.unit, reader.valueLength > 0 ? reader.valueLine : reader.unit->lineEnds + 1);
  RaiseRunError(number, detail);
}

// Notes a byte of the value being scanned: the line where the value starts,
// and its first bytes as read. A value that never ends is cut off.
void NoteValueByte(const UnitRecord& unit, unsigned char b) {
  ReaderState& reader = Reader();
  if (reader.valueLength == 0) reader.valueLine = unit.lineEnds + 1;
  if (reader.valueLength < kShownSize) reader.shown[reader.valueLength] = static_cast<char>(b);
  if (++reader.valueLength <= kValueLimit) return;
  // A whole number this long gives what its first characters give, else out of range.
  int32_t ignored = 0;
  int status = ConvertToken(reader.token, reader.tokenLength, ignored);
  RaiseValueError(!reader.integerItem ? ValueTooLong : status != 0 ? status : IntegerOutOfRange);
}

void Collect(const UnitRecord& unit, unsigned char b) {
  ReaderState& reader = Reader();
  NoteValueByte(unit, b);
  if (reader.tokenLength < kTokenKept) reader.token[reader.tokenLength] = static_cast<char>(b);
  if (reader.tokenLength < kTokenSize) ++reader.tokenLength;
}

// "count*": the value that follows is given to `count` items.
void StartRepeat() {
  ReaderState& reader = Reader();
  if (reader.starSeen) RaiseValueError(RepeatSecondStar);
  int32_t count = 0;
  if (int status = ConvertToken(reader.token, reader.tokenLength, count); status != 0) RaiseValueError(status);
  if (count <= 0) RaiseValueError(RepeatCountNotPositive);
  reader.repeatLeft = count - 1;
  reader.tokenLength = 0;
  reader.starSeen = true;
}

// A blank, tab or record end ends a value unless nothing has begun yet.
bool BlankEndsValue() {
  const ReaderState& reader = Reader();
  return reader.scanMode != ScanMode::Parenthesised && (reader.tokenLength > 0 || reader.repeatLeft > 0);
}

// One byte of a value between quotes. Returns true when the value is complete.
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
      reader.lastSeparator = static_cast<char>(next);
      if (next == '\n') --unit.position;
      return true;
    }
    NoteValueByte(unit, next);
  }
  if (reader.tokenLength < std::min(itemLength, kTokenKept)) reader.token[reader.tokenLength++] = static_cast<char>(b);
  return false;
}

// Scans the next value of the statement into the reader's token.
void ScanValue(UnitRecord& unit, int itemLength) {
  ReaderState& reader = Reader();
  reader.endedByRecordEnd = false;
  reader.tokenLength = 0;
  reader.scanMode = ScanMode::Plain;
  reader.starSeen = false;
  reader.valueLength = 0;
  for (;;) {
    unsigned char b = TakeByte(unit);
    if (reader.scanMode == ScanMode::Delimited) {
      if (ScanDelimitedByte(unit, b, itemLength)) return;
      continue;
    }
    switch (b) {
      case '\r':
      case '\n':
        --unit.position;
        MoveToNextRecord(unit);
        if (BlankEndsValue()) {
          reader.lastSeparator = ' ';
          reader.endedByRecordEnd = true;
          return;
        }
        break;
      case ' ':
      case '\t':
        if (BlankEndsValue()) {
          reader.lastSeparator = ' ';
          return;
        }
        if (reader.scanMode == ScanMode::Parenthesised) NoteValueByte(unit, b);
        break;
      case '(':
        if (reader.tokenLength > 0) {
          Collect(unit, b);
          break;
        }
        NoteValueByte(unit, b);
        reader.scanMode = ScanMode::Parenthesised;
        break;
      case ')':
        if (reader.scanMode != ScanMode::Parenthesised) {
          Collect(unit, b);
          break;
        }
        NoteValueByte(unit, b);
        reader.lastSeparator = ' ';
        return;
      case '\'':
      case '"':
        if (reader.tokenLength > 0) {
          Collect(unit, b);
          break;
        }
        NoteValueByte(unit, b);
        reader.scanMode = ScanMode::Delimited;
        reader.delimiter = static_cast<char>(b);
        reader.lastSeparator = static_cast<char>(b);
        break;
      case '*':
        NoteValueByte(unit, b);
        StartRepeat();
        break;
      case ',':
        if (reader.tokenLength == 0 && reader.lastSeparator == ' ' && reader.repeatLeft == 0) {
          reader.lastSeparator = ',';  // blanks and one comma make one separator
          break;
        }
        if (reader.scanMode == ScanMode::Parenthesised) {
          Collect(unit, b);
          break;
        }
        reader.lastSeparator = ',';
        return;
      case '/':
        reader.lastSeparator = '/';
        return;
      default:
        Collect(unit, b);
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

// Classes of bytes for the common values of a data file.
enum ByteClass : uint8_t { kOtherByte, kDigit, kSpace, kLineFeed, kReturn, kComma };

struct ByteClasses {
  ByteClass of[256];
  constexpr ByteClasses() : of() {
    for (int c = '0'; c <= '9'; ++c) of[c] = kDigit;
    of[static_cast<int>(' ')] = of[static_cast<int>('\t')] = kSpace;
    of[static_cast<int>('\n')] = kLineFeed;
    of[static_cast<int>('\r')] = kReturn;
    of[static_cast<int>(',')] = kComma;
  }
};
constexpr ByteClasses kByteClasses;

// Whether the eight bytes at `q` are four values of one digit, each followed
// by a blank; the digits' values then stand in the low byte of each 16-bit
// lane of `lanes`. Only where words are laid out with their first byte lowest.
inline bool FourDigitsAndBlanks(const unsigned char* q, uint64_t& lanes) {
  if constexpr (std::endian::native != std::endian::little) {
    return false;
  } else {
    constexpr uint64_t kBlanks = 0x2000200020002000, kHighBytes = 0xFF00FF00FF00FF00, kLaneBit7 = 0x0080008000800080;
    uint64_t word;
    std::memcpy(&word, q, 8);
    if ((word & kHighBytes) != kBlanks) return false;
    uint64_t bytes = word & ~kHighBytes;
    // Bit 7 of each lane: from '0' up, and above '9'.
    uint64_t fromZero = bytes + 0x0050005000500050, aboveNine = bytes + 0x0046004600460046;
    if ((fromZero & ~aboveNine & kLaneBit7) != kLaneBit7) return false;
    lanes = bytes - 0x0030003000300030;
    return true;
  }
}

// The common values of a data file, taken straight from the buffer into
// consecutive items: blanks, tabs and line ends before a value, at most one
// comma after a blank, an optional sign, one to ten digits within the range,
// and a blank, tab, comma or line end after it. Stops before the first value that needs
// the general rules, having taken nothing of it; returns the items filled.
// The NUL that Refill stores after the buffer's last byte stops every loop.
int TakePlainIntegers(ReaderState& reader, UnitRecord& unit, int32_t* item, int count, ptrdiff_t stride) {
  const ByteClass* of = kByteClasses.of;
  const unsigned char* p = unit.buffer + unit.position;
  const unsigned char* const end = unit.buffer + unit.lastIndex + 1;
  char separator = reader.lastSeparator;
  bool recordEnd = reader.endedByRecordEnd;
  int64_t lineEnds = 0;
  int taken = 0;
  for (; taken < count; ++taken, item += stride) {
    const unsigned char* q = p;
    // The most common values of all, one digit and a blank, four at a time.
    uint64_t lanes = 0;
    while (count - taken >= 4 && end - q >= 8 && FourDigitsAndBlanks(q, lanes)) {
      for (int k = 0; k < 4; ++k, lanes >>= 16, item += stride) *item = static_cast<int32_t>(lanes & 0xFF);
      taken += 4;
      q += 8;
      p = q;
      separator = ' ';
      recordEnd = false;
    }
    if (taken == count) break;
    // One digit and a blank, or the last value of a line.
    if (static_cast<unsigned>(q[0] - '0') < 10) {
      int after = q[1] == ' ' ? 2 : q[1] == '\n' ? 2 : q[1] == '\r' && q[2] == '\n' ? 3 : 0;
      if (after != 0) {
        *item = q[0] - '0';
        separator = ' ';
        recordEnd = q[1] != ' ';
        lineEnds += recordEnd;
        p = q + after;
        continue;
      }
    }
    char before = separator;
    int64_t passed = 0;  // line ends before the value, counted once it is taken
    for (;;) {
      ByteClass k = of[*q];
      if (k == kDigit) break;
      if (k == kSpace) {
        ++q;
      } else if (k == kLineFeed || (k == kReturn && q[1] == '\n')) {
        q += k == kReturn ? 2 : 1;
        ++passed;
      } else if (k == kComma && before == ' ') {
        before = ',';
        ++q;
      } else {
        break;
      }
    }
    bool negative = false;
    if (*q == '-' || *q == '+') negative = *q++ == '-';
    const unsigned char* digits = q;
    uint64_t value = 0;
    while (of[*q] == kDigit) value = value * 10 + static_cast<unsigned>(*q++ - '0');
    // Up to ten digits within the range; -2147483648 is the one value past it.
    uint64_t highest = negative ? uint64_t{1} << 31 : INT32_MAX;
    if (q == digits || q - digits > 10 || value > highest || q >= end) break;
    ByteClass k = of[*q];
    if (k == kSpace || k == kComma) {
      separator = k == kComma ? ',' : ' ';
      recordEnd = false;
      ++q;
    } else if (k == kLineFeed || (k == kReturn && q[1] == '\n')) {
      separator = ' ';
      recordEnd = true;
      q += k == kReturn ? 2 : 1;
      ++passed;
    } else {
      break;
    }
    *item = static_cast<int32_t>(negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value));
    lineEnds += passed;
    p = q;
  }
  unit.position = static_cast<int>(p - unit.buffer);
  unit.lineEnds += lineEnds;
  reader.lastSeparator = separator;
  reader.endedByRecordEnd = recordEnd;
  return taken;
}

}  // namespace

void beginRead(int unit) {
  if (unit != kConsoleUnit && (unit < -32767 || unit > 32767)) {
    BeginStatement(StatementKind::Read, nullptr);
    RaiseRunError(UnitNumberRange);
  }
  UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  BeginStatement(StatementKind::Read, record);
  if (record == nullptr) RaiseRunError(FileNotFound);
  if (record->endOfFile) RaiseRunError(ReadAfterEndOfFile);
  if (record->console && record->writing) {
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
  ReaderState& reader = Reader();
  reader.unit = record;
  reader.lastSeparator = ',';
  reader.repeatLeft = 0;
  reader.endedByRecordEnd = false;
}

void readInteger(int32_t& item) {
  if (NextValue(kTokenKept, true)) GiveInteger(item);
}

void readIntegers(int32_t* first, int count, ptrdiff_t stride) {
  ReaderState& reader = Reader();
  UnitRecord& unit = *reader.unit;
  while (count > 0) {
    // Only bytes already loaded are looked at: a fresh load goes through the general rules.
    if (!unit.console && reader.repeatLeft == 0 && reader.lastSeparator != '/' && unit.position <= unit.lastIndex) {
      int taken = TakePlainIntegers(reader, unit, first, count, stride);
      first += taken * stride;
      count -= taken;
      if (count == 0) break;
    }
    readInteger(*first);
    first += stride;
    --count;
  }
}

void readCharacter(char* item, int length) {
  if (!NextValue(length, false)) return;
  const ReaderState& reader = Reader();
  if (reader.tokenLength == 0) return;
  int kept = std::min({reader.tokenLength, length, kTokenKept});
  std::memcpy(item, reader.token, static_cast<size_t>(kept));
  std::memset(item + kept, ' ', static_cast<size_t>(length - kept));
}

void endRead() {
  ReaderState& reader = Reader();
  if (!reader.endedByRecordEnd) MoveToNextRecord(*reader.unit);
}

int ReadConsoleLine(char* line, int capacity, int& length) {
  UnitRecord& unit = *layer.unitTable.slots[kConsoleSlot].record;
  ReaderState& reader = Reader();
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
  unit.writing = false;
  return status;
}

}  // namespace textio
