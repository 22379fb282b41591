// SPDX-License-Identifier: Apache-2.0
// The PNG of a job's paper: drops coloured by ink, scaled down to a viewable size, long blank
// stretches cut out and marked with their length in millimetres.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "vp_board.h"

#ifdef HEADALIGN_HAVE_PNG
#include <png.h>
#elif defined(HEADALIGN_VP_PNG_BY_CODEC)
#include "platform/image_codec.h"
#endif

namespace {

constexpr int64_t MARGIN = 16;        // grid dots of white around the ink
constexpr uint32_t CUT_BAND_PX = 24;  // height of a cut marker in the picture

struct Rgb {
    uint8_t r, g, b;
};
// Ink of each channel (bit k of a column byte) on the default ink layout: C1 C2 M1 M2 Y1 Y2 K1 K2.
const Rgb INK[8] = {{0, 174, 239}, {0, 130, 190}, {236, 0, 140}, {180, 50, 150},
                    {255, 214, 0}, {205, 170, 0}, {0, 0, 0},     {80, 80, 80}};
const Rgb MARK = {220, 0, 0};

// 3x5 glyphs for the cut labels.
struct Glyph {
    char c;
    uint8_t rows[5];
};
const Glyph FONT[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'m', {0, 0, 7, 7, 5}}, {'.', {0, 0, 0, 0, 2}},
    {'-', {0, 0, 7, 0, 0}}, {' ', {0, 0, 0, 0, 0}},
};

// A stretch of paper rows shown in the picture, and the cut before it (0 = none). picRow and
// picRows count picture pixels from the leading edge's side, before the picture is turned.
struct Segment {
    int64_t firstRow, lastRow;
    int64_t picRow, picRows;
    double cutMmBefore;
};

struct Picture {
    uint32_t width = 0, height = 0;
    double dpi = 0;              // square pixels, recorded in the file
    std::vector<uint8_t> masks;  // OR of the channels landing in each picture pixel
    std::vector<uint8_t> marks;  // 1 where the cut markers are drawn
};

// The paper's rows in picture pixels: `ratio` pixels per paper row (the picture's dots per
// inch over the board's vertical grid), long blank stretches cut out and replaced by a band.
std::vector<Segment> segments(const VpPaper& p, uint32_t dpiY, uint32_t cutMm, double ratio,
                              int64_t top) {
    std::vector<Segment> out;
    int64_t cutRows = int64_t(std::ceil(cutMm * dpiY / 25.4));
    for (const auto& [row, data] : p.rows) {
        if (!out.empty() && row - out.back().lastRow <= cutRows) {
            out.back().lastRow = row;
            continue;
        }
        double cut = out.empty() ? 0 : (row - out.back().lastRow) * 25.4 / dpiY;
        out.push_back(Segment{row, row, 0, 0, cut});
    }
    int64_t pic = top;
    for (Segment& s : out) {
        if (s.cutMmBefore > 0) pic += CUT_BAND_PX;
        s.picRow = pic;
        s.picRows =
            std::max<int64_t>(1, int64_t(std::ceil(double(s.lastRow - s.firstRow + 1) * ratio)));
        pic += s.picRows;
    }
    return out;
}

void drawText(Picture& pic, const std::string& text, uint32_t x, uint32_t y, uint32_t scale) {
    for (char ch : text) {
        for (const Glyph& g : FONT) {
            if (g.c != ch) continue;
            for (uint32_t r = 0; r < 5 * scale; ++r)
                for (uint32_t c = 0; c < 3 * scale; ++c)
                    if ((g.rows[r / scale] >> (2 - c / scale)) & 1) {
                        uint32_t px = x + c, py = y + r;
                        if (px < pic.width && py < pic.height)
                            pic.marks[size_t(py) * pic.width + px] = 1;
                    }
        }
        x += 4 * scale;
    }
}

void drawCut(Picture& pic, uint32_t y, double mm) {
    char label[32];
    std::snprintf(label, sizeof label, "%.0f mm", mm);
    // Legible when the picture is viewed shrunk to a screen's width, and inside the band.
    uint32_t scale = std::min(4u, std::max(2u, pic.width / 400));
    uint32_t textEnd = 4 + uint32_t(std::strlen(label)) * 4 * scale + 2 * scale;
    drawText(pic, label, 4, y >= 5 * scale / 2 ? y - 5 * scale / 2 : 0, scale);
    for (uint32_t x = textEnd; x < pic.width; ++x)
        if ((x / 6) % 2 == 0 && y < pic.height) pic.marks[size_t(y) * pic.width + x] = 1;
}

