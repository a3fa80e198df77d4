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

// What a record block's editing raises in place of a report: the error
// stays with the block (RecordBlock::error).
struct BlockFailure {
  int number;
};

// Raises a run-time error of the record being edited: for a block, only
// as far as the block's own operation.
[[noreturn]] void RaiseRecordError(const RecordWriterState& writer, int number) {
  if (writer.destination == RecordDestination::Block) throw BlockFailure{number};
  RaiseRunError(number);
}

// Hands placed characters to the destination; `recordChars` counts them.
void Emit(RecordWriterState& writer, const char* bytes, int count) {
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
    case RecordDestination::Block: {
      RecordBlock& block = *writer.block;
      if (count > block.capacity - block.size) RaiseRecordError(writer, InternalRecordFull);
      std::copy_n(bytes, count, block.bytes + block.size);
      block.size += count;
      break;
    }
  }
  writer.recordChars += count;
}

// Gathers the blanks owed before a field and the field itself, so that a
// field costs one placing; only a very wide field goes in several.
class Stage {
 public:
  explicit Stage(RecordWriterState& writer) : writer_(writer) {}
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
    if (count_ > 0) Emit(writer_, bytes_, count_);
    count_ = 0;
  }

 private:
  static constexpr int kSize = 64;
  RecordWriterState& writer_;
  char bytes_[kSize];
  int count_ = 0;
};

// Notes `count` fields of the record written as asterisks, the first of
// them at column `column` (from 1), of the value `value`: a unit counts
// them, and keeps the first.
void NoteStarred(const RecordWriterState& writer, int64_t count, int64_t column, int32_t value) {
  RecordTally* tally = writer.tally;
  if (tally == nullptr) return;
  if (tally->starredFields == 0) {
    tally->firstStarredRecord = tally->recordsWritten + 1;
    tally->firstStarredColumn = column;
    tally->firstStarredValue = value;
  }
  tally->starredFields += count;
}

// Raises the error for a record that `count` more characters would make too
// long, before any of them is placed.
void CheckRoom(const RecordWriterState& writer, int64_t count) {
  bool internal = writer.destination == RecordDestination::Internal;
  if (writer.recordChars + count > (internal ? writer.textLength : kMaxRecordChars)) {
    RaiseRecordError(writer, internal ? InternalRecordFull : RecordTooLong);
  }
}

