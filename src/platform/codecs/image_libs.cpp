// SPDX-License-Identifier: Apache-2.0
// Picture codec on libpng and libjpeg: size caps before allocating, reduced decoding, CMYK,
// EXIF orientation, and a message for every kind of damaged file.
#include <png.h>
#include <setjmp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
// jerror.h after jpeglib.h: its list of messages depends on the library version jpeglib.h sets.
#include <jerror.h>

#include "platform/image_codec.h"

namespace {

// libjpeg's own working memory (a progressive file keeps every coefficient of the picture
// until its last scan): past this it stops with an error instead of asking for more.
constexpr long JPEG_WORK_BYTES = 512L << 20;

uint32_t reduced(uint32_t side, uint32_t factor) { return (side + factor - 1) / factor; }
uint8_t* pixelAt(ImagePixels& image, uint32_t x, uint32_t y) {
    return &image.rgb[(size_t(y) * image.width + x) * 3];
}

// ---- PNG ----

// Everything the PNG decoder touches lives here, so nothing sits in a register or needs a
// destructor across the jump libpng takes on an error.
struct PngJob {
    const uint8_t* data = nullptr;
    size_t size = 0, pos = 0;
    bool inImageData = false;  // past the header: running out now means the pixels end early
    ImagePixels* out = nullptr;
    const ImageLimits* limits = nullptr;
    std::string message;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<png_bytep> rows;
    std::vector<uint8_t> row;    // one file row, when reduced
    std::vector<uint32_t> sums;  // one picture row being averaged
    DecodeDeadline deadline{DecodeBudget{}};
    bool overBudget = false;  // the jump below is the budget's, not the data's
};

const char* const PNG_ENDS_EARLY = "image data ends early";
const char* const PNG_NO_IMAGE_DATA = "the file ends before its image data";

void pngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (length > job->size - job->pos)
        png_error(png, job->inImageData ? PNG_ENDS_EARLY : PNG_NO_IMAGE_DATA);
    std::memcpy(out, job->data + job->pos, length);
    job->pos += length;
}