Rgb colourOf(uint8_t mask) {
    double r = 255, g = 255, b = 255;
    for (int k = 0; k < 8; ++k) {
        if (!(mask & (1u << k))) continue;
        r *= INK[k].r / 255.0;
        g *= INK[k].g / 255.0;
        b *= INK[k].b / 255.0;
    }
    return Rgb{uint8_t(r), uint8_t(g), uint8_t(b)};
}

// Writes a picture given row by row (RGB, top to bottom), square pixels at `dpi`.
using RowSource = std::function<const uint8_t*(uint32_t y)>;
#ifdef HEADALIGN_HAVE_PNG
void appendPng(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// Encoded in memory, then stored through the file seam like every other file of the folder.
bool writePng(uint32_t width, uint32_t height, double dpi, const RowSource& rowAt,
              const std::string& path) {
    // Made before setjmp (the rows' buffer is the caller's): an encoding error longjmps out of
    // the rows, past no destructor.
    std::vector<uint8_t> file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &file, appendPng, nullptr);
    png_set_compression_level(png, 1);
    // Line art on white compresses well unfiltered; choosing a filter per row cost more CPU
    // than the rest of a short job.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Viewers and the scan reader take the paper's true size from it.
    auto ppm = static_cast<png_uint_32>(dpi / 0.0254 + 0.5);
    png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) png_write_row(png, const_cast<png_bytep>(rowAt(y)));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return File_ReplaceOwn(path, file.data(), file.size()).ok();
}
#elif defined(HEADALIGN_VP_PNG_BY_CODEC)
// Without libpng (Windows): through the platform's picture codec and the file seam.
bool writePng(uint32_t width, uint32_t height, double dpi, const RowSource& rowAt,
              const std::string& path) {
    ImagePixels image;
    image.width = width;
    image.height = height;
    image.dpi = dpi;
    image.rgb.resize(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(&image.rgb[size_t(y) * width * 3], rowAt(y), size_t(width) * 3);
    std::vector<uint8_t> bytes;
    if (!ImageCodec_Backend()->encodePng(image, &bytes)) return false;
    return File_ReplaceOwn(path, bytes.data(), bytes.size()).ok();
}
#else
bool writePng(uint32_t, uint32_t, double, const RowSource&, const std::string&) { return false; }
#endif

bool savePng(const Picture& pic, const std::string& path) {
    // One colour per combination of channels, worked out once rather than per pixel.
    Rgb colours[256];
    for (int m = 0; m < 256; ++m) colours[m] = colourOf(uint8_t(m));
    std::vector<uint8_t> line(size_t(pic.width) * 3);
    return writePng(
        pic.width, pic.height, pic.dpi,
        [&](uint32_t y) {
            for (uint32_t x = 0; x < pic.width; ++x) {
                size_t i = size_t(y) * pic.width + x;
                Rgb c = pic.marks[i] ? MARK : colours[pic.masks[i]];
                line[3 * x] = c.r;
                line[3 * x + 1] = c.g;
                line[3 * x + 2] = c.b;
            }
            return static_cast<const uint8_t*>(line.data());
        },
        path);
}

// One paper row of a sheet: its place down the sheet (inches from the sheet's start) and its
// drops across (inches per grid dot of its job).
struct SheetRow {
    double yInch;
    double dotInch;
    const VpPaperRow* row;
};

}  // namespace

