// SPDX-License-Identifier: Apache-2.0
// Packet framing of CMM and DATA transfers, serial numbers and the device lookup.
#include <numeric>

#include "link_fixture.h"
#include "platform/bytes.h"
#include "support/session_fixture.h"

namespace {

using fake_usb::Bytes;

Bytes pattern(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
    return b;
}

uint16_t w(const Bytes& b, size_t word) { return le::getU16(b.data(), 2 * word); }

class FramingTest : public LinkTest {
  protected:
    UsbHandle h = USB_INVALID_HANDLE;
    void SetUp() override {
        LinkTest::SetUp();
        ASSERT_TRUE(Usb_Open(&h));
        fake_usb::clearRecords();
    }
    void TearDown() override {
        EXPECT_TRUE(fake_usb::protocolErrors().empty());
        Usb_Close(&h);
        LinkTest::TearDown();
    }
};

TEST_F(FramingTest, CommandBlockIsOneCompleteCmmPacket) {
    Bytes block = pattern(64);
    ASSERT_TRUE(Usb_Send(h, block.data(), 64, USB_SEND_CMM));
    auto writes = fake_usb::writes();
    ASSERT_EQ(writes.size(), 1u);
    const Bytes& p = writes[0];
    ASSERT_EQ(p.size(), 128u);
    EXPECT_EQ(w(p, 0), 0xABCD);
    EXPECT_EQ(w(p, 6), 0xDC35);
    EXPECT_EQ(w(p, 7), 0x0BAA);
    EXPECT_EQ(w(p, 8), 0xF008);
    EXPECT_EQ(w(p, 9), 1);  // serial at program start
    EXPECT_EQ(w(p, 10), 0);
    EXPECT_EQ(w(p, 11), 47);
    EXPECT_EQ(w(p, 12), 1);
    EXPECT_EQ(w(p, 13), 0);
    EXPECT_EQ(w(p, 14), 32);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), p.begin() + 32));
    for (size_t i = 48; i < 63; ++i) EXPECT_EQ(w(p, i), 0) << i;
    uint32_t sum = 0;
    for (size_t i = 0; i < 15; ++i) sum += w(p, i);
    EXPECT_EQ(w(p, 15), sum & 0xFFFF);
    sum = 0;
    for (size_t i = 0; i < 63; ++i) sum += w(p, i);
    EXPECT_EQ(w(p, 63), sum & 0xFFFF);
    EXPECT_EQ(testSession().usb->transferSerial.load(), 2);
}

TEST_F(FramingTest, FortyEightWordsMakeFirstAndLastPackets) {
    Bytes data = pattern(96);
    ASSERT_TRUE(Usb_Send(h, data.data(), 96, USB_SEND_CMM));
    auto writes = fake_usb::writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(w(writes[0], 8), 0xF001);
    EXPECT_EQ(w(writes[1], 8), 0xF002);
    EXPECT_EQ(w(writes[1], 10), 1);
    EXPECT_EQ(w(writes[0], 14), 48);
    EXPECT_EQ(w(writes[1], 16), le::getU16(data.data(), 94));  // the one word of packet 2
    EXPECT_EQ(w(writes[1], 17), 0);
    EXPECT_EQ(w(writes[0], 9), w(writes[1], 9));
    ASSERT_EQ(fake_usb::cmmBlocks().size(), 1u);
    EXPECT_EQ(fake_usb::cmmBlocks()[0], data);
}

TEST_F(FramingTest, DataPacketSizesAtTheSlotEdges) {
    Bytes one = pattern(4064 * 2);
    ASSERT_TRUE(Usb_Send(h, one.data(), static_cast<uint32_t>(one.size()), USB_SEND_DATA));
    auto writes = fake_usb::writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), 4080u * 2);
    EXPECT_EQ(w(writes[0], 7), 0x85B5);
    EXPECT_EQ(w(writes[0], 8), 0xF008);
    EXPECT_EQ(w(writes[0], 11), 4063);

    fake_usb::clearRecords();
    Bytes two = pattern(4065 * 2);
    ASSERT_TRUE(Usb_Send(h, two.data(), static_cast<uint32_t>(two.size()), USB_SEND_DATA));
    writes = fake_usb::writes();
    ASSERT_EQ(writes.size(), 1u);
    ASSERT_EQ(writes[0].size(), 8192u + 32 + 2);
    EXPECT_EQ(w(writes[0], 8), 0xF001);
    EXPECT_EQ(w(writes[0], 11), 4063);
    for (size_t i = 32 + 8128; i < 8192; ++i) EXPECT_EQ(writes[0][i], 0);  // zero tail
    EXPECT_EQ(le::getU16(writes[0].data(), 8192 + 16), 0xF002);
    EXPECT_EQ(le::getU16(writes[0].data(), 8192 + 22), 0);
    EXPECT_EQ(le::getU16(writes[0].data(), 8192 + 32), le::getU16(two.data(), 8128));
}

