// SPDX-License-Identifier: Apache-2.0
// The parameter record as other programs, other users and a full disk meet it. One table per
// kind of trouble, with generated rows:
//  - every record-changing command run by several processes at once on every channel (the
//    front end's shared area, the virtual printer's folder, the emulated USB printer): the
//    record ends as the commands that said they succeeded asked;
//  - every record that leaves, whatever its source, meets the rules import sets, and every
//    write that fails (full disk, read-only, I/O error) is said and changes nothing;
//  - shared areas and locks another user planted, left open to others or made too short;
//  - numbers at the limits of the integer types in every numeric field.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "app/console.h"
#include "app/record_store.h"
#include "app/shared_record.h"
#include "cli/params_cmd.h"
#include "console_support.h"
#include "platform/shared_area.h"
#include "vprinter.h"

#ifdef HEADALIGN_HAVE_VERNIER
#include "app/binding.h"
#include "app/calibrate_flow.h"
#include "cli/align_cmd.h"
#include "cli/calibrate_cmd.h"
#include "history/history.h"
#include "support/product_internals.h"
#endif

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int PROCESSES = 6;

// ---- Processes at once ----------------------------------------------------------------------

// Starts every child at once (each a real process: fork, then the function or a shell
// command) and returns their exit statuses in order; -1 for one that did not exit.
std::vector<int> runAtOnce(const std::vector<std::function<int()>>& children) {
    std::vector<pid_t> pids;
    for (const auto& child : children) {
        std::fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(devnull, 2);
            _exit(child());
        }
        pids.push_back(pid);
    }
    std::vector<int> statuses;
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return statuses;
}

int shell(const std::string& command) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    return 127;
}

std::string quoted(const std::vector<std::string>& words) {
    std::string s;
    for (const std::string& w : words) s += " '" + w + "'";
    return s;
}

// The command line's command for `words` (params..., config..., align...), in this process.
int runWords(const std::vector<std::string>& words, const CliOptions& options) {
    std::vector<std::string> rest(words.begin() + 1, words.end());
    if (words[0] == "params") return Cli_ParamsCommand(rest, options);
    if (words[0] == "config") return Cli_ConfigCommand(rest, options);
#ifdef HEADALIGN_HAVE_VERNIER
    if (words[0] == "align") return Cli_AlignCommand(rest, options);
    if (words[0] == "calibrate") return Cli_CalibrateCommand(rest, options);
#endif
    return 99;
}

uint16_t fieldAt(const Bytes& record, uint8_t offset, bool word) {
    return word ? static_cast<uint16_t>(record[offset] | record[offset + 1] << 8) : record[offset];
}

Bytes sample() { return ConsoleTest::sampleRecord(); }

void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// A command that changes one field of the record, as process i of PROCESSES runs it.
struct ChangingCommand {
    const char* name;
    uint8_t offset;  // the field it changes
    bool word;
    bool adds;  // adds 1 to it; otherwise it sets process i's own value
    std::function<std::vector<std::string>(int)> words;
    std::function<int(int)> asks;
    std::function<void(const std::string& folder)> prepare;  // files the command reads
};

