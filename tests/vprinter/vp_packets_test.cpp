// SPDX-License-Identifier: Apache-2.0
// Packet rules of the link as the board checks them: accepted shapes and every violation.
#include <gtest/gtest.h>

#include <random>

#include "support/printer_rig.h"
#include "vp_packet_builder.h"
#include "vprinter.h"

using namespace vpt;

namespace {

struct PacketRules : ::testing::Test {
    PlatformFixture platform;
    VirtualPrinter printer;
    Host host;

    void SetUp() override {
        ASSERT_TRUE(printer.attached()) << printer.error();
        host.h = UsbDriver_Get()->open(VPrinter_DevicePath().c_str());
        ASSERT_NE(host.h, USB_INVALID_HANDLE);
        // Open a job so swaths are legal.
        Bytes body;
        ASSERT_TRUE(host.sendCmm(commandBlock(2)));
        ASSERT_TRUE(host.readReply(&body));
    }
    void TearDown() override {
        UsbDriver_Get()->close(host.h);
        printer.detach();
    }
    bool errorsMention(const std::string& text) {
        for (const std::string& e : VPrinter_ProtocolErrors())
            if (e.find(text) != std::string::npos) return true;
        return false;
    }
    std::string errors() {
        std::string all;
        for (const std::string& e : VPrinter_ProtocolErrors()) all += e + "\n";
        return all;
    }
    // A swath block announcing `bytes`, then the DATA transfer written as the given writes.
    uint16_t swathWithWrites(uint32_t bytes, const std::vector<Bytes>& writes) {
        Swath s;
        s.number = 7;
        s.size = bytes;
        EXPECT_TRUE(host.sendCmm(swathBlock(s)));
        for (const Bytes& w : writes) EXPECT_TRUE(host.write(w));
        ++host.serial;
        Bytes reply;
        return host.readReply(&reply) ? get16(reply.data(), 8) : 0xFFFF;
    }
    Bytes pattern(size_t bytes) {
        Bytes d(bytes);
        for (size_t i = 0; i < bytes; ++i) d[i] = uint8_t(i * 7 + 3);
        return d;
    }
};

}  // namespace

TEST_F(PacketRules, DataTransfersOfEveryBatchShapeAreAccepted) {
    struct Case {
        uint32_t words;
        size_t writes;
        size_t lastWriteBytes;
    } cases[] = {
        {4064, 1, 32 + 8128},      // one packet, no zero tail
        {4065, 1, 8192 + 32 + 2},  // two packets in one partial batch
        {7 * 4064, 1, 57344},      // exactly one full batch, no partial write
        {8 * 4064, 2, 32 + 8128},  // a full batch, then the eighth packet alone
        {15 * 4064 - 100, 3, 32 + 2 * (4064 - 100)},
        {1, 1, 34},
    };
    for (const Case& c : cases) {
        Bytes data = pattern(size_t(c.words) * 2);
        std::vector<Bytes> writes = dataWrites(data, uint16_t(host.serial + 1));
        ASSERT_EQ(writes.size(), c.writes) << c.words;
        EXPECT_EQ(writes.back().size(), c.lastWriteBytes) << c.words;
        Swath s;
        s.number = c.words;
        s.size = uint32_t(data.size());
        ASSERT_TRUE(host.sendCmm(swathBlock(s)));
        ASSERT_TRUE(host.sendData(data));
        Bytes reply;
        ASSERT_TRUE(host.readReply(&reply));
        EXPECT_EQ(get16(reply.data(), 8), uint16_t(c.words));
    }
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u) << errors();
    EXPECT_GE(VPrinter_DataBytesReceived(), uint64_t(7 * 4064 * 2));
}

TEST_F(PacketRules, MultiPacketCmmTransferFollowsTheKindsButMustCarryA64ByteBlock) {
    Bytes block = commandBlock(8);
    block.resize(96, 0);  // 48 words: F001 with 47 words, F002 with 1
    std::vector<Bytes> packets = cmmPackets(block, host.serial);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(get16(packets[0].data(), 16), FIRST);
    EXPECT_EQ(get16(packets[1].data(), 16), LAST);
    ASSERT_TRUE(host.sendCmm(block));
    ASSERT_EQ(VPrinter_ProtocolErrorCount(), 1u) << errors();
    EXPECT_TRUE(errorsMention("command block of 96 bytes"));
}

TEST_F(PacketRules, SerialNumbersFollowTransfersAndWrap) {
    host.serial = 65535;
    Bytes reply;
    // The board learnt the serial from the first transfer after attach; jump with care:
    // a jump is a violation, wrapping after 65535 is not.
    ASSERT_TRUE(host.sendCmm(commandBlock(8)));
    ASSERT_TRUE(host.readReply(&reply));
    EXPECT_TRUE(errorsMention("transfer serial: expected 2, got 65535")) << errors();
    size_t before = VPrinter_ProtocolErrorCount();
    ASSERT_TRUE(host.sendCmm(commandBlock(8)));  // serial 0
    ASSERT_TRUE(host.readReply(&reply));
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), before) << errors();
    // Reusing a serial after a complete transfer is a violation.
    --host.serial;
    ASSERT_TRUE(host.sendCmm(commandBlock(8)));
    EXPECT_TRUE(errorsMention("transfer serial: expected 1, got 0"));
}

