// SPDX-License-Identifier: Apache-2.0
// Faults injected on request: each kind, as a host sees it on the wire and in the records.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/printer_rig.h"
#include "vp_packet_builder.h"
#include "vprinter.h"

using namespace vpt;

namespace {

struct Faults : ::testing::Test {
    PlatformFixture platform;
    VirtualPrinter printer;
    Host host;

    void SetUp() override {
        ASSERT_TRUE(printer.attached()) << printer.error();
        host.h = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
        ASSERT_NE(host.h, USB_INVALID_HANDLE);
    }
    void TearDown() override {
        if (host.h != USB_INVALID_HANDLE) UsbDriver_Get()->close(host.h);
        printer.detach();
    }
    void inject(void (*set)(VPrinterFaults&)) {
        VPrinterFaults f;
        set(f);
        VPrinter_SetFaults(f);
    }
    Bytes ask(const Bytes& block) {
        Bytes body;
        EXPECT_TRUE(host.sendCmm(block));
        EXPECT_TRUE(host.readReply(&body));
        return body;
    }
    void openJob() { EXPECT_EQ(get16(ask(commandBlock(2)).data(), 2), 1); }
    bool sendSwath(uint32_t number, Bytes* reply) {
        Swath s;
        s.number = number;
        s.size = 360;
        s.start = 50;
        Bytes data(360, 0);
        data[0] = 0x80;
        return host.sendCmm(swathBlock(s)) && host.sendData(data) && host.readReply(reply);
    }
    int countEvents(const std::string& text) {
        int n = 0;
        for (const std::string& e : VPrinter_JobEvents()) n += e.find(text) != std::string::npos;
        for (const std::string& e : VPrinter_LooseEvents()) n += e.find(text) != std::string::npos;
        return n;
    }
};

}  // namespace

TEST_F(Faults, BusyAnswersRepeatUntilTheCountIsUsedAndTheSwathPrintsOnce) {
    openJob();
    inject([](VPrinterFaults& f) { f.busyCount = 2; });
    Bytes reply;
    for (int attempt = 0; attempt < 2; ++attempt) {
        ASSERT_TRUE(sendSwath(1, &reply));
        EXPECT_EQ(get16(reply.data(), 2), 2) << attempt;
    }
    ASSERT_TRUE(sendSwath(1, &reply));
    EXPECT_EQ(get16(reply.data(), 2), 1);
    EXPECT_EQ(countEvents("\"what\":\"busy\""), 2);
    EXPECT_EQ(countEvents("\"status\":1,\"ack\":1,\"repeat\":0"), 1);
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u);
}

TEST_F(Faults, NotReadyJobCreateOpensNoJobUntilAccepted) {
    inject([](VPrinterFaults& f) { f.notReadyCount = 3; });
    for (int i = 0; i < 3; ++i) {
        Bytes reply = ask(commandBlock(2));
        EXPECT_EQ(get16(reply.data(), 0), 2);
        EXPECT_EQ(get16(reply.data(), 2), 0);
        EXPECT_FALSE(VPrinter_JobOpen());
    }
    Bytes reply = ask(commandBlock(2));
    EXPECT_EQ(get16(reply.data(), 2), 1);
    EXPECT_EQ(reply.size(), 144u);
    EXPECT_TRUE(VPrinter_JobOpen());
    EXPECT_EQ(VPrinter_LastJobNumber(), 1u);
    EXPECT_EQ(countEvents("\"what\":\"not ready\""), 3);
}

TEST_F(Faults, AResentSwathIsAcknowledgedAndNotPrintedTwiceWhateverLostTheReply) {
    openJob();
    inject([](VPrinterFaults& f) { f.failReads = 1; });
    Bytes reply;
    EXPECT_FALSE(sendSwath(4, &reply));
    EXPECT_NE(host.lastError, 0u);
    // The host reconnects and sends the same swath again, with the same serial rules.
    UsbDriver_Get()->close(host.h);
    host.h = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
    ASSERT_TRUE(sendSwath(4, &reply));
    EXPECT_EQ(get16(reply.data(), 8), 4);
    EXPECT_EQ(countEvents("\"repeat\":1"), 1);
    EXPECT_EQ(countEvents("\"what\":\"read failed\""), 1);
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u) << VPrinter_ProtocolErrors()[0];

    // Lost on the wire: the board saw no failure, no reset and no reconnection at all.
    inject([](VPrinterFaults& f) { f.lostReplies = 1; });
    EXPECT_FALSE(sendSwath(5, &reply));
    ASSERT_TRUE(sendSwath(5, &reply));
    EXPECT_EQ(get16(reply.data(), 2), 1);
    EXPECT_EQ(get16(reply.data(), 8), 5);
    EXPECT_EQ(countEvents("\"number\":5,"), 2);
    EXPECT_EQ(countEvents("\"repeat\":1"), 2);
    // An earlier swath again is acknowledged too, never printed over the later ones.
    ASSERT_TRUE(sendSwath(4, &reply));
    EXPECT_EQ(get16(reply.data(), 8), 4);
    EXPECT_EQ(countEvents("\"repeat\":1"), 3);
    EXPECT_EQ(countEvents("\"repeat\":0"), 2);
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u) << VPrinter_ProtocolErrors()[0];
}

TEST_F(Faults, TheDeviceDisappearsForKEnumerations) {
    inject([](VPrinterFaults& f) { f.disappearOpens = 2; });
    const UsbDriverBackend* d = UsbDriver_Get();
    char path[256];
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(d->enumBegin());
        EXPECT_EQ(d->enumPath(0, path, sizeof path), 0) << i;
        d->enumEnd();
    }
    ASSERT_TRUE(d->enumBegin());
    EXPECT_EQ(d->enumPath(0, path, sizeof path), 1);
    d->enumEnd();
    EXPECT_EQ(countEvents("device absent"), 2);
}

