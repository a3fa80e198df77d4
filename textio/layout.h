// Compiled record layouts and the edited record writer's statement state.
// A layout compiles into a flat list of items; groups are jumps within it.
#pragma once

#include <cstdint>

#include "textio/textio.h"

namespace textio {

inline constexpr int kMaxGroupDepth = 16;  // groups inside the outer parentheses

enum class LayoutItemKind : uint8_t {
  GroupStart,    // count: passes
  GroupEnd,      // jump: the item after its group start
  IntegerField,  // count: uses; width, minimum: Iw.m
  PositionMove,  // count: columns
  LayoutEnd,     // jump: the reversion point; -1 when no field follows it
  LayoutError,   // count: the run-time error number
};

struct LayoutItem {
  LayoutItemKind kind;
  int32_t count;
  int32_t width;
  int32_t minimum;
  int32_t jump;
};

// A layout text of `length` characters compiles into at most this many items.
inline int32_t LayoutItemsFor(int length) { return (length > 0 ? length : 0) + 1; }

// Compiles text[0..length) into `items`, which has room for
// LayoutItemsFor(length) items; returns how many it made. The list always
// ends with a layout end or, where the text stopped making sense, a layout error.
int32_t CompileLayout(const char* text, int length, LayoutItem* items);

enum class RecordDestination : uint8_t { File, Device, Internal, Block };

struct RecordBlock;
struct RecordTally;

struct RecordWriterState {
  int64_t pendingBlanks;  // wide, so that long position moves cannot overflow
  int64_t recordChars;    // also the next position in an internal text
  int32_t current;        // the next item to read
  int32_t fieldRepeatsLeft;
  int32_t depth;          // open groups
  int32_t passesLeft[kMaxGroupDepth];
  RecordDestination destination;
  UnitRecord* unit;       // file or device destination
  char* text;             // internal destination
  int64_t textLength;     // 0 once its one record has ended
  RecordBlock* block;     // block destination
  RecordTally* tally;     // what the records are counted into; none for an internal text
  // The compiled layout and the text it was compiled from, kept while the
  // text does not change; none before the first. Both have room for a text
  // of `capacity` - 1 characters.
  LayoutItem* items;
  char* layoutText;
  int32_t layoutLength;
  int32_t capacity;
};

}  // namespace textio
