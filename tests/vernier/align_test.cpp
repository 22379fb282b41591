// SPDX-License-Identifier: Apache-2.0
// The loop on the command line: print, scan, read, apply, verify, against the virtual printer
// with a configured bidirectional error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "cli/align_cmd.h"
#include "cli/params_cmd.h"
#include "diag/errors.h"
#include "job/print_job.h"
#include "support/rows.h"
#include "vernier_support.h"
#include "vprinter.h"

namespace {

class AlignLoop : public ::testing::Test {
  protected:
    TempDir printer, logs, scans;
    CliOptions options;
    int scanCount = 0;
    void SetUp() override {
        options.virtualPrinterDir = printer.path;
        options.logDir = logs.path;
        options.fastClock = true;
        clearProgramError();
    }
    void configure(int ips, int error1440) {
        std::ofstream(printer.path + "/printer.cfg")
            << "max_picture_width = 40000\nmax_picture_height = 40000\nbidir_error = " << ips << ":"
            << error1440 << "\n";
    }
    // A printer whose paper moves `ppm` further per feed step than the steps say.
    void configureFeed(int ppm) {
        std::ofstream(printer.path + "/printer.cfg")
            << "max_picture_width = 40000\nmax_picture_height = 40000\nfeed_error_ppm = " << ppm
            << "\n";
    }
    uint16_t storedWord(uint8_t offset) {
        return uint16_t(stored(offset) | stored(uint8_t(offset + 1)) << 8);
    }
    // The record of the last job the virtual printer kept.
    std::string lastJobEvents() {
        std::filesystem::path last;
        for (const auto& e : std::filesystem::directory_iterator(printer.path + "/jobs"))
            if (e.path().extension() == ".jsonl" && e.path() > last) last = e.path();
        return readFileBytes(last.string());
    }
    uint8_t stored(uint8_t offset) {
        std::string bytes = readFileBytes(printer.path + "/record.bin");
        return bytes.size() > offset ? uint8_t(bytes[offset]) : 0;
    }
    // Prints the adjustment; returns the virtual printer's picture of it. The same adjustment on
    // the same printer (model file and stored record alike) prints the same paper: its earlier
    // picture serves again.
    std::map<std::string, std::string> pictures;
    std::string print(int type) {
        std::string key = std::to_string(type) + "\n" +
                          readFileBytes(printer.path + "/printer.cfg") + "\n" +
                          readFileBytes(printer.path + "/record.bin");
        if (auto found = pictures.find(key); found != pictures.end()) return found->second;
        EXPECT_EQ(Cli_RunJob("adjust", {std::to_string(type)}, options), 0);
        std::filesystem::path last;
        for (const auto& e : std::filesystem::directory_iterator(printer.path + "/jobs"))
            if (e.path().extension() == ".png" && e.path() > last) last = e.path();
        return pictures[key] = last.string();
    }
    // Prints the adjustment and writes a simulated scan of the sheet as the operator holds it;
    // returns the file.
    std::string printAndScan(int type, double dpi, double angle, double blurPx = 0.7) {
        VernierImage paper;
        std::string error;
        EXPECT_TRUE(Vernier_LoadImage(print(type), &paper, &error)) << error;
        EXPECT_GT(paper.dpi, 0);  // the picture states its size
        ScanSettings s;
        s.dpi = dpi;
        s.angleDeg = angle;
        s.jpegQuality = 85;
        s.blurPx = blurPx;
        VernierImage scan = Scan_Simulate(paper, paper.dpi, paper.dpi, s);
        std::vector<uint8_t> jpeg;
        EXPECT_TRUE(Vernier_EncodeJpeg(scan, 92, &jpeg));
        std::string file = scans.path + "/scan" + std::to_string(type) + "_" +
                           std::to_string(++scanCount) + ".jpg";
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), long(jpeg.size()));
        return file;
    }
};

// Reads a scan file as the align command will.
VernierReading readFile(const std::string& file) {
    VernierImage image;
    std::string error;
    EXPECT_TRUE(Vernier_LoadImage(file, &image, &error)) << error;
    return Vernier_Read(image);
}

