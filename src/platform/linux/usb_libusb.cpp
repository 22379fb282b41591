// SPDX-License-Identifier: Apache-2.0
// USB driver back end on libusb-1.0: device paths carrying the device identity, the printer's
// bulk interface shared by every open handle, and the four I/O controls as bulk transfers.
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/defaults.h"
#include "platform/logdir.h"

namespace {

// System error codes the host logs after a failed call (the codes the printer's own
// driver reports on its home system), so the trace files read the same everywhere.
constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr uint32_t ERROR_ACCESS_DENIED_CODE = 5;
constexpr uint32_t ERROR_INVALID_HANDLE_CODE = 6;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY_CODE = 8;
constexpr uint32_t ERROR_GEN_FAILURE_CODE = 31;
constexpr uint32_t ERROR_NOT_SUPPORTED_CODE = 50;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t ERROR_SEM_TIMEOUT_CODE = 121;
constexpr uint32_t ERROR_BUSY_CODE = 170;
constexpr uint32_t ERROR_MORE_DATA_CODE = 234;
constexpr uint32_t ERROR_NO_MORE_ITEMS_CODE = 259;
constexpr uint32_t ERROR_OPERATION_ABORTED_CODE = 995;
constexpr uint32_t ERROR_IO_DEVICE_CODE = 1117;
constexpr uint32_t ERROR_DEVICE_NOT_CONNECTED_CODE = 1167;
constexpr uint32_t ERROR_INVALID_FUNCTION_CODE = 1;

struct LibusbErrorCode {
    int libusbError;
    uint32_t systemCode;
};
const LibusbErrorCode LIBUSB_ERROR_CODES[] = {
    {LIBUSB_ERROR_IO, ERROR_IO_DEVICE_CODE},
    {LIBUSB_ERROR_INVALID_PARAM, ERROR_INVALID_PARAMETER_CODE},
    {LIBUSB_ERROR_ACCESS, ERROR_ACCESS_DENIED_CODE},
    {LIBUSB_ERROR_NO_DEVICE, ERROR_DEVICE_NOT_CONNECTED_CODE},
    {LIBUSB_ERROR_NOT_FOUND, ERROR_FILE_NOT_FOUND_CODE},
    {LIBUSB_ERROR_BUSY, ERROR_BUSY_CODE},
    {LIBUSB_ERROR_TIMEOUT, ERROR_SEM_TIMEOUT_CODE},
    {LIBUSB_ERROR_OVERFLOW, ERROR_MORE_DATA_CODE},
    {LIBUSB_ERROR_PIPE, ERROR_GEN_FAILURE_CODE},
    {LIBUSB_ERROR_INTERRUPTED, ERROR_OPERATION_ABORTED_CODE},
    {LIBUSB_ERROR_NO_MEM, ERROR_NOT_ENOUGH_MEMORY_CODE},
    {LIBUSB_ERROR_NOT_SUPPORTED, ERROR_NOT_SUPPORTED_CODE},
    {LIBUSB_ERROR_OTHER, ERROR_GEN_FAILURE_CODE},
};

// Devices this driver serves: only these get their interface claimed (a kernel driver
// detached), as the vendor driver is bound to the printer alone. Others open plainly.
struct ServedIdentity {
    uint16_t vendor;
    uint16_t product;
};
const ServedIdentity SERVED_DEVICES[] = {{0x2408, 0x0003}};

const char* const DEVICE_INTERFACE_CLASS = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
// A write of a full batch of seven data packets may wait while the board drains its buffer.
constexpr unsigned WRITE_TIMEOUT_MS = 10000;
// A reply not started within this time fails the read; the host reconnects or retries.
constexpr unsigned READ_TIMEOUT_MS = 5000;

thread_local uint32_t lastErrorCode = 0;

bool failWith(uint32_t code) {
    lastErrorCode = code;
    return false;
}

uint32_t systemCodeOf(int libusbError) {
    for (const LibusbErrorCode& e : LIBUSB_ERROR_CODES)
        if (e.libusbError == libusbError) return e.systemCode;
    return ERROR_GEN_FAILURE_CODE;
}

bool failLibusb(const char* what, int libusbError) {
    Platform_Trace("libusb %s: %s\n", what, libusb_error_name(libusbError));
    return failWith(systemCodeOf(libusbError));
}

// One context for the program, made on first use.
struct Context {
    std::once_flag once;
    libusb_context* ctx = nullptr;
    int initError = 0;
};
Context& context() {
    static Context c;
    std::call_once(c.once, [] { c.initError = libusb_init(&c.ctx); });
    return c;
}

// The device behind one or more open handles: one libusb handle, the claimed interface and
// its bulk endpoints, and the transfers in flight (so the resets can cut them short).
struct SharedDevice {
    libusb_device_handle* handle = nullptr;
    uint8_t bus = 0, address = 0;
    bool served = false;
    int interfaceNumber = -1;
    uint8_t endpointOut = 0, endpointIn = 0;
    std::mutex mu;
    std::map<libusb_transfer*, UsbHandle> inFlight;  // with the handle that started each
    std::atomic<bool> gone{false};  // a device reset re-enumerated it: this handle is dead

