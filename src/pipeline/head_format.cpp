// SPDX-License-Identifier: Apache-2.0
// Head data formatting: channel offsets, the channel-pair and single-channel writers for both
// heads and both directions, with every format buffer write kept inside the buffer.
#include "pipeline/head_format.h"

#include <bit>
#include <cstring>

#include "diag/log.h"
#include "handover/job_buffers.h"
#include "params/calibration_params.h"

namespace {
constexpr int64_t COLUMN = 180;      // bytes of one format column, one per nozzle
constexpr uint32_t NOZZLES = 180;    // rows read by the single-channel writers
constexpr uint32_t PAIR_ROWS = 179;  // the pair writers leave the last nozzle alone
constexpr int RTL_RAW_EXTRA = 32;
constexpr int BIDIR_FIELDS = 11;  // bidirTextHigh .. bidirImageLowHd

// Channel-offset correction T (channels 6, 5, 4, 3, 2, 1, 0) by resolution class and speed;
// speed 0 stands for any speed not listed before it for the class.
struct SpeedCorrection {
    uint8_t resolutionClass;
    uint8_t speed;
    int8_t t[7];
};
constexpr SpeedCorrection T_TABLE[] = {
    {0, 60, {0, 0, 0, 0, 2, 0, 0}}, {0, 50, {0, 0, 0, 0, 1, 0, 1}}, {0, 0, {0, 0, 0, 0, 1, -1, 0}},
    {1, 60, {0, 0, 0, 0, 2, 0, 0}}, {1, 50, {0, 0, 0, 0, 1, 0, 1}}, {1, 0, {0, 0, 0, 0, 1, -1, 0}},
    {2, 50, {0, 0, 0, 0, 0, 0, 1}}, {2, 0, {0, 0, 0, 0, 0, 0, 1}},  {3, 0, {0, 0, 0, 0, 1, 0, 0}},
};
// Class correction K for channels 3, 2, 1, 0, by resolution class.
constexpr int8_t K_TABLE[4][4] = {{2, 1, 2, 2}, {2, 1, 1, 2}, {0, 0, 0, 0}, {2, 1, 1, 2}};
// Raw offset of each channel in small and large row gaps, counted from channel 7 outwards.
struct RowDistance {
    uint8_t small, large;
};
constexpr RowDistance ROW_DISTANCE[8] = {{4, 3}, {3, 3}, {3, 2}, {2, 2},
                                         {2, 1}, {1, 1}, {1, 0}, {0, 0}};

bool headAEnabled(const JobContext* c) { return (c->printParams.headEnable & 0x01) != 0; }
bool headBEnabled(const JobContext* c) { return (c->printParams.headEnable & 0x02) != 0; }
bool bothHeads(const JobContext* c) { return headAEnabled(c) && headBEnabled(c); }

const int8_t* speedCorrection(uint8_t resolutionClass, uint8_t speed) {
    static constexpr int8_t NONE[7] = {};
    for (const auto& row : T_TABLE)
        if (row.resolutionClass == resolutionClass && (row.speed == speed || row.speed == 0))
            return row.t;
    return NONE;
}

uint16_t bidirCorrection(uint8_t index) {
    const CalibrationParams* p = calibrationParams();
    const uint16_t fields[BIDIR_FIELDS] = {
        p->bidirTextHigh,  p->bidirTextMid,     p->bidirTextLow,    p->bidirImageHigh,
        p->bidirImageLow,  p->bidirPhoto,       p->bidirTextHighHd, p->bidirTextMidHd,
        p->bidirTextLowHd, p->bidirImageHighHd, p->bidirImageLowHd};
    // A mode index past the table has no correction of its own: print uncorrected.
    return index < BIDIR_FIELDS ? fields[index] : 0;
}

// --- dropped-write bookkeeping: each channel is traced once per swath -----------------------
void reportDropped(const JobContext* ctx, int channel, uint64_t count) {
    if (count == 0) return;
    FormatState& st = OwnedState<FormatState>::get();
    st.droppedTotal += count;
    if (ctx->jobId != st.tracedJob || ctx->swathCounter != st.tracedSwath) {
        st.tracedJob = ctx->jobId;
        st.tracedSwath = ctx->swathCounter;
        st.tracedChannels = 0;
    }
    const uint8_t bit = static_cast<uint8_t>(1u << (channel & 7));
    if (st.tracedChannels & bit) return;
    st.tracedChannels |= bit;
    Log_Trace("格式化数据越界: 通道%d, 丢弃%llu字节, swath%u\n", channel,
              static_cast<unsigned long long>(count), ctx->swathCounter);
}

// The format buffer as the writers see it: writes are byte indexes from its start; an index
// outside [0, room) is dropped and counted.
struct Target {
    uint8_t* base;
    int64_t room;
    uint64_t dropped[2] = {0, 0};  // per channel of a pair; single channels use slot 0
    void orIn(int64_t index, uint8_t mask, int slot = 0) {
        if (index >= 0 && index < room)
            base[index] |= mask;
        else
            ++dropped[slot];
    }
    bool holds(int64_t lo, int64_t hi) const { return lo >= 0 && hi < room; }
};

uint32_t sourceStride(const JobContext* ctx) { return (ctx->rowBits + 7) / 8; }

// Rows of the source that can be read without leaving its buffer.
uint32_t readableRows(const JobContext* ctx, const uint8_t* src, uint32_t wanted, int channel) {
    const uint64_t stride = sourceStride(ctx);
    if (stride == 0) return 0;
    const uint64_t room = bufferRoomFrom(src, MAX_SRC_DATA_SIZE);
    const uint64_t rows = room / stride;
    if (rows >= wanted) return wanted;
    Log_Trace("格式化源数据越界: 通道%d, 只读%llu行\n", channel,
              static_cast<unsigned long long>(rows));
    return static_cast<uint32_t>(rows);
}

// Next non-zero source byte at or after j (the run of zeros is skipped eight bytes at a time).
inline uint32_t nextInked(const uint8_t* src, uint32_t j, uint32_t n) {
    while (j + 8 <= n) {
        uint64_t word;
        std::memcpy(&word, src + j, sizeof word);
        if (word) break;
        j += 8;
    }
    while (j < n && !src[j]) ++j;
    return j;
}

// --- column-wise writing ----------------------------------------------------------------------
// The source is row-major and the format buffer column-major, so the writers go down the
// columns: the bytes of one source byte column (one per nozzle) are gathered first, and every
// format column they feed is then written as one contiguous run, eight nozzles per step.
constexpr uint64_t LANES = 0x0101010101010101ull;
constexpr uint64_t LOW7 = 0x7F7F7F7F7F7F7F7Full;
constexpr uint64_t HIGH = 0x8080808080808080ull;

// Eight nozzle bytes: `mask` in every lane whose source byte has any of `bits`, else 0.
inline uint64_t laneMask(uint64_t source, uint8_t bits, uint8_t mask) {
    const uint64_t x = source & (bits * LANES);
    const uint64_t nonZero = (((x & LOW7) + LOW7) | x) & HIGH;
    return (nonZero >> 7) * mask;
}

inline void orWord(uint8_t* at, uint64_t value) {
    uint64_t word;
    std::memcpy(&word, at, sizeof word);
    word |= value;
    std::memcpy(at, &word, sizeof word);
}

// Nozzle rows in groups of eight, one bit per group with ink (180 rows: 23 groups).
using RowGroups = uint32_t;

constexpr RowGroups wholeColumn(uint32_t rows) {
    return rows ? (RowGroups{1} << ((rows - 1) / 8) << 1) - 1 : 0;
}

// ORs `mask` into out[r] (and out[second + r] when second is not 0) for every nozzle r below
// `rows` whose source byte column[r] has any of `bits`; only the groups in `groups` are read.
inline void orNozzles(uint8_t* out, int64_t second, const uint8_t* column, uint32_t rows,
                      RowGroups groups, uint8_t bits, uint8_t mask) {
    if (groups == wholeColumn(rows)) {
        // A simple loop the compiler turns into vector code.
        for (uint32_t r = 0; r < rows; ++r) out[r] |= (column[r] & bits) ? mask : 0;
        if (second)
            for (uint32_t r = 0; r < rows; ++r) out[second + r] |= (column[r] & bits) ? mask : 0;
        return;
    }
    for (; groups; groups &= groups - 1) {
        const uint32_t r0 = 8u * static_cast<uint32_t>(std::countr_zero(groups));
        if (r0 + 8 <= rows) {
            uint64_t source;
            std::memcpy(&source, column + r0, sizeof source);
            const uint64_t value = laneMask(source, bits, mask);
            if (!value) continue;
            orWord(out + r0, value);
            if (second) orWord(out + second + r0, value);
            continue;
        }
        for (uint32_t r = r0; r < rows; ++r) {
            if (!(column[r] & bits)) continue;
            out[r] |= mask;
            if (second) out[second + r] |= mask;
        }
    }
}

// Calls emit(j, column, inked, groups) for every source byte column j with ink in any row:
// column[r] is row r's byte j (zero in the rows outside `groups`), inked the OR of them. The
// rows are read a word (eight columns) at a time; blank words and rows cost no more.
template <typename Emit>
void forEachInkedColumn(const uint8_t* src, uint32_t stride, uint32_t rows, Emit emit) {
    static_assert(NOZZLES <= 8 * sizeof(RowGroups) * 8, "row groups fit one mask");
    uint8_t strip[NOZZLES][8];
    uint8_t column[NOZZLES] = {};
    uint16_t inkedRows[NOZZLES];
    uint32_t j0 = 0;
    for (; j0 < stride; j0 += 8) {
        const uint32_t width = stride - j0 < 8 ? stride - j0 : 8;
        uint64_t any = 0;
        uint32_t count = 0;
        const uint8_t* row = src + j0;
        for (uint32_t r = 0; r < rows; ++r, row += stride) {
            uint64_t word = 0;
            if (width == 8)
                std::memcpy(&word, row, sizeof word);
            else
                std::memcpy(&word, row, width);  // the row's last bytes
            if (!word) continue;
            std::memcpy(strip[r], &word, sizeof word);
            inkedRows[count++] = static_cast<uint16_t>(r);
            any |= word;
        }
        if (!any) continue;
        uint8_t inked[8];
        std::memcpy(inked, &any, sizeof inked);
        if (count == rows) {
            // Ink in every row: whole columns, every group.
            const RowGroups all = wholeColumn(rows);
            for (uint32_t i = 0; i < width; ++i) {
                if (!inked[i]) continue;
                for (uint32_t r = 0; r < rows; ++r) column[r] = strip[r][i];
                emit(j0 + i, column, inked[i], all);
            }
            std::memset(column, 0, sizeof column);
            continue;
        }
        for (uint32_t i = 0; i < width; ++i) {
            if (!inked[i]) continue;
            RowGroups groups = 0;
            for (uint32_t n = 0; n < count; ++n) {
                const uint32_t r = inkedRows[n];
                column[r] = strip[r][i];
                groups |= RowGroups{1} << (r / 8);
            }
            emit(j0 + i, column, inked[i], groups);
            for (uint32_t n = 0; n < count; ++n) column[inkedRows[n]] = 0;
        }
    }
}

// --- single-channel writers -------------------------------------------------------------------
// Bit pairs 0..3 of a source byte (bits 7-6, 5-4, 3-2, 1-0) and their two columns' byte
// positions relative to the byte's base, left to right and right to left (from E - base).
constexpr uint8_t PAIR_BITS[4] = {0xC0, 0x30, 0x0C, 0x03};
constexpr int64_t LTR_PAIR_AT[4] = {0, 360, 720, 1080};
constexpr int64_t RTL_PAIR_AT[4] = {-360, 0, -1080, -720};
constexpr int64_t SINGLE_BYTE_SPAN = 1440;

// Writes of a swath that may leave the buffer: one source byte at a time, each write checked.
void writeSingleChecked(Target& t, const JobContext* ctx, const uint8_t* src, uint32_t rows,
                        int64_t start, bool rightToLeft, uint8_t mask) {
    const uint32_t stride = sourceStride(ctx);
    const int64_t end = static_cast<int64_t>(ctx->rowBits) * COLUMN;
    const int64_t* at = rightToLeft ? RTL_PAIR_AT : LTR_PAIR_AT;
    for (uint32_t r = 0; r < rows; ++r, src += stride, ++start) {
        for (uint32_t j = nextInked(src, 0, stride); j < stride;
             j = nextInked(src, j + 1, stride)) {
            const uint8_t b = src[j];
            const int64_t base =
                rightToLeft ? start + end - SINGLE_BYTE_SPAN * j : start + SINGLE_BYTE_SPAN * j;
            for (int k = 0; k < 4; ++k) {
                if (!(b & PAIR_BITS[k])) continue;
                t.orIn(base + at[k], mask);
                t.orIn(base + at[k] + COLUMN, mask);
            }
        }
    }
}

// Writes of a swath known to stay inside the buffer, column by column: each source byte column
// becomes whole runs of nozzle bytes, written eight at a time.
void writeSingleFast(uint8_t* base, const JobContext* ctx, const uint8_t* src, uint32_t rows,
                     int64_t start, bool rightToLeft, uint8_t mask) {
    const int64_t end = static_cast<int64_t>(ctx->rowBits) * COLUMN;
    const int64_t* at = rightToLeft ? RTL_PAIR_AT : LTR_PAIR_AT;
    forEachInkedColumn(
        src, sourceStride(ctx), rows,
        [&](uint32_t j, const uint8_t* column, uint8_t inked, RowGroups groups) {
            const int64_t b =
                rightToLeft ? start + end - SINGLE_BYTE_SPAN * j : start + SINGLE_BYTE_SPAN * j;
            for (int k = 0; k < 4; ++k) {
                if (!(inked & PAIR_BITS[k])) continue;
                orNozzles(base + b + at[k], COLUMN, column, rows, groups, PAIR_BITS[k], mask);
            }
        });
}

void formatSingle(JobContext* ctx, int channel, bool secondHead, bool rightToLeft) {
    const uint8_t mask = static_cast<uint8_t>(1u << channel);
    const uint16_t distance = ctx->printParams.headDistance;
    uint16_t offset = static_cast<uint16_t>(channelRowOffset(ctx, channel));
    if (secondHead)
        offset = static_cast<uint16_t>(rightToLeft ? offset - distance : offset + distance);
    const int64_t nozzle = secondHead ? 2 : 0;
    int64_t start = offset * COLUMN + nozzle;
    if (offset & 1) start += rightToLeft ? -COLUMN : COLUMN;
    ctx->offsetA = offset;
    ctx->maskA = mask;

    const uint8_t* src = ctx->srcBuffer;
    Target t{ctx->formatBuffer,
             static_cast<int64_t>(bufferRoomFrom(ctx->formatBuffer, MAX_FORMAT_DATA_SIZE))};
    ctx->outA = (start >= 0 && start < t.room) ? t.base + start : nullptr;
    const uint32_t rows = readableRows(ctx, src, NOZZLES, channel);
    const uint32_t stride = sourceStride(ctx);
    if (rows == 0) return;
    // Whole-swath extent of the writes; only a swath that can leave the buffer pays for checks.
    const int64_t end = static_cast<int64_t>(ctx->rowBits) * COLUMN;
    const int64_t lastByte = SINGLE_BYTE_SPAN * (stride - 1);
    const int64_t lo = rightToLeft ? start + end - lastByte - 1080 : start;
    const int64_t hi = (rightToLeft ? start + end : start + lastByte + 1080) + COLUMN + rows - 1;
    if (t.holds(lo, hi))
        writeSingleFast(t.base, ctx, src, rows, start, rightToLeft, mask);
    else
        writeSingleChecked(t, ctx, src, rows, start, rightToLeft, mask);
    reportDropped(ctx, channel, t.dropped[0]);
}

// --- channel-pair writers ---------------------------------------------------------------------
// Per source byte (four columns, base 720 x j): bit, which channel (0 = A, 1 = B) left to
// right, and its byte position; right to left the channels swap and positions count from E.
struct PairBit {
    uint8_t bit;
    uint8_t ltrChannel;
    int64_t ltrAt;
    int64_t rtlAt;
};
constexpr PairBit PAIR_LAYOUT[8] = {
    {0x20, 0, 0, -360}, {0x10, 0, 180, -180}, {0x02, 0, 360, -720}, {0x01, 0, 540, -540},
    {0x80, 1, 0, -360}, {0x40, 1, 180, -180}, {0x08, 1, 360, -720}, {0x04, 1, 540, -540},
};
constexpr int64_t PAIR_BYTE_SPAN = 720;

void writePairChecked(Target& t, const JobContext* ctx, const uint8_t* src, uint32_t rows,
                      const int64_t start[2], const uint8_t mask[2], bool rightToLeft) {
    const uint32_t stride = sourceStride(ctx);
    const int64_t end = static_cast<int64_t>(ctx->rowBits) * (COLUMN / 2);
    for (uint32_t r = 0; r < rows; ++r, src += stride) {
        for (uint32_t j = nextInked(src, 0, stride); j < stride;
             j = nextInked(src, j + 1, stride)) {
            const uint8_t b = src[j];
            const int64_t base = PAIR_BYTE_SPAN * j;
            for (const PairBit& p : PAIR_LAYOUT) {
                if (!(b & p.bit)) continue;
                const int ch = rightToLeft ? 1 - p.ltrChannel : p.ltrChannel;
                if (!mask[ch]) continue;  // an ink position naming no channel prints nothing
                const int64_t i = rightToLeft ? start[ch] + r + end + p.rtlAt - base
                                              : start[ch] + r + base + p.ltrAt;
                t.orIn(i, mask[ch], ch);
            }
        }
    }
}

void writePairFast(uint8_t* out, const JobContext* ctx, const uint8_t* src, uint32_t rows,
                   const int64_t start[2], const uint8_t mask[2], bool rightToLeft) {
    const int64_t end = static_cast<int64_t>(ctx->rowBits) * (COLUMN / 2);
    forEachInkedColumn(src, sourceStride(ctx), rows,
                       [&](uint32_t j, const uint8_t* column, uint8_t inked, RowGroups groups) {
                           const int64_t base = PAIR_BYTE_SPAN * j;
                           for (const PairBit& p : PAIR_LAYOUT) {
                               if (!(inked & p.bit)) continue;
                               const int ch = rightToLeft ? 1 - p.ltrChannel : p.ltrChannel;
                               if (!mask[ch]) continue;
                               const int64_t i = rightToLeft ? start[ch] + end + p.rtlAt - base
                                                             : start[ch] + base + p.ltrAt;
                               orNozzles(out + i, 0, column, rows, groups, p.bit, mask[ch]);
                           }
                       });
}

void formatPairForHead(JobContext* ctx, int pair, int head, bool rightToLeft) {
    if (head != 0 && head != 1) {
        Log_Trace("offectinit未定义格式化模式:%d", head);
        return;
    }
    if (pair < 0 || pair > 3) return;
    const uint16_t shift = (head == 1 && bothHeads(ctx)) ? ctx->printParams.headDistance : 0;
    const uint8_t* order = calibrationParams()->inkOrder;
    const int a = order[7 - 2 * pair], b = order[6 - 2 * pair];
    ctx->maskA = static_cast<uint8_t>(a < 8 ? 1u << a : 0);
    ctx->maskB = static_cast<uint8_t>(b < 8 ? 1u << b : 0);
    uint16_t offA = static_cast<uint16_t>(channelRowOffset(ctx, a));
    uint16_t offB = static_cast<uint16_t>(channelRowOffset(ctx, b));
    offA = static_cast<uint16_t>(rightToLeft ? offA - shift : offA + shift);
    offB = static_cast<uint16_t>(rightToLeft ? offB - shift : offB + shift);
    if (offB & 1) ++offB;
    if (offA & 1) ++offA;
    ctx->offsetA = offA;
    ctx->offsetB = offB;

    Target t{ctx->formatBuffer,
             static_cast<int64_t>(bufferRoomFrom(ctx->formatBuffer, MAX_FORMAT_DATA_SIZE))};
    const int64_t nozzle = head == 1 ? 2 : 0;
    const int64_t start[2] = {offA * COLUMN + nozzle, offB * COLUMN + nozzle};
    ctx->outA = offA * COLUMN < t.room ? t.base + offA * COLUMN : nullptr;
    ctx->outB = offB * COLUMN < t.room ? t.base + offB * COLUMN : nullptr;
    const uint8_t mask[2] = {ctx->maskA, ctx->maskB};
    const uint8_t* src = head == 0 ? ctx->srcBufferA : ctx->srcBufferB;
    if (!src) return;
    const uint32_t rows = readableRows(ctx, src, PAIR_ROWS, a);
    if (rows == 0) return;
    const int64_t end = static_cast<int64_t>(ctx->rowBits) * (COLUMN / 2);
    const int64_t lastByte = PAIR_BYTE_SPAN * (sourceStride(ctx) - 1);
    const int64_t lowStart = start[0] < start[1] ? start[0] : start[1];
    const int64_t highStart = start[0] < start[1] ? start[1] : start[0];
    const int64_t lo = rightToLeft ? lowStart + end - lastByte - 720 : lowStart;
    const int64_t hi =
        (rightToLeft ? highStart + end - 180 : highStart + lastByte + 540) + rows - 1;
    if (t.holds(lo, hi)) {
        writePairFast(t.base, ctx, src, rows, start, mask, rightToLeft);
        return;
    }
    writePairChecked(t, ctx, src, rows, start, mask, rightToLeft);
    reportDropped(ctx, a, t.dropped[0]);
    reportDropped(ctx, b, t.dropped[1]);
}
}  // namespace

