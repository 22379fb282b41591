// SPDX-License-Identifier: Apache-2.0
// Printer USB access: device lookup, CMM/DATA framing, reply reassembly, resets, reconnection,
// the hung-call watchdog and the request/reply transaction.
#include "link/usb.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>

#include "diag/errors.h"
#include "diag/log.h"
#include "link/command.h"
#include "platform/bytes.h"
#include "platform/clock.h"

namespace {

UsbLinkState& usbState() { return OwnedState<UsbLinkState>::get(); }

// A write that went out whole counts even when its thread was left behind by the session.
void advanceSerial(uint16_t serial) {
    if (UsbLinkState* st = OwnedState<UsbLinkState>::find())
        st->transferSerial.store(static_cast<uint16_t>(serial + 1));
}

constexpr uint32_t CALL_HOLD_TRACE_MS = 100;
constexpr uint32_t CALL_OVERDUE_MS = 2000;
constexpr uint32_t ENUM_INDEX_LIMIT = 65536;  // a driver that never says "no more" ends here
constexpr int TRANSACT_EMPTY_REPLY_LIMIT = 200;

// DATA staging area of seven packet slots. One per thread: a transmit thread abandoned by
// Link_Stop may still be framing while the next job's thread frames its own data.
constexpr size_t STAGING_BYTES = USB_STAGING_SLOTS * USB_DATA_SLOT_BYTES;
thread_local std::unique_ptr<uint8_t[]> stagingArea;

uint8_t* staging() {
    if (!stagingArea) stagingArea = std::make_unique<uint8_t[]>(STAGING_BYTES);
    return stagingArea.get();
}

// The calling thread's abort flag (the transmit thread's "abandoned" flag), if any.
thread_local const std::atomic<bool>* threadAbort = nullptr;

bool aborted(const std::atomic<bool>* extra) {
    return (threadAbort && threadAbort->load()) || (extra && extra->load());
}

const UsbDriverBackend* drv() { return UsbDriver_Get(); }

bool isPrinterPath(const char* path) {
    std::string upper(path);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char* const kIds[2] = {"vid_2408", "pid_0003"};
    for (const char* id : kIds) {
        std::string want(id);
        for (char& c : want) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (upper.find(want) == std::string::npos) return false;
    }
    return true;
}

// A write or read I/O control with the call timing record kept around it.
bool timedIoctl(UsbHandle h, uint32_t code, const void* in, uint32_t inLen, void* out,
                uint32_t outLen, uint32_t* returned) {
    uint32_t start = Clock_Tick();
    usbState().callStartTick.store(start);
    usbState().callInProgress.store(true);
    bool ok = drv()->ioctl(h, code, in, inLen, out, outLen, returned);
    uint32_t took = Clock_Tick() - start;
    if (took > CALL_HOLD_TRACE_MS) Log_Trace("hold:%d\r\n", static_cast<int>(took));
    // A call that hung past its session's end has nobody left to tell.
    if (UsbLinkState* st = OwnedState<UsbLinkState>::find()) st->callInProgress.store(false);
    return ok;
}

uint16_t packetKind(uint32_t index, uint32_t count) {
    if (count == 1) return USB_PACKET_ONLY;
    if (index == 0) return USB_PACKET_FIRST;
    if (index == count - 1) return USB_PACKET_LAST;
    return USB_PACKET_MIDDLE;
}

uint16_t wordSum(const uint8_t* p, uint32_t words) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < words; ++i) sum += le::getU16(p, 2 * i);
    return static_cast<uint16_t>(sum);
}

struct PacketHeader {
    uint16_t stream, kind, serial, index, word11, count;
    uint32_t totalWords;
};

void putHeader(uint8_t* p, const PacketHeader& h) {
    for (int i = 0; i < 7; ++i) le::putU16(p, 2 * i, USB_PACKET_MAGIC[i]);
    le::putU16(p, 14, h.stream);
    le::putU16(p, 16, h.kind);
    le::putU16(p, 18, h.serial);
    le::putU16(p, 20, h.index);
    le::putU16(p, 22, h.word11);
    le::putU16(p, 24, h.count);
    le::putU16(p, 26, static_cast<uint16_t>(h.totalWords >> 16));
    le::putU16(p, 28, static_cast<uint16_t>(h.totalWords));
    le::putU16(p, 30, wordSum(p, 15));
}

