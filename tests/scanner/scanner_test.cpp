// SPDX-License-Identifier: Apache-2.0
// Scanning through SANE's own back ends, configured in a folder of the test's (nothing
// installed system-wide): `pnm` serves pictures from files (the virtual printer's paper),
// `test` makes up pictures and returns any status the operator can meet. Also the command
// line's progress line, on a pseudo-terminal.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/align_cmd.h"
#include "cli/calibrate_cmd.h"
#include "cli/cli.h"
#include "diag/errors.h"
#include "history/history.h"
#include "platform/clock.h"
#include "platform/locale.h"
#include "platform/scanner.h"
#include "support/fakes.h"
#include "vernier/vernier.h"

namespace {

// SANE_CONFIG_DIR naming a folder with just the two back ends (no ':' after it, so the
// system's configuration is not read as well).
struct SaneConfig {
    TempDir dir;
    std::string previous;
    bool hadPrevious = false;
    explicit SaneConfig(const std::string& backends = "pnm\ntest\n") {
        std::ofstream(dir.path + "/dll.conf") << backends;
        std::ofstream(dir.path + "/test.conf") << "number_of_devices 1\n";
        if (const char* p = std::getenv("SANE_CONFIG_DIR")) previous = p, hadPrevious = true;
        setenv("SANE_CONFIG_DIR", dir.path.c_str(), 1);
    }
    ~SaneConfig() {
        if (hadPrevious)
            setenv("SANE_CONFIG_DIR", previous.c_str(), 1);
        else
            unsetenv("SANE_CONFIG_DIR");
    }
};

// SANE reads SANE_CONFIG_DIR once per process: the cases that scan in this process share one
// configuration; programs started by a case read the variable as the case has set it.
const SaneConfig& processSane() {
    static SaneConfig config;
    return config;
}

struct ProgramRun {
    int status = -1;
    std::string out, err;  // on a terminal both are in `out`
};

void drain(int fd, std::string* into) {
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) into->append(buffer, size_t(n));
}

int exitStatus(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

// The program with its output piped (standard output and standard error apart). `env` is
// added to the environment of the child.
ProgramRun runPiped(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), HEADALIGN_BIN);
    std::vector<char*> argv = argvOf(args);
    int out[2], err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1), dup2(err[1], 2);
        close(out[0]), close(err[0]), close(out[1]), close(err[1]);
        putenv(const_cast<char*>("LC_ALL=C"));  // English messages unless a case asks otherwise
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]), close(err[1]);
    ProgramRun r;
    // Standard error is small; read it after standard output is closed.
    drain(out[0], &r.out);
    drain(err[0], &r.err);
    close(out[0]), close(err[0]);
    r.status = exitStatus(pid);
    return r;
}

// The program on a pseudo-terminal (standard output and standard error both the terminal).
// When `interruptAt` appears in the output, Ctrl-C is sent, as a terminal sends it.
ProgramRun runOnTerminal(std::vector<std::string> args, const std::vector<std::string>& env = {},
                         const std::string& interruptAt = "") {
    args.insert(args.begin(), HEADALIGN_BIN);
    std::vector<char*> argv = argvOf(args);
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        putenv(const_cast<char*>("LC_ALL=C"));  // English messages unless a case asks otherwise
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        execv(argv[0], argv.data());
        _exit(127);
    }
    ProgramRun r;
    bool interrupted = false;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) {
        r.out.append(buffer, size_t(n));
        if (!interrupted && !interruptAt.empty() && r.out.find(interruptAt) != std::string::npos) {
            kill(pid, SIGINT);
            interrupted = true;
        }
    }
    close(master);
    r.status = exitStatus(pid);
    return r;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The test pictures' samples (0..255), distinct across, down and between the channels.
int sampleAt(uint32_t x, uint32_t y, int c) {
    return int((x * 7 + y * 3 + uint32_t(c) * 50) % 256);
}

// A binary PNM of `width` x `height`: P5 grey or P6 colour, 8 or 16 bits (maxval 65535: each
// sample repeated in both bytes), samples from sampleAt.
std::string writePnm(const std::string& path, char kind, uint32_t width, uint32_t height,
                     int maxval) {
    std::ofstream out(path, std::ios::binary);
    out << 'P' << kind << '\n' << width << ' ' << height << '\n' << maxval << '\n';
    const int channels = kind == '6' ? 3 : 1;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
                const int v = sampleAt(x, y, c);
                if (maxval > 255) out.put(char(v));  // PNM samples are big-endian
                out.put(char(v));
            }
    return path;
}

