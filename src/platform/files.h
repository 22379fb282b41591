// SPDX-License-Identifier: Apache-2.0
// Files from outside and files we replace: the one way every parameter file, Config file,
// scan and virtual-printer state file is read, and the one way a file we own is replaced.
// Any thread; both block on the file system only (a FIFO or device never blocks a reader).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum FileStatus {
    FILE_OK = 0,
    FILE_MISSING = 1,      // no such file (or a dangling link)
    FILE_NOT_REGULAR = 2,  // a directory, FIFO, device or socket
    FILE_TOO_LARGE = 3,    // larger than the caller's cap for this kind of file
    FILE_IO_ERROR = 4,     // permission, read or write error, path too long, full disk
};

struct FileResult {
    FileStatus status = FILE_OK;
    std::string message;  // names the file and the reason; empty when status is FILE_OK
    bool ok() const { return status == FILE_OK; }
};

// Reads the whole of a regular file of at most maxBytes bytes into *out. Anything else is
// refused without blocking and without reading it: a FIFO, a device (/dev/zero), a directory,
// a socket, or a file over the cap. *out is left empty on failure.
FileResult File_ReadRegular(const std::string& path, size_t maxBytes, std::vector<uint8_t>* out);

// Replaces path with exactly `size` bytes: written to a new file created exclusively under an
// unpredictable name in the same folder (never through a link planted there), flushed to disk,
// then renamed over path. An existing file keeps its permissions; when path is a symbolic link
// the file it points to is replaced and the link stays. On any failure path is untouched and
// the temporary is gone.
FileResult File_WriteReplace(const std::string& path, const uint8_t* data, size_t size);

// The limits of one path: false (with a message naming it) when the path is longer than the
// platform can open or a component is longer than a file name may be. Paths are never cut.
FileResult File_CheckPath(const std::string& path);
