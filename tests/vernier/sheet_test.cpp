// SPDX-License-Identifier: Apache-2.0
// The calibration sheet: printed on the virtual printer with a different error in every mode and
// pass, read from the printer's own picture or a degraded copy, applied in one go and verified.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/sheet_scan.h"
#include "cli/calibrate_cmd.h"
#include "diag/errors.h"
#include "vernier_support.h"
#include "vprinter.h"

namespace {

class Sheet : public ::testing::Test {
  protected:
    TempDir printer, logs, scans;
    CliOptions options;
    void SetUp() override {
        options.virtualPrinterDir = printer.path;
        options.logDir = logs.path;
        options.fastClock = true;
        clearProgramError();
    }
    std::string lastSheet() {
        std::filesystem::path last;
        for (const auto& e : std::filesystem::directory_iterator(printer.path + "/jobs"))
            if (e.path().string().find("-sheet.png") != std::string::npos && e.path() > last)
                last = e.path();
        return last.string();
    }
};

TEST_F(Sheet, MarksOfEveryPrintAreFound) {
    std::ofstream(printer.path + "/printer.cfg") << "start_bidir = 20\n";
    ASSERT_EQ(Cli_CalibrateCommand({}, options), 0);
    VernierImage image;
    std::string error;
    ASSERT_TRUE(Vernier_LoadImage(lastSheet(), &image, &error)) << error;
    std::vector<SheetMarkFound> marks = Sheet_FindMarks(image);
    EXPECT_EQ(marks.size(), 6u);
    for (const auto& m : marks)
        std::printf("mark %d hd %d sheet %u at %.0f,%.0f u %.2f,%.2f\n", m.mark.type, m.mark.hd,
                    m.mark.sheet, m.x, m.y, m.ux, m.uy);
}

}  // namespace