std::vector<ChangingCommand> changingCommands() {
    std::vector<ChangingCommand> rows = {
        {"params add", 0x03, false, true,
         [](int) {
             return std::vector<std::string>{"params", "add", "bidirTextHigh=1"};
         },
         nullptr, nullptr},
        {"params set", 0x03, false, false,
         [](int i) {
             return std::vector<std::string>{"params", "set",
                                             "bidirTextHigh=" + std::to_string(20 + i)};
         },
         [](int i) { return 20 + i; }, nullptr},
        {"params import", 0x03, false, false,
         [](int i) {
             return std::vector<std::string>{"params", "import", "in" + std::to_string(i) + ".dat",
                                             "--yes"};
         },
         [](int i) { return 40 + i; },
         [](const std::string& folder) {
             for (int i = 0; i < PROCESSES; ++i) {
                 Bytes r = sample();
                 r[3] = static_cast<uint8_t>(40 + i);
                 r.resize(60, 0);
                 writeBytes(folder + "/in" + std::to_string(i) + ".dat", r);
             }
         }},
        {"config load", 0x03, false, false,
         [](int i) {
             return std::vector<std::string>{"config", "load",
                                             "Para_0101_000" + std::to_string(i) + ".dat"};
         },
         [](int i) { return 60 + i; },
         [](const std::string& folder) {
             fs::create_directories(folder + "/Config");
             for (int i = 0; i < PROCESSES; ++i) {
                 Bytes r = sample();
                 r[3] = static_cast<uint8_t>(60 + i);
                 writeBytes(folder + "/Config/Para_0101_000" + std::to_string(i) + ".dat", r);
             }
         }},
    };
#ifdef HEADALIGN_HAVE_VERNIER
    // The measured feed step: 1000 + i mm between the crosses sets stepPass4 to 10000 + 10 i.
    rows.push_back({"align --measured --apply", 0x0a, true, false,
                    [](int i) {
                        return std::vector<std::string>{"align", "pass4", "--measured",
                                                        std::to_string(1000 + i), "--apply"};
                    },
                    [](int i) { return 10000 + 10 * i; }, nullptr});
    // The sitting's one SAVE, here of a feed step alone: stepPass6 to 10000 + 10 i.
    rows.push_back({"calibrate --measured --apply", 0x0c, true, false,
                    [](int i) {
                        return std::vector<std::string>{"calibrate", "--measured",
                                                        "pass6=" + std::to_string(1000 + i),
                                                        "--apply"};
                    },
                    [](int i) { return 10000 + 10 * i; }, nullptr});
#endif
    return rows;
}

enum Channel { THROUGH_AREA, VIRTUAL_FOLDER, EMULATED_USB };
const char* const CHANNEL_NAMES[] = {"shared area", "virtual printer folder", "emulated USB"};

class RecordTransactionTest : public ConsoleTest {
  protected:
    // Runs `command` in PROCESSES processes at once on `channel`; the statuses, and the record
    // afterwards in *after. false when the channel cannot run here.
    bool concurrently(const ChangingCommand& command, Channel channel, std::vector<int>* statuses,
                      Bytes* after) {
        const std::string folder = work.path;
        if (command.prepare) command.prepare(folder);
        std::vector<std::function<int()>> children;
        if (channel == THROUGH_AREA) {
            // Processes of this program, each starting the command as the program would, meet
            // at the stand-in front end's area under this test's names.
            EXPECT_TRUE(startHost({"--hex", hexBytes(sample())}));
            for (int i = 0; i < PROCESSES; ++i)
                children.push_back([&command, i] { return runWords(command.words(i), {}); });
            *statuses = runAtOnce(children);
            Bytes area = host.dump();
            *after = Bytes(area.begin() + 4, area.end());
            host.stop();
            return true;
        }
#ifdef HEADALIGN_BIN
        const std::string printer = folder + "/board-" + std::to_string(channel);
        fs::create_directories(printer);
        writeBytes(printer + "/record.bin", sample());
        if (channel == VIRTUAL_FOLDER) {
            for (int i = 0; i < PROCESSES; ++i)
                children.push_back([&, i] {
                    return shell(std::string(HEADALIGN_BIN) + " --virtual-printer " + printer +
                                 quoted(command.words(i)));
                });
            *statuses = runAtOnce(children);
        } else {
#ifdef VPRINTER_USB_HOST
            // One emulated printer; every process talks to it over USB.
            std::string script;
            for (int i = 0; i < PROCESSES; ++i)
                script += "(" + std::string(HEADALIGN_BIN) + quoted(command.words(i)) +
                          " >/dev/null 2>&1; echo rc" + std::to_string(i) + "=$? >>" + folder +
                          "/rc) & ";
            script += "wait";
            fs::remove(folder + "/rc");
            children.push_back([&] {
                return shell("timeout 200 " + std::string(VPRINTER_USB_HOST) + " " + printer +
                             " -- sh -c '" + script + "'");
            });
            int host = runAtOnce(children)[0];
            if (host == 77) return false;  // umockdev cannot run here
            std::string rc = readFileBytes(folder + "/rc");
            statuses->assign(PROCESSES, -1);
            for (int i = 0; i < PROCESSES; ++i) {
                size_t at = rc.find("rc" + std::to_string(i) + "=");
                if (at != std::string::npos)
                    (*statuses)[static_cast<size_t>(i)] = std::atoi(rc.c_str() + at + 3 + (i > 9));
            }
#else
            return false;
#endif
        }
        std::string stored = readFileBytes(printer + "/record.bin");
        *after = Bytes(stored.begin(), stored.end());
        return true;
#else
        return false;
#endif
    }
};

