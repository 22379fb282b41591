// SPDX-License-Identifier: Apache-2.0
// Feed step: steps per row, the 0.6 carry across calls, and the uninitialised and zero cases.
#include "pipeline/feed_step.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/fakes.h"
#include "support/session_fixture.h"

namespace {

class FeedStep : public ::testing::Test {
  protected:
    PlatformFixture platform;
    FeedStepState& feed = *testSession().feedStep;
};

TEST_F(FeedStep, ConversionBeforeAnyValidComputationFeedsNothing) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(rowsToSteps(100), 0u);
    EXPECT_EQ(computeStepsPerRow(720, 0, 409600), 0.0);  // a zero input does not make it ready
    EXPECT_EQ(rowsToSteps(100), 0u);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "步进未初始化步进计量输入值异常:720-0-409600步进未初始化");
    EXPECT_EQ(feed.stepReady, 0u);
}

TEST_F(FeedStep, StepsPerRowAndItsTraceLine) {
    ::testing::internal::CaptureStdout();
    const double v = computeStepsPerRow(720, 10000, 409600);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NEAR(v, 14.4498, 1e-4);
    EXPECT_EQ(v, 409600.0 * 10000.0 / (720.0 * 39.37008 * 10000.0));
    EXPECT_EQ(out, "Step: 720-10000-409600, 14.45s/d");
    // A larger correction gives fewer steps per row.
    EXPECT_LT(computeStepsPerRow(720, 10100, 409600), v);
}

TEST_F(FeedStep, ZeroInputKeepsThePreviousValue) {
    ::testing::internal::CaptureStdout();
    const double v = computeStepsPerRow(720, 10000, 409600);
    EXPECT_EQ(computeStepsPerRow(0, 10000, 409600), 0.0);
    EXPECT_EQ(computeStepsPerRow(720, 10000, 0), 0.0);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("步进计量输入值异常:0-10000-409600"), std::string::npos);
    EXPECT_NE(out.find("步进计量输入值异常:720-10000-0"), std::string::npos);
    EXPECT_EQ(feed.stepsPerRow, v);
    EXPECT_EQ(feed.stepReady, 1u);
    EXPECT_EQ(rowsToSteps(1), 14u);
}

TEST_F(FeedStep, OneRowAtATimeAlternatesAndCarries) {
    ::testing::internal::CaptureStdout();
    computeStepsPerRow(720, 10000, 409600);
    ::testing::internal::GetCapturedStdout();
    const uint32_t steps[8] = {14, 15, 14, 15, 14, 15, 14, 14};
    const double carry[8] = {0.450, -0.100, 0.349, -0.201, 0.249, -0.301, 0.148, 0.598};
    uint64_t total = 0;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(rowsToSteps(1), steps[i]) << i;
        EXPECT_NEAR(feed.stepCarry, carry[i], 0.0015) << i;
        total += steps[i];
    }
    // The carry runs on: the next row takes the 0.6 threshold and feeds 15.
    EXPECT_EQ(rowsToSteps(1), 15u);
    total += 15;
    EXPECT_NEAR(static_cast<double>(total), 9 * feed.stepsPerRow, 0.6);
    // Many rows at once carry the fraction the same way.
    const double before = feed.stepCarry;
    const double x = 1000 * feed.stepsPerRow;
    const uint32_t n = rowsToSteps(1000);
    const double expectedCarry = before + (x - std::floor(x));
    EXPECT_EQ(n, static_cast<uint32_t>(x) + (expectedCarry >= 0.6 ? 1 : 0));
}

TEST_F(FeedStep, AFractionOfExactlyPointSixIsFedAtOnce) {
    feed = FeedStepState{0.6, 1, 0.0};
    EXPECT_EQ(rowsToSteps(1), 1u);
    EXPECT_DOUBLE_EQ(feed.stepCarry, -0.4);
    feed = FeedStepState{0.5999999999999999, 1, 0.0};
    EXPECT_EQ(rowsToSteps(1), 0u);
}

TEST_F(FeedStep, CarryIsNotClearedByANewComputation) {
    ::testing::internal::CaptureStdout();
    computeStepsPerRow(720, 10000, 409600);
    rowsToSteps(1);
    const double carry = feed.stepCarry;
    computeStepsPerRow(1440, 10000, 409600);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(feed.stepCarry, carry);
}

}  // namespace
