// SPDX-License-Identifier: Apache-2.0
// The head formatter against a plain, byte-at-a-time formatter kept here: random images of every
// density, both directions, both heads, single channels and channel pairs, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "handover/job_context.h"
#include "params/calibration_params.h"
#include "pattern/canvas.h"
#include "pipeline/head_format.h"
#include "support/fakes.h"
#include "support/session_fixture.h"

namespace {

constexpr int64_t COL = 180;

// The placement rules written out one source bit at a time, into a buffer as large as the
// format buffer; writes outside it are counted, as the formatter drops them.
struct PlainFormatter {
    std::vector<uint8_t> out = std::vector<uint8_t>(MAX_FORMAT_DATA_SIZE, 0);
    uint64_t dropped = 0;

    void orIn(int64_t at, uint8_t mask) {
        if (at < 0 || at >= static_cast<int64_t>(out.size())) {
            ++dropped;
            return;
        }
        out[static_cast<size_t>(at)] |= mask;
    }
    static uint32_t rowsOf(const JobContext* c, const uint8_t* src, uint32_t wanted) {
        const uint64_t stride = (c->rowBits + 7) / 8;
        const uint64_t room = bufferRoomFrom(src, MAX_SRC_DATA_SIZE) / stride;
        return static_cast<uint32_t>(room < wanted ? room : wanted);
    }

    void single(const JobContext* c, int channel) {
        const bool rtl = c->swathDirection == 1, second = c->secondHeadPass == 1;
        const uint8_t mask = static_cast<uint8_t>(1 << channel);
        uint16_t off = static_cast<uint16_t>(channelRowOffset(c, channel));
        if (second)
            off = static_cast<uint16_t>(rtl ? off - c->printParams.headDistance
                                            : off + c->printParams.headDistance);
        int64_t out0 = off * COL + (second ? 2 : 0);
        if (off & 1) out0 += rtl ? -COL : COL;
        const uint32_t stride = (c->rowBits + 7) / 8;
        const int64_t e = int64_t(c->rowBits) * 180;
        const uint32_t rows = rowsOf(c, c->srcBuffer, 180);
        for (uint32_t r = 0; r < rows; ++r)
            for (uint32_t j = 0; j < stride; ++j) {
                const uint8_t b = c->srcBuffer[r * stride + j];
                const int64_t base = 1440 * int64_t(j);
                for (int pair = 0; pair < 4; ++pair) {
                    const int hi = 7 - 2 * pair;
                    if (!((b >> hi) & 1) && !((b >> (hi - 1)) & 1)) continue;
                    int64_t at;
                    if (!rtl) {
                        at = out0 + r + base + 360 * pair;
                    } else {
                        const int64_t mirrored[4] = {e - 360, e, e - 1080, e - 720};
                        at = out0 + r + mirrored[pair] - base;
                    }
                    orIn(at, mask);
                    orIn(at + 180, mask);
                }
            }
    }

    void pairForHead(const JobContext* c, int pairNo, int head) {
        const bool rtl = c->swathDirection == 1;
        const bool both = (c->printParams.headEnable & 3) == 3;
        const uint16_t shift = head == 1 && both ? c->printParams.headDistance : 0;
        const uint8_t* order = calibrationParams()->inkOrder;
        const int a = order[7 - 2 * pairNo], b = order[6 - 2 * pairNo];
        uint16_t offA = static_cast<uint16_t>(channelRowOffset(c, a));
        uint16_t offB = static_cast<uint16_t>(channelRowOffset(c, b));
        offA = static_cast<uint16_t>(rtl ? offA - shift : offA + shift);
        offB = static_cast<uint16_t>(rtl ? offB - shift : offB + shift);
        if (offB & 1) ++offB;
        if (offA & 1) ++offA;
        const uint8_t maskA = static_cast<uint8_t>(a < 8 ? 1 << a : 0);
        const uint8_t maskB = static_cast<uint8_t>(b < 8 ? 1 << b : 0);
        const int64_t o = head == 1 ? 2 : 0;
        const uint8_t* src = head == 0 ? c->srcBufferA : c->srcBufferB;
        const uint32_t stride = (c->rowBits + 7) / 8;
        const int64_t e = int64_t(c->rowBits) * 90;
        const uint32_t rows = rowsOf(c, src, 179);
        // Bit, channel (0 = A, 1 = B) and position left to right; right to left the channels
        // swap and the position is mirrored.
        struct Bit {
            uint8_t bit;
            int ch;
            int64_t ltr, rtl;
        };
        const Bit bits[8] = {{0x20, 0, 0, -360},   {0x10, 0, 180, -180}, {0x02, 0, 360, -720},
                             {0x01, 0, 540, -540}, {0x80, 1, 0, -360},   {0x40, 1, 180, -180},
                             {0x08, 1, 360, -720}, {0x04, 1, 540, -540}};
        for (uint32_t r = 0; r < rows; ++r)
            for (uint32_t j = 0; j < stride; ++j) {
                const uint8_t v = src[r * stride + j];
                const int64_t base = 720 * int64_t(j);
                for (const Bit& bit : bits) {
                    if (!(v & bit.bit)) continue;
                    const int ch = rtl ? 1 - bit.ch : bit.ch;
                    const uint8_t mask = ch == 0 ? maskA : maskB;
                    if (!mask) continue;
                    const int64_t outAt = (ch == 0 ? offA : offB) * COL + r + o;
                    orIn(rtl ? outAt + e + bit.rtl - base : outAt + base + bit.ltr, mask);
                }
            }
    }

