// SPDX-License-Identifier: Apache-2.0
// The reply parser's verdicts and their effects on the job.
#include "link/reply.h"

#include "link_fixture.h"
#include "params/printer_info.h"
#include "platform/bytes.h"
#include "platform/msgbox.h"
#include "support/session_fixture.h"
#include "vprinter.h"

namespace {

using fake_usb::Bytes;
using fake_usb::replyBody;

class ReplyTest : public LinkTest {
  protected:
    LinkState* link = nullptr;
    void SetUp() override {
        LinkTest::SetUp();
        link = &jobContext()->link;
        jobContext()->xDpi = 720;
        jobContext()->yDpi = 720;
    }
    RxVerdict parse(const Bytes& body, uint32_t expected = 0) {
        return Rx_Parse(link, body.data(), body.size(), expected);
    }
    // Makes the stored main board version the default virtual board's (160).
    static Bytes infoRecord() {
        Bytes info(136);
        VPrinter_InfoRecord(info.data());
        return info;
    }
};

TEST_F(ReplyTest, ReplyToAnotherCommandIsSkipped) {
    link->txCommand = CMD_PRINT_START;
    EXPECT_EQ(parse(replyBody(CMD_JOB_CREATE, 1)), RX_OTHER);
    EXPECT_TRUE(traced("Rx: 2,1,1,0"));
    size_t before = traces().size();
    EXPECT_EQ(parse(Bytes(8, 0)), RX_OTHER);  // an empty reply is not traced
    EXPECT_EQ(parse(Bytes()), RX_OTHER);
    EXPECT_EQ(traces().size(), before);
}

TEST_F(ReplyTest, JobCreateHandsTheInformationRecordOver) {
    link->txCommand = CMD_JOB_CREATE;
    EXPECT_EQ(parse(replyBody(CMD_JOB_CREATE, 1, 1, 0, infoRecord())), RX_DONE);
    EXPECT_TRUE(traced("Rx 作业开始 136"));
    EXPECT_EQ(mainBoardVersion(), 160);
    EXPECT_EQ(jobContext()->paramsReady, 1u);
    EXPECT_EQ(programError(), ERR_NONE);
}

// The long layout needs its 136 bytes; a reply carrying the short layout's mark needs only
// the 128 bytes of that layout. Anything shorter never reaches the record's checks.
TEST_F(ReplyTest, JobCreateRecordLengthByLayout) {
    struct Row {
        bool shortLayout;
        size_t bytes;
        RxVerdict verdict;
        const char* trace;
    };
    const Row rows[] = {
        {false, 136, RX_DONE, "Rx 作业开始 136"}, {false, 135, RX_FATAL, "应答过短:143"},
        {false, 128, RX_FATAL, "应答过短:136"},   {true, 136, RX_DONE, "Rx 作业开始 136"},
        {true, 128, RX_DONE, "Rx 作业开始 128"},  {true, 127, RX_FATAL, "应答过短:135"},
        {true, 0, RX_FATAL, "应答过短:8"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.bytes) + (row.shortLayout ? " short" : " long"));
        clearProgramError();
        restartState<PrinterInfoState>();
        jobContext()->paramsReady = 0;
        link->txCommand = CMD_JOB_CREATE;
        Bytes info = infoRecord();
        if (row.shortLayout) le::putU16(info.data(), 0x7e, 0x1154);
        info.resize(row.bytes);
        EXPECT_EQ(parse(replyBody(CMD_JOB_CREATE, 1, 1, 0, info)), row.verdict);
        EXPECT_TRUE(traced(row.trace));
        bool done = row.verdict == RX_DONE;
        EXPECT_EQ(programError(), done ? ERR_NONE : ERR_PARAMS_UNRECOGNISED);
        EXPECT_EQ(jobContext()->paramsReady, done ? 1u : 0u);
    }
}

TEST_F(ReplyTest, RejectedInformationIsFatal) {
    link->txCommand = CMD_JOB_CREATE;
    EXPECT_EQ(parse(replyBody(CMD_JOB_CREATE, 1, 1, 0, Bytes(136, 0))), RX_FATAL);
    EXPECT_EQ(programError(), ERR_PARAMS_UNRECOGNISED);
}

