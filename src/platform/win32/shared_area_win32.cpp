// SPDX-License-Identifier: Apache-2.0
// Win32 shared area: the named file mapping and the named mutex of the printing front end,
// opened (never created) with full access and without inheritance. Before use each object's
// owner (from its security descriptor) must be this user, the system or the administrators:
// an object another user created under the name first is left alone. A section never shrinks
// while mapped, so copies within the view cannot fault.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/shared_area.h"

namespace {

HANDLE toHandle(SharedHandle h) { return reinterpret_cast<HANDLE>(h); }

struct View {
    HANDLE mapping = nullptr;
    uint8_t* base = nullptr;
    size_t size = 0;
};

std::string sidText(PSID sid) {
    LPSTR text = nullptr;
    if (!sid || !ConvertSidToStringSidA(sid, &text)) return "an unknown owner";
    std::string s = text;
    LocalFree(text);
    return s;
}

bool currentUser(std::unique_ptr<uint8_t[]>* buffer, PSID* sid) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    buffer->reset(new uint8_t[needed ? needed : 1]);
    bool ok = needed && GetTokenInformation(token, TokenUser, buffer->get(), needed, &needed);
    CloseHandle(token);
    if (ok) *sid = reinterpret_cast<TOKEN_USER*>(buffer->get())->User.Sid;
    return ok;
}

bool checkOwner(HANDLE object, SharedOpenResult* r) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &sd) != ERROR_SUCCESS) {
        r->status = SHARED_DENIED;
        r->reason = "its owner cannot be read";
        return false;
    }
    if (!owner) {
        // Windows gives every kernel object its creator as owner; a descriptor with none comes
        // only from a system that keeps no owners at all (Wine), where nobody could claim it.
        LocalFree(sd);
        r->owner = "no owner recorded by the system";
        r->status = SHARED_OPENED;
        return true;
    }
    r->owner = "owned by " + sidText(owner);
    std::unique_ptr<uint8_t[]> userBuffer;
    PSID user = nullptr;
    bool trusted = (currentUser(&userBuffer, &user) && EqualSid(owner, user)) ||
                   IsWellKnownSid(owner, WinLocalSystemSid) ||
                   IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
    LocalFree(sd);
    r->status = trusted ? SHARED_OPENED : SHARED_UNTRUSTED;
    if (!trusted) r->reason = "it belongs to another user";
    return trusted;
}

void deny(SharedOpenResult* r, DWORD error) {
    r->status = SHARED_DENIED;
    r->reason = "cannot be opened: system error " + std::to_string(error);
}

SharedHandle openArea(const char* name, SharedOpenResult* r) {
    *r = SharedOpenResult{};
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS | READ_CONTROL, FALSE, name);
    if (!mapping) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) deny(r, error);
        return SHARED_INVALID;
    }
    if (!checkOwner(mapping, r)) {
        CloseHandle(mapping);
        return SHARED_INVALID;
    }
    auto* view = new View;
    view->mapping = mapping;
    void* base = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    MEMORY_BASIC_INFORMATION info{};
    if (base && VirtualQuery(base, &info, sizeof info) == sizeof info) {
        view->base = static_cast<uint8_t*>(base);
        // The view is rounded up to whole pages; the creator's size is not known here, so the
        // region's size is the most that can be copied safely.
        view->size = info.RegionSize;
    } else if (base) {
        UnmapViewOfFile(base);
    }
    r->size = view->size;
    return reinterpret_cast<SharedHandle>(view);
}

View* viewOf(SharedHandle area) { return reinterpret_cast<View*>(area); }

bool readArea(SharedHandle area, size_t offset, uint8_t* out, size_t len) {
    View* v = viewOf(area);
    if (!v->base || offset > v->size || len > v->size - offset) return false;
    std::memcpy(out, v->base + offset, len);
    return true;
}

bool writeArea(SharedHandle area, size_t offset, const uint8_t* data, size_t len) {
    View* v = viewOf(area);
    if (!v->base || offset > v->size || len > v->size - offset) return false;
    std::memcpy(v->base + offset, data, len);
    return true;
}

void closeArea(SharedHandle area) {
    if (area == SHARED_INVALID) return;
    View* v = viewOf(area);
    if (v->base) UnmapViewOfFile(v->base);
    if (v->mapping) CloseHandle(v->mapping);
    delete v;
}

SharedHandle openLock(const char* name, SharedOpenResult* r) {
    *r = SharedOpenResult{};
    HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS | READ_CONTROL, FALSE, name);
    if (!mutex) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) deny(r, error);
        return SHARED_INVALID;
    }
    if (!checkOwner(mutex, r)) {
        CloseHandle(mutex);
        return SHARED_INVALID;
    }
    return reinterpret_cast<SharedHandle>(mutex);
}

SharedWaitResult waitLock(SharedHandle lock, uint32_t timeoutMs) {
    switch (WaitForSingleObject(toHandle(lock), timeoutMs)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // the front end ended while holding it: the mutex is ours now
            return SHARED_WAIT_OBTAINED;
        case WAIT_TIMEOUT:
            return SHARED_WAIT_TIMEOUT;
        default:
            return SHARED_WAIT_FAILED;
    }
}

void releaseLock(SharedHandle lock) { ReleaseMutex(toHandle(lock)); }
void closeLock(SharedHandle lock) { CloseHandle(toHandle(lock)); }

const SharedAreaBackend winShared{
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

const SharedAreaBackend* Platform_DefaultSharedArea() { return &winShared; }
