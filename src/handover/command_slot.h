// SPDX-License-Identifier: Apache-2.0
// The job command slot: the one 64-byte command block handed from the job's thread to the
// transmit thread, and its state byte, the only hand-over between them for job commands.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

// Command numbers as the first word of a block and of a reply. The enumerators keep their
// wire names, usable unqualified; the value becomes a number only at the byte helpers.
enum class CommandNumber : uint32_t {
    CMD_TRANSACTION = 1,
    CMD_JOB_CREATE = 2,
    CMD_PRINT_START = 8,
    CMD_SWATH = 9,
    CMD_JOB_END = 18,
};
using enum CommandNumber;

enum class CommandState : uint8_t {
    CMD_STATE_IDLE = 0,
    CMD_STATE_PENDING = 1,
    CMD_STATE_BUSY = 3,
    CMD_STATE_DONE = 4,
};
using enum CommandState;

constexpr size_t COMMAND_BLOCK_SIZE = 64;
constexpr size_t COMMAND_BODY_OFFSET = 4;  // body byte k is block byte 4 + k

// One slot for the program. block: u32 command, 36 body bytes, 24 reserved zero bytes; it is
// written by the job's thread before the state turns 1 and read by the transmit thread after.
struct CommandSlot {
    uint8_t block[COMMAND_BLOCK_SIZE] = {};
    std::atomic<CommandState> state{CMD_STATE_IDLE};
};

// The slot. \threadsafe; the block belongs to whoever the state says (see above)
// \nonblocking \errors none (never nullptr).
CommandSlot* commandSlot();
// The command number held in a block (its first u32). \context the thread holding the block
// \nonblocking \errors none.
CommandNumber Cmd_Command(const CommandSlot* slot);

// Clears the block and sets the state to idle (job start). \context job, with no transmit
// thread running \nonblocking \errors none.
void Cmd_Reset();
// The slot when its state is pending (1), else nullptr. \context transmit (polls it)
// \nonblocking \errors nullptr when nothing is queued.
CommandSlot* Cmd_Pending();
// Sets the state byte: 4 by the transmit thread when sent and answered, 3 by the reply parser
// when answered not done, 1 or 0 by the waiting job thread. \context job or transmit, each for
// its own transitions \nonblocking \errors none.
void Cmd_SetState(CommandState state);
