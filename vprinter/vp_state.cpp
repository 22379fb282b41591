// SPDX-License-Identifier: Apache-2.0
// The printer's state folder: stored parameter record (replaced atomically), printer model
// file, event records of jobs and of the time between jobs, and the test inspection API.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "vp_board.h"

namespace fs = std::filesystem;

namespace {

const char* const RECORD_FILE = "record.bin";
const char* const MODEL_FILE = "printer.cfg";
const char* const LOOSE_FILE = "events.jsonl";
// A model file is a few dozen lines; anything far larger is not one.
constexpr size_t MODEL_FILE_MAX = 1 << 20;

// Why the last attach failed; empty after one that worked.
std::string attachError;

// Scalar fields of the model file, one row each: key, range, setter.
struct ModelKey {
    const char* key;
    long min, max;
    void (*set)(VPrinterModel&, long);
};

#define VP_KEY(name, field, lo, hi)                                                       \
    {                                                                                     \
        name, lo, hi,                                                                     \
            [](VPrinterModel& m, long v) { m.field = static_cast<decltype(m.field)>(v); } \
    }
const ModelKey MODEL_KEYS[] = {
    VP_KEY("main_board_version", mainBoardVersion, 0, 255),
    VP_KEY("head_flags", headFlags, 0, 3),
    VP_KEY("print_direction", printDirection, 0, 255),
    VP_KEY("fixed_direction", fixedDirection, 0, 255),
    VP_KEY("overlap_level", overlapLevel, 0, 255),
    VP_KEY("carriage_travel", carriageTravel, 0, 65535),
    VP_KEY("right_margin", rightMargin, 0, 65535),
    VP_KEY("margin_switch", marginSwitch, 0, 255),
    VP_KEY("spit_interval", spitInterval, 0, 255),
    VP_KEY("spit_distance", spitDistance, 0, 65535),
    VP_KEY("head_distance", headDistance, 0, 65535),
    VP_KEY("model_code", modelCode, 0, 65535),
    VP_KEY("carriage_version", carriageVersion, 0, 255),
    VP_KEY("driver_version", driverVersion, 0, 255),
    VP_KEY("carriage_id", carriageId, 0, 65535),
    VP_KEY("main_board_id", mainBoardId, 0, 65535),
    VP_KEY("driver_id", driverId, 0, 65535),
    VP_KEY("report_figure", reportFigure, 0, 255),
    VP_KEY("mode_byte", modeByte, 0, 255),
    VP_KEY("short_layout", shortLayout, 0, 1),
    VP_KEY("speed_class", speedClass, 0, 255),
    VP_KEY("pass_figure", passFigure, 0, 255),
    VP_KEY("steps_per_meter", stepsPerMeter, 1, 100000000),
    VP_KEY("feed_error_ppm", feedErrorPpm, -500000, 500000),
    VP_KEY("head_b_offset_x", headBOffsetX1440, -100000, 100000),
    VP_KEY("head_b_offset_y", headBOffsetY1440, -100000, 100000),
    VP_KEY("render_dpi_y", renderDpiY, 90, 1440),
    VP_KEY("max_picture_width", maxPictureWidth, 16, 40000),
    VP_KEY("max_picture_height", maxPictureHeight, 16, 40000),
    VP_KEY("blank_cut_mm", blankCutMm, 1, 100000),
    VP_KEY("sheet_dpi", sheetDpi, 72, 1440),
    VP_KEY("bidir_columns", bidirMechanicalColumns, -10000, 10000),
    VP_KEY("paper", paper, 0, 1),
    VP_KEY("read_timeout_ms", readTimeoutMs, 10, 600000),
};
#undef VP_KEY

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, e - a + 1);
}

