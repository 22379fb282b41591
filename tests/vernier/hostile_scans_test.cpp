// SPDX-License-Identifier: Apache-2.0
// Hostile scans: files that are not pictures, pictures that lie about their size, damaged and
// truncated pictures, and the colour spaces a scanner or phone may write. Each is refused
// with status 1 and a message saying what is wrong, within the memory a scan may use, or read.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "cli/align_cmd.h"
#include "platform/bytes.h"
#include "platform/clock.h"
#include "platform/image_codec.h"
#include "support/fakes.h"
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
// `setUp` changes the settings before compressing (a scan script, progression).
Bytes jpegOf(uint32_t w, uint32_t h, const Rows& rows, JpegKind kind = JPEG_RGB,
             const std::function<void(jpeg_compress_struct*)>& setUp = nullptr) {
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
    if (setUp) setUp(&c);
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
    // Decoding 67 megapixels takes longer than the decode budget's wall clock in an instrumented
    // build; the budget has a test of its own, this one is about the pixels.
    PlatformFixture platform;
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

// ---- The decode budget ----

void putU32(Bytes& b, uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
Bytes pngChunk(const char* type, const Bytes& body) {
    Bytes c;
    putU32(c, uint32_t(body.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), body.begin(), body.end());
    putU32(c, uint32_t(crc32(crc32(0, reinterpret_cast<const Bytef*>(type), 4), body.data(),
                             uInt(body.size()))));
    return c;
}
// The chunks inserted after the header, `times` times each.
Bytes withChunks(Bytes png, const Bytes& chunk, size_t times) {
    Bytes all;
    all.reserve(chunk.size() * times);
    for (size_t i = 0; i < times; ++i) all.insert(all.end(), chunk.begin(), chunk.end());
    png.insert(png.begin() + 33, all.begin(), all.end());
    return png;
}
// 256 MB of zeros deflated (about 250 KB): what a compressed text or profile chunk expands to.
const Bytes& deflateBomb() {
    static const Bytes bomb = [] {
        z_stream z{};
        deflateInit(&z, 9);
        Bytes zeros(1 << 20), out(1 << 20), all;
        for (int i = 0; i < 256; ++i) {
            z.next_in = zeros.data();
            z.avail_in = uInt(zeros.size());
            int flush = i == 255 ? Z_FINISH : Z_NO_FLUSH;
            do {
                z.next_out = out.data();
                z.avail_out = uInt(out.size());
                deflate(&z, flush);
                all.insert(all.end(), out.data(), z.next_out);
            } while (z.avail_out == 0);
        }
        deflateEnd(&z);
        return all;
    }();
    return bomb;
}
// A body for the chunk type: the compressed ones carry the bomb, the rest bytes of it.
Bytes chunkBody(const std::string& type, size_t size) {
    Bytes head;
    if (type == "zTXt" || type == "iCCP") head = {'k', 0, 0};
    if (type == "iTXt") head = {'k', 0, 1, 0, 0, 0};
    Bytes body = head;
    const Bytes& bomb = deflateBomb();
    body.insert(body.end(), bomb.begin(), bomb.begin() + long(std::min(size, bomb.size())));
    body.resize(std::max(size, head.size()), 0);
    return body;
}

// A JPEG scan script: every component's DC in one scan, then each AC band of `width`
// coefficients refined over `levels` bit planes, component by component.
std::vector<jpeg_scan_info> acScript(int width, int levels) {
    std::vector<jpeg_scan_info> s;
    s.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0});
    for (int c = 0; c < 3; ++c)
        for (int ss = 1; ss <= 63; ss += width) {
            int se = std::min(63, ss + width - 1);
            s.push_back({1, {c, 0, 0, 0}, ss, se, 0, levels - 1});
            for (int al = levels - 2; al >= 0; --al)
                s.push_back({1, {c, 0, 0, 0}, ss, se, al + 1, al});
        }
    return s;
}
Bytes jpegScripted(const std::vector<jpeg_scan_info>& script) {
    return jpegOf(512, 512,
                  cached(
                      512, [](uint32_t y) { return y % 64; }, square),
                  JPEG_RGB, [script](jpeg_compress_struct* c) {
                      // libjpeg keeps the pointer until the compression ends.
                      static std::vector<jpeg_scan_info> kept;
                      kept = script;
                      c->scan_info = kept.data();
                      c->num_scans = int(kept.size());
                  });
}
// The marker segment (or scan with its data) starting at the n-th `marker`, repeated.
Bytes repeatSegment(Bytes jpeg, uint8_t marker, size_t times, bool last = false) {
    size_t start = 0, found = 0;
    for (size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == marker) {
            start = i;
            ++found;
            if (!last) break;
        }
    if (!found) return jpeg;
    size_t end = start + 2 + be::getU16(jpeg.data(), start + 2);
    if (marker == 0xDA)  // the scan's coded data too
        while (end + 1 < jpeg.size() &&
               !(jpeg[end] == 0xFF && jpeg[end + 1] != 0 && (jpeg[end + 1] & 0xF8) != 0xD0))
            ++end;
    Bytes segment(jpeg.begin() + long(start), jpeg.begin() + long(end)), all;
    for (size_t i = 0; i < times; ++i) all.insert(all.end(), segment.begin(), segment.end());
    jpeg.insert(jpeg.begin() + long(end), all.begin(), all.end());
    return jpeg;
}

