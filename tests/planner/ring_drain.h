// SPDX-License-Identifier: Apache-2.0
// Test stand-in for the transmit side of the swath ring: takes full records, keeps what the
// printer would receive (header and data), and frees them.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "handover/job_context.h"
#include "handover/swath_ring.h"
#include "platform/bytes.h"

struct SentSwath {
    uint32_t size = 0;
    uint8_t header[SWATH_HEADER_BYTES] = {};
    std::vector<uint8_t> data;

    // Header bytes are record bytes 0x08..0x27.
    uint8_t rightToLeft() const { return header[0x0a - 8]; }
    uint8_t leftToRight() const { return header[0x0c - 8]; }
    uint16_t startPos() const { return le::getU16(header, 0x10 - 8); }
    uint16_t stopPos() const { return le::getU16(header, 0x12 - 8); }
    uint16_t nextStart() const { return le::getU16(header, 0x14 - 8); }
    uint32_t swathNo() const { return le::getU32(header, 0x1c - 8); }
    uint32_t reserved() const { return le::getU32(header, 0x20 - 8); }
    uint32_t feed() const { return le::getU32(header, 0x24 - 8); }
    // Channel bits of nozzle n in data column c (180 bytes per column), 0 past the data.
    uint8_t at(uint32_t column, uint32_t nozzle) const {
        const size_t i = static_cast<size_t>(column) * 180 + nozzle;
        return i < data.size() ? data[i] : 0;
    }
    uint32_t columns() const { return static_cast<uint32_t>(data.size() / 180); }
};

class RingDrain {
  public:
    // Releases transmission at once (as the job's final wait does), so every full record is
    // taken as soon as it is queued.
    explicit RingDrain(JobContext* job, bool release = true) : job_(job) {
        if (release) job_->txReleased = 1;
        thread_ = std::thread([this] { run(); });
    }
    ~RingDrain() { stop(); }

    // Waits (real time, bounded) until the ring is empty, then ends the drain.
    void finish() {
        for (int i = 0; i < 20000 && Ring_CountState(SWATH_EMPTY) < SWATH_RING_SIZE; ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        stop();
    }
    void stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }
    void setPaused(bool paused) { paused_ = paused; }
    std::vector<SentSwath> sent() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }

  private:
    void run() {
        while (running_) {
            SwathRecord* r = paused_ ? nullptr : Ring_TakeFull();
            if (!r) {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                continue;
            }
            SentSwath s;
            s.size = r->size;
            Ring_HeaderBytes(*r, s.header);
            if (r->data && r->size) s.data.assign(r->data, r->data + r->size);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                sent_.push_back(std::move(s));
            }
            Ring_SetState(r, SWATH_EMPTY);
        }
    }

    JobContext* job_;
    std::atomic<bool> running_{true};
    std::atomic<bool> paused_{false};
    std::mutex mutex_;
    std::vector<SentSwath> sent_;
    std::thread thread_;
};
