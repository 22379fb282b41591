// SPDX-License-Identifier: Apache-2.0
// Win32 thread priority: THREAD_PRIORITY_HIGHEST for the calling thread.
#include <windows.h>

#include "platform/defaults.h"

namespace {
void winRaisePriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST); }
const ThreadBackend winThread{
    .raisePriority = winRaisePriority,
};
}  // namespace

const ThreadBackend* Platform_DefaultThread() { return &winThread; }
