// SPDX-License-Identifier: Apache-2.0
// The calibration sheet: printed on the virtual printer with a different error in every mode and
// pass, read from the printer's own picture or a degraded copy, applied in one go and verified;
// sheets with prints cut off, smudged, pasted from another sheet or marked twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/calibrate_flow.h"
#include "app/session.h"
#include "app/sheet_scan.h"
#include "cli/calibrate_cmd.h"
#include "diag/errors.h"
#include "history/history.h"
#include "job/sheet_mark.h"
#include "photo_sim.h"
#include "vernier_support.h"
#include "vprinter.h"

namespace {

// Record offsets of the eleven bidirectional fields: text high .. photo, then the second pass.
const uint8_t BIDIR_OFFSETS[11] = {0x03, 0x04, 0x05, 0x1e, 0x1f, 0x20,
                                   0x2a, 0x2b, 0x2c, 0x2d, 0x2e};
// A board that lines up at 20 in every mode (room both ways), with a record that is off by a
// different amount in every mode and pass.
const int START[11] = {20, 18, 23, 21, 17, 22, 19, 24, 16, 20, 22};

// Under the sanitizers a sheet of the six first-pass prints; optimized, with the second pass.
#ifdef __SANITIZE_ADDRESS__
constexpr bool HD = false;
#else
constexpr bool HD = true;
#endif

class Sheet : public ::testing::Test {
  protected:
    TempDir printer, logs, scans;
    static VernierImage printOnce(const int* start) {
        Session session;  // before the first case's own
        TempDir dir, logDir;
        configure(dir.path, start);
        CliOptions o;
        o.virtualPrinterDir = dir.path;
        o.logDir = logDir.path;
        o.fastClock = true;
        EXPECT_EQ(Cli_CalibrateCommand({}, o), 0);
        VernierImage image;
        std::string error;
        EXPECT_TRUE(Vernier_LoadImage(lastSheet(dir.path), &image, &error)) << error;
        return image;
    }
    CliOptions options;
    void SetUp() override {
        options.virtualPrinterDir = printer.path;
        options.logDir = logs.path;
        options.fastClock = true;
        clearProgramError();
        configure(printer.path, START);
    }
    // The sheet's picture at 300 dpi (enough for every print, and quick to read) unless said.
    static void configure(const std::string& dir, const int* start, int sheetDpi = 300) {
        std::ofstream cfg(dir + "/printer.cfg");
        cfg << "sheet_dpi = " << sheetDpi << "\nbidir_columns = -8\nstart_bidir = ";
        for (int i = 0; i < 11; ++i) cfg << (i ? "," : "") << start[i];
        cfg << "\n";
    }
    uint8_t stored(int field) { return storedIn(printer.path, field, START); }
    static uint8_t storedIn(const std::string& dir, int field, const int* start) {
        std::string bytes = readFileBytes(dir + "/record.bin");
        if (bytes.size() < 56) return uint8_t(start[field]);  // nothing saved yet
        return uint8_t(bytes[BIDIR_OFFSETS[field]]);
    }
    // The SAVEs the virtual printer took (transaction 65 between jobs), over all its attaches.
    static int saves(const std::string& dir) {
        const std::string events = readFileBytes(dir + "/events.jsonl");
        int n = 0;
        for (size_t at = events.find("\"sub\":65"); at != std::string::npos;
             at = events.find("\"sub\":65", at + 1))
            ++n;
        return n;
    }
    // The printer's history, of one kind.
    static std::vector<HistoryEntry> history(const std::string& dir, HistoryKind kind) {
        const std::string key = History_PrinterKey(dir);
        std::vector<HistoryEntry> all, out;
        std::string error;
        History_Load(History_FilePath(key), key, &all, &error);
        for (const HistoryEntry& e : all)
            if (e.kind == kind) out.push_back(e);
        return out;
    }
    static std::string lastSheet(const std::string& dir) {
        std::filesystem::path last;
        for (const auto& e : std::filesystem::directory_iterator(dir + "/jobs"))
            if (e.path().string().find("-sheet.png") != std::string::npos && e.path() > last)
                last = e.path();
        return last.string();
    }
    std::string save(const VernierImage& image, const std::string& name) {
        std::string file = scans.path + "/" + name;
        EXPECT_TRUE(Vernier_SavePng(file, image));
        return file;
    }
};

// The cases that read this printer's sheet as printed: it is printed once for the test program
// (kept on disk for the other case processes, as ctest runs each case in its own), and only in
// a process where such a case runs.
class KeptSheet : public Sheet {
  protected:
    static VernierImage* ours;
    static void SetUpTestSuite() {
        ours = new VernierImage(sharedPicture("sheet-ours", [] { return printOnce(START); }));
    }
    static void TearDownTestSuite() {
        delete ours;
        ours = nullptr;
    }
};
VernierImage* KeptSheet::ours = nullptr;

// The same, with another printer's sheet beside it.
class ForeignSheet : public KeptSheet {
  protected:
    static VernierImage* theirs;
    static void SetUpTestSuite() {
        static const int otherStart[11] = {25, 14, 20, 25, 15, 20, 20, 20, 20, 20, 20};
        KeptSheet::SetUpTestSuite();
        theirs =
            new VernierImage(sharedPicture("sheet-theirs", [] { return printOnce(otherStart); }));
    }
    static void TearDownTestSuite() {
        KeptSheet::TearDownTestSuite();
        delete theirs;
        theirs = nullptr;
    }
};
VernierImage* ForeignSheet::theirs = nullptr;

// The mark of `type` on the picture (first pass).
SheetMarkFound markOf(const VernierImage& image, int type) {
    for (const SheetMarkFound& m : Sheet_FindMarks(image))
        if (m.mark.type == type && !m.mark.hd) return m;
    ADD_FAILURE() << "no mark of mode " << type;
    return {};
}
// Picture rows of a print and its mark: the print lies above its mark.
std::pair<uint32_t, uint32_t> bandOf(const SheetMarkFound& m) {
    const double cell = std::hypot(m.ux, m.uy);
    return {uint32_t(std::max(0.0, m.y - 16 * cell)), uint32_t(m.y + 2.5 * cell)};
}

TEST(SheetMark, EveryMarkDecodesAndNoSingleWrongCellPasses) {
    for (int type = 5; type <= 10; ++type)
        for (bool hd : {false, true})
            for (uint32_t sheet : {0u, 1u, 511u, 1023u}) {
                SheetMark in{type, hd, sheet}, out;
                const uint32_t bits = SheetMark_Encode(in);
                ASSERT_TRUE(SheetMark_Decode(bits, &out));
                EXPECT_EQ(out.type, type);
                EXPECT_EQ(out.hd, hd);
                EXPECT_EQ(out.sheet, sheet);
                for (int i = 0; i < MARK_BITS; ++i)
                    EXPECT_FALSE(SheetMark_Decode(bits ^ (1u << i), &out)) << type << " bit " << i;
            }
    EXPECT_EQ(SheetMark_Encode(SheetMark{4, false, 0}), 0u);
    EXPECT_EQ(SheetMark_Encode(SheetMark{5, false, MARK_SHEET_IDS}), 0u);
}

// One run prints, reads the printer's own picture and enters every correction; the
// verification sheet then lines up in every mode and pass.
TEST_F(Sheet, OneRunAppliesEveryModeAndPassAndTheVerificationLinesUp) {
    std::vector<std::string> args;
    if (HD) args.push_back("--hd");
    args.push_back("--apply");
    ASSERT_EQ(Cli_CalibrateCommand(args, options), 0);
    // Each mode took its own correction: the record now differs from where it started where
    // the reading was more than half a group off.
    int changed = 0;
    const int prints = HD ? 11 : 6;
    for (int f = 0; f < prints; ++f) changed += stored(f) != START[f];
    EXPECT_GE(changed, HD ? 7 : 4);
    // Both passes in one SAVE, which the history keeps with both records.
    EXPECT_EQ(saves(printer.path), 1);
    const std::vector<HistoryEntry> saved = history(printer.path, HISTORY_SAVE);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].source, "calibrate");
    EXPECT_EQ(saved[0].outcome, "saved");
    EXPECT_EQ(int(saved[0].changes.size()), changed);
    EXPECT_NE(saved[0].recordBefore, saved[0].recordAfter);
    // Every print read is in the history: mode, pass, reading, spread and the picture.
    const std::vector<HistoryEntry> readings = history(printer.path, HISTORY_READING);
    ASSERT_EQ(int(readings.size()), prints);
    int secondPass = 0;
    for (const HistoryEntry& e : readings) {
        secondPass += e.pass == 2;
        EXPECT_TRUE(e.certain) << e.mode;
        EXPECT_GT(e.spread, 0) << e.mode;
        EXPECT_NE(e.picture.find("-sheet.png"), std::string::npos) << e.picture;
        EXPECT_EQ(e.source, "calibrate");
    }
    EXPECT_EQ(secondPass, HD ? 5 : 0);
    // The verification sheet reads every mode and pass at "00" or half a group from it, and
    // saves nothing.
    args.back() = "--verify";
    EXPECT_EQ(Cli_CalibrateCommand(args, options), 0);
    EXPECT_EQ(saves(printer.path), 1);
    const std::vector<HistoryEntry> checks = history(printer.path, HISTORY_VERIFICATION);
    ASSERT_EQ(int(checks.size()), prints);
    for (const HistoryEntry& e : checks) {
        EXPECT_TRUE(e.aligned) << e.mode << " pass " << e.pass << ": " << e.reading;
        EXPECT_LE(std::fabs(e.reading), 0.5 + e.spread) << e.mode;
        EXPECT_EQ(e.source, "calibrate --verify");
    }
}

