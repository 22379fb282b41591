// SPDX-License-Identifier: Apache-2.0
// The history's picture as a list of marks in pixels: where every line, marker and text goes,
// decided once from the data (the frame's mapping, the ticks, the legend), and painted by
// whichever drawing library the build has (cairo on Linux, GDI+ on Windows). A painter adds
// nothing but the strokes, the fills and the letters.
#pragma once
#include <string>
#include <vector>

#include "history/analysis.h"

struct PlotPoint {
    double x = 0, y = 0;
};

struct PlotMark {
    enum Kind {
        PATH,    // points joined (closed: back to the first), filled and/or stroked
        CIRCLE,  // centre points[0], radius
        TEXT,    // text at points[0]: its baseline there, its left, middle or right by align
        CLIP,    // what follows is drawn inside the rectangle points[0] .. points[1]
        UNCLIP,  // the clip of the last CLIP ends
    } kind = PATH;
    std::vector<PlotPoint> points;
    bool closed = false;
    double radius = 0;
    bool fill = false;
    HistoryColour fillColour{0, 0, 0};
    double strokeWidth = 0;  // 0: not stroked
    HistoryColour strokeColour{0, 0, 0};
    bool dashed = false;  // 6 pixels drawn, 4 left, whatever the width
    // TEXT: the colour is fillColour; size is the em in pixels; vertical reads upwards, its
    // baseline running up from points[0].
    std::string text;
    double size = 12, align = 0;
    bool bold = false, vertical = false;
};

struct HistoryPlotScene {
    int width = 0, height = 0;
    bool chinese = false;  // the painter's face: one with Chinese letters (and Latin ones)
    HistoryColour background{1, 1, 1};
    std::vector<PlotMark> marks;
};

// The whole picture, marks in painting order.
HistoryPlotScene History_PlotScene(const std::vector<HistorySeries>& series,
                                   const std::vector<HistoryDrift>& drifts,
                                   const std::string& printer, bool chinese);

// The step between values on a panel's axis, so that the span has at most 10 of them.
double History_AxisStep(double span, bool reading);
// Days between date ticks, so that the days have at most 10 of them.
int History_DateStepDays(double days);
