// SPDX-License-Identifier: Apache-2.0
// The one way in and the one way out for every file the program opens: parameter files,
// Config files, scans, the log files (trace files, err.txt) and the virtual printer's state
// files, job records and pictures. Only regular files are read or written; nothing opened here
// ever blocks on a FIFO or device, and nothing is created or appended through a symbolic link.
// Any thread; every function blocks on the file system only.
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
    FILE_EXISTS = 5,       // File_CreateNew: the name is taken (by anything, a link included)
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

// Replaces path, which the program owns (a state file, a job's picture), like
// File_WriteReplace but never through a link: a link, folder, FIFO or device at path is
// refused and left as it is.
FileResult File_ReplaceOwn(const std::string& path, const uint8_t* data, size_t size);

// Appends to the regular file at path, creating it when missing. A symbolic link at path is
// never followed (refused), and a FIFO, device or folder is refused without blocking.
FileResult File_Append(const std::string& path, const uint8_t* data, size_t size);

// Creates path as a new file holding `size` bytes; FILE_EXISTS when anything (a file, a link,
// a dangling link, a FIFO) already has the name, which is left untouched.
FileResult File_CreateNew(const std::string& path, const uint8_t* data, size_t size);

// Creates a new file at path or, when the name is taken, at the first free one of
// "stem_2.ext", "stem_3.ext", ... (999 names from the `firstChoice`-th on; 1 is path itself):
// an earlier file is never overwritten. *created is the path written, *chosen (when given) its
// number, for a caller that creates many in a row to start after it next time.
FileResult File_CreateUnique(const std::string& path, const uint8_t* data, size_t size,
                             std::string* created, int* chosen = nullptr, int firstChoice = 1);
// The name File_CreateUnique tries as its n-th choice (n = 1 is path itself).
std::string File_NumberedName(const std::string& path, int n);

// Whether path may become or stay a file the program owns: FILE_OK when nothing has the name
// or it is a regular file (not a link); FILE_NOT_REGULAR naming what is there otherwise.
// Opens nothing.
FileResult File_CheckOwn(const std::string& path);

// The limits of one path: false (with a message naming it) when the path is longer than the
// platform can open or a component is longer than a file name may be. Paths are never cut.
FileResult File_CheckPath(const std::string& path);
