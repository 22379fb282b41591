// SPDX-License-Identifier: Apache-2.0
// The paper worker: one thread that renders swaths and writes job pictures in the order the
// board received them, so the device's I/O calls never wait for rendering.
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

#include "platform/paths.h"
#include "vp_board.h"

namespace {

struct Task {
    enum Kind { NEW_JOB, MODEL, SWATH, FEED, PICTURE, SHEET_BEGIN, SHEET_END } kind = NEW_JOB;
    VpSwath swath;
    std::vector<uint8_t> data;
    uint16_t headDistance = 0;
    uint32_t feed = 0;
    uint32_t jobNumber = 0;
    std::string png, jsonl;
    VPrinterModel model;
};

struct Worker {
    std::mutex mu;
    std::condition_variable wake, idle;
    std::deque<Task> queue;
    bool busy = false;
    bool stopping = false;
    std::thread thread;
    // Owned by the worker thread.
    VpPaper paper;
    VPrinterModel model;
    // The sheet being collected: every job's paper as its picture is written.
    bool sheetOpen = false;
    std::vector<VpSheetPiece> sheet;
    bool sheetWritten = false;
};

Worker& worker() {
    static Worker w;
    return w;
}

// A job's paper joins the sheet when its picture is written; a job written twice (its link
// closed, then the job ended) is the same piece.
void addToSheet(Worker& w, uint32_t jobNumber) {
    if (!w.sheetOpen) return;
    if (!w.sheet.empty() && w.sheet.back().jobNumber == jobNumber) w.sheet.pop_back();
    double offset =
        w.sheet.empty() ? 0 : w.sheet.back().offsetMeters + w.sheet.back().paper.yMeters;
    w.sheet.push_back(VpSheetPiece{jobNumber, offset, w.paper});
}

void writePicture(Worker& w, const Task& t) {
    addToSheet(w, t.jobNumber);
    std::string line = vpWritePicture(w.paper, w.model, t.png);
    bool pictured = line.find("\"png\":1") != std::string::npos;
    int err = errno;
    bool recorded = vpAppendLine(t.jsonl, line);
    VpBoard& b = vpBoard();
    std::lock_guard<std::mutex> lock(b.mu);
    // A picture or record that did not reach the folder is said, never passed over.
    if (!pictured && vpDrawsPictures())
        vpStorageFailed(b, t.png + ": cannot write" +
                               (err ? std::string(": ") + std::strerror(err) : std::string()));
    if (!recorded) vpStorageFailed(b, t.jsonl + ": cannot write");
    if (b.jobNumber == t.jobNumber) b.jobEvents.push_back(line);
}

void run(Worker& w, Task& t) {
    switch (t.kind) {
        case Task::NEW_JOB:
            w.paper = VpPaper{};
            w.model = t.model;
            break;
        case Task::MODEL:
            w.model = t.model;
            break;
        case Task::SWATH:
            if (w.model.paper)
                vpRenderSwath(w.paper, w.model, t.headDistance, t.swath, t.data.data(),
                              t.data.size());
            break;
        case Task::FEED:
            if (w.model.paper) vpFeedPaper(w.paper, w.model, t.feed);
            break;
        case Task::PICTURE:
            if (w.model.paper) writePicture(w, t);
            break;
        case Task::SHEET_BEGIN:
            w.sheetOpen = true;
            w.sheet.clear();
            break;
        case Task::SHEET_END:
            w.sheetWritten =
                w.sheetOpen && !w.sheet.empty() && vpWriteSheetPicture(w.sheet, w.model, t.png);
            w.sheetOpen = false;
            w.sheet.clear();
            break;
    }
}

void loop() {
    Worker& w = worker();
    std::unique_lock<std::mutex> lock(w.mu);
    for (;;) {
        w.wake.wait(lock, [&] { return w.stopping || !w.queue.empty(); });
        if (w.queue.empty()) return;
        Task t = std::move(w.queue.front());
        w.queue.pop_front();
        w.busy = true;
        lock.unlock();
        run(w, t);
        lock.lock();
        w.busy = false;
        if (w.queue.empty()) w.idle.notify_all();
    }
}

void push(Task&& t) {
    Worker& w = worker();
    std::lock_guard<std::mutex> lock(w.mu);
    w.queue.push_back(std::move(t));
    w.wake.notify_one();
}

}  // namespace