// A clock that runs a second ahead at every look: any read outlasts the budget.
uint32_t runawayTick() {
    static std::atomic<uint32_t> t{0};
    return t += 1000;
}

struct Decoded {
    bool ok = false;
    char message[400] = {};
    uint32_t width = 0, height = 0;
    long maxRssKb = 0;
    double seconds = 0;
};
// Decodes in a child process under an address-space limit of 1 GB where the build allows
// one (not under AddressSanitizer, whose shadow memory alone is larger).
Decoded decodeInChild(const Bytes& file, bool runawayClock) {
    Decoded d;
    int fds[2];
    if (::pipe(fds) != 0) return d;
    pid_t pid = Hostile_ForkLimited([&] {
        static const ClockBackend runaway{
            .sleepMs = [](uint32_t) {},
            .tickMs = runawayTick,
            .localTime = [](LocalTime* t) { *t = LocalTime{2026, 12, 6, 21, 3, 9}; },
        };
        if (runawayClock) Clock_Install(&runaway);
        Decoded r;
        auto start = std::chrono::steady_clock::now();
        VernierImage image;
        std::string error;
        r.ok = Vernier_DecodeImage(file.data(), file.size(), &image, &error, "scan");
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::snprintf(r.message, sizeof r.message, "%s", error.c_str());
        r.width = image.width;
        r.height = image.height;
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        r.maxRssKb = usage.ru_maxrss;
        ssize_t n = ::write(fds[1], &r, sizeof r);
        return n == ssize_t(sizeof r) ? 0 : 1;
    });
    ::close(fds[1]);
    ssize_t n = ::read(fds[0], &d, sizeof d);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (n != ssize_t(sizeof d))
        std::snprintf(d.message, sizeof d.message, "the child died (%d)", status);
    return d;
}

