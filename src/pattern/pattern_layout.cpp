// The one pattern layout of the program.
#include "pattern/pattern_layout.h"

namespace {
PatternLayout theLayout;
}

PatternLayout* patternLayout() { return &theLayout; }
void PatternLayout_Clear() { theLayout = PatternLayout{}; }
