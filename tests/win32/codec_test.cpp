// SPDX-License-Identifier: Apache-2.0
// The picture codec on the Windows Imaging Component: what it writes it reads back, a phone's
// EXIF orientation is applied, the limits hold before anything is decoded, damage is refused.
#include <gtest/gtest.h>

#include "platform/image_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;
const ImageLimits LIMITS{30000, 150000000, 64000000};

// 64 x 32: red in the top-left 16 x 16, green in the top-right, grey elsewhere.
ImagePixels corners() {
    ImagePixels p;
    p.width = 64;
    p.height = 32;
    p.dpi = 300;
    p.rgb.resize(size_t(64) * 32 * 3);
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            uint8_t* px = &p.rgb[(size_t(y) * 64 + x) * 3];
            px[0] = y < 16 && x < 16 ? 255 : 128;
            px[1] = y < 16 && x >= 48 ? 255 : 128;
            px[2] = 128;
        }
    return p;
}
const uint8_t* at(const ImagePixels& p, uint32_t x, uint32_t y) {
    return &p.rgb[(size_t(y) * p.width + x) * 3];
}

TEST(WicCodec, PngRoundTripKeepsPixelsAndResolution) {
    const ImageCodecBackend* codec = ImageCodec_Backend();
    ImagePixels in = corners(), out;
    Bytes png;
    ASSERT_TRUE(codec->encodePng(in, &png));
    std::string error;
    ASSERT_TRUE(codec->decodePng(png.data(), png.size(), LIMITS, &out, &error)) << error;
    EXPECT_EQ(out.width, 64u);
    EXPECT_EQ(out.rgb, in.rgb);
    EXPECT_NEAR(out.dpi, 300, 1);
    // Over the decoding budget: reduced by two, the dpi with it.
    ASSERT_TRUE(
        codec->decodePng(png.data(), png.size(), ImageLimits{30000, 150000000, 600}, &out, &error))
        << error;
    EXPECT_EQ(out.width, 32u);
    EXPECT_EQ(out.height, 16u);
    EXPECT_NEAR(out.dpi, 150, 1);
    EXPECT_GT(at(out, 2, 2)[0], 230);
}

TEST(WicCodec, PortraitPhoneJpegComesOutUpright) {
    const ImageCodecBackend* codec = ImageCodec_Backend();
    Bytes jpeg;
    ASSERT_TRUE(codec->encodeJpeg(corners(), 95, &jpeg));
    // Orientation 6 (the camera held upright): red goes to the top-right, green bottom-right.
    const Bytes app1 = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0,    0,    'M', 'M',
                        0,    42,   0, 0,  0,   8,   0,   1,   0x01, 0x12, 0,   3,
                        0,    0,    0, 1,  0,   6,   0,   0,   0,    0,    0,   0};
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    EXPECT_EQ(Image_ExifOrientation(jpeg.data(), jpeg.size()), 6);
    ImagePixels out;
    std::string error;
    ASSERT_TRUE(codec->decodeJpeg(jpeg.data(), jpeg.size(), LIMITS, &out, &error)) << error;
    ASSERT_EQ(out.width, 32u);
    ASSERT_EQ(out.height, 64u);
    EXPECT_GT(at(out, 28, 4)[0], 220);
    EXPECT_GT(at(out, 28, 60)[1], 220);
    EXPECT_LT(at(out, 4, 4)[0], 160);
}

TEST(WicCodec, OversizedAndDamagedFilesAreRefusedWithAReason) {
    const ImageCodecBackend* codec = ImageCodec_Backend();
    Bytes png;
    ASSERT_TRUE(codec->encodePng(corners(), &png));
    Bytes huge = png;  // the header claims 40000 x 40000 (checked before WIC sees the data)
    huge[16] = 0, huge[17] = 0, huge[18] = 0x9C, huge[19] = 0x40;
    huge[20] = 0, huge[21] = 0, huge[22] = 0x9C, huge[23] = 0x40;
    ImagePixels out;
    std::string error;
    EXPECT_FALSE(codec->decodePng(huge.data(), huge.size(), LIMITS, &out, &error));
    EXPECT_NE(error.find("picture size 40000 x 40000 not supported"), std::string::npos) << error;
    for (size_t keep : {size_t(10), size_t(40), png.size() / 2}) {
        SCOPED_TRACE(keep);
        error.clear();
        EXPECT_FALSE(codec->decodePng(png.data(), keep, LIMITS, &out, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(out.rgb.empty());
    }
    Bytes jpeg;
    ASSERT_TRUE(codec->encodeJpeg(corners(), 90, &jpeg));
    EXPECT_FALSE(codec->decodeJpeg(jpeg.data(), 200, LIMITS, &out, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
