// SPDX-License-Identifier: Apache-2.0
// The reply parser: judges the printer's answer to the block just sent and turns it into job
// state (printer information, not ready, panel cancel, end of job, swath acknowledgement).
#include "link/reply.h"

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/job_context.h"
#include "link/command.h"
#include "params/printer_info.h"
#include "platform/bytes.h"
#include "platform/clock.h"

namespace {

constexpr size_t PRINTER_INFO_BYTES = 136;
// A board with the short layout sends only its 128 bytes, all of its fields among them.
constexpr size_t PRINTER_INFO_SHORT_BYTES = 128;
constexpr size_t INFO_SHORT_MARK_AT = 0x7e;
constexpr uint16_t INFO_SHORT_MARK = 0x1154;
constexpr uint8_t SWATH_CHECK_MIN_BOARD = 108;
constexpr uint32_t NOT_READY_WAIT_MS = 2000;

void onSwathReply(LinkState* link, le::Reader& r) {
    // A reply too short to carry the cancel word does not cancel anything.
    if (!r.has(4, 2) || r.u16(4) != 0 || link->printerCancelled.load() != 0) return;
    link->printerCancelled.store(1);
    Log_Error("Rx 面板取消(%d)\n", 1);
    Log_Trace("Rx 取消(%d)\n", 1);
    setProgramError(ERR_PRINTER_CANCEL);
}

// false when the printer information is rejected: the operator is told why through the job's
// reporting point, then error 3 is set (its own box follows).
bool onJobCreateReply(LinkState* link, le::Reader& r, uint16_t status) {
    if (status != 1) {
        Log_Trace("Rx 打印机未进入工作状态\n");
        Clock_Sleep(NOT_READY_WAIT_MS);
        return true;
    }
    // Never hand over bytes that did not arrive with this reply.
    size_t infoBytes = 0;
    if (r.has(REPLY_INFO_OFFSET, PRINTER_INFO_BYTES))
        infoBytes = PRINTER_INFO_BYTES;
    else if (r.has(REPLY_INFO_OFFSET, PRINTER_INFO_SHORT_BYTES) &&
             r.u16(REPLY_INFO_OFFSET + INFO_SHORT_MARK_AT) == INFO_SHORT_MARK)
        infoBytes = PRINTER_INFO_SHORT_BYTES;
    Log_Trace("Rx 作业开始 %d\n", static_cast<int>(infoBytes ? infoBytes : PRINTER_INFO_BYTES));
    if (infoBytes == 0) {
        Log_Trace("Rx 作业开始应答过短:%d\n", static_cast<int>(r.size));
        setProgramError(ERR_PARAMS_UNRECOGNISED);
        return false;
    }
    const InfoVerdict verdict = acceptPrinterInfo(r.data + REPLY_INFO_OFFSET, infoBytes);
    if (verdict.accepted) return true;
    if (!verdict.reason.empty() && link->report) link->report(verdict.reason);
    setProgramError(ERR_PARAMS_UNRECOGNISED);
    return false;
}

void checkSwathAck(le::Reader& r, uint32_t expectedSwath) {
    if (mainBoardVersion() < SWATH_CHECK_MIN_BOARD) return;
    uint16_t acked = r.u16(8);
    if (r.has(8, 2) && acked == expectedSwath) {
        Log_Trace("Rx Swath %d reply OK\r\n", static_cast<int>(acked));
        return;
    }
    uint16_t extra = r.u16(10);
    Log_Error("Rx Swath 序列号应答异常(%d != %d/%d)\n", static_cast<int>(expectedSwath),
              static_cast<int>(acked), static_cast<int>(extra));
    Log_Trace("Rx Swath 序列号应答异常(%d != %d/%d)\n", static_cast<int>(expectedSwath),
              static_cast<int>(acked), static_cast<int>(extra));
}

}  // namespace

RxVerdict Rx_Parse(LinkState* link, const uint8_t* reply, size_t length, uint32_t expectedSwath) {
    le::Reader r{reply, reply ? length : 0};
    const uint16_t word0 = r.u16(0);
    const uint16_t status = r.u16(2);
    if (word0 != 0) Log_Trace("Rx: %d,%d,%d,%d\n", word0, status, r.u16(4), r.u16(6));
    // Only the low byte of the command sent is kept for the comparison, as it always was.
    if (word0 != static_cast<uint8_t>(link->txCommand.load())) return RX_OTHER;
    const CommandNumber command = static_cast<CommandNumber>(word0);
    switch (command) {
        case CMD_SWATH:
            onSwathReply(link, r);
            break;
        case CMD_JOB_CREATE:
            if (!onJobCreateReply(link, r, status)) return RX_FATAL;
            break;
        case CMD_JOB_END:
            requestJobStop();
            Log_Trace("Rx 作业结束(%d)\n", isJobStopped() ? 1 : 0);
            break;
        default:
            break;
    }
    if (status != 1) {
        Cmd_SetState(CMD_STATE_BUSY);
        return RX_BUSY;
    }
    if (command != CMD_SWATH) return RX_DONE;
    checkSwathAck(r, expectedSwath);
    return RX_DONE;
}