    ~SharedDevice() {
        if (!handle) return;
        if (interfaceNumber >= 0) libusb_release_interface(handle, interfaceNumber);
        libusb_close(handle);
    }
};

std::mutex handlesMu;
std::map<UsbHandle, std::shared_ptr<SharedDevice>> openHandles;
std::map<uint16_t, std::weak_ptr<SharedDevice>> devicesByLocation;  // bus << 8 | address
UsbHandle nextHandle = 1;

std::shared_ptr<SharedDevice> deviceOf(UsbHandle h) {
    std::lock_guard<std::mutex> lock(handlesMu);
    auto it = openHandles.find(h);
    return it == openHandles.end() ? nullptr : it->second;
}

// ---- Enumeration -------------------------------------------------------------------------

// The snapshot belongs to the enumerating thread: enumeration runs begin, path..., end on one
// thread, and two threads may look for the printer at the same time.
thread_local std::vector<std::string> snapshot;

std::string devicePath(libusb_device* dev, const libusb_device_descriptor& d) {
    char path[128];
    std::snprintf(path, sizeof path, "usb#vid_%04x&pid_%04x#%03u.%03u#%s", d.idVendor, d.idProduct,
                  libusb_get_bus_number(dev), libusb_get_device_address(dev),
                  DEVICE_INTERFACE_CLASS);
    return path;
}

bool enumBegin() {
    snapshot.clear();
    Context& c = context();
    if (c.initError != 0) return failLibusb("init", c.initError);
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(c.ctx, &list);
    if (n < 0) return failLibusb("get_device_list", static_cast<int>(n));
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d{};
        // An empty entry stands for a device whose identity cannot be read.
        snapshot.push_back(libusb_get_device_descriptor(list[i], &d) == 0 ? devicePath(list[i], d)
                                                                          : std::string());
    }
    libusb_free_device_list(list, 1);
    return true;
}

int enumPath(uint32_t index, char* path, size_t cap) {
    if (index >= snapshot.size()) {
        // The end of the list is what a search that found nothing reports last.
        lastErrorCode = ERROR_NO_MORE_ITEMS_CODE;
        return 0;
    }
    if (snapshot[index].empty() || cap == 0) return -1;
    std::snprintf(path, cap, "%s", snapshot[index].c_str());
    return 1;
}

void enumEnd() { snapshot.clear(); }

// ---- Open and close ----------------------------------------------------------------------

struct PathIdentity {
    unsigned vendor = 0, product = 0, bus = 0, address = 0;
};

