// SPDX-License-Identifier: Apache-2.0
// Builds printer information records for the parameter tests.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/bytes.h"

struct InfoRecordBuilder {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(136, 0);

    InfoRecordBuilder() {
        u16(0x86, 0x9876);
        u8(0x5c, 160);      // main board version
        u8(0x02, 1);        // PHA only
        u16(0x64, 0x2a51);  // model code
        u16(0x66, 1800);    // carriage travel, mm
        u8(0x3b, 1);        // bidirectional
    }
    InfoRecordBuilder& u8(size_t off, uint8_t v) {
        le::putU8(bytes.data(), off, v);
        return *this;
    }
    InfoRecordBuilder& u16(size_t off, uint16_t v) {
        le::putU16(bytes.data(), off, v);
        return *this;
    }
    InfoRecordBuilder& u32(size_t off, uint32_t v) {
        le::putU32(bytes.data(), off, v);
        return *this;
    }
    InfoRecordBuilder& heads(uint8_t flags) { return u8(0x02, flags); }
    InfoRecordBuilder& version(uint8_t v) { return u8(0x5c, v); }
    InfoRecordBuilder& overlap(uint8_t level) { return u8(0x57, level); }
    // The 128-byte layout the printer's older firmware sends.
    static InfoRecordBuilder shortLayout() {
        InfoRecordBuilder b;
        b.bytes.assign(128, 0);
        b.u16(0x7e, 0x1154);
        return b;
    }
};