void vpWorkerStart() {
    Worker& w = worker();
    std::lock_guard<std::mutex> lock(w.mu);
    if (w.thread.joinable()) return;
    w.stopping = false;
    w.thread = std::thread(loop);
}

void vpWorkerStop() {
    Worker& w = worker();
    {
        std::lock_guard<std::mutex> lock(w.mu);
        if (!w.thread.joinable()) return;
        w.stopping = true;
        w.wake.notify_one();
    }
    w.thread.join();
}

void vpPaperNewJob(const VPrinterModel& m) {
    Task t;
    t.kind = Task::NEW_JOB;
    t.model = m;
    push(std::move(t));
}

void vpPaperModel(const VPrinterModel& m) {
    Task t;
    t.kind = Task::MODEL;
    t.model = m;
    push(std::move(t));
}

void vpPaperSwath(const VpSwath& s, std::vector<uint8_t>&& data, uint16_t headDistance) {
    Task t;
    t.kind = Task::SWATH;
    t.swath = s;
    t.data = std::move(data);
    t.headDistance = headDistance;
    push(std::move(t));
}

void vpPaperFeed(uint32_t feedWord) {
    Task t;
    t.kind = Task::FEED;
    t.feed = feedWord;
    push(std::move(t));
}

void vpPaperPicture(uint32_t jobNumber, const std::string& pngPath, const std::string& jsonlPath) {
    Task t;
    t.kind = Task::PICTURE;
    t.jobNumber = jobNumber;
    t.png = pngPath;
    t.jsonl = jsonlPath;
    push(std::move(t));
}

void VPrinter_BeginSheet() {
    Task t;
    t.kind = Task::SHEET_BEGIN;
    push(std::move(t));
}

std::string VPrinter_EndSheet() {
    Task t;
    t.kind = Task::SHEET_END;
    uint32_t last = VPrinter_LastJobNumber();
    t.png = VPrinter_JobPath(last, "-sheet.png");
    std::string path = t.png;
    push(std::move(t));
    VPrinter_WaitPaper();
    Worker& w = worker();
    std::lock_guard<std::mutex> lock(w.mu);
    return last && w.sheetWritten ? path : std::string();
}

void VPrinter_WaitPaper() {
    Worker& w = worker();
    std::unique_lock<std::mutex> lock(w.mu);
    if (!w.thread.joinable()) return;
    w.idle.wait(lock, [&] { return w.queue.empty() && !w.busy; });
}

uint8_t VPrinter_PaperAt(int64_t x, int64_t row) {
    Worker& w = worker();
    std::lock_guard<std::mutex> lock(w.mu);
    if (w.busy) return 0;
    auto it = w.paper.rows.find(row);
    if (it == w.paper.rows.end()) return 0;
    const VpPaperRow& r = it->second;
    if (x < r.x0 || x >= r.x0 + int64_t(r.mask.size())) return 0;
    return r.mask[size_t(x - r.x0)];
}

std::vector<std::pair<int64_t, int64_t>> VPrinter_PaperInk(uint8_t mask) {
    Worker& w = worker();
    std::lock_guard<std::mutex> lock(w.mu);
    std::vector<std::pair<int64_t, int64_t>> drops;
    if (w.busy) return drops;
    for (const auto& [row, r] : w.paper.rows)
        for (size_t i = 0; i < r.mask.size(); ++i)
            if (r.mask[i] & mask) drops.push_back({r.x0 + int64_t(i), row});
    return drops;
}
