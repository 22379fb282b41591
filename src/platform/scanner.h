// SPDX-License-Identifier: Apache-2.0
// Scanner seam: lists the scanners the system offers and acquires one picture from one of them,
// so a calibration print can be read without the operator saving a file first. SANE on Linux
// (platform/sane); no back end on Windows: there the table is empty and every front end says
// there is no scanner support.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/image_codec.h"

// One device as the system lists it: `name` is what a scan request names ("pnm:0",
// "genesys:libusb:001:004"); the rest is for the operator.
struct ScannerDevice {
    std::string name, vendor, model, type;
};

// How a scan ended, in the device's own terms; Scanner_StatusText gives the operator's words.
enum class ScanStatus : uint8_t {
    Ok = 0,
    NoSupport,     // this build has no scanner back end
    NoDevice,      // no scanner found, or none of the name asked for
    Busy,          // the device is in use by another program or still working
    CoverOpen,     // the scanner's cover (lid) is open
    Jammed,        // the document feeder is jammed
    NoDocument,    // the document feeder is empty
    Cancelled,     // cancelled by the operator (here or at the device)
    AccessDenied,  // the system does not let this user open the device
    IoError,       // the link to the device failed
    NoMemory,      // the device or the system ran out of memory
    BadOption,     // a --scanner-option the device does not take (the detail says which)
    TooLarge,      // the picture would be larger than the request's cap
    Failed,        // any other refusal of the device (the detail says what)
};

struct ScanOption {
    std::string name, value;  // a device option by its SANE name ("mode", "tl-x", "filename")
};

struct ScanRequest {
    std::string device;  // empty: the first device the system lists
    int dpi = 300;       // set where the device has a resolution (the nearest it offers)
    bool grey = true;    // grey mode where the device offers one (else what it gives)
    // The area scanned, from the top left corner, in millimetres; 0: the whole area the device
    // allows, so a print is never cut by a smaller default window.
    double widthMm = 0, heightMm = 0;
    // Applied after the settings above, in order; any of them may override those.
    std::vector<ScanOption> options;
    // Pictures with more pixels than this are refused before they are read (TooLarge).
    uint64_t maxPixels = 150000000;
    // Raised by another thread or a signal handler to stop the scan; nullptr: not cancellable.
    const std::atomic<bool>* cancel = nullptr;
    // Called on the scanning thread after each block read: bytes read so far and of the whole
    // picture (0 when the device does not know its length in advance). May be nullptr.
    void (*progress)(void* context, uint64_t done, uint64_t total) = nullptr;
    void* progressContext = nullptr;
};

struct ScannerBackend {
    // Any thread (calls of both entries take turns); blocks while the system looks for devices
    // (seconds where it searches the network). true with the devices in *out (possibly none);
    // false with *error one line.
    bool (*list)(std::vector<ScannerDevice>* out, std::string* error);
    // Any thread, which it holds for the whole scan; blocks on the device, returning
    // within one block's read of `cancel` being raised. Ok with the picture in *out (8-bit RGB,
    // grey in all three channels for a grey scan; dpi across, aspect as the device scanned);
    // otherwise *out is empty and *detail holds the device's own words, or the option refused.
    ScanStatus (*scan)(const ScanRequest& request, ImagePixels* out, std::string* detail);
};

// Installs a back end (nullptr restores the platform default). Not while a scan runs.
void Scanner_Install(const ScannerBackend* backend);
const ScannerBackend* Scanner_Backend();
const ScannerBackend* Platform_DefaultScanner();
// Whether the back end has both entries (false: "no scanner support"). \threadsafe
bool Scanner_Supported();
// list and scan through the back end, NoSupport / false with the reason where it has none.
bool Scanner_List(std::vector<ScannerDevice>* out, std::string* error);
ScanStatus Scanner_Scan(const ScanRequest& request, ImagePixels* out, std::string* detail);

// The operator's words for a status, in Chinese or English; with a detail from the device it
// follows after ": ". \threadsafe
std::string Scanner_StatusText(ScanStatus status, const std::string& detail, bool chinese);
// Splits "NAME=VALUE" into an option; false when there is no '=' or no name.
bool Scanner_ParseOption(const std::string& text, ScanOption* out);
