// SPDX-License-Identifier: Apache-2.0
// The baseline beside each benchmark: a memcpy of as many bytes as the benchmark's work, from
// and to memory that is not in the cache. A buffer that fits the cache copies at cache speed
// and one that does not at memory speed, which made the "memcpy" figures of one run range over
// a factor of two between programs. Each copy here takes the next slice of a pool twice the
// size of the last-level cache, so a slice comes back only after the rest of the pool has
// pushed it out: every program's baseline is the same memory-speed yardstick. (Flushing one
// buffer with clflush before each copy is no substitute: the write-backs still under way and
// the prefetchers make the flushed copy's speed depend on its size.)
#pragma once
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bench {

// Bytes of the largest cache the system reports (64 MiB when it reports none).
inline size_t lastLevelCacheBytes() {
    for (int level : {_SC_LEVEL4_CACHE_SIZE, _SC_LEVEL3_CACHE_SIZE, _SC_LEVEL2_CACHE_SIZE}) {
        const long size = sysconf(level);
        if (size > 0) return static_cast<size_t>(size);
    }
    return size_t(64) << 20;
}

// Copies `bytes` bytes per iteration, each time between the next slices of a source and a
// target pool of at least twice the last-level cache (at most 1 GiB each, unless `bytes` is
// larger), filled once per program so that no page is first touched while timed.
inline void memcpyOutOfCache(benchmark::State& state, size_t bytes) {
    bytes = std::max<size_t>(bytes, 1);
    const size_t wanted = std::min(2 * lastLevelCacheBytes(), size_t(1) << 30);
    const size_t slots = std::max<size_t>(2, wanted / bytes);
    static std::vector<uint8_t> source, target;
    if (source.size() != slots * bytes) {
        source.assign(slots * bytes, 0x5A);
        target.assign(slots * bytes, 0);
    }
    size_t slot = 0;
    for (auto _ : state) {
        std::memcpy(target.data() + slot * bytes, source.data() + slot * bytes, bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
        if (++slot == slots) slot = 0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["copy_bytes"] = static_cast<double>(bytes);
    state.counters["pool_MB"] = static_cast<double>(slots * bytes) / 1e6;
}

}  // namespace bench
