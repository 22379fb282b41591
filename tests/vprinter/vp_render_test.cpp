// SPDX-License-Identifier: Apache-2.0
// The printed paper: drops at the positions the carriage's physics gives, and the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "support/printer_rig.h"
#include "vp_packet_builder.h"
#include "vprinter.h"

#ifdef HEADALIGN_HAVE_PNG
#include <png.h>
#endif

using namespace vpt;

namespace {

// Column-major swath data: 180 bytes per column, byte n = nozzle n, bit k = channel k.
struct SwathData {
    Bytes bytes;
    explicit SwathData(size_t columns) : bytes(columns * 180, 0) {}
    SwathData& dot(size_t column, int nozzle, int channel) {
        bytes[column * 180 + size_t(nozzle)] |= uint8_t(1u << channel);
        return *this;
    }
};

// Distance of channel k's nozzle row behind channel 7's at 720 dpi (gaps 64 and 216).
int64_t place720(int channel) {
    int d = 7 - channel;
    return int64_t((d + 1) / 2) * 64 + int64_t(d / 2) * 216;
}

int64_t rowOf(double inches) { return std::llround(inches * 720); }

int64_t jsonInt(const std::string& line, const std::string& key) {
    size_t at = line.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::atoll(line.c_str() + at + key.size() + 3);
}

struct Paper : ::testing::Test {
    PlatformFixture platform;
    VirtualPrinter printer;
    Host host;
    uint32_t number = 0;

    void SetUp() override {
        ASSERT_TRUE(printer.attached()) << printer.error();
        host.h = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
        ASSERT_NE(host.h, USB_INVALID_HANDLE);
    }
    void TearDown() override {
        UsbDriver_Get()->close(host.h);
        printer.detach();
    }
    void job() {
        Bytes body;
        ASSERT_TRUE(host.sendCmm(commandBlock(2)));
        ASSERT_TRUE(host.readReply(&body));
    }
    void swath(Swath s, const Bytes& data) {
        s.number = ++number;
        s.size = uint32_t(data.size());
        Bytes body;
        ASSERT_TRUE(host.sendCmm(swathBlock(s)));
        if (!data.empty()) {
            ASSERT_TRUE(host.sendData(data));
        }
        ASSERT_TRUE(host.readReply(&body));
    }
    // Ends the job and returns its picture line.
    std::string finish() {
        Bytes body;
        EXPECT_TRUE(host.sendCmm(commandBlock(18)));
        EXPECT_TRUE(host.readReply(&body));
        VPrinter_WaitPaper();
        EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u);
        for (const std::string& e : VPrinter_JobEvents())
            if (e.find("\"event\":\"picture\"") != std::string::npos) return e;
        return "";
    }
};

}  // namespace

TEST_F(Paper, LeftToRightColumnsLandFromTheStartBehindTheirNozzleRows) {
    job();
    Swath s;
    s.start = 100;  // head dots: 400 at 720 dpi
    SwathData d(1000);
    d.dot(5, 0, 7).dot(910, 10, 0).dot(300, 179, 3);
    swath(s, d.bytes);
    finish();
    EXPECT_EQ(VPrinter_PaperAt(405, 0), 0x80);
    EXPECT_EQ(VPrinter_PaperAt(400 + 910 - place720(0), rowOf(10 / 180.0)), 0x01);
    EXPECT_EQ(VPrinter_PaperAt(400 + 300 - place720(3), rowOf(179 / 180.0)), 0x08);
    EXPECT_EQ(VPrinter_PaperAt(406, 0), 0);
}

TEST_F(Paper, RightToLeftDropsLandTheCarriageOffsetFurtherLeftPlusTheConfiguredError) {
    job();
    Swath s;
    s.start = 500;  // 2000 at 720 dpi
    s.r2l = 1;
    SwathData d(10);
    d.dot(5, 0, 7);
    swath(s, d.bytes);
    // A 40-ips carriage that throws its drops 4/1440 inch (two columns) further still.
    VPrinterModel m = VPrinter_GetModel();
    m.bidirErrorByIps = {{40, 4}};
    VPrinter_SetModel(m);
    s.feed = 0;
    s.start = 600;
    swath(s, d.bytes);
    s.speed = 26 * 600;
    s.start = 700;
    swath(s, d.bytes);
    finish();
    EXPECT_EQ(VPrinter_PaperAt(2000 - 5 - 32, 0), 0x80);
    EXPECT_EQ(VPrinter_PaperAt(2400 - 5 - 32 - 2, 0), 0x80);
    EXPECT_EQ(VPrinter_PaperAt(2800 - 5 - 32, 0), 0x80);  // another speed, no error
}

