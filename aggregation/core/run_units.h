// The units a run connects: the data file, read only, and the response
// pattern file, write only. They are never connected at the same time.
#pragma once

inline constexpr int kDataUnit = 1;
inline constexpr int kPatternUnit = 2;
