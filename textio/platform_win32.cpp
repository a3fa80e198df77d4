// The layer's operating-system operations on Windows: Win32 calls only, a
// table from the layer's handle numbers to system handles, bytes passed
// untranslated, GetLastError turned into a Cause right here.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "textio/platform.h"

namespace textio::platform {

const char kLineEnd[] = "\r\n";
const CommandShell kCommandShell = CommandShell::Cmd;

namespace {

constexpr int kHandleSlots = 256;
constexpr DWORD kTypedLineCapacity = 1024;

// The process-wide state of this file.
struct {
  int argumentCount = 0;
  const char* const* arguments = nullptr;
  HANDLE files[kHandleSlots] = {};  // handles 3 and up by number: the files opened here; null when free
  char typedLine[kTypedLineCapacity];  // what a console read gave and the layer has not taken yet
  DWORD typedNext = 0, typedEnd = 0;
  int64_t openRequests = 0;
} process;

constexpr DWORD kQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED, not in every SDK's headers
// Arrays at least this large get pages of their own.
constexpr size_t kLargeBlock = size_t{1} << 21;
// The longest path handed to the system, a built full path included.
constexpr DWORD kPathCapacity = 1024;

Cause CauseOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_DRIVE:
    case ERROR_FILENAME_EXCED_RANGE: case ERROR_BAD_NETPATH:
      return Cause::NotFound;
    case ERROR_ACCESS_DENIED: case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: case ERROR_NOT_READY:
      return Cause::AccessDenied;
    case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS:
      return Cause::Exists;
    case ERROR_TOO_MANY_OPEN_FILES:
      return Cause::TooManyOpen;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: case kQuotaExceeded:
      return Cause::NoSpace;
    case ERROR_NO_DATA: case ERROR_BROKEN_PIPE:
      return Cause::Broken;
    case ERROR_CRC: case ERROR_IO_DEVICE:
      return Cause::DeviceError;
    case ERROR_FILE_TOO_LARGE:
      return Cause::TooLarge;
    default:
      return Cause::Invalid;
  }
}

DWORD StandardHandleId(Handle handle) {
  return handle == 0 ? STD_INPUT_HANDLE : handle == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

HANDLE SystemHandle(Handle handle) {
  if (handle >= 0 && handle <= 2) return GetStdHandle(StandardHandleId(handle));
  if (handle >= 3 && handle < kHandleSlots && process.files[handle] != nullptr) return process.files[handle];
  return INVALID_HANDLE_VALUE;
}

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return GetConsoleMode(handle, &mode) != 0;
}

