// SPDX-License-Identifier: Apache-2.0
// Byte access for every wire and file format (little-endian unless the format says otherwise):
// records are never cast onto bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace le {

inline uint8_t getU8(const uint8_t* p, size_t off) { return p[off]; }
inline uint16_t getU16(const uint8_t* p, size_t off) {
    return static_cast<uint16_t>(p[off] | (p[off + 1] << 8));
}
inline uint32_t getU32(const uint8_t* p, size_t off) {
    return static_cast<uint32_t>(p[off]) | (static_cast<uint32_t>(p[off + 1]) << 8) |
           (static_cast<uint32_t>(p[off + 2]) << 16) | (static_cast<uint32_t>(p[off + 3]) << 24);
}
inline void putU8(uint8_t* p, size_t off, uint8_t v) { p[off] = v; }
inline void putU16(uint8_t* p, size_t off, uint16_t v) {
    p[off] = static_cast<uint8_t>(v);
    p[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline void putU32(uint8_t* p, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Bounds-checked reader for input the program does not control (replies, files, the shared
// area): a read past the end yields 0 and marks the reader as short instead of overrunning.
struct Reader {
    const uint8_t* data;
    size_t size;
    bool shortRead = false;

    bool has(size_t off, size_t n) const { return off <= size && n <= size - off; }
    uint8_t u8(size_t off) {
        if (!has(off, 1)) {
            shortRead = true;
            return 0;
        }
        return getU8(data, off);
    }
    uint16_t u16(size_t off) {
        if (!has(off, 2)) {
            shortRead = true;
            return 0;
        }
        return getU16(data, off);
    }
    uint32_t u32(size_t off) {
        if (!has(off, 4)) {
            shortRead = true;
            return 0;
        }
        return getU32(data, off);
    }
};

}  // namespace le

// Big-endian reads, for the formats that are (PNG chunks, JPEG markers, Motorola-order EXIF).
namespace be {
inline uint16_t getU16(const uint8_t* p, size_t off) {
    return static_cast<uint16_t>((p[off] << 8) | p[off + 1]);
}
inline uint32_t getU32(const uint8_t* p, size_t off) {
    return (static_cast<uint32_t>(p[off]) << 24) | (static_cast<uint32_t>(p[off + 1]) << 16) |
           (static_cast<uint32_t>(p[off + 2]) << 8) | static_cast<uint32_t>(p[off + 3]);
}
}  // namespace be