bool parseNumber(const std::string& text, long min, long max, long* out) {
    std::string t = trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(t.c_str(), &end, 0);
    if (*end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

// "a:b, c:d" (pairs) or "a, b" (single values) into pairs (second 0 for single values).
bool parseList(const std::string& text, bool pairs, std::vector<std::pair<long, long>>* out) {
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        if (trim(item).empty()) continue;
        size_t colon = item.find(':');
        long a = 0, v = 0;
        if (pairs != (colon != std::string::npos)) return false;
        if (!parseNumber(item.substr(0, colon), -1000000, 1000000, &a)) return false;
        if (pairs && !parseNumber(item.substr(colon + 1), -1000000, 1000000, &v)) return false;
        out->push_back({a, v});
    }
    return true;
}

bool setListKey(const std::string& key, const std::string& value, VPrinterModel* m) {
    std::vector<std::pair<long, long>> items;
    bool pairs = key != "missing_nozzles";
    if (!parseList(value, pairs, &items)) return false;
    for (const auto& [a, v] : items)
        if (a < 0 || a > 65535) return false;
    if (key == "bidir_error") {
        m->bidirErrorByIps.clear();
        for (const auto& [a, v] : items) m->bidirErrorByIps.push_back({uint16_t(a), int32_t(v)});
    } else if (key == "missing_nozzles") {
        m->missingNozzles.clear();
        for (const auto& [a, v] : items) m->missingNozzles.push_back(uint16_t(a));
    } else {
        m->deflectedNozzles.clear();
        for (const auto& [a, v] : items) m->deflectedNozzles.push_back({uint16_t(a), int32_t(v)});
    }
    return true;
}

bool setKey(const std::string& key, const std::string& value, VPrinterModel* m) {
    if (key == "bidir_error" || key == "missing_nozzles" || key == "deflected_nozzles")
        return setListKey(key, value, m);
    if (key == "serial") {
        // The rest of the line as it stands (a '#' ends it, as everywhere in the file).
        m->serial = trim(value);
        return true;
    }
    if (key == "start_bidir") {
        // One value for all eleven bidirectional fields, or one each in record order.
        std::vector<std::pair<long, long>> items;
        if (!parseList(value, false, &items) || (items.size() != 1 && items.size() != 11))
            return false;
        m->startBidir.clear();
        for (const auto& [v, unused] : items) {
            if (v < 0 || v > 255) return false;
            m->startBidir.push_back(uint8_t(v));
        }
        if (m->startBidir.size() == 1) m->startBidir.assign(11, m->startBidir[0]);
        return true;
    }
    for (const ModelKey& k : MODEL_KEYS) {
        if (key != k.key) continue;
        long v = 0;
        if (!parseNumber(value, k.min, k.max, &v)) return false;
        k.set(*m, v);
        return true;
    }
    return false;
}

std::string path(const VpBoard& b, const std::string& name) {
    return Path_ToUtf8(Path_FromUtf8(b.dir) / name);
}

// Through the file seam: a pipe or link planted at an event record is refused, never waited on
// or written through (the event stays in memory).
bool appendLine(const std::string& file, const std::string& line) {
    std::string withFeed = line + '\n';
    return File_Append(file, reinterpret_cast<const uint8_t*>(withFeed.data()), withFeed.size())
        .ok();
}

uint32_t highestJobNumber(const std::string& jobsDir) {
    uint32_t highest = 0;
    std::error_code ec;
    fs::directory_iterator it(Path_FromUtf8(jobsDir), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::string name = Path_ToUtf8(it->path().filename());
        if (name.size() < 5 || name.find_first_not_of("0123456789") != 4) continue;
        uint32_t number = 0;
        for (int i = 0; i < 4; ++i) number = number * 10 + uint32_t(name[size_t(i)] - '0');
        highest = std::max(highest, number);
    }
    return highest;
}

// A missing file is a fresh folder (defaults); one that is there but cannot be read or makes
// no sense stops the attach, since carrying on with defaults would let the next SAVE replace
// what it holds.
bool loadModel(VpBoard& b) {
    b.model = VPrinterModel{};
    std::vector<uint8_t> bytes;
    FileResult read = File_ReadRegular(path(b, MODEL_FILE), MODEL_FILE_MAX, &bytes);
    if (read.status == FILE_MISSING) return true;
    if (!read.ok()) {
        attachError = read.message;
        return false;
    }
    std::string error;
    VPrinterModel model;
    if (!VPrinter_ParseModel(std::string(bytes.begin(), bytes.end()), &model, &error)) {
        attachError = path(b, MODEL_FILE) + ": " + error;
        return false;
    }
    b.model = model;
    return true;
}

bool loadRecord(VpBoard& b) {
    vpDefaultRecord(b.model, b.record);
    std::vector<uint8_t> bytes;
    FileResult read = File_ReadRegular(path(b, RECORD_FILE), VP_RECORD_SIZE, &bytes);
    if (read.status == FILE_MISSING) return true;
    if (!read.ok() || bytes.size() != VP_RECORD_SIZE) {
        attachError = read.ok()
                          ? path(b, RECORD_FILE) + ": has " + std::to_string(bytes.size()) +
                                " bytes; a stored record has " + std::to_string(VP_RECORD_SIZE)
                          : read.message;
        return false;
    }
    std::memcpy(b.record, bytes.data(), VP_RECORD_SIZE);
    return true;
}

}  // namespace