// A standard handle that is missing, or that the system cannot transfer on
// at all (a closed descriptor under a POSIX host shows as a disk file whose
// transfers fail), is replaced by the null device, as a closed one is elsewhere.
void OpenStandardHandleOnNull(Handle handle) {
  HANDLE current = GetStdHandle(StandardHandleId(handle));
  bool usable = current != nullptr && current != INVALID_HANDLE_VALUE;
  if (usable && GetFileType(current) == FILE_TYPE_DISK) {
    char none = 0;
    DWORD moved = 0;
    BOOL probed = handle == 0 ? ReadFile(current, &none, 0, &moved, nullptr)
                              : WriteFile(current, &none, 0, &moved, nullptr);
    DWORD error = probed ? ERROR_SUCCESS : GetLastError();
    usable = error != ERROR_INVALID_FUNCTION && error != ERROR_INVALID_HANDLE;
  }
  if (usable) return;
  HANDLE null = CreateFileA("NUL", handle == 0 ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (null != INVALID_HANDLE_VALUE) SetStdHandle(StandardHandleId(handle), null);
}

// Reads the next piece of a typed line into `process.typedLine`: what one
// read of a console in line mode gives, part or all of one line, with CR LF
// once it ends, which is made LF. A Ctrl-C ends the read; its default action
// ends the process meanwhile.
Cause ReadTypedPiece(HANDLE console) {
  char* line = process.typedLine;
  DWORD read = 0;
  while (!ReadFile(console, line, kTypedLineCapacity, &read, nullptr)) {
    if (GetLastError() != ERROR_OPERATION_ABORTED) return CauseOf(GetLastError());
  }
  if (read >= 2 && line[read - 2] == '\r' && line[read - 1] == '\n') {
    line[read - 2] = '\n';
    --read;
  }
  process.typedNext = 0;
  process.typedEnd = read;
  return Cause::None;
}

// The layer takes a terminal's line as POSIX terminals give it: ending in a
// single LF, and the request filled unless the line ends first or the input
// does. A console hands over a long line in pieces, so it is read on until
// one of those happens.
Cause ReadTypedLine(HANDLE console, void* buffer, size_t size, size_t& got) {
  char* out = static_cast<char*>(buffer);
  got = 0;
  while (got < size && (got == 0 || out[got - 1] != '\n')) {
    if (process.typedNext == process.typedEnd) {
      if (Cause cause = ReadTypedPiece(console); cause != Cause::None) return cause;
      if (process.typedEnd == 0) break;
    }
    size_t count = std::min(static_cast<size_t>(process.typedEnd - process.typedNext), size - got);
    std::memcpy(out + got, process.typedLine + process.typedNext, count);
    process.typedNext += static_cast<DWORD>(count);
    got += count;
  }
  return Cause::None;
}

// Whether the first `length` characters of a name are one that the layer
// makes a file but the system would take for one of its printer ports:
// LPT1 to LPT4 with an extension (lpt1.txt), with no folder, as the layer
// looks only at whole names.
bool PortNameMadeFile(const char* name, size_t length) {
  if (length < 6 || (name[0] & ~0x20) != 'L' || (name[1] & ~0x20) != 'P' || (name[2] & ~0x20) != 'T' ||
      name[3] < '1' || name[3] > '4' || name[4] != '.') {
    return false;
  }
  return std::strcspn(name + 5, ".\\/:") >= length - 5;
}

// The name to hand to the system for a path. The system drops trailing dots
// and blanks from a name and takes some names for its devices, wherever
// they stand (NUL.TAR.GZ, sub\NUL, COM9): those go to the device, as they
// would for any program. The few that the layer makes files (lpt1.txt) go
// as "\\?\" and their full path, which no device rule touches, and whose
// trailing dots and blanks must be dropped here. Returns false when the
// path does not fit.
bool FilePath(const char* path, char (&out)[kPathCapacity]) {
  size_t length = std::strlen(path);
  if (length >= kPathCapacity) return false;
  size_t kept = length;
  while (kept > 0 && (path[kept - 1] == '.' || path[kept - 1] == ' ')) --kept;
  if (!PortNameMadeFile(path, kept)) {
    std::memcpy(out, path, length + 1);
    return true;
  }
  char folder[kPathCapacity];
  DWORD folderLength = GetCurrentDirectoryA(sizeof folder, folder);
  if (folderLength == 0 || folderLength >= sizeof folder) return false;
  bool network = folder[0] == '\\' && folder[1] == '\\';
  const char* prefix = network ? "\\\\?\\UNC" : "\\\\?\\";
  const char* rest = network ? folder + 1 : folder;
  const char* separator = folder[folderLength - 1] == '\\' ? "" : "\\";
  if (std::strlen(prefix) + std::strlen(rest) + std::strlen(separator) + kept >= kPathCapacity) return false;
  std::strcpy(out, prefix);
  std::strcat(out, rest);
  std::strcat(out, separator);
  std::strncat(out, path, kept);
  return true;
}

// The lowest free handle number for a file; kHandleSlots when none is free.
int FreeSlot() {
  int slot = 3;
  while (slot < kHandleSlots && process.files[slot] != nullptr) ++slot;
  return slot;
}

}  // namespace

