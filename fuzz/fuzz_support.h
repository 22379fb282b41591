// SPDX-License-Identifier: Apache-2.0
// Shared scaffolding of the fuzz targets: a silent fast clock, quiet message boxes, a check
// that stops the run on a broken promise, and the entry function of every target.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Aborts with the failed condition (libFuzzer keeps the input as a crash; a replay test dies).
#define FUZZ_CHECK(cond)                                         \
    do {                                                         \
        if (!(cond)) fuzzCheckFailed(#cond, __FILE__, __LINE__); \
    } while (0)
[[noreturn]] void fuzzCheckFailed(const char* what, const char* file, int line);

// Installs the clock whose sleeps only advance the tick and a message-box
// back end that answers OK without printing.
void fuzzPlatform();
// Simulated milliseconds slept since start (all threads).
uint64_t fuzzSleptMs();
// Runs `hook` on every simulated sleep of the calling program (nullptr: none). A job that
// waits for a free swath record sleeps: a hook that empties the ring is a transmit side
// without a thread.
void fuzzOnSleep(void (*hook)());

// Reads the fuzz input front to back; past its end every read gives zeros.
struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool empty() const { return pos >= size; }
    size_t left() const { return pos < size ? size - pos : 0; }
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    uint16_t u16() {
        uint16_t lo = byte();
        return static_cast<uint16_t>(lo | (byte() << 8));
    }
    // Up to n bytes (fewer at the end of the input).
    std::vector<uint8_t> bytes(size_t n) {
        size_t k = n < left() ? n : left();
        std::vector<uint8_t> out(data + pos, data + pos + k);
        pos += k;
        return out;
    }
    std::vector<uint8_t> rest() { return bytes(left()); }
};

// The console's dialog on the in-memory model, created without the start-up read; no boxes
// kept from the previous run. consoleState()->dialog is set.
void fuzzConsole();

// A shared parameter area held in memory, installed as the shared-area back end.
enum FuzzLockMode { LOCK_ABSENT = 0, LOCK_FREE = 1, LOCK_TIMES_OUT = 2, LOCK_FAILS = 3 };
struct FuzzArea {
    bool exists = false;
    std::vector<uint8_t> bytes;  // the whole view, exactly its size
    FuzzLockMode lock = LOCK_FREE;
    int areaOpens = 0, areaCloses = 0, lockOpens = 0, lockCloses = 0;
    int obtained = 0, released = 0;
};
// Installs the area for the run (nullptr uninstalls it).
void fuzzInstallArea(FuzzArea* area);

// The targets. Each returns 0; a finding aborts or is caught by the sanitizers.
int fuzzOne_usb_read(const uint8_t* data, size_t size);
int fuzzOne_rx_parse(const uint8_t* data, size_t size);
int fuzzOne_printer_info(const uint8_t* data, size_t size);
int fuzzOne_param_file(const uint8_t* data, size_t size);
int fuzzOne_save_params(const uint8_t* data, size_t size);
int fuzzOne_shared_area(const uint8_t* data, size_t size);
int fuzzOne_geometry(const uint8_t* data, size_t size);
// Jobs the geometry target chooses from by its first byte: patterns 1..19, adjustments 5..15.
constexpr uint8_t FUZZ_GEOMETRY_JOBS = 30;
int fuzzOne_scan_image(const uint8_t* data, size_t size);  // where the vernier reader is built

struct FuzzTarget {
    const char* name;
    int (*entry)(const uint8_t*, size_t);
};
// Every target by name, for the replay tests and the seed writer.
const std::vector<FuzzTarget>& fuzzTargets();
