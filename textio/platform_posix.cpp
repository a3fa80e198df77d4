// The layer's operating-system operations on POSIX systems: descriptors for
// handles, bytes passed untranslated, errno turned into a Cause right here.
#include "textio/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <thread>

namespace textio::platform {

const char kLineEnd[] = "\n";
const CommandShell kCommandShell = CommandShell::Posix;

namespace {

int argumentCount = 0;
const char* const* arguments = nullptr;

Cause CauseOf(int error) {
  switch (error) {
    case ENOENT: case ENOTDIR: case ENAMETOOLONG: case ELOOP:
      return Cause::NotFound;
    case EACCES: case EPERM: case EISDIR: case EROFS: case ETXTBSY: case EBUSY: case ENXIO:
    case ENODEV:
      return Cause::AccessDenied;
    case EEXIST:
      return Cause::Exists;
    case EMFILE: case ENFILE:
      return Cause::TooManyOpen;
    case ENOSPC: case EDQUOT:
      return Cause::NoSpace;
    case EPIPE:
      return Cause::Broken;
    case EIO:
      return Cause::DeviceError;
    case EFBIG:
      return Cause::TooLarge;
    default:
      return Cause::Invalid;
  }
}

// A transfer that a signal may interrupt, made again until it is not.
template <typename Transfer>
Cause Transferred(Transfer transfer, size_t& got) {
  for (;;) {
    ssize_t n = transfer();
    if (n >= 0) {
      got = static_cast<size_t>(n);
      return Cause::None;
    }
    if (errno != EINTR) {
      got = 0;
      return CauseOf(errno);
    }
  }
}

// Arrays at least this large get their own mapping.
constexpr size_t kLargeBlock = size_t{1} << 21;

}  // namespace

void StartProcess(int argc, const char* const* argv) {
  argumentCount = argc > 1 ? argc - 1 : 0;
  arguments = argc > 1 ? argv + 1 : nullptr;
  // A closed standard descriptor would otherwise be taken by the next file opened.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (opened != fd && opened >= 0) close(opened);
    }
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

int ArgumentCount() { return argumentCount; }

const char* Argument(int index) { return arguments[index]; }

bool IsTerminal(Handle handle) { return isatty(handle) == 1; }

Cause ReadOnce(Handle handle, void* buffer, size_t size, size_t& got) {
  return Transferred([&] { return read(handle, buffer, size); }, got);
}

Cause ReadAt(Handle handle, int64_t offset, void* buffer, size_t size, size_t& got) {
  return Transferred([&] { return pread(handle, buffer, size, static_cast<off_t>(offset)); }, got);
}

int64_t FileSize(Handle handle) {
  struct stat info;
  return fstat(handle, &info) == 0 && S_ISREG(info.st_mode) ? static_cast<int64_t>(info.st_size) : -1;
}

Cause WriteAll(Handle handle, const void* bytes, size_t size) {
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    ssize_t n = write(handle, next, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return CauseOf(errno);
    }
    if (n == 0) return Cause::Invalid;
    next += n;
    size -= static_cast<size_t>(n);
  }
  return Cause::None;
}

Cause Open(const char* path, OpenMode mode, bool createNew, Handle& handle) {
  int flags = mode == OpenMode::Read ? O_RDONLY : mode == OpenMode::Write ? O_WRONLY : O_RDWR;
  if (createNew) flags |= O_CREAT | O_EXCL;
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return CauseOf(errno);
  // Reading a directory is allowed by open(2); as a file it is refused.
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    return Cause::AccessDenied;
  }
  handle = fd;
  return Cause::None;
}

bool Exists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

bool Identify(Handle handle, FileIdentity& identity) {
  struct stat info;
  if (fstat(handle, &info) != 0) return false;
  identity.volume = static_cast<uint64_t>(info.st_dev);
  identity.index = static_cast<uint64_t>(info.st_ino);
  return true;
}

Cause CutAt(Handle handle, int64_t position) {
  struct stat info;
  if (fstat(handle, &info) != 0) return CauseOf(errno);
  if (!S_ISREG(info.st_mode)) return Cause::None;
  if (ftruncate(handle, position) != 0) return CauseOf(errno);
  if (lseek(handle, position, SEEK_SET) < 0) return CauseOf(errno);
  return Cause::None;
}

Cause Close(Handle handle) {
  // The descriptor is gone after close(2) whatever it returns; EINTR is no failure.
  if (close(handle) != 0 && errno != EINTR) return CauseOf(errno);
  return Cause::None;
}

// Printers and serial ports are devices of another system; here their names
// are ordinary file names, and only the null device is opened by its name.
const char* DevicePath(const char* deviceName) {
  return std::strcmp(deviceName, "NUL") == 0 ? "/dev/null" : nullptr;
}

void* AllocateBlock(size_t size) {
  if (size < kLargeBlock) return std::calloc(1, size == 0 ? 1 : size);
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

// Asking for many pages of a large (mapped) block at once costs far less
// than a fault per page; the range widens to the page it starts in. Huge
// pages are not asked for: getting them can stall for seconds while the
// system gathers them. Pages that cannot be had now are left to come one by one.
void PrepareBlock(void* block, size_t size, size_t first, size_t bytes) {
  if (size < kLargeBlock || first >= size) return;
  static const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t start = first - first % page;
  (void)madvise(static_cast<char*>(block) + start, std::min(size, first + bytes) - start, MADV_POPULATE_WRITE);
}

void ReleaseBlock(void* block, size_t size) {
  if (size < kLargeBlock) {
    std::free(block);
  } else {
    munmap(block, size);
  }
}

void EndProcess(int status) { _exit(status); }

}  // namespace textio::platform
