// SPDX-License-Identifier: Apache-2.0
// The transmit thread against the virtual printer: whole jobs, busy resends, not ready,
// panel cancel, wrong acknowledgements, odd replies and reconnection.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/job_context.h"
#include "handover/swath_ring.h"
#include "link/command.h"
#include "link/transmit.h"
#include "link/usb.h"
#include "paced_clock.h"
#include "params/printer_info.h"
#include "params/ring_setup.h"
#include "pipeline/swath_plan.h"
#include "support/printer_rig.h"
#include "support/product_internals.h"
#include "vprinter.h"

namespace {

class VPrinterLinkTest : public ::testing::Test {
  protected:
    PlatformFixture platform;
    VirtualPrinter printer;
    JobContext* job = nullptr;

    void SetUp() override {
        paced_clock::install();
        ASSERT_TRUE(printer.attached()) << printer.error();
        Log_Open();
        clearProgramError();
        Job_ClearContext();
        Cmd_Reset();
        job = jobContext();
        job->xDpi = 720;
        job->yDpi = 720;
        job->printSpeedIps = 26;
        job->link.cancelRequest = &jobCancelFlag();
        job->link.bufferWaitBreak = &jobWaitBreakFlag();
        jobCancelFlag() = 0;
        Ring_Init(job);
    }
    void TearDown() override {
        if (job->link.thread.joinable()) Link_Stop(&job->link);
        Ring_Free();
        EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u) << protocolErrors();
        printer.detach();
        clearProgramError();
        paced_clock::uninstall();
    }
    static std::string protocolErrors() {
        std::string all;
        for (auto& e : VPrinter_ProtocolErrors()) all += e + "\n";
        return all;
    }
    static std::string traces() { return readFileBytes(Log_TracePath()); }
    static std::string errorLog() { return readFileBytes(Log_ErrorPath()); }
    static size_t countOf(const std::string& hay, const std::string& needle) {
        size_t n = 0;
        for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
        return n;
    }
    static size_t eventCount(const std::string& needle) {
        size_t n = 0;
        for (auto& e : VPrinter_JobEvents()) n += e.find(needle) != std::string::npos;
        return n;
    }
    void startJob() {
        ASSERT_TRUE(Link_Start(job));
        ASSERT_TRUE(Cmd_SendAndWait(CMD_JOB_CREATE));
        ASSERT_TRUE(Cmd_SendAndWait(CMD_PRINT_START));
    }
    // Puts one swath into the ring as the planner would; false when the ring stays full.
    bool queueSwath(uint32_t number, uint32_t columns, bool rightToLeft) {
        SwathRecord* r = nullptr;
        for (int i = 0; i < 2000 && !(r = Ring_GetEmpty()); ++i) Clock_Sleep(100);
        if (!r) return false;
        r->size = columns * 180;
        for (uint32_t i = 0; i < r->size; ++i) r->data[i] = static_cast<uint8_t>(i % 3 == 0);
        r->rightToLeft = rightToLeft ? 1 : 0;
        r->leftToRight = rightToLeft ? 0 : 1;
        r->startPos = 100;
        r->stopPos = static_cast<uint16_t>(100 + columns / 4);
        r->swathNo = number;
        r->feed = 1000;
        Ring_SetState(r, SWATH_FULL);
        return true;
    }
    void finishJob() {
        EXPECT_TRUE(Link_WaitAllPrinted());
        EXPECT_TRUE(Cmd_SendAndWait(CMD_JOB_END));
        Link_Stop(&job->link);
    }
};

TEST_F(VPrinterLinkTest, WholeJobReachesThePrinter) {
    startJob();
    for (uint32_t n = 1; n <= 6; ++n) ASSERT_TRUE(queueSwath(n, 4064 * 2 * 8 / 180 + n, n % 2));
    finishJob();
    EXPECT_EQ(eventCount("\"event\":\"swath\""), 6u);
    EXPECT_EQ(eventCount("\"repeat\":1"), 0u);
    EXPECT_EQ(Ring_CountState(SWATH_EMPTY), 4);
    std::string t = traces();
    EXPECT_NE(t.find("Task start"), std::string::npos);
    EXPECT_NE(t.find("Link Start"), std::string::npos);
    EXPECT_NE(t.find("tx swath6, size:"), std::string::npos);
    EXPECT_NE(t.find("Rx Swath 6 reply OK"), std::string::npos);
    EXPECT_NE(t.find("Rx 作业结束(1)"), std::string::npos);
    EXPECT_NE(t.find("Task end! "), std::string::npos);
    EXPECT_NE(t.find("关闭USB设备"), std::string::npos);
    EXPECT_EQ(t.find("强行退出TX线程"), std::string::npos);
    EXPECT_EQ(job->link.device.load(), USB_INVALID_HANDLE);
}

