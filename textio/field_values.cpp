// The values of delimited fields: what a field's text is as a value, and the
// fast path of a delimited record, which takes the common records of an
// export straight from the loaded bytes and leaves the rest to the scanner
// (field_reader.cpp).
#include <cstring>

#include "textio/reader_input.h"

namespace textio {
namespace {

// Flags of the bytes of a delimited record, for one delimiter: a stop ends
// an unquoted field (the delimiter, a line end, the end marker; blanks too
// where runs of them are the delimiter), a blank is passed over around one.
constexpr uint8_t kStop = 1, kBlank = 2;

struct FieldBytes {
  uint8_t of[256];
  constexpr explicit FieldBytes(char delimiter) : of() {
    of[static_cast<unsigned char>(delimiter)] = kStop;
    of[static_cast<int>('\n')] = of[static_cast<int>('\r')] = of[0] = kStop;
    for (char blank : {' ', '\t'}) {
      if (blank == delimiter && delimiter != kBlankRuns) continue;
      of[static_cast<unsigned char>(blank)] = delimiter == kBlankRuns ? kStop | kBlank : kBlank;
    }
  }
};
constexpr FieldBytes kCommaBytes(','), kSemicolonBytes(';'), kTabBytes('\t'), kBlankRunBytes(kBlankRuns);

const uint8_t* BytesOf(char delimiter) {
  switch (delimiter) {
    case ';': return kSemicolonBytes.of;
    case '\t': return kTabBytes.of;
    case kBlankRuns: return kBlankRunBytes.of;
    default: return kCommaBytes.of;
  }
}

bool IsDigit(unsigned char c) { return static_cast<unsigned>(c - '0') < 10; }

// NA, NaN or ., in any letter case.
bool MissingMarker(const char* text, int length) {
  if (length == 1) return text[0] == '.';
  char lower[3] = {};
  if (length != 2 && length != 3) return false;
  for (int i = 0; i < length; ++i) lower[i] = static_cast<char>(text[i] | 0x20);
  return std::memcmp(lower, length == 2 ? "na" : "nan", static_cast<size_t>(length)) == 0;
}

// Whether fields field to field + 3 go to four items in a row.
bool FourItemsInARow(const FieldForm& form, int32_t field) {
  const int32_t* item = form.itemOf + field;
  return item[0] >= 0 && item[1] == item[0] + 1 && item[2] == item[0] + 2 && item[3] == item[0] + 3;
}

}  // namespace

FieldKind FieldValue(const char* text, int length, char delimiter, int32_t& value) {
  const char* p = text;
  const char* end = text + length;
  // Blanks a quoted field holds around its value.
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  while (end > p && (end[-1] == ' ' || end[-1] == '\t')) --end;
  length = static_cast<int>(end - p);
  if (length == 0 || MissingMarker(p, length)) return FieldKind::Missing;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  const char* digits = p;
  uint64_t magnitude = 0;
  constexpr uint64_t kBeyond = uint64_t{1} << 32;  // past every 32-bit value: kept there
  for (; p < end && IsDigit(static_cast<unsigned char>(*p)); ++p) {
    magnitude = magnitude < kBeyond ? magnitude * 10 + static_cast<unsigned>(*p - '0') : kBeyond;
  }
  bool whole = p > digits;
  bool fraction = false;  // a digit other than 0 after the point
  // The point, or a decimal comma where the comma does not part fields.
  if (p < end && (*p == '.' || (*p == ',' && delimiter != ','))) {
    const char* after = ++p;
    for (; p < end && IsDigit(static_cast<unsigned char>(*p)); ++p) fraction = fraction || *p != '0';
    whole = whole || p > after;
  }
  if (p != end || !whole) return FieldKind::Text;
  if (fraction) return FieldKind::Decimal;
  if (magnitude > (negative ? uint64_t{1} << 31 : uint64_t{INT32_MAX})) return FieldKind::TooLarge;
  value = static_cast<int32_t>(negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude));
  return FieldKind::Whole;
}

