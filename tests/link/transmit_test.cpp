// SPDX-License-Identifier: Apache-2.0
// The transmit thread's own pieces with the scripted driver: swath block, spit requests,
// start and stop of the link (also on a hung thread), and the wait for the last swath.
#include "link/transmit.h"

#include <thread>

#include "handover/swath_ring.h"
#include "link_fixture.h"
#include "params/ring_setup.h"
#include "platform/bytes.h"
#include "support/product_internals.h"
#include "support/session_fixture.h"

namespace {

using fake_usb::Bytes;

class TransmitTest : public LinkTest {
  protected:
    JobContext* job = nullptr;
    void SetUp() override {
        LinkTest::SetUp();
        job = jobContext();
        job->xDpi = 720;
        job->printSpeedIps = 26;
        Ring_Init(job);
    }
    void TearDown() override {
        if (job->link.thread.joinable()) Link_Stop(&job->link);
        Ring_Free();
        LinkTest::TearDown();
    }
    // Spit decision for one swath; returns the block's spit flag.
    uint8_t spit(uint32_t size, bool rightToLeft, uint16_t* distance = nullptr) {
        SwathRecord r;
        r.size = size;
        r.rightToLeft = rightToLeft ? 1 : 0;
        r.spitFlag = 1;  // whatever the record says, the decision is made here
        uint8_t block[SWATH_BLOCK_SIZE];
        Tx_BuildSwathBlock(r, block);
        Tx_SpitControl(block, size);
        if (distance) *distance = le::getU16(block, 42);
        return block[33];
    }
};

TEST_F(TransmitTest, SwathBlockCarriesSizeAndHeader) {
    SwathRecord* r = Ring_Record(1);
    r->size = 0x123456;
    r->rightToLeft = 1;
    r->startPos = 0x0102;
    r->swathNo = 0x0A0B0C0D;
    r->feed = 0x80000010;
    uint8_t block[SWATH_BLOCK_SIZE];
    Tx_BuildSwathBlock(*r, block);
    EXPECT_EQ(le::getU32(block, 0), 9u);
    EXPECT_EQ(le::getU32(block, 4), 0u);
    EXPECT_EQ(le::getU32(block, 8), 0x123456u);
    for (int i = 12; i < 28; ++i) EXPECT_EQ(block[i], 0) << i;
    uint8_t header[32];
    Ring_HeaderBytes(*r, header);
    EXPECT_EQ(0, std::memcmp(block + 28, header, 32));
    EXPECT_EQ(block[28], 1);  // record mark
    EXPECT_EQ(block[30], 1);  // right to left
    EXPECT_EQ(le::getU32(block, 48), 0x0A0B0C0Du);
    EXPECT_EQ(le::getU32(block, 56), 0x80000010u);
    for (int i = 60; i < 64; ++i) EXPECT_EQ(block[i], 0) << i;
}

TEST_F(TransmitTest, SpitEveryThirdSwathWithDataOnTheNextRightToLeftOne) {
    job->printParams.spitInterval = 3;
    job->printParams.spitDistanceMm = 10;
    EXPECT_EQ(spit(1800, false), 0);
    EXPECT_EQ(spit(0, true), 0);  // no data: not counted
    EXPECT_EQ(testSession().transmit->swathsSinceSpit.load(), 1);
    EXPECT_EQ(spit(1800, true), 0);
    EXPECT_EQ(spit(1800, false), 0);  // third with data, but left to right
    EXPECT_EQ(testSession().transmit->swathsSinceSpit.load(), 3);
    uint16_t distance = 0;
    EXPECT_EQ(spit(1800, true, &distance), 1);
    EXPECT_EQ(distance, 236);  // 10 mm x 600 / 25.4, truncated
    EXPECT_EQ(testSession().transmit->swathsSinceSpit.load(), 0);
    EXPECT_TRUE(traced("启动闪喷spit:236-3"));
    EXPECT_EQ(spit(1800, true), 0);
    job->printParams.spitInterval = 0;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(spit(1800, true), 0);
}

TEST_F(TransmitTest, RecordWithoutItsBufferIsNeverRead) {
    SwathRecord* r = Ring_GetEmpty();
    ASSERT_NE(r, nullptr);
    r->size = 1800;
    r->swathNo = 5;
    Ring_SetState(r, SWATH_FULL);
    Ring_Free();  // an earlier job ended with the record still full: the release forgets it
    EXPECT_EQ(Ring_CountState(SWATH_EMPTY), 4);
    Ring_SetState(r, SWATH_FULL);  // and should a record still be marked full without memory
    ASSERT_TRUE(Link_Start(job));
    job->txReleased = 1;
    while (Ring_CountState(SWATH_EMPTY) != 4) Clock_Sleep(100);
    Link_Stop(&job->link);
    EXPECT_TRUE(traced("tx swath5: no data buffer, dropped"));
    EXPECT_TRUE(fake_usb::writes().empty());
    Ring_Init(job);
}

TEST_F(TransmitTest, StartFailsWithoutTheDevice) {
    fake_usb::setPaths({});
    EXPECT_FALSE(Link_Start(job));
    EXPECT_TRUE(traced("无法开启目标设备，请确认连线已经正确或驱动已经安装成功"));
    EXPECT_FALSE(job->link.thread.joinable());
    Link_Stop(&job->link);  // harmless: nothing to wait for
    EXPECT_FALSE(traced("强行退出TX线程"));
}

TEST_F(TransmitTest, StopOfAHungThreadCutsItOffAndTheNextLinkIsFresh) {
    fake_usb::setResponder([](const Bytes& block) {
        uint16_t cmd = static_cast<uint16_t>(le::getU32(block.data(), 0));
        return fake_usb::replyPackets(fake_usb::replyBody(cmd, 1));
    });
    ASSERT_TRUE(Link_Start(job));
    fake_usb::hangNextRead();
    Cmd_Queue(CMD_PRINT_START);
    while (fake_usb::counters().reads == 0) std::this_thread::yield();
    uint64_t before = fake_clock::sleptMs();
    Link_Stop(&job->link);
    EXPECT_EQ(fake_clock::sleptMs() - before, 2200u);
    EXPECT_TRUE(traced("强行退出TX线程"));
    EXPECT_TRUE(traced("软复位成功"));
    EXPECT_EQ(fake_usb::counters().softResets, 1);
    EXPECT_EQ(job->link.device.load(), USB_INVALID_HANDLE);
    // The cut-off thread ends on its own without reconnecting or touching the link.
    for (int i = 0; i < 2000 && countOf(traces(), "Task end!") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(countOf(traces(), "Task end!"), 1u);
    EXPECT_FALSE(traced("开始重新连接"));
    EXPECT_EQ(job->link.txThreadEnded.load(), 0u);
    EXPECT_NE(Cmd_State(CMD_PRINT_START), CMD_STATE_DONE);

    // A new link works normally.
    Job_ClearContext();
    Cmd_Reset();
    ASSERT_TRUE(Link_Start(job));
    ASSERT_TRUE(Cmd_SendAndWait(CMD_PRINT_START));
    Link_Stop(&job->link);
    EXPECT_EQ(countOf(traces(), "强行退出TX线程"), 1u);
    auto c = fake_usb::counters();
    EXPECT_EQ(c.opens, c.closes);
}

TEST_F(TransmitTest, WaitAllPrintedGivesUpAfter100Seconds) {
    // No transmit thread: the full record is never taken.
    SwathRecord* r = Ring_GetEmpty();
    ASSERT_NE(r, nullptr);
    Ring_SetState(r, SWATH_FULL);
    uint64_t before = fake_clock::sleptMs();
    EXPECT_FALSE(Link_WaitAllPrinted());
    EXPECT_EQ(fake_clock::sleptMs() - before, 100000u);
    EXPECT_TRUE(traced("等待所有数据打印完成"));
    EXPECT_TRUE(traced("等待100s溢出"));
    EXPECT_EQ(job->txReleased.load(), 1u);
}

TEST_F(TransmitTest, EmptyRingIsPrintedAtOnce) {
    uint64_t before = fake_clock::sleptMs();
    EXPECT_TRUE(Link_WaitAllPrinted());
    EXPECT_EQ(fake_clock::sleptMs() - before, 0u);
}

}  // namespace
