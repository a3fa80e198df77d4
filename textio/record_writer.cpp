// Edited record writer: formatted write statements that shape each record by
// a compiled layout, into a file unit, a device, or an internal text; and the
// character concatenation that builds such layouts.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "textio/layer_state.h"

namespace textio {
namespace {

// No record of a file or device grows longer: past it a layout has asked
// for more than any record can sensibly hold.
constexpr int64_t kMaxRecordChars = int64_t{1} << 24;

// Hands placed characters to the destination; `recordChars` counts them.
void Emit(const char* bytes, int count) {
  RecordWriterState& writer = layer.recordWriter;
  switch (writer.destination) {
    case RecordDestination::File:
      PlaceBytes(*writer.unit, bytes, static_cast<size_t>(count));
      break;
    case RecordDestination::Device:
      PlaceConsoleBytes(*writer.unit, bytes, count);
      break;
    case RecordDestination::Internal:
      if (count > writer.textLength - writer.recordChars) RaiseRunError(InternalRecordFull);
      std::copy_n(bytes, count, writer.text + writer.recordChars);
      break;
  }
  writer.recordChars += count;
}

// Gathers the blanks owed before a field and the field itself, so that a
// field costs one placing; only a very wide field goes in several.
class Stage {
 public:
  void Add(char c, int64_t repeat) {
    while (repeat > 0) {
      if (count_ == kSize) Flush();
      int take = static_cast<int>(std::min<int64_t>(repeat, kSize - count_));
      std::fill_n(bytes_ + count_, take, c);
      count_ += take;
      repeat -= take;
    }
  }
  void Add(const char* text, int length) {  // length at most kSize
    if (count_ + length > kSize) Flush();
    std::copy_n(text, length, bytes_ + count_);
    count_ += length;
  }
  void Flush() {
    if (count_ > 0) Emit(bytes_, count_);
    count_ = 0;
  }

