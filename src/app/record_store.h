// SPDX-License-Identifier: Apache-2.0
// The console's parameter record where it lives (the front end's shared area when one is
// published, else the printer; only the printer when the program brought a printer of its own)
// read and saved as one transaction: nobody else's SAVE lands between the read a change is
// based on and the write of its result.
//
// Two ways keep it so. A command that reads, changes and saves at once (the command line)
// holds the record's lock from before its read to after its SAVE: the shared area's lock, or a
// lock per printer that every program of this user takes (a file lock the kernel frees when its
// holder dies). The console, whose operator may think for an hour between the read and SAVE,
// holds nothing meanwhile; its SAVE takes the lock, reads the record again and saves only when
// it is still the one the console read (compare and write), else shows what is stored now.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "params/parameter_record.h"
#include "platform/folder_lock.h"

// What a SAVE did. After a printer transaction that failed, the record is read back from the
// printer: SAVE_SAVED when it holds the record sent (its answer was lost), SAVE_NOT_SAVED when
// it holds something else, SAVE_UNKNOWN when it cannot be asked. SAVE_REFUSED: nothing was
// sent, and a box has said why (a record that breaks the rules, a record changed since it was
// read, an area that must not be used).
enum SaveOutcome { SAVE_NOT_SAVED = 0, SAVE_SAVED = 1, SAVE_UNKNOWN = 2, SAVE_REFUSED = 3 };

enum RecordChannel : uint8_t { CHANNEL_NONE = 0, CHANNEL_SHARED_AREA = 1, CHANNEL_PRINTER = 2 };

// The record store of one session (dialog thread).
struct RecordStoreState {
    bool ownPrinter = false;   // a printer of the program's own: never the shared area
    std::string printerLabel;  // what the console's title says of it
    uint8_t base[PARAMETER_RECORD_SIZE] = {};  // the record as last read or saved
    RecordChannel baseChannel = CHANNEL_NONE;  // where `base` came from
    bool baseUnderLock = false;  // read or saved while the lock was held, held ever since
    RecordChannel holdChannel = CHANNEL_NONE;  // a hold lasts (Record_BeginHold)
    bool holdLocked = false;                   // and its lock is really taken
    FolderLock printerLock;                    // the printer's lock while held
};

// The printer the program attached itself (a virtual printer, held by its folder lock for the
// whole run): the record is read from and saved to it only, never to a shared area, and the
// console's title names it. An empty label goes back to the shared area or USB printer.
void Record_UseOwnPrinter(const std::string& label);
const std::string& Record_OwnPrinterLabel();

// A hold for a command that reads, changes and saves at once: the lock of the place the record
// lives is taken now (the shared area's within 2000 ms, the printer's within 20 s) and kept
// until Record_EndHold. false after a box said why (busy, an area that must not be used).
bool Record_BeginHold();
void Record_EndHold();

// The start-up read into record (56 bytes). false when no record could be read (the console
// then stays without values); the reason has been shown, except for an area without its lock,
// which the console passes over in silence as it always has.
bool Record_Read(uint8_t* record);

// SAVE as one transaction: takes the lock (unless held), checks that the stored record is still
// the one read (unless the lock was held since), lets `change` make the new record in `record`
// (false: refused, its box shown), checks the result by the rules a parameter file must meet,
// writes it and releases the lock. SAVE_CHANGED never leaves: when another program saved
// meanwhile, `record` receives what is stored now, `reload` shows it, a box says so, and the
// outcome is SAVE_REFUSED.
SaveOutcome Record_Save(uint8_t* record, const std::function<bool(uint8_t*)>& change,
                        const std::function<void(const uint8_t*)>& reload);

// The printer's lock: a file in the user's runtime folder named after the printer's interface
// path. Exposed for the tests that plant or hold it.
std::string Record_PrinterLockName(const std::string& devicePath);
constexpr uint32_t PRINTER_LOCK_TIMEOUT_MS = 20000;
