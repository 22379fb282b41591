// SPDX-License-Identifier: Apache-2.0
// Calibrating a printer in one sitting, for every front end: the sheet printed (a mark, then
// the adjustment, for every bidirectional mode and pass), its picture read print by print, the
// result as table rows, every certain reading and every feed step measured entered in ONE SAVE,
// and the verification sheet read the same way. Every reading, the SAVE and every verification
// go into the printer's history. Nothing here prints to a terminal or opens a window: the
// command line (`headalign calibrate`) and the consoles' "Calibrate..." windows show the rows,
// the lines and the marked picture their own way.
//
// Dialog thread throughout (the jobs, the reader and the record store all run on it), but for
// the readings without the history, which a window may run on a thread of its own.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/calibrate_print.h"
#include "app/record_store.h"
#include "app/sheet_scan.h"
#include "params/parameter_record.h"
#include "platform/scanner.h"
#include "vernier/vernier.h"

// ---- Reading -----------------------------------------------------------------------------

// One row of the result table: one print the sheet should carry (or a print of another sheet
// found on it).
struct CalibrateRow {
    int mode = 5;  // adjustment type 5..10
    int pass = 1;  // 1, or 2 for the second-pass value
    SheetVerdict verdict = SHEET_MISSING;
    std::string verdictText;  // "certain", "not certain", "not read", "missing", ...
    std::string reading;      // the aligned group as the print labels it: "\"-2\"",
                              // "\"01\"/\"00\"" halfway; "-" when not read
    double estimate = 0;      // groups, and its spread (read prints only)
    double spread = 0;
    bool certain = false;
    int amount = 0;          // the amount to enter ("加减:"), read prints only
    bool toEnter = false;    // certain, of this sheet, and not "00": Calibrate_Apply enters it
    std::string amountText;  // "+2", "0", or "-" when nothing is to be entered
    std::string field;       // the record field it goes to ("bidirTextMidHd")
    std::string reason;      // why it is not entered (empty when it is or need not be)
    std::string advice;      // what the operator can do about it
    bool lined = false;      // verification: "00" lines up (to half a group and its spread)
    bool foreign = false;    // a print of another sheet
};

// Why a picture gave no rows.
enum CalibrateReadStatus : uint8_t {
    CALIBRATE_READ_OK = 0,    // rows below (some may still be unread)
    CALIBRATE_READ_NO_FILE,   // the picture could not be loaded (error says why)
    CALIBRATE_READ_NO_MARKS,  // no mark of a calibration sheet on it
};

// One sheet read: what the table shows and what Calibrate_Apply enters from.
struct CalibrateSheet {
    CalibrateReadStatus status = CALIBRATE_READ_NO_FILE;
    std::string error;          // when not CALIBRATE_READ_OK
    std::string picture;        // the picture read, as the history names it (absolute path)
    bool verification = false;  // read as a verification sheet
    uint32_t sheet = 0;
    bool secondPass = false;     // the sheet carries second-pass prints
    bool contradictory = false;  // nothing is entered from it
    std::string contradiction;
    std::vector<CalibrateRow> rows;
    SheetScan scan;      // the reader's own result (regions, groups) for the marked copy
    VernierImage image;  // the picture as read
};

// Where readings, verifications and the SAVE are recorded as coming from in the history: the
// command line's words ("calibrate --scan", "calibrate --verify") or the console's button
// ("console Calibrate..."); the SAVE as "calibrate" or the console's button.
constexpr const char* CALIBRATE_CONSOLE_ORIGIN = "console Calibrate...";
struct CalibrateOrigin {
    std::string source = "calibrate";
    std::string save = "calibrate";
};

// Reads the sheet's picture from a file (PNG or JPEG, a scan or a photo). Every read print
// (certain or not) goes into the printer's history as a reading, or with `verification` as a
// verification (lined up or not), naming the picture.
CalibrateSheet Calibrate_ReadFile(const std::string& path, bool verification,
                                  const CalibrateOrigin& origin);
// The same from a picture already in memory (acquired from the scanner); `picture` is where it
// was kept (Calibrate_KeepScan), or a description when it could not be kept.
CalibrateSheet Calibrate_ReadImage(VernierImage image, const std::string& picture,
                                   bool verification, const CalibrateOrigin& origin);
// The same readings without the history, for a window that reads on a thread of its own and
// stays drawn meanwhile: any thread (the decoder and the reader share nothing between calls;
// nothing else here is touched). Calibrate_Record then records the sheet on the dialog thread
// as Calibrate_ReadFile and Calibrate_ReadImage do.
CalibrateSheet Calibrate_ReadFileUnrecorded(const std::string& path, bool verification);
CalibrateSheet Calibrate_ReadImageUnrecorded(VernierImage image, const std::string& picture,
                                             bool verification);
