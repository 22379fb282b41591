// SPDX-License-Identifier: Apache-2.0
// Swath planning: job size checks, inked extent, carriage positions and the hand-over of
// formatted swaths to the transmit ring.
#include "pipeline/swath_plan.h"

#include <algorithm>
#include <cstring>

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/command_slot.h"
#include "handover/job_buffers.h"
#include "handover/swath_ring.h"
#include "params/calibration_params.h"
#include "params/printer_info.h"
#include "pipeline/head_format.h"
#include "platform/clock.h"

namespace {
// Blank column groups cost one compare each.
const uint8_t ZERO_GROUP[SWATH_COLUMN_GROUP_BYTES] = {};

PlannerState& plan() { return OwnedState<PlannerState>::get(); }

constexpr uint32_t MAX_FEED_CHUNK = 2147483647u;
constexpr uint8_t OLD_BOARD_VERSION = 109;
constexpr uint32_t OLD_BOARD_SETTLE_MS = 12000;

uint32_t bytesPerRow(uint32_t rowBits) { return rowBits / 8 + (rowBits % 8 != 0); }

bool flagSet(const std::atomic<uint32_t>* flag) { return flag && flag->load() == 1; }

uint32_t xRatio(const JobContext* ctx) {
    const uint32_t xRes = calibrationParams()->xResolution;
    const uint32_t ratio = xRes ? ctx->xDpi / xRes : 1;
    return ratio ? ratio : 1;
}

// Head dots per job dot divisor; a job without a loaded resolution falls back to no scaling
// rather than dividing by zero.
double headScale() {
    const CalibrationParams* cp = calibrationParams();
    if (cp->xResolution == 0 || cp->headDpi == 0) return 1.0;
    return static_cast<double>(cp->xResolution) / cp->headDpi;
}

uint16_t toHeadDots(const JobContext* ctx, int64_t jobDots) {
    const double v = (ctx->startOffsetDots + static_cast<double>(jobDots)) / headScale();
    return v <= 0.0 ? 0 : static_cast<uint16_t>(static_cast<uint32_t>(v));
}

bool groupIsBlank(const uint8_t* format, uint32_t group) {
    return std::memcmp(format + static_cast<size_t>(group) * SWATH_COLUMN_GROUP_BYTES, ZERO_GROUP,
                       SWATH_COLUMN_GROUP_BYTES) == 0;
}

// Column groups that may be read from the format buffer.
uint32_t groupsInside(const JobContext* ctx) {
    const size_t room = bufferRoomFrom(ctx->formatBuffer, MAX_FORMAT_DATA_SIZE);
    return static_cast<uint32_t>(std::min<size_t>(room, MAX_FORMAT_DATA_SIZE) /
                                 SWATH_COLUMN_GROUP_BYTES);
}

// Old main boards cannot take a feed-only record while swaths are queued: let the ring run
// empty first. The wait gives up when the job is stopped or the transmit side is gone.
void drainRingForOldBoard(JobContext* ctx) {
    flushPendingSwath();
    ctx->txReleased = 1;
    while (Ring_CountState(SWATH_EMPTY) < SWATH_RING_SIZE) {
        if (isJobStopped() || flagSet(ctx->link.cancelRequest) || ctx->link.txThreadEnded == 1 ||
            ctx->link.printerCancelled == 1)
            return;
        Clock_Sleep(100);
    }
    Log_Trace("all swath done\r\n");
    Clock_Sleep(OLD_BOARD_SETTLE_MS);
}
}  // namespace

