// SPDX-License-Identifier: Apache-2.0
// Glyph font table layout, the 180-degree blit, text drawing order and traces, group labels.
#include "pattern/glyph.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "handover/job_context.h"
#include "pattern/canvas.h"
#include "pattern/pattern_layout.h"
#include "support/fakes.h"
#include "support/product_internals.h"

namespace {

bool fontDot(int code, int row, int col) {
    const uint8_t* e = glyphEntry(code);
    return (e[2 + (row / 8) * 8 + col] >> (row % 8)) & 1;
}

bool canvasDot(const uint8_t* c, uint32_t stride, uint32_t x, uint32_t row) {
    return (c[row * stride + x / 8] >> (7 - x % 8)) & 1;
}

// The glyph of `code` as it must appear at scale 8 with its cell at dot x, row 0: each glyph
// dot is an 8 x 2 block, the cell turned by 180 degrees.
void expectGlyphAt(const uint8_t* c, uint32_t stride, int code, uint32_t x) {
    for (uint32_t dy = 0; dy < 32; ++dy)
        for (uint32_t dx = 0; dx < 64; ++dx)
            ASSERT_EQ(canvasDot(c, stride, x + dx, dy), fontDot(code, 15 - dy / 2, 7 - dx / 8))
                << "glyph '" << static_cast<char>(code) << "' dot " << dx << "," << dy;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(GlyphFont, TableLayoutAndShapes) {
    const uint8_t* font = glyphFont();
    std::set<std::string> shapes;
    for (int code = GLYPH_FIRST; code <= GLYPH_LAST; ++code) {
        const uint8_t* e = font + (code - 32) * GLYPH_ENTRY_SIZE;
        ASSERT_EQ(glyphEntry(code), e);
        EXPECT_EQ(e[0], 8) << code;
        EXPECT_EQ(e[1], 16) << code;
        for (int i = 18; i < GLYPH_ENTRY_SIZE; ++i) ASSERT_EQ(e[i], 0) << code;
        std::string bitmap(reinterpret_cast<const char*>(e + 2), 16);
        if (code != ' ') {
            EXPECT_NE(bitmap, std::string(16, '\0')) << "glyph " << code << " is blank";
            EXPECT_TRUE(shapes.insert(bitmap).second) << "glyph " << code << " repeats another";
        }
    }
    EXPECT_EQ(glyphEntry(31), nullptr);
    EXPECT_EQ(glyphEntry(127), nullptr);
    // Digits, '-' and capitals keep to rows 3..11 and reach both of them together.
    std::string confined = "0123456789-ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    int top = 16, bottom = -1;
    for (char ch : confined) {
        for (int row = 0; row < 16; ++row)
            for (int col = 0; col < 8; ++col)
                if (fontDot(ch, row, col)) {
                    EXPECT_TRUE(row >= 3 && row <= 11) << ch << " row " << row;
                    top = std::min(top, row);
                    bottom = std::max(bottom, row);
                }
    }
    EXPECT_EQ(top, 3);
    EXPECT_EQ(bottom, 11);
    // The minus is one bar across the middle of the digit rows.
    for (int col = 0; col < 7; ++col) EXPECT_TRUE(fontDot('-', 7, col));
}

class GlyphDraw : public ::testing::Test {
  protected:
    PlatformFixture platform;
    uint8_t* c = canvasBuffer();
    static constexpr uint32_t ROW_BITS = 3200;
    static constexpr uint32_t STRIDE = 400;
    void SetUp() override { std::memset(c, 0, STRIDE * 64); }
};

TEST_F(GlyphDraw, MinusNineAt1000IsTurnedAndMirrored) {
    Glyph_DrawText(c, "-9", 1000, 0, 8, ROW_BITS);
    // '9' (the last character) first at dots 1000..1063, then '-' at 1064..1127.
    expectGlyphAt(c, STRIDE, '9', 1000);
    expectGlyphAt(c, STRIDE, '-', 1064);
    // The minus bar (glyph row 7, columns 0..6) lands in canvas rows 16 and 17, dots 1072..1127.
    for (uint32_t row = 0; row < 32; ++row)
        for (uint32_t x = 1064; x < 1128; ++x)
            ASSERT_EQ(canvasDot(c, STRIDE, x, row), (row == 16 || row == 17) && x >= 1072)
                << x << "," << row;
    // Nothing outside the two cells.
    for (uint32_t row = 0; row < 40; ++row) {
        for (uint32_t b = 0; b < STRIDE; ++b)
            if (b < 125 || b >= 141 || row >= 32) {
                ASSERT_EQ(c[row * STRIDE + b], 0) << b << "," << row;
            }
    }
}

TEST_F(GlyphDraw, BlitReplacesTheBytesUnderTheCell) {
    for (uint32_t row = 0; row < 40; ++row) std::memset(c + row * STRIDE, 0xFF, 30);
    Glyph_Blit(c, glyphEntry(' '), 64, 2, 8, ROW_BITS);
    for (uint32_t row = 0; row < 40; ++row) {
        const bool covered = row >= 2 && row < 34;
        EXPECT_EQ(c[row * STRIDE + 7], 0xFF) << row;
        EXPECT_EQ(c[row * STRIDE + 16], 0xFF) << row;
        for (uint32_t b = 8; b < 16; ++b)
            ASSERT_EQ(c[row * STRIDE + b], covered ? 0x00 : 0xFF) << b << "," << row;
    }
}

TEST_F(GlyphDraw, CharactersOutsideTheFontAreTracedAndLeaveNoGap) {
    ::testing::internal::CaptureStdout();
    Glyph_DrawText(c, "1\xB2\t2", 0, 0, 8, ROW_BITS);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Error! 中文字符:b2 No1 未加入字库!"), std::string::npos) << out;
    EXPECT_NE(out.find("Error! 字符串:9 No2 未加入字库!"), std::string::npos) << out;
    expectGlyphAt(c, STRIDE, '2', 0);
    expectGlyphAt(c, STRIDE, '1', 64);
    for (uint32_t row = 0; row < 32; ++row) ASSERT_EQ(c[row * STRIDE + 16], 0);
}

TEST_F(GlyphDraw, DrawingStopsWhenTheNextTwoCellsWouldLeaveTheRow) {
    // Row of 200 dots: after 'C' the position is 64 (64 + 128 <= 200, go on); after 'B' it is
    // 128 (128 + 128 > 200): 'A' is not drawn.
    Glyph_DrawText(c, "ABC", 0, 0, 8, 200);
    const uint32_t stride = 25;
    expectGlyphAt(c, stride, 'C', 0);
    expectGlyphAt(c, stride, 'B', 64);
    for (uint32_t row = 0; row < 32; ++row)
        for (uint32_t b = 16; b < 24; ++b) ASSERT_EQ(c[row * stride + b], 0);
}

TEST_F(GlyphDraw, GroupLabelsRunFromPlusNineToMinusNine) {
    JobContext job;
    job.srcBuffer = c;
    job.rowBits = ROW_BITS;
    PatternLayout layout;
    layout.groupCount = 20;
    layout.groupPitch = 160;
    layout.labelX = 8;
    layout.labelRow = 0;
    Glyph_DrawGroupLabels(layout, &job);
    // Group k (from 1) carries 10 - k at dot k x 160 + 8; its text is drawn last character first.
    for (int k = 1; k <= 19; ++k) {
        const int value = 10 - k;
        char text[4];
        std::snprintf(text, sizeof text, "%02d", value);
        const uint32_t x = k * 160 + 8;
        expectGlyphAt(c, STRIDE, text[1], x);
        expectGlyphAt(c, STRIDE, text[0], x + 64);
    }
    EXPECT_EQ(c[0], 0);  // nothing before group 1
}

TEST_F(GlyphDraw, OneGroupDrawsNoLabel) {
    JobContext job;
    job.srcBuffer = c;
    job.rowBits = ROW_BITS;
    PatternLayout layout;
    layout.groupCount = 1;
    layout.groupPitch = 6000;
    Glyph_DrawGroupLabels(layout, &job);
    for (uint32_t i = 0; i < STRIDE * 64; ++i) ASSERT_EQ(c[i], 0);
}

TEST_F(GlyphDraw, GlyphsLeavingTheCanvasAreClipped) {
    // A label in the last rows of the canvas: the part inside is drawn, the rest dropped.
    const uint32_t lastRows = MAX_SRC_DATA_SIZE / STRIDE - 10;
    std::memset(c + lastRows * STRIDE, 0, MAX_SRC_DATA_SIZE - lastRows * STRIDE);
    ::testing::internal::CaptureStdout();
    Glyph_DrawText(c, "8", 0, lastRows, 8, ROW_BITS);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(count(out, "Glyph_Blit: 画布越界"), 1u) << out;
    for (uint32_t dy = 0; lastRows + dy < MAX_SRC_DATA_SIZE / STRIDE; ++dy)
        for (uint32_t dx = 0; dx < 64; ++dx)
            ASSERT_EQ(canvasDot(c + lastRows * STRIDE, STRIDE, dx, dy),
                      fontDot('8', 15 - dy / 2, 7 - dx / 8));
}

}  // namespace
