// SPDX-License-Identifier: Apache-2.0
// A printer's calibration history: every reading, every SAVE (old and new record, and from
// where) and every verification, kept per printer as JSON Lines in the user's data folder
// ($XDG_DATA_HOME/headalign/history, ~/.local/share/headalign/history by default;
// %LOCALAPPDATA%\headalign\history on Windows). The file stays below HISTORY_MAX_BYTES: past
// it the oldest months are folded into one summary line each.
//
// Nothing here ever stops a print or a SAVE: a history that cannot be read or written (a
// damaged file, another printer's, a full disk) is refused with its name in a warning on
// standard error, and the work goes on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/owned_state.h"

// Past this size a history file folds its oldest months into summaries (stated in the README).
constexpr size_t HISTORY_MAX_BYTES = 256 * 1024;
// A file larger than this is not read at all (nothing the history writes grows so far).
constexpr size_t HISTORY_READ_CAP = 4 * HISTORY_MAX_BYTES;
// The first line of every history file, before the printer's key.
constexpr const char* HISTORY_MAGIC = "headalign-history";

enum HistoryKind : uint8_t {
    HISTORY_READING = 0,       // a print read (scan, photo, the virtual printer's paper)
    HISTORY_SAVE = 1,          // a parameter record saved (SAVE, or a command that SAVEs)
    HISTORY_VERIFICATION = 2,  // a print made to check that "00" lines up
    HISTORY_SUMMARY = 3,       // a month of older entries folded into one line
};

// One value of a SAVE that changed: the record field, its mode (5..15; 0 for others) and pass.
struct HistoryChange {
    std::string field;
    int mode = 0;
    int pass = 1;
    long before = 0, after = 0;
};

// A mode's figures over a folded month.
struct HistoryModeSummary {
    int mode = 0, pass = 1;
    int readings = 0;
    double mean = 0, min = 0, max = 0;  // of the readings
    bool hasValue = false;
    long lastValue = 0;  // the value saved last in the month
};

struct HistoryEntry {
    HistoryKind kind = HISTORY_READING;
    int64_t time = 0;  // seconds since 1970-01-01 UTC; 0 when recorded = now (History_Now)
    // Readings and verifications.
    int mode = 0;        // adjustment type: 5..10 bidirectional, 11..15 feed step
    int pass = 1;        // 1, or 2 for the second-pass ("高清二次") values
    double reading = 0;  // groups (bidirectional) or millimetres measured (feed step)
    double spread = 0;   // the reading's standard error, same unit
    bool certain = false;
    bool aligned = false;  // verification: "00" lines up
    std::string picture;   // the picture read (a path), empty when typed
    std::string source;    // the command or console button: "align --scan", "console SAVE"...
    // Saves.
    std::string outcome;  // "saved", or "unknown" (the printer did not answer, may hold it)
    std::string recordBefore, recordAfter;  // the 56-byte records, hexadecimal
    std::vector<HistoryChange> changes;
    // Summaries.
    std::string month;  // "2026-11"
    int readings = 0, saves = 0, verifications = 0;
    std::vector<HistoryModeSummary> modes;
};

// What the history module keeps between calls (one per session).
struct HistoryState {
    std::string printerKey;  // set by History_UsePrinter; empty = nothing is recorded
    std::string saveOrigin;  // what the next SAVE is recorded as coming from
    std::string lastWarning;
};

// Records one entry in the current printer's history (time 0 = now). The one call a command
// needs: a reading, a verification, or a SAVE made with History_SaveEntry. False, after a
// warning naming the file on standard error, when it could not be recorded; never stops
// anything. Dialog thread; blocks on the file system.
bool History_Record(const HistoryEntry& entry);

// The SAVE of `after` over `before` (56-byte records) from `source`, with the calibration
// values that changed.
HistoryEntry History_SaveEntry(const uint8_t* before, const uint8_t* after,
                               const std::string& source, const std::string& outcome = "saved");

// The printer whose history is kept from now on: the virtual printer's folder, or empty for
// the printer on USB, which is then told apart by its serial number (History_ReadUsbSerial).
// Dialog thread, outside jobs; with an empty folder blocks on USB (enumeration and the serial
// number's two control transfers).
void History_UsePrinter(const std::string& virtualPrinterFolder);
// What the next SAVE is recorded as coming from ("" = the console's SAVE); with keepEarlier an
// origin already set stays (a command that SAVEs through another). Dialog thread.
void History_SetSaveOrigin(const std::string& origin, bool keepEarlier = false);
std::string History_SaveOrigin();

// A printer's key: "vprinter-<folder name>-<8 hex digits of its absolute path>", or for the
// printer on USB History_UsbPrinterKey of no serial number, "usb-2408-0003".
std::string History_PrinterKey(const std::string& virtualPrinterFolder);

// A serial number is the device's own text, untrusted: of what it reports at most
// HISTORY_SERIAL_MAX printable ASCII characters are kept (no control character, nothing past the
// 127th code, no space at either end), the rest dropped.
constexpr size_t HISTORY_SERIAL_MAX = 64;
// The buffer the serial number is read into: the longest string a USB device can give (126
// characters) and its end.
constexpr size_t HISTORY_SERIAL_READ_CAP = 128;
std::string History_UsbSerialText(const std::string& rawSerial);
// The key of the printer on USB with this serial number (as read, untrusted):
// "usb-2408-0003-<serial>", where anything but letters, digits, '-' and '_' becomes '_', with
// "-<8 hex digits of the serial as read>" after it when that changed or cut anything, so the
// key is always one safe file name and two serial numbers keep two histories; "usb-2408-0003"
// when it has no printable character (a printer without a serial number keeps the key it had).
std::string History_UsbPrinterKey(const std::string& rawSerial);
// The serial number of the first printer (vendor 2408, product 0003) the USB driver lists, as
// the device reports it (at most HISTORY_SERIAL_READ_CAP - 1 bytes); empty when there is none,
// it has none, or the driver back end cannot ask. Dialog thread, outside jobs; blocks on USB.
std::string History_ReadUsbSerial();
// The user's data folder of headalign, and the file of a printer's history in it.
std::string History_DataDir();
std::string History_FilePath(const std::string& printerKey);

// Now, in seconds since 1970 UTC; HEADALIGN_HISTORY_TIME ("2026-11-03", "2026-11-03T08:30:00Z"
// or seconds) stands in for the clock when set, for the history's time stamps only.
int64_t History_Now();
// "2026-11-03T08:30:00Z" and back; false for anything else.
std::string History_FormatTime(int64_t time);
bool History_ParseTime(const std::string& text, int64_t* time);

// Reads a history file: false with *error naming the file when it is missing, damaged or
// another printer's (expectedKey non-empty).
bool History_Load(const std::string& path, const std::string& expectedKey,
                  std::vector<HistoryEntry>* entries, std::string* error);
// One entry as its JSON line (no newline) and back.
std::string History_ToJson(const HistoryEntry& entry);
bool History_FromJson(const std::string& line, HistoryEntry* entry, std::string* reason);

// The whole file for `entries` (header first), folded below maxBytes: the oldest months'
// entries become summaries, month by month, until it fits (the newest month last).
std::string History_Serialize(const std::string& printerKey, std::vector<HistoryEntry>* entries,
                              size_t maxBytes = HISTORY_MAX_BYTES);

// The value a mode's field holds in a 56-byte record (bidirectional byte or feed step word);
// -1 when the mode has no field.
long History_ModeValue(const uint8_t* record, int mode, int pass);
