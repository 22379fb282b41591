// SPDX-License-Identifier: Apache-2.0
// Simulated time for runs against the virtual printer (`--fast-clock`): a wait costs no real
// time, yet time passes only while every thread that takes part waits on the clock. A poller
// therefore never sees a time-out run out before the thread it waits for has had its turn,
// however loaded the machine. Threads take part from their first wait on the clock, or from
// Clock_ThreadStarting (clock.h) for a thread being started; one that has neither waited nor
// ended for SIM_CLOCK_STALL_MS of real time (held in a message box, say) stops holding time
// back until it waits again.
#pragma once
#include <cstdint>

constexpr uint32_t SIM_CLOCK_STALL_MS = 2000;

// Installs the simulated clock, starting at the current tick of the clock it replaces; local
// time stays that clock's. Clock_Install(nullptr) goes back to the platform's clock.
void SimClock_Install();
