// The params and config subcommands: the dialog's validation and delivery from the command line.
#include <filesystem>
#include <fstream>

#include "cli/params_cmd.h"
#include "console_support.h"
#include "vprinter.h"

namespace {

class CliParamsTest : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        storePrinterRecord(sampleRecord().data());
        options.virtualPrinterDir = work.path + "/printer";
    }
    int params(std::vector<std::string> args) { return Cli_ParamsCommand(args, options); }
    std::vector<uint8_t> reattachedRecord() {
        VPrinter_Attach(options.virtualPrinterDir);
        return printerRecord();
    }
    CliOptions options;
};

TEST_F(CliParamsTest, ShowJsonNamesEveryFieldAndKeepsTracesOffStdout) {
    testing::internal::CaptureStdout();
    ASSERT_EQ(params({"show", "--json"}), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.front(), '{');
    EXPECT_NE(out.find("\"bidirTextHigh\": 10"), std::string::npos);
    EXPECT_NE(out.find("\"stepPass6\": 300"), std::string::npos);
    EXPECT_NE(out.find("\"inkOrder\": [7, 6, 5, 4, 3, 2, 1, 0]"), std::string::npos);
    EXPECT_NE(out.find("\"colorBandSides\": 3"), std::string::npos);
    EXPECT_NE(out.find("\"bidirImageLowHd\": 34"), std::string::npos);
}

TEST_F(CliParamsTest, SetEntersTheDifferenceOnAddRowsAndSaves) {
    ASSERT_EQ(params({"set", "bidirTextHigh=12", "stepPass4=500", "startOffset=20"}), 0);
    std::vector<uint8_t> r = reattachedRecord();
    EXPECT_EQ(r[0x03], 12);
    EXPECT_EQ(r[0x0a] | r[0x0b] << 8, 500);
    EXPECT_EQ(r[0x14], 20);
    EXPECT_EQ(r[0x2a], 30);  // the second-pass value is untouched
}

TEST_F(CliParamsTest, AddAndTheSecondPassBox) {
    ASSERT_EQ(params({"add", "bidirTextHighHd=-5", "featherDepth=10"}), 0);
    std::vector<uint8_t> r = reattachedRecord();
    EXPECT_EQ(r[0x2a], 25);
    EXPECT_EQ(r[0x03], 10);
    EXPECT_EQ(r[0x22], 50);
    EXPECT_EQ(params({"set", "--hd", "bidirTextHigh=1"}), 2);
}

TEST_F(CliParamsTest, RefusalsOfTheDialogFailTheCommandAndDeliverNothing) {
    EXPECT_EQ(params({"set", "featherDepth=101"}), 1);
    EXPECT_EQ(params({"set", "bidirTextLow=-1"}), 1);
    EXPECT_EQ(params({"set", "inkOrder=K2,K2,Y2,Y1,M2,M1,C2,C1"}), 1);
    EXPECT_EQ(params({"set", "colorBandMargin=300"}), 1);
    // A step's entry takes 0 as "leave it": refused by name, never announced as saved.
    testing::internal::CaptureStderr();
    EXPECT_EQ(params({"set", "stepPass4=0"}), 1);
    EXPECT_EQ(params({"add", "stepPass3=-150"}), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("not applied: the console refused the entry stepPass4=0"), std::string::npos) << err;
    EXPECT_NE(err.find("not applied: the console refused the entry stepPass3=-150"), std::string::npos) << err;
    EXPECT_EQ(err.find("save successful"), std::string::npos) << err;
    std::vector<uint8_t> r = reattachedRecord();
    EXPECT_EQ(r, sampleRecord());
    EXPECT_EQ(params({"set", "noSuchField=1"}), 2);
    EXPECT_EQ(params({"set", "headDistance=1"}), 2);
    EXPECT_EQ(params({"set", "stepPass4=12x"}), 2);
}

TEST_F(CliParamsTest, InkOrderSkipBlankAndColourBand) {
    ASSERT_EQ(params({"set", "inkOrder=C1,K1,Y2,Y1,M2,M1,C2,K2", "skipLrBlank=1", "colorBandSides=2",
                      "colorBandWidth=9"}), 0);
    std::vector<uint8_t> r = reattachedRecord();
    EXPECT_EQ(r[0x16], 0);  // K2 in the rightmost slot
    EXPECT_EQ(r[0x1d], 7);  // C1 in the leftmost slot
    EXPECT_EQ(r[0x26], 1);
    EXPECT_EQ(r[0x27], 0x21);
    EXPECT_EQ(r[0x29], 9);
}

TEST_F(CliParamsTest, ExportImportAndTheConfigFolder) {
    std::string file = work.path + "/saved.dat";
    ASSERT_EQ(params({"export", file}), 0);
    EXPECT_EQ(readFileBytes(file).size(), 60u);
    ASSERT_EQ(params({"set", "bidirTextHigh=50"}), 0);
    testing::internal::CaptureStderr();
    ASSERT_EQ(params({"import", file, "--yes"}), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("The file changes:\n  bidirTextHigh     50 -> 10\n"), std::string::npos) << err;
    EXPECT_EQ(reattachedRecord()[0x03], 10);
    // --yes skips the question, not the checks: a file of zeros is refused, saying why, once.
    std::string zeros = work.path + "/zeros.dat";
    { std::ofstream(zeros, std::ios::binary) << std::string(60, '\0'); }
    testing::internal::CaptureStderr();
    EXPECT_EQ(params({"import", zeros, "--yes"}), 1);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("import Fail!"), err.rfind("import Fail!")) << err;
    EXPECT_NE(err.find(zeros + ": stepPass4 is 0"), std::string::npos) << err;
    EXPECT_EQ(reattachedRecord(), printerRecord());
    EXPECT_EQ(reattachedRecord()[0x0a], 100);

    std::filesystem::create_directories(work.path + "/Config");
    EXPECT_EQ(Cli_ConfigCommand({"store"}, options), 0);
    ASSERT_TRUE(fileExists(work.path + "/Config/Para_1206_2103.dat"));
    ASSERT_EQ(params({"set", "bidirTextHigh=60"}), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Cli_ConfigCommand({"list"}, options), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Para_1206_2103.dat\n");
    EXPECT_EQ(Cli_ConfigCommand({"load", "Para_1206_2103.dat"}, options), 0);
    EXPECT_EQ(reattachedRecord()[0x03], 10);
    EXPECT_EQ(Cli_ConfigCommand({"load", "missing.dat"}, options), 1);
}

TEST_F(CliParamsTest, NotConnectedRefusesEveryChange) {
    VPrinterFaults faults;
    faults.disappearOpens = 1000;
    VPrinter_SetFaults(faults);
    options.virtualPrinterDir.clear();  // keep the faulty board attached
    EXPECT_EQ(params({"show"}), 1);
    EXPECT_EQ(params({"set", "bidirTextHigh=1"}), 1);
    EXPECT_EQ(Cli_ConfigCommand({"store"}, options), 1);
}

}  // namespace
