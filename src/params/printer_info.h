// SPDX-License-Identifier: Apache-2.0
// The printer information record of a job: its checks, version report and the print
// parameters and pass geometry derived from it.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "diag/errors.h"
#include "params/parameter_record.h"
#include "platform/owned_state.h"

// What one session keeps from the information records it checked. Any thread.
struct PrinterInfoState {
    // Main board version of the last record checked (0 before the first).
    std::atomic<uint8_t> lastMainBoardVersion{0};
    // Set by the check of a double-head 6-pass job: the head offsets the block receives from
    // the same record are then given in 1080-dpi rows.
    std::atomic<bool> rescaleHeadOffsets{false};
};

// Whether an information record is usable and, when it is not, what the operator is to be told
// (a wrong main board version: "主板版本与驱动不匹配!\r\n" in an "Error" box; the other
// refusals are only traced). Tests read it as a bool.
struct InfoVerdict {
    bool accepted = false;
    Reason reason;
    explicit operator bool() const { return accepted; }
};

// Validates a job's information record of `length` bytes (136, or 128 for the short layout),
// then applies it. A record shorter than its layout is rejected without being read past its
// end. Sets no program error and opens no box: on a refusal the caller reports the reason,
// then sets program error 3. Any thread (the reply parser runs on the transmit thread); does
// not block.
InfoVerdict acceptPrinterInfo(const uint8_t* record, size_t length);
// Writes the version report, derives the job's pass geometry and returns whether the record
// is usable. Rejects a wrong main board version, a vertical resolution without a pass
// geometry, an overlap level above 3 at 720 dpi and a record shorter than its layout.
// Any thread; does not block.
InfoVerdict checkPrinterInfo(const uint8_t* record, size_t length);
// Fills CalibrationParams, the job's PrintParamBlock and job fields from a checked record
// holding at least PRINTER_INFO_SHORT_SIZE bytes, then sets paramsReady.
void applyPrintParameters(const uint8_t* record);

// Head enable flags of the job (PrintParamBlock byte 25).
bool isHeadAEnabled();
bool isHeadBEnabled();
bool isDoubleHead();
// Main board version of the last information record checked (0 before the first).
uint8_t mainBoardVersion();
