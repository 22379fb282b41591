// SPDX-License-Identifier: Apache-2.0
// Calibration patterns run on the job thread against the real ring; the assertions read what
// the printer would receive (swath headers and head data).
#include "pattern/patterns.h"

#include <cstdlib>

#include "job/job_internal.h"
#include "params/parameter_record.h"
#include "params/ring_setup.h"
#include "pattern/glyph.h"
#include "pattern/pattern_layout.h"
#include "pattern/patterns_internal.h"
#include "pipeline/head_format.h"
#include "planner/plan_fixture.h"
#include "planner/ring_drain.h"
#include "support/session_fixture.h"

namespace {

constexpr uint32_t MARGIN_ONE_HEAD = 4 * (64 + 216);

class PatternTest : public PlanFixture {
  protected:
    void SetUp() override {
        PlanFixture::SetUp();
        setMainBoardVersion(151);
        stepsPerRow = 409600.0 * 10000 / (720 * 39.37008 * 10000);
    }
    std::vector<SentSwath> run(uint8_t pattern) {
        RingDrain drain(ctx);
        Pattern_Dispatch(pattern);
        drain.finish();
        return drain.sent();
    }
    uint32_t feedFor(uint32_t rows) const { return static_cast<uint32_t>(rows * stepsPerRow); }

    // First format column of every printed swath, in order, from the planner's extent lines.
    std::vector<uint32_t> swathStarts() const {
        std::vector<uint32_t> starts;
        const std::string t = trace();
        // Lines "L_TO_R: A-B," or "R_TO_L: A-B,": a left-to-right swath starts at A, the other
        // way at B.
        for (size_t at = 0; at < t.size(); ++at) {
            const bool ltr = t.compare(at, 8, "L_TO_R: ") == 0;
            if (!ltr && t.compare(at, 8, "R_TO_L: ") != 0) continue;
            char* end = nullptr;
            const unsigned long a = std::strtoul(t.c_str() + at + 8, &end, 10);
            if (end == t.c_str() + at + 8 || *end != '-') continue;
            char* end2 = nullptr;
            const unsigned long b = std::strtoul(end + 1, &end2, 10);
            if (end2 == end + 1 || *end2 != ',') continue;
            starts.push_back(dataStart(static_cast<uint32_t>(ltr ? a : b), ltr));
            at = size_t(end2 - t.c_str());
        }
        return starts;
    }
    // The first column the printer receives: the first inked column moved back to the head dot
    // the carriage starts on (blank lead columns fill the gap).
    uint32_t dataStart(uint32_t inked, bool ltr) const {
        const uint32_t perDot = calibrationParams()->xResolution / calibrationParams()->headDpi;
        const uint32_t k = ctx->bitsPerPixel ? ctx->bitsPerPixel : 1;
        const uint32_t right = (ctx->rowBits + headMarginColumns(ctx) * k) / k;
        const uint32_t place = ctx->startOffsetDots + (ltr ? inked : right - inked);
        const uint32_t lead = ltr ? place % perDot : (perDot - place % perDot) % perDot;
        return lead <= inked ? inked - lead : inked;
    }
    // Format column of canvas dot `dot` for a left-to-right print of `channel`.
    uint32_t columnOf(int channel, uint32_t dot, bool secondHead) const {
        JobContext probe = {};
        probe.printParams = ctx->printParams;
        probe.printSpeedIps = ctx->printSpeedIps;
        probe.swathDirection = 0;
        return static_cast<uint32_t>(channelRowOffset(&probe, channel)) +
               (secondHead ? ctx->printParams.headDistance : 0) + dot;
    }
    static bool inked(const SentSwath& s, uint32_t start, uint32_t column, uint32_t nozzle,
                      int channel) {
        return column >= start && (s.at(column - start, nozzle) & (1u << channel)) != 0;
    }
    // First inked column of `channel` at `nozzle` within [from, to).
    static int64_t firstInked(const SentSwath& s, uint32_t start, uint32_t from, uint32_t to,
                              uint32_t nozzle, int channel) {
        for (uint32_t c = from; c < to; ++c)
            if (inked(s, start, c, nozzle, channel)) return c;
        return -1;
    }
    static uint8_t channelsIn(const SentSwath& s) {
        uint8_t all = 0;
        for (uint8_t b : s.data) all |= b;
        return all;
    }
    void expectCleanDrawing() {
        EXPECT_EQ(testSession().patterns->refusedWrites.load(), 0u);
        EXPECT_EQ(testSession().format->droppedTotal, 0u);
    }

