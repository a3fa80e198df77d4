// The floor under the program's time: its reader over a data file and nothing
// else, with the statements the program reads each case with, into one row.
//   parse_only DATA NCASES NVARS
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "textio/textio.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: parse_only DATA NCASES NVARS\n", stderr);
    return 2;
  }
  const long long ncases = std::atoll(argv[2]);
  const int nvars = std::atoi(argv[3]);
  if (ncases < 1 || nvars < 1) {
    std::fputs("parse_only: NCASES and NVARS must be at least 1\n", stderr);
    return 2;
  }
  std::vector<int32_t> row(static_cast<size_t>(nvars));
  textio::InitUnits(argc, argv);
  if (textio::OpenUnit(1, argv[1], static_cast<int>(std::strlen(argv[1])), "read", true) != 0) {
    std::fprintf(stderr, "parse_only: cannot open %s\n", argv[1]);
    return 1;
  }
  for (long long i = 0; i < ncases; ++i) {
    textio::beginRead(1);
    textio::readIntegers(row.data(), nvars, 1);
    textio::endRead();
  }
  textio::ExitRun(0);
}
