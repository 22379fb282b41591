// The job command slot: JOB_CREATE, PRINT_START and end of job, queued by the job's thread,
// sent by the transmit thread, and the wait for their answers.
#pragma once
#include <cstdint>

#include "handover/command_slot.h"

struct LinkState;

// Writes command 2, 8 or 18 with its body and marks the slot pending; false for other numbers.
bool Cmd_Queue(uint32_t command);
uint8_t Cmd_State(uint32_t command);
bool Cmd_QuitReason(const LinkState* link);
// Queues the command and waits for its answer (the job's thread).
bool Cmd_SendAndWait(uint32_t command);
