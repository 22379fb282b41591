// SPDX-License-Identifier: Apache-2.0
// Picture codec on the Windows Imaging Component: PNG and JPEG decoded to RGB (reduced by
// WIC's area-averaging scaler when over the decoding budget, turned upright from the EXIF
// orientation) and encoded from RGB. The picture's size is checked from the file's own header
// before WIC sees the data, so nothing over the limits is ever allocated.
#include <windows.h>

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/bytes.h"
#include "platform/image_codec.h"

namespace {

// One COM reference, released when it goes.
template <class T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
};

// COM on the calling thread for one call. A thread already in a single-threaded apartment
// (the dialog's) answers RPC_E_CHANGED_MODE: COM is usable there and not ours to end.
struct ComScope {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ~ComScope() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

bool makeFactory(IWICImagingFactory** out) {
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(out)));
}

// Width and height from the header: PNG's IHDR, a JPEG's first frame marker. false when
// the header is not there whole (the decoder then says what is wrong).
bool headerSize(const uint8_t* d, size_t size, bool jpeg, uint32_t* w, uint32_t* h) {
    if (!jpeg) {
        if (size < 24 || std::memcmp(d + 12, "IHDR", 4) != 0) return false;
        *w = be::getU32(d, 16);
        *h = be::getU32(d, 20);
        return true;
    }
    bool found = false;
    Image_FindJpegSegment(d, size, [&](const JpegSegment& s) {
        uint8_t m = s.marker;
        if (m < 0xC0 || m > 0xCF || m == 0xC4 || m == 0xC8 || m == 0xCC) return false;
        // The first frame marker decides, whole or not.
        if (s.size >= 6) {
            *h = be::getU16(s.body, 1);
            *w = be::getU16(s.body, 3);
            found = true;
        }
        return true;
    });
    return found;
}

bool wicDecode(const uint8_t* data, size_t size, const ImageLimits& limits, ImagePixels* out,
               std::string* error, bool jpeg) {
    *out = ImagePixels{};
    const std::string kind = jpeg ? "JPEG" : "PNG";
    const DecodeDeadline deadline(limits.budget);
    if (!Image_WithinBudget(data, size, limits, error)) return false;
    uint32_t w = 0, h = 0;
    if (!headerSize(data, size, jpeg, &w, &h)) {
        *error = (jpeg ? "corrupt JPEG: " : "corrupt PNG: ") + std::string("no picture header");
        return false;
    }
    if (!Image_Admitted(w, h, limits, error)) return false;
    if (size > 0xFFFFFFFFu) {
        *error = kind + ": the file is too large";
        return false;
    }
    ComScope com;
    Ref<IWICImagingFactory> factory;
    if (!makeFactory(&factory.p)) {
        *error = kind + ": the Windows Imaging Component is not available";
        return false;
    }
    Ref<IWICStream> stream;
    Ref<IWICBitmapDecoder> decoder;
    Ref<IWICBitmapFrameDecode> frame;
    HRESULT hr = factory->CreateStream(&stream.p);
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size));
    if (SUCCEEDED(hr))
        hr = factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand,
                                              &decoder.p);
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame.p);
    UINT fw = 0, fh = 0;
    if (SUCCEEDED(hr)) hr = frame->GetSize(&fw, &fh);
    if (FAILED(hr)) {
        *error = "corrupt " + kind + ": Windows cannot decode it (error " + hex(hr) + ")";
        return false;
    }
    if (fw != w || fh != h) {
        *error = "corrupt " + kind + ": the picture is not the size its header says";
        return false;
    }
    uint32_t f = Image_ReductionFor(w, h, limits);
    uint32_t ow = (w + f - 1) / f, oh = (h + f - 1) / f;
    IWICBitmapSource* source = frame.p;
    Ref<IWICBitmapScaler> scaler;
    if (f > 1) {
        hr = factory->CreateBitmapScaler(&scaler.p);
        if (SUCCEEDED(hr)) hr = scaler->Initialize(frame.p, ow, oh, WICBitmapInterpolationModeFant);
        source = scaler.p;
    }
    Ref<IWICFormatConverter> converter;
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter.p);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(source, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                   nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) {
        *error = kind + ": its pixel format cannot be turned into RGB (error " + hex(hr) + ")";
        return false;
    }
    try {
        out->rgb.assign(size_t(ow) * oh * 3, 0);
    } catch (const std::bad_alloc&) {
        *error = kind + ": out of memory for the picture";
        return false;
    }
    out->width = ow;
    out->height = oh;
    // In bands, so a failure names where the data ended.
    const UINT stride = ow * 3;
    const uint32_t BAND = 256;
    for (uint32_t y = 0; y < oh && SUCCEEDED(hr); y += BAND) {
        if (deadline.expired()) {
            *out = ImagePixels{};
            *error = kind + ": " + deadline.message();
            return false;
        }
        WICRect rect{0, static_cast<INT>(y), static_cast<INT>(ow),
                     static_cast<INT>(std::min(BAND, oh - y))};
        hr = converter->CopyPixels(&rect, stride, stride * rect.Height,
                                   out->rgb.data() + size_t(y) * stride);
    }
    if (FAILED(hr)) {
        *out = ImagePixels{};
        *error = "corrupt " + kind + ": image data cannot be decoded (error " + hex(hr) + ")";
        return false;
    }
    for (size_t i = 0; i + 2 < out->rgb.size(); i += 3) std::swap(out->rgb[i], out->rgb[i + 2]);
    // The file's own resolution: WIC says 96 dpi of a file that says nothing.
    out->dpi = Image_HeaderDpi(data, size) / f;
    out->aspect = Image_HeaderAspect(data, size);
    if (jpeg) {
        try {
            Image_ApplyOrientation(out, Image_ExifOrientation(data, size));
        } catch (const std::bad_alloc&) {
            *out = ImagePixels{};
            *error = "JPEG: out of memory for turning the picture upright";
            return false;
        }
    }
    return true;
}

