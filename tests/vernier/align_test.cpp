// The loop on the command line: print, scan, read, apply, verify, against the virtual printer
// with a configured bidirectional error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/align_cmd.h"
#include "cli/params_cmd.h"
#include "diag/errors.h"
#include "job/print_job.h"
#include "vernier_support.h"
#include "vprinter.h"

namespace {

class AlignLoop : public ::testing::Test {
  protected:
    TempDir printer, logs, scans;
    CliOptions options;
    void SetUp() override {
        options.virtualPrinterDir = printer.path;
        options.logDir = logs.path;
        options.fastClock = true;
        clearProgramError();
    }
    void configure(int ips, int error1440) {
        std::ofstream(printer.path + "/printer.cfg")
            << "max_picture_width = 40000\nmax_picture_height = 40000\nbidir_error = " << ips << ":" << error1440 << "\n";
    }
    uint8_t stored(uint8_t offset) {
        std::string bytes = readFileBytes(printer.path + "/record.bin");
        return bytes.size() > offset ? uint8_t(bytes[offset]) : 0;
    }
    // Prints the adjustment and writes a simulated scan of it; returns the file.
    std::string printAndScan(int type, double dpi, double angle) {
        EXPECT_EQ(Cli_RunJob("adjust", {std::to_string(type)}, options), 0);
        std::filesystem::path last;
        for (const auto& e : std::filesystem::directory_iterator(printer.path + "/jobs"))
            if (e.path().extension() == ".png" && e.path() > last) last = e.path();
        std::string events = readFileBytes(std::filesystem::path(last).replace_extension(".jsonl").string());
        auto number = [&](const char* key) {
            size_t at = events.rfind(std::string("\"") + key + "\":");
            return std::atof(events.c_str() + at + std::strlen(key) + 3);
        };
        VernierImage paper;
        std::string error;
        EXPECT_TRUE(Vernier_LoadImage(last.string(), &paper, &error)) << error;
        ScanSettings s;
        s.dpi = dpi;
        s.angleDeg = angle;
        s.jpegQuality = 85;
        VernierImage scan = Scan_Simulate(paper, number("x_dpi") / number("scale_x"), number("y_dpi") / number("scale_y"), s);
        std::vector<uint8_t> jpeg;
        EXPECT_TRUE(Vernier_EncodeJpeg(scan, 92, &jpeg));
        std::string file = scans.path + "/scan" + std::to_string(type) + ".jpg";
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), long(jpeg.size()));
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
    for (const Case c : {Case{5, 50, 0x03, -80}, Case{8, 42, 0x1e, -28}, Case{10, 26, 0x20, -28}}) {
        configure(c.ips, c.error1440);
        std::string field = Cli_AlignField(c.type, false);
        ASSERT_EQ(Cli_ParamsCommand({"set", field + "=10"}, options), 0);
        std::string scan = printAndScan(c.type, 300, 1.2);
        VernierReading before = readFile(scan);
        ASSERT_EQ(before.status, VERNIER_READ) << before.reason;
        EXPECT_GE(std::fabs(before.estimate), 1.0) << "type " << c.type;
        EXPECT_EQ(Cli_AlignCommand({std::to_string(c.type), "--verify"}, options), 1) << "type " << c.type;
        EXPECT_EQ(Cli_AlignCommand({std::to_string(c.type), "--scan", scan, "--apply"}, options), 0);
        EXPECT_EQ(stored(uint8_t(c.offset)), 10 + before.group) << "type " << c.type;
        EXPECT_EQ(Cli_AlignCommand({std::to_string(c.type), "--verify"}, options), 0) << "type " << c.type;
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
    EXPECT_EQ(stored(0x2b), 10 + before.group);
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

}  // namespace