// ---- the seam on SANE's back ends, in this process ----

TEST(SaneBackendTest, ListsTheDevicesOfTheConfiguration) {
    processSane();
    ASSERT_TRUE(Scanner_Supported());
    std::vector<ScannerDevice> devices;
    std::string error;
    ASSERT_TRUE(Scanner_List(&devices, &error)) << error;
    std::vector<std::string> names;
    for (const ScannerDevice& d : devices) names.push_back(d.name);
    EXPECT_EQ(names, (std::vector<std::string>{"test:0", "pnm:0", "pnm:1"}));
}

// Every kind of picture the pnm back end serves comes out as the file's pixels in 8-bit RGB:
// grey and colour, and of a length unknown in advance (a hand scanner). (Its 16-bit pictures
// announce 8 bits and its three-pass frames leak: the test back end's below.)
TEST(SaneBackendTest, EveryFrameKindGivesTheFilesPixels) {
    const SaneConfig& config = processSane();
    struct Row {
        const char* name;
        char kind;
        int maxval;
        std::vector<ScanOption> options;
    };
    const Row rows[] = {
        {"grey 8", '5', 255, {}},
        {"colour 8", '6', 255, {}},
        {"hand scanner", '5', 255, {{"hand-scanner", "yes"}}},
    };
    for (const Row& row : rows) {
        const std::string file =
            writePnm(config.dir.path + "/in.pnm", row.kind, 37, 23, row.maxval);
        ScanRequest request;
        request.device = "pnm:0";
        request.options = {{"filename", file}};
        request.options.insert(request.options.end(), row.options.begin(), row.options.end());
        uint64_t lastDone = 0;
        request.progressContext = &lastDone;
        request.progress = [](void* context, uint64_t done, uint64_t) {
            *static_cast<uint64_t*>(context) = done;
        };
        ImagePixels picture;
        std::string detail;
        ASSERT_EQ(Scanner_Scan(request, &picture, &detail), ScanStatus::Ok) << row.name << detail;
        ASSERT_EQ(picture.width, 37u) << row.name;
        ASSERT_EQ(picture.height, 23u) << row.name;
        EXPECT_GT(lastDone, 0u) << row.name;
        int wrong = 0;
        for (uint32_t y = 0; y < 23; ++y)
            for (uint32_t x = 0; x < 37; ++x)
                for (int c = 0; c < 3; ++c)
                    wrong += picture.rgb[(y * 37 + x) * 3 + uint32_t(c)] !=
                             sampleAt(x, y, row.kind == '6' ? c : 0);
        EXPECT_EQ(wrong, 0) << row.name;
    }
}

// 1, 8 and 16 bits a sample give the same black and white grid; a three-pass scanner's three
// frames the same colours as one RGB frame. The test back end leaves a buffer of each frame of
// a three-pass scan behind (its reader threads), so the scans run in a child process that ends
// without the leak check, and say there what differs.
TEST(SaneBackendTest, DepthsAndFramesGiveTheSamePicture) {
    processSane();
    struct Variant {
        const char* name;
        std::vector<ScanOption> options;
    };
    const std::vector<std::vector<Variant>> groups = {
        {{"8 bits", {{"test-picture", "Grid"}, {"depth", "8"}}},
         {"16 bits", {{"test-picture", "Grid"}, {"depth", "16"}}},
         {"1 bit", {{"test-picture", "Grid"}, {"depth", "1"}}}},
        {{"one RGB frame", {{"mode", "Color"}, {"test-picture", "Color pattern"}}},
         {"three frames",
          {{"mode", "Color"}, {"three-pass", "yes"}, {"test-picture", "Color pattern"}}}},
    };
    auto compareAll = [&groups] {
        for (const std::vector<Variant>& group : groups) {
            std::vector<uint8_t> first;
            for (const Variant& v : group) {
                ScanRequest request;
                request.device = "test:0";
                request.dpi = 75;
                request.options = {{"br-x", "30"}, {"br-y", "25"}};
                request.options.insert(request.options.end(), v.options.begin(), v.options.end());
                ImagePixels picture;
                std::string detail;
                const char* wrong = nullptr;
                if (Scanner_Scan(request, &picture, &detail) != ScanStatus::Ok)
                    wrong = "not scanned";
                else if (first.empty() &&
                         (std::count(picture.rgb.begin(), picture.rgb.end(), 0) == 0 ||
                          std::count(picture.rgb.begin(), picture.rgb.end(), 255) == 0))
                    wrong = "no black or no white";
                else if (!first.empty() && picture.rgb != first)
                    wrong = "another picture than the first of its group";
                if (wrong) {
                    std::fprintf(stderr, "%s: %s %s\n", v.name, wrong, detail.c_str());
                    return false;
                }
                if (first.empty()) first = picture.rgb;
            }
        }
        return true;
    };
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) _exit(compareAll() ? 0 : 1);
    EXPECT_EQ(exitStatus(pid), 0) << "(the child said what differs above)";
}