// The same from a phone photo of the sheet (its picture at 600 dpi), slanted and out of focus,
// as JPEG.
TEST_F(Sheet, ADegradedPhotoOfTheSheetIsReadAndApplied) {
    // The photo simulator over a whole sheet is the reader's sweep work: optimized builds only.
    if (!HD) GTEST_SKIP() << "photo of the sheet: optimized builds only";
    configure(printer.path, START, 600);
    ASSERT_EQ(Cli_CalibrateCommand({}, options), 0);
    VernierImage sheet;
    std::string error;
    ASSERT_TRUE(Vernier_LoadImage(lastSheet(printer.path), &sheet, &error)) << error;
    PhotoSettings s;
    // Mode 10's print needs about 290 pixels per inch of paper before the reader can be certain
    // of it; a photo just at that edge, blurred, rightly leaves it uncertain.
    s.ppi = 400;
    s.tiltXDeg = 6;
    s.rollDeg = 2;
    s.defocusPx = 0.8;
    s.jpegQuality = 88;
    VernierImage photo = Photo_Simulate(sheet, sheet.dpi, sheet.dpi, s);
    const std::string file = save(photo, "photo.png");
    VernierImage loaded;
    ASSERT_TRUE(Vernier_LoadImage(file, &loaded, &error));
    SheetScan scan = Sheet_Read(loaded);
    ASSERT_EQ(scan.prints.size(), 6u);
    for (const SheetPrint& p : scan.prints)
        EXPECT_EQ(p.verdict, SHEET_CERTAIN) << p.mark.type << ": " << p.reason;
    ASSERT_EQ(Cli_CalibrateCommand({"--scan", file, "--apply"}, options), 0);
    EXPECT_EQ(saves(printer.path), 1);
    EXPECT_EQ(Cli_CalibrateCommand({"--verify"}, options), 0);
}