void pngError(png_structp png, png_const_charp message) {
    auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
    if (job->overBudget) {
        job->message = "PNG: " + job->deadline.message();
        png_longjmp(png, 1);
    }
    {
        // Nothing with a destructor may be alive at the jump below.
        bool endsEarly = std::strcmp(message, PNG_ENDS_EARLY) == 0 ||
                         std::strcmp(message, "Not enough image data") == 0;
        if (endsEarly)
            job->message = std::string("PNG: ") + PNG_ENDS_EARLY;
        else if (std::strcmp(message, PNG_NO_IMAGE_DATA) == 0)
            job->message = std::string("PNG: ") + PNG_NO_IMAGE_DATA;
        else
            job->message = std::string("corrupt PNG: ") + message;
    }
    png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

// After every row (of every pass): the wall clock of the decode budget.
void pngRowDone(png_structp png, png_uint_32, int) {
    auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (!job->deadline.expired()) return;
    job->overBudget = true;
    png_error(png, "over budget");
}

// The decoder's own share of the budget: chunks it keeps or decompresses. Text, profiles and
// private chunks mean nothing to a scan and are skipped unread (their checksums still checked).
void pngBudget(PngJob* job) {
    const DecodeBudget& b = job->limits->budget;
    png_set_user_limits(job->png, job->limits->maxSide, job->limits->maxSide);
    png_set_chunk_cache_max(job->png, b.maxAncillaryChunks);
    png_set_chunk_malloc_max(job->png, b.maxChunkBytes);
    png_set_keep_unknown_chunks(job->png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    static const png_byte SKIPPED[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf\0hIST\0tIME";
    png_set_keep_unknown_chunks(job->png, PNG_HANDLE_CHUNK_NEVER, SKIPPED, int(sizeof SKIPPED / 5));
    png_set_read_status_fn(job->png, pngRowDone);
}

// Rows averaged f by f as they are read: the full-size picture never exists in memory.
void readReduced(PngJob* job, uint32_t w, uint32_t h, uint32_t f) {
    ImagePixels& out = *job->out;
    job->row.assign(size_t(w) * 3, 0);
    job->sums.assign(size_t(out.width) * 3, 0);
    for (uint32_t y = 0; y < h; ++y) {
        png_read_row(job->png, job->row.data(), nullptr);
        const uint8_t* src = job->row.data();
        uint32_t* sum = job->sums.data();
        for (uint32_t x = 0; x < w; sum += 3) {
            for (uint32_t end = std::min(w, x + f); x < end; ++x, src += 3) {
                sum[0] += src[0];
                sum[1] += src[1];
                sum[2] += src[2];
            }
        }
        if ((y + 1) % f != 0 && y + 1 != h) continue;
        uint32_t rowsIn = y % f + 1;
        uint8_t* dst = pixelAt(out, 0, y / f);
        sum = job->sums.data();
        for (uint32_t ox = 0; ox < out.width; ++ox, sum += 3, dst += 3) {
            uint32_t n = std::min(f, w - ox * f) * rowsIn;
            for (int c = 0; c < 3; ++c) {
                dst[c] = uint8_t((sum[c] + n / 2) / n);
                sum[c] = 0;
            }
        }
    }
}

bool decodePng(PngJob* job) {
    if (setjmp(png_jmpbuf(job->png))) return false;
    png_set_read_fn(job->png, job, pngRead);
    pngBudget(job);
    png_read_info(job->png, job->info);
    uint32_t w = png_get_image_width(job->png, job->info),
             h = png_get_image_height(job->png, job->info);
    if (!Image_Admitted(w, h, *job->limits, &job->message)) return false;
    uint32_t f = Image_ReductionFor(w, h, *job->limits);
    bool interlaced = png_get_interlace_type(job->png, job->info) != PNG_INTERLACE_NONE;
    if (interlaced && f > 1) {
        // Its rows come in seven passes over the whole picture, so it cannot be reduced as read.
        job->message = "PNG: an interlaced picture of " + std::to_string(w) + " x " +
                       std::to_string(h) +
                       " is too large to read; save the scan without interlacing";
        return false;
    }
    png_set_expand(job->png);
    png_set_strip_16(job->png);
    png_set_strip_alpha(job->png);
    png_set_gray_to_rgb(job->png);
    png_set_interlace_handling(job->png);
    png_read_update_info(job->png, job->info);
    if (png_get_rowbytes(job->png, job->info) != size_t(w) * 3)
        png_error(job->png, "unexpected pixel layout");
    ImagePixels& out = *job->out;
    out.width = reduced(w, f);
    out.height = reduced(h, f);
    out.rgb.assign(size_t(out.width) * out.height * 3, 0);
    job->inImageData = true;
    if (f == 1) {
        job->rows.resize(h);
        for (uint32_t y = 0; y < h; ++y) job->rows[y] = pixelAt(out, 0, y);
        png_read_image(job->png, job->rows.data());
    } else {
        readReduced(job, w, h, f);
    }
    png_uint_32 xppu = 0, yppu = 0;
    int unit = 0;
    out.dpi = 0;
    out.aspect = 1;
    if (png_get_pHYs(job->png, job->info, &xppu, &yppu, &unit) && xppu > 0 && yppu > 0) {
        if (unit == PNG_RESOLUTION_METER) out.dpi = xppu * 0.0254 / f;
        out.aspect = double(xppu) / yppu;
    }
    return true;
}

// ---- JPEG ----

// libjpeg reports errors by calling error_exit; jump back instead of exiting the process.
struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool corrupt;  // the message is about the data (not about what we asked for)
    bool endsEarly;
};
void jpegErrorExit(j_common_ptr info) {
    auto* e = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, e->message);
    longjmp(e->jump, 1);
}
// libjpeg carries on over damaged or missing data, filling the rest with grey; a half picture
// must not be read as a whole one, so those warnings stop decoding. Others are harmless.
void jpegWarning(j_common_ptr info, int level) {
    if (level >= 0) return;
    auto* e = reinterpret_cast<JpegError*>(info->err);
    switch (info->err->msg_code) {
        case JWRN_JPEG_EOF:
            e->endsEarly = true;
            break;
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_BOGUS_PROGRESSION:
            e->corrupt = true;
            break;
        default:
            return;
    }
    (*info->err->format_message)(info, e->message);
    longjmp(e->jump, 1);
}

struct JpegJob {
    jpeg_decompress_struct info{};  // zero until created: destroying it then is harmless
    JpegError e;
    const uint8_t* data = nullptr;
    size_t size = 0;
    ImagePixels* out = nullptr;
    const ImageLimits* limits = nullptr;
    std::string message;
    std::vector<uint8_t> cmyk;  // one row, for four-channel files
    jpeg_progress_mgr progress{};
    DecodeDeadline deadline{DecodeBudget{}};
};

// Called by libjpeg as it works through each scan: the scans and the wall clock of the budget.
void jpegProgress(j_common_ptr common) {
    auto* job = static_cast<JpegJob*>(common->client_data);
    auto* info = reinterpret_cast<j_decompress_ptr>(common);
    const DecodeBudget& b = job->limits->budget;
    if (info->input_scan_number > 0 && uint32_t(info->input_scan_number) > b.maxJpegScans)
        job->message = "JPEG: more than " + std::to_string(b.maxJpegScans) +
                       " scans; the decode budget allows " + std::to_string(b.maxJpegScans);
    else if (job->deadline.expired())
        job->message = "JPEG: " + job->deadline.message();
    else
        return;
    longjmp(job->e.jump, 1);
}

// Four-channel files are CMYK (or YCCK, which libjpeg turns into CMYK). Adobe's programs
// store them inverted, which their APP14 marker tells.
void cmykToRgb(const uint8_t* in, uint8_t* out, uint32_t n, bool inverted) {
    for (uint32_t i = 0; i < n; ++i, in += 4, out += 3) {
        unsigned k = inverted ? in[3] : 255u - in[3];
        for (int c = 0; c < 3; ++c) {
            unsigned v = inverted ? in[c] : 255u - in[c];
            out[c] = uint8_t((v * k + 127) / 255);
        }
    }
}

bool decodeJpeg(JpegJob* job) {
    if (setjmp(job->e.jump)) return false;
    jpeg_decompress_struct* info = &job->info;
    jpeg_create_decompress(info);
    info->mem->max_memory_to_use = JPEG_WORK_BYTES;
    info->client_data = job;
    job->progress.progress_monitor = jpegProgress;
    info->progress = &job->progress;
    jpeg_mem_src(info, job->data, static_cast<unsigned long>(job->size));
    jpeg_read_header(info, TRUE);
    if (!Image_Admitted(info->image_width, info->image_height, *job->limits, &job->message))
        return false;
    bool fourChannels = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
    if (!fourChannels && info->jpeg_color_space != JCS_GRAYSCALE &&
        info->jpeg_color_space != JCS_YCbCr && info->jpeg_color_space != JCS_RGB) {
        job->message = "JPEG: colour space " + std::to_string(int(info->jpeg_color_space)) +
                       " with " + std::to_string(info->num_components) + " channels not supported";
        return false;
    }
    info->out_color_space = fourChannels ? JCS_CMYK : JCS_RGB;
    // libjpeg scales while decoding (in eighths): ask for 1/f, take the first that fits.
    uint32_t f = Image_ReductionFor(info->image_width, info->image_height, *job->limits);
    for (;; ++f) {
        info->scale_num = 1;
        info->scale_denom = f;
        jpeg_calc_output_dimensions(info);
        if (uint64_t(info->output_width) * info->output_height <= job->limits->decodePixels ||
            f >= 8)
            break;
    }
    ImagePixels& out = *job->out;
    out.width = info->output_width;
    out.height = info->output_height;
    out.rgb.assign(size_t(out.width) * out.height * 3, 0);
    if (fourChannels) job->cmyk.assign(size_t(out.width) * 4, 0);
    jpeg_start_decompress(info);
    if (info->output_width != out.width || info->output_height != out.height ||
        info->output_components != (fourChannels ? 4 : 3)) {
        job->message = "JPEG: unexpected pixel layout";
        return false;
    }
    while (info->output_scanline < info->output_height) {
        uint8_t* dst = pixelAt(out, 0, info->output_scanline);
        JSAMPROW row = fourChannels ? job->cmyk.data() : dst;
        if (jpeg_read_scanlines(info, &row, 1) != 1) {
            job->e.endsEarly = true;
            return false;
        }
        if (fourChannels) cmykToRgb(job->cmyk.data(), dst, out.width, info->saw_Adobe_marker);
    }
    double scale = double(out.width) / info->image_width;
    out.dpi = 0;
    if (info->density_unit == 1 && info->X_density > 1) out.dpi = info->X_density * scale;
    if (info->density_unit == 2 && info->X_density > 1) out.dpi = info->X_density * 2.54 * scale;
    out.aspect =
        info->X_density > 0 && info->Y_density > 0 ? double(info->X_density) / info->Y_density : 1;
    // Every pixel is in; what follows the last scan (even a missing end marker) does not matter.
    return true;
}

bool libsDecodePng(const uint8_t* data, size_t size, const ImageLimits& limits, ImagePixels* out,
                   std::string* error) {
    PngJob job;
    job.deadline = DecodeDeadline(limits.budget);
    std::string refused;
    if (!Image_WithinBudget(data, size, limits, &refused)) {
        *out = ImagePixels{};
        if (error) *error = refused;
        return false;
    }
    job.data = data;
    job.size = size;
    job.out = out;
    job.limits = &limits;
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, pngError, pngWarning);
    job.info = job.png ? png_create_info_struct(job.png) : nullptr;
    bool ok = false;
    try {
        ok = job.png && job.info && decodePng(&job);
        if (!job.png || !job.info) job.message = "PNG: out of memory";
    } catch (const std::bad_alloc&) {
        job.message = "PNG: out of memory for the picture";
    }
    png_destroy_read_struct(&job.png, &job.info, nullptr);
    if (!ok) {
        *out = ImagePixels{};
        if (error) *error = job.message.empty() ? "PNG: cannot be read" : job.message;
    }
    return ok;
}

