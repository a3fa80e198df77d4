// The operating-system operations the text input/output layer uses. One
// implementation file per system; nothing above this header sees a system
// error code: failures come back as a Cause.
#pragma once

#include <cstddef>
#include <cstdint>

namespace textio::platform {

using Handle = int;  // 0 standard input, 1 standard output, 2 standard error, 3 and up files

// How this system ends a line of text: the program's own messages (its
// warnings, its usage text) end their lines so, unlike the records and
// console lines of a run, whose CR LF is fixed.
extern const char kLineEnd[];

// The shell a user of this system types commands at, whose quoting a
// command line the program suggests must follow.
enum class CommandShell : uint8_t { Posix, Cmd };
extern const CommandShell kCommandShell;

enum class Cause : uint8_t {
  None,
  NotFound,       // the file or a directory of its path does not exist; path too long
  AccessDenied,   // no permission, read-only, a directory, a lock, a device not ready
  Exists,         // a file to be created exists
  TooManyOpen,    // no more file handles
  NoSpace,        // no space left on the device or quota exceeded
  Broken,         // the reading end of a pipe is closed
  DeviceError,    // the device failed the transfer
  TooLarge,       // the file would grow past the size allowed
  Invalid,        // the system refuses the name or the request
};

enum class OpenMode : uint8_t { Read, Write, ReadWrite };

// Process start: standard handles that are closed are opened on the null
// device, and a closed pipe or a file size limit turns into a write failure.
void StartProcess(int argc, const char* const* argv);
int ArgumentCount();                 // arguments after the program name
const char* Argument(int index);     // 0-based, after the program name

bool IsTerminal(Handle handle);

// One read request; `got` is 0 at the end of the input.
Cause ReadOnce(Handle handle, void* buffer, size_t size, size_t& got);
// One read request at a file offset, for a handle that only such requests
// use. Another thread may make it meanwhile (see DuplicateForReadAt).
Cause ReadAt(Handle handle, int64_t offset, void* buffer, size_t size, size_t& got);
// A handle of its own on the file that `handle` is open on, for ReadAt on
// another thread: the same file, never looked up by its name again, whose
// reads leave `handle`'s file position alone. Closed by Close.
Cause DuplicateForReadAt(Handle handle, Handle& duplicate);
// The size of a regular file; -1 for anything else.
int64_t FileSize(Handle handle);
// Writes every byte or reports why it could not.
Cause WriteAll(Handle handle, const void* bytes, size_t size);

Cause Open(const char* path, OpenMode mode, bool createNew, Handle& handle);
// The Open requests made since the process started: a test checks with it
// that a step opens no file by its name.
int64_t OpenRequests();
bool Exists(const char* path);  // an existing file or directory
struct FileIdentity {
  uint64_t volume, index;
};
bool Identify(Handle handle, FileIdentity& identity);
// What a path names, looked at without opening it for reading or writing
// (a FIFO would wait for the other end): false when nothing is there.
// `regular` is false for a folder, a device, a FIFO or a pipe.
bool LookAt(const char* path, bool& regular, FileIdentity& identity);
// Cuts a regular file off at `position` and moves there; devices are left alone.
Cause CutAt(Handle handle, int64_t position);
// Moves a regular file's position to `position`; devices are left alone.
Cause MoveTo(Handle handle, int64_t position);
Cause Close(Handle handle);

// The path to open for a device name of the layer (NUL, PRN, LPT1, COM1, ...),
// or nullptr when this system has no such device: the name is then an
// ordinary file name.
const char* DevicePath(const char* deviceName);

// Zero-filled storage for large arrays, and its release. Its pages are
// given as they are first touched, or all at once by PrepareBlock.
void* AllocateBlock(size_t size);
void ReleaseBlock(void* block, size_t size);

// `count` ranges of a block of `size` bytes, the k-th bytes
// [first + k * stride, first + k * stride + bytes).
struct BlockRanges {
  size_t first, bytes, stride, count;
};
// Gets the pages of the ranges ahead of their first use, where the system
// gives many pages at once faster than one by one as they are first touched:
// one request for all ranges where they lie less than a page apart, else one
// a range. It never fails: pages it cannot get now come as they are touched.
// Another thread may run it meanwhile.
void PrepareBlock(void* block, size_t size, const BlockRanges& ranges);
// The bytes of the pages PrepareBlock gets for the ranges, at most; 0 where
// it gets none.
size_t PreparedBytes(size_t size, const BlockRanges& ranges);
// Asks for large pages for the block's pages not yet touched, where the
// system gives them: fewer page faults and address translations, but a
// large page is taken whole as soon as one of its bytes is touched.
void PreferLargePages(void* block, size_t size);

[[noreturn]] void EndProcess(int status);

}  // namespace textio::platform
