// Units: the table that ties unit numbers to files, devices and the console;
// connecting and disconnecting; the output buffer of a file unit.
#include <algorithm>
#include <cstring>

#include "textio/layer_state.h"
#include "textio/platform.h"

namespace textio {
namespace {

UnitSlot* Slots() { return layer.unitTable.slots; }

// A file connected only for writing takes larger loads, a multiple of the
// block size, once its first block has been written: a file that takes no
// bytes at all still fails at the first block, and far fewer writes are made.
constexpr int kFileWriteLoad = 1 << 18;
static_assert(kFileWriteLoad % kFileBlockSize == 0);

bool EqualIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return *a == *b;
}

UnitRecord* NewRecord(const char* name, UnitKind kind, int bufferSize) {
  auto* record = static_cast<UnitRecord*>(AllocateLayerMemory(sizeof(UnitRecord)));
  if (record == nullptr) return nullptr;
  if (bufferSize > 0) {
    record->buffer = static_cast<unsigned char*>(AllocateLayerMemory(static_cast<size_t>(bufferSize + kBufferSlack)));
    if (record->buffer == nullptr) {
      ReleaseLayerMemory(record);
      return nullptr;
    }
  }
  size_t length = std::min(std::strlen(name), static_cast<size_t>(kMaxNameLength));
  std::memcpy(record->name, name, length);
  record->name[length] = '\0';
  record->kind = kind;
  record->bufferSize = bufferSize;
  record->lastIndex = -1;
  record->handle = -1;
  record->lastByteLineEnd = true;
  return record;
}

UnitRecord* NewConsoleRecord(int handle) {
  UnitRecord* record = NewRecord("CON", UnitKind::Device, kConsoleBufferSize);
  if (record == nullptr) RaiseNoLayerMemory();
  record->handle = handle;
  record->console = true;
  record->controlCarriage = true;
  return record;
}

UnitRecord* SelectConsole(StatementKind kind) {
  UnitSlot* slots = Slots();
  if (kind != StatementKind::Write) return slots[kConsoleSlot].record;
  if (slots[kConsoleOutputSlot].record != nullptr) return slots[kConsoleOutputSlot].record;
  slots[kConsoleSlot].record->position = 0;
  return slots[kConsoleSlot].record;
}

int FindSlot(int32_t unit) {
  UnitSlot* slots = Slots();
  for (int s = kFirstFileSlot; s <= kLastFileSlot; ++s) {
    if (slots[s].record != nullptr && slots[s].unit == unit) return s;
  }
  return 0;
}

int StatusFor(platform::Cause cause) {
  switch (cause) {
    case platform::Cause::NotFound: return FileNotFound;
    case platform::Cause::AccessDenied: return OpenAccessDenied;
    case platform::Cause::Exists: return FileExistsAlready;
    case platform::Cause::TooManyOpen: return TooManyOpenFiles;
    default: return OpenInvalidName;
  }
}

// The name of a connect request: up to its first NUL, at most 259
// characters, without blanks at either end.
int TrimName(const char* name, int length, char* out) {
  int n = std::min(length, kMaxNameLength);
  const char* nul = static_cast<const char*>(std::memchr(name, '\0', static_cast<size_t>(n)));
  if (nul != nullptr) n = static_cast<int>(nul - name);
  int first = 0;
  while (first < n && name[first] == ' ') ++first;
  while (n > first && name[n - 1] == ' ') --n;
  std::memcpy(out, name + first, static_cast<size_t>(n - first));
  out[n - first] = '\0';
  return n - first;
}

// An empty name: the next unused command-line argument, or a line typed on
// standard input. Returns 0, or the status that ends the connect: a name
// longer than a connect takes is refused, never cut to another name.
int AskForName(int unit) {
  if (layer.argumentsUsed < platform::ArgumentCount()) {
    const char* argument = platform::Argument(layer.argumentsUsed++);
    const size_t length = std::strlen(argument);
    if (length > static_cast<size_t>(kMaxNameLength)) return OpenInvalidName;
    TrimName(argument, static_cast<int>(length), layer.nameScratch);
    return 0;
  }
  // The prompt starts a line of its own, after the console line still open.
  UnitRecord* console = ConsoleOutputRecord();
  if (console->lineOpen) WriteConsoleLineEnd(*console);
  char prompt[96];
  FixedText text(prompt, sizeof prompt);
  text.Add("File name missing or blank - please enter file name\r\nUNIT ").Add(int64_t{unit}).Add("? ");
  for (;;) {
    (void)platform::WriteAll(1, prompt, static_cast<size_t>(text.next - prompt));
    char line[kMaxNameLength + 1];
    int length = 0;
    int status = ReadConsoleLine(line, kMaxNameLength + 1, length);
    if (status != 0) return status;
    if (length > kMaxNameLength) return OpenInvalidName;
    if (TrimName(line, length, layer.nameScratch) > 0) return 0;
  }
}

enum class Device : uint8_t { None, Console, StandardError, Opened };

// Whether a name is a device: the part before its last '.' is compared with
// the device names; with an extension, names starting E, L or U are files.
// A device is cut to the name it is opened by; one this system does not
// have leaves the name an ordinary file name.
Device DeviceFor(char* name) {
  static const struct {
    const char* name;
    const char* opened;  // the name the connection takes
    Device device;
  } kDevices[] = {
      {"CON", "CON", Device::Console},   {"USER", "CON", Device::Console}, {"ERR", "ERR", Device::StandardError},
      {"NUL", "NUL", Device::Opened},    {"PRN", "PRN", Device::Opened},   {"LPT1", "LPT1", Device::Opened},
      {"LPT2", "LPT2", Device::Opened},  {"LPT3", "LPT3", Device::Opened}, {"LPT4", "LPT4", Device::Opened},
      {"COM1", "COM1", Device::Opened},  {"COM2", "COM2", Device::Opened}, {"COM3", "COM3", Device::Opened},
      {"COM4", "COM4", Device::Opened},  {"AUX", "COM1", Device::Opened},  {"LINE", "COM1", Device::Opened},
  };
  char* dot = std::strrchr(name, '.');
  size_t stem = dot != nullptr ? static_cast<size_t>(dot - name) : std::strlen(name);
  if (stem < 3 || stem > 4) return Device::None;
  char first = static_cast<char>(name[0] & ~0x20);
  if (dot != nullptr && dot[1] != '\0' && (first == 'E' || first == 'L' || first == 'U')) return Device::None;
  char part[5] = {};
  std::memcpy(part, name, stem);
  for (const auto& device : kDevices) {
    if (!EqualIgnoringCase(part, device.name)) continue;
    if (device.device == Device::Opened && platform::DevicePath(device.opened) == nullptr) return Device::None;
    std::strcpy(name, device.opened);
    return device.device;
  }
  return Device::None;
}

bool SameConnection(const UnitRecord& a, const UnitRecord& b, const platform::FileIdentity* identity) {
  if (a.kind == UnitKind::Device || identity == nullptr) {
    return b.kind == UnitKind::Device && std::strcmp(a.name, b.name) == 0 && std::strcmp(a.name, "NUL") != 0;
  }
  platform::FileIdentity other;
  return b.kind == UnitKind::Sequential && b.handle >= 3 && platform::Identify(b.handle, other) &&
         other.volume == identity->volume && other.index == identity->index;
}

// A keyword value: the keyword's letters in either case, then only blanks.
bool MatchesKeyword(const char* value, const char* keyword) {
  for (; *keyword != '\0'; ++value, ++keyword) {
    if (*value == '\0' || (*value & ~0x20) != *keyword) return false;
  }
  return std::strspn(value, " ") == std::strlen(value);
}

// The access of a connect: the first keyword, in this order, that the value
// matches. False when it matches none.
bool ActionFor(const char* keyword, UnitAction& action) {
  static const struct {
    const char* keyword;
    UnitAction action;
  } kActions[] = {{"READWRITE", UnitAction::ReadWrite}, {"READ", UnitAction::Read}, {"WRITE", UnitAction::Write}};
  for (const auto& entry : kActions) {
    if (MatchesKeyword(keyword, entry.keyword)) {
      action = entry.action;
      return true;
    }
  }
  return false;
}

// A name taken whole, byte for byte, into `out`; 0 when it is longer than a
// connect takes.
int WholeName(const char* name, int length, char* out) {
  if (length > kMaxNameLength) return 0;
  std::memcpy(out, name, static_cast<size_t>(length));
  out[length] = '\0';
  return length;
}

// The name of a connect, into the name scratch area: the request's own, or
// when that is empty one asked for. Returns 0, or the status that ends the connect.
int TakeName(int32_t unit, const char* fileName, int nameLength, NameForm form) {
  if (form == NameForm::Whole) return WholeName(fileName, nameLength, layer.nameScratch) > 0 ? 0 : OpenInvalidName;
  if (TrimName(fileName, nameLength, layer.nameScratch) > 0) return 0;
  return AskForName(unit);
}

// A fresh record for the connection, its buffer sized for its use; nullptr
// when the memory cannot be had.
UnitRecord* MakeRecord(const char* name, Device device, UnitAction action) {
  int bufferSize = device != Device::None       ? kConsoleBufferSize
                   : action == UnitAction::Read  ? kFileReadLoad
                   : action == UnitAction::Write ? kFileWriteLoad
                                                 : kFileBlockSize;
  UnitRecord* record =
      NewRecord(name, device == Device::None ? UnitKind::Sequential : UnitKind::Device, bufferSize);
  if (record == nullptr) return nullptr;
  record->laterLoad = bufferSize;
  if (device == Device::None && action == UnitAction::Write) record->bufferSize = kFileBlockSize;
  record->action = action;
  record->controlCarriage = device != Device::None;
  record->console = device == Device::Console;
  return record;
}

// Gives the record its handle: a standard one for the console and standard
// error, else the file or device `name` opened with the record's access; a
// missing file is created.
platform::Cause OpenRecord(UnitRecord& record, const char* name, Device device) {
  if (device == Device::Console) {
    record.handle = 0;
    return platform::Cause::None;
  }
  if (device == Device::StandardError) {
    record.handle = 2;
    return platform::Cause::None;
  }
  platform::OpenMode mode = record.action == UnitAction::Read    ? platform::OpenMode::Read
                            : record.action == UnitAction::Write ? platform::OpenMode::Write
                                                                 : platform::OpenMode::ReadWrite;
  const char* path = device == Device::Opened ? platform::DevicePath(name) : name;
  bool created = device == Device::None && !platform::Exists(path);
  // A file made by this connect is empty already: nothing to cut at the first write.
  record.writing = created;
  record.madeByConnect = created;
  return platform::Open(path, mode, created, record.handle);
}

// What CheckConnections returns when the record is to take a slot of its own.
constexpr int kTakeSlot = -1;

// The record's file or device against the units connected now: connected to
// another unit, status 6413; connected to this unit already, the connection
// stays as it is (status 0, or 6209 for another access); another file of
// this unit is disconnected first.
int CheckConnections(int32_t unit, const UnitRecord& record) {
  platform::FileIdentity identity;
  bool identified = record.kind == UnitKind::Sequential && platform::Identify(record.handle, identity);
  const platform::FileIdentity* file = identified ? &identity : nullptr;
  int own = FindSlot(unit);
  UnitSlot* slots = Slots();
  for (int s = kFirstFileSlot; s <= kLastFileSlot; ++s) {
    if (s == own || slots[s].record == nullptr) continue;
    if (SameConnection(record, *slots[s].record, file)) return FileConnectedElsewhere;
  }
  if (own == 0) return kTakeSlot;
  if (SameConnection(record, *slots[own].record, file)) {
    return slots[own].record->action == record.action ? 0 : ConnectedAgain;
  }
  CloseUnit(unit);
  BeginStatement(StatementKind::Open, nullptr, layer.run.statusWanted);
  return kTakeSlot;
}

// Puts the record in the lowest free slot; false when none is free.
bool TakeSlot(int32_t unit, UnitRecord* record) {
  UnitSlot* slots = Slots();
  for (int s = kFirstFileSlot; s <= kLastFileSlot; ++s) {
    if (slots[s].record != nullptr) continue;
    slots[s] = {unit, record};
    return true;
  }
  return false;
}

// Connects `unit`, step by step. Returns 0 or the status that ends the connect.
int Connect(int32_t unit, const char* fileName, int nameLength, const char* actionKeyword, NameForm form) {
  if (unit < -32767 || unit > 32767) return UnitNumberRange;
  UnitAction action;
  if (!ActionFor(actionKeyword, action)) return OpenInvalidName;
  if (int status = TakeName(unit, fileName, nameLength, form); status != 0) return status;
  char* name = layer.nameScratch;
  Device device = DeviceFor(name);
  UnitRecord* record = MakeRecord(name, device, action);
  if (record == nullptr) return NoLayerMemory;
  platform::Cause cause = OpenRecord(*record, name, device);
  int status = cause != platform::Cause::None ? StatusFor(cause) : CheckConnections(unit, *record);
  if (status == kTakeSlot && TakeSlot(unit, record)) return 0;
  DiscardUnitRecord(record);
  return status == kTakeSlot ? TooManyUnits : status;
}

// Writes the load collected in a file unit's buffer, its bytes at `bytes`;
// once a load is written the later ones are larger. On failure the load is
// dropped, so that it is reported once.
platform::Cause WriteLoad(UnitRecord& unit, const void* bytes) {
  platform::Cause cause = platform::WriteAll(unit.handle, bytes, static_cast<size_t>(unit.position));
  if (cause == platform::Cause::None) {
    unit.filePosition += unit.position;
    unit.bufferSize = unit.laterLoad;
  }
  unit.position = 0;
  return cause;
}

// What is still owed to a unit's file or device before it is closed.
platform::Cause FinishOutput(UnitRecord& unit) {
  if (unit.kind == UnitKind::Sequential) {
    if (!unit.writing) return platform::Cause::None;
    unit.writing = false;
    return unit.position > 0 ? WriteLoad(unit, unit.buffer) : platform::Cause::None;
  }
  if (!unit.lineOpen) return platform::Cause::None;
  unit.lineOpen = false;
  if (unit.console) return platform::Cause::None;
  unit.lineClosed = true;
  return platform::WriteAll(unit.handle, "\r\n", 2);
}

// Closes the record's file, if this layer opened one (handles 3 and up);
// the standard handles are never closed.
platform::Cause CloseRecordFile(UnitRecord& record) {
  if (record.handle < 3) return platform::Cause::None;
  platform::Cause closed = platform::Close(record.handle);
  record.handle = -1;
  return closed;
}

// Disconnects the unit in `slot`: its buffer written out, its file closed,
// the record freed however the writing ends (after a raised error has
// copied the record's name).
void DisconnectSlot(int slot) {
  UnitRecord* record = Slots()[slot].record;
  BeginStatement(StatementKind::Close, record);
  struct Release {
    int slot;
    ~Release() {
      UnitSlot& s = Slots()[slot];
      DiscardUnitRecord(s.record);
      s = {kFreeSlot, nullptr};
    }
  } release{slot};
  platform::Cause cause = FinishOutput(*record);
  platform::Cause closed = CloseRecordFile(*record);
  if (cause != platform::Cause::None) RaiseWriteFailure(cause);
  // A close can be where a delayed write turns out to have failed.
  if (record->written && closed != platform::Cause::None) RaiseWriteFailure(closed);
}

}  // namespace

