// The planner's held-back swath and its buffer-freed flag, shared with the transmit side.
#include "handover/plan_handover.h"

#include "handover/swath_ring.h"

namespace {
// Atomic: the end-of-job wait may release the record while the planner's thread looks at it.
std::atomic<SwathRecord*> pendingSwath{nullptr};
std::atomic<uint32_t> bufferFreed{0};
}  // namespace

std::atomic<SwathRecord*>& pendingSwathRecord() { return pendingSwath; }

void flushPendingSwath() {
    if (SwathRecord* held = pendingSwath.exchange(nullptr)) {
        held->nextStart = 0;
        Ring_SetState(held, SWATH_FULL);
    }
}

std::atomic<uint32_t>& swathBufferFreedFlag() { return bufferFreed; }
