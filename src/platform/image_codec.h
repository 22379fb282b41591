// SPDX-License-Identifier: Apache-2.0
// Picture codec seam: PNG and JPEG bytes decoded into 8-bit RGB, and RGB encoded as PNG or
// JPEG. libpng and libjpeg on Linux, the Windows Imaging Component on Windows. Every decoder
// keeps within the caller's limits, decided from the header before the picture is allocated,
// and hands back the picture upright (a JPEG's EXIF orientation applied).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// An 8-bit RGB picture, 3 bytes per pixel, rows top to bottom. dpi is what the file says
// across (0 when it says nothing), divided by any reduction made while decoding. aspect is a
// pixel's height over its width (the file's density across over its density down, PNG pHYs or
// JPEG JFIF, with or without a unit), 1 when the file says nothing; upright like the pixels.
struct ImagePixels {
    uint32_t width = 0, height = 0;
    double dpi = 0;
    double aspect = 1;
    std::vector<uint8_t> rgb;
};

// What one read may spend besides the pixels, the same on every back end. The caps of the
// header bound the picture; these bound what a decoder does before and between the pixels
// (text and profile chunks, repeated scans). A file that goes past any of them is refused with
// a message naming the limit.
struct DecodeBudget {
    uint32_t maxAncillaryChunks = 256;      // PNG: ancillary chunks (text, profiles, private)
    uint32_t maxAncillaryBytes = 8u << 20;  // PNG: their stored bytes together
    uint32_t maxChunkBytes = 8u << 20;      // PNG: what the decoder may allocate for one chunk
    uint32_t maxJpegScans = 100;            // JPEG: scans (a progressive file has about ten)
    uint32_t maxJpegSegments = 4096;        // JPEG: marker segments besides the scans' data
    uint32_t maxMs = 8000;                  // the whole read, on the platform clock
};

struct ImageLimits {
    uint32_t maxSide;       // refused when either side of the file's picture is longer
    uint64_t maxPixels;     // refused when the file's picture has more pixels
    uint64_t decodePixels;  // decoded reduced by the smallest whole factor that fits in this
    DecodeBudget budget{};
};

struct ImageCodecBackend {
    // true with *out filled and upright. \threadsafe \nonblocking (computes only) \errors
    // false with *out empty and in *error one line saying what is wrong with the data ("corrupt
    // PNG: ...", "JPEG: image data ends early", the picture size refused), never naming a file.
    bool (*decodePng)(const uint8_t* data, size_t size, const ImageLimits& limits, ImagePixels* out,
                      std::string* error);
    // Grey, YCbCr, RGB, CMYK and YCCK. \threadsafe \nonblocking (computes only) \errors as
    // decodePng.
    bool (*decodeJpeg)(const uint8_t* data, size_t size, const ImageLimits& limits,
                       ImagePixels* out, std::string* error);
    // true with the whole PNG file in *out (its resolution recorded when image.dpi > 0).
    // \threadsafe \nonblocking (computes only) \errors false (out of memory) with *out empty.
    bool (*encodePng)(const ImagePixels& image, std::vector<uint8_t>* out);
    // JPEG at quality 1..100. \threadsafe \nonblocking (computes only) \errors as encodePng.
    bool (*encodeJpeg)(const ImagePixels& image, int quality, std::vector<uint8_t>* out);
};

// Installs a back end (nullptr restores the platform default). Call before any picture is read.
void ImageCodec_Install(const ImageCodecBackend* backend);
const ImageCodecBackend* ImageCodec_Backend();
const ImageCodecBackend* Platform_DefaultImageCodec();

// Shared by the back ends, decided from the bytes alone.
// One marker segment of a JPEG's header: its marker and its body (the bytes after the length).
struct JpegSegment {
    uint8_t marker = 0;
    const uint8_t* body = nullptr;
    size_t size = 0;
};
// Walks a JPEG's marker segments up to the first scan, calling visit on each until it returns
// true. true when visit stopped the walk; false when it ran off the header (no start marker, a
// broken length, the scan or the end reached first).
bool Image_FindJpegSegment(const uint8_t* data, size_t size,
                           const std::function<bool(const JpegSegment&)>& visit);
// The EXIF orientation of a JPEG (1..8, 1 when it has none or a damaged one).
int Image_ExifOrientation(const uint8_t* data, size_t size);
// Turns or mirrors the picture so that one stored with EXIF orientation `orientation` is upright
// (a quarter turn also swaps its densities across and down).
void Image_ApplyOrientation(ImagePixels* image, int orientation);
// What the header says of the picture's resolution in dpi (PNG pHYs in metres, JPEG JFIF in
// inches or centimetres), 0 when it says nothing. WIC reports 96 for a file that says nothing.
double Image_HeaderDpi(const uint8_t* data, size_t size);
// The pixel's height over its width from the same header fields (any unit), 1 when it says nothing.
double Image_HeaderAspect(const uint8_t* data, size_t size);
// The smallest whole factor f with ceil(w/f) * ceil(h/f) <= limits.decodePixels.
uint32_t Image_ReductionFor(uint32_t w, uint32_t h, const ImageLimits& limits);
// The decode budget's checks that need only the bytes, run by every back end before decoding:
// the PNG's chunks (their number and size; the header's picture size against the limits) or
// the JPEG's marker segments and scans. false with the message naming the limit in *error.
bool Image_WithinBudget(const uint8_t* data, size_t size, const ImageLimits& limits,
                        std::string* error);
// The wall-clock part of the budget, for a back end's decoding loop: started when the read
// begins; expired() is true once maxMs have passed on the platform clock.
class DecodeDeadline {
  public:
    explicit DecodeDeadline(const DecodeBudget& budget);
    bool expired() const;
    std::string message() const;  // "... took longer than the N ms one picture may take"

  private:
    uint32_t start_, maxMs_;
};
// Whether a picture of w x h is read at all; false with the message in *error.
bool Image_Admitted(uint32_t w, uint32_t h, const ImageLimits& limits, std::string* error);