TEST_F(VPrinterLinkTest, ShortLayoutBoardSendsOnlyItsOwn128Bytes) {
    VPrinterModel m = VPrinter_GetModel();
    m.shortLayout = true;
    m.speedClass = 1;
    VPrinter_SetModel(m);
    startJob();
    for (uint32_t n = 1; n <= 3; ++n) ASSERT_TRUE(queueSwath(n, 40, n % 2));
    finishJob();
    std::string t = traces();
    EXPECT_NE(t.find("Rx 作业开始 128"), std::string::npos);
    EXPECT_NE(t.find("速度:35 IPS"), std::string::npos);
    EXPECT_EQ(eventCount("\"event\":\"swath\""), 3u);
    EXPECT_EQ(programError(), ERR_NONE);
}

TEST_F(VPrinterLinkTest, FewerThanThreeSwathsWaitForTheRelease) {
    startJob();
    ASSERT_TRUE(queueSwath(1, 40, false));
    ASSERT_TRUE(queueSwath(2, 40, true));
    for (int i = 0; i < 20; ++i) Clock_Sleep(100);
    EXPECT_EQ(eventCount("\"event\":\"swath\""), 0u);
    EXPECT_EQ(Ring_CountState(SWATH_FULL), 2);
    finishJob();
    EXPECT_EQ(eventCount("\"event\":\"swath\""), 2u);
}

TEST_F(VPrinterLinkTest, JobCreateNotReadySeveralTimesThenDone) {
    VPrinterFaults f;
    f.notReadyCount = 3;
    VPrinter_SetFaults(f);
    startJob();
    EXPECT_EQ(countOf(traces(), "Rx 打印机未进入工作状态"), 3u);
    EXPECT_NE(traces().find("指令(2)执行成功"), std::string::npos);
    EXPECT_EQ(job->paramsReady, 1u);
    EXPECT_EQ(mainBoardVersion(), 160);
    finishJob();
}

TEST_F(VPrinterLinkTest, BusySwathIsResentEvery300msUntilAccepted) {
    startJob();
    swathBufferFreedFlag() = 0;
    VPrinterFaults f;
    f.busyCount = 5;
    VPrinter_SetFaults(f);
    ASSERT_TRUE(queueSwath(1, 40, false));
    finishJob();
    std::string t = traces();
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(t.find("打印机忙,resent:" + std::to_string(i)), std::string::npos) << i;
    EXPECT_EQ(t.find("打印机忙,resent:5"), std::string::npos);
    EXPECT_EQ(eventCount("\"status\":2"), 5u);
    EXPECT_EQ(swathBufferFreedFlag().load(), 1u);
}

TEST_F(VPrinterLinkTest, PanelCancelEndsTheThreadAndTheEndCommandGivesUp) {
    startJob();
    VPrinterFaults f;
    f.panelCancelAtSwath = 2;
    VPrinter_SetFaults(f);
    for (uint32_t n = 1; n <= 3; ++n) ASSERT_TRUE(queueSwath(n, 40, false));
    while (job->link.txThreadEnded.load() == 0) Clock_Sleep(100);
    EXPECT_EQ(programError(), ERR_PRINTER_CANCEL);
    EXPECT_EQ(job->link.printerCancelled.load(), 1u);
    EXPECT_NE(errorLog().find("Rx 面板取消(1)"), std::string::npos);
    EXPECT_NE(traces().find("printstop, task end"), std::string::npos);
    EXPECT_EQ(eventCount("\"event\":\"swath\""), 2u);  // the cancelled swath counted, no more
    EXPECT_TRUE(Link_WaitAllPrinted());
    EXPECT_NE(traces().find("wait ..作业异常退出"), std::string::npos);
    EXPECT_FALSE(Cmd_SendAndWait(CMD_JOB_END));
    EXPECT_NE(traces().find("Quit:Printer取消!"), std::string::npos);
    uint64_t before = paced_clock::sleptMs();
    Link_Stop(&job->link);  // the thread has ended: no waiting
    EXPECT_EQ(paced_clock::sleptMs() - before, 0u);
    EXPECT_EQ(traces().find("强行退出TX线程"), std::string::npos);
}

