// SPDX-License-Identifier: Apache-2.0
// The ring of four swath records: the lock-free hand-over from the planner to the transmit
// thread. The planner only moves records 0 -> 1 -> 2 and the put index; the transmit thread
// only 2 -> 3 -> 0 and the take index.
#include "handover/swath_ring.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "platform/bytes.h"

namespace {

constexpr ResolutionEntry RESOLUTIONS[] = {
    {300, 5, 1}, {360, 5, 1}, {450, 1, 0},  {540, 1, 0},
    {600, 2, 2}, {720, 2, 2}, {1200, 6, 3}, {1440, 6, 3},
};
constexpr ResolutionEntry FALLBACK_RESOLUTION = {720, 2, 2};

SwathRecord ring[SWATH_RING_SIZE];
std::atomic<uint8_t> ringPut{0};
std::atomic<uint8_t> ringTake{0};
std::atomic<JobContext*> ringJob{nullptr};

uint16_t speedWord(uint8_t ips) {
    return static_cast<uint16_t>(std::min<uint32_t>(ips * 600u, 0xffffu));
}

void initHeader(SwathRecord& r, uint8_t resolutionCode, uint16_t speed) {
    r.size = 0;
    r.mark = 1;
    r.resolutionCode = resolutionCode;
    r.rightToLeft = 0;
    r.byte0b = 0;
    r.leftToRight = 0;
    r.spitFlag = 0;
    r.speedA = speed;
    r.startPos = r.stopPos = r.nextStart = 0;
    r.spitDistance = 0;
    r.speedB = speed;
    r.word1a = 0;
    r.swathNo = 0;
    r.reserved = 0;
    r.feed = 0;
}

bool allocateBuffer(SwathRecord& r) {
    if (r.data) return true;
    r.data = new (std::nothrow) uint8_t[MAX_FORMAT_DATA_SIZE];
    return r.data != nullptr;
}

uint8_t nextIndex(uint8_t i) { return static_cast<uint8_t>((i + 1) % SWATH_RING_SIZE); }

}  // namespace

const ResolutionEntry& Ring_Resolution(uint32_t xDpi) {
    for (const ResolutionEntry& e : RESOLUTIONS)
        if (e.dpi == xDpi) return e;
    return FALLBACK_RESOLUTION;
}

bool Ring_Prepare(JobContext* job) {
    ringJob.store(job);
    const ResolutionEntry& res = Ring_Resolution(job->xDpi);
    const uint16_t speed = speedWord(job->printSpeedIps);
    bool allocated = true;
    for (SwathRecord& r : ring) {
        r.state.store(SWATH_EMPTY);
        initHeader(r, res.code, speed);
        allocated = allocateBuffer(r) && allocated;
    }
    ringPut.store(0);
    ringTake.store(0);
    return allocated;
}

void Ring_Free() {
    // A job that ended early can leave records full or in transmission. Without their buffers
    // they mean nothing, and the next job's transmit thread starts before that job prepares
    // the ring again: it must find nothing to send.
    for (SwathRecord& r : ring) {
        r.state.store(SWATH_EMPTY);
        delete[] r.data;
        r.data = nullptr;
    }
    ringPut.store(0);
    ringTake.store(0);
}

SwathRecord* Ring_GetEmpty() {
    SwathRecord& r = ring[ringPut.load()];
    if (r.state.load() != SWATH_EMPTY || r.data == nullptr) return nullptr;
    r.state.store(SWATH_FILLING);
    ringPut.store(nextIndex(ringPut.load()));
    return &r;
}

void Ring_SetState(SwathRecord* r, SwathState state) {
    if (r) r->state.store(state);
}

int Ring_CountState(SwathState state) {
    int n = 0;
    for (const SwathRecord& r : ring)
        if (r.state.load() == state) ++n;
    return n;
}

SwathRecord* Ring_TakeFull() {
    JobContext* job = ringJob.load();
    if (job == nullptr) job = jobContext();
    if (job->txReleased.load() == 0) {
        // Transmission starts only with three swaths queued so the printer stays ahead of
        // the carriage; the end-of-job wait releases it for shorter jobs.
        if (Ring_CountState(SWATH_FULL) < 3) return nullptr;
        job->txReleased.store(1);
    }
    SwathRecord& r = ring[ringTake.load()];
    if (r.state.load() != SWATH_FULL) return nullptr;
    r.state.store(SWATH_SENDING);
    ringTake.store(nextIndex(ringTake.load()));
    return &r;
}

void Ring_HeaderBytes(const SwathRecord& r, uint8_t out[32]) {
    // Offsets are record offsets less 8: the header starts at record byte 0x08.
    le::putU8(out, 0x00, r.mark);
    le::putU8(out, 0x01, r.resolutionCode);
    le::putU8(out, 0x02, r.rightToLeft);
    le::putU8(out, 0x03, r.byte0b);
    le::putU8(out, 0x04, r.leftToRight);
    le::putU8(out, 0x05, r.spitFlag);
    le::putU16(out, 0x06, r.speedA);
    le::putU16(out, 0x08, r.startPos);
    le::putU16(out, 0x0a, r.stopPos);
    le::putU16(out, 0x0c, r.nextStart);
    le::putU16(out, 0x0e, r.spitDistance);
    le::putU16(out, 0x10, r.speedB);
    le::putU16(out, 0x12, r.word1a);
    le::putU32(out, 0x14, r.swathNo);
    le::putU32(out, 0x18, r.reserved);
    le::putU32(out, 0x1c, r.feed);
}

SwathRecord* Ring_Record(int index) {
    return index >= 0 && index < SWATH_RING_SIZE ? &ring[index] : nullptr;
}

uint8_t Ring_PutIndex() { return ringPut.load(); }
uint8_t Ring_TakeIndex() { return ringTake.load(); }