// What a decoder does before and between the pixels is bounded: every PNG chunk type many times
// over, large and compressed, and JPEG scan patterns from one scan to hundreds. Each row is
// refused with a message naming the limit it passed, or read; none takes over 10 s or 1 GB.
TEST(HostileScans, DecodeBudgetForEveryChunkTypeAndScanPattern) {
    enum Expect { READ, REFUSED, EITHER };
    struct Row {
        std::string name;
        std::function<Bytes()> make;
        Expect expect;
        std::string says = "";  // in the message when refused
        bool runawayClock = false;
    };
    const DecodeBudget budget;
    const Bytes png = pngOf(256, 256, byPixel(256, square));
    std::vector<Row> rows;
    const char* types[] = {"tEXt", "zTXt", "iTXt", "iCCP", "sPLT", "eXIf", "pHYs",
                           "gAMA", "cHRM", "sRGB", "bKGD", "hIST", "tIME", "sBIT",
                           "tRNS", "oFFs", "pCAL", "sCAL", "prVt", "vpAg"};
    for (std::string t : types) {
        rows.push_back({t + " x " + std::to_string(budget.maxAncillaryChunks + 1),
                        [=] {
                            return withChunks(png, pngChunk(t.c_str(), chunkBody(t, 16)),
                                              budget.maxAncillaryChunks + 1);
                        },
                        REFUSED, "more than 256 ancillary chunks"});
        rows.push_back(
            {t + ", 3 of 3 MB",
             [=] { return withChunks(png, pngChunk(t.c_str(), chunkBody(t, 3 << 20)), 3); },
             REFUSED, "hold more than 8 MB"});
        rows.push_back(
            {t + ", one expanding to 256 MB",
             [=] { return withChunks(png, pngChunk(t.c_str(), chunkBody(t, 1 << 20)), 1); },
             EITHER});
        rows.push_back({t + " x 200, small",
                        [=] { return withChunks(png, pngChunk(t.c_str(), chunkBody(t, 64)), 200); },
                        EITHER});
    }
    rows.push_back({"PNG, 1,000,000 empty IDAT chunks",
                    [=] { return withChunks(png, pngChunk("IDAT", {}), 1000000); }, EITHER});
    rows.push_back({"PNG, 300 PLTE chunks",
                    [=] { return withChunks(png, pngChunk("PLTE", Bytes(768, 7)), 300); }, EITHER});
    rows.push_back({"PNG on a runaway clock", [=] { return png; }, REFUSED,
                    "took longer than the 8000 ms", true});

    const Bytes baseline = jpegOf(512, 512, byPixel(512, square));
    rows.push_back({"JPEG baseline, one scan", [=] { return baseline; }, READ});
    rows.push_back({"JPEG simple progression",
                    [=] {
                        return jpegOf(512, 512, byPixel(512, square), JPEG_RGB,
                                      [](jpeg_compress_struct* c) { jpeg_simple_progression(c); });
                    },
                    READ});
    for (int width : {63, 16, 4, 3, 2, 1})
        for (int levels : {1, 2, 5}) {
            size_t scans = acScript(width, levels).size();
            rows.push_back({"JPEG AC bands of " + std::to_string(width) + ", " +
                                std::to_string(levels) + " levels: " + std::to_string(scans) +
                                " scans",
                            [=] { return jpegScripted(acScript(width, levels)); },
                            scans <= budget.maxJpegScans ? READ : REFUSED, "more than 100 scans"});
        }
    for (size_t times : {20, 99, 100, 5000})
        rows.push_back({"JPEG, the last scan " + std::to_string(times + 1) + " times",
                        [=] { return repeatSegment(baseline, 0xDA, times, true); },
                        times + 1 > budget.maxJpegScans ? REFUSED : EITHER, "more than 100 scans"});
    rows.push_back({"JPEG, 5000 comments",
                    [=] {
                        Bytes b = baseline;
                        Bytes com = {0xFF, 0xFE, 0, 10, 'c', 'o', 'm', 'm', 'e', 'n', 't', '!'};
                        for (int i = 0; i < 5000; ++i)
                            b.insert(b.begin() + 2, com.begin(), com.end());
                        return b;
                    },
                    REFUSED, "more than 4096 marker segments"});
    rows.push_back(
        {"JPEG, 1000 Huffman tables", [=] { return repeatSegment(baseline, 0xC4, 1000); }, READ});
    rows.push_back({"JPEG on a runaway clock", [=] { return baseline; }, REFUSED,
                    "took longer than the 8000 ms", true});

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = row.make();
        ASSERT_LE(file.size(), size_t(64) << 20);
        Decoded d = decodeInChild(file, row.runawayClock);
        EXPECT_LT(d.seconds, 10.0);
        EXPECT_LT(d.maxRssKb, 1L << 20) << "KB";
        if (row.expect == READ) {
            EXPECT_TRUE(d.ok) << d.message;
        }
        if (row.expect == REFUSED) {
            EXPECT_FALSE(d.ok);
            EXPECT_NE(std::string(d.message).find(row.says), std::string::npos) << d.message;
        }
        if (d.ok) {
            EXPECT_GT(d.width, 0u);
        } else {
            EXPECT_NE(d.message[0], '\0');
        }
    }
}

}  // namespace
