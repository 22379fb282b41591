// SPDX-License-Identifier: Apache-2.0
// Win32 shared area: the named file mapping and the named mutex of the printing front end,
// opened (never created) with full access and without inheritance.
#include <windows.h>

#include "platform/shared_area.h"

namespace {

HANDLE toHandle(SharedHandle h) { return reinterpret_cast<HANDLE>(h); }

SharedHandle openArea(const char* name, uint8_t** base, size_t* size) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (!mapping) return SHARED_INVALID;
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    MEMORY_BASIC_INFORMATION info{};
    if (view && VirtualQuery(view, &info, sizeof info) == sizeof info) {
        *base = static_cast<uint8_t*>(view);
        // The view is rounded up to whole pages; the creator's size is not known here, so the
        // region's size is the most that can be read safely.
        *size = info.RegionSize;
    } else {
        if (view) UnmapViewOfFile(view);
        *base = nullptr;
        *size = 0;
    }
    return reinterpret_cast<SharedHandle>(mapping);
}

void closeArea(SharedHandle area, uint8_t* base, size_t) {
    if (base) UnmapViewOfFile(base);
    if (area != SHARED_INVALID) CloseHandle(toHandle(area));
}

SharedHandle openLock(const char* name) {
    HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
    return mutex ? reinterpret_cast<SharedHandle>(mutex) : SHARED_INVALID;
}

SharedWaitResult waitLock(SharedHandle lock, uint32_t timeoutMs) {
    switch (WaitForSingleObject(toHandle(lock), timeoutMs)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // the front end ended while holding it: the mutex is ours now
            return SHARED_WAIT_OBTAINED;
        case WAIT_TIMEOUT:
            return SHARED_WAIT_TIMEOUT;
        default:
            return SHARED_WAIT_FAILED;
    }
}

void releaseLock(SharedHandle lock) { ReleaseMutex(toHandle(lock)); }
void closeLock(SharedHandle lock) { CloseHandle(toHandle(lock)); }

const SharedAreaBackend winShared{
    .openArea = openArea,
    .closeArea = closeArea,
    .openLock = openLock,
    .waitLock = waitLock,
    .releaseLock = releaseLock,
    .closeLock = closeLock,
};

}  // namespace

const SharedAreaBackend* Platform_DefaultSharedArea() { return &winShared; }