void stampJob(JobContext* ctx) {
    const LocalTime t = Clock_LocalTime();
    ctx->jobId = static_cast<uint16_t>(t.day * 86400u + t.hour * 3600u + t.minute * 60u + t.second);
    Log_Trace("V%d.%02d%c/ %d.%d.%d %d:%d:%d / 0x%04X\n", 1, 72, 'a', t.year, t.month, t.day,
              t.hour, t.minute, t.second, systemLocaleId());
    const uint8_t map[4] = {7, 6, 5, 4};
    std::memcpy(ctx->channelMap, map, sizeof map);
    jobWaitBreakFlag() = 0;
    jobCancelFlag() = 0;
    Plan_ExpectWork(0, 0);
    ctx->link.bufferWaitBreak = &jobWaitBreakFlag();
    ctx->link.cancelRequest = &jobCancelFlag();
    Cmd_Reset();
    clearProgramError();
    // A record held back by a job that ended early belongs to a ring that has been reset since;
    // releasing it into this job would send stale data.
    pendingSwathRecord() = nullptr;
}

bool checkJobSizes(JobContext* ctx) {
    const uint64_t margin = headMarginColumns(ctx);
    const uint64_t columns = ctx->rowBits + 2 * margin;
    const uint64_t formatSize = columns * 360;
    const uint64_t rowBytes = bytesPerRow(ctx->rowBits);
    const uint64_t srcSize = rowBytes * ctx->headSpanRows;
    ctx->formatColumns = static_cast<uint32_t>(columns);
    ctx->formatDataSize = static_cast<uint32_t>(std::min<uint64_t>(formatSize, UINT32_MAX));
    ctx->srcDataSize = static_cast<uint32_t>(std::min<uint64_t>(srcSize, UINT32_MAX));
    ctx->srcDataSizeExtra = static_cast<uint32_t>(
        std::min<uint64_t>(rowBytes * (ctx->headSpanRows + ctx->extraRows), UINT32_MAX));
    ctx->srcBuffer = canvasBuffer();
    ctx->srcBufferA = canvasBuffer();
    ctx->srcBufferB = srcBufferBStorage();
    ctx->formatBuffer = formatBufferStorage();

    if (srcSize > MAX_SRC_DATA_SIZE) {
        setProgramError(ERR_DATA_BUFFER_OVERFLOW);
        Log_Trace("源数据:%llu>MAX_SRC_DATA_SIZE\n", static_cast<unsigned long long>(srcSize));
        return false;
    }
    if (formatSize > MAX_FORMAT_DATA_SIZE) {
        Log_Trace("目标数据:%llu>%d(MAX_FORMAT_DATA_SIZE)\n",
                  static_cast<unsigned long long>(formatSize),
                  static_cast<int>(MAX_FORMAT_DATA_SIZE));
        setProgramError(ERR_DATA_BUFFER_OVERFLOW);
        return false;
    }
    if (ctx->rowBits / 2 > ctx->maxPrintWidthDots) {
        Log_Trace("图像宽:%u(%dmm) > %u(%dmm)\n", ctx->rowBits / 2,
                  static_cast<int>(ctx->rowBits * 25.4 / 600), ctx->maxPrintWidthDots,
                  static_cast<int>(ctx->maxPrintWidthDots * 25.4 / 600));
        setProgramError(ERR_PRINT_WIDTH_OVERFLOW);
        return false;
    }
    if (ctx->rowBits > WIDEST_IMAGE_ROW_BITS) {
        setProgramError(ERR_PRINT_WIDTH_OVERFLOW);
        return false;
    }
    if (ctx->imageRows == 0) {
        setProgramError(ERR_NO_PRINT_DATA);
        return false;
    }
    return true;
}

// A column group is two format columns: 4 rowBits units in image jobs (2 bits per pixel, a
// column per pixel) and 2 in the one-bit patterns, whose rowBits count columns.
static uint32_t unitsPerGroup(const JobContext* ctx) {
    return 2 * (ctx->bitsPerPixel ? ctx->bitsPerPixel : 1);
}