// Every record-changing command x every channel x PROCESSES processes at once: the record ends
// as the commands that reported success asked, never with a success lost.
TEST_F(RecordTransactionTest, CommandsAtOnceLoseNoSuccessOnAnyChannel) {
    VPrinter_Detach();  // the children never meet a printer of this process
    for (const ChangingCommand& command : changingCommands()) {
        for (Channel channel : {THROUGH_AREA, VIRTUAL_FOLDER, EMULATED_USB}) {
            SCOPED_TRACE(std::string(command.name) + " on the " + CHANNEL_NAMES[channel]);
            std::vector<int> statuses;
            Bytes after;
            if (!concurrently(command, channel, &statuses, &after)) continue;
            ASSERT_GE(after.size(), 56u);
            int before = fieldAt(sample(), command.offset, command.word);
            int now = fieldAt(after, command.offset, command.word);
            std::set<int> asked;
            int succeeded = 0;
            for (int i = 0; i < PROCESSES; ++i) {
                EXPECT_NE(statuses[static_cast<size_t>(i)], -1) << "process " << i;
                if (statuses[static_cast<size_t>(i)] != 0) continue;
                ++succeeded;
                if (!command.adds) asked.insert(command.asks(i));
            }
            EXPECT_GE(succeeded, 1);
            std::printf("%s on the %s: %d of %d reported success; %d -> %d\n", command.name,
                        CHANNEL_NAMES[channel], succeeded, PROCESSES, before, now);
            if (command.adds) {
                EXPECT_EQ(now, before + succeeded) << succeeded << " reported success";
            } else if (succeeded) {
                EXPECT_TRUE(asked.count(now)) << now << " was asked by no successful process";
            }
            // Every record these commands left meets the rules.
            std::string why;
            EXPECT_TRUE(checkParameterRecord(after.data(), &why)) << why;
        }
    }
}

// The console holds nothing while its operator thinks: another program's SAVE in between is
// found at SAVE, which then shows what is stored instead of overwriting it; over USB too, and
// a hold on the printer's lock keeps a SAVE waiting, then busy.
TEST_F(RecordTransactionTest, ConsoleSaveComparesBeforeItWrites) {
    storePrinterRecord(sample().data());
    startConsole();
    ASSERT_EQ(consoleState()->printerConnected, 1);
    Bytes other = sample();
    other[3] = 99;
    storePrinterRecord(other.data());  // another program saved meanwhile
    DialogModel_Type(ID_BIDIR_TEXT_HIGH_ADD, "4");
    DialogModel_ClearBoxes();
    DialogModel_Click(ID_SAVE);
    ASSERT_EQ(boxTexts().size(), 1u);
    EXPECT_NE(boxTexts()[0].find("Another program changed the parameters"), std::string::npos);
    EXPECT_EQ(printerRecord()[3], 99);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "99");
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH_ADD), "4")
        << "the entry is kept for the next SAVE";
    DialogModel_ClearBoxes();
    DialogModel_Click(ID_SAVE);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Parameter save successful!"});
    EXPECT_EQ(printerRecord()[3], 103);

    // Another program of this user holds the printer's lock: SAVE waits, then says busy.
    std::string error;
    std::string folder = FolderLock_RuntimeDir(&error);
    ASSERT_FALSE(folder.empty()) << error;
    FolderLock held;
    ASSERT_EQ(FolderLock_Take(folder, Record_PrinterLockName(VPrinter_DevicePath()).c_str(), &held)
                  .status,
              FOLDER_LOCK_TAKEN);
    // The lock is per open file: a second taker in this process is another program to it.
    DialogModel_Type(ID_BIDIR_TEXT_HIGH_ADD, "1");
    DialogModel_ClearBoxes();
    uint32_t start = fake_clock::tick();
    DialogModel_Click(ID_SAVE);
    EXPECT_GE(fake_clock::tick() - start, PRINTER_LOCK_TIMEOUT_MS);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"Printer busy, please SAVE again",
                                                    "Parameter save fail!"}));
    EXPECT_EQ(printerRecord()[3], 103);
    FolderLock_Release(&held);
}

