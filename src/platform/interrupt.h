// SPDX-License-Identifier: Apache-2.0
// Interrupt seam: the operator's request to stop the program (SIGINT and SIGTERM on POSIX;
// Ctrl-C, Ctrl-Break and closing the console window on Windows), the one way any of them
// reaches the program.
#pragma once

// Front end's answer to a request: true when it was taken (a job now ends through its own
// cancel path, and the program ends when it has); false to end the program at once, as it would
// without a handler.
using InterruptHandler = bool (*)();
// While true, a console close (Windows) is held back so the job can end; never called on POSIX.
using InterruptBusy = bool (*)();

struct InterruptBackend {
    // Routes every later request to `handler`, called on a thread of the back end's own, never
    // inside a signal handler: the signal handler only counts the request and writes one byte
    // to a pipe (async-signal-safe). A second request ends the program at once (status 128 +
    // the signal's number; 130 on Windows). When the handler returns false the request takes
    // its default action. On a console close the back end waits while busy() is true, at most
    // 4.5 s (the system ends the process at 5 s). \context dialog (the main thread, once,
    // before any job) \nonblocking \errors false (nothing changed) when it cannot be set up.
    bool (*watch)(InterruptHandler handler, InterruptBusy busy);
};

// Installs a back end (nullptr restores the platform default). Before Interrupt_Watch.
void Interrupt_Install(const InterruptBackend* backend);
const InterruptBackend* Interrupt_Backend();
const InterruptBackend* Platform_DefaultInterrupt();
bool Interrupt_Watch(InterruptHandler handler, InterruptBusy busy);