// Places `value` in an integer field Iw.m, right-justified after the owed
// blanks, or w asterisks when it does not fit.
void PlaceField(RecordWriterState& writer, const LayoutItem& field, int32_t value) {
  CheckRoom(writer, writer.pendingBlanks + field.width);
  char digits[10];
  char* const end = digits + sizeof digits;
  // Zero has no digit of its own here: the minimum digits give it its 0.
  const char* first = value != 0 ? DecimalDigits(end, Magnitude(value)) : end;
  int digitCount = static_cast<int>(end - first);
  int64_t zeros = std::max(field.minimum - digitCount, 0);
  int64_t length = (value < 0 ? 1 : 0) + zeros + digitCount;

  Stage stage(writer);
  if (length > field.width) {
    NoteStarred(writer, 1, writer.recordChars + writer.pendingBlanks + 1, value);
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
inline uint32_t ThreeCharacterField(int32_t value) {
  constexpr auto kAsterisks = static_cast<uint32_t>(kHighestThree - kLowestThree + 1);
  uint32_t index = std::min(static_cast<uint32_t>(value) - static_cast<uint32_t>(kLowestThree), kAsterisks);
  uint32_t field = 0;
  std::memcpy(&field, kThreeCharacterFields.text[index], 4);
  return field;
}

bool PlaceThreeCharacterFields(unsigned char*& out, const int32_t* values, int count, ptrdiff_t stride) {
  // The fields' fourth bytes, or'ed: a blank, unless a field of asterisks
  // gave its own. One instruction a value, where a test of each costs more.
  // Four values a turn share the loop's own instructions.
  uint32_t marks = 0;
  int i = 0;
  for (; i + 4 <= count; i += 4, values += 4 * stride, out += 12) {
    uint32_t fields[4] = {ThreeCharacterField(values[0]), ThreeCharacterField(values[stride]),
                          ThreeCharacterField(values[2 * stride]), ThreeCharacterField(values[3 * stride])};
    for (int k = 0; k < 4; ++k) std::memcpy(out + 3 * k, &fields[k], 4);
    marks |= fields[0] | fields[1] | fields[2] | fields[3];
  }
  for (; i < count; ++i, values += stride, out += 3) {
    uint32_t field = ThreeCharacterField(*values);
    std::memcpy(out, &field, 4);
    marks |= field;
  }
  unsigned char bytes[4];
  std::memcpy(bytes, &marks, 4);
  return bytes[3] != ' ';
}

// Notes the I3 fields of `count` values written as asterisks, the first
// value's field at the record's column `firstColumn` (from 1).
void NoteStarredFields(const RecordWriterState& writer, const int32_t* values, int count, ptrdiff_t stride,
                       int64_t firstColumn) {
  auto fits = [](int32_t value) { return value >= kLowestThree && value <= kHighestThree; };
  int first = 0;
  while (fits(values[first * stride])) ++first;
  int32_t starred = 0;
  for (int i = first; i < count; ++i) starred += fits(values[i * stride]) ? 0 : 1;
  NoteStarred(writer, starred, firstColumn + 3 * first, values[first * stride]);
}

// Where a run of fields may be stored straight, with the room there: a file
// unit's buffer once the file is cut, or a block; null elsewhere.
unsigned char* DirectArea(const RecordWriterState& writer, int64_t& room) {
  if (writer.destination == RecordDestination::Block) {
    RecordBlock& block = *writer.block;
    room = block.capacity - block.size;
    return reinterpret_cast<unsigned char*>(block.bytes + block.size);
  }
  if (writer.destination != RecordDestination::File || !writer.unit->writing) return nullptr;
  UnitRecord& unit = *writer.unit;
  room = unit.bufferSize - unit.position;
  return unit.buffer + unit.position;
}

// The direct area has taken `placed` more bytes.
void AdvanceDirect(RecordWriterState& writer, int64_t placed) {
  if (writer.destination == RecordDestination::Block) {
    writer.block->size += placed;
  } else {
    writer.unit->position += static_cast<int>(placed);
    writer.unit->written = true;
  }
  writer.recordChars += placed;
  writer.pendingBlanks = 0;
}

// The common case: consecutive uses of one field Iw whose blanks and width
// span at most kFieldSpan, into the direct area while it has room. Each
// field is laid down as a span of blanks with the digits stored over its
// end, using only stores; the area has slack for the span's tail, which
// later bytes overwrite. I3 fields after the first take ready fields, and
// so do values of up to three characters in wider fields.
// Returns how many of the `count` values were placed.
int PlaceFieldRun(RecordWriterState& writer, const LayoutItem& field, const int32_t* values, int count,
                  ptrdiff_t stride) {
  static constexpr char kBlankSpan[kFieldSpan + 1] = "                ";
  static_assert(std::string_view(kBlankSpan).size() == kFieldSpan);
  const int width = field.width;
  if (field.minimum != 1 || width < 1 || width > kFieldSpan) return 0;
  int64_t room = 0;
  unsigned char* const start = DirectArea(writer, room);
  if (start == nullptr) return 0;
  unsigned char* out = start;
  // Room in the record below its limit too: the field past that limit is
  // left to the general placing, which refuses it.
  room = std::min(room, kMaxRecordChars - writer.recordChars);
  int64_t size = writer.pendingBlanks + width;
  int placed = 0;
  for (; placed < count && size <= kFieldSpan && size <= room; ++placed, values += stride) {
    if (width == 3 && size == 3) {
      int fitting = static_cast<int>(std::min<int64_t>(count - placed, room / 3));
      unsigned char* runStart = out;
      if (PlaceThreeCharacterFields(out, values, fitting, stride)) [[unlikely]] {
        NoteStarredFields(writer, values, fitting, stride, writer.recordChars + (runStart - start) + 1);
      }
      placed += fitting;
      break;
    }
    std::memcpy(out, kBlankSpan, kFieldSpan);
    unsigned char* fieldEnd = out + size;
    int32_t value = *values;
    if (width >= 3 && value >= kLowestThree && value <= kHighestThree) {
      uint32_t ready = ThreeCharacterField(value);
      std::memcpy(fieldEnd - 3, &ready, 4);
    } else if (value > kFieldHighest[width] || value < -kFieldHighest[width - 1]) [[unlikely]] {
      NoteStarred(writer, 1, writer.recordChars + (fieldEnd - start) - width + 1, value);
      std::memset(fieldEnd - width, '*', static_cast<size_t>(width));
    } else {
      DecimalText(fieldEnd, value);
    }
    out = fieldEnd;
    room -= size;
    size = width;
  }
  if (placed > 0) AdvanceDirect(writer, out - start);
  return placed;
}

// A record of a file ends with CR LF, as a file's lines do.
constexpr char kRecordEnd[] = "\r\n";
constexpr int kRecordEndLength = sizeof kRecordEnd - 1;

void EndRecord(RecordWriterState& writer) {
  int64_t room = 0;
  unsigned char* area = DirectArea(writer, room);
  if (area != nullptr && room >= kRecordEndLength) {
    std::memcpy(area, kRecordEnd, kRecordEndLength);
    AdvanceDirect(writer, kRecordEndLength);
  } else {
    switch (writer.destination) {
      case RecordDestination::File:
        PlaceBytes(*writer.unit, kRecordEnd, kRecordEndLength);
        break;
      case RecordDestination::Device:
        EndConsoleRecord(*writer.unit);
        break;
      case RecordDestination::Internal:
        std::fill_n(writer.text + writer.recordChars, writer.textLength - writer.recordChars, ' ');
        writer.textLength = 0;  // the text holds one record only
        break;
      case RecordDestination::Block:
        RaiseRecordError(writer, InternalRecordFull);
    }
  }
  if (writer.tally != nullptr) ++writer.tally->recordsWritten;
  writer.recordChars = 0;
}

// Reads items until an integer field, performing groups and moves on the
// way. A layout end reverts when a value waits; otherwise reading stops
// there and nullptr is returned.
const LayoutItem* ReadToNextField(RecordWriterState& writer, bool valueWaiting) {
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
        if (item.jump < 0) RaiseRecordError(writer, LayoutOutOfPlace);
        writer.pendingBlanks = 0;
        EndRecord(writer);
        writer.current = item.jump;
        break;
      case LayoutItemKind::LayoutError:
        RaiseRecordError(writer, item.count);
    }
  }
}