    double stepsPerRow = 0;
};

TEST_F(PatternTest, BidirectionalGivesTwoSwathsTheSecondRightToLeftWith360Rows) {
    const auto sent = run(5);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].rightToLeft(), 0);
    EXPECT_EQ(sent[0].feed(), 0u);
    EXPECT_EQ(sent[1].rightToLeft(), 1);
    EXPECT_EQ(sent[1].feed(), feedFor(360));
    EXPECT_GT(sent[1].startPos(), sent[1].stopPos());
    EXPECT_EQ(ctx->printSpeedIps, 60);
    EXPECT_EQ(ctx->bidirIndex, 0);
    EXPECT_EQ(ctx->swathCounter, 2u);
    EXPECT_TRUE(traced("双向校准--K1K2C1C2"));
    expectCleanDrawing();
}

TEST_F(PatternTest, BidirectionalModesSetSpeedAndCorrection) {
    const uint8_t speed[6] = {60, 50, 40, 50, 40, 26};
    for (uint8_t n = 5; n <= 10; ++n) {
        const auto sent = run(n);
        EXPECT_EQ(sent.size(), 2u) << int(n);
        EXPECT_EQ(ctx->printSpeedIps, speed[n - 5]);
        EXPECT_EQ(ctx->bidirIndex, n - 5);
    }
}

TEST_F(PatternTest, GroupLabelsRunFrom09To09Negative) {
    const auto sent = run(5);
    ASSERT_EQ(sent.size(), 2u);
    const uint32_t start = swathStarts().at(0);
    struct Label {
        uint32_t r;
        const char* text;
    };
    // Label of r at dot (20 - r) x 200; channel 7 has no row offset left to right.
    for (const Label& l : {Label{19, "09"}, Label{10, "00"}, Label{9, "-1"}, Label{1, "-9"}}) {
        std::vector<uint8_t> expected(500 * 720, 0);
        const uint32_t x = (20 - l.r) * 200;
        Glyph_DrawText(expected.data(), l.text, x, 0, 8, 4000);
        int set = 0;
        for (uint32_t row = 0; row < 30; ++row) {  // rows 30.. carry the bars
            for (uint32_t dot = x; dot < x + 128; dot += 2) {
                const uint8_t byte = expected[row * 500 + dot / 8];
                const bool want = byte & (0xC0 >> (dot % 8));
                set += want;
                ASSERT_EQ(inked(sent[0], start, dot, row, 7), want)
                    << l.text << " row " << row << " dot " << dot;
            }
        }
        EXPECT_GT(set, 0) << l.text;
    }
}

TEST_F(PatternTest, DoubleHeadHorizontalGroupsShiftAgainstEachOther) {
    useBothHeads(1000);
    const auto sent = run(1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].feed(), feedFor(720));
    const uint32_t start = swathStarts().at(0);
    const uint32_t first = columnOf(6, 0, false);  // first print: PHA, channel 6, bar row 40
    const uint32_t second =
        columnOf(3, 0, true);  // second print: PHB (+2 nozzles), channel 3, row 75
    for (uint32_t k = 1; k < 20; ++k) {
        const uint32_t from = k * 300 - 30;
        EXPECT_EQ(firstInked(sent[0], start, first + from, first + from + 60, 40, 6),
                  first + k * 300)
            << k;
        // Columns come in dot pairs: an odd start shows from the even dot below it.
        EXPECT_EQ(firstInked(sent[0], start, second + from, second + from + 60, 77, 3),
                  second + ((k * 300 + 10 - k) & ~1u))
            << k;
    }
    EXPECT_EQ(firstInked(sent[0], start, first + 2970, first + 3030, 40, 6), first + 3000);
    EXPECT_EQ(firstInked(sent[0], start, second + 2970, second + 3030, 77, 3), second + 3000);
    EXPECT_TRUE(traced("双头-水平偏移校准"));
    expectCleanDrawing();
}