// The picture shows the sheet as the operator holds it: the canvas is laid down upside down and
// mirrored so that its labels read upright on the paper, so the paper grid is turned half a turn.
// The leading edge, the first paper out of the printer, ends at the bottom. Pixels are square at
// the job's resolution across (divided by a whole factor only when the picture would outgrow its
// limits), so single ticks stay sharp when zoomed and the reader sees the paper's true shape.
std::string vpWritePicture(const VpPaper& p, const VPrinterModel& m, const std::string& path) {
    int64_t xMin = 0, xMax = 0;
    bool any = false;
    for (const auto& [row, data] : p.rows) {
        for (size_t i = 0; i < data.mask.size(); ++i) {
            if (!data.mask[i]) continue;
            int64_t x = data.x0 + int64_t(i);
            xMin = any ? std::min(xMin, x) : x;
            xMax = any ? std::max(xMax, x) : x;
            any = true;
        }
    }
    const uint32_t gridDpi = p.xDpi ? p.xDpi : m.renderDpiY;
    const int64_t gridW = any ? xMax - xMin + 1 + 2 * MARGIN : 64;
    // The smallest whole reduction that fits both limits; the height follows the width's
    // scale, and the cut bands keep their size in pixels.
    // Many cuts can keep the picture over the height limit at any scale: stop when a further
    // reduction no longer makes it shorter.
    uint32_t f = uint32_t(std::max<int64_t>(
        1, (gridW + m.maxPictureWidth - 1) / std::max<uint32_t>(1, m.maxPictureWidth)));
    std::vector<Segment> segs;
    int64_t top = 0, picH = 0;
    for (int64_t previous = -1;; ++f) {
        // MARGIN dots of the paper grid each way: grid dots across, board rows down.
        double ratio = double(gridDpi) / f / m.renderDpiY;
        top = std::max<int64_t>(1, int64_t(std::floor(MARGIN * ratio)));
        segs = segments(p, m.renderDpiY, m.blankCutMm, ratio, top);
        picH = segs.empty() ? 2 * top : segs.back().picRow + segs.back().picRows + top;
        if (picH <= int64_t(m.maxPictureHeight) || picH == previous || f >= 4096) break;
        previous = picH;
    }
    const double dpi = double(gridDpi) / f;
    const double ratio = dpi / m.renderDpiY;

    Picture pic;
    pic.width = uint32_t((gridW + f - 1) / f);
    pic.height = uint32_t(picH);
    pic.dpi = dpi;
    pic.masks.assign(size_t(pic.width) * pic.height, 0);
    pic.marks.assign(pic.masks.size(), 0);
    // Half a turn: the paper's (px, py) lands at (width-1-px, height-1-py).
    auto put = [&](int64_t px, int64_t py, uint8_t v) {
        if (px < 0 || py < 0 || px >= int64_t(pic.width) || py >= int64_t(pic.height)) return;
        pic.masks[size_t(pic.height - 1 - py) * pic.width + size_t(pic.width - 1 - px)] |= v;
    };
    std::string cuts;
    for (const Segment& s : segs) {
        if (s.cutMmBefore > 0) {
            int64_t mid = s.picRow - int64_t(CUT_BAND_PX) / 2;
            drawCut(pic, uint32_t(int64_t(pic.height) - 1 - mid), s.cutMmBefore);
            char item[96];
            std::snprintf(item, sizeof item, "%s{\"at_row\":%lld,\"length_mm\":%.2f}",
                          cuts.empty() ? "" : ",", static_cast<long long>(s.firstRow),
                          s.cutMmBefore);
            cuts += item;
        }
        for (auto it = p.rows.find(s.firstRow); it != p.rows.end() && it->first <= s.lastRow;
             ++it) {
            // Each paper row covers the picture rows its stretch of paper falls on, at least one.
            int64_t k = it->first - s.firstRow;
            int64_t y0 = int64_t(std::floor(double(k) * ratio));
            int64_t y1 = std::max(y0 + 1, int64_t(std::floor(double(k + 1) * ratio)));
            for (size_t i = 0; i < it->second.mask.size(); ++i) {
                uint8_t v = it->second.mask[i];
                if (!v) continue;
                int64_t x = (it->second.x0 + int64_t(i) - xMin + MARGIN) / f;
                for (int64_t y = y0; y < y1; ++y) put(x, s.picRow + y, v);
            }
        }
    }
    bool saved = savePng(pic, path);
    char text[480];
    std::snprintf(text, sizeof text,
                  "{\"event\":\"picture\",\"png\":%d,\"width\":%u,\"height\":%u,\"dpi\":%.6g,"
                  "\"scale_x\":%u,\"scale_y\":%.6g,\"x_dpi\":%u,\"y_dpi\":%u,\"turned\":180,"
                  "\"leading_edge\":\"bottom\",\"origin_x\":%lld,\"origin_row\":%lld,"
                  "\"margin\":%lld,\"drops\":%llu,\"cuts\":[",
                  saved ? 1 : 0, pic.width, pic.height, dpi, f, m.renderDpiY / dpi, gridDpi,
                  m.renderDpiY, static_cast<long long>(xMin),
                  static_cast<long long>(segs.empty() ? 0 : segs[0].firstRow),
                  static_cast<long long>(MARGIN), static_cast<unsigned long long>(p.drops));
    return text + cuts + "]}";
}

