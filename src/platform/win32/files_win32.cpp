// SPDX-License-Identifier: Apache-2.0
// Windows files: regular-file reads through the wide functions (names are Unicode), refusing
// folders, pipes and devices; files created (CREATE_NEW) and appended with
// FILE_FLAG_OPEN_REPARSE_POINT, so a link or junction planted at the name is opened as itself
// and refused, never written through; replacements through an exclusive temporary in the same
// folder moved into place.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "platform/files.h"
#include "platform/win32/win32_text.h"

namespace {

FileResult fail(FileStatus status, const std::string& path, const std::string& reason) {
    return FileResult{status, path + ": " + reason};
}

FileResult failCode(const std::string& path, const char* what, DWORD code) {
    FileStatus status = (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
                            ? FILE_MISSING
                            : FILE_IO_ERROR;
    return fail(status, path, std::string(what) + " (error " + std::to_string(code) + ")");
}

// Names Windows keeps for devices, in any folder and with any extension.
bool isDeviceName(const std::wstring& wide) {
    size_t slash = wide.find_last_of(L"/\\");
    std::wstring base = slash == std::wstring::npos ? wide : wide.substr(slash + 1);
    base = base.substr(0, base.find(L'.'));
    for (wchar_t& c : base) c = static_cast<wchar_t>(towupper(c));
    for (const wchar_t* name : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (base == name) return true;
    if (base.size() == 4 && (base.rfind(L"COM", 0) == 0 || base.rfind(L"LPT", 0) == 0) &&
        base[3] >= L'1' && base[3] <= L'9')
        return true;
    return wide.rfind(L"\\\\.\\", 0) == 0;
}

// The handle opened with FILE_FLAG_OPEN_REPARSE_POINT is a plain file on disk: not a link or
// junction (opened as itself), a folder, a pipe or a device. Closed and refused otherwise.
FileResult keepRegular(const std::string& path, HANDLE h) {
    const char* what = nullptr;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK)
        what = "is a pipe or device, not a regular file";
    else if (!GetFileInformationByHandle(h, &info))
        what = "cannot be examined";
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        what = "is a link; a file is never created or appended through one";
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        what = "is a folder, not a file";
    if (!what) return {};
    CloseHandle(h);
    return fail(FILE_NOT_REGULAR, path, what);
}

bool writeAll(HANDLE h, const uint8_t* data, size_t size) {
    for (size_t done = 0; done < size;) {
        DWORD n = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        if (!WriteFile(h, data + done, chunk, &n, nullptr) || n == 0) return false;
        done += n;
    }
    return true;
}

FileResult writeAndClose(const std::string& path, HANDLE h, const uint8_t* data, size_t size) {
    bool ok = writeAll(h, data, size);
    DWORD code = ok ? 0 : GetLastError();
    CloseHandle(h);
    if (!ok) return failCode(path, "cannot write", code ? code : ERROR_WRITE_FAULT);
    return {};
}

FileResult replace(const std::string& path, const uint8_t* data, size_t size, bool throughLink);

}  // namespace

FileResult File_Append(const std::string& path, const uint8_t* data, size_t size) {
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) return checked;
    std::wstring wide = Win32_ToWide(path);
    if (isDeviceName(wide)) return fail(FILE_NOT_REGULAR, path, "is a device, not a regular file");
    HANDLE h =
        CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return fail(FILE_NOT_REGULAR, path, "is a folder, not a file");
        return failCode(path, "cannot open", code);
    }
    FileResult regular = keepRegular(path, h);
    if (!regular.ok()) return regular;
    return writeAndClose(path, h, data, size);
}

FileResult File_CheckOwn(const std::string& path) {
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) return checked;
    std::wstring wide = Win32_ToWide(path);
    if (isDeviceName(wide)) return fail(FILE_NOT_REGULAR, path, "is a device, not a regular file");
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return {};
        return failCode(path, "cannot examine", code);
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return fail(FILE_NOT_REGULAR, path,
                    "is a link; the program's own files are never written through one");
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return fail(FILE_NOT_REGULAR, path, "is a folder, not a file");
    return {};
}

FileResult File_CreateNew(const std::string& path, const uint8_t* data, size_t size) {
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) return checked;
    std::wstring wide = Win32_ToWide(path);
    if (isDeviceName(wide)) return fail(FILE_NOT_REGULAR, path, "is a device, not a regular file");
    // CREATE_NEW fails on anything already there, a link or junction included.
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
            return fail(FILE_EXISTS, path, "already exists");
        return failCode(path, "cannot create", code);
    }
    FileResult written = writeAndClose(path, h, data, size);
    if (!written.ok()) DeleteFileW(wide.c_str());
    return written;
}

