// SPDX-License-Identifier: Apache-2.0
// Canvas line primitives: exact byte writes, the odd cases, and nothing written outside.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pattern/canvas.h"
#include "support/fakes.h"

namespace {

class CanvasTest : public ::testing::Test {
  protected:
    uint8_t* c = canvasBuffer();
    void SetUp() override { std::memset(c, 0, 4096); }
    // Bytes [from, to) of the canvas.
    std::vector<uint8_t> bytes(size_t from, size_t to) const { return {c + from, c + to}; }
};

TEST_F(CanvasTest, BuffersHaveTheirCapacitiesAndAreDistinct) {
    EXPECT_NE(canvasBuffer(), srcBufferBStorage());
    EXPECT_NE(canvasBuffer(), formatBufferStorage());
    EXPECT_EQ(bufferRoomFrom(canvasBuffer(), 1), MAX_SRC_DATA_SIZE);
    EXPECT_EQ(bufferRoomFrom(srcBufferBStorage() + 10, 1), MAX_SRC_DATA_SIZE - 10);
    EXPECT_EQ(bufferRoomFrom(formatBufferStorage(), 1), MAX_FORMAT_DATA_SIZE);
    uint8_t elsewhere[4];
    EXPECT_EQ(bufferRoomFrom(elsewhere, 77), 77u);
}

TEST_F(CanvasTest, HorizontalRunsWriteTheSpecifiedBytes) {
    // x = 0, 720 dots: exactly 90 full bytes.
    Canvas_HLine(c, 0, 0, 720, 100);
    for (int i = 0; i < 90; ++i) ASSERT_EQ(c[i], 0xFF) << i;
    EXPECT_EQ(c[90], 0);

    // x = 3, 160 dots: first byte from dot 3, then 19 full bytes (157 dots).
    std::memset(c, 0, 4096);
    Canvas_HLine(c, 3, 1, 160, 100);
    EXPECT_EQ(c[100], 0x1F);
    for (int i = 1; i < 20; ++i) ASSERT_EQ(c[100 + i], 0xFF) << i;
    EXPECT_EQ(c[120], 0);
    EXPECT_EQ(c[99], 0);

    // x = 0, 75 dots: 9 full bytes and a last byte keeping its top 5 dots.
    std::memset(c, 0, 4096);
    Canvas_HLine(c, 0, 2, 75, 100);
    for (int i = 0; i < 9; ++i) ASSERT_EQ(c[200 + i], 0xFF) << i;
    EXPECT_EQ(c[209], 0xF8);
    EXPECT_EQ(c[210], 0);
}

TEST_F(CanvasTest, ShortRunsStillWriteTwoBytes) {
    // length < 8: byte 0 in full from dot x, byte 1 with the top 8 - length dots.
    Canvas_HLine(c, 0, 0, 5, 100);
    EXPECT_EQ(bytes(0, 3), (std::vector<uint8_t>{0xFF, 0xE0, 0x00}));
    Canvas_HLine(c, 13, 1, 3, 100);  // starts at byte 1 of row 1
    EXPECT_EQ(bytes(100, 104), (std::vector<uint8_t>{0x00, 0x07, 0xF8, 0x00}));
    // Exactly one byte and zero length touch only the first byte.
    Canvas_HLine(c, 16, 2, 8, 100);
    EXPECT_EQ(bytes(201, 204), (std::vector<uint8_t>{0x00, 0xFF, 0x00}));
    Canvas_HLine(c, 26, 3, 0, 100);
    EXPECT_EQ(bytes(302, 305), (std::vector<uint8_t>{0x00, 0x3F, 0x00}));
}

TEST_F(CanvasTest, RunsReplaceWholeBytes) {
    std::memset(c, 0xAA, 8);
    Canvas_HLine(c, 4, 0, 16, 8);
    EXPECT_EQ(bytes(0, 4), (std::vector<uint8_t>{0x0F, 0xFF, 0xAA, 0xAA}));
}

TEST_F(CanvasTest, VerticalLinesAtOddAndEvenDots) {
    Canvas_VLine(c, 7, 0, 3, 10);       // only dot 7
    Canvas_VLineEven(c, 15, 0, 3, 10);  // dots 14 and 15
    Canvas_VLine(c, 18, 0, 3, 10);      // dots 18 and 19
    Canvas_VLineEven(c, 29, 0, 3, 10);  // dots 28 and 29
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(c[r * 10 + 0], 0x01) << r;
        EXPECT_EQ(c[r * 10 + 1], 0x03) << r;
        EXPECT_EQ(c[r * 10 + 2], 0x30) << r;
        EXPECT_EQ(c[r * 10 + 3], 0x0C) << r;
    }
    EXPECT_EQ(c[30], 0);
    EXPECT_EQ(c[31], 0);
}

TEST_F(CanvasTest, VerticalLineOverABarClearsTheOtherDotsOfItsBytes) {
    Canvas_HLine(c, 0, 5, 80, 10);
    Canvas_VLine(c, 40, 0, 20, 10);
    EXPECT_EQ(c[5 * 10 + 5], 0xC0);  // the bar's byte under the tick keeps only the tick
    EXPECT_EQ(c[5 * 10 + 4], 0xFF);
    EXPECT_EQ(c[5 * 10 + 6], 0xFF);
    EXPECT_EQ(c[19 * 10 + 5], 0xC0);
    EXPECT_EQ(c[20 * 10 + 5], 0x00);
}

TEST_F(CanvasTest, WritesPastTheCanvasEndAreDroppedAndTraced) {
    PlatformFixture platform;
    const uint32_t stride = 1000;
    const uint32_t lastRow = MAX_SRC_DATA_SIZE / stride;  // row 2551 holds the last 140 bytes
    std::memset(c + MAX_SRC_DATA_SIZE - 200, 0, 200);
    ::testing::internal::CaptureStdout();
    Canvas_HLine(c, 8 * 130, lastRow, 8 * 100, stride);  // bytes 130..229 of a 140-byte tail
    Canvas_VLine(c, 8 * 139, lastRow - 1, 5, stride);
    Canvas_VLineEven(c, 0xFFFFFFF0u, 0xFFFFFFF0u, 3, 0xFFFFFFFFu);
    const std::string out = ::testing::internal::GetCapturedStdout();
    for (uint32_t i = 130; i < 140; ++i) EXPECT_EQ(c[lastRow * stride + i], i == 139 ? 0xC0 : 0xFF);
    EXPECT_EQ(c[(lastRow - 1) * stride + 139], 0xC0);
    EXPECT_NE(out.find("Canvas_HLine: 画布越界"), std::string::npos);
    EXPECT_NE(out.find("Canvas_VLine: 画布越界"), std::string::npos);
    EXPECT_NE(out.find("Canvas_VLineEven: 画布越界"), std::string::npos);
    // One line per primitive call, however many bytes it dropped.
    size_t lines = 0;
    for (size_t at = out.find("画布越界"); at != std::string::npos;
         at = out.find("画布越界", at + 1))
        ++lines;
    EXPECT_EQ(lines, 3u);
}

}  // namespace
