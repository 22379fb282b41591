// SPDX-License-Identifier: Apache-2.0
// Swath planner: size limits, extent scan, record contents, held-back hand-over, blank swaths,
// feed-only records, the buffer wait and the job stamp, against the real ring.
#include <thread>

#include "link/command.h"
#include "params/ring_setup.h"
#include "planner/plan_fixture.h"
#include "planner/ring_drain.h"
#include "support/product_internals.h"

namespace {

class CheckJobSizesTest : public PlanFixture {
  protected:
    void SetUp() override {
        PlanFixture::SetUp();
        ctx->imageRows = 180;
        ctx->headSpanRows = 180;
    }
};

TEST_F(CheckJobSizesTest, SizesTheJobAndPointsAtTheStaticBuffers) {
    ctx->rowBits = 4001;  // 501 bytes a row
    ctx->headSpanRows = 720;
    ctx->extraRows = 21;
    ASSERT_TRUE(checkJobSizes(ctx));
    EXPECT_EQ(ctx->formatColumns, 4001u + 2 * 1120);
    EXPECT_EQ(ctx->formatDataSize, (4001u + 2240) * 360);
    EXPECT_EQ(ctx->srcDataSize, 501u * 720);
    EXPECT_EQ(ctx->srcDataSizeExtra, 501u * 741);
    EXPECT_EQ(ctx->srcBuffer, canvasBuffer());
    EXPECT_EQ(ctx->srcBufferA, canvasBuffer());
    EXPECT_EQ(ctx->srcBufferB, srcBufferBStorage());
    EXPECT_EQ(ctx->formatBuffer, formatBufferStorage());
    EXPECT_EQ(programError(), ERR_NONE);
}

TEST_F(CheckJobSizesTest, SourceLimitIsInclusive) {
    ctx->rowBits = 360;  // 45 bytes a row
    ctx->headSpanRows = 56692;
    EXPECT_TRUE(checkJobSizes(ctx));
    EXPECT_EQ(ctx->srcDataSize, 2551140u);

    ctx->headSpanRows = 56693;
    EXPECT_FALSE(checkJobSizes(ctx));
    EXPECT_EQ(programError(), ERR_DATA_BUFFER_OVERFLOW);
    EXPECT_TRUE(traced("源数据:2551185>MAX_SRC_DATA_SIZE"));
    EXPECT_EQ(msgbox_recorder::boxes().size(), 1u);
}

TEST_F(CheckJobSizesTest, FormatLimitIsInclusive) {
    ctx->rowBits = 30096 - 2240;
    EXPECT_TRUE(checkJobSizes(ctx));
    EXPECT_EQ(ctx->formatDataSize, 10834560u);

    ctx->rowBits += 1;
    EXPECT_FALSE(checkJobSizes(ctx));
    EXPECT_EQ(programError(), ERR_DATA_BUFFER_OVERFLOW);
    EXPECT_TRUE(traced("目标数据:10834920>10834560(MAX_FORMAT_DATA_SIZE)"));
}

TEST_F(CheckJobSizesTest, SourceCheckComesFirst) {
    ctx->rowBits = 28000;
    ctx->headSpanRows = 60000;
    EXPECT_FALSE(checkJobSizes(ctx));
    EXPECT_TRUE(traced("源数据:"));
    EXPECT_FALSE(traced("目标数据:"));
}

TEST_F(CheckJobSizesTest, WidthAndRowLengthAndRows) {
    ctx->rowBits = 4000;
    ctx->maxPrintWidthDots = 1999;
    EXPECT_FALSE(checkJobSizes(ctx));
    EXPECT_EQ(programError(), ERR_PRINT_WIDTH_OVERFLOW);
    EXPECT_TRUE(traced("图像宽:2000(169mm) > 1999(84mm)"));

    // Without a margin the row-length limit is reachable below the format limit.
    clearProgramError();
    ctx->printParams.rowGapSmall = 0;
    ctx->printParams.rowGapLarge = 0;
    ctx->maxPrintWidthDots = 100000;
    ctx->rowBits = 28346;
    EXPECT_TRUE(checkJobSizes(ctx));
    ctx->rowBits = 28347;
    EXPECT_FALSE(checkJobSizes(ctx));
    EXPECT_EQ(programError(), ERR_PRINT_WIDTH_OVERFLOW);

    clearProgramError();
    ctx->rowBits = 4000;
    ctx->imageRows = 0;
    EXPECT_FALSE(checkJobSizes(ctx));
    EXPECT_EQ(programError(), ERR_NO_PRINT_DATA);
}

TEST_F(CheckJobSizesTest, HugeRowDoesNotWrapIntoAcceptance) {
    ctx->rowBits = 0xFFFFFFF0u;
    ctx->headSpanRows = 1;
    EXPECT_FALSE(checkJobSizes(ctx));
    EXPECT_EQ(programError(), ERR_DATA_BUFFER_OVERFLOW);
}

class ExtentTest : public PlanFixture {
  protected:
    void SetUp() override {
        PlanFixture::SetUp();
        ctx->rowBits = 4000;
        ctx->bitsPerPixel = 2;
        ctx->imageRows = 180;
        ctx->headSpanRows = 180;
        ASSERT_TRUE(checkJobSizes(ctx));
    }
    void inkGroup(uint32_t group) { formatBufferStorage()[group * 360 + 17] = 0x40; }
};

TEST_F(ExtentTest, BlankSwath) {
    EXPECT_EQ(findSwathExtent(ctx), 1);
    EXPECT_EQ(ctx->swathWidth, 0u);
    EXPECT_FALSE(traced("L_TO_R"));
}

TEST_F(ExtentTest, ImageJobGroupsStandForFourUnits) {
    inkGroup(10);
    inkGroup(20);
    EXPECT_EQ(findSwathExtent(ctx), 0);
    EXPECT_EQ(ctx->swathStart, 40u);
    EXPECT_EQ(ctx->swathStop, 84u);
    EXPECT_EQ(ctx->swathWidth, 44u);
    EXPECT_TRUE(traced("L_TO_R: 00040-00084, 44"));

    ctx->swathDirection = 1;
    EXPECT_EQ(findSwathExtent(ctx), 0);
    EXPECT_TRUE(traced("R_TO_L: 00084-00040, 44"));
}

TEST_F(ExtentTest, ScanEndsAtImagePlusOneMargin) {
    // count = 4000 + 1120 x 2 = 6240 units = 1560 groups.
    inkGroup(1560);
    EXPECT_EQ(findSwathExtent(ctx), 1);
    inkGroup(1559);
    EXPECT_EQ(findSwathExtent(ctx), 0);
    EXPECT_EQ(ctx->swathStart, 6236u);
    EXPECT_EQ(ctx->swathStop, 6240u);
}

TEST_F(ExtentTest, OneBitJobsCountColumns) {
    ctx->bitsPerPixel = 1;  // rowBits are columns: a group is two of them
    inkGroup(250);
    inkGroup(300);
    EXPECT_EQ(findSwathExtent(ctx), 0);
    EXPECT_EQ(ctx->swathStart, 500u);
    EXPECT_EQ(ctx->swathStop, 602u);
    // count = 4000 + 1120 columns.
    std::memset(formatBufferStorage(), 0, 2000 * 360);
    inkGroup(2560);
    EXPECT_EQ(findSwathExtent(ctx), 1);
}

TEST_F(ExtentTest, InkOnlyInTheLastPartGroupDoesNotWrapTheWidth) {
    useBothHeads(1);  // margin 2241: count = 4000 + 4482 = 8482, two units past the last group
    ASSERT_TRUE(checkJobSizes(ctx));
    inkGroup(2120);
    EXPECT_EQ(findSwathExtent(ctx), 0);
    EXPECT_EQ(ctx->swathStart, 8480u);
    EXPECT_EQ(ctx->swathStop, 8482u);
    EXPECT_EQ(ctx->swathWidth, 2u);
}

class FillTest : public ExtentTest {
  protected:
    SwathRecord* record = nullptr;
    void SetUp() override {
        ExtentTest::SetUp();
        record = Ring_GetEmpty();
        ASSERT_NE(record, nullptr);
        std::memset(record->data, 0xAA, MAX_FORMAT_DATA_SIZE);
        ctx->startOffsetDots = 100;
        ctx->feedPerSwath = 777;
        ctx->swathNumber = 5;
    }
};

TEST_F(FillTest, NarrowSwathCarries256ExtraColumns) {
    for (uint32_t i = 3600; i < 360 * 21; ++i)
        formatBufferStorage()[i] = static_cast<uint8_t>(i * 7 + 1);
    ASSERT_EQ(findSwathExtent(ctx), 0);
    fillSwathRecord(ctx, record);
    const uint32_t wanted = (44 / 2 + 256) * 180;  // 50040
    EXPECT_EQ(record->size, 50048u);
    EXPECT_EQ(std::memcmp(record->data, formatBufferStorage() + 3600, wanted), 0);
    for (uint32_t i = wanted; i < record->size; ++i) ASSERT_EQ(record->data[i], 0) << i;
    EXPECT_EQ(record->swathNo, 5u);
    EXPECT_EQ(record->feed, 777u);
    EXPECT_EQ(record->reserved, 0u);
    EXPECT_TRUE(traced("SWATH5, start:30,stop:35!"));
}

TEST_F(FillTest, WideSwathCarries16ExtraColumns) {
    inkGroup(10);
    inkGroup(109);  // stop 440: width 400
    ASSERT_EQ(findSwathExtent(ctx), 0);
    ASSERT_EQ(ctx->swathWidth, 400u);
    fillSwathRecord(ctx, record);
    EXPECT_EQ(record->size, 38912u);  // (200 + 16) x 180 = 38880, rounded to 64
}

TEST_F(FillTest, WidthOf99And100) {
    ctx->swathStart = 0;
    ctx->swathStop = ctx->swathWidth = 99;
    fillSwathRecord(ctx, record);
    EXPECT_EQ(record->size, (49u + 256) * 180 / 64 * 64 + 64);
    ctx->swathStop = ctx->swathWidth = 100;
    fillSwathRecord(ctx, record);
    EXPECT_EQ(record->size, (50u + 16) * 180 / 64 * 64 + 64);
}

TEST_F(FillTest, PositionsInHeadDotsBothDirections) {
    inkGroup(10);
    inkGroup(20);
    ASSERT_EQ(findSwathExtent(ctx), 0);
    fillSwathRecord(ctx, record);
    EXPECT_EQ(record->startPos, 30);  // (100 + 40 / 2) / 4
    EXPECT_EQ(record->stopPos, 35);   // (100 + 84 / 2) / 4, truncated
    EXPECT_EQ(record->leftToRight, 1);
    EXPECT_EQ(record->rightToLeft, 0);

    ctx->swathDirection = 1;
    fillSwathRecord(ctx, record);
    // From the right end: (100 + (4000 + 2240 - 40) / 2) / 4 and the same with 84.
    EXPECT_EQ(record->startPos, 800);
    EXPECT_EQ(record->stopPos, 794);
    EXPECT_GT(record->startPos, record->stopPos);
    EXPECT_EQ(record->leftToRight, 0);
    EXPECT_EQ(record->rightToLeft, 1);
}

TEST_F(FillTest, DataStartsOnTheHeadDotTheCarriageStartsOn) {
    ctx->startOffsetDots = 101;  // 4 job columns per head dot at 720 dpi: every place has a rest
    inkGroup(10);
    inkGroup(20);
    ASSERT_EQ(findSwathExtent(ctx), 0);
    fillSwathRecord(ctx, record);
    // Column 20 is inked at 101 + 20 = 121 = 30 x 4 + 1: one blank lead column from head dot 30.
    EXPECT_EQ(record->startPos, 30);
    EXPECT_EQ(std::memcmp(record->data, formatBufferStorage() + 19 * 180, 180), 0);
    EXPECT_EQ(std::memcmp(record->data + 180, formatBufferStorage() + 20 * 180, 360), 0);
    EXPECT_EQ(record->size, static_cast<uint32_t>(((44 / 2 + 256 + 1) * 180 + 63) / 64 * 64));

    ctx->swathDirection = 1;
    fillSwathRecord(ctx, record);
    // From the right end column 20 sits at 101 + 3100 = 3201: three lead columns up to head dot
    // 801, so the first inked column still fires where it was drawn.
    EXPECT_EQ(record->startPos, 801);
    EXPECT_EQ(std::memcmp(record->data, formatBufferStorage() + 17 * 180, 4 * 180), 0);
}

TEST_F(FillTest, CopyNearTheBufferEndStaysInsideAndZeroesTheRest) {
    ctx->bitsPerPixel = 1;
    std::memset(formatBufferStorage() + MAX_FORMAT_DATA_SIZE - 20000, 0x5B, 20000);
    ctx->swathStart = 60100;  // byte 10818000: 16560 bytes before the end
    ctx->swathStop = 60150;
    ctx->swathWidth = 50;
    fillSwathRecord(ctx, record);
    const uint32_t inside = MAX_FORMAT_DATA_SIZE - 60100u * 180;
    EXPECT_EQ(record->size, (50u + 256) * 180 / 64 * 64 + 64);  // the printer gets the full length
    for (uint32_t i = 0; i < inside; ++i) ASSERT_EQ(record->data[i], 0x5B) << i;
    for (uint32_t i = inside; i < record->size; ++i) ASSERT_EQ(record->data[i], 0) << i;

    ctx->swathStart = 70000;  // wholly past the end
    ctx->swathStop = 70010;
    ctx->swathWidth = 10;
    fillSwathRecord(ctx, record);
    for (uint32_t i = 0; i < record->size; ++i) ASSERT_EQ(record->data[i], 0) << i;
}

class PlanSwathTest : public ExtentTest {
  protected:
    void SetUp() override {
        ExtentTest::SetUp();
        ctx->feedPerSwath = 1000;
    }
    void drawSwath(uint32_t firstGroup, uint32_t lastGroup) {
        std::memset(formatBufferStorage(), 0, ctx->formatDataSize);
        if (lastGroup) {
            inkGroup(firstGroup);
            inkGroup(lastGroup);
        }
    }
    bool plan(uint32_t firstGroup, uint32_t lastGroup) {
        drawSwath(firstGroup, lastGroup);
        ++ctx->swathCounter;
        return planSwath(ctx);
    }
};

TEST_F(PlanSwathTest, PrintedSwathCarriesTheNextStartAndTheLastHasNone) {
    setMainBoardVersion(151);
    RingDrain drain(ctx);
    ASSERT_TRUE(plan(10, 20));
    ASSERT_TRUE(plan(30, 40));
    ASSERT_TRUE(plan(50, 60));
    flushPendingSwath();
    drain.finish();
    const auto sent = drain.sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].nextStart(), sent[1].startPos());
    EXPECT_EQ(sent[1].nextStart(), sent[2].startPos());
    EXPECT_NE(sent[2].startPos(), 0);
    EXPECT_EQ(sent[2].nextStart(), 0);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i].swathNo(), i + 1);
        EXPECT_EQ(sent[i].feed(), 1000u);
        EXPECT_GT(sent[i].size, 0u);
    }
}