bool libsDecodeJpeg(const uint8_t* data, size_t size, const ImageLimits& limits, ImagePixels* out,
                    std::string* error) {
    JpegJob job;
    job.deadline = DecodeDeadline(limits.budget);
    std::string refused;
    if (!Image_WithinBudget(data, size, limits, &refused)) {
        *out = ImagePixels{};
        if (error) *error = refused;
        return false;
    }
    job.data = data;
    job.size = size;
    job.out = out;
    job.limits = &limits;
    job.info.err = jpeg_std_error(&job.e.mgr);
    job.e.mgr.error_exit = jpegErrorExit;
    job.e.mgr.emit_message = jpegWarning;
    job.e.message[0] = '\0';
    job.e.corrupt = job.e.endsEarly = false;
    bool ok = false;
    try {
        ok = decodeJpeg(&job);
    } catch (const std::bad_alloc&) {
        job.message = "JPEG: out of memory for the picture";
    }
    jpeg_destroy_decompress(&job.info);
    if (ok) {
        try {
            Image_ApplyOrientation(out, Image_ExifOrientation(data, size));
        } catch (const std::bad_alloc&) {
            ok = false;
            job.message = "JPEG: out of memory for turning the picture upright";
        }
    }
    if (!ok) {
        *out = ImagePixels{};
        if (job.message.empty()) {
            if (job.e.endsEarly)
                job.message = "JPEG: image data ends early";
            else if (job.e.mgr.msg_code == JERR_NO_BACKING_STORE ||
                     job.e.mgr.msg_code == JERR_OUT_OF_MEMORY)
                job.message = "JPEG: the picture needs more memory than a scan may use";
            else if (job.e.mgr.msg_code == JERR_CONVERSION_NOTIMPL)
                job.message = std::string("JPEG: ") + job.e.message;
            else {
                const char* what = job.e.message;
                const char PREFIX[] = "Corrupt JPEG data: ";
                if (std::strncmp(what, PREFIX, sizeof PREFIX - 1) == 0) what += sizeof PREFIX - 1;
                job.message = std::string("corrupt JPEG: ") + what;
            }
        }
        if (error) *error = job.message;
    }
    return ok;
}

