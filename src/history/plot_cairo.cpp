// SPDX-License-Identifier: Apache-2.0
// The history's picture drawn with cairo: saved values above, readings below, one colour per
// mode, verifications as diamonds, dates along the bottom, a legend at the right.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "history/analysis.h"

namespace {

constexpr double MARKER = 5.0;  // radius of a reading's dot

struct Painter {
    cairo_t* cr;
    bool chinese;

    void colour(const HistoryColour& c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }
    void grey(double level) { cairo_set_source_rgb(cr, level, level, level); }
    void font(double size, bool bold = false) {
        // The Chinese font has Latin letters too; one face for the whole picture.
        cairo_select_font_face(cr, chinese ? "AR PL UMing CN" : "DejaVu Sans",
                               CAIRO_FONT_SLANT_NORMAL,
                               bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, size);
    }
    // Text with its left (align 0), middle (0.5) or right (1) at x, its baseline at y.
    void text(const std::string& s, double x, double y, double align = 0) {
        cairo_text_extents_t e;
        cairo_text_extents(cr, s.c_str(), &e);
        cairo_move_to(cr, x - align * e.x_advance, y);
        cairo_show_text(cr, s.c_str());
    }
    void line(double x0, double y0, double x1, double y1, double width) {
        cairo_set_line_width(cr, width);
        cairo_move_to(cr, x0, y0);
        cairo_line_to(cr, x1, y1);
        cairo_stroke(cr);
    }
    void dot(double x, double y, bool filled, const HistoryColour& c) {
        cairo_new_path(cr);
        cairo_arc(cr, x, y, MARKER, 0, 2 * M_PI);
        colour(c);
        if (filled) {
            cairo_fill(cr);
        } else {
            cairo_set_source_rgb(cr, 1, 1, 1);
            cairo_fill_preserve(cr);
            colour(c);
            cairo_set_line_width(cr, 2);
            cairo_stroke(cr);
        }
    }
    void diamond(double x, double y, const HistoryColour& c, bool aligned) {
        const double r = MARKER + 3;
        cairo_new_path(cr);
        cairo_move_to(cr, x, y - r);
        cairo_line_to(cr, x + r, y);
        cairo_line_to(cr, x, y + r);
        cairo_line_to(cr, x - r, y);
        cairo_close_path(cr);
        colour(c);
        cairo_fill_preserve(cr);
        // Black edge when "00" lined up, red when it did not.
        if (aligned)
            cairo_set_source_rgb(cr, 0, 0, 0);
        else
            cairo_set_source_rgb(cr, 0.9, 0, 0);
        cairo_set_line_width(cr, 1.5);
        cairo_stroke(cr);
    }
    void square(double x, double y, const HistoryColour& c) {
        cairo_new_path(cr);
        cairo_rectangle(cr, x - MARKER + 1, y - MARKER + 1, 2 * MARKER - 2, 2 * MARKER - 2);
        colour(c);
        cairo_fill(cr);
    }
};

std::string dateText(int64_t t, bool withYear) {
    std::string full = History_FormatTime(t);  // 2026-11-03T...
    return withYear ? full.substr(0, 10) : full.substr(5, 5);
}

cairo_status_t toVector(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<std::vector<uint8_t>*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

void drawPanelFrame(Painter& p, const HistoryPlotFrame& f, double top, double bottom, double lo,
                    double hi, double step, double (HistoryPlotFrame::*y)(double) const,
                    const std::string& label) {
    // Grid and values.
    p.font(12);
    for (double v = std::ceil(lo / step) * step; v <= hi + 1e-9; v += step) {
        double yy = (f.*y)(v);
        p.grey(v == 0 && y == &HistoryPlotFrame::yReading ? 0.45 : 0.88);
        p.line(f.left, yy, f.right, yy, v == 0 && y == &HistoryPlotFrame::yReading ? 1.2 : 1);
        p.grey(0.2);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", std::fabs(v) < 1e-9 ? 0.0 : v);
        p.text(buf, f.left - 8, yy + 4, 1);
    }
    p.grey(0);
    cairo_set_line_width(p.cr, 1.2);
    cairo_rectangle(p.cr, f.left, top, f.right - f.left, bottom - top);
    cairo_stroke(p.cr);
    // The panel's name, turned along its axis.
    cairo_save(p.cr);
    p.font(13, true);
    cairo_text_extents_t e;
    cairo_text_extents(p.cr, label.c_str(), &e);
    cairo_move_to(p.cr, 28, (top + bottom) / 2 + e.x_advance / 2);
    cairo_rotate(p.cr, -M_PI / 2);
    cairo_show_text(p.cr, label.c_str());
    cairo_restore(p.cr);
}

}  // namespace

bool History_PlotPng(const std::vector<HistorySeries>& series,
                     const std::vector<HistoryDrift>& drifts, const std::string& printer,
                     bool chinese, std::vector<uint8_t>* png, std::string* error) {
    const HistoryPlotFrame f = History_PlotFrame(series);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, f.width, f.height);
    cairo_t* cr = cairo_create(surface);
    Painter p{cr, chinese};
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);

    // Title and what the history says.
    p.grey(0);
    p.font(18, true);
    p.text((chinese ? "校准历史：" : "Calibration history: ") + printer, f.left, 30);
    p.font(13);
    if (drifts.empty()) {
        p.grey(0.3);
        p.text(chinese ? "没有漂移超过一组的模式" : "no mode has drifted by more than a group",
               f.left, 54);
    } else {
        std::string all;
        for (const HistoryDrift& d : drifts)
            all += (all.empty() ? "" : chinese ? "；" : "; ") + History_DriftText(d, chinese);
        cairo_set_source_rgb(cr, 0.75, 0, 0);
        p.text(all, f.left, 54);
    }

    // Panels.
    const double savedSpan = f.savedMax - f.savedMin;
    double savedStep = 1;
    for (double step : {1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0, 200.0, 500.0, 1000.0})
        if (savedSpan / step <= 10) {
            savedStep = step;
            break;
        }
    drawPanelFrame(p, f, f.savedTop, f.savedBottom, f.savedMin, f.savedMax, savedStep,
                   &HistoryPlotFrame::ySaved, chinese ? "保存值" : "saved value");
    double readStep = f.readMax - f.readMin > 12 ? 2 : 1;
    drawPanelFrame(p, f, f.readTop, f.readBottom, f.readMin, f.readMax, readStep,
                   &HistoryPlotFrame::yReading, chinese ? "读数（组）" : "reading (groups)");

    // Dates: a tick a day, a week or a month, whichever leaves room for the labels.
    const double days = double(f.t1 - f.t0) / 86400;
    int stepDays = 1;
    for (int s : {1, 2, 7, 14, 28, 56, 91, 182, 364})
        if (days / s <= 10) {
            stepDays = s;
            break;
        }
    int64_t first = (f.t0 / 86400 + 1) * 86400;
    p.font(12);
    bool firstLabel = true;
    for (int64_t t = first; t <= f.t1; t += int64_t(stepDays) * 86400) {
        double xx = f.x(t);
        p.grey(0.9);
        p.line(xx, f.savedTop, xx, f.savedBottom, 1);
        p.line(xx, f.readTop, xx, f.readBottom, 1);
        p.grey(0);
        p.line(xx, f.readBottom, xx, f.readBottom + 5, 1);
        p.text(dateText(t, firstLabel), xx, f.readBottom + 20, 0.5);
        firstLabel = false;
    }
    p.font(13, true);
    p.text(chinese ? "日期（UTC）" : "date (UTC)", (f.left + f.right) / 2, f.height - 14, 0.5);

    // Saved values as steps, each SAVE a square; readings as dots; verifications as diamonds.
    cairo_save(cr);
    cairo_rectangle(cr, f.left, 0, f.right - f.left, f.height);
    cairo_clip(cr);
    for (const HistorySeries& s : series) {
        const HistoryColour c = History_ModeColour(s.mode, s.pass);
        if (s.saved.size() >= 1) {
            p.colour(c);
            cairo_set_line_width(cr, 2.5);
            cairo_move_to(cr, f.x(s.saved[0].time), f.ySaved(s.saved[0].value));
            for (size_t i = 1; i < s.saved.size(); ++i) {
                cairo_line_to(cr, f.x(s.saved[i].time), f.ySaved(s.saved[i - 1].value));
                cairo_line_to(cr, f.x(s.saved[i].time), f.ySaved(s.saved[i].value));
            }
            cairo_stroke(cr);
            // What the mode needed (the value in force plus the reading): the drift itself,
            // dashed, whether or not it was corrected.
            if (s.needed.size() >= 2) {
                const double dashes[] = {6, 4};
                cairo_set_dash(cr, dashes, 2, 0);
                cairo_set_line_width(cr, 1.5);
                cairo_move_to(cr, f.x(s.needed[0].time), f.ySaved(s.needed[0].value));
                for (size_t i = 1; i < s.needed.size(); ++i)
                    cairo_line_to(cr, f.x(s.needed[i].time), f.ySaved(s.needed[i].value));
                cairo_stroke(cr);
                cairo_set_dash(cr, nullptr, 0, 0);
            }
            // The first and last points are the ends of the line, not saves.
            for (size_t i = 1; i + 1 < s.saved.size(); ++i)
                p.square(f.x(s.saved[i].time), f.ySaved(s.saved[i].value), c);
        }
        for (const HistoryPoint& r : s.readings)
            p.dot(f.x(r.time), f.yReading(r.value), r.certain, c);
        for (const HistoryPoint& v : s.verifications)
            p.diamond(f.x(v.time), f.yReading(v.value), c, v.aligned);
    }
    cairo_restore(cr);

    // Legend: the modes, then what the marks mean.
    double lx = f.right + 25, ly = f.savedTop + 10;
    p.font(14, true);
    p.grey(0);
    p.text(chinese ? "模式" : "modes", lx, ly);
    ly += 24;
    p.font(13);
    for (const HistorySeries& s : series) {
        const HistoryColour c = History_ModeColour(s.mode, s.pass);
        p.colour(c);
        cairo_rectangle(cr, lx, ly - 11, 22, 12);
        cairo_fill(cr);
        p.grey(0);
        p.text(History_ModeName(s.mode, s.pass, chinese), lx + 30, ly);
        ly += 22;
    }
    ly += 14;
    p.font(14, true);
    p.text(chinese ? "标记" : "marks", lx, ly);
    ly += 24;
    p.font(13);
    const HistoryColour key{0.35, 0.35, 0.35};
    enum Mark { SAVE_MARK, NEEDED_MARK, CERTAIN_MARK, UNCERTAIN_MARK, ALIGNED_MARK, MISSED_MARK };
    struct LegendRow {
        Mark mark;
        const char *en, *zh;
    };
    const LegendRow MARKS[] = {
        {SAVE_MARK, "SAVE", "保存"},
        {NEEDED_MARK, "needed (saved + reading)", "所需值（保存值＋读数）"},
        {CERTAIN_MARK, "reading (certain)", "读数（确定）"},
        {UNCERTAIN_MARK, "reading (not certain)", "读数（不确定）"},
        {ALIGNED_MARK, "verification (00 lines up)", "校验（00 对齐）"},
        {MISSED_MARK, "verification (not aligned)", "校验（未对齐）"},
    };
    for (const LegendRow& row : MARKS) {
        const double mx = lx + 11, my = ly - 5;
        if (row.mark == SAVE_MARK) p.square(mx, my, key);
        if (row.mark == CERTAIN_MARK || row.mark == UNCERTAIN_MARK)
            p.dot(mx, my, row.mark == CERTAIN_MARK, key);
        if (row.mark == ALIGNED_MARK || row.mark == MISSED_MARK)
            p.diamond(mx, my, key, row.mark == ALIGNED_MARK);
        if (row.mark == NEEDED_MARK) {
            const double dashes[] = {6, 4};
            p.colour(key);
            cairo_set_dash(cr, dashes, 2, 0);
            p.line(lx, my, lx + 22, my, 1.5);
            cairo_set_dash(cr, nullptr, 0, 0);
        }
        p.grey(0);
        p.text(chinese ? row.zh : row.en, lx + 30, ly);
        ly += 22;
    }

    cairo_destroy(cr);
    cairo_surface_flush(surface);
    png->clear();
    cairo_status_t status = cairo_surface_write_to_png_stream(surface, toVector, png);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        *error = std::string("the picture could not be encoded: ") + cairo_status_to_string(status);
        return false;
    }
    return true;
}
