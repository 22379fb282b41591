// SPDX-License-Identifier: Apache-2.0
// The virtual printer as a device: enumeration, handles, transactions, the job's command flow.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "platform/folder_lock.h"
#include "support/fakes.h"
#include "vp_packet_builder.h"
#include "vprinter.h"

using namespace vpt;

namespace {

struct VPrinterTest : ::testing::Test {
    PlatformFixture platform;
    TempDir state;
    Host host;

    void SetUp() override {
        ASSERT_TRUE(VPrinter_Attach(state.path));
        host.h = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
        ASSERT_NE(host.h, USB_INVALID_HANDLE);
    }
    void TearDown() override {
        UsbDriver_Get()->close(host.h);
        VPrinter_Detach();
        VPrinter_ClearDecoys();
    }
    Bytes ask(const Bytes& block) {
        Bytes body;
        EXPECT_TRUE(host.sendCmm(block));
        EXPECT_TRUE(host.readReply(&body));
        return body;
    }
    Bytes startJob() {
        Bytes reply = ask(commandBlock(2));
        EXPECT_EQ(get16(reply.data(), 2), 1);
        ask(commandBlock(8));
        return reply;
    }
    Bytes sendSwath(const Swath& s, const Bytes& data) {
        Swath copy = s;
        copy.size = uint32_t(data.size());
        Bytes body;
        EXPECT_TRUE(host.sendCmm(swathBlock(copy)));
        if (!data.empty()) {
            EXPECT_TRUE(host.sendData(data));
        }
        EXPECT_TRUE(host.readReply(&body));
        return body;
    }
};

std::vector<std::string> enumerate() {
    std::vector<std::string> paths;
    const UsbDriverBackend* d = UsbDriver_Get();
    EXPECT_TRUE(d->enumBegin());
    char path[256];
    for (uint32_t i = 0; d->enumPath(i, path, sizeof path) == 1; ++i) paths.push_back(path);
    d->enumEnd();
    return paths;
}

}  // namespace

TEST_F(VPrinterTest, EnumeratesItsPathBesideDecoysAndRestoresTheDriverOnDetach) {
    VPrinter_AddDecoy("\\\\?\\usb#vid_2408&pid_0004#other#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
    std::vector<std::string> paths = enumerate();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_NE(paths[0].find("pid_0004"), std::string::npos);
    EXPECT_NE(paths[1].find("vid_2408"), std::string::npos);
    EXPECT_NE(paths[1].find("pid_0003"), std::string::npos);
    // A decoy opens but is no printer: its I/O controls fail.
    UsbHandle decoy = UsbDriver_Get()->open(paths[0].c_str());
    ASSERT_NE(decoy, USB_INVALID_HANDLE);
    Host other{decoy};
    EXPECT_FALSE(other.sendCmm(transactionBlock(64)));
    UsbDriver_Get()->close(decoy);

    const UsbDriverBackend* mine = UsbDriver_Get();
    UsbDriver_Get()->close(host.h);
    VPrinter_Detach();
    EXPECT_NE(UsbDriver_Get(), mine);
    EXPECT_EQ(UsbDriver_Get()->open(VPrinter_DevicePath().c_str()), USB_INVALID_HANDLE);
    ASSERT_TRUE(VPrinter_Attach(state.path));
    host.h = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
}

TEST_F(VPrinterTest, ParameterRecordRoundTripSurvivesARestart) {
    Bytes reply = ask(transactionBlock(64));
    ASSERT_EQ(reply.size(), 64u);
    EXPECT_EQ(get16(reply.data(), 0), 64);
    EXPECT_EQ(get16(reply.data(), 2), 1);
    EXPECT_EQ(reply[8], 0xAC);

    uint8_t record[56];
    for (int i = 0; i < 56; ++i) record[i] = uint8_t(i * 3 + 1);
    reply = ask(transactionBlock(65, record, 56));
    EXPECT_EQ(get16(reply.data(), 0), 65);
    EXPECT_EQ(get16(reply.data(), 2), 1);

    uint8_t before[56];
    VPrinter_StoredRecord(before);
    UsbDriver_Get()->close(host.h);
    VPrinter_Detach();
    ASSERT_TRUE(VPrinter_Attach(state.path));
    host.h = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
    reply = ask(transactionBlock(64));
    // Only 54 bytes travel; the last two keep what the board had.
    EXPECT_EQ(0, std::memcmp(reply.data() + 8, record, 54));
    EXPECT_EQ(0, std::memcmp(reply.data() + 8 + 54, before + 54, 2));
    EXPECT_FALSE(std::filesystem::exists(state.path + "/record.bin.new"));
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u);
    // Outside a job the transactions go to the loose events.
    std::string loose = readFileBytes(state.path + "/events.jsonl");
    EXPECT_NE(loose.find("{\"event\":\"transaction\",\"sub\":65"), std::string::npos);
}