int findSwathExtent(JobContext* ctx) {
    const uint32_t ratio = xRatio(ctx);
    const uint32_t unit = unitsPerGroup(ctx);
    const uint32_t count = ctx->rowBits / ratio + headMarginColumns(ctx) * ctx->bitsPerPixel;
    // Groups whose position lies below count; never one past the end of the format buffer.
    const uint32_t inside = ctx->formatBuffer ? groupsInside(ctx) : 0u;
    const uint32_t forwardGroups = std::min(count / unit + (count % unit != 0), inside);
    const uint32_t backwardGroups = std::min(count / unit, inside);
    ctx->swathStart = 0;
    ctx->swathStop = 0;
    bool found = false;
    for (uint32_t g = 0; g < forwardGroups; ++g) {
        if (!groupIsBlank(ctx->formatBuffer, g)) {
            ctx->swathStart = g * unit;
            found = true;
            break;
        }
    }
    if (found) {
        for (uint32_t g = backwardGroups; g-- > 0;) {
            if (!groupIsBlank(ctx->formatBuffer, g)) {
                ctx->swathStop = count - (count / unit - 1 - g) * unit;
                break;
            }
        }
        // Ink only in the part group at the very end: the backward scan starts before it.
        if (ctx->swathStop <= ctx->swathStart) ctx->swathStop = count;
    }
    ctx->swathStart *= ratio;
    ctx->swathStop *= ratio;
    ctx->swathWidth = ctx->swathStop - ctx->swathStart;
    if (ctx->swathWidth == 0) return 1;
    if (ctx->swathDirection == 0)
        Log_Trace("L_TO_R: %05u-%05u, %u\n", ctx->swathStart / ratio, ctx->swathStop / ratio,
                  ctx->swathWidth);
    else
        Log_Trace("R_TO_L: %05u-%05u, %u\n", ctx->swathStop / ratio, ctx->swathStart / ratio,
                  ctx->swathWidth);
    return 0;
}

// Copies `length` bytes of swath data from the format buffer into the record. Near the end of
// the format buffer the extra columns would reach past it: only what lies inside is copied,
// the rest of the record's data is zeroed, so the printer still gets the full length.
static void copySwathData(const JobContext* ctx, SwathRecord* record, size_t offset, size_t length,
                          size_t roundedLength) {
    if (!record->data) return;
    size_t inside = 0;
    if (ctx->formatBuffer) {
        const size_t room = std::min<size_t>(
            bufferRoomFrom(ctx->formatBuffer, MAX_FORMAT_DATA_SIZE), MAX_FORMAT_DATA_SIZE);
        if (offset < room) inside = std::min(length, room - offset);
        if (inside) std::memcpy(record->data, ctx->formatBuffer + offset, inside);
    }
    std::memset(record->data + inside, 0, roundedLength - inside);
}

// Whole job columns per head dot, or 0 when the resolution is not a whole multiple of it.
static uint32_t columnsPerHeadDot() {
    const CalibrationParams* cp = calibrationParams();
    if (cp->xResolution == 0 || cp->headDpi == 0 || cp->xResolution % cp->headDpi != 0) return 0;
    return cp->xResolution / cp->headDpi;
}

// The carriage places a swath by whole head dots while its data columns follow at the job's
// resolution. Cutting the first inked column's place down to a head dot would shift the whole
// swath by the remainder, differently in each direction and from swath to swath, and the
// vernier would read that shift as a mechanical error. So the data starts at the head dot at
// or before the first inked column (at or after it, right to left) and carries the blank
// columns in between. Returns those lead columns; 0 where the image leaves no room for them.
static uint32_t leadColumns(const JobContext* ctx, uint64_t firstColumn, int64_t place) {
    const uint32_t perDot = columnsPerHeadDot();
    if (perDot <= 1 || place < 0) return 0;
    const uint32_t rest = static_cast<uint32_t>(place % perDot);
    const uint32_t lead = ctx->swathDirection == 0 ? rest : (perDot - rest) % perDot;
    return lead <= firstColumn ? lead : 0;
}

