// The shape of a pattern record: each of the nvars values right-justified in
// a field of three characters, a blank, the count in six, then the line end;
// and the record layout that gives the write statements that shape. What
// fits a field and what is written as asterisks is told here alone.
#pragma once

#include <cstdint>

inline constexpr int32_t kValueWidth = 3;
inline constexpr int32_t kCountWidth = 6;
inline constexpr int32_t kSmallestFitting = -99;  // the values a three-character field shows
inline constexpr int32_t kLargestFitting = 999;
inline constexpr int64_t kLargestCount = 999999;  // the counts its six characters show
// The values -99 to 999, each numbered from 0: what a set of them takes.
inline constexpr int32_t kFittingValues = kLargestFitting - kSmallestFitting + 1;
// The layout holds the number of variables in four digits.
inline constexpr int32_t kMostVariables = 9999;
inline constexpr int kRecordLayoutLength = 80;

// Whether a value shows in its field; else the field is written as asterisks.
inline bool FitsField(int64_t value) { return value >= kSmallestFitting && value <= kLargestFitting; }
inline bool FitsCount(int64_t count) { return count <= kLargestCount; }

// The bytes of a record of `nvars` values: the fields, the blank, the count
// and CR LF.
inline int64_t PatternRecordBytes(int32_t nvars) { return int64_t{kValueWidth} * nvars + 1 + kCountWidth + 2; }

// The field a column of a record falls in, both from 1: a value's field, or,
// past the last of them (nvars + 1), the count's.
inline int64_t FieldAtColumn(int64_t column) { return (column - 1) / kValueWidth + 1; }

// The record layout for `nvars` variables, kRecordLayoutLength characters:
// "((", nvars in four characters, "(I3)),1X,I6)", then blanks. The number is
// written by an internal write, so that one of 10,000 or more fills its four
// characters with asterisks, which the first record then refuses.
void BuildRecordLayout(int32_t nvars, char* layout);
