// SPDX-License-Identifier: Apache-2.0
// Reply reassembly, reconnection policy, the hung-call watchdog and the transactions.
#include <thread>

#include "link_fixture.h"
#include "platform/bytes.h"
#include "platform/locale.h"
#include "platform/msgbox.h"

namespace {

using fake_usb::Bytes;
using fake_usb::replyPacket;

Bytes counting(size_t n, uint8_t from = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(from + i);
    return b;
}

class ReadTest : public LinkTest {
  protected:
    UsbHandle h = USB_INVALID_HANDLE;
    uint8_t dest[300];
    uint32_t got = 0;
    void SetUp() override {
        LinkTest::SetUp();
        ASSERT_TRUE(Usb_Open(&h));
        std::memset(dest, 0xEE, sizeof dest);
    }
    void TearDown() override {
        Usb_Close(&h);
        LinkTest::TearDown();
    }
};

TEST_F(ReadTest, MultiPacketReplyIsGatheredInOrder) {
    Bytes body = counting(96 + 96 + 10);
    for (auto& p : fake_usb::replyPackets(body)) fake_usb::queuePacket(p);
    ASSERT_TRUE(Usb_Read(h, dest, sizeof dest, &got));
    EXPECT_EQ(got, body.size());
    EXPECT_TRUE(std::equal(body.begin(), body.end(), dest));
    EXPECT_EQ(dest[body.size()], 0xEE);
    EXPECT_EQ(fake_usb::counters().reads, 3);
}

TEST_F(ReadTest, AFirstPacketRestartsTheGathering) {
    fake_usb::queuePacket(replyPacket(USB_PACKET_FIRST, 4, counting(8, 100)));
    fake_usb::queuePacket(replyPacket(USB_PACKET_FIRST, 2, counting(4, 1)));
    fake_usb::queuePacket(replyPacket(USB_PACKET_LAST, 2, counting(4, 5)));
    ASSERT_TRUE(Usb_Read(h, dest, sizeof dest, &got));
    EXPECT_EQ(got, 8u);
    EXPECT_EQ(Bytes(dest, dest + 8), counting(8, 1));
}

TEST_F(ReadTest, UnknownPacketKindEndsTheReadWithNothingUsable) {
    dest[0] = 0x42;
    fake_usb::queuePacket(replyPacket(0x1234, 2, counting(4)));
    ASSERT_TRUE(Usb_Read(h, dest, sizeof dest, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(dest[0], 0x42);
    EXPECT_TRUE(traced("usb接收到不可识别数据包:1234"));
}

TEST_F(ReadTest, BodiesBeyondTheCapacityAreDropped) {
    Bytes body = counting(96 * 4);
    for (auto& p : fake_usb::replyPackets(body)) fake_usb::queuePacket(p);
    uint8_t small[200];
    std::memset(small, 0, sizeof small);
    ASSERT_TRUE(Usb_Read(h, small, 200, &got));
    EXPECT_EQ(got, 192u);  // two bodies fit, the third would reach the end exactly
    EXPECT_TRUE(std::equal(body.begin(), body.begin() + 192, small));
    EXPECT_EQ(countOf(traces(), "REC溢出"), 2u);
    EXPECT_EQ(fake_usb::counters().reads, 4);  // the transfer is still read to its end
}

TEST_F(ReadTest, LyingWordElevenNeverCopiesMoreThanThePacketHolds) {
    // Claims 2000 words in a full 128-byte packet, then 60 words in a 40-byte one.
    fake_usb::queuePacket(replyPacket(USB_PACKET_FIRST, 2000, counting(96)));
    fake_usb::queuePacket(replyPacket(USB_PACKET_LAST, 60, counting(8, 200)));
    ASSERT_TRUE(Usb_Read(h, dest, sizeof dest, &got));
    EXPECT_EQ(got, 104u);
    EXPECT_TRUE(std::equal(dest, dest + 96, counting(96).begin()));
    EXPECT_EQ(Bytes(dest + 96, dest + 104), counting(8, 200));
    EXPECT_EQ(dest[104], 0xEE);
    EXPECT_TRUE(traced("Rx包长度异常"));
}

TEST_F(ReadTest, FailedReadIsTracedTwice) {
    fake_usb::setLastError(121);
    EXPECT_FALSE(Usb_Read(h, dest, sizeof dest, &got));
    EXPECT_EQ(countOf(traces(), "Rx error:121"), 2u);
}

TEST_F(LinkTest, ReconnectGivesUpAfterTheEleventhFailedOpen) {
    UsbHandle h;
    ASSERT_TRUE(Usb_Open(&h));
    fake_usb::failOpens(100);
    uint64_t before = fake_clock::sleptMs();
    EXPECT_FALSE(Usb_Reconnect(&h, 1));
    EXPECT_EQ(fake_clock::sleptMs() - before, 37500u);
    EXPECT_EQ(h, USB_INVALID_HANDLE);
    std::string t = traces();
    EXPECT_NE(t.find("开始重新连接..."), std::string::npos);
    EXPECT_NE(t.find("第1连接失败(error code:31),继续尝试连接..."), std::string::npos);
    EXPECT_NE(t.find("第10连接失败"), std::string::npos);
    EXPECT_EQ(t.find("第11连接失败"), std::string::npos);
    EXPECT_NE(t.find("XXXX连接失败"), std::string::npos);
}

TEST_F(LinkTest, ReconnectRetriesUntilTheDeviceReturns) {
    UsbHandle h;
    ASSERT_TRUE(Usb_Open(&h));
    fake_usb::failOpens(3);
    uint64_t before = fake_clock::sleptMs();
    EXPECT_TRUE(Usb_Reconnect(&h, 2));
    EXPECT_NE(h, USB_INVALID_HANDLE);
    EXPECT_EQ(fake_clock::sleptMs() - before, 1500u + 2000 + 2500);
    EXPECT_EQ(fake_usb::counters().pipeResets, 0);
    Usb_Close(&h);
}

TEST_F(LinkTest, LateReconnectHardResetsAndOpensAgain) {
    UsbHandle h;
    ASSERT_TRUE(Usb_Open(&h));
    fake_usb::clearRecords();
    uint64_t before = fake_clock::sleptMs();
    EXPECT_TRUE(Usb_Reconnect(&h, 7));
    auto c = fake_usb::counters();
    EXPECT_EQ(c.pipeResets, 1);
    EXPECT_EQ(c.opens, 3);   // re-open, the reset's own handle, the final open
    EXPECT_EQ(c.closes, 3);  // the old handle, the first re-open, the reset's handle
    EXPECT_EQ(fake_clock::sleptMs() - before, 4000u);
    EXPECT_TRUE(traced("硬复位"));
    EXPECT_NE(h, USB_INVALID_HANDLE);
    Usb_Close(&h);
    // Attempt 6 is still an ordinary reconnection.
    ASSERT_TRUE(Usb_Open(&h));
    fake_usb::clearRecords();
    EXPECT_TRUE(Usb_Reconnect(&h, 6));
    EXPECT_EQ(fake_usb::counters().pipeResets, 0);
    Usb_Close(&h);
}

TEST_F(LinkTest, ResetsUseTheirOwnHandles) {
    EXPECT_TRUE(Usb_SoftReset());
    EXPECT_TRUE(traced("软复位成功"));
    EXPECT_TRUE(Usb_PipeReset(0x10));
    EXPECT_TRUE(traced("PIPE复位成功"));
    auto c = fake_usb::counters();
    EXPECT_EQ(c.softResets, 1);
    EXPECT_EQ(c.pipeResets, 1);
    EXPECT_EQ(c.opens, c.closes);
    fake_usb::setPaths({});
    EXPECT_FALSE(Usb_SoftReset());
    EXPECT_TRUE(traced("软复位失败"));
    EXPECT_FALSE(Usb_PipeReset(0x10));
    EXPECT_TRUE(traced("PIPE复位失败"));
}

TEST_F(LinkTest, WatchdogFiresOncePerTwoSecondsOfOneHungCall) {
    EXPECT_FALSE(Usb_CallOverdue());  // no call in progress
    UsbHandle h;
    ASSERT_TRUE(Usb_Open(&h));
    fake_usb::hangNextRead();
    uint8_t buf[64];
    std::thread reader([&] { Usb_Read(h, buf, sizeof buf); });
    while (fake_usb::counters().reads == 0) std::this_thread::yield();
    fake_clock::setTick(fake_clock::tick() + 1999);
    EXPECT_FALSE(Usb_CallOverdue());
    fake_clock::setTick(fake_clock::tick() + 1);
    EXPECT_TRUE(Usb_CallOverdue());
    EXPECT_FALSE(Usb_CallOverdue());
    fake_clock::setTick(fake_clock::tick() + 2000);
    EXPECT_TRUE(Usb_CallOverdue());
    fake_clock::setTick(fake_clock::tick() + 3000);
    fake_usb::release();
    reader.join();
    EXPECT_FALSE(Usb_CallOverdue());
    EXPECT_EQ(countOf(traces(), "应答等待超时:2000ms"), 2u);
    EXPECT_TRUE(traced("hold:"));
    Usb_Close(&h);
}

// The printer side of a transaction: answers sub-command 64 with a 56-byte record.
std::vector<Bytes> paramResponder(const Bytes& block, uint16_t status, size_t dataBytes) {
    uint16_t sub = le::getU16(block.data(), 4);
    Bytes body(8, 0);
    le::putU16(body.data(), 0, sub);
    le::putU16(body.data(), 2, status);
    Bytes data = counting(dataBytes, 0x30);
    body.insert(body.end(), data.begin(), data.end());
    return fake_usb::replyPackets(body);
}

TEST_F(LinkTest, TransactReadsTheParameterRecord) {
    fake_usb::setResponder([](const Bytes& b) { return paramResponder(b, 1, 56); });
    uint8_t record[56] = {};
    ASSERT_TRUE(Usb_Transact(USB_SUB_READ_PARAMS, nullptr, 0, record, sizeof record));
    EXPECT_EQ(Bytes(record, record + 56), counting(56, 0x30));
    auto blocks = fake_usb::cmmBlocks();
    ASSERT_EQ(blocks.size(), 1u);
    ASSERT_EQ(blocks[0].size(), 64u);
    EXPECT_EQ(le::getU32(blocks[0].data(), 0), 1u);
    EXPECT_EQ(le::getU16(blocks[0].data(), 4), 64);
    auto c = fake_usb::counters();
    EXPECT_EQ(c.opens, c.closes);
    EXPECT_TRUE(msgbox_recorder::boxes().empty());
}

TEST_F(LinkTest, TransactCarriesAtMost54BytesAndSkipsEmptyReplies) {
    int calls = 0;
    fake_usb::setResponder([&](const Bytes& b) {
        ++calls;
        auto empty = fake_usb::replyPackets(Bytes(8, 0));
        auto real = paramResponder(b, 1, 0);
        empty.insert(empty.end(), real.begin(), real.end());
        return empty;
    });
    Bytes rec = counting(56, 1);
    ASSERT_TRUE(Usb_Transact(USB_SUB_WRITE_PARAMS, rec.data(), rec.size(), nullptr, 0));
    Bytes block = fake_usb::cmmBlocks()[0];
    EXPECT_TRUE(std::equal(block.begin() + 6, block.begin() + 60, rec.begin()));
    EXPECT_EQ(block[60], 0);
    EXPECT_EQ(block[61], 0);
    EXPECT_EQ(calls, 1);
}

TEST_F(LinkTest, TransactFailuresGiveTheirReasonsInTheUiLanguage) {
    uint8_t record[56];
    fake_usb::setPaths({});
    const UsbTransactResult none = Usb_Transact(USB_SUB_READ_PARAMS, nullptr, 0, record, 56);
    fake_usb::setPaths({fake_usb::PRINTER_PATH});
    fake_usb::failWrites(1);
    const UsbTransactResult unsent = Usb_Transact(USB_SUB_READ_PARAMS, nullptr, 0, record, 56);
    fake_locale::install(0x0804);
    const UsbTransactResult unread = Usb_Transact(USB_SUB_READ_PARAMS, nullptr, 0, record, 56);
    EXPECT_EQ(none.outcome, USB_TX_NO_DEVICE);
    EXPECT_EQ(unsent.outcome, USB_TX_SEND_FAILED);
    EXPECT_EQ(unread.outcome, USB_TX_READ_FAILED);  // no reply
    EXPECT_STREQ(none.reason.text, "The printer USB port is connected failed!");
    EXPECT_STREQ(unsent.reason.text, "USB is connected, but command sent failed!");
    EXPECT_STREQ(unread.reason.text, "USB设备已连接，但无法获取数据!");
    EXPECT_STREQ(none.reason.caption, "OK");
    // The link opens no box: the console's reporting point raises it.
    EXPECT_TRUE(msgbox_recorder::boxes().empty());
    auto c = fake_usb::counters();
    EXPECT_EQ(c.opens, c.closes);
}

TEST_F(LinkTest, TransactRejectsRefusalsAndShortData) {
    uint8_t record[56];
    UsbHandle link;
    ASSERT_TRUE(Usb_Open(&link));
    fake_usb::setResponder([](const Bytes& b) { return paramResponder(b, 2, 56); });
    EXPECT_FALSE(Usb_TransactOnLink(link, USB_SUB_READ_PARAMS, nullptr, 0, record, 56));
    fake_usb::setResponder([](const Bytes& b) { return paramResponder(b, 1, 40); });
    std::memset(record, 0x77, sizeof record);
    EXPECT_FALSE(Usb_TransactOnLink(link, USB_SUB_READ_PARAMS, nullptr, 0, record, 56));
    EXPECT_EQ(record[0], 0x77);
    EXPECT_TRUE(msgbox_recorder::boxes().empty());
    EXPECT_EQ(fake_usb::counters().closes, 0);  // the link's handle stays open
    Usb_Close(&link);
}

}  // namespace
