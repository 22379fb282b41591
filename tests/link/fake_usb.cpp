// SPDX-License-Identifier: Apache-2.0
// A scripted USB driver for the link tests.
#include "fake_usb.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "link/usb.h"
#include "platform/bytes.h"

namespace fake_usb {
namespace {

struct State {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::string> paths{PRINTER_PATH};
    bool enumFails = false;
    int failOpens = 0, failWrites = 0, failReads = 0;
    uint32_t lastError = 31;
    bool hangNext = false, released = false, aborted = false;
    std::deque<Bytes> packets;
    std::function<std::vector<Bytes>(const Bytes&)> responder;
    std::vector<Bytes> writes;
    uint64_t dataBytes = 0;
    std::vector<Bytes> cmmBlocks;
    Counters counters;
    std::set<UsbHandle> open;
    UsbHandle nextHandle = 100;
    std::vector<std::string> errors;
    // Transfer being received.
    Bytes cmmData;
    int expectIndex = 0;
    uint16_t transferSerial = 0;
    bool inTransfer = false;
};

State& st() {
    static State s;
    return s;
}

uint16_t sum(const uint8_t* p, int words) {
    uint32_t s = 0;
    for (int i = 0; i < words; ++i) s += le::getU16(p, 2 * i);
    return static_cast<uint16_t>(s);
}

void fault(State& s, const std::string& what) { s.errors.push_back(what); }

// Checks one packet header against the transfer in progress; true when it ends the transfer.
bool checkHeader(State& s, const uint8_t* p, uint16_t stream) {
    for (int i = 0; i < 7; ++i)
        if (le::getU16(p, 2 * i) != USB_PACKET_MAGIC[i]) fault(s, "magic");
    if (le::getU16(p, 14) != stream) fault(s, "stream");
    if (le::getU16(p, 30) != sum(p, 15)) fault(s, "header checksum");
    uint16_t kind = le::getU16(p, 16), index = le::getU16(p, 20), count = le::getU16(p, 24);
    if (index != s.expectIndex) fault(s, "index");
    if (s.inTransfer && le::getU16(p, 18) != s.transferSerial) fault(s, "serial changed");
    s.transferSerial = le::getU16(p, 18);
    s.inTransfer = true;
    uint16_t want = count == 1           ? USB_PACKET_ONLY
                    : index == 0         ? USB_PACKET_FIRST
                    : index + 1 == count ? USB_PACKET_LAST
                                         : USB_PACKET_MIDDLE;
    if (kind != want) fault(s, "kind");
    ++s.expectIndex;
    bool last = kind == USB_PACKET_ONLY || kind == USB_PACKET_LAST;
    if (last) {
        s.expectIndex = 0;
        s.inTransfer = false;
    }
    return last;
}

void takeCmm(State& s, const Bytes& w) {
    const uint8_t* p = w.data();
    if (le::getU16(p, 126) != sum(p, 63)) fault(s, "packet checksum");
    if (le::getU16(p, 22) != 47) fault(s, "cmm word 11");
    uint32_t total = (static_cast<uint32_t>(le::getU16(p, 26)) << 16) | le::getU16(p, 28);
    uint32_t have = static_cast<uint32_t>(s.cmmData.size()) / 2;
    uint32_t words = std::min<uint32_t>(47, total - std::min(total, have));
    s.cmmData.insert(s.cmmData.end(), p + 32, p + 32 + 2 * words);
    if (checkHeader(s, p, USB_STREAM_CMM)) {
        s.cmmBlocks.push_back(s.cmmData);
        if (s.responder)
            for (auto& pkt : s.responder(s.cmmData)) s.packets.push_back(pkt);
        s.cmmData.clear();
    }
}

void takeData(State& s, const Bytes& w) {
    size_t off = 0;
    while (off + 32 <= w.size()) {
        const uint8_t* p = w.data() + off;
        uint32_t words = le::getU16(p, 22) + 1u;
        if (off + 32 + 2 * words > w.size()) fault(s, "data packet cut");
        checkHeader(s, p, USB_STREAM_DATA);
        off += USB_DATA_SLOT_BYTES;
    }
}

void record(State& s, const Bytes& w) {
    s.writes.push_back(w);
    s.dataBytes += w.size();
    if (w.size() < 32) {
        fault(s, "short write");
        return;
    }
    if (le::getU16(w.data(), 14) == USB_STREAM_CMM) {
        if (w.size() != 128) fault(s, "cmm write size");
        takeCmm(s, w);
    } else {
        takeData(s, w);
    }
}

bool enumBegin() {
    State& s = st();
    std::lock_guard<std::mutex> l(s.m);
    ++s.counters.enumerations;
    return !s.enumFails;
}

int enumPath(uint32_t index, char* path, size_t cap) {
    State& s = st();
    std::lock_guard<std::mutex> l(s.m);
    if (index >= s.paths.size()) return 0;
    if (s.paths[index] == "<detail-fail>") return -1;
    std::snprintf(path, cap, "%s", s.paths[index].c_str());
    return 1;
}

void enumEnd() {}

UsbHandle open(const char* path) {
    State& s = st();
    std::lock_guard<std::mutex> l(s.m);
    if (std::strstr(path, "pid_0003") && s.failOpens > 0) {
        --s.failOpens;
        return USB_INVALID_HANDLE;
    }
    ++s.counters.opens;
    UsbHandle h = s.nextHandle++;
    s.open.insert(h);
    return h;
}

void close(UsbHandle h) {
    State& s = st();
    std::lock_guard<std::mutex> l(s.m);
    ++s.counters.closes;
    s.open.erase(h);
    s.cv.notify_all();
}

bool readPacket(State& s, std::unique_lock<std::mutex>& l, UsbHandle h, void* out, uint32_t outLen,
                uint32_t* returned) {
    ++s.counters.reads;
    if (s.hangNext) {
        s.hangNext = false;
        s.cv.wait(l, [&] { return s.released || s.aborted || !s.open.count(h); });
        bool abortedNow = s.aborted;
        s.released = s.aborted = false;
        if (abortedNow || !s.open.count(h)) return false;
    }
    if (s.failReads > 0) {
        --s.failReads;
        return false;
    }
    if (s.packets.empty()) return false;  // nothing to answer: the driver times out
    Bytes p = s.packets.front();
    s.packets.pop_front();
    size_t n = std::min<size_t>(p.size(), outLen);
    std::memcpy(out, p.data(), n);
    if (returned) *returned = static_cast<uint32_t>(n);
    return true;
}

bool ioctl(UsbHandle h, uint32_t code, const void*, uint32_t, void* out, uint32_t outLen,
           uint32_t* returned) {
    State& s = st();
    std::unique_lock<std::mutex> l(s.m);
    if (!s.open.count(h)) return false;
    switch (code) {
        case USB_IOCTL_WRITE_PACKETS:
            if (s.failWrites > 0) {
                --s.failWrites;
                return false;
            }
            record(s, Bytes(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + outLen));
            return true;
        case USB_IOCTL_READ_PACKET:
            return readPacket(s, l, h, out, outLen, returned);
        case USB_IOCTL_PIPE_RESET:
            // Like the real driver, a pipe reset aborts the transfer pending on the pipe.
            ++s.counters.pipeResets;
            s.aborted = true;
            s.cv.notify_all();
            return true;
        case USB_IOCTL_DEVICE_RESET:
            ++s.counters.softResets;
            return true;
        default:
            return false;
    }
}

uint32_t lastError() {
    State& s = st();
    std::lock_guard<std::mutex> l(s.m);
    return s.lastError;
}

const UsbDriverBackend fakeDriver{
    .enumBegin = enumBegin,
    .enumPath = enumPath,
    .enumEnd = enumEnd,
    .open = open,
    .close = close,
    .ioctl = ioctl,
    .serialNumber = nullptr,  // no serial numbers
    .lastError = lastError,
};

}  // namespace

void install() {
    State& s = st();
    {
        std::lock_guard<std::mutex> l(s.m);
        s.paths = {PRINTER_PATH};
        s.enumFails = false;
        s.failOpens = s.failWrites = s.failReads = 0;
        s.lastError = 31;
        s.hangNext = s.released = s.aborted = false;
        s.packets.clear();
        s.responder = nullptr;
        s.open.clear();
    }
    clearRecords();
    UsbDriver_Install(&fakeDriver);
}

void uninstall() {
    release();
    UsbDriver_Install(nullptr);
    std::lock_guard<std::mutex> l(st().m);
    st().responder = nullptr;
}

void setPaths(const std::vector<std::string>& paths) {
    std::lock_guard<std::mutex> l(st().m);
    st().paths = paths;
}
void setEnumFails(bool fails) {
    std::lock_guard<std::mutex> l(st().m);
    st().enumFails = fails;
}
void failOpens(int count) {
    std::lock_guard<std::mutex> l(st().m);
    st().failOpens = count;
}
void failWrites(int count) {
    std::lock_guard<std::mutex> l(st().m);
    st().failWrites = count;
}
void failReads(int count) {
    std::lock_guard<std::mutex> l(st().m);
    st().failReads = count;
}
void setLastError(uint32_t code) {
    std::lock_guard<std::mutex> l(st().m);
    st().lastError = code;
}
void hangNextRead() {
    std::lock_guard<std::mutex> l(st().m);
    st().hangNext = true;
}
void release() {
    std::lock_guard<std::mutex> l(st().m);
    st().released = true;
    st().cv.notify_all();
}
void queuePacket(const Bytes& packet) {
    std::lock_guard<std::mutex> l(st().m);
    st().packets.push_back(packet);
}
void setResponder(std::function<std::vector<Bytes>(const Bytes&)> responder) {
    std::lock_guard<std::mutex> l(st().m);
    st().responder = std::move(responder);
}
std::vector<Bytes> writes() {
    std::lock_guard<std::mutex> l(st().m);
    return st().writes;
}
uint64_t dataBytesWritten() {
    std::lock_guard<std::mutex> l(st().m);
    return st().dataBytes;
}
std::vector<Bytes> cmmBlocks() {
    std::lock_guard<std::mutex> l(st().m);
    return st().cmmBlocks;
}
Counters counters() {
    std::lock_guard<std::mutex> l(st().m);
    return st().counters;
}
void clearRecords() {
    State& s = st();
    std::lock_guard<std::mutex> l(s.m);
    s.writes.clear();
    s.dataBytes = 0;
    s.cmmBlocks.clear();
    s.counters = Counters{};
    s.errors.clear();
    s.cmmData.clear();
    s.expectIndex = 0;
    s.inTransfer = false;
}
std::vector<std::string> protocolErrors() {
    std::lock_guard<std::mutex> l(st().m);
    return st().errors;
}

Bytes replyPacket(uint16_t kind, uint16_t words, const Bytes& body) {
    Bytes p(32 + std::min<size_t>(body.size(), 96), 0);
    for (int i = 0; i < 7; ++i) le::putU16(p.data(), 2 * i, USB_PACKET_MAGIC[i]);
    le::putU16(p.data(), 14, USB_STREAM_CMM);
    le::putU16(p.data(), 16, kind);
    le::putU16(p.data(), 22, words);
    std::copy(body.begin(), body.begin() + (p.size() - 32), p.begin() + 32);
    return p;
}

std::vector<Bytes> replyPackets(const Bytes& body) {
    std::vector<Bytes> out;
    size_t count = std::max<size_t>(1, (body.size() + 95) / 96);
    for (size_t i = 0; i < count; ++i) {
        size_t from = i * 96, n = std::min<size_t>(96, body.size() - from);
        uint16_t kind = count == 1       ? USB_PACKET_ONLY
                        : i == 0         ? USB_PACKET_FIRST
                        : i + 1 == count ? USB_PACKET_LAST
                                         : USB_PACKET_MIDDLE;
        out.push_back(replyPacket(kind, static_cast<uint16_t>((n + 1) / 2),
                                  Bytes(body.begin() + from, body.begin() + from + n)));
    }
    return out;
}

Bytes replyBody(uint16_t command, uint16_t status, uint16_t w4, uint16_t w6, const Bytes& extra) {
    Bytes b(8, 0);
    le::putU16(b.data(), 0, command);
    le::putU16(b.data(), 2, status);
    le::putU16(b.data(), 4, w4);
    le::putU16(b.data(), 6, w6);
    b.insert(b.end(), extra.begin(), extra.end());
    return b;
}

}  // namespace fake_usb