// Copies the bytes of data words [firstWord, firstWord + words) that the buffer holds; an odd
// last byte travels in the low half of a zero-padded word.
void copyWords(uint8_t* dest, const uint8_t* src, uint32_t bytes, uint32_t firstWord,
               uint32_t words) {
    size_t from = static_cast<size_t>(firstWord) * 2;
    size_t want = static_cast<size_t>(words) * 2;
    size_t have = from < bytes ? std::min<size_t>(want, bytes - from) : 0;
    if (have) std::memcpy(dest, src + from, have);
    if (have < want) std::memset(dest + have, 0, want - have);
}

bool sendCmm(UsbHandle h, const uint8_t* buffer, uint32_t bytes) {
    uint32_t total = (bytes + 1) / 2;
    uint32_t count = (total + USB_CMM_DATA_WORDS - 1) / USB_CMM_DATA_WORDS;
    uint16_t serial = usbState().transferSerial.load();
    uint8_t pkt[USB_CMM_PACKET_WORDS * 2];
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t first = i * USB_CMM_DATA_WORDS;
        uint32_t words = std::min(USB_CMM_DATA_WORDS, total - first);
        putHeader(pkt,
                  {USB_STREAM_CMM, packetKind(i, count), serial, static_cast<uint16_t>(i),
                   static_cast<uint16_t>(USB_CMM_DATA_WORDS), static_cast<uint16_t>(count), total});
        std::memset(pkt + USB_HEADER_BYTES, 0, USB_CMM_DATA_WORDS * 2);
        copyWords(pkt + USB_HEADER_BYTES, buffer, bytes, first, words);
        le::putU16(pkt, 126, wordSum(pkt, 63));
        if (!Usb_Write(h, pkt, USB_CMM_PACKET_WORDS)) return false;
    }
    advanceSerial(serial);
    return true;
}

// Builds DATA packet `index` into its staging slot; returns its data words.
uint32_t buildDataPacket(uint8_t* slot, const uint8_t* buffer, uint32_t bytes, uint32_t total,
                         uint32_t index, uint32_t count, uint16_t serial) {
    uint32_t first = index * USB_DATA_PACKET_WORDS;
    uint32_t words = std::min(USB_DATA_PACKET_WORDS, total - first);
    putHeader(slot,
              {USB_STREAM_DATA, packetKind(index, count), serial, static_cast<uint16_t>(index),
               static_cast<uint16_t>(words - 1), static_cast<uint16_t>(count), total});
    copyWords(slot + USB_HEADER_BYTES, buffer, bytes, first, words);
    // The zero tail, and for a short packet the rest of its slot, so a full batch carries
    // nothing left over from an earlier transfer.
    uint32_t used = USB_HEADER_BYTES + words * 2;
    std::memset(slot + used, 0, USB_DATA_SLOT_BYTES - used);
    return words;
}

bool sendData(UsbHandle h, const uint8_t* buffer, uint32_t bytes) {
    uint32_t total = (bytes + 1) / 2;
    uint32_t count = (total + USB_DATA_PACKET_WORDS - 1) / USB_DATA_PACKET_WORDS;
    uint16_t serial = usbState().transferSerial.load();
    uint8_t* area = staging();
    uint32_t lastWords = 0;
    uint32_t index = 0;
    while (index < count) {
        // The swath buffer may be freed once the link has been abandoned: stop reading it.
        if (aborted(nullptr)) return false;
        uint8_t* slot = area + (index % USB_STAGING_SLOTS) * USB_DATA_SLOT_BYTES;
        lastWords = buildDataPacket(slot, buffer, bytes, total, index, count, serial);
        ++index;
        if (index % USB_STAGING_SLOTS == 0 &&
            !Usb_Write(h, area, static_cast<uint32_t>(STAGING_BYTES / 2))) {
            Log_Trace("数据发送异常:%d/%d\n", static_cast<int>(index), static_cast<int>(count));
            return false;
        }
    }
    uint32_t k = count % USB_STAGING_SLOTS;
    if (k != 0) {
        uint32_t words = (k - 1) * (USB_DATA_SLOT_BYTES / 2) + USB_HEADER_WORDS + lastWords;
        if (!Usb_Write(h, area, words)) {
            Log_Trace("Last数据发送异常:%d/%d\n", static_cast<int>(index), static_cast<int>(count));
            return false;
        }
    }
    advanceSerial(serial);
    return true;
}