TEST_F(VPrinterTest, JobCreateAnswersTheInformationRecordWithTheStoredRecordFirst) {
    Bytes reply = ask(commandBlock(2));
    ASSERT_EQ(reply.size(), 8u + 136u);
    EXPECT_EQ(get16(reply.data(), 0), 2);
    EXPECT_EQ(get16(reply.data(), 2), 1);
    uint8_t record[56];
    VPrinter_StoredRecord(record);
    EXPECT_EQ(0, std::memcmp(reply.data() + 8, record, 56));
    const uint8_t* info = reply.data() + 8;
    EXPECT_GE(info[0x5c], 151);
    EXPECT_LE(info[0x5c], 199);
    EXPECT_EQ(get16(info, 0x86), 0x9876);
    EXPECT_EQ(info[0x3b], 1);
    EXPECT_TRUE(VPrinter_JobOpen());
    EXPECT_EQ(VPrinter_LastJobNumber(), 1u);
}

TEST_F(VPrinterTest, RepliesAreFramedOnePacketPerReadWithAtMost96BodyBytes) {
    ASSERT_TRUE(host.sendCmm(commandBlock(2)));
    Bytes p1, p2;
    ASSERT_TRUE(host.readPacket(&p1));
    ASSERT_TRUE(host.readPacket(&p2));
    EXPECT_EQ(get16(p1.data(), 16), FIRST);
    EXPECT_EQ(get16(p1.data(), 22), 48);
    EXPECT_EQ(get16(p2.data(), 16), LAST);
    EXPECT_EQ(get16(p2.data(), 22), 24);
    EXPECT_EQ(get16(p2.data(), 24), 2);
    EXPECT_EQ(get16(p2.data(), 28), 72);
    for (const Bytes* p : {&p1, &p2}) {
        EXPECT_EQ(get16(p->data(), 0), 0xABCD);
        EXPECT_EQ(get16(p->data(), 30), wordSum(p->data(), 15));
    }
}

TEST_F(VPrinterTest, ReadWithNothingPendingTimesOutOnTheClock) {
    uint64_t before = fake_clock::sleptMs();
    Bytes p;
    EXPECT_FALSE(host.readPacket(&p));
    EXPECT_NE(host.lastError, 0u);
    EXPECT_GE(fake_clock::sleptMs() - before, VPrinter_GetModel().readTimeoutMs);
}

TEST_F(VPrinterTest, AWholeJobIsAcknowledgedAndRecorded) {
    startJob();
    Bytes data(180 * 40, 0);
    for (size_t c = 0; c < 40; ++c) data[c * 180] = 0x80;
    Swath s;
    s.number = 1;
    s.start = 100;
    s.stop = 110;
    s.feed = 2000;
    Bytes reply = sendSwath(s, data);
    EXPECT_EQ(get16(reply.data(), 0), 9);
    EXPECT_EQ(get16(reply.data(), 2), 1);
    EXPECT_NE(get16(reply.data(), 4), 0);
    EXPECT_EQ(get16(reply.data(), 8), 1);
    // A feed-only record has no DATA transfer.
    s.number = 2;
    reply = sendSwath(s, {});
    EXPECT_EQ(get16(reply.data(), 8), 2);
    reply = ask(commandBlock(18));
    EXPECT_EQ(get16(reply.data(), 0), 18);
    EXPECT_EQ(get16(reply.data(), 2), 1);
    EXPECT_FALSE(VPrinter_JobOpen());
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u) << VPrinter_ProtocolErrors()[0];
    VPrinter_WaitPaper();

    std::vector<std::string> ev = VPrinter_JobEvents();
    ASSERT_GE(ev.size(), 5u);
    EXPECT_NE(ev[0].find("\"command\":2"), std::string::npos);
    EXPECT_NE(ev[1].find("\"command\":8"), std::string::npos);
    EXPECT_NE(ev[2].find("\"event\":\"swath\",\"number\":1,\"size\":7200,\"start\":100"),
              std::string::npos);
    EXPECT_NE(ev[3].find("\"number\":2,\"size\":0"), std::string::npos);
    EXPECT_NE(ev[4].find("\"command\":18"), std::string::npos);
    EXPECT_TRUE(fileExists(VPrinter_JobPath(1, ".jsonl")));
    EXPECT_TRUE(fileExists(VPrinter_JobPath(1, ".png")));
    std::string jsonl = readFileBytes(VPrinter_JobPath(1, ".jsonl"));
    EXPECT_NE(jsonl.find("\"feed\":2000"), std::string::npos);
}