void fillSwathRecord(JobContext* ctx, SwathRecord* record) {
    const uint32_t k = ctx->bitsPerPixel ? ctx->bitsPerPixel : 1;
    const uint64_t firstColumn = static_cast<uint64_t>(ctx->swathStart) * 2 / unitsPerGroup(ctx);
    // Right to left the carriage counts from the right end of the image.
    const int64_t rightEnd =
        static_cast<int64_t>(ctx->rowBits) + static_cast<int64_t>(headMarginColumns(ctx)) * k;
    const int64_t startColumn = ctx->swathDirection == 0 ? static_cast<int64_t>(ctx->swathStart / k)
                                                         : (rightEnd - ctx->swathStart) / k;
    const uint32_t lead = leadColumns(ctx, firstColumn, ctx->startOffsetDots + startColumn);

    const uint64_t extra = ctx->swathWidth < 100 ? 256 : 16;
    const uint64_t wanted = (ctx->swathWidth / k + extra + lead) * 180;
    const uint64_t rounded = std::min<uint64_t>((wanted + 63) / 64 * 64, MAX_FORMAT_DATA_SIZE);
    const size_t offset = static_cast<size_t>((firstColumn - lead) * 180);
    copySwathData(ctx, record, offset, static_cast<size_t>(std::min(wanted, rounded)),
                  static_cast<size_t>(rounded));
    record->size = static_cast<uint32_t>(rounded);

    if (ctx->swathDirection == 0) {
        record->startPos = toHeadDots(ctx, startColumn - lead);
        record->stopPos = toHeadDots(ctx, ctx->swathStop / k);
        record->rightToLeft = 0;
        record->leftToRight = 1;
    } else {
        record->startPos = toHeadDots(ctx, startColumn + lead);
        record->stopPos = toHeadDots(ctx, (rightEnd - ctx->swathStop) / k);
        record->rightToLeft = 1;
        record->leftToRight = 0;
    }
    record->reserved = 0;
    record->feed = ctx->feedPerSwath;
    record->swathNo = static_cast<uint32_t>(ctx->swathNumber);
    Log_Trace("SWATH%d, start:%d,stop:%d!\n", ctx->swathNumber, record->startPos, record->stopPos);
}

SwathRecord* acquireSwathRecord(JobContext* ctx, SwathRecord* record) {
    if (ctx->pendingEmptySwaths != 0) return record;
    uint32_t waits = 0;
    for (;;) {
        if (flagSet(ctx->link.cancelRequest) || isJobStopped()) return nullptr;
        if (ctx->link.txThreadEnded == 1) {
            Log_Trace("打印数据已经准备好，但TX线程已经结束\n");
            setProgramError(ERR_PRINTER_ERROR);
            return nullptr;
        }
        if (SwathRecord* free = Ring_GetEmpty()) {
            ++ctx->swathNumber;
            return free;
        }
        Clock_Sleep(waits + 50);
        ++waits;
        if (flagSet(ctx->link.bufferWaitBreak) || swathBufferFreedFlag().exchange(0) != 0) {
            waits = 0;
            continue;
        }
        Log_Trace("PC驱动缓冲已满, delay 500\n");
        Clock_Sleep(500);
    }
}

void Plan_ExpectWork(uint32_t records, uint64_t feedSteps) {
    plan().expectedRecords = records;
    plan().expectedFeedSteps = feedSteps;
}

void Plan_ExpectedWork(uint32_t* records, uint64_t* feedSteps) {
    *records = plan().expectedRecords;
    *feedSteps = plan().expectedFeedSteps;
}

uint32_t Plan_FeedRecordCount(uint32_t total, uint32_t chunk) {
    if (chunk == 0) return 0;
    uint32_t records = 0;
    for (uint32_t left = total; left > 0;) {
        const uint32_t n = std::min(left, chunk);
        records += (n + MAX_FEED_CHUNK - 1) / MAX_FEED_CHUNK;
        left -= n;
    }
    return records;
}