// From an error within the vernier's range the loop ends with "00" lined up after one
// correction (within half a group where the error is an odd number of columns).
TEST_F(AlignLoop, OneCorrectionLinesUpGroupZero) {
    struct Case {
        int type, ips, offset, error1440;
    };
    // text high (540 dpi, -30 columns), image high/medium (720 dpi, -14), photo (1440 dpi, -28)
    const std::vector<Case> cases = {Case{5, 50, 0x03, -80}, Case{8, 42, 0x1e, -28},
                                     Case{10, 26, 0x20, -28}};
    for (const Case c : sampledRows(cases, 1)) {
        configure(c.ips, c.error1440);
        std::string field = Cli_AlignField(c.type, false);
        ASSERT_EQ(Cli_ParamsCommand({"set", field + "=10"}, options), 0);
        std::string scan = printAndScan(c.type, 300, 1.2);
        VernierReading before = readFile(scan);
        ASSERT_EQ(before.status, VERNIER_READ) << before.reason;
        EXPECT_GE(std::fabs(before.estimate), 1.0) << "type " << c.type;
        EXPECT_EQ(Cli_AlignCommand({std::to_string(c.type), "--verify"}, options), 1)
            << "type " << c.type;
        EXPECT_EQ(Cli_AlignCommand({std::to_string(c.type), "--scan", scan, "--apply"}, options),
                  0);
        EXPECT_EQ(stored(uint8_t(c.offset)), 10 + Vernier_GroupToEnter(before))
            << "type " << c.type;
        EXPECT_EQ(Cli_AlignCommand({std::to_string(c.type), "--verify"}, options), 0)
            << "type " << c.type;
    }
}

// The virtual printer's own picture given as it is to `align --scan`: every mode with a
// vernier, groups either side of "00", half steps and the ends of the range.
TEST_F(AlignLoop, ThePrintersOwnPictureReadsAsItIs) {
    struct Row {
        int mode;
        double zero;  // where the prints meet with no error: the host's rounding leaves a half step
        double target;
    };
    const std::vector<Row> rows = {
        {5, -0.5, -9}, {5, -0.5, 4.5}, {6, 0.5, 9},  {6, 0.5, -2.5}, {7, 0.5, -6},
        {7, 0.5, 0},   {8, 0.5, 7.5},  {8, 0.5, -4}, {9, 0.5, 2},    {9, 0.5, -8.5},
        {10, 0.5, -9}, {10, 0.5, 3.5}, {10, 0.5, 9},
    };
    for (const Row& row : sampledRows(rows, 3)) {
        const ModeInfo& m =
            *std::find_if(MODES, MODES + 6, [&](const ModeInfo& i) { return i.type == row.mode; });
        const double target = row.target;
        SCOPED_TRACE("mode " + std::to_string(row.mode) + " target " + std::to_string(target));
        int columns = int(std::lround(2 * (row.zero - target)));
        configure(m.ips, errorForColumns(m, columns));
        std::string picture = print(row.mode);
        testing::internal::CaptureStdout();
        int status = Cli_AlignCommand({std::to_string(row.mode), "--scan", picture}, options);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, 0) << out;
        double expected = row.zero - columns / 2.0;
        std::string says =
            std::fabs(expected - std::round(expected)) < 0.25
                ? "lines up at: \"" + Vernier_LabelText(int(std::lround(expected))) + "\""
                : "lines up between \"" + Vernier_LabelText(int(std::ceil(expected))) +
                      "\" and \"" + Vernier_LabelText(int(std::floor(expected))) + "\"";
        EXPECT_NE(out.find(says), std::string::npos) << out;
        // The printer's picture lies as the operator holds the sheet: upright.
        EXPECT_NE(out.find("; turned 0.00 degrees"), std::string::npos) << out;
    }
}