TEST_F(PatternTest, NozzleTestGroupsPerChannel) {
    const auto sent = run(19);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].feed(), feedFor(720));
    const uint32_t start = swathStarts().at(0);
    EXPECT_EQ(start, 2 * MARGIN_ONE_HEAD);
    for (int i = 0; i < 8; ++i) {
        for (uint32_t j = 0; j < 4; ++j) {
            const uint32_t base = 2 * MARGIN_ONE_HEAD + i * 424 + j * 106;
            for (uint32_t c = base; c < base + 86; ++c)
                for (uint32_t n = 0; n < 180; ++n)
                    ASSERT_EQ(inked(sent[0], start, c, n, i), n % 4 == j)
                        << "channel " << i << " group " << j << " column " << c << " nozzle " << n;
            for (uint32_t c = base + 86; c < base + 106; ++c)
                for (uint32_t n = 0; n < 180; ++n)
                    ASSERT_FALSE(inked(sent[0], start, c, n, i)) << c;
        }
    }
    EXPECT_EQ(testSession().patterns->refusedWrites.load(), 0u);
}

TEST_F(PatternTest, VerticalCheckFiresFiveNozzlesInEvenColumns) {
    const auto sent = run(3);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].feed(), feedFor(720));
    const uint32_t start = swathStarts().at(0);
    const int lastCh = 0, firstCh = 7;  // ink positions 8 and 1 of the default order
    const uint32_t lastFrom = columnOf(lastCh, 0, false);
    EXPECT_EQ(start, dataStart(lastFrom, true));
    const uint32_t firstFrom = columnOf(firstCh, 4000 / 3, false) & ~1u;
    int columnsChecked = 0;
    for (uint32_t c = start; c < start + sent[0].columns(); ++c) {
        for (int ch : {lastCh, firstCh}) {
            const bool even = (c % 2) == 0;
            const bool inRun =
                ch == lastCh ? c >= lastFrom : (c >= firstFrom && c < firstFrom + 2 * (4000 / 3));
            for (uint32_t n = 0; n < 180; ++n) {
                const bool want = even && inRun && n % 42 == 0;
                ASSERT_EQ(inked(sent[0], start, c, n, ch), want)
                    << "channel " << ch << " column " << c << " nozzle " << n;
            }
        }
        ++columnsChecked;
    }
    EXPECT_GT(columnsChecked, 4000);
    EXPECT_EQ(channelsIn(sent[0]), (1u << lastCh) | (1u << firstCh));
    EXPECT_EQ(testSession().patterns->refusedWrites.load(), 0u);
}

TEST_F(PatternTest, DoubleHeadBarsWithEqualOffsetsFormatTheSecondHeadFirst) {
    useBothHeads(1000);
    ctx->printParams.headOffsetA = 30;
    ctx->printParams.headOffsetB = 30;
    const auto sent = run(4);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(channelsIn(sent[0]), 1u << 1);
    EXPECT_EQ(sent[0].feed(), feedFor(30));
    EXPECT_EQ(channelsIn(sent[1]), 1u << 6);
    EXPECT_EQ(sent[1].feed(), feedFor(720));
    const auto starts = swathStarts();
    ASSERT_EQ(starts.size(), 2u);
    // The second head prints two nozzles further down.
    for (uint32_t row = 0; row <= 120; row += 30) {
        EXPECT_TRUE(inked(sent[0], starts[0], columnOf(1, 100, true), row + 2, 1)) << row;
        EXPECT_TRUE(inked(sent[1], starts[1], columnOf(6, 100, false), row, 6)) << row;
    }
    expectCleanDrawing();
}

TEST_F(PatternTest, DoubleHeadBarsFirstHeadFirstWhenTheSecondIsHigher) {
    useBothHeads(1000);
    ctx->printParams.headOffsetA = 40;
    ctx->printParams.headOffsetB = 10;
    const auto sent = run(4);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(channelsIn(sent[0]), 1u << 6);
    EXPECT_EQ(sent[0].feed(), feedFor(40));
    EXPECT_EQ(channelsIn(sent[1]), 1u << 1);
}

