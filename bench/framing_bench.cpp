// SPDX-License-Identifier: Apache-2.0
// Framing throughput: one largest swath sent as a DATA transfer into a driver that accepts
// every write at once, beside a plain memcpy of the same size out of the cache.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/session.h"
#include "handover/swath_record.h"
#include "link/usb.h"
#include "memcpy_baseline.h"
#include "platform/usb_driver.h"

namespace {

constexpr size_t SWATH_BYTES = MAX_FORMAT_DATA_SIZE;  // 10834560 bytes

std::atomic<uint64_t> bytesAccepted{0};

bool nullBegin() { return true; }
int nullPath(uint32_t index, char* path, size_t cap) {
    if (index > 0) return 0;
    std::snprintf(path, cap, "%s", "\\\\?\\usb#vid_2408&pid_0003#null");
    return 1;
}
void nullEnd() {}
UsbHandle nullOpen(const char*) { return 1; }
void nullClose(UsbHandle) {}
bool nullIoctl(UsbHandle, uint32_t, const void*, uint32_t, void* out, uint32_t outLen,
               uint32_t* returned) {
    // Touch the batch so the framing work cannot be optimised away.
    benchmark::DoNotOptimize(static_cast<uint8_t*>(out)[outLen - 1]);
    bytesAccepted += outLen;
    if (returned) *returned = outLen;
    return true;
}
uint32_t nullLastError() { return 0; }
const UsbDriverBackend nullDriver{
    .enumBegin = nullBegin,
    .enumPath = nullPath,
    .enumEnd = nullEnd,
    .open = nullOpen,
    .close = nullClose,
    .ioctl = nullIoctl,
    .serialNumber = nullptr,  // no serial numbers
    .lastError = nullLastError,
};

std::vector<uint8_t> swathData() {
    std::vector<uint8_t> data(SWATH_BYTES);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
    return data;
}

void BM_DataFraming10MB(benchmark::State& state) {
    Session session;  // the program state of this run
    UsbDriver_Install(&nullDriver);
    std::vector<uint8_t> data = swathData();
    for (auto _ : state) {
        bool ok = Usb_Send(1, data.data(), static_cast<uint32_t>(data.size()), USB_SEND_DATA);
        benchmark::DoNotOptimize(ok);
        if (!ok) state.SkipWithError("framing failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * SWATH_BYTES);
    state.counters["wire_bytes"] =
        benchmark::Counter(static_cast<double>(bytesAccepted.load()) / state.iterations());
    bytesAccepted = 0;
    UsbDriver_Install(nullptr);
}

void BM_Memcpy10MB(benchmark::State& state) { bench::memcpyOutOfCache(state, SWATH_BYTES); }

}  // namespace

BENCHMARK(BM_DataFraming10MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy10MB)->Unit(benchmark::kMillisecond);
