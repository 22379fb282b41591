// SPDX-License-Identifier: Apache-2.0
// Channel offsets across the head, the head margin and the ink-box order check.
#include "format_fixture.h"

namespace {

using ChannelOffsets = FormatFixture;

TEST_F(ChannelOffsets, LeftToRightFromChannelSevenOutwards) {
    // S = 64, L = 216, class 2 (K = 0, T(ch0) = 1): channel 0 is 905, rounded up to 906.
    const int expected[8] = {906, 840, 624, 560, 344, 280, 64, 0};
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(channelRowOffset(ctx, ch), expected[ch]) << ch;
    EXPECT_EQ(channelRowOffset(ctx, 8), 0);
    EXPECT_EQ(channelRowOffset(ctx, 200), 0);
}

TEST_F(ChannelOffsets, CorrectionTablesBySpeedAndClass) {
    struct Case {
        uint8_t cls, speed;
        int ch3, ch2, ch1, ch0;
    } cases[] = {
        {0, 60, 562, 628, 842, 906}, {0, 50, 562, 626, 842, 908}, {0, 30, 562, 626, 842, 906},
        {1, 60, 562, 628, 842, 906}, {1, 30, 562, 626, 840, 906}, {2, 50, 560, 624, 840, 906},
        {3, 60, 562, 626, 842, 906}, {3, 30, 562, 626, 842, 906},
    };
    for (const Case& c : cases) {
        params->resolutionClass = c.cls;
        ctx->printSpeedIps = c.speed;
        EXPECT_EQ(channelRowOffset(ctx, 3), c.ch3) << int(c.cls) << "/" << int(c.speed);
        EXPECT_EQ(channelRowOffset(ctx, 2), c.ch2) << int(c.cls) << "/" << int(c.speed);
        EXPECT_EQ(channelRowOffset(ctx, 1), c.ch1) << int(c.cls) << "/" << int(c.speed);
        EXPECT_EQ(channelRowOffset(ctx, 0), c.ch0) << int(c.cls) << "/" << int(c.speed);
        EXPECT_EQ(channelRowOffset(ctx, 4), 344);
    }
}

TEST_F(ChannelOffsets, RightToLeftCarriesTheSelectedBidirectionalCorrection) {
    ctx->swathDirection = 1;
    // margin 4 x (64 + 216) = 1120; channel 0 raw 905 + 32 = 937 -> ((1120 - 937 + 1) / 2) x 2.
    EXPECT_EQ(channelRowOffset(ctx, 0), 184);
    EXPECT_EQ(channelRowOffset(ctx, 7), 1088);
    params->bidirTextHigh = 1;
    EXPECT_EQ(channelRowOffset(ctx, 0), 186);  // one unit of correction = 2 columns
    params->bidirTextHigh = 2;
    EXPECT_EQ(channelRowOffset(ctx, 0), 188);
    params->bidirImageHigh = 7;
    ctx->bidirIndex = 3;
    EXPECT_EQ(channelRowOffset(ctx, 0), 198);
    params->bidirImageLowHd = 10;
    ctx->bidirIndex = 10;
    EXPECT_EQ(channelRowOffset(ctx, 0), 204);
    ctx->bidirIndex = 11;  // no such mode: uncorrected
    EXPECT_EQ(channelRowOffset(ctx, 0), 184);
    // Left to right ignores the correction.
    ctx->swathDirection = 0;
    ctx->bidirIndex = 0;
    EXPECT_EQ(channelRowOffset(ctx, 0), 906);
}

TEST_F(ChannelOffsets, RightToLeftOffsetIsKeptInSixteenBits) {
    ctx->swathDirection = 1;
    ctx->printParams.rowGapSmall = 0;
    ctx->printParams.rowGapLarge = 0;
    EXPECT_EQ(channelRowOffset(ctx, 7), 65506);  // (0 - 32 + 1) / 2 x 2 = -30
    params->bidirTextHigh = 255;
    EXPECT_EQ(channelRowOffset(ctx, 7), 480);
}

TEST_F(ChannelOffsets, HeadMarginForOneAndTwoHeads) {
    EXPECT_EQ(headMarginColumns(ctx), 1120u);
    ctx->printParams.headDistance = 300;
    EXPECT_EQ(headMarginColumns(ctx), 1120u);
    ctx->printParams.headEnable = 3;
    EXPECT_EQ(headMarginColumns(ctx), 300u + 8 * 64 + 8 * 216);
    ctx->printParams.headEnable = 2;
    EXPECT_EQ(headMarginColumns(ctx), 1120u);
}

TEST(InkOrder, AcceptsOnlyPermutationsOfTheEightChannels) {
    const uint8_t identity[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    const uint8_t shuffled[8] = {7, 3, 5, 1, 0, 2, 4, 6};
    const uint8_t repeated[8] = {0, 1, 2, 3, 4, 5, 6, 6};
    const uint8_t tooLarge[8] = {0, 1, 2, 3, 4, 5, 6, 8};
    const uint8_t wrapped[8] = {0, 1, 2, 3, 4, 5, 6, 0xFF};
    EXPECT_TRUE(isValidInkOrder(identity));
    EXPECT_TRUE(isValidInkOrder(shuffled));
    EXPECT_FALSE(isValidInkOrder(repeated));
    EXPECT_FALSE(isValidInkOrder(tooLarge));
    EXPECT_FALSE(isValidInkOrder(wrapped));
    EXPECT_FALSE(isValidInkOrder(nullptr));
}

}  // namespace
