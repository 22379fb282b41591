// SPDX-License-Identifier: Apache-2.0
// The job's image buffers, drawn by the patterns and read by the formatter and the planner:
// the one-bit canvas, the second head's source image and the format buffer.
#pragma once
#include <cstddef>
#include <cstdint>

#include "handover/swath_record.h"  // MAX_FORMAT_DATA_SIZE

// Largest source (1-bit) image of one swath: the capacity of the canvas and of srcBufferB.
constexpr uint32_t MAX_SRC_DATA_SIZE = 2551140;

// The canvas; the same memory is the first head's source image (srcBufferA). The three buffers
// live for the whole run; the job thread draws, formats and plans in them.
// \context job \nonblocking \errors none (never nullptr).
uint8_t* canvasBuffer();
// The second head's source image, MAX_SRC_DATA_SIZE bytes. \context job \nonblocking \errors none.
uint8_t* srcBufferBStorage();
// The format buffer, MAX_FORMAT_DATA_SIZE bytes. \context job \nonblocking \errors none.
uint8_t* formatBufferStorage();

// Bytes that may be written from `p` on without leaving the buffer it points into. A pointer
// into one of the three static buffers is bounded by that buffer's end; any other pointer is
// taken to start a buffer of `assumedCapacity` bytes. \threadsafe \nonblocking \errors none.
size_t bufferRoomFrom(const uint8_t* p, size_t assumedCapacity);