// One print cut off at the picture's edge, one smudged beyond reading, one pasted in from
// another printer's sheet: the other three are entered, those are reported and left alone.
TEST_F(ForeignSheet, CutSmudgedAndPastedPrintsAreReportedAndNothingIsEnteredForThem) {
    const VernierImage& foreign = *theirs;
    VernierImage sheet = *ours;
    // Mode 8's print and mark replaced by the other sheet's, laid where ours was.
    const SheetMarkFound here = markOf(sheet, 8), there = markOf(foreign, 8);
    const int64_t dx = std::llround(there.x - here.x), dy = std::llround(there.y - here.y);
    auto [top8, bottom8] = bandOf(here);
    for (uint32_t y = top8; y < bottom8 && y < sheet.height; ++y)
        for (uint32_t x = 0; x < sheet.width; ++x) {
            const int64_t fx = x + dx, fy = y + dy;
            const bool inside =
                fx >= 0 && fy >= 0 && fx < int64_t(foreign.width) && fy < int64_t(foreign.height);
            for (int c = 0; c < 3; ++c)
                sheet.at(x, y)[c] = inside ? foreign.at(uint32_t(fx), uint32_t(fy))[c] : 255;
        }
    // Mode 7's print smeared along its bars.
    auto [top7, bottom7] = bandOf(markOf(sheet, 7));
    const double cell7 = std::hypot(markOf(sheet, 7).ux, markOf(sheet, 7).uy);
    for (uint32_t y = top7; y < uint32_t(bottom7 - 5 * cell7); ++y) {
        const std::vector<uint8_t> row(sheet.at(0, y), sheet.at(0, y) + size_t(sheet.width) * 3);
        const int64_t w = sheet.width, r = 60;
        for (int c = 0; c < 3; ++c) {
            int64_t sum = 0;
            for (int64_t x = -r; x < w; ++x) {
                if (x + r < w) sum += row[size_t(x + r) * 3 + c];
                if (x - r - 1 >= 0) sum -= row[size_t(x - r - 1) * 3 + c];
                if (x < 0) continue;
                const int64_t n = std::min(w - 1, x + r) - std::max<int64_t>(0, x - r) + 1;
                sheet.at(uint32_t(x), y)[c] = uint8_t(sum / n);
            }
        }
    }
    // The top of mode 10's print (the last printed, at the top) cut off.
    const SheetMarkFound m10 = markOf(sheet, 10);
    const uint32_t cut = uint32_t(m10.y - 7 * std::hypot(m10.ux, m10.uy));
    VernierImage cropped;
    cropped.width = sheet.width;
    cropped.height = sheet.height - cut;
    cropped.dpi = sheet.dpi;
    cropped.rgb.assign(sheet.rgb.begin() + ptrdiff_t(size_t(cut) * sheet.width * 3),
                       sheet.rgb.end());
    const std::string file = save(cropped, "damaged.png");

    SheetScan scan = Sheet_Read(cropped);
    EXPECT_FALSE(scan.contradictory) << scan.contradiction;
    ASSERT_EQ(scan.prints.size(), 7u);  // six of this sheet and the pasted one
    for (const SheetPrint& p : scan.prints) {
        const int t = p.mark.type;
        if (p.mark.sheet != scan.sheet) {
            EXPECT_EQ(t, 8);
            EXPECT_EQ(p.verdict, SHEET_FOREIGN);
        } else if (t == 8) {
            EXPECT_EQ(p.verdict, SHEET_MISSING);
        } else if (t == 7 || t == 10) {
            EXPECT_EQ(p.verdict, SHEET_UNREAD) << t;
            EXPECT_FALSE(p.advice.empty());
        } else {
            EXPECT_EQ(p.verdict, SHEET_CERTAIN) << t << ": " << p.reason;
        }
    }
    // Entered what it could, in one SAVE; the status says the sheet is not done and the three
    // are reported with what to do.
    testing::internal::CaptureStdout();
    EXPECT_EQ(Cli_CalibrateCommand({"--scan", file, "--apply"}, options), 1);
    const std::string out = testing::internal::GetCapturedStdout();
    for (int f : {2, 3, 5}) EXPECT_EQ(stored(f), START[f]) << "field " << f << " entered";
    EXPECT_NE(stored(1), START[1]);  // text mid was 2 groups off and is entered
    EXPECT_NE(stored(4), START[4]);
    EXPECT_EQ(saves(printer.path), 1);
    for (const char* said : {"  mode 7: ", "  mode 8: no mark", "  mode 10: ", "applied and saved",
                             "3 prints not entered"})
        EXPECT_NE(out.find(said), std::string::npos) << said << "\n" << out;
    const std::vector<HistoryEntry> saved = history(printer.path, HISTORY_SAVE);
    ASSERT_EQ(saved.size(), 1u);
    for (const HistoryChange& c : saved[0].changes)
        EXPECT_TRUE(c.mode != 7 && c.mode != 8 && c.mode != 10) << c.field;
    // The pasted print is another sheet's: not in this printer's history.
    for (const HistoryEntry& e : history(printer.path, HISTORY_READING)) EXPECT_NE(e.mode, 8);
}