TEST_F(FramingTest, SevenFullPacketsAreOneBatchAndAnEighthGoesAlone) {
    Bytes seven = pattern(7 * 4064 * 2);
    ASSERT_TRUE(Usb_Send(h, seven.data(), static_cast<uint32_t>(seven.size()), USB_SEND_DATA));
    auto writes = fake_usb::writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), 57344u);
    EXPECT_EQ(le::getU16(writes[0].data(), 6 * 8192 + 16), 0xF002);

    fake_usb::clearRecords();
    Bytes eight = pattern(8 * 4064 * 2);
    ASSERT_TRUE(Usb_Send(h, eight.data(), static_cast<uint32_t>(eight.size()), USB_SEND_DATA));
    writes = fake_usb::writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size(), 57344u);
    EXPECT_EQ(writes[1].size(), 32u + 8128);
    EXPECT_EQ(le::getU16(writes[1].data(), 16), 0xF002);
    EXPECT_EQ(le::getU16(writes[1].data(), 20), 7);
    EXPECT_TRUE(std::equal(writes[1].begin() + 32, writes[1].end(), eight.begin() + 7 * 8128));
}

TEST_F(FramingTest, SerialIsKeptOnRetryAndAdvancedAfterSuccess) {
    Bytes block = pattern(64);
    Bytes data = pattern(9 * 4064 * 2);
    ASSERT_TRUE(Usb_Send(h, block.data(), 64, USB_SEND_CMM));
    EXPECT_EQ(testSession().usb->transferSerial.load(), 2);
    fake_usb::failWrites(1);
    EXPECT_FALSE(Usb_Send(h, block.data(), 64, USB_SEND_CMM));
    EXPECT_EQ(testSession().usb->transferSerial.load(), 2);
    fake_usb::clearRecords();
    ASSERT_TRUE(Usb_Send(h, block.data(), 64, USB_SEND_CMM));
    EXPECT_EQ(w(fake_usb::writes()[0], 9), 2);

    // A DATA transfer whose batch fails keeps the number for its retry as well.
    fake_usb::failWrites(1);
    EXPECT_FALSE(Usb_Send(h, data.data(), static_cast<uint32_t>(data.size()), USB_SEND_DATA));
    EXPECT_EQ(testSession().usb->transferSerial.load(), 3);
    fake_usb::clearRecords();
    ASSERT_TRUE(Usb_Send(h, data.data(), static_cast<uint32_t>(data.size()), USB_SEND_DATA));
    for (const auto& wr : fake_usb::writes()) EXPECT_EQ(w(wr, 9), 3);
    EXPECT_EQ(testSession().usb->transferSerial.load(), 4);
}

TEST_F(FramingTest, FailedBatchWritesAreTracedWithProgress) {
    Bytes data = pattern(9 * 4064 * 2);
    fake_usb::failWrites(1);
    EXPECT_FALSE(Usb_Send(h, data.data(), static_cast<uint32_t>(data.size()), USB_SEND_DATA));
    EXPECT_TRUE(traced("数据发送异常:7/9"));
    EXPECT_TRUE(traced("Usb发送包错误:31"));
    EXPECT_TRUE(traced("Tx error:31"));
}

TEST_F(FramingTest, UnknownTypeSendsNothing) {
    uint8_t b[4] = {};
    EXPECT_TRUE(Usb_Send(h, b, 4, static_cast<UsbSendType>(5)));
    EXPECT_TRUE(fake_usb::writes().empty());
    EXPECT_TRUE(traced("Tx未定义数据类型:5"));
}

TEST_F(FramingTest, OddByteCountKeepsTheLastByte) {
    Bytes data = pattern(5);
    ASSERT_TRUE(Usb_Send(h, data.data(), 5, USB_SEND_DATA));
    auto p = fake_usb::writes()[0];
    EXPECT_EQ(w(p, 11), 2);  // three words
    EXPECT_EQ(p[32 + 4], data[4]);
    EXPECT_EQ(p[32 + 5], 0);
}

TEST_F(LinkTest, OpenMatchesIdentityRegardlessOfCaseAndSkipsOtherDevices) {
    fake_usb::setPaths({"\\\\?\\USB#VID_2408&PID_0004#1", "<detail-fail>",
                        "\\\\?\\USB#VID_1234&PID_0003#2", "\\\\?\\USB#Vid_2408&Pid_0003#3"});
    UsbHandle h;
    ASSERT_TRUE(Usb_Open(&h));
    auto c = fake_usb::counters();
    EXPECT_EQ(c.opens, 3);
    EXPECT_EQ(c.closes, 2);  // the two non-printers
    EXPECT_TRUE(traced("连接成功"));
    Usb_Close(&h);
}

TEST_F(LinkTest, OpenFailsWithoutThePrinterOrEnumeration) {
    UsbHandle h = 5;
    fake_usb::setPaths({"\\\\?\\USB#VID_2408&PID_0004#1"});
    EXPECT_FALSE(Usb_Open(&h));
    EXPECT_EQ(h, USB_INVALID_HANDLE);
    EXPECT_TRUE(traced("ERR,未发现指定USB设备"));
    EXPECT_TRUE(traced("打印机设备未连接"));
    fake_usb::setEnumFails(true);
    EXPECT_FALSE(Usb_Open(&h));
    EXPECT_TRUE(traced("ERROR   -   SetupDiGetClassDevs()"));
    EXPECT_TRUE(traced("USB设备未连接"));
}

}  // namespace
