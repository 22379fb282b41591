// SPDX-License-Identifier: Apache-2.0
// POSIX interrupts: SIGINT and SIGTERM counted by an async-signal-safe handler that writes one
// byte to a self-pipe; a watcher thread reads the pipe and calls the front end's handler.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "platform/interrupt.h"

namespace {

std::atomic<int> requests{0};
std::atomic<InterruptHandler> handlerOf{nullptr};
int wakeFds[2] = {-1, -1};

void onSignal(int signal) {
    int saved = errno;
    if (requests.fetch_add(1) >= 1) {
        static const char text[] = "\nheadalign: stopped at once (second interrupt)\n";
        ssize_t ignored = ::write(STDERR_FILENO, text, sizeof text - 1);
        (void)ignored;
        ::_exit(128 + signal);
    }
    unsigned char byte = static_cast<unsigned char>(signal);
    ssize_t ignored = ::write(wakeFds[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

// The default action of `signal` (ending the program), as if no handler had been set.
void defaultAction(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::kill(::getpid(), signal);
}

void watcher() {
    // Signals go to the other threads: this one only reads the pipe.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    for (;;) {
        unsigned char byte = 0;
        ssize_t n = ::read(wakeFds[0], &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1) return;
        InterruptHandler handler = handlerOf.load();
        if (!handler || !handler()) defaultAction(byte);
    }
}

bool posixWatch(InterruptHandler handler, InterruptBusy) {
    if (wakeFds[0] >= 0) {
        handlerOf = handler;
        return true;
    }
    if (::pipe2(wakeFds, O_CLOEXEC) != 0) return false;
    handlerOf = handler;
    try {
        std::thread(watcher).detach();
    } catch (...) {
        ::close(wakeFds[0]);
        ::close(wakeFds[1]);
        wakeFds[0] = wakeFds[1] = -1;
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return true;
}

const InterruptBackend posixInterrupt{
    .watch = posixWatch,
};
}  // namespace

const InterruptBackend* Platform_DefaultInterrupt() { return &posixInterrupt; }