TEST_F(VPrinterLinkTest, WrongAcknowledgementIsLoggedAndTransmissionGoesOn) {
    startJob();
    VPrinterFaults f;
    f.wrongSwathAck = 1;
    VPrinter_SetFaults(f);
    for (uint32_t n = 1; n <= 4; ++n) ASSERT_TRUE(queueSwath(n, 40, false));
    finishJob();
    EXPECT_NE(errorLog().find("Rx Swath 序列号应答异常(1 != 0/0)"), std::string::npos);
    EXPECT_EQ(eventCount("\"event\":\"swath\""), 4u);
    EXPECT_EQ(programError(), ERR_NONE);
}

TEST_F(VPrinterLinkTest, OddRepliesAreSkippedAndCutRepliesRecovered) {
    VPrinterFaults f;
    f.unknownKindReplies = 2;
    f.otherCommandFirst = 2;
    f.cutReplies = 1;  // the JOB_CREATE reply loses its last packet
    VPrinter_SetFaults(f);
    startJob();
    for (uint32_t n = 1; n <= 3; ++n) ASSERT_TRUE(queueSwath(n, 40, false));
    finishJob();
    std::string t = traces();
    EXPECT_NE(t.find("usb接收到不可识别数据包"), std::string::npos);
    EXPECT_NE(t.find("重新连接成功!"), std::string::npos);
    EXPECT_EQ(eventCount("\"event\":\"swath\""), 3u);
    EXPECT_EQ(programError(), ERR_NONE);
}

TEST_F(VPrinterLinkTest, TransferFailuresReconnectAndResendTheSameSwath) {
    startJob();
    VPrinterFaults f;
    f.failWrites = 2;
    f.failReads = 1;
    VPrinter_SetFaults(f);
    for (uint32_t n = 1; n <= 3; ++n) ASSERT_TRUE(queueSwath(n, 40, true));
    finishJob();
    EXPECT_EQ(countOf(traces(), "重新连接成功!"), 3u);
    // The swath whose reply was lost is resent and recognised by the board as a repeat.
    EXPECT_EQ(eventCount("\"repeat\":0"), 3u);
    EXPECT_EQ(eventCount("\"repeat\":1"), 1u);
    EXPECT_EQ(programError(), ERR_NONE);
}

TEST_F(VPrinterLinkTest, SwathWhoseReplyWasLostIsAcknowledgedNotPrintedAgain) {
    startJob();
    // The board prints swath 1 and answers; the answer never reaches the host, whose read
    // times out. Nothing on the board's side tells it that anything went wrong.
    VPrinterFaults f;
    f.lostReplies = 1;
    VPrinter_SetFaults(f);
    for (uint32_t n = 1; n <= 3; ++n) ASSERT_TRUE(queueSwath(n, 40, n % 2));
    finishJob();
    EXPECT_EQ(countOf(traces(), "重新连接成功!"), 1u);
    EXPECT_EQ(eventCount("\"repeat\":0"), 3u);
    EXPECT_EQ(eventCount("\"number\":1,"), 2u);
    EXPECT_EQ(eventCount("\"repeat\":1"), 1u);
    EXPECT_EQ(programError(), ERR_NONE);
    EXPECT_EQ(eventCount("reply lost"), 1u);
    // Three swaths of 2400 drops each on the paper, not four.
    VPrinter_WaitPaper();
    std::string record = readFileBytes(VPrinter_JobPath(VPrinter_LastJobNumber(), ".jsonl"));
    EXPECT_NE(record.find("\"drops\":7200,"), std::string::npos) << record;
}

