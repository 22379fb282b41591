// SPDX-License-Identifier: Apache-2.0
// The state folder as one program's own: its lock, and job numbers that go on past 9999
// without ever writing over an earlier job's files.
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "vp_board.h"

namespace fs = std::filesystem;

namespace {
constexpr size_t SHORT_NAME_DIGITS = 4;
constexpr size_t MAX_NUMBER_DIGITS = 10;  // 4294967295
}  // namespace

uint32_t vpHighestLongJobNumber(const std::string& jobsDir) {
    uint32_t highest = 0;
    std::error_code ec;
    for (fs::directory_iterator it(Path_FromUtf8(jobsDir), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = Path_ToUtf8(it->path().filename());
        size_t digits = name.find_first_not_of("0123456789");
        if (digits == std::string::npos || digits <= SHORT_NAME_DIGITS ||
            digits > MAX_NUMBER_DIGITS || name[digits] != '.')
            continue;
        uint64_t value = 0;
        for (size_t i = 0; i < digits; ++i) value = value * 10 + uint64_t(name[i] - '0');
        if (value <= UINT32_MAX && value > highest) highest = static_cast<uint32_t>(value);
    }
    return highest;
}

uint32_t vpClaimJobNumber(VpBoard& b) {
    // The folder is ours alone while attached, so a number whose files are absent now stays
    // free; files left by some other means are stepped over, never truncated.
    for (;;) {
        uint32_t number = ++b.jobCounter;
        if (number == 0) continue;
        // Anything at either name (a dangling link too) keeps the number taken.
        std::error_code ec;
        if (fs::exists(fs::symlink_status(Path_FromUtf8(VPrinter_JobPath(number, ".png")), ec)))
            continue;
        if (File_CreateNew(VPrinter_JobPath(number, ".jsonl"), nullptr, 0).status == FILE_EXISTS)
            continue;
        return number;
    }
}

bool vpLockFolder(VpBoard& b, const std::string& stateDir, std::string* error) {
    FolderLockResult taken = FolderLock_Take(stateDir, VP_LOCK_FILE, &b.folderLock);
    if (taken.status == FOLDER_LOCK_TAKEN) return true;
    if (error && taken.status == FOLDER_LOCK_BUSY) {
        *error = "virtual printer busy: " + stateDir + " is in use by " +
                 (taken.ownerPid ? "process " + std::to_string(taken.ownerPid)
                                 : std::string("another process"));
    } else if (error) {
        *error = "virtual printer folder: " + taken.message;
    }
    return false;
}

void vpUnlockFolder(VpBoard& b) { FolderLock_Release(&b.folderLock); }