#ifdef HEADALIGN_HAVE_VERNIER
// The calibration window's SAVE is the console's one transaction: refused when another program
// saved since the console read the record (the console then shows what is stored), then every
// value at once in one write, a correction without room refused by name, the console showing
// what was saved and the history keeping it as the window's.
TEST_F(RecordTransactionTest, CalibrationSaveFromTheConsoleIsOneTransaction) {
    History_UsePrinter(work.path);
    storePrinterRecord(sample().data());
    startConsole();
    ASSERT_EQ(consoleState()->printerConnected, 1);
    CalibrateSheet sheet;
    sheet.status = CALIBRATE_READ_OK;
    auto row = [](int mode, int pass, int amount) {
        CalibrateRow r;
        r.mode = mode, r.pass = pass, r.amount = amount;
        r.verdict = SHEET_CERTAIN;
        r.toEnter = true;
        r.field = Calibrate_Field(mode, pass == 2);
        return r;
    };
    // Text high +4, image low -3, text mid's second pass -2 (stored 1: no room that way).
    sheet.rows = {row(5, 1, 4), row(9, 1, -3), row(6, 2, -2)};
    CalibrateFeed feed;
    feed.type = 11, feed.field = "stepPass4", feed.ok = true, feed.value = 9985;
    CalibrateOrigin origin;
    origin.source = origin.save = CALIBRATE_CONSOLE_ORIGIN;
    Bytes other = sample();
    other[3] = 30, other[0x2b] = 1;
    storePrinterRecord(other.data());  // another program saved meanwhile
    const int before = printerTransactions(65);
    CalibrateApplied refused =
        Calibrate_Apply(&sheet, {feed}, origin, consoleState()->currentRecord, showParameters);
    EXPECT_EQ(refused.status, CALIBRATE_APPLY_NOT_SAVED);
    EXPECT_EQ(printerTransactions(65), before);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "30");
    CalibrateApplied applied =
        Calibrate_Apply(&sheet, {feed}, origin, consoleState()->currentRecord, showParameters);
    EXPECT_EQ(applied.status, CALIBRATE_APPLY_SAVED);
    EXPECT_EQ(printerTransactions(65), before + 1);
    const Bytes now = printerRecord();
    EXPECT_EQ(now[0x03], 34);
    EXPECT_EQ(now[0x1f], 18);
    EXPECT_EQ(now[0x2b], 1);
    EXPECT_EQ(now[0x0a] | now[0x0b] << 8, 9985);
    EXPECT_EQ(DialogModel_Text(ID_BIDIR_TEXT_HIGH), "34");
    ASSERT_EQ(applied.noRoom.size(), 1u);
    EXPECT_EQ(applied.noRoom[0].field, "bidirTextMidHd");
    EXPECT_EQ(applied.left, 1);
    EXPECT_FALSE(applied.complete());
    bool named = false;
    for (const std::string& line : applied.lines)
        named = named || line.find(
                             "bidirTextMidHd would become -1, and the console takes 0 .. "
                             "255; the printer has no room") != std::string::npos;
    EXPECT_TRUE(named);
    const std::string key = History_PrinterKey(work.path);
    std::vector<HistoryEntry> history;
    std::string error;
    ASSERT_TRUE(History_Load(History_FilePath(key), key, &history, &error)) << error;
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].kind, HISTORY_SAVE);
    EXPECT_EQ(history[0].source, "console Calibrate...");
    EXPECT_EQ(history[0].changes.size(), 3u);
    // The console's own SAVE is its own again afterwards.
    EXPECT_EQ(History_SaveOrigin(), "console SAVE");
}
#endif

// ---- Records that leave, writes that fail ---------------------------------------------------