void StartProcess(int argc, const char* const* argv) {
  process.argumentCount = argc > 1 ? argc - 1 : 0;
  process.arguments = argc > 1 ? argv + 1 : nullptr;
  // A drive that is not ready is a failed open, not a dialog box.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  for (Handle handle = 0; handle <= 2; ++handle) OpenStandardHandleOnNull(handle);
}

int ArgumentCount() { return process.argumentCount; }

const char* Argument(int index) { return process.arguments[index]; }

// The null device is a character device too: only a console has a mode.
bool IsTerminal(Handle handle) { return IsConsole(SystemHandle(handle)); }

Cause ReadOnce(Handle handle, void* buffer, size_t size, size_t& got) {
  HANDLE system = SystemHandle(handle);
  if (handle == 0 && IsConsole(system)) return ReadTypedLine(system, buffer, size, got);
  DWORD want = size < (DWORD{1} << 30) ? static_cast<DWORD>(size) : DWORD{1} << 30;
  DWORD read = 0;
  got = 0;
  if (!ReadFile(system, buffer, want, &read, nullptr)) {
    // A pipe whose writer has gone ends the input as a file's end does.
    DWORD error = GetLastError();
    return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? Cause::None : CauseOf(error);
  }
  got = read;
  return Cause::None;
}

// The offset goes in an OVERLAPPED structure; on a handle opened without
// FILE_FLAG_OVERLAPPED the read is still made at once.
Cause ReadAt(Handle handle, int64_t offset, void* buffer, size_t size, size_t& got) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD want = size < (DWORD{1} << 30) ? static_cast<DWORD>(size) : DWORD{1} << 30;
  DWORD read = 0;
  got = 0;
  if (!ReadFile(SystemHandle(handle), buffer, want, &read, &at)) {
    DWORD error = GetLastError();
    return error == ERROR_HANDLE_EOF ? Cause::None : CauseOf(error);
  }
  got = read;
  return Cause::None;
}

// A handle duplicated by DuplicateHandle shares its file position with the
// first; one reopened from it has a position of its own.
Cause DuplicateForReadAt(Handle handle, Handle& duplicate) {
  int slot = FreeSlot();
  if (slot == kHandleSlots) return Cause::TooManyOpen;
  HANDLE reopened = ReOpenFile(SystemHandle(handle), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  if (reopened == INVALID_HANDLE_VALUE) return CauseOf(GetLastError());
  process.files[slot] = reopened;
  duplicate = slot;
  return Cause::None;
}

int64_t FileSize(Handle handle) {
  HANDLE system = SystemHandle(handle);
  LARGE_INTEGER size;
  if (GetFileType(system) != FILE_TYPE_DISK || !GetFileSizeEx(system, &size)) return -1;
  return size.QuadPart;
}

Cause WriteAll(Handle handle, const void* bytes, size_t size) {
  HANDLE system = SystemHandle(handle);
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    DWORD want = size < (DWORD{1} << 30) ? static_cast<DWORD>(size) : DWORD{1} << 30;
    DWORD written = 0;
    // A pipe whose reader has gone (ERROR_NO_DATA) fails here like any write.
    if (!WriteFile(system, next, want, &written, nullptr)) return CauseOf(GetLastError());
    if (written == 0) return Cause::Invalid;
    next += written;
    size -= written;
  }
  return Cause::None;
}

