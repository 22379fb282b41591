// Loading scans (PNG through libpng, JPEG through libjpeg) and writing PNG and JPEG pictures.
#include <png.h>
#include <setjmp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
#include <jerror.h>

#include "vernier/vernier.h"

namespace {

constexpr uint32_t MAX_SIDE = 30000;

bool tooLarge(uint32_t w, uint32_t h, std::string* error) {
    if (w == 0 || h == 0 || w > MAX_SIDE || h > MAX_SIDE) {
        *error = "picture size " + std::to_string(w) + " x " + std::to_string(h) + " not supported";
        return true;
    }
    return false;
}

struct PngSource {
    const uint8_t* data;
    size_t size, pos;
};

void pngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* s = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > s->size - s->pos) png_error(png, "truncated file");
    std::memcpy(out, s->data + s->pos, length);
    s->pos += length;
}

void pngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    if (error) *error = std::string("PNG: ") + message;
    png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

// libjpeg reports errors by calling error_exit; jump back instead of exiting the process.
struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool truncated;
};
void jpegErrorExit(j_common_ptr info) {
    auto* e = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, e->message);
    longjmp(e->jump, 1);
}
// Warnings are ignored, except the one for a file that ends early: libjpeg would fill the
// rest of the picture with grey, and a half picture must not be read as a whole one.
void jpegWarning(j_common_ptr info, int level) {
    auto* e = reinterpret_cast<JpegError*>(info->err);
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) e->truncated = true;
}

}  // namespace

namespace {
// Everything the PNG decoder touches lives here, so nothing sits in a register across the
// jump libpng takes on an error.
struct PngJob {
    PngSource source;
    VernierImage* out;
    std::string message;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<png_bytep> rows;
};

bool decodePng(PngJob* job) {
    if (setjmp(png_jmpbuf(job->png))) return false;
    png_set_read_fn(job->png, &job->source, pngRead);
    png_read_info(job->png, job->info);
    uint32_t w = png_get_image_width(job->png, job->info), h = png_get_image_height(job->png, job->info);
    if (tooLarge(w, h, &job->message)) return false;
    png_set_expand(job->png);
    png_set_strip_16(job->png);
    png_set_strip_alpha(job->png);
    png_set_gray_to_rgb(job->png);
    png_set_interlace_handling(job->png);
    png_read_update_info(job->png, job->info);
    if (png_get_rowbytes(job->png, job->info) != size_t(w) * 3) png_error(job->png, "unexpected pixel layout");
    job->out->width = w;
    job->out->height = h;
    job->out->rgb.assign(size_t(w) * h * 3, 0);
    job->rows.resize(h);
    for (uint32_t y = 0; y < h; ++y) job->rows[y] = job->out->rgb.data() + size_t(y) * w * 3;
    png_read_image(job->png, job->rows.data());
    png_uint_32 xppu = 0, yppu = 0;
    int unit = 0;
    job->out->dpi = 0;
    if (png_get_pHYs(job->png, job->info, &xppu, &yppu, &unit) && unit == PNG_RESOLUTION_METER && xppu > 0)
        job->out->dpi = xppu * 0.0254;
    return true;
}
}  // namespace

bool Vernier_DecodePng(const uint8_t* data, size_t size, VernierImage* out, std::string* error) {
    PngJob job{PngSource{data, size, 0}, out, {}, nullptr, nullptr, {}};
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job.message, pngError, pngWarning);
    job.info = job.png ? png_create_info_struct(job.png) : nullptr;
    bool ok = job.png && job.info && decodePng(&job);
    if (!job.png || !job.info) job.message = "PNG: out of memory";
    png_destroy_read_struct(&job.png, &job.info, nullptr);
    if (!ok && error) *error = job.message;
    return ok;
}

bool Vernier_DecodeJpeg(const uint8_t* data, size_t size, VernierImage* out, std::string* error) {
    jpeg_decompress_struct info;
    JpegError e;
    info.err = jpeg_std_error(&e.mgr);
    e.mgr.error_exit = jpegErrorExit;
    e.mgr.emit_message = jpegWarning;
    e.truncated = false;
    if (setjmp(e.jump)) {
        if (error) *error = std::string("JPEG: ") + e.message;
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    std::string sizeError;
    if (tooLarge(info.image_width, info.image_height, &sizeError)) {
        if (error) *error = sizeError;
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    out->width = info.output_width;
    out->height = info.output_height;
    out->rgb.assign(size_t(out->width) * out->height * 3, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out->rgb.data() + size_t(info.output_scanline) * out->width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    out->dpi = 0;
    if (info.density_unit == 1 && info.X_density > 1) out->dpi = info.X_density;
    if (info.density_unit == 2 && info.X_density > 1) out->dpi = info.X_density * 2.54;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (e.truncated) {
        if (error) *error = "JPEG: the file ends before the picture does";
        return false;
    }
    return true;
}

bool Vernier_DecodeImage(const uint8_t* data, size_t size, VernierImage* out, std::string* error, const std::string& name) {
    static const uint8_t PNG_MAGIC[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size >= 8 && std::memcmp(data, PNG_MAGIC, 8) == 0) return Vernier_DecodePng(data, size, out, error);
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return Vernier_DecodeJpeg(data, size, out, error);
    if (error) *error = name + " is neither a PNG nor a JPEG file";
    return false;
}

bool Vernier_LoadImage(const std::string& path, VernierImage* out, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error) *error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return Vernier_DecodeImage(bytes.data(), bytes.size(), out, error, path);
}

bool Vernier_SavePng(const std::string& path, const VernierImage& image) {
    if (image.width == 0 || image.height == 0 || image.rgb.size() < size_t(image.width) * image.height * 3)
        return false;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
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
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

bool Vernier_EncodeJpeg(const VernierImage& image, int quality, std::vector<uint8_t>* out) {
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
        JSAMPROW row = const_cast<JSAMPROW>(image.rgb.data() + size_t(info.next_scanline) * image.width * 3);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    out->assign(buffer, buffer + length);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return true;
}