inline const LayoutItem* NextField(RecordWriterState& writer, bool valueWaiting) {
  if (writer.fieldRepeatsLeft <= 0) return ReadToNextField(writer, valueWaiting);
  if (valueWaiting) --writer.fieldRepeatsLeft;
  return &writer.items[static_cast<size_t>(writer.current - 1)];
}

// Makes room for the compiled layout of a text of `length` characters;
// false, with nothing kept, when the memory cannot be had.
bool ReserveLayout(RecordWriterState& writer, int length) {
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

// Compiles the layout text into the writer's items, when it is not the
// text they were compiled from; false when the memory cannot be had.
bool TakeLayout(RecordWriterState& writer, const char* layout, int layoutLength) {
  layoutLength = std::max(layoutLength, 0);
  std::string_view text(layout, static_cast<size_t>(layoutLength));
  if (writer.items != nullptr &&
      std::string_view(writer.layoutText, static_cast<size_t>(writer.layoutLength)) == text) {
    return true;
  }
  if (!ReserveLayout(writer, layoutLength)) return false;
  std::copy_n(layout, layoutLength, writer.layoutText);
  writer.layoutLength = layoutLength;
  CompileLayout(layout, layoutLength, writer.items);
  return true;
}

void StartRecord(RecordWriterState& writer) {
  writer.pendingBlanks = 0;
  writer.recordChars = 0;
  writer.current = 0;
  writer.fieldRepeatsLeft = 0;
  writer.depth = 0;
}

// Starts a statement's record; the layout is compiled only when its text changed.
void StartStatementRecord(RecordDestination destination, const char* layout, int layoutLength) {
  RecordWriterState& writer = layer.recordWriter;
  layer.writeMode = WriteMode::Formatted;
  if (!TakeLayout(writer, layout, layoutLength)) RaiseNoLayerMemory();
  writer.destination = destination;
  writer.tally = destination == RecordDestination::Internal ? nullptr : &writer.unit->tally;
  StartRecord(writer);
}

void WriteIntegers(RecordWriterState& writer, const int32_t* first, int count, ptrdiff_t stride) {
  while (count > 0) {
    const LayoutItem& field = *NextField(writer, true);
    int uses = 1 + std::clamp(writer.fieldRepeatsLeft, 0, count - 1);
    int placed = PlaceFieldRun(writer, field, first, uses, stride);
    if (placed == 0) {
      PlaceField(writer, field, *first);
      placed = 1;
    }
    writer.fieldRepeatsLeft -= placed - 1;
    first += placed * stride;
    count -= placed;
  }
}

void EndRecordStatement(RecordWriterState& writer) {
  NextField(writer, false);
  writer.pendingBlanks = 0;  // a move at the record's end leaves no trailing blanks
  EndRecord(writer);
}

// Runs a block's operation; an error it meets stays with the block, which
// then takes nothing more.
template <typename Operation>
void OnBlock(RecordBlock& block, Operation operation) {
  if (block.error != 0) return;
  try {
    operation(block.writer);
  } catch (const BlockFailure& failure) {
    block.error = failure.number;
  }
}

}  // namespace

