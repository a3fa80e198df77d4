// The reader's fast path, readIntegers: the plain whole numbers that make up
// nearly every data file, taken straight from a unit's loaded bytes into the
// items, as the scanner's rules would give them; anything else is left to them.
#include <cstddef>
#include <cstring>

#include "textio/reader_input.h"

namespace textio {
namespace {

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

}  // namespace

// Takes the common values of a data file straight from the loaded bytes into
// consecutive items, the k-th at item[k * stride], as the scanner would give
// them: blanks, tabs and line ends before a value, at most one comma after a
// blank, an optional sign, one to ten digits within the range, and a blank,
// tab, comma or line end after it. Stops before the first value that needs
// the scanner's rules, having taken nothing of it; returns the items filled.
//
// How far it reads: the load is buffer[position..lastIndex], and a NUL end
// marker stands after it (END MARKER, reader_input.h). A NUL is no digit,
// blank, comma or line end, so every loop below stops at the marker at the
// latest; a look ahead (the byte after a digit, the LF after a CR) follows
// a byte of the load, so it reads at most the marker; and the eight-byte
// test is made only while eight bytes of the load are left. Nothing past the
// marker is read.
//
// With kOneRecord it takes the values of one record: it stops after a value
// that a line end ends, and before a line end that comes before a value; and
// it follows the tabs among the separators for the empty fields they make.
//
// Second thread too (the second reader): touches only `reader`, `unit` and
// the items; raises no report.
template <bool kOneRecord>
int TakePlainIntegers(ReaderState& reader, UnitRecord& unit, int32_t* item, int count, ptrdiff_t stride) {
  const ByteClass* of = kByteClasses.of;
  const unsigned char* p = unit.buffer + unit.position;
  const unsigned char* const end = unit.buffer + unit.lastIndex + 1;
  char separator = reader.lastSeparator;
  bool recordEnd = reader.endedByRecordEnd;
  TabPlace tabs = reader.tabPlace;
  bool tabGap = reader.tabGap;
  int64_t lineEnds = 0;
  int taken = 0;
  for (; taken < count; ++taken, item += stride) {
    const unsigned char* q = p;
    // The most common values of all, one digit and a blank, four at a time.
    uint64_t lanes = 0;
    while (count - taken >= 4 && end - q >= 8 && FourDigitsAndSeparators(q, ' ', lanes)) {
      for (int k = 0; k < 4; ++k, lanes >>= 16, item += stride) *item = static_cast<int32_t>(lanes & 0xFF);
      taken += 4;
      q += 8;
      p = q;
      separator = ' ';
      recordEnd = false;
      tabs = TabPlace::AfterValue;
    }
    if (taken == count) break;
    // One digit and a blank, or the last value of a line.
    if (static_cast<unsigned>(q[0] - '0') < 10) {
      int after = q[1] == ' ' ? 2 : q[1] == '\n' ? 2 : q[1] == '\r' && q[2] == '\n' ? 3 : 0;
      if (after != 0) {
        *item = q[0] - '0';
        separator = ' ';
        tabs = TabPlace::AfterValue;
        recordEnd = q[1] != ' ';
        lineEnds += recordEnd;
        p = q + after;
        if (kOneRecord && recordEnd) {
          ++taken;
          break;
        }
        continue;
      }
    }
    char before = separator;
    int64_t passed = 0;  // line ends before the value, counted once it is taken
    TabPlace place = tabs;  // and the tabs, followed once it is taken
    bool gap = tabGap;
    for (;;) {
      ByteClass k = of[*q];
      if (k == kDigit) break;
      if (k == kSpace) {
        if (kOneRecord && *q == '\t') {
          gap = gap || place != TabPlace::AfterValue;
          place = TabPlace::AfterTab;
        }
        ++q;
      } else if (k == kLineFeed || (k == kReturn && q[1] == '\n')) {
        if (kOneRecord) break;
        q += k == kReturn ? 2 : 1;
        ++passed;
      } else if (k == kComma && before == ' ') {
        before = ',';
        place = TabPlace::AfterValue;
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
      tabs = *q == '\t' ? TabPlace::AfterTab : TabPlace::AfterValue;
      ++q;
    } else if (k == kLineFeed || (k == kReturn && q[1] == '\n')) {
      separator = ' ';
      recordEnd = true;
      tabs = TabPlace::AfterValue;
      q += k == kReturn ? 2 : 1;
      ++passed;
    } else {
      break;
    }
    *item = static_cast<int32_t>(negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value));
    lineEnds += passed;
    tabGap = gap;
    p = q;
    if (kOneRecord && recordEnd) {
      ++taken;
      break;
    }
  }
  unit.position = static_cast<int>(p - unit.buffer);
  unit.lineEnds += lineEnds;
  reader.lastSeparator = separator;
  reader.endedByRecordEnd = recordEnd;
  if (kOneRecord) {
    reader.tabPlace = tabs;
    reader.tabGap = tabGap;
  }
  return taken;
}

void readIntegers(int32_t* first, int count, ptrdiff_t stride) {
  ReaderState& reader = layer.reader;
  UnitRecord& unit = *reader.unit;
  // A delimited record gives its items by its form.
  if (unit.delimited != nullptr) {
    ReadFieldRecord(unit, first, stride);
    return;
  }
  while (count > 0) {
    // Only bytes already loaded are looked at: a fresh load goes through the general rules.
    if (!unit.console && reader.repeatLeft == 0 && reader.lastSeparator != '/' && unit.position <= unit.lastIndex) {
      int taken = TakePlainIntegers<false>(reader, unit, first, count, stride);
      reader.itemsGiven += taken;
      first += taken * stride;
      count -= taken;
      if (count == 0) break;
    }
    readInteger(*first);
    first += stride;
    --count;
  }
}

int TakeStatementIntegers(ReaderState& reader, UnitRecord& unit, int32_t* items, int count) {
  return TakePlainIntegers<false>(reader, unit, items, count, 1);
}

int TakeRecordIntegers(ReaderState& reader, UnitRecord& unit, int32_t* items, int count) {
  return TakePlainIntegers<true>(reader, unit, items, count, 1);
}

}  // namespace textio
