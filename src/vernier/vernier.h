// SPDX-License-Identifier: Apache-2.0
// The vernier reader: finds a printed bidirectional vernier on a scan or photo, measures each
// group's offset between the two prints and names the group that lines up, or says why not.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/image_codec.h"

// An 8-bit RGB picture (3 bytes per pixel, rows top to bottom). dpi is what the file says
// (0 when it says nothing); the reader never needs it, but it needs square pixels.
struct VernierImage {
    uint32_t width = 0, height = 0;
    double dpi = 0;
    std::vector<uint8_t> rgb;
    uint8_t* at(uint32_t x, uint32_t y) { return &rgb[(size_t(y) * width + x) * 3]; }
    const uint8_t* at(uint32_t x, uint32_t y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

// Limits of a scan, decided from the file's size and header before anything is allocated for
// the picture. The pixel cap admits a 1200-dpi scan of a whole A4 or Letter page (10200 x
// 14040) and a 50-megapixel photo. Pictures over the decoding budget are decoded reduced by the
// smallest whole factor that brings them under it (on Linux JPEG scaled by libjpeg while
// decoding and PNG rows averaged as they are read; on Windows WIC's area-averaging scaler): a
// 1200-dpi page comes out at 600 dpi, far finer than the 150 dpi the reader needs, and picture plus
// ink map stay under half a gigabyte.
constexpr size_t VERNIER_MAX_FILE_BYTES = size_t(256) << 20;
constexpr uint64_t VERNIER_MAX_PIXELS = 150000000;
constexpr uint64_t VERNIER_DECODE_PIXELS = 64000000;

// PNG (any bit depth or colour type) and JPEG (grey, YCbCr, RGB, CMYK and YCCK; turned
// upright by its EXIF orientation), chosen by the file's first bytes and decoded by the
// platform's picture codec (platform/image_codec.h), with square pixels: a file stating unequal
// densities across and down (PNG pHYs, JPEG JFIF) is resampled down the picture to make them
// equal, and refused when the ratio is beyond 4 to 1. Only a regular file is read. false with a
// message naming the file in *error for a missing, unreadable, truncated, corrupt or unsupported
// file, or a picture over the limits above; *out is then empty.
bool Vernier_LoadImage(const std::string& path, VernierImage* out, std::string* error);
// The same from bytes in memory; name stands for the data in the message.
bool Vernier_DecodeImage(const uint8_t* data, size_t size, VernierImage* out, std::string* error,
                         const std::string& name = "the picture");
bool Vernier_DecodePng(const uint8_t* data, size_t size, VernierImage* out, std::string* error);
bool Vernier_DecodeJpeg(const uint8_t* data, size_t size, VernierImage* out, std::string* error);
// A picture from a device (a scanner) rather than a file: made square as a file's is, by the
// pixel's height over its width that the device scanned at (1: square already). false with the
// message in *error when the ratio is beyond 4 to 1; *out is then empty.
bool Vernier_FromPixels(ImagePixels&& pixels, VernierImage* out, std::string* error);
bool Vernier_SavePng(const std::string& path, const VernierImage& image);
// JPEG into memory at quality 1..100 (the scanner simulator and saved previews).
bool Vernier_EncodeJpeg(const VernierImage& image, int quality, std::vector<uint8_t>* out);

enum VernierStatus : uint8_t {
    VERNIER_READ = 0,        // a group is named
    VERNIER_NOT_FOUND,       // no vernier on the picture (blank page, other pattern, cut off)
    VERNIER_TOO_BLURRED,     // the pattern is there but its ticks cannot be measured well enough
    VERNIER_TWO_CANDIDATES,  // two verniers on the picture that disagree
    VERNIER_OUT_OF_RANGE,    // the prints line up beyond the outermost group
};

// The pattern families a vernier can come from, told apart by the group pitch against the
// distance between the two bars (both printed by the same head, so their ratio is fixed).
enum VernierFamily : uint8_t {
    FAMILY_UNKNOWN = 0,
    FAMILY_ADJUST_540,   // bidirectional adjustment at 540 dpi (types 5, 6, 7)
    FAMILY_ADJUST_720,   // at 720 dpi (types 8, 9)
    FAMILY_ADJUST_1440,  // at 1440 dpi (type 10)
    FAMILY_PATTERN_200,  // calibration patterns with a 200-dot pitch (5..10, 17, 18)
    FAMILY_PATTERN_300,  // double-head horizontal offset (pattern 1)
};

struct VernierGroup {
    int label = 0;          // 9 .. -9, group 1 .. 19 from the left
    double u = 0;           // group start along the bars, picture pixels from the first group
    double x = 0, y = 0;    // where the group's ticks meet, picture pixels
    double offsetPx = 0;    // lower print's ticks minus upper print's, along the bars
    bool measured = false;  // false when its ticks could not be found
};

struct VernierReading {
    VernierStatus status = VERNIER_NOT_FOUND;
    std::string reason;   // one line for the operator when status is not VERNIER_READ
    int group = 0;        // label of the group that lines up ("03" -> 3, "-2" -> -2)
    int neighbour = 0;    // the other group when the prints line up between two; == group otherwise
    double estimate = 0;  // where they line up, in groups (label units, fractional)
    double sigma = 0;     // standard error of estimate
    double confidence = 0;  // 0..1: how sure the named group alone is the one that lines up
    bool highConfidence = false;
    // Where the prints meet and how sure the measurement is of it are separate: a sharp reading
    // half-way between two groups is as sure as one on a group, only its answer is two groups.
    bool halfway = false;  // the prints meet between `group` and `neighbour`
    bool certain =
        false;  // estimate +/- 3 sigma stays on `group`, or between the two of a half-way reading
    VernierFamily family = FAMILY_UNKNOWN;
    double angleDeg = 0;       // rotation of the pattern on the picture (positive = clockwise)
    double pitchPx = 0;        // group pitch of the upper print
    double barDistancePx = 0;  // between the two bars
    std::vector<VernierGroup> groups;
};

VernierReading Vernier_Read(const VernierImage& image);
// The same for the print of one family: on a crowded sheet other patterns and other modes'
// prints are passed over when a print of that family is there, and "two candidates" means two
// prints of that family. FAMILY_UNKNOWN takes any vernier. mode: the adjustment asked for
// (5..10), named in the reason when two of its prints are on the picture; 0 when not known.
VernierReading Vernier_ReadAs(const VernierImage& image, VernierFamily wanted, int mode = 0);
// The group to enter for a read vernier: the named group, or of a half-way reading the one of
// the two nearer "00" (either lines the prints up to half a group; the smaller change is kept).
int Vernier_GroupToEnter(const VernierReading& reading);
// The label as printed: "09" .. "00", "-1" .. "-9".
std::string Vernier_LabelText(int label);
const char* Vernier_FamilyName(VernierFamily family);
// Family of the bidirectional adjustment print of job type 5..10.
VernierFamily Vernier_FamilyOfAdjustment(int jobType);
// Marks the found groups on the picture: a box around each group (green where it was
// measured, red where not) and a thick one around the named group.
void Vernier_MarkGroups(VernierImage* image, const VernierReading& reading);
// The picture scaled by sx across and sy down, each output pixel the area average of the
// input it covers (so a picture with unequal resolutions can be made square before reading).
VernierImage Vernier_Resample(const VernierImage& image, double sx, double sy);
