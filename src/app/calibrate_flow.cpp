// SPDX-License-Identifier: Apache-2.0
// The calibration sitting shared by the command line and the consoles: the sheet's jobs, its
// reading into table rows, one SAVE of everything certain, and the history of it all.
#include "app/calibrate_flow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/console.h"
#include "app/feed_measure.h"
#include "app/scan_entry.h"
#include "diag/log.h"
#include "history/history.h"
#include "platform/bytes.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

std::string passWords(const CalibrateRow& r) { return r.pass == 2 ? " second pass" : ""; }

// A picture named as the history keeps it: absolute, so that it can be found again.
std::string absolutePicture(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(Path_FromUtf8(path), ec);
    return ec ? path : Path_ToUtf8(full.lexically_normal());
}

// The aligned group as the print labels it.
std::string readingText(const VernierReading& r) {
    if (r.status != VERNIER_READ) return "-";
    if (r.halfway)
        return "\"" + Vernier_LabelText(std::max(r.group, r.neighbour)) + "\"/\"" +
               Vernier_LabelText(std::min(r.group, r.neighbour)) + "\"";
    return "\"" + Vernier_LabelText(r.group) + "\"";
}

// A verification print lines up when "00" is within half a group and its spread.
bool linedUp(const SheetPrint& p) {
    const bool read = p.verdict == SHEET_CERTAIN || p.verdict == SHEET_UNCERTAIN;
    return read && std::fabs(p.reading.estimate) <= 0.5 + p.reading.sigma;
}

CalibrateRow rowOf(const SheetPrint& p, const SheetScan& scan, bool verification) {
    CalibrateRow row;
    row.mode = p.mark.type;
    row.pass = p.mark.hd ? 2 : 1;
    row.verdict = p.verdict;
    row.verdictText = Sheet_VerdictName(p.verdict);
    row.reading = readingText(p.reading);
    row.foreign = p.verdict == SHEET_FOREIGN;
    const bool read = p.verdict == SHEET_CERTAIN || p.verdict == SHEET_UNCERTAIN;
    if (read) {
        row.estimate = p.reading.estimate;
        row.spread = p.reading.sigma;
        row.certain = p.reading.certain;
        row.amount = p.amount;
    }
    const char* field = Calibrate_Field(row.mode, row.pass == 2);
    row.field = field ? field : "";
    row.reason = p.verdict == SHEET_CERTAIN ? "" : p.reason;
    row.advice = p.verdict == SHEET_CERTAIN ? "" : p.advice;
    row.toEnter =
        !verification && p.verdict == SHEET_CERTAIN && !scan.contradictory && p.amount != 0;
    row.amountText = read ? (p.amount > 0 ? "+" : "") + std::to_string(p.amount) : "-";
    row.lined = linedUp(p);
    return row;
}

void recordRows(const CalibrateSheet& sheet, const CalibrateOrigin& origin) {
    for (const CalibrateRow& row : sheet.rows) {
        if (row.foreign) continue;
        if (row.verdict != SHEET_CERTAIN && row.verdict != SHEET_UNCERTAIN) continue;
        HistoryEntry e;
        e.kind = sheet.verification ? HISTORY_VERIFICATION : HISTORY_READING;
        e.mode = row.mode;
        e.pass = row.pass;
        e.reading = row.estimate;
        e.spread = row.spread;
        e.certain = row.certain;
        e.aligned = sheet.verification && row.lined;
        e.picture = sheet.picture;
        e.source = origin.source;
        History_Record(e);
    }
}

}  // namespace

// ---- Reading -------------------------------------------------------------------------------

CalibrateSheet Calibrate_ReadImageUnrecorded(VernierImage image, const std::string& picture,
                                             bool verification) {
    CalibrateSheet sheet;
    sheet.verification = verification;
    sheet.picture = absolutePicture(picture);
    sheet.scan = Sheet_Read(image);
    sheet.image = std::move(image);
    if (!sheet.scan.marksFound) {
        sheet.status = CALIBRATE_READ_NO_MARKS;
        sheet.error = sheet.scan.error;
        return sheet;
    }
    sheet.status = CALIBRATE_READ_OK;
    sheet.sheet = sheet.scan.sheet;
    sheet.secondPass = sheet.scan.hd;
    sheet.contradictory = sheet.scan.contradictory;
    sheet.contradiction = sheet.scan.contradiction;
    for (const SheetPrint& p : sheet.scan.prints)
        sheet.rows.push_back(rowOf(p, sheet.scan, verification));
    return sheet;
}

