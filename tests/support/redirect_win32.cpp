// A death test's child's standard handles, on Windows, where the layer takes
// them from GetStdHandle.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>

#include "support/death_test.h"

namespace test_support {
namespace {

HANDLE Create(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

void RedirectStandardHandles(const std::string& folder, bool closedPipes) {
  HANDLE output = Create(folder + "\\stdout");
  HANDLE reader = nullptr;
  if (closedPipes && CreatePipe(&reader, &output, nullptr, 0)) {
    CloseHandle(reader);
    SetStdHandle(STD_INPUT_HANDLE, nullptr);
  }
  if (!SetStdHandle(STD_OUTPUT_HANDLE, output) || !SetStdHandle(STD_ERROR_HANDLE, Create(folder + "\\stderr"))) {
    std::abort();
  }
}

bool AddressSpaceCanBeLimited() { return false; }

void LimitAddressSpace(size_t) { std::abort(); }

void RefuseThreads() { std::abort(); }

bool FileSizeCanBeLimited() { return false; }

void LimitFileSize(int64_t) { std::abort(); }

const char* FullDevice() { return nullptr; }

}  // namespace test_support
