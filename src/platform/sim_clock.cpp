// SPDX-License-Identifier: Apache-2.0
// The simulated clock: a discrete-event clock over real threads. Every thread taking part is
// either waiting (with its wake-up time) or running; time jumps to the earliest wake-up only
// when none is running, none is announced but not yet begun, and none has stalled outside the
// clock for long (that one is left out until it comes back).
#include "platform/sim_clock.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace {

using Steady = std::chrono::steady_clock;
constexpr auto STALL = std::chrono::milliseconds(SIM_CLOCK_STALL_MS);
constexpr auto RECHECK = std::chrono::milliseconds(20);

struct Member {
    bool sleeping = false;
    uint64_t wake = 0;
    Steady::time_point since{};  // last time it came back from a wait or began
};

struct Sim {
    std::mutex mu;
    std::condition_variable changed;
    uint64_t now = 0;
    std::vector<std::unique_ptr<Member>> members;
    uint32_t pending = 0;  // announced threads that have not begun yet
    Steady::time_point pendingSince{};
    const ClockBackend* outer = nullptr;
};

// Never destroyed: a thread still ending while the process exits may yet leave it.
Sim& sim() {
    static Sim* s = new Sim;
    return *s;
}

// The calling thread's membership. A plain pointer: thread-local objects with destructors
// are not safe at thread exit everywhere we run. A thread that joined by waiting and then
// ended without Clock_ThreadEnd holds time back no longer than a stalled one.
thread_local Member* self = nullptr;

Member& join(Sim& s) {
    if (!self) {
        s.members.push_back(std::make_unique<Member>());
        self = s.members.back().get();
        self->since = Steady::now();
    }
    return *self;
}

void leave(Sim& s) {
    if (!self) return;
    Member* me = self;
    self = nullptr;
    s.members.erase(
        std::remove_if(s.members.begin(), s.members.end(),
                       [me](const std::unique_ptr<Member>& m) { return m.get() == me; }),
        s.members.end());
    s.changed.notify_all();
}

// The wake-up time to jump to, or 0 while someone may still act at the present time.
uint64_t nextWake(const Sim& s, Steady::time_point realNow) {
    if (s.pending > 0 && realNow - s.pendingSince < STALL) return 0;
    uint64_t next = UINT64_MAX;
    for (const auto& m : s.members) {
        if (m->sleeping)
            next = std::min(next, m->wake);
        else if (realNow - m->since < STALL)
            return 0;
    }
    return next == UINT64_MAX ? 0 : next;
}

void simSleep(uint32_t ms) {
    Sim& s = sim();
    std::unique_lock<std::mutex> lock(s.mu);
    Member& me = join(s);
    me.sleeping = true;
    me.wake = s.now + ms;
    s.changed.notify_all();  // this wait may be the last one time was held for
    while (s.now < me.wake) {
        uint64_t next = nextWake(s, Steady::now());
        if (next > s.now) {
            s.now = next;
            s.changed.notify_all();
            continue;
        }
        s.changed.wait_for(lock, RECHECK);
    }
    me.sleeping = false;
    me.since = Steady::now();
}

uint32_t simTick() {
    Sim& s = sim();
    std::lock_guard<std::mutex> lock(s.mu);
    return static_cast<uint32_t>(s.now);
}

void simLocalTime(LocalTime* out) {
    const ClockBackend* outer = sim().outer;
    outer->localTime(out);
}

const ClockBackend simClock{
    .sleepMs = simSleep,
    .tickMs = simTick,
    .localTime = simLocalTime,
};

}  // namespace

void SimClock_Install() {
    Sim& s = sim();
    const ClockBackend* current = Clock_Backend();
    if (current == &simClock) return;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        s.outer = current;
        s.now = current->tickMs();
    }
    Clock_Install(&simClock);
}

void Clock_ThreadStarting() {
    Sim& s = sim();
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.pending++ == 0) s.pendingSince = Steady::now();
}

void Clock_ThreadNotStarted() {
    Sim& s = sim();
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.pending > 0) --s.pending;
    s.changed.notify_all();
}

void Clock_ThreadBegin() {
    Sim& s = sim();
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.pending > 0) --s.pending;
    join(s);
}

void Clock_ThreadEnd() {
    Sim& s = sim();
    std::lock_guard<std::mutex> lock(s.mu);
    leave(s);
}
