// SPDX-License-Identifier: Apache-2.0
// Fuzz target: one calibration pattern or adjustment print, from its set-up to the ring, for
// a fuzzed parameter record and printer information record (head flags, head distance and
// offsets, corrections, pass geometry, printable width, both layouts). The transmit side is
// a null one: every full swath record is taken, looked at and released.
//
// Input: job byte (one of JOBS), flag byte (bit 0: the short 128-byte information layout;
// bit 1: the console's second-pass box; bits 2-4 and 5-6: a vertical and a horizontal
// resolution the job has when its information record arrives, 0 keeping the job's own), a
// byte XORed into the head flags the job reads at set-up (0: the same record as the
// information record carries), then the 56-byte parameter record and the rest of the
// information record (zero-padded to its layout's length).
#include <cstring>
#include <vector>

#include "../fuzz_support.h"
#include "app/session.h"
#include "diag/errors.h"
#include "handover/job_context.h"
#include "handover/swath_ring.h"
#include "job/job_internal.h"
#include "params/calibration_params.h"
#include "params/parameter_record.h"
#include "params/printer_info.h"
#include "params/ring_setup.h"
#include "pattern/canvas.h"
#include "pattern/patterns.h"
#include "pipeline/feed_step.h"
#include "pipeline/head_format.h"
#include "pipeline/swath_plan.h"
#include "platform/bytes.h"

namespace {

struct Job {
    bool adjustment;
    uint8_t number;
};
// Every pattern the dispatcher knows (and one it does not), then every adjustment type.
const Job JOBS[] = {
    {false, 1},  {false, 2},  {false, 3},  {false, 4},  {false, 5},  {false, 6},
    {false, 7},  {false, 8},  {false, 9},  {false, 10}, {false, 11}, {false, 12},
    {false, 13}, {false, 14}, {false, 15}, {false, 16}, {false, 17}, {false, 18},
    {false, 19}, {true, 5},   {true, 6},   {true, 7},   {true, 8},   {true, 9},
    {true, 10},  {true, 11},  {true, 12},  {true, 13},  {true, 14},  {true, 15},
};
constexpr size_t JOB_COUNT = sizeof JOBS / sizeof JOBS[0];
static_assert(JOB_COUNT == FUZZ_GEOMETRY_JOBS, "the seed writer covers every job");

constexpr size_t SHORT_MARK_OFFSET = 0x7e;

// Resolutions beyond those the jobs set themselves: every pass geometry and resolution class
// (and some with none) then reaches the sizing, the formatter and the planner.
const uint32_t Y_DPI[8] = {0, 360, 540, 720, 1080, 1440, 180, 2880};
const uint32_t X_DPI[4] = {0, 360, 540, 1440};

// What the null transmit side saw of the job.
struct Taken {
    uint32_t swaths = 0;  // records with head data
    uint32_t feeds = 0;   // feed-only records
} taken;

// Takes every full record the ring yields and releases it; the record must describe data
// that lies inside its buffer.
void drainRing() {
    while (SwathRecord* r = Ring_TakeFull()) {
        FUZZ_CHECK(r->size <= MAX_FORMAT_DATA_SIZE);
        FUZZ_CHECK(r->size % 64 == 0);
        if (r->size > 0) {
            FUZZ_CHECK(r->data != nullptr);
            // Both ends of the data, so that the sanitizer sees a record longer than its buffer.
            volatile uint8_t ends = static_cast<uint8_t>(r->data[0] ^ r->data[r->size - 1]);
            (void)ends;
            ++taken.swaths;
        } else {
            ++taken.feeds;
        }
        Ring_SetState(r, SWATH_EMPTY);
    }
}

// The job's own set-up up to JOB_CREATE, with the head flags of the parameter record read.
void setUpJob(JobContext* ctx, const Job& job, uint8_t setupHeadFlags) {
    Job_ClearContext();
    *calibrationParams() = CalibrationParams{};
    if (!job.adjustment) {
        ctx->printSpeedIps = 30;
        Ring_Init(ctx);
        ctx->xDpi = ctx->yDpi = 720;
    }
    stampJob(ctx);
    ctx->printParams.headEnable = setupHeadFlags;
    // Released from the start, as the job's final wait does: every full record is taken.
    ctx->txReleased = 1;
}

}  // namespace

int fuzzOne_geometry(const uint8_t* data, size_t size) {
    Session session;  // every input starts from a fresh program state
    fuzzPlatform();
    FuzzInput in{data, size};
    const Job& job = JOBS[in.byte() % JOB_COUNT];
    const uint8_t flags = in.byte();
    const uint8_t setupXor = in.byte();
    const bool shortLayout = (flags & 1) != 0;
    std::vector<uint8_t> info = in.bytes(PRINTER_INFO_SIZE);
    info.resize(shortLayout ? PRINTER_INFO_SHORT_SIZE : PRINTER_INFO_SIZE, 0);
    if (shortLayout)
        le::putU16(info.data(), SHORT_MARK_OFFSET, 0x1154);
    else if (le::getU16(info.data(), SHORT_MARK_OFFSET) == 0x1154)
        info[SHORT_MARK_OFFSET] ^= 1;

    clearProgramError();
    fuzzOnSleep(drainRing);
    taken = Taken{};
    JobContext* ctx = jobContext();
    const uint8_t setupHeads = static_cast<uint8_t>(info[REC_HEAD_ENABLE] ^ setupXor);
    setUpJob(ctx, job, setupHeads);

    bool modeOk = true;
    if (job.adjustment) {
        Job_SetHdMode((flags & 2) != 0);
        modeOk = selectAdjustmentMode(ctx, job.number);
    } else {
        applyPatternDefaults(ctx);
    }
    if (modeOk) {
        if (const uint32_t y = Y_DPI[(flags >> 2) & 7]) ctx->yDpi = y;
        if (const uint32_t x = X_DPI[(flags >> 5) & 3]) ctx->xDpi = x;
        // JOB_CREATE: its reply carries the information record.
        const ProgramErrorCode errorBeforeInfo = programError();
        const bool accepted = acceptPrinterInfo(info.data(), info.size()).accepted;
        FUZZ_CHECK(programError() == errorBeforeInfo);  // a refusal is the reply parser's to report
        if (!accepted) setProgramError(ERR_PARAMS_UNRECOGNISED);
        const ProgramErrorCode errorBefore = programError();
        if (job.adjustment)
            printAdjustment(ctx, job.number);
        else
            Pattern_Dispatch(job.number);
        flushPendingSwath();
        drainRing();

        const ProgramErrorCode error = programError();
        // A job stopped before it starts, or refused by the size check, sends nothing and
        // draws nothing: the size check comes before any drawing.
        if (errorBefore != ERR_NONE || error == ERR_DATA_BUFFER_OVERFLOW ||
            error == ERR_PRINT_WIDTH_OVERFLOW || error == ERR_NO_PRINT_DATA) {
            FUZZ_CHECK(taken.swaths == 0 && taken.feeds == 0);
            FUZZ_CHECK(ctx->swathCounter == 0);
        }
        // Nothing but the size check and the information record may end these jobs here.
        FUZZ_CHECK(error == ERR_NONE || error == errorBefore || error == ERR_DATA_BUFFER_OVERFLOW ||
                   error == ERR_PRINT_WIDTH_OVERFLOW || error == ERR_NO_PRINT_DATA);
    }
    // Every record is back in the ring, ready for the next job.
    FUZZ_CHECK(Ring_CountState(SWATH_EMPTY) == SWATH_RING_SIZE);
    fuzzOnSleep(nullptr);
    Job_SetHdMode(false);
    clearProgramError();
    return 0;
}
