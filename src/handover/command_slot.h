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

CommandSlot* commandSlot();
uint32_t Cmd_Command(const CommandSlot* slot);

// Clears the block and sets the state to idle (job start).
void Cmd_Reset();
CommandSlot* Cmd_Pending();
void Cmd_SetState(uint8_t state);
