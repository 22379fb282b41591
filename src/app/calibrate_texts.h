// SPDX-License-Identifier: Apache-2.0
// Texts of the calibration window (print the sheet, read its picture, the result table, SAVE,
// verification) in both languages of the console; every console that shows the window takes
// its words from here, chosen for the user-interface language when used.
#pragma once
#include <string>

#include "app/sheet_scan.h"

enum CalibrateText {
    CAL_OPEN_BUTTON,  // the console's button that opens the window
    CAL_TITLE,
    CAL_STEP_PRINT,
    CAL_SECOND_PASS,
    CAL_PRINT,
    CAL_PRINTING,
    CAL_PRINTED,     // %u sheet, %d prints
    CAL_PRINTED_VP,  // %u sheet, %d prints; the virtual printer's picture is read at once
    CAL_NOT_PRINTED,
    CAL_STEP_PICTURE,
    CAL_READ_FILE,
    CAL_SCAN,
    CAL_SCANNING,
    CAL_READING,
    CAL_CANCEL,
    CAL_NO_SCANNER,
    CAL_LOOKING_FOR_SCANNERS,
    CAL_PICTURE_READ,  // %s file, %u sheet
    CAL_NOT_READ,      // %s why
    CAL_STEP_RESULT,
    CAL_COL_MODE,
    CAL_COL_PASS,
    CAL_COL_READING,
    CAL_COL_CERTAIN,
    CAL_COL_ENTER,
    CAL_COL_TODO,
    CAL_PASS_FIRST,
    CAL_PASS_SECOND,
    CAL_YES,
    CAL_NO,
    CAL_STEP_SAVE,
    CAL_SAVE,
    CAL_SAVE_HINT,
    CAL_SAVED,  // %d values
    CAL_NOTHING_TO_SAVE,
    CAL_SAVE_FAILED,  // %s why
    CAL_STEP_VERIFY,
    CAL_VERIFY,
    CAL_VERIFY_HINT,
    CAL_VERIFIED,
    CAL_NOT_VERIFIED,
    CAL_CONFIRMED,
    CAL_NEW_READING,  // %+d: the new amount, which SAVE applies again
    CAL_TODO_ENTER,   // %+d
    CAL_TODO_LINES_UP,
    CAL_TODO_UNCERTAIN,
    CAL_TODO_UNREAD,
    CAL_TODO_MISSING,
    CAL_TODO_FOREIGN,
    CAL_TODO_CONFLICT,
    CAL_CONTRADICTORY,
    CAL_TEXT_COUNT
};

// The text for the current language (UTF-8).
const char* calibrateText(CalibrateText text);
// The same with its printf fields filled.
std::string calibrateFormat(CalibrateText text, ...);
// The result table's "what to do" of one print: what SAVE does with it, or what the operator
// can do about a print it leaves (current language). In the verification, `verifying`: a
// print that lines up is confirmed, one that does not is offered again.
// `linesUp`: the print meets at "00" within its spread.
std::string calibrateTodo(const SheetPrint& print, bool verifying, bool linesUp);
