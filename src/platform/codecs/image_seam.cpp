// SPDX-License-Identifier: Apache-2.0
// Installation of the picture codec, and what every back end decides from the bytes alone:
// the EXIF orientation, the header's resolution, the limits of a picture and the decode budget.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/bytes.h"
#include "platform/clock.h"
#include "platform/image_codec.h"

namespace {
std::atomic<const ImageCodecBackend*> codecBackend{nullptr};

// IFD0's Orientation tag of a TIFF block (the body of an Exif APP1 segment after "Exif\0\0").
int tiffOrientation(const uint8_t* t, size_t size) {
    if (size < 8) return 1;
    bool little;
    if (t[0] == 'I' && t[1] == 'I')
        little = true;
    else if (t[0] == 'M' && t[1] == 'M')
        little = false;
    else
        return 1;
    auto u16 = [&](size_t off) { return little ? le::getU16(t, off) : be::getU16(t, off); };
    auto u32 = [&](size_t off) { return little ? le::getU32(t, off) : be::getU32(t, off); };
    if (u16(2) != 42) return 1;
    uint32_t ifd = u32(4);
    if (ifd < 8 || ifd > size - 2) return 1;
    uint32_t count = u16(ifd);
    for (uint32_t i = 0; i < count; ++i) {
        size_t entry = size_t(ifd) + 2 + size_t(i) * 12;
        if (entry + 12 > size) return 1;
        if (u16(entry) != 0x0112) continue;
        // SHORT, one value, held in the first two bytes of the value field.
        if (u16(entry + 2) != 3 || u32(entry + 4) != 1) return 1;
        uint16_t v = u16(entry + 8);
        return v >= 1 && v <= 8 ? v : 1;
    }
    return 1;
}
}  // namespace

void ImageCodec_Install(const ImageCodecBackend* b) { codecBackend.store(b); }
const ImageCodecBackend* ImageCodec_Backend() {
    const ImageCodecBackend* b = codecBackend.load();
    return b ? b : Platform_DefaultImageCodec();
}

bool Image_FindJpegSegment(const uint8_t* d, size_t size,
                           const std::function<bool(const JpegSegment&)>& visit) {
    if (size < 4 || d[0] != 0xFF || d[1] != 0xD8) return false;
    for (size_t pos = 2; pos + 4 <= size;) {
        if (d[pos] != 0xFF) return false;
        uint8_t marker = d[pos + 1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return false;
        size_t length = be::getU16(d, pos + 2);
        if (length < 2 || pos + 2 + length > size) return false;
        if (visit(JpegSegment{marker, d + pos + 4, length - 2})) return true;
        pos += 2 + length;
    }
    return false;
}

int Image_ExifOrientation(const uint8_t* d, size_t size) {
    // The Exif segment sits among the first markers.
    static const uint8_t EXIF[6] = {'E', 'x', 'i', 'f', 0, 0};
    int orientation = 1;
    Image_FindJpegSegment(d, size, [&](const JpegSegment& s) {
        if (s.marker != 0xE1 || s.size < 6 || !std::equal(EXIF, EXIF + 6, s.body)) return false;
        orientation = tiffOrientation(s.body + 6, s.size - 6);
        return true;
    });
    return orientation;
}

void Image_ApplyOrientation(ImagePixels* image, int orientation) {
    if (orientation < 2 || orientation > 8 || image->width == 0 || image->height == 0) return;
    const uint32_t w = image->width, h = image->height;
    auto swapPixels = [](uint8_t* a, uint8_t* b) { std::swap_ranges(a, a + 3, b); };
    auto px = [image](uint32_t x, uint32_t y) {
        return &image->rgb[(size_t(y) * image->width + x) * 3];
    };
    if (orientation <= 4) {
        // Mirrors and the half turn stay in place.
        bool mirrorX = orientation == 2 || orientation == 3,
             mirrorY = orientation == 3 || orientation == 4;
        if (mirrorX)
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w / 2; ++x) swapPixels(px(x, y), px(w - 1 - x, y));
        if (mirrorY)
            for (uint32_t y = 0; y < h / 2; ++y)
                std::swap_ranges(px(0, y), px(0, y) + size_t(w) * 3, px(0, h - 1 - y));
        return;
    }
    // Quarter turns: the picture stands on its side, width and height swap.
    std::vector<uint8_t> turned(image->rgb.size());
    for (uint32_t ny = 0; ny < w; ++ny) {
        for (uint32_t nx = 0; nx < h; ++nx) {
            uint32_t x = 0, y = 0;
            switch (orientation) {
                case 5:
                    x = ny, y = nx;
                    break;  // transposed
                case 6:
                    x = ny, y = h - 1 - nx;
                    break;  // turned a quarter clockwise to view
                case 7:
                    x = w - 1 - ny, y = h - 1 - nx;
                    break;  // transversed
                case 8:
                    x = w - 1 - ny, y = nx;
                    break;  // a quarter anticlockwise
            }
            const uint8_t* src = px(x, y);
            uint8_t* dst = &turned[(size_t(ny) * h + nx) * 3];
            dst[0] = src[0], dst[1] = src[1], dst[2] = src[2];
        }
    }
    image->rgb.swap(turned);
    image->width = h;
    image->height = w;
    // The file's density down is now the picture's across.
    if (image->aspect > 0) {
        image->dpi /= image->aspect;
        image->aspect = 1 / image->aspect;
    }
}

