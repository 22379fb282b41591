// SPDX-License-Identifier: Apache-2.0
// Fuzz target: the console's start-up read and SAVE write of a shared area of any size and
// content, behind a lock that is free, missing, timing out or failing.
//
// Input: lock byte (bits 0-1 lock mode), view size (u16, at most 4096), then the view's bytes
// (zero-padded), then the 56 bytes a SAVE writes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "../fuzz_support.h"
#include "app/session.h"
#include "app/shared_record.h"
#include "params/parameter_record.h"

namespace {

constexpr size_t VIEW_MAX = 4096;
constexpr uint8_t UNTOUCHED = 0xE7;

void checkBalanced(const FuzzArea& area) {
    FUZZ_CHECK(area.areaOpens == area.areaCloses);
    FUZZ_CHECK(area.lockOpens == area.lockCloses);
    FUZZ_CHECK(area.obtained == area.released);
}

void checkRead(FuzzArea& area) {
    uint8_t record[PARAMETER_RECORD_SIZE];
    std::memset(record, UNTOUCHED, sizeof record);
    FUZZ_CHECK(openSharedArea());
    SharedReadResult result = readSharedRecord(record);
    bool usable = area.bytes.size() >= SHARED_AREA_USED;
    if (result == SHARED_READ) {
        FUZZ_CHECK(usable && area.lock == LOCK_FREE);
        FUZZ_CHECK(std::memcmp(record, area.bytes.data() + SHARED_RECORD_OFFSET, sizeof record) ==
                   0);
    } else {
        // Busy or unusable: the record keeps what it had, and the reason is the right one.
        for (uint8_t b : record) FUZZ_CHECK(b == UNTOUCHED);
        bool missing = !usable || area.lock == LOCK_ABSENT;
        FUZZ_CHECK(result == (missing ? SHARED_NO_MUTEX : SHARED_BUSY));
    }
    checkBalanced(area);
}

void checkWrite(FuzzArea& area, const std::vector<uint8_t>& record) {
    const std::vector<uint8_t> before = area.bytes;
    FUZZ_CHECK(openSharedArea());
    bool written = writeSharedRecord(record.data());
    if (written) {
        FUZZ_CHECK(area.bytes.size() >= SHARED_AREA_USED);
        FUZZ_CHECK(area.bytes[0] == 1 && area.bytes[1] == 0 && area.bytes[2] == 0 &&
                   area.bytes[3] == 0);
        FUZZ_CHECK(
            std::equal(record.begin(), record.end(), area.bytes.begin() + SHARED_RECORD_OFFSET));
        FUZZ_CHECK(std::equal(area.bytes.begin() + SHARED_AREA_USED, area.bytes.end(),
                              before.begin() + SHARED_AREA_USED));
    } else {
        FUZZ_CHECK(area.bytes == before);
    }
    checkBalanced(area);
}

}  // namespace

int fuzzOne_shared_area(const uint8_t* data, size_t size) {
    Session session;  // every input starts from a fresh program state
    fuzzPlatform();
    FuzzInput in{data, size};
    FuzzArea area;
    area.exists = true;
    area.lock = static_cast<FuzzLockMode>(in.byte() & 3);
    size_t viewSize = std::min<size_t>(in.u16(), VIEW_MAX);
    area.bytes = in.bytes(viewSize);
    area.bytes.resize(viewSize, 0);  // exactly the view: ASan sees any access past it
    std::vector<uint8_t> record = in.bytes(PARAMETER_RECORD_SIZE);
    record.resize(PARAMETER_RECORD_SIZE, 0);

    fuzzInstallArea(&area);
    checkRead(area);
    checkWrite(area, record);
    fuzzInstallArea(nullptr);
    return 0;
}
