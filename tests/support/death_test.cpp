// The test's folder and whole files, the same on every system.
#include "support/death_test.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace test_support {

std::string TestFolder(bool kept) {
  static const std::filesystem::path base = std::filesystem::temp_directory_path() / AGGREGATE_TEST_FOLDERS;
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  std::replace(name.begin(), name.end(), '/', '_');
  if (!kept) std::filesystem::remove_all(base / name);
  std::filesystem::create_directories(base / name);
  return (base / name).string();
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

Sanitizer ActiveSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return Sanitizer::Address;
#elif defined(__SANITIZE_THREAD__)
  return Sanitizer::Thread;
#elif defined(__has_feature)
  if (__has_feature(address_sanitizer)) return Sanitizer::Address;
  return __has_feature(thread_sanitizer) ? Sanitizer::Thread : Sanitizer::None;
#else
  return Sanitizer::None;
#endif
}

}  // namespace test_support