bool VPrinter_ParseModel(const std::string& text, VPrinterModel* model, std::string* error) {
    std::stringstream ss(text);
    std::string line;
    int number = 0;
    while (std::getline(ss, line)) {
        ++number;
        std::string t = trim(line.substr(0, line.find('#')));
        if (t.empty()) continue;
        size_t eq = t.find('=');
        std::string key = eq == std::string::npos ? t : trim(t.substr(0, eq));
        if (eq == std::string::npos || !setKey(key, t.substr(eq + 1), model)) {
            if (error) *error = "line " + std::to_string(number) + ": bad entry \"" + t + "\"";
            return false;
        }
    }
    return true;
}

std::vector<std::string> VPrinter_ModelKeys() {
    std::vector<std::string> keys;
    for (const ModelKey& k : MODEL_KEYS) keys.push_back(k.key);
    keys.insert(keys.end(),
                {"bidir_error", "missing_nozzles", "deflected_nozzles", "start_bidir", "serial"});
    return keys;
}

std::string vpJsonEscape(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void vpDefaultRecord(const VPrinterModel& m, uint8_t out[VP_RECORD_SIZE]) {
    static const uint8_t INK_ORDER[8] = {7, 6, 5, 4, 3, 2, 1, 0};
    std::memset(out, 0, VP_RECORD_SIZE);
    out[0x00] = 0xAC;
    out[0x02] = m.headFlags;
    for (size_t off : {0x0a, 0x0c, 0x0e, 0x10, 0x30}) le::putU16(out, off, 10000);
    le::putU16(out, 0x08, m.headDistance);
    le::putU16(out, 0x12, m.spitDistance);
    std::memcpy(out + 0x16, INK_ORDER, 8);
    static const size_t BIDIR[11] = {0x03, 0x04, 0x05, 0x1e, 0x1f, 0x20,
                                     0x2a, 0x2b, 0x2c, 0x2d, 0x2e};
    for (size_t i = 0; i < m.startBidir.size() && i < 11; ++i) out[BIDIR[i]] = m.startBidir[i];
}

bool vpLoadState(VpBoard& b) {
    attachError.clear();
    std::error_code ec;
    std::string jobs = Path_ToUtf8(Path_FromUtf8(b.dir) / "jobs");
    fs::create_directories(Path_FromUtf8(jobs), ec);
    if (!fs::is_directory(Path_FromUtf8(jobs), ec))
        return vpAttachFailed(jobs + ": is not a folder and cannot be made one");
    if (!loadModel(b) || !loadRecord(b)) return false;
    // The records the board appends to between jobs: refused now rather than lost later.
    FileResult loose = File_CheckOwn(path(b, LOOSE_FILE));
    if (!loose.ok()) return vpAttachFailed(loose.message);
    b.jobCounter = std::max(highestJobNumber(jobs), vpHighestLongJobNumber(jobs));
    return true;
}

bool vpAppendLine(const std::string& file, const std::string& line) {
    return appendLine(file, line);
}

bool vpAttachFailed(const std::string& why) {
    attachError = why;
    return false;
}

std::string VPrinter_AttachError() { return attachError; }

// A new file renamed over the old one: a crash leaves either record whole, never a torn one.
bool vpStoreRecord(VpBoard& b, const uint8_t* record) {
    if (b.faults.failedStores > 0) {
        --b.faults.failedStores;
        vpStorageFailed(
            b, path(b, RECORD_FILE) + ": cannot write: " + std::strerror(b.faults.storeError));
        return false;
    }
    FileResult stored = File_ReplaceOwn(path(b, RECORD_FILE), record, VP_RECORD_SIZE);
    if (!stored.ok()) {
        vpStorageFailed(b, stored.message);
        return false;
    }
    if (record != b.record) std::memcpy(b.record, record, VP_RECORD_SIZE);
    return true;
}

void vpStorageFailed(VpBoard& b, const std::string& what) {
    if (b.storageErrors.size() < 100) b.storageErrors.push_back(what);
}

std::vector<std::string> VPrinter_StorageErrors() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.storageErrors;
}

