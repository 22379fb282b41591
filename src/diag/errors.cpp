// SPDX-License-Identifier: Apache-2.0
// Program error state and the error-text tables.
#include "diag/errors.h"

#include <atomic>
#include <cstdio>

#include "diag/log.h"
#include "platform/locale.h"
#include "platform/msgbox.h"

namespace {
constexpr int ERROR_ROWS = 64;

struct ErrorText {
    const char* chinese;
    const char* english;
};

// Rows past the last defined code stay empty; the defined count is the run of leading rows.
const ErrorText ERROR_TEXTS[ERROR_ROWS] = {
    {"无错误", "No error"},
    {"IP地址异常,请将IP设为:" PRINTER_FIXED_IP, "IP error, please set as:" PRINTER_FIXED_IP},
    {"打印参数未初始化", "The parametre used without initalize"},
    {"打印参数不可识别", "The parametre isn't validble"},
    {"打印范围溢出，超出最大值", "Overflow print width"},
    {"数据缓冲溢出，超出最大值", "Overflow data buffer"},
    {"无可打印资源", "None print data"},
    {"接收错误", "Rx error"},
    {"发送错误", "Tx error"},
    {"用户取消作业(在PC端)", "Pc user cancel job"},
    {"用户取消作业(在打印机端)", "Printer user cancel job"},
    {"小车受阻", "Carrier stall"},
    {"PC未能与打印机通信,请检查网线", "Can't link from printer"},
    {"打印资源无法初始化,Init()失败", "Function init() error"},
    {"获取数据源GetImageByPass()失败", "Function GetImageByPass() error"},
    {"打印模式GetJobColors()不支持", "Not support this print mode"},
    {"无法建立sock网络连接", "No sock link"},
    {"无法重新建立网络连接", "Can't link"},
    {"HR_PRINTER_ERROR", "HR_PRINTER_ERROR"},
    {"HR_JOB_RESTART_ERROR", "HR_JOB_RESTART_ERROR"},
    {"HR_QUEUE_MANAGE_ERROR", "HR_QUEUE_MANAGE_ERROR"},
    {"HR_SWATH_SN_ERROR", "HR_SWATH_SN_ERROR"},
    {"HR_LOG_FILE_ERROR", "HR_LOG_FILE_ERROR"},
    {"HR_UART1_FAIL_ERROR", "HR_UART1_FAIL_ERROR"},
    {"HR_DMA_DONE_HOLD_ERROR", "HR_DMA_DONE_HOLD_ERROR"},
    {"HR_CARRIER_RESET_ERROR", "HR_CARRIER_RESET_ERROR"},
    {"打印机错误,取消作业", "Printer error,Cancel job"},
};

// Both threads read and write these without a lock; atomics keep the hand-over well defined.
std::atomic<ProgramErrorCode> errorCode{ERR_NONE};
std::atomic<uint8_t> jobStopFlag{0};
}  // namespace

uint32_t errorCount() {
    uint32_t n = 0;
    while (n < ERROR_ROWS && ERROR_TEXTS[n].chinese && ERROR_TEXTS[n].chinese[0]) ++n;
    return n;
}

const char* errorText(uint16_t code, char* buffer, unsigned bufferSize) {
    if (code >= errorCount()) {
        std::snprintf(buffer, bufferSize, "undefine ErrorCode(未定义输出代号):%d", code);
        return buffer;
    }
    switch (systemLocaleId() & 0x0F) {
        case 4:
            return ERROR_TEXTS[code].chinese;
        case 9:
            return ERROR_TEXTS[code].english;
        default:
            return "undefine language ID(未定义语言)";
    }
}

void reportError(uint16_t code) {
    char buffer[96];
    const char* text = errorText(code, buffer, sizeof buffer);
    Log_Error("errset: %s\n", text);
    MsgBox_Show(text, "Tip", MSGBOX_OK, MSGBOX_ICON_NONE);
}

void setProgramError(ProgramErrorCode code) {
    ProgramErrorCode current = errorCode.load();
    // Reconnection failure stays the job's verdict whatever is reported after it.
    while (current != ERR_RECONNECT_FAILED && !errorCode.compare_exchange_weak(current, code)) {
    }
    jobStopFlag = 1;
    reportError(static_cast<uint16_t>(code));
}

ProgramErrorCode programError() { return errorCode.load(); }
void requestJobStop() { jobStopFlag = 1; }
bool isJobStopped() { return jobStopFlag.load() != 0; }
void clearProgramError() {
    errorCode = ERR_NONE;
    jobStopFlag = 0;
}

uint32_t systemLocaleId() { return Locale_SystemId(); }
bool isChineseUi() { return Locale_IsChinese(); }
