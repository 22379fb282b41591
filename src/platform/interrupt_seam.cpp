// SPDX-License-Identifier: Apache-2.0
// Installation and dispatch of the interrupt back end.
#include <atomic>

#include "platform/interrupt.h"

namespace {
std::atomic<const InterruptBackend*> interruptBackend{nullptr};
}  // namespace

void Interrupt_Install(const InterruptBackend* b) { interruptBackend.store(b); }
const InterruptBackend* Interrupt_Backend() {
    const InterruptBackend* b = interruptBackend.load();
    return b ? b : Platform_DefaultInterrupt();
}
bool Interrupt_Watch(InterruptHandler handler, InterruptBusy busy) {
    return Interrupt_Backend()->watch(handler, busy);
}
