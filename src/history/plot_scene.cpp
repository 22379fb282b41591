// SPDX-License-Identifier: Apache-2.0
// The history's picture laid out: saved values above, readings below, one colour per mode,
// verifications as diamonds, dates along the bottom, a legend at the right.
#include "history/plot_scene.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double MARKER = 5.0;  // radius of a reading's dot
constexpr HistoryColour WHITE{1, 1, 1};

HistoryColour grey(double level) { return {level, level, level}; }

struct Layout {
    HistoryPlotScene& scene;

    PlotMark& add(PlotMark::Kind kind) {
        scene.marks.emplace_back();
        scene.marks.back().kind = kind;
        return scene.marks.back();
    }
    void text(const std::string& s, double x, double y, double size, const HistoryColour& c,
              double align = 0, bool bold = false) {
        PlotMark& m = add(PlotMark::TEXT);
        m.points = {{x, y}};
        m.text = s;
        m.size = size;
        m.fillColour = c;
        m.align = align;
        m.bold = bold;
    }
    PlotMark& line(double x0, double y0, double x1, double y1, double width,
                   const HistoryColour& c) {
        PlotMark& m = add(PlotMark::PATH);
        m.points = {{x0, y0}, {x1, y1}};
        m.strokeWidth = width;
        m.strokeColour = c;
        return m;
    }
    void rect(double x, double y, double w, double h, const HistoryColour* fill,
              const HistoryColour* stroke, double width = 0) {
        PlotMark& m = add(PlotMark::PATH);
        m.points = {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
        m.closed = true;
        if (fill) m.fill = true, m.fillColour = *fill;
        if (stroke) m.strokeWidth = width, m.strokeColour = *stroke;
    }
    void dot(double x, double y, bool filled, const HistoryColour& c) {
        PlotMark& m = add(PlotMark::CIRCLE);
        m.points = {{x, y}};
        m.radius = MARKER;
        m.fill = true;
        m.fillColour = filled ? c : WHITE;
        if (!filled) m.strokeWidth = 2, m.strokeColour = c;
    }
    // Black edge when "00" lined up, red when it did not.
    void diamond(double x, double y, const HistoryColour& c, bool aligned) {
        const double r = MARKER + 3;
        PlotMark& m = add(PlotMark::PATH);
        m.points = {{x, y - r}, {x + r, y}, {x, y + r}, {x - r, y}};
        m.closed = true;
        m.fill = true;
        m.fillColour = c;
        m.strokeWidth = 1.5;
        m.strokeColour = aligned ? HistoryColour{0, 0, 0} : HistoryColour{0.9, 0, 0};
    }
    void square(double x, double y, const HistoryColour& c) {
        rect(x - MARKER + 1, y - MARKER + 1, 2 * MARKER - 2, 2 * MARKER - 2, &c, nullptr);
    }
};

std::string dateText(int64_t t, bool withYear) {
    std::string full = History_FormatTime(t);  // 2026-11-03T...
    return withYear ? full.substr(0, 10) : full.substr(5, 5);
}

void panelFrame(Layout& l, const HistoryPlotFrame& f, double top, double bottom, double lo,
                double hi, double step, bool reading, const std::string& label) {
    // Grid and values; the readings' zero (lined up) darker.
    for (double v = std::ceil(lo / step) * step; v <= hi + 1e-9; v += step) {
        const double yy = reading ? f.yReading(v) : f.ySaved(v);
        const bool zero = reading && std::fabs(v) < 1e-9;
        l.line(f.left, yy, f.right, yy, zero ? 1.2 : 1, grey(zero ? 0.45 : 0.88));
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", std::fabs(v) < 1e-9 ? 0.0 : v);
        l.text(buf, f.left - 8, yy + 4, 12, grey(0.2), 1);
    }
    const HistoryColour black = grey(0);
    l.rect(f.left, top, f.right - f.left, bottom - top, nullptr, &black, 1.2);
    // The panel's name, turned along its axis.
    l.text(label, 28, (top + bottom) / 2, 13, grey(0), 0.5, true);
    l.scene.marks.back().vertical = true;
}

}  // namespace

double History_AxisStep(double span, bool reading) {
    if (reading) return span > 12 ? 2 : 1;
    for (double step : {1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0, 200.0, 500.0, 1000.0})
        if (span / step <= 10) return step;
    return 1000;
}

int History_DateStepDays(double days) {
    for (int s : {1, 2, 7, 14, 28, 56, 91, 182, 364})
        if (days / s <= 10) return s;
    return 364;
}

