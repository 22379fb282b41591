// SPDX-License-Identifier: Apache-2.0
// One program at a time in a folder: an advisory lock on a file inside it, held until it is
// released or the process ends (a crashed holder never leaves the folder locked). Any thread.
#pragma once
#include <cstdint>
#include <string>

enum FolderLockStatus {
    FOLDER_LOCK_TAKEN = 0,
    FOLDER_LOCK_BUSY = 1,   // another process (or another taker in this one) holds it
    FOLDER_LOCK_ERROR = 2,  // the lock file cannot be created or locked
};

struct FolderLock {
    intptr_t handle = -1;  // the open lock file while taken
};

struct FolderLockResult {
    FolderLockStatus status = FOLDER_LOCK_TAKEN;
    uint32_t ownerPid = 0;  // FOLDER_LOCK_BUSY: the holder's process id, 0 when not known
    std::string message;    // FOLDER_LOCK_ERROR: names the file and the reason
};

// Takes the lock on folder/fileName without waiting; the taker's process id is written into
// the file so that a refused taker can name the holder. The file is never inherited by a
// child process.
FolderLockResult FolderLock_Take(const std::string& folder, const char* fileName, FolderLock* lock);
// Releases a taken lock (nothing when not taken). The file stays.
void FolderLock_Release(FolderLock* lock);

// The user's own folder for locks that several programs of this user share (one per printer):
// $XDG_RUNTIME_DIR/headalign, else /tmp/headalign-<uid> (on Windows %LOCALAPPDATA%\headalign),
// made private (0700) when missing, and used only when it is a folder (not a link) of this
// user that no one else may write: a folder another user planted there first is refused.
// "" with the reason in *error when there is no such folder. Any thread; blocks on the file
// system only.
std::string FolderLock_RuntimeDir(std::string* error);
