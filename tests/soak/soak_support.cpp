// SPDX-License-Identifier: Apache-2.0
// Soak helpers: settings from the environment and faults armed once a job has really started.
#include "soak_support.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "job/print_job.h"
#include "platform/clock.h"

namespace {
std::atomic<uint32_t> tickNow{1000};
thread_local uint64_t sleptHere = 0;

void sleepMs(uint32_t ms) {
    tickNow += ms;
    sleptHere += ms;
    // A token real pause, so the other threads run while this one "sleeps".
    std::this_thread::sleep_for(std::chrono::microseconds(ms * 10));
}
uint32_t tickMs() { return tickNow.load(); }
void localTime(LocalTime* out) { *out = LocalTime{2026, 12, 6, 21, 3, 9}; }
const ClockBackend SOAK_CLOCK{
    .sleepMs = sleepMs,
    .tickMs = tickMs,
    .localTime = localTime,
};
}  // namespace

void soak_clock::install() { Clock_Install(&SOAK_CLOCK); }
uint64_t soak_clock::threadSleptMs() { return sleptHere; }

int soakEnv(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    return end && *end == '\0' && v > 0 ? static_cast<int>(v) : fallback;
}

BusyProcesses::BusyProcesses(int count) {
    // A shell loop that spins while this process lives: never left behind by a crash.
    std::string loop = "while kill -0 " + std::to_string(getpid()) + " 2>/dev/null; do :; done";
    for (int i = 0; i < count; ++i) {
        char sh[] = "sh", c[] = "-c";
        char* argv[] = {sh, c, loop.data(), nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, "sh", nullptr, nullptr, argv, environ) == 0) pids_.push_back(pid);
    }
}

BusyProcesses::~BusyProcesses() {
    for (int pid : pids_) kill(pid, SIGKILL);
    for (int pid : pids_) waitpid(pid, nullptr, 0);
}

ArmedFaults::ArmedFaults(const VPrinterFaults& faults, bool afterPrintStart, bool pcCancel)
    : faults_(faults), pcCancel_(pcCancel), jobBefore_(VPrinter_LastJobNumber()) {
    if (!afterPrintStart && !pcCancel) {
        VPrinter_SetFaults(faults_);
        fired_ = true;
        return;
    }
    watcher_ = std::thread([this] { watch(); });
}

void ArmedFaults::watch() {
    while (!done_.load()) {
        if (VPrinter_LastJobNumber() != jobBefore_) {
            for (const std::string& line : VPrinter_JobEvents()) {
                if (line.find("\"command\":8,") == std::string::npos &&
                    line.find("\"command\":8}") == std::string::npos)
                    continue;
                if (pcCancel_)
                    Job_RequestCancel();
                else
                    VPrinter_SetFaults(faults_);
                fired_ = true;
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void ArmedFaults::stop() {
    done_ = true;
    if (watcher_.joinable()) watcher_.join();
}