TEST_F(Faults, AnUnknownPacketKindComesBeforeTheReply) {
    inject([](VPrinterFaults& f) { f.unknownKindReplies = 1; });
    ASSERT_TRUE(host.sendCmm(transactionBlock(64)));
    Bytes body;
    uint16_t kind = 0;
    EXPECT_FALSE(host.readReply(&body, &kind));
    EXPECT_EQ(kind, 0xF00F);
    ASSERT_TRUE(host.readReply(&body));
    EXPECT_EQ(get16(body.data(), 0), 64);
}

TEST_F(Faults, AReplyToAnotherCommandComesFirstChosenByTheSeed) {
    openJob();
    inject([](VPrinterFaults& f) {
        f.otherCommandFirst = 1;
        f.seed = 1;  // picks command 8, which is the one asked, so the next one: 9
    });
    Bytes body = ask(commandBlock(8));
    EXPECT_EQ(get16(body.data(), 0), 9);
    ASSERT_TRUE(host.readReply(&body));
    EXPECT_EQ(get16(body.data(), 0), 8);
    inject([](VPrinterFaults& f) {
        f.otherCommandFirst = 1;
        f.seed = 3;
    });
    body = ask(commandBlock(8));
    EXPECT_EQ(get16(body.data(), 0), 18);
}

TEST_F(Faults, WrongAcknowledgementAndPanelCancelShowInTheSwathReply) {
    openJob();
    inject([](VPrinterFaults& f) {
        f.wrongSwathAck = 1;
        f.panelCancelAtSwath = 9;
    });
    Bytes reply;
    ASSERT_TRUE(sendSwath(8, &reply));
    EXPECT_EQ(get16(reply.data(), 8), 7);
    EXPECT_NE(get16(reply.data(), 4), 0);
    ASSERT_TRUE(sendSwath(9, &reply));
    EXPECT_EQ(get16(reply.data(), 8), 9);
    EXPECT_EQ(get16(reply.data(), 4), 0);
    ASSERT_TRUE(sendSwath(10, &reply));
    EXPECT_NE(get16(reply.data(), 4), 0);
    EXPECT_EQ(countEvents("\"what\":\"panel cancel\""), 1);
    EXPECT_EQ(countEvents("\"what\":\"wrong swath acknowledgement\""), 1);
}

TEST_F(Faults, AHangingCallOutlastsTheWatchdogAndAPipeResetAbortsIt) {
    inject([](VPrinterFaults& f) { f.hangMs = 2500; });
    ASSERT_TRUE(host.sendCmm(transactionBlock(64)));
    uint64_t before = fake_clock::sleptMs();
    Bytes body;
    ASSERT_TRUE(host.readReply(&body));
    EXPECT_GE(fake_clock::sleptMs() - before, 2500u);

    // A read waiting for a reply that never comes ends when another handle resets the pipe.
    VPrinterModel m = VPrinter_GetModel();
    // Far beyond the reset: where sleeps shorter than a millisecond return at once (Windows),
    // ten minutes of the fast clock pass in moments and could beat the other handle's reset.
    m.readTimeoutMs = UINT32_MAX / 2;
    VPrinter_SetModel(m);
    std::atomic<bool> done{false};
    bool ok = true;
    uint32_t error = 0;
    std::thread reader([&] {
        Bytes p;
        ok = host.readPacket(&p);
        error = host.lastError;
        done = true;
    });
    uint64_t start = fake_clock::sleptMs();
    while (fake_clock::sleptMs() - start < 100) std::this_thread::yield();
    UsbHandle other = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
    uint8_t code[2] = {0xFF, 0};
    uint8_t out[128];
    uint32_t ret = 0;
    EXPECT_TRUE(UsbDriver_Get()->ioctl(other, USB_IOCTL_PIPE_RESET, code, 2, out, 128, &ret));
    UsbDriver_Get()->close(other);
    reader.join();
    EXPECT_TRUE(done);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, 995u);
}

TEST_F(Faults, ACutReplyLosesItsLastPacket) {
    inject([](VPrinterFaults& f) { f.cutReplies = 2; });
    ASSERT_TRUE(host.sendCmm(commandBlock(2)));
    Bytes p;
    ASSERT_TRUE(host.readPacket(&p));
    EXPECT_EQ(get16(p.data(), 16), FIRST);
    EXPECT_EQ(VPrinter_PendingReplyPackets(), 0u);  // the LAST packet never comes
    ASSERT_TRUE(host.sendCmm(commandBlock(8)));
    ASSERT_TRUE(host.readPacket(&p));
    EXPECT_EQ(get16(p.data(), 16), ONLY);
    EXPECT_EQ(get16(p.data(), 22), 2);  // a lone packet keeps only its first two words
    EXPECT_EQ(countEvents("reply cut short"), 2);
}

TEST_F(Faults, FailedWritesReportALastErrorAndConsumeNothing) {
    inject([](VPrinterFaults& f) { f.failWrites = 2; });
    EXPECT_FALSE(host.sendCmm(transactionBlock(64)));
    EXPECT_EQ(host.lastError, 31u);
    EXPECT_FALSE(host.sendCmm(transactionBlock(64)));
    Bytes body = ask(transactionBlock(64));
    EXPECT_EQ(get16(body.data(), 0), 64);
    EXPECT_EQ(VPrinter_PendingReplyPackets(), 0u);
    EXPECT_EQ(countEvents("write failed"), 2);
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u);
}
