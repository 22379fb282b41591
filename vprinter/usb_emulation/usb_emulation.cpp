// SPDX-License-Identifier: Apache-2.0
// Emulated USB device of the virtual printer: a umockdev testbed whose usbfs nodes answer the
// requests libusb makes, with bulk OUT carried to the board and bulk IN served from its replies.
#include "usb_emulation.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/bytes.h"
#include "platform/clock.h"
#include "platform/usb_driver.h"
#include "vprinter.h"

namespace {

constexpr uint8_t ENDPOINT_OUT = 0x01, ENDPOINT_IN = 0x81;
constexpr uint16_t STREAM_DATA = 0x85B5;
constexpr uint32_t CAPABILITIES = USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                  USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;

// Descriptors: device (vendor 2408, product filled in), one configuration with one vendor
// interface holding a bulk OUT and a bulk IN endpoint of 512 bytes.
const char* const DEVICE_DESCRIPTOR_HEAD =
    "1201000200000040"  // USB 2.0, class 0, ep0 64
    "0824";             // vendor 2408
// After the product: bcdDevice 1.00, the string indexes (manufacturer and product: none; serial
// number: 3 when it has one), one configuration.
const char* const DEVICE_DESCRIPTOR_BCD = "0001";
const char* const DEVICE_DESCRIPTOR_TAIL =
    "09022000010100c032"  // configuration, 32 bytes
    "0904000002ff000000"  // interface 0, vendor class
    "07050102000200"      // bulk OUT 0x01
    "07058102000200";     // bulk IN 0x81

constexpr uint8_t SERIAL_STRING_INDEX = 3;
constexpr uint16_t LANGUAGE_EN_US = 0x0409;
// A string descriptor is at most 255 bytes: two of header, then UTF-16 characters.
constexpr size_t STRING_DESCRIPTOR_CHARS = 126;

struct EmuDevice {
    uint16_t product = 0;
    unsigned bus = 0, devnum = 0;
    bool printer = false;
    std::string serial{};  // the printer's, as the model gives it; empty = it reports none
    bool present = false;
    bool inHalted = false, outHalted = false;
    std::string syspath() const { return "/devices/usb" + std::to_string(bus); }
    std::string devnode() const {
        char node[40];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", bus, devnum);
        return node;
    }
};

struct EmuUrb {
    UMockdevIoctlData* urb = nullptr;  // our reference to the client's usbdevfs_urb
    usbdevfs_urb* fields() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
};

struct EmuClient {
    int device = -1;      // index into devices
    unsigned devnum = 0;  // the device's address when opened: a replugged device is another
    UsbHandle board = USB_INVALID_HANDLE;
    std::deque<EmuUrb> waitingIn;  // bulk IN requests waiting for a reply packet
    std::deque<EmuUrb> done;       // completed requests to be reaped
};

struct Emulation {
    std::mutex mu;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    const UsbDriverBackend* board = nullptr;
    VpUsbOptions options;
    VpUsbCounters counters;
    std::vector<EmuDevice> devices;
    std::map<UMockdevIoctlClient*, EmuClient> clients;
    uint32_t dataTransfers = 0;
    uint32_t repliesRead = 0;
    bool unplugPending = false;  // the handler asked for the removal; Service performs it
    bool replugPending = false;
    uint32_t unpluggedAt = 0;
};

Emulation& emu() {
    static Emulation e;
    return e;
}

bool alive(const EmuClient& c) {
    if (c.device < 0) return false;
    const EmuDevice& d = emu().devices[c.device];
    return d.present && d.devnum == c.devnum;
}

void completeUrb(EmuClient& c, EmuUrb u, int status, int actual) {
    u.fields()->status = status;
    u.fields()->actual_length = actual;
    c.done.push_back(u);
}

int deviceIndexOf(const std::string& devnode) {
    Emulation& e = emu();
    for (size_t i = 0; i < e.devices.size(); ++i)
        if (e.devices[i].present && e.devices[i].devnode() == devnode) return static_cast<int>(i);
    return -1;
}

// Hands waiting bulk IN requests the board's reply packets, one packet per request.
void serveReplies(EmuClient& c) {
    Emulation& e = emu();
    if (!alive(c)) return;
    const EmuDevice& d = e.devices[c.device];
    while (!c.waitingIn.empty() && !d.inHalted && VPrinter_PendingReplyPackets() > 0) {
        uint8_t packet[USB_READ_PACKET_SIZE];
        uint8_t in[4];
        le::putU32(in, 0, 2);
        uint32_t got = 0;
        if (!e.board->ioctl(c.board, USB_IOCTL_READ_PACKET, in, 4, packet, sizeof packet, &got)) {
            completeUrb(c, c.waitingIn.front(), -EPROTO, 0);
            c.waitingIn.pop_front();
            continue;
        }
        if (++e.repliesRead == e.options.loseReplyAt) continue;  // lost on the wire
        EmuUrb u = c.waitingIn.front();
        c.waitingIn.pop_front();
        usbdevfs_urb* f = u.fields();
        if (got > static_cast<uint32_t>(f->buffer_length)) {
            completeUrb(c, u, -EOVERFLOW, 0);
            continue;
        }
        std::memcpy(f->buffer, packet, got);
        ++e.counters.repliesDelivered;
        completeUrb(c, u, 0, static_cast<int>(got));
    }
}

void serveAllReplies() {
    for (auto& [client, c] : emu().clients) serveReplies(c);
}

// The printer is pulled out: requests in flight end as the kernel ends them on a disconnect.
void markUnplugged(int device) {
    Emulation& e = emu();
    for (auto& [client, c] : e.clients) {
        if (c.device != device || !alive(c)) continue;
        while (!c.waitingIn.empty()) {
            completeUrb(c, c.waitingIn.front(), -ESHUTDOWN, 0);
            c.waitingIn.pop_front();
        }
        // The board loses its end of the link with the cable, not when the host notices.
        if (c.board != USB_INVALID_HANDLE) e.board->close(c.board);
        c.board = USB_INVALID_HANDLE;
    }
    e.devices[device].present = false;
    ++e.counters.unplugs;
    e.unplugPending = true;
    e.unpluggedAt = Clock_Tick();
}

bool startsDataTransfer(const uint8_t* bytes, int length) {
    return length >= 32 && le::getU16(bytes, 14) == STREAM_DATA && le::getU16(bytes, 20) == 0;
}

// One write I/O control of the board with the request's bytes.
bool boardWrite(const EmuClient& c, const uint8_t* bytes, int length) {
    uint8_t in[4];
    le::putU32(in, 0, 0);
    uint32_t unused = 0;
    return emu().board->ioctl(c.board, USB_IOCTL_WRITE_PACKETS, in, 4, const_cast<uint8_t*>(bytes),
                              static_cast<uint32_t>(length), &unused);
}

void submitOut(EmuClient& c, EmuUrb u, UMockdevIoctlClient* client) {
    Emulation& e = emu();
    EmuDevice& d = e.devices[c.device];
    usbdevfs_urb* f = u.fields();
    const uint8_t* bytes = static_cast<const uint8_t*>(f->buffer);
    if (startsDataTransfer(bytes, f->buffer_length) &&
        ++e.dataTransfers == e.options.unplugAtData) {
        g_object_unref(u.urb);
        markUnplugged(c.device);
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    ++e.counters.bulkOutUrbs;
    if (d.outHalted) {
        completeUrb(c, u, -EPIPE, 0);
    } else if (e.counters.bulkOutUrbs == e.options.shortWriteAt) {
        // The board learns of the broken write when it happens, as with its own write fault.
        VPrinterFaults faults = VPrinter_GetFaults();
        ++faults.failWrites;
        VPrinter_SetFaults(faults);
        boardWrite(c, bytes, f->buffer_length);
        ++e.counters.shortWrites;
        completeUrb(c, u, 0, f->buffer_length / 2);
    } else {
        bool ok = boardWrite(c, bytes, f->buffer_length);
        if (ok) e.counters.bulkOutBytes += static_cast<uint32_t>(f->buffer_length);
        completeUrb(c, u, ok ? 0 : -EPROTO, ok ? f->buffer_length : 0);
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

// The descriptor a GET_DESCRIPTOR(STRING) request asks for; empty when the device has none
// (the request then stalls, as a device answers an index it does not know).
std::vector<uint8_t> stringDescriptor(const EmuDevice& d, uint8_t index) {
    std::vector<uint8_t> desc;
    if (index == 0) return {4, 3, LANGUAGE_EN_US & 0xFF, LANGUAGE_EN_US >> 8};
    if (index != SERIAL_STRING_INDEX || d.serial.empty()) return desc;
    size_t chars = std::min(d.serial.size(), STRING_DESCRIPTOR_CHARS);
    desc.push_back(static_cast<uint8_t>(2 + 2 * chars));
    desc.push_back(3);
    // Each byte of the model's text is one character (U+0000..U+00FF): hostile bytes reach the
    // host as they are.
    for (size_t i = 0; i < chars; ++i) {
        desc.push_back(static_cast<uint8_t>(d.serial[i]));
        desc.push_back(0);
    }
    return desc;
}

// A control request on the default pipe: the string descriptors; anything else stalls.
void submitControl(EmuClient& c, EmuUrb u, UMockdevIoctlClient* client) {
    usbdevfs_urb* f = u.fields();
    const uint8_t* setup = static_cast<const uint8_t*>(f->buffer);
    const bool getString = setup[0] == 0x80 && setup[1] == 6 && setup[3] == 3;
    std::vector<uint8_t> desc;
    if (getString) desc = stringDescriptor(emu().devices[c.device], setup[2]);
    if (desc.empty()) {
        completeUrb(c, u, -EPIPE, 0);
    } else {
        size_t room = std::min<size_t>(le::getU16(setup, 6), size_t(f->buffer_length) - 8);
        size_t n = std::min(room, desc.size());
        std::memcpy(static_cast<uint8_t*>(f->buffer) + 8, desc.data(), n);
        ++emu().counters.stringReads;
        completeUrb(c, u, 0, static_cast<int>(n));
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

void submitUrb(EmuClient& c, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    Emulation& e = emu();
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (!urbData) return umockdev_ioctl_client_complete(client, -1, EFAULT);
    EmuUrb u{urbData};
    usbdevfs_urb* f = u.fields();
    bool printerEndpoint = f->endpoint == ENDPOINT_OUT || f->endpoint == ENDPOINT_IN;
    if (!alive(c)) {
        g_object_unref(urbData);
        return umockdev_ioctl_client_complete(client, -1, ENODEV);
    }
    const bool control = f->type == USBDEVFS_URB_TYPE_CONTROL && f->endpoint == 0;
    if (control ? f->buffer_length < 8
                : (f->type != USBDEVFS_URB_TYPE_BULK || !printerEndpoint ||
                   !e.devices[c.device].printer || f->buffer_length <= 0)) {
        g_object_unref(urbData);
        return umockdev_ioctl_client_complete(client, -1, EINVAL);
    }
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        urbData, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(f->buffer_length), nullptr);
    if (!buffer) {
        g_object_unref(urbData);
        return umockdev_ioctl_client_complete(client, -1, EFAULT);
    }
    g_object_unref(buffer);  // the URB's data keeps it
    if (control) return submitControl(c, u, client);
    if (f->endpoint == ENDPOINT_OUT) return submitOut(c, u, client);
    EmuDevice& d = e.devices[c.device];
    ++e.counters.bulkInUrbs;
    if (e.counters.bulkInUrbs == e.options.stallInAt) {
        d.inHalted = true;
        ++e.counters.stalls;
    }
    if (d.inHalted)
        completeUrb(c, u, -EPIPE, 0);
    else
        c.waitingIn.push_back(u);
    serveReplies(c);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void reapUrb(EmuClient& c, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    serveAllReplies();
    if (c.done.empty()) {
        return umockdev_ioctl_client_complete(client, -1, alive(c) ? EAGAIN : ENODEV);
    }
    EmuUrb u = c.done.front();
    c.done.pop_front();
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    if (!slot) {
        g_object_unref(u.urb);
        return umockdev_ioctl_client_complete(client, -1, EFAULT);
    }
    umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(slot);
    g_object_unref(u.urb);
}

void discardUrb(EmuClient& c, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    gulong address = *reinterpret_cast<gulong*>(arg->data);
    for (auto it = c.waitingIn.begin(); it != c.waitingIn.end(); ++it) {
        if (it->urb->client_addr != address) continue;
        EmuUrb u = *it;
        c.waitingIn.erase(it);
        ++emu().counters.discards;
        completeUrb(c, u, -ENOENT, 0);
        return umockdev_ioctl_client_complete(client, 0, 0);
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

void clearHalt(EmuClient& c, UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    Emulation& e = emu();
    UMockdevIoctlData* ep = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), nullptr);
    unsigned endpoint = ep ? *reinterpret_cast<unsigned int*>(ep->data) : 0;
    if (ep) g_object_unref(ep);
    EmuDevice& d = e.devices[c.device];
    ++e.counters.clearHalts;
    if (endpoint == ENDPOINT_IN) d.inHalted = false;
    if (endpoint == ENDPOINT_OUT) {
        d.outHalted = false;
        // The board's receiver starts over with its OUT pipe, as after the driver's pipe reset.
        uint8_t in[2] = {0xFF, 0};
        uint8_t out[128];
        uint32_t unused = 0;
        if (d.printer)
            e.board->ioctl(c.board, USB_IOCTL_PIPE_RESET, in, 2, out, sizeof out, &unused);
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

void resetDevice(EmuClient& c, UMockdevIoctlClient* client) {
    Emulation& e = emu();
    EmuDevice& d = e.devices[c.device];
    ++e.counters.resets;
    d.inHalted = d.outHalted = false;
    uint32_t unused = 0;
    if (d.printer) e.board->ioctl(c.board, USB_IOCTL_DEVICE_RESET, nullptr, 0, nullptr, 0, &unused);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void answerCapabilities(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
    if (!caps) return umockdev_ioctl_client_complete(client, -1, EFAULT);
    uint32_t value = CAPABILITIES;
    std::memcpy(caps->data, &value, sizeof value);
    g_object_unref(caps);
    umockdev_ioctl_client_complete(client, 0, 0);
}

void forgetClient(UMockdevIoctlClient* client);
void onConnectedChanged(GObject* object, GParamSpec*, gpointer);

EmuClient& clientState(UMockdevIoctlClient* client) {
    Emulation& e = emu();
    auto it = e.clients.find(client);
    if (it != e.clients.end()) return it->second;
    EmuClient& c = e.clients[client];
    g_object_ref(client);
    g_signal_connect(client, "notify::connected", G_CALLBACK(onConnectedChanged), nullptr);
    c.device = deviceIndexOf(umockdev_ioctl_client_get_devnode(client));
    if (c.device >= 0) c.devnum = e.devices[c.device].devnum;
    if (c.device >= 0 && e.devices[c.device].printer) {
        ++e.counters.opens;
        c.board = e.board->open(VPrinter_DevicePath().c_str());
    } else if (c.device >= 0) {
        ++e.counters.decoyOpens;
    }
    return c;
}

// umockdev tells of a closed usbfs file through the client's "connected" property.
void onConnectedChanged(GObject* object, GParamSpec*, gpointer) {
    UMockdevIoctlClient* client = reinterpret_cast<UMockdevIoctlClient*>(object);
    if (umockdev_ioctl_client_get_connected(client)) return;
    std::lock_guard<std::mutex> lock(emu().mu);
    forgetClient(client);
}

gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    Emulation& e = emu();
    std::lock_guard<std::mutex> lock(e.mu);
    EmuClient& c = clientState(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    gulong request = umockdev_ioctl_client_get_request(client);
    bool present = alive(c);
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            answerCapabilities(client, arg);
            break;
        case USBDEVFS_SUBMITURB:
            submitUrb(c, client, arg);
            break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            reapUrb(c, client, arg);
            break;
        case USBDEVFS_DISCARDURB:
            discardUrb(c, client, arg);
            break;
        default:
            if (!present) {
                umockdev_ioctl_client_complete(client, -1, ENODEV);
            } else if (request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_DISCONNECT_CLAIM) {
                ++e.counters.claims;
                umockdev_ioctl_client_complete(client, 0, 0);
            } else if (request == USBDEVFS_RELEASEINTERFACE || request == USBDEVFS_SETINTERFACE) {
                umockdev_ioctl_client_complete(client, 0, 0);
            } else if (request == USBDEVFS_GETDRIVER || request == USBDEVFS_IOCTL) {
                umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver bound
            } else if (request == USBDEVFS_CLEAR_HALT) {
                clearHalt(c, client, arg);
            } else if (request == USBDEVFS_RESET) {
                resetDevice(c, client);
            } else {
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
            }
    }
    return TRUE;
}

void dropClient(EmuClient& c) {
    Emulation& e = emu();
    for (EmuUrb& u : c.waitingIn) g_object_unref(u.urb);
    for (EmuUrb& u : c.done) g_object_unref(u.urb);
    c.waitingIn.clear();
    c.done.clear();
    if (c.board != USB_INVALID_HANDLE) e.board->close(c.board);
    c.board = USB_INVALID_HANDLE;
}

// A closed usbfs file: its board handle closes (the board notices the host went away).
void forgetClient(UMockdevIoctlClient* client) {
    Emulation& e = emu();
    auto it = e.clients.find(client);
    if (it == e.clients.end()) return;
    if (it->second.device >= 0 && e.devices[it->second.device].printer) ++e.counters.closes;
    dropClient(it->second);
    e.clients.erase(it);
    g_signal_handlers_disconnect_by_func(client, reinterpret_cast<gpointer>(onConnectedChanged),
                                         nullptr);
    g_object_unref(client);
}

void onClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
    std::lock_guard<std::mutex> lock(emu().mu);
    forgetClient(client);
}

std::string deviceRecord(const EmuDevice& d) {
    char product[8];
    std::snprintf(product, sizeof product, "%02x%02x", d.product & 0xFF, d.product >> 8);
    char text[1024];
    std::snprintf(
        text, sizeof text,
        "P: %s\nN: bus/usb/%03u/%03u\nE: SUBSYSTEM=usb\nE: DRIVER=usb\n"
        "E: BUSNUM=%03u\nE: DEVNUM=%03u\nE: DEVNAME=%s\nE: DEVTYPE=usb_device\n"
        "A: busnum=%u\\n\nA: devnum=%u\\n\nA: idVendor=2408\\n\nA: idProduct=%04x\\n\n"
        "A: bConfigurationValue=1\\n\nA: speed=480\\n\nH: descriptors=%s%s%s0000%02x01%s\n",
        d.syspath().c_str(), d.bus, d.devnum, d.bus, d.devnum, d.devnode().c_str(), d.bus, d.devnum,
        d.product, DEVICE_DESCRIPTOR_HEAD, product, DEVICE_DESCRIPTOR_BCD,
        d.serial.empty() ? 0u : unsigned(SERIAL_STRING_INDEX), DEVICE_DESCRIPTOR_TAIL);
    return text;
}

// Attaches the handler to the node first, so an open right after the "add" event works.
// The device is marked present by the caller beforehand: no client can open it earlier.
bool plugIn(const EmuDevice& d, std::string* error) {
    Emulation& e = emu();
    GError* err = nullptr;
    if (!umockdev_testbed_attach_ioctl(e.testbed, d.devnode().c_str(), e.handler, &err) ||
        !umockdev_testbed_add_from_string(e.testbed, deviceRecord(d).c_str(), &err)) {
        if (error) *error = err ? err->message : "umockdev refused the device";
        if (err) g_error_free(err);
        return false;
    }
    return true;
}

void pullOut(const EmuDevice& d, bool wasPresent) {
    Emulation& e = emu();
    std::string syspath = "/sys" + d.syspath();
    if (wasPresent) umockdev_testbed_uevent(e.testbed, syspath.c_str(), "remove");
    umockdev_testbed_remove_device(e.testbed, syspath.c_str());
    umockdev_testbed_detach_ioctl(e.testbed, d.devnode().c_str(), nullptr);
}

}  // namespace

bool VpUsb_Start(const VpUsbOptions& options, std::string* error) {
    Emulation& e = emu();
    std::lock_guard<std::mutex> lock(e.mu);
    if (e.testbed) return true;
    if (!VPrinter_IsAttached()) {
        if (error) *error = "the virtual printer is not attached";
        return false;
    }
    e.board = UsbDriver_Get();
    e.options = options;
    e.counters = VpUsbCounters{};
    e.testbed = umockdev_testbed_new();
    if (!e.testbed) {
        if (error) *error = "umockdev cannot create a testbed";
        return false;
    }
    e.handler = umockdev_ioctl_base_new();
    g_signal_connect(e.handler, "handle-ioctl", G_CALLBACK(onIoctl), nullptr);
    g_signal_connect(e.handler, "client-vanished", G_CALLBACK(onClientVanished), nullptr);
    // Decoys of the same vendor sit on buses 1 and 3, the printer on bus 2, so the host
    // meets a decoy whichever end of the device list it starts from.
    e.devices.clear();
    if (options.decoys) e.devices.push_back({0x0004, 1, 1, false});
    e.devices.push_back({0x0003, 2, 1, true});
    e.devices.back().serial = VPrinter_GetModel().serial;
    if (options.decoys) e.devices.push_back({0x0103, 3, 1, false});
    for (EmuDevice& d : e.devices) {
        d.present = true;
        if (!plugIn(d, error)) return false;
    }
    return true;
}

void VpUsb_Stop() {
    Emulation& e = emu();
    UMockdevIoctlBase* handler = nullptr;
    UMockdevTestbed* testbed = nullptr;
    {
        std::lock_guard<std::mutex> lock(e.mu);
        if (!e.testbed) return;
        while (!e.clients.empty()) forgetClient(e.clients.begin()->first);
        handler = std::exchange(e.handler, nullptr);
        testbed = std::exchange(e.testbed, nullptr);
        e.devices.clear();
    }
    // Removing the testbed stops umockdev's worker, which may be waiting for the lock.
    g_object_unref(testbed);
    g_object_unref(handler);
}

std::string VpUsb_Root() {
    Emulation& e = emu();
    std::lock_guard<std::mutex> lock(e.mu);
    if (!e.testbed) return {};
    gchar* root = umockdev_testbed_get_root_dir(e.testbed);
    std::string r = root ? root : "";
    g_free(root);
    return r;
}

void VpUsb_Service() {
    Emulation& e = emu();
    enum { NOTHING, PULL_OUT, PLUG_IN } action = NOTHING;
    EmuDevice printer;
    size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(e.mu);
        if (!e.testbed) return;
        serveAllReplies();
        while (index < e.devices.size() && !e.devices[index].printer) ++index;
        if (index == e.devices.size()) return;
        EmuDevice& d = e.devices[index];
        if (e.unplugPending) {
            e.unplugPending = false;
            e.replugPending = e.options.replugAfterMs > 0;
            action = PULL_OUT;
        } else if (e.replugPending && Clock_Tick() - e.unpluggedAt >= e.options.replugAfterMs) {
            e.replugPending = false;
            ++d.devnum;  // a device plugged in again gets a new address
            d.present = true;
            d.inHalted = d.outHalted = false;
            action = PLUG_IN;
        }
        printer = d;
    }
    // umockdev's calls run without the lock: its worker thread may be waiting for it.
    if (action == PULL_OUT) pullOut(printer, true);
    if (action != PLUG_IN) return;
    bool plugged = plugIn(printer, nullptr);
    std::lock_guard<std::mutex> lock(e.mu);
    if (plugged)
        ++e.counters.replugs;
    else
        e.devices[index].present = false;
}

VpUsbCounters VpUsb_Counters() {
    Emulation& e = emu();
    std::lock_guard<std::mutex> lock(e.mu);
    return e.counters;
}

std::string VpUsb_CountersLine() {
    VpUsbCounters c = VpUsb_Counters();
    char line[512];
    std::snprintf(
        line, sizeof line,
        "opens=%u closes=%u decoy-opens=%u claims=%u bulk-out=%u bulk-out-bytes=%llu bulk-in=%u "
        "replies=%u discards=%u clear-halts=%u resets=%u unplugs=%u replugs=%u stalls=%u "
        "short-writes=%u string-reads=%u",
        c.opens, c.closes, c.decoyOpens, c.claims, c.bulkOutUrbs,
        static_cast<unsigned long long>(c.bulkOutBytes), c.bulkInUrbs, c.repliesDelivered,
        c.discards, c.clearHalts, c.resets, c.unplugs, c.replugs, c.stalls, c.shortWrites,
        c.stringReads);
    return line;
}
