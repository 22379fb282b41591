// SPDX-License-Identifier: Apache-2.0
// On an ideal printer with stored corrections of 0 the bidirectional vernier lines up at "00":
// its groups step by two columns, and the channel offsets, which the head data carries in whole
// column pairs, leave less than a group step between the two prints at "00" (the ticks of the
// two channels need not be equally wide, so their centres may differ by a further half column).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "e2e_support.h"
#include "job/print_job.h"

namespace {

// Centres of the inked runs along one paper row.
std::vector<double> runCentres(int64_t row, int64_t from, int64_t to) {
    std::vector<double> centres;
    int64_t runStart = -1;
    for (int64_t x = from; x <= to; ++x) {
        bool ink = x < to && VPrinter_PaperAt(x, row) != 0;
        if (ink && runStart < 0) runStart = x;
        if (!ink && runStart >= 0) {
            centres.push_back((runStart + x - 1) / 2.0);
            runStart = -1;
        }
    }
    return centres;
}

// The tick groups of one print: edge lines first and last, then three ticks per group.
std::vector<double> groupCentres(const std::vector<double>& ticks) {
    std::vector<double> groups;
    if (ticks.size() != 2 + 3 * 19) return groups;
    for (size_t g = 0; g < 19; ++g) groups.push_back(ticks[1 + 3 * g + 1]);
    return groups;
}

// Paper row (1/720 inch) of nozzle n: both prints of the vernier share the paper position, the
// feed comes after the second one.
int64_t paperRow(int nozzle) { return nozzle * 4; }

using AlignmentTest = PrinterTest;

TEST_F(AlignmentTest, IdealPrinterLinesUpGroupZeroWithinAGroupStepInEveryMode) {
    for (int type = 5; type <= 10; ++type) {
        SCOPED_TRACE("type " + std::to_string(type));
        ASSERT_EQ(Job_RunAdjustment(static_cast<uint8_t>(type)), 0);
        VPrinter_WaitPaper();
        auto swaths = eventsOf(jobEvents(), "swath");
        ASSERT_EQ(swaths.size(), 2u);
        // First print ticks on nozzles 30..49, second print ticks on 45..64.
        auto first = groupCentres(runCentres(paperRow(40), -2000, 40000));
        auto second = groupCentres(runCentres(paperRow(55), -2000, 40000));
        ASSERT_EQ(first.size(), 19u);
        ASSERT_EQ(second.size(), 19u);
        std::string offsets;
        int best = -1;
        for (int k = 0; k < 19; ++k) {
            double d = second[k] - first[k];
            offsets += " " + std::to_string(9 - k) + ":" + std::to_string(d);
            if (best < 0 || std::fabs(d) < std::fabs(second[best] - first[best])) best = k;
        }
        SCOPED_TRACE("offsets by group:" + offsets);
        EXPECT_LE(std::abs(9 - best), 1);
        EXPECT_LT(std::fabs(second[9] - first[9]), 2.0);
        for (int k = 1; k < 19; ++k)
            EXPECT_EQ((second[k] - first[k]) - (second[k - 1] - first[k - 1]), 2.0) << k;
    }
}

}  // namespace
