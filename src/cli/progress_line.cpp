// SPDX-License-Identifier: Apache-2.0
// The command line's progress line.
#include "cli/progress_line.h"

#include <unistd.h>

#include <cstdio>

#include "platform/clock.h"

namespace {
constexpr uint32_t REFRESH_MS = 100;

void write(const std::string& text) {
    // Carriage return, the text, and the rest of a longer earlier line erased.
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
}
}  // namespace

bool Progress_StderrIsTerminal() { return isatty(2) == 1; }
bool Progress_StdoutIsTerminal() { return isatty(1) == 1; }

ProgressLine::ProgressLine() : on_(Progress_StderrIsTerminal()) {}

ProgressLine::~ProgressLine() {
    if (!done_) finish("");
}

void ProgressLine::show(const std::string& text, bool now) {
    if (!on_ || done_) return;
    const uint32_t t = Clock_Tick();
    if (shown_ && !now && (t - lastMs_ < REFRESH_MS || text == last_)) return;
    lastMs_ = t;
    shown_ = true;
    last_ = text;
    write(text);
}

void ProgressLine::finish(const std::string& summary) {
    if (!on_ || done_) return;
    done_ = true;
    if (summary.empty()) {
        if (shown_) write("");
        if (shown_) std::fputs("\r", stderr);
    } else {
        write(summary);
        std::fputs("\n", stderr);
    }
    std::fflush(stderr);
}

std::string Progress_Duration(uint64_t seconds) {
    char text[48];
    if (seconds >= 60)
        std::snprintf(text, sizeof text, "%llu min %02llu s",
                      static_cast<unsigned long long>(seconds / 60),
                      static_cast<unsigned long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%llu s", static_cast<unsigned long long>(seconds));
    return text;
}

std::string Progress_TimeLeft(uint32_t elapsedMs, uint64_t done, uint64_t total) {
    if (done == 0 || total <= done || elapsedMs < 500) return "";
    const double left = double(elapsedMs) / 1000.0 * double(total - done) / double(done);
    return Progress_Duration(static_cast<uint64_t>(left + 0.5)) + " left";
}