enum PacketPlace { PLACE_UNKNOWN, PLACE_FIRST, PLACE_MIDDLE, PLACE_LAST, PLACE_ONLY };

PacketPlace placeOf(uint16_t kind) {
    switch (kind) {
        case USB_PACKET_FIRST:
            return PLACE_FIRST;
        case USB_PACKET_MIDDLE:
            return PLACE_MIDDLE;
        case USB_PACKET_LAST:
            return PLACE_LAST;
        case USB_PACKET_ONLY:
            return PLACE_ONLY;
        default:
            return PLACE_UNKNOWN;
    }
}

// Body bytes a packet claims, cut to what the read actually returned: word 11 comes from the
// device and must never make us copy bytes that did not arrive.
uint32_t bodyBytes(const uint8_t* pkt, uint32_t returned) {
    uint32_t claimed = 2u * le::getU16(pkt, 22);
    uint32_t got = std::min<uint32_t>(returned, USB_READ_PACKET_SIZE);
    uint32_t held = got > USB_HEADER_BYTES ? got - USB_HEADER_BYTES : 0;
    if (claimed > held) {
        Log_Trace("Rx包长度异常:%d>%d\n", static_cast<int>(claimed), static_cast<int>(held));
        return held;
    }
    return claimed;
}

void fillRequest(uint8_t block[64], UsbSubCommand sub, const uint8_t* data, size_t len) {
    std::memset(block, 0, 64);
    le::putU32(block, 0, static_cast<uint32_t>(CommandNumber::CMD_TRANSACTION));
    le::putU16(block, 4, static_cast<uint16_t>(sub));
    size_t n = std::min(len, USB_TRANSACT_DATA_MAX);
    if (data && n) std::memcpy(block + 6, data, n);
}

enum TransactOutcome { TX_OK, TX_SEND_FAILED, TX_READ_FAILED, TX_REFUSED };

TransactOutcome exchange(UsbHandle h, UsbSubCommand sub, const uint8_t* data, size_t len,
                         uint8_t* reply, size_t replyLen) {
    uint8_t block[64];
    fillRequest(block, sub, data, len);
    if (!Usb_Send(h, block, sizeof block, USB_SEND_CMM)) return TX_SEND_FAILED;
    uint8_t buffer[USB_TRANSACT_REPLY_BUFFER];
    for (int empty = 0; empty < TRANSACT_EMPTY_REPLY_LIMIT; ++empty) {
        uint32_t got = 0;
        if (!Usb_Read(h, buffer, sizeof buffer, &got)) return TX_READ_FAILED;
        le::Reader r{buffer, got};
        uint16_t answered = r.u16(0), status = r.u16(2);
        if (answered == static_cast<uint16_t>(sub) && status == 1) {
            // The data must have arrived in full; stale buffer bytes are never handed out.
            if (replyLen > 0 && !r.has(8, replyLen)) return TX_READ_FAILED;
            if (replyLen > 0 && reply) std::memcpy(reply, buffer + 8, replyLen);
            return TX_OK;
        }
        if (answered != 0 || status != 0) return TX_REFUSED;
    }
    return TX_READ_FAILED;
}

// What the console tells the operator of a failed transaction, in the interface language.
UsbTransactResult failed(UsbTransactOutcome outcome, const char* chinese, const char* english) {
    return {outcome, {isChineseUi() ? chinese : english, "OK"}};
}

}  // namespace

bool Usb_FindPrinter(std::string* path) {
    const UsbDriverBackend* d = drv();
    if (!d->enumBegin()) return false;
    bool found = false;
    for (uint32_t index = 0; index < ENUM_INDEX_LIMIT && !found; ++index) {
        char text[256] = {};
        int r = d->enumPath(index, text, sizeof text);
        if (r == 0) break;
        text[sizeof text - 1] = '\0';
        if (r > 0 && isPrinterPath(text)) {
            *path = text;
            found = true;
        }
    }
    d->enumEnd();
    return found;
}