TEST_F(PatternTest, SingleSwathPatternsUseTheirChannelsAndFeeds) {
    struct Case {
        uint8_t pattern;
        uint8_t channels;
        uint32_t feedRows;
        const char* traceLine;
    };
    useBothHeads(1000);
    ctx->printParams.headOffsetB = 250;  // the second print's rows wrap in 8 bits
    for (const Case& c : {Case{2, (1u << 6) | (1u << 5), 360, "双头-垂直偏移校准"},
                          Case{16, (1u << 7) | (1u << 0), 360, "垂直校准验证--full"},
                          Case{17, (1u << 6) | (1u << 7), 760, "水平校准-组内"},
                          Case{18, (1u << 1) | (1u << 2), 360, "水平校准PHMaxLines-Width--K1C1"}}) {
        const auto sent = run(c.pattern);
        ASSERT_EQ(sent.size(), 1u) << int(c.pattern);
        EXPECT_EQ(channelsIn(sent[0]), c.channels) << int(c.pattern);
        EXPECT_EQ(sent[0].feed(), feedFor(c.feedRows)) << int(c.pattern);
        EXPECT_TRUE(traced(c.traceLine)) << int(c.pattern);
        expectCleanDrawing();
    }
}

TEST_F(PatternTest, FeedStepFramesAroundOneMetreOfFeed) {
    const auto sent = run(11);
    ASSERT_GE(sent.size(), 3u);
    EXPECT_GT(sent.front().size, 0u);
    EXPECT_EQ(sent.front().feed(), 0u);
    EXPECT_GT(sent.back().size, 0u);
    EXPECT_EQ(sent.back().feed(), 0u);
    uint64_t total = 0;
    const uint32_t chunk = sent[1].feed();
    EXPECT_EQ(chunk, static_cast<uint32_t>(147 * stepsPerRow));  // 2124.1 steps
    for (size_t i = 1; i + 1 < sent.size(); ++i) {
        EXPECT_EQ(sent[i].size, 0u);
        EXPECT_LE(sent[i].feed(), chunk);
        total += sent[i].feed();
    }
    EXPECT_EQ(total, 409600u);
    EXPECT_GE(fake_clock::sleptMs(), 800u * (sent.size() - 2));
    // Both crosses of the frame reach the printer, the right one too.
    const auto starts = swathStarts();
    ASSERT_EQ(starts.size(), 2u);
    for (int ch : {3, 4}) {
        EXPECT_TRUE(inked(sent.front(), starts[0], columnOf(ch, 360, false), 100, ch)) << ch;
        EXPECT_TRUE(inked(sent.front(), starts[0], columnOf(ch, 22680, false), 100, ch)) << ch;
        EXPECT_TRUE(inked(sent.front(), starts[0], columnOf(ch, 23038, false), 90, ch)) << ch;
    }
    expectCleanDrawing();
}

TEST_F(PatternTest, EveryFeedStepPatternFeedsOneMetre) {
    for (uint8_t n = 12; n <= 14; ++n) {
        const auto sent = run(n);
        ASSERT_GE(sent.size(), 3u);
        uint64_t total = 0;
        for (size_t i = 1; i + 1 < sent.size(); ++i) total += sent[i].feed();
        EXPECT_EQ(total, 409600u) << int(n);
    }
}

TEST_F(PatternTest, FeedStepStopsWhenTheJobIsStopped) {
    RingDrain drain(ctx);
    std::thread stopper([&] {
        while (drain.sent().size() < 5) std::this_thread::sleep_for(std::chrono::microseconds(50));
        requestJobStop();
    });
    Pattern_Dispatch(11);
    stopper.join();
    drain.finish();
    EXPECT_LT(drain.sent().size(), 50u);
}

TEST_F(PatternTest, UndefinedPatternNumbersPrintNothing) {
    for (uint8_t n : {0, 15, 20, 255}) {
        EXPECT_TRUE(run(n).empty()) << int(n);
        EXPECT_TRUE(traced("未定义pattern:" + std::to_string(n))) << int(n);
    }
}