// A mark copied onto another print (two prints claiming the same mode of the same sheet):
// nothing is entered from the sheet at all.
TEST_F(KeptSheet, MarksThatContradictEachOtherEnterNothing) {
    VernierImage sheet = *ours;
    const SheetMarkFound m5 = markOf(sheet, 5), m6 = markOf(sheet, 6);
    const double cell = std::hypot(m5.ux, m5.uy);
    const uint32_t h = uint32_t(4 * cell);
    for (uint32_t y = 0; y < h; ++y)
        std::copy_n(sheet.at(0, uint32_t(m5.y - 2 * cell) + y), size_t(sheet.width) * 3,
                    sheet.at(0, uint32_t(m6.y - 2 * cell) + y));
    const std::string file = save(sheet, "twice.png");
    SheetScan scan = Sheet_Read(sheet);
    EXPECT_TRUE(scan.contradictory);
    EXPECT_EQ(Cli_CalibrateCommand({"--scan", file, "--apply"}, options), 1);
    for (int f = 0; f < 6; ++f) EXPECT_EQ(stored(f), START[f]) << f;
    EXPECT_EQ(saves(printer.path), 0);
    EXPECT_TRUE(history(printer.path, HISTORY_SAVE).empty());
}

// A window reads on a thread of its own and records the readings on the dialog thread after;
// a verification's readings applied again enter what the same picture read first enters.
TEST_F(KeptSheet, AReadingOffTheDialogThreadIsRecordedAfterAndAVerificationMayBeAppliedAgain) {
    const std::string file = save(*ours, "sheet.png");
    History_UsePrinter(printer.path);
    CalibrateSheet verification;
    std::thread([&] { verification = Calibrate_ReadFileUnrecorded(file, true); }).join();
    ASSERT_EQ(verification.status, CALIBRATE_READ_OK);
    EXPECT_TRUE(history(printer.path, HISTORY_VERIFICATION).empty());
    Calibrate_Record(verification, CalibrateOrigin{});
    EXPECT_EQ(history(printer.path, HISTORY_VERIFICATION).size(), verification.rows.size());
    const CalibrateSheet first = Calibrate_ReadFile(file, false, CalibrateOrigin{});
    const CalibrateSheet again = Calibrate_ForApplying(verification);
    EXPECT_FALSE(again.verification);
    ASSERT_EQ(again.rows.size(), first.rows.size());
    int toEnter = 0;
    for (size_t i = 0; i < again.rows.size(); ++i) {
        EXPECT_FALSE(verification.rows[i].toEnter) << i;
        EXPECT_EQ(again.rows[i].toEnter, first.rows[i].toEnter) << i;
        EXPECT_EQ(again.rows[i].amount, first.rows[i].amount) << i;
        toEnter += again.rows[i].toEnter;
    }
    EXPECT_GE(toEnter, 4);
}

