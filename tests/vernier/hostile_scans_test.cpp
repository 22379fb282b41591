// SPDX-License-Identifier: Apache-2.0
// Hostile scans: files that are not pictures, pictures that lie about their size, damaged and
// truncated pictures, and the colour spaces a scanner or phone may write. Each is refused
// with status 1 and a message saying what is wrong, within the memory a scan may use, or read.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "cli/align_cmd.h"
#include "support/hostile_inputs.h"
#include "vernier_support.h"

namespace {

using namespace hostile;
using Bytes = std::vector<uint8_t>;
using Pixel = std::function<void(uint32_t x, uint32_t y, uint8_t* rgb)>;
// Fills row y (RGB); made from a Pixel for small pictures, by whole rows for large ones.
using Rows = std::function<void(uint32_t y, uint8_t* row)>;
Rows byPixel(uint32_t w, const Pixel& pixel) {
    return [w, pixel](uint32_t y, uint8_t* row) {
        for (uint32_t x = 0; x < w; ++x) pixel(x, y, row + size_t(x) * 3);
    };
}
// Rows that depend on y only through key(y), each kind made once: large pictures cheaply.
Rows cached(uint32_t w, std::function<uint32_t(uint32_t)> key, const Pixel& pixel) {
    auto made = std::make_shared<std::map<uint32_t, Bytes>>();
    return [=](uint32_t y, uint8_t* row) {
        Bytes& r = (*made)[key(y)];
        if (r.empty()) {
            r.resize(size_t(w) * 3);
            byPixel(w, pixel)(y, r.data());
        }
        std::copy(r.begin(), r.end(), row);
    };
}

void white(uint32_t, uint32_t, uint8_t* p) { p[0] = p[1] = p[2] = 255; }

// Rows made as they are written, so a picture over the decoding budget costs no memory here.
Bytes pngOf(uint32_t w, uint32_t h, const Rows& rows, bool interlaced = false) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep d, png_size_t n) {
            auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
            o->insert(o->end(), d, d + n);
        },
        nullptr);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    Bytes row(size_t(w) * 3);
    for (int pass = png_set_interlace_handling(png); pass > 0; --pass)
        for (uint32_t y = 0; y < h; ++y) {
            rows(y, row.data());
            png_write_row(png, row.data());
        }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// components 3 (RGB), or 4 written as plain CMYK, Adobe-inverted CMYK or YCCK.
