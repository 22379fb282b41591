// SPDX-License-Identifier: Apache-2.0
// The params and config subcommands: the dialog's validation and delivery from the command line.
#include <sys/wait.h>

#include <cstdlib>
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
    EXPECT_NE(err.find("not applied: the console refused the entry stepPass4=0"), std::string::npos)
        << err;
    EXPECT_NE(err.find("not applied: the console refused the entry stepPass3=-150"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("save successful"), std::string::npos) << err;
    std::vector<uint8_t> r = reattachedRecord();
    EXPECT_EQ(r, sampleRecord());
    EXPECT_EQ(params({"set", "noSuchField=1"}), 2);
    EXPECT_EQ(params({"set", "headDistance=1"}), 2);
    EXPECT_EQ(params({"set", "stepPass4=12x"}), 2);
}

TEST_F(CliParamsTest, InkOrderSkipBlankAndColourBand) {
    ASSERT_EQ(params({"set", "inkOrder=C1,K1,Y2,Y1,M2,M1,C2,K2", "skipLrBlank=1",
                      "colorBandSides=2", "colorBandWidth=9"}),
              0);
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
    EXPECT_NE(err.find("The file changes:\n  bidirTextHigh     50 -> 10\n"), std::string::npos)
        << err;
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

// The program itself: what its exit status and messages say about a run, for every kind of
// outcome, against the virtual printer in a temporary folder.
#ifdef HEADALIGN_BIN
struct ProgramRun {
    int status = -1;
    std::string out, err;
};

ProgramRun runProgram(const std::string& args, const std::string& folder) {
    ProgramRun r;
    std::string out = folder + "/stdout", err = folder + "/stderr";
    int st = std::system(
        (std::string(HEADALIGN_BIN) + " " + args + " >" + out + " 2>" + err + " </dev/null")
            .c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = readFileBytes(out);
    r.err = readFileBytes(err);
    return r;
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(CliProgram, ExitStatusAndMessageTellWhatHappened) {
    TempDir work;
    std::filesystem::create_directories(work.path + "/logs");
    const std::string vp = "--virtual-printer " + work.path + "/printer --log-dir " + work.path +
                           "/logs --fast-clock ";
    // A board whose version the driver refuses: the job ends with error 3.
    std::filesystem::create_directories(work.path + "/old-board");
    std::ofstream(work.path + "/old-board/printer.cfg") << "main_board_version = 0\n";
    const std::string oldBoard = "--virtual-printer " + work.path + "/old-board --log-dir " +
                                 work.path + "/logs --fast-clock ";
    struct Row {
        std::string args;
        int status;
        std::string message;  // on standard error, exactly once ("" = nothing asked)
        bool printed;         // stdout names a printed picture
    };
    const Row rows[] = {
        {"--virtual-printer '' params show", 2, "--virtual-printer needs a folder", false},
        {"--log-dir '' pattern 19", 2, "--log-dir needs a folder", false},
        {"--frob", 2, "unknown option '--frob'", false},
        {"--fast-clock pattern 19", 2, "--fast-clock goes with --virtual-printer", false},
        {vp + "pattern 19 --frob", 2, "unknown option '--frob'", false},
        {vp + "pattern 21x", 2, "unknown pattern '21x'", false},
        {vp + "pattern 19", 0, "", true},
        {vp + "pattern 0", 1, "no such pattern 0", false},
        {vp + "pattern 15", 1, "no such pattern 15", false},
        {vp + "pattern 20", 1, "no such pattern 20", false},
        {vp + "pattern 255", 1, "no such pattern 255", false},
        {vp + "adjust 0", 1, "no such pattern: adjustment 0", false},
        {vp + "adjust 4", 1, "no such pattern: adjustment 4", false},
        {vp + "adjust 16", 1, "no such pattern: adjustment 16", false},
        {vp + "adjust 255", 1, "no such pattern: adjustment 255", false},
        {vp + "params import --frob", 2, "unknown option '--frob'", false},
        {vp + "params set --frob", 2, "unknown option '--frob'", false},
        {vp + "params show --frob", 2, "unknown option '--frob'", false},
        {vp + "params export --frob", 2, "unknown option '--frob'", false},
        {vp + "params export x.dat --frob", 2, "unknown option '--frob'", false},
        {vp + "params import -y", 2, "unknown option '-y'", false},
        {vp + "config load --frob", 2, "unknown option '--frob'", false},
        {vp + "config list --frob", 2, "unknown option '--frob'", false},
        {vp + "config store extra", 2, "config takes list, store or load NAME", false},
        {oldBoard + "adjust pass4", 1, "error 3 stopped the job", false},
        {vp + "params import " + work.path + "/none.dat --yes", 1, "import Fail!", false},
        {vp + "--virtual-printer /dev/null/x pattern 19", 1,
         "cannot use the virtual printer folder", false},
        {vp + "--log-dir " + work.path + "/none pattern 19", 0,
         "the log folder " + work.path + "/none does not exist", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        ProgramRun r = runProgram(row.args, work.path);
        EXPECT_EQ(r.status, row.status) << r.err;
        if (!row.message.empty()) {
            EXPECT_EQ(occurrences(r.err, row.message), 1u) << r.err;
        }
        EXPECT_EQ(r.out.find("printed: ") != std::string::npos, row.printed) << r.out;
    }
    // A job's error text is said once, by its box; the summary only refers to it.
    ProgramRun failed = runProgram(oldBoard + "adjust pass4", work.path);
    size_t box = failed.err.find("[Tip] ");
    ASSERT_NE(box, std::string::npos) << failed.err;
    std::string boxText = failed.err.substr(box + 6, failed.err.find('\n', box) - box - 6);
    ASSERT_FALSE(boxText.empty());
    EXPECT_EQ(occurrences(failed.err, boxText), 1u) << failed.err;
    // An undefined number keeps its trace line (the last job of the minute owns the trace file).
    ASSERT_EQ(runProgram(vp + "pattern 255", work.path).status, 1);
    bool traced = false;
    for (const auto& e : std::filesystem::directory_iterator(work.path + "/logs"))
        traced = traced ||
                 readFileBytes(e.path().string()).find("未定义pattern:255") != std::string::npos;
    EXPECT_TRUE(traced);
}

// A log folder whose trace path is longer than 255 characters: the trace goes to its own file,
// never to a file named by the path cut short; a name the system cannot take turns the log
// files off for the job with a message, and the job still runs.
TEST(CliProgram, LongLogPathsAreNeverCut) {
    TempDir work;
    std::string dir = work.path + "/" + std::string(100, 'd') + "/" + std::string(100, 'd');
    ASSERT_LT(dir.size(), 251u);
    dir += std::string(251 - dir.size(), 'd');
    std::filesystem::create_directories(dir);
    std::string cut = dir + "/Y20";  // the first 255 characters of every trace path in this folder
    std::ofstream(cut) << "keep";
    const std::string vp = "--virtual-printer " + work.path + "/printer --fast-clock ";
    ProgramRun r = runProgram(vp + "--log-dir " + dir + " pattern 19", work.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFileBytes(cut), "keep");
    size_t traces = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().size() == 18 && e.path().extension() == ".txt")
            traces += readFileBytes(e.path().string()).find("喷嘴测试") != std::string::npos;
    EXPECT_EQ(traces, 1u);

    std::string tooLong = work.path + "/" + std::string(300, 'n');
    r = runProgram(vp + "--log-dir " + tooLong + " pattern 19", work.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(occurrences(r.err, "log files are off for this job"), 1u) << r.err;
}
#endif
