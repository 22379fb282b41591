// SPDX-License-Identifier: Apache-2.0
// The virtual printer: an emulated main board behind the USB driver seam, with its state
// folder (stored parameter record, printer model, job records and rendered paper).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// What the board reports about itself and how its mechanics deviate from the ideal.
// Defaults make a sane one-head bidirectional printer whose mechanics carry exactly the
// right-to-left offset the host compensates. A file "printer.cfg" in the state folder
// (lines "key = value", '#' comments) overrides fields at attach; see VPrinter_ModelKeys().
struct VPrinterModel {
    // Information record (the JOB_CREATE reply).
    uint8_t mainBoardVersion = 160;
    uint8_t headFlags = 1;       // bit 0 PHA, bit 1 PHB: the stored record's byte 2 when created
    uint8_t printDirection = 1;  // 1 bidirectional
    uint8_t fixedDirection = 0;  // 1 = unidirectional swaths run right to left
    uint8_t overlapLevel = 0;    // 0..3
    uint16_t carriageTravel = 1800;  // mm
    uint16_t rightMargin = 0;        // 1/600 inch
    uint8_t marginSwitch = 0;        // 1 = right margin taken as 0
    uint8_t spitInterval = 0;        // swaths between spits (0 = never)
    uint16_t spitDistance = 0;       // mm, the stored record's word 0x12 when created
    uint16_t headDistance = 0;  // 1/720 inch: the stored record's word 0x08 when created, where
                                // the second head sits beside the first by the factory's word
    // The serial number the device reports (its USB iSerialNumber string), bytes as given; the
    // emulated device cuts it to the 126 characters a string descriptor holds. Empty = none.
    std::string serial;
    uint16_t modelCode = 0x1801;
    uint8_t carriageVersion = 12, driverVersion = 21;
    uint16_t carriageId = 0x0C01, mainBoardId = 0x0B01, driverId = 0x0D01;
    uint8_t reportFigure = 0;  // info byte 0x38
    uint8_t modeByte = 0;      // info byte 0x56
    bool shortLayout = false;  // answer with the 128-byte short layout (marked 0x1154),
                               // the JOB_CREATE reply then 8 + 128 bytes long
    uint8_t speedClass = 0;    // short layout only: 0 -> 26, 1 -> 35, else 40 ips
    uint8_t passFigure = 4;    // short layout only
    // Mechanics.
    uint32_t stepsPerMeter = 409600;  // feed-motor steps per metre of paper (true value)
    int32_t feedErrorPpm = 0;         // paper moves this much further per step (ppm)
    // Extra right-to-left landing error per carriage speed (ips), in 1/1440 inch, beyond
    // the 32-column offset of the default mechanics. Positive = further left.
    std::vector<std::pair<uint16_t, int32_t>> bidirErrorByIps;
    // Columns (at the swath's resolution) the carriage throws right-to-left drops further left
    // than it fires them, at every speed ("bidir_columns"; negative: further right). The host
    // allows for 32 and moves the print back right two columns per unit of the stored value,
    // so a board with 32 - 2N lines up with N stored: -8 with N = 20 leaves room both ways, as
    // a printer leaves the factory.
    int32_t bidirMechanicalColumns = 32;
    // The second head's mechanical error against its nominal place (beside the first at the
    // stored record's head distance, level with it), in 1/1440 inch: two per 720-dpi column or
    // row. Positive x = further left on the paper (as bidir_columns), positive y = further down.
    int32_t headBOffsetX1440 = 0;
    int32_t headBOffsetY1440 = 0;
    std::vector<uint16_t> missingNozzles;                        // nozzle numbers that never fire
    std::vector<std::pair<uint16_t, int32_t>> deflectedNozzles;  // nozzle, vertical 1/1440 inch
    // Rendering.
    uint16_t renderDpiY = 720;  // vertical picture grid
    // The PNG is scaled down (whole factors, both ways alike) only beyond these, so that a
    // typical print keeps one pixel per dot across.
    uint32_t maxPictureWidth = 16000;
    uint32_t maxPictureHeight = 16000;
    uint32_t blankCutMm = 30;  // blank paper longer than this is cut out and marked
    uint32_t sheetDpi = 600;   // the picture of a whole sheet (VPrinter_BeginSheet)
    // The stored record's bidirectional values when none is stored yet ("start_bidir": one
    // value for all, or eleven in record order: text high, mid, low, image high, low, photo,
    // then the second-pass five); empty = 0, as the board leaves the factory by default.
    std::vector<uint8_t> startBidir;
    bool paper = true;              // render the paper and write its picture; without it the
                                    // board keeps only the job record (for measuring the host)
    uint32_t readTimeoutMs = 5000;  // a read with no reply pending fails after this
};