bool Usb_Open(UsbHandle* out) {
    const UsbDriverBackend* d = drv();
    *out = USB_INVALID_HANDLE;
    if (!d->enumBegin()) {
        Log_Trace("ERROR   -   SetupDiGetClassDevs()");
        Log_Trace("USB设备未连接\n");
        return false;
    }
    UsbHandle found = USB_INVALID_HANDLE;
    for (uint32_t index = 0; index < ENUM_INDEX_LIMIT; ++index) {
        char path[256] = {};
        int r = d->enumPath(index, path, sizeof path);
        if (r == 0) {
            Log_Trace("ERR,未发现指定USB设备\n");
            Log_Trace("打印机设备未连接\n");
            break;
        }
        if (r < 0) continue;
        path[sizeof path - 1] = '\0';
        UsbHandle h = d->open(path);
        if (h == USB_INVALID_HANDLE) continue;
        if (isPrinterPath(path)) {
            found = h;
            break;
        }
        d->close(h);
    }
    d->enumEnd();
    *out = found;
    if (found == USB_INVALID_HANDLE) return false;
    Log_Trace("连接成功\n");
    return true;
}

void Usb_Close(UsbHandle* h) {
    if (*h != USB_INVALID_HANDLE) drv()->close(*h);
    *h = USB_INVALID_HANDLE;
}

bool Usb_Write(UsbHandle h, const uint8_t* buffer, uint32_t words) {
    uint32_t in = 0, returned = 0;
    // The driver's write control takes the packet bytes in its "output" buffer.
    bool ok = timedIoctl(h, USB_IOCTL_WRITE_PACKETS, &in, sizeof in, const_cast<uint8_t*>(buffer),
                         words * 2, &returned);
    if (!ok) {
        int err = static_cast<int>(drv()->lastError());
        Log_Trace("Usb发送包错误:%d\n", err);
        Log_Trace("Tx error:%d\n", err);
    }
    return ok;
}

bool Usb_Read(UsbHandle h, uint8_t* dest, uint32_t capacity, uint32_t* received) {
    if (received) *received = 0;
    uint32_t offset = 0, filled = 0;
    for (;;) {
        uint8_t pkt[USB_READ_PACKET_SIZE] = {};
        uint32_t in = 2, got = 0;
        if (!timedIoctl(h, USB_IOCTL_READ_PACKET, &in, sizeof in, pkt, sizeof pkt, &got)) {
            int err = static_cast<int>(drv()->lastError());
            Log_Trace("Rx error:%d\n", err);
            Log_Trace("Rx error:%d\n", err);
            return false;
        }
        uint16_t kind = le::getU16(pkt, 16);
        PacketPlace place = placeOf(kind);
        if (place == PLACE_UNKNOWN) {
            Log_Trace("usb接收到不可识别数据包:%X\n", kind);
            return true;  // nothing usable arrived: *received stays 0
        }
        if (place == PLACE_FIRST || place == PLACE_ONLY) offset = filled = 0;
        uint32_t bytes = bodyBytes(pkt, got);
        if (static_cast<uint64_t>(offset) + bytes < capacity) {
            std::memcpy(dest + offset, pkt + USB_HEADER_BYTES, bytes);
            if (offset == filled) filled = offset + bytes;
        } else {
            Log_Trace("REC溢出\r\n");
        }
        if (place == PLACE_LAST || place == PLACE_ONLY) {
            if (received) *received = filled;
            return true;
        }
        offset += bytes;
    }
}

bool Usb_Send(UsbHandle h, const uint8_t* buffer, uint32_t bytes, UsbSendType type) {
    if (type == USB_SEND_CMM) return sendCmm(h, buffer, bytes);
    if (type == USB_SEND_DATA) return sendData(h, buffer, bytes);
    Log_Trace("Tx未定义数据类型:%d\r\n", static_cast<int>(type));
    return true;
}