FileResult File_WriteReplace(const std::string& path, const uint8_t* data, size_t size) {
    return replace(path, data, size, true);
}

FileResult File_ReplaceOwn(const std::string& path, const uint8_t* data, size_t size) {
    return replace(path, data, size, false);
}

FileResult File_CheckPath(const std::string& path) {
    if (path.empty()) return fail(FILE_MISSING, "(empty path)", "no file named");
    std::wstring wide = Win32_ToWide(path);
    if (wide.size() >= 32767) return fail(FILE_IO_ERROR, path, "the path is too long to open");
    return {};
}

FileResult File_ReadRegular(const std::string& path, size_t maxBytes, std::vector<uint8_t>* out) {
    out->clear();
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) return checked;
    std::wstring wide = Win32_ToWide(path);
    if (isDeviceName(wide)) return fail(FILE_NOT_REGULAR, path, "is a device, not a regular file");
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failCode(path, "cannot open", GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return fail(FILE_NOT_REGULAR, path, "is a folder, not a file");
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return failCode(path, "cannot open", GetLastError());
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return fail(FILE_NOT_REGULAR, path, "is a pipe or device, not a regular file");
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) {
        DWORD code = GetLastError();
        CloseHandle(h);
        return failCode(path, "cannot read", code);
    }
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        CloseHandle(h);
        return fail(FILE_TOO_LARGE, path,
                    "is " + std::to_string(size.QuadPart) + " bytes, more than the " +
                        std::to_string(maxBytes) + " this kind of file may have");
    }
    std::vector<uint8_t> data(static_cast<size_t>(size.QuadPart) + 1);
    size_t got = 0;
    for (;;) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - got, 1u << 30));
        DWORD n = 0;
        if (!ReadFile(h, data.data() + got, chunk, &n, nullptr)) {
            DWORD code = GetLastError();
            CloseHandle(h);
            return failCode(path, "cannot read", code);
        }
        if (n == 0) break;
        got += n;
        if (got > maxBytes) break;
        if (got == data.size()) data.resize(std::min(maxBytes + 1, got * 2));
    }
    CloseHandle(h);
    if (got > maxBytes)
        return fail(
            FILE_TOO_LARGE, path,
            "grew past the " + std::to_string(maxBytes) + " bytes this kind of file may have");
    data.resize(got);
    *out = std::move(data);
    return {};
}

namespace {
FileResult replace(const std::string& path, const uint8_t* data, size_t size, bool throughLink) {
    FileResult checked = File_CheckPath(path);
    if (!checked.ok()) return checked;
    std::wstring target = Win32_ToWide(path);
    if (isDeviceName(target))
        return fail(FILE_NOT_REGULAR, path, "is a device, not a regular file");
    DWORD attributes = GetFileAttributesW(target.c_str());
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && !throughLink && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return fail(FILE_NOT_REGULAR, path,
                    "is a link; the program's own files are never written through one");
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail(FILE_NOT_REGULAR, path, "is a folder, not a file");
    size_t slash = target.find_last_of(L"/\\");
    std::wstring folder = slash == std::wstring::npos ? L"." : target.substr(0, slash);
    std::wstring base = slash == std::wstring::npos ? target : target.substr(slash + 1);
    std::random_device rd;
    HANDLE h = INVALID_HANDLE_VALUE;
    std::wstring temp;
    for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L".%08x", static_cast<unsigned>(rd()));
        temp = folder + L"\\~" + base + suffix;
        // CREATE_NEW fails on anything already there, a planted link included.
        h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (h == INVALID_HANDLE_VALUE)
        return failCode(path, "cannot create a file beside it", GetLastError());
    bool ok = writeAll(h, data, size);
    ok = FlushFileBuffers(h) && ok;
    DWORD code = ok ? 0 : GetLastError();
    CloseHandle(h);
    if (ok) {
        // ReplaceFileW keeps the old file's attributes and access rights.
        ok = exists ? ReplaceFileW(target.c_str(), temp.c_str(), nullptr,
                                   REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                    : MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
        if (!ok) code = GetLastError();
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
        return failCode(path, "cannot write", code ? code : ERROR_WRITE_FAULT);
    }
    return {};
}
}  // namespace