TEST_F(PatternTest, RefusedSizeQueuesNothing) {
    ctx->maxPrintWidthDots = 100;
    for (uint8_t n : {1, 5, 19}) {
        clearProgramError();
        EXPECT_TRUE(run(n).empty()) << int(n);
        EXPECT_EQ(programError(), ERR_PRINT_WIDTH_OVERFLOW) << int(n);
    }
}

TEST_F(PatternTest, CommonDefaults) {
    ctx->bitsPerPixel = 2;
    ctx->secondHeadPass = 1;
    run(200);
    EXPECT_EQ(ctx->xDpi, 720u);
    EXPECT_EQ(ctx->yDpi, 720u);
    EXPECT_EQ(ctx->bitsPerPixel, 1u);
    EXPECT_EQ(ctx->secondHeadPass, 0);
    EXPECT_EQ(ctx->printSpeedIps, 30);
    EXPECT_EQ(ctx->rowBits, 3200u);
    EXPECT_NEAR(ctx->feedStep, stepsPerRow, 1e-9);
    const PatternLayout* l = patternLayout();
    EXPECT_EQ(l->patternNo, 200);
    EXPECT_EQ(l->groupPitch, 160);
    EXPECT_EQ(l->groupCount, 20);
    EXPECT_EQ(l->labelGap, 80);
    EXPECT_EQ(l->layoutStride, 400);
}

// Every pattern and adjustment, from the information record to the ring, over the head
// geometries that stretch the buffers most. Nothing may be written outside the canvas, the
// source buffers or the format buffer (the sanitizers watch); a job whose geometry does not
// fit ends with the size check's error having drawn and queued nothing.
//
// The transmit side is the job's own waiting: every sleep empties the ring (no thread, no
// real time), so a metre of feed in small chunks costs nothing.
std::vector<uint32_t> takenSizes;  // data length of every record taken
const ClockBackend* outerClock = nullptr;

void takeFullRecords() {
    while (SwathRecord* r = Ring_TakeFull()) {
        takenSizes.push_back(r->size);
        Ring_SetState(r, SWATH_EMPTY);
    }
}
void drainingSleep(uint32_t) { takeFullRecords(); }
uint32_t outerTick() { return outerClock->tickMs(); }
void outerLocalTime(LocalTime* out) { outerClock->localTime(out); }
const ClockBackend DRAINING_CLOCK{
    .sleepMs = drainingSleep,
    .tickMs = outerTick,
    .localTime = outerLocalTime,
};

class WorstGeometryTest : public PlanFixture {
  protected:
    struct Geometry {
        const char* name;
        uint8_t heads;
        uint16_t distance;
        uint8_t offsetA;
        uint16_t startOffsetMm;
        uint16_t carriageMm;
        uint16_t stepCorrection;
        bool shortLayout;
        // Jobs the size check refuses, and with which error.
        bool (*refused)(bool adjustment, uint8_t no);
        ProgramErrorCode error;
    };
    struct Job {
        bool adjustment;
        uint8_t no;
    };

    void SetUp() override {
        PlanFixture::SetUp();
        outerClock = Clock_Backend();
        Clock_Install(&DRAINING_CLOCK);
    }
    void TearDown() override {
        Clock_Install(outerClock);
        PlanFixture::TearDown();
    }

    // The printer's information record for a geometry; its parameter part carries the largest
    // bidirectional corrections.
    static std::vector<uint8_t> infoRecord(const Geometry& g) {
        std::vector<uint8_t> info(PRINTER_INFO_SIZE, 0);
        info[REC_MARK] = 0xAC;
        info[REC_HEAD_ENABLE] = g.heads;
        info[REC_HEAD_OFFSET_A] = g.offsetA;
        le::putU16(info.data(), REC_HEAD_DISTANCE, g.distance);
        le::putU16(info.data(), REC_START_OFFSET, g.startOffsetMm);
        for (size_t at : {0x0a, 0x0c, 0x0e, 0x10, 0x30})
            le::putU16(info.data(), at, g.stepCorrection);
        for (size_t at : {0x03, 0x04, 0x05, 0x1e, 0x1f, 0x20, 0x2a, 0x2b, 0x2c, 0x2d, 0x2e})
            info[at] = 255;
        for (int i = 0; i < 8; ++i) info[REC_INK_ORDER + i] = static_cast<uint8_t>(7 - i);
        info[0x3b] = 1;
        le::putU16(info.data(), 0x66, g.carriageMm);
        if (g.shortLayout) {
            info[0x5e] = 160;
            le::putU16(info.data(), 0x7e, 0x1154);
            info.resize(PRINTER_INFO_SHORT_SIZE);
        } else {
            info[0x5c] = 160;
            le::putU16(info.data(), 0x86, 0x9876);
        }
        return info;
    }

