// SPDX-License-Identifier: Apache-2.0
// Windows interrupts: Ctrl-C, Ctrl-Break and the console's close through
// SetConsoleCtrlHandler. The system already calls the routine on a thread of its own, so the
// front end's handler is called from there.
#include <windows.h>

#include <atomic>

#include "platform/interrupt.h"

namespace {

std::atomic<int> requests{0};
std::atomic<InterruptHandler> handlerOf{nullptr};
std::atomic<InterruptBusy> busyOf{nullptr};

BOOL WINAPI onControl(DWORD type) {
    if (requests.fetch_add(1) >= 1) ExitProcess(130);
    InterruptHandler handler = handlerOf.load();
    if (!handler || !handler()) return FALSE;  // the default: the process ends
    bool closing =
        type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    if (closing) {
        // Returning lets the system end the process: hold it while the job ends.
        InterruptBusy busy = busyOf.load();
        for (int waited = 0; busy && busy() && waited < 4500; waited += 50) Sleep(50);
    }
    return TRUE;
}

bool win32Watch(InterruptHandler handler, InterruptBusy busy) {
    handlerOf = handler;
    busyOf = busy;
    return SetConsoleCtrlHandler(onControl, TRUE) != 0;
}

const InterruptBackend win32Interrupt{
    .watch = win32Watch,
};
}  // namespace

const InterruptBackend* Platform_DefaultInterrupt() { return &win32Interrupt; }
