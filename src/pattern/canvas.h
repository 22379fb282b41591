// SPDX-License-Identifier: Apache-2.0
// The three line primitives that draw into the one-bit pattern canvas.
#pragma once
#include <cstdint>

#include "handover/job_buffers.h"

// Horizontal run from dot x in `row`: the first byte from dot x, then whole bytes, and a last
// byte that keeps its top 8 - (length mod 8) dots. Every write replaces the whole byte.
void Canvas_HLine(uint8_t* canvas, uint32_t x, uint32_t row, uint32_t length, uint32_t stride);
// Vertical line of `count` rows: byte x / 8 of each row becomes 0xC0 >> (x mod 8) (dots x and
// x + 1, only dot x when x mod 8 is 7).
void Canvas_VLine(uint8_t* canvas, uint32_t x, uint32_t row, uint32_t count, uint32_t stride);
// As Canvas_VLine for the even dot at or below x: always two dots.
void Canvas_VLineEven(uint8_t* canvas, uint32_t x, uint32_t row, uint32_t count, uint32_t stride);