// The request's 300 dpi grey reaches a device that has both; a cancel raised before the first
// block ends the scan with nothing.
TEST(SaneBackendTest, GreyAtThreeHundredAndCancel) {
    processSane();
    ScanRequest request;
    request.device = "test:0";
    request.options = {{"br-x", "20"}, {"br-y", "10"}, {"test-picture", "Color pattern"}};
    ImagePixels picture;
    std::string detail;
    ASSERT_EQ(Scanner_Scan(request, &picture, &detail), ScanStatus::Ok) << detail;
    EXPECT_DOUBLE_EQ(picture.dpi, 300);
    EXPECT_NEAR(picture.width, 20 / 25.4 * 300, 2);
    EXPECT_NEAR(picture.height, 10 / 25.4 * 300, 2);
    int coloured = 0;
    for (size_t i = 0; i < picture.rgb.size(); i += 3)
        coloured += picture.rgb[i] != picture.rgb[i + 1] || picture.rgb[i] != picture.rgb[i + 2];
    EXPECT_EQ(coloured, 0) << "a grey scan has grey pixels";

    std::atomic<bool> cancel{true};
    request.cancel = &cancel;
    EXPECT_EQ(Scanner_Scan(request, &picture, &detail), ScanStatus::Cancelled);
    EXPECT_TRUE(picture.rgb.empty());

    request.cancel = nullptr;
    request.maxPixels = 1000;
    EXPECT_EQ(Scanner_Scan(request, &picture, &detail), ScanStatus::TooLarge);
    EXPECT_TRUE(picture.rgb.empty());
}

// Options the operator passes through are checked against the device's own description.
TEST(SaneBackendTest, RefusedOptionsNameThemselves) {
    processSane();
    struct Row {
        ScanOption option;
        const char* said;
    };
    const Row rows[] = {
        {{"no-such-option", "1"}, "has no option 'no-such-option'"},
        {{"mode", "Purple"}, "does not take 'Purple' (it takes Gray|Color)"},
        {{"depth", "seven"}, "does not take 'seven'"},
        {{"hand-scanner", "maybe"}, "it takes yes or no"},
        {{"three-pass", "yes"}, "cannot be set now"},  // inactive in grey
    };
    for (const Row& row : rows) {
        ScanRequest request;
        request.device = "test:0";
        request.options = {row.option};
        ImagePixels picture;
        std::string detail;
        EXPECT_EQ(Scanner_Scan(request, &picture, &detail), ScanStatus::BadOption) << row.said;
        EXPECT_TRUE(contains(detail, row.said)) << detail;
    }
    ScanRequest unknown;
    unknown.device = "nope:3";
    ImagePixels picture;
    std::string detail;
    EXPECT_EQ(Scanner_Scan(unknown, &picture, &detail), ScanStatus::NoDevice);
    EXPECT_TRUE(contains(Scanner_StatusText(ScanStatus::NoDevice, detail, false), "nope:3"));
}