 private:
  static constexpr int kSize = 64;
  char bytes_[kSize];
  int count_ = 0;
};

// Notes `count` fields of the record written as asterisks, the first of
// them at column `column` (from 1), of the value `value`: a unit counts
// them, and keeps the first.
void NoteStarred(int64_t count, int64_t column, int32_t value) {
  RecordWriterState& writer = layer.recordWriter;
  if (writer.destination == RecordDestination::Internal) return;
  UnitRecord& unit = *writer.unit;
  if (unit.starredFields == 0) {
    unit.firstStarredRecord = unit.recordsWritten + 1;
    unit.firstStarredColumn = column;
    unit.firstStarredValue = value;
  }
  unit.starredFields += count;
}

// Raises the error for a record that `count` more characters would make too
// long, before any of them is placed.
void CheckRoom(int64_t count) {
  const RecordWriterState& writer = layer.recordWriter;
  bool internal = writer.destination == RecordDestination::Internal;
  if (writer.recordChars + count > (internal ? writer.textLength : kMaxRecordChars)) {
    RaiseRunError(internal ? InternalRecordFull : RecordTooLong);
  }
}

// Places `value` in an integer field Iw.m, right-justified after the owed
// blanks, or w asterisks when it does not fit.
void PlaceField(const LayoutItem& field, int32_t value) {
  RecordWriterState& writer = layer.recordWriter;
  CheckRoom(writer.pendingBlanks + field.width);
  char digits[10];
  char* const end = digits + sizeof digits;
  // Zero has no digit of its own here: the minimum digits give it its 0.
  const char* first = value != 0 ? DecimalDigits(end, Magnitude(value)) : end;
  int digitCount = static_cast<int>(end - first);
  int64_t zeros = std::max(field.minimum - digitCount, 0);
  int64_t length = (value < 0 ? 1 : 0) + zeros + digitCount;

  Stage stage;
  if (length > field.width) {
    NoteStarred(1, writer.recordChars + writer.pendingBlanks + 1, value);
    stage.Add(' ', writer.pendingBlanks);
    stage.Add('*', field.width);
  } else {
    stage.Add(' ', writer.pendingBlanks + field.width - length);
    if (value < 0) stage.Add('-', 1);
    stage.Add('0', zeros);
    stage.Add(first, digitCount);
  }
  stage.Flush();
  writer.pendingBlanks = 0;
}

// The largest value of `w` digits, for the widths a field run takes: a
// value fits Iw when it has w digits, or a sign and w - 1 digits.
constexpr int64_t kFieldHighest[kFieldSpan + 1] = {0, 9, 99, 999, 9999, 99999, 999999, 9999999, 99999999,
                                                   999999999, 9999999999, 99999999999, 999999999999,
                                                   9999999999999, 99999999999999, 999999999999999,
                                                   9999999999999999};

// Ready I3 fields for the values -99..999, each with one byte more, so that
// one 4-byte store places a field; the extra byte is overwritten by what
// follows or lies in the buffer's slack.
constexpr int32_t kLowestThree = -99, kHighestThree = 999;
struct ThreeCharacterFields {
  char text[kHighestThree - kLowestThree + 2][4];  // the last one: asterisks
  constexpr ThreeCharacterFields() : text() {
    for (int32_t value = kLowestThree; value <= kHighestThree; ++value) {
      char* field = text[value - kLowestThree];
      char* p = DecimalText(field + 3, value);
      while (p != field) *--p = ' ';
      field[3] = ' ';
    }
    for (char& c : text[kHighestThree - kLowestThree + 1]) c = '*';
  }
};
constexpr ThreeCharacterFields kThreeCharacterFields;

// Places the I3 fields of `count` values from `out` on, without owed blanks;
// returns whether any of them is asterisks.
bool PlaceThreeCharacterFields(unsigned char*& out, const int32_t* values, int count, ptrdiff_t stride) {
  constexpr auto kAsterisks = static_cast<uint32_t>(kHighestThree - kLowestThree + 1);
  // The fields' fourth bytes, or'ed: a blank, unless a field of asterisks
  // gave its own. One instruction a value, where a test of each costs more.
  uint32_t marks = 0;
  for (int i = 0; i < count; ++i, values += stride) {
    uint32_t index = std::min(static_cast<uint32_t>(*values) - static_cast<uint32_t>(kLowestThree), kAsterisks);
    uint32_t field = 0;
    std::memcpy(&field, kThreeCharacterFields.text[index], 4);
    std::memcpy(out, &field, 4);
    marks |= field;
    out += 3;
  }
  unsigned char bytes[4];
  std::memcpy(bytes, &marks, 4);
  return bytes[3] != ' ';
}

// Notes the I3 fields of `count` values written as asterisks, the first
// value's field at the record's column `firstColumn` (from 1).
void NoteStarredFields(const int32_t* values, int count, ptrdiff_t stride, int64_t firstColumn) {
  auto fits = [](int32_t value) { return value >= kLowestThree && value <= kHighestThree; };
  int first = 0;
  while (fits(values[first * stride])) ++first;
  int32_t starred = 0;
  for (int i = first; i < count; ++i) starred += fits(values[i * stride]) ? 0 : 1;
  NoteStarred(starred, firstColumn + 3 * first, values[first * stride]);
}

// The common case: consecutive uses of one field Iw whose blanks and width
// span at most kFieldSpan, into a file unit's buffer while it has room. Each
// field is laid down as a span of blanks with the digits stored over its
// end, using only stores; the unit's buffer has slack for the span's tail,
// which later bytes overwrite. I3 fields after the first take ready fields.
// Returns how many of the `count` values were placed.
int PlaceFieldRun(const LayoutItem& field, const int32_t* values, int count, ptrdiff_t stride) {
  static constexpr char kBlankSpan[kFieldSpan + 1] = "                ";
  static_assert(std::string_view(kBlankSpan).size() == kFieldSpan);
  RecordWriterState& writer = layer.recordWriter;
  const int width = field.width;
  if (writer.destination != RecordDestination::File || field.minimum != 1 || width < 1 || width > kFieldSpan) return 0;
  UnitRecord& unit = *writer.unit;
  if (!unit.writing) return 0;
  unsigned char* start = unit.buffer + unit.position;
  unsigned char* out = start;
  // Room in the buffer, and in the record below its limit: the field past
  // that limit is left to the general placing, which refuses it.
  int64_t room = std::min<int64_t>(unit.bufferSize - unit.position, kMaxRecordChars - writer.recordChars);
  int64_t size = writer.pendingBlanks + width;
  int placed = 0;
  for (; placed < count && size <= kFieldSpan && size <= room; ++placed, values += stride) {
    if (width == 3 && size == 3) {
      int fitting = static_cast<int>(std::min<int64_t>(count - placed, room / 3));
      unsigned char* runStart = out;
      if (PlaceThreeCharacterFields(out, values, fitting, stride)) [[unlikely]] {
        NoteStarredFields(values, fitting, stride, writer.recordChars + (runStart - start) + 1);
      }
      placed += fitting;
      break;
    }
    std::memcpy(out, kBlankSpan, kFieldSpan);
    unsigned char* fieldEnd = out + size;
    int32_t value = *values;
    if (value > kFieldHighest[width] || value < -kFieldHighest[width - 1]) [[unlikely]] {
      NoteStarred(1, writer.recordChars + (fieldEnd - start) - width + 1, value);
      std::memset(fieldEnd - width, '*', static_cast<size_t>(width));
    } else {
      DecimalText(fieldEnd, value);
    }
    out = fieldEnd;
    room -= size;
    size = width;
  }
  if (placed > 0) {
    writer.recordChars += out - start;
    unit.position += static_cast<int>(out - start);
    unit.written = true;
    writer.pendingBlanks = 0;
  }
  return placed;
}

void EndRecord() {
  RecordWriterState& writer = layer.recordWriter;
  switch (writer.destination) {
    case RecordDestination::File:
      PlaceBytes(*writer.unit, "\r\n", 2);
      ++writer.unit->recordsWritten;
      break;
    case RecordDestination::Device:
      EndConsoleRecord(*writer.unit);
      ++writer.unit->recordsWritten;
      break;
    case RecordDestination::Internal:
      std::fill_n(writer.text + writer.recordChars, writer.textLength - writer.recordChars, ' ');
      writer.textLength = 0;  // the text holds one record only
      break;
  }
  writer.recordChars = 0;
}

// Reads items until an integer field, performing groups and moves on the
// way. A layout end reverts when a value waits; otherwise reading stops
// there and nullptr is returned.
const LayoutItem* ReadToNextField(bool valueWaiting) {
  RecordWriterState& writer = layer.recordWriter;
  for (;;) {
    const LayoutItem& item = writer.items[static_cast<size_t>(writer.current++)];
    switch (item.kind) {
      case LayoutItemKind::GroupStart:
        writer.passesLeft[writer.depth++] = item.count;
        break;
      case LayoutItemKind::GroupEnd:
        if (--writer.passesLeft[writer.depth - 1] > 0) {
          writer.current = item.jump;
        } else {
          --writer.depth;
        }
        break;
      case LayoutItemKind::IntegerField:
        writer.fieldRepeatsLeft = item.count - 1;
        return &item;
      case LayoutItemKind::PositionMove:
        writer.pendingBlanks += item.count;
        break;
      case LayoutItemKind::LayoutEnd:
        if (!valueWaiting) {
          --writer.current;
          return nullptr;
        }
        // A layout without a field to revert to has put the value nowhere.
        if (item.jump < 0) RaiseRunError(LayoutOutOfPlace);
        writer.pendingBlanks = 0;
        EndRecord();
        writer.current = item.jump;
        break;
      case LayoutItemKind::LayoutError:
        RaiseRunError(item.count);
    }
  }
}

inline const LayoutItem* NextField(bool valueWaiting) {
  RecordWriterState& writer = layer.recordWriter;
  if (writer.fieldRepeatsLeft <= 0) return ReadToNextField(valueWaiting);
  if (valueWaiting) --writer.fieldRepeatsLeft;
  return &writer.items[static_cast<size_t>(writer.current - 1)];
}

// Makes room for the compiled layout of a text of `length` characters;
// false, with nothing kept, when the memory cannot be had.
bool ReserveLayout(int length) {
  RecordWriterState& writer = layer.recordWriter;
  int32_t needed = LayoutItemsFor(length);
  if (writer.items != nullptr && needed <= writer.capacity) return true;
  ReleaseLayerMemory(writer.items);
  ReleaseLayerMemory(writer.layoutText);
  writer.items = static_cast<LayoutItem*>(AllocateLayerMemory(sizeof(LayoutItem) * static_cast<size_t>(needed)));
  writer.layoutText = static_cast<char*>(AllocateLayerMemory(static_cast<size_t>(needed)));
  writer.capacity = needed;
  if (writer.items != nullptr && writer.layoutText != nullptr) return true;
  ReleaseLayerMemory(writer.items);
  ReleaseLayerMemory(writer.layoutText);
  writer.items = nullptr;
  writer.layoutText = nullptr;
  return false;
}

// Starts a statement's record; the layout is compiled only when its text changed.
void StartRecord(RecordDestination destination, const char* layout, int layoutLength) {
  RecordWriterState& writer = layer.recordWriter;
  layer.writeMode = WriteMode::Formatted;
  layoutLength = std::max(layoutLength, 0);
  std::string_view text(layout, static_cast<size_t>(layoutLength));
  bool compiled = writer.items != nullptr &&
                  std::string_view(writer.layoutText, static_cast<size_t>(writer.layoutLength)) == text;
  if (!compiled) {
    if (!ReserveLayout(layoutLength)) RaiseNoLayerMemory();
    std::copy_n(layout, layoutLength, writer.layoutText);
    writer.layoutLength = layoutLength;
    CompileLayout(layout, layoutLength, writer.items);
  }
  writer.destination = destination;
  writer.pendingBlanks = 0;
  writer.recordChars = 0;
  writer.current = 0;
  writer.fieldRepeatsLeft = 0;
  writer.depth = 0;
}

}  // namespace

void beginWrite(int unit, const char* layout, int layoutLength) {
  UnitRecord* record = SelectUnit(unit, StatementKind::Write);
  BeginStatement(StatementKind::Write, record);
  if (record == nullptr) RaiseRunError(FileNotFound);  // as a read on such a unit
  layer.recordWriter.unit = record;
  StartRecord(record->controlCarriage ? RecordDestination::Device : RecordDestination::File, layout, layoutLength);
}

void beginWrite(char* text, int textLength, const char* layout, int layoutLength) {
  BeginStatement(StatementKind::Write, layer.unitTable.slots[kInternalSlot].record);
  layer.recordWriter.text = text;
  layer.recordWriter.textLength = std::max(textLength, 0);
  StartRecord(RecordDestination::Internal, layout, layoutLength);
}

void writeInteger(int32_t value) { writeIntegers(&value, 1, 1); }

void writeIntegers(const int32_t* first, int count, ptrdiff_t stride) {
  RecordWriterState& writer = layer.recordWriter;
  while (count > 0) {
    const LayoutItem& field = *NextField(true);
    int uses = 1 + std::clamp(writer.fieldRepeatsLeft, 0, count - 1);
    int placed = PlaceFieldRun(field, first, uses, stride);
    if (placed == 0) {
      PlaceField(field, *first);
      placed = 1;
    }
    writer.fieldRepeatsLeft -= placed - 1;
    first += placed * stride;
    count -= placed;
  }
}

void EndFormattedWrite() {
  NextField(false);
  layer.recordWriter.pendingBlanks = 0;  // a move at the record's end leaves no trailing blanks
  EndRecord();
}

int64_t fieldsStarred(int unit, StarredField& first) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Write);
  if (record == nullptr) return 0;
  first = {record->firstStarredRecord, record->firstStarredColumn, record->firstStarredValue};
  return record->starredFields;
}

int64_t recordsWritten(int unit) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Write);
  return record != nullptr ? record->recordsWritten : 0;
}

void ResetRecordWriter() {
  RecordWriterState& writer = layer.recordWriter;
  ReleaseLayerMemory(writer.items);
  ReleaseLayerMemory(writer.layoutText);
  writer = RecordWriterState{};
}

void concatenate(char* destination, int length, const TextPiece* pieces, int pieceCount) {
  // Built aside first: a piece may overlap the destination.
  auto room = static_cast<size_t>(std::max(length, 0));
  auto* fresh = static_cast<char*>(AllocateLayerMemory(room));
  if (fresh == nullptr) RaiseNoLayerMemory();
  size_t filled = 0;
  for (int i = 0; i < pieceCount && filled < room; ++i) {
    auto pieceLength = static_cast<size_t>(std::max(pieces[i].length, 0));
    size_t taken = std::min(pieceLength, room - filled);
    std::copy_n(pieces[i].text, taken, fresh + filled);
    filled += taken;
  }
  std::fill(fresh + filled, fresh + room, ' ');
  std::copy_n(fresh, room, destination);
  ReleaseLayerMemory(fresh);
}

}  // namespace textio