bool parsePath(const char* path, PathIdentity* id) {
    if (!path) return false;
    int consumed = 0;
    int n = std::sscanf(path, "usb#vid_%4x&pid_%4x#%3u.%3u#%n", &id->vendor, &id->product, &id->bus,
                        &id->address, &consumed);
    return n == 4 && consumed > 0 && id->bus <= 255 && id->address <= 255;
}

bool isServed(unsigned vendor, unsigned product) {
    for (const ServedIdentity& s : SERVED_DEVICES)
        if (s.vendor == vendor && s.product == product) return true;
    return false;
}

// The first interface with a bulk OUT and a bulk IN endpoint (a vendor-specific one first).
bool findBulkInterface(libusb_device* dev, SharedDevice* d) {
    libusb_config_descriptor* config = nullptr;
    int r = libusb_get_active_config_descriptor(dev, &config);
    if (r != 0) return failLibusb("get_active_config_descriptor", r);
    for (int pass = 0; pass < 2 && d->interfaceNumber < 0; ++pass) {
        for (uint8_t i = 0; i < config->bNumInterfaces && d->interfaceNumber < 0; ++i) {
            if (config->interface[i].num_altsetting < 1) continue;
            const libusb_interface_descriptor& alt = config->interface[i].altsetting[0];
            if (pass == 0 && alt.bInterfaceClass != LIBUSB_CLASS_VENDOR_SPEC) continue;
            uint8_t out = 0, in = 0;
            for (uint8_t e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                    continue;
                uint8_t& slot = (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) ? in : out;
                if (slot == 0) slot = ep.bEndpointAddress;
            }
            if (out && in) {
                d->interfaceNumber = alt.bInterfaceNumber;
                d->endpointOut = out;
                d->endpointIn = in;
            }
        }
    }
    libusb_free_config_descriptor(config);
    if (d->interfaceNumber < 0) {
        Platform_Trace("libusb: no interface with bulk OUT and bulk IN endpoints\n");
        return failWith(ERROR_NOT_SUPPORTED_CODE);
    }
    return true;
}

// Claims the served device's interface, detaching a kernel driver bound to it.
bool claimInterface(libusb_device* dev, SharedDevice* d) {
    if (!findBulkInterface(dev, d)) return false;
    int r = libusb_set_auto_detach_kernel_driver(d->handle, 1);
    if (r != 0 && r != LIBUSB_ERROR_NOT_SUPPORTED)
        return failLibusb("auto_detach_kernel_driver", r);
    r = libusb_claim_interface(d->handle, d->interfaceNumber);
    if (r != 0) {
        d->interfaceNumber = -1;
        return failLibusb("claim_interface", r);
    }
    return true;
}

libusb_device* findDevice(libusb_device** list, ssize_t n, const PathIdentity& id) {
    for (ssize_t i = 0; i < n; ++i) {
        if (libusb_get_bus_number(list[i]) != id.bus ||
            libusb_get_device_address(list[i]) != id.address)
            continue;
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list[i], &d) != 0) return nullptr;
        // Another device may have taken the address since the snapshot.
        return (d.idVendor == id.vendor && d.idProduct == id.product) ? list[i] : nullptr;
    }
    return nullptr;
}

std::shared_ptr<SharedDevice> openDevice(libusb_device* dev, const PathIdentity& id) {
    auto d = std::make_shared<SharedDevice>();
    d->bus = static_cast<uint8_t>(id.bus);
    d->address = static_cast<uint8_t>(id.address);
    d->served = isServed(id.vendor, id.product);
    int r = libusb_open(dev, &d->handle);
    if (r != 0) {
        d->handle = nullptr;
        failLibusb("open", r);
        return nullptr;
    }
    if (d->served && !claimInterface(dev, d.get())) return nullptr;
    return d;
}

