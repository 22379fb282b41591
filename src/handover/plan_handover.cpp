// SPDX-License-Identifier: Apache-2.0
// The planner's held-back swath and its buffer-freed flag, shared with the transmit side.
#include "handover/plan_handover.h"

#include "handover/swath_ring.h"

namespace {
PlanHandoverState& handover() { return OwnedState<PlanHandoverState>::get(); }
}  // namespace

std::atomic<SwathRecord*>& pendingSwathRecord() { return handover().pendingSwath; }

void flushPendingSwath() {
    if (SwathRecord* held = handover().pendingSwath.exchange(nullptr)) {
        held->nextStart = 0;
        Ring_SetState(held, SWATH_FULL);
    }
}

std::atomic<uint32_t>& swathBufferFreedFlag() { return handover().bufferFreed; }
