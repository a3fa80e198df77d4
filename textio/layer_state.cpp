// The one instance of the layer's state, and its reset for tests.
#include "textio/layer_state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace textio {

LayerState layer;

void ResetLayer() {
  for (UnitSlot& slot : layer.unitTable.slots) {
    // Its file is closed too: on some systems an open file cannot be removed.
    if (slot.record != nullptr) DiscardUnitRecord(slot.record);
  }
  ResetRecordWriter();
  layer.unitTable = {};
  for (UnitSlot& slot : layer.unitTable.slots) slot.unit = kFreeSlot;
  layer.nameScratch[0] = '\0';
  layer.argumentsUsed = 0;
  layer.run = {};
  layer.writeMode = WriteMode::Console;
  layer.reader = {};
  layer.consoleWriter = {};
}

void* AllocateLayerMemory(size_t size) { return std::calloc(1, size == 0 ? 1 : size); }

void ReleaseLayerMemory(void* block) { std::free(block); }

void BeginStatement(StatementKind kind, UnitRecord* unit, bool statusWanted) {
  layer.run.kind = kind;
  layer.run.currentUnit = unit;
  layer.run.statusWanted = statusWanted;
}

FixedText& FixedText::Add(const char* text, size_t length) {
  size_t room = static_cast<size_t>(end - next);
  length = std::min(length, room);
  std::memcpy(next, text, length);
  next += length;
  *next = '\0';
  return *this;
}

FixedText& FixedText::Add(const char* text) { return Add(text, std::strlen(text)); }

FixedText& FixedText::Add(int64_t number) {
  char digits[24];
  char* first = DecimalText(digits + sizeof digits, number);
  return Add(first, static_cast<size_t>(digits + sizeof digits - first));
}

const char* CauseText(platform::Cause cause) {
  switch (cause) {
    case platform::Cause::NotFound: return "not found";
    case platform::Cause::AccessDenied: return "access denied";
    case platform::Cause::Exists: return "the file exists";
    case platform::Cause::TooManyOpen: return "too many open files";
    case platform::Cause::NoSpace: return "no space left on device";
    case platform::Cause::Broken: return "the reading end is closed";
    case platform::Cause::DeviceError: return "input/output error";
    case platform::Cause::TooLarge: return "file too large";
    case platform::Cause::Invalid: return "refused by the system";
    case platform::Cause::None: break;
  }
  return "";
}

}  // namespace textio
