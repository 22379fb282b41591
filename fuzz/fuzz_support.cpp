// SPDX-License-Identifier: Apache-2.0
// Shared scaffolding of the fuzz targets: silent fast clock, quiet message boxes, checks.
#include "fuzz_support.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/console.h"
#include "platform/clock.h"
#include "platform/dialog_model.h"
#include "platform/msgbox.h"
#include "platform/shared_area.h"

namespace {

std::atomic<uint32_t> tick{1000};
std::atomic<uint64_t> slept{0};
std::atomic<void (*)()> sleepHook{nullptr};

void sleepMs(uint32_t ms) {
    tick.fetch_add(ms);
    slept.fetch_add(ms);
    if (void (*hook)() = sleepHook.load()) hook();
}
uint32_t tickMs() { return tick.load(); }
void localTime(LocalTime* out) { *out = LocalTime{2024, 5, 17, 9, 30, 0}; }
const ClockBackend FAST_CLOCK{
    .sleepMs = sleepMs,
    .tickMs = tickMs,
    .localTime = localTime,
};

int quietBox(const char*, const char*, int, int) { return MSGBOX_RESULT_OK; }
const MsgBoxBackend QUIET_BOXES{
    .show = quietBox,
};

intptr_t quietProc(DialogHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

FuzzArea* theArea = nullptr;
constexpr SharedHandle AREA_HANDLE = 11, LOCK_HANDLE = 12;

SharedHandle openArea(const char*, SharedOpenResult* result) {
    *result = SharedOpenResult{};
    if (!theArea || !theArea->exists) return SHARED_INVALID;
    ++theArea->areaOpens;
    result->status = SHARED_OPENED;
    result->size = theArea->bytes.size();
    return AREA_HANDLE;
}
bool readArea(SharedHandle h, size_t offset, uint8_t* out, size_t len) {
    FUZZ_CHECK(h == AREA_HANDLE);
    if (offset > theArea->bytes.size() || len > theArea->bytes.size() - offset) return false;
    std::memcpy(out, theArea->bytes.data() + offset, len);
    return true;
}
bool writeArea(SharedHandle h, size_t offset, const uint8_t* data, size_t len) {
    FUZZ_CHECK(h == AREA_HANDLE);
    if (offset > theArea->bytes.size() || len > theArea->bytes.size() - offset) return false;
    std::memcpy(theArea->bytes.data() + offset, data, len);
    return true;
}
void closeArea(SharedHandle h) {
    FUZZ_CHECK(h == AREA_HANDLE);
    ++theArea->areaCloses;
}
SharedHandle openLock(const char*, SharedOpenResult* result) {
    *result = SharedOpenResult{};
    if (!theArea || theArea->lock == LOCK_ABSENT) return SHARED_INVALID;
    ++theArea->lockOpens;
    result->status = SHARED_OPENED;
    return LOCK_HANDLE;
}
SharedWaitResult waitLock(SharedHandle h, uint32_t timeoutMs) {
    FUZZ_CHECK(h == LOCK_HANDLE);
    if (theArea->lock == LOCK_FREE) {
        FUZZ_CHECK(theArea->obtained == theArea->released);  // never taken twice
        ++theArea->obtained;
        return SHARED_WAIT_OBTAINED;
    }
    if (theArea->lock == LOCK_TIMES_OUT) {
        Clock_Sleep(timeoutMs);
        return SHARED_WAIT_TIMEOUT;
    }
    return SHARED_WAIT_FAILED;
}
void releaseLock(SharedHandle h) {
    FUZZ_CHECK(h == LOCK_HANDLE);
    ++theArea->released;
    FUZZ_CHECK(theArea->released <= theArea->obtained);
}
void closeLock(SharedHandle h) {
    FUZZ_CHECK(h == LOCK_HANDLE);
    ++theArea->lockCloses;
}
const SharedAreaBackend FUZZ_AREA{
    .openArea = openArea,
    .readArea = readArea,
    .writeArea = writeArea,
    .closeArea = closeArea,
    .openLock = openLock,
    .waitLock = waitLock,
    .releaseLock = releaseLock,
    .closeLock = closeLock,
};

}  // namespace

void fuzzInstallArea(FuzzArea* area) {
    theArea = area;
    SharedArea_Install(area ? &FUZZ_AREA : nullptr);
}

void fuzzConsole() {
    Dialog_Install(DialogModel_Backend());
    DialogModel_Reset();
    DialogHandle dialog = DialogModel_Backend()->create(consoleLayout(), quietProc);
    FUZZ_CHECK(dialog != DIALOG_NONE);
    consoleState()->dialog = dialog;
}

void fuzzCheckFailed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::abort();
}

void fuzzPlatform() {
    // Every run, cheaply: a test of the same program may have installed others in between.
    if (Clock_Backend() != &FAST_CLOCK) Clock_Install(&FAST_CLOCK);
    MsgBox_Install(&QUIET_BOXES);
    DialogModel_ClearBoxes();  // boxes of earlier runs would only pile up
}

uint64_t fuzzSleptMs() { return slept.load(); }

void fuzzOnSleep(void (*hook)()) { sleepHook.store(hook); }

const std::vector<FuzzTarget>& fuzzTargets() {
    static const std::vector<FuzzTarget> targets = {
        {"usb_read", fuzzOne_usb_read},         {"rx_parse", fuzzOne_rx_parse},
        {"printer_info", fuzzOne_printer_info}, {"param_file", fuzzOne_param_file},
        {"save_params", fuzzOne_save_params},   {"shared_area", fuzzOne_shared_area},
        {"geometry", fuzzOne_geometry},
#ifdef HEADALIGN_HAVE_VERNIER
        {"scan_image", fuzzOne_scan_image},
#endif
    };
    return targets;
}
