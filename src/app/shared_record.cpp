// SPDX-License-Identifier: Apache-2.0
// The console's accesses to the shared parameter area: each one opens, locks, copies and
// closes everything again, so nothing stays open while the operator thinks; a command that
// reads, changes and writes the record holds the area and its lock across all three.
#include "app/shared_record.h"

#include <cstring>
#include <string>

#include "app/texts.h"
#include "diag/log.h"
#include "params/parameter_record.h"

namespace {

struct OpenArea {
    SharedHandle area = SHARED_INVALID;
    uint64_t size = 0;
    SharedHandle lock = SHARED_INVALID;
    bool held = false;  // a hold keeps area and lock open, the lock taken
    std::string refusal;
};
OpenArea openArea;

const SharedAreaBackend* backend() { return SharedArea_Backend(); }

void refuse(const std::string& object, const SharedOpenResult& found) {
    openArea.refusal =
        object + ": " + found.reason + (found.owner.empty() ? "" : " (" + found.owner + ")");
    Log_Error("shared %s", openArea.refusal.c_str());
}

// Lock opened and obtained within 2000 ms; the busy warning when it was not.
enum LockVerdict { LOCK_HELD, LOCK_MISSING, LOCK_BUSY };
LockVerdict takeLock() {
    if (openArea.held) return LOCK_HELD;
    if (openArea.size < SHARED_AREA_USED) {
        // A front end that made the area too small for a record is treated like one without
        // its lock: nothing is read from or written past the end of the area.
        Log_Error("shared area %s holds %llu bytes, fewer than %zu", SharedArea_AreaName(),
                  static_cast<unsigned long long>(openArea.size), SHARED_AREA_USED);
        return LOCK_MISSING;
    }
    SharedOpenResult found;
    openArea.lock = backend()->openLock(SharedArea_LockName(), &found);
    if (openArea.lock == SHARED_INVALID) {
        // A lock planted by another user is never waited for: it could be held for ever.
        if (found.status != SHARED_ABSENT) {
            refuse(std::string("the lock ") + SharedArea_LockName(), found);
            showConsoleMessage(MSG_SHARED_REFUSED, openArea.refusal.c_str());
        }
        return LOCK_MISSING;
    }
    if (backend()->waitLock(openArea.lock, SHARED_LOCK_TIMEOUT_MS) == SHARED_WAIT_OBTAINED)
        return LOCK_HELD;
    showConsoleMessage(MSG_SHARED_BUSY);
    return LOCK_BUSY;
}

void giveLock() {
    if (!openArea.held) backend()->releaseLock(openArea.lock);
}

void closeUnlessHeld() {
    if (!openArea.held) releaseSharedArea();
}

}  // namespace

bool openSharedArea(SharedOpenResult* found) {
    SharedOpenResult result;
    if (openArea.held) {
        result.status = SHARED_OPENED;
        result.size = openArea.size;
        if (found) *found = result;
        return true;
    }
    releaseSharedArea();
    openArea.refusal.clear();
    openArea.area = backend()->openArea(SharedArea_AreaName(), &result);
    if (openArea.area == SHARED_INVALID && result.status == SHARED_OPENED)
        result.status = SHARED_DENIED;  // a back end that opened nothing opened nothing
    if (result.status == SHARED_DENIED || result.status == SHARED_UNTRUSTED)
        refuse(std::string("the area ") + SharedArea_AreaName(), result);
    openArea.size = result.status == SHARED_OPENED ? result.size : 0;
    if (found) *found = result;
    return openArea.area != SHARED_INVALID;
}

void closeSharedArea() {
    if (openArea.held) return;
    if (openArea.area != SHARED_INVALID) backend()->closeArea(openArea.area);
    openArea.area = SHARED_INVALID;
    openArea.size = 0;
}

void releaseSharedArea() {
    if (openArea.held) return;
    closeSharedArea();
    if (openArea.lock != SHARED_INVALID) backend()->closeLock(openArea.lock);
    openArea.lock = SHARED_INVALID;
}

SharedReadResult readSharedRecord(uint8_t* record) {
    SharedReadResult result;
    switch (takeLock()) {
        case LOCK_HELD: {
            uint8_t copy[PARAMETER_RECORD_SIZE];
            // An area shrunk under us since it was opened holds no record any more.
            bool read = backend()->readArea(openArea.area, SHARED_RECORD_OFFSET, copy, sizeof copy);
            giveLock();
            if (read) std::memcpy(record, copy, sizeof copy);
            result = read ? SHARED_READ : SHARED_NO_MUTEX;
            if (!read) Log_Error("shared area %s shrank below a record", SharedArea_AreaName());
            break;
        }
        case LOCK_MISSING:
            result = SHARED_NO_MUTEX;
            break;
        default:
            result = SHARED_BUSY;
            break;
    }
    closeUnlessHeld();
    return result;
}

bool writeSharedRecord(const uint8_t* record) {
    bool written = false;
    if (takeLock() == LOCK_HELD) {
        // Flag first, then the record, both under the lock; the whole 60 bytes in one copy,
        // so an area that shrank meanwhile gets nothing rather than a flag without a record.
        uint8_t bytes[SHARED_AREA_USED] = {1, 0, 0, 0};
        std::memcpy(bytes + SHARED_RECORD_OFFSET, record, PARAMETER_RECORD_SIZE);
        written = backend()->writeArea(openArea.area, 0, bytes, sizeof bytes);
        if (!written) Log_Error("shared area %s shrank below a record", SharedArea_AreaName());
        giveLock();
    }
    closeUnlessHeld();
    return written;
}

SharedReadResult beginSharedHold() {
    endSharedHold();
    if (!openSharedArea()) return SHARED_NO_MUTEX;
    LockVerdict verdict = takeLock();
    if (verdict != LOCK_HELD) {
        releaseSharedArea();
        return verdict == LOCK_BUSY ? SHARED_BUSY : SHARED_NO_MUTEX;
    }
    openArea.held = true;
    return SHARED_READ;
}

void endSharedHold() {
    if (!openArea.held) return;
    openArea.held = false;
    backend()->releaseLock(openArea.lock);
    releaseSharedArea();
}

const char* sharedRefusal() { return openArea.refusal.c_str(); }
