// SPDX-License-Identifier: Apache-2.0
// Internal state of the virtual printer's board, shared by its files (not a public header).
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "diag/log.h"
#include "platform/folder_lock.h"
#include "vprinter.h"

// Wire constants of the link, as the board sees them.
constexpr uint16_t VP_MAGIC[7] = {0xABCD, 0xEC38, 0xB92B, 0x7CAE, 0x9899, 0xC2F0, 0xDC35};
constexpr uint16_t VP_STREAM_CMM = 0x0BAA;
constexpr uint16_t VP_STREAM_DATA = 0x85B5;
constexpr uint16_t VP_KIND_ONLY = 0xF008, VP_KIND_FIRST = 0xF001, VP_KIND_MIDDLE = 0xF004,
                   VP_KIND_LAST = 0xF002;
constexpr uint32_t VP_CMM_PACKET_BYTES = 128;
constexpr uint32_t VP_CMM_WORDS = 47;
constexpr uint32_t VP_DATA_WORDS = 4064;
constexpr uint32_t VP_DATA_SLOT = 8192;
constexpr uint32_t VP_DATA_BATCH = 7 * VP_DATA_SLOT;
constexpr uint32_t VP_REPLY_BODY_MAX = 96;
// The board's receive buffers: a command block is 64 bytes, a swath at most 10834560 bytes.
constexpr uint32_t VP_CMM_MAX_WORDS = 47 * 64;
constexpr uint32_t VP_DATA_MAX_WORDS = 10834560 / 2;
constexpr size_t VP_RECORD_SIZE = 56;
constexpr size_t VP_INFO_SIZE = 136;
constexpr size_t VP_INFO_SHORT_SIZE = 128;

// One transfer being received (CMM or DATA).
struct VpTransfer {
    bool active = false;
    uint16_t stream = 0;
    uint16_t serial = 0;
    uint16_t count = 0;
    uint32_t total = 0;  // data words announced
    uint16_t nextIndex = 0;
    std::vector<uint8_t> data;  // gathered bodies
};

// The paper: drops on a grid (x in dots of the job's first resolution, y in picture rows).
struct VpPaperRow {
    int64_t x0 = 0;
    std::vector<uint8_t> mask;  // bit k = ink channel k landed here
};
struct VpPaper {
    uint16_t xDpi = 0;   // grid of the x axis (0 until the first swath)
    double yMeters = 0;  // paper advanced so far (true distance)
    std::map<int64_t, VpPaperRow> rows;
    uint64_t drops = 0;
};

struct VpHandle {
    bool printer = false;
};

constexpr const char* VP_LOCK_FILE = "lock";

struct VpBoard {
    std::mutex mu;
    bool attached = false;
    std::string dir;
    FolderLock folderLock;  // held from attach to detach
    const void* previousDriver = nullptr;
    VPrinterModel model;
    VPrinterFaults faults;
    std::vector<std::string> decoys;
    std::vector<std::string> snapshot;  // enumeration in progress
    std::map<intptr_t, VpHandle> handles;
    intptr_t nextHandle = 0x100;
    uint32_t resetGeneration = 0;
    intptr_t writer = 0;  // handle of the write being received

    // Receiver.
    VpTransfer rx;
    bool serialKnown = false;
    uint16_t lastSerial = 0;
    bool interrupted = false;  // a failure or reset happened since the last complete transfer
    bool expectData = false;   // a swath block waits for its DATA transfer
    std::vector<uint8_t> swathBlock;
    // The blocks of the swaths the open job has printed, by swath number: a number seen
    // again is a resend (its reply was lost, whatever the board saw of that) and is only
    // acknowledged.
    std::map<uint32_t, std::vector<uint8_t>> printedSwaths;
    uint64_t dataBytes = 0;

    // Replies waiting to be read, one packet each.
    std::deque<std::vector<uint8_t>> replies;
    uint16_t replySerial = 1;

    // Stored record and jobs.
    uint8_t record[VP_RECORD_SIZE] = {};
    uint32_t jobCounter = 0;  // last job number used
    bool jobOpen = false;
    bool jobSuspended = false;  // its link closed; a reconnected link may go on with it
    intptr_t jobHandle = 0;
    uint32_t jobNumber = 0;
    std::vector<std::string> jobEvents;
    std::vector<std::string> looseEvents;
    std::vector<std::string> protocolErrors;
    // Writes of the folder that failed since attach (stored record, job records, pictures).
    std::vector<std::string> storageErrors;
};

VpBoard& vpBoard();

// Receiver (vp_packets.cpp): one write I/O control's bytes. Board lock held.
void vpReceiveWrite(VpBoard& b, const uint8_t* bytes, uint32_t length);
// Queues a reply body framed as the board frames replies. Board lock held.
void vpQueueReply(VpBoard& b, const std::vector<uint8_t>& body);
// A violation of the link's rules; recorded in the current job or the loose events.
void vpProtocolError(VpBoard& b, const char* fmt, ...) HEADALIGN_PRINTF(2, 3);