CalibrateSheet Calibrate_ReadFileUnrecorded(const std::string& path, bool verification) {
    VernierImage image;
    std::string error;
    if (!Vernier_LoadImage(path, &image, &error)) {
        CalibrateSheet sheet;
        sheet.status = CALIBRATE_READ_NO_FILE;
        sheet.error = error;
        sheet.verification = verification;
        sheet.picture = absolutePicture(path);
        return sheet;
    }
    return Calibrate_ReadImageUnrecorded(std::move(image), path, verification);
}

void Calibrate_Record(const CalibrateSheet& sheet, const CalibrateOrigin& origin) {
    if (sheet.status == CALIBRATE_READ_OK) recordRows(sheet, origin);
}

CalibrateSheet Calibrate_ReadImage(VernierImage image, const std::string& picture,
                                   bool verification, const CalibrateOrigin& origin) {
    CalibrateSheet sheet = Calibrate_ReadImageUnrecorded(std::move(image), picture, verification);
    Calibrate_Record(sheet, origin);
    return sheet;
}

CalibrateSheet Calibrate_ReadFile(const std::string& path, bool verification,
                                  const CalibrateOrigin& origin) {
    CalibrateSheet sheet = Calibrate_ReadFileUnrecorded(path, verification);
    Calibrate_Record(sheet, origin);
    return sheet;
}

CalibrateSheet Calibrate_ForApplying(const CalibrateSheet& verification) {
    // Field by field, not a copy: the picture (tens of megabytes) is not needed to apply, and
    // the rows are made again as a first sheet's.
    CalibrateSheet sheet;
    sheet.status = verification.status;
    sheet.error = verification.error;
    sheet.picture = verification.picture;
    sheet.sheet = verification.sheet;
    sheet.secondPass = verification.secondPass;
    sheet.contradictory = verification.contradictory;
    sheet.contradiction = verification.contradiction;
    sheet.scan = verification.scan;
    for (const SheetPrint& p : sheet.scan.prints) sheet.rows.push_back(rowOf(p, sheet.scan, false));
    return sheet;
}

VernierImage Calibrate_MarkedPicture(const CalibrateSheet& sheet) {
    VernierImage marked = sheet.image;
    if (marked.width && sheet.status == CALIBRATE_READ_OK) Sheet_MarkPicture(&marked, sheet.scan);
    return marked;
}

std::vector<std::string> Calibrate_TableLines(const CalibrateSheet& sheet) {
    std::vector<std::string> lines;
    char line[256];
    std::snprintf(line, sizeof line, "sheet %u%s", sheet.sheet,
                  sheet.secondPass ? " (with the second pass)" : "");
    lines.push_back(line);
    std::snprintf(line, sizeof line, "%-5s %-6s %-11s %-13s %-6s %s", "mode", "pass", "reading",
                  "verdict", "enter", "field");
    lines.push_back(line);
    for (const CalibrateRow& r : sheet.rows) {
        std::snprintf(line, sizeof line, "%-5d %-6s %-11s %-13s %-6s %s", r.mode,
                      r.pass == 2 ? "second" : "first", r.reading.c_str(), r.verdictText.c_str(),
                      r.amountText.c_str(), r.field.c_str());
        lines.push_back(line);
    }
    bool header = false;
    for (const CalibrateRow& r : sheet.rows) {
        if (r.verdict == SHEET_CERTAIN) continue;
        if (!header) lines.push_back("not entered:");
        header = true;
        lines.push_back("  mode " + std::to_string(r.mode) + passWords(r) + ": " + r.reason + "; " +
                        r.advice);
    }
    if (sheet.contradictory)
        lines.push_back("the sheet's marks contradict each other: " + sheet.contradiction +
                        "; nothing is entered from it");
    return lines;
}

CalibrateVerdict Calibrate_Verdict(const CalibrateSheet& sheet) {
    CalibrateVerdict v;
    bool all = sheet.status == CALIBRATE_READ_OK && !sheet.contradictory;
    for (const CalibrateRow& r : sheet.rows) {
        if (r.foreign) continue;
        if (!r.lined) all = false;
        if (r.verdict != SHEET_CERTAIN && r.verdict != SHEET_UNCERTAIN) continue;
        char text[160];
        if (r.lined)
            std::snprintf(text, sizeof text, "mode %d%s: verified: \"00\" lines up", r.mode,
                          passWords(r).c_str());
        else
            std::snprintf(text, sizeof text,
                          "mode %d%s: not aligned: the prints meet at %+.2f groups", r.mode,
                          passWords(r).c_str(), r.estimate);
        v.lines.push_back(text);
    }
    v.allLinedUp = all;
    v.lines.push_back(all ? "verified: every mode lines up" : "not verified: see above");
    return v;
}

// ---- Feed steps ----------------------------------------------------------------------------