void sendEmptySteps(uint32_t steps, JobContext* ctx, int backwards) {
    if (ctx->link.printerCancelled == 1) return;
    if (plan().firstSwathPrinted && mainBoardVersion() < OLD_BOARD_VERSION)
        drainRingForOldBoard(ctx);
    Log_Trace("EmptySteps: %u\n", steps);
    while (steps > 0) {
        const uint32_t chunk = std::min(steps, MAX_FEED_CHUNK);
        SwathRecord* r = acquireSwathRecord(ctx, nullptr);
        if (!r) {
            Log_Trace("EmptySwathPswath=NULL\r\n");
            return;
        }
        r->size = 0;
        r->swathNo = static_cast<uint32_t>(ctx->swathNumber);
        r->feed = chunk | (backwards ? SWATH_FEED_BACKWARDS : 0u);
        Ring_SetState(r, SWATH_FULL);
        steps -= chunk;
    }
}

void flushEmptySwaths(JobContext* ctx) {
    const uint32_t blanks = static_cast<uint32_t>(std::max(ctx->pendingEmptySwaths, 0));
    ctx->pendingEmptySwaths = 0;
    sendEmptySteps(ctx->feedPerSwath * blanks, ctx, 0);
}

bool planSwath(JobContext* ctx) {
    if (ctx->swathNumber == 0) pendingSwathRecord() = nullptr;
    ctx->lastSwathEmpty = static_cast<uint32_t>(findSwathExtent(ctx));
    if (ctx->lastSwathEmpty) {
        // The held-back swath is followed by a feed, not by a printed swath: it has no next
        // start, and a value left from the record's earlier use must not travel.
        flushPendingSwath();
        Log_Trace("swath%d empty\n", static_cast<int>(ctx->swathCounter - 1));
        ++ctx->pendingEmptySwaths;
        return true;
    }
    if (ctx->pendingEmptySwaths > 0) flushEmptySwaths(ctx);
    if (plan().firstSwathPrinted == 0) {
        plan().firstSwathPrinted = 1;
        plan().directionToggle ^= 1;  // the first printed swath of a run turns the alternation
    }
    SwathRecord* record = acquireSwathRecord(ctx, nullptr);
    if (!record || isJobStopped()) return false;
    fillSwathRecord(ctx, record);
    if (SwathRecord* held = pendingSwathRecord().exchange(record)) {
        held->nextStart = record->startPos;
        Ring_SetState(held, SWATH_FULL);
    }
    return true;
}

uint8_t nextSwathDirection(JobContext* ctx) {
    if (ctx->printDirection != 1) return ctx->printParams.uniDirection == 1 ? 1 : 0;
    PlannerState& st = plan();
    if (st.firstSwathPrinted == 0) return st.directionToggle;
    // A second question about the same swath gets the answer the first one got.
    if (ctx->swathCounter == st.lastCounterSeen) return st.lastDirectionGiven;
    st.lastCounterSeen = ctx->swathCounter;
    st.lastDirectionGiven = st.directionToggle;
    st.directionToggle ^= 1;
    return st.lastDirectionGiven;
}

uint32_t stepsToLength(uint16_t rows) {
    const double steps = rows * jobContext()->feedStep;
    return steps <= 0.0 ? 0 : static_cast<uint32_t>(steps);
}

void Swath_Emit(uint32_t feed) {
    JobContext* ctx = jobContext();
    SwathRecord* record = acquireSwathRecord(ctx, nullptr);
    if (!record || isJobStopped()) return;
    record->rightToLeft = ctx->swathDirection;
    ctx->lastSwathEmpty = static_cast<uint32_t>(findSwathExtent(ctx));
    fillSwathRecord(ctx, record);
    record->feed = static_cast<uint16_t>(feed);
    if (ctx->printDirection == 1) {
        record->leftToRight = ctx->swathDirection ? 0 : 1;
        record->nextStart = record->stopPos;
    } else {
        record->leftToRight = ctx->swathDirection;
        record->nextStart = record->startPos;
    }
    Ring_SetState(record, SWATH_FULL);
    Log_Trace("============Swath%u: start:%d,stop:%d,dir:%d\r\n", ctx->swathCounter,
              record->startPos, record->stopPos, ctx->swathDirection);
    ++ctx->swathCounter;
}
