// SPDX-License-Identifier: Apache-2.0
// POSIX folder lock: flock on a file that stays in the folder, opened close-on-exec.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/folder_lock.h"

namespace {

uint32_t readOwner(int fd) {
    char text[24] = {};
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    char* end = nullptr;
    unsigned long pid = std::strtoul(text, &end, 10);
    if (end == text || pid == 0 || pid > UINT32_MAX) return 0;
    // A holder that has not written its own id yet leaves its predecessor's, long gone.
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return 0;
    return static_cast<uint32_t>(pid);
}

}  // namespace

FolderLockResult FolderLock_Take(const std::string& folder, const char* fileName,
                                 FolderLock* lock) {
    FolderLockResult result;
    std::string path = folder + "/" + fileName;
    // No link planted in the folder is followed, and a FIFO there never blocks the open.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        result.status = FOLDER_LOCK_ERROR;
        result.message = path + ": " + std::strerror(errno);
        return result;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        result.status = FOLDER_LOCK_ERROR;
        result.message = path + ": is not a regular file";
        return result;
    }
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        if (err == EWOULDBLOCK) {
            result.status = FOLDER_LOCK_BUSY;
            result.ownerPid = readOwner(fd);
        } else {
            result.status = FOLDER_LOCK_ERROR;
            result.message = path + ": cannot lock: " + std::strerror(err);
        }
        close(fd);
        return result;
    }
    char text[24];
    int len = std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
    // The process id only names the holder to a refused taker; the lock does not depend on it.
    // Written before the old text is cut off, so a refused taker never reads an empty file.
    bool named = pwrite(fd, text, static_cast<size_t>(len), 0) == len && ftruncate(fd, len) == 0;
    (void)named;
    lock->handle = fd;
    return result;
}

void FolderLock_Release(FolderLock* lock) {
    if (lock->handle < 0) return;
    close(static_cast<int>(lock->handle));  // ends the flock with the last descriptor
    lock->handle = -1;
}

std::string FolderLock_RuntimeDir(std::string* error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir =
        runtime && *runtime == '/'
            ? std::string(runtime) + "/headalign"
            : "/tmp/headalign-" + std::to_string(static_cast<unsigned long>(geteuid()));
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = dir + ": cannot be made: " + std::strerror(errno);
        return "";
    }
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) {
        *error = dir + ": " + std::strerror(errno);
        return "";
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 022) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        *error = dir + ": not a private folder of this user (owner uid " +
                 std::to_string(static_cast<unsigned long>(st.st_uid)) + ", mode " + mode +
                 "); it is not used";
        return "";
    }
    return dir;
}