TEST_F(PlanSwathTest, BlankSwathsBecomeOneFeedBeforeTheNextPrintedSwath) {
    setMainBoardVersion(151);
    RingDrain drain(ctx);
    ASSERT_TRUE(plan(10, 20));
    ASSERT_TRUE(plan(0, 0));
    EXPECT_EQ(ctx->lastSwathEmpty, 1u);
    ASSERT_TRUE(plan(0, 0));
    EXPECT_EQ(ctx->pendingEmptySwaths, 2);
    ASSERT_TRUE(plan(30, 40));
    EXPECT_EQ(ctx->pendingEmptySwaths, 0);
    flushPendingSwath();
    drain.finish();
    const auto sent = drain.sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_GT(sent[0].size, 0u);
    EXPECT_EQ(sent[0].nextStart(), 0);  // followed by a feed, not by a printed swath
    EXPECT_EQ(sent[1].size, 0u);
    EXPECT_EQ(sent[1].feed(), 2000u);
    EXPECT_EQ(sent[1].swathNo(), 2u);
    EXPECT_GT(sent[2].size, 0u);
    EXPECT_EQ(sent[2].swathNo(), 3u);
    EXPECT_TRUE(traced("swath1 empty"));
    EXPECT_TRUE(traced("swath2 empty"));
    EXPECT_TRUE(traced("EmptySteps: 2000"));
    EXPECT_FALSE(traced("all swath done"));
}

