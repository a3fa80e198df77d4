// Pieces of the layer that end the process run in a GoogleTest death test,
// whose child writes its standard output and error to files in a folder
// named after the test; the parent compares their bytes afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace test_support {

// A fresh, empty folder named after the current test, in a folder of the
// build's own in the system's temporary folder. On Windows the death-test child runs the test again from
// its start, and so finds the same folder, made again the same way; a test
// whose children leave files for one another takes it `kept`: made if
// missing, never emptied.
std::string TestFolder(bool kept = false);

std::optional<std::string> ReadFile(const std::string& path);  // none when missing
void WriteFile(const std::string& path, const std::string& bytes);

// In a death test's child: standard output and error to the files "stdout"
// and "stderr" in `folder`; with `closedPipes`, standard input closed and
// standard output a pipe whose reader has gone instead. One implementation
// per system.
void RedirectStandardHandles(const std::string& folder, bool closedPipes);

// The sanitizer that watches this process, if any: its shadow memory and
// its reservations of address space come on top of the process's own.
enum class Sanitizer : uint8_t { None, Address, Thread };
Sanitizer ActiveSanitizer();

// Whether a process here can be kept from mapping more memory (not on
// Windows, nor beside a sanitizer, whose reservations it would break);
// and, in a death test's child, keeps it from mapping more than `more`
// bytes beyond what it maps now.
bool AddressSpaceCanBeLimited();
void LimitAddressSpace(size_t more);
// In a death test's child whose address space is limited: no thread can be
// started from here on, each asking for a stack larger than that limit.
void RefuseThreads();

// Whether a process here can be kept from growing its files; and, in a death
// test's child, keeps every file it writes from growing past `bytes`: the
// write that would pass them writes up to them and fails. The device that
// takes no byte, as a full disk does, or null where there is none.
bool FileSizeCanBeLimited();
void LimitFileSize(int64_t bytes);
const char* FullDevice();

}  // namespace test_support

// Runs `statement` in a death test's child whose standard handles go to
// `folder` as above, and expects the child to exit with `status`.
#define EXPECT_CHILD_EXIT(folder, closedPipes, status, statement)            \
  EXPECT_EXIT(                                                               \
      {                                                                      \
        test_support::RedirectStandardHandles(folder, closedPipes);          \
        statement;                                                           \
      },                                                                     \
      testing::ExitedWithCode(status), "")