bool Usb_PipeReset(uint8_t code) {
    UsbHandle h = USB_INVALID_HANDLE;
    bool ok = false;
    if (Usb_Open(&h)) {
        uint8_t in[2] = {code, 0};
        uint8_t out[128];
        uint32_t returned = 0;
        ok = drv()->ioctl(h, USB_IOCTL_PIPE_RESET, in, sizeof in, out, sizeof out, &returned);
        Usb_Close(&h);
    }
    if (code == USB_PIPE_RESET_HARD)
        Log_Trace("硬复位\n");
    else
        Log_Trace(ok ? "PIPE复位成功\n" : "PIPE复位失败\n");
    return ok;
}

bool Usb_SoftReset() {
    UsbHandle h = USB_INVALID_HANDLE;
    bool ok = false;
    if (Usb_Open(&h)) {
        uint32_t returned = 0;
        ok = drv()->ioctl(h, USB_IOCTL_DEVICE_RESET, nullptr, 0, nullptr, 0, &returned);
        Usb_Close(&h);
    }
    Log_Trace(ok ? "软复位成功\r\n" : "软复位失败\r\n");
    return ok;
}

bool Usb_Reconnect(UsbHandle* h, int attempt, const std::atomic<bool>* abort) {
    Log_Trace("开始重新连接...\r\n");
    Usb_Close(h);
    int failures = 0;
    bool resetDone = false;
    for (;;) {
        if (aborted(abort)) return false;
        if (Usb_Open(h)) {
            Log_Trace("连接成功\r\n");
            if (resetDone || attempt <= 6) return true;
            // Late attempts: the board may be wedged, so hard-reset it once and open again.
            Usb_Close(h);
            Clock_Sleep(2000);
            Usb_PipeReset(USB_PIPE_RESET_HARD);
            Clock_Sleep(2000);
            resetDone = true;
            failures = 0;
            continue;
        }
        if (failures == 10) {
            Log_Trace("XXXX连接失败\r\n");
            return false;
        }
        ++failures;
        Log_Trace("第%d连接失败(error code:%d),继续尝试连接...\n", failures,
                  static_cast<int>(drv()->lastError()));
        Clock_Sleep(1000 + 500 * static_cast<uint32_t>(failures));
    }
}

bool Usb_CallOverdue() {
    UsbLinkState& st = usbState();
    if (!st.callInProgress.load()) return false;
    uint32_t now = Clock_Tick();
    uint32_t start = st.callStartTick.load();
    uint32_t elapsed = now >= start ? now - start : now;
    if (elapsed < CALL_OVERDUE_MS) return false;
    st.callStartTick.store(now);
    Log_Trace("应答等待超时:%dms\n", static_cast<int>(CALL_OVERDUE_MS));
    return true;
}

UsbTransactResult Usb_Transact(UsbSubCommand sub, const uint8_t* data, size_t len, uint8_t* reply,
                               size_t replyLen) {
    UsbHandle h = USB_INVALID_HANDLE;
    if (!Usb_Open(&h))
        return failed(USB_TX_NO_DEVICE, "连接USB设备失败!",
                      "The printer USB port is connected failed!");
    TransactOutcome outcome = exchange(h, sub, data, len, reply, replyLen);
    Usb_Close(&h);
    switch (outcome) {
        case TX_OK:
            return {USB_TX_DONE, {}};
        case TX_SEND_FAILED:
            return failed(USB_TX_SEND_FAILED, "USB设备已连接，但发送指令失败!",
                          "USB is connected, but command sent failed!");
        case TX_READ_FAILED:
            return failed(USB_TX_READ_FAILED, "USB设备已连接，但无法获取数据!",
                          "USB is connected, but data sent failed!");
        default:
            return {USB_TX_REFUSED, {}};
    }
}

bool Usb_TransactOnLink(UsbHandle link, UsbSubCommand sub, const uint8_t* data, size_t len,
                        uint8_t* reply, size_t replyLen) {
    if (link == USB_INVALID_HANDLE) return false;
    return exchange(link, sub, data, len, reply, replyLen) == TX_OK;
}

void Usb_SetThreadAbort(const std::atomic<bool>* flag) { threadAbort = flag; }
