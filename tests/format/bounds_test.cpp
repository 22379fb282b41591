// SPDX-License-Identifier: Apache-2.0
// Writes that the offset arithmetic puts outside the format buffer: dropped and traced once
// per channel and swath, with everything inside formatted exactly as by the unbounded rules.
#include <random>
#include <vector>

#include "format_fixture.h"
#include "support/session_fixture.h"

namespace {

constexpr int64_t COL = 180;
constexpr uint32_t WIDEST_ROW = 28346;

// The placement rules written out plainly, into an unbounded image indexed from `origin`.
struct Reference {
    int64_t origin;
    std::vector<uint8_t> image;
    uint64_t outside = 0;
    uint64_t before = 0;  // of outside: before the buffer's start
    // Positions run from just before the start (right to left, a row not a multiple of 8)
    // to a 16-bit offset past the end plus a whole row.
    Reference() : origin(2'000'000), image(static_cast<size_t>(origin) + 18'000'000) {}
    void orIn(int64_t at, uint8_t mask) {
        if (at < 0 || at >= MAX_FORMAT_DATA_SIZE) ++outside;
        if (at < 0) ++before;
        image[static_cast<size_t>(origin + at)] |= mask;
    }

    void single(const JobContext* c, int channel) {
        const bool rtl = c->swathDirection == 1, second = c->secondHeadPass == 1;
        const uint8_t mask = static_cast<uint8_t>(1 << channel);
        uint16_t off = static_cast<uint16_t>(channelRowOffset(c, channel));
        if (second)
            off = static_cast<uint16_t>(rtl ? off - c->printParams.headDistance
                                            : off + c->printParams.headDistance);
        int64_t p = off * COL + (second ? 2 : 0) + ((off & 1) ? (rtl ? -COL : COL) : 0);
        const uint32_t stride = (c->rowBits + 7) / 8;
        const int64_t e = int64_t(c->rowBits) * 180;
        const int64_t ltr[4] = {0, 360, 720, 1080}, r2l[4] = {e - 360, e, e - 1080, e - 720};
        for (int r = 0; r < 180; ++r, ++p)
            for (uint32_t j = 0; j < stride; ++j) {
                const uint8_t b = c->srcBuffer[r * stride + j];
                if (!b) continue;
                for (int k = 0; k < 4; ++k)
                    if (b & (0xC0 >> (2 * k))) {
                        const int64_t at =
                            rtl ? p + r2l[k] - 1440 * int64_t(j) : p + 1440 * int64_t(j) + ltr[k];
                        orIn(at, mask);
                        orIn(at + 180, mask);
                    }
            }
    }

    void pair(const JobContext* c, const uint8_t* order, int pairNo, int head) {
        const bool rtl = c->swathDirection == 1;
        const bool both = (c->printParams.headEnable & 3) == 3;
        const uint16_t shift = head == 1 && both ? c->printParams.headDistance : 0;
        const int a = order[7 - 2 * pairNo], b = order[6 - 2 * pairNo];
        uint16_t offA = static_cast<uint16_t>(channelRowOffset(c, a));
        uint16_t offB = static_cast<uint16_t>(channelRowOffset(c, b));
        offA = static_cast<uint16_t>(rtl ? offA - shift : offA + shift);
        offB = static_cast<uint16_t>(rtl ? offB - shift : offB + shift);
        offA = static_cast<uint16_t>(offA + (offA & 1));
        offB = static_cast<uint16_t>(offB + (offB & 1));
        const int64_t o = head == 1 ? 2 : 0;
        const uint8_t ma = static_cast<uint8_t>(1 << a), mb = static_cast<uint8_t>(1 << b);
        const uint8_t* src = head == 0 ? c->srcBufferA : c->srcBufferB;
        const uint32_t stride = (c->rowBits + 7) / 8;
        const int64_t e = int64_t(c->rowBits) * 90;
        for (int r = 0; r < 179; ++r)
            for (uint32_t j = 0; j < stride; ++j) {
                const uint8_t v = src[r * stride + j];
                if (!v) continue;
                const int64_t base = 720 * int64_t(j);
                const int64_t outA = offA * COL + r + o, outB = offB * COL + r + o;
                if (!rtl) {
                    if (v & 0x20) orIn(outA + base, ma);
                    if (v & 0x10) orIn(outA + base + 180, ma);
                    if (v & 0x02) orIn(outA + base + 360, ma);
                    if (v & 0x01) orIn(outA + base + 540, ma);
                    if (v & 0x80) orIn(outB + base, mb);
                    if (v & 0x40) orIn(outB + base + 180, mb);
                    if (v & 0x08) orIn(outB + base + 360, mb);
                    if (v & 0x04) orIn(outB + base + 540, mb);
                } else {
                    if (v & 0x20) orIn(outB + e - 360 - base, mb);
                    if (v & 0x10) orIn(outB + e - 180 - base, mb);
                    if (v & 0x02) orIn(outB + e - 720 - base, mb);
                    if (v & 0x01) orIn(outB + e - 540 - base, mb);
                    if (v & 0x80) orIn(outA + e - 360 - base, ma);
                    if (v & 0x40) orIn(outA + e - 180 - base, ma);
                    if (v & 0x08) orIn(outA + e - 720 - base, ma);
                    if (v & 0x04) orIn(outA + e - 540 - base, ma);
                }
            }
    }