// Faults on request. Counts apply from the moment they are set and are used up one per
// occasion; each injected fault is recorded as {"event":"fault","what":...}. Nothing is
// random: the seed only picks which other command answers first.
struct VPrinterFaults {
    uint32_t seed = 1;
    uint32_t busyCount = 0;           // answer status 2 (busy) to the next N swaths/job commands
    uint32_t notReadyCount = 0;       // answer JOB_CREATE with status 0 (not ready) N times
    uint32_t failWrites = 0;          // the next N write I/O controls fail (nothing consumed)
    uint32_t failReads = 0;           // the next N reads fail and the pending reply is lost
    uint32_t disappearOpens = 0;      // the device is absent for the next K opens/enumerations
    uint32_t unknownKindReplies = 0;  // put a packet with an unknown kind before the next N replies
    uint32_t otherCommandFirst = 0;   // put a reply to another command before the next N replies
    uint32_t wrongSwathAck = 0;       // acknowledge the next N swaths with a wrong number
    int32_t panelCancelAtSwath = -1;  // swath number whose reply reports a panel cancel (once)
    uint32_t hangMs = 0;              // the next read hangs this long (on the clock) first;
                                      // a pipe or device reset meanwhile aborts it (error 995)
    uint32_t cutReplies = 0;          // the next N replies lose their last packet (a lone
                                      // packet keeps only its first two body words)
    uint32_t lostReplies = 0;         // the next N replies vanish on the wire: the board
                                      // sees nothing amiss, the host's read times out
    uint32_t failedStores = 0;        // the next N stores of the record fail as the system would
    int storeError = 28;              // fail them with (an errno: ENOSPC, EROFS, EIO, ...)
};

// Attaches the board: creates the state folder when missing, takes the folder for this
// process (a lock on its file "lock", held until detach or exit), loads "printer.cfg" and the
// stored parameter record ("record.bin"), and installs itself as the USB driver back end
// (remembering the previous one). Detaches first when already attached. false, with the
// reason in *error and in VPrinter_AttachError(), when the folder cannot be created, another
// program has it ("virtual printer busy: DIR is in use by process N"), or a model file or
// stored record is there but cannot be read or used (a folder, a pipe, unreadable, a record of
// the wrong size, a bad model line): a missing one means the defaults, never an unusable one.
// Not during a job.
bool VPrinter_Attach(const std::string& stateDir, std::string* error = nullptr);
// Why the last VPrinter_Attach failed, naming the file and the reason.
std::string VPrinter_AttachError();
// Closes an open job's records (as if the link closed), restores the previous driver and
// gives the folder free.
void VPrinter_Detach();
bool VPrinter_IsAttached();

// Model and faults (take effect for the next command; the model's record defaults only
// when no record is stored yet).
void VPrinter_SetModel(const VPrinterModel& model);
VPrinterModel VPrinter_GetModel();
// Parses "key = value" lines into model; false with a message on the first bad line.
bool VPrinter_ParseModel(const std::string& text, VPrinterModel* model, std::string* error);
std::vector<std::string> VPrinter_ModelKeys();
void VPrinter_SetFaults(const VPrinterFaults& faults);
VPrinterFaults VPrinter_GetFaults();  // what is left of the faults

// Enumeration: the board's device path and extra devices that are not the printer.
std::string VPrinter_DevicePath();
void VPrinter_AddDecoy(const std::string& devicePath);
void VPrinter_ClearDecoys();

// The writes of the state folder that failed since attach (the stored record, a job's record
// or picture), each naming the file and the reason; a program that reports a job or a SAVE as
// done checks that this is empty.
std::vector<std::string> VPrinter_StorageErrors();

// Inspection for tests.
uint32_t VPrinter_ProtocolErrorCount();
std::vector<std::string> VPrinter_ProtocolErrors();  // the "what" texts, oldest first
std::vector<std::string> VPrinter_JobEvents();       // JSON lines of the current/last job
std::vector<std::string> VPrinter_LooseEvents();     // JSON lines outside jobs (this attach)
bool VPrinter_JobOpen();
uint32_t VPrinter_LastJobNumber();  // 0 before the first job
// jobs/NNNN.jsonl or .png: four digits up to job 9999, as many as needed after it.
std::string VPrinter_JobPath(uint32_t number, const char* extension);
void VPrinter_StoredRecord(uint8_t out[56]);
void VPrinter_SetStoredRecord(const uint8_t record[56]);  // writes it to the folder too
// Waits (briefly, in real time) until every swath received so far is on the paper and every
// closed job's picture is written. Detach waits too.
void VPrinter_WaitPaper();
// A sheet: the paper of every job from VPrinter_BeginSheet to VPrinter_EndSheet as one
// picture, as the sheet leaves the printer (each job keeps its own picture too). The jobs lie
// where the paper's feeds put them, across at their own resolutions, drawn at sheetDpi with
// each drop's share of a pixel as its shade. EndSheet waits for the paper and returns the
// picture's path ("jobs/NNNN-sheet.png", NNNN the sheet's last job), empty when no job was
// printed on it or the picture could not be written.
void VPrinter_BeginSheet();
std::string VPrinter_EndSheet();
// Ink on the paper of the current or last job at grid dot x (dots of the job's first swath
// resolution, the carriage's head-dot position x 1) and picture row (1/renderDpiY inch from
// the paper position at job start). Returns the channel mask (bit k = channel k), 0 = white.
// Call after VPrinter_WaitPaper.
uint8_t VPrinter_PaperAt(int64_t x, int64_t row);
// Every place on that paper where a channel of `mask` landed, as (x, row) in the same grid,
// row by row and across each row. Call after VPrinter_WaitPaper.
std::vector<std::pair<int64_t, int64_t>> VPrinter_PaperInk(uint8_t mask);
// The 136-byte information record the board would send now.
void VPrinter_InfoRecord(uint8_t out[136]);
uint32_t VPrinter_PendingReplyPackets();
uint64_t VPrinter_DataBytesReceived();

// Consumes one DATA write as the write I/O control would (for the benchmark); true when
// accepted without a protocol error.
bool VPrinter_FeedWrite(const uint8_t* bytes, uint32_t length);