TEST_F(VPrinterLinkTest, TenReconnectionsThenErrorSeventeen) {
    startJob();
    VPrinterFaults f;
    f.failWrites = 1000;
    VPrinter_SetFaults(f);
    EXPECT_FALSE(Cmd_SendAndWait(CMD_JOB_END));
    // The waiter's twenty seconds and the ten reconnections' sixteen run side by side, and the
    // device calls between them take real time the clock does not pace: the waiter may give up
    // on its own before it sees error 17. Either ending fails the command; the transmit side
    // is judged once it has ended by itself.
    while (job->link.txThreadEnded.load() == 0) Clock_Sleep(100);
    EXPECT_EQ(programError(), ERR_RECONNECT_FAILED);
    std::string t = traces();
    EXPECT_EQ(countOf(t, "重新连接成功!"), 10u);
    EXPECT_NE(t.find("Swath重传多次仍然无法成功，退出打印!"), std::string::npos);
    EXPECT_NE(t.find("重新连接11次,传输仍然无法完成，取消作业!"), std::string::npos);
    EXPECT_TRUE(t.find("Quit:重连失败!") != std::string::npos ||
                t.find("指令(18)超时未得到应答，退出程序!") != std::string::npos)
        << t;
    EXPECT_EQ(countOf(t, "硬复位"), 4u);  // attempts 7 to 10
    VPrinter_SetFaults(VPrinterFaults{});
}

TEST_F(VPrinterLinkTest, VanishedPrinterEndsTheJobWithErrorSeventeen) {
    startJob();
    VPrinterFaults f;
    f.failWrites = 1;
    f.disappearOpens = 100;
    VPrinter_SetFaults(f);
    ASSERT_TRUE(queueSwath(1, 40, false));
    job->txReleased = 1;
    while (job->link.txThreadEnded.load() == 0) Clock_Sleep(100);
    EXPECT_EQ(programError(), ERR_RECONNECT_FAILED);
    std::string t = traces();
    EXPECT_EQ(countOf(t, "连接失败(error code:"), 10u);
    EXPECT_NE(t.find("XXXX连接失败"), std::string::npos);
    EXPECT_NE(t.find("重新连接失败!"), std::string::npos);
    EXPECT_EQ(Ring_CountState(SWATH_SENDING), 1);  // left as it was when the link failed
    EXPECT_TRUE(Link_WaitAllPrinted());            // the job is stopped
    VPrinter_SetFaults(VPrinterFaults{});
}

TEST_F(VPrinterLinkTest, SwathsAtTheBatchEdgesAreAcceptedByTheBoard) {
    startJob();
    // Columns giving 1 packet, 1 nearly full packet, 2 packets, 7 packets (one full batch
    // whose last packet is short), 8 packets (a batch and a partial write) and 14 packets.
    const uint32_t columns[] = {1, 45, 46, 316, 317, 632};
    uint64_t bytes = 0;
    uint32_t n = 0;
    for (uint32_t c : columns) {
        ++n;
        ASSERT_TRUE(queueSwath(n, c, n % 2 == 0));
        bytes += c * 180;
    }
    finishJob();
    EXPECT_EQ(eventCount("\"repeat\":0"), 6u);
    EXPECT_EQ(VPrinter_DataBytesReceived(), bytes);
    EXPECT_EQ(programError(), ERR_NONE);
}

TEST_F(VPrinterLinkTest, HungReplyIsAnsweredByTheWatchdog) {
    ASSERT_TRUE(Link_Start(job));
    VPrinterFaults f;
    f.hangMs = 60000;
    VPrinter_SetFaults(f);
    ASSERT_TRUE(Cmd_SendAndWait(CMD_JOB_CREATE));
    std::string t = traces();
    EXPECT_NE(t.find("应答等待超时:2000ms"), std::string::npos);
    EXPECT_NE(t.find("硬复位"), std::string::npos);
    EXPECT_NE(t.find("重新连接成功!"), std::string::npos);
    ASSERT_TRUE(Cmd_SendAndWait(CMD_PRINT_START));
    finishJob();
}

TEST_F(VPrinterLinkTest, TransactOnTheLinkReadsTheStoredRecord) {
    ASSERT_TRUE(Link_Start(job));
    uint8_t record[56] = {}, stored[56];
    ASSERT_TRUE(Usb_TransactOnLink(job->link.device, USB_SUB_READ_PARAMS, nullptr, 0, record, 56));
    VPrinter_StoredRecord(stored);
    EXPECT_EQ(0, std::memcmp(record, stored, 56));
    Link_Stop(&job->link);
    uint8_t changed[56];
    std::memcpy(changed, stored, 56);
    changed[10] ^= 0x5A;
    ASSERT_TRUE(Usb_Transact(USB_SUB_WRITE_PARAMS, changed, 56, nullptr, 0));
    VPrinter_StoredRecord(stored);
    EXPECT_EQ(stored[10], changed[10]);
}

}  // namespace