    // The job as it runs once the link is up: set-up with the record's head flags, mode,
    // JOB_CREATE's information record, the print, the final hand-over. Returns the data
    // lengths of the records taken (0 for a feed).
    std::vector<uint32_t> runJob(const Job& job, const std::vector<uint8_t>& info) {
        Job_ClearContext();
        restartState<PlannerState>();
        restartState<PrinterInfoState>();
        restartState<FeedStepState>();
        *calibrationParams() = CalibrationParams{};
        clearProgramError();
        takenSizes.clear();
        if (!job.adjustment) {
            ctx->printSpeedIps = 30;
            Ring_Init(ctx);
            ctx->xDpi = ctx->yDpi = 720;
        }
        stampJob(ctx);
        ctx->printParams.headEnable = info[REC_HEAD_ENABLE];
        if (job.adjustment) {
            EXPECT_TRUE(selectAdjustmentMode(ctx, job.no));
        } else {
            applyPatternDefaults(ctx);
        }
        EXPECT_TRUE(acceptPrinterInfo(info.data(), info.size()));
        ctx->txReleased = 1;
        if (job.adjustment)
            printAdjustment(ctx, job.no);
        else
            Pattern_Dispatch(job.no);
        flushPendingSwath();
        takeFullRecords();
        EXPECT_EQ(Ring_CountState(SWATH_EMPTY), SWATH_RING_SIZE);
        return takenSizes;
    }
};

bool checkedJob(bool adjustment, uint8_t no) {
    // Patterns 3, 16, 17 and 18 size themselves; 15 is not a pattern.
    return adjustment || (no != 3 && no != 15 && no < 16) || no == 19;
}
bool noJob(bool, uint8_t) { return false; }
bool feedAdjustments(bool adjustment, uint8_t no) { return adjustment && no >= 11; }

TEST_F(WorstGeometryTest, EveryJobStaysInsideItsBuffersOrEndsWithTheSizeError) {
    const Geometry geometries[] = {
        {"both heads, no distance", 3, 0, 255, 0, 65535, 10000, false, noJob, ERR_NONE},
        // 24000-dot feed-step frames need 10972800 bytes: refused; the rest fits.
        {"both heads 1000 dots apart", 3, 1000, 255, 0, 65535, 10000, false, feedAdjustments,
         ERR_DATA_BUFFER_OVERFLOW},
        {"both heads 65535 dots apart", 3, 65535, 255, 0, 65535, 10000, false, checkedJob,
         ERR_DATA_BUFFER_OVERFLOW},
        {"short layout, both heads 65535 dots apart", 3, 65535, 0, 0, 65535, 10000, true,
         checkedJob, ERR_DATA_BUFFER_OVERFLOW},
        {"second head alone, 65535 dots away, largest step", 2, 65535, 255, 65535, 65535, 1, false,
         noJob, ERR_NONE},
        {"first head, offsets at their limits, smallest step", 1, 65535, 255, 65535, 65535, 65535,
         false, noJob, ERR_NONE},
        {"no printable width", 3, 0, 0, 65535, 0, 10000, false, checkedJob,
         ERR_PRINT_WIDTH_OVERFLOW},
    };
    std::vector<Job> jobs;
    for (uint8_t n = 1; n <= 19; ++n) jobs.push_back({false, n});
    for (uint8_t t = 5; t <= 15; ++t) jobs.push_back({true, t});

    for (const Geometry& g : geometries) {
        const std::vector<uint8_t> info = infoRecord(g);
        for (const Job& job : jobs) {
            SCOPED_TRACE(std::string(g.name) + (job.adjustment ? ", adjustment " : ", pattern ") +
                         std::to_string(job.no));
            // Marks in the canvas and the format buffer show whether a refused job drew.
            std::memset(canvasBuffer(), 0x5A, MAX_SRC_DATA_SIZE);
            std::memset(formatBufferStorage(), 0xA5, MAX_FORMAT_DATA_SIZE);
            const std::vector<uint32_t> sent = runJob(job, info);
            if (g.refused(job.adjustment, job.no)) {
                EXPECT_EQ(programError(), g.error);
                EXPECT_TRUE(sent.empty());
                EXPECT_EQ(ctx->swathCounter, 0u);
                const uint8_t* c = canvasBuffer();
                const uint8_t* f = formatBufferStorage();
                EXPECT_TRUE(
                    std::all_of(c, c + MAX_SRC_DATA_SIZE, [](uint8_t b) { return b == 0x5A; }));
                EXPECT_TRUE(
                    std::all_of(f, f + MAX_FORMAT_DATA_SIZE, [](uint8_t b) { return b == 0xA5; }));
            } else {
                EXPECT_EQ(programError(), ERR_NONE);
                // Pattern 15 does not exist; the bidirectional adjustments format the second
                // head from its own source image, which nothing draws: blank swaths only.
                const bool blank = job.adjustment ? job.no <= 10 && g.heads == 2 : job.no == 15;
                EXPECT_EQ(sent.empty(), blank);
            }
            for (uint32_t size : sent) EXPECT_LE(size, MAX_FORMAT_DATA_SIZE);
        }
    }
}

