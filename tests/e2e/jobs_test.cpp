// SPDX-License-Identifier: Apache-2.0
// Print jobs end to end: the real link against the virtual printer on the fast clock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "diag/errors.h"
#include "e2e_support.h"
#include "job/print_job.h"
#include "pipeline/feed_step.h"
#include "platform/bytes.h"
#include "platform/msgbox.h"
#include "support/session_fixture.h"

namespace {

class JobsTest : public PrinterTest {
  protected:
    // The last job's events, each block once (withoutResends). A block the printer got twice in
    // a row is allowed only with its reason in the trace: the link sends a block again after a
    // busy answer or a failed transfer, never on its own.
    std::vector<PrinterEvent> sentEvents() {
        std::vector<PrinterEvent> all = jobEvents();
        if (resendCount(all) > 0) {
            EXPECT_TRUE(traceShowsResend(traceText()))
                << "a block went twice with no busy answer or failed transfer";
        }
        return withoutResends(all);
    }
    std::vector<long> jobCommands() { return commandSequence(sentEvents()); }
};
const std::vector<long> FULL_JOB = {2, 8, 9, 18};

TEST_F(JobsTest, EveryPatternNumberCreatesStartsAndEndsTheJob) {
    for (int pattern = 0; pattern <= 20; ++pattern) {
        SCOPED_TRACE("pattern " + std::to_string(pattern));
        Job_RunPattern(static_cast<uint8_t>(pattern));
        auto seq = jobCommands();
        bool defined = (pattern >= 1 && pattern <= 14) || (pattern >= 16 && pattern <= 19);
        if (defined) {
            EXPECT_EQ(seq, FULL_JOB);
        } else {
            EXPECT_EQ(seq, (std::vector<long>{2, 8, 18}));
            EXPECT_NE(traceText().find("未定义pattern:" + std::to_string(pattern)),
                      std::string::npos);
        }
        EXPECT_NE(traceText().find("校准测试结束"), std::string::npos);
        EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
        EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u)
            << (VPrinter_ProtocolErrors().empty() ? "" : VPrinter_ProtocolErrors().back());
    }
}

TEST_F(JobsTest, EveryAdjustmentTypeRunsToJobEndOk) {
    for (int type = 5; type <= 15; ++type) {
        SCOPED_TRACE("type " + std::to_string(type));
        EXPECT_EQ(Job_RunAdjustment(static_cast<uint8_t>(type)), 0);
        EXPECT_EQ(jobCommands(), FULL_JOB);
        EXPECT_NE(traceText().find("Job End OK 0/1"), std::string::npos);
        EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
        EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u);
    }
}

TEST_F(JobsTest, PrintStartCarriesLocalDateAndTime) {
    Job_RunPattern(19);
    auto starts = eventsOf(sentEvents(), "command");
    ASSERT_GE(starts.size(), 2u);
    EXPECT_EQ(starts[1].number("command"), 8);
    EXPECT_EQ(starts[1].number("date"), (2026L << 16) | (12 << 8) | 6);
    EXPECT_EQ(starts[1].number("time"), (21L << 16) | (3 << 8) | 9);
    EXPECT_EQ(starts[1].number("passes"), 4);
    EXPECT_EQ(starts[1].number("speed"), 30);
}

TEST_F(JobsTest, PatternFivePrintsTwoSwathsThereAndBack) {
    Job_RunPattern(5);
    auto swaths = eventsOf(sentEvents(), "swath");
    ASSERT_EQ(swaths.size(), 2u);
    EXPECT_EQ(swaths[0].number("r2l"), 0);
    EXPECT_EQ(swaths[0].number("feed"), 0);
    EXPECT_EQ(swaths[1].number("r2l"), 1);
    EXPECT_GT(swaths[1].number("start"), swaths[1].number("stop"));
}

TEST_F(JobsTest, BidirectionalAdjustmentSecondSwathFeedsOneAndAHalfPasses) {
    EXPECT_EQ(Job_RunAdjustment(5), 0);
    auto swaths = eventsOf(sentEvents(), "swath");
    ASSERT_EQ(swaths.size(), 2u);
    EXPECT_EQ(swaths[0].number("r2l"), 0);
    EXPECT_EQ(swaths[0].number("feed"), 0);
    EXPECT_EQ(swaths[1].number("r2l"), 1);
    // 180 nozzles per pass on the default printer: 270 rows at the job's steps per row, give
    // or take the carried fraction.
    double expected = 270 * testSession().feedStep->stepsPerRow;
    EXPECT_NEAR(static_cast<double>(swaths[1].number("feed")), expected, 1.0);
    EXPECT_EQ(swaths[0].number("resolution"), 1);  // 540 dpi
}

