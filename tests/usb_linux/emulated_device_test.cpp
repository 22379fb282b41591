// SPDX-License-Identifier: Apache-2.0
// The libusb back end against the virtual printer plugged in as an emulated USB device: the
// unmodified headalign binary runs under headalign-vprinter, so every byte crosses libusb and
// the usbfs requests, and the board checks each packet.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "history/history.h"

#include "support/fakes.h"

namespace {

struct CommandRun {
    int status = -1;
    std::string output;
};

CommandRun runShell(const std::string& command) {
    CommandRun r;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return r;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) r.output.append(chunk, n);
    int st = pclose(pipe);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// A count from the host's summary line ("headalign-vprinter: protocol-errors=0 opens=1 ...").
long counter(const std::string& output, const std::string& key) {
    size_t line = output.rfind("headalign-vprinter: protocol-errors=");
    if (line == std::string::npos) return -1;
    size_t at = output.find(" " + key + "=", line);
    if (at == std::string::npos) return -1;
    return std::strtol(output.c_str() + at + key.size() + 2, nullptr, 10);
}

bool jobEndedOk(const CommandRun& r) {
    return r.status == 0 && r.output.find("Task end!") != std::string::npos &&
           r.output.find("headalign: error") == std::string::npos;
}

class EmulatedUsb : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef VPRINTER_USB_HOST
        GTEST_SKIP() << "built without libusb or umockdev: no emulated USB device";
#else
        CommandRun probe =
            runShell(std::string(VPRINTER_USB_HOST) + " " + state.path + "/probe -- true");
        if (probe.status == 77) GTEST_SKIP() << "umockdev cannot run here: " << probe.output;
        ASSERT_EQ(probe.status, 0) << probe.output;
#endif
    }

    // headalign ARGS run against the emulated printer with state folder SUBDIR.
    CommandRun emulated(const std::string& options, const std::string& args,
                        const std::string& subdir = "board") {
#ifdef VPRINTER_USB_HOST
        return runShell(std::string("timeout 200 ") + VPRINTER_USB_HOST + " " + state.path + "/" +
                        subdir + " " + options + " -- " + HEADALIGN_BIN + " " + args);
#else
        (void)options, (void)args, (void)subdir;
        return {};
#endif
    }

    CommandRun inProcess(const std::string& args, const std::string& subdir) {
#ifdef HEADALIGN_BIN
        return runShell(std::string("timeout 200 ") + HEADALIGN_BIN + " --virtual-printer " +
                        state.path + "/" + subdir + " " + args);
#else
        (void)args, (void)subdir;
        return {};
#endif
    }

    std::string paper(const std::string& subdir, const char* job = "0001") {
        return readFileBytes(state.path + "/" + subdir + "/jobs/" + job + ".png");
    }

    TempDir state;
};

// ---- Jobs and transactions over the real USB stack ---------------------------------------

TEST_F(EmulatedUsb, NozzleCheckPrintsTheSamePaperAsTheInProcessBoard) {
    CommandRun usb = emulated("", "pattern nozzle");
    ASSERT_TRUE(jobEndedOk(usb)) << usb.output;
    EXPECT_NE(usb.output.find("校准测试结束"), std::string::npos);
    EXPECT_EQ(counter(usb.output, "protocol-errors"), 0) << usb.output;
    EXPECT_EQ(counter(usb.output, "claims"), counter(usb.output, "opens"));
    // Each DATA batch went out as one bulk OUT transfer: far fewer requests than packets.
    EXPECT_GT(counter(usb.output, "bulk-out-bytes"), 600000);
    EXPECT_LT(counter(usb.output, "bulk-out"), 40);

    CommandRun seam = inProcess("pattern nozzle", "seam");
    ASSERT_EQ(seam.status, 0) << seam.output;
    std::string viaUsb = paper("board"), viaSeam = paper("seam");
    ASSERT_FALSE(viaUsb.empty());
    EXPECT_TRUE(viaUsb == viaSeam) << "the paper printed through libusb differs from the seam's";
}