HistoryPlotScene History_PlotScene(const std::vector<HistorySeries>& series,
                                   const std::vector<HistoryDrift>& drifts,
                                   const std::string& printer, bool chinese) {
    const HistoryPlotFrame f = History_PlotFrame(series);
    HistoryPlotScene scene;
    scene.width = f.width;
    scene.height = f.height;
    scene.chinese = chinese;
    Layout l{scene};

    // Title and what the history says.
    l.text((chinese ? "校准历史：" : "Calibration history: ") + printer, f.left, 30, 18, grey(0), 0,
           true);
    if (drifts.empty()) {
        l.text(chinese ? "没有漂移超过一组的模式" : "no mode has drifted by more than a group",
               f.left, 54, 13, grey(0.3));
    } else {
        std::string all;
        for (const HistoryDrift& d : drifts)
            all += (all.empty() ? "" : chinese ? "；" : "; ") + History_DriftText(d, chinese);
        l.text(all, f.left, 54, 13, {0.75, 0, 0});
    }

    // Panels.
    panelFrame(l, f, f.savedTop, f.savedBottom, f.savedMin, f.savedMax,
               History_AxisStep(f.savedMax - f.savedMin, false), false,
               chinese ? "保存值" : "saved value");
    panelFrame(l, f, f.readTop, f.readBottom, f.readMin, f.readMax,
               History_AxisStep(f.readMax - f.readMin, true), true,
               chinese ? "读数（组）" : "reading (groups)");

    // Dates: a tick a day, a week or a month, whichever leaves room for the labels.
    const int stepDays = History_DateStepDays(double(f.t1 - f.t0) / 86400);
    bool firstLabel = true;
    for (int64_t t = (f.t0 / 86400 + 1) * 86400; t <= f.t1; t += int64_t(stepDays) * 86400) {
        const double xx = f.x(t);
        l.line(xx, f.savedTop, xx, f.savedBottom, 1, grey(0.9));
        l.line(xx, f.readTop, xx, f.readBottom, 1, grey(0.9));
        l.line(xx, f.readBottom, xx, f.readBottom + 5, 1, grey(0));
        l.text(dateText(t, firstLabel), xx, f.readBottom + 20, 12, grey(0), 0.5);
        firstLabel = false;
    }
    l.text(chinese ? "日期（UTC）" : "date (UTC)", (f.left + f.right) / 2, f.height - 14, 13,
           grey(0), 0.5, true);

    // Saved values as steps, each SAVE a square; readings as dots; verifications as diamonds.
    PlotMark& clip = l.add(PlotMark::CLIP);
    clip.points = {{f.left, 0}, {f.right, double(f.height)}};
    for (const HistorySeries& s : series) {
        const HistoryColour c = History_ModeColour(s.mode, s.pass);
        if (!s.saved.empty()) {
            PlotMark& steps = l.add(PlotMark::PATH);
            steps.strokeWidth = 2.5;
            steps.strokeColour = c;
            steps.points.push_back({f.x(s.saved[0].time), f.ySaved(s.saved[0].value)});
            for (size_t i = 1; i < s.saved.size(); ++i) {
                steps.points.push_back({f.x(s.saved[i].time), f.ySaved(s.saved[i - 1].value)});
                steps.points.push_back({f.x(s.saved[i].time), f.ySaved(s.saved[i].value)});
            }
            // What the mode needed (the value in force plus the reading): the drift itself,
            // dashed, whether or not it was corrected.
            if (s.needed.size() >= 2) {
                PlotMark& needed = l.add(PlotMark::PATH);
                needed.strokeWidth = 1.5;
                needed.strokeColour = c;
                needed.dashed = true;
                for (const HistoryPoint& n : s.needed)
                    needed.points.push_back({f.x(n.time), f.ySaved(n.value)});
            }
            // The first and last points are the ends of the line, not saves.
            for (size_t i = 1; i + 1 < s.saved.size(); ++i)
                l.square(f.x(s.saved[i].time), f.ySaved(s.saved[i].value), c);
        }
        for (const HistoryPoint& r : s.readings)
            l.dot(f.x(r.time), f.yReading(r.value), r.certain, c);
        for (const HistoryPoint& v : s.verifications)
            l.diamond(f.x(v.time), f.yReading(v.value), c, v.aligned);
    }
    l.add(PlotMark::UNCLIP);

    // Legend: the modes, then what the marks mean.
    const double lx = f.right + 25;
    double ly = f.savedTop + 10;
    l.text(chinese ? "模式" : "modes", lx, ly, 14, grey(0), 0, true);
    ly += 24;
    for (const HistorySeries& s : series) {
        const HistoryColour c = History_ModeColour(s.mode, s.pass);
        l.rect(lx, ly - 11, 22, 12, &c, nullptr);
        l.text(History_ModeName(s.mode, s.pass, chinese), lx + 30, ly, 13, grey(0));
        ly += 22;
    }
    ly += 14;
    l.text(chinese ? "标记" : "marks", lx, ly, 14, grey(0), 0, true);
    ly += 24;
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
        if (row.mark == SAVE_MARK) l.square(mx, my, key);
        if (row.mark == CERTAIN_MARK || row.mark == UNCERTAIN_MARK)
            l.dot(mx, my, row.mark == CERTAIN_MARK, key);
        if (row.mark == ALIGNED_MARK || row.mark == MISSED_MARK)
            l.diamond(mx, my, key, row.mark == ALIGNED_MARK);
        if (row.mark == NEEDED_MARK) l.line(lx, my, lx + 22, my, 1.5, key).dashed = true;
        l.text(chinese ? row.zh : row.en, lx + 30, ly, 13, grey(0));
        ly += 22;
    }
    return scene;
}