TEST_F(JobsTest, PhotoModeIgnoresTheSecondPassBox) {
    Job_SetHdMode(true);
    EXPECT_EQ(Job_RunAdjustment(10), 0);
    auto events = sentEvents();
    auto commands = eventsOf(events, "command");
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[1].number("speed"), 26);
    auto swaths = eventsOf(events, "swath");
    ASSERT_FALSE(swaths.empty());
    EXPECT_EQ(swaths[0].number("resolution"), 6);  // 1440 dpi
    EXPECT_EQ(jobContext()->bidirIndex, 5);
}

TEST_F(JobsTest, ImageHighWithSecondPassRunsAt35Ips) {
    Job_SetHdMode(true);
    EXPECT_EQ(Job_RunAdjustment(8), 0);
    auto commands = eventsOf(sentEvents(), "command");
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[1].number("speed"), 35);
    EXPECT_EQ(jobContext()->bidirIndex, 9);
}

TEST_F(JobsTest, FeedStepPrintFeedsOneMetreBetweenTwoFrames) {
    EXPECT_EQ(Job_RunAdjustment(11), 0);
    auto swaths = eventsOf(sentEvents(), "swath");
    ASSERT_GE(swaths.size(), 3u);
    long fed = 0;
    int printed = 0;
    for (const auto& s : swaths) {
        if (s.number("size") > 0) ++printed;
        if (s.number("feed_backwards") == 0) fed += s.number("feed");
    }
    EXPECT_EQ(printed, 2);
    EXPECT_EQ(fed, 409600);
}

TEST_F(JobsTest, PrinterSwitchedOffEndsWithoutJobEndTrace) {
    printer.detach();
    Job_RunPattern(19);
    EXPECT_FALSE(Job_LastOutcome().linkStarted);
    EXPECT_EQ(traceText().find("校准测试结束"), std::string::npos);
    EXPECT_EQ(Job_RunAdjustment(5), 1);
    ASSERT_TRUE(printer.attach());
}

TEST_F(JobsTest, PrinterThatNeverAnswersTheParameterRequest) {
    VPrinterFaults f;
    f.failReads = 1000;
    VPrinter_SetFaults(f);
    Job_RunPattern(19);
    EXPECT_NE(traceText().find("无法连接打印机，获取参数失败"), std::string::npos);
    EXPECT_EQ(jobContext()->passCount, 0);
    EXPECT_EQ(jobContext()->nozzlesPerPass, 0);
    EXPECT_EQ(jobContext()->headSpanRows, 0);
    EXPECT_FALSE(Job_Succeeded(Job_LastOutcome()));
    VPrinter_SetFaults(VPrinterFaults{});
}

TEST_F(JobsTest, PanelCancelEndsTheAdjustmentWithItsVerdict) {
    VPrinterFaults f;
    f.panelCancelAtSwath = 1;
    VPrinter_SetFaults(f);
    EXPECT_EQ(Job_RunAdjustment(5), 0);
    EXPECT_EQ(programError(), ERR_PRINTER_CANCEL);
    EXPECT_NE(traceText().find("Quit for Error：10"), std::string::npos);
    EXPECT_TRUE(Job_LastOutcome().printerCancelled);
    EXPECT_FALSE(Job_Succeeded(Job_LastOutcome()));
    EXPECT_NE(readFileBytes(Log_ErrorPath()).find("Rx 面板取消(1)"), std::string::npos);
}

