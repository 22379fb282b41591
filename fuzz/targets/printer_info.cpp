// SPDX-License-Identifier: Apache-2.0
// Fuzz target: acceptPrinterInfo on fuzzed information records of both layouts.
//
// Input: length byte (0: the long 136-byte layout; 1: the short 128-byte layout; 2: the short
// layout with its mark forced; else: whatever is left), resolution byte (the job's x and y
// resolution from the tables below), then the record bytes (zero-padded to the length).
#include "params/printer_info.h"

#include <cstring>
#include <string>
#include <vector>

#include "../fuzz_support.h"
#include "app/session.h"
#include "diag/errors.h"
#include "handover/job_context.h"

namespace {

// Resolutions a job may have at the time its JOB_CREATE answer comes (0: none set).
const uint32_t X_DPI[4] = {360, 720, 1440, 0};
const uint32_t Y_DPI[8] = {360, 540, 720, 1080, 1440, 0, 180, 2880};

constexpr size_t SHORT_MARK_OFFSET = 0x7e;

}  // namespace

int fuzzOne_printer_info(const uint8_t* data, size_t size) {
    Session session;  // every input starts from a fresh program state
    fuzzPlatform();
    FuzzInput in{data, size};
    uint8_t layout = in.byte();
    uint8_t resolution = in.byte();
    size_t length = layout == 0   ? PRINTER_INFO_SIZE
                    : layout <= 2 ? PRINTER_INFO_SHORT_SIZE
                                  : in.left();
    std::vector<uint8_t> record = in.bytes(length);
    record.resize(length, 0);  // exactly `length` bytes: ASan sees any read past them
    if (layout == 2) {
        record[SHORT_MARK_OFFSET] = 0x54;
        record[SHORT_MARK_OFFSET + 1] = 0x11;
    }

    clearProgramError();
    Job_ClearContext();
    JobContext* job = jobContext();
    job->xDpi = X_DPI[resolution & 3];
    job->yDpi = Y_DPI[(resolution >> 2) & 7];

    const InfoVerdict verdict =
        acceptPrinterInfo(record.empty() ? nullptr : record.data(), record.size());
    // Neither way is an error set or a box opened here: the reply parser reports a refusal.
    FUZZ_CHECK(programError() == ERR_NONE);
    if (verdict.accepted) {
        FUZZ_CHECK(record.size() >= PRINTER_INFO_SHORT_SIZE);
        FUZZ_CHECK(job->paramsReady == 1);
        FUZZ_CHECK(verdict.reason.empty());
    } else {
        FUZZ_CHECK(job->paramsReady == 0);
        FUZZ_CHECK(verdict.reason.empty() ||
                   std::string(verdict.reason.text) == "主板版本与驱动不匹配!\r\n");
    }
    // The head flags answer consistently with each other.
    FUZZ_CHECK(isDoubleHead() == (isHeadAEnabled() && isHeadBEnabled()));
    return 0;
}
