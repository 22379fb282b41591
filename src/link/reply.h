// SPDX-License-Identifier: Apache-2.0
// Judging the printer's reply to the block just sent: job accepted, not ready, panel cancel,
// end of job, swath acknowledgement. Threads and contract words: docs/ARCHITECTURE.md.
#pragma once
#include <cstddef>
#include <cstdint>

struct LinkState;

// The transmit thread's next step after a reply. The enumerators keep their names, usable
// unqualified.
enum class RxVerdict : uint8_t { RX_DONE = 0, RX_FATAL = 1, RX_BUSY = 2, RX_OTHER = 3 };
using enum RxVerdict;

constexpr size_t REPLY_BUFFER_SIZE = 3000;
constexpr size_t REPLY_INFO_OFFSET = 8;

// Judges a reply of `length` body bytes (reply may be nullptr) to the command awaited
// (link->txCommand): RX_OTHER for a reply to another command, RX_BUSY (the slot marked busy)
// when the status is not 1, RX_FATAL when JOB_CREATE's information record is refused, else
// RX_DONE. On the way it applies the information record, marks a panel cancel (program error
// 10), notes the end of job and checks swath acknowledgements on boards from version 108.
// \context transmit \blocks the clock (2 s when the printer is not ready) and a message box
// (a refused record's reason through link->report, then error 3's own box)
// \errors the verdict; never reads beyond `length`.
RxVerdict Rx_Parse(LinkState* link, const uint8_t* reply, size_t length, uint32_t expectedSwath);
