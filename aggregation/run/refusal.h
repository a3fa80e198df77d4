// The program's own refusals, for a user at a shell: one line on standard
// error, "aggregate: " and the reason, and exit status 1, which the refusing
// step hands back to main to end the run with. (The dialog refuses as its
// message line and the stop.)
#pragma once

inline constexpr int kRefused = 1;

#if defined(__GNUC__) || defined(__clang__)
#define AGGREGATE_PRINTF(formatPlace, firstArgument) __attribute__((format(printf, formatPlace, firstArgument)))
#else
#define AGGREGATE_PRINTF(formatPlace, firstArgument)
#endif

// Writes the line, its reason made as printf makes it; returns kRefused.
[[nodiscard]] int Refuse(const char* format, ...) AGGREGATE_PRINTF(1, 2);
