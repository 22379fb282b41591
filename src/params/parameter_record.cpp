// SPDX-License-Identifier: Apache-2.0
// Packing and unpacking of the 56-byte parameter record, shared by jobs and the console.
#include "params/parameter_record.h"

#include <cstring>
#include <string>

#include "platform/bytes.h"

namespace {

// One calibration value that the record carries in one byte or one word and CalibrationParams
// holds as u16.
struct WideField {
    uint8_t offset;
    uint8_t width;  // bytes in the record
    uint16_t CalibrationParams::*field;
};

// The corrections a job reloads from the printer.
constexpr WideField CORRECTION_FIELDS[] = {
    {0x03, 1, &CalibrationParams::bidirTextHigh},   {0x04, 1, &CalibrationParams::bidirTextMid},
    {0x05, 1, &CalibrationParams::bidirTextLow},    {0x0a, 2, &CalibrationParams::stepPass4},
    {0x0c, 2, &CalibrationParams::stepPass6},       {0x0e, 2, &CalibrationParams::stepPass8},
    {0x10, 2, &CalibrationParams::stepPass3},       {0x1e, 1, &CalibrationParams::bidirImageHigh},
    {0x1f, 1, &CalibrationParams::bidirImageLow},   {0x20, 1, &CalibrationParams::bidirPhoto},
    {0x2a, 1, &CalibrationParams::bidirTextHighHd}, {0x2b, 1, &CalibrationParams::bidirTextMidHd},
    {0x2c, 1, &CalibrationParams::bidirTextLowHd},  {0x2d, 1, &CalibrationParams::bidirImageHighHd},
    {0x2e, 1, &CalibrationParams::bidirImageLowHd}, {0x30, 2, &CalibrationParams::stepPass2},
};

constexpr WideField COLOR_BAND_FIELDS[] = {
    {0x28, 1, &CalibrationParams::colorBandMargin},
    {0x29, 1, &CalibrationParams::colorBandWidth},
};

constexpr uint8_t REC_FEATHER_MODE = 0x21;
constexpr uint8_t REC_FEATHER_DEPTH = 0x22;
constexpr uint8_t REC_SKIP_LR_BLANK = 0x26;
constexpr uint8_t REC_COLOR_BAND = 0x27;

template <size_t N>
void unpackFields(const WideField (&table)[N], const uint8_t* rec, CalibrationParams* out) {
    for (const WideField& f : table)
        out->*f.field = f.width == 1 ? le::getU8(rec, f.offset) : le::getU16(rec, f.offset);
}

template <size_t N>
void packFields(const WideField (&table)[N], const CalibrationParams& in, uint8_t* rec) {
    for (const WideField& f : table) {
        if (f.width == 1)
            le::putU8(rec, f.offset, static_cast<uint8_t>(in.*f.field));
        else
            le::putU16(rec, f.offset, in.*f.field);
    }
}

}  // namespace

void unpackCorrectionValues(const uint8_t* rec56, CalibrationParams* out) {
    unpackFields(CORRECTION_FIELDS, rec56, out);
    std::memcpy(out->inkOrder, rec56 + REC_INK_ORDER, sizeof out->inkOrder);
}

void unpackParameterRecord(const uint8_t* rec56, CalibrationParams* out) {
    unpackCorrectionValues(rec56, out);
    unpackFields(COLOR_BAND_FIELDS, rec56, out);
    out->featherMode = le::getU8(rec56, REC_FEATHER_MODE);
    out->featherDepth = le::getU8(rec56, REC_FEATHER_DEPTH);
    out->skipLrBlank = le::getU8(rec56, REC_SKIP_LR_BLANK) & 1;
    const uint8_t band = le::getU8(rec56, REC_COLOR_BAND);
    out->colorBandOn = band & 0x0f;
    out->colorBandSides = band >> 4;
    out->feedStepsPerMeter = FEED_STEPS_PER_METER;
}

void packParameterRecord(const CalibrationParams& in, uint8_t* rec56) {
    le::putU8(rec56, REC_MARK, PARAMETER_RECORD_MARK);
    packFields(CORRECTION_FIELDS, in, rec56);
    std::memcpy(rec56 + REC_INK_ORDER, in.inkOrder, sizeof in.inkOrder);
    le::putU8(rec56, REC_FEATHER_MODE, in.featherMode);
    le::putU8(rec56, REC_FEATHER_DEPTH, in.featherDepth);
    le::putU8(rec56, REC_SKIP_LR_BLANK, in.skipLrBlank ? 1 : 0);
    packColorBand(in, rec56);
}

