// SPDX-License-Identifier: Apache-2.0
// Fuzz target: the reply parser's verdict on fuzzed replies for every command the link sends.
//
// Input: command byte (below 0xF0: one of the link's commands by index; else the raw low
// nibble), flags byte (bit 0: a valid information record of main board 160 was accepted
// first, so swath acknowledgements are checked), expected swath (u16), then the reply body.
#include <cstring>
#include <vector>

#include "../fuzz_support.h"
#include "app/session.h"
#include "diag/errors.h"
#include "handover/job_context.h"
#include "link/command.h"
#include "link/reply.h"
#include "params/printer_info.h"
#include "vprinter.h"

namespace {

const CommandNumber COMMANDS[6] = {CommandNumber{}, CMD_TRANSACTION, CMD_JOB_CREATE,
                                   CMD_PRINT_START, CMD_SWATH,       CMD_JOB_END};

void resetJobState() {
    clearProgramError();
    Job_ClearContext();
    Cmd_Reset();
}

void acceptKnownPrinter() {
    static uint8_t info[PRINTER_INFO_SIZE];
    static bool built = false;
    if (!built) {
        VPrinter_InfoRecord(info);
        built = true;
    }
    // The resolutions of a job at 720 dpi, the one the pattern jobs use most.
    jobContext()->xDpi = 720;
    jobContext()->yDpi = 720;
    FUZZ_CHECK(acceptPrinterInfo(info, sizeof info));
}

}  // namespace

int fuzzOne_rx_parse(const uint8_t* data, size_t size) {
    Session session;  // every input starts from a fresh program state
    fuzzPlatform();
    FuzzInput in{data, size};
    uint8_t pick = in.byte();
    uint8_t flags = in.byte();
    uint16_t expected = in.u16();
    // Exactly the bytes that arrived, so ASan sees any read past them.
    std::vector<uint8_t> reply = in.rest();
    const uint8_t command =
        static_cast<uint8_t>(pick < 0xF0 ? static_cast<uint8_t>(COMMANDS[pick % 6]) : pick & 0x0F);

    resetJobState();
    if (flags & 1) acceptKnownPrinter();
    clearProgramError();
    JobContext* job = jobContext();
    job->link.txCommand.store(static_cast<CommandNumber>(command));
    const RxVerdict verdict =
        Rx_Parse(&job->link, reply.empty() ? nullptr : reply.data(), reply.size(), expected);

    FUZZ_CHECK(verdict >= RX_DONE && verdict <= RX_OTHER);
    uint16_t answered = reply.size() >= 2 ? static_cast<uint16_t>(reply[0] | (reply[1] << 8)) : 0;
    uint16_t status = reply.size() >= 4 ? static_cast<uint16_t>(reply[2] | (reply[3] << 8)) : 0;
    // A reply to another command never changes the job.
    if (answered != command) {
        FUZZ_CHECK(verdict == RX_OTHER);
        FUZZ_CHECK(programError() == ERR_NONE);
        FUZZ_CHECK(job->link.printerCancelled.load() == 0);
    }
    // Only a JOB_CREATE answer can be fatal, and then the error says why.
    if (verdict == RX_FATAL) {
        FUZZ_CHECK(command == static_cast<uint8_t>(CMD_JOB_CREATE));
        FUZZ_CHECK(programError() == ERR_PARAMS_UNRECOGNISED);
    }
    // A job accepted with a short reply would have read bytes that never came: only the short
    // layout, marked as such, may come with its 128 bytes alone.
    if (command == static_cast<uint8_t>(CMD_JOB_CREATE) && answered == command && status == 1 &&
        verdict == RX_DONE) {
        const size_t markAt = REPLY_INFO_OFFSET + 0x7e;
        const bool shortLayout = reply.size() >= REPLY_INFO_OFFSET + PRINTER_INFO_SHORT_SIZE &&
                                 reply[markAt] == 0x54 && reply[markAt + 1] == 0x11;
        FUZZ_CHECK(reply.size() >= REPLY_INFO_OFFSET + PRINTER_INFO_SIZE || shortLayout);
    }
    return 0;
}