CalibrateFeed Calibrate_ProposeFeed(int type, const std::string& millimetres,
                                    const CalibrateOrigin& origin) {
    CalibrateFeed f;
    f.type = type;
    const char* field = Calibrate_Field(type, false);
    if (!field || type < 11) {
        f.text = "feed step: no feed-step print of type " + std::to_string(type);
        return f;
    }
    f.field = field;
    FeedStepProposal p = proposeFeedStep(millimetres, field);
    if (!p.ok) {
        f.text = "feed step " + f.field + ": " + p.refusal;
        return f;
    }
    f.ok = true;
    f.value = p.value;
    f.text = "feed step: " + p.arithmetic;
    HistoryEntry e;
    e.mode = type;
    e.reading = std::strtod(millimetres.c_str(), nullptr);
    e.certain = true;
    e.source = origin.source;
    History_Record(e);
    return f;
}

// ---- Applying ------------------------------------------------------------------------------

namespace {

std::string entryLine(const CalibrateEntry& e) {
    char text[200];
    std::snprintf(text, sizeof text, "%s: %ld -> %ld", e.field.c_str(), e.before, e.after);
    return text;
}

long valueAt(const uint8_t* record, int type, bool secondPass) {
    const int at = Calibrate_FieldOffset(type, secondPass);
    return type >= 11 ? long(le::getU16(record, size_t(at))) : long(record[at]);
}

// What the sheet and the feed steps make of `record`: the values to change and those refused
// for want of room.
void plan(const CalibrateSheet* sheet, const std::vector<CalibrateFeed>& feed,
          const uint8_t* record, std::vector<CalibrateEntry>* entered,
          std::vector<CalibrateEntry>* noRoom) {
    entered->clear();
    noRoom->clear();
    for (const CalibrateRow& r : sheet ? sheet->rows : std::vector<CalibrateRow>{}) {
        if (!r.toEnter) continue;
        CalibrateEntry e{r.mode, r.pass, r.field, valueAt(record, r.mode, r.pass == 2), 0};
        e.after = e.before + r.amount;
        if (e.after < CALIBRATE_BIDIR_MIN || e.after > CALIBRATE_BIDIR_MAX)
            noRoom->push_back(e);
        else
            entered->push_back(e);
    }
    for (const CalibrateFeed& f : feed) {
        CalibrateEntry e{f.type, 1, f.field, valueAt(record, f.type, false), f.value};
        if (e.after != e.before) entered->push_back(e);
    }
}

void write(uint8_t* record, const CalibrateEntry& e) {
    const int at = Calibrate_FieldOffset(e.mode, e.pass == 2);
    if (e.mode >= 11)
        le::putU16(record, size_t(at), uint16_t(e.after));
    else
        record[at] = uint8_t(e.after);
}

// The origin a SAVE is recorded with, set for this SAVE and put back after it.
struct SaveOriginFor {
    std::string earlier;
    explicit SaveOriginFor(const std::string& origin) : earlier(History_SaveOrigin()) {
        History_SetSaveOrigin(origin);
    }
    ~SaveOriginFor() { History_SetSaveOrigin(earlier == "console SAVE" ? "" : earlier); }
    SaveOriginFor(const SaveOriginFor&) = delete;
    SaveOriginFor& operator=(const SaveOriginFor&) = delete;
};

struct HoldFor {
    bool held = false;
    ~HoldFor() {
        if (held) Record_EndHold();
    }
};

}  // namespace

