// SPDX-License-Identifier: Apache-2.0
// The history command: list, JSON, picture and drift.
#include "cli/history_cmd.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "history/analysis.h"
#include "history/history.h"
#include "history/json.h"
#include "platform/locale.h"

namespace {

struct HistoryArgs {
    int mode = 0;
    int64_t since = 0, until = INT64_MAX;
    bool json = false;
    std::string plot;
};

int usage(const std::string& what) {
    std::fprintf(stderr, "headalign: history: %s (see --help)\n", what.c_str());
    return 2;
}

int parse(const std::vector<std::string>& args, HistoryArgs* a) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& w = args[i];
        const bool hasValue = i + 1 < args.size();
        if (w == "--json") {
            a->json = true;
        } else if (w == "--mode" && hasValue) {
            a->mode = Cli_JobNumber("adjust", args[++i]);
            if (a->mode < 5 || a->mode > 15)
                return usage("--mode takes an adjustment 5..15 or its name");
        } else if ((w == "--since" || w == "--until") && hasValue) {
            const std::string& text = args[++i];
            int64_t t = 0;
            if (!History_ParseTime(text, &t))
                return usage(w + " takes a date YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ");
            // A day given alone counts whole.
            if (w == "--until" && text.size() == 10) t += 86399;
            (w == "--since" ? a->since : a->until) = t;
        } else if (w == "--plot" && hasValue) {
            a->plot = args[++i];
        } else if (w == "--mode" || w == "--since" || w == "--until" || w == "--plot") {
            return usage(w + " needs a value");
        } else {
            return usage("unknown word '" + w + "'");
        }
    }
    return 0;
}

bool mentions(const HistoryEntry& e, int mode) {
    if (mode == 0) return true;
    if (e.kind == HISTORY_READING || e.kind == HISTORY_VERIFICATION) return e.mode == mode;
    if (e.kind == HISTORY_SAVE) {
        for (const HistoryChange& c : e.changes)
            if (c.mode == mode) return true;
        return false;
    }
    for (const HistoryModeSummary& m : e.modes)
        if (m.mode == mode) return true;
    return false;
}

std::string passText(int mode, int pass) { return pass == 2 && mode != 10 ? " (2nd pass)" : ""; }

void printLine(const HistoryEntry& e) {
    std::string when = History_FormatTime(e.time).substr(0, 16);
    when[10] = ' ';
    const bool feed = e.mode >= 11;
    switch (e.kind) {
        case HISTORY_READING:
        case HISTORY_VERIFICATION: {
            char what[160];
            if (feed)
                std::snprintf(what, sizeof what, "mode %d: measured %.2f mm", e.mode, e.reading);
            else
                std::snprintf(what, sizeof what, "mode %d%s: %+.2f +/- %.2f groups, %s%s", e.mode,
                              passText(e.mode, e.pass).c_str(), e.reading, e.spread,
                              e.certain ? "certain" : "not certain",
                              e.kind == HISTORY_VERIFICATION
                                  ? (e.aligned ? "; \"00\" lines up" : "; not aligned")
                                  : "");
            std::printf("%s  %-12s %s  [%s]%s%s\n", when.c_str(),
                        e.kind == HISTORY_READING ? "reading" : "verification", what,
                        e.source.c_str(), e.picture.empty() ? "" : " ", e.picture.c_str());
            break;
        }
        case HISTORY_SAVE: {
            std::string changes;
            for (const HistoryChange& c : e.changes)
                changes += (changes.empty() ? "" : ", ") + c.field + " " +
                           std::to_string(c.before) + " -> " + std::to_string(c.after);
            if (changes.empty()) changes = "no calibration value changed";
            std::printf("%s  %-12s %s  [%s]%s\n", when.c_str(), "save", changes.c_str(),
                        e.source.c_str(),
                        e.outcome == "saved" ? "" : (" (" + e.outcome + ")").c_str());
            break;
        }
        case HISTORY_SUMMARY: {
            std::printf("%-16s  %-12s %d readings, %d saves, %d verifications\n", e.month.c_str(),
                        "summary", e.readings, e.saves, e.verifications);
            for (const HistoryModeSummary& m : e.modes) {
                std::printf("%-16s  %-12s   mode %d%s:", "", "", m.mode,
                            passText(m.mode, m.pass).c_str());
                if (m.readings > 0)
                    std::printf(" %d readings, mean %+.2f (%+.2f .. %+.2f)", m.readings, m.mean,
                                m.min, m.max);
                if (m.hasValue) std::printf(" last saved %ld", m.lastValue);
                std::printf("\n");
            }
            break;
        }
    }
}

}  // namespace

