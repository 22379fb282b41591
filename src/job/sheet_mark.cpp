// SPDX-License-Identifier: Apache-2.0
// The calibration sheet's mark: its bits and its text.
#include "job/sheet_mark.h"

#include <cstdio>

namespace {
constexpr int CHECK_BITS = 6;
constexpr int PAYLOAD_BITS = MARK_BITS - CHECK_BITS;  // 3 mode, 1 pass, 10 sheet

// CRC-6 (polynomial x^6 + x + 1) over the payload, bit 0 first: one wrong cell, or a run of
// up to six, always fails the check.
uint32_t check(uint32_t payload) {
    uint32_t crc = 0x2a;
    for (int i = 0; i < PAYLOAD_BITS; ++i) {
        uint32_t in = (payload >> i) & 1u;
        uint32_t top = (crc >> 5) & 1u;
        crc = (crc << 1) & 0x3fu;
        if (in ^ top) crc ^= 0x03u;
    }
    return crc;
}

const char* const MODE_NAMES[6] = {"TEXT-HIGH",  "TEXT-MID",  "TEXT-LOW",
                                   "IMAGE-HIGH", "IMAGE-LOW", "PHOTO"};
}  // namespace

uint32_t SheetMark_Encode(const SheetMark& m) {
    if (m.type < 5 || m.type > 10 || m.sheet >= MARK_SHEET_IDS) return 0;
    uint32_t payload = uint32_t(m.type - 5) | (m.hd ? 8u : 0u) | (m.sheet << 4);
    return payload | (check(payload) << PAYLOAD_BITS);
}

bool SheetMark_Decode(uint32_t bits, SheetMark* out) {
    uint32_t payload = bits & ((1u << PAYLOAD_BITS) - 1);
    if ((bits >> PAYLOAD_BITS) != check(payload) || (bits >> MARK_BITS) != 0) return false;
    if ((payload & 7u) > 5) return false;
    out->type = int(payload & 7u) + 5;
    out->hd = (payload & 8u) != 0;
    out->sheet = payload >> 4;
    return true;
}

std::string SheetMark_Text(const SheetMark& m) {
    char text[64];
    std::snprintf(text, sizeof text, "%d %s%s  SHEET %u", m.type,
                  m.type >= 5 && m.type <= 10 ? MODE_NAMES[m.type - 5] : "?",
                  m.hd && m.type != 10 ? " HD" : "", m.sheet);
    return text;
}