TEST(ScannerSeamTest, AnEmptyTableSaysNoScannerSupport) {
    static const ScannerBackend none{};
    Scanner_Install(&none);
    EXPECT_FALSE(Scanner_Supported());
    std::vector<ScannerDevice> devices;
    std::string error;
    EXPECT_FALSE(Scanner_List(&devices, &error));
    EXPECT_EQ(error, Scanner_StatusText(ScanStatus::NoSupport, "", Locale_IsChinese()));
    ImagePixels picture;
    EXPECT_EQ(Scanner_Scan(ScanRequest{}, &picture, &error), ScanStatus::NoSupport);
    Scanner_Install(nullptr);
    EXPECT_TRUE(Scanner_Supported());
    // One text per status in each language, never empty.
    for (int s = 0; s <= int(ScanStatus::Failed); ++s)
        for (bool chinese : {false, true})
            EXPECT_FALSE(Scanner_StatusText(ScanStatus(s), "", chinese).empty());
}

// ---- the command line ----

class ScanCommandTest : public ::testing::Test {
  protected:
    const SaneConfig& sane = processSane();
    TempDir printer, logs;
    // The test back end leaves its reader thread's buffer behind when it returns an error
    // status: that is SANE's, not this program's, so the leak check is off for those runs.
    const std::vector<std::string> testBackendEnv{"ASAN_OPTIONS=detect_leaks=0"};

    std::vector<std::string> withPrinter(std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"--virtual-printer", printer.path, "--fast-clock", "--log-dir", logs.path});
        return args;
    }
    uint8_t stored(uint8_t offset) {
        std::string bytes = readFileBytes(printer.path + "/record.bin");
        return bytes.size() > offset ? uint8_t(bytes[offset]) : 0;
    }
    // The virtual printer prints text high with its heads 30 columns apart, entered as 10;
    // returns its paper as a colour PNM, as the pnm back end serves it.
    std::string printMisalignedPaper() {
        std::ofstream(printer.path + "/printer.cfg")
            << "max_picture_width = 40000\nmax_picture_height = 40000\nbidir_error = 50:-80\n";
        EXPECT_EQ(runPiped(withPrinter({"params", "set", "bidirTextHigh=10"})).status, 0);
        EXPECT_EQ(runPiped(withPrinter({"adjust", "5"})).status, 0);
        return servedAsPnm(printer.path + "/jobs/0001.png", "paper.pnm");
    }
    // A picture of the printer's paper as the pnm back end serves it (a colour PNM).
    std::string servedAsPnm(const std::string& picture, const std::string& name) {
        VernierImage paper;
        std::string error;
        EXPECT_TRUE(Vernier_LoadImage(picture, &paper, &error)) << error;
        const std::string path = sane.dir.path + "/" + name;
        std::ofstream out(path, std::ios::binary);
        out << "P6\n" << paper.width << ' ' << paper.height << "\n255\n";
        out.write(reinterpret_cast<const char*>(paper.rgb.data()), long(paper.rgb.size()));
        return path;
    }
    // The options of a command run in this process on the fixture's printer.
    CliOptions inProcess() {
        CliOptions options;
        options.virtualPrinterDir = printer.path;
        options.logDir = logs.path;
        options.fastClock = true;
        clearProgramError();
        return options;
    }
    std::vector<std::string> keptScans() {
        std::vector<std::string> kept;
        for (const auto& e : std::filesystem::directory_iterator(logs.path))
            if (e.path().filename().string().rfind("Scan_M5_", 0) == 0)
                kept.push_back(e.path().string());
        return kept;
    }
};

TEST_F(ScanCommandTest, ScannersListsTheConfiguredDevices) {
    ProgramRun r = runPiped({"scanners"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* name : {"test:0\t", "pnm:0\t", "pnm:1\t"})
        EXPECT_TRUE(contains(r.out, name)) << r.out;
    SaneConfig none("");
    r = runPiped({"scanners"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "no scanner found")) << r.err;
    EXPECT_EQ(runPiped({"scanners", "extra"}).status, 2);
}

// The whole loop: the virtual printer's paper scanned through SANE is read and applied, and the
// scan kept reads the same again.
TEST_F(ScanCommandTest, ScanOfThePaperIsReadAndApplied) {
    const std::string paper = printMisalignedPaper();
    ASSERT_EQ(stored(0x03), 10);
    ProgramRun r = runPiped(withPrinter(
        {"align", "5", "--scanner", "pnm:0", "--scanner-option", "filename=" + paper, "--apply"}));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "entry: bidirTextHigh \"加减:\" 4")) << r.out;
    EXPECT_TRUE(contains(r.out, "applied and saved")) << r.out;
    EXPECT_EQ(stored(0x03), 14);
    ASSERT_EQ(keptScans().size(), 1u);
    EXPECT_TRUE(contains(r.out, "scan kept: " + keptScans()[0])) << r.out;
    // What was kept is what was read: the paper's pixels, at the resolution scanned.
    VernierImage kept, printed;
    std::string error;
    ASSERT_TRUE(Vernier_LoadImage(keptScans()[0], &kept, &error)) << error;
    ASSERT_TRUE(Vernier_LoadImage(printer.path + "/jobs/0001.png", &printed, &error)) << error;
    EXPECT_EQ(kept.rgb, printed.rgb);
    EXPECT_NEAR(kept.dpi, 300, 0.5);  // the resolution asked for, which the pnm back end states
}

