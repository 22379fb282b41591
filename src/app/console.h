// SPDX-License-Identifier: Apache-2.0
// The calibration console: its state, control IDs, dialog procedure and entry.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/dialog.h"
#include "platform/owned_state.h"

constexpr size_t CURRENT_RECORD_SIZE = 60;  // the 56-byte record plus the file tail

struct ConsoleState {
    uint8_t currentRecord[CURRENT_RECORD_SIZE];
    uint8_t printerConnected;     // 1 once the start-up read completed; SAVE needs it
    std::atomic<uint8_t> hdMode;  // box 1214 "高清二次"; read by the job runner
    uint8_t dialogBlock[28];      // the console's block copy of the loaded record
    DialogHandle dialog;
};

// The one console state of the program (dialog thread).
ConsoleState* consoleState();

// Control IDs of layout 103.
enum ConsoleControl : int {
    ID_CLOSE = 8,
    ID_NOZZLE_PRINT = 11,
    ID_CLEAR = 14,
    ID_PATTERN_17 = 1046,
    ID_PATTERN_18 = 1050,
    ID_PATTERN_4 = 1070,
    ID_PATTERN_4_ALT = 1104,
    ID_SAVE = 1071,
    ID_EXPORT = 1074,
    ID_IMPORT = 1075,
    ID_EXIT = 1076,
    ID_VERTICAL_PRINT = 1073,
    ID_LINE_CHECK = 1107,
    ID_INK_ORDER_BOX = 1110,
    ID_CONFIG_LIST = 1197,
    ID_CONFIG_STORE = 1199,
    ID_CONFIG_LABEL = 1200,
    ID_COLOR_BAND_BOX = 1209,
    ID_HD_BOX = 1214,
    ID_COLOR_LEFT = 1222,
    ID_COLOR_RIGHT = 1223,
    ID_FEATHER_MODE = 1186,
    ID_FEATHER_DEPTH = 1189,
    ID_FEATHER_DEPTH_SET = 1188,
    ID_SKIP_BLANK = 1195,
    ID_START_OFFSET = 1085,
    ID_START_OFFSET_ADD = 1098,
    ID_BAND_MARGIN = 1221,
    ID_BAND_MARGIN_SET = 1225,
    ID_BAND_WIDTH = 1229,
    ID_BAND_WIDTH_SET = 1232,
    // "..." at the end of the feed-step rows: the step from a measured distance.
    ID_MEASURE_PASS2 = 1240,
    ID_MEASURE_PASS3 = 1241,
    ID_MEASURE_PASS4 = 1242,
    ID_MEASURE_PASS6 = 1243,
    ID_MEASURE_PASS8 = 1244,
};

constexpr int CONSOLE_LAYOUT_ID = 103;
constexpr int CONSOLE_ICON_ID = 115;
// The layout: every control with its ID, kind, Chinese text and place.
const DialogLayout* consoleLayout();

// Dialog procedure: initialisation, close, destroy and commands; 0 for anything else.
intptr_t consoleProc(DialogHandle dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Creates and shows the dialog and runs the message loop; 0 when the loop ends.
int runConsole(intptr_t instance, int showCommand);
