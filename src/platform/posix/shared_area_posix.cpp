// SPDX-License-Identifier: Apache-2.0
// POSIX shared area: named shared memory "/<name>" for the area, and a second named shared
// memory object "/<lock name>" whose only use is an flock() lock. Both are opened without
// O_CREAT so the console never brings either into being.
//
// The lock is a file lock rather than a semaphore because the kernel drops a file lock when
// the process holding it dies (killed in the middle of a copy, say); a semaphore stays taken
// for ever and every later access would report the area busy. This is what a Windows named
// mutex gives as "abandoned". flock() belongs to the open file description, so every opener
// must open the object itself (not inherit the descriptor across fork) to hold its own lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/clock.h"
#include "platform/shared_area.h"

namespace {

constexpr uint32_t POLL_MS = 10;

std::string posixName(const char* name) { return std::string("/") + (name ? name : ""); }

SharedHandle openArea(const char* name, uint8_t** base, size_t* size) {
    int fd = shm_open(posixName(name).c_str(), O_RDWR, 0);
    if (fd < 0) return SHARED_INVALID;
    struct stat st {};
    void* view = MAP_FAILED;
    if (fstat(fd, &st) == 0 && st.st_size > 0)
        view = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED,
                    fd, 0);
    if (view == MAP_FAILED) {
        // An object of size 0 cannot be mapped: present, but with an empty view.
        *base = nullptr;
        *size = 0;
    } else {
        *base = static_cast<uint8_t*>(view);
        *size = static_cast<size_t>(st.st_size);
    }
    return fd;
}

void closeArea(SharedHandle area, uint8_t* base, size_t size) {
    if (base && size) munmap(base, size);
    if (area != SHARED_INVALID) close(static_cast<int>(area));
}

SharedHandle openLock(const char* name) {
    // Read access is all flock() needs; the lock object carries no data.
    int fd = shm_open(posixName(name).c_str(), O_RDONLY, 0);
    return fd < 0 ? SHARED_INVALID : fd;
}

// Polled rather than a blocking flock() so the wait follows the program's clock seam.
SharedWaitResult waitLock(SharedHandle lock, uint32_t timeoutMs) {
    int fd = static_cast<int>(lock);
    uint32_t start = Clock_Tick();
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return SHARED_WAIT_OBTAINED;
        if (errno != EWOULDBLOCK && errno != EINTR) return SHARED_WAIT_FAILED;
        if (static_cast<uint32_t>(Clock_Tick() - start) >= timeoutMs) return SHARED_WAIT_TIMEOUT;
        Clock_Sleep(POLL_MS);
    }
}

void releaseLock(SharedHandle lock) { flock(static_cast<int>(lock), LOCK_UN); }
void closeLock(SharedHandle lock) { close(static_cast<int>(lock)); }

const SharedAreaBackend posixShared{
    .openArea = openArea,
    .closeArea = closeArea,
    .openLock = openLock,
    .waitLock = waitLock,
    .releaseLock = releaseLock,
    .closeLock = closeLock,
};

}  // namespace

const SharedAreaBackend* Platform_DefaultSharedArea() { return &posixShared; }