CalibrateApplied Calibrate_Apply(const CalibrateSheet* sheet,
                                 const std::vector<CalibrateFeed>& feed,
                                 const CalibrateOrigin& origin, uint8_t* record,
                                 const std::function<void(const uint8_t*)>& reload) {
    CalibrateApplied out;
    if (sheet) {
        for (const CalibrateRow& r : sheet->rows)
            if (!r.foreign && r.verdict != SHEET_CERTAIN) ++out.left;
        if (sheet->status != CALIBRATE_READ_OK) {
            out.status = CALIBRATE_APPLY_NOT_SAVED;
            out.lines.push_back("not applied: the sheet could not be read: " + sheet->error);
            return out;
        }
        if (sheet->contradictory) {
            out.status = CALIBRATE_APPLY_CONTRADICTORY;
            out.lines.push_back("not applied: the sheet's marks contradict each other (" +
                                sheet->contradiction + "); nothing is entered from it");
            return out;
        }
    }
    for (const CalibrateFeed& f : feed)
        if (!f.ok) {
            out.status = CALIBRATE_APPLY_FEED_REFUSED;
            out.lines.push_back("not applied: " + f.text);
            return out;
        }
    uint8_t own[PARAMETER_RECORD_SIZE] = {};
    uint8_t* rec = record ? record : own;
    HoldFor hold;
    bool connected = false;
    if (record) {
        connected = consoleState() && consoleState()->printerConnected;
    } else {
        // Read, change and SAVE as one transaction: nobody else's SAVE lands in between.
        hold.held = Record_BeginHold();
        if (!hold.held) {
            out.status = CALIBRATE_APPLY_NOT_CONNECTED;
            out.lines.push_back(
                "not applied: the parameter record cannot be reached now (no printer found, or "
                "another program holds it; see the message above)");
            return out;
        }
        connected = Record_Read(own);
    }
    if (!connected) {
        out.status = CALIBRATE_APPLY_NOT_CONNECTED;
        out.lines.push_back(
            "not applied: no printer is connected (its parameter record could not be read)");
        return out;
    }
    std::memcpy(out.before, rec, PARAMETER_RECORD_SIZE);
    plan(sheet, feed, rec, &out.entered, &out.noRoom);
    for (const CalibrateEntry& e : out.noRoom) {
        char text[300];
        std::snprintf(text, sizeof text,
                      "not applied: mode %d%s: %s would become %ld, and the console takes %ld .. "
                      "%ld; the printer has no room for this correction that way",
                      e.mode, e.pass == 2 ? " second pass" : "", e.field.c_str(), e.after,
                      CALIBRATE_BIDIR_MIN, CALIBRATE_BIDIR_MAX);
        out.lines.push_back(text);
    }
    out.left += int(out.noRoom.size());
    auto leftLine = [&out] {
        if (out.left)
            out.lines.push_back(std::to_string(out.left) + " print" + (out.left == 1 ? "" : "s") +
                                " not entered (see above)");
    };
    if (out.entered.empty()) {
        out.status = CALIBRATE_APPLY_NOTHING;
        std::memcpy(out.after, rec, PARAMETER_RECORD_SIZE);
        if (out.noRoom.empty())
            out.lines.push_back(feed.empty()
                                    ? "nothing to apply: every certain reading lines up at \"00\""
                                    : "nothing to apply: every value is already as proposed");
        leftLine();
        return out;
    }
    for (const CalibrateEntry& e : out.entered) out.lines.push_back(entryLine(e));
    // The change is made on the record as stored at the SAVE (the same one read above, or the
    // SAVE is refused as changed meanwhile): every value from it, in one write.
    std::vector<CalibrateEntry> made;
    auto change = [&](uint8_t* r) {
        std::vector<CalibrateEntry> noRoom;
        plan(sheet, feed, r, &made, &noRoom);
        for (const CalibrateEntry& e : made) write(r, e);
        return true;
    };
    auto show = [&reload](const uint8_t* r) {
        if (reload) reload(r);
    };
    SaveOutcome outcome;
    {
        SaveOriginFor saveOrigin(origin.save);
        outcome = Record_Save(rec, change, show);
        if (outcome == SAVE_SAVED || outcome == SAVE_UNKNOWN)
            History_Record(History_SaveEntry(out.before, rec, History_SaveOrigin(),
                                             outcome == SAVE_SAVED ? "saved" : "unknown"));
    }
    std::memcpy(out.after, rec, PARAMETER_RECORD_SIZE);
    switch (outcome) {
        case SAVE_SAVED:
            out.status = CALIBRATE_APPLY_SAVED;
            out.entered = made;
            out.lines.push_back("applied and saved");
            show(rec);
            break;
        case SAVE_UNKNOWN:
            out.status = CALIBRATE_APPLY_UNKNOWN;
            out.entered = made;
            out.lines.push_back(
                "unknown: the printer did not answer the SAVE; it may hold the new values (check "
                "with params show)");
            show(rec);
            break;
        case SAVE_REFUSED:
            // Refused before anything was sent (the stored record changed since it was read, or
            // it breaks the rules): the store's message said which.
            out.status = CALIBRATE_APPLY_NOT_SAVED;
            out.entered.clear();
            out.lines.push_back("not applied: the SAVE was refused (see the message above)");
            break;
        default:
            out.status = CALIBRATE_APPLY_NOT_SAVED;
            out.entered.clear();
            out.lines.push_back("not applied: the save did not reach the printer");
            break;
    }
    leftLine();
    return out;
}

// ---- Scanning ------------------------------------------------------------------------------

ScanRequest Calibrate_ScanRequest(const std::string& device,
                                  const std::vector<std::string>& options) {
    ScanRequest request;
    request.device = device;
    request.dpi = 300;
    request.grey = true;
    request.widthMm = request.heightMm = 0;  // the whole area: no print cut off
    request.maxPixels = VERNIER_DECODE_PIXELS;
    for (const std::string& o : options) {
        ScanOption parsed;
        if (Scanner_ParseOption(o, &parsed)) request.options.push_back(parsed);
    }
    return request;
}
