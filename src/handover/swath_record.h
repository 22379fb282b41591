// SPDX-License-Identifier: Apache-2.0
// One of the four swath records handed from the planner to the transmit thread.
#pragma once
#include <atomic>
#include <cstdint>

// Largest formatted swath; also each record's data buffer.
constexpr uint32_t MAX_FORMAT_DATA_SIZE = 10834560;

enum class SwathState : uint8_t {
    SWATH_EMPTY = 0,
    SWATH_FILLING = 1,  // taken by the planner
    SWATH_FULL = 2,     // ready to send
    SWATH_SENDING = 3,  // taken by the transmit thread
};
using enum SwathState;

struct SwathRecord {
    uint32_t size = 0;                           // 0x00: bytes of swath data to send
    std::atomic<SwathState> state{SWATH_EMPTY};  // 0x04: the planner/transmit hand-over
    uint8_t mark = 0;                            // 0x08: 1
    uint8_t resolutionCode = 0;                  // 0x09
    uint8_t rightToLeft = 0;                     // 0x0a
    uint8_t byte0b = 0;                          // 0x0b
    uint8_t leftToRight = 0;                     // 0x0c
    uint8_t spitFlag = 0;                        // 0x0d
    uint16_t speedA = 0;                         // 0x0e: printSpeedIps x 600
    uint16_t startPos = 0;                       // 0x10: first printed head dot
    uint16_t stopPos = 0;                        // 0x12: last printed head dot
    uint16_t nextStart = 0;     // 0x14: start of the following swath, 0 for the last
    uint16_t spitDistance = 0;  // 0x16: 1/600 inch
    uint16_t speedB = 0;        // 0x18: printSpeedIps x 600
    uint16_t word1a = 0;        // 0x1a
    uint32_t swathNo = 0;       // 0x1c
    uint32_t reserved = 0;      // 0x20
    uint32_t feed = 0;          // 0x24: feed steps after the swath; bit 31 = backwards
    uint8_t* data = nullptr;    // 0x28: MAX_FORMAT_DATA_SIZE bytes
};

constexpr uint32_t SWATH_FEED_BACKWARDS = 0x80000000u;
constexpr int SWATH_HEADER_BYTES = 32;  // record bytes 0x08..0x27, as they travel to the printer
