// SPDX-License-Identifier: Apache-2.0
// The job's three image buffers: the canvas (first head's source image), the second head's
// source image and the format buffer.
#include "handover/job_buffers.h"

#include <cstdint>

namespace {
// Allocated once for the whole run, zeroed at start; jobs clear only the bytes they use.
alignas(64) uint8_t canvasStorage[MAX_SRC_DATA_SIZE];
alignas(64) uint8_t secondSourceStorage[MAX_SRC_DATA_SIZE];
alignas(64) uint8_t formatStorage[MAX_FORMAT_DATA_SIZE];

// Room left from p inside [begin, begin + size), or -1 when p lies elsewhere.
long long roomInside(const uint8_t* p, const uint8_t* begin, size_t size) {
    auto pv = reinterpret_cast<uintptr_t>(p);
    auto bv = reinterpret_cast<uintptr_t>(begin);
    if (pv < bv || pv > bv + size) return -1;
    return static_cast<long long>(bv + size - pv);
}

}  // namespace

uint8_t* canvasBuffer() { return canvasStorage; }
uint8_t* srcBufferBStorage() { return secondSourceStorage; }
uint8_t* formatBufferStorage() { return formatStorage; }

size_t bufferRoomFrom(const uint8_t* p, size_t assumedCapacity) {
    long long r = roomInside(p, canvasStorage, sizeof canvasStorage);
    if (r < 0) r = roomInside(p, secondSourceStorage, sizeof secondSourceStorage);
    if (r < 0) r = roomInside(p, formatStorage, sizeof formatStorage);
    return r < 0 ? assumedCapacity : static_cast<size_t>(r);
}
