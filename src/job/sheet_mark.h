// SPDX-License-Identifier: Apache-2.0
// The mark printed before each print of the calibration sheet: which adjustment follows it
// (mode and pass) and which sheet it belongs to, in a row of cells a scan reader can decode and
// in the built-in glyph font for the operator.
#pragma once
#include <cstdint>
#include <string>

// Seen upright on the paper, in cells: a solid anchor ANCHOR_CELLS x MARK_HEIGHT_CELLS, one
// cell of gap, MARK_BITS data cells (a filled cell is a 1) along the middle row, one cell of
// gap and a solid end bar one cell wide and MARK_HEIGHT_CELLS high; the text follows. The
// anchor and the end bar fix the mark's place, turn and scale; the data row carries the mode
// (job type 5..10 as 0..5), the second pass, the sheet number and a check.
constexpr int MARK_CELL_DOTS = 27;  // at 540 dpi across: 0.05 inch
constexpr int MARK_CELL_ROWS = 9;   // canvas rows (nozzles, 1/180 inch) down
constexpr int MARK_ANCHOR_CELLS = 6;
constexpr int MARK_HEIGHT_CELLS = 3;
constexpr int MARK_BITS = 20;
constexpr int MARK_FIRST_BIT_CELL = MARK_ANCHOR_CELLS + 1;
constexpr int MARK_END_CELL = MARK_FIRST_BIT_CELL + MARK_BITS + 1;  // the end bar's cell
constexpr uint32_t MARK_SHEET_IDS = 1024;                           // sheet numbers 0..1023

struct SheetMark {
    int type = 5;        // adjustment 5..10
    bool hd = false;     // the second-pass value
    uint32_t sheet = 0;  // 0 .. MARK_SHEET_IDS - 1
};

// The 20 bits of a mark, bit 0 first along the row; 0 for a mark outside its ranges.
uint32_t SheetMark_Encode(const SheetMark& mark);
// false when the bits are no mark (wrong check, a mode outside 5..10).
bool SheetMark_Decode(uint32_t bits, SheetMark* out);
// The text printed beside the cells, e.g. "5 TEXT-HIGH  SHEET 123" or "8 IMAGE-HIGH HD ...".
std::string SheetMark_Text(const SheetMark& mark);
