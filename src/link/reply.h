// Judging the printer's reply to the block just sent: job accepted, not ready, panel cancel,
// end of job, swath acknowledgement.
#pragma once
#include <cstddef>
#include <cstdint>

struct LinkState;

enum RxVerdict { RX_DONE = 0, RX_FATAL = 1, RX_BUSY = 2, RX_OTHER = 3 };

constexpr size_t REPLY_BUFFER_SIZE = 3000;
constexpr size_t REPLY_INFO_OFFSET = 8;

// reply/length: the body bytes actually received. Runs on the transmit thread.
int Rx_Parse(LinkState* link, const uint8_t* reply, size_t length, uint32_t expectedSwath);
