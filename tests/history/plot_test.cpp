// SPDX-License-Identifier: Apache-2.0
// The picture against its data: every reading, verification and SAVE drawn in its mode's colour
// where the frame's mapping puts it, and nothing of that colour where there is no data; and a
// month of calibrations on the virtual printer whose history names the drift it shows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "history/analysis.h"
#include "history/history.h"
#include "history/json.h"
#include "platform/image_codec.h"
#include "support/fakes.h"
#include "support/plot_check.h"
#include "support/product_internals.h"

// Fontconfig, which cairo's text finds its fonts through, keeps its cache for the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libcairo\nleak:libfreetype\n";
}

namespace {

constexpr int64_t DAY = 86400;

PlotPicture draw(const std::vector<HistorySeries>& series, bool chinese) {
    std::vector<uint8_t> png;
    std::string error;
    EXPECT_TRUE(History_PlotPng(series, History_Drifts(series), "test", chinese, &png, &error))
        << error;
    PlotPicture p;
    PlotPicture_Decode(std::string(png.begin(), png.end()), &p);
    return p;
}

HistoryEntry reading(int64_t t, int mode, int pass, double groups, bool certain = true) {
    HistoryEntry e;
    e.time = t;
    e.mode = mode;
    e.pass = pass;
    e.reading = groups;
    e.certain = certain;
    return e;
}

HistoryEntry save(int64_t t, int mode, long before, long after) {
    HistoryEntry e;
    e.kind = HISTORY_SAVE;
    e.time = t;
    e.changes.push_back({History_ModeField(mode, 1), mode, 1, before, after});
    return e;
}

TEST(HistoryPlot, PointsAreDrawnWhereTheirDataPutsThem) {
    int64_t t0 = 0;
    History_ParseTime("2026-10-05", &t0);
    std::vector<HistoryEntry> entries = {save(t0, 6, 10, 12), save(t0 + 9 * DAY, 8, 40, 37)};
    for (int day = 0; day < 40; day += 4) {
        entries.push_back(reading(t0 + day * DAY, 6, 1, -2 + 0.3 * day / 4, day % 8 != 4));
        entries.push_back(reading(t0 + day * DAY + 3600, 8, 1, 3 - 0.5 * day / 4));
        entries.push_back(reading(t0 + day * DAY + 7200, 5, 2, -3.5));
    }
    HistoryEntry v = reading(t0 + 41 * DAY, 6, 1, 0.2);
    v.kind = HISTORY_VERIFICATION;
    v.aligned = true;
    entries.push_back(v);
    std::vector<HistorySeries> series = History_Series(entries);
    ASSERT_EQ(series.size(), 3u);
    for (bool chinese : {false, true}) {
        SCOPED_TRACE(chinese ? "Chinese" : "English");
        PlotPicture picture = draw(series, chinese);
        EXPECT_EQ(PlotPicture_CheckPoints(picture, series), 10 * 3 + 1 + 2);
        // Where there is no data there is no mode colour: two groups off each reading of mode 8
        // (no other reading lies there).
        const HistoryPlotFrame f = History_PlotFrame(series);
        const HistoryColour c = History_ModeColour(8, 1);
        for (const HistoryPoint& r : series[2].readings)
            EXPECT_FALSE(picture.colourAt(f.x(r.time), f.yReading(r.value + 2.5), c));
    }
}

#ifdef HEADALIGN_BIN
struct ProgramRun {
    int status;
    std::string out, err;
};

ProgramRun run(const std::string& env, const std::string& args, const std::string& folder) {
    const std::string out = folder + "/stdout", err = folder + "/stderr";
    int st = std::system(
        (env + " " + HEADALIGN_BIN + " " + args + " >" + out + " 2>" + err + " </dev/null")
            .c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, readFileBytes(out), readFileBytes(err)};
}

// A month on the virtual printer: text mid drifts by about a group a week, the technician
// prints, reads and applies weekly; the history names the drift and its picture shows it.
TEST(HistoryMonth, AWeeklyCalibrationOfADriftingPrinterShowsAndNamesTheDrift) {
    TempDir work;
    const std::string vp = work.path + "/printer";
    const std::string opts = "--virtual-printer " + vp + " --fast-clock ";
    std::filesystem::create_directories(vp);
    auto at = [](int day) {
        int64_t t = 0;
        History_ParseTime("2026-11-02T09:00:00Z", &t);
        return "HEADALIGN_HISTORY_TIME=" + History_FormatTime(t + day * DAY);
    };
    ASSERT_EQ(run(at(-1), opts + "params set bidirTextMid=10", work.path).status, 0);
    // 40 ips, 540 dpi: a group is two columns, 5.33 units of 1/1440 inch; the error grows by a
    // little more than a group a week from where "10" is right.
    for (int week = 0; week < 5; ++week) {
        std::ofstream(vp + "/printer.cfg") << "bidir_error = 40:" << (-53 - 6 * week) << "\n";
        ASSERT_EQ(run(at(7 * week), opts + "adjust 6", work.path).status, 0);
        std::string paper;
        for (const auto& e : std::filesystem::directory_iterator(vp + "/jobs"))
            if (e.path().extension() == ".png" && e.path().string() > paper)
                paper = e.path().string();
        ProgramRun applied = run(at(7 * week), opts + "align 6 --apply --scan " + paper, work.path);
        EXPECT_LE(applied.status, 1) << applied.out << applied.err;
    }
    ProgramRun verified = run(at(29), opts + "align 6 --verify", work.path);
    EXPECT_LE(verified.status, 1) << verified.err;

    ProgramRun words = run("", opts + "history", work.path);
    ASSERT_EQ(words.status, 0) << words.err;
    EXPECT_NE(words.out.find("mode 6 has drifted +"), std::string::npos) << words.out;
    EXPECT_NE(words.out.find("groups in 29 days"), std::string::npos) << words.out;
    ProgramRun chinese = run("LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8", opts + "history", work.path);
    EXPECT_NE(chinese.out.find("模式 6 在 29 天内漂移了 +"), std::string::npos) << chinese.out;
    ProgramRun json = run("", opts + "history --mode text-mid --json", work.path);
    JsonValue doc;
    std::string why;
    ASSERT_TRUE(Json_Parse(json.out, &doc, &why)) << why << json.out;
    const JsonValue* drifts = doc.find("drifts");
    ASSERT_TRUE(drifts && drifts->items.size() == 1) << json.out;
    EXPECT_GE(drifts->items[0].numberOr("groups", 0), 4.0);
    const JsonValue* entries = doc.find("entries");
    ASSERT_TRUE(entries);
    int readings = 0, saves = 0, verifications = 0;
    for (const JsonValue& e : entries->items) {
        std::string kind = e.textOr("kind", "");
        readings += kind == "reading", saves += kind == "save",
            verifications += kind == "verification";
    }
    EXPECT_EQ(readings, 5);
    EXPECT_GE(saves, 5);  // the first value and a correction (nearly) every week
    EXPECT_EQ(verifications, 1);
    // Filters by time: the fourth week alone (its reading and its correction).
    ProgramRun week =
        run("", opts + "history --json --since 2026-11-20 --until 2026-11-23", work.path);
    ASSERT_TRUE(Json_Parse(week.out, &doc, &why)) << why << week.out;
    ASSERT_TRUE(doc.find("entries"));
    EXPECT_EQ(doc.find("entries")->items.size(), 2u) << week.out;
    for (const char* bad : {"--since 2026-13-01", "--mode 3", "--plot", "--frob"})
        EXPECT_EQ(run("", opts + "history " + bad, work.path).status, 2) << bad;

    // The pictures in both languages: every point where the history's own data puts it.
    std::vector<HistoryEntry> kept;
    ASSERT_TRUE(
        History_Load(History_FilePath(History_PrinterKey(vp)), History_PrinterKey(vp), &kept, &why))
        << why;
    std::vector<HistorySeries> series = History_Series(kept);
    ASSERT_EQ(series.size(), 1u);
    // The saved value climbs with the drift.
    EXPECT_GE(series[0].saved.back().value - series[0].saved.front().value, 4);
    for (const char* lang : {"", "LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8"}) {
        const std::string png = work.path + (*lang ? "/zh.png" : "/en.png");
        ASSERT_EQ(run(lang, opts + "history --plot " + png, work.path).status, 0);
        PlotPicture picture;
        ASSERT_TRUE(PlotPicture_Decode(readFileBytes(png), &picture));
        EXPECT_EQ(PlotPicture_CheckPoints(picture, series),
                  5 + 1 + int(series[0].saved.size()) - 2);
        if (const char* keep = std::getenv("HEADALIGN_KEEP_PLOTS"))
            std::filesystem::copy_file(png, std::string(keep) + (*lang ? "/zh.png" : "/en.png"),
                                       std::filesystem::copy_options::overwrite_existing);
    }
}

// A damaged history never stops a SAVE: the value is saved, the history is named and left.
TEST(HistoryMonth, ADamagedHistoryNeverStopsASave) {
    TempDir work;
    const std::string vp = work.path + "/printer";
    const std::string path = History_FilePath(History_PrinterKey(vp));
    std::filesystem::create_directories(vp);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << "not a history\n";
    ProgramRun saved =
        run("", "--virtual-printer " + vp + " --fast-clock params set bidirTextMid=7", work.path);
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_NE(saved.err.find(path), std::string::npos) << saved.err;
    EXPECT_EQ(uint8_t(readFileBytes(vp + "/record.bin")[4]), 7);
    EXPECT_EQ(readFileBytes(path), "not a history\n");
    ProgramRun listed = run("", "--virtual-printer " + vp + " history", work.path);
    EXPECT_EQ(listed.status, 1);
    EXPECT_NE(listed.err.find(path), std::string::npos);
}
#endif

}  // namespace