TEST_F(PlanSwathTest, OldBoardDrainsTheRingBeforeAFeedEvenWhenTransmissionIsHeld) {
    setMainBoardVersion(108);
    RingDrain drain(ctx, /*release=*/false);
    ASSERT_TRUE(plan(10, 20));
    ASSERT_TRUE(plan(0, 0));
    const uint64_t before = fake_clock::sleptMs();
    ASSERT_TRUE(plan(30, 40));
    EXPECT_GE(fake_clock::sleptMs() - before, 12000u);
    EXPECT_TRUE(traced("all swath done"));
    flushPendingSwath();
    drain.finish();
    const auto sent = drain.sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].size, 0u);
    EXPECT_EQ(sent[1].feed(), 1000u);
}

TEST_F(PlanSwathTest, StoppedJobTakesNoRecord) {
    requestJobStop();
    EXPECT_FALSE(plan(10, 20));
    EXPECT_EQ(Ring_CountState(SWATH_EMPTY), SWATH_RING_SIZE);
}

class AcquireTest : public PlanFixture {
  protected:
    void fillRing() {
        for (int i = 0; i < SWATH_RING_SIZE; ++i) ASSERT_NE(Ring_GetEmpty(), nullptr);
    }
    // Runs acquireSwathRecord on another thread until `until` holds (fast-clock time), then
    // applies `then` and returns the result.
    template <typename Until, typename Then>
    SwathRecord* acquireWhile(Until until, Then then) {
        std::atomic<SwathRecord*> result{nullptr};
        std::atomic<bool> done{false};
        std::thread t([&] {
            result = acquireSwathRecord(ctx, nullptr);
            done = true;
        });
        for (int i = 0; i < 200000 && !done && !until(); ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        then();
        t.join();
        return result.load();
    }
};

TEST_F(AcquireTest, PendingBlanksReturnTheRecordPassedIn) {
    SwathRecord dummy;
    ctx->pendingEmptySwaths = 1;
    EXPECT_EQ(acquireSwathRecord(ctx, &dummy), &dummy);
    EXPECT_EQ(ctx->swathNumber, 0);
}

TEST_F(AcquireTest, CancelStopAndEndedThreadGiveNone) {
    jobCancelFlag() = 1;
    EXPECT_EQ(acquireSwathRecord(ctx, nullptr), nullptr);
    EXPECT_EQ(programError(), ERR_NONE);
    jobCancelFlag() = 0;

    requestJobStop();
    EXPECT_EQ(acquireSwathRecord(ctx, nullptr), nullptr);
    EXPECT_EQ(programError(), ERR_NONE);
    clearProgramError();

    ctx->link.txThreadEnded = 1;
    EXPECT_EQ(acquireSwathRecord(ctx, nullptr), nullptr);
    EXPECT_EQ(programError(), ERR_PRINTER_ERROR);
    EXPECT_TRUE(traced("打印数据已经准备好，但TX线程已经结束"));
    EXPECT_EQ(Ring_CountState(SWATH_EMPTY), SWATH_RING_SIZE);
}

TEST_F(AcquireTest, TakesAFreeRecordAndCountsIt) {
    SwathRecord* r = acquireSwathRecord(ctx, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->state.load(), SWATH_FILLING);
    EXPECT_EQ(ctx->swathNumber, 1);
}

TEST_F(AcquireTest, FullRingWaitsWithTheLongDelayUntilARecordIsFreed) {
    fillRing();
    SwathRecord* first = Ring_Record(0);
    const uint64_t start = fake_clock::sleptMs();
    SwathRecord* got = acquireWhile([&] { return fake_clock::sleptMs() - start > 3000; },
                                    [&] { Ring_SetState(first, SWATH_EMPTY); });
    EXPECT_EQ(got, first);
    EXPECT_EQ(ctx->swathNumber, 1);
    EXPECT_TRUE(traced("PC驱动缓冲已满, delay 500"));
}

TEST_F(AcquireTest, WaitBreakKeepsTheShortPolls) {
    fillRing();
    jobWaitBreakFlag() = 1;
    const uint64_t start = fake_clock::sleptMs();
    SwathRecord* got = acquireWhile([&] { return fake_clock::sleptMs() - start > 3000; },
                                    [&] { jobCancelFlag() = 1; });
    EXPECT_EQ(got, nullptr);
    EXPECT_FALSE(traced("delay 500"));
}

TEST_F(AcquireTest, BufferFreedFlagCutsOneWaitShortAndIsCleared) {
    fillRing();
    swathBufferFreedFlag() = 1;
    const uint64_t start = fake_clock::sleptMs();
    SwathRecord* got = acquireWhile([&] { return fake_clock::sleptMs() - start > 2000; },
                                    [&] { jobCancelFlag() = 1; });
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(swathBufferFreedFlag().load(), 0u);
    EXPECT_TRUE(traced("delay 500"));
}

class EmptyStepsTest : public PlanFixture {};

TEST_F(EmptyStepsTest, FeedOnlyRecordsInChunksWithTheDirectionBit) {
    RingDrain drain(ctx);
    sendEmptySteps(0xFFFFFFFFu, ctx, 1);
    drain.finish();
    const auto sent = drain.sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].feed(), 0x80000000u | 2147483647u);
    EXPECT_EQ(sent[1].feed(), 0x80000000u | 2147483647u);
    EXPECT_EQ(sent[2].feed(), 0x80000001u);
    for (const auto& s : sent) EXPECT_EQ(s.size, 0u);
    EXPECT_EQ(sent[2].swathNo(), 3u);
    EXPECT_TRUE(traced("EmptySteps: 4294967295"));
}

