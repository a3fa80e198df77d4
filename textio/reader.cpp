// Free-form reading: values written as plain text, separated by blanks,
// commas or record ends, taken from a unit's buffer one value per item.
// The common whole numbers of a data file take a fast path over the buffer;
// everything else goes through the scanner's general rules.
#include <algorithm>
#include <cstring>

#include "textio/layer_state.h"
#include "textio/platform.h"

namespace textio {
namespace {

constexpr unsigned char kCtrlZ = 26;
constexpr int kTokenKept = kTokenSize - 1;  // one place stays free for the conversion's end marker

ReaderState& Reader() { return layer.reader; }

bool TypedLines(const UnitRecord& unit) { return unit.console && unit.terminalInput; }

// One line typed at a terminal, shaped as the console hands it over: a final
// LF becomes CR LF, so a line holds at most 130 characters and its line end.
int RefillFromTerminal(UnitRecord& unit, int& returned) {
  size_t got = 0;
  if (platform::ReadOnce(0, unit.buffer, static_cast<size_t>(unit.bufferSize - 1), got) != platform::Cause::None) {
    return ReadFailed;
  }
  if (got == 0) return EndOfFile;
  int k = static_cast<int>(got);
  if (unit.buffer[k - 1] == '\n') {
    unit.buffer[k - 1] = '\r';
    unit.buffer[k++] = '\n';
  } else if (k == unit.bufferSize - 1) {
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
    if (platform::ReadOnce(handle, unit.buffer + k, size - k, got) != platform::Cause::None) return ReadFailed;
    if (got == 0) break;
    k += got;
    if (unit.buffer[k - 1] == '\n') break;
  }
  unit.filePosition += static_cast<int64_t>(k);
  returned = static_cast<int>(k);
  return 0;
}

// Refills the unit's buffer by one read request. Returns 0 or the error number.
int Refill(UnitRecord& unit) {
  unit.position = 0;
  unit.lastIndex = -1;
  int returned = 0;
  int status = TypedLines(unit) ? RefillFromTerminal(unit, returned) : RefillFromStream(unit, returned);
  if (status != 0) return status;
  int k = returned;
  if (k == 0) {
    // The last line of an input is a whole record, line end or not.
    if (unit.lastByteLineEnd) return EndOfFile;
    unit.buffer[k++] = '\n';
  } else if (k < unit.bufferSize && unit.buffer[k - 1] != '\n') {
    unit.buffer[k++] = '\n';
  }
  if (unit.console && returned >= 3 && unit.buffer[returned - 3] == kCtrlZ) return EndOfFile;
  unit.lastIndex = k - 1;
  unit.lastByteLineEnd = unit.buffer[k - 1] == '\n';
  unit.buffer[k] = '\0';  // stops the fast scan at the end of the load
  return 0;
}

[[noreturn]] void RaiseReadError(UnitRecord& unit, int number) {
  if (number == EndOfFile) unit.endOfFile = true;
  RaiseRunError(number);
}

unsigned char TakeAfterRefill(UnitRecord& unit) {
  if (int status = Refill(unit); status != 0) RaiseReadError(unit, status);
  unit.position = 1;
  return unit.buffer[0];
}

inline unsigned char TakeByte(UnitRecord& unit) {
  if (unit.position <= unit.lastIndex) return unit.buffer[unit.position++];
  return TakeAfterRefill(unit);
}

// Moves to the start of the next record: a file or redirected input skips
// through the next LF; a terminal drops the rest of the typed line.
void MoveToNextRecord(UnitRecord& unit) {
  if (TypedLines(unit)) {
    if (unit.position == 0) TakeByte(unit);
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

void Collect(unsigned char b) {
  ReaderState& reader = Reader();
  if (reader.tokenLength < kTokenKept) reader.token[reader.tokenLength] = static_cast<char>(b);
  if (reader.tokenLength < kTokenSize) ++reader.tokenLength;
}

// "count*": the value that follows is given to `count` items.
void StartRepeat() {
  ReaderState& reader = Reader();
  if (reader.starSeen) RaiseRunError(RepeatSecondStar);
  int32_t count = 0;
  if (int status = ConvertToken(reader.token, reader.tokenLength, count); status != 0) RaiseRunError(status);
  if (count <= 0) RaiseRunError(RepeatCountNotPositive);
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
    TakeByte(unit);
    return false;
  }
  if (b == static_cast<unsigned char>(reader.delimiter)) {
    unsigned char next = TakeByte(unit);
    if (next != b) {
      reader.lastSeparator = static_cast<char>(next);
      if (next == '\n') --unit.position;
      return true;
    }
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
        break;
      case '(':
        if (reader.tokenLength > 0) Collect(b);
        else reader.scanMode = ScanMode::Parenthesised;
        break;
      case ')':
        if (reader.scanMode != ScanMode::Parenthesised) {
          Collect(b);
          break;
        }
        reader.lastSeparator = ' ';
        return;
      case '\'':
      case '"':
        if (reader.tokenLength > 0) {
          Collect(b);
          break;
        }
        reader.scanMode = ScanMode::Delimited;
        reader.delimiter = static_cast<char>(b);
        reader.lastSeparator = static_cast<char>(b);
        break;
      case '*':
        StartRepeat();
        break;
      case ',':
        if (reader.tokenLength == 0 && reader.lastSeparator == ' ' && reader.repeatLeft == 0) {
          reader.lastSeparator = ',';  // blanks and one comma make one separator
          break;
        }
        if (reader.scanMode == ScanMode::Parenthesised) {
          Collect(b);
          break;
        }
        reader.lastSeparator = ',';
        return;
      case '/':
        reader.lastSeparator = '/';
        return;
      default:
        Collect(b);
    }
  }
}

// Whether the item takes a value: a repeat form still running, or a fresh
// scan unless a slash has ended the statement's input.
bool NextValue(int itemLength) {
  ReaderState& reader = Reader();
  if (reader.repeatLeft > 0) {
    --reader.repeatLeft;
    return true;
  }
  if (reader.lastSeparator == '/') return false;
  ScanValue(*reader.unit, itemLength);
  return true;
}

void GiveInteger(int32_t& item) {
  const ReaderState& reader = Reader();
  if (reader.tokenLength == 0) return;
  if (reader.scanMode != ScanMode::Plain) RaiseRunError(DelimitedForInteger);
  int32_t value = 0;
  if (int status = ConvertToken(reader.token, reader.tokenLength, value); status != 0) RaiseRunError(status);
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

// The common values of a data file, taken straight from the buffer into
// consecutive items: blanks, tabs and line ends before a value, at most one
// comma after a blank, an optional sign, one to nine digits, and a blank,
// tab, comma or line end after it. Stops before the first value that needs
// the general rules, having taken nothing of it; returns the items filled.
// The NUL that Refill stores after the buffer's last byte stops every loop.
int TakePlainIntegers(ReaderState& reader, UnitRecord& unit, int32_t* item, int count, ptrdiff_t stride) {
  const ByteClass* of = kByteClasses.of;
  const unsigned char* p = unit.buffer + unit.position;
  const unsigned char* const end = unit.buffer + unit.lastIndex + 1;
  char separator = reader.lastSeparator;
  bool recordEnd = reader.endedByRecordEnd;
  int taken = 0;
  for (; taken < count; ++taken, item += stride) {
    const unsigned char* q = p;
    // The most common value of all: one digit and a blank.
    if (static_cast<unsigned>(q[0] - '0') < 10 && q[1] == ' ') {
      *item = q[0] - '0';
      separator = ' ';
      recordEnd = false;
      p = q + 2;
      continue;
    }
    char before = separator;
    for (;;) {
      ByteClass k = of[*q];
      if (k == kDigit) break;
      if (k == kSpace || k == kLineFeed) {
        ++q;
      } else if (k == kReturn && q[1] == '\n') {
        q += 2;
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
    uint32_t value = 0;
    while (of[*q] == kDigit) value = value * 10 + static_cast<unsigned>(*q++ - '0');
    if (q == digits || q - digits > 9 || q >= end) break;
    ByteClass k = of[*q];
    if (k == kSpace || k == kComma) {
      separator = k == kComma ? ',' : ' ';
      recordEnd = false;
      ++q;
    } else if (k == kLineFeed || (k == kReturn && q[1] == '\n')) {
      separator = ' ';
      recordEnd = true;
      q += k == kReturn ? 2 : 1;
    } else {
      break;
    }
    *item = static_cast<int32_t>(negative ? 0u - value : value);
    p = q;
  }
  unit.position = static_cast<int>(p - unit.buffer);
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
  ReaderState& reader = Reader();
  reader.unit = record;
  reader.lastSeparator = ',';
  reader.repeatLeft = 0;
  reader.endedByRecordEnd = false;
}

void readInteger(int32_t& item) {
  if (NextValue(kTokenKept)) GiveInteger(item);
}

void readIntegers(int32_t* first, int count, ptrdiff_t stride) {
  ReaderState& reader = Reader();
  UnitRecord& unit = *reader.unit;
  while (count > 0) {
    if (!unit.console && reader.repeatLeft == 0 && reader.lastSeparator != '/') {
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
  if (!NextValue(length)) return;
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
  if (TypedLines(unit)) {
    unit.lastIndex = -1;
    unit.position = 0;
  }
  length = 0;
  for (;;) {
    if (unit.position > unit.lastIndex) {
      if (int status = Refill(unit); status != 0) {
        if (status == EndOfFile) unit.endOfFile = true;
        return status;
      }
    }
    unsigned char b = unit.buffer[unit.position++];
    if (b == '\n') break;
    if (length < capacity) line[length++] = static_cast<char>(b);
  }
  if (length > 0 && line[length - 1] == '\r') --length;
  return 0;
}

}  // namespace textio
