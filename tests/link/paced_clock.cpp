// SPDX-License-Identifier: Apache-2.0
// A fast clock with a real pause proportional to each sleep.
#include "paced_clock.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "support/fakes.h"

namespace paced_clock {
namespace {

std::atomic<uint64_t> slept{0};

void pacedSleep(uint32_t ms) {
    fake_clock::setTick(fake_clock::tick() + ms);
    slept += ms;
    std::this_thread::sleep_for(std::chrono::microseconds(ms * 10));
}
uint32_t pacedTick() { return fake_clock::tick(); }
void fixedTime(LocalTime* out) { *out = LocalTime{2026, 12, 6, 21, 3, 9}; }

const ClockBackend pacedClock{
    .sleepMs = pacedSleep,
    .tickMs = pacedTick,
    .localTime = fixedTime,
};
const ClockBackend* previous = nullptr;

}  // namespace

void install() {
    previous = Clock_Backend();
    slept = 0;
    Clock_Install(&pacedClock);
}
void uninstall() { Clock_Install(previous); }
uint64_t sleptMs() { return slept.load(); }

}  // namespace paced_clock
