// SPDX-License-Identifier: Apache-2.0
// Printer USB access: finding and opening the board, packet framing, reply reassembly, resets,
// reconnection, the hung-call watchdog and the synchronous request/reply transaction.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "diag/errors.h"
#include "platform/owned_state.h"
#include "platform/usb_driver.h"

// The USB link's state of one session. Any thread (the dialog thread's transactions and the
// transmit thread's transfers share the serial; the dialog thread's watchdog reads the timing).
struct UsbLinkState {
    // One serial number for every transfer of the program; advanced only after a complete write.
    std::atomic<uint16_t> transferSerial{1};
    // Call timing record: start tick and in-call flag of the write or read in progress.
    std::atomic<uint32_t> callStartTick{0};
    std::atomic<bool> callInProgress{false};
};

// Stream types of Usb_Send. The enumerators keep their wire names, usable unqualified; the
// value becomes a number only where a packet header is written.
enum class UsbSendType : uint8_t { USB_SEND_CMM = 0, USB_SEND_DATA = 1 };
using enum UsbSendType;

// Packet kinds (header word 8).
constexpr uint16_t USB_PACKET_ONLY = 0xF008;
constexpr uint16_t USB_PACKET_FIRST = 0xF001;
constexpr uint16_t USB_PACKET_MIDDLE = 0xF004;
constexpr uint16_t USB_PACKET_LAST = 0xF002;

// Stream types (header word 7).
constexpr uint16_t USB_STREAM_CMM = 0x0BAA;
constexpr uint16_t USB_STREAM_DATA = 0x85B5;

constexpr uint32_t USB_HEADER_WORDS = 16;
constexpr uint32_t USB_HEADER_BYTES = 32;
constexpr uint32_t USB_CMM_DATA_WORDS = 47;
constexpr uint32_t USB_CMM_PACKET_WORDS = 64;
constexpr uint32_t USB_DATA_PACKET_WORDS = 4064;
constexpr uint32_t USB_DATA_SLOT_BYTES = 8192;
constexpr uint32_t USB_STAGING_SLOTS = 7;
constexpr uint32_t USB_REPLY_BODY_MAX = USB_READ_PACKET_SIZE - USB_HEADER_BYTES;  // 96
constexpr uint16_t USB_PACKET_MAGIC[7] = {0xABCD, 0xEC38, 0xB92B, 0x7CAE, 0x9899, 0xC2F0, 0xDC35};

// Transaction sub-commands (request word 2 and reply word 0).
enum class UsbSubCommand : uint16_t { USB_SUB_READ_PARAMS = 64, USB_SUB_WRITE_PARAMS = 65 };
using enum UsbSubCommand;
// Transaction sizes.
constexpr size_t USB_TRANSACT_DATA_MAX = 54;
constexpr size_t USB_TRANSACT_REPLY_BUFFER = 1500;
constexpr uint32_t USB_PIPE_RESET_HARD = 0xFF;

// Threads and contract words: docs/ARCHITECTURE.md. A handle is used by one thread at a time
// (the job's or the transmit thread's, or the dialog's for a transaction of its own).