// The calibration sheet scanned through SANE (the virtual printer's own sheet picture, served
// by pnm): each scan kept under a name of its own, even two in the same second; the
// verification of a sheet not yet applied fails; the sheet read and applied in one SAVE, the
// readings naming the kept scan.
TEST_F(ScanCommandTest, CalibrateScansTheWholeSheet) {
    std::ofstream(printer.path + "/printer.cfg")
        << "sheet_dpi = 300\nbidir_columns = -8\nstart_bidir = 20,18,23,21,17,22,20,20,20,20,20\n";
    const CliOptions options = inProcess();
    testing::internal::CaptureStdout();
    ASSERT_EQ(Cli_CalibrateCommand({}, options), 0);  // printed and read, nothing entered
    testing::internal::GetCapturedStdout();
    std::string sheetPicture;
    for (const auto& e : std::filesystem::directory_iterator(printer.path + "/jobs"))
        if (contains(e.path().string(), "-sheet.png")) sheetPicture = e.path().string();
    const std::string pnm = servedAsPnm(sheetPicture, "sheet.pnm");
    std::string error;
    auto keptSheets = [&] {
        std::vector<std::string> kept;
        for (const auto& e : std::filesystem::directory_iterator(logs.path))
            if (e.path().filename().string().rfind("Scan_Sheet_", 0) == 0)
                kept.push_back(e.path().string());
        std::sort(kept.begin(), kept.end());
        return kept;
    };
    const std::vector<std::string> scan = {"--scanner", "pnm:0", "--scanner-option",
                                           "filename=" + pnm};
    std::vector<std::string> verify = scan;
    verify.insert(verify.begin(), "--verify");
    // Two scans within one second of the clock (the verification reads without the printer).
    static const ClockBackend* platform = Clock_Backend();
    static const ClockBackend frozen{platform->sleepMs, platform->tickMs,
                                     [](LocalTime* t) { *t = LocalTime{2026, 12, 8, 9, 30, 15}; }};
    Clock_Install(&frozen);
    testing::internal::CaptureStdout();
    const int first = Cli_CalibrateCommand(verify, options);
    const int second = Cli_CalibrateCommand(verify, options);
    const std::string said = testing::internal::GetCapturedStdout();
    Clock_Install(nullptr);
    EXPECT_EQ(first, 1) << said;  // the sheet as printed is off in several modes
    EXPECT_EQ(second, 1);
    EXPECT_TRUE(contains(said, "not aligned: the prints meet at")) << said;
    EXPECT_TRUE(contains(said, "not verified: see above")) << said;
    ASSERT_EQ(keptSheets(),
              (std::vector<std::string>{logs.path + "/Scan_Sheet_20261208_093015.png",
                                        logs.path + "/Scan_Sheet_20261208_093015_2.png"}));
    std::vector<std::string> apply = scan;
    apply.push_back("--apply");
    testing::internal::CaptureStdout();
    EXPECT_EQ(Cli_CalibrateCommand(apply, options), 0);
    const std::string applied = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(applied, "applied and saved")) << applied;
    EXPECT_EQ(stored(0x04), 20);  // text mid, 2 groups off, entered
    const std::string events = readFileBytes(printer.path + "/events.jsonl");
    EXPECT_EQ(events.find("\"sub\":65"), events.rfind("\"sub\":65"));  // one SAVE
    ASSERT_EQ(keptSheets().size(), 3u);
    const std::string key = History_PrinterKey(printer.path);
    std::vector<HistoryEntry> history;
    ASSERT_TRUE(History_Load(History_FilePath(key), key, &history, &error)) << error;
    int fromScanner = 0;
    for (const HistoryEntry& e : history)
        if (e.source == "calibrate --scanner") {
            ++fromScanner;
            EXPECT_EQ(e.picture, keptSheets()[2]);
        }
    EXPECT_EQ(fromScanner, 6);
    // Printed on the virtual printer, the sheet now lines up in every mode.
    testing::internal::CaptureStdout();
    EXPECT_EQ(Cli_CalibrateCommand({"--verify"}, options), 0);
    testing::internal::GetCapturedStdout();
}

