// SPDX-License-Identifier: Apache-2.0
// Installation of the shared-area back end and the names the console opens.
#include <atomic>
#include <string>

#include "platform/shared_area.h"

namespace {
std::atomic<const SharedAreaBackend*> sharedBackend{nullptr};
std::string areaName = SHARED_AREA_NAME;
std::string lockName = SHARED_LOCK_NAME;
}  // namespace

void SharedArea_Install(const SharedAreaBackend* backend) { sharedBackend.store(backend); }
const SharedAreaBackend* SharedArea_Backend() {
    const SharedAreaBackend* b = sharedBackend.load();
    return b ? b : Platform_DefaultSharedArea();
}
void SharedArea_SetNames(const char* area, const char* lock) {
    areaName = area && *area ? area : SHARED_AREA_NAME;
    lockName = lock && *lock ? lock : SHARED_LOCK_NAME;
}
const char* SharedArea_AreaName() { return areaName.c_str(); }
const char* SharedArea_LockName() { return lockName.c_str(); }
