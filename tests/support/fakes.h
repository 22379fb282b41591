// SPDX-License-Identifier: Apache-2.0
// Test doubles for the platform seams: fast clock, fixed local time, locale, message boxes,
// and a temporary log folder.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"

// A clock whose sleeps advance the tick at once (plus a token real pause so other threads
// run), so a 100 ms poll costs microseconds while the tick moves as if it had slept.
namespace fake_clock {
void install();
void uninstall();
void setLocalTime(const LocalTime& t);
void setTick(uint32_t tick);
uint32_t tick();
// Total simulated milliseconds slept since install (all threads).
uint64_t sleptMs();
}  // namespace fake_clock

namespace fake_locale {
void install(uint32_t lcid);
void uninstall();
}  // namespace fake_locale

// Records every message box; answers with `answer` (or the next queued answer).
namespace msgbox_recorder {
struct Box {
    std::string text, caption;
    int buttons, icon;
};
void install(int answer = 1);
void uninstall();
void queueAnswer(int answer);
std::vector<Box> boxes();
void clear();
}  // namespace msgbox_recorder

// A fresh folder below the system temporary directory, removed on destruction.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

// The log folder back end every test program runs with: the platform's folder, lines kept in
// UTF-8 (so texts compare the same on every platform). Installed before main.
struct LogDirBackend;
const LogDirBackend* Utf8LogDir();

// Whole file as bytes ("" when missing). A test that reads the error log this way has seen its
// lines (error_log_watch).
std::string readFileBytes(const std::string& path);

// Error-log lines a test case wrote but never read: a case that provokes error lines reads the
// error log and checks them; lines nobody looked at are a fault the case did not expect. (The
// "errset:" line of a program error is left out: the case sees that error as its outcome.)
namespace error_log_watch {
// Starts a case with nothing unseen.
void caseStarts();
// What the case's error log gained that it did not read, gathered as its platform fixture ends.
std::string unseenLines();
}  // namespace error_log_watch
bool fileExists(const std::string& path);

// Installs the fast clock, a fixed time, the English locale, a message-box recorder and a
// temporary log folder for the duration of a test; restores the defaults afterwards.
struct PlatformFixture {
    TempDir logDir;
    PlatformFixture();
    ~PlatformFixture();
};
