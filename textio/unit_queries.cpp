// What a program asks of a unit between its statements: the next record
// whole in the bytes loaded, to be passed over without reading it again;
// what the statements passed over; whether values are left after them; and
// where the next record starts in the file.
#include <algorithm>
#include <cstring>

#include "textio/platform.h"
#include "textio/reader_input.h"

namespace textio {
namespace {

// Whether bytes[0..count) hold a value; `line` counts the line ends passed
// before it.
bool FindValue(const unsigned char* bytes, size_t count, int64_t& line) {
  for (size_t i = 0; i < count; ++i) {
    if (HoldsValue(bytes + i, 1)) return true;
    line += bytes[i] == '\n';
  }
  return false;
}

}  // namespace

bool PeekRecord(int unit, const char*& text, int& length) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  if (record == nullptr || record->kind != UnitKind::Sequential || record->endOfFile) return false;
  int lineEnd = NextLineEnd(*record, record->position);
  if (lineEnd < 0) return false;
  text = reinterpret_cast<const char*>(record->buffer + record->position);
  length = lineEnd - record->position;
  // A lone CR ends a delimited record: a text that holds one is two.
  return record->delimited == nullptr || length < 2 ||
         std::memchr(text, '\r', static_cast<size_t>(length - 1)) == nullptr;
}

void PassRecord(int unit, int length) {
  UnitRecord& record = *SelectUnit(unit, StatementKind::Read);
  record.position += length + 1;
  ++record.lineEnds;
  ++record.statements;
}

void CountSkippedValues(int unit) { NoteSkippedValues(*SelectUnit(unit, StatementKind::Read)); }

int64_t SecondReaderCases(int unit) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  return record != nullptr ? record->secondReaderCases : 0;
}

int64_t RecordEndsPassed(int unit) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  return record != nullptr ? record->lineEnds : 0;
}

int64_t RecordsSkippingValues(int unit, int64_t& firstLine) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  if (record == nullptr) return 0;
  firstLine = record->firstSkippedLine;
  return record->skippedRecords;
}

int64_t NullValues(int unit, int64_t& firstLine, int64_t& firstItem) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  if (record == nullptr) return 0;
  firstLine = record->firstNullLine;
  firstItem = record->firstNullItem;
  return record->nullValues;
}

void CountNullValues(int unit, int64_t count) { SelectUnit(unit, StatementKind::Read)->nullValues += count; }

bool ValuesLeft(int unit, int64_t& line) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  if (record == nullptr || record->endOfFile) return false;
  line = record->lineEnds + 1;
  const unsigned char* loaded = record->buffer + record->position;
  if (FindValue(loaded, static_cast<size_t>(record->lastIndex + 1 - record->position), line)) return true;
  if (record->console || record->kind != UnitKind::Sequential) return false;
  // Past the loaded bytes, a regular file is read on at its offsets, a piece
  // at a time, up to a load's worth: a value there is found without reading
  // the file to its end.
  const int64_t size = platform::FileSize(record->handle);
  platform::Handle reading = -1;
  if (size < 0 || platform::DuplicateForReadAt(record->handle, reading) != platform::Cause::None) return false;
  unsigned char piece[16384];
  bool found = false;
  for (int64_t offset = record->filePosition; !found && offset < std::min(size, record->filePosition + kFileReadLoad);) {
    size_t got = 0;
    if (platform::ReadAt(reading, offset, piece, sizeof piece, got) != platform::Cause::None || got == 0) break;
    found = FindValue(piece, got, line);
    offset += static_cast<int64_t>(got);
  }
  (void)platform::Close(reading);
  return found;
}

// The load's own offset, not one worked out back from the file position: a
// line end supplied at the end of the input has no byte in the file.
int64_t NextRecordOffset(int unit) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  return record->loadOffset + record->position;
}

int64_t BytesAfterNextRecord(int unit) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  const int64_t size = record->kind == UnitKind::Sequential ? platform::FileSize(record->handle) : -1;
  return size < 0 ? -1 : std::max<int64_t>(size - NextRecordOffset(unit), 0);
}

}  // namespace textio