// Several handles to one device share its libusb handle: the interface can be claimed once.
std::shared_ptr<SharedDevice> sharedDevice(const PathIdentity& id) {
    Context& c = context();
    if (c.initError != 0) {
        failLibusb("init", c.initError);
        return nullptr;
    }
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(c.ctx, &list);
    if (n < 0) {
        failLibusb("get_device_list", static_cast<int>(n));
        return nullptr;
    }
    std::shared_ptr<SharedDevice> d;
    libusb_device* dev = findDevice(list, n, id);
    uint16_t location = static_cast<uint16_t>(id.bus << 8 | id.address);
    auto known = devicesByLocation.find(location);
    if (dev && known != devicesByLocation.end()) {
        // The same device still plugged in (not one that got its address after a replug).
        d = known->second.lock();
        if (d && (d->gone.load() || libusb_get_device(d->handle) != dev)) d.reset();
    }
    if (!dev)
        failWith(ERROR_FILE_NOT_FOUND_CODE);
    else if (!d && (d = openDevice(dev, id)))
        devicesByLocation[location] = d;
    libusb_free_device_list(list, 1);
    return d;
}

UsbHandle openPath(const char* path) {
    PathIdentity id;
    if (!parsePath(path, &id)) {
        failWith(ERROR_FILE_NOT_FOUND_CODE);
        return USB_INVALID_HANDLE;
    }
    std::lock_guard<std::mutex> lock(handlesMu);
    std::shared_ptr<SharedDevice> d = sharedDevice(id);
    if (!d) return USB_INVALID_HANDLE;
    UsbHandle h = nextHandle++;
    openHandles[h] = d;
    return h;
}

// Cancels the transfers in flight on the device, or only those of one handle.
void cancelInFlight(SharedDevice& d, UsbHandle only = USB_INVALID_HANDLE) {
    std::lock_guard<std::mutex> lock(d.mu);
    for (auto& [t, h] : d.inFlight)
        if (only == USB_INVALID_HANDLE || h == only) libusb_cancel_transfer(t);
}

void closeHandle(UsbHandle h) {
    std::shared_ptr<SharedDevice> last;
    {
        std::lock_guard<std::mutex> lock(handlesMu);
        auto it = openHandles.find(h);
        if (it == openHandles.end()) return;
        last = std::move(it->second);
        openHandles.erase(it);
    }
    // Closing fails a call still hanging on this handle, as the link's stop relies on; the
    // last handle releases the interface and closes the device (outside the table lock).
    cancelInFlight(*last, h);
}

// ---- Transfers ---------------------------------------------------------------------------

extern "C" void LIBUSB_CALL transferDone(libusb_transfer* t) {
    *static_cast<int*>(t->user_data) = 1;
}

// A finished transfer's status as the libusb error it stands for.
int transferStatusError(libusb_transfer_status s) {
    switch (s) {
        case LIBUSB_TRANSFER_TIMED_OUT:
            return LIBUSB_ERROR_TIMEOUT;
        case LIBUSB_TRANSFER_CANCELLED:
            return LIBUSB_ERROR_INTERRUPTED;
        case LIBUSB_TRANSFER_STALL:
            return LIBUSB_ERROR_PIPE;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return LIBUSB_ERROR_NO_DEVICE;
        case LIBUSB_TRANSFER_OVERFLOW:
            return LIBUSB_ERROR_OVERFLOW;
        default:
            return LIBUSB_ERROR_IO;
    }
}

