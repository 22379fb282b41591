// POSIX shared area: named shared memory "/<name>" and a named semaphore "/<name>" used as
// the lock; both opened without O_CREAT so the console never brings either into being.
#include <fcntl.h>
#include <semaphore.h>
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
    struct stat st{};
    void* view = MAP_FAILED;
    if (fstat(fd, &st) == 0 && st.st_size > 0)
        view = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
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
    sem_t* sem = sem_open(posixName(name).c_str(), 0);
    if (sem == SEM_FAILED) return SHARED_INVALID;
    return reinterpret_cast<SharedHandle>(sem);
}

// Polled rather than sem_timedwait so the wait follows the program's clock seam.
SharedWaitResult waitLock(SharedHandle lock, uint32_t timeoutMs) {
    sem_t* sem = reinterpret_cast<sem_t*>(lock);
    uint32_t start = Clock_Tick();
    for (;;) {
        if (sem_trywait(sem) == 0) return SHARED_WAIT_OBTAINED;
        if (errno != EAGAIN && errno != EINTR) return SHARED_WAIT_FAILED;
        if (static_cast<uint32_t>(Clock_Tick() - start) >= timeoutMs) return SHARED_WAIT_TIMEOUT;
        Clock_Sleep(POLL_MS);
    }
}

void releaseLock(SharedHandle lock) { sem_post(reinterpret_cast<sem_t*>(lock)); }
void closeLock(SharedHandle lock) { sem_close(reinterpret_cast<sem_t*>(lock)); }

const SharedAreaBackend posixShared{openArea, closeArea, openLock, waitLock, releaseLock, closeLock};

}  // namespace

const SharedAreaBackend* Platform_DefaultSharedArea() { return &posixShared; }
