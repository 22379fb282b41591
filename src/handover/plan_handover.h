// What the swath planner shares with the transmit side: the swath it holds back until the next
// printed swath's start is known, and the flag that tells its buffer wait the printer was busy.
#pragma once
#include <atomic>
#include <cstdint>

#include "handover/swath_record.h"

// The record held back by the planner, or nullptr. The planner exchanges it for the next
// record; flushPendingSwath takes it away. Thread: any (atomic exchange). Errors: none.
std::atomic<SwathRecord*>& pendingSwathRecord();
// Releases the held-back record with next start 0 (marked full) and forgets it.
// Thread: job (the planner after its last swath, the end-of-job wait). Errors: nothing happens
// when none is held.
void flushPendingSwath();
// Set by the transmit thread when the printer answers busy; read and cleared by the buffer wait.
// Thread: transmit sets, job clears (atomic). Errors: none.
std::atomic<uint32_t>& swathBufferFreedFlag();