void InitUnits(int argc, const char* const* argv) {
  platform::StartProcess(argc, argv);
  UnitSlot* slots = Slots();
  for (int s = 0; s < kUnitSlots; ++s) slots[s] = {kFreeSlot, nullptr};
  UnitRecord* internal = NewRecord("internal", UnitKind::Internal, 0);
  if (internal == nullptr) RaiseNoLayerMemory();
  slots[kInternalSlot] = {kFreeSlot, internal};
  bool terminalInput = platform::IsTerminal(0);
  slots[kConsoleSlot] = {kConsoleUnit, NewConsoleRecord(0)};
  slots[kConsoleSlot].record->terminalInput = terminalInput;
  // Reads see the line end a write left pending only when both sides are one terminal.
  if (!(terminalInput && platform::IsTerminal(1))) slots[kConsoleOutputSlot] = {kConsoleUnit, NewConsoleRecord(1)};
  layer.run.endOfRunClosing = CloseAllUnits;
}

UnitRecord* SelectUnit(int unit, StatementKind kind) {
  if (unit == kConsoleUnit) return SelectConsole(kind);
  if (int slot = FindSlot(unit); slot != 0) {
    UnitRecord* record = Slots()[slot].record;
    return record->console ? SelectConsole(kind) : record;
  }
  if (unit == 5) return SelectConsole(StatementKind::Read);
  if (unit == 6) return SelectConsole(StatementKind::Write);
  return nullptr;
}