TEST_F(Paper, ResolutionSetsTheColumnPitchAndTheRowGaps) {
    job();
    Swath s;
    s.resolution = 1;  // 540 dpi: small gap 47
    s.start = 100;     // 300 at 540 dpi
    SwathData d(100);
    d.dot(60, 0, 6);
    swath(s, d.bytes);
    finish();
    EXPECT_EQ(VPrinter_PaperAt(300 + 60 - 47, 0), 0x40);
}

TEST_F(Paper, FeedsMoveThePaperAtTheBoardsTrueStepsPerMetre) {
    VPrinterModel m = VPrinter_GetModel();
    m.feedErrorPpm = 10000;  // the paper moves 1 % further than nominal
    VPrinter_SetModel(m);
    job();
    Swath s;
    s.start = 100;
    s.feed = 4096;  // 1 cm nominal
    SwathData d(10);
    d.dot(0, 0, 7);
    swath(s, d.bytes);
    s.start = 101;
    swath(s, d.bytes);
    s.feed = 4096u | 0x80000000u;  // backwards again
    s.start = 102;
    swath(s, {});
    s.start = 103;
    swath(s, d.bytes);
    finish();
    EXPECT_EQ(VPrinter_PaperAt(400, 0), 0x80);
    EXPECT_EQ(VPrinter_PaperAt(404, rowOf(0.0101 * 39.37008)), 0x80);
    EXPECT_EQ(VPrinter_PaperAt(412, rowOf(0.0101 * 39.37008)), 0x80);  // feed-only record fed back
}

TEST_F(Paper, MissingAndDeflectedNozzlesShowInTheNozzleRows) {
    VPrinterModel m = VPrinter_GetModel();
    m.missingNozzles = {3};
    m.deflectedNozzles = {{4, 8}};
    VPrinter_SetModel(m);
    job();
    Swath s;
    s.start = 100;
    SwathData d(10);
    for (int n = 2; n <= 5; ++n) d.dot(0, n, 7);
    swath(s, d.bytes);
    finish();
    EXPECT_EQ(VPrinter_PaperAt(400, rowOf(2 / 180.0)), 0x80);
    EXPECT_EQ(VPrinter_PaperAt(400, rowOf(3 / 180.0)), 0);
    EXPECT_EQ(VPrinter_PaperAt(400, rowOf(4 / 180.0)), 0);
    EXPECT_EQ(VPrinter_PaperAt(400, rowOf(4 / 180.0 + 8 / 1440.0)), 0x80);
    EXPECT_EQ(VPrinter_PaperAt(400, rowOf(5 / 180.0)), 0x80);
}

