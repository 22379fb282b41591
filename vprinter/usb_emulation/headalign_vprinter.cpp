// SPDX-License-Identifier: Apache-2.0
// headalign-vprinter: runs a command with the virtual printer plugged in as an emulated USB
// device, so the command's own USB stack (libusb) talks to the board; prints a summary after.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "usb_emulation.h"
#include "vprinter.h"

extern char** environ;

namespace {

const char* const USAGE =
    "usage: headalign-vprinter DIR [options] -- COMMAND [ARGUMENTS...]\n"
    "Plugs the virtual printer (state folder DIR) in as an emulated USB device, vendor 2408\n"
    "product 0003, runs COMMAND against it and prints what the board saw.\n"
    "  --decoys            also plug in two other devices of the same vendor\n"
    "  --unplug-at-data N  pull the printer out when the Nth data transfer starts\n"
    "  --replug-after MS   and plug it back in MS milliseconds later\n"
    "  --stall-in N        the Nth bulk IN request stalls the IN endpoint until cleared\n"
    "  --lose-reply N      the Nth reply packet never arrives\n"
    "  --short-write N     the Nth bulk OUT request sends only half its bytes\n"
    "Exit status: the command's; 1 when DIR is in use by another program or cannot be made;\n"
    "2 for bad usage; 77 when USB emulation cannot run here.\n";

constexpr int EXIT_FOLDER_UNUSABLE = 1;  // busy with another program, or not creatable
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_CANNOT_EMULATE = 77;
constexpr uint32_t SERVICE_INTERVAL_MS = 2;

bool parseCount(const char* text, uint32_t* out) {
    char* end = nullptr;
    unsigned long v = text ? std::strtoul(text, &end, 10) : 0;
    if (!text || *text == '\0' || *end != '\0' || v > 100000000UL) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

bool parseOptions(int argc, char** argv, int* commandAt, VpUsbOptions* o) {
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            *commandAt = i + 1;
            return *commandAt < argc;
        }
        if (a == "--decoys") {
            o->decoys = true;
            continue;
        }
        uint32_t* target = a == "--unplug-at-data" ? &o->unplugAtData
                           : a == "--replug-after" ? &o->replugAfterMs
                           : a == "--stall-in"     ? &o->stallInAt
                           : a == "--lose-reply"   ? &o->loseReplyAt
                           : a == "--short-write"  ? &o->shortWriteAt
                                                   : nullptr;
        if (!target || i + 1 >= argc || !parseCount(argv[++i], target)) return false;
    }
    return false;
}

// The child's environment: the testbed, umockdev's preload library ahead of any other, and
// AddressSanitizer told that the preload is expected.
std::vector<std::string> childEnvironment(const std::string& root) {
    std::vector<std::string> env;
    std::string preload = "libumockdev-preload.so.0";
    std::string asan = "verify_asan_link_order=0";
    for (char** e = environ; *e; ++e) {
        std::string v = *e;
        if (v.rfind("UMOCKDEV_DIR=", 0) == 0) continue;
        if (v.rfind("LD_PRELOAD=", 0) == 0) {
            if (v.find("libumockdev-preload") != std::string::npos)
                preload = v.substr(11);
            else if (v.size() > 11)
                preload += ":" + v.substr(11);
            continue;
        }
        if (v.rfind("ASAN_OPTIONS=", 0) == 0) {
            if (v.find("verify_asan_link_order") != std::string::npos)
                asan = v.substr(13);
            else if (v.size() > 13)
                asan = v.substr(13) + ":" + asan;
            continue;
        }
        env.push_back(v);
    }
    env.push_back("UMOCKDEV_DIR=" + root);
    env.push_back("LD_PRELOAD=" + preload);
    env.push_back("ASAN_OPTIONS=" + asan);
    return env;
}

// The host itself runs under the preload too: umockdev's uevents (unplug, replug) resolve the
// device through the emulated /sys only in a preloaded process. Re-executes once when needed.
void ensurePreloaded(char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "libumockdev-preload")) return;
    std::vector<std::string> env = childEnvironment("");
    std::vector<char*> envp;
    for (std::string& v : env)
        if (v != "UMOCKDEV_DIR=") envp.push_back(v.data());
    envp.push_back(nullptr);
    execve("/proc/self/exe", argv, envp.data());
    // Without re-execution the emulation still runs; only unplug and replug events are lost.
}

int runChild(char** command, const std::string& root) {
    std::vector<std::string> env = childEnvironment(root);
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, command[0], nullptr, nullptr, command, envp.data());
    if (rc != 0) {
        std::fprintf(stderr, "headalign-vprinter: cannot run %s: %s\n", command[0],
                     std::strerror(rc));
        return 127;
    }
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) return 127;
        VpUsb_Service();
        g_main_context_iteration(nullptr, FALSE);
        Clock_Sleep(SERVICE_INTERVAL_MS);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void printSummary() {
    std::vector<std::string> errors = VPrinter_ProtocolErrors();
    std::fprintf(stderr, "headalign-vprinter: protocol-errors=%zu %s\n", errors.size(),
                 VpUsb_CountersLine().c_str());
    for (const std::string& e : errors)
        std::fprintf(stderr, "headalign-vprinter: protocol error: %s\n", e.c_str());
}

}  // namespace

int run(int argc, char** argv) {
    ensurePreloaded(argv);
    int commandAt = 0;
    VpUsbOptions options;
    if (argc < 4 || !parseOptions(argc, argv, &commandAt, &options)) {
        std::fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    std::string attachError;
    if (!VPrinter_Attach(argv[1], &attachError)) {
        std::fprintf(stderr, "headalign-vprinter: %s\n", attachError.c_str());
        return EXIT_FOLDER_UNUSABLE;
    }
    std::string error;
    if (!VpUsb_Start(options, &error)) {
        std::fprintf(stderr, "headalign-vprinter: USB emulation cannot run here: %s\n",
                     error.c_str());
        VPrinter_Detach();
        return EXIT_CANNOT_EMULATE;
    }
    int status = runChild(argv + commandAt, VpUsb_Root());
    VpUsb_Stop();
    printSummary();
    VPrinter_Detach();
    // What the board could not store (a picture on a full disk) fails the run: it is not done.
    for (const std::string& what : VPrinter_StorageErrors())
        std::fprintf(stderr, "headalign-vprinter: could not store: %s\n", what.c_str());
    if (status == 0 && !VPrinter_StorageErrors().empty()) status = 1;
    return status;
}

// Whatever escapes (it should be nothing) ends the run with a message and status 1, not a signal.
int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "headalign-vprinter: stopped: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "headalign-vprinter: stopped by an unexpected error\n");
    }
    return 1;
}
