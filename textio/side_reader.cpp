// A second reader of a data file, for another thread: whole cases of the
// plain whole numbers that the fast path takes, from a record part way
// through the file on, while the statements read the file from its start.
// It has a handle on the unit's file, a buffer and a reader state of its
// own, and touches no other state of the layer.
#include <cstring>

#include "textio/platform.h"
#include "textio/reader_input.h"

namespace textio {

struct SideReader {
  platform::Handle handle;  // its own, on the file the unit is connected to
  int64_t start;            // the file offset of its first record
  int64_t next;             // the file offset of the next byte to load
  int64_t size;             // the file's
  bool failed;              // a load could not be read: the end not reached
  int nvars;
  const FieldForm* form;    // the unit's delimited form, null for free form: read only
  UnitRecord unit;          // the buffer and its positions, as the fast path takes them
  ReaderState reader;
};

namespace {

constexpr int kSideLoad = kFileReadLoad;

// Keeps the loaded bytes from `keep` on, at the front, and loads more of the
// file behind them; false when the file has no more, or cannot be read.
// Second thread: touches only the side reader; raises no report.
bool LoadMore(SideReader& side, int keep) {
  UnitRecord& unit = side.unit;
  if (side.next >= side.size) return false;
  int kept = unit.lastIndex + 1 - keep;
  std::memmove(unit.buffer, unit.buffer + keep, static_cast<size_t>(kept));
  size_t got = 0;
  auto room = static_cast<size_t>(kSideLoad - kept);
  if (platform::ReadAt(side.handle, side.next, unit.buffer + kept, room, got) != platform::Cause::None || got == 0) {
    side.next = side.size;
    side.failed = true;
    return false;
  }
  int filled = kept + static_cast<int>(got);
  unit.loadOffset = side.next - kept;
  side.next += static_cast<int64_t>(got);
  // The last line of a file is a whole record, line end or not.
  if (side.next >= side.size && unit.buffer[filled - 1] != '\n') unit.buffer[filled++] = '\n';
  unit.position = 0;
  EndLoad(unit, filled);
  return true;
}

// One case from the record at `position` on, as a read statement takes it:
// true when its values all come by the fast path from the loaded bytes, and
// the line end after them too. A value the load cuts off is not taken, nor
// a case after whose last value its line holds more: a reading in order
// counts the values it skips. A delimited record is taken whole by its fast
// path, or not at all. Second thread: touches only the side reader and
// `row`; raises no report.
bool TakeCase(SideReader& side, int32_t* row) {
  UnitRecord& unit = side.unit;
  ReaderState& reader = side.reader;
  if (unit.position > unit.lastIndex) return false;
  if (side.form != nullptr) return TakeFieldRecord(*side.form, unit, row, 1);
  ResetStatement(reader);
  if (TakeStatementIntegers(reader, unit, row, side.nvars) != side.nvars) return false;
  if (reader.endedByRecordEnd) return true;
  int lineEnd = NextLineEnd(unit, unit.position);
  if (lineEnd < 0 || HoldsValue(unit.buffer + unit.position, static_cast<size_t>(lineEnd - unit.position))) return false;
  unit.position = lineEnd + 1;
  ++unit.lineEnds;
  return true;
}

}  // namespace

SideReader* OpenSideReader(int unit, int64_t from, int nvars) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  if (record == nullptr || record->kind != UnitKind::Sequential || from < 1) return nullptr;
  // Only a regular file can be read at an offset: a pipe, a FIFO or a device
  // gets no second reader, whatever its name.
  int64_t size = platform::FileSize(record->handle);
  platform::Handle handle = -1;
  if (size <= from || platform::DuplicateForReadAt(record->handle, handle) != platform::Cause::None) return nullptr;
  auto* side = static_cast<SideReader*>(AllocateLayerMemory(sizeof(SideReader)));
  // A load, a supplied line end and the end marker after them (END MARKER).
  unsigned char* buffer = static_cast<unsigned char*>(AllocateLayerMemory(kSideLoad + kBufferSlack));
  if (side == nullptr || buffer == nullptr) {
    ReleaseLayerMemory(buffer);
    ReleaseLayerMemory(side);
    (void)platform::Close(handle);
    return nullptr;
  }
  side->handle = handle;
  side->size = size;
  side->nvars = nvars;
  side->form = record->delimited != nullptr ? &record->delimited->form : nullptr;
  side->unit.buffer = buffer;
  side->unit.lastIndex = -1;
  // Its first record begins after the first line end from the byte before `from` on.
  side->next = from - 1;
  int lineEnd = LoadMore(*side, 0) ? NextLineEnd(side->unit, 0) : -1;
  if (lineEnd < 0) {
    CloseSideReader(side);
    return nullptr;
  }
  side->unit.position = lineEnd + 1;
  side->start = from + lineEnd;
  return side;
}

int64_t SideReaderStart(const SideReader* side) { return side->start; }

bool SideReaderAtEnd(const SideReader* side) {
  return !side->failed && side->next >= side->size && side->unit.position > side->unit.lastIndex;
}

int ReadSideCases(SideReader* side, int32_t* rows, SideCaseEnd* ends, int count) {
  UnitRecord& unit = side->unit;
  for (int c = 0; c < count; ++c) {
    int32_t* row = rows + static_cast<ptrdiff_t>(c) * side->nvars;
    int caseStart = unit.position;
    int64_t linesBefore = unit.lineEnds;
    if (!TakeCase(*side, row)) {
      // The case may go on past the bytes loaded: once more with the next load.
      unit.position = caseStart;
      unit.lineEnds = linesBefore;
      if (!LoadMore(*side, caseStart) || !TakeCase(*side, row)) return c;
    }
    ends[c] = {unit.loadOffset + unit.position, unit.lineEnds};
  }
  return count;
}

void PassSideCases(int unit, int64_t cases, const SideCaseEnd& end) {
  UnitRecord& record = *SelectUnit(unit, StatementKind::Read);
  record.statements += cases;
  record.secondReaderCases += cases;
  record.lineEnds += end.lines;
  // The loaded bytes are dropped: the next load begins where the second
  // reader's last case ended. Were the file's position not moved there, a
  // later read would take bytes the second reader has taken.
  record.loadStart += record.lastIndex + 1;
  record.lastIndex = -1;
  record.position = 0;
  record.filePosition = end.offset;
  record.loadOffset = end.offset;
  record.lastByteLineEnd = true;
  (void)platform::MoveTo(record.handle, end.offset);
}

void CloseSideReader(SideReader* side) {
  (void)platform::Close(side->handle);
  ReleaseLayerMemory(side->unit.buffer);
  ReleaseLayerMemory(side);
}

}  // namespace textio
