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

#include <cstring>

#include "textio/platform.h"

namespace textio::platform {
namespace {

constexpr int kHandleSlots = 256;
constexpr DWORD kTypedLineCapacity = 1024;

// The process-wide state of this file.
struct {
  int argumentCount = 0;
  const char* const* arguments = nullptr;
  HANDLE files[kHandleSlots] = {};  // handles 3 and up by number: the files opened here; null when free
  char typedLine[kTypedLineCapacity];  // a typed line not handed over yet, its CR LF made LF
  DWORD typedNext = 0, typedEnd = 0;
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

// A console in line mode hands over one typed line with CR LF, at most the
// size asked for. The layer takes a terminal's line as POSIX terminals give
// it, ending in a single LF, so the line is read with room for its CR and
// its line end is made LF; what does not fit the request waits for the next.
Cause ReadTypedLine(HANDLE console, void* buffer, size_t size, size_t& got) {
  char* line = process.typedLine;
  if (process.typedNext == process.typedEnd) {
    DWORD want = size < kTypedLineCapacity ? static_cast<DWORD>(size + 1) : kTypedLineCapacity;
    DWORD read = 0;
    // A Ctrl-C ends the read; its default action ends the process meanwhile.
    while (!ReadFile(console, line, want, &read, nullptr)) {
      if (GetLastError() != ERROR_OPERATION_ABORTED) {
        got = 0;
        return CauseOf(GetLastError());
      }
    }
    if (read >= 2 && line[read - 2] == '\r' && line[read - 1] == '\n') {
      line[read - 2] = '\n';
      --read;
    }
    process.typedNext = 0;
    process.typedEnd = read;
  }
  got = process.typedEnd - process.typedNext < size ? process.typedEnd - process.typedNext : size;
  std::memcpy(buffer, line + process.typedNext, got);
  process.typedNext += static_cast<DWORD>(got);
  return Cause::None;
}

// The file's own name in a path: after its last folder separator or drive.
const char* LastPart(const char* path) {
  const char* part = path;
  for (const char* c = path; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '/' || (*c == ':' && c == path + 1)) part = c + 1;
  }
  return part;
}

// Whether the system would take the last part of `path` as a device of its
// own (NUL.OUT, LPT1.TXT, COM9, ...): the letters before its first '.' or
// ':', trailing blanks aside. Names it lists that the layer left ordinary
// files must then be opened by their full path.
bool SystemTakesAsDevice(const char* path) {
  static const char* const kSystemDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  const char* part = LastPart(path);
  size_t length = std::strcspn(part, ".:");
  while (length > 0 && part[length - 1] == ' ') --length;
  char stem[8] = {};
  if (length < 3 || length >= sizeof stem) return false;
  for (size_t i = 0; i < length; ++i) {
    char c = part[i];
    stem[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  for (const char* name : kSystemDevices) {
    if (std::strcmp(stem, name) == 0) return true;
  }
  return length == 4 && (std::memcmp(stem, "COM", 3) == 0 || std::memcmp(stem, "LPT", 3) == 0) &&
         stem[3] >= '0' && stem[3] <= '9';
}

// The name to hand to the system for an ordinary file: the name itself, or,
// when the system would take it as a device, "\\?\" and its full path, which
// no device rule touches. Returns false when the full path does not fit.
bool FilePath(const char* path, char (&out)[kPathCapacity]) {
  if (!SystemTakesAsDevice(path)) {
    size_t length = std::strlen(path);
    if (length >= kPathCapacity) return false;
    std::memcpy(out, path, length + 1);
    return true;
  }
  // The folder part is made full on its own: made full whole, the name
  // would come back as the device.
  const char* part = LastPart(path);
  char folder[kPathCapacity];
  size_t folderLength = static_cast<size_t>(part - path);
  if (folderLength + 2 > sizeof folder) return false;
  std::memcpy(folder, path, folderLength);
  folder[folderLength] = '\0';
  if (folderLength == 0 || path[folderLength - 1] == ':') std::strcat(folder, ".");
  char full[kPathCapacity];
  DWORD fullLength = GetFullPathNameA(folder, sizeof full, full, nullptr);
  if (fullLength == 0 || fullLength >= sizeof full) return false;
  bool network = full[0] == '\\' && full[1] == '\\';
  const char* prefix = network ? "\\\\?\\UNC" : "\\\\?\\";
  const char* rest = network ? full + 1 : full;
  const char* separator = full[fullLength - 1] == '\\' ? "" : "\\";
  if (std::strlen(prefix) + std::strlen(rest) + std::strlen(separator) + std::strlen(part) >= kPathCapacity) {
    return false;
  }
  std::strcpy(out, prefix);
  std::strcat(out, rest);
  std::strcat(out, separator);
  std::strcat(out, part);
  return true;
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
  int slot = 3;
  while (slot < kHandleSlots && process.files[slot] != nullptr) ++slot;
  if (slot == kHandleSlots) return Cause::TooManyOpen;
  // Devices come from DevicePath, in the system's device namespace.
  char file[kPathCapacity];
  bool device = std::strncmp(path, "\\\\.\\", 4) == 0;
  if (!device && !FilePath(path, file)) return Cause::NotFound;
  DWORD access = mode == OpenMode::Read    ? GENERIC_READ
                 : mode == OpenMode::Write ? GENERIC_WRITE
                                           : GENERIC_READ | GENERIC_WRITE;
  // Without FILE_FLAG_BACKUP_SEMANTICS a directory is refused as access denied.
  HANDLE opened = CreateFileA(device ? path : file, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              createNew ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return CauseOf(GetLastError());
  process.files[slot] = opened;
  handle = slot;
  return Cause::None;
}

// Some files the system opens have no attributes to show (a host's device
// files); only a failure that says so means the file is not there.
bool Exists(const char* path) {
  char file[kPathCapacity];
  if (!FilePath(path, file)) return false;
  if (GetFileAttributesA(file) != INVALID_FILE_ATTRIBUTES) return true;
  DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
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
void PrepareBlock(void*, size_t) {}

void ReleaseBlock(void* block, size_t size) {
  if (size < kLargeBlock) {
    HeapFree(GetProcessHeap(), 0, block);
  } else {
    VirtualFree(block, 0, MEM_RELEASE);
  }
}

void EndProcess(int status) { ExitProcess(static_cast<UINT>(status)); }

}  // namespace textio::platform