bool ConnectedToConsole(int unit) {
  const UnitRecord* record = SelectUnit(unit, StatementKind::Read);
  return record != nullptr && record->console;
}

UnitRecord* ConsoleOutputRecord() {
  UnitSlot* slots = Slots();
  return slots[kConsoleOutputSlot].record != nullptr ? slots[kConsoleOutputSlot].record
                                                     : slots[kConsoleSlot].record;
}

int OpenUnit(int unit, const char* name, int nameLength, const char* action, bool statusWanted, NameForm form) {
  BeginStatement(StatementKind::Open, nullptr, statusWanted);
  layer.nameScratch[0] = '\0';
  int status;
  try {
    status = Connect(unit, name, nameLength, action, form);
  } catch (const StatementReturn& failure) {
    status = failure.number;
  }
  if (status != 0 && !statusWanted) RaiseRunError(status);
  layer.run.statusWanted = false;
  return status;
}

namespace {

// The path a connect of the name would open, into `path`; Device::None for
// a file. False for an empty name.
bool ResolveName(const char* name, int nameLength, NameForm form, char (&path)[kMaxNameLength + 1], Device& device) {
  if ((form == NameForm::Whole ? WholeName(name, nameLength, path) : TrimName(name, nameLength, path)) == 0) return false;
  device = DeviceFor(path);
  return true;
}

// What a connect of the name would open, and the file's identity when it is
// a regular file.
FileKind KindOf(const char* name, int nameLength, NameForm form, platform::FileIdentity& identity) {
  char path[kMaxNameLength + 1];
  Device device = Device::None;
  if (!ResolveName(name, nameLength, form, path, device)) return FileKind::Missing;
  if (device != Device::None) return FileKind::Other;
  bool regular = false;
  if (!platform::LookAt(path, regular, identity)) return FileKind::Missing;
  return regular ? FileKind::Regular : FileKind::Other;
}

}  // namespace

