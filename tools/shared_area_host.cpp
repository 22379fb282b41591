// SPDX-License-Identifier: Apache-2.0
// Stand-in for the printing front end: creates the shared parameter area and its lock, shows
// them and holds them until told to quit; driven by lines on standard input.
//
// The lock is a second shared-memory object locked with flock(), as the console's POSIX back
// end expects: the kernel gives it back when its holder dies, so a front end (or console)
// killed while holding it never leaves the area busy for ever.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const USAGE =
    "usage: shared_area_host [--name NAME] [--lock NAME] [--size BYTES] [--no-lock]\n"
    "                        [--record FILE | --hex HEX]\n"
    "Creates the shared area (default SharePrinterAdjust, 4096 bytes) and its lock (default\n"
    "SPAdjust_Mutex), puts the record at offset 4 and reads commands from standard input:\n"
    "  show | dump         print the first 60 bytes in hex\n"
    "  set HEX             write bytes from offset 0\n"
    "  hold | release      take or give back the lock (hold waits for it)\n"
    "  quit                remove area and lock and end (also at end of input)\n";

std::string areaName = "/SharePrinterAdjust";
std::string lockName = "/SPAdjust_Mutex";
size_t areaSize = 4096;
bool withLock = true;
uint8_t* area = nullptr;
int lockFd = -1;

void removeAll() {
    shm_unlink(areaName.c_str());
    if (withLock) shm_unlink(lockName.c_str());
}

void onSignal(int) {
    removeAll();
    _exit(0);
}

bool parseHex(const std::string& hex, std::vector<uint8_t>* out) {
    std::string digits;
    for (char c : hex)
        if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() % 2) return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        std::string pair = digits.substr(i, 2);
        long v = std::strtol(pair.c_str(), &end, 16);
        if (*end) return false;
        out->push_back(static_cast<uint8_t>(v));
    }
    return true;
}

bool loadRecord(const std::string& file, std::vector<uint8_t>* out) {
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return false;
    uint8_t buffer[56];
    size_t got = std::fread(buffer, 1, sizeof buffer, f);
    std::fclose(f);
    if (got != sizeof buffer) return false;
    out->assign(buffer, buffer + sizeof buffer);
    return true;
}

bool create() {
    removeAll();
    int fd = shm_open(areaName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(areaSize)) != 0) return false;
    void* view = mmap(nullptr, areaSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (view == MAP_FAILED) return false;
    area = static_cast<uint8_t*>(view);
    if (withLock) {
        lockFd = shm_open(lockName.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (lockFd < 0) return false;
    }
    return true;
}

void dump() {
    size_t n = areaSize < 60 ? areaSize : 60;
    for (size_t i = 0; i < n; ++i) std::printf("%02X%s", area[i], i + 1 < n ? " " : "\n");
    if (n == 0) std::printf("\n");
}

void reply(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

void serve() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::string cmd = line.substr(0, line.find(' '));
        if (cmd == "show" || cmd == "dump") {
            dump();
            std::fflush(stdout);
        } else if (cmd == "set") {
            std::vector<uint8_t> bytes;
            if (!parseHex(line.substr(3), &bytes) || bytes.size() > areaSize) {
                reply("error bad bytes");
                continue;
            }
            std::memcpy(area, bytes.data(), bytes.size());
            reply("ok");
        } else if (cmd == "hold" && lockFd >= 0) {
            while (flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
            }
            reply("held");
        } else if (cmd == "release" && lockFd >= 0) {
            flock(lockFd, LOCK_UN);
            reply("released");
        } else if (cmd == "quit") {
            break;
        } else {
            reply("error unknown command");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<uint8_t> record;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--name" && hasValue)
            areaName = std::string("/") + argv[++i];
        else if (a == "--lock" && hasValue)
            lockName = std::string("/") + argv[++i];
        else if (a == "--size" && hasValue)
            areaSize = std::strtoul(argv[++i], nullptr, 10);
        else if (a == "--no-lock")
            withLock = false;
        else if (a == "--record" && hasValue) {
            if (!loadRecord(argv[++i], &record)) {
                std::fprintf(stderr, "cannot read a 56-byte record\n");
                return 2;
            }
        } else if (a == "--hex" && hasValue) {
            if (!parseHex(argv[++i], &record) || record.size() > 56) {
                std::fprintf(stderr, "bad --hex\n");
                return 2;
            }
        } else {
            std::fputs(USAGE, a == "--help" ? stdout : stderr);
            return a == "--help" ? 0 : 2;
        }
    }
    signal(SIGTERM, onSignal);
    signal(SIGINT, onSignal);
    if (areaSize == 0 || !create()) {
        std::perror("shared_area_host");
        removeAll();
        return 1;
    }
    if (!record.empty() && areaSize >= 4 + record.size())
        std::memcpy(area + 4, record.data(), record.size());
    reply("ready");
    serve();
    removeAll();
    return 0;
}