// Ctrl-C during the scan (the command line's answer to an interrupt, called as the interrupt's
// thread calls it, after the back end's first block) stops the scan: nothing is entered.
TEST_F(ScanCommandTest, CancelMidScanLeavesNothingApplied) {
    const std::string paper = printMisalignedPaper();
    static const ScannerBackend* sane = Platform_DefaultScanner();
    static const ScannerBackend interruptedAfterOneBlock{
        .list = sane->list,
        .scan =
            [](const ScanRequest& request, ImagePixels* out, std::string* detail) {
                static ScanRequest wrapped;
                wrapped = request;
                wrapped.progress = [](void*, uint64_t, uint64_t) {
                    EXPECT_TRUE(Cli_OnInterrupt());
                };
                return sane->scan(wrapped, out, detail);
            },
    };
    Scanner_Install(&interruptedAfterOneBlock);
    const CliOptions options = inProcess();
    testing::internal::CaptureStderr();
    int status = Cli_AlignCommand(
        {"5", "--scanner", "pnm:0", "--scanner-option", "filename=" + paper, "--apply"}, options);
    std::string err = testing::internal::GetCapturedStderr();
    Scanner_Install(nullptr);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(contains(err, "the scan was cancelled")) << err;
    EXPECT_EQ(stored(0x03), 10);
    EXPECT_TRUE(keptScans().empty());
    // Outside the scan an interrupt is no longer the scan's.
    EXPECT_FALSE(Cli_OnInterrupt());
}

// Each status the device can answer ends the command with status 1 and the operator's words.
TEST_F(ScanCommandTest, DeviceErrorsInTheOperatorsWords) {
    struct Row {
        const char* status;
        const char* english;
        const char* chinese;
    };
    const Row rows[] = {
        {"SANE_STATUS_COVER_OPEN", "the scanner's cover is open: close it", "扫描仪盖板打开"},
        {"SANE_STATUS_JAMMED", "the paper is jammed in the scanner", "扫描仪卡纸"},
        {"SANE_STATUS_NO_DOCS", "no document in the scanner", "扫描仪中没有文档"},
        {"SANE_STATUS_DEVICE_BUSY", "the scanner is busy", "扫描仪正忙"},
        {"SANE_STATUS_CANCELLED", "the scan was cancelled", "扫描已取消"},
        {"SANE_STATUS_IO_ERROR", "the scanner stopped answering", "扫描仪无响应"},
        {"SANE_STATUS_NO_MEM", "the scanner ran out of memory", "扫描仪内存不足"},
        {"SANE_STATUS_ACCESS_DENIED", "this user may not use the scanner", "无权使用扫描仪"},
    };
    for (const Row& row : rows) {
        for (bool chinese : {false, true}) {
            std::vector<std::string> env = testBackendEnv;
            env.push_back(chinese ? "LC_ALL=zh_CN.UTF-8" : "LC_ALL=C");
            ProgramRun r =
                runPiped(withPrinter({"align", "5", "--scanner", "test:0", "--scanner-option",
                                      std::string("read-return-value=") + row.status, "--apply"}),
                         env);
            EXPECT_EQ(r.status, 1) << row.status;
            EXPECT_TRUE(contains(r.err, chinese ? row.chinese : row.english))
                << row.status << ": " << r.err;
        }
    }
    EXPECT_TRUE(keptScans().empty());
}

