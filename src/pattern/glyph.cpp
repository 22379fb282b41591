// SPDX-License-Identifier: Apache-2.0
// Drawing glyphs, texts and group labels into the canvas, turned by 180 degrees.
#include "pattern/glyph.h"

#include <cstdio>
#include <cstring>

#include "diag/log.h"
#include "pattern/canvas.h"

namespace {
// Largest enlargement the scratch image holds (every caller uses 8).
constexpr uint32_t MAX_SCALE = 32;
constexpr uint32_t LABEL_SCALE = 8;

// The glyph as row bytes, most significant bit = column 0; columns from the ninth are dropped.
// Returns the number of rows, 0 for an entry whose bitmap would not fit in its 34 bytes.
uint32_t glyphRows(const uint8_t* e, uint8_t rows[GLYPH_ENTRY_SIZE * 8]) {
    const uint32_t width = e[0], height = e[1];
    const uint32_t bands = height / 8;
    if (width * bands > GLYPH_ENTRY_SIZE - 2) return 0;
    for (uint32_t b = 0; b < bands; ++b) {
        for (uint32_t r = 0; r < 8; ++r) {
            uint8_t v = 0;
            for (uint32_t i = 0; i < width && i < 8; ++i)
                if (e[2 + b * width + i] & (1u << r)) v = static_cast<uint8_t>(v | (0x80u >> i));
            rows[b * 8 + r] = v;
        }
    }
    return bands * 8;
}
}  // namespace

void Glyph_Blit(uint8_t* canvas, const uint8_t* glyph34, uint32_t x, uint32_t row, uint32_t scale,
                uint32_t rowLengthDots) {
    if (!canvas || !glyph34 || scale == 0 || scale > MAX_SCALE) return;
    uint8_t rows[GLYPH_ENTRY_SIZE * 8] = {};
    const uint32_t height = glyphRows(glyph34, rows);
    // Scratch row s is glyph row height - 1 - s, mirrored: column 7 first.
    uint8_t scratch[GLYPH_ENTRY_SIZE * 8][MAX_SCALE] = {};
    for (uint32_t s = 0; s < height; ++s) {
        const uint8_t line = rows[height - 1 - s];
        for (uint32_t k = 0; k < 8; ++k) {
            if (!(line & (0x80u >> (7 - k)))) continue;
            const uint32_t p = k * scale;
            scratch[s][p / 8] |= static_cast<uint8_t>(0xFFu >> (p % 8));
            const uint32_t shift = scale - p % 8;
            if (p / 8 + 1 < scale && shift < 8)
                scratch[s][p / 8 + 1] |= static_cast<uint8_t>(0xFFu << shift);
        }
    }
    const uint64_t stride = (static_cast<uint64_t>(rowLengthDots) + 7) / 8;
    const uint64_t room = bufferRoomFrom(canvas, MAX_SRC_DATA_SIZE);
    const uint32_t repeat = scale / 4;
    bool dropped = false;
    for (uint32_t s = 0; s < height; ++s) {
        for (uint32_t t = 0; t < repeat; ++t) {
            const uint64_t at = (static_cast<uint64_t>(row) + s * repeat + t) * stride + x / 8;
            for (uint32_t i = 0; i < scale; ++i) {
                if (at + i < room)
                    canvas[at + i] = scratch[s][i];
                else
                    dropped = true;
            }
        }
    }
    if (dropped) Log_Trace("Glyph_Blit: 画布越界, 丢弃部分字形 x=%u row=%u\n", x, row);
}

void Glyph_DrawText(uint8_t* canvas, const char* text, uint32_t x, uint32_t row, uint32_t scale,
                    uint32_t rowLengthDots) {
    if (!text) return;
    const uint64_t end = static_cast<uint64_t>(x) + rowLengthDots;
    uint64_t pos = x;
    for (size_t i = std::strlen(text); i-- > 0;) {
        const unsigned ch = static_cast<unsigned char>(text[i]);
        if (ch > 127) {
            Log_Trace("Error! 中文字符:%x No%d 未加入字库!", ch, static_cast<int>(i));
            continue;
        }
        const uint8_t* glyph = glyphEntry(static_cast<int>(ch));
        if (!glyph) {
            Log_Trace("Error! 字符串:%x No%d 未加入字库!", ch, static_cast<int>(i));
            continue;
        }
        if (pos > UINT32_MAX) break;
        Glyph_Blit(canvas, glyph, static_cast<uint32_t>(pos), row, scale, rowLengthDots);
        const uint64_t advance = static_cast<uint64_t>(glyph[0]) * scale;
        pos += advance;
        if (pos + 2 * advance > end) break;
    }
}

void Glyph_DrawGroupLabels(const PatternLayout& layout, JobContext* job) {
    if (!job || !job->srcBuffer) return;
    const int count = layout.groupCount;
    for (int r = count - 1; r >= 1; --r) {
        char label[16];
        std::snprintf(label, sizeof label, "%02d", r - count / 2);
        const int64_t x = static_cast<int64_t>(count - r) * layout.groupPitch + layout.labelX;
        if (x < 0 || x > UINT32_MAX) {
            Log_Trace("Glyph_DrawGroupLabels: 标签位置越界 %lld\n", static_cast<long long>(x));
            continue;
        }
        Glyph_DrawText(job->srcBuffer, label, static_cast<uint32_t>(x), layout.labelRow,
                       LABEL_SCALE, job->rowBits);
    }
}