// Commands (vp_commands.cpp): a complete CMM transfer / a complete DATA transfer.
void vpOnCommand(VpBoard& b, intptr_t handle, const std::vector<uint8_t>& block);
void vpOnData(VpBoard& b, std::vector<uint8_t>&& data);
void vpBuildInfoRecord(const VpBoard& b, uint8_t out[VP_INFO_SIZE]);

// The folder's owner and job numbers (vp_folder.cpp).
bool vpLockFolder(VpBoard& b, const std::string& stateDir, std::string* error);
void vpUnlockFolder(VpBoard& b);
// Highest job number among names of five digits and more (those after job 9999).
uint32_t vpHighestLongJobNumber(const std::string& jobsDir);
// The next job number whose files do not exist yet; creates its empty record.
uint32_t vpClaimJobNumber(VpBoard& b);

// State folder (vp_state.cpp).
void vpDefaultRecord(const VPrinterModel& m, uint8_t out[VP_RECORD_SIZE]);
// Loads the model file and the stored record; false (the reason for VPrinter_AttachError) when
// one is there but cannot be used.
bool vpLoadState(VpBoard& b);
bool vpAttachFailed(const std::string& why);
// Stores `record` as the folder's record.bin; only once it is stored does the board take it as
// its record (b.record), so a read-back after a failed store tells the truth. false, with the
// failure in b.storageErrors, when the folder did not take it. Board lock held.
bool vpStoreRecord(VpBoard& b, const uint8_t* record);
// A write of the folder that failed: kept for VPrinter_StorageErrors. Board lock held.
void vpStorageFailed(VpBoard& b, const std::string& what);
void vpEvent(VpBoard& b, const std::string& json);
// Appends one line to a record file of the folder through the file seam (never through a link,
// never waiting on a pipe); false when it could not.
bool vpAppendLine(const std::string& file, const std::string& line);
void vpOpenJob(VpBoard& b, intptr_t handle);
void vpCloseJob(VpBoard& b, const char* reason);
// The job's link closed: its records are written now; a reconnected link may resume it.
void vpSuspendJob(VpBoard& b);
// Marks a failure or reset (a resent transfer after it is a retry, not a new one).
void vpInterrupted(VpBoard& b);
std::string vpJsonEscape(const std::string& s);

// Paper (vp_render.cpp, vp_picture.cpp): pure functions over one job's paper.
struct VpSwath {
    uint32_t number = 0;
    uint32_t size = 0;
    uint8_t resolutionCode = 0;
    uint8_t r2l = 0, l2r = 0, spit = 0;
    uint16_t speed = 0, start = 0, stop = 0, nextStart = 0, spitDistance = 0;
    uint32_t feed = 0;
};
uint16_t vpResolutionDpi(uint8_t code);
// headDistance: the stored record's head distance (second head only).
void vpRenderSwath(VpPaper& paper, const VPrinterModel& m, uint16_t headDistance, const VpSwath& s,
                   const uint8_t* data, size_t size);
void vpFeedPaper(VpPaper& paper, const VPrinterModel& m, uint32_t feedWord);
// Writes the PNG of a job's paper, turned half a turn so the labels read upright, square pixels
// at "dpi"; returns the JSON line describing the picture: paper dots per pixel across
// ("scale_x") and paper rows per pixel down ("scale_y"), the paper grids ("x_dpi", "y_dpi"),
// the paper place of the first ink ("origin_x", "origin_row") and the cuts.
std::string vpWritePicture(const VpPaper& paper, const VPrinterModel& m, const std::string& path);
// Whether this build writes pictures at all (it needs PNG support).
bool vpDrawsPictures();

// One job's paper on a sheet, `offsetMeters` of paper after the sheet's first job started.
struct VpSheetPiece {
    uint32_t jobNumber = 0;
    double offsetMeters = 0;
    VpPaper paper;
};
// Writes the picture of a sheet (vp_picture.cpp); false when there is no ink or it cannot be
// written.
bool vpWriteSheetPicture(const std::vector<VpSheetPiece>& pieces, const VPrinterModel& m,
                         const std::string& path);

// Paper worker (vp_worker.cpp): renders and writes pictures in order, off the I/O path, so a
// device call never waits for the renderer. Callable with the board lock held.
void vpWorkerStart();
void vpWorkerStop();  // finishes the queue first; call without the board lock
void vpPaperNewJob(const VPrinterModel& m);
void vpPaperModel(const VPrinterModel& m);  // from the next swath on
void vpPaperSwath(const VpSwath& s, std::vector<uint8_t>&& data, uint16_t headDistance);
void vpPaperFeed(uint32_t feedWord);
void vpPaperPicture(uint32_t jobNumber, const std::string& pngPath, const std::string& jsonlPath);