bool InquireExists(const char* name, int nameLength, NameForm form) {
  char path[kMaxNameLength + 1];
  Device device = Device::None;
  if (!ResolveName(name, nameLength, form, path, device)) return false;
  if (device == Device::Console || device == Device::StandardError) return true;
  return platform::Exists(device == Device::Opened ? platform::DevicePath(path) : path);
}

FileKind InquireKind(const char* name, int nameLength, NameForm form) {
  platform::FileIdentity ignored = {};
  return KindOf(name, nameLength, form, ignored);
}

bool InquireSameFile(const char* a, int aLength, const char* b, int bLength, NameForm form) {
  platform::FileIdentity first = {}, second = {};
  if (KindOf(a, aLength, form, first) != FileKind::Regular) return false;
  if (KindOf(b, bLength, form, second) != FileKind::Regular) return false;
  const bool known = first.volume != 0 || first.index != 0;
  return known && first.volume == second.volume && first.index == second.index;
}

void CloseUnit(int unit) {
  if (int slot = FindSlot(unit); slot != 0) DisconnectSlot(slot);
}

void CloseAllUnits() {
  layer.run.endingRun = true;
  for (int s = kFirstFileSlot; s <= kLastFileSlot; ++s) {
    if (Slots()[s].record == nullptr) continue;
    try {
      DisconnectSlot(s);
    } catch (const StatementReturn&) {
      layer.run.closingFailed = true;
    }
  }
  UnitRecord* console = ConsoleOutputRecord();
  if (console != nullptr && console->lineOpen && !console->lineClosed) WriteConsoleLineEnd(*console);
}