TEST_F(EmptyStepsTest, PrinterCancelQueuesNothing) {
    ctx->link.printerCancelled = 1;
    sendEmptySteps(500, ctx, 0);
    EXPECT_EQ(Ring_CountState(SWATH_EMPTY), SWATH_RING_SIZE);
    EXPECT_FALSE(traced("EmptySteps"));
}

TEST_F(EmptyStepsTest, NoRecordStopsTheFeed) {
    jobCancelFlag() = 1;
    sendEmptySteps(500, ctx, 0);
    EXPECT_TRUE(traced("EmptySwathPswath=NULL"));
    EXPECT_EQ(Ring_CountState(SWATH_EMPTY), SWATH_RING_SIZE);
}

TEST_F(EmptyStepsTest, FlushEmptySwathsFeedsTheCountedBlanksOnce) {
    RingDrain drain(ctx);
    ctx->feedPerSwath = 321;
    ctx->pendingEmptySwaths = 3;
    flushEmptySwaths(ctx);
    EXPECT_EQ(ctx->pendingEmptySwaths, 0);
    drain.finish();
    const auto sent = drain.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].feed(), 963u);
}

class DirectionTest : public ExtentTest {};

TEST_F(DirectionTest, UnidirectionalUsesTheFixedDirection) {
    ctx->printDirection = 0;
    EXPECT_EQ(nextSwathDirection(ctx), 0);
    ctx->printParams.uniDirection = 1;
    EXPECT_EQ(nextSwathDirection(ctx), 1);
    ctx->printParams.uniDirection = 2;
    EXPECT_EQ(nextSwathDirection(ctx), 0);
}