class PatternWriteBoundsTest : public PlanFixture {
  protected:
    void SetUp() override {
        PlanFixture::SetUp();
        ctx->rowBits = 4000;  // 500 bytes a row
        ctx->srcBuffer = canvasBuffer();
        ctx->formatBuffer = formatBufferStorage();
        ctx->srcDataSize = MAX_SRC_DATA_SIZE;
        Pat_ClearCanvas(ctx);
    }
    bool canvasBlank() const {
        const uint8_t* c = canvasBuffer();
        return std::all_of(c, c + MAX_SRC_DATA_SIZE, [](uint8_t b) { return b == 0; });
    }
};

TEST_F(PatternWriteBoundsTest, LinesLeavingTheRowOrCanvasAreRefusedWhole) {
    Pat_HLine(ctx, 3900, 10, 160);  // would run into the next row
    Pat_HLine(ctx, 3999, 10, 3);    // its part byte lies past the row end
    Pat_VLine(ctx, 4000, 0, 5);
    Pat_VLine(ctx, 10, MAX_SRC_DATA_SIZE / 500 - 1, 3);  // past the last canvas byte
    EXPECT_EQ(testSession().patterns->refusedWrites.load(), 4u);
    EXPECT_TRUE(canvasBlank());

    Pat_HLine(ctx, 3840, 10, 160);                         // ends exactly at the row end
    Pat_VLine(ctx, 3999, MAX_SRC_DATA_SIZE / 500 - 3, 3);  // ends in the last whole row
    EXPECT_EQ(testSession().patterns->refusedWrites.load(), 4u);
    EXPECT_EQ(canvasBuffer()[10 * 500 + 499], 0xFF);
}

TEST_F(PatternWriteBoundsTest, FormatWordsPastTheBufferAreRefused) {
    const uint64_t lastWord = MAX_FORMAT_DATA_SIZE / 2 - 1;
    Pat_WordOr(ctx, lastWord, 0x0101);
    EXPECT_EQ(formatBufferStorage()[MAX_FORMAT_DATA_SIZE - 1], 0x01);
    Pat_WordOr(ctx, lastWord + 1, 0x0101);
    Pat_WordStore(ctx, lastWord + 100, 0x0101);
    Pat_WordClear(ctx, UINT64_MAX, 0x0101);  // would wrap if doubled
    EXPECT_EQ(testSession().patterns->refusedWrites.load(), 3u);
    formatBufferStorage()[MAX_FORMAT_DATA_SIZE - 1] = 0;
    formatBufferStorage()[MAX_FORMAT_DATA_SIZE - 2] = 0;
}

}  // namespace
