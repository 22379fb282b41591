// The one-bit pattern canvas, the second head's source image, the format buffer and the
// three line primitives that draw into the canvas.
#pragma once
#include <cstddef>
#include <cstdint>

#include "link/swath_record.h"  // MAX_FORMAT_DATA_SIZE

// Largest source (1-bit) image of one swath: the capacity of the canvas and of srcBufferB.
constexpr uint32_t MAX_SRC_DATA_SIZE = 2551140;

// The canvas; the same memory is the first head's source image (srcBufferA).
uint8_t* canvasBuffer();
// The second head's source image, MAX_SRC_DATA_SIZE bytes.
uint8_t* srcBufferBStorage();
// The format buffer, MAX_FORMAT_DATA_SIZE bytes.
uint8_t* formatBufferStorage();

// Bytes that may be written from `p` on without leaving the buffer it points into. A pointer
// into one of the three static buffers is bounded by that buffer's end; any other pointer is
// taken to start a buffer of `assumedCapacity` bytes.
size_t bufferRoomFrom(const uint8_t* p, size_t assumedCapacity);

// Horizontal run from dot x in `row`: the first byte from dot x, then whole bytes, and a last
// byte that keeps its top 8 - (length mod 8) dots. Every write replaces the whole byte.
void Canvas_HLine(uint8_t* canvas, uint32_t x, uint32_t row, uint32_t length, uint32_t stride);
// Vertical line of `count` rows: byte x / 8 of each row becomes 0xC0 >> (x mod 8) (dots x and
// x + 1, only dot x when x mod 8 is 7).
void Canvas_VLine(uint8_t* canvas, uint32_t x, uint32_t row, uint32_t count, uint32_t stride);
// As Canvas_VLine for the even dot at or below x: always two dots.
void Canvas_VLineEven(uint8_t* canvas, uint32_t x, uint32_t row, uint32_t count, uint32_t stride);
