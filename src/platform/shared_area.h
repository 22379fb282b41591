// SPDX-License-Identifier: Apache-2.0
// Shared-area seam: a named memory area and a named lock published by another process (the
// printing front end). The console only opens them, never creates them.
#pragma once
#include <cstddef>
#include <cstdint>

using SharedHandle = intptr_t;
constexpr SharedHandle SHARED_INVALID = -1;

enum SharedWaitResult { SHARED_WAIT_OBTAINED = 0, SHARED_WAIT_TIMEOUT = 1, SHARED_WAIT_FAILED = 2 };

// Called on the dialog thread (the console's save and load, the command line); the lock is
// what keeps the other process out, so no entry takes a lock of this process.
struct SharedAreaBackend {
    // Opens the named area for reading and writing and maps all of it. \context dialog
    // \nonblocking \errors SHARED_INVALID when no area of that name exists (or it cannot be
    // mapped); else a handle, with *base and *size describing the whole view.
    SharedHandle (*openArea)(const char* name, uint8_t** base, size_t* size);
    // Unmaps the view and closes the area handle; the area itself lives on while its creator
    // holds it. \context dialog \nonblocking \errors none.
    void (*closeArea)(SharedHandle area, uint8_t* base, size_t size);
    // Opens the named lock without taking it. \context dialog \nonblocking \errors
    // SHARED_INVALID when it does not exist.
    SharedHandle (*openLock)(const char* name);
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

void SharedArea_Install(const SharedAreaBackend* backend);  // nullptr = platform default
const SharedAreaBackend* SharedArea_Backend();
const SharedAreaBackend* Platform_DefaultSharedArea();

// The names in use: SHARED_AREA_NAME and SHARED_LOCK_NAME unless a test set names of its own.
// \context dialog \nonblocking \errors none.
const char* SharedArea_AreaName();
const char* SharedArea_LockName();
