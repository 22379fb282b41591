// SPDX-License-Identifier: Apache-2.0
// The 56-byte parameter record: the packed calibration values exchanged with the printer,
// the parameter files and the shared area, and the console's 28-byte block loaded from it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "params/calibration_params.h"

constexpr size_t PARAMETER_RECORD_SIZE = 56;
constexpr size_t PRINTER_INFO_SIZE = 136;
constexpr size_t PRINTER_INFO_SHORT_SIZE = 128;
constexpr size_t DIALOG_PARAM_BLOCK_SIZE = 28;

constexpr uint8_t PARAMETER_RECORD_MARK = 0xAC;

// What the console's entries can produce: a step is set to 1..65535 (0 leaves it), the feather
// depth 0..100, the feather mode one of five list entries, the skip flag 0 or 1, the colour
// band sides bits 0 and 1 with an on value of 0 or 1, the ink order a permutation of 0..7.
constexpr uint32_t RECORD_STEP_MIN = 1;
constexpr uint32_t RECORD_STEP_MAX = 65535;
constexpr uint32_t RECORD_FEATHER_DEPTH_MAX = 100;
constexpr uint32_t RECORD_FEATHER_MODES = 5;
constexpr uint32_t FEED_STEPS_PER_METER = 409600;

// Record offsets of the values that are not part of CalibrationParams.
enum ParameterRecordOffset : uint8_t {
    REC_MARK = 0x00,
    REC_MODE_INDEX = 0x01,
    REC_HEAD_ENABLE = 0x02,
    REC_HEAD_OFFSET_A = 0x06,
    REC_HEAD_DISTANCE = 0x08,  // u16
    REC_BLOCK_WORD16 = 0x12,   // u16
    REC_START_OFFSET = 0x14,   // u16, mm
    REC_INK_ORDER = 0x16,      // 8 bytes
};

// Offsets inside the console's 28-byte block copy.
enum DialogParamBlockOffset : uint8_t {
    DLG_HEAD_OFFSET_A = 1,  // u8, record 0x06
    DLG_HEAD_DISTANCE = 6,  // u16, record 0x08
    DLG_WORD8 = 8,          // u16, always 79
    DLG_WORD10 = 10,        // u16, always 270
    DLG_BIDIR = 12,         // u16, record byte 0x03
    DLG_STEP = 14,          // u16, record word 0x0a
    DLG_START_OFFSET = 18,  // u16, record word 0x14
    DLG_HEAD_ENABLE = 24,   // u8, record 0x02
};

// Loads every calibration value of rec56 into out: bidirectional bytes widened to u16, the
// five step words, inkOrder, feather mode and depth, skipLrBlank (bit 0), the colour band;
// feedStepsPerMeter = 409600. Fields not carried by the record are left as they are.
void unpackParameterRecord(const uint8_t* rec56, CalibrationParams* out);
// The subset a job reloads from the printer: bidirectional values, step words and inkOrder.
void unpackCorrectionValues(const uint8_t* rec56, CalibrationParams* out);
// Writes the calibration values of in over rec56, which holds the record last received so
// that bytes without a calibration value keep what the printer sent. Sets byte 0 to 0xAC,
// bidirectional values, colour-band margin and width as their low 8 bits, skipLrBlank as 0
// or 1, the colour band byte as sides x 16 + on, and inkOrder.
void packParameterRecord(const CalibrationParams& in, uint8_t* rec56);
// The colour band alone, as packParameterRecord writes it: byte 0x27 as sides x 16 + on (each
// in its half), margin and width at 0x28 and 0x29 as their low 8 bits.
void packColorBand(const CalibrationParams& in, uint8_t* rec56);

// True when every calibration value of rec56 lies where the console's entries could have put
// it; otherwise false with *reason naming the first bad field (by offset), its value and the
// range. Bytes without an entry (mark, mode index, head flags and offsets, free bytes) are
// carried as they are and not judged.
bool checkParameterRecord(const uint8_t* rec56, std::string* reason);

// The console's block copy: cleared, then filled from rec56 as laid out above.
void fillDialogParamBlock(const uint8_t* rec56, uint8_t* block28);
// Writes the block copy's record values back (0x02, 0x06, word 0x08, start offset 0x14).
void packDialogParamBlock(const uint8_t* block28, uint8_t* rec56);
