// SPDX-License-Identifier: Apache-2.0
// The printer information record of a job: checks, version report, pass geometry and the
// print parameters derived from it.
#include "params/printer_info.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/job_context.h"
#include "params/ring_setup.h"
#include "platform/bytes.h"

namespace {

// Information record offsets (136-byte layout).
enum InfoOffset : uint8_t {
    INFO_REPORT_FIGURE = 0x38,
    INFO_BLOCK_BYTE4 = 0x39,
    INFO_PRINT_DIRECTION = 0x3b,
    INFO_UNI_DIRECTION = 0x3c,
    INFO_MARGIN_SWITCH = 0x44,
    INFO_RIGHT_MARGIN = 0x52,  // u16, 1/600 inch
    INFO_MODE_BYTE = 0x56,
    INFO_OVERLAP_LEVEL = 0x57,
    INFO_MODEL_CODE = 0x64,       // u16
    INFO_CARRIAGE_TRAVEL = 0x66,  // u16, mm
    INFO_SHORT_MARK = 0x7e,       // u16
    INFO_TAIL_MARK = 0x86,        // u16
};
// Short-layout offsets that differ from the long layout.
enum ShortInfoOffset : uint8_t {
    SHORT_AXIS_TEST = 0x38,  // u32
    SHORT_PASS_FIGURE = 0x3c,
    SHORT_SPEED_CLASS = 0x3e,
};

constexpr uint16_t SHORT_LAYOUT_MARK = 0x1154;
constexpr uint16_t TAIL_MARK = 0x9876;
constexpr uint8_t MIN_MAIN_BOARD_VERSION = 151;
constexpr uint8_t MAX_MAIN_BOARD_VERSION = 199;
constexpr uint16_t HEAD_DPI = 180;

// Where the version report finds its figures in each layout.
struct ReportLayout {
    uint8_t mainBoardVersion, mainBoardId, direction;
    uint8_t driverVersion, driverId, carriageVersion, carriageId;
};
constexpr ReportLayout LONG_REPORT = {0x5c, 0x72, 0x3b, 0x60, 0x74, 0x5e, 0x70};
constexpr ReportLayout SHORT_REPORT = {0x5e, 0x72, 0x3f, 0x62, 0x74, 0x60, 0x70};

// Pass geometry by vertical resolution; overlap in nozzle rows by overlap level 0..3.
struct PassGeometry {
    uint32_t yDpi;
    uint8_t passes;
    uint8_t passModeIndex;
    uint8_t overlap[4];
};
constexpr PassGeometry PASS_GEOMETRY[] = {
    {360, 2, 4, {42, 42, 42, 42}}, {540, 3, 3, {42, 42, 42, 42}}, {720, 4, 0, {0, 20, 40, 60}},
    {1080, 6, 1, {0, 42, 42, 42}}, {1440, 8, 2, {0, 0, 0, 0}},
};

// Row gaps by resolution class, for a 180-dpi head and for any other head.
struct RowGaps {
    uint8_t small[5];
    uint16_t large[5];
};
constexpr RowGaps ROW_GAPS_180 = {{47, 31, 64, 127, 94}, {162, 108, 216, 432, 324}};
constexpr RowGaps ROW_GAPS_OTHER = {{39, 26, 53, 106, 79}, {135, 90, 180, 360, 270}};

constexpr uint8_t SPEED_BY_CLASS[] = {26, 35};  // any other class: 40
constexpr uint8_t SPEED_OTHER_CLASS = 40;

PrinterInfoState& info() { return OwnedState<PrinterInfoState>::get(); }

bool isShortLayout(const uint8_t* record) {
    return le::getU16(record, INFO_SHORT_MARK) == SHORT_LAYOUT_MARK;
}

void writeVersionReport(const uint8_t* rec, const ReportLayout& at) {
    const JobContext* ctx = jobContext();
    const uint8_t version = le::getU8(rec, at.mainBoardVersion);
    info().lastMainBoardVersion.store(version);
    Log_Trace("================%04X=====================\n", le::getU16(rec, INFO_MODEL_CODE));
    Log_Trace("主板版本:%03d, 编号:%04X, 打印方向: %s\n", version, le::getU16(rec, at.mainBoardId),
              le::getU8(rec, at.direction) == 1 ? "双向" : "单向");
    Log_Trace("驱动版本:%03d, 编号:%04X,\n", le::getU8(rec, at.driverVersion),
              le::getU16(rec, at.driverId));
    Log_Trace("小车版本:%03d, 编号:%04X, 步进:%0.2f\n", le::getU8(rec, at.carriageVersion),
              le::getU16(rec, at.carriageId), ctx->feedStep);
}

void checkShortLayout(const uint8_t* rec) {
    JobContext* ctx = jobContext();
    const uint8_t speedClass = le::getU8(rec, SHORT_SPEED_CLASS);
    ctx->printSpeedIps =
        speedClass < sizeof SPEED_BY_CLASS ? SPEED_BY_CLASS[speedClass] : SPEED_OTHER_CLASS;
    info().rescaleHeadOffsets.store(false);
    writeVersionReport(rec, SHORT_REPORT);
    Log_Trace("Pass %d, 速度:%d IPS, 轴测试值: %d, 当前步进: %0.2f\n",
              le::getU8(rec, SHORT_PASS_FIGURE), ctx->printSpeedIps,
              static_cast<int>(le::getU32(rec, SHORT_AXIS_TEST)), ctx->feedStep);
}

const PassGeometry* passGeometryFor(uint32_t yDpi) {
    for (const PassGeometry& g : PASS_GEOMETRY)
        if (g.yDpi == yDpi) return &g;
    return nullptr;
}

void applyDoubleHeadGeometry(JobContext* ctx, const PassGeometry& g, int overlap) {
    if (g.passes == 4) {
        ctx->passCount = 2;
        overlap = 60;
    } else if (g.passes == 6) {
        ctx->passCount = 3;
        overlap = 45;
        info().rescaleHeadOffsets.store(true);
    }
    ctx->nozzlesPerPass = static_cast<uint16_t>(179 - overlap);
    ctx->headSpanRows = static_cast<uint16_t>(ctx->nozzlesPerPass * (ctx->yDpi / 180));
    ctx->extraRows = 0;
}

void applySingleHeadGeometry(JobContext* ctx, const PassGeometry& g, int overlap) {
    ctx->passCount = g.passes;
    ctx->nozzlesPerPass = static_cast<uint16_t>(180 - overlap);
    ctx->headSpanRows = static_cast<uint16_t>((ctx->nozzlesPerPass - 1) * ctx->passCount);
    const int extra = overlap * ctx->passCount - (ctx->nozzlesPerPass - 1);
    ctx->extraRows = extra > 0 ? static_cast<uint8_t>(extra) : 0;
}

// Fills the job's pass geometry from yDpi and the overlap level; false (with the reason in
// the trace) when the combination has no geometry, leaving the job's fields untouched.
bool derivePassGeometry(JobContext* ctx) {
    const PassGeometry* g = passGeometryFor(ctx->yDpi);
    if (g == nullptr) {
        Log_Trace("打印参数不可识别: no pass geometry for %u dpi\n", ctx->yDpi);
        return false;
    }
    if (g->passes == 4 && ctx->overlapLevel > 3) {
        Log_Trace("打印参数不可识别: overlap level %d at 720 dpi\n", ctx->overlapLevel);
        return false;
    }
    const int overlap = g->overlap[std::min<int>(ctx->overlapLevel, 3)];
    calibrationParams()->passModeIndex = g->passModeIndex;
    info().rescaleHeadOffsets.store(false);
    if (isDoubleHead())
        applyDoubleHeadGeometry(ctx, *g, overlap);
    else
        applySingleHeadGeometry(ctx, *g, overlap);
    return true;
}

InfoVerdict checkMainBoardVersion(uint8_t version) {
    if (version >= MIN_MAIN_BOARD_VERSION && version <= MAX_MAIN_BOARD_VERSION) return {true, {}};
    const char* text = "主板版本与驱动不匹配!\r\n";
    Log_Trace("%s", text);
    return {false, {text, "Error"}};
}

InfoVerdict checkLongLayout(const uint8_t* rec) {
    JobContext* ctx = jobContext();
    const uint16_t tail = le::getU16(rec, INFO_TAIL_MARK);
    if (tail != TAIL_MARK) Log_Trace("参数异常:%08X(%08X)\r\n", tail, TAIL_MARK);
    ctx->overlapLevel = le::getU8(rec, INFO_OVERLAP_LEVEL);
    ctx->infoModeByte = le::getU8(rec, INFO_MODE_BYTE);
    const bool geometryKnown = derivePassGeometry(ctx);
    writeVersionReport(rec, LONG_REPORT);
    Log_Trace("%d, %d , %0.2f\n", ctx->printSpeedIps, le::getU8(rec, INFO_REPORT_FIGURE),
              ctx->feedStep);
    if (!geometryKnown) return {false, {}};
    return checkMainBoardVersion(le::getU8(rec, LONG_REPORT.mainBoardVersion));
}

uint16_t clampU16(double v) { return v >= 65535.0 ? 0xffff : static_cast<uint16_t>(v); }

void applyPrintableWidth(JobContext* ctx, const uint8_t* rec, uint16_t startOffsetMm) {
    const uint32_t xRes = calibrationParams()->xResolution;
    const uint32_t rightMargin =
        le::getU8(rec, INFO_MARGIN_SWITCH) == 1 ? 0 : le::getU16(rec, INFO_RIGHT_MARGIN);
    const bool bothHeads = (le::getU8(rec, REC_HEAD_ENABLE) & 3) == 3;
    const int baseMm = 200 + (bothHeads ? 300 : 170);
    const int travelMm = le::getU16(rec, INFO_CARRIAGE_TRAVEL);
    const int64_t travelDots =
        static_cast<int64_t>((travelMm - baseMm) * static_cast<double>(xRes) / 25.4);
    const int64_t marginDots = static_cast<int64_t>(rightMargin + startOffsetMm) * xRes / 600;
    const int64_t width = travelDots - marginDots;
    // A carriage shorter than the heads' span leaves nothing printable; never a huge width.
    ctx->maxPrintWidthDots = width > 0 ? static_cast<uint32_t>(width) : 0;
    Log_Trace("最大打印宽度:%d mm = %dmm - (%d+%d) dots",
              static_cast<int>(static_cast<int64_t>(ctx->maxPrintWidthDots * 25.4) / xRes),
              travelMm, static_cast<int>(rightMargin * xRes / 600),
              static_cast<int>(static_cast<uint32_t>(startOffsetMm) * xRes / 600));
}

uint8_t rescaleTo1080(uint8_t rows) {
    return static_cast<uint8_t>(std::min(rows * 1080 / 720, 255));
}

void fillPrintParamBlock(PrintParamBlock* b, const uint8_t* rec) {
    const CalibrationParams* params = calibrationParams();
    const RowGaps& gaps = params->headDpi == HEAD_DPI ? ROW_GAPS_180 : ROW_GAPS_OTHER;
    const unsigned cls = std::min<unsigned>(params->resolutionClass, 4);
    // The mode index comes from the printer; a wild one must not read beyond the record.
    le::Reader reader{rec, PRINTER_INFO_SHORT_SIZE};
    const uint8_t mode = le::getU8(rec, REC_MODE_INDEX);
    *b = PrintParamBlock{};
    b->uniDirection = le::getU8(rec, INFO_UNI_DIRECTION);
    b->rowGapSmall = gaps.small[cls];
    b->rowGapLarge = gaps.large[cls];
    b->bidirCurrent = reader.u8(0x03 + mode);
    b->stepCurrent = reader.u16(0x0a + 2 * mode);
    b->stepsPerMeter = FEED_STEPS_PER_METER;
    b->headOffsetA = le::getU8(rec, REC_HEAD_OFFSET_A);
    b->headOffsetB = 0;  // no record byte carries it
    b->headDistance = le::getU16(rec, REC_HEAD_DISTANCE);
    b->spitDistanceMm = le::getU16(rec, REC_BLOCK_WORD16);
    b->headEnable = le::getU8(rec, REC_HEAD_ENABLE);
    b->spitInterval = le::getU8(rec, INFO_BLOCK_BYTE4);
    if (info().rescaleHeadOffsets.load()) {
        b->headOffsetA = rescaleTo1080(b->headOffsetA);
        b->headOffsetB = rescaleTo1080(b->headOffsetB);
    }
}

void loadCalibrationValues(const uint8_t* rec) {
    CalibrationParams* params = calibrationParams();
    params->headDpi = HEAD_DPI;
    params->xScale = static_cast<double>(params->xResolution) / HEAD_DPI;
    const RowGaps& gaps = params->headDpi == HEAD_DPI ? ROW_GAPS_180 : ROW_GAPS_OTHER;
    std::copy(std::begin(gaps.small), std::end(gaps.small), params->rowGapSmall);
    std::copy(std::begin(gaps.large), std::end(gaps.large), params->rowGapLarge);
    unpackCorrectionValues(rec, params);
    params->feedStepsPerMeter = FEED_STEPS_PER_METER;
}

}  // namespace