// The sheet as the operator holds it, like a job's picture: half a turn, the first job's paper
// at the bottom. Each grid dot's ink is spread over the pixels it covers by its share of their
// area, so a tick keeps its place to a fraction of a pixel at any sheet resolution.
bool vpWriteSheetPicture(const std::vector<VpSheetPiece>& pieces, const VPrinterModel& m,
                         const std::string& path) {
    constexpr double MARGIN_INCH = 0.25;
    constexpr double INCHES_PER_METRE = 39.37008;
    const double rowInch = 1.0 / m.renderDpiY;
    std::vector<SheetRow> rows;
    double xLo = 0, xHi = 0, yLo = 0, yHi = 0;
    bool any = false;
    for (const VpSheetPiece& p : pieces) {
        if (!p.paper.xDpi) continue;
        const double dot = 1.0 / p.paper.xDpi;
        const double offset = p.offsetMeters * INCHES_PER_METRE;
        for (const auto& [row, data] : p.paper.rows) {
            size_t first = 0, last = data.mask.size();
            while (first < last && !data.mask[first]) ++first;
            while (last > first && !data.mask[last - 1]) --last;
            if (first == last) continue;
            const double y = offset + double(row) * rowInch;
            const double x0 = double(data.x0 + int64_t(first)) * dot;
            const double x1 = double(data.x0 + int64_t(last)) * dot;
            xLo = any ? std::min(xLo, x0) : x0;
            xHi = any ? std::max(xHi, x1) : x1;
            yLo = any ? std::min(yLo, y) : y;
            yHi = any ? std::max(yHi, y + rowInch) : y + rowInch;
            any = true;
            rows.push_back(SheetRow{y, dot, &data});
        }
    }
    if (!any) return false;
    xLo -= MARGIN_INCH, xHi += MARGIN_INCH, yLo -= MARGIN_INCH, yHi += MARGIN_INCH;
    const double dpi = m.sheetDpi;
    const uint32_t width = uint32_t(std::ceil((xHi - xLo) * dpi));
    const uint32_t height = uint32_t(std::ceil((yHi - yLo) * dpi));
    if (uint64_t(width) * height > 200000000ull) return false;
    // Top of the picture first: the paper's last rows.
    std::sort(rows.begin(), rows.end(),
              [](const SheetRow& a, const SheetRow& b) { return a.yInch > b.yInch; });
    uint8_t dark[256][3];
    for (int k = 0; k < 256; ++k) {
        Rgb c = colourOf(uint8_t(k));
        dark[k][0] = uint8_t(255 - c.r), dark[k][1] = uint8_t(255 - c.g),
        dark[k][2] = uint8_t(255 - c.b);
    }
    std::vector<uint8_t> rgb(size_t(width) * height * 3, 255);
    std::vector<float> line(size_t(width) * 3);
    size_t start = 0;
    for (uint32_t y = 0; y < height; ++y) {
        // This picture row covers the paper from top - 1/dpi to top, inches from the sheet's start.
        const double top = yHi - y / dpi, bottom = yHi - (y + 1) / dpi;
        while (start < rows.size() && rows[start].yInch >= top) ++start;
        std::fill(line.begin(), line.end(), 0.0f);
        bool inked = false;
        for (size_t i = start; i < rows.size() && rows[i].yInch + rowInch > bottom; ++i) {
            const SheetRow& r = rows[i];
            const double share =
                (std::min(top, r.yInch + rowInch) - std::max(bottom, r.yInch)) * dpi;
            if (share <= 0) continue;
            const std::vector<uint8_t>& mask = r.row->mask;
            for (size_t c = 0; c < mask.size(); ++c) {
                if (!mask[c]) continue;
                // The dot covers [x0, x1) in picture pixels, turned.
                const double xa = (xHi - double(r.row->x0 + int64_t(c) + 1) * r.dotInch) * dpi;
                const double xb = xa + r.dotInch * dpi;
                for (int64_t px = int64_t(std::floor(xa)); px < int64_t(std::ceil(xb)); ++px) {
                    if (px < 0 || px >= int64_t(width)) continue;
                    const double cover =
                        (std::min(xb, double(px + 1)) - std::max(xa, double(px))) * share;
                    if (cover <= 0) continue;
                    float* out = &line[size_t(px) * 3];
                    for (int k = 0; k < 3; ++k) out[k] += float(cover * dark[mask[c]][k]);
                    inked = true;
                }
            }
        }
        if (!inked) continue;
        uint8_t* out = &rgb[size_t(y) * width * 3];
        for (size_t i = 0; i < line.size(); ++i)
            out[i] = uint8_t(255 - std::min(255.0f, line[i] + 0.5f));
    }
    return writePng(
        width, height, dpi,
        [&](uint32_t y) { return static_cast<const uint8_t*>(&rgb[size_t(y) * width * 3]); }, path);
}

bool vpDrawsPictures() {
#if defined(HEADALIGN_HAVE_PNG) || defined(HEADALIGN_VP_PNG_BY_CODEC)
    return true;
#else
    return false;
#endif
}
