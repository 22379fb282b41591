// SPDX-License-Identifier: Apache-2.0
// Program error code, job-stop flag, error texts in two languages and the language rule.
#pragma once
#include <cstdint>

// The enumerators keep their names, usable unqualified; a code becomes a number only where it
// is printed or indexes the text table.
enum class ProgramErrorCode : uint8_t {
    ERR_NONE = 0,
    ERR_IP_ADDRESS = 1,
    ERR_PARAMS_UNINITIALISED = 2,
    ERR_PARAMS_UNRECOGNISED = 3,
    ERR_PRINT_WIDTH_OVERFLOW = 4,
    ERR_DATA_BUFFER_OVERFLOW = 5,
    ERR_NO_PRINT_DATA = 6,
    ERR_RX = 7,
    ERR_TX = 8,
    ERR_PC_CANCEL = 9,
    ERR_PRINTER_CANCEL = 10,
    ERR_CARRIER_STALL = 11,
    ERR_NO_LINK = 12,
    ERR_INIT = 13,
    ERR_GET_IMAGE = 14,
    ERR_PRINT_MODE = 15,
    ERR_NO_SOCKET = 16,
    ERR_RECONNECT_FAILED = 17,
    ERR_PRINTER_ERROR = 26,
};
using enum ProgramErrorCode;

// What the operator is to be told of a failure found below the job and console layers, which
// never open a box themselves: the text and caption of the box (OK button, information icon)
// that the job's or the console's reporting point raises. Empty when there is nothing to show
// (the failure is then only traced, or reported through the program error code).
struct Reason {
    const char* text = nullptr;
    const char* caption = nullptr;
    bool empty() const { return text == nullptr; }
};

// The printer's fixed address quoted by the code 1 texts.
#define PRINTER_FIXED_IP "192.168.1.188"

// Stores code (unless reconnection failure 17 is already stored), raises the job-stop flag
// and reports the code's text to the operator. Any thread; blocks until the box is closed.
void setProgramError(ProgramErrorCode code);
// Writes "errset: <text>" to the error log and shows the text in a "Tip" box.
void reportError(uint16_t code);
ProgramErrorCode programError();
uint32_t errorCount();
void requestJobStop();
bool isJobStopped();
// Clears the code and the stop flag; done by the job start stamp.
void clearProgramError();

uint32_t systemLocaleId();
// Dialog texts are Chinese when the low byte of the locale identifier is 4.
bool isChineseUi();
// The text reportError shows for code under the current locale.
const char* errorText(uint16_t code, char* buffer, unsigned bufferSize);