// A stored value at either end of what the console accepts cannot take a correction past it:
// refused by name (the printer has no room that way, not a save that did not reach it), the
// others still entered in the one SAVE.
TEST_F(KeptSheet, ACorrectionPastWhatTheConsoleAcceptsIsRefusedByName) {
    const SheetScan scan = Sheet_Read(*ours);
    const std::string file = save(*ours, "sheet.png");
    for (int field : {2, 1}) {  // text low and text mid, whichever way each goes
        const int amount = scan.prints[size_t(field)].amount;
        ASSERT_NE(amount, 0) << field;
        int start[11];
        std::copy(START, START + 11, start);
        start[field] = amount < 0 ? -amount - 1 : 256 - amount;
        TempDir dir;
        configure(dir.path, start);
        options.virtualPrinterDir = dir.path;
        testing::internal::CaptureStdout();
        const int status = Cli_CalibrateCommand({"--scan", file, "--apply"}, options);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, 1);
        const std::string said = std::string(Calibrate_Field(5 + field, false)) + " would become " +
                                 (amount < 0 ? "-1" : "256") +
                                 ", and the console takes 0 .. 255; the printer has no room for "
                                 "this correction that way";
        EXPECT_NE(out.find(said), std::string::npos) << out;
        EXPECT_EQ(out.find("did not reach the printer"), std::string::npos) << out;
        EXPECT_NE(out.find("applied and saved"), std::string::npos) << out;
        EXPECT_EQ(storedIn(dir.path, field, start), start[field]);
        EXPECT_NE(storedIn(dir.path, 4, start), start[4]);
        EXPECT_EQ(saves(dir.path), 1);
    }
}

