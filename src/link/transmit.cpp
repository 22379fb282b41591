// SPDX-License-Identifier: Apache-2.0
// The transmit thread and the link's life: job commands and swaths to the printer, busy
// resends, reconnection, spit requests, the wait for the last swath and the stop.
#include "link/transmit.h"

#include <array>
#include <cstring>
#include <memory>
#include <system_error>

#include "diag/errors.h"
#include "diag/log.h"
#include "handover/plan_handover.h"
#include "handover/swath_ring.h"
#include "link/reply.h"
#include "link/usb.h"
#include "platform/bytes.h"
#include "platform/clock.h"
#include "platform/thread.h"

// One per started thread. The thread holds its own reference, so an abandoned thread never
// touches memory the next job reuses: once `abandoned` is raised it only reads this record.
struct TxSession {
    std::atomic<bool> abandoned{false};
    std::atomic<bool> ended{false};
};

namespace {

thread_local TxSession* threadSession = nullptr;

TransmitState& tx() { return OwnedState<TransmitState>::get(); }

constexpr uint32_t POLL_MS = 100;
constexpr uint32_t BUSY_RESEND_MS = 300;
constexpr int STOP_POLLS = 22;
constexpr int STOP_SOFT_RESET_POLLS = 21;
constexpr int WAIT_ALL_POLLS = 1000;

// Swath block layout: the record's header bytes 0x08..0x27 sit at block byte 28.
constexpr size_t BLOCK_SIZE_FIELD = 8;
constexpr size_t BLOCK_HEADER = 28;
constexpr size_t BLOCK_RIGHT_TO_LEFT = BLOCK_HEADER + 0x0a - 0x08;
constexpr size_t BLOCK_SPIT_FLAG = BLOCK_HEADER + 0x0d - 0x08;
constexpr size_t BLOCK_SPIT_DISTANCE = BLOCK_HEADER + 0x16 - 0x08;
constexpr size_t BLOCK_SWATH_NO = BLOCK_HEADER + 0x1c - 0x08;

bool abandoned() { return threadSession && threadSession->abandoned.load(); }

void txThreadMain(std::shared_ptr<TxSession> session, LinkState* link) {
    Clock_ThreadBegin();
    threadSession = session.get();
    Usb_SetThreadAbort(&session->abandoned);
    // Swaths must keep the carriage fed while the dialog thread draws the next ones.
    Thread_RaisePriority();
    Log_Trace("Task start\n");
    while (!abandoned() && link->running.load() == 1) {
        if (link->printerCancelled.load() == 1) {
            Log_Trace("printstop, task end\n");
            break;
        }
        if (CommandSlot* slot = Tx_NextCommand(link)) {
            if (!Tx_SendCommand(link, slot)) {
                if (!abandoned()) link->running.store(0);
                continue;
            }
        }
        if (SwathRecord* record = Tx_NextSwath(link)) {
            if (!Tx_SendSwath(link, record) && !abandoned()) link->running.store(0);
        } else {
            Clock_Sleep(POLL_MS);
        }
    }
    Log_Trace("Task end! \n");
    session->ended.store(true);
    if (!session->abandoned.load()) link->txThreadEnded.store(1);
    Usb_SetThreadAbort(nullptr);
    threadSession = nullptr;
    Clock_ThreadEnd();
}

// Swaps a reconnected handle into the link unless Link_Stop has taken the link's handle
// meanwhile; then the new handle is ours alone to close.
void publishHandle(LinkState* link, UsbHandle old, UsbHandle fresh) {
    if (!link->device.compare_exchange_strong(old, fresh)) Usb_Close(&fresh);
}

enum SendOutcome { SEND_OK, SEND_FAILED };

SendOutcome sendBlockAndData(UsbHandle h, const uint8_t* block, size_t blockLen,
                             const uint8_t* data, uint32_t dataLen) {
    if (!Usb_Send(h, block, static_cast<uint32_t>(blockLen), USB_SEND_CMM)) {
        Log_Trace("send(CMM) fail!\n");
        return SEND_FAILED;
    }
    if (dataLen != 0 && !Usb_Send(h, data, dataLen, USB_SEND_DATA)) {
        Log_Trace("send(DATA) fail!\n");
        return SEND_FAILED;
    }
    return SEND_OK;
}

enum ReceiveOutcome { RECV_DONE, RECV_FAILED_END, RECV_RESEND, RECV_RECONNECT };

ReceiveOutcome receiveReply(LinkState* link, UsbHandle h, int* busyResends) {
    std::array<uint8_t, REPLY_BUFFER_SIZE> reply{};
    for (;;) {
        uint32_t got = 0;
        if (!Usb_Read(h, reply.data(), static_cast<uint32_t>(reply.size()), &got)) {
            Log_Trace("Rec fail!\n");
            return RECV_RECONNECT;
        }
        if (abandoned()) return RECV_FAILED_END;
        RxVerdict verdict = Rx_Parse(link, reply.data(), got, tx().lastSwathNo.load());
        if (verdict == RX_DONE) return RECV_DONE;
        if (verdict == RX_FATAL) {
            Log_Trace("FW错误 REPLY FAIL\n");
            return RECV_FAILED_END;
        }
        if (verdict == RX_BUSY) {
            swathBufferFreedFlag().store(1);
            Clock_Sleep(BUSY_RESEND_MS);
            Log_Trace("打印机忙,resent:%d\n", *busyResends);
            ++*busyResends;
        }
        if (isJobStopped()) {
            Log_Trace("Rx 退出，错误代码：%d", static_cast<int>(programError()));
            return RECV_FAILED_END;
        }
        if (verdict == RX_BUSY) return RECV_RESEND;
    }
}

// After a failed transfer: true when a fresh handle is in place and the block may go again.
bool reconnectAfterFailure(LinkState* link, int* reconnects) {
    if (abandoned()) return false;
    if (isJobStopped()) {
        Log_Trace("系统出错，跳出");
        return false;
    }
    if (*reconnects == TX_MAX_RECONNECTS) {
        Log_Trace("Swath重传多次仍然无法成功，退出打印!\n");
        Log_Trace("Swath%d重新连接%d次,传输仍然无法完成，取消作业!\n",
                  static_cast<int>(tx().lastSwathNo.load()), TX_MAX_RECONNECTS + 1);
        setProgramError(ERR_RECONNECT_FAILED);
        return false;
    }
    ++*reconnects;
    UsbHandle old = link->device.load();
    UsbHandle fresh = old;
    bool ok =
        Usb_Reconnect(&fresh, *reconnects, threadSession ? &threadSession->abandoned : nullptr);
    publishHandle(link, old, fresh);
    if (abandoned()) return false;
    if (!ok) {
        Log_Trace("重新连接失败!\n");
        setProgramError(ERR_RECONNECT_FAILED);
        return false;
    }
    Log_Trace("重新连接成功!\n");
    return true;
}

}  // namespace

