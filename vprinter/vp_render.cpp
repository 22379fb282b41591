// SPDX-License-Identifier: Apache-2.0
// The printed paper: drops placed by the physics of the carriage (positions, direction,
// nozzle rows at their places on the head, feeds at the board's true steps per metre).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "vp_board.h"

namespace {

constexpr double INCHES_PER_METRE = 39.37008;
constexpr uint32_t HEAD_DPI = 180;
constexpr uint32_t NOZZLES = 180;

// Resolution code of the swath header -> dots per inch and the head's row gaps at it.
struct Resolution {
    uint8_t code;
    uint16_t dpi;
    uint16_t smallGap, largeGap;
};
const Resolution RESOLUTIONS[] = {
    {5, 360, 31, 108},
    {1, 540, 47, 162},
    {2, 720, 64, 216},
    {6, 1440, 127, 432},
};

const Resolution* findResolution(uint8_t code) {
    for (const Resolution& r : RESOLUTIONS)
        if (r.code == code) return &r;
    return nullptr;
}

// Distance of channel k's nozzle row behind channel 7's, alternating small and large gaps.
int64_t rowPlace(const Resolution& r, int channel) {
    int d = 7 - channel;
    return int64_t((d + 1) / 2) * r.smallGap + int64_t(d / 2) * r.largeGap;
}

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int32_t bidirError1440(const VPrinterModel& m, uint16_t speedWord) {
    uint16_t ips = static_cast<uint16_t>(speedWord / 600);
    for (const auto& [speed, error] : m.bidirErrorByIps)
        if (speed == ips) return error;
    return 0;
}

uint8_t* cell(VpPaperRow& row, int64_t x) { return &row.mask[size_t(x - row.x0)]; }

void ensureRange(VpPaperRow& row, int64_t lo, int64_t hi) {
    if (row.mask.empty()) {
        row.x0 = lo;
        row.mask.assign(size_t(hi - lo + 1), 0);
        return;
    }
    if (lo < row.x0) {
        row.mask.insert(row.mask.begin(), size_t(row.x0 - lo), 0);
        row.x0 = lo;
    }
    int64_t end = row.x0 + int64_t(row.mask.size()) - 1;
    if (hi > end) row.mask.resize(size_t(hi - row.x0 + 1), 0);
}

// Picture row of each nozzle of one head for the current paper position.
void nozzleRows(const VpPaper& paper, const VPrinterModel& m, double extraInches,
                int64_t out[NOZZLES], bool fires[NOZZLES]) {
    double base = paper.yMeters * INCHES_PER_METRE + extraInches;
    for (uint32_t n = 0; n < NOZZLES; ++n) {
        double deflect = 0;
        for (const auto& [nozzle, d] : m.deflectedNozzles)
            if (nozzle == n) deflect = d / 1440.0;
        fires[n] = std::find(m.missingNozzles.begin(), m.missingNozzles.end(), n) ==
                   m.missingNozzles.end();
        out[n] = std::llround((base + double(n) / HEAD_DPI + deflect) * m.renderDpiY);
    }
}

// One head on the carriage: where it sits against the first head, which ink channels it fires
// and how far behind the first head it takes its nozzles' bytes from the swath's byte stream.
struct HeadPlace {
    int64_t dx;          // job dots added to every landing position
    double dyInches;     // added to every nozzle's height
    uint8_t channels;    // bit k: the head fires channel k
    uint32_t byteDelay;  // nozzle n of column c fires stream byte c x 180 + n + byteDelay
};

void fireHead(VpPaper& paper, const VPrinterModel& m, const VpSwath& s, const Resolution& r,
              const uint8_t* data, size_t size, const HeadPlace& head) {
    // The data length is rounded up for the transfer; a partial last column is padding.
    size_t columns = size / NOZZLES;
    bool r2l = s.r2l == 1;
    int64_t x0 = int64_t(s.start) * r.dpi / HEAD_DPI;
    int64_t shift = head.dx;
    if (r2l)
        shift -= m.bidirMechanicalColumns +
                 std::llround(bidirError1440(m, s.speed) * double(r.dpi) / 1440.0);
    int64_t place[8];
    for (int k = 0; k < 8; ++k) place[k] = -rowPlace(r, k) + shift;
    uint16_t grid = paper.xDpi;
    auto toGrid = [&](int64_t x) { return grid == r.dpi ? x : floorDiv(x * grid, r.dpi); };
    int64_t first = r2l ? x0 - int64_t(columns) + 1 : x0;
    int64_t lo = toGrid(first + place[0]) - 1,
            hi = toGrid(first + int64_t(columns) - 1 + place[7]) + 1;
    int64_t rows[NOZZLES];
    bool fires[NOZZLES];
    nozzleRows(paper, m, head.dyInches, rows, fires);
    VpPaperRow* rowOf[NOZZLES] = {};
    for (size_t c = 0; c < columns; ++c) {
        const size_t column = c * NOZZLES + head.byteDelay;
        int64_t x = r2l ? x0 - int64_t(c) : x0 + int64_t(c);
        for (uint32_t n = 0; n < NOZZLES && column + n < size; ++n) {
            uint8_t v = data[column + n] & head.channels;
            if (v == 0 || !fires[n]) continue;
            if (!rowOf[n]) {
                rowOf[n] = &paper.rows[rows[n]];
                ensureRange(*rowOf[n], lo, hi);
            }
            for (int k = 0; k < 8; ++k) {
                if (!(v & (1u << k))) continue;
                *cell(*rowOf[n], toGrid(x + place[k])) |= static_cast<uint8_t>(1u << k);
                ++paper.drops;
            }
        }
    }
}

}  // namespace

uint16_t vpResolutionDpi(uint8_t code) {
    const Resolution* r = findResolution(code);
    return r ? r->dpi : 0;
}

void vpRenderSwath(VpPaper& paper, const VPrinterModel& m, uint16_t headDistance, const VpSwath& s,
                   const uint8_t* data, size_t size) {
    const Resolution* r = findResolution(s.resolutionCode);
    if (size == 0 || !data || !r) return;
    if (paper.xDpi == 0) paper.xDpi = r->dpi;
    // The second head sits beside the first at the record's head distance (1/720 inch), plus
    // its configured error, and reads the swath's bytes two behind the first head's, so that the
    // host's second-head bytes (two nozzles further) reach its nozzles as they reach the first
    // head's. A byte carries eight channels and the carriage sixteen nozzle rows: with both heads
    // the first fires the even channels and the second the odd ones; a head alone fires all.
    HeadPlace headA{0, 0.0, 0xFF, 0};
    HeadPlace headB{-std::llround((headDistance + m.headBOffsetX1440 / 2.0) * r->dpi / 720.0),
                    m.headBOffsetY1440 / 1440.0, 0xFF, 2};
    const uint8_t heads = m.headFlags & 3;
    if (heads == 3) {
        headA.channels = 0x55;
        headB.channels = 0xAA;
    }
    if (heads != 2) fireHead(paper, m, s, *r, data, size, headA);
    if (heads & 2) fireHead(paper, m, s, *r, data, size, headB);
}

void vpFeedPaper(VpPaper& paper, const VPrinterModel& m, uint32_t feedWord) {
    uint32_t steps = feedWord & 0x7FFFFFFFu;
    double metres = double(steps) / m.stepsPerMeter * (1.0 + m.feedErrorPpm / 1e6);
    paper.yMeters += (feedWord >> 31) ? -metres : metres;
}