void packColorBand(const CalibrationParams& in, uint8_t* rec56) {
    packFields(COLOR_BAND_FIELDS, in, rec56);
    // Each half of the byte holds one value; a stray high bit must not leak into the other.
    le::putU8(rec56, REC_COLOR_BAND,
              static_cast<uint8_t>(((in.colorBandSides & 0x0f) << 4) | (in.colorBandOn & 0x0f)));
}

void fillDialogParamBlock(const uint8_t* rec56, uint8_t* block28) {
    std::memset(block28, 0, DIALOG_PARAM_BLOCK_SIZE);
    le::putU8(block28, DLG_HEAD_OFFSET_A, le::getU8(rec56, REC_HEAD_OFFSET_A));
    le::putU16(block28, DLG_HEAD_DISTANCE, le::getU16(rec56, REC_HEAD_DISTANCE));
    le::putU16(block28, DLG_WORD8, 79);
    le::putU16(block28, DLG_WORD10, 270);
    le::putU16(block28, DLG_BIDIR, le::getU8(rec56, 0x03));
    le::putU16(block28, DLG_STEP, le::getU16(rec56, 0x0a));
    le::putU16(block28, DLG_START_OFFSET, le::getU16(rec56, REC_START_OFFSET));
    le::putU8(block28, DLG_HEAD_ENABLE, le::getU8(rec56, REC_HEAD_ENABLE));
}

void packDialogParamBlock(const uint8_t* block28, uint8_t* rec56) {
    le::putU8(rec56, REC_HEAD_ENABLE, le::getU8(block28, DLG_HEAD_ENABLE));
    le::putU8(rec56, REC_HEAD_OFFSET_A, le::getU8(block28, DLG_HEAD_OFFSET_A));
    le::putU16(rec56, REC_HEAD_DISTANCE, le::getU16(block28, DLG_HEAD_DISTANCE));
    le::putU16(rec56, REC_START_OFFSET, le::getU16(block28, DLG_START_OFFSET));
}

namespace {

bool refuse(std::string* reason, const char* field, unsigned value, const std::string& range) {
    if (reason) *reason = std::string(field) + " is " + std::to_string(value) + "; " + range;
    return false;
}

bool checkInkOrder(const uint8_t* order, std::string* reason) {
    bool seen[8] = {};
    for (int i = 0; i < 8; ++i) {
        if (order[i] > 7) return refuse(reason, "inkOrder", order[i], "the ink slots are 0 to 7");
        if (seen[order[i]]) {
            if (reason)
                *reason = "inkOrder names slot " + std::to_string(order[i]) +
                          " twice; it must place each of the eight inks once";
            return false;
        }
        seen[order[i]] = true;
    }
    return true;
}

}  // namespace

bool checkParameterRecord(const uint8_t* rec, std::string* reason) {
    static constexpr struct {
        uint8_t offset;
        const char* name;
    } STEPS[] = {
        {0x0a, "stepPass4"}, {0x0c, "stepPass6"}, {0x0e, "stepPass8"}, {0x10, "stepPass3"}};
    const std::string stepRange = "a feed-step correction is " + std::to_string(RECORD_STEP_MIN) +
                                  " to " + std::to_string(RECORD_STEP_MAX);
    for (const auto& s : STEPS)
        if (le::getU16(rec, s.offset) < RECORD_STEP_MIN)
            return refuse(reason, s.name, le::getU16(rec, s.offset), stepRange);
    if (!checkInkOrder(rec + REC_INK_ORDER, reason)) return false;
    if (rec[REC_FEATHER_MODE] >= RECORD_FEATHER_MODES)
        return refuse(reason, "featherMode", rec[REC_FEATHER_MODE],
                      "the feather modes are 0 to " + std::to_string(RECORD_FEATHER_MODES - 1));
    if (rec[REC_FEATHER_DEPTH] > RECORD_FEATHER_DEPTH_MAX)
        return refuse(
            reason, "featherDepth", rec[REC_FEATHER_DEPTH],
            "the feather depth is 0 to " + std::to_string(RECORD_FEATHER_DEPTH_MAX) + " (%)");
    if (rec[REC_SKIP_LR_BLANK] > 1)
        return refuse(reason, "skipLrBlank", rec[REC_SKIP_LR_BLANK], "it is 0 or 1");
    const uint8_t band = rec[REC_COLOR_BAND];
    if ((band & 0x0f) > 1) return refuse(reason, "colorBandOn", band & 0x0f, "it is 0 or 1");
    if ((band >> 4) > 3)
        return refuse(reason, "colorBandSides", band >> 4,
                      "it is 0 to 3 (bit 1 left, bit 0 right)");
    if (le::getU16(rec, 0x30) < RECORD_STEP_MIN)
        return refuse(reason, "stepPass2", le::getU16(rec, 0x30), stepRange);
    return true;
}
