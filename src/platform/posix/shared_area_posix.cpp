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
//
// Any local user can create objects under these names before the front end does, so each is
// checked (fstat on the open descriptor, not the name) before anything is read from it: it must
// belong to this user or to root, or to the shared group, and no one else may write it. The
// area is copied with pread/pwrite rather than mapped: an object that another process shrinks
// meanwhile gives a short copy, never SIGBUS.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/shared_area.h"

namespace {

constexpr uint32_t POLL_MS = 10;

std::string posixName(const char* name) { return std::string("/") + (name ? name : ""); }

std::string userName(uid_t uid) {
    std::vector<char> buffer(4096);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found)
        return std::string("user ") + found->pw_name + " (uid " + std::to_string(uid) + ")";
    return "uid " + std::to_string(uid);
}

// The shared group's id, or false when the system has no such group.
bool sharedGroup(gid_t* gid) {
    std::vector<char> buffer(4096);
    struct group gr {};
    struct group* found = nullptr;
    if (getgrnam_r(SHARED_AREA_GROUP, &gr, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    *gid = found->gr_gid;
    return true;
}

bool memberOf(gid_t gid) {
    if (getegid() == gid) return true;
    int n = getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    n = getgroups(n, groups.data());
    for (int i = 0; i < n; ++i)
        if (groups[static_cast<size_t>(i)] == gid) return true;
    return false;
}

// Whether the object behind fd may be used, with its owner described either way.
bool checkOwner(int fd, SharedOpenResult* r) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        r->status = SHARED_DENIED;
        r->reason = std::string("cannot be examined: ") + std::strerror(errno);
        return false;
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    r->owner = "owned by " + userName(st.st_uid) + ", group id " + std::to_string(st.st_gid) +
               ", mode " + mode;
    r->size = static_cast<uint64_t>(st.st_size);
    gid_t group = 0;
    bool inSharedGroup = sharedGroup(&group) && st.st_gid == group;
    r->status = SHARED_UNTRUSTED;
    if (!S_ISREG(st.st_mode))
        r->reason = "it is not a shared-memory object";
    else if (st.st_mode & S_IWOTH)
        r->reason = "any user may write it";
    else if ((st.st_mode & S_IWGRP) && !inSharedGroup)
        r->reason = "the members of its group may write it";
    else if (st.st_uid != geteuid() && st.st_uid != 0 && !(inSharedGroup && memberOf(group)))
        r->reason = "it belongs to another user";
    else
        r->status = SHARED_OPENED;
    return r->status == SHARED_OPENED;
}

SharedHandle openChecked(const char* name, int flags, SharedOpenResult* r) {
    *r = SharedOpenResult{};
    int fd = shm_open(posixName(name).c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0);
    if (fd < 0) {
        int err = errno;
        if (err == ENOENT) return SHARED_INVALID;
        // There, but not ours to open: an error, never taken for "no front end".
        r->status = SHARED_DENIED;
        r->reason = std::string("cannot be opened: ") + std::strerror(err);
        return SHARED_INVALID;
    }
    if (!checkOwner(fd, r)) {
        close(fd);
        return SHARED_INVALID;
    }
    return fd;
}

SharedHandle openArea(const char* name, SharedOpenResult* result) {
    return openChecked(name, O_RDWR, result);
}

// The area's size now, so that a copy never runs past its end.
bool holds(int fd, size_t offset, size_t len) {
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_size >= 0 &&
           static_cast<uint64_t>(st.st_size) >= static_cast<uint64_t>(offset) + len;
}

bool readArea(SharedHandle area, size_t offset, uint8_t* out, size_t len) {
    int fd = static_cast<int>(area);
    if (!holds(fd, offset, len)) return false;
    size_t done = 0;
    while (done < len) {
        ssize_t n = pread(fd, out + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // shrunk meanwhile
        done += static_cast<size_t>(n);
    }
    return true;
}

bool writeArea(SharedHandle area, size_t offset, const uint8_t* data, size_t len) {
    int fd = static_cast<int>(area);
    // Never past the end: a write there would grow the other process's object.
    if (!holds(fd, offset, len)) return false;
    size_t done = 0;
    while (done < len) {
        ssize_t n = pwrite(fd, data + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void closeArea(SharedHandle area) {
    if (area != SHARED_INVALID) close(static_cast<int>(area));
}

SharedHandle openLock(const char* name, SharedOpenResult* result) {
    // Read access is all flock() needs; the lock object carries no data.
    return openChecked(name, O_RDONLY, result);
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
    .readArea = readArea,
    .writeArea = writeArea,
    .closeArea = closeArea,
    .openLock = openLock,
    .waitLock = waitLock,
    .releaseLock = releaseLock,
    .closeLock = closeLock,
};

}  // namespace

const SharedAreaBackend* Platform_DefaultSharedArea() { return &posixShared; }