// One broken field of an otherwise good record, named as the refusal must name it.
struct BrokenField {
    const char* name;
    std::function<void(Bytes&)> breakIt;
};
std::vector<BrokenField> brokenFields() {
    std::vector<BrokenField> rows = {
        {"stepPass4", [](Bytes& r) { r[0x0a] = r[0x0b] = 0; }},
        {"stepPass6", [](Bytes& r) { r[0x0c] = r[0x0d] = 0; }},
        {"stepPass8", [](Bytes& r) { r[0x0e] = r[0x0f] = 0; }},
        {"stepPass3", [](Bytes& r) { r[0x10] = r[0x11] = 0; }},
        {"stepPass2", [](Bytes& r) { r[0x30] = r[0x31] = 0; }},
        {"inkOrder", [](Bytes& r) { std::memset(r.data() + 0x16, 0, 8); }},
        {"featherMode", [](Bytes& r) { r[0x21] = 5; }},
        {"featherDepth", [](Bytes& r) { r[0x22] = 101; }},
        {"colorBandOn", [](Bytes& r) { r[0x27] = 0x02; }},
        {"colorBandSides", [](Bytes& r) { r[0x27] = 0x41; }},
        // A record of zeros: its first bad field is the first step.
        {"stepPass4", [](Bytes& r) { std::fill(r.begin(), r.end(), 0); }},
    };
    return rows;
}

TEST_F(RecordTransactionTest, EveryRecordThatLeavesMeetsTheImportRules) {
    for (const BrokenField& row : brokenFields()) {
        for (bool throughArea : {true, false}) {
            SCOPED_TRACE(std::string(row.name) +
                         (throughArea ? " in the area" : " in the printer"));
            Bytes broken = sample();
            row.breakIt(broken);
            Bytes printerBefore = throughArea ? sample() : broken;
            storePrinterRecord(printerBefore.data());
            if (throughArea) {
                ASSERT_TRUE(startHost({"--hex", hexBytes(broken)}));
            }
            Bytes areaBefore = throughArea ? host.dump() : Bytes{};
            DialogModel_Reset();
            DialogModel_CaptureSystemBoxes(true);
            startConsole();
            ASSERT_EQ(consoleState()->printerConnected, 1);
            int writes = printerTransactions(65);
            // SAVE with no entry: the record as it was read must not go back out broken.
            DialogModel_ClearBoxes();
            DialogModel_Click(ID_SAVE);
            std::vector<std::string> boxes = boxTexts();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].rfind("Parameter save fail!", 0), 0u) << boxes[0];
            EXPECT_NE(boxes[0].find(row.name), std::string::npos) << boxes[0];
            EXPECT_EQ(printerTransactions(65), writes);
            EXPECT_EQ(printerRecord(), printerBefore);
            // Nor as a file: export and the Config store refuse it by name too.
            const std::string file = work.path + "/out.dat";
            DialogModel_QueueFile(file);
            DialogModel_ClearBoxes();
            DialogModel_Command(ID_EXPORT);
            EXPECT_FALSE(fileExists(file));
            ASSERT_FALSE(boxTexts().empty());
            EXPECT_NE(boxTexts().back().find(row.name), std::string::npos) << boxTexts().back();
            if (throughArea) {
                EXPECT_EQ(host.dump(), areaBefore);
                host.stop();
            }
        }
    }
}