TEST_F(VPrinterTest, JobNumbersCarryOnAcrossRestarts) {
    startJob();
    ask(commandBlock(18));
    UsbDriver_Get()->close(host.h);
    VPrinter_Detach();
    ASSERT_TRUE(VPrinter_Attach(state.path));
    host.h = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
    startJob();
    EXPECT_EQ(VPrinter_LastJobNumber(), 2u);
    // Closing the link ends the job's records too.
    UsbDriver_Get()->close(host.h);
    host.h = USB_INVALID_HANDLE;
    EXPECT_FALSE(VPrinter_JobOpen());
    VPrinter_WaitPaper();
    EXPECT_TRUE(fileExists(VPrinter_JobPath(2, ".png")));

    // Past job 9999 the names grow a digit; no earlier job's files are ever written over,
    // whatever else lies in the folder.
    auto restartAndRunJob = [&] {
        VPrinter_Detach();
        ASSERT_TRUE(VPrinter_Attach(state.path));
        host.h = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
        startJob();
        ask(commandBlock(18));
        UsbDriver_Get()->close(host.h);
        host.h = USB_INVALID_HANDLE;
    };
    std::ofstream(state.path + "/jobs/9999.jsonl", std::ios::binary) << "job 9999\n";
    restartAndRunJob();
    EXPECT_EQ(VPrinter_LastJobNumber(), 10000u);
    EXPECT_NE(VPrinter_JobPath(10000, ".png").find("10000.png"), std::string::npos);
    std::ofstream(state.path + "/jobs/10001.png", std::ios::binary) << "not ours";
    restartAndRunJob();
    EXPECT_EQ(VPrinter_LastJobNumber(), 10002u);
    VPrinter_WaitPaper();
    EXPECT_EQ(readFileBytes(state.path + "/jobs/9999.jsonl"), "job 9999\n");
    EXPECT_EQ(readFileBytes(state.path + "/jobs/10001.png"), "not ours");
    EXPECT_NE(readFileBytes(VPrinter_JobPath(10000, ".jsonl")).find("end of job"),
              std::string::npos);
    EXPECT_NE(readFileBytes(VPrinter_JobPath(10002, ".jsonl")).find("end of job"),
              std::string::npos);
}

TEST_F(VPrinterTest, StateFolderIsOneTakersAtATime) {
#ifdef _WIN32
    const uint32_t self = GetCurrentProcessId();
#else
    const uint32_t self = static_cast<uint32_t>(getpid());
#endif
    FolderLock other;
    FolderLockResult taken = FolderLock_Take(state.path, "lock", &other);
    EXPECT_EQ(taken.status, FOLDER_LOCK_BUSY);
    EXPECT_EQ(taken.ownerPid, self);
    UsbDriver_Get()->close(host.h);
    host.h = USB_INVALID_HANDLE;
    VPrinter_Detach();

    ASSERT_EQ(FolderLock_Take(state.path, "lock", &other).status, FOLDER_LOCK_TAKEN);
    std::string error;
    EXPECT_FALSE(VPrinter_Attach(state.path, &error));
    EXPECT_FALSE(VPrinter_IsAttached());
    EXPECT_EQ(error, "virtual printer busy: " + state.path + " is in use by process " +
                         std::to_string(self));
    FolderLock_Release(&other);
    EXPECT_TRUE(VPrinter_Attach(state.path, &error));

    // A lock file that cannot be opened refuses the folder too, naming the file.
    TempDir blocked;
    std::filesystem::create_directories(blocked.path + "/lock");
    EXPECT_FALSE(VPrinter_Attach(blocked.path, &error));
    EXPECT_EQ(error.rfind("virtual printer folder: " + blocked.path, 0), 0u) << error;
    EXPECT_FALSE(VPrinter_IsAttached());
}

TEST_F(VPrinterTest, ModelFileInTheStateFolderChangesTheBoard) {
    UsbDriver_Get()->close(host.h);
    VPrinter_Detach();
    std::ofstream(state.path + "/printer.cfg")
        << "# test board\nmain_board_version = 170\nprint_direction = 0\n"
           "carriage_travel = 2600\nbidir_error = 40:3, 26:-2\nmissing_nozzles = 5, 9\n";
    ASSERT_TRUE(VPrinter_Attach(state.path));
    host.h = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
    VPrinterModel m = VPrinter_GetModel();
    EXPECT_EQ(m.mainBoardVersion, 170);
    EXPECT_EQ(m.bidirErrorByIps.size(), 2u);
    EXPECT_EQ(m.missingNozzles.size(), 2u);
    Bytes reply = ask(commandBlock(2));
    EXPECT_EQ(reply[8 + 0x5c], 170);
    EXPECT_EQ(reply[8 + 0x3b], 0);
    EXPECT_EQ(get16(reply.data(), 8 + 0x66), 2600);

    std::string error;
    VPrinterModel bad;
    EXPECT_FALSE(VPrinter_ParseModel("main_board_version = 300\n", &bad, &error));
    EXPECT_NE(error.find("line 1"), std::string::npos);
    EXPECT_FALSE(VPrinter_ParseModel("no_such_key = 1\n", &bad, &error));
}