TEST_F(EmulatedUsb, BidirectionalAdjustmentEndsAndMatchesTheInProcessBoard) {
    CommandRun usb = emulated("", "adjust text-high");
    ASSERT_TRUE(jobEndedOk(usb)) << usb.output;
    EXPECT_EQ(counter(usb.output, "protocol-errors"), 0) << usb.output;
    CommandRun seam = inProcess("adjust text-high", "seam");
    ASSERT_EQ(seam.status, 0) << seam.output;
    EXPECT_TRUE(paper("board") == paper("seam"));
}

TEST_F(EmulatedUsb, ParameterRecordReadAndSavedThroughTransactions) {
    CommandRun before = emulated("", "params show");
    ASSERT_EQ(before.status, 0) << before.output;
    EXPECT_NE(before.output.find("stepPass2         10000"), std::string::npos) << before.output;
    CommandRun save = emulated("", "params set stepPass2=10010");
    ASSERT_EQ(save.status, 0) << save.output;
    CommandRun after = emulated("", "params show");
    EXPECT_NE(after.output.find("stepPass2         10010"), std::string::npos) << after.output;
    // Read (64), then read and write (64, 65): one bulk OUT request and one reply each.
    EXPECT_EQ(counter(save.output, "bulk-out"), 2);
    EXPECT_EQ(counter(save.output, "protocol-errors"), 0) << save.output;
}

TEST_F(EmulatedUsb, StateFolderIsOneProgramsAtATime) {
    // The emulation holds the folder: the command it runs may not take the same one.
    const std::string dir = state.path + "/board";
    CommandRun inner = emulated("", "--virtual-printer " + dir + " params show");
    EXPECT_NE(inner.status, 0) << inner.output;
    EXPECT_NE(
        inner.output.find("headalign: virtual printer busy: " + dir + " is in use by process "),
        std::string::npos)
        << inner.output;
    EXPECT_EQ(inner.output.find("in use by another process"), std::string::npos) << inner.output;
    // Ten programs at once on one folder: each either adds its 1 or is turned away, none lost.
    CommandRun adds = runShell("for i in 1 2 3 4 5 6 7 8 9 10; do (" + std::string(HEADALIGN_BIN) +
                               " --virtual-printer " + dir +
                               " params add bidirTextHigh=1 >/dev/null 2>&1;"
                               " echo \"rc=$?\") & done; wait");
    int succeeded = 0;
    for (size_t p = adds.output.find("rc=0"); p != std::string::npos;
         p = adds.output.find("rc=0", p + 1))
        ++succeeded;
    ASSERT_GE(succeeded, 1) << adds.output;
    CommandRun show = inProcess("params show", "board");
    EXPECT_NE(show.output.find("bidirTextHigh     " + std::to_string(succeeded) + "\n"),
              std::string::npos)
        << succeeded << " succeeded\n"
        << show.output;
}

// ---- Enumeration --------------------------------------------------------------------------

TEST_F(EmulatedUsb, DevicesOfTheSameVendorWithAnotherProductAreSkipped) {
    CommandRun r = emulated("--decoys", "params show");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("recordMark"), std::string::npos);
    // A decoy was opened, found not to be the printer and closed, never claimed.
    EXPECT_GE(counter(r.output, "decoy-opens"), 1) << r.output;
    EXPECT_EQ(counter(r.output, "claims"), counter(r.output, "opens"));
}

