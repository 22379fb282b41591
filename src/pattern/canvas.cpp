// SPDX-License-Identifier: Apache-2.0
// The canvas line primitives.
#include "pattern/canvas.h"

#include "diag/log.h"

namespace {
// Byte writer that drops (and reports once per primitive call) what falls outside the canvas.
struct CanvasWriter {
    uint8_t* canvas;
    uint64_t room;
    const char* what;
    bool reported = false;

    CanvasWriter(uint8_t* c, const char* name)
        : canvas(c), room(bufferRoomFrom(c, MAX_SRC_DATA_SIZE)), what(name) {}
    void put(uint64_t index, uint8_t value) {
        if (index < room) {
            canvas[index] = value;
        } else if (!reported) {
            reported = true;
            Log_Trace("%s: 画布越界, 丢弃写入 %llu\n", what,
                      static_cast<unsigned long long>(index));
        }
    }
};

void verticalRun(CanvasWriter& w, uint32_t x, uint32_t row, uint32_t count, uint32_t stride,
                 uint8_t value) {
    if (!w.canvas) return;
    for (uint32_t i = 0; i < count; ++i)
        w.put((static_cast<uint64_t>(row) + i) * stride + x / 8, value);
}
}  // namespace

void Canvas_HLine(uint8_t* canvas, uint32_t x, uint32_t row, uint32_t length, uint32_t stride) {
    if (!canvas) return;
    CanvasWriter w(canvas, "Canvas_HLine");
    const uint64_t p = static_cast<uint64_t>(row) * stride + x / 8;
    w.put(p, (x % 8) ? static_cast<uint8_t>(0xFF >> (x % 8)) : 0xFF);
    for (uint32_t i = 1; i < length / 8; ++i) w.put(p + i, 0xFF);
    if (length % 8) {
        uint32_t j = length / 8 > 1 ? length / 8 : 1;
        w.put(p + j, static_cast<uint8_t>(0xFF << (length % 8)));
    }
}

void Canvas_VLine(uint8_t* canvas, uint32_t x, uint32_t row, uint32_t count, uint32_t stride) {
    CanvasWriter w(canvas, "Canvas_VLine");
    verticalRun(w, x, row, count, stride, static_cast<uint8_t>(0xC0 >> (x % 8)));
}

void Canvas_VLineEven(uint8_t* canvas, uint32_t x, uint32_t row, uint32_t count, uint32_t stride) {
    CanvasWriter w(canvas, "Canvas_VLineEven");
    verticalRun(w, x, row, count, stride, static_cast<uint8_t>(0xC0 >> (2 * ((x / 2) % 4))));
}
