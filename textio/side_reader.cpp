// A second reader of a data file, for another thread: whole cases of the
// plain whole numbers that the fast path takes, from a record part way
// through the file on, while the statements read the file from its start.
// It has a handle, a buffer and a reader state of its own, and touches no
// other state of the layer.
#include <algorithm>
#include <cstring>

#include "textio/platform.h"
#include "textio/reader_input.h"

namespace textio {

struct SideReader {
  platform::Handle handle;
  int64_t start;  // the file offset of its first record
  int64_t next;   // the file offset of the next byte to load
  int64_t size;   // the file's
  int nvars;
  int filled;     // bytes in the buffer
  unsigned char hidden;  // the byte the end marker stands on
  UnitRecord unit;       // the buffer and its positions, as the fast path takes them
  ReaderState reader;
};

namespace {

constexpr int kSideLoad = kFileReadLoad;

// The loaded bytes the fast path may take end with the last line end in
// the buffer; the end marker stands on the byte after it.
void MarkLastLine(SideReader& side) {
  UnitRecord& unit = side.unit;
  int last = side.filled - 1;
  while (last >= 0 && unit.buffer[last] != '\n') --last;
  unit.lastIndex = last;
  side.hidden = unit.buffer[last + 1];
  unit.buffer[last + 1] = '\0';
}

// Keeps the bytes from `keep` on, at the front, and loads more of the file
// behind them; false when the file has no more, or cannot be read.
bool LoadMore(SideReader& side, int keep) {
  UnitRecord& unit = side.unit;
  unit.buffer[unit.lastIndex + 1] = side.hidden;
  if (side.next >= side.size) return false;
  side.filled -= keep;
  std::memmove(unit.buffer, unit.buffer + keep, static_cast<size_t>(side.filled));
  size_t got = 0;
  auto room = static_cast<size_t>(kSideLoad - side.filled);
  if (platform::ReadAt(side.handle, side.next, unit.buffer + side.filled, room, got) != platform::Cause::None ||
      got == 0) {
    side.next = side.size;
    return false;
  }
  side.filled += static_cast<int>(got);
  side.next += static_cast<int64_t>(got);
  // The last line of a file is a whole record, line end or not.
  if (side.next >= side.size && unit.buffer[side.filled - 1] != '\n') unit.buffer[side.filled++] = '\n';
  unit.position = 0;
  MarkLastLine(side);
  return true;
}

// One case from the record at `position` on, as a read statement takes it:
// true when its values all come by the fast path from the loaded lines.
bool TakeCase(SideReader& side, int32_t* row) {
  UnitRecord& unit = side.unit;
  ReaderState& reader = side.reader;
  if (unit.position > unit.lastIndex) return false;
  reader.lastSeparator = ',';
  reader.repeatLeft = 0;
  reader.endedByRecordEnd = false;
  if (TakeStatementIntegers(reader, unit, row, side.nvars) != side.nvars) return false;
  if (!reader.endedByRecordEnd) {
    const unsigned char* from = unit.buffer + unit.position;
    const void* lineEnd = std::memchr(from, '\n', static_cast<size_t>(unit.lastIndex + 1 - unit.position));
    if (lineEnd == nullptr) return false;
    unit.position = static_cast<int>(static_cast<const unsigned char*>(lineEnd) - unit.buffer) + 1;
  }
  return true;
}

}  // namespace

SideReader* OpenSideReader(int unit, int64_t from, int nvars) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  platform::Handle handle = -1;
  if (record == nullptr || record->kind != UnitKind::Sequential || from < 1 ||
      platform::Open(record->name, platform::OpenMode::Read, false, handle) != platform::Cause::None) {
    return nullptr;
  }
  auto* side = static_cast<SideReader*>(AllocateLayerMemory(sizeof(SideReader)));
  unsigned char* buffer = static_cast<unsigned char*>(AllocateLayerMemory(kSideLoad + kBufferSlack));
  int64_t size = platform::FileSize(handle);
  if (side == nullptr || buffer == nullptr || size <= from) {
    ReleaseLayerMemory(buffer);
    ReleaseLayerMemory(side);
    (void)platform::Close(handle);
    return nullptr;
  }
  side->handle = handle;
  side->size = size;
  side->nvars = nvars;
  side->unit.buffer = buffer;
  side->unit.lastIndex = -1;
  // Its first record begins after the first line end from the byte before `from` on.
  side->next = from - 1;
  const void* lineEnd = nullptr;
  if (LoadMore(*side, 0)) lineEnd = std::memchr(buffer, '\n', static_cast<size_t>(side->filled));
  if (lineEnd == nullptr) {
    CloseSideReader(side);
    return nullptr;
  }
  side->unit.position = static_cast<int>(static_cast<const unsigned char*>(lineEnd) - buffer) + 1;
  side->start = from + side->unit.position - 1;
  return side;
}

int64_t SideReaderStart(const SideReader* side) { return side->start; }

int ReadSideCases(SideReader* side, int32_t* rows, int count) {
  for (int c = 0; c < count; ++c) {
    int32_t* row = rows + static_cast<ptrdiff_t>(c) * side->nvars;
    int caseStart = side->unit.position;
    if (TakeCase(*side, row)) continue;
    // The case may go on past the lines loaded: once more with the next load.
    side->unit.position = caseStart;
    if (!LoadMore(*side, caseStart) || !TakeCase(*side, row)) return c;
  }
  return count;
}

void CloseSideReader(SideReader* side) {
  (void)platform::Close(side->handle);
  ReleaseLayerMemory(side->unit.buffer);
  ReleaseLayerMemory(side);
}

int64_t nextRecordOffset(int unit) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  return record->filePosition - (record->lastIndex + 1) + record->position;
}

}  // namespace textio
