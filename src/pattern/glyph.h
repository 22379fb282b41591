// SPDX-License-Identifier: Apache-2.0
// The built-in 8 x 16 glyph font and the drawing of texts and group labels into the canvas.
#pragma once
#include <cstdint>

#include "handover/job_context.h"
#include "pattern/pattern_layout.h"

constexpr int GLYPH_FIRST = 32;  // space
constexpr int GLYPH_LAST = 126;  // '~'
constexpr int GLYPH_COUNT = 95;
constexpr int GLYPH_ENTRY_SIZE = 34;  // width, height, 16 column bytes per 8-row band, zeros
constexpr int GLYPH_WIDTH = 8;
constexpr int GLYPH_HEIGHT = 16;
// The entry of a printable ASCII code, or nullptr outside 32..126.
const uint8_t* glyphEntry(int code);

// Draws one glyph, turned by 180 degrees and enlarged, with its top-left canvas byte at byte
// x / 8 of `row`; the stride is (rowLengthDots + 7) / 8. Replaces the bytes it covers.
void Glyph_Blit(uint8_t* canvas, const uint8_t* glyph34, uint32_t x, uint32_t row, uint32_t scale,
                uint32_t rowLengthDots);
// Draws a NUL-terminated string last character first at increasing x, so that it reads
// correctly with the canvas turned by 180 degrees. Characters outside the font are traced
// and skipped without advancing.
void Glyph_DrawText(uint8_t* canvas, const char* text, uint32_t x, uint32_t row, uint32_t scale,
                    uint32_t rowLengthDots);
// Draws the group numbers of a pattern into job->srcBuffer.
void Glyph_DrawGroupLabels(const PatternLayout& layout, JobContext* job);