// One bulk transfer, waited for on the calling thread. A reset from another handle cancels it.
bool bulkTransfer(SharedDevice& d, UsbHandle h, uint8_t endpoint, uint8_t* buffer, uint32_t length,
                  unsigned timeoutMs, uint32_t* transferred) {
    *transferred = 0;
    if (d.gone.load()) return failWith(ERROR_DEVICE_NOT_CONNECTED_CODE);
    libusb_transfer* t = libusb_alloc_transfer(0);
    if (!t) return failWith(ERROR_NOT_ENOUGH_MEMORY_CODE);
    int completed = 0;
    libusb_fill_bulk_transfer(t, d.handle, endpoint, buffer, static_cast<int>(length), transferDone,
                              &completed, timeoutMs);
    int r;
    {
        std::lock_guard<std::mutex> lock(d.mu);
        r = libusb_submit_transfer(t);
        if (r == 0) d.inFlight[t] = h;
    }
    if (r != 0) {
        libusb_free_transfer(t);
        return failLibusb(endpoint & LIBUSB_ENDPOINT_IN ? "bulk IN submit" : "bulk OUT submit", r);
    }
    while (!completed) {
        r = libusb_handle_events_completed(context().ctx, &completed);
        if (r != 0 && r != LIBUSB_ERROR_INTERRUPTED) {
            // The event loop broke: take the transfer back before its buffer goes away.
            libusb_cancel_transfer(t);
        }
    }
    {
        std::lock_guard<std::mutex> lock(d.mu);
        d.inFlight.erase(t);
    }
    libusb_transfer_status status = t->status;
    *transferred = static_cast<uint32_t>(t->actual_length);
    libusb_free_transfer(t);
    if (status == LIBUSB_TRANSFER_COMPLETED) return true;
    return failLibusb(endpoint & LIBUSB_ENDPOINT_IN ? "bulk IN" : "bulk OUT",
                      transferStatusError(status));
}

// ---- The four I/O controls ---------------------------------------------------------------

bool writePackets(SharedDevice& d, UsbHandle h, const void* out, uint32_t outLen) {
    if (!out || outLen == 0) return failWith(ERROR_INVALID_PARAMETER_CODE);
    // libusb sends from a mutable buffer but never changes an OUT buffer.
    uint8_t* bytes = const_cast<uint8_t*>(static_cast<const uint8_t*>(out));
    uint32_t sent = 0;
    if (!bulkTransfer(d, h, d.endpointOut, bytes, outLen, WRITE_TIMEOUT_MS, &sent)) return false;
    if (sent != outLen) {
        Platform_Trace("libusb bulk OUT: %u of %u bytes sent\n", sent, outLen);
        return failWith(ERROR_GEN_FAILURE_CODE);
    }
    return true;
}

bool readPacket(SharedDevice& d, UsbHandle h, void* out, uint32_t outLen, uint32_t* returned) {
    if (!out || outLen == 0) return failWith(ERROR_INVALID_PARAMETER_CODE);
    uint32_t want =
        outLen < USB_READ_PACKET_SIZE ? outLen : static_cast<uint32_t>(USB_READ_PACKET_SIZE);
    uint8_t* bytes = static_cast<uint8_t*>(out);
    uint32_t got = 0;
    if (!bulkTransfer(d, h, d.endpointIn, bytes, want, READ_TIMEOUT_MS, &got)) return false;
    // Bytes past a short packet are not the device's: leave no stale reply behind.
    std::memset(bytes + got, 0, outLen - got);
    if (returned) *returned = got;
    return true;
}

bool pipeReset(SharedDevice& d, const void* in, uint32_t inLen, void* out, uint32_t outLen) {
    if (!in || inLen < 1) return failWith(ERROR_INVALID_PARAMETER_CODE);
    if (out) std::memset(out, 0, outLen);
    // A call hung on the pipe is answered by the reset: cut it short before clearing.
    cancelInFlight(d);
    int r = libusb_clear_halt(d.handle, d.endpointOut);
    if (r != 0) return failLibusb("clear_halt OUT", r);
    r = libusb_clear_halt(d.handle, d.endpointIn);
    if (r != 0) return failLibusb("clear_halt IN", r);
    return true;
}

bool deviceReset(SharedDevice& d) {
    cancelInFlight(d);
    int r = libusb_reset_device(d.handle);
    if (r == 0) return true;
    // NOT_FOUND: the device came back as a new device; every handle to the old one is dead
    // and the host's reconnection finds the new one.
    if (r == LIBUSB_ERROR_NOT_FOUND || r == LIBUSB_ERROR_NO_DEVICE) d.gone.store(true);
    return failLibusb("reset_device", r);
}

