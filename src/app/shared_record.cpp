// SPDX-License-Identifier: Apache-2.0
// The console's accesses to the shared parameter area: each one opens, locks, copies and
// closes everything again, so nothing stays open while the operator thinks.
#include "app/shared_record.h"

#include <cstring>

#include "app/texts.h"
#include "diag/log.h"
#include "params/parameter_record.h"
#include "platform/shared_area.h"

namespace {

struct OpenArea {
    SharedHandle area = SHARED_INVALID;
    uint8_t* base = nullptr;
    size_t size = 0;
    SharedHandle lock = SHARED_INVALID;
};
OpenArea openArea;

const SharedAreaBackend* backend() { return SharedArea_Backend(); }

// Lock opened and obtained within 2000 ms; the busy warning when it was not.
enum LockVerdict { LOCK_HELD, LOCK_MISSING, LOCK_BUSY };
LockVerdict takeLock() {
    if (openArea.size < SHARED_AREA_USED) {
        // A front end that made the area too small for a record is treated like one without
        // its lock: nothing is read from or written past the end of its view.
        Log_Error("shared area %s holds %zu bytes, fewer than %zu", SharedArea_AreaName(),
                  openArea.size, SHARED_AREA_USED);
        return LOCK_MISSING;
    }
    openArea.lock = backend()->openLock(SharedArea_LockName());
    if (openArea.lock == SHARED_INVALID) return LOCK_MISSING;
    if (backend()->waitLock(openArea.lock, SHARED_LOCK_TIMEOUT_MS) == SHARED_WAIT_OBTAINED)
        return LOCK_HELD;
    showConsoleMessage(MSG_SHARED_BUSY);
    return LOCK_BUSY;
}

}  // namespace

bool openSharedArea() {
    releaseSharedArea();
    openArea.area = backend()->openArea(SharedArea_AreaName(), &openArea.base, &openArea.size);
    return openArea.area != SHARED_INVALID;
}

void closeSharedArea() {
    if (openArea.area != SHARED_INVALID)
        backend()->closeArea(openArea.area, openArea.base, openArea.size);
    openArea.area = SHARED_INVALID;
    openArea.base = nullptr;
    openArea.size = 0;
}

void releaseSharedArea() {
    closeSharedArea();
    if (openArea.lock != SHARED_INVALID) backend()->closeLock(openArea.lock);
    openArea.lock = SHARED_INVALID;
}

SharedReadResult readSharedRecord(uint8_t* record) {
    SharedReadResult result;
    switch (takeLock()) {
        case LOCK_HELD:
            std::memcpy(record, openArea.base + SHARED_RECORD_OFFSET, PARAMETER_RECORD_SIZE);
            backend()->releaseLock(openArea.lock);
            result = SHARED_READ;
            break;
        case LOCK_MISSING:
            result = SHARED_NO_MUTEX;
            break;
        default:
            result = SHARED_BUSY;
            break;
    }
    releaseSharedArea();
    return result;
}

bool writeSharedRecord(const uint8_t* record) {
    bool held = takeLock() == LOCK_HELD;
    if (held) {
        // Flag first, then the record, both under the lock.
        openArea.base[0] = 1;
        openArea.base[1] = openArea.base[2] = openArea.base[3] = 0;
        std::memcpy(openArea.base + SHARED_RECORD_OFFSET, record, PARAMETER_RECORD_SIZE);
        backend()->releaseLock(openArea.lock);
    }
    releaseSharedArea();
    return held;
}