TEST_F(JobsTest, PcCancelSkipsTheJobEndAndReportsIt) {
    // Cancel from another thread as soon as the printer has received this job's start (the
    // events of an earlier job in this process must not trigger it).
    Job_RunPattern(3);
    const uint32_t earlierJob = VPrinter_LastJobNumber();
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done) {
            if (VPrinter_LastJobNumber() == earlierJob) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                continue;
            }
            for (const std::string& line : VPrinter_JobEvents())
                if (jsonNumber(line, "command") == 8) {
                    Job_RequestCancel();
                    return;
                }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    Job_RunAdjustment(11);
    done = true;
    canceller.join();
    EXPECT_NE(traceText().find("PC取消作业,swath:"), std::string::npos);
    auto seq = jobCommands();
    EXPECT_TRUE(std::find(seq.begin(), seq.end(), 18) == seq.end());
    EXPECT_TRUE(Job_LastOutcome().pcCancelled);
    EXPECT_FALSE(Job_Succeeded(Job_LastOutcome()));
}

TEST_F(JobsTest, CancelOnceTheEndCommandIsOnItsWayIsRefused) {
    // The cancel and the end command cannot both win: a cancel asked for once the printer has
    // this job's end command leaves the job to end as printed, with no PC-cancel verdict.
    const uint32_t earlierJob = VPrinter_LastJobNumber();
    std::atomic<bool> done{false};
    std::atomic<int> taken{-1};
    std::thread canceller([&] {
        while (!done) {
            if (VPrinter_LastJobNumber() != earlierJob)
                for (const std::string& line : VPrinter_JobEvents())
                    if (jsonNumber(line, "command") == 18) {
                        taken = Job_RequestCancel() ? 1 : 0;
                        return;
                    }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    Job_RunAdjustment(5);
    done = true;
    canceller.join();
    EXPECT_EQ(taken.load(), 0);
    EXPECT_EQ(traceText().find("PC取消作业"), std::string::npos);
    EXPECT_FALSE(Job_LastOutcome().pcCancelled);
    EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
}

TEST_F(JobsTest, DoubleHeadModeRunsPatternsAndAdjustments) {
    VPrinterModel m = VPrinter_GetModel();
    m.headFlags = 3;
    VPrinter_SetModel(m);
    uint8_t record[56];
    VPrinter_StoredRecord(record);
    record[2] = 3;
    VPrinter_SetStoredRecord(record);
    Job_RunPattern(4);
    EXPECT_EQ(jobCommands(), FULL_JOB);
    EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
    EXPECT_EQ(Job_RunAdjustment(5), 0);
    EXPECT_NE(traceText().find("--双头模式"), std::string::npos);
    EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u);
}

TEST_F(JobsTest, HeadsTooFarApartForTheImageEndTheJobWithErrorFiveBeforeAnySwath) {
    uint8_t record[56];
    VPrinter_StoredRecord(record);
    record[2] = 3;
    le::putU16(record, 0x08, 1000);  // a 24000-dot frame then needs 10972800 bytes
    VPrinter_SetStoredRecord(record);
    EXPECT_EQ(Job_RunAdjustment(11), 0);
    EXPECT_EQ(jobCommands(), (std::vector<long>{2, 8, 18}));
    EXPECT_EQ(Job_LastOutcome().errorCode, ERR_DATA_BUFFER_OVERFLOW);
    EXPECT_NE(traceText().find("Quit for Error：5"), std::string::npos);
    // The bidirectional image is narrower: it fits and prints.
    EXPECT_EQ(Job_RunAdjustment(5), 0);
    EXPECT_EQ(jobCommands(), FULL_JOB);
    EXPECT_TRUE(Job_Succeeded(Job_LastOutcome()));
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u);
}

TEST_F(JobsTest, TwoJobsInARowDifferOnlyInJobId) {
    Job_RunPattern(3);
    auto first = eventsOf(sentEvents(), "command");
    auto firstSwaths = eventsOf(sentEvents(), "swath");
    fake_clock::setLocalTime({2026, 12, 6, 21, 3, 40});
    Job_RunPattern(3);
    auto second = eventsOf(sentEvents(), "command");
    ASSERT_EQ(first.size(), second.size());
    EXPECT_NE(first[0].number("job_id"), second[0].number("job_id"));
    EXPECT_EQ(second[0].number("job_id") - first[0].number("job_id"), 31);
    auto withoutId = [](std::string line) {
        std::string id = "\"job_id\":" + jsonField(line, "job_id");
        return line.replace(line.find(id), id.size(), "");
    };
    EXPECT_EQ(withoutId(first[0].line), withoutId(second[0].line));
}

}  // namespace