TEST_F(DirectionTest, BidirectionalAlternatesPerSwathAndRepeatsForTheSameSwath) {
    ctx->printDirection = 1;
    EXPECT_EQ(nextSwathDirection(ctx), 0);  // nothing printed yet
    EXPECT_EQ(nextSwathDirection(ctx), 0);
    RingDrain drain(ctx);
    setMainBoardVersion(151);
    inkGroup(10);
    ctx->swathCounter = 1;
    ASSERT_TRUE(planSwath(ctx));  // first printed swath turns the toggle
    const uint8_t first = nextSwathDirection(ctx);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(nextSwathDirection(ctx), first);
    ctx->swathCounter = 2;
    EXPECT_EQ(nextSwathDirection(ctx), 1 - first);
    EXPECT_EQ(nextSwathDirection(ctx), 1 - first);
    ctx->swathCounter = 3;
    EXPECT_EQ(nextSwathDirection(ctx), first);
    flushPendingSwath();
    drain.finish();
}

class StampTest : public PlanFixture {};

TEST_F(StampTest, JobIdWrapsAt16Bits) {
    fake_clock::setLocalTime(LocalTime{2026, 12, 1, 0, 0, 10});
    stampJob(ctx);
    EXPECT_EQ(ctx->jobId, 20874);
    EXPECT_TRUE(traced("V1.72a/ 2026.12.1 0:0:10 / 0x0409"));
    fake_clock::setLocalTime(LocalTime{2026, 12, 6, 21, 3, 9});
    stampJob(ctx);
    EXPECT_EQ(ctx->jobId, static_cast<uint16_t>(6 * 86400 + 21 * 3600 + 3 * 60 + 9));
}

