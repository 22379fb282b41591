// SPDX-License-Identifier: Apache-2.0
// The one record of the print job in progress, shared by the job's thread and the transmit thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <thread>

#include "handover/print_param_block.h"
#include "platform/usb_driver.h"

struct Reason;
enum class CommandNumber : uint32_t;

// The link's control block. The flags are the hand-over between the job's thread and the
// transmit thread: each is written by one side and polled by the other.
struct LinkState {
    std::atomic<UsbHandle> device{USB_INVALID_HANDLE};  // replaced in place by reconnection
    std::atomic<uint32_t> running{0};
    std::atomic<uint32_t> txThreadEnded{0};
    std::thread thread;
    // The command whose reply the transmit thread awaits (0 before the first).
    std::atomic<CommandNumber> txCommand{};
    std::atomic<uint32_t> printerCancelled{0};
    std::atomic<uint32_t>* bufferWaitBreak = nullptr;
    std::atomic<uint32_t>* cancelRequest = nullptr;
    // The job's reporting point, set by the job before the link starts: what the reply parser
    // (transmit thread) has to tell the operator is raised through it, on that thread, at the
    // moment it is found. nullptr: nobody is told (the refusal is still traced).
    void (*report)(const Reason& why) = nullptr;
};

struct JobContext {
    std::atomic<uint32_t> txReleased{0};
    uint32_t paramsReady = 0;
    uint32_t lastSwathEmpty = 0;
    uint8_t swathDirection = 0;  // 0 = left to right, 1 = right to left
    uint8_t printDirection = 0;  // 1 = bidirectional
    uint8_t passCount = 0;
    uint8_t formatChannel = 0;
    uint8_t colorCount = 0;
    uint8_t printSpeedIps = 0;
    uint8_t channelMap[4] = {0, 0, 0, 0};
    uint8_t* srcBuffer = nullptr;
    uint8_t* formatBuffer = nullptr;
    uint16_t headSpanRows = 0;
    uint16_t nozzlesPerPass = 0;
    uint16_t jobId = 0;
    int32_t swathNumber = 0;
    uint32_t swathCounter = 0;
    int32_t pendingEmptySwaths = 0;
    uint32_t formatColumns = 0;
    uint32_t srcDataSize = 0;
    uint32_t formatDataSize = 0;
    uint32_t rowBits = 0;
    uint32_t imageRows = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t canvasStride = 0;
    uint32_t xDpi = 0;
    uint32_t yDpi = 0;
    uint32_t swathStart = 0, swathStop = 0, swathWidth = 0;
    double feedStep = 0.0;
    LinkState link;
    uint16_t offsetA = 0, offsetB = 0;
    uint8_t bidirIndex = 0;
    uint8_t maskA = 0, maskB = 0;
    uint8_t* outA = nullptr;
    uint8_t* outB = nullptr;
    PrintParamBlock printParams;
    uint16_t printerModelCode = 0;
    uint16_t startOffsetDots = 0;
    uint8_t* srcBufferA = nullptr;
    uint8_t* srcBufferB = nullptr;
    uint16_t feedPerSwath = 0;
    uint8_t secondHeadPass = 0;
    uint8_t extraRows = 0;
    uint32_t srcDataSizeExtra = 0;
    uint32_t maxPrintWidthDots = 0;
    uint8_t infoModeByte = 0, overlapLevel = 0;
};

// The one job context of the program. Its plain fields are written by the job thread while no
// transmit thread runs, or, for the printer information, by the transmit thread before the job
// thread reads them after the JOB_CREATE answer; the atomic ones are the hand-over.
// \threadsafe \nonblocking \errors none (never nullptr).
JobContext* jobContext();
// Clears the job context to its zero state (job start).
// \context job, with no transmit thread running \nonblocking \errors none; a still-joinable thread
// object is detached rather than left to abort the program.
void Job_ClearContext();

// The two job flags that stampJob clears and links into the context: the buffer wait's break
// and the operator's cancel.
// \threadsafe (atomic) \nonblocking \errors none.
std::atomic<uint32_t>& jobWaitBreakFlag();
std::atomic<uint32_t>& jobCancelFlag();
