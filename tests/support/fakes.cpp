// SPDX-License-Identifier: Apache-2.0
// Test doubles for the platform seams.
#include "support/fakes.h"

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "diag/log.h"
#include "platform/defaults.h"
#include "platform/locale.h"
#include "platform/logdir.h"
#include "platform/msgbox.h"
#include "support/product_internals.h"

namespace fake_clock {
namespace {
std::atomic<uint32_t> tickNow{1000};
std::atomic<uint64_t> slept{0};
std::mutex timeMutex;
LocalTime fixedTime{2026, 12, 6, 21, 3, 9};

void fastSleep(uint32_t ms) {
    tickNow += ms;
    slept += ms;
    // A real pause of 1/100 of the simulated time lets the thread a poller waits for make
    // progress even on a loaded machine (thread start-up included), while a 20 s time-out
    // still costs only 0.2 s.
    std::this_thread::sleep_for(std::chrono::microseconds(ms * 10));
}
uint32_t fastTick() { return tickNow.load(); }
void fixedLocalTime(LocalTime* out) {
    std::lock_guard<std::mutex> lock(timeMutex);
    *out = fixedTime;
}
const ClockBackend fastClock{
    .sleepMs = fastSleep,
    .tickMs = fastTick,
    .localTime = fixedLocalTime,
};
}  // namespace

void install() {
    slept = 0;
    Clock_Install(&fastClock);
}
void uninstall() { Clock_Install(nullptr); }
void setLocalTime(const LocalTime& t) {
    std::lock_guard<std::mutex> lock(timeMutex);
    fixedTime = t;
}
void setTick(uint32_t t) { tickNow = t; }
uint32_t tick() { return tickNow.load(); }
uint64_t sleptMs() { return slept.load(); }
}  // namespace fake_clock

namespace fake_locale {
namespace {
std::atomic<uint32_t> lcidNow{0x0409};
uint32_t fixedLcid() { return lcidNow.load(); }
const LocaleBackend fixedLocale{
    .systemLocaleId = fixedLcid,
};
}  // namespace
void install(uint32_t lcid) {
    lcidNow = lcid;
    Locale_Install(&fixedLocale);
}
void uninstall() { Locale_Install(nullptr); }
}  // namespace fake_locale

namespace msgbox_recorder {
namespace {
std::mutex boxMutex;
std::vector<Box> recorded;
std::deque<int> answers;
int defaultAnswer = 1;
int recordShow(const char* text, const char* caption, int buttons, int icon) {
    std::lock_guard<std::mutex> lock(boxMutex);
    recorded.push_back({text ? text : "", caption ? caption : "", buttons, icon});
    if (!answers.empty()) {
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    return defaultAnswer;
}
const MsgBoxBackend recorder{
    .show = recordShow,
};
}  // namespace
void install(int answer) {
    clear();
    defaultAnswer = answer;
    MsgBox_Install(&recorder);
}
void uninstall() { MsgBox_Install(nullptr); }
void queueAnswer(int answer) {
    std::lock_guard<std::mutex> lock(boxMutex);
    answers.push_back(answer);
}
std::vector<Box> boxes() {
    std::lock_guard<std::mutex> lock(boxMutex);
    return recorded;
}
void clear() {
    std::lock_guard<std::mutex> lock(boxMutex);
    recorded.clear();
    answers.clear();
}
}  // namespace msgbox_recorder

// Test programs compare log texts as the sources write them (UTF-8) on every platform: their
// log folder back end is the platform's with the text left as it is. The Windows tests install
// the platform's own (code page 936) where they check it, and this one again after.
namespace {
std::string platformDefaultDir() { return Platform_DefaultLogDir()->defaultDir(); }
std::string unchangedText(const std::string& utf8) { return utf8; }
const LogDirBackend utf8LogDir{
    .defaultDir = platformDefaultDir,
    .fileText = unchangedText,
};
[[maybe_unused]] const bool logTextUtf8 = (LogDir_Install(&utf8LogDir), true);
}  // namespace

const LogDirBackend* Utf8LogDir() { return &utf8LogDir; }

TempDir::TempDir() {
#ifdef _WIN32
    // No mkdtemp: random names until one is created by this call.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
        auto candidate =
            std::filesystem::temp_directory_path() / ("headalign-" + std::to_string(random()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) path = candidate.string();
    }
#else
    std::string tmpl = (std::filesystem::temp_directory_path() / "headalign-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    char* made = mkdtemp(buf.data());
    path = made ? made : "";
#endif
}
TempDir::~TempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
}

namespace error_log_watch {
namespace {
std::mutex watchMutex;
std::map<std::string, size_t> bytesSeen;  // per file, how much a test has read
std::string unseen;

std::string wholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Adds what the error log holds beyond what the case read (before its folder goes).
void gatherUnseen() {
    const std::string path = Log_ErrorPath();
    if (path.empty()) return;
    const std::string text = wholeFile(path);
    std::lock_guard<std::mutex> lock(watchMutex);
    size_t seen = bytesSeen[path];
    // The banner opens a run's lines, and a program error is written as "errset: ..." besides
    // being the job's outcome, which the case checks: neither is a line the case missed.
    std::istringstream lines(text.size() > seen ? text.substr(seen) : std::string());
    for (std::string line; std::getline(lines, line);) {
        if (line.find_first_not_of("\r ") == std::string::npos) continue;
        if (line.rfind("* New Job", 0) == 0 || line.rfind("errset:", 0) == 0) continue;
        unseen += line + "\n";
    }
    bytesSeen[path] = text.size();
}
}  // namespace

void noteRead(const std::string& path, size_t bytes) {
    std::lock_guard<std::mutex> lock(watchMutex);
    size_t& seen = bytesSeen[path];
    if (bytes > seen) seen = bytes;
}

void caseStarts() {
    std::lock_guard<std::mutex> lock(watchMutex);
    bytesSeen.clear();
    unseen.clear();
}

std::string unseenLines() {
    std::lock_guard<std::mutex> lock(watchMutex);
    return unseen;
}
}  // namespace error_log_watch

std::string readFileBytes(const std::string& path) {
    std::string bytes = error_log_watch::wholeFile(path);
    error_log_watch::noteRead(path, bytes.size());
    return bytes;
}
bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

PlatformFixture::PlatformFixture() {
    fake_clock::install();
    fake_clock::setLocalTime({2026, 12, 6, 21, 3, 9});
    fake_locale::install(0x0409);
    msgbox_recorder::install();
    LogDir_Set(logDir.path);
}
PlatformFixture::~PlatformFixture() {
    Log_Close();
    error_log_watch::gatherUnseen();
    LogDir_Set("");
    msgbox_recorder::uninstall();
    fake_locale::uninstall();
    fake_clock::uninstall();
}
