// SPDX-License-Identifier: Apache-2.0
// The calibration console: its state, control IDs, dialog procedure and entry.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "app/console_ids.h"  // ID_<name> of every control and command of layout 103
#include "platform/dialog.h"
#include "platform/owned_state.h"

constexpr size_t CURRENT_RECORD_SIZE = 60;  // the 56-byte record plus the file tail

struct ConsoleState {
    uint8_t currentRecord[CURRENT_RECORD_SIZE];
    uint8_t printerConnected;     // 1 once the start-up read completed; SAVE needs it
    std::atomic<uint8_t> hdMode;  // box ID_HD_BOX "高清二次"; read by the job runner
    uint8_t dialogBlock[28];      // the console's block copy of the loaded record
    DialogHandle dialog;
};

// The one console state of the program (dialog thread).
ConsoleState* consoleState();

constexpr int CONSOLE_LAYOUT_ID = 103;
constexpr int CONSOLE_ICON_ID = 115;
// The layout: every control with its ID, kind, Chinese text and place.
const DialogLayout* consoleLayout();

// Dialog procedure: initialisation, close, destroy and commands; 0 for anything else.
intptr_t consoleProc(DialogHandle dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Creates and shows the dialog and runs the message loop; 0 when the loop ends.
int runConsole(intptr_t instance, int showCommand);
