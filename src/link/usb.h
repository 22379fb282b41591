// Printer USB access: finding and opening the board, packet framing, reply reassembly, resets,
// reconnection, the hung-call watchdog and the synchronous request/reply transaction.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

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

// Stream types of Usb_Send.
enum UsbSendType { USB_SEND_CMM = 0, USB_SEND_DATA = 1 };

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

// Transaction sub-commands and sizes.
constexpr uint16_t USB_SUB_READ_PARAMS = 64;
constexpr uint16_t USB_SUB_WRITE_PARAMS = 65;
constexpr size_t USB_TRANSACT_DATA_MAX = 54;
constexpr size_t USB_TRANSACT_REPLY_BUFFER = 1500;
constexpr uint32_t USB_PIPE_RESET_HARD = 0xFF;

// Finds and opens the printer. On failure *out is USB_INVALID_HANDLE.
bool Usb_Open(UsbHandle* out);
// Closes *h when valid and stores the invalid value.
void Usb_Close(UsbHandle* h);
// One write of `words` 16-bit words.
bool Usb_Write(UsbHandle h, const uint8_t* buffer, uint32_t words);
// Reads packets until a transfer is complete, gathering their bodies in dest. When received is
// given it gets the number of body bytes gathered by this call (0 when nothing usable came).
bool Usb_Read(UsbHandle h, uint8_t* dest, uint32_t capacity, uint32_t* received = nullptr);
// Frames buffer as a CMM (type 0) or DATA (type 1) transfer.
bool Usb_Send(UsbHandle h, const uint8_t* buffer, uint32_t bytes, int type);
bool Usb_PipeReset(uint8_t code);
bool Usb_SoftReset();
// Closes and re-opens *h with retries; attempt counts reconnections of one transmission from 1.
// A raised abort flag ends the retries early with false (the link was abandoned).
bool Usb_Reconnect(UsbHandle* h, int attempt, const std::atomic<bool>* abort = nullptr);
// True once per 2000 ms while one device call has been in progress for 2000 ms or more.
bool Usb_CallOverdue();
// Request/reply on a handle of its own, with message boxes on failure.
bool Usb_Transact(uint16_t sub, const uint8_t* data, size_t len, uint8_t* reply, size_t replyLen);
// How a transaction ended. Only USB_TX_NO_DEVICE says for certain that the printer got nothing;
// after the others the request may have reached it and been carried out.
enum UsbTransactOutcome {
    USB_TX_DONE,         // the printer answered the sub-command with "done"
    USB_TX_NO_DEVICE,    // no printer to open: nothing was sent
    USB_TX_SEND_FAILED,  // the request did not go out whole
    USB_TX_READ_FAILED,  // no complete reply came
    USB_TX_REFUSED,      // the reply was to another sub-command or not "done"
};
// Usb_Transact with the outcome told apart (the same message boxes).
UsbTransactOutcome Usb_TransactOutcome(uint16_t sub, const uint8_t* data, size_t len, uint8_t* reply,
                                       size_t replyLen);
// The same exchange on the link's open handle; silent, never closes it.
bool Usb_TransactOnLink(UsbHandle link, uint16_t sub, const uint8_t* data, size_t len,
                        uint8_t* reply, size_t replyLen);

// The calling thread's abort flag: once raised, DATA framing and reconnection retries of that
// thread stop early with false (set by the transmit thread to its "abandoned" flag).
void Usb_SetThreadAbort(const std::atomic<bool>* flag);
