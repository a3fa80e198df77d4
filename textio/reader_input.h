// The free-form reader's byte source (byte_source.cpp): the bytes of a
// unit's buffer as the scanner (reader.cpp) takes them, one at a time, the
// next load read when the buffer is used up.
#pragma once

#include "textio/layer_state.h"

namespace textio {

inline constexpr unsigned char kCtrlZ = 26;

// A unit's buffer holds one load: bytes `position` to `lastIndex` are still
// to be taken, and the byte after the last one is a NUL end marker.

// Reads the next load and takes its first byte; the end of the input, a
// failed read or a typed line too long is raised as its run-time error.
unsigned char TakeAfterRefill(UnitRecord& unit);

// The next byte of the unit's input.
inline unsigned char TakeByte(UnitRecord& unit) {
  if (unit.position <= unit.lastIndex) return unit.buffer[unit.position++];
  return TakeAfterRefill(unit);
}

// The fast path of readIntegers (plain_integers.cpp), for a reader state and
// unit of the caller's own: takes plain values into items[0..count), across
// records as a statement does, stopping before anything that needs the
// scanner. Returns the items filled.
int TakeStatementIntegers(ReaderState& reader, UnitRecord& unit, int32_t* items, int count);

// Moves to the start of the next record: a file or redirected input skips
// through the next LF; a terminal drops the rest of the typed line. Returns
// whether the bytes skipped held anything a value could be made of.
bool MoveToNextRecord(UnitRecord& unit);

// Counts the record just passed among those whose values a statement
// skipped unread, after its last item or after a lone CR.
void NoteSkippedValues(UnitRecord& unit);

// beginRead, where an error of the statement may return its number as a
// StatementReturn instead of ending the run.
void StartRead(int unit, bool statusWanted);

// The fast path of readIntegers for a statement of one record
// (plain_integers.cpp): takes plain values into items[0..count) until the
// record ends, stopping before anything that needs the scanner, a line end
// before a value among them. Returns the items filled.
int TakeRecordIntegers(ReaderState& reader, UnitRecord& unit, int32_t* items, int count);

}  // namespace textio