// With the second-pass box the entry goes to the second-pass value, which the print uses.
TEST_F(AlignLoop, SecondPassValuesWithHd) {
    configure(40, -67);  // -25 columns at 540 dpi
    ASSERT_EQ(Cli_ParamsCommand({"set", "bidirTextMidHd=10"}, options), 0);
    Job_SetHdMode(true);
    std::string scan = printAndScan(6, 300, -2);
    VernierReading before = readFile(scan);
    ASSERT_EQ(before.status, VERNIER_READ) << before.reason;
    EXPECT_EQ(Cli_AlignCommand({"6", "--scan", scan, "--apply", "--hd"}, options), 0);
    EXPECT_EQ(stored(0x2b), 10 + Vernier_GroupToEnter(before));
    EXPECT_EQ(stored(0x04), 0);
    EXPECT_EQ(Cli_AlignCommand({"6", "--verify", "--hd"}, options), 0);
    Job_SetHdMode(false);
    EXPECT_STREQ(Cli_AlignField(10, true), "bidirPhoto");
    EXPECT_EQ(Cli_AlignField(11, false), nullptr);
}

// A reading below zero cannot be entered: the correction is a byte without a sign.
TEST_F(AlignLoop, NegativeCorrectionIsRefusedByTheConsole) {
    configure(50, 16);  // +6 columns: the prints meet near "-4" with no correction
    std::string scan = printAndScan(5, 300, 0);
    VernierReading before = readFile(scan);
    ASSERT_EQ(before.status, VERNIER_READ) << before.reason;
    ASSERT_LT(before.group, 0);
    EXPECT_EQ(Cli_AlignCommand({"5", "--scan", scan, "--apply"}, options), 1);
    EXPECT_EQ(stored(0x03), 0);
}

TEST_F(AlignLoop, RefusesScansItCannotReadOrOfAnotherMode) {
    configure(26, 4);
    std::string scan = printAndScan(10, 300, 0.5);
    EXPECT_EQ(Cli_AlignCommand({"text-high", "--scan", scan}, options), 1);  // a photo-mode print
    EXPECT_EQ(Cli_AlignCommand({"photo", "--scan", scan}, options), 0);
    std::ofstream(scans.path + "/blank.txt") << "x";
    EXPECT_EQ(Cli_AlignCommand({"photo", "--scan", scans.path + "/blank.txt"}, options), 1);
    EXPECT_EQ(Cli_AlignCommand({"pass4", "--scan", scan}, options), 2);
    EXPECT_EQ(Cli_AlignCommand({"photo"}, options), 2);
    EXPECT_EQ(Cli_AlignCommand({"photo", "--scan", scan, "--verify"}, options), 2);
}

