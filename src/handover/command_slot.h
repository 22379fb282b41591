// The job command slot: the one 64-byte command block handed from the job's thread to the
// transmit thread, and its state byte, the only hand-over between them for job commands.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

enum CommandNumber : uint32_t {
    CMD_TRANSACTION = 1,
    CMD_JOB_CREATE = 2,
    CMD_PRINT_START = 8,
    CMD_SWATH = 9,
    CMD_JOB_END = 18,
};

enum CommandState : uint8_t {
    CMD_STATE_IDLE = 0,
    CMD_STATE_PENDING = 1,
    CMD_STATE_BUSY = 3,
    CMD_STATE_DONE = 4,
};

constexpr size_t COMMAND_BLOCK_SIZE = 64;
constexpr size_t COMMAND_BODY_OFFSET = 4;  // body byte k is block byte 4 + k

// One slot for the program. block: u32 command, 36 body bytes, 24 reserved zero bytes; it is
// written by the job's thread before the state turns 1 and read by the transmit thread after.
struct CommandSlot {
    uint8_t block[COMMAND_BLOCK_SIZE] = {};
    std::atomic<uint8_t> state{0};
};

// The slot. Thread: any; the block belongs to whoever the state says (see above).
// Errors: none (never nullptr).
CommandSlot* commandSlot();
// The command number held in a block (its first u32). Thread: any holding the block.
// Errors: none.
uint32_t Cmd_Command(const CommandSlot* slot);

// Clears the block and sets the state to idle (job start). Thread: job, with no transmit
// thread running. Errors: none.
void Cmd_Reset();
// The slot when its state is pending (1), else nullptr. Thread: transmit (polls it).
// Errors: nullptr when nothing is queued.
CommandSlot* Cmd_Pending();
// Sets the state byte: 4 by the transmit thread when sent and answered, 3 by the reply parser
// when answered not done, 1 or 0 by the waiting job thread. Thread: job or transmit, each for
// its own transitions. Errors: none.
void Cmd_SetState(uint8_t state);
