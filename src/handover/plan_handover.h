// SPDX-License-Identifier: Apache-2.0
// What the swath planner shares with the transmit side: the swath it holds back until the next
// printed swath's start is known, and the flag that tells its buffer wait the printer was busy.
#pragma once
#include <atomic>
#include <cstdint>

#include "handover/swath_record.h"
#include "platform/owned_state.h"

// What the planner hands the transmit side in one session.
struct PlanHandoverState {
    // Atomic: the end-of-job wait may release the record while the planner's thread looks at it.
    std::atomic<SwathRecord*> pendingSwath{nullptr};
    std::atomic<uint32_t> bufferFreed{0};
};

// The record held back by the planner, or nullptr. The planner exchanges it for the next
// record; flushPendingSwath takes it away. \threadsafe (atomic exchange) \nonblocking \errors none.
std::atomic<SwathRecord*>& pendingSwathRecord();
// Releases the held-back record with next start 0 (marked full) and forgets it.
// \context job (the planner after its last swath, the end-of-job wait) \nonblocking \errors nothing
// happens when none is held.
void flushPendingSwath();
// Set by the transmit thread when the printer answers busy; read and cleared by the buffer wait.
// \context transmit sets, job clears (atomic) \nonblocking \errors none.
std::atomic<uint32_t>& swathBufferFreedFlag();