void vpEvent(VpBoard& b, const std::string& json) {
    if (b.jobOpen && !b.jobSuspended) {
        b.jobEvents.push_back(json);
        if (!appendLine(VPrinter_JobPath(b.jobNumber, ".jsonl"), json))
            vpStorageFailed(b, VPrinter_JobPath(b.jobNumber, ".jsonl") + ": cannot write");
        return;
    }
    b.looseEvents.push_back(json);
    if (!b.dir.empty()) appendLine(path(b, LOOSE_FILE), json);
}

void vpOpenJob(VpBoard& b, intptr_t handle) {
    b.jobOpen = true;
    b.jobSuspended = false;
    b.jobHandle = handle;
    b.jobNumber = vpClaimJobNumber(b);
    b.jobEvents.clear();
    b.printedSwaths.clear();
    vpPaperNewJob(b.model);
}

void vpSuspendJob(VpBoard& b) {
    vpEvent(b, "{\"event\":\"link\",\"what\":\"closed\"}");
    vpPaperPicture(b.jobNumber, VPrinter_JobPath(b.jobNumber, ".png"),
                   VPrinter_JobPath(b.jobNumber, ".jsonl"));
    b.jobSuspended = true;
}

void vpCloseJob(VpBoard& b, const char* reason) {
    b.jobSuspended = false;
    vpEvent(b, std::string("{\"event\":\"job_end\",\"reason\":\"") + reason + "\"}");
    vpPaperPicture(b.jobNumber, VPrinter_JobPath(b.jobNumber, ".png"),
                   VPrinter_JobPath(b.jobNumber, ".jsonl"));
    b.jobOpen = false;
}

std::string VPrinter_JobPath(uint32_t number, const char* extension) {
    VpBoard& b = vpBoard();
    char name[32];
    std::snprintf(name, sizeof name, "%04u%s", number, extension);
    return Path_ToUtf8(Path_FromUtf8(b.dir) / "jobs" / name);
}

void VPrinter_SetModel(const VPrinterModel& model) {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    b.model = model;
    if (b.jobOpen) vpPaperModel(model);
}

VPrinterModel VPrinter_GetModel() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.model;
}

void VPrinter_SetFaults(const VPrinterFaults& faults) {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    b.faults = faults;
}

VPrinterFaults VPrinter_GetFaults() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.faults;
}

std::vector<std::string> VPrinter_JobEvents() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.jobEvents;
}

std::vector<std::string> VPrinter_LooseEvents() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.looseEvents;
}

bool VPrinter_JobOpen() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.jobOpen && !b.jobSuspended;
}

uint32_t VPrinter_LastJobNumber() {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.jobCounter;
}

void VPrinter_StoredRecord(uint8_t out[56]) {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    std::memcpy(out, b.record, VP_RECORD_SIZE);
}

void VPrinter_SetStoredRecord(const uint8_t record[56]) {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    if (b.dir.empty() || !vpStoreRecord(b, record)) std::memcpy(b.record, record, VP_RECORD_SIZE);
}

void VPrinter_InfoRecord(uint8_t out[136]) {
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    vpBuildInfoRecord(b, out);
}