void beginWrite(int unit, const char* layout, int layoutLength) {
  UnitRecord* record = SelectUnit(unit, StatementKind::Write);
  BeginStatement(StatementKind::Write, record);
  if (record == nullptr) RaiseRunError(FileNotFound);  // as a read on such a unit
  layer.recordWriter.unit = record;
  StartStatementRecord(record->controlCarriage ? RecordDestination::Device : RecordDestination::File, layout,
                       layoutLength);
}

void beginWrite(char* text, int textLength, const char* layout, int layoutLength) {
  BeginStatement(StatementKind::Write, layer.unitTable.slots[kInternalSlot].record);
  layer.recordWriter.text = text;
  layer.recordWriter.textLength = std::max(textLength, 0);
  StartStatementRecord(RecordDestination::Internal, layout, layoutLength);
}

void writeInteger(int32_t value) { WriteIntegers(layer.recordWriter, &value, 1, 1); }

void writeIntegers(const int32_t* first, int count, ptrdiff_t stride) {
  WriteIntegers(layer.recordWriter, first, count, stride);
}

void EndFormattedWrite() { EndRecordStatement(layer.recordWriter); }

RecordBlock* OpenRecordBlock(const char* layout, int layoutLength, int64_t capacity) {
  auto* block = static_cast<RecordBlock*>(AllocateLayerMemory(sizeof(RecordBlock)));
  if (block == nullptr) return nullptr;
  block->bytes = static_cast<char*>(AllocateLayerMemory(static_cast<size_t>(capacity + kBufferSlack)));
  if (block->bytes == nullptr || !TakeLayout(block->writer, layout, layoutLength)) {
    CloseRecordBlock(block);
    return nullptr;
  }
  block->capacity = capacity;
  block->writer.destination = RecordDestination::Block;
  block->writer.block = block;
  block->writer.tally = &block->tally;
  return block;
}

void CloseRecordBlock(RecordBlock* block) {
  ReleaseLayerMemory(block->writer.items);
  ReleaseLayerMemory(block->writer.layoutText);
  ReleaseLayerMemory(block->bytes);
  ReleaseLayerMemory(block);
}

bool TakesRecordBlocks(int unit) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Write);
  return record != nullptr && record->kind == UnitKind::Sequential && record->action == UnitAction::Write;
}

void beginWrite(RecordBlock& block) {
  OnBlock(block, [](RecordWriterState& writer) { StartRecord(writer); });
}

void writeIntegers(RecordBlock& block, const int32_t* first, int count, ptrdiff_t stride) {
  OnBlock(block, [=](RecordWriterState& writer) { WriteIntegers(writer, first, count, stride); });
}

void writeInteger(RecordBlock& block, int32_t value) { writeIntegers(block, &value, 1, 1); }

void endWrite(RecordBlock& block) {
  OnBlock(block, [](RecordWriterState& writer) { EndRecordStatement(writer); });
}

bool PassRecordBlock(int unit, RecordBlock& block) {
  UnitRecord& record = *SelectUnit(unit, StatementKind::Write);
  platform::Cause cause = block.size > 0 ? TakeBytes(record, block.bytes, static_cast<size_t>(block.size))
                                         : platform::Cause::None;
  // A failed write comes before any error met in editing the records after it.
  if (cause != platform::Cause::None) block.error = WriteFailureError(cause, block.errorDetail);
  RecordTally& tally = record.tally;
  if (tally.starredFields == 0 && block.tally.starredFields > 0) {
    tally.firstStarredRecord = tally.recordsWritten + block.tally.firstStarredRecord;
    tally.firstStarredColumn = block.tally.firstStarredColumn;
    tally.firstStarredValue = block.tally.firstStarredValue;
  }
  tally.starredFields += block.tally.starredFields;
  tally.recordsWritten += block.tally.recordsWritten;
  block.size = 0;
  block.tally = {};
  return block.error == 0;
}

void RaiseBlockError(int unit, const RecordBlock& block) {
  BeginStatement(StatementKind::Write, SelectUnit(unit, StatementKind::Write));
  RaiseRunError(block.error, block.errorDetail);
}

int64_t FieldsStarred(int unit, StarredField& first) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Write);
  if (record == nullptr) return 0;
  const RecordTally& tally = record->tally;
  first = {tally.firstStarredRecord, tally.firstStarredColumn, tally.firstStarredValue};
  return tally.starredFields;
}

int64_t RecordsWritten(int unit) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Write);
  return record != nullptr ? record->tally.recordsWritten : 0;
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