// What --apply does with each kind of reading and outcome, and what it says: a sharp half-way
// reading is certain, an uncertain one waits for --force, and a failure names its cause.
TEST_F(AlignLoop, ApplyOutcomesAndTheirMessages) {
    configure(50, 0);  // the ideal printer without correction: "00" and "-1" meet half-way
    const std::string halfway = printAndScan(5, 300, 0.8);
    ASSERT_EQ(Cli_ParamsCommand({"set", "bidirTextHigh=10", "bidirPhoto=10"}, options), 0);
    VernierReading sharp = readFile(halfway);
    ASSERT_EQ(sharp.status, VERNIER_READ) << sharp.reason;
    EXPECT_TRUE(sharp.halfway) << sharp.estimate;
    EXPECT_TRUE(sharp.certain) << sharp.estimate << " +/- " << sharp.sigma;
    EXPECT_EQ(Vernier_GroupToEnter(sharp), 0);
    configure(50, -80);
    const std::string off = printAndScan(5, 300, 0);
    VernierReading offReading = readFile(off);
    ASSERT_TRUE(offReading.certain && Vernier_GroupToEnter(offReading) > 0) << offReading.estimate;
    // A blurred 150-dpi scan of the photo mode whose reading the measurement is not sure of.
    configure(26, -28);
    std::string blurred;
    VernierReading unsure;
    for (double blur : {1.2, 1.4, 1.6, 1.8, 1.3, 1.5}) {
        blurred = printAndScan(10, 150, 0.5, blur);
        unsure = readFile(blurred);
        if (unsure.status == VERNIER_READ && !unsure.certain) break;
    }
    ASSERT_TRUE(unsure.status == VERNIER_READ && !unsure.certain) << unsure.reason;
    const int unsureAmount = Vernier_GroupToEnter(unsure);

    CliOptions noPrinter = options;
    noPrinter.virtualPrinterDir.clear();
    noPrinter.fastClock = false;
    const std::string missing = scans.path + "/no/such/folder/marked.png";
    struct Row {
        std::vector<std::string> args;
        bool printer;
        int status;
        const char* says;         // on standard output
        uint8_t textHigh, photo;  // stored afterwards
    };
    const Row rows[] = {
        {{"5", "--scan", halfway}, true, 0, "; certain", 10, 10},
        {{"5", "--scan", halfway, "--apply"},
         true,
         0,
         "nothing to apply: \"00\" lines up to half a group",
         10,
         10},
        {{"5", "--scan", halfway, "--marked", missing}, true, 1, "entry: bidirTextHigh", 10, 10},
        {{"5", "--scan", off, "--apply", "--marked", missing},
         true,
         1,
         "not applied: the marked scan could not be written",
         10,
         10},
        {{"5", "--scan", off, "--force"}, true, 2, "", 10, 10},
        {{"5", "--scan", off, "--apply", "--frob"}, true, 2, "", 10, 10},
        {{"5", "--scan", off, "--apply"}, false, 1, "not applied: no printer is connected", 10, 10},
        {{"10", "--scan", blurred, "--apply"},
         true,
         1,
         "not applied: the reading is not certain",
         10,
         10},
        {{"10", "--scan", blurred}, true, 0, "not certain", 10, 10},
        {{"10", "--scan", blurred, "--apply", "--force"},
         true,
         unsureAmount < -10 ? 1 : 0,
         "",
         10,
         uint8_t(unsureAmount < -10 ? 10 : 10 + unsureAmount)},
        {{"5", "--scan", off, "--apply"},
         true,
         0,
         "applied and saved",
         uint8_t(10 + Vernier_GroupToEnter(offReading)),
         uint8_t(unsureAmount < -10 ? 10 : 10 + unsureAmount)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args.back() + (row.printer ? "" : " (no printer)"));
        testing::internal::CaptureStdout();
        int status = Cli_AlignCommand(row.args, row.printer ? options : noPrinter);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, row.status) << out;
        EXPECT_NE(out.find(row.says), std::string::npos) << out;
        EXPECT_EQ(stored(0x03), row.textHigh);
        EXPECT_EQ(stored(0x20), row.photo);
    }
    EXPECT_FALSE(fileExists(missing));
}

// Millimetres between the feed-step print's two crosses on the printed paper: the blank metre
// between them is cut out of the picture, and the paper row where the second cross starts is
// kept with the cut.
double crossesApartMm(const std::string& events) {
    size_t pic = events.rfind("\"event\":\"picture\"");
    size_t origin = events.find("\"origin_row\":", pic), cut = events.find("\"at_row\":", pic);
    size_t dpi = events.find("\"y_dpi\":", pic);
    if (pic == std::string::npos || cut == std::string::npos) return 0;
    double first = std::atof(events.c_str() + origin + 13),
           second = std::atof(events.c_str() + cut + 9);
    return (second - first) * 25.4 / std::atof(events.c_str() + dpi + 8);
}

// Metres of paper moved by the feed after a print's last swath, as the printer was told it in
// steps, on a printer that moves `ppm` further per step.
double lastFeedMetres(const std::string& events, int ppm) {
    size_t at = events.rfind("\"feed\":");
    return at == std::string::npos
               ? 0
               : std::atof(events.c_str() + at + 7) / 409600.0 * (1 + ppm / 1e6);
}

