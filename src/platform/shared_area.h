// SPDX-License-Identifier: Apache-2.0
// Shared-area seam: a named memory area and a named lock published by another process (the
// printing front end). The console only opens them, never creates them, and uses them only
// when they belong to the user (or the system) and no one else may write them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

using SharedHandle = intptr_t;
constexpr SharedHandle SHARED_INVALID = -1;

enum SharedWaitResult { SHARED_WAIT_OBTAINED = 0, SHARED_WAIT_TIMEOUT = 1, SHARED_WAIT_FAILED = 2 };

// What opening a named object found.
enum SharedOpenStatus {
    SHARED_OPENED = 0,     // opened and trusted: the handle is valid
    SHARED_ABSENT = 1,     // no object of that name
    SHARED_DENIED = 2,     // it exists but cannot be opened (permission, or another error)
    SHARED_UNTRUSTED = 3,  // it exists but belongs to someone else, or others may write it
};

struct SharedOpenResult {
    SharedOpenStatus status = SHARED_ABSENT;
    uint64_t size = 0;   // SHARED_OPENED (area): its size when opened
    std::string owner;   // who owns it and its permissions, as the system tells them
    std::string reason;  // SHARED_DENIED or SHARED_UNTRUSTED: why, in words
};

// Called on the dialog thread (the console's save and load, the command line); the lock is
// what keeps the other process out, so no entry takes a lock of this process.
struct SharedAreaBackend {
    // Opens the named area for reading and writing and checks who owns it; an object that is
    // not to be trusted is closed again before anything is read from it. \context dialog
    // \nonblocking \errors SHARED_INVALID, the verdict and reason in *result; a handle only
    // with SHARED_OPENED.
    SharedHandle (*openArea)(const char* name, SharedOpenResult* result);
    // Copies len bytes at offset out of (readArea) or into (writeArea) the area as it is now.
    // Never faults when the other process has shrunk the area meanwhile. \context dialog
    // \nonblocking \errors false when the area no longer holds offset + len bytes or the copy
    // failed.
    bool (*readArea)(SharedHandle area, size_t offset, uint8_t* out, size_t len);
    bool (*writeArea)(SharedHandle area, size_t offset, const uint8_t* data, size_t len);
    // Closes the area handle; the area itself lives on while its creator holds it.
    // \context dialog \nonblocking \errors none.
    void (*closeArea)(SharedHandle area);
    // Opens the named lock without taking it, with the same check of its owner. \context
    // dialog \nonblocking \errors SHARED_INVALID, the verdict in *result; a handle only with
    // SHARED_OPENED.
    SharedHandle (*openLock)(const char* name, SharedOpenResult* result);
    // Takes the lock. \context dialog \blocks at most timeoutMs (polling through the clock
    // seam where the platform has no timed wait of its own) \errors SHARED_WAIT_TIMEOUT when
    // another process kept it, SHARED_WAIT_FAILED when the wait itself failed;
    // SHARED_WAIT_OBTAINED when held (also when a holder died with it).
    SharedWaitResult (*waitLock)(SharedHandle lock, uint32_t timeoutMs);
    // Gives up a lock taken by waitLock. \context dialog \nonblocking \errors none.
    void (*releaseLock)(SharedHandle lock);
    // Closes the lock handle; release a held lock first (on Windows a mutex closed while held
    // is handed to the next waiter as abandoned). \context dialog \nonblocking \errors none.
    void (*closeLock)(SharedHandle lock);
};

// The names both processes agree on (the POSIX back end puts a "/" before them and makes the
// lock a shared-memory object of that name locked with flock(), freed when its holder dies).
constexpr const char* SHARED_AREA_NAME = "SharePrinterAdjust";
constexpr const char* SHARED_LOCK_NAME = "SPAdjust_Mutex";
// The group a front end running as another user shares its area with (mode 0660): members
// trust an area of that group; nobody outside it may write the area.
constexpr const char* SHARED_AREA_GROUP = "headalign";

void SharedArea_Install(const SharedAreaBackend* backend);  // nullptr = platform default
const SharedAreaBackend* SharedArea_Backend();
const SharedAreaBackend* Platform_DefaultSharedArea();

// The names in use: SHARED_AREA_NAME and SHARED_LOCK_NAME unless a test set names of its own.
// \context dialog \nonblocking \errors none.
const char* SharedArea_AreaName();
const char* SharedArea_LockName();