// Two heads: the first fires the even channels, the second the odd ones, from its place beside
// the first (the record's head distance plus its error) and two bytes further down the column
// stream, where the host puts its data; a head alone fires every channel.
TEST_F(Paper, EachHeadFiresItsChannelsFromItsPlace) {
    struct Row {
        const char* name;
        uint8_t heads;
        int32_t errorX1440, errorY1440;
        size_t column;
        int byte, channel;
        int64_t x;        // where the drop lands (720 dpi), channel 7's row 400 at column 0
        double inches;    // and its height
        int64_t missedX;  // where the other head would have put it: no ink there
        double missedInches;
    };
    const int64_t d = 100;  // head distance, 1/720 inch
    const Row rows[] = {
        {"one head, an odd channel", 1, 4, 0, 0, 10, 7, 400, 10 / 180.0, 400 - d - 2, 8 / 180.0},
        {"two heads, an even channel: the first", 3, 4, 0, 0, 10, 6, 400 - place720(6), 10 / 180.0,
         400 - d - 2 - place720(6), 8 / 180.0},
        {"two heads, an odd channel: the second, two columns off", 3, 4, 0, 0, 12, 7, 400 - d - 2,
         10 / 180.0, 400, 12 / 180.0},
        {"the second head four rows low", 3, 0, 8, 0, 12, 7, 400 - d, 10 / 180.0 + 8 / 1440.0, 400,
         12 / 180.0},
        {"the next column's first bytes feed its last nozzles", 3, 0, 0, 1, 1, 5,
         400 - d - place720(5), 179 / 180.0, 400 + 1 - place720(5), 1 / 180.0},
        {"the second head alone fires every channel", 2, 0, 0, 0, 12, 6, 400 - d - place720(6),
         10 / 180.0, 400 - place720(6), 12 / 180.0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        uint8_t record[56];
        VPrinter_StoredRecord(record);
        record[0x02] = r.heads;
        record[0x08] = uint8_t(d);
        VPrinter_SetStoredRecord(record);
        VPrinterModel m = VPrinter_GetModel();
        m.headFlags = r.heads;
        m.headBOffsetX1440 = r.errorX1440;
        m.headBOffsetY1440 = r.errorY1440;
        VPrinter_SetModel(m);
        job();
        Swath s;
        s.start = 100;
        SwathData data(10);
        data.dot(r.column, r.byte, r.channel);
        swath(s, data.bytes);
        finish();
        EXPECT_EQ(VPrinter_PaperAt(r.x, rowOf(r.inches)), 1u << r.channel);
        EXPECT_EQ(VPrinter_PaperAt(r.missedX, rowOf(r.missedInches)), 0);
    }
}

TEST_F(Paper, LongBlankFeedsAreCutOutOfThePictureAndMarked) {
    job();
    Swath s;
    s.start = 100;
    s.feed = 409600;  // one metre
    SwathData d(40);
    for (int c = 0; c < 40; ++c) d.dot(size_t(c), 90, 6);
    swath(s, d.bytes);
    s.feed = 0;
    swath(s, d.bytes);
    std::string picture = finish();
    ASSERT_FALSE(picture.empty());
    EXPECT_LT(jsonInt(picture, "height"), 200);
    size_t cut = picture.find("\"length_mm\":");
    ASSERT_NE(cut, std::string::npos) << picture;
    EXPECT_NEAR(std::atof(picture.c_str() + cut + 12), 1000.0, 1.0);
    EXPECT_EQ(VPrinter_PaperAt(400 - 64, rowOf(90 / 180.0 + 39.37008)), 0x40);  // exact place kept
}

#ifdef HEADALIGN_HAVE_PNG
// The picture shows the sheet the way the operator holds it (half a turn from the paper grid,
// the leading edge at the bottom) with square pixels at the resolution its pHYs states, both
// ways reduced alike when it would be too wide.
TEST_F(Paper, ThePictureShowsEachInkWhereTheDropsLandedScaledToFit) {
    VPrinterModel m = VPrinter_GetModel();
    m.maxPictureWidth = 600;  // forces a horizontal reduction
    VPrinter_SetModel(m);
    job();
    Swath s;
    s.start = 100;
    SwathData d(2000);
    for (int n = 0; n < 40; ++n) d.dot(20, n, 6);    // K1 line
    for (int n = 0; n < 40; ++n) d.dot(1900, n, 0);  // C1 line
    swath(s, d.bytes);
    std::string picture = finish();
    std::string path = VPrinter_JobPath(VPrinter_LastJobNumber(), ".png");
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> px(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, px.data(), 0, nullptr));
    int64_t sx = jsonInt(picture, "scale_x"), ox = jsonInt(picture, "origin_x");
    int64_t margin = jsonInt(picture, "margin"), orow = jsonInt(picture, "origin_row");
    EXPECT_LE(image.width, 600u);
    EXPECT_GE(sx, 2);
    EXPECT_NEAR(std::atof(picture.c_str() + picture.find("\"dpi\":") + 6), 720.0 / double(sx),
                1e-3);
    png_uint_32 xppm = 0, yppm = 0;
    int unit = -1;
    {
        // The file states its square pixels.
        FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        png_structp rd = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(rd);
        png_init_io(rd, f);
        png_read_info(rd, info);
        png_get_pHYs(rd, info, &xppm, &yppm, &unit);
        png_destroy_read_struct(&rd, &info, nullptr);
        std::fclose(f);
    }
    EXPECT_EQ(unit, PNG_RESOLUTION_METER);
    EXPECT_EQ(xppm, yppm);
    EXPECT_NEAR(xppm * 0.0254, 720.0 / double(sx), 0.02);
    // Down the paper the picture keeps the same scale as across.
    auto at = [&](int64_t x, int64_t row) {
        int64_t top = std::max<int64_t>(1, margin / sx);
        int64_t px0 = (x - ox + margin) / sx, py0 = top + (row - orow) / sx;
        size_t i =
            (size_t(image.height - 1 - py0) * image.width + size_t(image.width - 1 - px0)) * 3;
        return std::vector<uint8_t>(px.begin() + i, px.begin() + i + 3);
    };
    int64_t row = rowOf(20 / 180.0);
    std::vector<uint8_t> black = at(400 + 20 - place720(6), row);
    EXPECT_LT(black[0] + black[1] + black[2], 30);
    std::vector<uint8_t> cyan = at(400 + 1900 - place720(0), row);
    EXPECT_LT(cyan[0], 20);
    EXPECT_GT(cyan[2], 200);
    std::vector<uint8_t> white = at(400 + 1000, row);
    EXPECT_EQ(white, std::vector<uint8_t>({255, 255, 255}));
    png_image_free(&image);
}
#endif