// The operator measures the crosses of a printer that feeds 1.5 % short and enters the proposal;
// the production feed then lays down its rows as the ideal printer does, within a step. The
// feed-step print itself feeds a fixed count of steps, so its crosses keep measuring the printer.
TEST_F(AlignLoop, FeedStepFromTheMeasuredDistance) {
    const double STEP_METRES = 1 / 409600.0;
    ASSERT_EQ(Cli_ParamsCommand({"set", "stepPass4=10000", "stepPass2=10000"}, options), 0);
    configureFeed(0);
    ASSERT_EQ(Cli_RunJob("pattern", {"nozzle"}, options), 0);
    const double ideal = lastFeedMetres(lastJobEvents(), 0);
    ASSERT_GT(ideal, 0.02);

    configureFeed(-15000);
    ASSERT_EQ(Cli_RunJob("pattern", {"nozzle"}, options), 0);
    EXPECT_GT(std::fabs(lastFeedMetres(lastJobEvents(), -15000) - ideal), ideal * 0.01);
    ASSERT_EQ(Cli_RunJob("adjust", {"pass4"}, options), 0);
    const double measured = crossesApartMm(lastJobEvents());
    EXPECT_NEAR(measured, 985.0, 25.4 / 720);
    char typed[32];
    std::snprintf(typed, sizeof typed, "%.2f", measured);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Cli_AlignCommand({"pass4", "--measured", typed, "--apply"}, options), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(
        out.find("nominal 1000.0 mm, measured " + std::string(typed) + " mm: stepPass4 = 10000 x"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("(now 10000)\nentry: stepPass4 \"设为:\" 98"), std::string::npos) << out;
    EXPECT_NE(out.find("applied and saved"), std::string::npos) << out;
    EXPECT_EQ(storedWord(0x0a), std::lround(std::atof(typed) * 10));

    ASSERT_EQ(Cli_RunJob("pattern", {"nozzle"}, options), 0);
    EXPECT_NEAR(lastFeedMetres(lastJobEvents(), -15000), ideal, 1.5 * STEP_METRES);
    ASSERT_EQ(Cli_RunJob("adjust", {"pass4"}, options), 0);
    EXPECT_NEAR(crossesApartMm(lastJobEvents()), measured, 25.4 / 720);

    CliOptions noPrinter = options;
    noPrinter.virtualPrinterDir.clear();
    noPrinter.fastClock = false;
    struct Row {
        std::vector<std::string> args;
        bool printer;
        int status;
        const char* says;  // on standard output or standard error
        uint16_t pass2;    // stored afterwards
    };
    const Row rows[] = {
        {{"pass2", "--measured", "0"}, true, 1, "0 mm is out of reason", 10000},
        {{"pass2", "--measured", "-998"}, true, 1, "out of reason", 10000},
        {{"15", "--measured", "1100.1", "--apply"},
         true,
         1,
         "(accepted 900.0 .. 1100.0 mm)",
         10000},
        {{"15", "--measured", "899.9"}, true, 1, "out of reason", 10000},
        {{"pass2", "--measured", "nan"}, true, 1, "'nan' is not a distance in millimetres", 10000},
        {{"pass2", "--measured", "998,5"}, true, 1, "is not a distance", 10000},
        {{"pass2", "--measured", "1e400"}, true, 1, "is not a distance", 10000},
        {{"pass2", "--measured", ""}, true, 1, "is not a distance", 10000},
        {{"pass2", "--measured"}, true, 2, "needs the distance", 10000},
        {{"pass2"}, true, 2, "takes --measured MM", 10000},
        {{"pass2", "--measured", "999", "--hd"},
         true,
         2,
         "takes only --measured MM and --apply",
         10000},
        {{"pass2", "--verify"}, true, 2, "", 10000},
        {{"text-high", "--measured", "999"}, true, 2, "goes with a feed step", 10000},
        {{"pass2", "--measured", "1010.04"},
         true,
         0,
         "stepPass2 = 10000 x 1010.04 / 1000.0 = 10100 (now 10000)",
         10000},
        {{"pass2", "--measured", "1010.04", "--apply"},
         false,
         1,
         "not applied: no printer is connected",
         10000},
        {{"15", "--measured", "1010.04", "--apply"}, true, 0, "applied and saved", 10100},
        {{"15", "--measured", "1010.0", "--apply"},
         true,
         0,
         "nothing to apply: stepPass2 is already 10100",
         10100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args.back() + (row.printer ? "" : " (no printer)"));
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int status = Cli_AlignCommand(row.args, row.printer ? options : noPrinter);
        std::string said =
            testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, row.status) << said;
        EXPECT_NE(said.find(row.says), std::string::npos) << said;
        EXPECT_EQ(storedWord(0x30), row.pass2);
    }
    EXPECT_EQ(storedWord(0x0a), std::lround(std::atof(typed) * 10));
    EXPECT_STREQ(Cli_FeedStepField(13), "stepPass8");
    EXPECT_EQ(Cli_FeedStepField(10), nullptr);
}

}  // namespace