// The feed steps measured on their prints go into the same sitting: proposed beside the
// sheet's readings and saved with them.
TEST_F(KeptSheet, FeedStepsMeasuredAreSavedWithTheSheet) {
    const std::string file = save(*ours, "sheet.png");
    ASSERT_EQ(Cli_CalibrateCommand({"--scan", file, "--measured", "pass4=998.5", "--measured",
                                    "pass8=1002", "--apply"},
                                   options),
              0);
    const std::string bytes = readFileBytes(printer.path + "/record.bin");
    ASSERT_EQ(bytes.size(), 56u);
    auto word = [&](size_t at) { return uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8; };
    EXPECT_EQ(word(0x0a), 9985);   // stepPass4
    EXPECT_EQ(word(0x0e), 10020);  // stepPass8
    EXPECT_EQ(word(0x0c), 10000);  // stepPass6 untouched
    EXPECT_NE(stored(1), START[1]);
    EXPECT_EQ(saves(printer.path), 1);  // the sheet and the feed steps together
    // A measurement far off is refused and nothing is saved.
    const std::string before = readFileBytes(printer.path + "/record.bin");
    EXPECT_EQ(Cli_CalibrateCommand({"--measured", "pass6=700", "--apply"}, options), 1);
    EXPECT_EQ(readFileBytes(printer.path + "/record.bin"), before);
}

}  // namespace

namespace {
// Words the command refuses, before anything is printed or read.
TEST(SheetUsage, MisusedWordsAreRefusedWithStatus2) {
    const std::vector<std::vector<std::string>> rows = {
        {"--verify", "--apply"},
        {"--scan", "x.png", "--hd"},
        {"--scan"},
        {"--marked"},
        {"--frob"},
        {"sheet"},
    };
    CliOptions options;
    for (const auto& args : rows) EXPECT_EQ(Cli_CalibrateCommand(args, options), 2) << args[0];
}
}  // namespace
