// SPDX-License-Identifier: Apache-2.0
// Feed step: steps per row from the step correction, and rows to whole steps with a carry.
#include "pipeline/feed_step.h"

#include <cmath>
#include <limits>

#include "diag/log.h"

namespace {
constexpr double CORRECTION_SCALE = 10000.0;
constexpr double INCHES_PER_METRE = 39.37008;
// A fraction is fed once it has grown to this much of a step, so the carry stays in -0.4..0.6.
constexpr double CARRY_THRESHOLD = 0.6;
}  // namespace

double computeStepsPerRow(uint16_t yDpi, uint16_t stepCorrection, uint32_t stepsPerMeter) {
    if (yDpi == 0 || stepCorrection == 0 || stepsPerMeter == 0) {
        Log_Trace("步进计量输入值异常:%d-%d-%d", yDpi, stepCorrection,
                  static_cast<int>(stepsPerMeter));
        return 0.0;
    }
    FeedStepState& st = OwnedState<FeedStepState>::get();
    double& stepsPerRow = st.stepsPerRow;
    stepsPerRow =
        (static_cast<double>(stepsPerMeter) * CORRECTION_SCALE) /
        (static_cast<double>(yDpi) * INCHES_PER_METRE * static_cast<double>(stepCorrection));
    Log_Trace("Step: %d-%d-%d, %0.2fs/d", yDpi, stepCorrection, static_cast<int>(stepsPerMeter),
              stepsPerRow);
    st.stepReady = 1;
    return stepsPerRow;
}

uint32_t rowsToSteps(uint32_t rows) {
    FeedStepState& st = OwnedState<FeedStepState>::get();
    if (!st.stepReady) {
        Log_Trace("步进未初始化");
        return 0;
    }
    const double x = static_cast<double>(rows) * st.stepsPerRow;
    constexpr double LIMIT = static_cast<double>(std::numeric_limits<uint32_t>::max());
    // Beyond the step counter's range the feed saturates rather than wrapping to a short feed.
    if (x >= LIMIT) return std::numeric_limits<uint32_t>::max();
    uint32_t n = static_cast<uint32_t>(x);
    st.stepCarry += x - static_cast<double>(n);
    if (st.stepCarry >= CARRY_THRESHOLD) {
        st.stepCarry -= 1.0;
        n += 1;
    }
    return n;
}
