// SPDX-License-Identifier: Apache-2.0
// Thread seam: what a thread asks of the system scheduler for itself.
#pragma once

struct ThreadBackend {
    // Raises the calling thread's scheduling priority one step above normal (Windows:
    // THREAD_PRIORITY_HIGHEST; Linux: nice -2, which needs privileges). \threadsafe (for the
    // calling thread itself) \nonblocking \errors none: best effort, without the right the
    // thread keeps its priority.
    void (*raisePriority)();
};

// Installs a back end (nullptr restores the platform default). Not while a job runs.
void Thread_Install(const ThreadBackend* backend);
const ThreadBackend* Thread_Backend();
void Thread_RaisePriority();