// Every write the record or a job makes x the ways a disk refuses: nothing reported as done,
// exit 1, and what was stored before stays.
TEST_F(RecordTransactionTest, EveryFailedWriteIsSaidAndChangesNothing) {
    enum Fault { DISK_FULL, READ_ONLY, IO_ERROR };
    const char* const FAULT_NAMES[] = {"disk full", "read-only", "I/O error"};
    const int ERRNOS[] = {ENOSPC, EROFS, EIO};
    enum Write { SAVE_RECORD, JOB_PICTURE, EXPORT_FILE, CONFIG_STORE };
    const char* const WRITE_NAMES[] = {"SAVE", "the job's picture", "export", "Config store"};
    storePrinterRecord(sample().data());
    const std::string file = work.path + "/export.dat";
    fs::create_directories(work.path + "/Config");
    writeBytes(work.path + "/Config/keep.dat", sample());
    for (Write write : {SAVE_RECORD, JOB_PICTURE, EXPORT_FILE, CONFIG_STORE}) {
        for (Fault fault : {DISK_FULL, READ_ONLY, IO_ERROR}) {
            // The board's own store fails on request with any error; the files the program
            // writes itself meet a real full disk (a file size limit of 0: root or not).
            bool injected = write == SAVE_RECORD && fault != DISK_FULL;
            bool limited = fault == DISK_FULL;
            if (!injected && !limited) continue;
            SCOPED_TRACE(std::string(WRITE_NAMES[write]) + " on " + FAULT_NAMES[fault]);
            VPrinterFaults faults;
            if (injected) {
                faults.failedStores = 1;
                faults.storeError = ERRNOS[fault];
            }
            VPrinter_SetFaults(faults);
            CliOptions options;  // the board attached by the fixture, with its faults
            options.logDir = work.path;
            // A job reports what its own virtual printer could not store.
            if (write == JOB_PICTURE) options.virtualPrinterDir = work.path + "/printer";
            const Bytes recordBefore = printerRecord();
            struct rlimit saved {};
            getrlimit(RLIMIT_FSIZE, &saved);
            if (limited) {
                signal(SIGXFSZ, SIG_IGN);
                struct rlimit none = saved;
                none.rlim_cur = 0;
                ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
            }
            // Not into a file: the disk is full.
            int pipeEnds[2];
            ASSERT_EQ(pipe(pipeEnds), 0);
            fcntl(pipeEnds[0], F_SETPIPE_SZ, 1 << 20);
            std::fflush(stderr);
            int savedErr = dup(2);
            dup2(pipeEnds[1], 2);
            close(pipeEnds[1]);
            int status = -1;
            switch (write) {
                case SAVE_RECORD:
                    status = Cli_ParamsCommand({"set", "bidirTextHigh=33"}, options);
                    break;
                case JOB_PICTURE:
                    status = Cli_RunJob("pattern", {"19"}, options);
                    VPrinter_WaitPaper();
                    break;
                case EXPORT_FILE:
                    status = Cli_ParamsCommand({"export", file}, options);
                    break;
                case CONFIG_STORE:
                    status = Cli_ConfigCommand({"store"}, options);
                    break;
            }
            setrlimit(RLIMIT_FSIZE, &saved);
            std::fflush(stderr);
            dup2(savedErr, 2);
            close(savedErr);
            std::string err;
            fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
            char chunk[4096];
            for (ssize_t n; (n = read(pipeEnds[0], chunk, sizeof chunk)) > 0;)
                err.append(chunk, static_cast<size_t>(n));
            close(pipeEnds[0]);
            EXPECT_EQ(status, 1) << err;
            EXPECT_EQ(err.find("successful"), std::string::npos) << err;
            EXPECT_EQ(printerRecord(), recordBefore) << "the board took a record it did not store";
            EXPECT_EQ(readFileBytes(work.path + "/printer/record.bin"),
                      std::string(recordBefore.begin(), recordBefore.end()));
            if (write == JOB_PICTURE) {
                EXPECT_NE(err.find("could not store the job: " + work.path + "/printer/jobs/"),
                          std::string::npos)
                    << err;
            }
            if (write == EXPORT_FILE) {
                EXPECT_FALSE(fileExists(file));
            }
            if (write == CONFIG_STORE) {
                size_t files = 0;
                for (const auto& e : fs::directory_iterator(work.path + "/Config"))
                    files += e.is_regular_file() ? 1 : 0;
                EXPECT_EQ(files, 1u);
            }
        }
    }
}

// --virtual-printer is that printer only: a front end's area is neither read nor written, and
// the console says which printer it is on.
TEST_F(RecordTransactionTest, VirtualPrinterNeverTouchesTheSharedArea) {
    Bytes front = sample();
    front[3] = 77;
    ASSERT_TRUE(startHost({"--hex", hexBytes(front)}));
    const Bytes areaBefore = host.dump();
    storePrinterRecord(sample().data());
    VPrinter_Detach();
    CliOptions options;
    options.virtualPrinterDir = work.path + "/printer";
    testing::internal::CaptureStdout();
    ASSERT_EQ(Cli_ParamsCommand({"show"}, options), 0);
    std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_NE(shown.find("bidirTextHigh     10\n"), std::string::npos) << shown;
    ASSERT_EQ(Cli_ParamsCommand({"add", "bidirTextHigh=2"}, options), 0);
    EXPECT_EQ(host.dump(), areaBefore);
    EXPECT_NE(DialogModel_Title().find("virtual printer " + options.virtualPrinterDir),
              std::string::npos)
        << DialogModel_Title();
    ASSERT_TRUE(VPrinter_Attach(options.virtualPrinterDir));
    EXPECT_EQ(printerRecord()[3], 12);
}