void Calibrate_Record(const CalibrateSheet& sheet, const CalibrateOrigin& origin);
// A verification sheet whose readings are to be applied again: its rows as a first sheet's,
// every certain reading that is not "00" to be entered (the console's "apply again").
CalibrateSheet Calibrate_ForApplying(const CalibrateSheet& verification);
// The picture with each mark boxed and each print's groups and region marked (green certain,
// orange uncertain, red not read).
VernierImage Calibrate_MarkedPicture(const CalibrateSheet& sheet);
// The result table as lines of text: a heading, one line per row (mode, pass, reading,
// verdict, amount to enter, field), then "not entered:" with each such row's reason and what
// to do, then the contradiction if any. For a terminal or a window's fixed-width box.
std::vector<std::string> Calibrate_TableLines(const CalibrateSheet& sheet);

// Verification: every print of this sheet read and lined up (nothing missing, unread or
// uncertain; foreign prints do not count); one line per read print and a last line saying
// whether every mode lines up.
struct CalibrateVerdict {
    bool allLinedUp = false;
    std::vector<std::string> lines;
};
CalibrateVerdict Calibrate_Verdict(const CalibrateSheet& sheet);

// ---- Feed steps measured -------------------------------------------------------------------

struct CalibrateFeed {
    int type = 11;      // 11..15: pass4, pass6, pass8, pass3, pass2
    std::string field;  // "stepPass4"
    bool ok = false;    // a value is proposed
    long value = 0;     // the proposed step value, 1..65535
    std::string text;   // "feed step: nominal 1000.0 mm, measured ..." or why refused
};
// The feed step proposed for job type 11..15 from the millimetres typed; recorded in the
// history as a reading of that mode when it is accepted.
CalibrateFeed Calibrate_ProposeFeed(int type, const std::string& millimetres,
                                    const CalibrateOrigin& origin);

// ---- Applying: one SAVE ---------------------------------------------------------------------

// One value the SAVE changes, or would have changed but for the room left.
struct CalibrateEntry {
    int mode = 0, pass = 1;
    std::string field;
    long before = 0, after = 0;  // after: what it would become
};

enum CalibrateApplyStatus : uint8_t {
    CALIBRATE_APPLY_SAVED = 0,      // the SAVE reached the printer (or the shared area)
    CALIBRATE_APPLY_NOTHING,        // nothing to enter: every certain reading is "00"
    CALIBRATE_APPLY_CONTRADICTORY,  // the sheet contradicts itself: nothing entered
    CALIBRATE_APPLY_FEED_REFUSED,   // a feed measurement was refused: nothing entered
    CALIBRATE_APPLY_NOT_CONNECTED,  // no record could be read: nothing entered
    CALIBRATE_APPLY_NOT_SAVED,      // the SAVE failed or was refused (a box said why)
    CALIBRATE_APPLY_UNKNOWN,        // the printer did not answer; it may hold the record
};

struct CalibrateApplied {
    CalibrateApplyStatus status = CALIBRATE_APPLY_NOT_SAVED;
    std::vector<CalibrateEntry> entered;  // in the SAVE
    // Corrections refused by name: the value would leave 0 .. 255 ("the printer has no room
    // for this correction that way"); the others are still saved.
    std::vector<CalibrateEntry> noRoom;
    int left = 0;  // prints of this sheet not entered (uncertain, unread, missing, no room)
    uint8_t before[PARAMETER_RECORD_SIZE] = {};
    uint8_t after[PARAMETER_RECORD_SIZE] = {};
    // What the front end shows: one line per value entered or refused, then the outcome
    // ("applied and saved", "nothing to apply: ...", "not applied: ...") and, when prints
    // were left, how many.
    std::vector<std::string> lines;
    // Everything certain was saved and nothing was left: the calibration is done.
    bool complete() const {
        return (status == CALIBRATE_APPLY_SAVED || status == CALIBRATE_APPLY_NOTHING) && left == 0;
    }
};

// Enters every certain reading of `sheet` (both passes; may be null) and every accepted feed
// step into one record and saves it in ONE transaction (Record_Save), recorded in the history
// with its old and new record as coming from `origin`. `record` is the record the front end
// holds (the console's current record: updated to what was saved, or to what is stored when
// another program saved meanwhile, and each time shown through `reload`); null: the record is
// read here under the store's hold (the command line). Nothing is entered from a contradictory
// sheet or with a refused feed step.
CalibrateApplied Calibrate_Apply(const CalibrateSheet* sheet,
                                 const std::vector<CalibrateFeed>& feed,
                                 const CalibrateOrigin& origin, uint8_t* record = nullptr,
                                 const std::function<void(const uint8_t*)>& reload = nullptr);

// ---- Scanning the sheet -----------------------------------------------------------------------

// The scan of a whole calibration sheet: the device's whole area at 300 dpi in grey (the marks
// and every print read there), `device` empty for the first scanner; `options` ("NAME=VALUE",
// SANE option names) are applied after those settings. The picture is read with
// Calibrate_ReadImage once acquired, after Scan_KeepPicture (app/scan_entry.h) has kept it.
ScanRequest Calibrate_ScanRequest(const std::string& device,
                                  const std::vector<std::string>& options);