TEST_F(ScanCommandTest, UsageOfTheScannerOptions) {
    struct Row {
        std::vector<std::string> args;
        int status;
        const char* said;
    };
    const Row rows[] = {
        {{"align", "5", "--scanner-option", "mode=Gray"},
         2,
         "--scanner-option goes with --scanner"},
        {{"align", "5", "--scanner", "--scanner-option", "mode"}, 2, "needs NAME=VALUE"},
        {{"align", "5", "--scanner", "--scan", "x.png"}, 2, "not both"},
        {{"align", "5", "--scanner", "--verify"}, 2, "give either"},
        {{"align", "11", "--scanner", "--measured", "1000"}, 2, "a feed step takes only"},
        {{"align", "5", "--scanner", "nope:3"}, 1, "no scanner nope:3 found"},
        {{"align", "5", "--scanner", "test:0", "--scanner-option", "mode=Purple"},
         1,
         "does not take 'Purple'"},
        {{"calibrate", "--scanner-option", "mode=Gray"}, 2, "--scanner-option goes with --scanner"},
        {{"calibrate", "--scanner", "--scan", "x.png"}, 2, "not both"},
        {{"calibrate", "--scanner", "--hd"}, 2, "--hd goes with printing"},
        {{"calibrate", "--feed", "--scanner"}, 2, "--feed prints the feed-step prints alone"},
        {{"calibrate", "--scanner", "nope:3"}, 1, "no scanner nope:3 found"},
    };
    for (const Row& row : rows) {
        ProgramRun r = runPiped(withPrinter(row.args), testBackendEnv);
        EXPECT_EQ(r.status, row.status) << row.said;
        EXPECT_TRUE(contains(r.err, row.said)) << row.said << ": " << r.err;
    }
}

// Ctrl-C on the terminal during a slow scan: the scan stops, the command says so.
TEST_F(ScanCommandTest, CtrlCOnTheTerminalCancelsTheScan) {
    ProgramRun r = runOnTerminal(
        withPrinter({"align", "5", "--scanner", "test:0", "--scanner-option", "read-limit=yes",
                     "--scanner-option", "read-limit-size=64", "--scanner-option", "read-delay=yes",
                     "--scanner-option", "read-delay-duration=20000", "--apply"}),
        testBackendEnv, "scanning test:0");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "the scan was cancelled")) << r.out;
    EXPECT_FALSE(contains(r.out, "scan kept")) << r.out;
}

// On a terminal a job shows one progress line and its summary instead of the trace stream;
// --trace brings the trace back; piped, standard output carries the trace as it always did.
TEST_F(ScanCommandTest, JobProgressOnATerminal) {
    const std::string traceLine = "TX CMD(";
    ProgramRun quiet = runOnTerminal(withPrinter({"adjust", "11"}));
    EXPECT_EQ(quiet.status, 0) << quiet.out;
    EXPECT_TRUE(contains(quiet.out, "\rprinting: swath ")) << quiet.out;
    EXPECT_TRUE(contains(quiet.out, " of 195 sent, paper fed ")) << quiet.out;
    EXPECT_TRUE(contains(quiet.out, " of 1000 mm")) << quiet.out;
    EXPECT_TRUE(contains(quiet.out, " left")) << quiet.out;
    EXPECT_TRUE(contains(quiet.out, "\rprinted: 195 swaths sent, 1000 mm of paper fed in "))
        << quiet.out;
    EXPECT_FALSE(contains(quiet.out, traceLine)) << quiet.out;
    // The trace file has every line all the same.
    bool traced = false;
    for (const auto& e : std::filesystem::directory_iterator(logs.path))
        if (e.path().filename().string()[0] == 'Y')
            traced = traced || contains(readFileBytes(e.path().string()), traceLine);
    EXPECT_TRUE(traced);

    ProgramRun traces = runOnTerminal({"--trace", "--virtual-printer", printer.path, "--fast-clock",
                                       "--log-dir", logs.path, "adjust", "5"});
    EXPECT_EQ(traces.status, 0);
    EXPECT_TRUE(contains(traces.out, traceLine));
    EXPECT_FALSE(contains(traces.out, "printing:"));

    ProgramRun piped = runPiped(withPrinter({"adjust", "5"}));
    EXPECT_EQ(piped.status, 0);
    EXPECT_TRUE(contains(piped.out, traceLine));
    EXPECT_FALSE(contains(piped.err, "printing:"));
    EXPECT_FALSE(contains(piped.err, "printed: 2"));
}

}  // namespace