TEST_F(PacketRules, AFailedWriteIsRetriedWithTheSameSerialWithoutComplaint) {
    Bytes block = commandBlock(8);
    block.resize(96, 0);  // two packets: the second write fails
    std::vector<Bytes> packets = cmmPackets(block, host.serial);
    EXPECT_TRUE(host.write(packets[0]));
    VPrinterFaults f;
    f.failWrites = 1;
    VPrinter_SetFaults(f);
    EXPECT_FALSE(host.write(packets[1]));
    EXPECT_NE(host.lastError, 0u);
    ASSERT_TRUE(host.sendCmm(commandBlock(8)));  // same serial, a new transfer
    Bytes reply;
    ASSERT_TRUE(host.readReply(&reply));
    EXPECT_EQ(get16(reply.data(), 0), 8);
    EXPECT_EQ(VPrinter_ProtocolErrorCount(), 0u) << errors();
}

TEST_F(PacketRules, BrokenHeadersAndChecksumsAreRejected) {
    struct Break {
        const char* expect;
        void (*apply)(Bytes&);
    } breaks[] = {
        {"magic word 3",
         [](Bytes& p) {
             put16(p.data(), 6, 0x1234);
             fixHeaderSum(p.data());
             fixPacketSum(p.data());
         }},
        {"header checksum",
         [](Bytes& p) {
             p[30] ^= 1;
             fixPacketSum(p.data());
         }},
        {"CMM packet checksum", [](Bytes& p) { p[126] ^= 1; }},
        {"stream type",
         [](Bytes& p) {
             put16(p.data(), 14, 0x1111);
             fixHeaderSum(p.data());
             fixPacketSum(p.data());
         }},
        {"packet kind",
         [](Bytes& p) {
             put16(p.data(), 16, FIRST);
             fixHeaderSum(p.data());
             fixPacketSum(p.data());
         }},
        {"CMM word 11",
         [](Bytes& p) {
             put16(p.data(), 22, 32);
             fixHeaderSum(p.data());
             fixPacketSum(p.data());
         }},
        {"packet count",
         [](Bytes& p) {
             put16(p.data(), 24, 2);
             fixHeaderSum(p.data());
             fixPacketSum(p.data());
         }},
        {"unused data word",
         [](Bytes& p) {
             p[32 + 64 + 4] = 9;
             fixPacketSum(p.data());
         }},
        {"without a transfer in progress",
         [](Bytes& p) {
             put16(p.data(), 20, 1);
             fixHeaderSum(p.data());
             fixPacketSum(p.data());
         }},
    };
    for (const Break& b : breaks) {
        Bytes p = cmmPackets(commandBlock(8), host.serial)[0];
        b.apply(p);
        size_t before = VPrinter_ProtocolErrorCount();
        EXPECT_TRUE(host.write(p));  // the device takes the bytes; it judges them
        EXPECT_GT(VPrinter_ProtocolErrorCount(), before) << b.expect;
        EXPECT_TRUE(errorsMention(b.expect)) << b.expect << "\n" << errors();
    }
}

TEST_F(PacketRules, OrderWithinATransferIsChecked) {
    Bytes block = commandBlock(8);
    block.resize(47 * 2 * 3, 0);  // three packets
    std::vector<Bytes> p = cmmPackets(block, host.serial);
    ASSERT_TRUE(host.write(p[0]));
    ASSERT_TRUE(host.write(p[2]));  // skips packet 1
    EXPECT_TRUE(errorsMention("expected index 1 of 3")) << errors();

    std::vector<Bytes> q = cmmPackets(block, host.serial);
    ASSERT_TRUE(host.write(q[0]));
    Bytes other = q[1];
    put16(other.data(), 18, uint16_t(host.serial + 5));
    fixHeaderSum(other.data());
    fixPacketSum(other.data());
    ASSERT_TRUE(host.write(other));
    EXPECT_TRUE(errorsMention("serial changed within a transfer")) << errors();

    // A new transfer while one is unfinished (with no failure in between).
    std::vector<Bytes> r = cmmPackets(block, host.serial);
    ASSERT_TRUE(host.write(r[0]));
    ASSERT_TRUE(host.write(cmmPackets(commandBlock(8), host.serial)[0]));
    EXPECT_TRUE(errorsMention("abandoned at packet 1 of 3")) << errors();
}