platform::Cause TakeBytes(UnitRecord& unit, const char* bytes, size_t count) {
  if (!unit.writing) {
    // The first write cuts the file off where the next byte goes.
    int64_t cut = unit.filePosition - (unit.lastIndex + 1) + unit.position;
    platform::Cause cause = platform::CutAt(unit.handle, cut);
    if (cause != platform::Cause::None) return cause;
    unit.filePosition = cut;
    unit.writing = true;
    unit.position = 0;
    unit.lastIndex = -1;
  }
  unit.written = true;
  while (count > 0) {
    if (unit.position == unit.bufferSize) {
      platform::Cause cause = WriteLoad(unit, unit.buffer);
      if (cause != platform::Cause::None) return cause;
    }
    auto load = static_cast<size_t>(unit.bufferSize);
    if (unit.position == 0 && count > load) {
      // A whole load with bytes after it: written as the buffer would be, without the copy.
      unit.position = unit.bufferSize;
      platform::Cause cause = WriteLoad(unit, bytes);
      if (cause != platform::Cause::None) return cause;
      bytes += load;
      count -= load;
      continue;
    }
    size_t room = std::min(count, load - static_cast<size_t>(unit.position));
    std::memcpy(unit.buffer + unit.position, bytes, room);
    unit.position += static_cast<int>(room);
    bytes += room;
    count -= room;
  }
  return platform::Cause::None;
}

void PlaceBytes(UnitRecord& unit, const char* bytes, size_t count) {
  platform::Cause cause = TakeBytes(unit, bytes, count);
  if (cause != platform::Cause::None) RaiseWriteFailure(cause);
}

void FlushUnit(UnitRecord& unit) {
  if (unit.position == 0) return;
  platform::Cause cause = WriteLoad(unit, unit.buffer);
  if (cause != platform::Cause::None) RaiseWriteFailure(cause);
}

void DiscardUnitRecord(UnitRecord* record) {
  (void)CloseRecordFile(*record);
  ReleaseLayerMemory(record->delimited);
  ReleaseLayerMemory(record->buffer);
  ReleaseLayerMemory(record);
}

int WriteFailureError(platform::Cause cause, const char*& detail) {
  detail = nullptr;
  if (cause == platform::Cause::NoSpace) return DiskFull;
  if (cause == platform::Cause::AccessDenied) return WriteAccessDenied;
  detail = CauseText(cause);
  return WriteFailed;
}

void RaiseWriteFailure(platform::Cause cause) {
  const char* detail = nullptr;
  int number = WriteFailureError(cause, detail);
  RaiseRunError(number, detail);
}

}  // namespace textio