    void pair(const JobContext* c, int pairNo) {
        if (c->printParams.headEnable & 1) pairForHead(c, pairNo, 0);
        if (c->printParams.headEnable & 2) pairForHead(c, pairNo, 1);
    }
};

// A random job geometry and image: density from blank to every dot, widths that end inside a
// byte and inside an eight-byte word.
struct Scenario {
    uint32_t rowBits;
    uint8_t direction, heads, second;
    uint16_t small, large, distance;
    uint8_t bidir, speed, resolutionClass;
    int densityPercent;
};

class FormatEquivalence : public ::testing::Test {
  protected:
    PlatformFixture platform;
    CalibrationParams saved{};
    JobContext* ctx = nullptr;
    std::mt19937 rng{20261207};

    void SetUp() override {
        saved = *calibrationParams();
        Job_ClearContext();
        ctx = jobContext();
    }
    void TearDown() override {
        *calibrationParams() = saved;
        Job_ClearContext();
    }
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    void apply(const Scenario& s) {
        ctx->rowBits = s.rowBits;
        ctx->swathDirection = s.direction;
        ctx->secondHeadPass = s.second;
        ctx->printParams.headEnable = s.heads;
        ctx->printParams.rowGapSmall = s.small;
        ctx->printParams.rowGapLarge = s.large;
        ctx->printParams.headDistance = s.distance;
        ctx->printSpeedIps = s.speed;
        ctx->bidirIndex = 0;
        ctx->srcBuffer = ctx->srcBufferA = canvasBuffer();
        ctx->srcBufferB = srcBufferBStorage();
        ctx->formatBuffer = formatBufferStorage();
        CalibrationParams* cp = calibrationParams();
        cp->resolutionClass = s.resolutionClass;
        cp->bidirTextHigh = s.bidir;
    }
    // Random bytes, `percent` of them inked; a dense image has every second dot set.
    void fillImage(uint8_t* src, uint32_t bytes, int percent) {
        for (uint32_t i = 0; i < bytes; ++i) {
            if (percent >= 100)
                src[i] = 0xAA;
            else
                src[i] = pick(0, 99) < percent ? static_cast<uint8_t>(pick(1, 255)) : 0;
        }
    }
    Scenario randomScenario() {
        Scenario s{};
        s.rowBits = static_cast<uint32_t>(pick(1, 3000));
        s.direction = static_cast<uint8_t>(pick(0, 1));
        s.heads = static_cast<uint8_t>(pick(1, 3));
        s.second = static_cast<uint8_t>(pick(0, 1));
        s.small = static_cast<uint16_t>(pick(0, 120));
        s.large = static_cast<uint16_t>(pick(0, 300));
        s.distance = static_cast<uint16_t>(pick(0, 3) == 0 ? pick(0, 65535) : pick(0, 900));
        s.bidir = static_cast<uint8_t>(pick(0, 255));
        s.speed = static_cast<uint8_t>(pick(0, 3) == 0 ? 50 : 30);
        s.resolutionClass = static_cast<uint8_t>(pick(0, 3));
        const int densities[] = {0, 1, 5, 30, 70, 100};
        s.densityPercent = densities[pick(0, 5)];
        return s;
    }
    static std::string describe(const Scenario& s) {
        return "rowBits " + std::to_string(s.rowBits) + " dir " + std::to_string(s.direction) +
               " heads " + std::to_string(s.heads) + " second " + std::to_string(s.second) +
               " gaps " + std::to_string(s.small) + "/" + std::to_string(s.large) + " D " +
               std::to_string(s.distance) + " density " + std::to_string(s.densityPercent);
    }
    // Formats every channel (or every pair) both ways and compares the whole format buffer.
    void compareSingle(const Scenario& s) {
        SCOPED_TRACE(describe(s));
        apply(s);
        const uint32_t stride = (s.rowBits + 7) / 8;
        fillImage(canvasBuffer(), stride * 180, s.densityPercent);
        std::memset(formatBufferStorage(), 0, MAX_FORMAT_DATA_SIZE);
        restartState<FormatState>();
        PlainFormatter plain;
        ::testing::internal::CaptureStdout();
        for (int ch = 0; ch < 8; ++ch) {
            formatChannel(ctx, ch);
            plain.single(ctx, ch);
        }
        ::testing::internal::GetCapturedStdout();
        ASSERT_EQ(0, std::memcmp(formatBufferStorage(), plain.out.data(), MAX_FORMAT_DATA_SIZE));
        EXPECT_EQ(testSession().format->droppedTotal, plain.dropped);
    }
    void comparePairs(const Scenario& s) {
        SCOPED_TRACE(describe(s));
        apply(s);
        uint8_t order[8] = {0, 1, 2, 3, 4, 5, 6, 7};
        std::shuffle(order, order + 8, rng);
        if (pick(0, 4) == 0) order[pick(0, 7)] = 9;  // a broken order names no channel
        std::memcpy(calibrationParams()->inkOrder, order, 8);
        const uint32_t stride = (s.rowBits + 7) / 8;
        fillImage(canvasBuffer(), stride * 180, s.densityPercent);
        fillImage(srcBufferBStorage(), stride * 180, s.densityPercent);
        std::memset(formatBufferStorage(), 0, MAX_FORMAT_DATA_SIZE);
        restartState<FormatState>();
        PlainFormatter plain;
        ::testing::internal::CaptureStdout();
        for (int p = 0; p < 4; ++p) {
            formatChannelPair(ctx, p);
            plain.pair(ctx, p);
        }
        ::testing::internal::GetCapturedStdout();
        ASSERT_EQ(0, std::memcmp(formatBufferStorage(), plain.out.data(), MAX_FORMAT_DATA_SIZE));
        EXPECT_EQ(testSession().format->droppedTotal, plain.dropped);
    }
};

// The benchmarked swath: full width, dense and sparse, each head, each direction.
TEST_F(FormatEquivalence, FullWidthSwathsMatchInBothDirectionsAndForBothHeads) {
    for (int density : {100, 3})
        for (uint8_t dir = 0; dir < 2; ++dir)
            for (uint8_t second = 0; second < 2; ++second) {
                const Scenario s{24000,
                                 dir,
                                 static_cast<uint8_t>(second ? 3 : 1),
                                 second,
                                 64,
                                 216,
                                 static_cast<uint16_t>(second ? 420 : 0),
                                 3,
                                 30,
                                 2,
                                 density};
                compareSingle(s);
                if (HasFatalFailure()) return;
                comparePairs(s);
                if (HasFatalFailure()) return;
            }
}

TEST_F(FormatEquivalence, RandomSingleChannelImagesMatch) {
    for (int i = 0; i < 40; ++i) {
        compareSingle(randomScenario());
        if (HasFatalFailure()) return;
    }
}

TEST_F(FormatEquivalence, RandomChannelPairImagesMatch) {
    for (int i = 0; i < 40; ++i) {
        comparePairs(randomScenario());
        if (HasFatalFailure()) return;
    }
}

// Offsets that wrap or a head distance past the buffer: the writes that stay inside are the
// same, the ones outside are dropped and counted alike.
TEST_F(FormatEquivalence, SwathsReachingPastTheBufferDropTheSameWrites) {
    const Scenario cases[] = {
        {24000, 1, 3, 1, 64, 216, 2000, 255, 30, 2, 100},
        {24000, 0, 3, 1, 64, 216, 60000, 0, 30, 2, 30},
        {2000, 1, 1, 0, 0, 0, 0, 0, 30, 2, 100},
        {28346, 1, 3, 0, 0, 0, 65057, 255, 30, 2, 70},
    };
    for (const Scenario& s : cases) {
        compareSingle(s);
        if (HasFatalFailure()) return;
        comparePairs(s);
        if (HasFatalFailure()) return;
    }
}

// A source placed near the end of the canvas: only the rows that fit are read, by both.
TEST_F(FormatEquivalence, SourceNearTheEndOfTheCanvasReadsOnlyWholeRows) {
    const Scenario s{3000, 0, 1, 0, 64, 216, 0, 0, 30, 2, 100};
    apply(s);
    const uint32_t stride = (s.rowBits + 7) / 8;
    uint8_t* late = canvasBuffer() + MAX_SRC_DATA_SIZE - 37 * stride - 5;
    ctx->srcBuffer = ctx->srcBufferA = late;
    fillImage(late, 37 * stride + 5, 100);
    std::memset(formatBufferStorage(), 0, MAX_FORMAT_DATA_SIZE);
    PlainFormatter plain;
    ::testing::internal::CaptureStdout();
    for (int ch = 0; ch < 8; ++ch) {
        formatChannel(ctx, ch);
        plain.single(ctx, ch);
    }
    for (int p = 0; p < 4; ++p) {
        formatChannelPair(ctx, p);
        plain.pair(ctx, p);
    }
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(0, std::memcmp(formatBufferStorage(), plain.out.data(), MAX_FORMAT_DATA_SIZE));
}

}  // namespace
