// SPDX-License-Identifier: Apache-2.0
// The feed step from a measurement: the operator measures with a rule the distance between the
// two crosses of a feed-step print and the console proposes the step value for its "设为:" entry.
#pragma once
#include <string>

// The print feeds `feedStepsPerMeter` motor steps between its crosses, which it draws at the
// same place of both swaths: one metre on a printer whose steps are true, whatever the value.
constexpr double FEED_NOMINAL_MM = 1000.0;
// Further off than this share of the nominal is a misread rule or another print.
constexpr double FEED_MEASURE_TOLERANCE = 0.10;

struct FeedStepProposal {
    bool ok = false;
    long value = 0;          // the proposed step value, 1..65535, when ok
    std::string arithmetic;  // "nominal 1000.0 mm, measured 998.5 mm: stepPass4 = 10000 x ..."
    std::string refusal;     // why the measurement was refused, when not ok
};

// The step value for the record field `field` from the typed millimetres. A value of 10000
// leaves the feed constant as it is and a larger one gives fewer steps per dot row, so paper
// that moved M mm for the print's steps wants 10000 x M / nominal, rounded.
FeedStepProposal proposeFeedStep(const std::string& measuredText, const char* field);

// Console: the "..." (measure) button of a pass row asks for the millimetres and types the proposal
// into that row's "设为:" entry (SAVE still delivers it). false for another control ID.
bool onMeasureCommand(int id);