TEST_F(EmulatedUsb, SeveralHandlesShareTheBoardAndBothResetsKeepTheLinkUsable) {
#ifdef USB_PROBE_BIN
    CommandRun r =
        runShell(std::string("timeout 100 ") + VPRINTER_USB_HOST + " " + state.path +
                 "/board --decoys -- " + USB_PROBE_BIN + " --handles 3 --pipe-reset --soft-reset");
    ASSERT_EQ(r.status, 0) << r.output;
    // Paths carry the identity; the list shows both decoys and the printer.
    EXPECT_NE(r.output.find("usb#vid_2408&pid_0003#"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("usb#vid_2408&pid_0004#"), std::string::npos);
    EXPECT_NE(r.output.find("handles: 3 more open at once: ok"), std::string::npos);
    EXPECT_NE(r.output.find("after soft reset: record read (mark 0xAC)"), std::string::npos);
    // Four handles, one usbfs open: the interface is claimed once, and again after the
    // device reset (libusb claims it back); the pipe reset clears both endpoints.
    EXPECT_EQ(counter(r.output, "opens"), 1);
    EXPECT_EQ(counter(r.output, "claims"), 2);
    EXPECT_EQ(counter(r.output, "clear-halts"), 2);
    EXPECT_EQ(counter(r.output, "resets"), 1);
    EXPECT_EQ(counter(r.output, "protocol-errors"), 0) << r.output;
#endif
}

// ---- Faults through the real stack --------------------------------------------------------

TEST_F(EmulatedUsb, UnplugDuringASwathReconnectsAfterReplugAndFinishes) {
    CommandRun r = emulated("--unplug-at-data 1 --replug-after 300", "pattern nozzle");
    EXPECT_EQ(counter(r.output, "unplugs"), 1) << r.output;
    EXPECT_EQ(counter(r.output, "replugs"), 1);
    EXPECT_NE(r.output.find("LIBUSB_ERROR_NO_DEVICE"), std::string::npos);
    EXPECT_NE(r.output.find("重新连接成功!"), std::string::npos) << r.output;
    EXPECT_TRUE(jobEndedOk(r)) << r.output;
    // The swath is sent again from its block after the reconnection: nothing out of order.
    EXPECT_EQ(counter(r.output, "protocol-errors"), 0) << r.output;
}

TEST_F(EmulatedUsb, UnplugWithoutReplugEndsWithError17) {
    CommandRun r = emulated("--unplug-at-data 1", "pattern nozzle");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("XXXX连接失败"), std::string::npos) << r.output;
    // With the printer gone the search ends empty-handed: "no more items", as on Windows.
    EXPECT_NE(r.output.find("第10连接失败(error code:259)"), std::string::npos);
    EXPECT_NE(r.output.find("headalign: error 17"), std::string::npos) << r.output;
}

