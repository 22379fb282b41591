// SPDX-License-Identifier: Apache-2.0
// Test scaffolding for the console tests.
#include "console_support.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/console.h"
#include "link/usb.h"
#include "params/calibration_params.h"
#include "platform/shared_area.h"
#include "support/product_internals.h"
#include "vprinter.h"

#ifndef SHARED_AREA_HOST
#define SHARED_AREA_HOST "shared_area_host"
#endif

bool SharedHost::start(const std::string& areaName, const std::string& lockName,
                       const std::vector<std::string>& extra) {
    signal(SIGPIPE, SIG_IGN);  // a child that died must fail the test, not kill it
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return false;
    std::vector<std::string> args = {SHARED_AREA_HOST, "--name", areaName, "--lock", lockName};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[1]);
        close(out[0]);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    return readLine() == "ready";
}

std::string SharedHost::readLine() {
    for (;;) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return line;
        }
        char buffer[256];
        ssize_t n = read(fromChild_, buffer, sizeof buffer);
        if (n <= 0) return "";
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

std::string SharedHost::command(const std::string& line) {
    std::string text = line + "\n";
    if (write(toChild_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
    return readLine();
}

std::vector<uint8_t> SharedHost::dump() {
    std::vector<uint8_t> bytes;
    std::string line = command("dump");
    for (size_t i = 0; i + 1 < line.size(); i += 3)
        bytes.push_back(static_cast<uint8_t>(std::strtoul(line.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

void SharedHost::stop() {
    if (pid_ <= 0) return;
    command("quit");
    close(toChild_);
    close(fromChild_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

void SharedHost::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    close(toChild_);
    close(fromChild_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

void ConsoleTest::SetUp() {
    oldDir = std::filesystem::current_path().string();
    std::filesystem::current_path(work.path);
    static int counter = 0;
    std::string suffix = std::to_string(getpid()) + "_" + std::to_string(++counter);
    areaName = "haTestArea_" + suffix;
    lockName = "haTestLock_" + suffix;
    SharedArea_SetNames(areaName.c_str(), lockName.c_str());
    DialogModel_Reset();
    DialogModel_CaptureSystemBoxes(true);
    *calibrationParams() = CalibrationParams{};
    ASSERT_TRUE(VPrinter_Attach(work.path + "/printer"));
}

void ConsoleTest::TearDown() {
    host.stop();
    // A stand-in that was killed left its objects behind.
    shm_unlink(("/" + areaName).c_str());
    shm_unlink(("/" + lockName).c_str());
    VPrinter_Detach();
    DialogModel_CaptureSystemBoxes(false);
    DialogModel_Reset();
    SharedArea_SetNames(nullptr, nullptr);
    std::filesystem::current_path(oldDir);
}

void ConsoleTest::startConsole() { ASSERT_EQ(runConsole(0, 5), 0); }

void ConsoleTest::storePrinterRecord(const uint8_t* record56) {
    VPrinter_SetStoredRecord(record56);
}

std::vector<uint8_t> ConsoleTest::printerRecord() {
    uint8_t r[56];
    VPrinter_StoredRecord(r);
    return std::vector<uint8_t>(r, r + 56);
}

std::vector<std::string> ConsoleTest::boxTexts() {
    std::vector<std::string> texts;
    for (const DialogModelBox& b : DialogModel_Boxes()) texts.push_back(b.text);
    return texts;
}

std::vector<uint8_t> ConsoleTest::sampleRecord() {
    std::vector<uint8_t> r(56, 0);
    r[0] = 0xAC;
    r[2] = 1;
    r[3] = 10, r[4] = 11, r[5] = 5, r[6] = 7;
    r[0x08] = 0x34, r[0x09] = 0x12;
    r[0x0a] = 100, r[0x0c] = 0x2c, r[0x0d] = 1, r[0x0e] = 200, r[0x10] = 150, r[0x30] = 90;
    r[0x14] = 12;
    for (int i = 0; i < 8; ++i) r[0x16 + i] = static_cast<uint8_t>(7 - i);
    r[0x1e] = 20, r[0x1f] = 21, r[0x20] = 22;
    r[0x21] = 2, r[0x22] = 40;
    r[0x23] = 0x5a;  // a byte without a calibration value: must travel unchanged
    r[0x27] = 0x31, r[0x28] = 3, r[0x29] = 4;
    r[0x2a] = 30, r[0x2b] = 31, r[0x2c] = 32, r[0x2d] = 33, r[0x2e] = 34;
    return r;
}

int ConsoleTest::printerTransactions(int sub) {
    std::string needle = "\"sub\":" + std::to_string(sub) + ",";
    int n = 0;
    for (const std::string& e : VPrinter_LooseEvents())
        if (e.find("\"transaction\"") != std::string::npos && e.find(needle) != std::string::npos)
            ++n;
    return n;
}

bool ConsoleTest::startHost(const std::vector<std::string>& extra) {
    return host.start(areaName, lockName, extra);
}

std::string hexBytes(const std::vector<uint8_t>& bytes) {
    std::string s;
    char b[4];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%02X", v);
        s += b;
    }
    return s;
}