namespace {

// The densities a header states across and down, and inches per unit of them (0 when the file
// gives only their ratio). false when it states none.
bool headerDensity(const uint8_t* d, size_t size, double* across, double* down, double* perInch) {
    static const uint8_t PNG_MAGIC[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size >= 8 && std::equal(PNG_MAGIC, PNG_MAGIC + 8, d)) {
        for (size_t pos = 8; pos + 8 <= size;) {
            uint32_t length = be::getU32(d, pos);
            const uint8_t* type = d + pos + 4;
            if (length > size - pos - 8) return false;
            if (std::equal(type, type + 4, "IDAT")) return false;
            if (std::equal(type, type + 4, "pHYs") && length == 9) {
                *across = be::getU32(d, pos + 8);
                *down = be::getU32(d, pos + 12);
                *perInch = d[pos + 16] == 1 ? 0.0254 : 0;
                return *across > 0 && *down > 0;
            }
            if (size - pos - 8 - length < 4) return false;
            pos += 12 + size_t(length);
        }
        return false;
    }
    static const uint8_t JFIF[5] = {'J', 'F', 'I', 'F', 0};
    bool stated = false;
    Image_FindJpegSegment(d, size, [&](const JpegSegment& s) {
        if (s.marker != 0xE0 || s.size < 14 || !std::equal(JFIF, JFIF + 5, s.body)) return false;
        uint8_t unit = s.body[7];
        *across = be::getU16(s.body, 8);
        *down = be::getU16(s.body, 10);
        *perInch = unit == 1 ? 1 : unit == 2 ? 2.54 : 0;
        stated = *across > 0 && *down > 0;
        return true;
    });
    return stated;
}

}  // namespace

double Image_HeaderDpi(const uint8_t* d, size_t size) {
    double across = 0, down = 0, perInch = 0;
    if (!headerDensity(d, size, &across, &down, &perInch)) return 0;
    // JFIF's 1:1 is its way of saying nothing.
    return perInch > 0 && across > 1 ? across * perInch : 0;
}

double Image_HeaderAspect(const uint8_t* d, size_t size) {
    double across = 0, down = 0, perInch = 0;
    return headerDensity(d, size, &across, &down, &perInch) ? across / down : 1;
}

uint32_t Image_ReductionFor(uint32_t w, uint32_t h, const ImageLimits& limits) {
    auto reduced = [](uint32_t side, uint32_t f) { return (side + f - 1) / f; };
    uint32_t f = 1;
    while (uint64_t(reduced(w, f)) * reduced(h, f) > std::max<uint64_t>(limits.decodePixels, 1) &&
           f < std::max(w, h))
        ++f;
    return f;
}

bool Image_Admitted(uint32_t w, uint32_t h, const ImageLimits& limits, std::string* error) {
    if (w == 0 || h == 0 || w > limits.maxSide || h > limits.maxSide ||
        uint64_t(w) * h > limits.maxPixels) {
        *error = "picture size " + std::to_string(w) + " x " + std::to_string(h) +
                 " not supported (at most " + std::to_string(limits.maxSide) + " on a side and " +
                 std::to_string(limits.maxPixels / 1000000) + " megapixels)";
        return false;
    }
    return true;
}

