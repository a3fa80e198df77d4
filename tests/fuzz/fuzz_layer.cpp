// The fuzz targets' scratch files, fresh layer and findings.
#include "fuzz_layer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "textio/layer_state.h"

namespace fuzz {

std::string ScratchPath(const char* name) {
  static const std::string directory = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "aggregate-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) Finding("no scratch directory", pattern, "");
    return pattern;
  }();
  static const bool removedAtExit = std::atexit([] { std::filesystem::remove_all(directory); }) == 0;
  (void)removedAtExit;
  return directory + "/" + name;
}

void WriteScratchFile(const std::string& path, const uint8_t* bytes, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || (size > 0 && write(fd, bytes, size) != static_cast<ssize_t>(size)) || close(fd) != 0) {
    Finding("cannot write the scratch file", path, "");
  }
}

std::string ReadScratchFile(const std::string& path) {
  std::string bytes;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char chunk[65536];
  for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) bytes.append(chunk, static_cast<size_t>(n));
  close(fd);
  return bytes;
}

void FreshLayer() {
  // The layer's reset frees the unit records but leaves their files open.
  for (const textio::UnitSlot& slot : textio::layer.unitTable.slots) {
    if (slot.record != nullptr && slot.record->handle >= 3) close(slot.record->handle);
  }
  textio::ResetLayer();
  textio::InitUnits(0, nullptr);
}

void Connect(int unit, const std::string& path, const char* action) {
  int status = textio::OpenUnit(unit, path.data(), static_cast<int>(path.size()), action, true);
  if (status != 0) Finding("connect refused", path, std::to_string(status));
}

// Long sides are shown from a little before their first difference.
void Finding(const char* what, const std::string& one, const std::string& other) {
  size_t differ = std::mismatch(one.begin(), one.end(), other.begin(), other.end()).first - one.begin();
  size_t from = differ > 200 ? differ - 100 : 0;
  auto show = [from](const std::string& side) { return side.substr(std::min(from, side.size()), 400); };
  std::fprintf(stderr,
               "\n== finding: %s\n-- sizes %zu and %zu, first difference at %zu; from %zu:\n%s\n-- other:\n%s\n",
               what, one.size(), other.size(), differ, from, show(one).c_str(), show(other).c_str());
  std::abort();
}

}  // namespace fuzz
