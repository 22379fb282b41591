// SPDX-License-Identifier: Apache-2.0
// The command slot's blocks and the job thread's wait for their answers.
#include <thread>

#include "link/transmit.h"
#include "link_fixture.h"
#include "platform/bytes.h"

namespace {

using fake_usb::Bytes;

uint8_t body8(size_t off) { return commandSlot()->block[COMMAND_BODY_OFFSET + off]; }
uint16_t body16(size_t off) { return le::getU16(commandSlot()->block, COMMAND_BODY_OFFSET + off); }
uint32_t body32(size_t off) { return le::getU32(commandSlot()->block, COMMAND_BODY_OFFSET + off); }

TEST_F(LinkTest, CommandBodiesFollowTheTableAndKeepEarlierBytes) {
    JobContext* job = jobContext();
    job->jobId = 0x1234;
    job->passCount = 4;
    job->printSpeedIps = 35;
    std::memset(commandSlot()->block, 0x5A, COMMAND_BLOCK_SIZE - 24);  // leftovers
    ASSERT_TRUE(Cmd_Queue(CMD_JOB_CREATE));
    EXPECT_EQ(le::getU32(commandSlot()->block, 0), 2u);
    EXPECT_EQ(body8(0), 3);
    EXPECT_EQ(body8(1), 0);
    EXPECT_EQ(body8(2), 0);  // cleared with the whole body
    EXPECT_EQ(body8(3), 1);
    EXPECT_EQ(body16(12), 0x1234);
    EXPECT_EQ(body16(20), 172);
    EXPECT_EQ(body32(28), 0u);
    EXPECT_EQ(commandSlot()->state.load(), CMD_STATE_PENDING);

    ASSERT_TRUE(Cmd_Queue(CMD_PRINT_START));
    EXPECT_EQ(le::getU32(commandSlot()->block, 0), 8u);
    EXPECT_EQ(body8(1), 1);
    EXPECT_EQ(body8(3), 1);  // kept from JOB_CREATE
    EXPECT_EQ(body8(4), 4);
    EXPECT_EQ(body8(5), 35);
    EXPECT_EQ(body8(8), 103);
    EXPECT_EQ(body8(9), 6);
    EXPECT_EQ(body8(10), 6);
    EXPECT_EQ(body16(12), 0);
    EXPECT_EQ(body16(14), 50);
    // 6 December 2026, 21:03:09 on the fixture's clock.
    EXPECT_EQ(body32(28), (2026u << 16) | (12u << 8) | 6u);
    EXPECT_EQ(body32(32), (21u << 16) | (3u << 8) | 9u);

    ASSERT_TRUE(Cmd_Queue(CMD_JOB_END));
    EXPECT_EQ(le::getU32(commandSlot()->block, 0), 18u);
    EXPECT_EQ(body8(4), 4);  // kept from PRINT_START
    EXPECT_EQ(body16(14), 50);
    EXPECT_EQ(body32(32), (21u << 16) | (3u << 8) | 9u);
    for (size_t i = 40; i < 64; ++i) EXPECT_EQ(commandSlot()->block[i], 0) << i;
}

TEST_F(LinkTest, UnknownCommandIsNotQueued) {
    EXPECT_FALSE(Cmd_Queue(static_cast<CommandNumber>(9)));
    EXPECT_TRUE(traced("未知命令... 9"));
    EXPECT_EQ(Cmd_Pending(), nullptr);
    EXPECT_EQ(Cmd_State(CMD_JOB_CREATE), CMD_STATE_IDLE);
    EXPECT_TRUE(traced("cmm(2-0, S:0"));
}

TEST_F(LinkTest, CommandWithoutAnswerFailsAfter201Polls) {
    uint64_t before = fake_clock::sleptMs();
    EXPECT_FALSE(Cmd_SendAndWait(CMD_PRINT_START));
    EXPECT_EQ(fake_clock::sleptMs() - before, 20000u);
    std::string t = traces();
    EXPECT_EQ(countOf(t, "等待指令:8应答(0)..."), 10u);
    EXPECT_NE(t.find("指令(8)超时未得到应答，退出程序!"), std::string::npos);
    EXPECT_EQ(commandSlot()->state.load(), CMD_STATE_IDLE);
}

TEST_F(LinkTest, CommandWaitGivesUpOnReconnectFailureOrPanelCancel) {
    jobContext()->link.printerCancelled = 1;
    EXPECT_FALSE(Cmd_SendAndWait(CMD_JOB_CREATE));
    EXPECT_TRUE(traced("Quit:Printer取消!"));
    EXPECT_EQ(commandSlot()->state.load(), CMD_STATE_IDLE);
    setProgramError(ERR_RECONNECT_FAILED);
    EXPECT_FALSE(Cmd_SendAndWait(CMD_JOB_CREATE));
    EXPECT_TRUE(traced("Quit:重连失败!"));
}

TEST_F(LinkTest, EndOfCancelledJobIsNotSent) {
    std::atomic<uint32_t> cancel{1};
    jobContext()->link.cancelRequest = &cancel;
    EXPECT_TRUE(Cmd_SendAndWait(CMD_JOB_END));
    EXPECT_EQ(Cmd_Pending(), nullptr);
    EXPECT_EQ(le::getU32(commandSlot()->block, 0), 0u);
}

// With the transmit thread and a scripted printer.
class CommandExchangeTest : public LinkTest {
  protected:
    std::atomic<int> busyLeft{0};
    void SetUp() override {
        LinkTest::SetUp();
        fake_usb::setResponder([this](const Bytes& block) {
            uint16_t cmd = static_cast<uint16_t>(le::getU32(block.data(), 0));
            uint16_t status = busyLeft.fetch_sub(1) > 0 ? 2 : 1;
            return fake_usb::replyPackets(fake_usb::replyBody(cmd, status));
        });
        ASSERT_TRUE(Link_Start(jobContext()));
    }
    void TearDown() override {
        Link_Stop(&jobContext()->link);
        EXPECT_TRUE(fake_usb::protocolErrors().empty());
        LinkTest::TearDown();
    }
};

TEST_F(CommandExchangeTest, BusyAnswersRearmUntilDone) {
    busyLeft = 3;
    ASSERT_TRUE(Cmd_SendAndWait(CMD_PRINT_START));
    EXPECT_TRUE(traced("指令(8)执行成功"));
    EXPECT_GE(countOf(traces(), "打印机忙,resent:"), 3u);
    EXPECT_EQ(commandSlot()->state.load(), CMD_STATE_IDLE);
    EXPECT_TRUE(traced("TX CMD(8)"));
}

TEST_F(CommandExchangeTest, HungCallIsAnsweredByAPipeReset) {
    fake_usb::hangNextRead();
    ASSERT_TRUE(Cmd_SendAndWait(CMD_PRINT_START));
    EXPECT_GE(fake_usb::counters().pipeResets, 1);
    std::string t = traces();
    EXPECT_NE(t.find("应答等待超时:2000ms"), std::string::npos);
    EXPECT_NE(t.find("硬复位"), std::string::npos);
    EXPECT_NE(t.find("Rec fail!"), std::string::npos);
    EXPECT_NE(t.find("重新连接成功!"), std::string::npos);
}

}  // namespace
