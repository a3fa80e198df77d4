// The lines of an inspection's report on standard output: made as printf
// makes them and broken at blanks into console lines; counts with their
// thousands grouped; and the command a report suggests.
#pragma once

#include <cstdint>
#include <vector>
#include <string>

// A line of the report, made as printf makes it and broken at blanks into
// console lines of at most 78 characters, indented as the first.
void Say(const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// A count as the report writes it, its thousands grouped: 1,000.
struct Grouped {
  char text[32];
  explicit Grouped(int64_t count);
};

// "1 record holds" or "12 records hold", as the count asks.
struct Counted {
  char text[64];
  Counted(int64_t count, const char* one, const char* many);
};

// The pattern file a suggested command makes: patterns.txt, or
// patterns-out.txt where that is the data file's name, in any case of its
// letters.
const char* PatternFileName(const char* dataName);

// The command line that runs the program with `options` on the data file,
// for the system's shell, as one line of the report however long (a
// command broken over lines would not run as copied): the program as it was
// run when that was by a path, and a data file's name that starts with -
// after the -- that ends the options.
void SayCommand(const char* program, const std::vector<std::string>& options, const char* dataName);