TEST_F(ReplyTest, WrongBoardVersionIsToldThroughTheJobsReportingPointBeforeError3) {
    link->report = [](const Reason& why) {
        MsgBox_Show(why.text, why.caption, MSGBOX_OK, MSGBOX_ICON_INFORMATION);
    };
    link->txCommand = CMD_JOB_CREATE;
    Bytes info = infoRecord();
    info[0x5c] = 150;
    EXPECT_EQ(parse(replyBody(CMD_JOB_CREATE, 1, 1, 0, info)), RX_FATAL);
    EXPECT_EQ(programError(), ERR_PARAMS_UNRECOGNISED);
    auto boxes = msgbox_recorder::boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "主板版本与驱动不匹配!\r\n");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[1].caption, "Tip");
}

TEST_F(ReplyTest, NotReadyWaitsTwoSecondsAndMarksTheSlotBusy) {
    Cmd_Queue(CMD_JOB_CREATE);
    link->txCommand = CMD_JOB_CREATE;
    uint64_t before = fake_clock::sleptMs();
    EXPECT_EQ(parse(replyBody(CMD_JOB_CREATE, 0)), RX_BUSY);
    EXPECT_EQ(fake_clock::sleptMs() - before, 2000u);
    EXPECT_EQ(Cmd_State(CMD_JOB_CREATE), CMD_STATE_BUSY);
    EXPECT_TRUE(traced("Rx 打印机未进入工作状态"));
}

TEST_F(ReplyTest, EndOfJobRequestsTheJobStop) {
    link->txCommand = CMD_JOB_END;
    EXPECT_EQ(parse(replyBody(CMD_JOB_END, 1)), RX_DONE);
    EXPECT_TRUE(isJobStopped());
    EXPECT_TRUE(traced("Rx 作业结束(1)"));
}

TEST_F(ReplyTest, PanelCancelIsTakenOnce) {
    link->txCommand = CMD_SWATH;
    EXPECT_EQ(parse(replyBody(CMD_SWATH, 1, 0), 3), RX_DONE);
    EXPECT_EQ(link->printerCancelled.load(), 1u);
    EXPECT_EQ(programError(), ERR_PRINTER_CANCEL);
    EXPECT_TRUE(traced("Rx 取消(1)"));
    EXPECT_NE(errorLog().find("Rx 面板取消(1)"), std::string::npos);
    ASSERT_EQ(msgbox_recorder::boxes().size(), 1u);
    EXPECT_EQ(parse(replyBody(CMD_SWATH, 1, 0), 4), RX_DONE);
    EXPECT_EQ(msgbox_recorder::boxes().size(), 1u);
    EXPECT_EQ(countOf(errorLog(), "面板取消"), 1u);
}

TEST_F(ReplyTest, ShortSwathReplyIsNoCancel) {
    link->txCommand = CMD_SWATH;
    Bytes body = replyBody(CMD_SWATH, 1);
    body.resize(4);
    EXPECT_EQ(parse(body, 1), RX_DONE);
    EXPECT_EQ(link->printerCancelled.load(), 0u);
}

TEST_F(ReplyTest, SwathAcknowledgementIsCheckedOnNewBoards) {
    link->txCommand = CMD_SWATH;
    Bytes ack7(4);
    le::putU16(ack7.data(), 0, 7);
    le::putU16(ack7.data(), 2, 99);
    // Before any information record (version 0) nothing is checked.
    EXPECT_EQ(parse(replyBody(CMD_SWATH, 1, 1, 0, ack7), 8), RX_DONE);
    EXPECT_EQ(errorLog().find("序列号应答异常"), std::string::npos);

    Bytes info = infoRecord();
    ASSERT_TRUE(checkPrinterInfo(info.data(), info.size()));
    EXPECT_EQ(parse(replyBody(CMD_SWATH, 1, 1, 0, ack7), 7), RX_DONE);
    EXPECT_TRUE(traced("Rx Swath 7 reply OK"));
    EXPECT_EQ(parse(replyBody(CMD_SWATH, 1, 1, 0, ack7), 8), RX_DONE);
    EXPECT_NE(errorLog().find("Rx Swath 序列号应答异常(8 != 7/99)"), std::string::npos);
    EXPECT_TRUE(traced("Rx Swath 序列号应答异常(8 != 7/99)"));
}

TEST_F(ReplyTest, BusySwathReplyAsksForAResend) {
    link->txCommand = CMD_SWATH;
    EXPECT_EQ(parse(replyBody(CMD_SWATH, 2), 1), RX_BUSY);
}

}  // namespace
