// SPDX-License-Identifier: Apache-2.0
// The one pattern layout of the program.
#include "pattern/pattern_layout.h"

PatternLayout* patternLayout() { return &OwnedState<PatternLayout>::get(); }
void PatternLayout_Clear() { *patternLayout() = PatternLayout{}; }
