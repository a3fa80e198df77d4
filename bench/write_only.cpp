// The floor under writing a pattern file: its bytes, ready in memory, put
// into a file in the loads the program writes, and nothing else.
//   write_only OUT BYTES
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: write_only OUT BYTES\n", stderr);
    return 2;
  }
  const long long bytes = std::atoll(argv[2]);
  std::FILE* out = std::fopen(argv[1], "wb");
  if (bytes < 0 || out == nullptr) {
    std::fprintf(stderr, "write_only: cannot write %s bytes to %s\n", argv[2], argv[1]);
    return 1;
  }
  std::setvbuf(out, nullptr, _IONBF, 0);
  // Loads of 256 KiB, as the program writes after its first 1,024 bytes,
  // holding bytes as a pattern file holds them.
  std::vector<char> load(256 * 1024);
  for (size_t i = 0; i < load.size(); ++i) load[i] = i % 64 == 62 ? '\r' : i % 64 == 63 ? '\n' : "  1"[i % 3];
  for (long long left = bytes; left > 0;) {
    auto size = static_cast<size_t>(std::min<long long>(left, static_cast<long long>(load.size())));
    if (std::fwrite(load.data(), 1, size, out) != size) {
      std::perror("write_only");
      return 1;
    }
    left -= static_cast<long long>(size);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