TEST_F(EmulatedUsb, HungReplyIsCutShortByThePipeResetOnASecondHandle) {
    // The reply to the job creation never arrives: the watchdog's hard reset opens its own
    // handle while the link's read is pending, cancels that read and clears both halts.
    CommandRun r = emulated("--lose-reply 3", "pattern nozzle");
    EXPECT_NE(r.output.find("应答等待超时:2000ms"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Rx error:995"), std::string::npos);
    EXPECT_GE(counter(r.output, "discards"), 1);
    EXPECT_GE(counter(r.output, "clear-halts"), 2);
    EXPECT_TRUE(jobEndedOk(r)) << r.output;
    EXPECT_EQ(counter(r.output, "protocol-errors"), 0) << r.output;
}

TEST_F(EmulatedUsb, SwathWhoseReplyIsLostIsResentAndPrintedOnce) {
    // Reply 6 answers a swath; the board never learns it was lost. The host's read times out,
    // it reconnects and sends the swath again: acknowledged, not printed a second time.
    CommandRun r = emulated("--lose-reply 6", "adjust text-high");
    ASSERT_TRUE(jobEndedOk(r)) << r.output;
    EXPECT_NE(r.output.find("重新连接成功!"), std::string::npos) << r.output;
    EXPECT_EQ(counter(r.output, "protocol-errors"), 0) << r.output;
    std::string record = readFileBytes(state.path + "/board/jobs/0001.jsonl");
    size_t repeats = 0;
    for (size_t p = record.find("\"repeat\":1"); p != std::string::npos;
         p = record.find("\"repeat\":1", p + 1))
        ++repeats;
    EXPECT_EQ(repeats, 1u) << record;
    CommandRun seam = inProcess("adjust text-high", "seam");
    ASSERT_EQ(seam.status, 0) << seam.output;
    EXPECT_TRUE(paper("board") == paper("seam")) << "the resent swath changed the paper";
}

TEST_F(EmulatedUsb, StalledInEndpointIsClearedByThePipeReset) {
    CommandRun r = emulated("--stall-in 4", "pattern nozzle");
    EXPECT_EQ(counter(r.output, "stalls"), 1) << r.output;
    EXPECT_NE(r.output.find("LIBUSB_ERROR_PIPE"), std::string::npos);
    EXPECT_NE(r.output.find("Rx error:31"), std::string::npos);
    // Only the hard reset of the seventh reconnection clears the halt; then the job goes on.
    EXPECT_NE(r.output.find("硬复位"), std::string::npos);
    EXPECT_EQ(counter(r.output, "clear-halts"), 2);
    EXPECT_TRUE(jobEndedOk(r)) << r.output;
    EXPECT_EQ(counter(r.output, "protocol-errors"), 0) << r.output;
}

TEST_F(EmulatedUsb, AShortBulkWriteFailsTheWriteAndTheCommandIsSentAgain) {
    // Write 3 is a 128-byte command packet; only half of it goes out.
    CommandRun r = emulated("--short-write 3", "pattern nozzle");
    EXPECT_EQ(counter(r.output, "short-writes"), 1) << r.output;
    EXPECT_NE(r.output.find("libusb bulk OUT: 64 of 128 bytes sent"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Tx error:31"), std::string::npos);
    EXPECT_TRUE(jobEndedOk(r)) << r.output;
    EXPECT_EQ(counter(r.output, "protocol-errors"), 0) << r.output;
}

TEST_F(EmulatedUsb, SaveWhoseAnswerIsLostOrStalledIsReadBackAndReportedSaved) {
    // Reply 1 answers the start-up read, reply 2 (or IN request 2) the write.
    for (const char* fault : {"--lose-reply 2", "--stall-in 2"}) {
        SCOPED_TRACE(fault);
        std::string dir = std::string("lost") + (fault[2] == 'l' ? "1" : "2");
        CommandRun r = emulated(fault, "params add bidirTextHigh=3", dir);
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("record read back: saved"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("[OK] Parameter save successful!"), std::string::npos);
        EXPECT_EQ(r.output.find("Parameter save fail!"), std::string::npos);
        EXPECT_EQ(counter(r.output, "protocol-errors"), 0) << r.output;
        CommandRun show = inProcess("params show", dir);
        EXPECT_NE(show.output.find("bidirTextHigh     3\n"), std::string::npos) << show.output;
    }
}

// ---- The serial number ----------------------------------------------------------------------

// The serial number the device reports keys the printer's history: a SAVE over the real stack
// lands in the file of that key, and nowhere else, whatever the device says. libusb's text turns
// each character beyond ASCII into '?', and a descriptor holds 126 characters.
TEST_F(EmulatedUsb, TheHistoryKeepsThePrinterUnderTheSerialNumberItReports) {
    struct Row {
        const char* name;
        std::string serial;  // in printer.cfg; empty = the device reports none
    };
    const Row rows[] = {
        {"plain", "HA2408-0001"},
        {"none", ""},
        {"hostile", "../../../tmp/x\\y:z*\x01\xff|<>" + std::string(200, 'Q')},
    };
    const std::filesystem::path data = History_DataDir();
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.name);
        const std::string dir = "serial" + std::to_string(i);
        std::filesystem::create_directories(state.path + "/" + dir);
        if (!r.serial.empty())
            std::ofstream(state.path + "/" + dir + "/printer.cfg")
                << "serial = " << r.serial << "\n";
        CommandRun run = emulated("", "params add bidirTextHigh=1", dir);
        ASSERT_EQ(run.status, 0) << run.output;
        std::string reported = r.serial.substr(0, 126);
        for (char& c : reported)
            if (static_cast<unsigned char>(c) >= 0x80) c = '?';
        const std::string key = History_UsbPrinterKey(reported);
        EXPECT_EQ(r.serial.empty(), key == "usb-2408-0003") << key;
        EXPECT_TRUE(fileExists(History_FilePath(key))) << key << "\n" << run.output;
        EXPECT_EQ(counter(run.output, "string-reads") > 0, !r.serial.empty()) << run.output;
    }
    // One history a printer (with its lock beside it), each a plain file of the history folder.
    size_t histories = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(data)) {
        if (!entry.is_regular_file()) continue;
        EXPECT_EQ(entry.path().parent_path(), data / "history") << entry.path();
        histories += entry.path().extension() == ".jsonl";
    }
    EXPECT_EQ(histories, std::size(rows));
}

TEST_F(EmulatedUsb, HostRefusesBadUsage) {
#ifdef VPRINTER_USB_HOST
    EXPECT_EQ(runShell(std::string(VPRINTER_USB_HOST) + " " + state.path + " true").status, 2);
    EXPECT_EQ(runShell(std::string(VPRINTER_USB_HOST) + " " + state.path + " --stall-in x -- true")
                  .status,
              2);
#endif
}

}  // namespace
