// SPDX-License-Identifier: Apache-2.0
// The virtual printer as an emulated USB device (umockdev): programs started under it reach
// the board through their real USB stack (libusb, usbfs requests), not through the seam.
#pragma once
#include <cstdint>
#include <string>

struct VpUsbOptions {
    bool decoys = false;         // two more devices of vendor 2408 with other products
    uint32_t unplugAtData = 0;   // unplug when the Nth DATA transfer starts (0 = never)
    uint32_t replugAfterMs = 0;  // plug back in this long after the unplug (0 = stay out)
    uint32_t stallInAt = 0;      // the Nth bulk IN request stalls the IN endpoint (0 = never)
    uint32_t loseReplyAt = 0;    // the Nth reply packet is never delivered (0 = never)
    uint32_t shortWriteAt = 0;   // the Nth bulk OUT request ends after half its bytes, which
                                 // the board never sees (0 = never)
};

// What the emulated device saw (counts since the start).
struct VpUsbCounters {
    uint32_t opens = 0;       // usbfs opens of the printer node
    uint32_t closes = 0;      // ... and their closes
    uint32_t decoyOpens = 0;  // usbfs opens of a decoy node
    uint32_t claims = 0;
    uint64_t bulkOutBytes = 0;
    uint32_t bulkOutUrbs = 0;
    uint32_t bulkInUrbs = 0;
    uint32_t repliesDelivered = 0;
    uint32_t discards = 0;
    uint32_t clearHalts = 0;
    uint32_t resets = 0;
    uint32_t unplugs = 0;
    uint32_t replugs = 0;
    uint32_t stalls = 0;
    uint32_t shortWrites = 0;
    uint32_t stringReads = 0;  // string descriptors answered (the serial number's questions)
};

// Creates the testbed (one per process) and plugs the printer in; the virtual printer must
// be attached in this process. false with a message when umockdev cannot run here.
bool VpUsb_Start(const VpUsbOptions& options, std::string* error);
// Unplugs everything and removes the testbed.
void VpUsb_Stop();
// The testbed's root folder, handed to child processes as UMOCKDEV_DIR.
std::string VpUsb_Root();
// Performs pending unplugs and replugs; the host calls it every few milliseconds.
void VpUsb_Service();
VpUsbCounters VpUsb_Counters();
// One line "key=value ..." of the counters, for the host's summary.
std::string VpUsb_CountersLine();
