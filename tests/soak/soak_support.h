// SPDX-License-Identifier: Apache-2.0
// Soak helpers: settings from the environment and faults armed once a job has really started.
#pragma once
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "vprinter.h"

// The fast clock of the soak: like the test clock (a sleep advances the shared tick at once,
// with a token real pause), but it also counts each thread's own simulated sleep, so a job's
// time is what its own waits add up to, not what other threads slept meanwhile.
namespace soak_clock {
void install();  // after the platform fixture; the fixture's end restores the default
uint64_t threadSleptMs();
}  // namespace soak_clock

// Integer from the environment, or fallback when unset or not a number.
int soakEnv(const char* name, int fallback);

// Other processes that keep the cores busy for as long as this object lives (each also ends
// by itself once this process is gone).
class BusyProcesses {
  public:
    explicit BusyProcesses(int count);
    ~BusyProcesses();
    int count() const { return static_cast<int>(pids_.size()); }

  private:
    std::vector<int> pids_;
};

// Sets the faults on the virtual printer, at once or (afterPrintStart) from a watcher thread
// as soon as the printer holds the PRINT_START of a job newer than the last one; with
// pcCancel the watcher asks the job to stop instead, at that moment.
class ArmedFaults {
  public:
    ArmedFaults(const VPrinterFaults& faults, bool afterPrintStart, bool pcCancel);
    ~ArmedFaults() { stop(); }
    void stop();
    bool fired() const { return fired_.load(); }

  private:
    void watch();
    VPrinterFaults faults_;
    bool pcCancel_;
    uint32_t jobBefore_;
    std::atomic<bool> done_{false}, fired_{false};
    std::thread watcher_;
};
