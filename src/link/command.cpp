// SPDX-License-Identifier: Apache-2.0
// The job command slot: command blocks of JOB_CREATE, PRINT_START and end of job, and the
// job thread's wait for the transmit thread to get them answered.
#include "link/command.h"

#include <cstring>

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/job_context.h"
#include "link/usb.h"
#include "platform/bytes.h"
#include "platform/clock.h"

namespace {

CommandSlot& theSlot = *commandSlot();

constexpr size_t BODY_BYTES = 36;
constexpr int WAIT_POLL_MS = 100;
constexpr int WAIT_POLL_LIMIT = 200;
constexpr int WAIT_TRACE_EVERY = 20;

// Body offsets (block offset = COMMAND_BODY_OFFSET + body offset).
void putBody8(size_t off, uint8_t v) { le::putU8(theSlot.block, COMMAND_BODY_OFFSET + off, v); }
void putBody16(size_t off, uint16_t v) { le::putU16(theSlot.block, COMMAND_BODY_OFFSET + off, v); }
void putBody32(size_t off, uint32_t v) { le::putU32(theSlot.block, COMMAND_BODY_OFFSET + off, v); }

void fillJobCreate(const JobContext* job) {
    std::memset(theSlot.block + COMMAND_BODY_OFFSET, 0, BODY_BYTES);
    putBody8(0, 3);
    putBody8(3, 1);
    putBody16(12, job->jobId);
    putBody16(20, 172);
}

void fillPrintStart(const JobContext* job) {
    LocalTime t = Clock_LocalTime();
    putBody8(0, 3);
    putBody8(1, 1);
    putBody8(4, job->passCount);
    putBody8(5, job->printSpeedIps);
    putBody8(8, 103);
    putBody8(9, 6);
    putBody8(10, 6);
    putBody8(11, 0);
    putBody16(12, 0);
    putBody16(14, 50);
    putBody16(20, 172);
    putBody32(28, (static_cast<uint32_t>(t.year) << 16) | (t.month << 8) | t.day);
    putBody32(32, (static_cast<uint32_t>(t.hour) << 16) | (t.minute << 8) | t.second);
}

void fillJobEnd() {
    putBody8(0, 3);
    putBody8(1, 1);
    putBody16(12, 0);
}

}  // namespace

bool Cmd_Queue(CommandNumber command) {
    const JobContext* job = jobContext();
    switch (command) {
        case CMD_JOB_CREATE:
            fillJobCreate(job);
            break;
        case CMD_PRINT_START:
            fillPrintStart(job);
            break;
        case CMD_JOB_END:
            fillJobEnd();
            break;
        default:
            Log_Trace("未知命令... %d\r\n", static_cast<int>(command));
            return false;
    }
    le::putU32(theSlot.block, 0, static_cast<uint32_t>(command));
    theSlot.state.store(CMD_STATE_PENDING);  // publishes the block to the transmit thread
    return true;
}

CommandState Cmd_State(CommandNumber command) {
    CommandNumber held = Cmd_Command(&theSlot);
    CommandState state = theSlot.state.load();
    if (held == command) return state;
    Log_Trace("cmm(%X-%X, S:%d\n", static_cast<unsigned>(command), static_cast<unsigned>(held),
              static_cast<int>(state));
    return CMD_STATE_IDLE;
}

bool Cmd_QuitReason(const LinkState* link) {
    if (programError() == ERR_RECONNECT_FAILED) {
        Log_Trace("Quit:重连失败!\n");
        return true;
    }
    if (link->printerCancelled.load() == 1) {
        Log_Trace("Quit:Printer取消!\n");
        return true;
    }
    return false;
}

bool Cmd_SendAndWait(CommandNumber command) {
    const LinkState* link = &jobContext()->link;
    if (command == CMD_JOB_END && link->cancelRequest && link->cancelRequest->load() == 1)
        return true;
    Cmd_Queue(command);
    int count = 0;
    for (;;) {
        if (Usb_CallOverdue()) Usb_PipeReset(USB_PIPE_RESET_HARD);
        if (Cmd_QuitReason(link)) {
            Cmd_SetState(CMD_STATE_IDLE);
            return false;
        }
        CommandState state = Cmd_State(command);
        if (state == CMD_STATE_BUSY) {
            // Re-arm only if the transmit thread has not meanwhile seen the resend answered.
            CommandState busy = CMD_STATE_BUSY;
            theSlot.state.compare_exchange_strong(busy, CMD_STATE_PENDING);
            count = 0;
        } else if (state == CMD_STATE_DONE) {
            Cmd_SetState(CMD_STATE_IDLE);
            Log_Trace("指令(%d)执行成功\n", static_cast<int>(command));
            return true;
        } else {
            if (!Cmd_Pending()) Cmd_Queue(command);
            ++count;
            if (count % WAIT_TRACE_EVERY == 0)
                Log_Trace("等待指令:%d应答(%d)...\n", static_cast<int>(command),
                          static_cast<int>(link->printerCancelled.load()));
            if (count > WAIT_POLL_LIMIT) {
                Log_Trace("指令(%d)超时未得到应答，退出程序!\n", static_cast<int>(command));
                Cmd_SetState(CMD_STATE_IDLE);
                return false;
            }
        }
        Clock_Sleep(WAIT_POLL_MS);
    }
}