// How far it reads: the record from `position` on, up to the load's end
// marker at the latest (END MARKER, reader_input.h): the marker is a stop,
// and neither a blank nor a digit, so every loop below ends there; the look
// after a CR follows a byte of the load. A record that reaches the marker,
// a quoted field, a lone CR, and a field whose value it cannot give are
// left to the scanner.
bool TakeFieldRecord(const FieldForm& form, UnitRecord& unit, int32_t* items, ptrdiff_t stride) {
  const uint8_t* of = BytesOf(form.delimiter);
  const unsigned char* p = unit.buffer + unit.position;
  int64_t lineEnds = 1;  // the record's own, and those of blank lines before it
  for (const unsigned char* q = p;; p = q) {
    while ((of[*q] & kBlank) != 0) ++q;
    if (*q != '\n' && !(*q == '\r' && q[1] == '\n')) break;
    q += *q == '\r' ? 2 : 1;
    ++lineEnds;
  }
  const unsigned char* const loadEnd = unit.buffer + unit.lastIndex + 1;
  int32_t field = 0;
  for (;; ++field) {
    // The commonest fields of all, one digit each, four at a time into four
    // items in a row, while eight bytes of the load are left.
    uint64_t lanes = 0;
    while (field + 4 <= form.fields && loadEnd - p >= 8 && FourItemsInARow(form, field) &&
           FourDigitsAndSeparators(p, form.delimiter, lanes)) {
      int32_t* item = items + form.itemOf[field] * stride;
      for (int k = 0; k < 4; ++k, lanes >>= 16, item += stride) *item = static_cast<int32_t>(lanes & 0xFF);
      field += 4;
      p += 8;
    }
    while ((of[*p] & kBlank) != 0) ++p;
    // A quoted field, or a lone CR, is the scanner's.
    if (*p == '"' || (field == 0 && *p == '\r')) return false;
    const unsigned char* start = p;
    const int32_t item = field < form.fields ? form.itemOf[field] : -1;
    if (item >= 0) {
      bool negative = false;
      if (*p == '-' || *p == '+') negative = *p++ == '-';
      const unsigned char* digits = p;
      uint64_t value = 0;
      while (IsDigit(*p)) value = value * 10 + static_cast<unsigned>(*p++ - '0');
      const uint64_t highest = negative ? uint64_t{1} << 31 : INT32_MAX;
      if (p > digits && p - digits <= 10 && value <= highest && (of[*p] & (kStop | kBlank)) != 0) {
        items[item * stride] =
            static_cast<int32_t>(negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value));
      } else {
        // Anything but plain digits: the field's text, by the rule.
        while ((of[*p] & kStop) == 0) ++p;
        int32_t given = 0;
        FieldKind kind = FieldValue(reinterpret_cast<const char*>(start), static_cast<int>(p - start),
                                    form.delimiter, given);
        if (kind == FieldKind::Missing && form.missingGiven) given = form.missingCode;
        if (kind != FieldKind::Whole && !(kind == FieldKind::Missing && form.missingGiven)) return false;
        items[item * stride] = given;
      }
    } else {
      while ((of[*p] & kStop) == 0) ++p;
    }
    // What ends the field: blanks, then the delimiter or a line end.
    const unsigned char* separator = p;
    while ((of[*p] & kBlank) != 0) ++p;
    if (*p == '\n' || (*p == '\r' && p[1] == '\n')) break;
    if (*p == static_cast<unsigned char>(form.delimiter) && form.delimiter != kBlankRuns) {
      ++p;
    } else if (form.delimiter != kBlankRuns || p == separator || *p == '\r' || *p == '\0') {
      return false;
    }
  }
  ++field;
  if (field < form.fields || (form.everyField && field > form.fields)) return false;
  p += *p == '\r' ? 2 : 1;
  unit.position = static_cast<int>(p - unit.buffer);
  unit.lineEnds += lineEnds;
  return true;
}

}  // namespace textio
