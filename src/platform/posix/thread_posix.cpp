// SPDX-License-Identifier: Apache-2.0
// POSIX thread priority: a lower nice value for the calling thread where Linux allows it.
#include "platform/defaults.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {
void posixRaisePriority() {
#if defined(__linux__)
    // Needs privileges; without them the thread simply runs at normal priority.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -2);
#endif
}
const ThreadBackend posixThread{
    .raisePriority = posixRaisePriority,
};
}  // namespace

const ThreadBackend* Platform_DefaultThread() { return &posixThread; }
