// SPDX-License-Identifier: Apache-2.0
// The single-channel and channel-pair writers: byte positions in both directions, both heads,
// the odd-offset rule, the untouched last nozzle and zero bytes that never touch the buffer.
#ifdef _WIN32
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include "format_fixture.h"

namespace {

using Map = std::map<uint32_t, uint8_t>;
constexpr uint32_t COL = 180;

using SingleChannel = FormatFixture;

TEST_F(SingleChannel, LeftToRightBitPairsAndNozzles) {
    srcRow(canvasBuffer(), 0)[0] = 0x80;    // pair 0 (one bit is enough for both columns)
    srcRow(canvasBuffer(), 0)[1] = 0x01;    // pair 3 of the second byte
    srcRow(canvasBuffer(), 5)[2] = 0x30;    // pair 1, nozzle 5
    srcRow(canvasBuffer(), 179)[0] = 0x0C;  // pair 2, the last nozzle
    formatChannel(ctx, 7);
    EXPECT_EQ(ctx->formatChannel, 7);
    EXPECT_EQ(written(), (Map{{0, 0x80},
                              {180, 0x80},
                              {720 + 179, 0x80},
                              {900 + 179, 0x80},
                              {1440 + 1080, 0x80},
                              {1440 + 1260, 0x80},
                              {2880 + 360 + 5, 0x80},
                              {2880 + 540 + 5, 0x80}}));
}

TEST_F(SingleChannel, ChannelsShareBytesByOr) {
    srcRow(canvasBuffer(), 0)[0] = 0xC0;
    formatChannel(ctx, 7);
    formatChannel(ctx, 6);  // offset 64 columns
    formatChannel(ctx, 0);  // offset 906 columns
    EXPECT_EQ(written(), (Map{{0, 0x80},
                              {180, 0x80},
                              {64 * COL, 0x40},
                              {65 * COL, 0x40},
                              {906 * COL, 0x01},
                              {907 * COL, 0x01}}));
}

TEST_F(SingleChannel, RightToLeftMirrorsFromTheImageEnd) {
    ctx->swathDirection = 1;
    const uint32_t start = 1088 * COL;  // channel 7 right to left
    const uint32_t e = 4000 * COL;
    srcRow(canvasBuffer(), 0)[0] = 0xFF;
    srcRow(canvasBuffer(), 1)[1] = 0x40;
    formatChannel(ctx, 7);
    const Map first = written();
    EXPECT_EQ(first, (Map{{start + e - 360, 0x80},
                          {start + e - 180, 0x80},
                          {start + e, 0x80},
                          {start + e + 180, 0x80},
                          {start + e - 1080, 0x80},
                          {start + e - 900, 0x80},
                          {start + e - 720, 0x80},
                          {start + e - 540, 0x80},
                          {start + 1 + e - 360 - 1440, 0x80},
                          {start + 1 + e - 180 - 1440, 0x80}}));
    // One unit of bidirectional correction moves the swath by two columns.
    std::memset(formatBufferStorage(), 0, CLEARED);
    params->bidirTextHigh = 1;
    formatChannel(ctx, 7);
    Map shifted;
    for (const auto& [at, v] : first) shifted[at + 2 * COL] = v;
    EXPECT_EQ(written(), shifted);
}

TEST_F(SingleChannel, SecondHeadShiftsByTheHeadDistanceAndTwoNozzles) {
    ctx->secondHeadPass = 1;
    ctx->printParams.headDistance = 100;
    srcRow(canvasBuffer(), 0)[0] = 0x80;
    formatChannel(ctx, 7);
    EXPECT_EQ(written(), (Map{{100 * COL + 2, 0x80}, {101 * COL + 2, 0x80}}));
}

TEST_F(SingleChannel, OddOffsetMovesOneMoreColumnInThePrintingDirection) {
    ctx->secondHeadPass = 1;
    ctx->printParams.headDistance = 101;
    srcRow(canvasBuffer(), 0)[0] = 0x80;
    formatChannel(ctx, 7);  // 101 is odd: one column further right
    EXPECT_EQ(written(), (Map{{102 * COL + 2, 0x80}, {103 * COL + 2, 0x80}}));

    std::memset(formatBufferStorage(), 0, CLEARED);
    ctx->swathDirection = 1;
    formatChannel(ctx, 7);  // 1088 - 101 = 987, odd: one column further left
    const uint32_t start = 986 * COL + 2, e = 4000 * COL;
    EXPECT_EQ(written(), (Map{{start + e - 360, 0x80}, {start + e - 180, 0x80}}));
}

TEST_F(SingleChannel, ChannelOutsideTheHeadIsRefused) {
    srcRow(canvasBuffer(), 0)[0] = 0xFF;
    ::testing::internal::CaptureStdout();
    formatChannel(ctx, 8);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(written().empty());
    EXPECT_NE(out.find("格式化通道无效:8"), std::string::npos);
}

using ChannelPair = FormatFixture;

TEST_F(ChannelPair, LeftToRightSplitsTheNibblesBetweenTwoChannels) {
    // pair 0 -> A = inkOrder[7], B = inkOrder[6]; with this order A = 4 (offset 344), B = 5 (280).
    const uint8_t order[8] = {3, 2, 1, 0, 7, 6, 5, 4};
    std::memcpy(params->inkOrder, order, 8);
    srcRow(canvasBuffer(), 0)[0] = 0xFF;
    srcRow(canvasBuffer(), 3)[1] = 0x21;  // A of column 4 and 7 (byte 1), nozzle 3
    formatChannelPair(ctx, 0);
    const uint32_t a = 344 * COL, b = 280 * COL;
    EXPECT_EQ(written(), (Map{{a, 0x10},
                              {a + 180, 0x10},
                              {a + 360, 0x10},
                              {a + 540, 0x10},
                              {b, 0x20},
                              {b + 180, 0x20},
                              {b + 360, 0x20},
                              {b + 540, 0x20},
                              {a + 720 + 3, 0x10},
                              {a + 720 + 540 + 3, 0x10}}));
    EXPECT_EQ(ctx->formatChannel, 0);
    EXPECT_EQ(ctx->maskA, 0x10);
    EXPECT_EQ(ctx->maskB, 0x20);
    EXPECT_EQ(ctx->offsetA, 344);
    EXPECT_EQ(ctx->offsetB, 280);
}

TEST_F(ChannelPair, RightToLeftSwapsTheBitGroupsAndMirrorsByColumnPairs) {
    ctx->swathDirection = 1;
    srcRow(canvasBuffer(), 0)[0] = 0x20;  // A-group bit 5 -> channel B's row
    srcRow(canvasBuffer(), 0)[1] = 0x80;  // B-group bit 7 -> channel A's row
    srcRow(canvasBuffer(), 2)[0] = 0x06;  // bit 2 -> A at E - 540, bit 1 -> B at E - 720
    formatChannelPair(ctx, 0);            // A = 7 (1088), B = 6 (raw 96 -> 1024)
    const uint32_t a = 1088 * COL, b = 1024 * COL, e = 4000 * 90;
    EXPECT_EQ(written(), (Map{{b + e - 360, 0x40},
                              {a + e - 360 - 720, 0x80},
                              {a + e - 540 + 2, 0x80},
                              {b + e - 720 + 2, 0x40}}));
}

TEST_F(ChannelPair, LastNozzleIsNeverWritten) {
    ctx->printParams.headEnable = 3;
    ctx->printParams.headDistance = 50;
    std::memset(srcRow(canvasBuffer(), 179), 0xFF, stride());
    std::memset(srcRow(srcBufferBStorage(), 179), 0xFF, stride());
    for (int dir = 0; dir < 2; ++dir) {
        ctx->swathDirection = static_cast<uint8_t>(dir);
        for (int pair = 0; pair < 4; ++pair) formatChannelPair(ctx, pair);
    }
    EXPECT_TRUE(written().empty());
    // Row 178 is the last one used.
    std::memset(srcRow(canvasBuffer(), 178), 0xFF, stride());
    ctx->swathDirection = 0;
    ctx->printParams.headEnable = 1;
    formatChannelPair(ctx, 0);
    EXPECT_EQ(formatBufferStorage()[178], 0x80);
    EXPECT_EQ(formatBufferStorage()[179], 0x00);
}

TEST_F(ChannelPair, SecondHeadShiftsByDistanceOnlyWithBothHeads) {
    srcRow(canvasBuffer(), 0)[0] = 0x20;
    srcRow(srcBufferBStorage(), 0)[0] = 0x20;
    ctx->printParams.headDistance = 101;
    ctx->printParams.headEnable = 3;
    formatChannelPair(ctx, 0);
    // PHA at 0; PHB at 101 made even (102), two nozzles further.
    EXPECT_EQ(written(), (Map{{0, 0x80}, {102 * COL + 2, 0x80}}));

    std::memset(formatBufferStorage(), 0, CLEARED);
    ctx->swathDirection = 1;
    formatChannelPair(ctx, 0);
    // margin 101 + 8 x 280 = 2341; channel 7: ((2341 - 32 + 1) / 2) x 2 = 2310 for PHA and
    // 2310 - 101 = 2209, made even 2210, for PHB. The A-group bit lands in channel B's row
    // (channel 6: raw 96 -> 2246 for PHA, 2145 -> 2146 for PHB).
    const uint32_t e = 4000 * 90;
    EXPECT_EQ(written(), (Map{{2246 * COL + e - 360, 0x40}, {2146 * COL + e - 360 + 2, 0x40}}));

    // Only the second head enabled: no shift, still two nozzles further, from srcBufferB.
    std::memset(formatBufferStorage(), 0, CLEARED);
    srcRow(canvasBuffer(), 0)[0] = 0;
    ctx->swathDirection = 0;
    ctx->printParams.headEnable = 2;
    formatChannelPair(ctx, 0);
    EXPECT_EQ(written(), (Map{{2, 0x80}}));
}

TEST_F(ChannelPair, PairNumberAboveThreeFormatsNothing) {
    std::memset(srcRow(canvasBuffer(), 0), 0xFF, stride());
    formatChannelPair(ctx, 4);
    EXPECT_TRUE(written().empty());
}

TEST_F(FormatFixture, ZeroSourceBytesNeverTouchTheFormatBuffer) {
    // A read-only format buffer: any write, even an OR of zero, would fault.
#ifdef _WIN32
    void* ro = VirtualAlloc(nullptr, MAX_FORMAT_DATA_SIZE, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY);
    ASSERT_NE(ro, nullptr);
#else
    void* ro = mmap(nullptr, MAX_FORMAT_DATA_SIZE, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(ro, MAP_FAILED);
#endif
    ctx->formatBuffer = static_cast<uint8_t*>(ro);
    ctx->printParams.headEnable = 3;
    for (int dir = 0; dir < 2; ++dir) {
        ctx->swathDirection = static_cast<uint8_t>(dir);
        for (int second = 0; second < 2; ++second) {
            ctx->secondHeadPass = static_cast<uint8_t>(second);
            for (int ch = 0; ch < 8; ++ch) formatChannel(ctx, ch);
        }
        for (int pair = 0; pair < 4; ++pair) formatChannelPair(ctx, pair);
    }
#ifdef _WIN32
    VirtualFree(ro, 0, MEM_RELEASE);
#else
    munmap(ro, MAX_FORMAT_DATA_SIZE);
#endif
    SUCCEED();
}

}  // namespace
