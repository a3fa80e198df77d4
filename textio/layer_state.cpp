// The one instance of the layer's state, and its reset for tests.
#include "textio/layer_state.h"

namespace textio {

LayerState layer;

void ResetLayer() {
  for (UnitSlot& slot : layer.unitTable.slots) {
    if (slot.record != nullptr) {
      // Its file is closed too: on some systems an open file cannot be removed.
      if (slot.record->handle >= 3) (void)platform::Close(slot.record->handle);
      delete[] slot.record->buffer;
      delete slot.record;
    }
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

void BeginStatement(StatementKind kind, UnitRecord* unit, bool statusWanted) {
  layer.run.kind = kind;
  layer.run.currentUnit = unit;
  layer.run.statusWanted = statusWanted;
}

}  // namespace textio