namespace {

std::string megabytes(uint64_t bytes) { return std::to_string(bytes >> 20) + " MB"; }

bool pngWithinBudget(const uint8_t* d, size_t size, const ImageLimits& limits, std::string* error) {
    const DecodeBudget& b = limits.budget;
    uint64_t ancillary = 0, ancillaryBytes = 0;
    for (size_t pos = 8; size >= 12 && pos <= size - 12;) {
        uint32_t length = be::getU32(d, pos);
        const uint8_t* type = d + pos + 4;
        if (length > 0x7FFFFFFFu) break;  // damage the decoder names
        if (pos == 8 && std::memcmp(type, "IHDR", 4) == 0 && length >= 8 && pos + 16 <= size) {
            uint32_t w = be::getU32(d, pos + 8), h = be::getU32(d, pos + 12);
            if (w > 0 && h > 0 && !Image_Admitted(w, h, limits, error)) return false;
        }
        if (std::memcmp(type, "IEND", 4) == 0) break;
        if (type[0] & 0x20) {  // lower case first letter: ancillary
            ancillaryBytes += length;
            if (++ancillary > b.maxAncillaryChunks) {
                *error = "PNG: more than " + std::to_string(b.maxAncillaryChunks) +
                         " ancillary chunks (text, profiles, private data); the decode budget "
                         "allows " +
                         std::to_string(b.maxAncillaryChunks);
                return false;
            }
            if (ancillaryBytes > b.maxAncillaryBytes) {
                *error =
                    "PNG: its ancillary chunks (text, profiles, private data) hold more than " +
                    megabytes(b.maxAncillaryBytes) + ", the decode budget's limit";
                return false;
            }
        }
        pos += 12 + size_t(length);
    }
    return true;
}

bool jpegWithinBudget(const uint8_t* d, size_t size, const DecodeBudget& b, std::string* error) {
    uint64_t scans = 0, segments = 0;
    for (size_t pos = 2; pos + 4 <= size;) {
        if (d[pos] != 0xFF) break;  // damage the decoder names
        uint8_t marker = d[pos + 1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9) break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
            pos += 2;
            continue;
        }
        size_t length = be::getU16(d, pos + 2);
        if (length < 2 || pos + 2 + length > size) break;
        if (++segments > b.maxJpegSegments) {
            *error = "JPEG: more than " + std::to_string(b.maxJpegSegments) +
                     " marker segments; the decode budget allows " +
                     std::to_string(b.maxJpegSegments);
            return false;
        }
        pos += 2 + length;
        if (marker != 0xDA) continue;
        if (++scans > b.maxJpegScans) {
            *error = "JPEG: more than " + std::to_string(b.maxJpegScans) +
                     " scans; the decode budget allows " + std::to_string(b.maxJpegScans);
            return false;
        }
        // The scan's coded data runs to the next marker that is neither a stuffed 0xFF nor a
        // restart marker.
        while (pos + 1 < size &&
               !(d[pos] == 0xFF && d[pos + 1] != 0x00 && (d[pos + 1] < 0xD0 || d[pos + 1] > 0xD7)))
            ++pos;
    }
    return true;
}

}  // namespace

bool Image_WithinBudget(const uint8_t* data, size_t size, const ImageLimits& limits,
                        std::string* error) {
    static const uint8_t PNG_MAGIC[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size >= 8 && std::memcmp(data, PNG_MAGIC, 8) == 0)
        return pngWithinBudget(data, size, limits, error);
    if (size >= 4 && data[0] == 0xFF && data[1] == 0xD8)
        return jpegWithinBudget(data, size, limits.budget, error);
    return true;
}

DecodeDeadline::DecodeDeadline(const DecodeBudget& budget)
    : start_(Clock_Tick()), maxMs_(budget.maxMs) {}

bool DecodeDeadline::expired() const { return Clock_Tick() - start_ > maxMs_; }

std::string DecodeDeadline::message() const {
    return "reading the picture took longer than the " + std::to_string(maxMs_) +
           " ms the decode budget allows";
}
