// SPDX-License-Identifier: Apache-2.0
// The history's picture painted with GDI+ (Windows) and encoded through the picture codec
// (the Windows Imaging Component). Letters in the console's own face in Chinese (宋体, which
// has Latin letters too), a sans serif face otherwise; anti-aliased, as cairo draws them.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gdiplus.h>
#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "history/plot_scene.h"
#include "platform/image_codec.h"

namespace {

namespace gp = Gdiplus;

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(size_t(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    return out;
}

gp::Color colour(const HistoryColour& c) {
    auto byte = [](double v) { return BYTE(std::clamp(v, 0.0, 1.0) * 255 + 0.5); };
    return gp::Color(255, byte(c.r), byte(c.g), byte(c.b));
}

// GDI+ started once for the process, on the first picture, and left running: its generic
// faces and formats are kept by the library for the process.
gp::Status startGdiplus() {
    static const gp::Status status = [] {
        ULONG_PTR token = 0;
        gp::GdiplusStartupInput input;
        return gp::GdiplusStartup(&token, &input, nullptr);
    }();
    return status;
}

// The first face of the list the system has. Latin text prefers the system's sans serif faces;
// the console's own face (which the Chinese needs, and which has Latin letters too) comes after
// them, so a system without any of them still draws every word; the generic one comes last.
std::unique_ptr<gp::FontFamily> family(bool chinese) {
    static const wchar_t* const FACES[] = {L"Tahoma",        L"Segoe UI",     L"Arial",
                                           L"DejaVu Sans",   L"\u5b8b\u4f53", L"SimSun",
                                           L"AR PL UMing CN"};
    const size_t firstChinese = 4;
    for (size_t i = chinese ? firstChinese : 0; i < std::size(FACES); ++i) {
        auto f = std::make_unique<gp::FontFamily>(FACES[i]);
        if (f->GetLastStatus() == gp::Ok && f->IsAvailable()) return f;
    }
    const gp::FontFamily* generic = gp::FontFamily::GenericSansSerif();
    return std::unique_ptr<gp::FontFamily>(generic ? generic->Clone() : new gp::FontFamily());
}

class Painter {
  public:
    Painter(gp::Graphics& g, const gp::FontFamily& face) : g_(g), face_(face) {
        // Typographic: no padding before the first letter, so align 0 starts at the mark.
        if (const gp::StringFormat* typographic = gp::StringFormat::GenericTypographic())
            format_.reset(typographic->Clone());
        if (!format_ || format_->GetLastStatus() != gp::Ok)
            format_ = std::make_unique<gp::StringFormat>(gp::StringFormatFlagsNoClip);
    }

    void text(const PlotMark& m) {
        // A face without a bold one (the Chinese) is drawn regular rather than not at all.
        int style = m.bold ? gp::FontStyleBold : gp::FontStyleRegular;
        auto font = std::make_unique<gp::Font>(&face_, gp::REAL(m.size), style, gp::UnitPixel);
        if (font->GetLastStatus() != gp::Ok) {
            style = gp::FontStyleRegular;
            font = std::make_unique<gp::Font>(&face_, gp::REAL(m.size), style, gp::UnitPixel);
        }
        const gp::Font* used = font.get();
        const std::wstring text = wide(m.text);
        gp::RectF box;
        g_.MeasureString(text.c_str(), INT(text.size()), used, gp::PointF(0, 0), format_.get(),
                         &box);
        // Baseline at the mark: the face's ascent above it.
        const double ascent = m.size * face_.GetCellAscent(style) / face_.GetEmHeight(style);
        gp::SolidBrush brush(colour(m.fillColour));
        gp::GraphicsState saved = g_.Save();
        g_.TranslateTransform(gp::REAL(m.points[0].x), gp::REAL(m.points[0].y));
        if (m.vertical) g_.RotateTransform(-90);
        g_.DrawString(text.c_str(), INT(text.size()), used,
                      gp::PointF(gp::REAL(-m.align * box.Width), gp::REAL(-ascent)), format_.get(),
                      &brush);
        g_.Restore(saved);
    }

    void shape(const PlotMark& m) {
        std::vector<gp::PointF> points;
        for (const PlotPoint& p : m.points) points.emplace_back(gp::REAL(p.x), gp::REAL(p.y));
        if (m.fill) {
            gp::SolidBrush brush(colour(m.fillColour));
            if (m.kind == PlotMark::CIRCLE)
                g_.FillEllipse(&brush, circle(m));
            else if (points.size() >= 3)
                g_.FillPolygon(&brush, points.data(), INT(points.size()));
        }
        if (m.strokeWidth > 0) {
            gp::Pen pen(colour(m.strokeColour), gp::REAL(m.strokeWidth));
            if (m.dashed) {
                // Dashes are counted in widths of the pen.
                const gp::REAL dashes[] = {gp::REAL(6 / m.strokeWidth),
                                           gp::REAL(4 / m.strokeWidth)};
                pen.SetDashPattern(dashes, 2);
            }
            if (m.kind == PlotMark::CIRCLE)
                g_.DrawEllipse(&pen, circle(m));
            else if (m.closed)
                g_.DrawPolygon(&pen, points.data(), INT(points.size()));
            else if (points.size() >= 2)
                g_.DrawLines(&pen, points.data(), INT(points.size()));
        }
    }

  private:
    static gp::RectF circle(const PlotMark& m) {
        return gp::RectF(gp::REAL(m.points[0].x - m.radius), gp::REAL(m.points[0].y - m.radius),
                         gp::REAL(2 * m.radius), gp::REAL(2 * m.radius));
    }

    gp::Graphics& g_;
    const gp::FontFamily& face_;
    std::unique_ptr<gp::StringFormat> format_;
};

bool paint(const HistoryPlotScene& scene, ImagePixels* out, std::string* error) {
    gp::Bitmap bitmap(scene.width, scene.height, PixelFormat32bppARGB);
    if (bitmap.GetLastStatus() != gp::Ok) {
        *error = "the picture could not be drawn: no room for its pixels";
        return false;
    }
    {
        gp::Graphics g(&bitmap);
        g.SetSmoothingMode(gp::SmoothingModeAntiAlias);
        g.SetPixelOffsetMode(gp::PixelOffsetModeHalf);  // pixels cover [i, i + 1], as in cairo
        g.SetTextRenderingHint(gp::TextRenderingHintAntiAlias);
        g.Clear(colour(scene.background));
        std::unique_ptr<gp::FontFamily> face = family(scene.chinese);
        Painter p(g, *face);
        for (const PlotMark& m : scene.marks) {
            switch (m.kind) {
                case PlotMark::TEXT:
                    p.text(m);
                    break;
                case PlotMark::CLIP:
                    g.SetClip(gp::RectF(gp::REAL(m.points[0].x), gp::REAL(m.points[0].y),
                                        gp::REAL(m.points[1].x - m.points[0].x),
                                        gp::REAL(m.points[1].y - m.points[0].y)));
                    break;
                case PlotMark::UNCLIP:
                    g.ResetClip();
                    break;
                case PlotMark::PATH:
                case PlotMark::CIRCLE:
                    p.shape(m);
                    break;
            }
        }
    }
    gp::Rect all(0, 0, scene.width, scene.height);
    gp::BitmapData data{};
    if (bitmap.LockBits(&all, gp::ImageLockModeRead, PixelFormat32bppARGB, &data) != gp::Ok) {
        *error = "the picture could not be drawn: its pixels could not be read";
        return false;
    }
    out->width = uint32_t(scene.width);
    out->height = uint32_t(scene.height);
    out->rgb.resize(size_t(scene.width) * scene.height * 3);
    for (int y = 0; y < scene.height; ++y) {
        const auto* row = static_cast<const uint8_t*>(data.Scan0) + ptrdiff_t(y) * data.Stride;
        uint8_t* to = &out->rgb[size_t(y) * scene.width * 3];
        for (int x = 0; x < scene.width; ++x, row += 4, to += 3) {
            to[0] = row[2];
            to[1] = row[1];
            to[2] = row[0];
        }
    }
    bitmap.UnlockBits(&data);
    return true;
}

}  // namespace

bool History_PlotPng(const std::vector<HistorySeries>& series,
                     const std::vector<HistoryDrift>& drifts, const std::string& printer,
                     bool chinese, std::vector<uint8_t>* png, std::string* error) {
    png->clear();
    if (startGdiplus() != gp::Ok) {
        *error = "the picture could not be drawn: GDI+ did not start";
        return false;
    }
    ImagePixels pixels;
    if (!paint(History_PlotScene(series, drifts, printer, chinese), &pixels, error)) return false;
    if (!ImageCodec_Backend()->encodePng(pixels, png)) {
        *error = "the picture could not be encoded";
        return false;
    }
    return true;
}