TEST_F(StampTest, ClearsFlagsErrorAndCommandSlotAndLinksTheFlags) {
    jobWaitBreakFlag() = 1;
    jobCancelFlag() = 1;
    ctx->link.bufferWaitBreak = nullptr;
    ctx->link.cancelRequest = nullptr;
    requestJobStop();
    commandSlot()->block[0] = 2;
    commandSlot()->state = CMD_STATE_PENDING;
    stampJob(ctx);
    EXPECT_EQ(ctx->link.bufferWaitBreak, &jobWaitBreakFlag());
    EXPECT_EQ(ctx->link.cancelRequest, &jobCancelFlag());
    EXPECT_EQ(jobWaitBreakFlag().load(), 0u);
    EXPECT_EQ(jobCancelFlag().load(), 0u);
    EXPECT_FALSE(isJobStopped());
    EXPECT_EQ(commandSlot()->block[0], 0);
    EXPECT_EQ(commandSlot()->state.load(), CMD_STATE_IDLE);
    const uint8_t map[4] = {7, 6, 5, 4};
    EXPECT_EQ(std::memcmp(ctx->channelMap, map, 4), 0);
}

TEST_F(PlanSwathTest, NewJobForgetsTheSwathHeldBackByAnEarlierJob) {
    setMainBoardVersion(151);
    ASSERT_TRUE(plan(10, 20));  // held back; the job then ends without flushing
    Ring_Init(ctx);
    stampJob(ctx);
    flushPendingSwath();
    EXPECT_EQ(Ring_CountState(SWATH_FULL), 0);
}