bool ioctl(UsbHandle h, uint32_t code, const void* in, uint32_t inLen, void* out, uint32_t outLen,
           uint32_t* returned) {
    if (returned) *returned = 0;
    std::shared_ptr<SharedDevice> d = deviceOf(h);
    if (!d) return failWith(ERROR_INVALID_HANDLE_CODE);
    if (!d->served) return failWith(ERROR_INVALID_FUNCTION_CODE);
    switch (code) {
        case USB_IOCTL_WRITE_PACKETS:
            return writePackets(*d, h, out, outLen);
        case USB_IOCTL_READ_PACKET:
            return readPacket(*d, h, out, outLen, returned);
        case USB_IOCTL_PIPE_RESET:
            return pipeReset(*d, in, inLen, out, outLen);
        case USB_IOCTL_DEVICE_RESET:
            return deviceReset(*d);
        default:
            return failWith(ERROR_INVALID_FUNCTION_CODE);
    }
}

// ---- Serial number -----------------------------------------------------------------------

// Reads the iSerialNumber string through a handle of the device: the one the link shares when
// it is open, else one opened for the question alone (nothing claimed).
bool serialNumber(const char* path, char* out, size_t cap) {
    PathIdentity id;
    if (!out || cap == 0 || !parsePath(path, &id)) return failWith(ERROR_FILE_NOT_FOUND_CODE);
    out[0] = '\0';
    Context& c = context();
    if (c.initError != 0) return failLibusb("init", c.initError);
    std::shared_ptr<SharedDevice> shared;
    {
        std::lock_guard<std::mutex> lock(handlesMu);
        auto known = devicesByLocation.find(static_cast<uint16_t>(id.bus << 8 | id.address));
        if (known != devicesByLocation.end()) shared = known->second.lock();
        if (shared && shared->gone.load()) shared.reset();
    }
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(c.ctx, &list);
    if (n < 0) return failLibusb("get_device_list", static_cast<int>(n));
    libusb_device* dev = findDevice(list, n, id);
    libusb_device_descriptor d{};
    int r = dev ? libusb_get_device_descriptor(dev, &d) : LIBUSB_ERROR_NOT_FOUND;
    if (r == 0 && d.iSerialNumber == 0) {
        // It reports none: nothing failed, there is nothing to read.
        libusb_free_device_list(list, 1);
        return failWith(ERROR_NOT_SUPPORTED_CODE);
    }
    libusb_device_handle* own = nullptr;
    if (r == 0 && !(shared && libusb_get_device(shared->handle) == dev)) {
        shared.reset();
        r = libusb_open(dev, &own);
    }
    libusb_free_device_list(list, 1);
    if (r != 0) return failLibusb("serial number", r);
    // A string descriptor holds at most 126 characters; libusb turns each one outside ASCII into
    // '?' and cuts at the buffer's end.
    unsigned char text[128] = {};
    int len = libusb_get_string_descriptor_ascii(own ? own : shared->handle, d.iSerialNumber, text,
                                                 sizeof text - 1);
    if (own) libusb_close(own);
    if (len < 0) return failLibusb("get_string_descriptor_ascii", len);
    size_t keep = std::min(static_cast<size_t>(len), cap - 1);
    std::memcpy(out, text, keep);
    out[keep] = '\0';
    return true;
}

uint32_t lastError() { return lastErrorCode; }

const UsbDriverBackend libusbDriver{
    .enumBegin = enumBegin,
    .enumPath = enumPath,
    .enumEnd = enumEnd,
    .open = openPath,
    .close = closeHandle,
    .ioctl = ioctl,
    .serialNumber = serialNumber,
    .lastError = lastError,
};

}  // namespace

const UsbDriverBackend* Platform_DefaultUsbDriver() { return &libusbDriver; }