Cause Open(const char* path, OpenMode mode, bool createNew, Handle& handle) {
  ++process.openRequests;
  int slot = FreeSlot();
  if (slot == kHandleSlots) return Cause::TooManyOpen;
  char file[kPathCapacity];
  if (!FilePath(path, file)) return Cause::NotFound;
  DWORD access = mode == OpenMode::Read    ? GENERIC_READ
                 : mode == OpenMode::Write ? GENERIC_WRITE
                                           : GENERIC_READ | GENERIC_WRITE;
  // Without FILE_FLAG_BACKUP_SEMANTICS a directory is refused as access denied.
  HANDLE opened = CreateFileA(file, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              createNew ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return CauseOf(GetLastError());
  process.files[slot] = opened;
  handle = slot;
  return Cause::None;
}

int64_t OpenRequests() { return process.openRequests; }

// Some files the system opens have no attributes to show (a host's device
// files); only a failure that says so means the file is not there.
bool Exists(const char* path) {
  char file[kPathCapacity];
  if (!FilePath(path, file)) return false;
  if (GetFileAttributesA(file) != INVALID_FILE_ATTRIBUTES) return true;
  DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// A handle that asks for no access reads nothing and waits for nothing; the
// names of the device namespace (pipes among them) are never opened here.
bool LookAt(const char* path, bool& regular, FileIdentity& identity) {
  char file[kPathCapacity];
  if (!FilePath(path, file)) return false;
  const DWORD attributes = GetFileAttributesA(file);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  regular = std::strncmp(file, "\\\\.\\", 4) != 0 &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  identity = {};
  if (!regular) return true;
  HANDLE looked = CreateFileA(file, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (looked == INVALID_HANDLE_VALUE) return true;
  BY_HANDLE_FILE_INFORMATION info;
  regular = GetFileType(looked) == FILE_TYPE_DISK;
  if (GetFileInformationByHandle(looked, &info)) {
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  }
  CloseHandle(looked);
  return true;
}

bool Identify(Handle handle, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(SystemHandle(handle), &info)) return false;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
}

Cause CutAt(Handle handle, int64_t position) {
  HANDLE system = SystemHandle(handle);
  if (GetFileType(system) != FILE_TYPE_DISK) return Cause::None;
  LARGE_INTEGER where;
  where.QuadPart = position;
  if (!SetFilePointerEx(system, where, nullptr, FILE_BEGIN) || !SetEndOfFile(system)) {
    return CauseOf(GetLastError());
  }
  return Cause::None;
}

Cause MoveTo(Handle handle, int64_t position) {
  HANDLE system = SystemHandle(handle);
  if (GetFileType(system) != FILE_TYPE_DISK) return Cause::None;
  LARGE_INTEGER where;
  where.QuadPart = position;
  if (!SetFilePointerEx(system, where, nullptr, FILE_BEGIN)) return CauseOf(GetLastError());
  return Cause::None;
}

Cause Close(Handle handle) {
  if (handle < 3 || handle >= kHandleSlots || process.files[handle] == nullptr) return Cause::Invalid;
  // The slot is free again whatever CloseHandle says.
  HANDLE system = process.files[handle];
  process.files[handle] = nullptr;
  return CloseHandle(system) ? Cause::None : CauseOf(GetLastError());
}

// The layer's devices are the system's own, opened in its device namespace.
const char* DevicePath(const char* deviceName) {
  static const char* const kDevices[] = {"\\\\.\\NUL",  "\\\\.\\PRN",  "\\\\.\\LPT1", "\\\\.\\LPT2",
                                         "\\\\.\\LPT3", "\\\\.\\LPT4", "\\\\.\\COM1", "\\\\.\\COM2",
                                         "\\\\.\\COM3", "\\\\.\\COM4"};
  for (const char* device : kDevices) {
    if (std::strcmp(device + 4, deviceName) == 0) return device;
  }
  return nullptr;
}

// Committed pages come zero-filled, and memory that is not there fails the
// allocation now rather than a page touch later.
void* AllocateBlock(size_t size) {
  if (size < kLargeBlock) return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size == 0 ? 1 : size);
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

// Committed pages come when first touched; nothing gets them faster here.
void PrepareBlock(void*, size_t, const BlockRanges&) {}

size_t PreparedBytes(size_t, const BlockRanges&) { return 0; }

// Large pages need a privilege a user seldom holds.
void PreferLargePages(void*, size_t) {}

void ReleaseBlock(void* block, size_t size) {
  if (size < kLargeBlock) {
    HeapFree(GetProcessHeap(), 0, block);
  } else {
    VirtualFree(block, 0, MEM_RELEASE);
  }
}

void EndProcess(int status) { ExitProcess(static_cast<UINT>(status)); }

}  // namespace textio::platform