void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    bool full = false;
    try {
        out->insert(out->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        full = true;
    }
    if (full) png_error(png, "out of memory");
}
void pngFlush(png_structp) {}

bool writePng(png_structp png, png_infop info, const ImagePixels& image,
              std::vector<uint8_t>* out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, out, pngWrite, pngFlush);
    png_set_compression_level(png, 3);
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (image.dpi > 0) {
        auto ppm = static_cast<png_uint_32>(image.dpi / 0.0254 + 0.5);
        png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    for (uint32_t y = 0; y < image.height; ++y)
        png_write_row(png, const_cast<png_bytep>(image.rgb.data() + size_t(y) * image.width * 3));
    png_write_end(png, nullptr);
    return true;
}

bool libsEncodePng(const ImagePixels& image, std::vector<uint8_t>* out) {
    out->clear();
    if (image.width == 0 || image.height == 0 ||
        image.rgb.size() < size_t(image.width) * image.height * 3)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info && writePng(png, info, image, out);
    png_destroy_write_struct(&png, &info);
    if (!ok) out->clear();
    return ok;
}

bool libsEncodeJpeg(const ImagePixels& image, int quality, std::vector<uint8_t>* out) {
    if (image.width == 0 || image.height == 0) return false;
    jpeg_compress_struct info;
    JpegError e;
    info.err = jpeg_std_error(&e.mgr);
    e.mgr.error_exit = jpegErrorExit;
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    if (setjmp(e.jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &length);
    info.image_width = image.width;
    info.image_height = image.height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality < 1 ? 1 : quality > 100 ? 100 : quality, TRUE);
    if (image.dpi > 0) {
        info.density_unit = 1;
        info.X_density = info.Y_density = static_cast<UINT16>(image.dpi + 0.5);
    }
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(image.rgb.data() + size_t(info.next_scanline) * image.width * 3);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    out->assign(buffer, buffer + length);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return true;
}

const ImageCodecBackend libsCodec{
    .decodePng = libsDecodePng,
    .decodeJpeg = libsDecodeJpeg,
    .encodePng = libsEncodePng,
    .encodeJpeg = libsEncodeJpeg,
};

}  // namespace

const ImageCodecBackend* Platform_DefaultImageCodec() { return &libsCodec; }
