// SPDX-License-Identifier: Apache-2.0
// What a history says: each bidirectional mode's saved values and readings over time, where
// its head has drifted, and the frame the picture of it is drawn in.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "history/history.h"

struct HistoryPoint {
    int64_t time = 0;
    double value = 0;
    bool certain = true;  // readings: drawn filled when certain, hollow when not
    bool aligned = true;  // verifications: "00" lined up
};

// One bidirectional mode and pass (5..10, 1 or 2) over the history.
struct HistorySeries {
    int mode = 0, pass = 1;
    std::vector<HistoryPoint> saved;  // the value in force after each SAVE (and before the first)
    std::vector<HistoryPoint> readings;       // groups, as read
    std::vector<HistoryPoint> verifications;  // groups, as read by a verification
    std::vector<HistoryPoint> needed;         // the value the mode needed: value in force + reading
};

// The series of every bidirectional mode and pass the entries mention, in mode order.
// Summaries give one point each (their month's mean reading and last saved value).
std::vector<HistorySeries> History_Series(const std::vector<HistoryEntry>& entries);

// A mode whose needed value moved one way by more than a group over its last readings.
struct HistoryDrift {
    int mode = 0, pass = 1;
    double groups = 0;  // signed
    int days = 0;
    int64_t from = 0, to = 0;
};
std::vector<HistoryDrift> History_Drifts(const std::vector<HistorySeries>& series);
// "mode 6 has drifted +2 groups in 30 days" (or its Chinese).
std::string History_DriftText(const HistoryDrift& drift, bool chinese);

// An entry's value in a few words: a reading "+1.50 +/- 0.08" (" ?" when not certain, " ok"
// or " !" after a verification), a SAVE's changes "bidirTextMid 10 -> 12", a summary's counts.
std::string History_EntryValue(const HistoryEntry& entry);

// An entry as a row of the consoles' history lists: time (UTC, "2026-11-03 08:30", or the month
// of a summary), kind, mode (empty when none), value (History_EntryValue) and where it came from.
constexpr int HISTORY_COLUMNS = 5;
struct HistoryRow {
    std::string columns[HISTORY_COLUMNS];
};
HistoryRow History_EntryRow(const HistoryEntry& entry, bool chinese);
// The lists' column titles.
HistoryRow History_ColumnTitles(bool chinese);

// The mode's name as the console's row shows it.
std::string History_ModeName(int mode, int pass, bool chinese);

struct HistoryColour {
    double r, g, b;  // 0..1
};
// The colour of a mode and pass in the picture (each one its own).
HistoryColour History_ModeColour(int mode, int pass);

// Where the picture puts things: two panels over one time axis, saved values above, readings
// (groups) below. The drawing and its tests use the same mapping.
struct HistoryPlotFrame {
    int width = 1100, height = 760;
    double left = 90, right = 0;           // plot area across (right = width - margin)
    double savedTop = 0, savedBottom = 0;  // the upper panel
    double readTop = 0, readBottom = 0;    // the lower panel
    int64_t t0 = 0, t1 = 1;
    double savedMin = 0, savedMax = 1;
    double readMin = -1, readMax = 1;
    double x(int64_t t) const;
    double ySaved(double value) const;
    double yReading(double groups) const;
};
HistoryPlotFrame History_PlotFrame(const std::vector<HistorySeries>& series, int width = 1100,
                                   int height = 760);

// Draws the picture as a PNG file (through the one way files are written). False with *error
// when it cannot (the platform has no drawing library, the file cannot be written).
bool History_Plot(const std::vector<HistorySeries>& series, const std::vector<HistoryDrift>& drifts,
                  const std::string& printer, bool chinese, const std::string& path,
                  std::string* error);
// The PNG bytes of the same picture; false where the platform cannot draw.
bool History_PlotPng(const std::vector<HistorySeries>& series,
                     const std::vector<HistoryDrift>& drifts, const std::string& printer,
                     bool chinese, std::vector<uint8_t>* png, std::string* error);
