// Program error code, job-stop flag, error texts in two languages and the language rule.
#pragma once
#include <cstdint>

enum ProgramErrorCode : uint8_t {
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

// The printer's fixed address quoted by the code 1 texts.
#define PRINTER_FIXED_IP "192.168.1.188"

// Stores code (unless reconnection failure 17 is already stored), raises the job-stop flag
// and reports the code's text to the operator. Any thread; blocks until the box is closed.
void setProgramError(uint8_t code);
// Writes "errset: <text>" to the error log and shows the text in a "Tip" box.
void reportError(uint16_t code);
uint8_t programError();
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