TEST_F(PacketRules, DataBatchShapesAreChecked) {
    VPrinterModel m = VPrinter_GetModel();
    m.readTimeoutMs = 100;  // the broken transfers are never answered
    VPrinter_SetModel(m);
    Bytes data = pattern(4065 * 2);  // two packets
    std::vector<Bytes> good = dataWrites(data, uint16_t(host.serial + 1));
    ASSERT_EQ(good.size(), 1u);

    // Each packet in a write of its own instead of one batch.
    Bytes first(good[0].begin(), good[0].begin() + 8192);
    swathWithWrites(uint32_t(data.size()), {first});
    EXPECT_TRUE(errorsMention("short batch before the transfer's end")) << errors();

    // The short last batch carrying the zero tail.
    Bytes padded = dataWrites(data, uint16_t(host.serial + 1))[0];
    padded.resize(padded.size() + 32, 0);
    swathWithWrites(uint32_t(data.size()), {padded});
    EXPECT_TRUE(errorsMention("last DATA batch")) << errors();

    // A full seven-slot write for a two-packet transfer.
    Bytes full = dataWrites(data, uint16_t(host.serial + 1))[0];
    full.resize(57344, 0);
    swathWithWrites(uint32_t(data.size()), {full});
    EXPECT_TRUE(errorsMention("full DATA batch after the transfer's last packet")) << errors();

    // DATA word 11 must be the packet's words minus one.
    Bytes w11 = dataWrites(data, uint16_t(host.serial + 1))[0];
    put16(w11.data(), 22, 4064);
    fixHeaderSum(w11.data());
    swathWithWrites(uint32_t(data.size()), {w11});
    EXPECT_TRUE(errorsMention("DATA word 11 of packet 0")) << errors();

    // The zero tail of a full packet must be zero.
    Bytes tail = dataWrites(data, uint16_t(host.serial + 1))[0];
    tail[32 + 8128 + 5] = 1;
    swathWithWrites(uint32_t(data.size()), {tail});
    EXPECT_TRUE(errorsMention("zero tail not zero")) << errors();
}

TEST_F(PacketRules, DataMustFollowASwathBlockOfTheSameSize) {
    Bytes data = pattern(360);
    ASSERT_TRUE(host.sendData(data));
    EXPECT_TRUE(errorsMention("without a swath block")) << errors();

    Swath s;
    s.size = 720;
    ASSERT_TRUE(host.sendCmm(swathBlock(s)));
    ASSERT_TRUE(host.sendData(data));
    EXPECT_TRUE(errorsMention("DATA of 360 bytes, block announced 720")) << errors();
    Bytes reply;
    ASSERT_TRUE(host.readReply(&reply));  // still answered: the swath is acknowledged

    ASSERT_TRUE(host.sendCmm(swathBlock(s)));
    ASSERT_TRUE(host.sendCmm(commandBlock(8)));
    EXPECT_TRUE(errorsMention("expected its DATA transfer, got a command block")) << errors();
}

TEST_F(PacketRules, IoControlBuffersAreChecked) {
    uint8_t wrongIn[4] = {1, 0, 0, 0};
    Bytes p = cmmPackets(commandBlock(8), host.serial)[0];
    uint32_t ret = 0;
    EXPECT_TRUE(
        UsbDriver_Get()->ioctl(host.h, USB_IOCTL_WRITE_PACKETS, wrongIn, 4, p.data(), 128, &ret));
    EXPECT_TRUE(errorsMention("write I/O control input")) << errors();
    uint8_t readIn[4] = {2, 0, 0, 0};
    uint8_t small[64];
    EXPECT_FALSE(UsbDriver_Get()->ioctl(host.h, USB_IOCTL_READ_PACKET, readIn, 4, small, 64, &ret));
    EXPECT_TRUE(errorsMention("read buffer of 64 bytes")) << errors();
}

TEST_F(PacketRules, OversizedAndMangledInputIsRejectedAndTheBoardGoesOn) {
    Bytes huge(128, 0);
    header(huge.data(), DATA, ONLY, host.serial, 0, 4063, 1, 0xFFFFFFFFu);
    EXPECT_TRUE(host.write(huge));
    EXPECT_TRUE(errorsMention("exceeds the board's buffer")) << errors();

    std::mt19937 random(12345);
    Bytes data = pattern(4065 * 2);
    std::vector<Bytes> sources = {cmmPackets(commandBlock(2), host.serial)[0],
                                  dataWrites(data, host.serial)[0], swathBlock(Swath{})};
    for (int round = 0; round < 400; ++round) {
        Bytes w = sources[size_t(round) % sources.size()];
        int flips = 1 + int(random() % 4);
        for (int i = 0; i < flips; ++i) w[random() % w.size()] = uint8_t(random());
        if (random() % 3 == 0) w.resize(random() % (w.size() + 1));
        if (round % 2 == 0 && w.size() >= 32) fixHeaderSum(w.data());
        if (!w.empty()) host.write(w);
    }
    VPrinterModel m = VPrinter_GetModel();
    m.readTimeoutMs = 20;
    VPrinter_SetModel(m);
    Bytes p;
    while (host.readPacket(&p)) {
    }
    EXPECT_TRUE(host.sendCmm(transactionBlock(64)));
    Bytes reply;
    ASSERT_TRUE(host.readReply(&reply));
    EXPECT_EQ(get16(reply.data(), 0), 64);
}