int Cli_HistoryCommand(const std::vector<std::string>& args, const CliOptions& options) {
    HistoryArgs a;
    if (int status = parse(args, &a)) return status;
    const std::string key = History_PrinterKey(options.virtualPrinterDir);
    const std::string path = History_FilePath(key);
    if (path.empty()) {
        std::fprintf(
            stderr, "headalign: history: no data folder (neither XDG_DATA_HOME nor HOME is set)\n");
        return 1;
    }
    std::vector<HistoryEntry> all;
    std::string error;
    if (!History_Load(path, key, &all, &error)) {
        std::vector<uint8_t> none;
        std::fprintf(stderr, "headalign: history: %s\n", error.c_str());
        // No history yet is an empty one; anything else is refused.
        if (error.find("no history yet") == std::string::npos) return 1;
        all.clear();
    }
    std::vector<HistoryEntry> shown;
    for (const HistoryEntry& e : all)
        if (mentions(e, a.mode) && e.time >= a.since && e.time <= a.until) shown.push_back(e);
    std::vector<HistorySeries> series = History_Series(shown);
    std::vector<HistoryDrift> drifts = History_Drifts(series);
    const bool chinese = Locale_IsChinese();
    if (!a.plot.empty()) {
        if (!History_Plot(series, drifts, key, chinese, a.plot, &error)) {
            std::fprintf(stderr, "headalign: history: --plot: %s\n", error.c_str());
            return 1;
        }
    }
    if (a.json) {
        std::string out = "{\"printer\":";
        Json_AppendString(&out, key);
        out += ",\"file\":";
        Json_AppendString(&out, path);
        out += ",\"entries\":[";
        for (size_t i = 0; i < shown.size(); ++i)
            out += (i ? ",\n" : "\n") + History_ToJson(shown[i]);
        out += "],\n\"drifts\":[";
        for (size_t i = 0; i < drifts.size(); ++i) {
            const HistoryDrift& d = drifts[i];
            out += std::string(i ? "," : "") + "{\"mode\":" + Json_Number(d.mode) +
                   ",\"pass\":" + Json_Number(d.pass) +
                   ",\"groups\":" + Json_Number(std::round(d.groups * 100) / 100) +
                   ",\"days\":" + Json_Number(d.days) + ",\"from\":";
            Json_AppendString(&out, History_FormatTime(d.from));
            out += ",\"to\":";
            Json_AppendString(&out, History_FormatTime(d.to));
            out += ",\"text\":";
            Json_AppendString(&out, History_DriftText(d, chinese));
            out += "}";
        }
        out += "]}\n";
        std::fputs(out.c_str(), stdout);
        return 0;
    }
    std::printf("history of %s (%s)\n", key.c_str(), path.c_str());
    for (const HistoryEntry& e : shown) printLine(e);
    if (shown.empty())
        std::printf("(nothing recorded%s)\n", all.empty() ? " yet" : " in this selection");
    for (const HistoryDrift& d : drifts) std::printf("%s\n", History_DriftText(d, chinese).c_str());
    if (drifts.empty() && !shown.empty())
        std::printf("%s\n", chinese ? "没有漂移超过一组的模式"
                                    : "no mode has drifted by more than a group");
    if (!a.plot.empty()) std::printf("plot: %s\n", a.plot.c_str());
    return 0;
}
