// SPDX-License-Identifier: Apache-2.0
// How fast the virtual printer consumes swath DATA transfers (checks, acknowledgement and the
// rendering of the paper), beside a plain memcpy of the same bytes out of the cache.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/vprinter/vp_packet_builder.h"
#include "memcpy_baseline.h"
#include "support/printer_rig.h"
#include "vprinter.h"

namespace {

constexpr size_t SWATH_BYTES = 3400 * 180;  // a wide calibration swath at 720 dpi

vpt::Bytes swathData() {
    vpt::Bytes data(SWATH_BYTES, 0);
    // Sparse line art, like the calibration patterns: every tenth column fully inked.
    for (size_t c = 0; c < SWATH_BYTES / 180; c += 10)
        for (size_t n = 0; n < 180; ++n) data[c * 180 + n] = 0x81;
    return data;
}

// Rewrites the serial number of every packet of prepared writes (and its header checksum).
void setSerial(std::vector<vpt::Bytes>& writes, uint16_t serial) {
    for (vpt::Bytes& w : writes) {
        for (size_t off = 0; off + 32 <= w.size(); off += 8192) {
            vpt::put16(w.data(), off + 18, serial);
            vpt::fixHeaderSum(w.data() + off);
            if (w.size() == 128) vpt::fixPacketSum(w.data());
        }
    }
}

void BM_VPrinterDataTransfer(benchmark::State& state) {
    VirtualPrinter printer;
    vpt::Host host;
    host.h = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
    vpt::Bytes reply;
    host.sendCmm(vpt::commandBlock(2));
    host.readReply(&reply);

    vpt::Bytes data = swathData();
    vpt::Swath s;
    s.size = uint32_t(data.size());
    s.start = 200;
    std::vector<vpt::Bytes> block = vpt::cmmPackets(vpt::swathBlock(s), 0);
    std::vector<vpt::Bytes> writes = vpt::dataWrites(data, 0);
    for (auto _ : state) {
        setSerial(block, host.serial++);
        setSerial(writes, host.serial++);
        for (const vpt::Bytes& w : block) host.write(w);
        for (const vpt::Bytes& w : writes) host.write(w);
        host.readReply(&reply);
        VPrinter_WaitPaper();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
    state.counters["protocol_errors"] = VPrinter_ProtocolErrorCount();
    UsbDriver_Get()->close(host.h);
}
BENCHMARK(BM_VPrinterDataTransfer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MemcpySameSize(benchmark::State& state) { bench::memcpyOutOfCache(state, SWATH_BYTES); }
BENCHMARK(BM_MemcpySameSize)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