CommandSlot* Tx_NextCommand(LinkState* link) {
    CommandSlot* slot = Cmd_Pending();
    if (!slot) return nullptr;
    link->txCommand.store(Cmd_Command(slot));
    return slot;
}

bool Tx_SendCommand(LinkState* link, CommandSlot* slot) {
    Log_Trace("TX CMD(%d)\n", static_cast<int>(static_cast<uint8_t>(link->txCommand.load())));
    // Our own copy: the job thread may queue the next command once this one is answered.
    uint8_t block[COMMAND_BLOCK_SIZE];
    std::memcpy(block, slot->block, sizeof block);
    bool ok = Tx_Transmit(link, block, sizeof block, nullptr, 0);
    if (ok && !abandoned()) Cmd_SetState(CMD_STATE_DONE);
    return ok;
}

SwathRecord* Tx_NextSwath(LinkState* link) {
    if (link->printerCancelled.load() == 1) return nullptr;
    SwathRecord* record = Ring_TakeFull();
    if (record) link->txCommand.store(CMD_SWATH);
    return record;
}

void Tx_BuildSwathBlock(const SwathRecord& record, uint8_t block[SWATH_BLOCK_SIZE]) {
    std::memset(block, 0, SWATH_BLOCK_SIZE);
    le::putU32(block, 0, static_cast<uint32_t>(CMD_SWATH));
    le::putU32(block, BLOCK_SIZE_FIELD, record.size);
    Ring_HeaderBytes(record, block + BLOCK_HEADER);
}

bool Tx_SendSwath(LinkState* link, SwathRecord* record) {
    if (record->size != 0 && !record->data) {
        // A record left full by an earlier job whose buffers are already freed: nothing of
        // it can be sent, and reading it would touch freed memory.
        Log_Trace("tx swath%d: no data buffer, dropped\n", static_cast<int>(record->swathNo));
        Ring_SetState(record, SWATH_EMPTY);
        return true;
    }
    uint8_t block[SWATH_BLOCK_SIZE];
    Tx_BuildSwathBlock(*record, block);
    Tx_SpitControl(block, record->size);
    bool ok = Tx_Transmit(link, block, sizeof block, record->data, record->size);
    if (ok && !abandoned()) {
        tx().recordsSent.fetch_add(1);
        tx().feedStepsSent.fetch_add(record->feed & ~SWATH_FEED_BACKWARDS);
        Ring_SetState(record, SWATH_EMPTY);
    }
    return ok;
}