InfoVerdict checkPrinterInfo(const uint8_t* record, size_t length) {
    if (record == nullptr || length < PRINTER_INFO_SHORT_SIZE) {
        Log_Trace("打印参数不可识别: info record of %u bytes\n",
                  static_cast<unsigned>(record ? length : 0));
        return {false, {}};
    }
    if (isShortLayout(record)) {
        checkShortLayout(record);
        return {true, {}};
    }
    if (length < PRINTER_INFO_SIZE) {
        Log_Trace("打印参数不可识别: info record of %u bytes\n", static_cast<unsigned>(length));
        return {false, {}};
    }
    return checkLongLayout(record);
}

void applyPrintParameters(const uint8_t* record) {
    JobContext* ctx = jobContext();
    Ring_Init(ctx);
    ctx->printDirection = le::getU8(record, INFO_PRINT_DIRECTION);
    ctx->printerModelCode = le::getU16(record, INFO_MODEL_CODE);
    loadCalibrationValues(record);
    const uint16_t startOffsetMm = le::getU16(record, REC_START_OFFSET);
    applyPrintableWidth(ctx, record, startOffsetMm);
    const uint32_t xRes = calibrationParams()->xResolution;
    ctx->startOffsetDots = clampU16(startOffsetMm * static_cast<double>(xRes) / 25.4);
    fillPrintParamBlock(&ctx->printParams, record);
    const CalibrationParams* params = calibrationParams();
    Log_Trace("打印参数: Db-%d-%d-%d", params->bidirTextHigh, params->bidirTextMid,
              params->bidirTextLow);
    if (isHeadAEnabled())
        Log_Trace("PHA enable");
    else if (isHeadBEnabled())
        ctx->startOffsetDots =
            clampU16(static_cast<double>(ctx->startOffsetDots) + ctx->printParams.headDistance);
    if (isHeadBEnabled()) Log_Trace("PHB enable");
    ctx->paramsReady = 1;
}

InfoVerdict acceptPrinterInfo(const uint8_t* record, size_t length) {
    // Work on a private copy: the reply buffer it came in may be reused while we read.
    uint8_t copy[PRINTER_INFO_SIZE] = {};
    const size_t kept = record ? std::min(length, PRINTER_INFO_SIZE) : 0;
    if (kept > 0) std::memcpy(copy, record, kept);
    const InfoVerdict verdict = checkPrinterInfo(record ? copy : nullptr, kept);
    if (verdict.accepted) applyPrintParameters(copy);
    return verdict;
}

bool isHeadAEnabled() { return (jobContext()->printParams.headEnable & 1) != 0; }
bool isHeadBEnabled() { return (jobContext()->printParams.headEnable & 2) != 0; }
bool isDoubleHead() { return (jobContext()->printParams.headEnable & 3) == 3; }
uint8_t mainBoardVersion() { return info().lastMainBoardVersion.load(); }
