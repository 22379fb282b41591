// SPDX-License-Identifier: Apache-2.0
// headalign-usb-probe: lists the USB devices as the printer's driver sees them and checks the
// link to the board: finding it, reading its parameter record, several handles, both resets.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/session.h"
#include "link/usb.h"
#include "platform/usb_driver.h"

namespace {

const char* const USAGE =
    "usage: headalign-usb-probe [--handles N] [--pipe-reset] [--soft-reset]\n"
    "Lists the USB devices, opens the printer (vendor 2408, product 0003) and reads its\n"
    "parameter record; --handles opens N more handles at once and reads through each,\n"
    "--pipe-reset and --soft-reset reset the board and read again. Exit status 0 when\n"
    "every step worked.\n";

constexpr int MAX_EXTRA_HANDLES = 8;

bool looksLikePrinter(std::string path) {
    for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return path.find("vid_2408") != std::string::npos && path.find("pid_0003") != std::string::npos;
}

void listDevices() {
    const UsbDriverBackend* drv = UsbDriver_Get();
    if (!drv->enumBegin()) {
        std::printf("devices: enumeration failed (error %u)\n", drv->lastError());
        return;
    }
    char path[256];
    for (uint32_t i = 0;; ++i) {
        int r = drv->enumPath(i, path, sizeof path);
        if (r == 0) break;
        if (r < 0)
            std::printf("device %u: (identity unreadable)\n", i);
        else
            std::printf("device %u: %s%s\n", i, path, looksLikePrinter(path) ? "  <- printer" : "");
    }
    drv->enumEnd();
}

bool readRecord(UsbHandle h, const char* step) {
    uint8_t record[56] = {};
    bool ok = Usb_TransactOnLink(h, USB_SUB_READ_PARAMS, nullptr, 0, record, sizeof record);
    std::printf("%s: record %s (mark 0x%02X)\n", step, ok ? "read" : "NOT read", record[0]);
    return ok;
}

bool severalHandles(int count) {
    std::vector<UsbHandle> handles;
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        UsbHandle h = USB_INVALID_HANDLE;
        ok = Usb_Open(&h);
        if (ok) handles.push_back(h);
    }
    for (UsbHandle h : handles) ok = readRecord(h, "extra handle") && ok;
    for (UsbHandle& h : handles) Usb_Close(&h);
    std::printf("handles: %d more open at once: %s\n", count, ok ? "ok" : "FAILED");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Session session;
    int extra = 0;
    bool pipeReset = false, softReset = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pipe-reset") == 0) {
            pipeReset = true;
        } else if (std::strcmp(argv[i], "--soft-reset") == 0) {
            softReset = true;
        } else if (std::strcmp(argv[i], "--handles") == 0 && i + 1 < argc) {
            extra = std::atoi(argv[++i]);
            if (extra < 1 || extra > MAX_EXTRA_HANDLES) extra = -1;
        } else {
            extra = -1;
        }
        if (extra < 0) {
            std::fputs(USAGE, stderr);
            return 2;
        }
    }
    listDevices();
    UsbHandle link = USB_INVALID_HANDLE;
    if (!Usb_Open(&link)) {
        std::printf("open: FAILED (error %u)\n", UsbDriver_Get()->lastError());
        return 1;
    }
    bool ok = readRecord(link, "open");
    if (extra > 0) ok = severalHandles(extra) && ok;
    if (pipeReset) {
        bool reset = Usb_PipeReset(USB_PIPE_RESET_HARD);
        std::printf("pipe reset: %s\n", reset ? "ok" : "FAILED");
        ok = reset && readRecord(link, "after pipe reset") && ok;
    }
    if (softReset) {
        bool reset = Usb_SoftReset();
        std::printf("soft reset: %s\n", reset ? "ok" : "FAILED");
        ok = reset && readRecord(link, "after soft reset") && ok;
    }
    Usb_Close(&link);
    return ok ? 0 : 1;
}
