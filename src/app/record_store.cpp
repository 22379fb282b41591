// SPDX-License-Identifier: Apache-2.0
// The one way the console's record is read at start-up and saved: channel, lock, compare,
// change, check, write.
#include "app/record_store.h"

#include <cstring>

#include "app/shared_record.h"
#include "app/texts.h"
#include "diag/log.h"
#include "link/usb.h"
#include "platform/clock.h"

namespace {

constexpr uint32_t PRINTER_LOCK_POLL_MS = 20;
constexpr int READ_BACK_ATTEMPTS = 3;

RecordStoreState& rs() { return OwnedState<RecordStoreState>::get(); }

bool holding() { return rs().holdChannel != CHANNEL_NONE; }

// Where the record lives now. CHANNEL_NONE after the box for an area that exists but must not
// be used: it is an error, never a reason to go to the printer instead.
RecordChannel findChannel() {
    if (rs().ownPrinter) return CHANNEL_PRINTER;
    SharedOpenResult found;
    if (openSharedArea(&found)) return CHANNEL_SHARED_AREA;
    if (found.status == SHARED_ABSENT) return CHANNEL_PRINTER;
    showConsoleMessage(MSG_SHARED_REFUSED, sharedRefusal());
    return CHANNEL_NONE;
}

// The printer's lock: LOCK_TAKEN, LOCK_BUSY after the busy warning, LOCK_NONE when there is
// no lock to take (no printer found, no private folder for it: the compare before the write
// still guards the record).
enum PrinterLock { LOCK_TAKEN, LOCK_BUSY, LOCK_NONE };
PrinterLock takePrinterLock() {
    // The program's own printer is held by its folder lock for the whole run.
    if (rs().ownPrinter) return LOCK_TAKEN;
    std::string device;
    if (!Usb_FindPrinter(&device)) return LOCK_NONE;
    std::string error;
    std::string folder = FolderLock_RuntimeDir(&error);
    if (folder.empty()) {
        Log_Error("printer lock: %s", error.c_str());
        return LOCK_NONE;
    }
    std::string name = Record_PrinterLockName(device);
    uint32_t start = Clock_Tick();
    for (;;) {
        FolderLockResult r = FolderLock_Take(folder, name.c_str(), &rs().printerLock);
        if (r.status == FOLDER_LOCK_TAKEN) return LOCK_TAKEN;
        if (r.status == FOLDER_LOCK_ERROR) {
            Log_Error("printer lock: %s", r.message.c_str());
            return LOCK_NONE;
        }
        if (static_cast<uint32_t>(Clock_Tick() - start) >= PRINTER_LOCK_TIMEOUT_MS) {
            Log_Error("printer lock %s/%s: held by process %u for %u ms", folder.c_str(),
                      name.c_str(), r.ownerPid, PRINTER_LOCK_TIMEOUT_MS);
            showConsoleMessage(MSG_SHARED_BUSY);
            return LOCK_BUSY;
        }
        Clock_Sleep(PRINTER_LOCK_POLL_MS);
    }
}

// Takes the lock of `channel`; true when held (holdLocked tells whether a lock was really
// taken), false after its box.
bool lockChannel(RecordChannel channel) {
    RecordStoreState& s = rs();
    s.holdLocked = false;
    if (channel == CHANNEL_SHARED_AREA) {
        SharedReadResult held = beginSharedHold();
        // An area without its lock: the read or write that follows fails as it always has.
        if (held == SHARED_BUSY) return false;
        s.holdLocked = held == SHARED_READ;
        return true;
    }
    PrinterLock lock = takePrinterLock();
    if (lock == LOCK_BUSY) return false;
    s.holdLocked = lock == LOCK_TAKEN;
    return true;
}

void unlockChannel() {
    endSharedHold();
    FolderLock_Release(&rs().printerLock);
    rs().holdLocked = false;
}

// A lock taken for one SAVE and given back when it ends, unless a hold already has it.
struct SaveLock {
    bool mine = false;
    ~SaveLock() {
        if (!mine) return;
        unlockChannel();
        rs().holdChannel = CHANNEL_NONE;
        rs().baseUnderLock = false;
    }
};

// The record stored now, silently; false when it cannot be read.
bool readStored(RecordChannel channel, uint8_t* out, bool reportFailure) {
    if (channel == CHANNEL_SHARED_AREA) return readSharedRecord(out) == SHARED_READ;
    const UsbTransactResult read =
        Usb_Transact(USB_SUB_READ_PARAMS, nullptr, 0, out, PARAMETER_RECORD_SIZE);
    if (!read && reportFailure) reportReason(read.reason);
    return static_cast<bool>(read);
}

// After a write whose answer never came (lost, stalled, cut, or a reply to something else in
// its place) the printer may well hold the new record. Ask it: a reset first drops any late
// reply still queued and clears a stalled pipe, then a read on a handle of our own, silent.
// A read that fails is tried again a few times, since the glitch that lost one answer may well
// lose the next.
SaveOutcome readBackRecord(const uint8_t* sent) {
    SaveOutcome outcome = SAVE_UNKNOWN;
    for (int attempt = 0; attempt < READ_BACK_ATTEMPTS && outcome == SAVE_UNKNOWN; ++attempt) {
        Usb_PipeReset(USB_PIPE_RESET_HARD);
        UsbHandle h = USB_INVALID_HANDLE;
        uint8_t stored[PARAMETER_RECORD_SIZE];
        bool answered = Usb_Open(&h) && Usb_TransactOnLink(h, USB_SUB_READ_PARAMS, nullptr, 0,
                                                           stored, sizeof stored);
        Usb_Close(&h);
        // Only the first 54 bytes travel with a write: the rest never reach the printer.
        if (answered)
            outcome =
                std::memcmp(stored, sent, USB_TRANSACT_DATA_MAX) == 0 ? SAVE_SAVED : SAVE_NOT_SAVED;
    }
    Log_Trace("save not acknowledged; record read back: %s\n", outcome == SAVE_SAVED ? "saved"
                                                               : outcome == SAVE_NOT_SAVED
                                                                   ? "not saved"
                                                                   : "no answer");
    return outcome;
}

SaveOutcome write(RecordChannel channel, const uint8_t* record) {
    // The area is written whole under its lock or not at all.
    if (channel == CHANNEL_SHARED_AREA)
        return writeSharedRecord(record) ? SAVE_SAVED : SAVE_NOT_SAVED;
    const UsbTransactResult sent =
        Usb_Transact(USB_SUB_WRITE_PARAMS, record, PARAMETER_RECORD_SIZE, nullptr, 0);
    reportReason(sent.reason);
    switch (sent.outcome) {
        case USB_TX_DONE:
            return SAVE_SAVED;
        case USB_TX_NO_DEVICE:
            return SAVE_NOT_SAVED;
        default:
            return readBackRecord(record);
    }
}

void remember(RecordChannel channel, const uint8_t* record) {
    RecordStoreState& s = rs();
    std::memcpy(s.base, record, PARAMETER_RECORD_SIZE);
    s.baseChannel = channel;
    s.baseUnderLock = holding() && s.holdLocked && s.holdChannel == channel;
}

}  // namespace

