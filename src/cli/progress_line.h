// SPDX-License-Identifier: Apache-2.0
// One line of progress on standard error while a long step (a print job, a scan) runs on a
// terminal: rewritten in place, and ended by the step's summary. Nothing when standard error is
// not a terminal, so scripts and logs see only what they always saw.
#pragma once
#include <cstdint>
#include <string>

class ProgressLine {
  public:
    // On when standard error is a terminal.
    ProgressLine();
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool on() const { return on_; }
    // Turns the line off for good (a caller that shows its progress otherwise).
    void disable() { on_ = false; }
    // Rewrites the line, at most every 100 ms of the clock (always when `now` is set).
    void show(const std::string& text, bool now = false);
    // Replaces the line by the summary and ends it with a line feed; an empty summary clears
    // the line. Later calls of show do nothing.
    void finish(const std::string& summary);

  private:
    bool on_ = false;
    bool shown_ = false;
    bool done_ = false;
    uint32_t lastMs_ = 0;
    std::string last_;
};

// "12 s left", "2 min 05 s left" from the time spent on `done` of `total`; "" while too little
// is done to tell.
std::string Progress_TimeLeft(uint32_t elapsedMs, uint64_t done, uint64_t total);
// "45 s", "2 min 05 s".
std::string Progress_Duration(uint64_t seconds);
// Whether standard error / standard output is a terminal.
bool Progress_StderrIsTerminal();
bool Progress_StdoutIsTerminal();