uint32_t headMarginColumns(const JobContext* ctx) {
    const uint32_t s = ctx->printParams.rowGapSmall, l = ctx->printParams.rowGapLarge;
    if (bothHeads(ctx)) return ctx->printParams.headDistance + 8 * s + 8 * l;
    return 4 * (s + l);
}

int channelRowOffset(const JobContext* ctx, int channel) {
    const CalibrationParams* p = calibrationParams();
    const int s = ctx->printParams.rowGapSmall, l = ctx->printParams.rowGapLarge;
    int raw = 0;
    if (channel >= 0 && channel <= 7) {
        const int8_t* t = speedCorrection(p->resolutionClass, ctx->printSpeedIps);
        raw = ROW_DISTANCE[channel].small * s + ROW_DISTANCE[channel].large * l;
        if (channel <= 6) raw += t[6 - channel];
        if (channel <= 3 && p->resolutionClass < 4) raw += K_TABLE[p->resolutionClass][3 - channel];
    }
    if (ctx->swathDirection != 1) return (raw + 1) / 2 * 2;
    raw += RTL_RAW_EXTRA;
    const int margin = static_cast<int>(headMarginColumns(ctx));
    return static_cast<uint16_t>(2 * bidirCorrection(ctx->bidirIndex) +
                                 ((margin - raw + 1) / 2) * 2);
}

void formatChannelPair(JobContext* ctx, int pair) {
    ctx->formatChannel = static_cast<uint8_t>(pair);
    if (!ctx->formatBuffer) return;
    const bool rightToLeft = ctx->swathDirection == 1;
    if (headAEnabled(ctx)) formatPairForHead(ctx, pair, 0, rightToLeft);
    if (headBEnabled(ctx)) formatPairForHead(ctx, pair, 1, rightToLeft);
}

void formatChannel(JobContext* ctx, int channel) {
    ctx->formatChannel = static_cast<uint8_t>(channel);
    if (channel < 0 || channel > 7) {
        Log_Trace("格式化通道无效:%d\n", channel);
        return;
    }
    if (!ctx->formatBuffer || !ctx->srcBuffer) return;
    formatSingle(ctx, channel, ctx->secondHeadPass != 0, ctx->swathDirection == 1);
}

bool isValidInkOrder(const uint8_t* inkOrder8) {
    if (!inkOrder8) return false;
    unsigned seen = 0;
    for (int i = 0; i < 8; ++i) {
        if (inkOrder8[i] > 7 || (seen & (1u << inkOrder8[i]))) return false;
        seen |= 1u << inkOrder8[i];
    }
    return true;
}