void Tx_SpitControl(uint8_t* block, uint32_t size) {
    block[BLOCK_SPIT_FLAG] = 0;
    if (size == 0) return;
    std::atomic<uint8_t>& sinceSpit = tx().swathsSinceSpit;
    uint8_t counter = static_cast<uint8_t>(sinceSpit.load() + 1);
    sinceSpit.store(counter);
    const PrintParamBlock& params = jobContext()->printParams;
    if (params.spitInterval == 0 || counter < params.spitInterval) return;
    if (block[BLOCK_RIGHT_TO_LEFT] != 1) return;
    uint16_t distance = static_cast<uint16_t>(params.spitDistanceMm * 600 / 25.4);
    le::putU16(block, BLOCK_SPIT_DISTANCE, distance);
    block[BLOCK_SPIT_FLAG] = 1;
    sinceSpit.store(0);
    Log_Trace("启动闪喷spit:%d-%d", distance, params.spitInterval);
}

bool Tx_Transmit(LinkState* link, const uint8_t* block, size_t blockLen, const uint8_t* data,
                 uint32_t dataLen) {
    bool isSwath =
        blockLen >= SWATH_BLOCK_SIZE && le::getU32(block, 0) == static_cast<uint32_t>(CMD_SWATH);
    if (isSwath) {
        tx().lastSwathNo.store(le::getU32(block, BLOCK_SWATH_NO));
        Log_Trace("tx swath%d, size:%d\n", static_cast<int>(tx().lastSwathNo.load()),
                  static_cast<int>(dataLen));
    }
    int reconnects = 0, busyResends = 0;
    for (;;) {
        if (abandoned()) return false;
        if (isSwath && isJobStopped()) return false;
        UsbHandle h = link->device.load();
        if (sendBlockAndData(h, block, blockLen, data, dataLen) == SEND_OK) {
            ReceiveOutcome got = receiveReply(link, h, &busyResends);
            if (got == RECV_DONE) return true;
            if (got == RECV_FAILED_END) return false;
            if (got == RECV_RESEND) continue;
        }
        if (!reconnectAfterFailure(link, &reconnects)) return false;
    }
}

bool Link_Start(JobContext* job) {
    LinkState* link = &job->link;
    tx().recordsSent = 0;
    tx().feedStepsSent = 0;
    Log_Trace("启动USB设备\r\n");
    UsbHandle h = USB_INVALID_HANDLE;
    if (!Usb_Open(&h)) {
        link->device.store(USB_INVALID_HANDLE);
        Log_Trace("无法开启目标设备，请确认连线已经正确或驱动已经安装成功\r\n");
        return false;
    }
    link->device.store(h);
    link->running.store(1);
    link->txThreadEnded.store(0);
    // A fresh session per thread: whatever an abandoned predecessor still holds stays its own.
    auto session = std::make_shared<TxSession>();
    if (link->thread.joinable()) link->thread.detach();
    // Simulated time waits for the new thread from now on, not from its first poll.
    Clock_ThreadStarting();
    try {
        link->thread = std::thread(txThreadMain, session, link);
    } catch (const std::system_error&) {
        Clock_ThreadNotStarted();
        Log_Trace("Create Tx thread fail!!!\r\n");
        link->running.store(0);
        Usb_Close(&h);
        link->device.store(USB_INVALID_HANDLE);
        return false;
    }
    tx().current = session;
    Log_Trace("Link Start\n");
    return true;
}

void Link_Stop(LinkState* link) {
    link->running.store(0);
    int sleeps = 0;
    bool started = link->thread.joinable();
    while (started && link->txThreadEnded.load() != 1) {
        Clock_Sleep(POLL_MS);
        ++sleeps;
        if (link->txThreadEnded.load() != 1 && sleeps >= STOP_POLLS) {
            // A thread cannot be killed safely: cut it off instead. Closing the device fails
            // the call it hangs in; it then sees `abandoned` and ends touching only its session.
            if (tx().current) tx().current->abandoned.store(true);
            UsbHandle h = link->device.exchange(USB_INVALID_HANDLE);
            Usb_Close(&h);
            link->thread.detach();
            Log_Trace("强行退出TX线程\n");
            break;
        }
    }
    if (link->thread.joinable()) link->thread.join();
    tx().current.reset();
    if (sleeps >= STOP_SOFT_RESET_POLLS) Usb_SoftReset();
    Log_Trace("关闭USB设备\r\n");
    UsbHandle h = link->device.exchange(USB_INVALID_HANDLE);
    Usb_Close(&h);
}

bool Link_WaitAllPrinted() {
    JobContext* job = jobContext();
    job->txReleased.store(1);
    Log_Trace("等待所有数据打印完成\n");
    flushPendingSwath();
    for (int polls = 0;; ++polls) {
        if (Ring_TakeIndex() == Ring_PutIndex() && Ring_CountState(SWATH_EMPTY) == SWATH_RING_SIZE)
            return true;
        if (isJobStopped()) {
            Log_Trace("wait ..作业异常退出\n");
            return true;
        }
        if (polls >= WAIT_ALL_POLLS) {
            Log_Trace("等待100s溢出\n");
            return false;
        }
        Clock_Sleep(POLL_MS);
    }
}
