// SPDX-License-Identifier: Apache-2.0
// The job command slot: JOB_CREATE, PRINT_START and end of job, queued by the job's thread,
// sent by the transmit thread, and the wait for their answers.
// Threads and contract words: docs/ARCHITECTURE.md.
#pragma once
#include <cstdint>

#include "handover/command_slot.h"

struct LinkState;

// Writes command 2, 8 or 18 with its body (from the job context; PRINT_START stamps the local
// time) and marks the slot pending. \context job \nonblocking \errors false for any other
// number ("未知命令... N" traced), the slot untouched.
bool Cmd_Queue(CommandNumber command);
// The slot's state while it holds `command`; CMD_STATE_IDLE (traced "cmm(...)") when it holds
// another. \context job \nonblocking
CommandState Cmd_State(CommandNumber command);
// Whether the job must give up waiting for an answer: reconnection failed (program error 17)
// or the printer cancelled; the reason is traced. \context job \nonblocking
bool Cmd_QuitReason(const LinkState* link);
// Queues the command and waits for the transmit thread to get it answered, re-arming it while
// the printer is busy and hard-resetting the pipes when a USB call hangs over 2 s. An end of
// job after a PC cancel is not sent and counts as answered. \context job \blocks the clock,
// polling every 100 ms, and USB (a pipe reset) \errors false after 200 polls without an answer
// (traced "指令(N)超时未得到应答，退出程序!") or when Cmd_QuitReason says so; the slot is idle
// again.
bool Cmd_SendAndWait(CommandNumber command);