// ---- Objects another user plants ------------------------------------------------------------

struct Planted {
    int fd = -1;
    std::string name;
    ~Planted() {
        if (fd >= 0) close(fd);
        if (!name.empty()) shm_unlink(name.c_str());
    }
};

// Creates the named object as another program would: its mode, size and owner (uid -1: ours).
bool plant(Planted* p, const std::string& name, mode_t mode, size_t size, uid_t owner,
           const Bytes& content = {}) {
    p->name = "/" + name;
    shm_unlink(p->name.c_str());
    p->fd = shm_open(p->name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (p->fd < 0 || ftruncate(p->fd, static_cast<off_t>(size)) != 0) return false;
    if (!content.empty() && pwrite(p->fd, content.data(), std::min(size, content.size()), 0) < 0)
        return false;
    if (owner != static_cast<uid_t>(-1) && fchown(p->fd, owner, static_cast<gid_t>(-1)) != 0)
        return false;
    return fchmod(p->fd, mode) == 0;
}

Bytes contentOf(const Planted& p) {
    struct stat st {};
    fstat(p.fd, &st);
    Bytes bytes(static_cast<size_t>(st.st_size));
    if (!bytes.empty() && pread(p.fd, bytes.data(), bytes.size(), 0) < 0) bytes.clear();
    return bytes;
}

TEST_F(RecordTransactionTest, PlantedOrOpenAreasAreNeverUsed) {
    const uid_t OTHER_USER = 54321, OURS = static_cast<uid_t>(-1);
    const bool root = geteuid() == 0;
    Bytes good(60, 0);
    const Bytes record = sample();
    std::copy(record.begin(), record.end(), good.begin() + 4);
    struct Row {
        const char* what;
        bool lock;  // the lock is planted (the area is a good one of ours)
        mode_t mode;
        size_t size;
        bool otherOwner;   // chown to another user: root only
        const char* said;  // in the refusal box; nullptr: refused without a box
    };
    const Row rows[] = {
        {"area anyone may write", false, 0666, 4096, false, "any user may write it"},
        {"area its group may write", false, 0660, 4096, false,
         "the members of its group may write it"},
        {"area of another user", false, 0600, 4096, true, "it belongs to another user"},
        {"area nobody may open", false, 0000, 4096, root,
         root ? "it belongs to another user" : "cannot be opened"},
        {"lock anyone may write", true, 0666, 0, false, "any user may write it"},
        {"lock of another user", true, 0600, 0, true, "it belongs to another user"},
        {"area too short for a record", false, 0600, 10, false, nullptr},
        {"area of size 0", false, 0600, 0, false, nullptr},
    };
    storePrinterRecord(sample().data());
    for (const Row& row : rows) {
        for (bool atSave : {false, true}) {
            SCOPED_TRACE(std::string(row.what) + (atSave ? ", at SAVE" : ", at start-up"));
            if (row.otherOwner && !root) {
                std::printf("[ SKIPPED  ] %s: only root can give an object to another user\n",
                            row.what);
                continue;
            }
            Planted area, lock;
            DialogModel_Reset();
            DialogModel_CaptureSystemBoxes(true);
            auto plantBoth = [&] {
                uid_t owner = row.otherOwner ? OTHER_USER : OURS;
                bool a = row.lock ? plant(&area, areaName, 0600, 4096, OURS, good)
                                  : plant(&area, areaName, row.mode, row.size, owner, good);
                bool l = row.lock ? plant(&lock, lockName, row.mode, 0, owner)
                                  : plant(&lock, lockName, 0600, 0, OURS);
                return a && l;
            };
            if (!atSave) {
                ASSERT_TRUE(plantBoth());
            }
            int reads = printerTransactions(64), writes = printerTransactions(65);
            startConsole();
            if (!atSave) {
                // An area that exists is never taken for "no front end": the printer is not asked.
                EXPECT_EQ(consoleState()->printerConnected, 0);
                EXPECT_EQ(printerTransactions(64), reads);
            } else {
                ASSERT_EQ(consoleState()->printerConnected, 1);  // from the printer
                ASSERT_TRUE(plantBoth());
                DialogModel_Type(ID_BIDIR_TEXT_HIGH_ADD, "4");
                DialogModel_ClearBoxes();
                DialogModel_Click(ID_SAVE);
                EXPECT_EQ(printerTransactions(65), writes) << "SAVE went to the printer";
            }
            std::vector<std::string> boxes = boxTexts();
            std::string refusal;
            for (const std::string& b : boxes)
                if (b.find("Nothing was read from it or written into it") != std::string::npos)
                    refusal = b;
            if (row.said) {
                EXPECT_NE(refusal.find(row.said), std::string::npos) << refusal;
                if (row.otherOwner) {
                    EXPECT_NE(refusal.find("uid 54321"), std::string::npos) << refusal;
                }
            } else if (atSave) {
                ASSERT_FALSE(boxes.empty());
                EXPECT_EQ(boxes.back(), "Parameter save fail!");
            }
            Bytes expected = good;
            expected.resize(row.lock ? 4096 : row.size, 0);
            EXPECT_EQ(contentOf(area), expected) << "the planted area was written";
        }
    }
}

// An area the front end shrinks between the console's open and its copy gives no record and no
// SIGBUS: the copy is checked against the area's size as it is at that moment.
TEST_F(RecordTransactionTest, AreaShrunkWhileInUseIsRefusedNotFaulted) {
    Planted area, lock;
    Bytes good(60, 0);
    const Bytes record = sample();
    std::copy(record.begin(), record.end(), good.begin() + 4);
    ASSERT_TRUE(plant(&area, areaName, 0600, 4096, static_cast<uid_t>(-1), good));
    ASSERT_TRUE(plant(&lock, lockName, 0600, 0, static_cast<uid_t>(-1)));
    for (size_t shrunk : {size_t{0}, size_t{10}, size_t{59}}) {
        SCOPED_TRACE(shrunk);
        ASSERT_EQ(ftruncate(area.fd, 4096), 0);
        ASSERT_TRUE(openSharedArea());
        ASSERT_EQ(ftruncate(area.fd, static_cast<off_t>(shrunk)), 0);
        uint8_t record[56] = {};
        EXPECT_EQ(readSharedRecord(record), SHARED_NO_MUTEX);
        EXPECT_EQ(record[0], 0);
        ASSERT_TRUE(openSharedArea() || shrunk < 60);
        if (shrunk >= 60) continue;
        ASSERT_EQ(ftruncate(area.fd, 4096), 0);
        ASSERT_TRUE(openSharedArea());
        ASSERT_EQ(ftruncate(area.fd, static_cast<off_t>(shrunk)), 0);
        EXPECT_FALSE(writeSharedRecord(sample().data()));
        struct stat st {};
        fstat(area.fd, &st);
        EXPECT_EQ(static_cast<size_t>(st.st_size), shrunk) << "the write grew the area again";
    }
}

// ---- Numbers at the limits ------------------------------------------------------------------

TEST_F(RecordTransactionTest, NumbersAtTheIntegerLimitsAreRefusedInEveryField) {
    storePrinterRecord(sample().data());
    const Bytes before = printerRecord();
    CliOptions options;  // the fixture's board
    const std::vector<std::string> limits = {std::to_string(LONG_MIN),
                                             std::to_string(LONG_MIN + 1),
                                             std::to_string(INT_MIN),
                                             std::to_string(INT_MIN + 1),
                                             "-10000000",
                                             "10000000",
                                             std::to_string(INT_MAX),
                                             std::to_string(LONG_MAX - 1),
                                             std::to_string(LONG_MAX),
                                             "9223372036854775808",
                                             "-9223372036854775809",
                                             "99999999999999999999999"};
    int rows = 0;
    for (const std::string& field : Cli_ParamFieldNames(true)) {
        if (field == "inkOrder") continue;
        for (const char* verb : {"set", "add"})
            for (const std::string& value : limits) {
                SCOPED_TRACE(std::string(verb) + " " + field + "=" + value);
                testing::internal::CaptureStderr();
                int status = Cli_ParamsCommand({verb, field + "=" + value}, options);
                std::string err = testing::internal::GetCapturedStderr();
                EXPECT_TRUE(status == 1 || status == 2) << status << err;
                EXPECT_EQ(err.find("successful"), std::string::npos) << err;
                ++rows;
            }
    }
    EXPECT_GT(rows, 400);
    EXPECT_EQ(printerRecord(), before);
}

}  // namespace
