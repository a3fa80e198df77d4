// The free-form reader's byte source (byte_source.cpp): the bytes of a
// unit's buffer as the scanner (reader.cpp) takes them, one at a time, the
// next load read when the buffer is used up.
#pragma once

#include <algorithm>
#include <bit>

#include <cstring>

#include "textio/layer_state.h"

namespace textio {

inline constexpr unsigned char kCtrlZ = 26;
// No value runs longer: past it an endless input without separators ends.
inline constexpr int64_t kValueLimit = int64_t{1} << 20;

// END MARKER: a unit's buffer holds one load, bytes 0 to `lastIndex`, of
// which those from `position` on are still to be taken; the byte after the
// last one is a NUL, the end marker, which may stand in the buffer's slack
// (kBufferSlack) when the load fills the buffer. The fast path of
// readIntegers reads up to the marker and no further, so that it needs no
// count of the bytes left in its loops. Code that relies on the marker says
// "END MARKER". EndLoad ends a load of `bytes` bytes so; any thread, on a
// unit of its own.
inline void EndLoad(UnitRecord& unit, int bytes) {
  unit.lastIndex = bytes - 1;
  unit.buffer[bytes] = '\0';
}

// The index of the first line end in the load from `from` on; -1 when there
// is none. Any thread, on a unit of its own.
inline int NextLineEnd(const UnitRecord& unit, int from) {
  const void* found = std::memchr(unit.buffer + from, '\n', static_cast<size_t>(unit.lastIndex + 1 - from));
  return found != nullptr ? static_cast<int>(static_cast<const unsigned char*>(found) - unit.buffer) : -1;
}

// A read statement's reader state as it starts: no value read yet. Any
// thread, on a reader state of its own.
inline void ResetStatement(ReaderState& reader) {
  reader.lastSeparator = ',';
  reader.repeatLeft = 0;
  reader.endedByRecordEnd = false;
  reader.recordOnly = reader.recordEnded = false;
  reader.tabPlace = TabPlace::LineStart;
  reader.tabGap = false;
  reader.itemsGiven = 0;
}

// Whether bytes[0..count) hold anything a value could be made of: a byte
// other than a blank, a control character, a comma or a slash, or the
// quotes and parentheses that enclose a value, which hold none alone (''/ is
// a null value, as / is). Second thread too: touches only the bytes.
inline bool HoldsValue(const unsigned char* bytes, size_t count) {
  return std::any_of(bytes, bytes + count, [](unsigned char b) {
    return b > ' ' && b != ',' && b != '/' && b != '\'' && b != '"' && b != '(' && b != ')';
  });
}

// Whether the eight bytes at `q` are four values of one digit, each followed
// by the byte `separator`; the digits' values then stand in the low byte of
// each 16-bit lane of `lanes`. Only where words are laid out with their
// first byte lowest. Any thread: touches only the bytes.
//
// Loaded that way, the eight bytes make four 16-bit lanes, each a digit in
// its low byte and the separator in its high byte, which the mask
// kHighBytes leaves alone. With the high bytes masked off, each lane holds
// one byte c, 0 to 0xFF, and adding to it can carry at most into bit 8 of
// its own lane (0xFF + 0x50 = 0x14F), never into the next lane:
// - c + 0x50 has bit 7 set exactly when 0x80 <= c + 0x50 <= 0xFF, that is
//   when 0x30 ('0') <= c <= 0xAF; above, the sum passes 0x100 and bit 7 is clear;
// - c + 0x46 has bit 7 set exactly when 0x3A ('9' + 1) <= c <= 0xB9.
// So bit 7 (kLaneBit7) of the first sum and not of the second says
// '0' <= c <= '9' in every lane; subtracting 0x30 per lane then borrows
// nothing and leaves each digit's value.
inline bool FourDigitsAndSeparators(const unsigned char* q, char separator, uint64_t& lanes) {
  if constexpr (std::endian::native != std::endian::little) {
    return false;
  } else {
    constexpr uint64_t kHighBytes = 0xFF00FF00FF00FF00, kLaneBit7 = 0x0080008000800080;
    const uint64_t separators = uint64_t{static_cast<unsigned char>(separator)} * 0x0100010001000100;
    uint64_t word;
    std::memcpy(&word, q, 8);
    if ((word & kHighBytes) != separators) return false;
    uint64_t bytes = word & ~kHighBytes;
    uint64_t fromZero = bytes + 0x0050005000500050, aboveNine = bytes + 0x0046004600460046;
    if ((fromZero & ~aboveNine & kLaneBit7) != kLaneBit7) return false;
    lanes = bytes - 0x0030003000300030;
    return true;
  }
}

// Reads the next load and takes its first byte; the end of the input, a
// failed read or a typed line too long is raised as its run-time error.
unsigned char TakeAfterRefill(UnitRecord& unit);

// The next byte of the unit's input.
inline unsigned char TakeByte(UnitRecord& unit) {
  if (unit.position <= unit.lastIndex) return unit.buffer[unit.position++];
  return TakeAfterRefill(unit);
}

// As TakeAfterRefill, but the end of the input is no error: -1, with the
// unit's end-of-file flag set.
int TakeAfterRefillOrEnd(UnitRecord& unit);

// The next byte of the unit's input, or -1 where it has ended.
inline int TakeByteOrEnd(UnitRecord& unit) {
  if (unit.position <= unit.lastIndex) return unit.buffer[unit.position++];
  return TakeAfterRefillOrEnd(unit);
}

// The fast path of readIntegers (plain_integers.cpp), for a reader state and
// unit of the caller's own: takes plain values into items[0..count), across
// records as a statement does, stopping before anything that needs the
// scanner. Returns the items filled. The second reader runs it on another
// thread: it touches only the reader state, the unit and the items, and
// never raises a report.
int TakeStatementIntegers(ReaderState& reader, UnitRecord& unit, int32_t* items, int count);

// Moves to the start of the next record: a file or redirected input skips
// through the next LF; a terminal drops the rest of the typed line. Returns
// whether the bytes skipped held anything a value could be made of.
bool MoveToNextRecord(UnitRecord& unit);

// Counts the record just passed among those whose values a statement
// skipped unread, after its last item or after a lone CR.
void NoteSkippedValues(UnitRecord& unit);

// Adds bytes[0..shown) of a value `length` bytes long to a report, as it
// shows values: in quotes, bytes that are not printable as escapes, and
// "..." when the value is longer than those shown.
void AddShownBytes(FixedText& text, const char* bytes, int64_t shown, int64_t length);

// The fast path of a delimited record (field_integers.cpp), for a form, unit
// and items of the caller's own: takes the whole record at `position` when
// it lies in the bytes loaded and every item it gives is a plain value (a
// whole number, or a missing field that the form gives a code), as the
// scanner would take it; else takes nothing and returns false. Second thread
// too: touches only the unit and the items; raises no report.
bool TakeFieldRecord(const FieldForm& form, UnitRecord& unit, int32_t* items, ptrdiff_t stride);

// A delimited unit's statement (field_reader.cpp): its record into the items.
void ReadFieldRecord(UnitRecord& unit, int32_t* items, ptrdiff_t stride);

// beginRead, where an error of the statement may return its number as a
// StatementReturn instead of ending the run.
void StartRead(int unit, bool statusWanted);

// The fast path of readIntegers for a statement of one record
// (plain_integers.cpp): takes plain values into items[0..count) until the
// record ends, stopping before anything that needs the scanner, a line end
// before a value among them. Returns the items filled.
int TakeRecordIntegers(ReaderState& reader, UnitRecord& unit, int32_t* items, int count);

}  // namespace textio