enum JpegKind { JPEG_RGB, JPEG_CMYK, JPEG_ADOBE_CMYK, JPEG_YCCK };
Bytes jpegOf(uint32_t w, uint32_t h, const Rows& rows, JpegKind kind = JPEG_RGB) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&c, &buffer, &length);
    c.image_width = w;
    c.image_height = h;
    c.input_components = kind == JPEG_RGB ? 3 : 4;
    c.in_color_space = kind == JPEG_RGB ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    if (kind == JPEG_YCCK) jpeg_set_colorspace(&c, JCS_YCCK);
    if (kind == JPEG_CMYK) c.write_Adobe_marker = FALSE;
    jpeg_set_quality(&c, 90, TRUE);
    c.density_unit = 1;
    c.X_density = c.Y_density = 1200;
    jpeg_start_compress(&c, TRUE);
    Bytes rgbRow(size_t(w) * 3), row(size_t(w) * size_t(c.input_components));
    while (c.next_scanline < h) {
        rows(c.next_scanline, rgbRow.data());
        if (kind == JPEG_RGB) row = rgbRow;
        for (uint32_t x = 0; kind != JPEG_RGB && x < w; ++x) {
            const uint8_t* rgb = &rgbRow[size_t(x) * 3];
            uint8_t* p = &row[size_t(x) * 4];
            // Grey pictures only: ink on K. Adobe's programs store every channel inverted.
            uint8_t k = uint8_t(255 - rgb[0]);
            bool inverted = kind != JPEG_CMYK;
            p[0] = p[1] = p[2] = inverted ? 255 : 0;
            p[3] = inverted ? uint8_t(255 - k) : k;
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    Bytes out(buffer, buffer + length);
    jpeg_destroy_compress(&c);
    std::free(buffer);
    return out;
}

// The header says another size (the CRC made right again): a small file claiming a huge picture.
Bytes pngClaiming(uint32_t w, uint32_t h, uint8_t interlace = 0) {
    Bytes b = pngOf(1, 1, byPixel(1, white));
    for (int i = 0; i < 4; ++i)
        b[16 + size_t(i)] = uint8_t(w >> (24 - 8 * i)),
               b[20 + size_t(i)] = uint8_t(h >> (24 - 8 * i));
    b[28] = interlace;
    uLong crc = crc32(0, b.data() + 12, 17);
    for (int i = 0; i < 4; ++i) b[29 + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    return b;
}
Bytes jpegClaiming(uint32_t w, uint32_t h, uint8_t precision = 8) {
    Bytes b = jpegOf(64, 64, byPixel(64, [](uint32_t x, uint32_t y, uint8_t* p) {
                         p[0] = p[1] = p[2] = uint8_t(x * y);
                     }));
    for (size_t i = 0; i + 9 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == 0xC0) {
            b[i + 4] = precision;
            b[i + 5] = uint8_t(h >> 8), b[i + 6] = uint8_t(h), b[i + 7] = uint8_t(w >> 8),
                  b[i + 8] = uint8_t(w);
            break;
        }
    return b;
}

Bytes cut(Bytes b, size_t keep) {
    b.resize(keep);
    return b;
}

// A page with a black square on white, and its pixels checked where it decodes.
void square(uint32_t x, uint32_t y, uint8_t* p) {
    p[0] = p[1] = p[2] = (x >= 16 && x < 48 && y >= 16 && y < 48) ? 0 : 255;
}

TEST(HostileScans, RefusedWithTheReason) {
    const std::vector<std::string> align = {"align", "5", "--scan", "@scan"};
    Bytes png = pngOf(300, 200, byPixel(300, square)),
          jpeg = jpegOf(300, 200, byPixel(300, square));
    Bytes badCrc = png;
    badCrc[png.size() - 20] ^= 0x55;  // inside the image data
    Bytes damaged = jpeg;
    for (size_t i = jpeg.size() / 2; i < jpeg.size() / 2 + 40; ++i) damaged[i] = 0xFF;
    Hostile_RunTable(
        {
            {"a folder", [](auto d) { folder(d + "scan"); }, align, 1,
             "scan: is a folder, not a file"},
            {"a pipe", [](auto d) { fifo(d + "scan"); }, align, 1, "scan: is a pipe (FIFO)"},
            {"a device",
             nullptr,
             {"align", "5", "--scan", "/dev/zero"},
             1,
             "/dev/zero: is a device"},
            {"a socket", [](auto d) { socket(d + "scan"); }, align, 1, "scan: is a socket"},
            {"missing", nullptr, align, 1, "scan: cannot open"},
            {"2 GB", [](auto d) { sparse(d + "scan", 2ull << 30); }, align, 1,
             "more than the 268435456"},
            {"zeros within the cap", [](auto d) { sparse(d + "scan", 64 << 20); }, align, 1,
             "scan is neither a PNG nor a JPEG"},
            {"text", [](auto d) { text(d + "scan", "not a picture"); }, align, 1,
             "neither a PNG nor a JPEG"},
            {"PNG claims 29999 x 29999",
             [](auto d) { bytes(d + "scan", pngClaiming(29999, 29999)); }, align, 1,
             "scan: picture size 29999 x 29999 not supported"},
            {"PNG claims 30001 x 1", [](auto d) { bytes(d + "scan", pngClaiming(30001, 1)); },
             align, 1, "picture size 30001 x 1 not supported"},
            {"PNG claims 12300 x 12300 (151 Mpx)",
             [](auto d) { bytes(d + "scan", pngClaiming(12300, 12300)); }, align, 1,
             "not supported (at most 30000 on a side and 150 megapixels)"},
            {"PNG claims 12000 x 12000, no data",
             [](auto d) { bytes(d + "scan", pngClaiming(12000, 12000)); }, align, 1,
             "PNG: image data ends early"},
            {"PNG interlaced over the budget",
             [](auto d) { bytes(d + "scan", pngClaiming(9000, 9000, 1)); }, align, 1,
             "PNG: an interlaced picture of 9000 x 9000 is too large"},
            {"PNG cut in its data", [=](auto d) { bytes(d + "scan", cut(png, png.size() - 30)); },
             align, 1, "PNG: image data ends early"},
            {"PNG cut in its header", [=](auto d) { bytes(d + "scan", cut(png, 20)); }, align, 1,
             "PNG: the file ends before its image data"},
            {"PNG damaged", [=](auto d) { bytes(d + "scan", badCrc); }, align, 1, "corrupt PNG: "},
            {"JPEG claims 29000 x 29000",
             [](auto d) { bytes(d + "scan", jpegClaiming(29000, 29000)); }, align, 1,
             "picture size 29000 x 29000 not supported"},
            {"JPEG claims 12000 x 12000",
             [](auto d) { bytes(d + "scan", jpegClaiming(12000, 12000)); }, align, 1,
             "corrupt JPEG: premature end of data segment"},
            {"JPEG of 7-bit samples", [](auto d) { bytes(d + "scan", jpegClaiming(64, 64, 7)); },
             align, 1, "corrupt JPEG: Unsupported JPEG data precision 7"},
            {"JPEG cut", [=](auto d) { bytes(d + "scan", cut(jpeg, jpeg.size() / 2)); }, align, 1,
             "JPEG: image data ends early"},
            {"JPEG damaged", [=](auto d) { bytes(d + "scan", damaged); }, align, 1,
             "corrupt JPEG: premature end"},
            {"JPEG CMYK, Adobe",
             [](auto d) {
                 bytes(d + "scan", jpegOf(300, 200, byPixel(300, square), JPEG_ADOBE_CMYK));
             },
             align, 1, "cannot read: "},
            {"blank PNG", [](auto d) { bytes(d + "scan", pngOf(300, 200, byPixel(300, white))); },
             align, 1, "cannot read: "},
        },
        [](const std::vector<std::string>& w) {
            return Cli_AlignCommand(std::vector<std::string>(w.begin() + 1, w.end()), CliOptions{});
        });
}

// Four-channel JPEGs decode to the right colours; pictures over the decoding budget come out
// reduced (PNG rows averaged as read, JPEG scaled by libjpeg) with their resolution scaled.
TEST(HostileScans, ColourSpacesAndReducedDecoding) {
    for (JpegKind kind : {JPEG_CMYK, JPEG_ADOBE_CMYK, JPEG_YCCK}) {
        SCOPED_TRACE(int(kind));
        Bytes b = jpegOf(64, 64, byPixel(64, square), kind);
        VernierImage img;
        std::string error;
        ASSERT_TRUE(Vernier_DecodeImage(b.data(), b.size(), &img, &error)) << error;
        EXPECT_GT(img.at(4, 4)[0], 245);
        EXPECT_LT(img.at(32, 32)[1], 10);
    }
    // 8201 x 8200 is over the budget: halved, the odd last column alone.
    const uint32_t w = 8201, h = 8200;
    ASSERT_GT(uint64_t(w) * h, VERNIER_DECODE_PIXELS);
    Bytes png = pngOf(w, h,
                      cached(
                          w, [](uint32_t y) { return y % 2; },
                          [](uint32_t x, uint32_t y, uint8_t* p) {
                              p[0] = x % 2 ? 200 : 0;
                              p[1] = y % 2 ? 100 : 0;
                              p[2] = 77;
                          }));
    VernierImage img;
    std::string error;
    ASSERT_TRUE(Vernier_DecodeImage(png.data(), png.size(), &img, &error)) << error;
    ASSERT_EQ(img.width, 4101u);
    ASSERT_EQ(img.height, 4100u);
    EXPECT_EQ(img.at(7, 9)[0], 100);
    EXPECT_EQ(img.at(7, 9)[1], 50);
    EXPECT_EQ(img.at(4100, 4099)[0], 0);
    EXPECT_EQ(img.at(4100, 4099)[2], 77);
    Bytes jpeg = jpegOf(w, h,
                        cached(
                            w, [](uint32_t y) { return std::min(y, 48u); }, square));
    ASSERT_TRUE(Vernier_DecodeImage(jpeg.data(), jpeg.size(), &img, &error)) << error;
    EXPECT_EQ(img.width, 4101u);
    EXPECT_NEAR(img.dpi, 600, 1);
    EXPECT_LT(img.at(16, 16)[0], 20);
    EXPECT_GT(img.at(30, 30)[0], 235);
}

// A phone stores the sensor's picture as it was taken and says in EXIF how to turn it: red
// marks the stored top-left corner, green the stored top-right. Each orientation must put them
// where the tag says (both byte orders), and a damaged tag leaves the picture as stored.
Bytes withExif(Bytes jpeg, const Bytes& tiff) {
    Bytes app1 = {
        0xFF, 0xE1, uint8_t((tiff.size() + 8) >> 8), uint8_t(tiff.size() + 8), 'E', 'x', 'i', 'f',
        0,    0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    return jpeg;
}
Bytes orientationTiff(uint16_t orientation, bool motorola) {
    auto u16 = [&](uint16_t v) {
        return motorola ? Bytes{uint8_t(v >> 8), uint8_t(v)} : Bytes{uint8_t(v), uint8_t(v >> 8)};
    };
    auto u32 = [&](uint32_t v) {
        Bytes hi = u16(uint16_t(v >> 16)), lo = u16(uint16_t(v));
        return motorola ? Bytes{hi[0], hi[1], lo[0], lo[1]} : Bytes{lo[0], lo[1], hi[0], hi[1]};
    };
    Bytes t = motorola ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    for (const Bytes& part :
         {u16(42), u32(8), u16(2), u16(0x010F), u16(2), u32(4), Bytes{'a', 'b', 'c', 0},
          u16(0x0112), u16(3), u32(1), u16(orientation), u16(0), u32(0)})
        t.insert(t.end(), part.begin(), part.end());
    return t;
}

TEST(HostileScans, PhonePicturesComeOutUpright) {
    const uint32_t W = 64, H = 32;
    Bytes stored = jpegOf(W, H, byPixel(W, [](uint32_t x, uint32_t y, uint8_t* p) {
                              bool top = y < 16, left = x < 16, right = x >= W - 16;
                              p[0] = top && left ? 255 : 128;
                              p[1] = top && right ? 255 : 128;
                              p[2] = 128;
                          }));
    enum Corner { TL, TR, BL, BR };
    struct Row {
        int orientation;
        Corner red, green;
    };
    const Row rows[] = {{1, TL, TR}, {2, TR, TL}, {3, BR, BL}, {4, BL, BR},
                        {5, TL, BL}, {6, TR, BR}, {7, BR, TR}, {8, BL, TL}};
    for (bool motorola : {false, true}) {
        for (const Row& r : rows) {
            SCOPED_TRACE(std::to_string(r.orientation) + (motorola ? " MM" : " II"));
            Bytes file = withExif(stored, orientationTiff(uint16_t(r.orientation), motorola));
            VernierImage img;
            std::string error;
            ASSERT_TRUE(Vernier_DecodeImage(file.data(), file.size(), &img, &error)) << error;
            bool turned = r.orientation >= 5;
            ASSERT_EQ(img.width, turned ? H : W);
            ASSERT_EQ(img.height, turned ? W : H);
            auto corner = [&](Corner c) {
                return img.at(c == TR || c == BR ? img.width - 4 : 4,
                              c == BL || c == BR ? img.height - 4 : 4);
            };
            EXPECT_GT(corner(r.red)[0], 230);
            EXPECT_LT(corner(r.red)[1], 150);
            EXPECT_GT(corner(r.green)[1], 230);
            EXPECT_LT(corner(r.green)[0], 150);
        }
    }
    // Damaged tags: a wrong value, an IFD past the end, an entry count running off the segment.
    Bytes bad = orientationTiff(9, false);
    Bytes farIfd = orientationTiff(6, false);
    farIfd[4] = 0xF0;
    Bytes manyEntries = orientationTiff(6, true);
    manyEntries[8] = 0x7F;
    manyEntries.resize(20);
    for (const Bytes& tiff : {bad, farIfd, manyEntries}) {
        Bytes file = withExif(stored, tiff);
        VernierImage img;
        std::string error;
        ASSERT_TRUE(Vernier_DecodeImage(file.data(), file.size(), &img, &error)) << error;
        EXPECT_EQ(img.width, W);
        EXPECT_GT(img.at(4, 4)[0], 230);
    }
}

}  // namespace