void Record_UseOwnPrinter(const std::string& label) {
    rs().ownPrinter = !label.empty();
    rs().printerLabel = label;
}

const std::string& Record_OwnPrinterLabel() { return rs().printerLabel; }

std::string Record_PrinterLockName(const std::string& devicePath) {
    std::string name = "printer-";
    for (char c : devicePath) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        name += plain ? c : '_';
    }
    return name.substr(0, 200) + ".lock";
}

bool Record_BeginHold() {
    Record_EndHold();
    RecordChannel channel = findChannel();
    if (channel == CHANNEL_NONE) return false;
    if (!lockChannel(channel)) return false;
    rs().holdChannel = channel;
    return true;
}

void Record_EndHold() {
    if (!holding()) return;
    unlockChannel();
    rs().holdChannel = CHANNEL_NONE;
    rs().baseUnderLock = false;
}

bool Record_Read(uint8_t* record) {
    RecordChannel channel = holding() ? rs().holdChannel : findChannel();
    if (channel == CHANNEL_NONE) return false;
    uint8_t read[PARAMETER_RECORD_SIZE];
    if (!readStored(channel, read, true)) {
        // A start on which the area stayed busy counts as not connected: a record of zeros
        // must never be delivered by a later SAVE.
        if (channel == CHANNEL_PRINTER) showConsoleMessage(MSG_STARTUP_READ_FAILED);
        return false;
    }
    std::memcpy(record, read, sizeof read);
    remember(channel, read);
    return true;
}

SaveOutcome Record_Save(uint8_t* record, const std::function<bool(uint8_t*)>& change,
                        const std::function<void(const uint8_t*)>& reload) {
    RecordStoreState& s = rs();
    SaveLock saveLock;
    RecordChannel channel = s.holdChannel;
    if (!holding()) {
        channel = findChannel();
        if (channel == CHANNEL_NONE) return SAVE_REFUSED;
        if (!lockChannel(channel)) return SAVE_NOT_SAVED;  // the busy warning was shown
        s.holdChannel = channel;
        saveLock.mine = true;
    }
    // Compare and write: unless the lock has been held since the read, the record must still
    // be the one the console's values came from. (A record read from the other place, before
    // the front end started or ended, has nothing here to be compared with.)
    if (!s.baseUnderLock && !s.ownPrinter && s.baseChannel == channel) {
        uint8_t now[PARAMETER_RECORD_SIZE];
        if (!readStored(channel, now, true)) return SAVE_NOT_SAVED;
        if (std::memcmp(now, s.base, sizeof now) != 0) {
            Log_Error("save refused: the stored parameter record changed since it was read");
            std::memcpy(record, now, sizeof now);
            remember(channel, now);
            reload(record);
            showConsoleMessage(MSG_RECORD_CHANGED);
            return SAVE_REFUSED;
        }
    }
    if (!change(record)) return SAVE_NOT_SAVED;
    // Whatever its source (entries, a file, a record read as it was), what leaves meets the
    // rules a parameter file must meet to be imported.
    std::string why;
    if (!checkParameterRecord(record, &why)) {
        Log_Error("save refused: %s", why.c_str());
        showConsoleMessage(MSG_SAVE_FAIL, nullptr, "The record was not sent: " + why);
        return SAVE_REFUSED;
    }
    SaveOutcome outcome = write(channel, record);
    // After an unknown outcome the next SAVE compares with what was sent: a printer that kept
    // its old record then shows it.
    if (outcome != SAVE_NOT_SAVED) remember(channel, record);
    return outcome;
}
