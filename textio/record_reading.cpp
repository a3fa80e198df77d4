// Reading a data file one record at a time: a read statement that takes the
// values of one record only, with a status, for a look at the file's shape
// before a run. Built on the reader's fast path and its scanner.
#include "textio/reader_input.h"

namespace textio {
namespace {

// Runs `step` as a part of a statement with a status: returns 0, or the
// number of the run-time error it raised.
template <typename Step>
int WithStatus(Step step) {
  layer.run.statusWanted = true;
  try {
    step();
  } catch (const StatementReturn& failure) {
    return failure.number;
  }
  layer.run.statusWanted = false;
  return 0;
}

// Takes the values of the record into items[0..capacity), counting those
// past it, until the record's end or a slash ends the statement's input.
void TakeValues(ReaderState& reader, UnitRecord& unit, int32_t* items, int capacity, RecordShape& shape) {
  int32_t past[64];  // values beyond the capacity: counted, not kept
  for (;;) {
    bool fresh = reader.repeatLeft == 0;  // the next value is scanned, not repeated
    if (fresh && reader.lastSeparator == '/') {
      shape.slash = true;
      return;
    }
    if (!fresh && shape.values >= capacity) {
      // A repeat form's values past the capacity are counted in one go.
      shape.values += reader.repeatLeft;
      shape.nulls += reader.tokenLength == 0 ? reader.repeatLeft : 0;
      reader.repeatLeft = 0;
      if (reader.endedByRecordEnd) return;
      continue;
    }
    if (fresh && !unit.console && unit.position <= unit.lastIndex) {
      bool kept = shape.values < capacity;
      int room = kept ? capacity - static_cast<int>(shape.values) : static_cast<int>(sizeof past / sizeof past[0]);
      int taken = TakeRecordIntegers(reader, unit, kept ? items + shape.values : past, room);
      shape.values += taken;
      if (taken > 0) {
        reader.recordOnly = true;
        if (reader.endedByRecordEnd) return;
      }
    }
    int32_t& item = shape.values < capacity ? items[shape.values] : past[0];
    readInteger(item);
    if (reader.recordEnded) {
      shape.commaAtEnd = reader.lastSeparator == ',';
      return;
    }
    bool null = reader.tokenLength == 0;
    // A slash with no value before it gives none.
    if (fresh && null && reader.lastSeparator == '/' && !reader.starSeen) continue;
    shape.nulls += null;
    shape.repeatForms += fresh && reader.starSeen;
    shape.leadingNull = shape.leadingNull || (shape.values == 0 && null && !reader.starSeen);
    ++shape.values;
    reader.recordOnly = true;
    if (reader.endedByRecordEnd && reader.repeatLeft == 0) return;
  }
}

}  // namespace

int readRecord(int unit, int32_t* items, int capacity, RecordShape& shape) {
  shape = {};
  ReaderState& reader = layer.reader;
  reader.valueLength = 0;
  if (int status = WithStatus([unit] { StartRead(unit, true); }); status != 0) return status;
  UnitRecord& source = *reader.unit;
  const int64_t linesBefore = source.lineEnds;
  const int64_t skippedBefore = source.skippedRecords;
  source.lineStart = source.loadStart + source.position;
  int status = WithStatus([&] {
    TakeValues(reader, source, items, capacity, shape);
    endRead();
  });
  shape.line = source.lineEnds;
  if (status != 0 && reader.valueLength > 0) {
    shape.line = reader.valueLine;
    shape.column = reader.valueColumn;
  } else if (status != 0) {
    shape.line = source.lineEnds + 1;
  }
  // A value that ran on past the bound ends the reading as it ends a run's:
  // the input may hold no end to it.
  shape.endless = status != 0 && reader.valueLength > kValueLimit;
  // After an error in a value the next statement begins with the next record.
  if (status != 0 && status != ReadFailed && !source.endOfFile && !reader.endedByRecordEnd && !shape.endless) {
    if (int skipped = WithStatus([&] { MoveToNextRecord(source); }); skipped != 0) status = skipped;
  }
  shape.lines = source.lineEnds - linesBefore;
  shape.skipped = source.skippedRecords != skippedBefore;
  shape.tabGap = reader.tabGap;
  shape.valueRunsOn = status != 0 && reader.valueLength > 0 && source.lineEnds > reader.valueLine;
  // The input ended where the next record would begin.
  if (status == EndOfFile && shape.values == 0 && reader.valueLength == 0) return kNoMoreRecords;
  return status;
}

}  // namespace textio