// Enumerates the driver's interfaces and opens the first whose path names the printer
// (vid_2408, pid_0003). \context dialog, job, transmit \blocks the driver's enumeration and
// open \errors false with *out USB_INVALID_HANDLE; "USB设备未连接" or "打印机设备未连接" traced.
bool Usb_Open(UsbHandle* out);
// The interface path of the printer Usb_Open would open (the first whose path names it), without
// opening anything: what tells one printer from another. \context dialog \blocks the
// driver's enumeration \errors false when no printer is there; nothing traced.
bool Usb_FindPrinter(std::string* path);
// Closes *h when valid and stores the invalid value. \context the handle's owner \nonblocking
void Usb_Close(UsbHandle* h);
// One write of `words` 16-bit words (the packets as framed). \context the handle's owner
// \blocks the driver's write; over 100 ms is traced "hold:" \errors false, "Usb发送包错误"
// and "Tx error" traced with the driver's error code.
bool Usb_Write(UsbHandle h, const uint8_t* buffer, uint32_t words);
// Reads packets until a transfer is complete, gathering their bodies in dest (bytes beyond
// `capacity` are dropped, traced "REC溢出"). When received is given it gets the number of body
// bytes gathered by this call (0 when nothing usable came). \context the handle's owner
// \blocks one driver read per packet \errors false on a failed read ("Rx error" traced); an
// unknown packet kind is true with nothing received.
bool Usb_Read(UsbHandle h, uint8_t* dest, uint32_t capacity, uint32_t* received = nullptr);
// Frames buffer as a CMM or DATA transfer under the program's serial number, which advances
// only when the whole transfer went out. DATA goes in batches of seven packets from the
// calling thread's own staging area. \context the handle's owner \blocks USB writes
// \errors false on a failed write, or when the calling thread's abort flag rises between
// packets; an unknown type sends nothing and is true ("Tx未定义数据类型" traced).
bool Usb_Send(UsbHandle h, const uint8_t* buffer, uint32_t bytes, UsbSendType type);
// Resets the board's pipes (code USB_PIPE_RESET_HARD: a hard reset) on a handle of its own.
// \context dialog, job, transmit \blocks open, one I/O control, close \errors false when the
// printer cannot be opened or refuses; traced either way.
bool Usb_PipeReset(uint8_t code);
// Resets the device on a handle of its own. \context job (the link stop) \blocks open, one I/O
// control, close \errors false; "软复位成功"/"软复位失败" traced.
bool Usb_SoftReset();
// Closes and re-opens *h with retries; attempt counts reconnections of one transmission from 1;
// from attempt 7 on a successful open is followed by a hard pipe reset and a second open.
// \context transmit \blocks the clock (1.5 s to 6 s between tries, up to 11 tries, 2 s around a
// hard reset) and USB \errors false after the retries, or at once when the abort flag (or the
// thread's own) rises: the link was abandoned.
bool Usb_Reconnect(UsbHandle* h, int attempt, const std::atomic<bool>* abort = nullptr);
// True once per 2000 ms while one device call has been in progress for 2000 ms or more
// ("应答等待超时:2000ms" traced). \threadsafe \nonblocking
bool Usb_CallOverdue();
// How a transaction ended. Only USB_TX_NO_DEVICE says for certain that the printer got nothing;
// after the others the request may have reached it and been carried out.
enum UsbTransactOutcome {
    USB_TX_DONE,         // the printer answered the sub-command with "done"
    USB_TX_NO_DEVICE,    // no printer to open: nothing was sent
    USB_TX_SEND_FAILED,  // the request did not go out whole
    USB_TX_READ_FAILED,  // no complete reply came
    USB_TX_REFUSED,      // the reply was to another sub-command or not "done"
};
// A transaction's outcome and what the operator is to be told of it: for no device, a failed
// send and a failed read the text of an "OK" box in the interface language ("The printer USB
// port is connected failed!", "USB is connected, but command sent failed!", "USB is
// connected, but data sent failed!"); nothing for a refusal. True when done.
struct UsbTransactResult {
    UsbTransactOutcome outcome = USB_TX_NO_DEVICE;
    Reason reason;
    explicit operator bool() const { return outcome == USB_TX_DONE; }
};
// Request/reply on a handle of its own, opened and closed here: writes the 64-byte request of
// `sub` with at most 54 bytes of data, then reads until the printer answers that sub-command
// (up to 200 empty replies are skipped); on "done" copies replyLen bytes of its data to reply.
// Opens no box: the caller reports the reason. \context dialog, never during a job (it opens
// the printer a second time) \blocks USB \errors the outcome and reason above.
UsbTransactResult Usb_Transact(UsbSubCommand sub, const uint8_t* data, size_t len, uint8_t* reply,
                               size_t replyLen);
// The same exchange on an open handle (the link's, or one of the caller's); never closes it.
// \context job (before the transmit thread sends anything), dialog \blocks USB
// \errors false when the handle is invalid, a write or read failed, the reply was a refusal
// or its data came short (reply then untouched); no reason, nothing traced.
bool Usb_TransactOnLink(UsbHandle link, UsbSubCommand sub, const uint8_t* data, size_t len,
                        uint8_t* reply, size_t replyLen);

// The calling thread's abort flag: once raised, DATA framing and reconnection retries of that
// thread stop early with false (set by the transmit thread to its "abandoned" flag; nullptr
// clears it). \context the calling thread, for itself \nonblocking
void Usb_SetThreadAbort(const std::atomic<bool>* flag);
