// SPDX-License-Identifier: Apache-2.0
// POSIX files: every open is O_NONBLOCK first (a FIFO or device never holds it), checked to be
// a regular file on the open descriptor, and only then made blocking; files are created with
// O_EXCL and appended with O_NOFOLLOW, so a planted link is never written through; a
// replacement goes through an exclusive temporary renamed into place.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"

namespace {

FileResult fail(FileStatus status, const std::string& path, const std::string& reason) {
    return FileResult{status, path + ": " + reason};
}

FileResult failErrno(const std::string& path, const char* what, int err) {
    FileStatus status = (err == ENOENT || err == ENOTDIR) ? FILE_MISSING : FILE_IO_ERROR;
    return fail(status, path, std::string(what) + ": " + std::strerror(err));
}

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder, not a file";
    if (S_ISFIFO(mode)) return "is a pipe (FIFO), not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
    if (S_ISSOCK(mode)) return "is a socket, not a regular file";
    return "is not a regular file";
}

mode_t currentUmask() {
    mode_t mask = umask(022);
    umask(mask);
    return mask;
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Why an open of path failed, for the open's errno.
FileResult openFailed(const std::string& path, int err, bool writing = true) {
    if (err == EISDIR) return fail(FILE_NOT_REGULAR, path, kindOf(S_IFDIR));
    if (err == ELOOP && writing)
        return fail(FILE_NOT_REGULAR, path,
                    "is a symbolic link; a file is never created or appended through one");
    // O_WRONLY | O_NONBLOCK on a FIFO nobody reads.
    if (err == ENXIO) return fail(FILE_NOT_REGULAR, path, kindOf(S_IFIFO));
    return failErrno(path, "cannot open", err);
}

// The open descriptor is a regular file: made blocking again and kept; otherwise closed and
// refused naming what it is.
FileResult keepRegular(const std::string& path, int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return failErrno(path, "cannot read", err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(FILE_NOT_REGULAR, path, kindOf(st.st_mode));
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        int err = errno;
        ::close(fd);
        return failErrno(path, "cannot open", err);
    }
    return {};
}

FileResult writeAndClose(const std::string& path, int fd, const uint8_t* data, size_t size,
                         bool sync) {
    bool ok = writeAll(fd, data, size) && (!sync || ::fsync(fd) == 0);
    int err = errno;
    ok = (::close(fd) == 0) && ok;
    if (!ok) return failErrno(path, "cannot write", err ? err : EIO);
    return {};
}

FileResult replace(const std::string& path, const uint8_t* data, size_t size, bool throughLink);

}  // namespace

FileResult File_CheckPath(const std::string& path) {
    if (path.empty()) return fail(FILE_MISSING, "(empty path)", "no file named");
    if (path.size() >= PATH_MAX) return fail(FILE_IO_ERROR, path, "the path is too long to open");
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end - start > NAME_MAX)
            return fail(FILE_IO_ERROR, path, "a name in the path is too long");
        start = end + 1;
    }
    return {};
}

FileResult File_ReadRegular(const std::string& path, size_t maxBytes, std::vector<uint8_t>* out) {
    out->clear();
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) return checked;
    struct stat st;
    // Named first so that a socket or device is reported as what it is; checked again on the
    // open descriptor below, since the name may change in between.
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return fail(FILE_NOT_REGULAR, path, kindOf(st.st_mode));
    // O_NONBLOCK: opening a FIFO with no writer must not wait for one.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return openFailed(path, errno, false);
    FileResult regular = keepRegular(path, fd);
    if (!regular.ok()) return regular;
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return failErrno(path, "cannot read", err);
    }
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        ::close(fd);
        return fail(FILE_TOO_LARGE, path,
                    "is " + std::to_string(st.st_size) + " bytes, more than the " +
                        std::to_string(maxBytes) + " this kind of file may have");
    }
    // The file may grow while we read: one byte past the cap tells us so.
    std::vector<uint8_t> data(static_cast<size_t>(st.st_size) + 1);
    size_t got = 0;
    while (got < data.size()) {
        ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            return failErrno(path, "cannot read", err);
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
        if (got == data.size() && got <= maxBytes) data.resize(std::min(maxBytes + 1, got * 2));
    }
    ::close(fd);
    if (got > maxBytes)
        return fail(
            FILE_TOO_LARGE, path,
            "grew past the " + std::to_string(maxBytes) + " bytes this kind of file may have");
    data.resize(got);
    *out = std::move(data);
    return {};
}

FileResult File_WriteReplace(const std::string& path, const uint8_t* data, size_t size) {
    return replace(path, data, size, true);
}

FileResult File_ReplaceOwn(const std::string& path, const uint8_t* data, size_t size) {
    return replace(path, data, size, false);
}

FileResult File_Append(const std::string& path, const uint8_t* data, size_t size) {
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) return checked;
    int fd = ::open(path.c_str(),
                    O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY,
                    0666);
    if (fd < 0) return openFailed(path, errno);
    FileResult regular = keepRegular(path, fd);
    if (!regular.ok()) return regular;
    return writeAndClose(path, fd, data, size, false);
}

FileResult File_CheckOwn(const std::string& path) {
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) return checked;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return {};
        return failErrno(path, "cannot examine", errno);
    }
    if (S_ISLNK(st.st_mode))
        return fail(FILE_NOT_REGULAR, path,
                    "is a symbolic link; the program's own files are never written through one");
    if (!S_ISREG(st.st_mode)) return fail(FILE_NOT_REGULAR, path, kindOf(st.st_mode));
    return {};
}

FileResult File_CreateNew(const std::string& path, const uint8_t* data, size_t size) {
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) return checked;
    // O_EXCL: whatever has the name (a dangling link too) is left alone.
    int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        if (errno == EEXIST) return fail(FILE_EXISTS, path, "already exists");
        return openFailed(path, errno);
    }
    FileResult written = writeAndClose(path, fd, data, size, false);
    if (!written.ok()) ::unlink(path.c_str());
    return written;
}

namespace {
FileResult replace(const std::string& path, const uint8_t* data, size_t size, bool throughLink) {
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) return checked;
    std::string target = path;
    struct stat st;
    bool exists = ::lstat(path.c_str(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode) && !throughLink)
        return fail(FILE_NOT_REGULAR, path,
                    "is a symbolic link; the program's own files are never written through one");
    if (exists && S_ISLNK(st.st_mode)) {
        // Keep the operator's link: replace the file it points to.
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved))
            return fail(FILE_IO_ERROR, path, "is a link to a file that cannot be reached");
        target = resolved;
        exists = ::stat(target.c_str(), &st) == 0;
    }
    if (exists && !S_ISREG(st.st_mode)) return fail(FILE_NOT_REGULAR, path, kindOf(st.st_mode));
    mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~currentUmask());

    size_t slash = target.rfind('/');
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string folder = folderOf(target);
    std::string pattern = folder + "/." + base + ".XXXXXX";
    if (pattern.size() >= PATH_MAX || base.size() + 8 > NAME_MAX)
        return fail(FILE_IO_ERROR, path, "the name is too long for a temporary beside it");
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');
    // mkostemp creates with O_EXCL under a random name: a link planted there is never followed.
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return failErrno(path, ("cannot create a file in " + folder).c_str(), errno);
    bool ok = writeAll(fd, data, size) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int err = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.data(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.data());
        return failErrno(path, "cannot write", err ? err : EIO);
    }
    // The rename itself is durable once the folder is flushed.
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}
}  // namespace