TEST(StepsToLength, TruncatesWithoutCarry) {
    jobContext()->feedStep = 14.4498;
    EXPECT_EQ(stepsToLength(720), 10403u);
    EXPECT_EQ(stepsToLength(720), 10403u);
    EXPECT_EQ(stepsToLength(1), 14u);
    EXPECT_EQ(stepsToLength(0), 0u);
    jobContext()->feedStep = 0.0;
}

class EmitTest : public ExtentTest {
  protected:
    void SetUp() override {
        ExtentTest::SetUp();
        ctx->bitsPerPixel = 1;
        inkGroup(100);
        inkGroup(200);
    }
};

TEST_F(EmitTest, UnidirectionalSwath) {
    RingDrain drain(ctx);
    ctx->printDirection = 0;
    ctx->swathCounter = 4;
    Swath_Emit(0x12345);
    drain.finish();
    const auto sent = drain.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].feed(), 0x2345u);  // the feed travels in 16 bits
    EXPECT_EQ(sent[0].rightToLeft(), 0);
    EXPECT_EQ(sent[0].leftToRight(), 0);
    EXPECT_EQ(sent[0].nextStart(), sent[0].startPos());
    EXPECT_EQ(sent[0].startPos(), 50);  // column 200 / 4
    EXPECT_EQ(sent[0].stopPos(), 100);  // column 402 / 4
    EXPECT_EQ(ctx->swathCounter, 5u);
    EXPECT_TRUE(traced("============Swath4: start:50,stop:100,dir:0"));
}

TEST_F(EmitTest, BidirectionalSwathsNameTheOtherDirectionAndEndAtTheStop) {
    RingDrain drain(ctx);
    ctx->printDirection = 1;
    Swath_Emit(0);
    ctx->swathDirection = 1;
    Swath_Emit(500);
    drain.finish();
    const auto sent = drain.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].rightToLeft(), 0);
    EXPECT_EQ(sent[0].leftToRight(), 1);
    EXPECT_EQ(sent[0].nextStart(), sent[0].stopPos());
    EXPECT_EQ(sent[1].rightToLeft(), 1);
    EXPECT_EQ(sent[1].leftToRight(), 0);
    EXPECT_GT(sent[1].startPos(), sent[1].stopPos());
    EXPECT_EQ(sent[1].nextStart(), sent[1].stopPos());
    EXPECT_EQ(sent[1].feed(), 500u);
}

TEST_F(EmitTest, BlankSwathIsQueuedAllTheSame) {
    std::memset(formatBufferStorage(), 0, ctx->formatDataSize);
    RingDrain drain(ctx);
    Swath_Emit(7);
    drain.finish();
    const auto sent = drain.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(ctx->lastSwathEmpty, 1u);
    EXPECT_EQ(sent[0].size, 256u * 180);
}

TEST_F(EmitTest, StoppedJobQueuesNothing) {
    requestJobStop();
    Swath_Emit(0);
    EXPECT_EQ(Ring_CountState(SWATH_EMPTY), SWATH_RING_SIZE);
    EXPECT_EQ(ctx->swathCounter, 0u);
}

}  // namespace
