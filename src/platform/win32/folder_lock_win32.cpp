// SPDX-License-Identifier: Apache-2.0
// Windows folder lock: LockFileEx on a byte far beyond the file's end, so the process id at
// its start stays readable to a refused taker. The handle is not inheritable.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/folder_lock.h"
#include "platform/win32/win32_text.h"

namespace {

constexpr DWORD LOCK_OFFSET_HIGH = 1;  // the byte at 4 GiB: never part of the text

uint32_t readOwner(HANDLE h) {
    char text[24] = {};
    DWORD n = 0;
    OVERLAPPED at{};
    if (!ReadFile(h, text, sizeof text - 1, &n, &at) || n == 0) return 0;
    char* end = nullptr;
    unsigned long pid = std::strtoul(text, &end, 10);
    return end != text ? static_cast<uint32_t>(pid) : 0;
}

}  // namespace

FolderLockResult FolderLock_Take(const std::string& folder, const char* fileName,
                                 FolderLock* lock) {
    FolderLockResult result;
    std::string path = folder + "\\" + fileName;
    HANDLE h = CreateFileW(Win32_ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        char text[32];
        std::snprintf(text, sizeof text, "error %lu", GetLastError());
        result.status = FOLDER_LOCK_ERROR;
        result.message = path + ": cannot open: " + text;
        return result;
    }
    OVERLAPPED range{};
    range.OffsetHigh = LOCK_OFFSET_HIGH;
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        DWORD code = GetLastError();
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
            result.status = FOLDER_LOCK_BUSY;
            result.ownerPid = readOwner(h);
        } else {
            char text[32];
            std::snprintf(text, sizeof text, "error %lu", code);
            result.status = FOLDER_LOCK_ERROR;
            result.message = path + ": cannot lock: " + text;
        }
        CloseHandle(h);
        return result;
    }
    char text[24];
    int len = std::snprintf(text, sizeof text, "%lu\r\n", GetCurrentProcessId());
    DWORD written = 0;
    OVERLAPPED start{};
    // The process id only names the holder to a refused taker; the lock does not depend on it.
    if (WriteFile(h, text, static_cast<DWORD>(len), &written, &start)) {
        SetFilePointer(h, len, nullptr, FILE_BEGIN);
        SetEndOfFile(h);
    }
    lock->handle = reinterpret_cast<intptr_t>(h);
    return result;
}

void FolderLock_Release(FolderLock* lock) {
    if (lock->handle == -1) return;
    HANDLE h = reinterpret_cast<HANDLE>(lock->handle);
    OVERLAPPED range{};
    range.OffsetHigh = LOCK_OFFSET_HIGH;
    UnlockFileEx(h, 0, 1, 0, &range);
    CloseHandle(h);
    lock->handle = -1;
}

std::string FolderLock_RuntimeDir(std::string* error) {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (!local || !*local) {
        *error = "LOCALAPPDATA is not set: no folder for the printer's lock";
        return "";
    }
    std::wstring dir = std::wstring(local) + L"\\headalign";
    // The user's own profile: private to the user unless an administrator changed it.
    if (!CreateDirectoryW(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        *error = Win32_FromWide(dir) + ": cannot be made (system error " +
                 std::to_string(GetLastError()) + ")";
        return "";
    }
    DWORD attributes = GetFileAttributesW(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        *error = Win32_FromWide(dir) + ": not a folder of this user; it is not used";
        return "";
    }
    return Win32_FromWide(dir);
}
