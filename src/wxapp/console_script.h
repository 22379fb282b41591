// SPDX-License-Identifier: Apache-2.0
// Scripted operator for the desktop console (HEADALIGN_CONSOLE_SCRIPT): demos and tests run
// the real window without anybody at the keyboard.
#pragma once
#include <string>

// Steps, separated by ';' or line feeds, run one after the other once the loop is running:
//   click ID | select ID INDEX | type ID TEXT | command ID [CODE] | wait MS | shot FILE.png
//   answer ok|cancel|yes|no      (answer for the boxes that follow; ok at start)
//   file PATH | file cancel      (answer for the next file dialog)
//   layout                       (prints the controls that stand away from the layout)
//   close                        (closes the window; added at the end when missing)
// Every box is printed to standard output as "box: CAPTION: TEXT". false for a bad script.
bool ConsoleScript_Start(const std::string& script);
// false when a step failed (unknown control, disabled control, screenshot not written).
bool ConsoleScript_Succeeded();
