// SPDX-License-Identifier: Apache-2.0
// Series, drift and the picture's frame, from the entries alone.
#include "history/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace {

// A back-step smaller than this (groups) does not break a run: a reading is known to a
// fraction of a group.
constexpr double DRIFT_NOISE = 0.25;

bool bidirectional(int mode) { return mode >= 5 && mode <= 10; }
int passOf(int mode, int pass) { return mode == 10 ? 1 : pass; }

// The first day of the month "2026-11", in seconds.
int64_t monthMiddle(const std::string& month) {
    int64_t t = 0;
    if (!History_ParseTime(month + "-15", &t)) return 0;
    return t;
}

double niceStep(double span, int ticks) {
    double raw = span / std::max(1, ticks);
    double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * p) return m * p;
    return 10 * p;
}

}  // namespace

std::vector<HistorySeries> History_Series(const std::vector<HistoryEntry>& sortedEntries) {
    std::vector<HistoryEntry> entries = sortedEntries;
    std::stable_sort(entries.begin(), entries.end(),
                     [](const HistoryEntry& a, const HistoryEntry& b) { return a.time < b.time; });
    std::map<std::pair<int, int>, HistorySeries> by;
    auto series = [&](int mode, int pass) -> HistorySeries& {
        HistorySeries& s = by[{mode, passOf(mode, pass)}];
        s.mode = mode;
        s.pass = passOf(mode, pass);
        return s;
    };
    // The value in force for each mode as the entries go by: known from a save's new value,
    // or, before the first save, from that save's old value.
    std::map<std::pair<int, int>, long> inForce;
    for (const HistoryEntry& e : entries) {
        if (e.kind == HISTORY_SAVE)
            for (const HistoryChange& c : e.changes)
                if (bidirectional(c.mode) && !inForce.count({c.mode, passOf(c.mode, c.pass)}))
                    inForce[{c.mode, passOf(c.mode, c.pass)}] = c.before;
        if (e.kind == HISTORY_SUMMARY)
            for (const HistoryModeSummary& m : e.modes)
                if (bidirectional(m.mode) && m.hasValue &&
                    !inForce.count({m.mode, passOf(m.mode, m.pass)}))
                    inForce[{m.mode, passOf(m.mode, m.pass)}] = m.lastValue;
    }
    // The first value of each mode starts its saved line.
    std::map<std::pair<int, int>, bool> started;
    for (const HistoryEntry& e : entries) {
        if (e.kind == HISTORY_SAVE) {
            for (const HistoryChange& c : e.changes) {
                if (!bidirectional(c.mode)) continue;
                HistorySeries& s = series(c.mode, c.pass);
                if (s.saved.empty()) s.saved.push_back({entries.front().time, double(c.before)});
                s.saved.push_back({e.time, double(c.after)});
                inForce[{s.mode, s.pass}] = c.after;
            }
        } else if (e.kind == HISTORY_READING || e.kind == HISTORY_VERIFICATION) {
            if (!bidirectional(e.mode)) continue;
            HistorySeries& s = series(e.mode, e.pass);
            HistoryPoint p{e.time, e.reading, e.certain, e.aligned};
            (e.kind == HISTORY_READING ? s.readings : s.verifications).push_back(p);
            auto known = inForce.find({s.mode, s.pass});
            if (known != inForce.end())
                s.needed.push_back({e.time, double(known->second) + e.reading, e.certain, true});
        } else {
            int64_t t = monthMiddle(e.month);
            for (const HistoryModeSummary& m : e.modes) {
                if (!bidirectional(m.mode)) continue;
                HistorySeries& s = series(m.mode, m.pass);
                if (m.hasValue) {
                    s.saved.push_back({t, double(m.lastValue)});
                    inForce[{s.mode, s.pass}] = m.lastValue;
                }
                if (m.readings > 0) {
                    s.readings.push_back({t, m.mean, true, true});
                    auto known = inForce.find({s.mode, s.pass});
                    if (known != inForce.end())
                        s.needed.push_back({t, double(known->second) + m.mean, true, true});
                }
            }
        }
    }
    // A mode read but never saved: its value stays unknown, the readings stand alone.
    std::vector<HistorySeries> out;
    for (auto& [key, s] : by) {
        (void)key;
        if (!s.saved.empty() && !entries.empty())
            s.saved.push_back({entries.back().time, s.saved.back().value});
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<HistoryDrift> History_Drifts(const std::vector<HistorySeries>& all) {
    std::vector<HistoryDrift> out;
    for (const HistorySeries& s : all) {
        // Readings stand on their own when the value in force is not known.
        const std::vector<HistoryPoint>& n = s.needed.size() >= 2 ? s.needed : s.readings;
        if (n.size() < 2) continue;
        const size_t last = n.size() - 1;
        size_t start = last;
        // The longest run ending at the last reading that moves one way (small back-steps
        // allowed).
        for (size_t j = last; j-- > 0;) {
            double total = n[last].value - n[j].value;
            if (std::fabs(total) < 1e-9) continue;
            bool oneWay = true;
            for (size_t k = j; k < last && oneWay; ++k) {
                double step = n[k + 1].value - n[k].value;
                if (step * total < 0 && std::fabs(step) > DRIFT_NOISE) oneWay = false;
            }
            if (!oneWay) break;
            start = j;
        }
        if (start == last) continue;
        double groups = n[last].value - n[start].value;
        if (std::fabs(groups) <= 1.0) continue;
        HistoryDrift d;
        d.mode = s.mode;
        d.pass = s.pass;
        d.groups = groups;
        d.from = n[start].time;
        d.to = n[last].time;
        d.days = int(std::lround(double(d.to - d.from) / 86400.0));
        out.push_back(d);
    }
    return out;
}

std::string History_DriftText(const HistoryDrift& d, bool chinese) {
    char amount[32];
    double rounded = std::round(d.groups);
    if (std::fabs(d.groups - rounded) < 0.05)
        std::snprintf(amount, sizeof amount, "%+.0f", rounded);
    else
        std::snprintf(amount, sizeof amount, "%+.1f", d.groups);
    const bool one = std::fabs(d.groups) < 1.05;
    char text[200];
    if (chinese)
        std::snprintf(text, sizeof text, "模式 %d%s 在 %d 天内漂移了 %s 组", d.mode,
                      d.pass == 2 ? "（高清二次）" : "", d.days, amount);
    else
        std::snprintf(text, sizeof text, "mode %d%s has drifted %s group%s in %d day%s", d.mode,
                      d.pass == 2 ? " (second pass)" : "", amount, one ? "" : "s", d.days,
                      d.days == 1 ? "" : "s");
    return text;
}

std::string History_ModeName(int mode, int pass, bool chinese) {
    static const char* const EN[] = {"text high",      "text mid",  "text low",
                                     "image high/mid", "image low", "photo"};
    static const char* const ZH[] = {"文字高速",    "文字中速", "文字低速",
                                     "图像高/中速", "图像低速", "照片模式"};
    if (mode < 5 || mode > 10) return std::to_string(mode);
    std::string name = std::to_string(mode) + " " + (chinese ? ZH : EN)[mode - 5];
    if (pass == 2 && mode != 10) name += chinese ? " 高清二次" : " 2nd pass";
    return name;
}

HistoryColour History_ModeColour(int mode, int pass) {
    // Well apart in hue and lightness; the second pass darker.
    static const HistoryColour BASE[] = {
        {0.85, 0.10, 0.10},  // 5 red
        {0.00, 0.45, 0.85},  // 6 blue
        {0.10, 0.65, 0.10},  // 7 green
        {0.90, 0.55, 0.00},  // 8 orange
        {0.55, 0.20, 0.75},  // 9 purple
        {0.00, 0.65, 0.65},  // 10 teal
    };
    HistoryColour c = mode >= 5 && mode <= 10 ? BASE[mode - 5] : HistoryColour{0.3, 0.3, 0.3};
    if (pass == 2) c = {c.r * 0.55, c.g * 0.55, c.b * 0.55};
    return c;
}

double HistoryPlotFrame::x(int64_t t) const {
    return left + (right - left) * double(t - t0) / double(std::max<int64_t>(1, t1 - t0));
}
double HistoryPlotFrame::ySaved(double v) const {
    return savedBottom - (savedBottom - savedTop) * (v - savedMin) / (savedMax - savedMin);
}
double HistoryPlotFrame::yReading(double g) const {
    return readBottom - (readBottom - readTop) * (g - readMin) / (readMax - readMin);
}

HistoryPlotFrame History_PlotFrame(const std::vector<HistorySeries>& series, int width,
                                   int height) {
    HistoryPlotFrame f;
    f.width = width;
    f.height = height;
    f.left = 90;
    f.right = width - 230;  // the legend to the right
    f.savedTop = 70;
    const double panels = height - 70 - 60;  // below the title, above the dates
    f.savedBottom = f.savedTop + panels * 0.42;
    f.readTop = f.savedBottom + 40;
    f.readBottom = height - 60;
    bool any = false, anySaved = false, anyRead = false;
    int64_t lo = 0, hi = 0;
    double sLo = 0, sHi = 0, rLo = 0, rHi = 0;
    auto time = [&](int64_t t) {
        if (!any) lo = hi = t;
        lo = std::min(lo, t), hi = std::max(hi, t);
        any = true;
    };
    for (const HistorySeries& s : series) {
        for (const HistoryPoint& p : s.saved) time(p.time);
        for (const auto* list : {&s.saved, &s.needed})
            for (const HistoryPoint& p : *list) {
                if (!anySaved) sLo = sHi = p.value;
                sLo = std::min(sLo, p.value), sHi = std::max(sHi, p.value);
                anySaved = true;
            }
        for (const auto* list : {&s.readings, &s.verifications})
            for (const HistoryPoint& p : *list) {
                time(p.time);
                if (!anyRead) rLo = rHi = p.value;
                rLo = std::min(rLo, p.value), rHi = std::max(rHi, p.value);
                anyRead = true;
            }
    }
    // A day either side, at least a week in all, so that the first and last points stand clear
    // of the axes.
    if (!any) lo = hi = 0;
    if (hi - lo < 7 * 86400) hi = lo + 7 * 86400;
    const int64_t pad = std::max<int64_t>(86400 / 2, (hi - lo) / 30);
    f.t0 = lo - pad;
    f.t1 = hi + pad;
    // Whole numbers with a margin; readings always show "00" and one group either side.
    double sStep = niceStep(std::max(2.0, sHi - sLo), 5);
    f.savedMin = std::floor((sLo - 0.5) / sStep) * sStep;
    f.savedMax = std::ceil((sHi + 0.5) / sStep) * sStep;
    if (!anySaved) f.savedMin = 0, f.savedMax = 10;
    f.readMin = std::floor(std::min(-1.0, rLo - 0.5));
    f.readMax = std::ceil(std::max(1.0, rHi + 0.5));
    return f;
}

std::string History_EntryValue(const HistoryEntry& e) {
    char text[200];
    switch (e.kind) {
        case HISTORY_READING:
        case HISTORY_VERIFICATION:
            if (e.mode >= 11)
                std::snprintf(text, sizeof text, "%.2f mm", e.reading);
            else
                std::snprintf(text, sizeof text, "%+.2f +/- %.2f%s%s", e.reading, e.spread,
                              e.certain ? "" : " ?",
                              e.kind == HISTORY_VERIFICATION ? (e.aligned ? " ok" : " !") : "");
            return text;
        case HISTORY_SAVE: {
            std::string changes;
            for (const HistoryChange& c : e.changes)
                changes += (changes.empty() ? "" : ", ") + c.field + " " +
                           std::to_string(c.before) + " -> " + std::to_string(c.after);
            return changes;
        }
        default:
            std::snprintf(text, sizeof text, "%d / %d / %d", e.readings, e.saves, e.verifications);
            return text;
    }
}

HistoryRow History_EntryRow(const HistoryEntry& e, bool chinese) {
    static const char* const KINDS_EN[] = {"reading", "save", "verification", "summary"};
    static const char* const KINDS_ZH[] = {"读数", "保存", "校验", "月汇总"};
    HistoryRow row;
    std::string when =
        e.kind == HISTORY_SUMMARY ? e.month : History_FormatTime(e.time).substr(0, 16);
    if (when.size() > 10) when[10] = ' ';
    row.columns[0] = when;
    row.columns[1] = e.kind <= HISTORY_SUMMARY ? (chinese ? KINDS_ZH : KINDS_EN)[e.kind] : "";
    if (e.mode) row.columns[2] = History_ModeName(e.mode, e.pass, chinese);
    row.columns[3] = History_EntryValue(e);
    row.columns[4] = e.source;
    return row;
}

HistoryRow History_ColumnTitles(bool chinese) {
    if (chinese) return {{"时间（UTC）", "类别", "模式", "数值", "来源"}};
    return {{"time (UTC)", "kind", "mode", "value", "from"}};
}
