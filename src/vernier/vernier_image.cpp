// SPDX-License-Identifier: Apache-2.0
// Loading scans and writing pictures, through the platform's picture codec.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "platform/files.h"
#include "platform/image_codec.h"
#include "vernier/vernier.h"

namespace {

// Picture sides beyond this are refused from the header.
constexpr uint32_t MAX_SIDE = 30000;
constexpr ImageLimits SCAN_LIMITS{MAX_SIDE, VERNIER_MAX_PIXELS, VERNIER_DECODE_PIXELS};

// The reader tells the patterns apart by the ratio of distances across and down, so pixels
// that are not square (a fax, a scanner's unequal resolutions, a picture drawn on a printer's
// grid) must be made square first, or a print is taken for another mode's. A file's stated
// ratio is honoured; its absolute dpi is not relied on (cameras write 72 or 96 whatever they
// saw), and a ratio beyond 4 to 1 either way is no real device's: such a header is refused
// rather than guessed at. The rows are resampled, stretched at the resolution across when the
// result stays within the decoding budget, otherwise the columns are narrowed to the rows'.
bool squared(VernierImage* image, double aspect, std::string* error) {
    if (!(aspect > 0) || std::fabs(aspect - 1) < 1e-3) return true;
    if (aspect < 0.25 || aspect > 4) {
        char text[160];
        std::snprintf(
            text, sizeof text,
            "the file says its pixels are %.3g times as %s; no scanner or camera makes such "
            "pixels: save the picture again with square pixels",
            aspect > 1 ? aspect : 1 / aspect, aspect > 1 ? "tall as wide" : "wide as tall");
        *image = VernierImage{};
        if (error) *error = text;
        return false;
    }
    try {
        if (double(image->width) * image->height * aspect <= double(VERNIER_DECODE_PIXELS))
            *image = Vernier_Resample(*image, 1.0, aspect);
        else
            *image = Vernier_Resample(*image, 1 / aspect, 1.0);
    } catch (const std::bad_alloc&) {
        *image = VernierImage{};
        if (error) *error = "not enough memory to make the picture's pixels square";
        return false;
    }
    return true;
}

using Decoder = bool (*)(const uint8_t*, size_t, const ImageLimits&, ImagePixels*, std::string*);

bool decodeWith(Decoder decode, const uint8_t* data, size_t size, VernierImage* out,
                std::string* error) {
    ImagePixels pixels;
    std::string message;
    bool ok = decode(data, size, SCAN_LIMITS, &pixels, &message);
    *out = VernierImage{};
    if (!ok) {
        if (error) *error = message;
        return false;
    }
    return Vernier_FromPixels(std::move(pixels), out, error);
}

ImagePixels pixelsOf(const VernierImage& image) {
    ImagePixels p;
    p.width = image.width;
    p.height = image.height;
    p.dpi = image.dpi;
    p.rgb = image.rgb;
    return p;
}

}  // namespace

bool Vernier_FromPixels(ImagePixels&& pixels, VernierImage* out, std::string* error) {
    *out = VernierImage{};
    out->width = pixels.width;
    out->height = pixels.height;
    out->dpi = pixels.dpi;
    out->rgb = std::move(pixels.rgb);
    return squared(out, pixels.aspect, error);
}

bool Vernier_DecodePng(const uint8_t* data, size_t size, VernierImage* out, std::string* error) {
    return decodeWith(ImageCodec_Backend()->decodePng, data, size, out, error);
}

bool Vernier_DecodeJpeg(const uint8_t* data, size_t size, VernierImage* out, std::string* error) {
    return decodeWith(ImageCodec_Backend()->decodeJpeg, data, size, out, error);
}

bool Vernier_DecodeImage(const uint8_t* data, size_t size, VernierImage* out, std::string* error,
                         const std::string& name) {
    static const uint8_t PNG_MAGIC[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size >= 8 && std::memcmp(data, PNG_MAGIC, 8) == 0)
        return Vernier_DecodePng(data, size, out, error);
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return Vernier_DecodeJpeg(data, size, out, error);
    *out = VernierImage{};
    if (error) *error = name + " is neither a PNG nor a JPEG file";
    return false;
}

bool Vernier_LoadImage(const std::string& path, VernierImage* out, std::string* error) {
    std::vector<uint8_t> bytes;
    FileResult read;
    try {
        read = File_ReadRegular(path, VERNIER_MAX_FILE_BYTES, &bytes);
    } catch (const std::bad_alloc&) {
        read = FileResult{FILE_IO_ERROR, path + ": not enough memory to read it"};
    }
    if (!read.ok()) {
        *out = VernierImage{};
        if (error) *error = read.message;
        return false;
    }
    std::string decodeError;
    if (Vernier_DecodeImage(bytes.data(), bytes.size(), out, &decodeError, path)) return true;
    // Name the file unless the message already does.
    if (error) *error = decodeError.rfind(path, 0) == 0 ? decodeError : path + ": " + decodeError;
    return false;
}

// Written through the file seam: a marked picture never half-replaces an older one, and a
// path in any script opens on every platform.
bool Vernier_SavePng(const std::string& path, const VernierImage& image) {
    if (image.width == 0 || image.height == 0 ||
        image.rgb.size() < size_t(image.width) * image.height * 3)
        return false;
    std::vector<uint8_t> bytes;
    try {
        if (!ImageCodec_Backend()->encodePng(pixelsOf(image), &bytes)) return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return File_WriteReplace(path, bytes.data(), bytes.size()).ok();
}

bool Vernier_EncodeJpeg(const VernierImage& image, int quality, std::vector<uint8_t>* out) {
    out->clear();
    if (image.width == 0 || image.height == 0 ||
        image.rgb.size() < size_t(image.width) * image.height * 3)
        return false;
    try {
        return ImageCodec_Backend()->encodeJpeg(pixelsOf(image), quality, out);
    } catch (const std::bad_alloc&) {
        out->clear();
        return false;
    }
}
