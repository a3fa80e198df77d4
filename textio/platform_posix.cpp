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
int64_t openRequests = 0;

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

size_t PageSize() {
  static const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

// Whether PrepareBlock gets pages for the ranges: only a mapped block's.
bool Preparable(size_t size, const BlockRanges& ranges) {
  return size >= kLargeBlock && ranges.count > 0 && ranges.bytes > 0 && ranges.first < size;
}

// Whether the ranges lie less than a page apart: the pages between them are
// then theirs too, and one request gets them all.
bool OneRun(const BlockRanges& ranges) { return ranges.count == 1 || ranges.stride < ranges.bytes + PageSize(); }

// Asks for the pages of bytes [from, to) of a mapped block, the range widened
// to the page it starts in and cut at the block's end.
void Populate(void* block, size_t size, size_t from, size_t to) {
  if (from >= size) return;
  size_t start = from - from % PageSize();
  (void)madvise(static_cast<char*>(block) + start, std::min(size, to) - start, MADV_POPULATE_WRITE);
}

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

// A duplicate descriptor shares the file but not the name; pread moves no
// file position, so the two never disturb each other.
Cause DuplicateForReadAt(Handle handle, Handle& duplicate) {
  int fd = fcntl(handle, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) return CauseOf(errno);
  duplicate = fd;
  return Cause::None;
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
  ++openRequests;
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

int64_t OpenRequests() { return openRequests; }

bool Exists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

bool LookAt(const char* path, bool& regular, FileIdentity& identity) {
  struct stat info;
  if (stat(path, &info) != 0) return false;
  regular = S_ISREG(info.st_mode);
  identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  return true;
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

Cause MoveTo(Handle handle, int64_t position) {
  struct stat info;
  if (fstat(handle, &info) != 0) return CauseOf(errno);
  if (S_ISREG(info.st_mode) && lseek(handle, position, SEEK_SET) < 0) return CauseOf(errno);
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
// than a fault per page.
void PrepareBlock(void* block, size_t size, const BlockRanges& ranges) {
  if (!Preparable(size, ranges)) return;
  if (OneRun(ranges)) {
    Populate(block, size, ranges.first, ranges.first + (ranges.count - 1) * ranges.stride + ranges.bytes);
    return;
  }
  for (size_t k = 0; k < ranges.count; ++k) {
    size_t from = ranges.first + k * ranges.stride;
    Populate(block, size, from, from + ranges.bytes);
  }
}

size_t PreparedBytes(size_t size, const BlockRanges& ranges) {
  if (!Preparable(size, ranges)) return 0;
  const size_t page = PageSize();
  if (OneRun(ranges)) {
    size_t end = std::min(size, ranges.first + (ranges.count - 1) * ranges.stride + ranges.bytes);
    return (end + page - 1) / page * page - ranges.first / page * page;
  }
  // A range takes at most the pages its bytes fill and one more, wherever it starts.
  return ranges.count * ((ranges.bytes - 1) / page + 2) * page;
}

// Only a mapped block has pages of its own to ask huge pages for. The
// system may first gather free memory into them, as its own setting says.
void PreferLargePages(void* block, size_t size) {
  if (size >= kLargeBlock) (void)madvise(block, size, MADV_HUGEPAGE);
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
