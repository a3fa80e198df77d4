// A variable that takes a different value in every case, as an ID column or
// row numbers do: every case then has a pattern of its own, which a run
// warns of once it is over.
#pragma once

#include <cstdint>

#include "aggregation/reading/case_reading.h"
#include "aggregation/reading/pattern_table.h"

// The first such variable of the run's cases, from 1, in whichever form
// they are held; 0 when there is none, or fewer cases than tell an ID. Held
// counted or packed, they are first written out into the case matrix, which
// is otherwise left untouched; that happens only where every case has a
// pattern of its own, and a variable could take so many values.
int32_t IdVariable(CasesHeld held, const PatternTable& patterns, const PackedCases& packed, int32_t* cases,
                   int32_t ncases, int32_t nvars);
