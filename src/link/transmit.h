// SPDX-License-Identifier: Apache-2.0
// The link's life: start and stop, the transmit thread sending job commands and swaths, busy
// resends and reconnection, spit requests, and the wait until all swaths are printed.
// Threads and contract words: docs/ARCHITECTURE.md.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "handover/job_context.h"
#include "handover/swath_record.h"
#include "link/command.h"
#include "platform/owned_state.h"

constexpr size_t SWATH_BLOCK_SIZE = 64;
constexpr int TX_MAX_RECONNECTS = 10;

// The record a started transmit thread shares with Link_Stop (see transmit.cpp).
struct TxSession;

// The link's state of one session.
struct TransmitState {
    // Number of the swath last handed to Tx_Transmit (transmit thread; read by the reply check).
    std::atomic<uint32_t> lastSwathNo{0};
    // Swaths sent since the last spit request, kept across jobs (transmit thread).
    std::atomic<uint8_t> swathsSinceSpit{0};
    // Swath records sent and acknowledged in the running job, and the paper feed they carried
    // in motor steps (transmit thread writes; front ends read them for the job's progress).
    // Cleared by Link_Start.
    std::atomic<uint32_t> recordsSent{0};
    std::atomic<uint64_t> feedStepsSent{0};
    // The running transmit thread's record (dialog thread only).
    std::shared_ptr<TxSession> current;
};

// Opens the printer into job->link and starts the transmit thread, which raises its own
// priority and sends whatever the command slot and the ring hand it until the link stops.
// \context job \blocks the USB open \errors false (nothing started, the handle invalid) when the
// printer cannot be opened or the thread cannot be created; traced.
bool Link_Start(JobContext* job);
// Stops the transmit thread: lowers `running` and waits for the thread's end, polling every
// 100 ms; after 22 polls the thread is abandoned (its device handle closed, the thread
// detached; it then touches only its own session record) and the printer soft-reset. Closes
// the link's handle either way. Call once per successful Link_Start.
// \context job \blocks the clock (2.2 s at most) and USB \errors none; "强行退出TX线程" traced
// when abandoned.
void Link_Stop(LinkState* link);
// Releases the ring to the transmit thread, sends the last partial swath and waits until every
// record is empty again. \context job \blocks the clock, polling every 100 ms
// \errors true when all is printed or the job was stopped (program error or cancel); false
// after 1000 polls ("等待100s溢出" traced).
bool Link_WaitAllPrinted();

// The transmit thread's steps, exposed for tests.
// The command slot when a command is pending, recording its number as the one awaited.
// \context transmit \nonblocking
CommandSlot* Tx_NextCommand(LinkState* link);
// Sends the slot's block (a copy) and marks the slot done once answered. \context transmit
// \blocks USB, the clock (busy resends, reconnection) \errors false when the block could not be
// carried (program error set by the reply or reconnection, or the link abandoned).
bool Tx_SendCommand(LinkState* link, CommandSlot* slot);
// The next full record of the ring (nullptr when none, or after a printer cancel), recording
// CMD_SWATH as awaited. \context transmit \nonblocking
SwathRecord* Tx_NextSwath(LinkState* link);
// Sends one record's block and data, then empties the record; a record without a data buffer
// is dropped (traced). \context transmit \blocks USB, the clock \errors as Tx_SendCommand.
bool Tx_SendSwath(LinkState* link, SwathRecord* record);
// Builds the 64-byte swath block of a record (before the spit decision).
// \threadsafe \nonblocking
void Tx_BuildSwathBlock(const SwathRecord& record, uint8_t block[SWATH_BLOCK_SIZE]);
// Counts a swath with data and, every `spitInterval` swaths, asks for a spit before a
// right-to-left pass (block bytes 33 and 42..43). \context transmit \nonblocking
void Tx_SpitControl(uint8_t* block, uint32_t size);
// One block and its data: send, read and judge the reply, resend while the printer is busy,
// reconnect after a failed transfer (at most TX_MAX_RECONNECTS times). \context transmit
// \blocks USB, the clock \errors false when the reply is fatal, the job was stopped, the
// reconnection failed (program error 17) or the link was abandoned.
bool Tx_Transmit(LinkState* link, const uint8_t* block, size_t blockLen, const uint8_t* data,
                 uint32_t dataLen);