bool wicDecodePng(const uint8_t* data, size_t size, const ImageLimits& limits, ImagePixels* out,
                  std::string* error) {
    return wicDecode(data, size, limits, out, error, false);
}
bool wicDecodeJpeg(const uint8_t* data, size_t size, const ImageLimits& limits, ImagePixels* out,
                   std::string* error) {
    return wicDecode(data, size, limits, out, error, true);
}

// quality < 0: PNG; 1..100: JPEG at that quality.
bool wicEncode(const ImagePixels& image, int quality, std::vector<uint8_t>* out) {
    out->clear();
    if (image.width == 0 || image.height == 0 ||
        image.rgb.size() < size_t(image.width) * image.height * 3)
        return false;
    ComScope com;
    Ref<IWICImagingFactory> factory;
    if (!makeFactory(&factory.p)) return false;
    Ref<IStream> memory;
    Ref<IWICBitmapEncoder> encoder;
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IPropertyBag2> options;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &memory.p);
    if (SUCCEEDED(hr))
        hr = factory->CreateEncoder(
            quality < 0 ? GUID_ContainerFormatPng : GUID_ContainerFormatJpeg, nullptr, &encoder.p);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(memory.p, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame.p, &options.p);
    if (SUCCEEDED(hr) && quality >= 0 && options.p) {
        PROPBAG2 option{};
        option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
        VARIANT value{};
        value.vt = VT_R4;
        value.fltVal = std::clamp(quality, 1, 100) / 100.0f;
        options->Write(1, &option, &value);  // an encoder without the option keeps its default
    }
    if (SUCCEEDED(hr)) hr = frame->Initialize(options.p);
    if (SUCCEEDED(hr)) hr = frame->SetSize(image.width, image.height);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) hr = E_FAIL;
    if (SUCCEEDED(hr) && image.dpi > 0) frame->SetResolution(image.dpi, image.dpi);
    try {
        const UINT stride = image.width * 3;
        std::vector<uint8_t> row(stride);
        for (uint32_t y = 0; y < image.height && SUCCEEDED(hr); ++y) {
            const uint8_t* src = image.rgb.data() + size_t(y) * stride;
            for (size_t i = 0; i < stride; i += 3) {
                row[i] = src[i + 2];
                row[i + 1] = src[i + 1];
                row[i + 2] = src[i];
            }
            hr = frame->WritePixels(1, stride, stride, row.data());
        }
        if (SUCCEEDED(hr)) hr = frame->Commit();
        if (SUCCEEDED(hr)) hr = encoder->Commit();
        HGLOBAL global = nullptr;
        STATSTG stat{};
        if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(memory.p, &global);
        if (SUCCEEDED(hr)) hr = memory->Stat(&stat, STATFLAG_NONAME);
        if (FAILED(hr)) return false;
        const void* bytes = GlobalLock(global);
        if (!bytes) return false;
        const auto* begin = static_cast<const uint8_t*>(bytes);
        out->assign(begin, begin + stat.cbSize.QuadPart);
        GlobalUnlock(global);
    } catch (const std::bad_alloc&) {
        out->clear();
        return false;
    }
    return true;
}

bool wicEncodePng(const ImagePixels& image, std::vector<uint8_t>* out) {
    return wicEncode(image, -1, out);
}
bool wicEncodeJpeg(const ImagePixels& image, int quality, std::vector<uint8_t>* out) {
    return wicEncode(image, std::clamp(quality, 1, 100), out);
}

const ImageCodecBackend wicCodec{
    .decodePng = wicDecodePng,
    .decodeJpeg = wicDecodeJpeg,
    .encodePng = wicEncodePng,
    .encodeJpeg = wicEncodeJpeg,
};

}  // namespace

const ImageCodecBackend* Platform_DefaultImageCodec() { return &wicCodec; }