    // The in-buffer part must match byte for byte.
    bool matches(const uint8_t* buffer) const {
        return std::memcmp(buffer, image.data() + origin, MAX_FORMAT_DATA_SIZE) == 0;
    }
};

class FormatBounds : public FormatFixture {
  protected:
    void SetUp() override {
        FormatFixture::SetUp();
        ctx->rowBits = WIDEST_ROW;
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> byte(0, 255);
        for (uint8_t* src : {canvasBuffer(), srcBufferBStorage()})
            for (uint32_t i = 0; i < 180 * stride(); ++i) {
                const int v = byte(rng);
                src[i] = v < 160 ? 0 : static_cast<uint8_t>(v);  // realistic: mostly blank bytes
            }
        std::memset(formatBufferStorage(), 0, MAX_FORMAT_DATA_SIZE);
        params->bidirTextHigh = 255;
    }
};

struct Geometry {
    const char* name;
    uint16_t small, large, distance;
    uint8_t heads;
};

TEST_F(FormatBounds, SingleChannelsAtTheWidestRowStayInsideTheBuffer) {
    struct Case {
        const char* name;
        uint16_t small, large, distance;
        uint8_t direction, second;
    } cases[] = {
        {"ordinary right to left, correction 255", 64, 216, 0, 1, 0},
        {"no row gaps: right-to-left offset wraps past the end", 0, 0, 0, 1, 0},
        {"second head right to left: offset minus distance wraps", 64, 216, 2000, 1, 1},
        {"offset wraps to 0: writes before the start", 0, 0, 65057, 1, 0},
        {"second head left to right with a wide head distance", 64, 216, 60000, 0, 1},
        {"huge row gaps left to right", 65535, 65535, 0, 0, 0},
    };
    uint64_t totalDropped = 0, totalBefore = 0;
    for (const Case& g : cases) {
        SCOPED_TRACE(g.name);
        ctx->printParams.rowGapSmall = g.small;
        ctx->printParams.rowGapLarge = g.large;
        ctx->printParams.headDistance = g.distance;
        ctx->printParams.headEnable = g.distance ? 3 : 1;
        ctx->swathDirection = g.direction;
        ctx->secondHeadPass = g.second;
        std::memset(formatBufferStorage(), 0, MAX_FORMAT_DATA_SIZE);
        restartState<FormatState>();
        Reference ref;
        ::testing::internal::CaptureStdout();
        for (int ch = 0; ch < 8; ++ch) {
            formatChannel(ctx, ch);
            ref.single(ctx, ch);
        }
        ::testing::internal::GetCapturedStdout();
        ASSERT_TRUE(ref.matches(formatBufferStorage()));
        EXPECT_EQ(testSession().format->droppedTotal, ref.outside);
        totalDropped += ref.outside;
        totalBefore += ref.before;
    }
    // The cases above do reach outside, on both sides.
    EXPECT_GT(totalDropped, totalBefore);
    EXPECT_GT(totalBefore, 0u);
}

TEST_F(FormatBounds, ChannelPairsAtTheWidestRowStayInsideTheBuffer) {
    const Geometry geometries[] = {
        {"ordinary, both heads", 64, 216, 300, 3},
        {"offset wraps to 0", 0, 0, 65057, 3},
        {"wide head distance", 64, 216, 65000, 3},
    };
    const uint8_t order[8] = {6, 1, 4, 3, 2, 5, 0, 7};
    std::memcpy(params->inkOrder, order, 8);
    for (const Geometry& g : geometries)
        for (int dir = 0; dir < 2; ++dir) {
            SCOPED_TRACE(std::string(g.name) + (dir ? " R2L" : " L2R"));
            ctx->printParams.rowGapSmall = g.small;
            ctx->printParams.rowGapLarge = g.large;
            ctx->printParams.headDistance = g.distance;
            ctx->printParams.headEnable = g.heads;
            ctx->swathDirection = static_cast<uint8_t>(dir);
            std::memset(formatBufferStorage(), 0, MAX_FORMAT_DATA_SIZE);
            restartState<FormatState>();
            Reference ref;
            ::testing::internal::CaptureStdout();
            for (int p = 0; p < 4; ++p) {
                formatChannelPair(ctx, p);
                ref.pair(ctx, order, p, 0);
                ref.pair(ctx, order, p, 1);
            }
            ::testing::internal::GetCapturedStdout();
            ASSERT_TRUE(ref.matches(formatBufferStorage()));
            EXPECT_EQ(testSession().format->droppedTotal, ref.outside);
        }
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(FormatBounds, EachChannelIsTracedOncePerSwath) {
    ctx->printParams.rowGapSmall = 0;
    ctx->printParams.rowGapLarge = 0;
    ctx->swathDirection = 1;  // channel 7 wraps to 65506: past the end
    params->bidirTextHigh = 0;
    ::testing::internal::CaptureStdout();
    formatChannel(ctx, 7);
    formatChannel(ctx, 7);
    formatChannel(ctx, 6);
    ++ctx->swathCounter;
    formatChannel(ctx, 7);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(countOf(out, "格式化数据越界: 通道7"), 2u) << out;
    EXPECT_EQ(countOf(out, "格式化数据越界: 通道6"), 1u) << out;
    EXPECT_NE(out.find("swath0"), std::string::npos);
    EXPECT_NE(out.find("swath1"), std::string::npos);
}

TEST_F(FormatBounds, ASourceShorterThanTheRowsIsReadOnlyAsFarAsItGoes) {
    // A row so long that 180 rows would run past the end of srcBufferB.
    ctx->rowBits = 8 * (MAX_SRC_DATA_SIZE / 100);
    ctx->srcBuffer = srcBufferBStorage();
    std::memset(formatBufferStorage(), 0, MAX_FORMAT_DATA_SIZE);
    ::testing::internal::CaptureStdout();
    formatChannel(ctx, 7);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("格式化源数据越界: 通道7, 只读100行"), std::string::npos) << out;
}

}  // namespace
